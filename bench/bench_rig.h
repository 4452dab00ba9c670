#pragma once
// The signing rig the benchmarks share: a minted test PKI, a SoftHSM2 token
// holding the signer's key, a configuration that names the token, the
// certificates already in the store (nothing goes to a certificate service),
// and business messages of about 10 KB, 1 MB and 10 MB, each signed once.
//
// Set-up needs openssl, softhsm2-util and pkcs11-tool (Debian packages
// openssl, softhsm2, opensc).
#include <cstddef>
#include <map>
#include <memory>
#include <string>

#include "tessal/sign.h"

namespace tessal::bench {

std::string readAll(const std::string& path);
void writeAll(const std::string& path, const std::string& bytes);
bool run(const std::string& command);

// A business message grown to at least `bytes`.
std::string businessDocument(std::size_t bytes);

// The document sizes every benchmark uses, smallest first.
inline constexpr std::size_t kDocumentSizes[] = {10u << 10, 1u << 20, 10u << 20};

struct Rig {
    std::string dir;  // pki/, hsm/, tessal.conf, doc-SIZE.xml, signed-SIZE.xml
    bool ready = false;
    std::map<std::size_t, std::string> documents;  // by size in bytes
    std::map<std::size_t, std::string> signedDocuments;
    std::unique_ptr<Sign> sign;

    // Mints into `folder` (made when missing), or into a fresh temporary
    // folder when `folder` is empty. `ready` says whether every step held.
    explicit Rig(std::string folder = "");
};

}  // namespace tessal::bench
