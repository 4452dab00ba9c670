#pragma once
// The values a page passes and receives, between their JSON forms and the
// component's automation values: strings, whole numbers as 32-bit integers,
// other numbers as doubles, booleans, null for an omitted argument,
// {"bytes":BASE64} for a byte array and {"callback":K} for a page function.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include <nlohmann/json.hpp>

#include "tessal/sign.h"

namespace tessal::host {

// Makes the dispatch object that stands for the page's function number K.
using CallbackFactory = std::function<std::shared_ptr<Dispatch>(std::int64_t)>;

// The argument for one JSON value; nothing (the outer optional) when the
// value has none of the forms above.
std::optional<Argument> argumentOf(const nlohmann::json& value, const CallbackFactory& callbacks);

// A member's result in JSON; null when it has no value.
nlohmann::json jsonOf(const Variant& value);

}  // namespace tessal::host
