#include "document_verdict.h"

#include <optional>

#include "diagnostics/utf8_text.h"
#include "tessal/error_info.h"

namespace tessal::cli {

DocumentVerdict verifyDocument(Sign& sign, std::vector<std::uint8_t> bytes) {
    Variant document = Variant::bytes(std::move(bytes));
    std::u16string subject;
    setErrorInfo(std::nullopt);
    const HResult status = sign.verifyXmlSign(&document, subject);
    const std::optional<ErrorInfo> error = takeErrorInfo();
    DocumentVerdict verdict;
    verdict.holds = status == hr::S_OK;
    if (verdict.holds) {
        verdict.subject = diag::utf8Encode(subject);
    } else {
        verdict.defects = error ? diag::utf8Encode(error->description) : std::string("verification failed");
    }
    return verdict;
}

}  // namespace tessal::cli
