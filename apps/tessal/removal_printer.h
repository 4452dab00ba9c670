#pragma once
// The callback of the `cb:TEXT` argument: a dispatch reference that prints
// "cardRemoved TEXT" on standard output when it is invoked.
#include <memory>
#include <string>

#include "tessal/variant.h"

namespace tessal::cli {

std::shared_ptr<Dispatch> removalPrinter(std::string text);

}  // namespace tessal::cli
