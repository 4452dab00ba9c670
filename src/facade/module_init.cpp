#include "facade/module_init.h"

#include <libxml/parser.h>

#include <mutex>

#include "crypto/key_selection.h"
#include "diagnostics/log_file.h"
#include "facade/callback_lock.h"
#include "pki/client_identity.h"
#include "pki/store_lock.h"

namespace tessal::facade {

platform::TrapReleasedMutex& callbackLock() {
    static platform::TrapReleasedMutex lock;
    return lock;
}

void ensureModuleInitialised() {
    static std::once_flag once;
    std::call_once(once, [] {
        callbackLock();
        pki::storeLock();
        pki::certificateLock();
        xmlInitParser();
        diag::initialiseGlobalLog();
        // A server that demands a client certificate is shown the selected signer's.
        pki::setClientIdentityLookup([]() -> pki::ClientIdentity* { return crypto::selectedSigner(); });
    });
}

}  // namespace tessal::facade
