#pragma once
// The smart-card resource manager (pcsc-lite) in the shape the key search
// and the signer contexts use, and the card table of the configuration:
//   [SOFTWARE\Microsoft\Cryptography\Calais\SmartCards\NAME]
//   ATR = 3B951381018073FF01000B          ; hexadecimal
//   ATRMask = FFFFFFFFFFFFFFFFFFFFFF       ; optional, all ones by default
//   Crypto Provider = NAME OF A KEY-STORE PROVIDER
// Failures answer false or nothing and set the thread's last error to the
// resource manager's code (0x8010xxxx): SCARD_E_NO_SERVICE when pcscd is not
// running, SCARD_E_NO_READERS_AVAILABLE (0x8010002E) when no reader is
// attached, SCARD_W_REMOVED_CARD (0x80100069) or SCARD_E_NO_SMARTCARD
// (0x8010000C) when the reader is empty.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/x509.h"

namespace tessal::platform {

inline constexpr std::uint32_t kScardNoReaders = 0x8010002Eu;
inline constexpr std::uint32_t kScardRemovedCard = 0x80100069u;
inline constexpr std::uint32_t kScardNoSmartCard = 0x8010000Cu;

// One reader being watched: its name and the state last reported for it
// (0, unaware, before the first wait, which then answers at once).
struct ReaderWatch {
    std::string reader;
    std::uint32_t knownState = 0;
};

// What one bounded wait on a watched reader saw.
enum class ReaderChange {
    None,     // nothing changed before the wait ran out
    Present,  // the state changed and a card is still in the reader
    Gone,     // the reader is empty or unknown, or the wait failed (last error set)
};

// One resource-manager context (SCardEstablishContext / SCardReleaseContext).
class CardContext {
public:
    virtual ~CardContext();
    // SCardIsValidContext: false once the service has gone.
    virtual bool valid() const = 0;
    virtual std::optional<std::vector<std::string>> listReaders() = 0;
    // Connects shared (T0 or T1) and disconnects leaving the card: true when
    // a card answers in the reader.
    virtual bool cardPresent(std::string_view reader) = 0;
    // Connects, reads the answer-to-reset (the ATR attribute, else the card
    // status) and disconnects. `connected` tells whether the connection was
    // made, so a failure can be told apart from an empty reader.
    virtual std::optional<ByteBlock> readAtr(std::string_view reader, bool& connected) = 0;
    // Waits at most `timeout` for the state of `watch.reader` to differ from
    // `watch.knownState` (SCardGetStatusChange with that one reader); on
    // Present the new state becomes the known one.
    virtual ReaderChange waitForReaderChange(ReaderWatch& watch, std::chrono::milliseconds timeout) = 0;
    // Ends a waitForReaderChange running on another thread now, as Gone
    // (SCardCancel); callable from any thread while the context lives. A
    // context that cannot be woken lets the wait run its time.
    virtual void cancelWaits() {}
    // The card type names the card table gives for an ATR (SCardListCards).
    virtual std::optional<std::vector<std::string>> cardNames(const ByteBlock& atr) = 0;
    // A card type's provider (SCardGetCardTypeProviderName).
    virtual std::optional<std::string> cardTypeProvider(std::string_view cardName) = 0;
};

// The provider the card table registers for a card type, read directly
// (the "Crypto Provider" value); nothing when the type or value is missing.
std::optional<std::string> registeredCardProvider(std::string_view cardName);

// Establishes a user-scope context; nothing with the last error set.
std::unique_ptr<CardContext> establishCardContext();

// Test seam: replaces what establishCardContext answers (an empty function
// restores pcsc-lite).
void setCardContextFactoryForTesting(std::function<std::unique_ptr<CardContext>()> factory);

}  // namespace tessal::platform
