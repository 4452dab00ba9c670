#pragma once
// A cryptographic context: one acquired provider with at most one key and at
// most one hash in progress, and the certificate working set of that key,
// whose error record is the context's. Every failure is an entry there and a
// false result; nothing is thrown.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "digests/digest_algorithms.h"
#include "platform/crypto_provider.h"
#include "pki/query_kind.h"
#include "trust/certificate_context.h"

namespace tessal::crypto {

class CryptoContext {
public:
    CryptoContext();
    // Shares the other's provider, duplicates its hash in progress and copies
    // its working set; the key is not copied.
    CryptoContext(const CryptoContext& other);
    CryptoContext& operator=(const CryptoContext&) = delete;
    virtual ~CryptoContext();

    // Adds bytes to the hash in progress, creating it first with `algId`
    // (0 is SHA-1) when there is none.
    bool hashData(const std::uint8_t* data, std::size_t size, AlgId algId);
    void destroyHash();
    // Ends the provider binding early; the key and the working set stay.
    void releaseProvider();

    // Fetches a certificate into the working set's subject and imports its
    // public key as the context's key.
    bool importPublicKey(pki::PkiQueryKind kind, std::string_view key);
    bool importPublicKeyFromUrl(std::string_view url);

    // The working set's chain and CRL fetched by reference URL.
    bool addChainCertificateFromUrl(std::string_view url) { return certificates.addChainCertificateFromUrl(url); }
    bool fetchCrlFromUrl(std::string_view url) { return certificates.fetchCrlFromUrl(url); }

    diag::ErrorRecord& error() { return certificates.error; }
    const diag::ErrorRecord& error() const { return certificates.error; }
    bool holdsError() const { return certificates.holdsError(); }
    bool hasProvider() const { return provider_ != nullptr; }
    bool hasPublicKey() const { return publicKey_ != nullptr; }
    bool hashInProgress() const { return hash_ != nullptr; }

    trust::CertificateContext certificates;

protected:
    // Binds a verify-only provider without container; `place` is recorded
    // when none can be had.
    bool acquireVerifyProvider(int place);
    // Imports the subject's public key; `place` is recorded on failure.
    bool importSubjectKey(int place);

    std::shared_ptr<platform::CryptoProvider> provider_;
    std::unique_ptr<platform::PublicKey> publicKey_;
    std::unique_ptr<platform::HashObject> hash_;
};

}  // namespace tessal::crypto
