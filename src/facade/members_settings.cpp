// Members that set the object's key container and PKI domains, and write to
// the logs.
#include "diagnostics/ansi_text.h"
#include "diagnostics/event_report.h"
#include "diagnostics/log_file.h"
#include "diagnostics/utf8_text.h"
#include "facade/environment_check.h"
#include "facade/key_environment.h"
#include "facade/member_guard.h"
#include "pki/domain_list.h"
#include "platform/last_error.h"
#include "tessal/sign.h"

namespace tessal {

using facade::reportFailure;

HResult Sign::writeLog(std::u16string_view path, std::u16string_view text) {
    auto& s = *state_;
    return facade::guardMember(s, [&] {
        // Inside a browser a page may write files only once it has been
        // allowed; outside a browser the check always allows.
        if (s.browserMode && !facade::checkEnvironment(s)) return reportFailure(s, facade::kEnvironmentRefused);
        if (path.empty()) return reportFailure(s, u"Neperduotas bylos pavadinimas");
        if (text.empty()) return reportFailure(s, u"Bandymas išsaugoti tuščią dokumentą");
        std::string line = diag::utf8Encode(text);
        if (line.empty() || (line.back() != '\r' && line.back() != '\n')) line += "\r\n";
        if (!diag::writeText(diag::toAnsiName(path), line)) {
            return reportFailure(s, u"Klaida išsaugant bylą \"%s\" (%d)", {path, platform::lastError()});
        }
        return hr::S_OK;
    });
}

HResult Sign::writeEventLog(std::u16string_view text, std::uint32_t severity) {
    auto& s = *state_;
    return facade::gatedMember(s, [&] {
        diag::reportEvent(text, severity);
        return hr::S_OK;
    });
}

HResult Sign::putKeyContainer(std::u16string_view name) {
    auto& s = *state_;
    return facade::gatedMember(s, [&] {
        if (name.empty()) {
            if (!s.keyContainerName.empty()) {
                s.keyContainerName.clear();
                facade::traceObject(s, u"Panaikintas kriptografinių raktų konteinerio pavadinimas");
                facade::resetKeyEnvironment(s);
            }
            return hr::S_OK;
        }
        std::string narrow = diag::toAnsi(name);
        if (narrow != s.keyContainerName) {
            s.keyContainerName = std::move(narrow);
            facade::traceObject(s, u"Įvestas naujas kriptografinių raktų konteinerio pavadinimas : %S",
                                {s.keyContainerName});
            facade::resetKeyEnvironment(s);
        }
        return hr::S_OK;
    });
}

HResult Sign::putPkiDomain(std::u16string_view domains) {
    auto& s = *state_;
    return facade::gatedMember(s, [&] {
        if (s.browserMode) {
            return reportFailure(s,
                                 u"Naršyklės aplinkoje viešojo rakto infrastruktūros elementai išrenkami einamajame "
                                 u"domene. Kitų domenų nustatymas neleistinas.");
        }
        pki::setDomains(diag::toAnsi(domains));
        return hr::S_OK;
    });
}

}  // namespace tessal
