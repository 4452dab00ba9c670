// RSA_METHOD is deprecated in OpenSSL 3 but remains the way to give a key's
// private operations to outside code: a key with a method of its own is
// "foreign" and stays on the legacy path, where OpenSSL pads and calls the
// method's private encryption.
#define OPENSSL_SUPPRESS_DEPRECATED

#include "platform/token_tls_key.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <limits>
#include <new>
#include <utility>

#include "platform/asn1_reader.h"
#include "platform/last_error.h"

namespace tessal::platform {

namespace {

// Signature schemes a token without raw RSA can still serve (TLS 1.2 only).
constexpr const char* kPkcs1Schemes = "RSA+SHA256:RSA+SHA384:RSA+SHA512";

// What an RSA key of ours carries in its ex_data slot.
struct OperationHolder {
    std::shared_ptr<RsaPrivateOperation> operation;
};

int holderIndex() {
    static const int index = RSA_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return index;
}

OperationHolder* holderOf(RSA* rsa) { return static_cast<OperationHolder*>(RSA_get_ex_data(rsa, holderIndex())); }

int tokenPrivateEncrypt(int size, const unsigned char* from, unsigned char* to, RSA* rsa, int padding) {
    OperationHolder* holder = holderOf(rsa);
    if (!holder || size < 0) return -1;
    RsaPrivateOperation::Padding kind;
    switch (padding) {
        case RSA_PKCS1_PADDING: kind = RsaPrivateOperation::Padding::Pkcs1; break;
        case RSA_NO_PADDING: kind = RsaPrivateOperation::Padding::None; break;
        default: return -1;
    }
    if (!holder->operation->apply(kind, from, static_cast<std::size_t>(size), to)) return -1;
    return static_cast<int>(holder->operation->modulusSize());
}

// The token key never decrypts for a TLS client.
int tokenPrivateDecrypt(int, const unsigned char*, unsigned char*, RSA*, int) { return -1; }

int tokenFinish(RSA* rsa) {
    delete holderOf(rsa);
    RSA_set_ex_data(rsa, holderIndex(), nullptr);
    // The public operations are the default method's: so is the rest of the clean-up.
    const auto defaultFinish = RSA_meth_get_finish(RSA_PKCS1_OpenSSL());
    return defaultFinish ? defaultFinish(rsa) : 1;
}

// Made once and kept for the life of the process: every token key uses it.
const RSA_METHOD* tokenMethod() {
    static RSA_METHOD* const method = [] {
        RSA_METHOD* m = RSA_meth_dup(RSA_PKCS1_OpenSSL());
        if (m && (RSA_meth_set1_name(m, "token key") != 1 || RSA_meth_set_priv_enc(m, tokenPrivateEncrypt) != 1 ||
                  RSA_meth_set_priv_dec(m, tokenPrivateDecrypt) != 1 || RSA_meth_set_finish(m, tokenFinish) != 1)) {
            RSA_meth_free(m);
            m = nullptr;
        }
        return m;
    }();
    return method;
}

std::nullptr_t fail(std::uint32_t code) {
    ERR_clear_error();
    setLastError(code);
    return nullptr;
}

// The certificate encoded in `der`; nothing when it is not one.
X509* decodeCertificate(const ByteBlock& der) {
    if (der.empty() || der.size() > static_cast<std::size_t>(std::numeric_limits<long>::max())) return nullptr;
    const unsigned char* p = der.data();
    X509* certificate = d2i_X509(nullptr, &p, static_cast<long>(der.size()));
    if (!certificate) ERR_clear_error();
    return certificate;
}

// An RSA key with the certificate's public half whose private operations go
// to `operation`; nothing when the certificate's key is not RSA.
EVP_PKEY* tokenKey(X509* certificate, std::shared_ptr<RsaPrivateOperation> operation) {
    EVP_PKEY* publicKey = X509_get0_pubkey(certificate);
    if (!publicKey || EVP_PKEY_get_base_id(publicKey) != EVP_PKEY_RSA) return fail(kNteBadKey);
    BIGNUM* n = nullptr;
    BIGNUM* e = nullptr;
    if (EVP_PKEY_get_bn_param(publicKey, OSSL_PKEY_PARAM_RSA_N, &n) != 1 ||
        EVP_PKEY_get_bn_param(publicKey, OSSL_PKEY_PARAM_RSA_E, &e) != 1 ||
        static_cast<std::size_t>(BN_num_bytes(n)) != operation->modulusSize()) {
        BN_free(n);
        BN_free(e);
        return fail(kNteBadKey);
    }
    const RSA_METHOD* method = tokenMethod();
    RSA* rsa = method ? RSA_new() : nullptr;
    if (!rsa || RSA_set0_key(rsa, n, e, nullptr) != 1) {
        BN_free(n);
        BN_free(e);
        RSA_free(rsa);
        return fail(kNteNoMemory);
    }
    auto* holder = new (std::nothrow) OperationHolder{std::move(operation)};
    if (!holder || RSA_set_method(rsa, method) != 1 || RSA_set_ex_data(rsa, holderIndex(), holder) != 1) {
        if (holderOf(rsa) != holder) delete holder;
        RSA_free(rsa);
        return fail(kNteNoMemory);
    }
    EVP_PKEY* key = EVP_PKEY_new();
    if (!key || EVP_PKEY_assign_RSA(key, rsa) != 1) {
        EVP_PKEY_free(key);
        RSA_free(rsa);
        return fail(kNteNoMemory);
    }
    return key;
}

}  // namespace

std::unique_ptr<TokenTlsIdentity> TokenTlsIdentity::create(const ByteBlock& certificateDer,
                                                           const std::vector<ByteBlock>& issuersDer,
                                                           std::shared_ptr<RsaPrivateOperation> key) {
    if (!key) return fail(kNteBadKey);
    X509* certificate = decodeCertificate(certificateDer);
    if (!certificate) return fail(kAsn1BadTag);
    const bool raw = key->offers(RsaPrivateOperation::Padding::None);
    EVP_PKEY* tokenKeyPair = tokenKey(certificate, std::move(key));
    if (!tokenKeyPair) {
        X509_free(certificate);
        return nullptr;
    }
    std::unique_ptr<TokenTlsIdentity> identity(new (std::nothrow) TokenTlsIdentity(certificate, tokenKeyPair, raw));
    if (!identity) {
        X509_free(certificate);
        EVP_PKEY_free(tokenKeyPair);
        return fail(kNteNoMemory);
    }
    // Reserved first, so that no push_back throws with a decoded issuer in hand.
    identity->issuers_.reserve(issuersDer.size());
    for (const ByteBlock& der : issuersDer) {
        if (X509* issuer = decodeCertificate(der)) identity->issuers_.push_back(issuer);
    }
    return identity;
}

TokenTlsIdentity::~TokenTlsIdentity() {
    X509_free(certificate_);
    EVP_PKEY_free(key_);
    for (X509* issuer : issuers_) X509_free(issuer);
}

bool TokenTlsIdentity::installInto(SSL_CTX* context) const {
    bool installed = SSL_CTX_use_certificate(context, certificate_) == 1 && SSL_CTX_use_PrivateKey(context, key_) == 1;
    for (X509* issuer : issuers_) installed = installed && SSL_CTX_add1_chain_cert(context, issuer) == 1;
    // RSA-PSS, which TLS 1.3 requires, needs the raw operation.
    if (installed && !rawOperation_) {
        installed = SSL_CTX_set_max_proto_version(context, TLS1_2_VERSION) == 1 &&
                    SSL_CTX_set1_client_sigalgs_list(context, kPkcs1Schemes) == 1;
    }
    if (!installed) ERR_clear_error();
    return installed;
}

}  // namespace tessal::platform
