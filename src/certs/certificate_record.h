#pragma once
// A certificate as the system holds it: the decoded certificate, the texts
// derived from it once (identifiers by digest, decimal serial number, names
// and common names, user code, public-key hash) and its XML form, the
// document the certificate web service answers with.
#include <libxml/tree.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "data/codecs.h"
#include "diagnostics/utf8_text.h"
#include "platform/x509.h"
#include "xmlsig/xml_document.h"

namespace tessal::certs {

// Seconds since 1970 (UTC); nothing stands for the current time.
using Moment = std::optional<std::int64_t>;

// Where a service answer carries the certificate.
inline constexpr std::string_view kCertificatePath =
    "/QualifyingProperties/UnsignedProperties/UnsignedSignatureProperties/CertificateValues/"
    "EncapsulatedX509Certificate";

// The subject attribute that carries the user identification code.
inline constexpr std::string_view kUserCodeOid = "0.9.2342.19200300.100.1.1";
inline constexpr std::size_t kUserCodeLength = 32;

class CertificateRecord : public xml::XmlDocument {
public:
    CertificateRecord() = default;
    ~CertificateRecord() override = default;
    CertificateRecord(const CertificateRecord& other);
    CertificateRecord& operator=(const CertificateRecord& other);

    // Decodes the certificate, derives the texts and builds the XML form.
    bool fromDer(const std::uint8_t* bytes, std::size_t length);
    // Base64 text; a negative length takes the text up to its first NUL.
    bool fromBase64(const char* text, std::ptrdiff_t length = -1);
    // Takes the certificate from the service answer already parsed into this record.
    bool fromXml();
    // The certificate of a KeyInfo-like element: the first X509Certificate,
    // directly or inside X509Data. No such element leaves the record empty.
    static CertificateRecord fromKeyInfo(const xmlNode* element);

    // Validity at `at` (now when nothing); places 1020.
    bool checkValidity(Moment at = std::nullopt);
    // The certificate carries a user code and was issued by the issuing
    // organisation; places 1030 and 1031.
    bool checkOrganisation();

    // True when the record's error record holds a platform or numeric code.
    bool holdsError() const { return error_.lastError != 0 || error_.code != 0; }

    const platform::Certificate& certificate() const { return certificate_; }
    bool hasCertificate() const { return !certificate_.empty(); }

    const diag::Utf8Text& idBase64() const { return idBase64_; }
    const diag::Utf8Text& id() const { return id_; }
    const diag::Utf8Text& sha256Id() const { return sha256Id_; }
    const diag::Utf8Text& sha384Id() const { return sha384Id_; }
    const diag::Utf8Text& sha512Id() const { return sha512Id_; }
    const diag::Utf8Text& serialNumber() const { return serialNumber_; }
    const diag::Utf8Text& subject() const { return subject_; }
    const diag::Utf8Text& subjectCommonName() const { return subjectCommonName_; }
    const diag::Utf8Text& issuer() const { return issuer_; }
    const diag::Utf8Text& issuerCommonName() const { return issuerCommonName_; }
    const diag::Utf8Text& userCode() const { return userCode_; }
    std::uint32_t selfSigned() const { return selfSigned_; }
    const diag::Utf8Text& keyHashBase64() const { return keyHashBase64_; }
    const diag::Utf8Text& keyHash() const { return keyHash_; }

private:
    void replaceCertificate(platform::Certificate certificate);
    bool deriveTexts();
    bool testKey();
    bool fromBase64Text(std::string_view text);
    // Walks the children of a KeyInfo or X509Data element; true when the walk is over.
    bool walkKeyInfo(const xmlNode* parent);

    platform::Certificate certificate_;
    diag::Utf8Text idBase64_;
    diag::Utf8Text id_;
    diag::Utf8Text sha256Id_;
    diag::Utf8Text sha384Id_;
    diag::Utf8Text sha512Id_;
    diag::Utf8Text serialNumber_;
    diag::Utf8Text subject_;
    diag::Utf8Text subjectCommonName_;
    diag::Utf8Text issuer_;
    diag::Utf8Text issuerCommonName_;
    diag::Utf8Text userCode_;
    std::uint32_t selfSigned_ = 0;
    diag::Utf8Text keyHashBase64_;
    diag::Utf8Text keyHash_;
};

// The XML form of a certificate: the service answer shape, on one line.
std::string certificateXml(std::string_view id, std::string_view derBase64);

}  // namespace tessal::certs
