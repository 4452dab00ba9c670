#pragma once
// The verify-only context that checks one time-stamp token: the token's
// generation time once its TSTInfo is decoded, and the decoded TSTInfo
// elements. Its working set receives the time-stamp authority's certificate.
#include <cstdint>
#include <optional>
#include <vector>

#include "crypto/crypto_context.h"
#include "platform/x509.h"

namespace tessal::crypto {

// Counts of 100 ns since 1601-01-01 UTC.
using FileTime = std::uint64_t;

inline constexpr std::int64_t kFileTimeEpochOffset = 11644473600;  // seconds from 1601 to 1970

inline std::int64_t secondsOfFileTime(FileTime time) {
    return static_cast<std::int64_t>(time / 10000000u) - kFileTimeEpochOffset;
}
inline FileTime fileTimeOfSeconds(std::int64_t seconds) {
    return static_cast<FileTime>(seconds + kFileTimeEpochOffset) * 10000000u;
}

class TimeStampContext : public CryptoContext {
public:
    TimeStampContext();
    // The copy keeps the generation time but not the decoded TSTInfo.
    TimeStampContext(const TimeStampContext& other);

    std::optional<FileTime> generationTime;
    std::vector<platform::ByteBlock> tstInfo;
};

}  // namespace tessal::crypto
