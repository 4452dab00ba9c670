#include "platform/key_store.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>
#include <utility>

#include "platform/config.h"
#include "platform/last_error.h"
#include "platform/pin_prompt.h"
#include "platform/pin_scope.h"
#include "platform/pkcs11_module.h"
#include "platform/software_hash.h"
#include "platform/stored_pin.h"
#include "platform/trap_released_lock.h"

namespace tessal::platform {

namespace {

using pkcs11::Module;
using pkcs11::Session;

constexpr std::string_view kProviderPrefix = "SOFTWARE\\Microsoft\\Cryptography\\Defaults\\Provider";
constexpr std::string_view kReaderPrefix = "SOFTWARE\\Microsoft\\Cryptography\\Calais\\Readers\\";
constexpr std::string_view kHsmReader = "HSM";
constexpr std::uint32_t kNteBadHash = 0x80090002u;
constexpr std::uint32_t kErrorMoreData = 234;

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool sameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return lowerAscii(x) == lowerAscii(y); });
}

std::string hexOf(const ByteBlock& bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (std::uint8_t b : bytes) {
        hex.push_back(kDigits[b >> 4]);
        hex.push_back(kDigits[b & 0x0F]);
    }
    return hex;
}

ByteBlock withoutLeadingZeros(const ByteBlock& value) {
    auto first = std::find_if(value.begin(), value.end(), [](std::uint8_t b) { return b != 0; });
    return ByteBlock(first, value.end());
}

// ---- where a provider's module and settings come from ----

struct ProviderSource {
    std::string library;
    std::string section;  // the configuration section with its pin, pinFile and token
};

bool discoveryEnabled() {
    const auto value = configValue(kPlatformSection, "p11kitDiscovery");
    if (!value) return true;
    return !(sameName(*value, "no") || sameName(*value, "false") || sameName(*value, "off") || *value == "0");
}

std::string providerSection(std::string_view name) { return std::string(kProviderPrefix) + "\\" + std::string(name); }

// Configured providers: the sections below the provider key that name a module.
std::vector<std::pair<std::string, std::string>> configuredProviders() {
    std::vector<std::pair<std::string, std::string>> providers;
    for (std::string& name : configSubsections(kProviderPrefix)) {
        auto library = configValue(providerSection(name), "module");
        if (library && !library->empty()) providers.emplace_back(std::move(name), std::move(*library));
    }
    return providers;
}

// A registered module takes its PIN and token settings from a configuration
// section of its name, which then needs no module line.
std::optional<ProviderSource> findProvider(std::string_view name) {
    if (name.empty()) return std::nullopt;
    for (auto& [configured, library] : configuredProviders()) {
        if (sameName(configured, name)) return ProviderSource{std::move(library), providerSection(configured)};
    }
    if (!discoveryEnabled()) return std::nullopt;
    if (auto registered = pkcs11::registeredModules()) {
        for (auto& module : *registered) {
            if (sameName(module.name, name)) return ProviderSource{std::move(module.library), providerSection(name)};
        }
    }
    return std::nullopt;
}

struct OpenedProvider {
    ProviderSource source;
    std::shared_ptr<Module> module;
};

std::optional<OpenedProvider> openProvider(std::string_view name) {
    auto source = findProvider(name);
    if (!source) {
        setLastError(kNteKeysetNotDefined);
        return std::nullopt;
    }
    auto module = Module::load(source->library);
    if (!module) return std::nullopt;  // the load has set the last error
    return OpenedProvider{std::move(*source), std::move(module)};
}

// ---- tokens ----

struct Token {
    CK_SLOT_ID slot;
    CK_FLAGS flags;
    // Module, slot, serial number and label: what tells this token from
    // every other the process reaches.
    std::string identity;
};

std::string tokenIdentity(const std::string& library, CK_SLOT_ID slot, const CK_TOKEN_INFO& info) {
    std::ostringstream identity;
    identity << library << '\n'
             << slot << '\n'
             << pkcs11::paddedText(info.serialNumber, sizeof info.serialNumber) << '\n'
             << pkcs11::paddedText(info.label, sizeof info.label);
    return identity.str();
}

// The labels of a reader's `token` value: one label, or several separated
// by commas for a card that shows one token per PIN.
std::vector<std::string> labelList(std::string_view value) {
    std::vector<std::string> labels;
    constexpr std::string_view kBlanks = " \t";
    for (std::size_t start = 0; start <= value.size();) {
        std::size_t end = value.find(',', start);
        if (end == std::string_view::npos) end = value.size();
        std::string_view label = value.substr(start, end - start);
        const auto first = label.find_first_not_of(kBlanks);
        label = first == std::string_view::npos ? std::string_view{}
                                                : label.substr(first, label.find_last_not_of(kBlanks) - first + 1);
        if (!label.empty()) labels.emplace_back(label);
        start = end + 1;
    }
    return labels;
}

// The tokens holding `reader`'s containers, in slot order: for an HSM every
// initialised token (only the provider's `token` when it names one); for a
// card every token the card table binds to the reader, else every token in
// a slot named like the reader (a card may show one token per PIN).
std::optional<std::vector<Token>> chooseTokens(const OpenedProvider& provider, std::string_view reader) {
    CK_FUNCTION_LIST& api = provider.module->api();
    CK_ULONG count = 0;
    CK_RV rv = api.C_GetSlotList(CK_TRUE, nullptr, &count);
    std::vector<CK_SLOT_ID> slots(count);
    if (rv == CKR_OK && count > 0) rv = api.C_GetSlotList(CK_TRUE, slots.data(), &count);
    if (rv != CKR_OK) {
        pkcs11::failWith(rv);
        return std::nullopt;
    }
    slots.resize(count);

    const bool hsm = reader == kHsmReader;
    std::vector<std::string> labels;
    if (hsm) {
        if (auto label = configValue(provider.source.section, "token"); label && !label->empty()) {
            labels.push_back(std::move(*label));
        }
    } else if (auto bound = configValue(std::string(kReaderPrefix) + std::string(reader), "token")) {
        labels = labelList(*bound);
    }
    std::vector<Token> tokens;
    for (CK_SLOT_ID slot : slots) {
        CK_TOKEN_INFO info{};
        if (api.C_GetTokenInfo(slot, &info) != CKR_OK || !(info.flags & CKF_TOKEN_INITIALIZED)) continue;
        bool wanted = true;
        if (!labels.empty()) {
            wanted = std::find(labels.begin(), labels.end(), pkcs11::paddedText(info.label, sizeof info.label)) !=
                     labels.end();
        } else if (!hsm) {
            CK_SLOT_INFO slotInfo{};
            wanted = api.C_GetSlotInfo(slot, &slotInfo) == CKR_OK &&
                     pkcs11::paddedText(slotInfo.slotDescription, sizeof slotInfo.slotDescription) == reader;
        }
        if (wanted) tokens.push_back({slot, info.flags, tokenIdentity(provider.source.library, slot, info)});
    }
    if (tokens.empty()) {
        setLastError(kErrorNoToken);
        return std::nullopt;
    }
    return tokens;
}

// ---- containers ----

struct ContainerObject {
    CK_OBJECT_HANDLE handle;
    std::string name;
    ByteBlock id;
};

// The certificate and public-key objects of a token in its order, named by
// label, or by hex CKA_ID when unlabelled; unnamed objects are left out.
std::optional<std::vector<ContainerObject>> containerObjects(const Session& session) {
    auto objects = session.find({});
    if (!objects) return std::nullopt;
    std::vector<ContainerObject> containers;
    for (CK_OBJECT_HANDLE object : *objects) {
        const auto objectClass = session.number(object, CKA_CLASS);
        if (!objectClass || (*objectClass != CKO_CERTIFICATE && *objectClass != CKO_PUBLIC_KEY)) continue;
        ByteBlock id = session.attribute(object, CKA_ID).value_or(ByteBlock{});
        const ByteBlock label = session.attribute(object, CKA_LABEL).value_or(ByteBlock{});
        std::string name = label.empty() ? hexOf(id) : std::string(label.begin(), label.end());
        if (!name.empty()) containers.push_back({object, std::move(name), std::move(id)});
    }
    return containers;
}

// ---- PINs ----

constexpr std::string_view kLastTryWarning = "Paskutinis bandymas: neteisingas PIN kodas užblokuos kortelę";

// The answers of C_Login that mean the token refused the PIN itself.
bool pinRefused(CK_RV rv) { return rv == CKR_PIN_INCORRECT || rv == CKR_PIN_INVALID || rv == CKR_PIN_LEN_RANGE; }

// ---- the provider bound to a container ----

struct Container {
    std::shared_ptr<Module> module;
    std::string section;
    // A card's PIN may be typed at the desktop prompt; an HSM's never is.
    std::string cardReader;
    CK_SLOT_ID slot = 0;
    CK_FLAGS tokenFlags = 0;
    std::string tokenIdentity;
    std::unique_ptr<Session> session;
    ByteBlock id;
    std::vector<CK_MECHANISM_TYPE> mechanisms;
    TrapReleasedMutex mutex;  // one operation at a time on the session

    bool offers(CK_MECHANISM_TYPE mechanism) const {
        return std::find(mechanisms.begin(), mechanisms.end(), mechanism) != mechanisms.end();
    }

    // Logs the user in unless the token needs no login or the session
    // already is; false with the last error set.
    bool ensureLogin() {
        CK_SESSION_INFO info{};
        const CK_RV rv = session->api().C_GetSessionInfo(session->handle(), &info);
        if (rv != CKR_OK) return pkcs11::failWith(rv);
        if (info.state == CKS_RO_USER_FUNCTIONS || info.state == CKS_RW_USER_FUNCTIONS) return true;
        if (!(tokenFlags & CKF_LOGIN_REQUIRED)) return true;
        return userLogin(CKU_USER);
    }

    // Presents a PIN at most once per token and operation, and never a
    // stored one on the last try: a card blocks after a few wrong PINs, and
    // a stored PIN that is wrong would be wrong every time. A protected
    // authentication path takes the PIN at the reader itself.
    bool userLogin(CK_USER_TYPE user) {
        if (pinRefusedInScope(tokenIdentity)) {
            setLastError(kScardWrongChv);
            return false;
        }
        CK_FUNCTION_LIST& api = session->api();
        // The flags change with every wrong PIN, so they are read now.
        CK_TOKEN_INFO info{};
        CK_RV rv = api.C_GetTokenInfo(slot, &info);
        if (rv != CKR_OK) return pkcs11::failWith(rv);
        if (info.flags & CKF_USER_PIN_LOCKED) {
            setLastError(kScardChvBlocked);
            return false;
        }
        const bool lastTry = (info.flags & CKF_USER_PIN_FINAL_TRY) != 0;
        if (tokenFlags & CKF_PROTECTED_AUTHENTICATION_PATH) {
            rv = api.C_Login(session->handle(), user, nullptr, 0);
        } else {
            std::optional<SecretBuffer> pin;
            if (lastTry) {
                takeEnvironmentPin();  // the prompt's process must not inherit it
            } else {
                pin = storedPin(section);
            }
            if (!pin) pin = promptPin(lastTry);
            if (!pin) {
                setLastError(kScardCancelledByUser);
                return false;
            }
            rv = api.C_Login(session->handle(), user, reinterpret_cast<CK_UTF8CHAR*>(pin->data()), pin->size());
        }
        if (rv == CKR_OK || rv == CKR_USER_ALREADY_LOGGED_IN) return true;
        if (pinRefused(rv)) {
            notePinRefused(tokenIdentity);
            setLastError(kScardWrongChv);
            return false;
        }
        return pkcs11::failWith(rv);
    }

    std::optional<SecretBuffer> promptPin(bool lastTry) const {
        if (cardReader.empty()) return std::nullopt;
        std::string description = "Įveskite kortelės skaitytuve \"" + cardReader + "\" PIN kodą";
        if (lastTry) description += "\n" + std::string(kLastTryWarning);
        return askPin(description);
    }

    // The object of `objectClass` with the container's CKA_ID, if any.
    std::optional<CK_OBJECT_HANDLE> sibling(CK_OBJECT_CLASS objectClass) const {
        CK_OBJECT_CLASS cls = objectClass;
        ByteBlock wanted = id;
        auto found = session->find({{CKA_CLASS, &cls, sizeof cls}, {CKA_ID, wanted.data(), wanted.size()}});
        if (!found || found->empty()) return std::nullopt;
        return found->front();
    }
};

// The RSA modulus and exponent of a DER certificate, most significant byte first.
bool certificateKey(const ByteBlock& der, ByteBlock& modulus, ByteBlock& exponent) {
    const unsigned char* p = der.data();
    X509* x = der.empty() ? nullptr : d2i_X509(nullptr, &p, static_cast<long>(der.size()));
    EVP_PKEY* key = x ? X509_get0_pubkey(x) : nullptr;
    BIGNUM* n = nullptr;
    BIGNUM* e = nullptr;
    const bool ok = key && EVP_PKEY_get_base_id(key) == EVP_PKEY_RSA &&
                    EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_RSA_N, &n) == 1 &&
                    EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_RSA_E, &e) == 1;
    if (ok) {
        modulus.resize(static_cast<std::size_t>(BN_num_bytes(n)));
        exponent.resize(static_cast<std::size_t>(BN_num_bytes(e)));
        BN_bn2bin(n, modulus.data());
        BN_bn2bin(e, exponent.data());
    }
    BN_free(n);
    BN_free(e);
    X509_free(x);
    return ok;
}

// PUBLICKEYBLOB: BLOBHEADER (type 6, version 2, CALG_RSA_KEYX), RSAPUBKEY
// ("RSA1", bit length, exponent), modulus least significant byte first. The
// bit length counts the modulus's significant bytes, as the certificate's
// key hash counts them, so both blobs of one key are the same bytes.
std::optional<ByteBlock> rsaPublicKeyBlob(const ByteBlock& modulus, const ByteBlock& exponent) {
    const ByteBlock n = withoutLeadingZeros(modulus);
    const ByteBlock e = withoutLeadingZeros(exponent);
    if (n.empty() || e.size() > 4 || n.size() > 0x1FFFFFFF) return std::nullopt;
    std::uint32_t exponentValue = 0;
    for (std::uint8_t b : e) exponentValue = (exponentValue << 8) | b;
    ByteBlock blob{0x06, 0x02, 0x00, 0x00};
    auto put32 = [&](std::uint32_t v) {
        for (int i = 0; i < 4; ++i) blob.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    };
    put32(0x0000A400);
    put32(0x31415352);
    put32(static_cast<std::uint32_t>(n.size() * 8));
    put32(exponentValue);
    blob.insert(blob.end(), n.rbegin(), n.rend());
    return blob;
}

// The DER prefix of a DigestInfo for each hash, the value following it.
ByteBlock digestInfoPrefix(DigestKind kind) {
    switch (kind) {
        case DigestKind::Sha1: return {0x30, 0x21, 0x30, 0x09, 0x06, 0x05, 0x2b, 0x0e, 0x03, 0x02, 0x1a, 0x05, 0x00, 0x04, 0x14};
        case DigestKind::Sha256:
            return {0x30, 0x31, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01, 0x05, 0x00, 0x04, 0x20};
        case DigestKind::Sha384:
            return {0x30, 0x41, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x02, 0x05, 0x00, 0x04, 0x30};
        case DigestKind::Sha512:
            return {0x30, 0x51, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x03, 0x05, 0x00, 0x04, 0x40};
    }
    return {};
}

CK_MECHANISM_TYPE hashAndSignMechanism(DigestKind kind) {
    switch (kind) {
        case DigestKind::Sha1: return CKM_SHA1_RSA_PKCS;
        case DigestKind::Sha256: return CKM_SHA256_RSA_PKCS;
        case DigestKind::Sha384: return CKM_SHA384_RSA_PKCS;
        case DigestKind::Sha512: return CKM_SHA512_RSA_PKCS;
    }
    return CKM_VENDOR_DEFINED;
}

// A hash for a token that only signs what it hashes itself: the data is kept
// so the token can be given it, and the value is computed in software too.
class RetainingHash final : public HashObject {
public:
    explicit RetainingHash(std::unique_ptr<HashObject> software) : software_(std::move(software)) {}
    DigestKind kind() const override { return software_->kind(); }
    bool update(const std::uint8_t* data, std::size_t size) override {
        if (!software_->update(data, size)) return false;
        if (size > 0) data_.insert(data_.end(), data, data + size);
        return true;
    }
    std::unique_ptr<HashObject> duplicate() const override {
        auto software = software_->duplicate();
        if (!software) return nullptr;
        auto copy = std::make_unique<RetainingHash>(std::move(software));
        copy->data_ = data_;
        return copy;
    }
    std::optional<ByteBlock> value() const override { return software_->value(); }
    const ByteBlock& data() const { return data_; }

private:
    std::unique_ptr<HashObject> software_;
    ByteBlock data_;
};

// The private operation of a token key for a TLS handshake: PKCS #1 v1.5
// blocks through CKM_RSA_PKCS, blocks the caller padded (RSA-PSS) through
// the raw CKM_RSA_X_509.
class Pkcs11RsaOperation final : public RsaPrivateOperation {
public:
    Pkcs11RsaOperation(std::shared_ptr<Container> container, CK_OBJECT_HANDLE key, std::size_t modulusSize)
        : container_(std::move(container)), key_(key), modulusSize_(modulusSize) {}

    std::size_t modulusSize() const override { return modulusSize_; }
    bool offers(Padding padding) const override { return container_->offers(mechanismOf(padding)); }

    bool apply(Padding padding, const std::uint8_t* input, std::size_t size, std::uint8_t* out) override {
        if (!offers(padding) || (padding == Padding::None && size != modulusSize_)) {
            setLastError(kNteBadAlgorithm);
            return false;
        }
        std::lock_guard lock(container_->mutex);
        if (!container_->ensureLogin()) return false;
        const Session& session = *container_->session;
        CK_FUNCTION_LIST& api = session.api();
        CK_MECHANISM mechanism{mechanismOf(padding), nullptr, 0};
        CK_RV rv = api.C_SignInit(session.handle(), &mechanism, key_);
        // As in sign: a failed per-signature login still lets C_Sign end the operation.
        const bool loggedIn = rv != CKR_OK || !session.flag(key_, CKA_ALWAYS_AUTHENTICATE) ||
                              container_->userLogin(CKU_CONTEXT_SPECIFIC);
        const std::uint32_t loginError = loggedIn ? 0 : lastError();
        ByteBlock data(input, input + size);
        ByteBlock result(modulusSize_);
        CK_ULONG length = result.size();
        if (rv == CKR_OK) rv = api.C_Sign(session.handle(), data.data(), data.size(), result.data(), &length);
        if (!loggedIn) {
            setLastError(loginError);
            return false;
        }
        if (rv != CKR_OK) return pkcs11::failWith(rv);
        if (length > modulusSize_) {
            setLastError(kErrorMoreData);
            return false;
        }
        // A shorter answer lost its leading zero bytes.
        const std::size_t pad = modulusSize_ - length;
        std::fill(out, out + pad, std::uint8_t{0});
        std::copy(result.begin(), result.begin() + static_cast<std::ptrdiff_t>(length), out + pad);
        return true;
    }

private:
    static CK_MECHANISM_TYPE mechanismOf(Padding padding) {
        return padding == Padding::Pkcs1 ? CKM_RSA_PKCS : CKM_RSA_X_509;
    }

    std::shared_ptr<Container> container_;
    CK_OBJECT_HANDLE key_;
    std::size_t modulusSize_;
};

class Pkcs11UserKey final : public UserKey {
public:
    Pkcs11UserKey(std::shared_ptr<Container> container, CK_OBJECT_HANDLE key, std::size_t modulusSize)
        : container_(std::move(container)), key_(key), modulusSize_(modulusSize) {}

    std::optional<std::size_t> signatureSize(const HashObject&) override { return modulusSize_; }

    std::optional<std::size_t> sign(const HashObject& hash, std::uint8_t* out, std::size_t capacity) override {
        if (!out || capacity < modulusSize_) {
            setLastError(kErrorMoreData);
            return std::nullopt;
        }
        const auto value = hash.value();
        if (!value) return std::nullopt;  // the hash has set the last error
        if (value->size() != digestSize(hash.kind())) {
            setLastError(kNteBadHash);
            return std::nullopt;
        }

        std::lock_guard lock(container_->mutex);
        CK_MECHANISM mechanism{CKM_RSA_PKCS, nullptr, 0};
        ByteBlock input;
        if (container_->offers(CKM_RSA_PKCS)) {
            input = digestInfoPrefix(hash.kind());
            input.insert(input.end(), value->begin(), value->end());
        } else if (const auto* retained = dynamic_cast<const RetainingHash*>(&hash);
                   retained && container_->offers(hashAndSignMechanism(hash.kind()))) {
            mechanism.mechanism = hashAndSignMechanism(hash.kind());
            input = retained->data();
        } else {
            setLastError(kNteBadAlgorithm);
            return std::nullopt;
        }
        if (!container_->ensureLogin()) return std::nullopt;

        const Session& session = *container_->session;
        CK_FUNCTION_LIST& api = session.api();
        CK_RV rv = api.C_SignInit(session.handle(), &mechanism, key_);
        // A key that wants its PIN for every signature: when that login
        // fails, the signing call below fails too and so ends the operation,
        // and the login's error is the one reported.
        const bool loggedIn = rv != CKR_OK || !session.flag(key_, CKA_ALWAYS_AUTHENTICATE) ||
                              container_->userLogin(CKU_CONTEXT_SPECIFIC);
        const std::uint32_t loginError = loggedIn ? 0 : lastError();
        ByteBlock signature(std::max<std::size_t>(modulusSize_, 1));
        CK_ULONG length = signature.size();
        if (rv == CKR_OK) rv = api.C_Sign(session.handle(), input.data(), input.size(), signature.data(), &length);
        if (rv == CKR_BUFFER_TOO_SMALL) {
            signature.resize(length);
            rv = api.C_Sign(session.handle(), input.data(), input.size(), signature.data(), &length);
        }
        if (!loggedIn) {
            setLastError(loginError);
            return std::nullopt;
        }
        if (rv != CKR_OK) {
            pkcs11::failWith(rv);
            return std::nullopt;
        }
        if (length > capacity) {
            setLastError(kErrorMoreData);
            return std::nullopt;
        }
        // The token answers most significant byte first.
        std::reverse_copy(signature.begin(), signature.begin() + static_cast<std::ptrdiff_t>(length), out);
        return length;
    }

    std::shared_ptr<RsaPrivateOperation> privateOperation() override {
        if (!container_->offers(CKM_RSA_PKCS)) {
            setLastError(kNteBadAlgorithm);
            return nullptr;
        }
        return std::make_shared<Pkcs11RsaOperation>(container_, key_, modulusSize_);
    }

    std::optional<ByteBlock> storedCertificate() override {
        std::lock_guard lock(container_->mutex);
        const auto certificate = container_->sibling(CKO_CERTIFICATE);
        if (!certificate) return std::nullopt;
        return container_->session->attribute(*certificate, CKA_VALUE);
    }

    std::optional<ByteBlock> publicKeyBlob() override {
        std::lock_guard lock(container_->mutex);
        const Session& session = *container_->session;
        ByteBlock modulus;
        ByteBlock exponent;
        auto fromObject = [&](CK_OBJECT_HANDLE object) {
            auto n = session.attribute(object, CKA_MODULUS);
            auto e = session.attribute(object, CKA_PUBLIC_EXPONENT);
            if (!n || !e) return false;
            modulus = std::move(*n);
            exponent = std::move(*e);
            return true;
        };
        const auto publicKey = container_->sibling(CKO_PUBLIC_KEY);
        bool found = (publicKey && fromObject(*publicKey)) || fromObject(key_);
        if (!found) {
            const auto certificate = container_->sibling(CKO_CERTIFICATE);
            const auto der = certificate ? session.attribute(*certificate, CKA_VALUE) : std::nullopt;
            found = der && certificateKey(*der, modulus, exponent);
        }
        auto blob = found ? rsaPublicKeyBlob(modulus, exponent) : std::nullopt;
        if (!blob) setLastError(kNteBadPublicKey);
        return blob;
    }

private:
    std::shared_ptr<Container> container_;
    CK_OBJECT_HANDLE key_;
    std::size_t modulusSize_;
};

class Pkcs11Provider final : public CryptoProvider {
public:
    explicit Pkcs11Provider(std::shared_ptr<Container> container) : container_(std::move(container)) {}

    // The token signs a DigestInfo built here, so any software hash will do;
    // a token without raw RSA signs only the hashes it computes itself.
    std::unique_ptr<HashObject> createHash(DigestKind kind) override {
        if (container_->offers(CKM_RSA_PKCS)) return createSoftwareHash(kind);
        if (!container_->offers(hashAndSignMechanism(kind))) {
            setLastError(kNteBadAlgorithm);
            return nullptr;
        }
        auto software = createSoftwareHash(kind);
        if (!software) return nullptr;
        return std::make_unique<RetainingHash>(std::move(software));
    }

    std::unique_ptr<UserKey> userKey(KeySpec spec) override {
        std::lock_guard lock(container_->mutex);
        if (!container_->ensureLogin()) return nullptr;
        const Session& session = *container_->session;
        CK_OBJECT_CLASS cls = CKO_PRIVATE_KEY;
        ByteBlock id = container_->id;
        const auto keys = session.find({{CKA_CLASS, &cls, sizeof cls}, {CKA_ID, id.data(), id.size()}});
        if (!keys) return nullptr;
        for (CK_OBJECT_HANDLE key : *keys) {
            const bool decrypts = session.flag(key, CKA_DECRYPT) || session.flag(key, CKA_UNWRAP);
            const bool matches = spec == KeySpec::Exchange ? decrypts : (session.flag(key, CKA_SIGN) && !decrypts);
            if (!matches) continue;
            std::size_t modulusSize = 0;
            if (auto modulus = session.attribute(key, CKA_MODULUS)) {
                modulusSize = withoutLeadingZeros(*modulus).size();
            } else if (auto bits = session.number(key, CKA_MODULUS_BITS)) {
                modulusSize = (*bits + 7) / 8;
            }
            if (modulusSize == 0) continue;  // not an RSA key
            return std::make_unique<Pkcs11UserKey>(container_, key, modulusSize);
        }
        setLastError(kNteNoKey);
        return nullptr;
    }

    std::unique_ptr<PublicKey> importPublicKey(const Certificate& certificate) override {
        auto software = acquireVerifyProvider();
        return software ? software->importPublicKey(certificate) : nullptr;
    }

private:
    std::shared_ptr<Container> container_;
};

// ---- the operations ----

std::optional<std::vector<std::string>> pkcs11InstalledProviders() {
    const bool configReadable = static_cast<bool>(std::ifstream(configFilePath()));
    std::vector<std::string> names;
    for (auto& provider : configuredProviders()) names.push_back(std::move(provider.first));
    bool registryReadable = false;
    if (discoveryEnabled()) {
        if (auto registered = pkcs11::registeredModules()) {
            registryReadable = true;
            for (auto& module : *registered) {
                const bool listed = std::any_of(names.begin(), names.end(),
                                                [&](const std::string& n) { return sameName(n, module.name); });
                if (!listed) names.push_back(std::move(module.name));
            }
        }
    }
    if (!configReadable && !registryReadable) return std::nullopt;
    return names;
}

std::shared_ptr<CryptoProvider> pkcs11AcquireContainer(std::string_view providerName, std::string_view reader,
                                                       std::string_view containerName) {
    auto provider = openProvider(providerName);
    if (!provider) return nullptr;
    if (containerName.empty()) {
        setLastError(kNteBadKeyset);
        return nullptr;
    }
    const auto tokens = chooseTokens(*provider, reader);
    if (!tokens) return nullptr;
    for (const Token& token : *tokens) {
        auto session = Session::open(provider->module, token.slot);
        if (!session) return nullptr;
        const auto objects = containerObjects(*session);
        if (!objects) return nullptr;
        auto match = std::find_if(objects->begin(), objects->end(), [&](const ContainerObject& object) {
            return object.name == containerName;
        });
        if (match == objects->end()) continue;

        auto container = std::make_shared<Container>();
        CK_FUNCTION_LIST& api = provider->module->api();
        CK_ULONG count = 0;
        CK_RV rv = api.C_GetMechanismList(token.slot, nullptr, &count);
        container->mechanisms.resize(count);
        if (rv == CKR_OK && count > 0) rv = api.C_GetMechanismList(token.slot, container->mechanisms.data(), &count);
        if (rv != CKR_OK) {
            pkcs11::failWith(rv);
            return nullptr;
        }
        container->mechanisms.resize(count);
        container->module = provider->module;
        container->section = provider->source.section;
        if (reader != kHsmReader) container->cardReader = std::string(reader);
        container->slot = token.slot;
        container->tokenFlags = token.flags;
        container->tokenIdentity = token.identity;
        container->session = std::move(session);
        container->id = match->id;
        return std::make_shared<Pkcs11Provider>(std::move(container));
    }
    setLastError(kNteBadKeyset);
    return nullptr;
}

std::optional<std::vector<std::string>> pkcs11ListContainers(std::string_view providerName,
                                                             std::string_view reader) {
    auto provider = openProvider(providerName);
    if (!provider) return std::nullopt;
    const auto tokens = chooseTokens(*provider, reader);
    if (!tokens) return std::nullopt;
    std::vector<std::string> names;
    for (const Token& token : *tokens) {
        const auto session = Session::open(provider->module, token.slot);
        const auto objects = session ? containerObjects(*session) : std::nullopt;
        if (!objects) return std::nullopt;
        for (const ContainerObject& object : *objects) {
            if (std::find(names.begin(), names.end(), object.name) == names.end()) names.push_back(object.name);
        }
    }
    return names;
}

TrapReleasedMutex doubleMutex;
std::optional<KeyStoreDouble> keyStoreDouble;

KeyStoreDouble currentDouble() {
    std::lock_guard lock(doubleMutex);
    return keyStoreDouble.value_or(KeyStoreDouble{});
}

}  // namespace

std::optional<std::vector<std::string>> installedProviders() {
    // The double is called outside the lock: it is a test's code and may reset the seam.
    if (auto stand = currentDouble(); stand.installedProviders) return stand.installedProviders();
    return pkcs11InstalledProviders();
}

std::shared_ptr<CryptoProvider> acquireContainer(std::string_view provider, std::string_view reader,
                                                 std::string_view container) {
    if (auto stand = currentDouble(); stand.acquireContainer) return stand.acquireContainer(provider, reader, container);
    return pkcs11AcquireContainer(provider, reader, container);
}

std::optional<std::vector<std::string>> listContainers(std::string_view provider, std::string_view reader) {
    if (auto stand = currentDouble(); stand.listContainers) return stand.listContainers(provider, reader);
    return pkcs11ListContainers(provider, reader);
}

void unloadKeyStoreModulesForTesting() { Module::forgetAll(); }

void setKeyStoreForTesting(std::optional<KeyStoreDouble> keyStore) {
    std::lock_guard lock(doubleMutex);
    keyStoreDouble = std::move(keyStore);
}

}  // namespace tessal::platform
