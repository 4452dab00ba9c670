#include "xades/signature_creation.h"

#include <cstdio>
#include <ctime>
#include <string_view>

#include "crypto/signer_context.h"
#include "diagnostics/message_catalogue.h"
#include "digests/digest_algorithms.h"
#include "pki/request_url.h"
#include "platform/clock.h"
#include "platform/random.h"
#include "xades/signature_info.h"
#include "xmlsig/canonicalisation.h"
#include "xmlsig/libxml_owners.h"
#include "xmlsig/message_header.h"
#include "xmlsig/xml_escape.h"

namespace tessal::xml {

namespace {

constexpr int kNoSignerMessage = 61;
constexpr int kBadDocumentMessage = 88;
constexpr int kHashMessage = 2;
constexpr int kPropertiesMessage = 62;
constexpr int kSignedInfoMessage = 63;
constexpr int kSignatureTextMessage = 64;

// The templates of the signature's parts. The first %s of SignedProperties
// and SignedInfo takes the namespace declarations the element has in scope
// in the finished signature (the digest form) or nothing (the embedded form).
constexpr std::string_view kSignedPropertiesTemplate =
    "<SignedProperties%s Id=\"%s\"><SignedSignatureProperties><SigningTime>%s</SigningTime><SigningCertificate><Cert>"
    "<CertDigest><DigestMethod Algorithm=\"http://www.w3.org/2000/09/xmldsig#sha1\"/><DigestValue>%s</DigestValue>"
    "</CertDigest><IssuerSerial><ds:X509IssuerName>%s</ds:X509IssuerName><ds:X509SerialNumber>%s</ds:X509SerialNumber>"
    "</IssuerSerial></Cert></SigningCertificate><SignaturePolicyIdentifier><SignaturePolicyImplied/>"
    "</SignaturePolicyIdentifier></SignedSignatureProperties></SignedProperties>";
constexpr std::string_view kSignedInfoSha256Template =
    "<SignedInfo%s><CanonicalizationMethod Algorithm=\"http://www.w3.org/TR/2001/REC-xml-c14n-20010315\"/>"
    "<SignatureMethod Algorithm=\"http://www.w3.org/2001/04/xmldsig-more#rsa-sha256\"/><Reference URI=\"\"><Transforms>"
    "<Transform Algorithm=\"http://www.w3.org/2000/09/xmldsig#enveloped-signature\"/></Transforms>"
    "<DigestMethod Algorithm=\"http://www.w3.org/2001/04/xmlenc#sha256\"/><DigestValue>%s</DigestValue></Reference>"
    "<Reference URI=\"#%s\" Type=\"http://uri.etsi.org/01903/v1.1.1#SignedProperties\">"
    "<DigestMethod Algorithm=\"http://www.w3.org/2001/04/xmlenc#sha256\"/><DigestValue>%s</DigestValue></Reference>"
    "</SignedInfo>";
constexpr std::string_view kSignedInfoSha1Template =
    "<SignedInfo%s><CanonicalizationMethod Algorithm=\"http://www.w3.org/TR/2001/REC-xml-c14n-20010315\"/>"
    "<SignatureMethod Algorithm=\"http://www.w3.org/2000/09/xmldsig#rsa-sha1\"/><Reference URI=\"\"><Transforms>"
    "<Transform Algorithm=\"http://www.w3.org/2000/09/xmldsig#enveloped-signature\"/></Transforms>"
    "<DigestMethod Algorithm=\"http://www.w3.org/2000/09/xmldsig#sha1\"/><DigestValue>%s</DigestValue></Reference>"
    "<Reference URI=\"#%s\" Type=\"http://uri.etsi.org/01903/v1.1.1#SignedProperties\">"
    "<DigestMethod Algorithm=\"http://www.w3.org/2000/09/xmldsig#sha1\"/><DigestValue>%s</DigestValue></Reference>"
    "</SignedInfo>";
constexpr std::string_view kSignatureTemplate =
    "<Signature Id=\"%s\" xmlns=\"http://www.w3.org/2000/09/xmldsig#\">%s<SignatureValue>%s</SignatureValue>"
    "<ds:Object xmlns=\"http://uri.etsi.org/01903/v1.1.1#\" xmlns:ds=\"http://www.w3.org/2000/09/xmldsig#\">%s"
    "<QualifyingProperties Target=\"#%s\">%s%s</QualifyingProperties></ds:Object></Signature>";

constexpr std::string_view kPropertiesNamespaces =
    " xmlns=\"http://uri.etsi.org/01903/v1.1.1#\" xmlns:ds=\"http://www.w3.org/2000/09/xmldsig#\"";
constexpr std::string_view kSignedInfoNamespace = " xmlns=\"http://www.w3.org/2000/09/xmldsig#\"";

// Fills each "%s" of a template with the next text, as they come; the texts
// are never read as formats themselves. Values go in through xmlEscaped();
// only the namespace declarations and the signature's own finished parts
// are passed as markup.
std::string fill(std::string_view format, std::initializer_list<std::string_view> texts) {
    std::string out;
    auto next = texts.begin();
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] == '%' && i + 1 < format.size() && format[i + 1] == 's') {
            if (next != texts.end()) out += *next++;
            ++i;
        } else {
            out += format[i];
        }
    }
    return out;
}

// The element that names the signer's certificate by its digest.
std::string certificateReference(std::string_view certificateDigest) {
    std::string out = "<QualifyingPropertiesReference URI=\"";
    out += xmlEscaped(std::string(pki::kTemplateUrl) + "cert/?" + std::string(certificateDigest));
    out += "\"/>";
    return out;
}

bool fail(SignatureJob& job, int place, int message, diag::FormatArgs args = {}) {
    diag::recordErrorCode(job.error(), 0, place, message, args);
    if (job.info()) job.info()->error = job.error();
    return false;
}

bool failMerged(SignatureJob& job, const diag::ErrorRecord& record) {
    job.error().merge(record);
    if (job.info()) job.info()->error = job.error();
    return false;
}

std::optional<std::string> digestBase64Of(std::string_view octets, crypto::AlgId algId) {
    std::string out;
    if (!crypto::digestBase64(reinterpret_cast<const std::uint8_t*>(octets.data()), octets.size(), out, algId)) {
        return std::nullopt;
    }
    return out;
}

// The current data canonicalised (inclusive) where it stands, straight into
// the digest, never held whole; places 402 and 403 on failure.
std::optional<std::string> canonicalDigestBase64(SignatureJob& job, crypto::AlgId algId) {
    crypto::DigestFeed feed(algId);
    if (!job.canonicaliseInto(kC14nInclusive, feed.receiver())) {
        fail(job, 402, kBadDocumentMessage);
        return std::nullopt;
    }
    const std::optional<data::Bytes> digest = feed.finish();
    std::string out;
    if (!digest || !data::base64Encode(*digest, out)) {
        fail(job, 403, kHashMessage, {diag::kCategoryCrypto});
        return std::nullopt;
    }
    return out;
}

// Makes an EDoc root the parent of the document's root unless it is one.
void wrapInEDoc(xmlDocPtr tree) {
    xmlNodePtr root = xmlDocGetRootElement(tree);
    if (root == nullptr || nameIs(root, "EDoc")) return;
    xmlNodePtr edoc = xmlNewDocNode(tree, nullptr, BAD_CAST "EDoc", nullptr);
    // Replacing keeps document-level comments and processing instructions in place.
    xmlReplaceNode(root, edoc);
    xmlAddChild(edoc, root);
}

}  // namespace

std::string randomIdentifier() {
    std::uint8_t bytes[16];
    if (!platform::randomBytes(bytes, sizeof bytes)) return {};
    bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0F) | 0x40);  // version 4
    bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80);  // variant
    char text[33];
    for (std::size_t i = 0; i < sizeof bytes; ++i) std::snprintf(text + 2 * i, 3, "%02X", bytes[i]);
    return std::string(text, 32);
}

std::string signingTimeText(crypto::FileTime& utc) {
    const platform::LocalTime t = platform::localTimeNow();
    const std::int64_t offsetSeconds = static_cast<std::int64_t>(t.utcOffsetMinutes) * 60;
    std::tm fields{};
    fields.tm_year = t.year - 1900;
    fields.tm_mon = t.month - 1;
    fields.tm_mday = t.day;
    fields.tm_hour = t.hour;
    fields.tm_min = t.minute;
    fields.tm_sec = t.second;
    utc = crypto::fileTimeOfSeconds(static_cast<std::int64_t>(timegm(&fields)) - offsetSeconds);
    char text[40];
    if (t.utcOffsetMinutes == 0) {
        std::snprintf(text, sizeof text, "%d-%02d-%02dT%02d:%02d:%02dZ", t.year, t.month, t.day, t.hour, t.minute,
                      t.second);
    } else {
        // The bias is UTC minus local time: negative east of UTC, written "+".
        const int bias = -t.utcOffsetMinutes;
        const int magnitude = bias < 0 ? -bias : bias;
        std::snprintf(text, sizeof text, "%d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d", t.year, t.month, t.day, t.hour,
                      t.minute, t.second, bias < 0 ? '+' : '-', magnitude / 60, magnitude % 60);
    }
    return text;
}

bool createSignature(SignatureJob& job) {
    SignatureInfo* info = job.info();
    if (job.error().lastError != 0 || job.error().code != 0) {
        if (info) info->error = job.error();
        return false;
    }
    crypto::SignerContext* signer = job.signer();
    if (!signer) return fail(job, 409, kNoSignerMessage);

    crypto::AlgId algorithm = crypto::CALG_SHA_256;
    if (!signer->meetsSystemRequirements()) return failMerged(job, signer->error());
    if (signer->isHsm()) algorithm = signer->negotiateHashAlgorithm(crypto::CALG_SHA_256);

    if (info) {
        readMessageHeader(info->messageHeader, job.tree());
        info->signer = signer->certificates;
    }
    wrapInEDoc(job.tree());
    xmlNodePtr root = job.rootElement();

    if (!job.viewDocument()) return fail(job, 401, kBadDocumentMessage);
    const std::optional<std::string> documentDigest = canonicalDigestBase64(job, algorithm);
    if (!documentDigest) return false;

    // Every value below is escaped once here: the issuer name in particular
    // comes from the certificate and may hold "&", "<" or quotes.
    const std::string identifier = randomIdentifier();
    const std::string signatureId = xmlEscaped("DS_" + identifier);
    const std::string propertiesId = xmlEscaped("SP_" + identifier);
    crypto::FileTime signedAt = 0;
    const std::string signingTime = xmlEscaped(signingTimeText(signedAt));
    if (info) info->signingTime = signedAt;

    const certs::CertificateRecord& certificate = signer->certificates.subject;
    const std::string& rawCertificateDigest = certificate.idBase64().str();
    const std::string certificateDigest = xmlEscaped(rawCertificateDigest);
    const std::string issuer = xmlEscaped(certificate.issuer().str());
    const std::string serial = xmlEscaped(certificate.serialNumber().str());
    const std::string propertiesDigestForm = fill(
        kSignedPropertiesTemplate, {kPropertiesNamespaces, propertiesId, signingTime, certificateDigest, issuer, serial});
    const std::string propertiesEmbedded =
        fill(kSignedPropertiesTemplate, {"", propertiesId, signingTime, certificateDigest, issuer, serial});
    if (!job.canonicaliseFragment(propertiesDigestForm)) return fail(job, 404, kPropertiesMessage);
    const std::optional<std::string> propertiesDigest = digestBase64Of(job.text(), algorithm);
    if (!propertiesDigest) return fail(job, 405, kHashMessage, {diag::kCategoryCrypto});

    const std::string_view signedInfoTemplate =
        algorithm == crypto::CALG_SHA_256 ? kSignedInfoSha256Template : kSignedInfoSha1Template;
    const std::string documentDigestText = xmlEscaped(*documentDigest);
    const std::string propertiesDigestText = xmlEscaped(*propertiesDigest);
    const std::string signedInfoDigestForm =
        fill(signedInfoTemplate, {kSignedInfoNamespace, documentDigestText, propertiesId, propertiesDigestText});
    const std::string signedInfoEmbedded =
        fill(signedInfoTemplate, {"", documentDigestText, propertiesId, propertiesDigestText});
    if (!job.canonicaliseFragment(signedInfoDigestForm)) return fail(job, 406, kSignedInfoMessage);
    std::string signatureValue;
    const std::string_view octets = job.text();
    if (!signer->signToBase64(reinterpret_cast<const std::uint8_t*>(octets.data()), octets.size(), algorithm,
                              info ? &info->signatureBytes : nullptr, signatureValue)) {
        return failMerged(job, signer->error());
    }

    const std::string signature =
        fill(kSignatureTemplate, {signatureId, signedInfoEmbedded, xmlEscaped(signatureValue),
                                  certificateReference(rawCertificateDigest),
                                  signatureId, propertiesEmbedded, ""});
    OwnedDoc parsed(parseBytes(signature.data(), signature.size()));
    xmlNodePtr parsedRoot = parsed ? xmlDocGetRootElement(parsed.get()) : nullptr;
    xmlNodePtr copy = parsedRoot ? xmlDocCopyNode(parsedRoot, job.tree(), 1) : nullptr;
    if (!copy) return fail(job, 408, kSignatureTextMessage);
    xmlAddChild(root, copy);
    job.forgetIds();  // the signature brought Ids the parse did not see

    job.releaseWorkingTree();
    if (!job.serialise()) return fail(job, 408, kSignatureTextMessage);
    if (info) info->signaturePresent = 1;
    return true;
}

}  // namespace tessal::xml
