// Members that verify a signed document and work on the result of the last
// signing or verification run.
#include <memory>

#include "display/face_pattern.h"
#include "display/summary_rows.h"
#include "display/summary_text.h"
#include "display/window_surface.h"
#include "facade/document_bytes.h"
#include "facade/member_guard.h"
#include "tessal/sign.h"
#include "xades/signature_info.h"
#include "xades/verification.h"

namespace tessal {

HResult Sign::verifyXmlSign(Variant* document, std::u16string& certId) {
    auto& s = *state_;
    return facade::gatedMember(s, [&] {
        s.signatureInfo.reset();
        s.redrawFace();
        s.signatureInfo = std::make_unique<xml::SignatureInfo>();
        const diag::Outcome<facade::DocumentInPlace> bytes = facade::requireDocumentInPlace(document);
        if (!bytes.ok()) return facade::reportFailure(s, bytes.failure());

        const std::string_view text = bytes.value().bytes();
        xml::VerificationJob job(text.data(), text.size(), nullptr, s.signatureInfo.get());
        if (!xml::verifySignature(job)) {
            s.redrawFace();
            return facade::reportFailure(s, job.error().text.utf16());
        }
        certId = job.verifier.certificates.subject.subject().utf16();
        s.redrawFace();
        return hr::S_OK;
    });
}

HResult Sign::info() {
    auto& s = *state_;
    return facade::guardMember(s, [&] {
        if (!s.signatureInfo) return hr::S_OK;
        UiSurface* surface = s.site ? s.site->ui() : nullptr;
        if (surface) {
            const std::vector<display::SummaryRow> rows = display::summaryRows(*s.signatureInfo);
            surface->showSignatureSummary(SignatureSummary{display::summaryText(rows), display::summaryJson(rows)});
        } else if (std::unique_ptr<display::WindowSurface> window = display::desktopWindowSurface()) {
            window->showSignatureWindow(*s.signatureInfo);
        }
        return hr::S_OK;
    });
}

HResult Sign::reset() {
    auto& s = *state_;
    return facade::guardMember(s, [&] {
        if (s.signatureInfo) {
            s.signatureInfo.reset();
            s.redrawFace();
        }
        return hr::S_OK;
    });
}

std::optional<ControlFace> Sign::face(const FaceRectangle& bounds) const {
    if (!state_->signatureInfo) return std::nullopt;
    return display::faceOf(*state_->signatureInfo, bounds);
}

}  // namespace tessal
