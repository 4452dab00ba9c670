#pragma once
// How members take a document from their VARIANT* argument: a string as its
// UTF-8 encoding (up to the first NUL unit), a byte array as it is, anything
// else (by-reference variants included) as no document.
#include <optional>
#include <string>
#include <string_view>

#include "diagnostics/outcome.h"
#include "tessal/variant.h"

namespace tessal::facade {

std::optional<std::string> documentBytes(const Variant* document);

inline constexpr std::u16string_view kEmptyDocument = u"Bandymas išsaugoti tuščią dokumentą";
inline constexpr std::u16string_view kBadDataFormat = u"Klaidingas duomenų formatas";

// The document, or the failure for an empty or absent one.
diag::Outcome<std::string> requireDocument(const Variant* document);

// The same bytes without a copy of a byte array: members that only read the
// document take it in place (a string is still encoded into `encoded`). The
// argument must outlive the result.
struct DocumentInPlace {
    std::string encoded;
    const std::vector<std::uint8_t>* array = nullptr;
    std::string_view bytes() const {
        return array ? std::string_view(reinterpret_cast<const char*>(array->data()), array->size())
                     : std::string_view(encoded);
    }
};
diag::Outcome<DocumentInPlace> requireDocumentInPlace(const Variant* document);

}  // namespace tessal::facade
