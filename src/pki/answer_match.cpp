#include "pki/answer_match.h"

#include <string>

namespace tessal::pki {

namespace {

bool sameHex(const diag::Utf8Text& value, std::string_view key) {
    const std::string& text = value.str();
    if (text.empty() || text.size() != key.size()) return false;
    for (std::size_t i = 0; i < key.size(); ++i) {
        char a = text[i];
        char b = key[i];
        if (a >= 'a' && a <= 'f') a = static_cast<char>(a - 'a' + 'A');
        if (b >= 'a' && b <= 'f') b = static_cast<char>(b - 'a' + 'A');
        if (a != b) return false;
    }
    return true;
}

}  // namespace

bool certificateAnswersKey(const certs::CertificateRecord& record, PkiQueryKind kind, std::string_view key) {
    if (!record.hasCertificate()) return false;
    switch (kind) {
        case CertByHash:
            return sameHex(record.id(), key) || sameHex(record.sha256Id(), key) || sameHex(record.sha384Id(), key) ||
                   sameHex(record.sha512Id(), key);
        case CertByKeyHash: return sameHex(record.keyHash(), key);
        case CertBySubject: return record.subject().str() == key;
        case CertByIssuerSerial: return record.issuer().str() + "&" + record.serialNumber().str() == key;
        case CertByCommonName: return record.subjectCommonName().str() == key;
        default: return false;
    }
}

bool crlAnswersKey(const certs::CrlRecord& record, PkiQueryKind kind, std::string_view key) {
    if (!record.hasCrl()) return false;
    switch (kind) {
        case CrlByHash: return sameHex(record.id(), key);
        case CrlByName: return record.issuerCommonName().str() == key;
        default: return false;
    }
}

}  // namespace tessal::pki
