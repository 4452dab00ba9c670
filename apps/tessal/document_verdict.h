#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "tessal/sign.h"

namespace tessal::cli {

// What verifyXmlSign said about one document, as UTF-8 text.
struct DocumentVerdict {
    bool holds = false;
    std::string subject;  // the signer's subject when the signature holds
    std::string defects;  // every reason it does not, newest first
};

// Verifies `bytes` (taken over, not copied) with `sign` on the calling
// thread; the thread's error information is read and cleared.
DocumentVerdict verifyDocument(Sign& sign, std::vector<std::uint8_t> bytes);

}  // namespace tessal::cli
