#include "xades/verification.h"

#include <string>

#include "diagnostics/message_catalogue.h"
#include "xades/covered_elements.h"
#include "xades/qualifying_properties.h"
#include "xades/reference_digests.h"
#include "xades/signature_info.h"
#include "xades/signing_time.h"
#include "xades/xades_texts.h"
#include "xmlsig/message_header.h"

namespace tessal::xml {

namespace {

constexpr int kUnsignedMessage = 50;
constexpr int kNoSignatureValueMessage = 51;
constexpr int kNoSignedInfoMessage = 52;
constexpr int kNoObjectMessage = 53;
constexpr int kModifiedElementMessage = 58;
constexpr int kExternalReferenceMessage = 59;
constexpr int kNoDigestValueMessage = 60;
constexpr int kSignedInfoMessage = 63;
constexpr int kMalformedMessage = 81;
constexpr int kLoadMessage = 83;
constexpr int kUnexpectedFormMessage = 92;
constexpr int kUnsupportedAlgorithmMessage = 96;
constexpr int kHashMessage = 2;

constexpr std::string_view kUnsupportedDocumentText = "Nepalaikomas XML elektroninio dokumento formatas";
constexpr std::string_view kNoAlgorithmText =
    "XML elektroninis parašas neatitinka \"XML Advanced Electronic Signatures (ETSI TS 101 903)\" specifikacijos - "
    "nenurodytas algoritmas";

void record(VerificationJob& job, int place, int message, diag::FormatArgs args = {}) {
    diag::recordErrorCode(job.error(), 0, place, message, args);
}

// The algorithm of a URI, letter case ignored; `signature` picks the
// SignatureMethod URIs, else the DigestMethod ones.
std::optional<crypto::AlgId> algorithmOf(std::string_view uri, bool signature) {
    for (const crypto::DigestAlgorithm& algorithm : crypto::digestAlgorithms()) {
        if (equalsIgnoringCase(uri, signature ? algorithm.signatureMethodUri : algorithm.digestMethodUri)) {
            return algorithm.algId;
        }
    }
    return std::nullopt;
}

struct SignatureParts {
    xmlNodePtr signedInfo = nullptr;
    xmlNodePtr signatureValue = nullptr;
    xmlNodePtr keyInfo = nullptr;
    xmlNodePtr object = nullptr;
};

// The children of Signature; false (the run stops) for anything unexpected.
bool readSignatureParts(VerificationJob& job, xmlNodePtr signature, SignatureParts& parts) {
    for (xmlNodePtr child = signature->children; child; child = child->next) {
        if (isIgnorable(child)) continue;
        if (child->type != XML_ELEMENT_NODE) {
            record(job, 410, kMalformedMessage);
            return false;
        }
        if (nameIs(child, "SignedInfo")) {
            parts.signedInfo = child;
        } else if (nameIs(child, "SignatureValue")) {
            parts.signatureValue = child;
        } else if (nameIs(child, "KeyInfo")) {
            parts.keyInfo = child;
        } else if (nameIs(child, "Object")) {
            parts.object = child;
        } else {
            record(job, 411, kMalformedMessage);
            return false;
        }
    }
    return true;
}

// The digest of the octets a reference's URI and transforms designate; on
// failure the reasons are recorded and there is none.
std::optional<data::Bytes> computeReferenceDigest(VerificationJob& job, std::string_view value, xmlNodePtr transforms,
                                                  const std::optional<std::string>& digestMethod) {
    const std::optional<crypto::AlgId> algorithm = digestMethod ? algorithmOf(*digestMethod, false) : std::nullopt;
    if (!algorithm) {
        // The transforms still run first, so their failures are reported before the algorithm's.
        if (!job.dereferenceAndTransform(value, transforms)) return std::nullopt;
        record(job, 421, kUnsupportedAlgorithmMessage, {digestMethod.value_or("")});
        return std::nullopt;
    }
    // The canonical octets go into the digest as they are produced.
    crypto::DigestFeed feed(*algorithm);
    const OctetSink sink = feed.receiver();
    if (!job.dereferenceAndTransform(value, transforms, &sink)) return std::nullopt;
    std::optional<data::Bytes> digest = feed.finish();
    if (!digest) record(job, 421, kHashMessage, {diag::kCategoryCrypto});
    return digest;
}

// The same digest, worked out once per verification for identical references.
// A repeated failure records the same entries again, which leaves the text as
// it is and only brings its codes back to the front.
std::optional<data::Bytes> referenceDigest(VerificationJob& job, std::string_view value, xmlNodePtr transforms,
                                           const std::optional<std::string>& digestMethod, ReferenceDigests& known) {
    std::string key = ReferenceDigests::keyOf(value, transforms, digestMethod);
    if (const ReferenceDigest* earlier = known.find(key)) {
        if (!earlier->digest) {
            job.error().lastError = earlier->lastError;
            job.error().code = earlier->code;
        }
        return earlier->digest;
    }
    ReferenceDigest outcome{computeReferenceDigest(job, value, transforms, digestMethod)};
    outcome.lastError = job.error().lastError;
    outcome.code = job.error().code;
    known.remember(std::move(key), outcome);
    return outcome.digest;
}

// One Reference: its digest over the octets its URI and transforms designate.
void checkReference(VerificationJob& job, xmlNodePtr reference, ReferenceDigests& known) {
    const std::optional<std::string> uri = attributeText(reference, "URI");
    std::string_view value = uri ? trimmedSpace(*uri) : std::string_view();
    if (!value.empty() && value.front() != '#') {
        record(job, 485, kExternalReferenceMessage, {kUnsupportedDocumentText, *uri});
        return;
    }
    while (!value.empty() && value.front() == '#') value.remove_prefix(1);

    xmlNodePtr transforms = nullptr;
    std::optional<std::string> digestMethod;
    bool digestMethodSeen = false;
    std::optional<data::Bytes> digestValue;
    for (xmlNodePtr child = reference->children; child; child = child->next) {
        if (isIgnorable(child)) continue;
        if (child->type != XML_ELEMENT_NODE) {
            record(job, 486, kMalformedMessage);
            return;
        }
        if (nameIs(child, "Transforms")) {
            transforms = child;
        } else if (nameIs(child, "DigestMethod")) {
            digestMethodSeen = true;
            digestMethod = attributeText(child, "Algorithm");
        } else if (nameIs(child, "DigestValue")) {
            data::Bytes bytes;
            const std::optional<std::string> text = firstChildText(child);
            if (text && data::base64Decode(*text, bytes) && !bytes.empty()) digestValue = std::move(bytes);
            break;  // children after the digest value are not looked at
        } else {
            record(job, 487, kMalformedMessage);
            return;
        }
    }
    const std::string uriText = uri.value_or("");
    if (!digestValue) {
        record(job, 487, kNoDigestValueMessage, {kConformanceText, uriText});
        return;
    }
    if (digestMethodSeen && !digestMethod) record(job, 488, kUnexpectedFormMessage, {kNoAlgorithmText});
    const std::optional<data::Bytes> digest = referenceDigest(job, value, transforms, digestMethod, known);
    if (digest && *digest != *digestValue) record(job, 422, kModifiedElementMessage, {value});
}

// All references of SignedInfo; false for a structural failure.
bool checkReferences(VerificationJob& job, xmlNodePtr signedInfo) {
    bool structural = true;
    ReferenceDigests known;
    for (xmlNodePtr child = signedInfo->children; child; child = child->next) {
        if (isIgnorable(child)) continue;
        if (child->type != XML_ELEMENT_NODE) {
            record(job, 483, kMalformedMessage);
            structural = false;
        } else if (nameIs(child, "Reference")) {
            checkReference(job, child, known);
        } else if (!nameIs(child, "CanonicalizationMethod") && !nameIs(child, "SignatureMethod")) {
            record(job, 484, kMalformedMessage);
            structural = false;
        }
    }
    return structural;
}

void markChanged(SignatureInfo* info) {
    if (info) info->contentChanged = 1;
}

// The signature value over the canonical SignedInfo, with the signer's key.
bool checkSignatureValue(VerificationJob& job, xmlNodePtr signedInfo, xmlNodePtr signatureValue) {
    SignatureInfo* info = job.info();
    const std::optional<std::string> value = firstChildText(signatureValue);
    if (!value) {
        record(job, 481, kNoSignatureValueMessage, {kConformanceText});
        markChanged(info);
        return false;
    }
    if (info) info->signaturePresent = 1;

    xmlNodePtr canonicalization = nullptr;
    std::optional<std::string> canonicalizationMethod;
    std::optional<std::string> signatureMethod;
    bool structural = true;
    for (xmlNodePtr child = signedInfo->children; child; child = child->next) {
        if (isIgnorable(child)) continue;
        if (child->type != XML_ELEMENT_NODE) {
            record(job, 481, kMalformedMessage);
            structural = false;
        } else if (nameIs(child, "CanonicalizationMethod")) {
            canonicalization = child;
            canonicalizationMethod = attributeText(child, "Algorithm");
        } else if (nameIs(child, "SignatureMethod")) {
            signatureMethod = attributeText(child, "Algorithm");
        } else if (!nameIs(child, "Reference")) {
            record(job, 482, kMalformedMessage);
            structural = false;
        }
    }
    if (!canonicalization || !canonicalizationMethod) {
        record(job, 483, kMalformedMessage);
        structural = false;
    }
    if (!signatureMethod) {
        record(job, 484, kMalformedMessage);
        structural = false;
    }
    if (!structural) {
        markChanged(info);
        return false;
    }

    if (!job.loadElement(signedInfo)) {
        record(job, 417, kLoadMessage);
        record(job, 485, kSignedInfoMessage);
        markChanged(info);
        return false;
    }
    if (!job.canonicaliseCurrentData(*canonicalizationMethod)) {
        record(job, 485, kSignedInfoMessage);
        markChanged(info);
        return false;
    }
    const std::optional<crypto::AlgId> algorithm = algorithmOf(*signatureMethod, true);
    if (!algorithm) {
        record(job, 486, kUnsupportedAlgorithmMessage, {*signatureMethod});
        return false;
    }
    const std::string_view octets = job.text();
    if (!job.verifier.verifyBase64(reinterpret_cast<const std::uint8_t*>(octets.data()), octets.size(), *algorithm,
                                   *value, info ? &info->signatureBytes : nullptr)) {
        job.error().merge(job.verifier.error());
        markChanged(info);
        return false;
    }
    return true;
}

// The working sets and times the information window shows.
void fillResults(VerificationJob& job, SignatureInfo& info) {
    info.signer = job.verifier.certificates;
    if (job.signatureTimeStamp()) {
        info.timeStampPresent = 1;
        info.timeStampAuthority = job.signatureTimeStampContext.certificates;
        info.timeStampTime = job.signatureTimeStampContext.generationTime.value_or(0);
    }
    for (const crypto::TimeStampContext& context : job.archiveTimeStampContexts) {
        TimeStampRecord& added = info.addArchiveTimeStamp(context.generationTime.value_or(0));
        added.authority = context.certificates;
    }
}

bool failWith(VerificationJob& job) {
    if (SignatureInfo* info = job.info()) info->error = job.error();
    return false;
}

}  // namespace

bool verifySignature(VerificationJob& job) {
    SignatureInfo* info = job.info();
    if (job.error().lastError != 0 || job.error().code != 0) return failWith(job);
    if (info) readMessageHeader(info->messageHeader, job.tree());

    xmlNodePtr root = job.rootElement();
    xmlNodePtr signature = nullptr;
    for (xmlNodePtr child = root ? root->children : nullptr; child && !signature; child = child->next) {
        if (nameIs(child, "Signature")) signature = child;
    }
    if (!signature) {
        record(job, 410, kUnsignedMessage);
        return failWith(job);
    }
    job.setSignatureElement(signature);

    SignatureParts parts;
    if (!readSignatureParts(job, signature, parts)) return failWith(job);
    if (!parts.signatureValue) record(job, 411, kNoSignatureValueMessage, {kConformanceText});
    if (!parts.signedInfo) record(job, 412, kNoSignedInfoMessage, {kConformanceText});
    if (!parts.object) record(job, 413, kNoObjectMessage, {kConformanceText});
    // Only the SignedProperties whose digest SignedInfo carries is read as signed.
    xmlNodePtr signedProperties = coveredSignedProperties(job, parts.signedInfo, parts.object);
    if (parts.object && info) info->signingTime = readSigningTime(signedProperties, job.error());

    if (parts.signatureValue && parts.object) {
        checkQualifyingProperties(parts.keyInfo, job, parts.object, {signedProperties, parts.signatureValue});
    }
    if (parts.signedInfo) {
        if (!checkReferences(job, parts.signedInfo)) markChanged(info);
        if (parts.signatureValue) checkSignatureValue(job, parts.signedInfo, parts.signatureValue);
    }
    if (info) fillResults(job, *info);

    if (job.error().lastError != 0 || job.error().code != 0) return failWith(job);
    // No caller reads the document back from a verification, so it is not
    // serialised again: the caller already holds its text.
    return true;
}

}  // namespace tessal::xml
