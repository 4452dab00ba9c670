// The revocation check: the CRL of the subject's issuer must be current at
// the time in question and must not list the subject. A listed certificate
// counts as revoked whatever the revocation date; the time only decides
// whether the CRL itself is current. A CRL decides only for certificates of
// its own issuer: one that another authority issued, or that the issuer's key
// does not verify, is set aside, and without the issuer's CRL the check fails.
#include <optional>

#include "pki/certificate_store.h"
#include "pki/crl_store.h"
#include "pki/query_kind.h"
#include "pki/store_lock.h"
#include "trust/certificate_context.h"

namespace tessal::trust {

namespace {

constexpr int kRevokedPlace = 44;
constexpr int kNoIssuerCrlPlace = 47;
constexpr int kRevokedMessage = 12;
constexpr int kCrlUrlPlace = 507;
constexpr int kCrlMissingMessage = 69;

bool issued(const certs::CertificateRecord& candidate, const certs::CertificateRecord& subject) {
    return candidate.hasCertificate() && candidate.subject().str() == subject.issuer().str() &&
           subject.certificate().signedBy(candidate.certificate());
}

// The certificate whose key signed the subject: from the chain when it holds
// it, otherwise the one the stores know by the subject's issuer name.
std::optional<certs::CertificateRecord> issuerOf(CertificateContext& context) {
    for (const certs::CertificateRecord& element : context.chain) {
        if (issued(element, context.subject)) return element;
    }
    certs::CertificateRecord found;
    if (pki::findCertificate(found, *context.certificateClient, pki::CertBySubject, context.subject.issuer().str()) &&
        issued(found, context.subject)) {
        return found;
    }
    return std::nullopt;
}

// True when the held CRL is the subject's issuer's. Otherwise the CRL is
// dropped, so neither this check nor the summary reads it as the issuer's,
// and place 47 says that no CRL of the issuer was had.
bool holdsIssuerCrl(CertificateContext& context) {
    if (context.revocationList.hasCrl()) {
        const std::optional<certs::CertificateRecord> issuer = issuerOf(context);
        if (issuer && context.revocationList.crl().issuedFor(context.subject.certificate(), issuer->certificate())) {
            return true;
        }
    }
    context.revocationList = certs::CrlRecord();
    diag::recordErrorCode(context.revocationList.error(), 0, kNoIssuerCrlPlace, kCrlMissingMessage);
    diag::recordErrorCode(context.error, 0, kNoIssuerCrlPlace, kCrlMissingMessage);
    return false;
}

}  // namespace

bool CertificateContext::fetchIssuerCrl() {
    if (pki::certificateChecksOff()) return true;
    if (!pki::findCrl(*crlClient, revocationList, pki::CrlByName, subject.issuerCommonName().str())) {
        error.merge(revocationList.error());
        return false;
    }
    // The list found under the issuer's common name may still be another
    // authority's (names are not unique, and short ones are positions).
    return !subject.hasCertificate() || holdsIssuerCrl(*this);
}

bool CertificateContext::checkRevocation(Moment at) {
    if (pki::certificateChecksOff()) return true;
    if (!subject.hasCertificate()) {
        error.merge(subject.error());
        return false;
    }
    // A check at the current time always asks for the issuer's CRL afresh;
    // a check at a given time keeps a CRL already held (one a signature named).
    if (!at || !revocationList.hasCrl()) {
        if (!fetchIssuerCrl()) return false;  // the fetch has recorded why
    } else if (!holdsIssuerCrl(*this)) {
        return false;
    }
    if (!revocationList.checkCrlValidity(at)) {
        error.merge(revocationList.error());
        return false;
    }
    if (revocationList.lists(subject.certificate().serial())) {
        // The CRL's own record says so too: the summary reads it there.
        diag::recordErrorCode(revocationList.error(), 0, kRevokedPlace, kRevokedMessage);
        diag::recordErrorCode(error, 0, kRevokedPlace, kRevokedMessage);
        return false;
    }
    return true;
}

bool CertificateContext::fetchCrlFromUrl(std::string_view url) {
    if (!pki::findCrlByUrl(url, revocationList, *crlClient)) {
        error.merge(revocationList.error());
        diag::recordErrorCode(error, 0, kCrlUrlPlace, kCrlMissingMessage);
        return false;
    }
    return true;
}

}  // namespace tessal::trust
