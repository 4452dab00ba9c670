#include "display/window_surface.h"

#include <unistd.h>

#include <cstdlib>

#include "build_settings.h"
#include "display/summary_rows.h"
#include "display/window_request.h"
#include "platform/child_exchange.h"
#include "platform/config.h"

namespace tessal::display {

namespace {

void addObject(WindowRequest& request, int target, const platform::ByteBlock& der) {
    if (!der.empty()) request.objects.emplace(target, std::vector<std::uint8_t>(der.begin(), der.end()));
}

// The certificate and CRL each viewer button of the window opens.
void addObjects(WindowRequest& request, const trust::CertificateContext& holder, int certificateTarget, int crlTarget) {
    if (holder.subject.hasCertificate()) addObject(request, certificateTarget, holder.subject.certificate().der());
    if (holder.revocationList.hasCrl()) addObject(request, crlTarget, holder.revocationList.crl().der());
}

}  // namespace

void WindowSurface::showSignatureWindow(const xml::SignatureInfo& info) {
    WindowRequest request;
    request.task = WindowTask::ShowSummary;
    request.rows = summaryRows(info);
    addObjects(request, info.signer, targets::kSignerCertificate, targets::kSignerCrl);
    addObjects(request, info.timeStampAuthority, targets::kAuthorityCertificate, targets::kAuthorityCrl);
    const std::size_t shown = std::min(info.archiveTimeStamps.size(), kShownArchiveTimeStamps);
    for (std::size_t k = 0; k < shown; ++k) {
        const int index = static_cast<int>(k);
        addObjects(request, info.archiveTimeStamps[k].authority, targets::kArchiveCertificate + index,
                   targets::kArchiveCrl + index);
    }
    const std::string bytes = encodeRequest(request);
    if (bytes.size() > kRequestHeaderBytes + kMaxRequestBytes) return;
    platform::exchangeWithChild(program_, {}, bytes, 0);
}

std::optional<std::u16string> WindowSurface::chooseSaveFileName(std::u16string_view title,
                                                                std::u16string_view filterName,
                                                                std::u16string_view filterPattern) {
    WindowRequest request;
    request.task = WindowTask::ChooseSaveName;
    request.title = std::u16string(title);
    request.filterName = std::u16string(filterName);
    request.filterPattern = std::u16string(filterPattern);
    const platform::ChildOutcome outcome =
        platform::exchangeWithChild(program_, {}, encodeRequest(request), kMaxAnswerBytes);
    // A program that failed or was killed counts as a cancel, whatever it
    // sent; one whose status the system did not keep is taken by its answer.
    const bool failed = outcome.killed || (outcome.exitStatus && *outcome.exitStatus != 0);
    if (!outcome.started || failed || outcome.answerTooLong) return std::nullopt;
    return decodeChosenName(outcome.answer);
}

bool displayAvailable() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(name);
        if (value && *value) return true;
    }
    return false;
}

std::string windowProgramPath() {
    if (std::optional<std::string> configured = platform::configValue(platform::kPlatformSection, "uiProgram");
        configured && !configured->empty()) {
        return *configured;
    }
    // A library built in one tree and installed elsewhere finds the program
    // where the installation put it.
    if (::access(TESSAL_UI_PROGRAM, X_OK) == 0) return TESSAL_UI_PROGRAM;
    return TESSAL_INSTALLED_UI_PROGRAM;
}

std::unique_ptr<WindowSurface> desktopWindowSurface() {
    if (!displayAvailable()) return nullptr;
    return std::make_unique<WindowSurface>(windowProgramPath());
}

}  // namespace tessal::display
