#pragma once
// The signer's key environment of one object: the key selection that signing
// creates, and its clean-up.
#include "facade/sign_state.h"

namespace tessal::facade {

// Stops the card monitor (bounded wait: 25 polls of 200 ms) and drops the key
// selection, so the next signing selects the key afresh.
void resetKeyEnvironment(SignState& state);

}  // namespace tessal::facade
