#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <regex>
#include <set>
#include <sstream>

#include "build_settings.h"
#include "diagnostics/config_scope.h"
#include "diagnostics/log_file.h"
#include "diagnostics/utf8_text.h"
#include "platform/last_error.h"

using namespace tessal::diag;
using tessal::platform::lastError;
using tessal::platform::setLastError;
using tessal::test::ConfigScope;
using tessal::test::readWholeFile;
using tessal::test::TempDir;

namespace {

constexpr const char* kPrefix = R"(^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2},\d{3}  I  \[(\d+)/(\d+)\] )";

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const auto end = text.find("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

// Every test starts and ends with the global log off.
class LogFileTest : public ::testing::Test {
protected:
    void SetUp() override { setGlobalLogPathForTesting(""); }
    void TearDown() override { setGlobalLogPathForTesting(""); }
    TempDir dir;
};

TEST_F(LogFileTest, TraceLineHasThePrefixAndOneLineEnd) {
    const std::string line = traceLine(u"Pasirašymas pradėtas");
    std::smatch m;
    ASSERT_TRUE(std::regex_search(line, m, std::regex(kPrefix))) << line;
    EXPECT_EQ(std::stoul(m[1]), static_cast<unsigned long>(getpid()));
    EXPECT_EQ(std::stoul(m[2]), static_cast<unsigned long>(syscall(SYS_gettid)));
    EXPECT_EQ(line.substr(m.length(0)), utf8Encode(u"Pasirašymas pradėtas") + "\r\n");
}

TEST_F(LogFileTest, TraceLineKeepsALineEndTheMessageAlreadyHas) {
    std::smatch m;
    for (const auto& [message, tail] : std::vector<std::pair<std::u16string, std::string>>{
             {u"a\n", "a\n"}, {u"b\r", "b\r"}, {u"c\r\n", "c\r\n"}, {u"", "\r\n"}, {u"d\r\ne", "d\r\ne\r\n"}}) {
        const std::string line = traceLine(message);
        ASSERT_TRUE(std::regex_search(line, m, std::regex(kPrefix)));
        EXPECT_EQ(line.substr(m.length(0)), tail);
    }
}

TEST_F(LogFileTest, GlobalLogOffWritesNothingAndSucceeds) {
    EXPECT_TRUE(traceGlobal(u"nothing %d", {1}));
    EXPECT_TRUE(traceGlobalWithOsError(u"nothing"));
    EXPECT_TRUE(traceObject("", u"nothing"));
    EXPECT_TRUE(writeText("", "nothing\r\n"));
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

TEST_F(LogFileTest, TraceGlobalFormatsItsArguments) {
    setGlobalLogPathForTesting(dir.file("global.log"));
    ASSERT_TRUE(traceGlobal(u"Bandymas %d: %s / %S", {2, u"ąč", "narrow"}));
    const auto lines = linesOf(readWholeFile(dir.file("global.log")));
    ASSERT_EQ(lines.size(), 1u);
    std::smatch m;
    ASSERT_TRUE(std::regex_search(lines[0], m, std::regex(kPrefix)));
    EXPECT_EQ(lines[0].substr(m.length(0)), utf8Encode(u"Bandymas 2: ąč / narrow"));
}

TEST_F(LogFileTest, OsErrorTraceAddsTheSystemTextAndKeepsTheLastError) {
    setGlobalLogPathForTesting(dir.file("global.log"));
    setLastError(EACCES);
    ASSERT_TRUE(traceGlobalWithOsError(u"Aplinkos tikrinimas"));
    const std::string text = readWholeFile(dir.file("global.log"));
    EXPECT_NE(text.find(utf8Encode(u"Aplinkos tikrinimas\r\nOperacinės sistemos grąžinta klaida (13): Permission denied.\r\n")),
              std::string::npos);
    // The system text brings its own line end; none is added after it.
    EXPECT_TRUE(text.ends_with("denied.\r\n"));
    EXPECT_EQ(linesOf(text).size(), 2u);
    EXPECT_EQ(lastError(), static_cast<std::uint32_t>(EACCES));
}

TEST_F(LogFileTest, TraceObjectWritesTheObjectLogAndTheGlobalLog) {
    setGlobalLogPathForTesting(dir.file("global.log"));
    ASSERT_TRUE(traceObject(dir.file("object.log"), u"signXml"));
    const std::string object = readWholeFile(dir.file("object.log"));
    EXPECT_EQ(object, readWholeFile(dir.file("global.log")));
    EXPECT_TRUE(std::regex_search(object, std::regex(std::string(kPrefix) + "signXml\r\n$")));
}

TEST_F(LogFileTest, WriteTextToTheGlobalPathWritesOnceAndOtherLetterCaseIsAnotherFile) {
    setGlobalLogPathForTesting(dir.file("Global.LOG"));
    ASSERT_TRUE(writeText(dir.file("Global.LOG"), "vienas\r\n"));
    EXPECT_EQ(readWholeFile(dir.file("Global.LOG")), "vienas\r\n");

    ASSERT_TRUE(writeText(dir.file("global.log"), "du\r\n"));
    EXPECT_EQ(readWholeFile(dir.file("global.log")), "du\r\n");
    EXPECT_EQ(readWholeFile(dir.file("Global.LOG")), "vienas\r\ndu\r\n");
}

TEST_F(LogFileTest, AppendFailsOnAFifoOrDeviceInsteadOfBlocking) {
    const std::string fifo = dir.file("pipe.log");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(appendToFile(fifo, "x\r\n"));  // no reader: the open would block
    EXPECT_EQ(lastError(), static_cast<std::uint32_t>(ENXIO));

    // With a reader the write would go nowhere a log is kept.
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    EXPECT_FALSE(appendToFile(fifo, "x\r\n"));
    EXPECT_EQ(lastError(), static_cast<std::uint32_t>(EINVAL));
    char byte;
    EXPECT_LE(::read(reader, &byte, 1), 0);
    ::close(reader);

    EXPECT_FALSE(appendToFile("/dev/null", "x\r\n"));
    EXPECT_EQ(lastError(), static_cast<std::uint32_t>(EINVAL));
}

TEST_F(LogFileTest, FailedWriteTextAnswersTheFirstAppendsError) {
    setGlobalLogPathForTesting(dir.file("global.log"));
    setLastError(0);
    EXPECT_FALSE(writeText(dir.file("missing/dir/x.log"), "text\r\n"));
    EXPECT_EQ(lastError(), static_cast<std::uint32_t>(ENOENT));
    // The copy into the global log is still made.
    EXPECT_EQ(readWholeFile(dir.file("global.log")), "text\r\n");
}

TEST_F(LogFileTest, AppendGivesUpAfterItsAttempts) {
    EXPECT_FALSE(appendToFile("", "x"));
    setLastError(0);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(appendToFile(dir.file("no/such/dir/log.txt"), "x\r\n"));
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, std::chrono::milliseconds(300));
    EXPECT_EQ(lastError(), static_cast<std::uint32_t>(ENOENT));
}

TEST_F(LogFileTest, AppendCreatesTheFileAndAddsToItsEnd) {
    const std::string path = dir.file("new.log");
    ASSERT_TRUE(appendToFile(path, "one\r\n"));
    ASSERT_TRUE(appendToFile(path, "two\r\n"));
    EXPECT_EQ(readWholeFile(path), "one\r\ntwo\r\n");
    EXPECT_EQ(std::filesystem::status(path).permissions() & std::filesystem::perms::others_write,
              std::filesystem::perms::none);
}

TEST_F(LogFileTest, ConcurrentAppendsFromSeveralProcessesStayWhole) {
    const std::string path = dir.file("shared.log");
    constexpr int kChildren = 4;
    constexpr int kLines = 500;
    const std::string padding(120, 'x');
    std::vector<pid_t> children;
    for (int c = 0; c < kChildren; ++c) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            bool ok = true;
            for (int i = 0; i < kLines; ++i) {
                ok = appendToFile(path, "child " + std::to_string(c) + " line " + std::to_string(i) + " " + padding +
                                            " end\r\n") && ok;
            }
            _exit(ok ? 0 : 1);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }

    const std::string text = readWholeFile(path);
    ASSERT_EQ(text.substr(text.size() - 2), "\r\n");
    const auto lines = linesOf(text);
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(kChildren * kLines));
    const std::regex shape("child (\\d) line (\\d+) " + padding + " end");
    std::set<std::pair<int, int>> seen;
    for (const auto& line : lines) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, shape)) << line;
        seen.emplace(std::stoi(m[1]), std::stoi(m[2]));
    }
    EXPECT_EQ(seen.size(), static_cast<std::size_t>(kChildren * kLines));
}

// The global log path is read once per process, so each start-up runs in a
// fresh copy of the test program (death-test child) and reports from there.
class GlobalLogStartup : public ::testing::Test {
protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }

    // Runs in the child: starts the log with `configLine` in the product
    // section and checks the resulting path and the file's lines.
    static void startAndCheck(const std::string& configLine, bool expectOn, const std::string& logName) {
        TempDir dir;
        const std::string logPath = dir.file(logName);
        std::string line = configLine;
        const auto at = line.find("@LOG@");
        if (at != std::string::npos) line.replace(at, 5, logPath);
        ConfigScope scope(dir.file("tessal.conf"), "[SOFTWARE\\Classes\\Tessal.Sign]\n" + line + "\n");

        initialiseGlobalLog();
        initialiseGlobalLog();
        std::ostringstream problems;
        if (expectOn) {
            if (globalLogPath() != logPath) problems << "path '" << globalLogPath() << "'\n";
            const auto lines = linesOf(readWholeFile(logPath));
            std::smatch m;
            const std::vector<std::string> expected = {
                utf8Encode(u"Įjungtas detalus įvykių registras byloje \"") + logPath + "\"",
                std::string("Failo versija: ") + TESSAL_VERSION_TEXT};
            if (lines.size() != expected.size()) problems << lines.size() << " lines\n";
            for (std::size_t i = 0; i < lines.size() && i < expected.size(); ++i) {
                if (!std::regex_search(lines[i], m, std::regex(kPrefix)) || lines[i].substr(m.length(0)) != expected[i])
                    problems << "line " << i << ": " << lines[i] << "\n";
            }
        } else {
            if (!globalLogPath().empty()) problems << "log on: '" << globalLogPath() << "'\n";
            // Only the configuration file is there.
            if (std::distance(std::filesystem::directory_iterator(dir.path()), {}) != 1) problems << "files written\n";
            if (!traceGlobal(u"x")) problems << "traceGlobal failed\n";
        }
        std::filesystem::remove_all(dir.path());
        std::cerr << problems.str();
        std::exit(problems.str().empty() ? 0 : 1);
    }
};

TEST_F(GlobalLogStartup, HeaderIsWrittenOnceAndTrailingBlanksAreRemoved) {
    EXPECT_EXIT(startAndCheck("logFilePath = \"@LOG@ \t \"", true, "global.log"), ::testing::ExitedWithCode(0), "");
}

TEST_F(GlobalLogStartup, MissingBlankOrOverlongValueLeavesTheLogOff) {
    EXPECT_EXIT(startAndCheck("otherValue = 1", false, "x.log"), ::testing::ExitedWithCode(0), "");
    EXPECT_EXIT(startAndCheck("logFilePath = \"   \"", false, "x.log"), ::testing::ExitedWithCode(0), "");
    EXPECT_EXIT(startAndCheck("logFilePath =", false, "x.log"), ::testing::ExitedWithCode(0), "");
    // 260 bytes do not fit the buffer with the terminator.
    EXPECT_EXIT(startAndCheck("logFilePath = /tmp/" + std::string(255, 'a'), false, "x.log"),
                ::testing::ExitedWithCode(0), "");
}

TEST_F(GlobalLogStartup, ValueOf259BytesIsAccepted) {
    // The temporary directory's name takes part of the length; pad the file
    // name so that the whole path is 259 bytes.
    TempDir probe;
    const std::size_t dirLength = probe.file("").size();
    ASSERT_LT(dirLength, 200u);
    EXPECT_EXIT(startAndCheck("logFilePath = @LOG@", true, std::string(259 - dirLength, 'l')),
                ::testing::ExitedWithCode(0), "");
}

}  // namespace
