#include "support/test_pki.h"

#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <chrono>
#include <stdexcept>

namespace tessal::test {

namespace {

KeyHandle generate(const char* algorithm, bool rsa) {
    EVP_PKEY* key = nullptr;
    if (rsa) {
        key = EVP_PKEY_Q_keygen(nullptr, nullptr, algorithm, static_cast<size_t>(1024));
    } else {
        key = EVP_PKEY_Q_keygen(nullptr, nullptr, algorithm, "P-256");
    }
    if (!key) throw std::runtime_error("key generation failed");
    return KeyHandle(key, EVP_PKEY_free);
}

X509_NAME* nameOf(const Name& attributes) {
    X509_NAME* name = X509_NAME_new();
    for (const Attribute& a : attributes) {
        if (X509_NAME_add_entry_by_txt(name, a.type.c_str(), MBSTRING_UTF8,
                                       reinterpret_cast<const unsigned char*>(a.value.data()),
                                       static_cast<int>(a.value.size()), -1, a.sameRdn ? -1 : 0) != 1) {
            X509_NAME_free(name);
            throw std::runtime_error("bad name attribute " + a.type);
        }
    }
    return name;
}

ASN1_TIME* timeOf(std::int64_t seconds) { return ASN1_TIME_set(nullptr, static_cast<time_t>(seconds)); }

data::Bytes derOf(int length, unsigned char* der) {
    if (length <= 0) throw std::runtime_error("encoding failed");
    data::Bytes out(der, der + length);
    OPENSSL_free(der);
    return out;
}

}  // namespace

std::int64_t secondsNow() {
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

KeyHandle rsaKey() {
    static const KeyHandle key = generate("RSA", true);
    return key;
}

KeyHandle otherRsaKey() {
    static const KeyHandle key = generate("RSA", true);
    return key;
}

KeyHandle ecKey() {
    static const KeyHandle key = generate("EC", false);
    return key;
}

data::Bytes makeCertificate(const CertPlan& plan) {
    const KeyHandle key = plan.key ? plan.key : rsaKey();
    const KeyHandle signer = plan.signer ? plan.signer : key;
    const std::int64_t now = secondsNow();
    X509* x = X509_new();
    X509_set_version(x, 2);
    BIGNUM* bn = BN_bin2bn(plan.serial.data(), static_cast<int>(plan.serial.size()), nullptr);
    ASN1_INTEGER* serial = BN_to_ASN1_INTEGER(bn, nullptr);
    X509_set_serialNumber(x, serial);
    ASN1_INTEGER_free(serial);
    BN_free(bn);
    X509_NAME* subject = nameOf(plan.subject);
    X509_NAME* issuer = nameOf(plan.issuer.value_or(plan.subject));
    X509_set_subject_name(x, subject);
    X509_set_issuer_name(x, issuer);
    X509_NAME_free(subject);
    X509_NAME_free(issuer);
    ASN1_TIME* from = timeOf(plan.notBefore ? plan.notBefore : now - 86400);
    ASN1_TIME* to = timeOf(plan.notAfter ? plan.notAfter : now + 365 * 86400);
    X509_set1_notBefore(x, from);
    X509_set1_notAfter(x, to);
    ASN1_TIME_free(from);
    ASN1_TIME_free(to);
    X509_set_pubkey(x, key.get());
    if (X509_sign(x, signer.get(), EVP_sha256()) <= 0) {
        X509_free(x);
        throw std::runtime_error("signing failed");
    }
    unsigned char* der = nullptr;
    const int length = i2d_X509(x, &der);
    X509_free(x);
    return derOf(length, der);
}

data::Bytes makeCrl(const CrlPlan& plan) {
    const KeyHandle signer = plan.signer ? plan.signer : rsaKey();
    const std::int64_t now = secondsNow();
    X509_CRL* c = X509_CRL_new();
    X509_CRL_set_version(c, 1);
    X509_NAME* issuer = nameOf(plan.issuer);
    X509_CRL_set_issuer_name(c, issuer);
    X509_NAME_free(issuer);
    ASN1_TIME* last = timeOf(plan.thisUpdate ? plan.thisUpdate : now - 3600);
    X509_CRL_set1_lastUpdate(c, last);
    ASN1_TIME_free(last);
    if (plan.nextUpdate) {
        ASN1_TIME* next = timeOf(*plan.nextUpdate ? *plan.nextUpdate : now + 7 * 86400);
        X509_CRL_set1_nextUpdate(c, next);
        ASN1_TIME_free(next);
    }
    for (const data::Bytes& serialBytes : plan.revoked) {
        X509_REVOKED* entry = X509_REVOKED_new();
        BIGNUM* bn = BN_bin2bn(serialBytes.data(), static_cast<int>(serialBytes.size()), nullptr);
        ASN1_INTEGER* serial = BN_to_ASN1_INTEGER(bn, nullptr);
        X509_REVOKED_set_serialNumber(entry, serial);
        ASN1_INTEGER_free(serial);
        BN_free(bn);
        ASN1_TIME* when = timeOf(plan.revocationTime ? plan.revocationTime : now - 1800);
        X509_REVOKED_set_revocationDate(entry, when);
        ASN1_TIME_free(when);
        X509_CRL_add0_revoked(c, entry);
    }
    if (X509_CRL_sign(c, signer.get(), EVP_sha256()) <= 0) {
        X509_CRL_free(c);
        throw std::runtime_error("CRL signing failed");
    }
    unsigned char* der = nullptr;
    const int length = i2d_X509_CRL(c, &der);
    X509_CRL_free(c);
    return derOf(length, der);
}

std::string certificateDocument(const data::Bytes& der) {
    std::string base64;
    data::base64Encode(der, base64);
    return "<QualifyingProperties xmlns=\"http://uri.etsi.org/01903/v1.1.1#\"><UnsignedProperties>"
           "<UnsignedSignatureProperties><CertificateValues><EncapsulatedX509Certificate>" +
           base64 +
           "</EncapsulatedX509Certificate></CertificateValues></UnsignedSignatureProperties></UnsignedProperties>"
           "</QualifyingProperties>";
}

std::string crlDocument(const data::Bytes& der) {
    std::string base64;
    data::base64Encode(der, base64);
    return "<QualifyingProperties xmlns=\"http://uri.etsi.org/01903/v1.1.1#\"><UnsignedProperties>"
           "<UnsignedSignatureProperties><RevocationValues><CRLValues><EncapsulatedCRLValue>" +
           base64 +
           "</EncapsulatedCRLValue></CRLValues></RevocationValues></UnsignedSignatureProperties>"
           "</UnsignedProperties></QualifyingProperties>";
}

}  // namespace tessal::test
