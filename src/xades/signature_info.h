#pragma once
// The outcome of the last signing or verification run, kept by the Sign
// object for the information window and the control's face. Created empty for
// every run; a signature job only points at it.
#include <cstdint>
#include <vector>

#include "diagnostics/error_record.h"
#include "trust/certificate_context.h"
#include "xmlsig/message_header.h"

namespace tessal::xml {

// Times are counts of 100 ns since 1601-01-01 UTC; 0 means none.
using Timestamp100ns = std::uint64_t;

// One archive time-stamp that passed its check.
struct TimeStampRecord {
    std::uint32_t valid = 1;  // only checked time-stamps are kept
    Timestamp100ns generationTime = 0;
    trust::CertificateContext authority;
};

class SignatureInfo {
public:
    diag::ErrorRecord error;
    std::vector<std::uint8_t> signatureBytes;
    trust::CertificateContext signer;
    MessageHeader messageHeader;
    std::uint32_t timeStampPresent = 0;
    Timestamp100ns timeStampTime = 0;
    trust::CertificateContext timeStampAuthority;
    std::vector<TimeStampRecord> archiveTimeStamps;
    std::uint32_t contentChanged = 0;
    std::uint32_t signaturePresent = 0;
    Timestamp100ns signingTime = 0;

    // Appends the record of an archive time-stamp that passed its check, in
    // document order; the caller fills in its authority.
    TimeStampRecord& addArchiveTimeStamp(Timestamp100ns generationTime);
};

}  // namespace tessal::xml
