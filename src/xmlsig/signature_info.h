#pragma once
// The outcome of the last signing or verification run, kept by the Sign
// object for the information window and the control's face.
#include <cstdint>
#include <vector>

#include "diagnostics/error_record.h"
#include "xmlsig/message_header.h"

namespace tessal::xml {

// Times are 100-ns intervals since 1601-01-01 UTC; 0 means none.
using FileTime64 = std::uint64_t;

struct TimeStampRecord {
    std::uint32_t valid = 1;
    FileTime64 generationTime = 0;
    // The time-stamp authority's certificate working set stands here.
};

struct SignatureInfo {
    diag::ErrorRecord error;
    std::vector<std::uint8_t> signatureBytes;
    // The signer's certificate working set stands here.
    MessageHeader messageHeader;
    std::uint32_t timeStampPresent = 0;
    FileTime64 timeStampTime = 0;
    // The signature time-stamp authority's certificate working set stands here.
    std::vector<TimeStampRecord> archiveTimeStamps;
    std::uint32_t contentChanged = 0;
    std::uint32_t signaturePresent = 0;
    FileTime64 signingTime = 0;
};

}  // namespace tessal::xml
