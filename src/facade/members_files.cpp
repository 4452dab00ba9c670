// The file members and the directory intake.
#include "data/directory_intake.h"
#include "data/file_members.h"
#include "display/window_surface.h"
#include "facade/document_bytes.h"
#include "facade/member_guard.h"
#include "tessal/sign.h"

namespace tessal {

using facade::answer;
using facade::reportFailure;

HResult Sign::readFile(std::u16string_view fileName, std::u16string& contents) {
    auto& s = *state_;
    return facade::gatedMember(s, [&] {
        return answer(s, data::readFileText(fileName), [&](std::u16string text) { contents = std::move(text); });
    });
}

HResult Sign::saveFileXml(std::u16string_view fileName, Variant* xml) {
    auto& s = *state_;
    return facade::gatedMember(s, [&] {
        std::u16string name(fileName);
        if (name.empty()) {
            UiSurface* ui = s.site ? s.site->ui() : nullptr;
            // Without a host interface, a desktop session asks through the window program.
            std::unique_ptr<display::WindowSurface> window = ui ? nullptr : display::desktopWindowSurface();
            if (window) ui = window.get();
            std::optional<std::u16string> chosen =
                ui ? ui->chooseSaveFileName(u"Išsaugoti XML bylą", u"XML Document", u"*.xml") : std::nullopt;
            // A host without a user interface answers as a cancelled dialog.
            if (!chosen || chosen->empty()) return facade::reportUntraced(u"Neperduotas bylos pavadinimas");
            name = data::withXmlExtension(std::move(*chosen));
        }
        diag::Outcome<std::string> document = facade::requireDocument(xml);
        if (!document.ok()) {
            s.redrawFace();
            return reportFailure(s, document.failure());
        }
        const std::string& bytes = document.value();
        return answer(s, data::saveDocument(name, reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()),
                      [](diag::Done) {});
    });
}

HResult Sign::getFileTime(std::u16string_view fileName, std::u16string& fileTime) {
    auto& s = *state_;
    return facade::gatedMember(s, [&] {
        return answer(s, data::fileTimeText(fileName), [&](std::u16string text) { fileTime = std::move(text); });
    });
}

HResult Sign::readNextFileXml(std::u16string_view directory, std::u16string& xml) {
    auto& s = *state_;
    return facade::gatedMember(s, [&] {
        return answer(s, s.intake.readNext(directory), [&](std::u16string text) { xml = std::move(text); });
    });
}

HResult Sign::getProcessedFileName(std::u16string& fileName) {
    auto& s = *state_;
    return facade::gatedMember(s, [&] {
        fileName = s.intake.processedFileName();
        return hr::S_OK;
    });
}

HResult Sign::moveProcessedFile(std::u16string_view destinationDirectory) {
    auto& s = *state_;
    return facade::gatedMember(s, [&] { return answer(s, s.intake.moveProcessed(destinationDirectory), [](diag::Done) {}); });
}

}  // namespace tessal
