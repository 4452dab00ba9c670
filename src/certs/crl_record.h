#pragma once
// A certificate revocation list as the system holds it: the decoded CRL, the
// texts the CRL stores find it by, and the service document it came in.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "certs/certificate_record.h"
#include "data/codecs.h"
#include "diagnostics/utf8_text.h"
#include "platform/x509.h"
#include "xmlsig/xml_document.h"

namespace tessal::certs {

// Where a service document carries the CRL.
inline constexpr std::string_view kCrlPath =
    "/QualifyingProperties/UnsignedProperties/UnsignedSignatureProperties/RevocationValues/CRLValues/"
    "EncapsulatedCRLValue";

class CrlRecord : public xml::XmlDocument {
public:
    CrlRecord() = default;
    // Parses the service document, then takes the CRL from it; the outcome is
    // in the record's error record.
    CrlRecord(const void* xml, std::size_t length);
    ~CrlRecord() override = default;
    CrlRecord(const CrlRecord& other);
    CrlRecord& operator=(const CrlRecord& other);

    bool fromXml();
    // False with place 808 when `at` (now when nothing) lies after NextUpdate;
    // a time before ThisUpdate passes.
    bool checkCrlValidity(Moment at = std::nullopt);

    // The revocation time of a serial number (content octets, most
    // significant first) listed on the CRL; integers compare by value, so
    // leading zero octets do not matter. Nothing when the serial is not
    // listed or there is no CRL; a listed entry without a readable time gives 0.
    std::optional<std::int64_t> revocationOf(const data::Bytes& serial) const;
    bool lists(const data::Bytes& serial) const { return revocationOf(serial).has_value(); }

    bool holdsError() const { return error_.lastError != 0 || error_.code != 0; }

    const platform::Crl& crl() const { return crl_; }
    bool hasCrl() const { return !crl_.empty(); }
    const diag::Utf8Text& idBase64() const { return idBase64_; }
    const diag::Utf8Text& id() const { return id_; }
    const diag::Utf8Text& issuer() const { return issuer_; }
    const diag::Utf8Text& issuerCommonName() const { return issuerCommonName_; }

private:
    void replaceCrl(platform::Crl crl);

    platform::Crl crl_;
    diag::Utf8Text idBase64_;
    diag::Utf8Text id_;
    diag::Utf8Text issuer_;
    diag::Utf8Text issuerCommonName_;
};

// The service document that carries a CRL, the shape the CRL endpoints answer.
std::string crlXml(std::string_view derBase64);

}  // namespace tessal::certs
