#pragma once
#include "platform/trap_released_lock.h"

namespace tessal::facade {

// The process-wide lock around every object's card-removal callback.
platform::TrapReleasedMutex& callbackLock();

}  // namespace tessal::facade
