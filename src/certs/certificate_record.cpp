#include "certs/certificate_record.h"

#include <libxml/xmlmemory.h>
#include <libxml/xmlstring.h>

#include <chrono>
#include <cstring>

#include "certs/name_text.h"
#include "digests/digest_algorithms.h"
#include "diagnostics/error_record.h"
#include "diagnostics/message_catalogue.h"
#include "platform/clock.h"
#include "xmlsig/xml_escape.h"

namespace tessal::certs {

namespace {

using diag::kCategoryBase64;
using diag::kCategoryCrypto;

constexpr std::string_view kXmlHead =
    "<QualifyingProperties Target=\"DS\" xmlns=\"http://uri.etsi.org/01903/v1.1.1#\"><UnsignedProperties>"
    "<UnsignedSignatureProperties><CertificateValues Id=\"CV\"><EncapsulatedX509Certificate Id=\"CV_";
constexpr std::string_view kXmlTail =
    "</EncapsulatedX509Certificate></CertificateValues></UnsignedSignatureProperties></UnsignedProperties>"
    "</QualifyingProperties>";

// RSA algorithm identifiers all lie under this arc; only the first 14
// characters of the identifier are compared.
constexpr std::string_view kRsaArc = "1.2.840.113549";
constexpr std::string_view kOrganisationOid = "2.5.4.10";

std::int64_t nowSeconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

void recordLocalTime(diag::ErrorRecord& record, int place, int index, std::int64_t moment) {
    const auto local = platform::localTimeOf(moment, 0);
    const platform::LocalTime t = local.value_or(platform::LocalTime{});
    diag::recordErrorCode(record, 0, place, index, {t.year, t.month, t.day, t.hour, t.minute, t.second});
}

}  // namespace

std::string certificateXml(std::string_view id, std::string_view derBase64) {
    std::string xml;
    xml.reserve(kXmlHead.size() + id.size() + 2 + derBase64.size() + kXmlTail.size());
    xml += kXmlHead;
    xml += xml::xmlEscaped(id);
    xml += "\">";
    xml += xml::xmlEscaped(derBase64);
    xml += kXmlTail;
    return xml;
}

CertificateRecord::CertificateRecord(const CertificateRecord& other) : XmlDocument() { *this = other; }

CertificateRecord& CertificateRecord::operator=(const CertificateRecord& other) {
    if (this == &other) return *this;
    assignDocument(other);
    certificate_ = other.certificate_;
    idBase64_ = other.idBase64_;
    id_ = other.id_;
    sha256Id_ = other.sha256Id_;
    sha384Id_ = other.sha384Id_;
    sha512Id_ = other.sha512Id_;
    serialNumber_ = other.serialNumber_;
    subject_ = other.subject_;
    subjectCommonName_ = other.subjectCommonName_;
    issuer_ = other.issuer_;
    issuerCommonName_ = other.issuerCommonName_;
    userCode_ = other.userCode_;
    selfSigned_ = other.selfSigned_;
    keyHashBase64_ = other.keyHashBase64_;
    keyHash_ = other.keyHash_;
    return *this;
}

// A new certificate never keeps the texts of the one before it: they are
// cleared with it, so a failed decode leaves an empty record rather than
// texts that describe a certificate no longer held.
void CertificateRecord::replaceCertificate(platform::Certificate certificate) {
    certificate_ = std::move(certificate);
    for (diag::Utf8Text* text :
         {&idBase64_, &id_, &sha256Id_, &sha384Id_, &sha512Id_, &serialNumber_, &subject_, &subjectCommonName_,
          &issuer_, &issuerCommonName_, &userCode_, &keyHashBase64_, &keyHash_}) {
        text->clear();
    }
    selfSigned_ = 0;
}

bool CertificateRecord::fromDer(const std::uint8_t* bytes, std::size_t length) {
    replaceCertificate({});
    auto decoded = platform::Certificate::decode(bytes, length);
    if (!decoded) {
        diag::recordError(error_, 1002, 36, {kCategoryCrypto});
        return false;
    }
    replaceCertificate(std::move(*decoded));
    if (!deriveTexts() || !testKey()) return false;

    std::string derBase64;
    if (!data::base64Encode(certificate_.der(), derBase64)) {
        diag::recordError(error_, 1003, 8, {kCategoryCrypto});
        return false;
    }
    const std::string xml = certificateXml(id_.str(), derBase64);
    if (!parse(xml.data(), xml.size())) return false;
    xmlChar* text = xmlStrndup(reinterpret_cast<const xmlChar*>(xml.data()), static_cast<int>(xml.size()));
    setText(text, text ? static_cast<int>(xml.size()) : 0);
    return true;
}

bool CertificateRecord::fromBase64(const char* text, std::ptrdiff_t length) {
    if (text == nullptr) return fromBase64Text({});
    return fromBase64Text(length < 0 ? std::string_view(text)
                                     : std::string_view(text, static_cast<std::size_t>(length)));
}

bool CertificateRecord::fromBase64Text(std::string_view text) {
    data::Bytes der;
    if (!data::base64Decode(text, der)) {
        diag::recordErrorCode(error_, 0, 1001, 7, {kCategoryBase64});
        return false;
    }
    return fromDer(der.data(), der.size());
}

bool CertificateRecord::fromXml() {
    if (holdsError()) return false;
    const auto text = textAtPath(kCertificatePath);
    if (!text) {
        diag::recordErrorCode(error_, 0, 1005, 67);
        return false;
    }
    data::Bytes der;
    if (!data::base64Decode(*text, der)) {
        diag::recordErrorCode(error_, 0, 1006, 7, {kCategoryBase64});
        return false;
    }
    replaceCertificate({});
    auto decoded = platform::Certificate::decode(der.data(), der.size());
    if (!decoded) {
        diag::recordError(error_, 1007, 36, {kCategoryCrypto});
        return false;
    }
    replaceCertificate(std::move(*decoded));
    return deriveTexts() && testKey();
}

CertificateRecord CertificateRecord::fromKeyInfo(const xmlNode* element) {
    CertificateRecord record;
    if (element) record.walkKeyInfo(element);
    return record;
}

bool CertificateRecord::walkKeyInfo(const xmlNode* parent) {
    for (const xmlNode* child = parent->children; child; child = child->next) {
        if (xml::isIgnorable(child)) continue;
        if (child->type != XML_ELEMENT_NODE) {
            diag::recordErrorCode(error_, 0, 1040, 81);
            return true;
        }
        if (xml::nameIs(child, "X509Data")) {
            if (walkKeyInfo(child)) return true;
        } else if (xml::nameIs(child, "X509Certificate")) {
            fromBase64Text(xml::firstChildText(child).value_or(std::string()));
            return true;
        }
    }
    return false;
}

bool CertificateRecord::deriveTexts() {
    if (holdsError() || certificate_.empty()) return false;
    const data::Bytes& der = certificate_.der();

    std::string base64;
    std::string hex;
    if (!crypto::digestBase64(der.data(), der.size(), base64, crypto::CALG_SHA1) ||
        !crypto::digestHex(der.data(), der.size(), hex, crypto::CALG_SHA1)) {
        diag::recordError(error_, 1008, 2, {kCategoryCrypto});
        return false;
    }
    idBase64_ = diag::Utf8Text(std::move(base64));
    id_ = diag::Utf8Text(std::move(hex));

    const std::pair<crypto::AlgId, diag::Utf8Text*> longer[] = {
        {crypto::CALG_SHA_256, &sha256Id_}, {crypto::CALG_SHA_384, &sha384Id_}, {crypto::CALG_SHA_512, &sha512Id_}};
    for (const auto& [algId, target] : longer) {
        std::string digest;
        crypto::digestHex(der.data(), der.size(), digest, algId);
        *target = diag::Utf8Text(std::move(digest));
    }

    const auto subjectEntries = certificate_.subject();
    subject_ = diag::Utf8Text(nameText(subjectEntries));
    subjectCommonName_ = diag::Utf8Text(commonNameOf(subject_.str()));
    issuer_ = diag::Utf8Text(nameText(certificate_.issuer()));
    issuerCommonName_ = diag::Utf8Text(commonNameOf(issuer_.str()));
    selfSigned_ = !subject_.empty() && subject_ == issuer_ ? 1 : 0;

    std::string code = attributeValue(subjectEntries, kUserCodeOid);
    userCode_ = diag::Utf8Text(characterCount(code) == kUserCodeLength ? std::move(code) : std::string());

    const data::Bytes serial = certificate_.serial();
    if (serial.empty()) {
        diag::recordErrorCode(error_, 0, 1010, 86);
        return false;
    }
    std::string decimal;
    decimalFromBigEndian(serial.data(), serial.size(), decimal);
    serialNumber_ = diag::Utf8Text(std::move(decimal));

    if (subject_.empty() || subjectCommonName_.empty() || issuer_.empty() || issuerCommonName_.empty() ||
        serialNumber_.size() < 2) {
        diag::recordErrorCode(error_, 0, 1009, 86);
        return false;
    }
    return true;
}

bool CertificateRecord::testKey() {
    if (holdsError() || certificate_.empty()) return false;
    const std::string algorithm = certificate_.publicKeyAlgorithm();
    if (algorithm.compare(0, kRsaArc.size(), kRsaArc) != 0) {
        diag::recordErrorCode(error_, 0, 1010, 66, {algorithm});
        return false;
    }
    data::Bytes modulus;
    data::Bytes exponent;
    if (!certificate_.rsaPublicKey(modulus, exponent)) {
        diag::recordErrorCode(error_, 0x8009310Bu, 1011, 28, {kCategoryCrypto});
        return false;
    }
    const auto blob = publicKeyBlob(modulus, exponent);
    if (!blob) {
        diag::recordErrorCode(error_, 0x8009310Bu, 1012, 28, {kCategoryCrypto});
        return false;
    }
    const data::Bytes& b = *blob;
    if (b.size() < kBlobModulusOffset || std::memcmp(b.data() + kBlobMagicOffset, "RSA1", 4) != 0) {
        diag::recordErrorCode(error_, 0, 1013, 66, {algorithm});
        return false;
    }
    const std::uint32_t bitLength = static_cast<std::uint32_t>(b[kBlobBitLengthOffset]) |
                                    static_cast<std::uint32_t>(b[kBlobBitLengthOffset + 1]) << 8 |
                                    static_cast<std::uint32_t>(b[kBlobBitLengthOffset + 2]) << 16 |
                                    static_cast<std::uint32_t>(b[kBlobBitLengthOffset + 3]) << 24;
    if (bitLength / 8 == 0) {
        diag::recordErrorCode(error_, 0, 1013, 66, {algorithm});
        return false;
    }
    if (b[kBlobExponentOffset] == 0 && b[kBlobExponentOffset + 1] == 0 && b[kBlobExponentOffset + 2] == 0 &&
        b[kBlobExponentOffset + 3] == 0) {
        diag::recordErrorCode(error_, 0, 1014, 28, {kCategoryCrypto});
        return false;
    }
    std::string base64;
    std::string hex;
    if (!crypto::digestBase64(b.data(), b.size(), base64, crypto::CALG_SHA1) ||
        !crypto::digestHex(b.data(), b.size(), hex, crypto::CALG_SHA1)) {
        diag::recordError(error_, 1015, 2, {kCategoryCrypto});
        return false;
    }
    keyHashBase64_ = diag::Utf8Text(std::move(base64));
    keyHash_ = diag::Utf8Text(std::move(hex));
    return true;
}

bool CertificateRecord::checkValidity(Moment at) {
    if (certificate_.empty()) return false;
    const std::int64_t moment = at.value_or(nowSeconds());
    const auto notBefore = certificate_.notBefore();
    const auto notAfter = certificate_.notAfter();
    if (notBefore && moment < *notBefore) {
        recordLocalTime(error_, 1020, 4, *notBefore);
        return false;
    }
    if (notAfter && moment > *notAfter) {
        recordLocalTime(error_, 1020, 5, *notAfter);
        return false;
    }
    return true;
}

bool CertificateRecord::checkOrganisation() {
    if (holdsError() || certificate_.empty()) return false;
    if (characterCount(userCode_.str()) != kUserCodeLength) {
        diag::recordErrorCode(error_, 0, 1030, 23);
        return false;
    }
    std::string organisation = attributeValue(certificate_.issuer(), kOrganisationOid);
    for (char& c : organisation) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    if (organisation.find("norvata") == std::string::npos || organisation.find("keldas") == std::string::npos) {
        diag::recordErrorCode(error_, 0, 1031, 22);
        return false;
    }
    return true;
}

}  // namespace tessal::certs
