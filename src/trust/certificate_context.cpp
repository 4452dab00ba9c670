#include "trust/certificate_context.h"

#include "pki/certificate_store.h"

namespace tessal::trust {

CertificateContext::CertificateContext()
    : CertificateContext(pki::openCertificateSource(), std::make_unique<pki::PkiClient>()) {}

CertificateContext::CertificateContext(std::unique_ptr<pki::PkiSource> certificates, std::unique_ptr<pki::PkiSource> crls)
    : certificateClient(std::move(certificates)), crlClient(std::move(crls)) {}

CertificateContext::CertificateContext(const CertificateContext& other)
    : error(other.error),
      certificateClient(pki::openCertificateSource()),
      crlClient(std::make_unique<pki::PkiClient>()),
      subject(other.subject),
      chain(other.chain),
      revocationList(other.revocationList) {}

CertificateContext& CertificateContext::operator=(const CertificateContext& other) {
    if (this == &other) return *this;
    error = other.error;
    subject = other.subject;
    chain = other.chain;
    revocationList = other.revocationList;
    return *this;
}

CertificateContext::~CertificateContext() = default;

}  // namespace tessal::trust
