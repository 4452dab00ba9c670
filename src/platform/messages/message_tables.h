#pragma once
// The message tables of the code spaces other than errno. Each lookup answers
// the text of one code, a sentence without line end, or nullptr.
#include <cstdint>
#include <span>

namespace tessal::platform::messages {

struct CodeText {
    std::uint32_t code;
    const char* text;
};

inline const char* findText(std::span<const CodeText> table, std::uint32_t code) {
    for (const CodeText& entry : table) {
        if (entry.code == code) return entry.text;
    }
    return nullptr;
}

// Internet codes 12001..12175.
const char* internetText(std::uint32_t code);
// Smart-card statuses 0x8010xxxx.
const char* smartCardText(std::uint32_t code);
// Cryptographic, certificate and trust statuses 0x8009xxxx and 0x800Bxxxx.
const char* cryptoText(std::uint32_t code);
// PKCS#11 return values (CKR_*).
const char* pkcs11Text(std::uint32_t ckr);
// curl results (CURLcode).
const char* curlText(std::uint32_t result);
// HTTP reason phrases by status.
const char* httpReasonPhrase(std::uint32_t status);

}  // namespace tessal::platform::messages
