#pragma once
// Whether the object may work where it is hosted, and where the PKI layer
// fetches certificates from: inside a browser only approved sites are served
// and the page's domain is used; outside everything is allowed and the
// configured domains are used with certificate checks off.
#include "facade/sign_state.h"

namespace tessal::facade {

// The gate of the members: runs the check at the first gated member of an
// object that no browser has checked, and remembers an allowing verdict.
bool checkEnvironment(SignState& state);

// Runs the check itself and answers its verdict.
bool runEnvironmentCheck(SignState& state);

}  // namespace tessal::facade
