#include "platform/public_key_cache.h"

#include <openssl/x509.h>

#include <algorithm>
#include <cstddef>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/trap_released_lock.h"

namespace tessal::platform {

namespace {

// Enough for the signers, authorities and time-stamp units of a busy process.
constexpr std::size_t kKeysKept = 32;

struct KnownKey {
    ByteBlock der;
    EVP_PKEY* key;  // one reference held here
};

TrapReleasedMutex cacheMutex;
// Most recently used first. Never destroyed: the keys stay valid for any
// thread still verifying while the process exits.
std::vector<KnownKey>& knownKeys() {
    static auto* keys = new std::vector<KnownKey>();
    return *keys;
}

EVP_PKEY* decodeKey(const ByteBlock& der) {
    const unsigned char* p = der.data();
    X509* certificate = d2i_X509(nullptr, &p, static_cast<long>(der.size()));
    EVP_PKEY* key = certificate ? X509_get_pubkey(certificate) : nullptr;  // a reference of our own
    X509_free(certificate);
    return key;
}

}  // namespace

EVP_PKEY* publicKeyOfCertificate(const ByteBlock& der) {
    if (der.empty() || der.size() > 0x7FFFFFFF) return nullptr;
    {
        std::lock_guard lock(cacheMutex);
        std::vector<KnownKey>& keys = knownKeys();
        for (std::size_t i = 0; i < keys.size(); ++i) {
            if (keys[i].der != der) continue;
            EVP_PKEY* key = keys[i].key;
            if (EVP_PKEY_up_ref(key) != 1) return nullptr;
            std::rotate(keys.begin(), keys.begin() + static_cast<std::ptrdiff_t>(i),
                        keys.begin() + static_cast<std::ptrdiff_t>(i) + 1);
            return key;
        }
    }
    // Decoded outside the lock: other threads need not wait for it.
    EVP_PKEY* key = decodeKey(der);
    if (key == nullptr || EVP_PKEY_up_ref(key) != 1) return key;
    std::lock_guard lock(cacheMutex);
    std::vector<KnownKey>& keys = knownKeys();
    if (keys.size() == kKeysKept) {
        EVP_PKEY_free(keys.back().key);
        keys.pop_back();
    }
    keys.insert(keys.begin(), KnownKey{der, key});
    return key;
}

}  // namespace tessal::platform
