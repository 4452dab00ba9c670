#include "facade/document_bytes.h"

#include "diagnostics/utf8_text.h"

namespace tessal::facade {

std::optional<std::string> documentBytes(const Variant* document) {
    if (!document) return std::nullopt;
    if (document->is(VarType::String)) return diag::utf8Encode(document->text());
    if (document->is(VarType::Bytes)) return std::string(document->data().begin(), document->data().end());
    return std::nullopt;
}

diag::Outcome<std::string> requireDocument(const Variant* document) {
    std::optional<std::string> bytes = documentBytes(document);
    if (!bytes) return diag::Failure{std::u16string(kBadDataFormat)};
    if (bytes->empty()) return diag::Failure{std::u16string(kEmptyDocument)};
    return std::move(*bytes);
}

}  // namespace tessal::facade
