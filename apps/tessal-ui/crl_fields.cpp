#include "crl_fields.h"

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/objects.h>
#include <openssl/x509.h>

#include <climits>
#include <cstdio>
#include <ctime>
#include <memory>

namespace tessal::ui {
namespace {

struct CrlFree {
    void operator()(X509_CRL* crl) const { X509_CRL_free(crl); }
};
struct BioFree {
    void operator()(BIO* bio) const { BIO_free(bio); }
};

// RFC 2253 order and escaping, but UTF-8 kept as it is so that Lithuanian
// letters read as letters rather than as \XX escapes.
constexpr unsigned long kNameFlags = XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB;

std::string nameText(const X509_NAME* name) {
    if (name == nullptr) return {};
    std::unique_ptr<BIO, BioFree> out(BIO_new(BIO_s_mem()));
    if (!out || X509_NAME_print_ex(out.get(), name, 0, kNameFlags) < 0) return {};
    const char* data = nullptr;
    const long size = BIO_get_mem_data(out.get(), &data);
    if (size <= 0 || data == nullptr) return {};
    return std::string(data, static_cast<std::size_t>(size));
}

std::string timeText(const ASN1_TIME* time) {
    std::tm parts{};
    if (time == nullptr || ASN1_TIME_to_tm(time, &parts) != 1) return {};
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", parts.tm_year + 1900, parts.tm_mon + 1,
                  parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec);
    return text;
}

std::string algorithmText(const X509_CRL* crl) {
    const X509_ALGOR* algorithm = nullptr;
    X509_CRL_get0_signature(crl, nullptr, &algorithm);
    if (algorithm == nullptr) return {};
    const ASN1_OBJECT* oid = nullptr;
    X509_ALGOR_get0(&oid, nullptr, nullptr, algorithm);
    if (oid == nullptr) return {};
    const int nid = OBJ_obj2nid(oid);
    if (nid != NID_undef) {
        if (const char* name = OBJ_nid2ln(nid)) return name;
    }
    char dotted[128];
    const int length = OBJ_obj2txt(dotted, sizeof dotted, oid, 1);
    if (length <= 0) return {};
    return std::string(dotted, static_cast<std::size_t>(length) < sizeof dotted ? length : sizeof dotted - 1);
}

std::string serialHex(const ASN1_INTEGER* serial) {
    if (serial == nullptr) return {};
    static constexpr char kDigits[] = "0123456789ABCDEF";
    const unsigned char* bytes = ASN1_STRING_get0_data(serial);
    const int length = ASN1_STRING_length(serial);
    std::string text;
    if (ASN1_STRING_type(serial) == V_ASN1_NEG_INTEGER) text.push_back('-');
    if (bytes == nullptr || length <= 0) return text + "00";
    text.reserve(text.size() + 2 * static_cast<std::size_t>(length));
    for (int i = 0; i < length; ++i) {
        text.push_back(kDigits[bytes[i] >> 4]);
        text.push_back(kDigits[bytes[i] & 0x0F]);
    }
    return text;
}

}  // namespace

std::optional<CrlFields> readCrlFields(const std::vector<std::uint8_t>& der, std::size_t maxListed) {
    if (der.empty() || der.size() > static_cast<std::size_t>(LONG_MAX)) return std::nullopt;
    const unsigned char* cursor = der.data();
    std::unique_ptr<X509_CRL, CrlFree> crl(d2i_X509_CRL(nullptr, &cursor, static_cast<long>(der.size())));
    if (!crl) return std::nullopt;

    CrlFields fields;
    fields.issuer = nameText(X509_CRL_get_issuer(crl.get()));
    fields.thisUpdate = timeText(X509_CRL_get0_lastUpdate(crl.get()));
    fields.nextUpdate = timeText(X509_CRL_get0_nextUpdate(crl.get()));
    fields.algorithm = algorithmText(crl.get());

    STACK_OF(X509_REVOKED)* entries = X509_CRL_get_REVOKED(crl.get());
    const int count = entries ? sk_X509_REVOKED_num(entries) : 0;
    fields.revokedTotal = count > 0 ? static_cast<std::size_t>(count) : 0;
    const std::size_t listed = fields.revokedTotal < maxListed ? fields.revokedTotal : maxListed;
    fields.revoked.reserve(listed);
    for (std::size_t i = 0; i < listed; ++i) {
        const X509_REVOKED* entry = sk_X509_REVOKED_value(entries, static_cast<int>(i));
        fields.revoked.push_back({serialHex(X509_REVOKED_get0_serialNumber(entry)),
                                  timeText(X509_REVOKED_get0_revocationDate(entry))});
    }
    return fields;
}

}  // namespace tessal::ui
