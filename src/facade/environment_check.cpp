#include "facade/environment_check.h"

#include <cctype>

#include "diagnostics/ansi_text.h"
#include "diagnostics/log_file.h"
#include "facade/approved_sites.h"
#include "facade/page_address.h"
#include "pki/domain_list.h"
#include "pki/store_lock.h"
#include "platform/config.h"
#include "platform/last_error.h"

namespace tessal::facade {

namespace {

constexpr std::uint32_t kInvalidUrl = 12005;

// The page's parts, provided the PKI domain list would store its host as the
// very text the approved sites are matched against.
std::optional<PageAddressParts> pageParts(std::u16string_view address) {
    std::optional<PageAddressParts> parts = splitPageAddress(address);
    if (!parts) return std::nullopt;
    const std::string host = diag::toAnsi(parts->host);
    if (diag::fromAnsi(host) != parts->host ||
        pki::normaliseDomain(host, diag::toAnsi(parts->scheme), parts->port).host != host) {
        platform::setLastError(kInvalidUrl);
        return std::nullopt;
    }
    return parts;
}

// `[platform] requireHttps = yes` serves approved sites only over https: a
// page fetched over plain http can be altered in transit, and that page
// drives the signer's key.
bool httpsRequired() {
    const std::optional<std::string> value = platform::configValue(platform::kPlatformSection, "requireHttps");
    if (!value) return false;
    std::string word;
    for (char c : *value) word.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    return word == "yes" || word == "true" || word == "on" || word == "1";
}

}  // namespace

bool checkEnvironment(SignState& state) {
    if (state.environmentAllowed) return true;
    if (state.environmentTested) return false;
    state.browserMode = false;
    diag::traceGlobal(
        u"Tessal objektas kuriamas nestandartinės naršyklės aplinkoje (neiškviesta IObjectSafety sąsaja). "
        u"Aplinka tikrinama apeinant IObjectSafety sąsają.");
    return runEnvironmentCheck(state);
}

bool runEnvironmentCheck(SignState& state) {
    state.environmentTested = true;
    diag::traceGlobal(u"Išrenkamas naršyklės interneto adresas");

    const std::optional<PageLocation> page = state.site ? state.site->page() : std::nullopt;
    if (!page) {
        diag::traceGlobal(
            u"Komponentė veikia ne interneto naršyklės aplinkoje. Viešojo rakto infrastruktūros objektai bus "
            u"pasiekiami konfigūravimo parametruose nurodytais adresais");
        pki::loadDefaultDomains();
        pki::disableCertificateChecks();
        state.environmentAllowed = true;
        return true;
    }

    const std::optional<PageAddressParts> parts = pageParts(page->address);
    if (!parts) {
        diag::traceGlobalWithOsError(u"Klaida nustatant srities vardą iš interneto adreso \"%s\"", {page->address});
        state.environmentAllowed = false;
        return false;
    }
    state.pageScheme = parts->scheme;
    state.pageHost = parts->host;
    state.pagePort = parts->port;
    diag::traceGlobal(u"Naršyklės grąžintas interneto srities vardas: \"%s\"; schema: \"%s\"",
                      {state.pageHost, state.pageScheme});
    state.environmentAllowed = siteApproved(approvedSites(), state.pageScheme, state.pageHost, page->zone);
    if (state.environmentAllowed && state.pageScheme != u"https" && httpsRequired()) state.environmentAllowed = false;
    // The domain list is shared by every object of the process: a refused
    // page's host must never become a place certificates are fetched from.
    if (state.environmentAllowed) {
        pki::setBrowserDomain(diag::toAnsi(state.pageHost), diag::toAnsi(state.pageScheme), state.pagePort);
    }
    return state.environmentAllowed;
}

}  // namespace tessal::facade
