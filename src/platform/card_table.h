#pragma once
// The card table of the configuration (described in smart_card.h), read
// without a resource-manager context: the lookups behind
// CardContext::cardNames and CardContext::cardTypeProvider, which need no
// service and so can be checked without one.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/x509.h"

namespace tessal::platform {

// The card types whose ATR, under their mask, equals `atr`, in file order.
// No match is an empty list, not a failure.
std::vector<std::string> cardTypesForAtr(const ByteBlock& atr);

// The provider of a card type; nothing with the last error set to
// SCARD_E_UNKNOWN_CARD (0x8010000D) for a type the table does not list, or
// to 2 (file not found) when the type has no provider value.
std::optional<std::string> cardTypeProviderName(std::string_view cardName);

}  // namespace tessal::platform
