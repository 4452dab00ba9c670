#pragma once
// Certificates and CRLs made in memory with libcrypto for the certificate
// suite: names attribute by attribute, any serial bytes, any validity period.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "data/codecs.h"

typedef struct evp_pkey_st EVP_PKEY;

namespace tessal::test {

using KeyHandle = std::shared_ptr<EVP_PKEY>;

// One 1024-bit RSA key and one P-256 key per process (generating keys is the
// slow part of the suite).
KeyHandle rsaKey();
KeyHandle otherRsaKey();
KeyHandle ecKey();

struct Attribute {
    std::string type;  // short name or dotted OID
    std::string value;
    bool sameRdn = false;  // joins the RDN of the attribute before it
};
using Name = std::vector<Attribute>;

struct CertPlan {
    Name subject{{"CN", "Jonas Jonaitis"}};
    std::optional<Name> issuer;  // the subject when not given
    data::Bytes serial{0x10, 0x01};
    std::int64_t notBefore = 0;  // seconds since 1970; 0: one day ago
    std::int64_t notAfter = 0;   // 0: one year from now
    KeyHandle key;               // the subject key; rsaKey() when null
    KeyHandle signer;            // `key` when null
};

data::Bytes makeCertificate(const CertPlan& plan);

struct CrlPlan {
    Name issuer{{"CN", "Root CA"}};
    std::int64_t thisUpdate = 0;                // 0: one hour ago
    std::optional<std::int64_t> nextUpdate{0};  // 0: one week from now; nothing: no NextUpdate
    std::vector<data::Bytes> revoked;
    std::int64_t revocationTime = 0;  // of every entry; 0: half an hour ago
    KeyHandle signer;
};

data::Bytes makeCrl(const CrlPlan& plan);

std::int64_t secondsNow();

// The service document shapes around Base64 DER.
std::string certificateDocument(const data::Bytes& der);
std::string crlDocument(const data::Bytes& der);

}  // namespace tessal::test
