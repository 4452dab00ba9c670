#include "crypto/signer_context.h"

#include <exception>

#include "diagnostics/message_catalogue.h"
#include "platform/key_store.h"
#include "platform/last_error.h"

namespace tessal::crypto {

namespace {

constexpr int kCardProviderPlace = 201;
constexpr int kHsmProviderPlace = 206;
constexpr int kSignHashPlace = 210;
constexpr int kNoKeyEitherSpecPlace = 211;
constexpr int kSignCallPlace = 212;
constexpr int kNoUserKeyPlace = 220;
constexpr int kCardSubsystemPlace = 221;
constexpr int kBase64Place = 221;
constexpr int kEmptySignaturePlace = 222;
constexpr int kNoDataPlace = 223;
constexpr int kSecondLengthPlace = 224;
constexpr int kBufferPlace = 225;
constexpr int kCardGonePlace = 226;
constexpr int kBadLengthPlace = 226;
constexpr int kCardAnswerPlace = 227;

constexpr int kHashMessage = 2;
constexpr int kBase64Message = 8;
constexpr int kProviderMessage = 29;
constexpr int kUserKeyMessage = 34;
constexpr int kSignMessage = 39;
constexpr int kCardSubsystemMessage = 41;
constexpr int kCardAnswerMessage = 44;
constexpr int kBufferMessage = 89;

// A provider that reports no length is asked to fill a buffer this large, and
// an answer of exactly this length counts as no signature.
constexpr std::size_t kUnknownLength = 111111;

platform::KeySpec otherSpec(platform::KeySpec spec) {
    return spec == platform::KeySpec::Signature ? platform::KeySpec::Exchange : platform::KeySpec::Signature;
}

}  // namespace

SignerContext::SignerContext(std::string_view reader, std::string_view provider, std::string_view container)
    : readerName_(reader.empty() ? kHsmReader : reader), providerName_(provider), containerName_(container) {
    if (isHsm()) {
        provider_ = platform::acquireContainer(providerName_, kHsmReader, containerName_);
        if (!provider_) {
            diag::recordError(error(), kHsmProviderPlace, kProviderMessage, {diag::kCategoryCrypto});
            return;
        }
    } else {
        cardSubsystem_ = platform::establishCardContext();
        if (!cardSubsystem_) {
            diag::recordError(error(), kCardSubsystemPlace, kCardSubsystemMessage, {diag::kCategoryCrypto});
            return;
        }
        provider_ = platform::acquireContainer(providerName_, readerName_, containerName_);
        if (!provider_) {
            const std::uint32_t code = platform::lastError();
            // A card without this key set is not a failure: the search judges it.
            if (code == platform::kNteBadKeyset || code == platform::kNteKeysetNotDefined) {
                platform::setLastError(0);
                return;
            }
            diag::recordError(error(), kCardProviderPlace, kProviderMessage, {diag::kCategoryCrypto});
            return;
        }
    }
    if (takeUserKey()) return;
    // A refused or missing PIN is not a missing key: asking for the other
    // key would present the wrong PIN to the card a second time.
    const std::uint32_t loginError = platform::lastError();
    if (loginError != platform::kScardWrongChv && loginError != platform::kScardCancelledByUser) {
        keySpec_ = platform::KeySpec::Signature;
        if (takeUserKey()) return;
    }
    diag::recordError(error(), kNoUserKeyPlace, kUserKeyMessage, {diag::kCategoryCrypto});
}

SignerContext::~SignerContext() {
    userKey_.reset();
    cardSubsystem_.reset();
}

bool SignerContext::takeUserKey() {
    {
        // A binding to the key pair left behind would present the wrong key.
        std::lock_guard guard(clientKeyLock_);
        clientKey_.reset();
    }
    userKey_ = provider_ ? provider_->userKey(keySpec_) : nullptr;
    return userKey_ != nullptr;
}

std::vector<platform::ByteBlock> SignerContext::issuerCertificates() const {
    std::vector<platform::ByteBlock> issuers;
    for (const certs::CertificateRecord& issuer : certificates.chain) issuers.push_back(issuer.certificate().der());
    return issuers;
}

bool SignerContext::clientKeyBound() const {
    std::lock_guard guard(clientKeyLock_);
    return clientKey_ != nullptr;
}

bool SignerContext::bindClientKey() {
    std::lock_guard guard(clientKeyLock_);
    if (clientKey_) return true;
    if (!userKey_) {
        platform::setLastError(platform::kNteNoKey);
        return false;
    }
    clientKey_ = userKey_->privateOperation();
    return clientKey_ != nullptr;
}

std::shared_ptr<platform::RsaPrivateOperation> SignerContext::clientKey() const {
    std::lock_guard guard(clientKeyLock_);
    return clientKey_;
}

bool SignerContext::checkCardPresent() {
    if (isHsm()) return true;
    if (!cardSubsystem_ || !cardSubsystem_->valid()) {
        diag::recordError(error(), kCardGonePlace, kCardSubsystemMessage, {diag::kCategoryCrypto});
        return false;
    }
    if (!cardSubsystem_->cardPresent(readerName_)) {
        diag::recordError(error(), kCardAnswerPlace, kCardAnswerMessage, {diag::kCategoryCrypto, readerName_});
        return false;
    }
    return true;
}

AlgId SignerContext::negotiateHashAlgorithm(AlgId requested) {
    AlgId a = requested == 0 ? CALG_SHA1 : requested;
    for (;;) {
        // Once fallen back to SHA-1 a context stays there.
        if (hashAlgorithm_ == CALG_SHA1) return CALG_SHA1;
        if (a == CALG_SHA1) {
            hashAlgorithm_ = CALG_SHA1;
            return CALG_SHA1;
        }
        if (a == hashAlgorithm_) return a;
        static const std::uint8_t probe = 'X';
        if (hashData(&probe, 1, a)) {
            hashAlgorithm_ = a;
            destroyHash();
            return a;
        }
        // The probe's text stays in the record; only its codes are cleared.
        error().lastError = 0;
        error().code = 0;
        if (a == CALG_SHA_512) {
            a = CALG_SHA_384;
        } else if (a == CALG_SHA_384) {
            a = CALG_SHA_256;
        } else {
            hashAlgorithm_ = CALG_SHA1;
            return CALG_SHA1;
        }
    }
}

bool SignerContext::sign(const std::uint8_t* data, std::size_t size, AlgId algId, data::Bytes& signature) {
    signature.clear();
    destroyHash();
    if (holdsError()) return false;
    if (data == nullptr || size == 0) {
        diag::recordError(error(), kNoDataPlace, kHashMessage, {diag::kCategoryCrypto});
        return false;
    }
    if (!hashData(data, size, algId)) {
        diag::recordError(error(), kSignHashPlace, kHashMessage, {diag::kCategoryCrypto});
        return false;
    }
    if (!checkCardPresent()) return false;

    auto fail = [&](int place) {
        diag::recordError(error(), place, kSignMessage, {diag::kCategoryCrypto});
        destroyHash();
        return false;
    };
    std::optional<std::size_t> length = userKey_ ? userKey_->signatureSize(*hash_) : std::nullopt;
    if (!userKey_) platform::setLastError(platform::kNteNoKey);
    if (!length && platform::lastError() == platform::kNteNoKey) {
        keySpec_ = otherSpec(keySpec_);
        length = takeUserKey() ? userKey_->signatureSize(*hash_) : std::nullopt;
        if (!length) return fail(kNoKeyEitherSpecPlace);
    } else if (!length) {
        return fail(kSignCallPlace);
    }
    std::size_t n = *length;
    if (n == 0) {
        n = kUnknownLength;
        if (!checkCardPresent()) return false;
        length = userKey_->signatureSize(*hash_);
        if (!length) return fail(kSecondLengthPlace);
        n = *length == 0 ? kUnknownLength : *length;
    }
    data::Bytes buffer;
    try {
        buffer.resize(n);
    } catch (const std::exception&) {
        // bad_alloc, or length_error for a length no vector can hold: a
        // provider's answer must not escape as an exception.
        platform::setLastError(platform::kNteNoMemory);
        diag::recordError(error(), kBufferPlace, kBufferMessage, {n});
        destroyHash();
        return false;
    }
    if (!checkCardPresent()) return false;
    const std::optional<std::size_t> written = userKey_->sign(*hash_, buffer.data(), buffer.size());
    if (!written) return fail(kSignCallPlace);
    if (*written == 0 || *written == kUnknownLength) return fail(kBadLengthPlace);
    destroyHash();
    buffer.resize(*written);
    signature = std::move(buffer);
    return true;
}

bool SignerContext::signToBase64(const std::uint8_t* data, std::size_t size, AlgId algId, data::Bytes* raw,
                                 std::string& out) {
    data::Bytes signature;
    const bool signedOk = sign(data, size, algId, signature);
    if (raw) *raw = signature;
    if (!signedOk) return false;
    if (signature.empty()) {
        diag::recordErrorCode(error(), 0, kEmptySignaturePlace, kSignMessage, {diag::kCategoryCrypto});
        return false;
    }
    if (!data::base64Encode(signature, out)) {
        diag::recordErrorCode(error(), 0, kBase64Place, kBase64Message, {diag::kCategoryCrypto});
        return false;
    }
    return true;
}

}  // namespace tessal::crypto
