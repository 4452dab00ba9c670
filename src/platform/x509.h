#pragma once
// Decoded X.509 certificates and CRLs over libcrypto, in the shapes the
// certificate layer reads: DER bytes, name entries in encoded order, integers
// as their DER content octets, times as seconds since 1970 (UTC).
// Failed decodes set the thread's last error to CRYPT_E_ASN1_BADTAG.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tessal::platform {

using ByteBlock = std::vector<std::uint8_t>;

// One attribute of a distinguished name.
struct NameEntry {
    std::string oid;        // dotted form, e.g. "2.5.4.3"
    std::string shortName;  // the library's short name, "" when it has none
    std::string value;      // the value as UTF-8 when `isText`; never holds a NUL
    bool isText = true;
    ByteBlock encoded;  // the DER of the value when it is not a string type or its text holds a NUL
    int rdn = 0;        // index of the RDN (SET) the attribute belongs to
};

class Certificate {
public:
    Certificate() = default;
    ~Certificate();
    // Copies share the decoded object by reference count.
    Certificate(const Certificate& other);
    Certificate& operator=(const Certificate& other);
    Certificate(Certificate&& other) noexcept;
    Certificate& operator=(Certificate&& other) noexcept;

    // The certificate encoded at the start of `data`; nothing (and the last
    // error set) when the bytes are not one.
    static std::optional<Certificate> decode(const std::uint8_t* data, std::size_t size);

    bool empty() const { return handle_ == nullptr; }
    // The DER bytes the certificate was decoded from.
    const ByteBlock& der() const { return der_; }

    std::vector<NameEntry> subject() const;
    std::vector<NameEntry> issuer() const;
    // The content octets of the serial number INTEGER, most significant first.
    ByteBlock serial() const;
    std::optional<std::int64_t> notBefore() const;
    std::optional<std::int64_t> notAfter() const;

    // The dotted algorithm identifier of SubjectPublicKeyInfo.
    std::string publicKeyAlgorithm() const;
    // The subjectPublicKey bits read as RSAPublicKey { modulus, exponent },
    // each as unsigned magnitude, most significant byte first; false when the
    // bits are not that structure.
    bool rsaPublicKey(ByteBlock& modulus, ByteBlock& exponent) const;

    // True when `issuer`'s public key verifies this certificate's signature.
    bool signedBy(const Certificate& issuer) const;

private:
    friend class Crl;
    void* handle_ = nullptr;  // X509*
    ByteBlock der_;
};

struct RevokedEntry {
    ByteBlock serial;  // content octets, most significant first
    std::optional<std::int64_t> revocationTime;
};

class Crl {
public:
    Crl() = default;
    ~Crl();
    Crl(const Crl& other);
    Crl& operator=(const Crl& other);
    Crl(Crl&& other) noexcept;
    Crl& operator=(Crl&& other) noexcept;

    static std::optional<Crl> decode(const std::uint8_t* data, std::size_t size);

    bool empty() const { return handle_ == nullptr; }
    const ByteBlock& der() const { return der_; }
    std::vector<NameEntry> issuer() const;
    std::optional<std::int64_t> thisUpdate() const;
    // Nothing when the list carries no NextUpdate.
    std::optional<std::int64_t> nextUpdate() const;
    std::vector<RevokedEntry> entries() const;

    // True when the list speaks for `subject`'s issuer: its issuer name is
    // the one `subject` names as issuer, and the public key of `issuer` (a
    // certificate of that name) verifies the list's signature.
    bool issuedFor(const Certificate& subject, const Certificate& issuer) const;

private:
    void* handle_ = nullptr;  // X509_CRL*
    ByteBlock der_;
};

}  // namespace tessal::platform
