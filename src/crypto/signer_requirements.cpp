// The signer's certificate: found with the key (the certificate a card keeps
// with it) or by the hash of the key's public part, and judged by the issuing
// organisation's rules in a fixed order: organisation, validity now, chain,
// revocation.
#include "crypto/signer_context.h"
#include "diagnostics/message_catalogue.h"
#include "pki/certificate_store.h"
#include "platform/last_error.h"

namespace tessal::crypto {

namespace {

constexpr int kNoKeyExportPlace = 8;
constexpr int kExportLengthPlace = 9;
constexpr int kExportPlace = 10;
constexpr int kKeyHashLookupPlace = 11;
constexpr int kNoCertificatePlace = 203;
constexpr int kStoredLengthPlace = 230;

constexpr int kExportMessage = 28;
constexpr int kUserKeyMessage = 34;
constexpr int kNoCertificateMessage = 35;
constexpr int kCertificateMissingMessage = 71;

}  // namespace

bool SignerContext::certificateFromKey() {
    if (!userKey_) return false;
    if (!checkCardPresent()) return false;
    // Keys in an HSM never carry their certificate here.
    if (isHsm()) return false;
    const std::optional<platform::ByteBlock> der = userKey_->storedCertificate();
    if (!der || der->empty()) {
        if (platform::lastError() == 0) platform::setLastError(platform::kNteBadKey);
        diag::recordError(error(), kStoredLengthPlace, kUserKeyMessage, {diag::kCategoryCrypto});
        return false;
    }
    if (!certificates.subject.fromDer(der->data(), der->size())) {
        error().merge(certificates.subject.error());
        return false;
    }
    return true;
}

bool SignerContext::certificateByKeyHash() {
    if (!userKey_) {
        platform::setLastError(platform::kNteNoKey);
        diag::recordError(error(), kNoKeyExportPlace, kExportMessage, {diag::kCategoryCrypto});
        return false;
    }
    const std::optional<platform::ByteBlock> blob = userKey_->publicKeyBlob();
    if (!blob || blob->empty()) {
        diag::recordError(error(), blob ? kExportLengthPlace : kExportPlace, kExportMessage, {diag::kCategoryCrypto});
        return false;
    }
    std::string keyHash;
    digestHex(blob->data(), blob->size(), keyHash, CALG_SHA1);
    if (!pki::findCertificate(certificates.subject, *certificates.certificateClient, pki::CertByKeyHash, keyHash)) {
        error().merge(certificates.subject.error());
        diag::recordErrorCode(error(), 0, kKeyHashLookupPlace, kCertificateMissingMessage, {keyHash});
        return false;
    }
    return true;
}

bool SignerContext::meetsSystemRequirements() {
    if (!certificateFromKey() && !certificateByKeyHash()) {
        diag::recordErrorCode(error(), 0, kNoCertificatePlace, kNoCertificateMessage);
        return false;
    }
    // A failure of the first source stays readable in the text; its codes go.
    error().lastError = 0;
    error().code = 0;

    // Both tests run even when the first fails, so a refusal names every reason.
    certs::CertificateRecord& subject = certificates.subject;
    const bool fromOrganisation = subject.checkOrganisation();
    const bool validNow = subject.checkValidity();
    if (!fromOrganisation || !validNow) {
        error().merge(subject.error());
        return false;
    }
    return certificates.verifyChain() && certificates.checkRevocation();
}

}  // namespace tessal::crypto
