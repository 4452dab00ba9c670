#pragma once
// The process-wide locks of the certificate and CRL stores, and the switch
// that turns chain and revocation checks off outside a browser.
//
// Lock order: the store lock before the domain-list lock.
#include "platform/trap_released_lock.h"

namespace tessal::pki {

// Guards the CRL map, the current CRL list and writes of certificateChecksOff.
platform::TrapReleasedMutex& storeLock();

// Guards the certificate maps and the loading of the disk cache, which
// re-enters it.
platform::TrapReleasedRecursiveMutex& certificateLock();

// True once disableCertificateChecks has run in this process.
bool certificateChecksOff();

// Sets certificateChecksOff under the store lock. It is never cleared.
void disableCertificateChecks();

// Test seam: turns the checks back on so suites start from a clean process state.
void clearCertificateChecksOffForTesting();

}  // namespace tessal::pki
