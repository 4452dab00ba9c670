// Members whose work belongs to the signing and smart-card subsystems. Each passes the guard and, where it has one, the gate, and then
// answers E_NOTIMPL with an honest description until its subsystem exists.
#include "diagnostics/ansi_text.h"
#include "facade/member_guard.h"
#include "tessal/sign.h"

namespace tessal {

namespace {
constexpr std::u16string_view kNotImplemented = u"not implemented yet";
HResult notImplemented() { return facade::reportUntraced(kNotImplemented, hr::E_NOTIMPL); }
}  // namespace

HResult Sign::signXml(Variant*, std::int32_t, std::u16string_view logFile, Variant&) {
    auto& s = *state_;
    return facade::gatedMember(s, [&] {
        // Every call sets or clears the per-object log.
        s.objectLogPath = diag::toAnsi(logFile);
        return notImplemented();
    });
}

HResult Sign::putOnCardRemoved(std::shared_ptr<Dispatch>) { return facade::gatedMember(*state_, notImplemented); }

}  // namespace tessal
