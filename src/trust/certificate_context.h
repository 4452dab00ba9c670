#pragma once
// The certificate working set: the certificate under scrutiny, its issuer
// chain, the CRL of its issuer and the two web-service clients that fetch
// them, with the chain and revocation checks made on it. Every failure is an
// entry in the context's error record and a false result.
#include <cstddef>
#include <memory>
#include <string_view>
#include <vector>

#include "certs/certificate_record.h"
#include "certs/crl_record.h"
#include "diagnostics/error_record.h"
#include "pki/pki_client.h"

namespace tessal::trust {

using certs::Moment;

// The longest issuer chain buildChain follows; issuer names that form a
// cycle without a self-signed member end there.
inline constexpr std::size_t kMaxChainLength = 16;

class CertificateContext {
public:
    // Clients opened on the certificate web service (the first context of a
    // process loads the disk cache).
    CertificateContext();
    // Clients given by the caller, for hosts and tests that bring their own.
    CertificateContext(std::unique_ptr<pki::PkiSource> certificateClient, std::unique_ptr<pki::PkiSource> crlClient);
    // A copy takes the record, subject, chain and CRL; it opens its own clients.
    CertificateContext(const CertificateContext& other);
    CertificateContext& operator=(const CertificateContext& other);
    ~CertificateContext();

    // Revocation (the CRL of the subject's issuer).
    bool fetchIssuerCrl();
    bool checkRevocation(Moment at = std::nullopt);
    bool fetchCrlFromUrl(std::string_view url);

    // Chain (the subject's issuers up to a self-signed root).
    bool verifyChain(Moment at = std::nullopt);
    bool buildChain();
    bool addChainCertificateFromUrl(std::string_view url);

    bool holdsError() const { return error.lastError != 0 || error.code != 0; }

    diag::ErrorRecord error;
    std::unique_ptr<pki::PkiSource> certificateClient;
    std::unique_ptr<pki::PkiSource> crlClient;
    certs::CertificateRecord subject;
    std::vector<certs::CertificateRecord> chain;  // nearest issuer first
    certs::CrlRecord revocationList;

private:
    bool subjectSignedByNearestIssuer();
};

}  // namespace tessal::trust
