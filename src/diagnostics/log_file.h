#pragma once
// Trace lines and caller text appended to the global log (path from the
// configuration, read once per process) and to a per-object log.
//
// A trace line: "%04d-%02d-%02d %02d:%02d:%02d,%03d  I  [%lu/%lu] " (local
// time, process id, thread id), the message in UTF-8, and "\r\n" unless the
// message already ends with CR or LF.
#include <string>
#include <string_view>

#include "diagnostics/wide_format.h"

namespace tessal::diag {

// Reads logFilePath from the configuration and, when it is on, writes the log
// header. Runs once per process; later calls do nothing.
void initialiseGlobalLog();

// The global log path; empty when the global log is off.
const std::string& globalLogPath();

// Test seam: sets the global log path directly (empty turns it off).
void setGlobalLogPathForTesting(std::string path);

// The complete trace line for a message.
std::string traceLine(std::u16string_view message);

bool traceGlobal(std::u16string_view format, FormatArgs args = {});
// As traceGlobal, with "\r\n" and the text of the thread's last error after the message.
bool traceGlobalWithOsError(std::u16string_view format, FormatArgs args = {});
// A trace line to the object's log (empty path: none) and the global log.
bool traceObject(std::string_view objectLogPath, std::u16string_view format, FormatArgs args = {});

// Appends to `path` when it is not empty, then to the global log unless that
// is the same path (byte for byte). Answers the first append's result, or
// true when no path was given.
bool writeText(std::string_view path, std::string_view utf8);

// Up to 41 attempts 10 ms apart: open (creating), lock the range at the end,
// one write, unlock, close. Only a regular file is written; a FIFO or device
// fails every attempt rather than blocking. Leaves the last errno in the
// thread's last error.
bool appendToFile(std::string_view path, std::string_view utf8);

}  // namespace tessal::diag
