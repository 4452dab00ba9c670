#include "crypto/verifier_context.h"

#include <algorithm>

#include "diagnostics/message_catalogue.h"
#include "platform/last_error.h"

namespace tessal::crypto {

namespace {

constexpr int kAcquirePlace = 501;
constexpr int kMismatchPlace = 502;
constexpr int kDecodeIntoRawPlace = 503;
constexpr int kDecodePlace = 504;

constexpr int kMismatchMessage = 30;
constexpr int kDecodeMessage = 7;

}  // namespace

VerifierContext::VerifierContext() { acquireVerifyProvider(kAcquirePlace); }

bool VerifierContext::verify(const std::uint8_t* data, std::size_t size, AlgId algId, data::Bytes& signature) {
    destroyHash();
    if (!hashData(data, size, algId)) return false;
    const bool matches = publicKey_ && (publicKey_->verify(*hash_, signature.data(), signature.size()) || [&] {
                             std::reverse(signature.begin(), signature.end());
                             return publicKey_->verify(*hash_, signature.data(), signature.size());
                         }());
    destroyHash();
    if (!matches) {
        if (!publicKey_) platform::setLastError(platform::kNteBadKey);
        diag::recordError(error(), kMismatchPlace, kMismatchMessage);
        return false;
    }
    return true;
}

bool VerifierContext::verifyBase64(const std::uint8_t* data, std::size_t size, AlgId algId, std::string_view base64,
                                   data::Bytes* raw) {
    data::Bytes temporary;
    data::Bytes& decoded = raw ? *raw : temporary;
    decoded.clear();
    if (!data::base64Decode(base64, decoded)) {
        diag::recordErrorCode(error(), 0, raw ? kDecodeIntoRawPlace : kDecodePlace, kDecodeMessage,
                              {diag::kCategoryCrypto});
        return false;
    }
    return verify(data, size, algId, decoded);
}

}  // namespace tessal::crypto
