#pragma once
// The file-system services the file members and the directory intake rely
// on: whole-file reads, replacing writes that never leave a half-written
// target, file times, the process's current directory, directory listings and
// moves that also cross file systems. Paths are narrow text (the locale's
// codeset). Every call that answers false leaves errno in the thread's last
// error (platform::lastError()).
#include <compare>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/clock.h"

namespace tessal::platform {

// A point in time as the file system keeps it: seconds and nanoseconds since
// 1970-01-01 UTC.
struct FileTime {
    std::int64_t seconds = 0;
    std::uint32_t nanoseconds = 0;
    auto operator<=>(const FileTime&) const = default;
};

// Times the file system reported for one file; a time it does not keep is
// absent.
struct FileTimes {
    std::optional<FileTime> lastWrite;
    std::optional<FileTime> creation;
};

// Local calendar fields; month 1..12, millisecond 0..999.
using CalendarTime = LocalTime;

struct DirectoryEntry {
    std::string name;          // without the directory
    bool regularFile = false;  // the entry itself: a symbolic link is not one
    FileTime lastWrite;
};

// Which files a whole-file read accepts.
enum class FileKind {
    Any,            // whatever the path names, through symbolic links
    RegularNoLink,  // a regular file named directly, never through a link
};

// Reads the whole file in pieces of 4096 bytes. False when the file cannot be
// opened, is not of the accepted kind (errno ELOOP for a link, EINVAL for
// anything but a regular file) or its first read fails; a later failing read
// ends the reading and keeps what was read.
bool readWholeFile(const std::string& path, std::vector<std::uint8_t>& out, FileKind kind = FileKind::Any);

// Replaces the file's content with `size` bytes: written to a temporary file
// in the same directory, synced and renamed over the target, so a failure
// leaves the old content whole. An existing target keeps its permission bits
// (and its owner where the process may set it); a symbolic link is followed
// and the file it points to is replaced. Only when no temporary file can be
// created in that directory is the target written in place.
bool writeFileAtomically(const std::string& path, const std::uint8_t* data, std::size_t size);

bool fileTimes(const std::string& path, FileTimes& out);
bool toLocalCalendar(const FileTime& time, CalendarTime& out);

bool pathExists(const std::string& path);
bool changeDirectory(const std::string& path);
bool currentDirectory(std::string& out);

// The entries of a directory in the order the file system lists them,
// without "." and "..".
bool listDirectory(const std::string& path, std::vector<DirectoryEntry>& out);

// Moves a file, replacing an existing file of the target name. Across file
// systems the file is copied into a temporary file beside the target, synced,
// renamed into place (keeping mode and times), and then the source is removed.
bool moveFile(const std::string& source, const std::string& target);

}  // namespace tessal::platform
