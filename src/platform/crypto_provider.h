#pragma once
// Cryptographic service providers: the objects a cryptographic context binds
// (a provider, its user keys, hashes in progress, imported public keys) in the
// shape the context logic relies on. The only signature scheme is
// RSASSA-PKCS1-v1_5, and signature bytes cross this interface least
// significant byte first, as the logic stores and expects them.
//
// Failures answer false or nothing and set the thread's last error to a
// cryptographic status (0x8009xxxx): NTE_BAD_ALGID when a provider does not
// offer a digest, NTE_BAD_SIGNATURE when a signature does not match,
// NTE_BAD_KEY or NTE_BAD_PUBLIC_KEY when a key cannot be imported,
// NTE_NO_KEY when a key spec holds no key, NTE_FAIL for library failures.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "platform/digest.h"
#include "platform/x509.h"

namespace tessal::platform {

inline constexpr std::uint32_t kNteBadKey = 0x80090003u;
inline constexpr std::uint32_t kNteBadSignature = 0x80090006u;
inline constexpr std::uint32_t kNteBadAlgorithm = 0x80090008u;
inline constexpr std::uint32_t kNteNoKey = 0x8009000Du;
inline constexpr std::uint32_t kNteNoMemory = 0x8009000Eu;
inline constexpr std::uint32_t kNteBadPublicKey = 0x80090015u;
inline constexpr std::uint32_t kNteBadKeyset = 0x80090016u;
inline constexpr std::uint32_t kNteKeysetNotDefined = 0x80090019u;
inline constexpr std::uint32_t kNteFail = 0x80090020u;

// The two key specs a container may hold a key pair under.
enum class KeySpec : std::uint32_t { Exchange = 1, Signature = 2 };

// One hash in progress (CryptCreateHash / CryptHashData / CryptDuplicateHash).
class HashObject {
public:
    virtual ~HashObject();
    virtual DigestKind kind() const = 0;
    virtual bool update(const std::uint8_t* data, std::size_t size) = 0;
    // An independent copy of the state so far; nothing on failure.
    virtual std::unique_ptr<HashObject> duplicate() const = 0;
    // The digest of everything fed so far; the hash stays usable.
    virtual std::optional<ByteBlock> value() const = 0;
};

// A public key imported from a certificate (CryptImportPublicKeyInfo).
class PublicKey {
public:
    virtual ~PublicKey();
    // True when `signature` (least significant byte first) is the key's
    // RSASSA-PKCS1-v1_5 signature of the hash's value (CryptVerifySignature).
    virtual bool verify(const HashObject& hash, const std::uint8_t* signature, std::size_t size) const = 0;
};

// The private half of an RSA key pair as a TLS handshake uses it to present
// the key's certificate. Blocks cross this interface most significant byte
// first. It holds what it needs of its container, so it stays usable after
// the UserKey that handed it out is gone.
class RsaPrivateOperation {
public:
    enum class Padding {
        Pkcs1,  // the input is the content of a PKCS #1 v1.5 signature block (a DigestInfo)
        None,   // the input is a whole block as long as the modulus, padded by the caller
    };
    virtual ~RsaPrivateOperation();
    virtual std::size_t modulusSize() const = 0;
    virtual bool offers(Padding padding) const = 0;
    // Writes modulusSize() bytes to `out`; false with the last error set.
    virtual bool apply(Padding padding, const std::uint8_t* input, std::size_t size, std::uint8_t* out) = 0;
};

// A key pair in a container (CryptGetUserKey / CryptSignHash).
class UserKey {
public:
    virtual ~UserKey();
    // The signature length in bytes for this hash, as a size query answers
    // it (0 is a possible answer of some providers).
    virtual std::optional<std::size_t> signatureSize(const HashObject& hash) = 0;
    // Signs the hash's value into `out` (at most `capacity` bytes), least
    // significant byte first; the length written, or nothing.
    virtual std::optional<std::size_t> sign(const HashObject& hash, std::uint8_t* out, std::size_t capacity) = 0;
    // The DER certificate kept with the key (KP_CERTIFICATE); nothing when
    // the container keeps none.
    virtual std::optional<ByteBlock> storedCertificate() { return std::nullopt; }
    // The public key as a CryptoAPI PUBLICKEYBLOB (PUBLICKEYSTRUC, RSAPUBKEY
    // "RSA1", modulus least significant byte first); nothing on failure.
    virtual std::optional<ByteBlock> publicKeyBlob() { return std::nullopt; }
    // The key's private operation for a TLS client handshake; nothing, with
    // NTE_BAD_ALGID in the last error, when the key cannot serve one.
    virtual std::shared_ptr<RsaPrivateOperation> privateOperation();
};

// An acquired provider; shared, so a copied context holds a reference on the
// same binding (CryptContextAddRef).
class CryptoProvider {
public:
    virtual ~CryptoProvider();
    virtual std::unique_ptr<HashObject> createHash(DigestKind kind) = 0;
    // The key pair under `spec`; nothing with NTE_NO_KEY when there is none.
    virtual std::unique_ptr<UserKey> userKey(KeySpec spec) = 0;
    // The certificate's SubjectPublicKeyInfo as a verifying key; only RSA
    // keys are accepted.
    virtual std::unique_ptr<PublicKey> importPublicKey(const Certificate& certificate) = 0;
};

// A verify-only provider with no container (CRYPT_VERIFYCONTEXT) computed
// in software; nothing when the library cannot start.
std::shared_ptr<CryptoProvider> acquireVerifyProvider();

// Test seam: replaces what acquireVerifyProvider answers; an empty function
// restores the software provider.
void setVerifyProviderFactoryForTesting(std::function<std::shared_ptr<CryptoProvider>()> factory);

}  // namespace tessal::platform
