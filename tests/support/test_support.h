#pragma once
// Shared helpers of the test suites: temporary folders, file contents, and
// the rule for checks whose tools are missing.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace tessal::test {

// A fresh private directory, removed with everything in it when destroyed.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

std::string readWholeFile(const std::string& path);
void writeWholeFile(const std::string& path, const std::string& bytes);

// True when the environment variable CI is set (to anything but "").
bool runningInCi();

}  // namespace tessal::test

// Ends the test when something it needs (a tool, a daemon, a privilege) is
// missing: skipped on a developer's machine, failed when CI is set, so that
// CI never passes checks that did not run.
#define TESSAL_SKIP_UNLESS_CI(reason)                                                  \
    do {                                                                               \
        if (::tessal::test::runningInCi()) FAIL() << reason << " (CI is set: the check must run)"; \
        GTEST_SKIP() << reason;                                                        \
    } while (0)

namespace tessal::test {

}  // namespace tessal::test
