// What the web-service client does when a server demands a client
// certificate: it presents the selected signer's certificate with the key
// in its token, or, when there is none or the server will not have it,
// asks the organisation's public host for the same path over plain http.
#include <mutex>

#include "build_settings.h"
#include "diagnostics/ansi_text.h"
#include "diagnostics/log_file.h"
#include "pki/client_identity.h"
#include "pki/pki_client.h"
#include "platform/config.h"
#include "platform/http_transport.h"
#include "platform/last_error.h"

namespace tessal::pki {

namespace {

// Sends after the one that met the demand, without delay.
constexpr int kAuthenticatedSends = 12;

std::mutex fallbackLock;
std::optional<std::string> fallbackOverride;

}  // namespace

std::string fallbackHost() {
    {
        std::lock_guard<std::mutex> guard(fallbackLock);
        if (fallbackOverride) return *fallbackOverride;
    }
    std::optional<std::string> configured = platform::configValue(platform::kPlatformSection, "publicHost");
    if (configured && !configured->empty()) return std::move(*configured);
    return TESSAL_PUBLIC_PKI_HOST;
}

std::string fallbackBaseUrl() { return "http://" + fallbackHost(); }

void setFallbackHostForTesting(std::optional<std::string> host) {
    std::lock_guard<std::mutex> guard(fallbackLock);
    fallbackOverride = std::move(host);
}

std::optional<bool> PkiClient::answerCertificateDemand(std::string_view url, platform::ResponseReader& reader,
                                                       platform::SendOutcome& outcome) {
    diag::traceGlobal(u"Reikalaujama autentifikuota HTTPS sesija");
    const std::string host = fallbackHost();
    ClientIdentity* identity = currentClientIdentity();
    if (!identity) {
        diag::traceGlobal(u"Nerastas sertifikatas autentifikuotai HTTPS sesijai. Bandoma jungtis per %s",
                          {diag::fromAnsi(host)});
        return fetchFromPublicHost(url, host);
    }

    diag::traceGlobal(u"Bandoma autentifikuotis sertifikatu %s", {identity->subjectText().utf16()});
    // A failed binding does not stop here: presenting the certificate below then fails.
    if (!identity->clientKeyBound()) {
        diag::traceGlobal(u"Papildomas sertifikato kontekstas (CERT_KEY_PROV_HANDLE_PROP_ID)");
        if (!identity->bindClientKey()) {
            diag::traceGlobal(u"Klaida CERT_KEY_PROV_HANDLE_PROP_ID - %d", {platform::lastError()});
        }
    }

    if (!request_->presentCredential(
            {identity->certificateDer(), identity->issuerCertificates(), identity->clientKey()})) {
        diag::traceGlobal(u"Klaida registruojant HTTPS sertifikatą - %d", {platform::lastError()});
        return fetchFromPublicHost(url, host);
    }
    for (int send = 0; send < kAuthenticatedSends; ++send) {
        outcome = request_->send(reader);
        if (outcome != platform::SendOutcome::NotSent) return std::nullopt;
    }
    diag::traceGlobal(u"Nesėkminga autentifikuota HTTPS sesija - %d", {platform::lastError()});
    return fetchFromPublicHost(url, host);
}

bool PkiClient::fetchFromPublicHost(std::string_view url, const std::string& host) {
    // The public host may itself redirect to a server that demands a
    // certificate; that ends there instead of starting the same detour again.
    answeringDemand_ = true;
    const bool answered = fetch(url, "http://" + host);
    answeringDemand_ = false;
    return answered;
}

}  // namespace tessal::pki
