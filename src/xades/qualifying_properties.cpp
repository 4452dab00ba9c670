#include "xades/qualifying_properties.h"

#include <string>
#include <vector>

#include "certs/certificate_record.h"
#include "data/codecs.h"
#include "pki/request_url.h"
#include "xades/covered_elements.h"
#include "xades/time_stamp_check.h"
#include "xades/xades_texts.h"

namespace tessal::xml {

namespace {

constexpr int kMalformedMessage = 81;
constexpr int kMissingPartMessage = 53;
constexpr int kNoSignerCertificateMessage = 54;
constexpr int kSignerCertificateCheckMessage = 55;
constexpr int kExternalMessage = 92;

void record(VerificationJob& job, int place, int message, diag::FormatArgs args = {}) {
    diag::recordErrorCode(job.error(), 0, place, message, args);
}

// The remembered children of Object; the last of each kind counts.
struct ObjectParts {
    xmlNodePtr qualifyingProperties = nullptr;
    xmlNodePtr crlReference = nullptr;
};

// Walks Object, importing the certificates its references name. False when the step stops.
bool walkObject(VerificationJob& job, xmlNodePtr object, ObjectParts& parts) {
    for (xmlNodePtr child = object->children; child; child = child->next) {
        if (isIgnorable(child)) continue;
        if (child->type != XML_ELEMENT_NODE) {
            record(job, 470, kMalformedMessage);
            return false;
        }
        if (nameIs(child, "QualifyingPropertiesReference")) {
            const std::optional<std::string> uri = attributeText(child, "URI");
            if (!uri) {
                record(job, 471, kMalformedMessage);
                return false;
            }
            switch (externalKindOf(*uri)) {
                case ExternalKind::Certificate:
                    if (!job.verifier.importPublicKeyFromUrl(*uri)) {
                        job.error().merge(job.verifier.error());
                        return false;
                    }
                    break;
                case ExternalKind::Trust:
                    if (!job.verifier.addChainCertificateFromUrl(*uri)) {
                        job.error().merge(job.verifier.error());
                        return false;
                    }
                    break;
                case ExternalKind::Crl: parts.crlReference = child; break;
                case ExternalKind::Other:
                    record(job, 471, kExternalMessage, {kExternalPropertiesText});
                    return false;
            }
        } else if (nameIs(child, "QualifyingProperties")) {
            parts.qualifyingProperties = child;
        } else {
            record(job, 472, kMalformedMessage);
            return false;
        }
    }
    return true;
}

// The upper-case hexadecimal of a Base64 text; "" when it does not decode.
std::string hexOfBase64(std::string_view base64) {
    data::Bytes bytes;
    std::string hex;
    if (!data::base64Decode(base64, bytes) || bytes.empty() || !data::hexEncode(bytes, hex)) return {};
    return hex;
}

// The signer's certificate is in the verifier's working set and matches the
// signed digest and the KeyInfo certificate. False when the step stops.
bool checkSignerCertificate(VerificationJob& job, const certs::CertificateRecord& keyInfoCertificate,
                            const std::string& digestText) {
    crypto::VerifierContext& verifier = job.verifier;
    if (!verifier.certificates.subject.hasCertificate()) {
        bool failed = verifier.holdsError();
        if (!failed) {
            const std::string key =
                keyInfoCertificate.hasCertificate() ? keyInfoCertificate.idBase64().str() : digestText;
            failed = !verifier.importPublicKeyFromUrl(std::string(pki::kTemplateUrl) + "cert/?" + key);
        }
        if (failed) job.error().merge(verifier.error());
        if (!verifier.certificates.subject.hasCertificate()) {
            record(job, 470, kNoSignerCertificateMessage);
            return false;
        }
    }
    const certs::CertificateRecord& signer = verifier.certificates.subject;
    const std::string hex = hexOfBase64(digestText);
    if (hex.empty()) {
        record(job, 473, kNoSignerCertificateMessage);
        return false;
    }
    if (hex != signer.id().str() && hex != signer.sha256Id().str() && hex != signer.sha384Id().str() &&
        hex != signer.sha512Id().str()) {
        record(job, 472, kNoSignerCertificateMessage);
        return false;
    }
    if (keyInfoCertificate.hasCertificate() &&
        (keyInfoCertificate.idBase64().empty() || keyInfoCertificate.issuer().empty() ||
         keyInfoCertificate.idBase64() != signer.idBase64() || keyInfoCertificate.issuer() != signer.issuer())) {
        record(job, 471, kNoSignerCertificateMessage);
        return false;
    }
    certs::CertificateRecord& subject = verifier.certificates.subject;
    if (!subject.checkOrganisation()) {
        job.error().merge(subject.error());
        record(job, 471, kSignerCertificateCheckMessage);
        return false;
    }
    return true;
}

// The time-stamp elements of the unsigned properties. False when the step stops.
bool collectTimeStamps(VerificationJob& job, xmlNodePtr unsignedProperties, xmlNodePtr& signatureTimeStamp,
                       std::vector<xmlNodePtr>& archiveTimeStamps) {
    xmlNodePtr signatureProperties = nullptr;
    for (xmlNodePtr child = unsignedProperties->children; child; child = child->next) {
        if (isIgnorable(child)) continue;
        if (child->type != XML_ELEMENT_NODE) {
            record(job, 473, kMalformedMessage);
            return false;
        }
        if (nameIs(child, "UnsignedSignatureProperties")) {
            signatureProperties = child;
            break;
        }
    }
    if (!signatureProperties) return true;
    for (xmlNodePtr child = signatureProperties->children; child; child = child->next) {
        if (isIgnorable(child)) continue;
        if (child->type != XML_ELEMENT_NODE) {
            record(job, 474, kMalformedMessage);
            return false;
        }
        if (nameIs(child, "SignatureTimeStamp")) {
            job.setSignatureTimeStamp(1);
            signatureTimeStamp = child;
        } else if (nameIs(child, "ArchiveTimeStamp")) {
            archiveTimeStamps.push_back(child);
        }
    }
    return true;
}

}  // namespace

bool checkQualifyingProperties(xmlNodePtr keyInfo, VerificationJob& job, xmlNodePtr object, CoveredParts covered) {
    // The KeyInfo certificate's own decoding failures stay out of the job.
    const certs::CertificateRecord keyInfoCertificate = certs::CertificateRecord::fromKeyInfo(keyInfo);

    ObjectParts parts;
    if (!walkObject(job, object, parts)) return false;
    if (!parts.qualifyingProperties) {
        record(job, 470, kMissingPartMessage, {kConformanceText});
        return false;
    }

    xmlNodePtr lastSignedProperties = nullptr;
    xmlNodePtr signedProperties = nullptr;
    xmlNodePtr unsignedProperties = nullptr;
    for (xmlNodePtr child = parts.qualifyingProperties->children; child; child = child->next) {
        if (isIgnorable(child)) continue;
        if (child->type != XML_ELEMENT_NODE) {
            record(job, 475, kMalformedMessage);
            return false;
        }
        if (nameIs(child, "SignedProperties")) {
            lastSignedProperties = child;
            if (child == covered.signedProperties) signedProperties = child;
        }
        if (nameIs(child, "UnsignedProperties")) unsignedProperties = child;
    }
    if (!lastSignedProperties) {
        record(job, 471, kMissingPartMessage, {kConformanceText});
        return false;
    }
    if (!attributeText(lastSignedProperties, "Id")) {
        record(job, 476, kMalformedMessage);
        return false;
    }
    // A SignedProperties that no Reference covers (a copy placed beside the
    // real one, or the real one with a copy elsewhere taking its Id) is not
    // read: its SigningCertificate would name a certificate nobody signed.
    if (!signedProperties) {
        record(job, 477, kMissingPartMessage, {kConformanceText});
        return false;
    }
    xmlNodePtr signingCertificate = elementByName(signedProperties, "SigningCertificate");
    xmlNodePtr digestValue = signingCertificate ? elementByName(signingCertificate, "DigestValue") : nullptr;
    const std::optional<std::string> digestText = digestValue ? firstChildText(digestValue) : std::nullopt;
    if (!digestText) {
        record(job, 472, kMissingPartMessage, {kConformanceText});
        return false;
    }
    if (!checkSignerCertificate(job, keyInfoCertificate, *digestText)) return false;

    xmlNodePtr signatureTimeStamp = nullptr;
    std::vector<xmlNodePtr> archiveTimeStamps;
    if (unsignedProperties && !collectTimeStamps(job, unsignedProperties, signatureTimeStamp, archiveTimeStamps)) {
        return false;
    }

    bool ok = true;
    std::optional<crypto::FileTime> earlier;
    for (xmlNodePtr element : archiveTimeStamps) {
        crypto::TimeStampContext context;
        if (checkTimeStamp(job, element, context, earlier)) {
            job.archiveTimeStampContexts.push_back(context);
            // The next stamp's authority is judged at this stamp's time, and
            // without its revocation, only when this stamp is over this
            // signature: a genuine token over other data, added to the
            // unsigned properties by anyone, vouches for nothing here.
            if (timeStampCovers(job, element, covered.signatureValue)) {
                earlier = job.archiveTimeStampContexts.back().generationTime;
            }
        } else {
            ok = false;
        }
    }
    if (signatureTimeStamp) {
        if (!checkTimeStamp(job, signatureTimeStamp, job.signatureTimeStampContext, earlier)) {
            ok = false;
        } else if (!timeStampCovers(job, signatureTimeStamp, covered.signatureValue)) {
            // A genuine token over some other data (another signature's
            // value, say) proves nothing about when this signature existed.
            record(job, 466, kMalformedMessage);
            job.signatureTimeStampContext.generationTime.reset();
            ok = false;
        }
    }

    crypto::VerifierContext& verifier = job.verifier;
    const std::optional<crypto::FileTime> proven = job.signatureTimeStampContext.generationTime;
    if (proven) {
        bool fetched = true;
        if (parts.crlReference) {
            const std::optional<std::string> uri = attributeText(parts.crlReference, "URI");
            if (!uri) {
                record(job, 475, kMalformedMessage);
                fetched = false;
            } else {
                fetched = verifier.fetchCrlFromUrl(*uri);
            }
        } else {
            fetched = verifier.certificates.fetchIssuerCrl();
        }
        if (!fetched) {
            job.error().merge(verifier.error());
            ok = false;
        }
    }
    const certs::Moment at = proven ? certs::Moment(crypto::secondsOfFileTime(*proven)) : std::nullopt;
    if (!verifier.certificates.verifyChain(at)) {
        job.error().merge(verifier.error());
        record(job, 473, kSignerCertificateCheckMessage);
        ok = false;
    }
    if (!verifier.certificates.checkRevocation(at)) {
        job.error().merge(verifier.error());
        record(job, 474, kSignerCertificateCheckMessage);
        ok = false;
    }
    return ok;
}

}  // namespace tessal::xml
