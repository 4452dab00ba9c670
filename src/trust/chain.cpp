// Chain verification: the subject's issuers, found by subject name in the
// certificate stores (which are the trust anchor), each valid at the time in
// question and each signed by the next, ending with a self-signed root.
#include <algorithm>

#include "pki/certificate_store.h"
#include "pki/query_kind.h"
#include "pki/store_lock.h"
#include "trust/certificate_context.h"

namespace tessal::trust {

namespace {

constexpr int kElementExpiredPlace = 40;
constexpr int kRootSignaturePlace = 41;
constexpr int kNoRootPlace = 42;
constexpr int kElementSignaturePlace = 43;
constexpr int kIssuerMissingPlace = 45;
constexpr int kFurtherIssuerMissingPlace = 46;
constexpr int kChainUrlPlace = 508;

constexpr int kElementExpiredMessage = 14;
constexpr int kElementSignatureMessage = 17;
constexpr int kNoRootMessage = 20;
constexpr int kCertificateMissingMessage = 71;
constexpr int kElementMissingMessage = 72;

}  // namespace

bool CertificateContext::verifyChain(Moment at) {
    if (pki::certificateChecksOff()) return true;
    if (!subject.hasCertificate() || !subject.checkValidity(at)) {
        error.merge(subject.error());
        return false;
    }
    if (chain.empty() && !buildChain()) return false;
    if (!subjectSignedByNearestIssuer()) return false;

    for (std::size_t i = 0; i < chain.size(); ++i) {
        const certs::CertificateRecord& element = chain[i];
        // The copy keeps the stored element's record clean; only the chain
        // message reaches the context.
        certs::CertificateRecord probe(element);
        if (!probe.checkValidity(at)) {
            diag::recordErrorCode(error, 0, kElementExpiredPlace, kElementExpiredMessage, {element.subject().str()});
            return false;
        }
        if (element.selfSigned()) {
            if (!element.certificate().signedBy(element.certificate())) {
                diag::recordErrorCode(error, 0, kRootSignaturePlace, kElementSignatureMessage, {element.subject().str()});
                return false;
            }
            continue;
        }
        if (i + 1 == chain.size()) {
            diag::recordErrorCode(error, 0, kNoRootPlace, kNoRootMessage);
            return false;
        }
        if (!element.certificate().signedBy(chain[i + 1].certificate())) {
            diag::recordErrorCode(error, 0, kElementSignaturePlace, kElementSignatureMessage, {element.subject().str()});
            return false;
        }
    }
    return true;
}

// The subject must itself be signed by the first element of its chain;
// otherwise any certificate that merely names a trusted issuer would pass.
// A chain that signatures filled by URL may lack the subject's own issuer:
// it is then taken from the stores by name and put first.
bool CertificateContext::subjectSignedByNearestIssuer() {
    const auto signs = [this](const certs::CertificateRecord& issuer) {
        return issuer.hasCertificate() && subject.certificate().signedBy(issuer.certificate());
    };
    if (signs(chain.front())) return true;
    if (chain.front().subject().str() != subject.issuer().str()) {
        certs::CertificateRecord issuer;
        if (pki::findCertificate(issuer, *certificateClient, pki::CertBySubject, subject.issuer().str()) &&
            signs(issuer)) {
            chain.insert(chain.begin(), std::move(issuer));
            return true;
        }
    }
    diag::recordErrorCode(error, 0, kElementSignaturePlace, kElementSignatureMessage, {subject.subject().str()});
    return false;
}

bool CertificateContext::buildChain() {
    chain.clear();
    certs::CertificateRecord working;
    std::string issuer = subject.issuer().str();
    if (!pki::findCertificate(working, *certificateClient, pki::CertBySubject, issuer)) {
        diag::recordErrorCode(error, 0, kIssuerMissingPlace, kElementMissingMessage, {issuer});
        return false;
    }
    for (;;) {
        chain.push_back(working);
        if (working.selfSigned()) return true;
        issuer = working.issuer().str();
        // Issuer names that cycle without a self-signed member end here.
        if (chain.size() >= kMaxChainLength) {
            diag::recordErrorCode(error, 0, kFurtherIssuerMissingPlace, kElementMissingMessage, {issuer});
            return false;
        }
        working = certs::CertificateRecord();
        if (!pki::findCertificate(working, *certificateClient, pki::CertBySubject, issuer)) {
            diag::recordErrorCode(error, 0, kFurtherIssuerMissingPlace, kElementMissingMessage, {issuer});
            return false;
        }
    }
}

bool CertificateContext::addChainCertificateFromUrl(std::string_view url) {
    certs::CertificateRecord fetched;
    if (!pki::findCertificateByUrl(url, fetched, *certificateClient)) {
        error.merge(fetched.error());
        diag::recordErrorCode(error, 0, kChainUrlPlace, kCertificateMissingMessage, {url});
        return false;
    }
    if (fetched.selfSigned()) {
        chain.push_back(std::move(fetched));
        return true;
    }
    const auto issuer = std::find_if(chain.begin(), chain.end(), [&](const certs::CertificateRecord& element) {
        return element.subject().str() == fetched.issuer().str();
    });
    chain.insert(issuer, std::move(fetched));
    return true;
}

}  // namespace tessal::trust
