#include "platform/x509.h"

#include <openssl/asn1.h>
#include <openssl/objects.h>
#include <openssl/x509.h>

#include <ctime>

#include "platform/last_error.h"
#include "platform/x509_names.h"

namespace tessal::platform {

namespace {

constexpr std::uint32_t kAsn1BadTag = 0x8009310Bu;  // CRYPT_E_ASN1_BADTAG

X509* cert(void* h) { return static_cast<X509*>(h); }
X509_CRL* crl(void* h) { return static_cast<X509_CRL*>(h); }

// The whole dotted form, however long: two identifiers that differ only past
// a fixed buffer must not read the same.
std::string dottedOid(const ASN1_OBJECT* object) {
    char buffer[256];
    const int n = OBJ_obj2txt(buffer, sizeof buffer, object, 1);
    if (n <= 0) return {};
    if (static_cast<std::size_t>(n) < sizeof buffer) return std::string(buffer, static_cast<std::size_t>(n));
    std::string text(static_cast<std::size_t>(n) + 1, '\0');
    const int again = OBJ_obj2txt(text.data(), static_cast<int>(text.size()), object, 1);
    if (again != n) return {};
    text.resize(static_cast<std::size_t>(n));
    return text;
}

// The value of a name attribute as UTF-8. A T61String is read as UTF-8 when
// its bytes are valid UTF-8 (as issuers commonly write it), else as Latin-1.
// Nothing when the value is not a string type or cannot be converted.
std::optional<std::string> utf8ValueOf(const ASN1_STRING* data) {
    if (!data) return std::nullopt;
    unsigned char* utf8 = nullptr;
    int length = -1;
    if (ASN1_STRING_type(data) == V_ASN1_T61STRING) {
        ASN1_STRING* asUtf8 = ASN1_STRING_type_new(V_ASN1_UTF8STRING);
        if (asUtf8 && ASN1_STRING_set(asUtf8, ASN1_STRING_get0_data(data), ASN1_STRING_length(data)) == 1) {
            // Fails for bytes that are not UTF-8; the Latin-1 reading follows.
            length = ASN1_STRING_to_UTF8(&utf8, asUtf8);
        }
        ASN1_STRING_free(asUtf8);
    }
    if (length < 0) length = ASN1_STRING_to_UTF8(&utf8, data);
    if (length < 0) return std::nullopt;
    std::string value(reinterpret_cast<const char*>(utf8), static_cast<std::size_t>(length));
    OPENSSL_free(utf8);
    return value;
}

// The DER of an attribute value, for values shown in hexadecimal.
ByteBlock encodedValueOf(const ASN1_STRING* data) {
    ByteBlock out;
    ASN1_TYPE* any = ASN1_TYPE_new();
    if (any && data && ASN1_TYPE_set1(any, ASN1_STRING_type(data), data) == 1) {
        unsigned char* der = nullptr;
        const int n = i2d_ASN1_TYPE(any, &der);
        if (n > 0) out.assign(der, der + n);
        OPENSSL_free(der);
    }
    ASN1_TYPE_free(any);
    return out;
}

std::optional<std::int64_t> secondsOf(const ASN1_TIME* time) {
    if (!time) return std::nullopt;
    std::tm tm{};
    if (ASN1_TIME_to_tm(time, &tm) != 1) return std::nullopt;
    return static_cast<std::int64_t>(timegm(&tm));
}

}  // namespace

namespace detail {

std::vector<NameEntry> entriesOf(const X509_NAME* name) {
    std::vector<NameEntry> out;
    if (!name) return out;
    const int count = X509_NAME_entry_count(name);
    for (int i = 0; i < count; ++i) {
        const X509_NAME_ENTRY* entry = X509_NAME_get_entry(name, i);
        NameEntry item;
        const ASN1_OBJECT* object = X509_NAME_ENTRY_get_object(entry);
        item.oid = dottedOid(object);
        const int nid = OBJ_obj2nid(object);
        if (nid != NID_undef) {
            if (const char* sn = OBJ_nid2sn(nid)) item.shortName = sn;
        }
        item.rdn = X509_NAME_ENTRY_set(entry);
        const ASN1_STRING* data = X509_NAME_ENTRY_get_data(entry);
        std::optional<std::string> value = utf8ValueOf(data);
        // Texts travel as NUL-terminated strings further on, where a NUL
        // would silently cut the name; such a value is shown as its encoding.
        if (value && value->find('\0') == std::string::npos) {
            item.value = std::move(*value);
        } else {
            item.isText = false;
            item.encoded = encodedValueOf(data);
        }
        out.push_back(std::move(item));
    }
    return out;
}

ByteBlock integerContent(const ASN1_INTEGER* value) {
    ByteBlock out;
    if (!value) return out;
    unsigned char* der = nullptr;
    const int n = i2d_ASN1_INTEGER(value, &der);
    if (n < 2) {
        OPENSSL_free(der);
        return out;
    }
    std::size_t at = 1;
    std::size_t length = der[at++];
    if (length & 0x80) {
        const std::size_t octets = length & 0x7F;
        length = 0;
        for (std::size_t k = 0; k < octets && at < static_cast<std::size_t>(n); ++k) length = (length << 8) | der[at++];
    }
    if (at + length <= static_cast<std::size_t>(n)) out.assign(der + at, der + at + length);
    OPENSSL_free(der);
    return out;
}

}  // namespace detail

// ---- Certificate ----

Certificate::~Certificate() { X509_free(cert(handle_)); }

Certificate::Certificate(const Certificate& other) : handle_(other.handle_), der_(other.der_) {
    if (handle_) X509_up_ref(cert(handle_));
}

Certificate& Certificate::operator=(const Certificate& other) {
    if (this != &other) {
        if (other.handle_) X509_up_ref(cert(other.handle_));
        X509_free(cert(handle_));
        handle_ = other.handle_;
        der_ = other.der_;
    }
    return *this;
}

Certificate::Certificate(Certificate&& other) noexcept : handle_(other.handle_), der_(std::move(other.der_)) {
    other.handle_ = nullptr;
    other.der_.clear();
}

Certificate& Certificate::operator=(Certificate&& other) noexcept {
    if (this != &other) {
        X509_free(cert(handle_));
        handle_ = other.handle_;
        der_ = std::move(other.der_);
        other.handle_ = nullptr;
        other.der_.clear();
    }
    return *this;
}

std::optional<Certificate> Certificate::decode(const std::uint8_t* data, std::size_t size) {
    if (!data || size == 0 || size > 0x7FFFFFFF) {
        setLastError(kAsn1BadTag);
        return std::nullopt;
    }
    const unsigned char* p = data;
    X509* x = d2i_X509(nullptr, &p, static_cast<long>(size));
    if (!x) {
        setLastError(kAsn1BadTag);
        return std::nullopt;
    }
    Certificate out;
    out.handle_ = x;
    out.der_.assign(data, p);
    return out;
}

std::vector<NameEntry> Certificate::subject() const {
    return handle_ ? detail::entriesOf(X509_get_subject_name(cert(handle_))) : std::vector<NameEntry>{};
}

std::vector<NameEntry> Certificate::issuer() const {
    return handle_ ? detail::entriesOf(X509_get_issuer_name(cert(handle_))) : std::vector<NameEntry>{};
}

ByteBlock Certificate::serial() const {
    return handle_ ? detail::integerContent(X509_get0_serialNumber(cert(handle_))) : ByteBlock{};
}

std::optional<std::int64_t> Certificate::notBefore() const {
    return handle_ ? secondsOf(X509_get0_notBefore(cert(handle_))) : std::nullopt;
}

std::optional<std::int64_t> Certificate::notAfter() const {
    return handle_ ? secondsOf(X509_get0_notAfter(cert(handle_))) : std::nullopt;
}

std::string Certificate::publicKeyAlgorithm() const {
    if (!handle_) return {};
    X509_PUBKEY* key = X509_get_X509_PUBKEY(cert(handle_));
    ASN1_OBJECT* algorithm = nullptr;
    if (!key || X509_PUBKEY_get0_param(&algorithm, nullptr, nullptr, nullptr, key) != 1 || !algorithm) return {};
    return dottedOid(algorithm);
}

bool Certificate::rsaPublicKey(ByteBlock& modulus, ByteBlock& exponent) const {
    modulus.clear();
    exponent.clear();
    if (!handle_) return false;
    const ASN1_BIT_STRING* bits = X509_get0_pubkey_bitstr(cert(handle_));
    if (!bits || ASN1_STRING_length(bits) <= 0) return false;
    const unsigned char* start = ASN1_STRING_get0_data(bits);
    const unsigned char* p = start;
    const long length = ASN1_STRING_length(bits);
    ASN1_SEQUENCE_ANY* items = d2i_ASN1_SEQUENCE_ANY(nullptr, &p, length);
    if (!items) return false;
    bool ok = p == start + length && sk_ASN1_TYPE_num(items) == 2;
    for (int i = 0; ok && i < 2; ++i) {
        const ASN1_TYPE* item = sk_ASN1_TYPE_value(items, i);
        if (ASN1_TYPE_get(item) != V_ASN1_INTEGER || ASN1_STRING_type(item->value.integer) != V_ASN1_INTEGER) {
            ok = false;
            break;
        }
        const ASN1_INTEGER* value = item->value.integer;
        const unsigned char* digits = ASN1_STRING_get0_data(value);
        ByteBlock& target = i == 0 ? modulus : exponent;
        target.assign(digits, digits + ASN1_STRING_length(value));
    }
    sk_ASN1_TYPE_pop_free(items, ASN1_TYPE_free);
    if (!ok) {
        modulus.clear();
        exponent.clear();
    }
    return ok;
}

bool Certificate::signedBy(const Certificate& issuer) const {
    if (!handle_ || !issuer.handle_) return false;
    EVP_PKEY* key = X509_get0_pubkey(cert(issuer.handle_));
    return key && X509_verify(cert(handle_), key) == 1;
}

// ---- Crl ----

Crl::~Crl() { X509_CRL_free(crl(handle_)); }

Crl::Crl(const Crl& other) : handle_(other.handle_), der_(other.der_) {
    if (handle_) X509_CRL_up_ref(crl(handle_));
}

Crl& Crl::operator=(const Crl& other) {
    if (this != &other) {
        if (other.handle_) X509_CRL_up_ref(crl(other.handle_));
        X509_CRL_free(crl(handle_));
        handle_ = other.handle_;
        der_ = other.der_;
    }
    return *this;
}

Crl::Crl(Crl&& other) noexcept : handle_(other.handle_), der_(std::move(other.der_)) {
    other.handle_ = nullptr;
    other.der_.clear();
}

Crl& Crl::operator=(Crl&& other) noexcept {
    if (this != &other) {
        X509_CRL_free(crl(handle_));
        handle_ = other.handle_;
        der_ = std::move(other.der_);
        other.handle_ = nullptr;
        other.der_.clear();
    }
    return *this;
}

std::optional<Crl> Crl::decode(const std::uint8_t* data, std::size_t size) {
    if (!data || size == 0 || size > 0x7FFFFFFF) {
        setLastError(kAsn1BadTag);
        return std::nullopt;
    }
    const unsigned char* p = data;
    X509_CRL* c = d2i_X509_CRL(nullptr, &p, static_cast<long>(size));
    if (!c) {
        setLastError(kAsn1BadTag);
        return std::nullopt;
    }
    Crl out;
    out.handle_ = c;
    out.der_.assign(data, p);
    return out;
}

std::vector<NameEntry> Crl::issuer() const {
    return handle_ ? detail::entriesOf(X509_CRL_get_issuer(crl(handle_))) : std::vector<NameEntry>{};
}

std::optional<std::int64_t> Crl::thisUpdate() const {
    return handle_ ? secondsOf(X509_CRL_get0_lastUpdate(crl(handle_))) : std::nullopt;
}

std::optional<std::int64_t> Crl::nextUpdate() const {
    return handle_ ? secondsOf(X509_CRL_get0_nextUpdate(crl(handle_))) : std::nullopt;
}

std::vector<RevokedEntry> Crl::entries() const {
    std::vector<RevokedEntry> out;
    if (!handle_) return out;
    STACK_OF(X509_REVOKED)* revoked = X509_CRL_get_REVOKED(crl(handle_));
    const int count = revoked ? sk_X509_REVOKED_num(revoked) : 0;
    for (int i = 0; i < count; ++i) {
        const X509_REVOKED* entry = sk_X509_REVOKED_value(revoked, i);
        out.push_back({detail::integerContent(X509_REVOKED_get0_serialNumber(entry)),
                       secondsOf(X509_REVOKED_get0_revocationDate(entry))});
    }
    return out;
}

bool Crl::issuedFor(const Certificate& subject, const Certificate& issuer) const {
    if (!handle_ || !subject.handle_ || !issuer.handle_) return false;
    const X509_NAME* listIssuer = X509_CRL_get_issuer(crl(handle_));
    if (X509_NAME_cmp(listIssuer, X509_get_issuer_name(cert(subject.handle_))) != 0 ||
        X509_NAME_cmp(listIssuer, X509_get_subject_name(cert(issuer.handle_))) != 0) {
        return false;
    }
    EVP_PKEY* key = X509_get0_pubkey(cert(issuer.handle_));
    return key && X509_CRL_verify(crl(handle_), key) == 1;
}

}  // namespace tessal::platform
