#include "facade/document_bytes.h"

#include "diagnostics/utf8_text.h"

namespace tessal::facade {

namespace {

std::optional<DocumentInPlace> documentInPlace(const Variant* document) {
    if (!document) return std::nullopt;
    if (document->is(VarType::String)) return DocumentInPlace{diag::utf8Encode(document->text()), nullptr};
    if (document->is(VarType::Bytes)) return DocumentInPlace{{}, &document->data()};
    return std::nullopt;
}

}  // namespace

std::optional<std::string> documentBytes(const Variant* document) {
    std::optional<DocumentInPlace> found = documentInPlace(document);
    if (!found) return std::nullopt;
    if (!found->array) return std::move(found->encoded);
    return std::string(found->bytes());
}

diag::Outcome<DocumentInPlace> requireDocumentInPlace(const Variant* document) {
    std::optional<DocumentInPlace> found = documentInPlace(document);
    if (!found) return diag::Failure{std::u16string(kBadDataFormat)};
    if (found->bytes().empty()) return diag::Failure{std::u16string(kEmptyDocument)};
    return std::move(*found);
}

diag::Outcome<std::string> requireDocument(const Variant* document) {
    diag::Outcome<DocumentInPlace> found = requireDocumentInPlace(document);
    if (!found.ok()) return found.failure();
    if (!found.value().array) return std::move(found.value().encoded);
    return std::string(found.value().bytes());
}

}  // namespace tessal::facade
