#pragma once
// Stand-ins for the key store and the card resource manager, for the signer
// and key-search suites: providers whose hashes, keys and size answers are
// chosen by the test and which sign with the in-memory test key, card
// readers with chosen cards, and signer certificates that meet (or break
// one of) the issuing organisation's rules.
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "certs/certificate_record.h"
#include "certs/name_text.h"
#include "diagnostics/config_scope.h"
#include "pki/certificate_store.h"
#include "pki/store_lock.h"
#include "platform/crypto_provider.h"
#include "platform/key_store.h"
#include "platform/last_error.h"
#include "platform/smart_card.h"
#include "platform/software_hash.h"
#include "support/test_pki.h"
#include "support/test_support.h"

namespace tessal::test {

using platform::ByteBlock;
using platform::DigestKind;
using platform::KeySpec;

inline constexpr std::string_view kUserCode = "0123456789abcdef0123456789ABCDEF";

// How a key pair of a fake container behaves.
struct FakeKeyPlan {
    // signatureSize answers in turn, the last one repeating; nothing fails
    // with `sizeError`.
    std::vector<std::optional<std::size_t>> sizeAnswers = std::vector<std::optional<std::size_t>>(1, std::size_t{128});
    std::uint32_t sizeError = platform::kNteFail;
    // When set, sign reports this length instead of the signature's.
    std::optional<std::size_t> reportedLength;
    bool signFails = false;
    std::optional<ByteBlock> certificate;
    std::optional<ByteBlock> blob;
    KeyHandle key;  // rsaKey() when null
};

// One container's provider: what it offers and what it was asked.
struct FakeProviderState {
    std::set<DigestKind> refusedDigests;
    std::map<KeySpec, FakeKeyPlan> keys;
    // When set, every key request fails with it (a login the token refused).
    std::optional<std::uint32_t> userKeyError;

    std::vector<DigestKind> hashesCreated;
    std::vector<KeySpec> keysAsked;
    std::map<KeySpec, std::size_t> sizeQueries;
    std::vector<std::size_t> signCapacities;
};

inline const EVP_MD* mdOf(DigestKind kind) {
    switch (kind) {
        case DigestKind::Sha1: return EVP_sha1();
        case DigestKind::Sha256: return EVP_sha256();
        case DigestKind::Sha384: return EVP_sha384();
        case DigestKind::Sha512: return EVP_sha512();
    }
    return nullptr;
}

// RSASSA-PKCS1-v1_5 over a digest value, most significant byte first.
inline ByteBlock pkcs1SignDigest(EVP_PKEY* key, DigestKind kind, const ByteBlock& digest) {
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(key, nullptr);
    ByteBlock out;
    std::size_t size = 0;
    if (ctx && EVP_PKEY_sign_init(ctx) == 1 && EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING) == 1 &&
        EVP_PKEY_CTX_set_signature_md(ctx, mdOf(kind)) == 1 &&
        EVP_PKEY_sign(ctx, nullptr, &size, digest.data(), digest.size()) == 1) {
        out.resize(size);
        if (EVP_PKEY_sign(ctx, out.data(), &size, digest.data(), digest.size()) == 1) {
            out.resize(size);
        } else {
            out.clear();
        }
    }
    EVP_PKEY_CTX_free(ctx);
    return out;
}

class FakeUserKey : public platform::UserKey {
public:
    FakeUserKey(std::shared_ptr<FakeProviderState> state, KeySpec spec) : state_(std::move(state)), spec_(spec) {}

    std::optional<std::size_t> signatureSize(const platform::HashObject&) override {
        const FakeKeyPlan& plan = state_->keys.at(spec_);
        std::size_t& asked = state_->sizeQueries[spec_];
        const std::size_t index = std::min(asked, plan.sizeAnswers.size() - 1);
        ++asked;
        const std::optional<std::size_t> answer = plan.sizeAnswers.at(index);
        if (!answer) platform::setLastError(plan.sizeError);
        return answer;
    }

    std::optional<std::size_t> sign(const platform::HashObject& hash, std::uint8_t* out, std::size_t capacity) override {
        const FakeKeyPlan& plan = state_->keys.at(spec_);
        state_->signCapacities.push_back(capacity);
        if (plan.signFails) {
            platform::setLastError(platform::kNteFail);
            return std::nullopt;
        }
        const std::optional<ByteBlock> digest = hash.value();
        const KeyHandle key = plan.key ? plan.key : rsaKey();
        ByteBlock signature = digest ? pkcs1SignDigest(key.get(), hash.kind(), *digest) : ByteBlock{};
        if (signature.empty() || signature.size() > capacity) {
            platform::setLastError(platform::kNteFail);
            return std::nullopt;
        }
        std::reverse(signature.begin(), signature.end());
        std::copy(signature.begin(), signature.end(), out);
        return plan.reportedLength.value_or(signature.size());
    }

    std::optional<ByteBlock> storedCertificate() override { return state_->keys.at(spec_).certificate; }
    std::optional<ByteBlock> publicKeyBlob() override { return state_->keys.at(spec_).blob; }

private:
    std::shared_ptr<FakeProviderState> state_;
    KeySpec spec_;
};

class FakeProvider : public platform::CryptoProvider {
public:
    explicit FakeProvider(std::shared_ptr<FakeProviderState> state) : state_(std::move(state)) {}

    std::unique_ptr<platform::HashObject> createHash(DigestKind kind) override {
        state_->hashesCreated.push_back(kind);
        if (state_->refusedDigests.count(kind)) {
            platform::setLastError(platform::kNteBadAlgorithm);
            return nullptr;
        }
        return platform::createSoftwareHash(kind);
    }

    std::unique_ptr<platform::UserKey> userKey(KeySpec spec) override {
        state_->keysAsked.push_back(spec);
        if (state_->userKeyError) {
            platform::setLastError(*state_->userKeyError);
            return nullptr;
        }
        if (!state_->keys.count(spec)) {
            platform::setLastError(platform::kNteNoKey);
            return nullptr;
        }
        return std::make_unique<FakeUserKey>(state_, spec);
    }

    std::unique_ptr<platform::PublicKey> importPublicKey(const platform::Certificate&) override {
        platform::setLastError(platform::kNteBadPublicKey);
        return nullptr;
    }

private:
    std::shared_ptr<FakeProviderState> state_;
};

// A reader and the card in it.
struct FakeReader {
    std::string name;
    std::optional<ByteBlock> atr;  // nothing: the reader is empty
    std::uint32_t emptyError = platform::kScardRemovedCard;
    std::optional<std::uint32_t> connectError;  // the connection itself fails
    bool atrUnreadable = false;                 // connected, but the ATR cannot be read
    bool answers = true;                        // what cardPresent reports while a card is in
};

// The resource manager as every context made from it sees it.
struct FakeCardWorld {
    std::optional<std::uint32_t> establishError;
    std::atomic<bool> valid = true;  // read by a card monitor's thread too
    std::optional<std::uint32_t> readerListError;
    std::vector<FakeReader> readers;
    // Card type names by ATR; an ATR missing here has no matching type.
    std::map<ByteBlock, std::vector<std::string>> cardNames;
    bool cardNamesFail = false;
    std::map<std::string, std::string> typeProviders;
    std::vector<std::string> typeProvidersAsked;
    std::atomic<int> contextsMade = 0;  // a card monitor makes one on its own thread
    std::atomic<int> contextsReleased = 0;

    FakeReader* reader(std::string_view name) {
        for (FakeReader& r : readers) {
            if (r.name == name) return &r;
        }
        return nullptr;
    }

    // What the waits of a card monitor see, apart from `readers` so a test
    // may change either while a monitor's thread waits.
    void pullCard(const std::string& name) {
        std::lock_guard lock(watchMutex);
        pulled.insert(name);
        watchChanged.notify_all();
    }
    void returnCard(const std::string& name) {
        std::lock_guard lock(watchMutex);
        pulled.erase(name);
    }
    int readerWaits() {
        std::lock_guard lock(watchMutex);
        return waits;
    }
    // Held waits do not end (for up to a minute) until released: a monitor
    // stuck in one misses its stop request for as long as a test wants.
    void holdWaits(bool hold) {
        std::lock_guard lock(watchMutex);
        held = hold;
        watchChanged.notify_all();
    }
    int waitsHeld() {
        std::lock_guard lock(watchMutex);
        return holding;
    }

    std::mutex watchMutex;
    std::condition_variable watchChanged;
    std::set<std::string> pulled;
    int waits = 0;
    bool held = false;
    int holding = 0;
};

class FakeCardContext : public platform::CardContext {
public:
    explicit FakeCardContext(std::shared_ptr<FakeCardWorld> world) : world_(std::move(world)) {}
    ~FakeCardContext() override { ++world_->contextsReleased; }
    FakeCardContext(const FakeCardContext&) = delete;
    FakeCardContext& operator=(const FakeCardContext&) = delete;

    bool valid() const override { return world_->valid; }

    std::optional<std::vector<std::string>> listReaders() override {
        if (world_->readerListError) {
            platform::setLastError(*world_->readerListError);
            return std::nullopt;
        }
        std::vector<std::string> names;
        for (const FakeReader& r : world_->readers) names.push_back(r.name);
        return names;
    }

    bool cardPresent(std::string_view name) override {
        const FakeReader* r = world_->reader(name);
        if (!r || !r->atr || !r->answers) {
            platform::setLastError(platform::kScardRemovedCard);
            return false;
        }
        return true;
    }

    std::optional<ByteBlock> readAtr(std::string_view name, bool& connected) override {
        connected = false;
        const FakeReader* r = world_->reader(name);
        if (!r) {
            platform::setLastError(0x80100009u);  // SCARD_E_UNKNOWN_READER
            return std::nullopt;
        }
        if (r->connectError) {
            platform::setLastError(*r->connectError);
            return std::nullopt;
        }
        if (!r->atr) {
            platform::setLastError(r->emptyError);
            return std::nullopt;
        }
        connected = true;
        if (r->atrUnreadable) {
            platform::setLastError(0x80100016u);  // SCARD_E_NOT_TRANSACTED
            return std::nullopt;
        }
        return r->atr;
    }

    // A wait is short here (the suites do not sit through real timeouts):
    // a pulled card ends it, else the first answers the card present.
    platform::ReaderChange waitForReaderChange(platform::ReaderWatch& watch, std::chrono::milliseconds timeout) override {
        std::unique_lock lock(world_->watchMutex);
        ++world_->waits;
        if (world_->held) {
            ++world_->holding;
            world_->watchChanged.wait_for(lock, std::chrono::minutes(1), [&] { return !world_->held; });
            --world_->holding;
        }
        const auto wait = std::min<std::chrono::milliseconds>(timeout, std::chrono::milliseconds(20));
        if (world_->watchChanged.wait_for(lock, wait, [&] { return world_->pulled.count(watch.reader) > 0; })) {
            platform::setLastError(platform::kScardRemovedCard);
            return platform::ReaderChange::Gone;
        }
        if (watch.knownState != 0) return platform::ReaderChange::None;
        watch.knownState = 0x20;  // SCARD_STATE_PRESENT
        return platform::ReaderChange::Present;
    }

    std::optional<std::vector<std::string>> cardNames(const ByteBlock& atr) override {
        if (world_->cardNamesFail) {
            platform::setLastError(0x8010001Fu);  // SCARD_F_UNKNOWN_ERROR
            return std::nullopt;
        }
        const auto found = world_->cardNames.find(atr);
        return found == world_->cardNames.end() ? std::vector<std::string>{} : found->second;
    }

    std::optional<std::string> cardTypeProvider(std::string_view cardName) override {
        world_->typeProvidersAsked.emplace_back(cardName);
        const auto found = world_->typeProviders.find(std::string(cardName));
        if (found == world_->typeProviders.end()) {
            platform::setLastError(0x8010000Du);  // SCARD_E_UNKNOWN_CARD
            return std::nullopt;
        }
        return found->second;
    }

private:
    std::shared_ptr<FakeCardWorld> world_;
};

// The containers the key store reaches, by (provider, reader, container).
struct FakeKeyStore {
    using Address = std::tuple<std::string, std::string, std::string>;

    std::optional<std::vector<std::string>> providers;
    std::map<Address, std::shared_ptr<FakeProviderState>> containers;
    // Acquire failures of addresses not in `containers`, NTE_BAD_KEYSET otherwise.
    std::map<Address, std::uint32_t> acquireErrors;
    std::map<std::pair<std::string, std::string>, std::vector<std::string>> listings;
    std::map<std::pair<std::string, std::string>, std::uint32_t> listingErrors;

    int providerListings = 0;
    std::vector<Address> acquired;
    std::vector<std::pair<std::string, std::string>> listed;

    std::shared_ptr<FakeProviderState>& container(std::string provider, std::string reader, std::string name) {
        auto& state = containers[{std::move(provider), std::move(reader), std::move(name)}];
        if (!state) state = std::make_shared<FakeProviderState>();
        return state;
    }
};

// Installs both doubles for the life of the object.
class FakePlatform {
public:
    FakePlatform() {
        auto world = world_;
        platform::setCardContextFactoryForTesting([world]() -> std::unique_ptr<platform::CardContext> {
            if (world->establishError) {
                platform::setLastError(*world->establishError);
                return nullptr;
            }
            ++world->contextsMade;
            return std::make_unique<FakeCardContext>(world);
        });
        auto store = store_;
        platform::KeyStoreDouble stand;
        stand.installedProviders = [store]() -> std::optional<std::vector<std::string>> {
            ++store->providerListings;
            if (!store->providers) platform::setLastError(2);
            return store->providers;
        };
        stand.acquireContainer = [store](std::string_view provider, std::string_view reader,
                                         std::string_view container) -> std::shared_ptr<platform::CryptoProvider> {
            FakeKeyStore::Address address{std::string(provider), std::string(reader), std::string(container)};
            store->acquired.push_back(address);
            const auto found = store->containers.find(address);
            if (found != store->containers.end()) return std::make_shared<FakeProvider>(found->second);
            const auto error = store->acquireErrors.find(address);
            platform::setLastError(error != store->acquireErrors.end() ? error->second : platform::kNteBadKeyset);
            return nullptr;
        };
        stand.listContainers = [store](std::string_view provider,
                                       std::string_view reader) -> std::optional<std::vector<std::string>> {
            const std::pair<std::string, std::string> key{std::string(provider), std::string(reader)};
            store->listed.push_back(key);
            const auto error = store->listingErrors.find(key);
            if (error != store->listingErrors.end()) {
                platform::setLastError(error->second);
                return std::nullopt;
            }
            const auto found = store->listings.find(key);
            return found == store->listings.end() ? std::vector<std::string>{} : found->second;
        };
        platform::setKeyStoreForTesting(stand);
    }
    ~FakePlatform() {
        platform::setKeyStoreForTesting(std::nullopt);
        platform::setCardContextFactoryForTesting({});
    }
    FakePlatform(const FakePlatform&) = delete;
    FakePlatform& operator=(const FakePlatform&) = delete;

    FakeCardWorld& cards() const { return *world_; }
    FakeKeyStore& keys() const { return *store_; }

private:
    std::shared_ptr<FakeCardWorld> world_ = std::make_shared<FakeCardWorld>();
    std::shared_ptr<FakeKeyStore> store_ = std::make_shared<FakeKeyStore>();
};

// A signer certificate; by default it meets every rule of the issuing organisation.
struct SignerCertPlan {
    std::string userCode{kUserCode};
    std::string issuerOrganisation = "Norvata Keldas";
    std::string commonName = "Jonas Jonaitis";
    std::int64_t notBefore = 0;
    std::int64_t notAfter = 0;
    data::Bytes serial{0x10, 0x01};
    KeyHandle key;
};

inline ByteBlock signerCertificate(const SignerCertPlan& plan = {}) {
    CertPlan cert;
    cert.subject = {{"0.9.2342.19200300.100.1.1", plan.userCode}, {"CN", plan.commonName}};
    cert.issuer = Name{{"O", plan.issuerOrganisation}, {"CN", "NK CA"}};
    cert.serial = plan.serial;
    cert.notBefore = plan.notBefore;
    cert.notAfter = plan.notAfter;
    cert.key = plan.key;
    return makeCertificate(cert);
}

inline certs::CertificateRecord recordOf(const ByteBlock& der) {
    certs::CertificateRecord record;
    record.fromDer(der.data(), der.size());
    return record;
}

// The PUBLICKEYBLOB of the certificate's key, as a key store exports it.
inline ByteBlock keyBlobOf(const ByteBlock& der) {
    data::Bytes modulus;
    data::Bytes exponent;
    recordOf(der).certificate().rsaPublicKey(modulus, exponent);
    return certs::publicKeyBlob(modulus, exponent).value_or(ByteBlock{});
}

// A private cache folder and configuration, an empty certificate store and
// chain and revocation checks off unless a test turns them on.
class SignerEnvironment {
public:
    explicit SignerEnvironment(const std::string& config = {}) : config_(dir_.file("tessal.conf"), config) {
        if (const char* old = getenv("XDG_CACHE_HOME")) previousCache_ = old;
        setenv("XDG_CACHE_HOME", dir_.path().c_str(), 1);
        pki::clearCertificateStoreForTesting();
        pki::disableCertificateChecks();
    }
    ~SignerEnvironment() {
        pki::clearCertificateChecksOffForTesting();
        pki::clearCertificateStoreForTesting();
        if (previousCache_) {
            setenv("XDG_CACHE_HOME", previousCache_->c_str(), 1);
        } else {
            unsetenv("XDG_CACHE_HOME");
        }
    }
    SignerEnvironment(const SignerEnvironment&) = delete;
    SignerEnvironment& operator=(const SignerEnvironment&) = delete;

    const TempDir& dir() const { return dir_; }

private:
    TempDir dir_;
    ConfigScope config_;
    std::optional<std::string> previousCache_;
};

}  // namespace tessal::test
