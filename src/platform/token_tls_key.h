#pragma once
// A TLS client identity whose private key stays in a token: the certificate
// comes as DER, and OpenSSL is given an RSA key with a method of its own that
// hands every private operation to an RsaPrivateOperation. OpenSSL pads (PSS
// or PKCS #1 v1.5) and the token only exponentiates, so TLS 1.3 and 1.2 both
// work; a token without raw RSA is limited to TLS 1.2 and PKCS #1 v1.5.
#include <openssl/ssl.h>

#include <memory>
#include <vector>

#include "platform/crypto_provider.h"
#include "platform/x509.h"

namespace tessal::platform {

class TokenTlsIdentity {
public:
    // Nothing, with the last error set, when the certificate cannot be
    // decoded (CRYPT_E_ASN1_BADTAG), holds no RSA key or not the operation's
    // (NTE_BAD_KEY), or memory runs out (NTE_NO_MEMORY). Issuers that cannot
    // be decoded are left out: they only help the server.
    static std::unique_ptr<TokenTlsIdentity> create(const ByteBlock& certificateDer,
                                                    const std::vector<ByteBlock>& issuersDer,
                                                    std::shared_ptr<RsaPrivateOperation> key);
    ~TokenTlsIdentity();
    TokenTlsIdentity(const TokenTlsIdentity&) = delete;
    TokenTlsIdentity& operator=(const TokenTlsIdentity&) = delete;

    // Makes the certificate and key the client identity of `context`.
    bool installInto(SSL_CTX* context) const;

private:
    TokenTlsIdentity(X509* certificate, EVP_PKEY* key, bool rawOperation)
        : certificate_(certificate), key_(key), rawOperation_(rawOperation) {}
    X509* certificate_;
    EVP_PKEY* key_;
    bool rawOperation_;
    std::vector<X509*> issuers_;
};

}  // namespace tessal::platform
