#pragma once
// Key containers on PKCS#11 tokens, as the signer contexts reach them.
//
// A provider is a PKCS#11 module, named as the configuration names it
//   [SOFTWARE\Microsoft\Cryptography\Defaults\Provider\NAME]
//   module = /usr/lib/softhsm/libsofthsm2.so
//   pin = 1234            ; or pinFile = /path, for an HSM
//   token = demo          ; optional: only this token label
// followed by the modules registered with p11-kit (their p11-kit names),
// unless [platform] p11kitDiscovery = no.
//
// A container is the label (else the hex CKA_ID) of a certificate or public
// key object; its key pair is the private key with the same CKA_ID. The key
// spec is Exchange when the private key may decrypt or unwrap, Signature when
// it may only sign. A card's containers live on the tokens that the card
// table binds to the reader
//   [SOFTWARE\Microsoft\Cryptography\Calais\Readers\READER]
//   token = LABEL           ; or LABEL, LABEL2 for a card with one token per PIN
// else on every token whose slot description is the reader name; each such
// token is searched, in slot order, and the first that holds a container
// serves it. (A label holding a comma cannot be bound.)
//
// PINs: TESSAL_PIN, then the provider's pin or pinFile (platform/stored_pin.h),
// then (for a card only) the desktop PIN prompt (platform/pin_prompt.h);
// protected-path tokens log in without one. The token's flags are read before
// each login: a blocked PIN is not presented at all (SCARD_W_CHV_BLOCKED,
// 0x8010006C); on the last try no stored PIN is presented and only a card's
// prompt may ask, saying it is the last try. Within a PinAttemptScope
// (platform/pin_scope.h) a token that refused a PIN is not given another one:
// its later logins fail with SCARD_W_WRONG_CHV at once. A token that needs a
// PIN nobody gives fails with SCARD_W_CANCELLED_BY_USER (0x8010006E); a wrong
// PIN with SCARD_W_WRONG_CHV (0x8010006B). Failures set the thread's last
// error: NTE_BAD_KEYSET when the container does not exist,
// NTE_KEYSET_NOT_DEFINED when the provider is unknown or its module does not
// load, ERROR_NO_TOKEN (1008) when the token is gone, NTE_NO_KEY when a key
// spec holds no key.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/crypto_provider.h"

namespace tessal::platform {

inline constexpr std::uint32_t kErrorNoToken = 1008;
inline constexpr std::uint32_t kScardWrongChv = 0x8010006Bu;         // a wrong PIN
inline constexpr std::uint32_t kScardChvBlocked = 0x8010006Cu;       // the PIN is blocked
inline constexpr std::uint32_t kScardCancelledByUser = 0x8010006Eu;  // no PIN given
inline constexpr std::uint32_t kErrorNoMoreItems = 259;

// The installed providers in order (configuration first, then p11-kit);
// nothing when neither source can be read.
std::optional<std::vector<std::string>> installedProviders();

// A provider bound to one container. `reader` is "HSM" for a container in an
// HSM (every token of the module is searched), else the reader whose card
// holds it. Nothing, with the last error set, when it cannot be opened.
std::shared_ptr<CryptoProvider> acquireContainer(std::string_view provider, std::string_view reader,
                                                 std::string_view container);

// The container names a provider reaches on the card in `reader` (or in
// every token for "HSM"), in the order the tokens list them; nothing with
// the last error set when the module or token cannot be read.
std::optional<std::vector<std::string>> listContainers(std::string_view provider, std::string_view reader);

// Test seam: forgets loaded modules so a test can point the configuration
// at fresh tokens.
void unloadKeyStoreModulesForTesting();

// Test seam: stands in for the three operations above (an empty set of
// functions restores the PKCS#11 key store).
struct KeyStoreDouble {
    std::function<std::optional<std::vector<std::string>>()> installedProviders;
    std::function<std::shared_ptr<CryptoProvider>(std::string_view, std::string_view, std::string_view)> acquireContainer;
    std::function<std::optional<std::vector<std::string>>(std::string_view, std::string_view)> listContainers;
};
void setKeyStoreForTesting(std::optional<KeyStoreDouble> keyStore);

}  // namespace tessal::platform
