#pragma once
// How members take a document from their VARIANT* argument: a string as its
// UTF-8 encoding (up to the first NUL unit), a byte array as it is, anything
// else (by-reference variants included) as no document.
#include <optional>
#include <string>

#include "diagnostics/outcome.h"
#include "tessal/variant.h"

namespace tessal::facade {

std::optional<std::string> documentBytes(const Variant* document);

inline constexpr std::u16string_view kEmptyDocument = u"Bandymas išsaugoti tuščią dokumentą";
inline constexpr std::u16string_view kBadDataFormat = u"Klaidingas duomenų formatas";

// The document, or the failure for an empty or absent one.
diag::Outcome<std::string> requireDocument(const Variant* document);

}  // namespace tessal::facade
