#pragma once
// The work of the member `convert`: text to UTF-8 bytes ("2ba") and anything
// to text (every other type name).
#include <string_view>

#include "tessal/hresult.h"
#include "tessal/variant.h"

namespace tessal::data {

// Converts `in` into `out` by `type`. The answer is S_OK or the status of a
// failed variant conversion, which the member returns unchanged without
// error information. For "2ba" a non-string input is first converted to a
// string in `in` itself, as the caller's own variant.
HResult convertValue(Variant& in, std::u16string_view type, Variant& out);

}  // namespace tessal::data
