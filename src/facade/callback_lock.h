#pragma once
#include <mutex>

namespace tessal::facade {

// The process-wide lock around every object's card-removal callback.
std::mutex& callbackLock();

}  // namespace tessal::facade
