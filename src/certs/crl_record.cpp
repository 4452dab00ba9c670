#include "certs/crl_record.h"

#include <chrono>

#include "certs/name_text.h"
#include "digests/digest_algorithms.h"
#include "diagnostics/error_record.h"
#include "diagnostics/message_catalogue.h"
#include "platform/clock.h"
#include "xmlsig/xml_escape.h"

namespace tessal::certs {

namespace {

data::Bytes withoutLeadingZeros(const data::Bytes& value) {
    std::size_t skip = 0;
    while (skip < value.size() && value[skip] == 0) ++skip;
    return data::Bytes(value.begin() + static_cast<std::ptrdiff_t>(skip), value.end());
}

}  // namespace

namespace {

constexpr std::string_view kCrlHead =
    "<QualifyingProperties Target=\"DS\" xmlns=\"http://uri.etsi.org/01903/v1.1.1#\"><UnsignedProperties>"
    "<UnsignedSignatureProperties><RevocationValues><CRLValues><EncapsulatedCRLValue>";
constexpr std::string_view kCrlTail =
    "</EncapsulatedCRLValue></CRLValues></RevocationValues></UnsignedSignatureProperties></UnsignedProperties>"
    "</QualifyingProperties>";

}  // namespace

std::string crlXml(std::string_view derBase64) {
    std::string document;
    document.reserve(kCrlHead.size() + derBase64.size() + kCrlTail.size());
    document.append(kCrlHead).append(xml::xmlEscaped(derBase64)).append(kCrlTail);
    return document;
}

CrlRecord::CrlRecord(const void* xml, std::size_t length) : XmlDocument(xml, length) { fromXml(); }

CrlRecord::CrlRecord(const CrlRecord& other) : XmlDocument() { *this = other; }

CrlRecord& CrlRecord::operator=(const CrlRecord& other) {
    if (this == &other) return *this;
    assignDocument(other);
    crl_ = other.crl_;
    idBase64_ = other.idBase64_;
    id_ = other.id_;
    issuer_ = other.issuer_;
    issuerCommonName_ = other.issuerCommonName_;
    return *this;
}

// The texts go with the CRL they describe, so a failed decode leaves none.
void CrlRecord::replaceCrl(platform::Crl crl) {
    crl_ = std::move(crl);
    idBase64_.clear();
    id_.clear();
    issuer_.clear();
    issuerCommonName_.clear();
}

bool CrlRecord::fromXml() {
    if (holdsError()) return false;
    const auto text = textAtPath(kCrlPath);
    if (!text) {
        diag::recordErrorCode(error_, 0, 802, 69);
        return false;
    }
    data::Bytes der;
    if (!data::base64Decode(*text, der)) {
        diag::recordErrorCode(error_, 0, 803, 7, {diag::kCategoryBase64});
        return false;
    }
    replaceCrl({});
    auto decoded = platform::Crl::decode(der.data(), der.size());
    if (!decoded) {
        diag::recordError(error_, 804, 11, {diag::kCategoryCrypto});
        return false;
    }
    replaceCrl(std::move(*decoded));

    std::string base64;
    std::string hex;
    const data::Bytes& bytes = crl_.der();
    if (!crypto::digestBase64(bytes.data(), bytes.size(), base64, crypto::CALG_SHA1) ||
        !crypto::digestHex(bytes.data(), bytes.size(), hex, crypto::CALG_SHA1)) {
        diag::recordError(error_, 805, 2, {diag::kCategoryCrypto});
        return false;
    }
    idBase64_ = diag::Utf8Text(std::move(base64));
    id_ = diag::Utf8Text(std::move(hex));

    issuer_ = diag::Utf8Text(nameText(crl_.issuer()));
    if (issuer_.empty()) {
        diag::recordErrorCode(error_, 0, 806, 85);
        return false;
    }
    issuerCommonName_ = diag::Utf8Text(commonNameOf(issuer_.str()));
    if (issuerCommonName_.empty()) {
        diag::recordErrorCode(error_, 0, 807, 85);
        return false;
    }
    return true;
}

bool CrlRecord::checkCrlValidity(Moment at) {
    if (crl_.empty()) return false;
    const std::int64_t moment = at.value_or(
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count());
    const auto nextUpdate = crl_.nextUpdate();
    if (nextUpdate && moment > *nextUpdate) {
        const platform::LocalTime t = platform::localTimeOf(*nextUpdate, 0).value_or(platform::LocalTime{});
        diag::recordErrorCode(error_, 0, 808, 70, {t.year, t.month, t.day, t.hour, t.minute, t.second});
        return false;
    }
    return true;
}

std::optional<std::int64_t> CrlRecord::revocationOf(const data::Bytes& serial) const {
    if (crl_.empty() || serial.empty()) return std::nullopt;
    const data::Bytes wanted = withoutLeadingZeros(serial);
    for (const platform::RevokedEntry& entry : crl_.entries()) {
        if (withoutLeadingZeros(entry.serial) == wanted) return entry.revocationTime.value_or(0);
    }
    return std::nullopt;
}

}  // namespace tessal::certs
