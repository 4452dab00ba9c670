#include "crypto/time_stamp_context.h"

namespace tessal::crypto {

namespace {
constexpr int kAcquirePlace = 1101;
}

TimeStampContext::TimeStampContext() { acquireVerifyProvider(kAcquirePlace); }

TimeStampContext::TimeStampContext(const TimeStampContext& other)
    : CryptoContext(other), generationTime(other.generationTime) {}

}  // namespace tessal::crypto
