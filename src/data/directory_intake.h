#pragma once
// The directory intake: pick the next XML file of a directory, tell which
// file that was, and move it elsewhere once processed. The state is the last
// pick; changing into a directory moves the current directory of the whole
// process, and it stays there.
#include <string>
#include <string_view>
#include <vector>

#include "diagnostics/outcome.h"
#include "platform/file_system.h"

namespace tessal::data {

// Orders the first two characters of two names, ignoring letter case:
// negative, zero or positive as a sorts before, with or after b.
int comparePrefixes(std::string_view a, std::string_view b);

// The entry the intake takes next among `candidates` (which must not be
// empty): the greatest two-character prefix, then the oldest last-write time,
// then the one listed first.
std::size_t pickIndex(const std::vector<platform::DirectoryEntry>& candidates);

class DirectoryIntake {
public:
    // The content of the next file of `directory` (as readFile answers it),
    // or "<Result/>" when the directory holds no XML file.
    diag::Outcome<std::u16string> readNext(std::u16string_view directory);

    // The path of the last pick: the directory, and the file when one was
    // picked; empty before any pick.
    std::u16string processedFileName() const;

    // Moves the picked file into `destination`, replacing a file of the same
    // name. The remembered names stay as they are.
    diag::Status moveProcessed(std::u16string_view destination);

    const std::string& currentDirectory() const { return currentDirectory_; }
    const std::string& currentFileName() const { return currentFileName_; }

private:
    std::string currentDirectory_;  // narrow, as the file system reports it
    std::string currentFileName_;   // narrow, without the directory
};

}  // namespace tessal::data
