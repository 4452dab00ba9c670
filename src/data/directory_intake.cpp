#include "data/directory_intake.h"

#include <cerrno>

#include "data/file_members.h"
#include "diagnostics/ansi_text.h"
#include "diagnostics/wide_format.h"
#include "platform/last_error.h"

namespace tessal::data {

namespace {

constexpr std::u16string_view kNoDirectory = u"Neperduotas katalogo pavadinimas";
constexpr std::u16string_view kUnreachable = u"Nepasiekiamas katalogas \"%s\"";
constexpr std::u16string_view kMoveFailed = u"Klaida perkeliant bylą \"%s\" į \"%s\" (%d)";

// Collation weight of one byte, approximating the platform's locale-invariant,
// case-ignoring order: control characters, space and punctuation first, then
// digits, then letters (ASCII letters folded to lower case), then every byte
// from 0x80 by its value. Within a class bytes keep their numeric order.
int weight(unsigned char c) {
    if (c >= 0x80) return 0x300 + c;
    if (c >= 'A' && c <= 'Z') return 0x200 + (c + 32);
    if (c >= 'a' && c <= 'z') return 0x200 + c;
    if (c >= '0' && c <= '9') return 0x100 + c;
    return c;
}

std::string joinPath(const std::string& directory, const std::string& name) {
    if (!directory.empty() && directory.back() == '/') return directory + name;
    return directory + "/" + name;
}

diag::Failure unreachable(std::u16string_view shown) {
    return diag::Failure{diag::formatWide(kUnreachable, {shown})};
}

}  // namespace

int comparePrefixes(std::string_view a, std::string_view b) {
    a = a.substr(0, 2);
    b = b.substr(0, 2);
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
        const int d = weight(static_cast<unsigned char>(a[i])) - weight(static_cast<unsigned char>(b[i]));
        if (d != 0) return d;
    }
    return static_cast<int>(a.size()) - static_cast<int>(b.size());
}

std::size_t pickIndex(const std::vector<platform::DirectoryEntry>& candidates) {
    std::size_t best = 0;
    for (std::size_t i = 1; i < candidates.size(); ++i) {
        const int order = comparePrefixes(candidates[best].name, candidates[i].name);
        if (order < 0 || (order == 0 && candidates[i].lastWrite < candidates[best].lastWrite)) best = i;
    }
    return best;
}

diag::Outcome<std::u16string> DirectoryIntake::readNext(std::u16string_view directory) {
    currentFileName_.clear();
    currentDirectory_.clear();
    if (directory.empty()) return diag::Failure{std::u16string(kNoDirectory)};

    const std::string narrow = diag::toAnsiName(directory);
    std::string full;
    if (!platform::pathExists(narrow) || !platform::changeDirectory(narrow) || !platform::currentDirectory(full)) {
        return unreachable(directory);
    }

    // A directory that cannot be listed is unreachable, not empty: answering
    // "<Result/>" would hide it from the caller for good.
    std::vector<platform::DirectoryEntry> entries;
    if (!platform::listDirectory(full, entries)) return unreachable(directory);
    currentDirectory_ = std::move(full);

    // "*.xml" in any letter case, as on a file system that ignores case.
    // Only regular files can be read and moved; a directory named like an
    // XML file would otherwise be picked again on every call. A symbolic link
    // is passed over: it would hand out a file from outside the inbox.
    std::vector<platform::DirectoryEntry> candidates;
    for (auto& entry : entries) {
        if (entry.regularFile && isXmlFileName(std::string_view(entry.name))) candidates.push_back(std::move(entry));
    }
    if (candidates.empty()) return std::u16string(u"<Result/>");

    currentFileName_ = candidates[pickIndex(candidates)].name;
    const std::string path = joinPath(currentDirectory_, currentFileName_);
    return readFileTextAt(path, diag::fromAnsiWhole(path), platform::FileKind::RegularNoLink);
}

std::u16string DirectoryIntake::processedFileName() const {
    if (currentFileName_.empty()) return diag::fromAnsiName(currentDirectory_);
    return diag::fromAnsiName(joinPath(currentDirectory_, currentFileName_));
}

diag::Status DirectoryIntake::moveProcessed(std::u16string_view destination) {
    if (destination.empty()) return diag::Failure{std::u16string(kNoDirectory)};

    const std::string narrow = diag::toAnsiName(destination);
    std::string full;
    if (!platform::changeDirectory(narrow) || !platform::currentDirectory(full)) return unreachable(destination);

    const std::string source = joinPath(currentDirectory_, currentFileName_);
    const std::string target = joinPath(full, currentFileName_);
    bool moved = false;
    if (currentFileName_.empty()) {
        // Nothing was picked: "source" would name the intake directory itself.
        platform::setLastError(ENOENT);
    } else {
        moved = platform::moveFile(source, target);
    }
    if (!moved) {
        return diag::Failure{diag::formatWide(kMoveFailed, {diag::fromAnsiWhole(source), diag::fromAnsiWhole(target),
                                                            static_cast<int>(platform::lastError())})};
    }
    return diag::done();
}

}  // namespace tessal::data
