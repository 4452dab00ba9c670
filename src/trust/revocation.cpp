// The revocation check: the CRL of the subject's issuer must be current at
// the time in question and must not list the subject. A listed certificate
// counts as revoked whatever the revocation date; the time only decides
// whether the CRL itself is current.
#include "pki/crl_store.h"
#include "pki/query_kind.h"
#include "pki/store_lock.h"
#include "trust/certificate_context.h"

namespace tessal::trust {

namespace {

constexpr int kRevokedPlace = 44;
constexpr int kRevokedMessage = 12;
constexpr int kCrlUrlPlace = 507;
constexpr int kCrlMissingMessage = 69;

}  // namespace

bool CertificateContext::fetchIssuerCrl() {
    if (pki::certificateChecksOff()) return true;
    if (!pki::findCrl(*crlClient, revocationList, pki::CrlByName, subject.issuerCommonName().str())) {
        error.merge(revocationList.error());
        return false;
    }
    return true;
}

bool CertificateContext::checkRevocation(Moment at) {
    if (pki::certificateChecksOff()) return true;
    if (!subject.hasCertificate()) {
        error.merge(subject.error());
        return false;
    }
    // A check at the current time always asks for the issuer's CRL afresh;
    // a check at a given time keeps a CRL already held (one a signature named).
    if ((!at || !revocationList.hasCrl()) && !fetchIssuerCrl() && !revocationList.hasCrl()) {
        return false;  // the fetch has merged its reason
    }
    if (!revocationList.hasCrl() || !revocationList.checkCrlValidity(at)) {
        error.merge(revocationList.error());
        return false;
    }
    if (revocationList.lists(subject.certificate().serial())) {
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
