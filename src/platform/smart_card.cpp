#include "platform/smart_card.h"

#include <reader.h>

#include <algorithm>
#include <array>
#include <mutex>
#include <utility>

#include "platform/card_table.h"
#include "platform/config.h"
#include "platform/last_error.h"
#include "platform/pcsc_library.h"
#include "platform/trap_released_lock.h"

namespace tessal::platform {

namespace {

constexpr std::string_view kCardTable = "SOFTWARE\\Microsoft\\Cryptography\\Calais\\SmartCards";
constexpr std::string_view kAtrValue = "ATR";
constexpr std::string_view kAtrMaskValue = "ATRMask";
constexpr std::string_view kProviderValue = "Crypto Provider";

// Answers of the card table that have no resource-manager call behind them.
constexpr std::uint32_t kScardUnknownCard = 0x8010000Du;
constexpr std::uint32_t kFileNotFound = 2;  // a missing value, as a registry read reports it

// The largest attribute the resource manager hands out; an ATR is at most
// 33 bytes, but the attribute call is given room for anything it may answer.
constexpr DWORD kAttributeBufferSize = MAX_BUFFER_SIZE;

std::uint32_t codeOf(LONG result) { return static_cast<std::uint32_t>(result); }

bool succeeded(LONG result) {
    if (result == SCARD_S_SUCCESS) return true;
    setLastError(codeOf(result));
    return false;
}

std::string cardTableSection(std::string_view cardName) {
    std::string section(kCardTable);
    section += '\\';
    section += cardName;
    return section;
}

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Card type names are registry key names: letter case does not count.
bool sameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
    }
    return true;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Hexadecimal as people write ATRs: pairs of digits, optionally separated by
// blanks or colons. Anything else (a stray letter, an odd digit) makes the
// text unreadable rather than silently shorter.
std::optional<ByteBlock> parseHex(std::string_view text) {
    ByteBlock bytes;
    int high = -1;
    for (char c : text) {
        if (c == ' ' || c == '\t' || c == ':') {
            if (high >= 0) return std::nullopt;  // a lone digit between separators
            continue;
        }
        const int digit = hexDigit(c);
        if (digit < 0) return std::nullopt;
        if (high < 0) {
            high = digit;
        } else {
            bytes.push_back(static_cast<std::uint8_t>((high << 4) | digit));
            high = -1;
        }
    }
    if (high >= 0 || bytes.empty()) return std::nullopt;
    return bytes;
}

// Whether the card type in `section` covers `atr`: same length, and equal in
// every bit the mask keeps. An entry whose ATR or mask cannot be read, or
// whose mask is not as long as its ATR, covers nothing.
bool entryMatches(const std::string& section, const ByteBlock& atr) {
    const std::optional<std::string> atrText = configValue(section, kAtrValue);
    if (!atrText) return false;
    const std::optional<ByteBlock> expected = parseHex(*atrText);
    if (!expected || expected->size() != atr.size()) return false;

    ByteBlock mask(expected->size(), 0xFF);
    if (const std::optional<std::string> maskText = configValue(section, kAtrMaskValue)) {
        const std::optional<ByteBlock> given = parseHex(*maskText);
        if (!given || given->size() != expected->size()) return false;
        mask = *given;
    }
    for (std::size_t i = 0; i < atr.size(); ++i) {
        if ((atr[i] & mask[i]) != ((*expected)[i] & mask[i])) return false;
    }
    return true;
}

// The resource manager's answers on a context whose service has gone away;
// anything else (no readers, say) still comes from a live service.
bool serviceGone(LONG result) {
    return result == SCARD_E_NO_SERVICE || result == SCARD_F_COMM_ERROR || result == SCARD_E_INVALID_HANDLE ||
           result == SCARD_E_SERVICE_STOPPED;
}

// A connection to the card in one reader, disconnected (leaving the card as
// it is) when it goes out of scope, whatever happened in between.
class CardConnection {
public:
    CardConnection(const PcscLibrary& pcsc, SCARDCONTEXT context, std::string_view reader) : pcsc_(pcsc) {
        const std::string name(reader);
        DWORD protocol = 0;
        result_ = pcsc_.connect(context, name.c_str(), SCARD_SHARE_SHARED, SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1,
                                &handle_, &protocol);
    }
    ~CardConnection() {
        if (result_ == SCARD_S_SUCCESS) pcsc_.disconnect(handle_, SCARD_LEAVE_CARD);
    }
    CardConnection(const CardConnection&) = delete;
    CardConnection& operator=(const CardConnection&) = delete;

    LONG result() const { return result_; }
    SCARDHANDLE handle() const { return handle_; }

private:
    const PcscLibrary& pcsc_;
    SCARDHANDLE handle_ = 0;
    LONG result_ = SCARD_E_INVALID_HANDLE;
};

class PcscCardContext final : public CardContext {
public:
    PcscCardContext(const PcscLibrary& pcsc, SCARDCONTEXT context) : pcsc_(pcsc), context_(context) {}
    ~PcscCardContext() override { pcsc_.releaseContext(context_); }
    PcscCardContext(const PcscCardContext&) = delete;
    PcscCardContext& operator=(const PcscCardContext&) = delete;

    bool valid() const override {
        if (!succeeded(pcsc_.isValidContext(context_))) return false;
        // The library only checks its own handle table; whether the service
        // behind the context is still there takes a call that reaches it.
        DWORD length = 0;
        const LONG probe = pcsc_.listReaders(context_, nullptr, nullptr, &length);
        if (serviceGone(probe)) {
            setLastError(codeOf(probe));
            return false;
        }
        return true;
    }

    std::optional<std::vector<std::string>> listReaders() override {
        std::string buffer;
        LONG result = SCARD_E_INSUFFICIENT_BUFFER;
        // A reader plugged in between asking for the size and fetching the
        // names makes the second call too small; ask again then.
        for (int attempt = 0; attempt < 3 && result == SCARD_E_INSUFFICIENT_BUFFER; ++attempt) {
            DWORD length = 0;
            result = pcsc_.listReaders(context_, nullptr, nullptr, &length);
            if (result != SCARD_S_SUCCESS) break;
            buffer.assign(length, '\0');
            result = pcsc_.listReaders(context_, nullptr, buffer.data(), &length);
            if (result == SCARD_S_SUCCESS) buffer.resize(std::min<std::size_t>(length, buffer.size()));
        }
        if (!succeeded(result)) return std::nullopt;

        // A list of strings, each ending in a NUL, the whole ending in another.
        std::vector<std::string> readers;
        std::size_t start = 0;
        while (start < buffer.size()) {
            const std::size_t end = buffer.find('\0', start);
            const std::size_t stop = end == std::string::npos ? buffer.size() : end;
            if (stop == start) break;
            readers.emplace_back(buffer, start, stop - start);
            start = stop + 1;
        }
        return readers;
    }

    bool cardPresent(std::string_view reader) override {
        const CardConnection connection(pcsc_, context_, reader);
        return succeeded(connection.result());
    }

    std::optional<ByteBlock> readAtr(std::string_view reader, bool& connected) override {
        const CardConnection connection(pcsc_, context_, reader);
        connected = connection.result() == SCARD_S_SUCCESS;
        if (!succeeded(connection.result())) return std::nullopt;

        std::array<BYTE, kAttributeBufferSize> attribute{};
        DWORD attributeLength = static_cast<DWORD>(attribute.size());
        const LONG fromAttribute =
            pcsc_.getAttrib(connection.handle(), SCARD_ATTR_ATR_STRING, attribute.data(), &attributeLength);
        if (fromAttribute == SCARD_S_SUCCESS && attributeLength > 0 && attributeLength <= attribute.size()) {
            return ByteBlock(attribute.begin(), attribute.begin() + attributeLength);
        }

        // Some reader drivers do not offer the attribute; the card status
        // carries the same bytes.
        std::array<BYTE, MAX_ATR_SIZE> atr{};
        DWORD atrLength = static_cast<DWORD>(atr.size());
        DWORD readerLength = 0;
        DWORD state = 0;
        DWORD protocol = 0;
        const LONG fromStatus =
            pcsc_.status(connection.handle(), nullptr, &readerLength, &state, &protocol, atr.data(), &atrLength);
        if (!succeeded(fromStatus)) return std::nullopt;
        if (atrLength > atr.size()) atrLength = static_cast<DWORD>(atr.size());
        return ByteBlock(atr.begin(), atr.begin() + atrLength);
    }

    ReaderChange waitForReaderChange(ReaderWatch& watch, std::chrono::milliseconds timeout) override {
        SCARD_READERSTATE state{};
        state.szReader = watch.reader.c_str();
        state.dwCurrentState = watch.knownState;
        const auto waitMs = static_cast<DWORD>(std::clamp<std::chrono::milliseconds::rep>(timeout.count(), 0, 60000));
        const LONG result = pcsc_.getStatusChange(context_, waitMs, &state, 1);
        if (result == SCARD_E_TIMEOUT) return ReaderChange::None;
        if (!succeeded(result)) return ReaderChange::Gone;
        // An unknown reader has been unplugged (or never was): nothing is left to watch.
        if ((state.dwEventState & (SCARD_STATE_EMPTY | SCARD_STATE_UNKNOWN)) != 0) return ReaderChange::Gone;
        watch.knownState = static_cast<std::uint32_t>(state.dwEventState);
        return ReaderChange::Present;
    }

    void cancelWaits() override { pcsc_.cancel(context_); }

    std::optional<std::vector<std::string>> cardNames(const ByteBlock& atr) override {
        return cardTypesForAtr(atr);
    }

    std::optional<std::string> cardTypeProvider(std::string_view cardName) override {
        return cardTypeProviderName(cardName);
    }

private:
    const PcscLibrary& pcsc_;
    SCARDCONTEXT context_;
};

TrapReleasedMutex factoryLock;
std::function<std::unique_ptr<CardContext>()> factoryOverride;

}  // namespace

CardContext::~CardContext() = default;

std::vector<std::string> cardTypesForAtr(const ByteBlock& atr) {
    std::vector<std::string> names;
    for (std::string& name : configSubsections(kCardTable)) {
        if (entryMatches(cardTableSection(name), atr)) names.push_back(std::move(name));
    }
    return names;
}

std::optional<std::string> cardTypeProviderName(std::string_view cardName) {
    const std::vector<std::string> known = configSubsections(kCardTable);
    if (std::none_of(known.begin(), known.end(), [&](const std::string& name) { return sameName(name, cardName); })) {
        setLastError(kScardUnknownCard);
        return std::nullopt;
    }
    std::optional<std::string> provider = configValue(cardTableSection(cardName), kProviderValue);
    if (!provider) setLastError(kFileNotFound);
    return provider;
}

std::optional<std::string> registeredCardProvider(std::string_view cardName) {
    if (cardName.empty()) {
        setLastError(kFileNotFound);
        return std::nullopt;
    }
    std::optional<std::string> provider = configValue(cardTableSection(cardName), kProviderValue);
    if (!provider) setLastError(kFileNotFound);
    return provider;
}

std::unique_ptr<CardContext> establishCardContext() {
    std::function<std::unique_ptr<CardContext>()> factory;
    {
        std::lock_guard guard(factoryLock);
        factory = factoryOverride;
    }
    if (factory) return factory();

    // pcsc-lite is opened here, by the first context asked for; without it
    // there is no service to reach, and callers hear just that.
    const PcscLibrary* pcsc = pcscLibrary();
    if (!pcsc) {
        setLastError(codeOf(SCARD_E_NO_SERVICE));
        return nullptr;
    }
    SCARDCONTEXT context = 0;
    if (!succeeded(pcsc->establishContext(SCARD_SCOPE_USER, nullptr, nullptr, &context))) return nullptr;
    return std::make_unique<PcscCardContext>(*pcsc, context);
}

void setCardContextFactoryForTesting(std::function<std::unique_ptr<CardContext>()> factory) {
    std::lock_guard guard(factoryLock);
    factoryOverride = std::move(factory);
}

}  // namespace tessal::platform
