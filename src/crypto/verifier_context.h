#pragma once
// A verify-only context without key container: it checks signature values
// with a public key imported from the signer's certificate. Signature values
// are accepted in either byte order.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "crypto/crypto_context.h"
#include "data/codecs.h"

namespace tessal::crypto {

class VerifierContext : public CryptoContext {
public:
    VerifierContext();

    // Hashes the bytes and checks the signature, first as given, then with
    // its bytes reversed (the buffer is left in the order last tried).
    bool verify(const std::uint8_t* data, std::size_t size, AlgId algId, data::Bytes& signature);
    // The same with a Base64 signature value, decoded into `raw` when given.
    bool verifyBase64(const std::uint8_t* data, std::size_t size, AlgId algId, std::string_view base64,
                      data::Bytes* raw = nullptr);
};

}  // namespace tessal::crypto
