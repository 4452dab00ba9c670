// The member whose work belongs to the smart-card subsystem: it passes the
// guard and the gate, then answers E_NOTIMPL with an honest description until
// the card monitor exists.
#include "facade/member_guard.h"
#include "tessal/sign.h"

namespace tessal {

namespace {
constexpr std::u16string_view kNotImplemented = u"not implemented yet";
HResult notImplemented() { return facade::reportUntraced(kNotImplemented, hr::E_NOTIMPL); }
}  // namespace

HResult Sign::putOnCardRemoved(std::shared_ptr<Dispatch>) { return facade::gatedMember(*state_, notImplemented); }

}  // namespace tessal
