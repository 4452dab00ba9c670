#include "platform/pin_prompt.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <string>

#include "diagnostics/config_scope.h"
#include "support/test_support.h"

namespace tessal::platform {
namespace {

// A pinentry stand-in speaking the Assuan protocol: `getpin` is what it
// answers to GETPIN (data lines and the closing OK or ERR).
std::string fakePinentry(test::TempDir& dir, const std::string& name, const std::string& getpin) {
    const std::string path = dir.file(name);
    test::writeWholeFile(path, "#!/bin/sh\necho 'OK Pleased to meet you'\n"
                               "while read cmd rest; do\n"
                               "  echo \"$cmd $rest\" >> '" + path + ".log'\n"
                               "  case \"$cmd\" in\n"
                               "    GETPIN) " + getpin + ";;\n"
                               "    BYE) echo OK; exit 0;;\n"
                               "    *) echo OK;;\n"
                               "  esac\n"
                               "done\n");
    ::chmod(path.c_str(), 0755);
    return path;
}

std::string config(const std::string& program, int timeout = 5) {
    return "[platform]\npinentryProgram = " + program + "\npinentryTimeout = " + std::to_string(timeout) + "\n";
}

TEST(PinPrompt, TheTypedPinIsAnsweredAndTheDialogDescribed) {
    test::TempDir dir;
    const std::string program = fakePinentry(dir, "pinentry-ok", "echo 'D 12%2534'; echo OK");
    test::ConfigScope scope(dir.file("tessal.conf"), config(program));
    const auto pin = askPin("Įveskite PIN 100%\nkodą");
    ASSERT_TRUE(pin);
    EXPECT_EQ(pin->view(), "12%34");
    const std::string log = test::readWholeFile(program + ".log");
    // The description travels escaped, and the prompt tells the program its timeout.
    EXPECT_NE(log.find("SETDESC Įveskite PIN 100%25%0Akodą"), std::string::npos) << log;
    EXPECT_NE(log.find("SETTIMEOUT 5"), std::string::npos);
}

TEST(PinPrompt, CancelledMissingOrSilentProgramsGiveNoPin) {
    test::TempDir dir;
    {
        const std::string program = fakePinentry(dir, "pinentry-cancel", "echo 'ERR 83886179 Operation cancelled'");
        test::ConfigScope scope(dir.file("a.conf"), config(program));
        EXPECT_FALSE(askPin("PIN"));
    }
    {
        test::ConfigScope scope(dir.file("b.conf"), config(dir.file("no-such-program")));
        EXPECT_FALSE(askPin("PIN"));
    }
    {
        // A program that never answers is given up after its timeout.
        const std::string program = dir.file("pinentry-silent");
        test::writeWholeFile(program, "#!/bin/sh\necho 'OK Pleased to meet you'\nexec sleep 60\n");
        ::chmod(program.c_str(), 0755);
        test::ConfigScope scope(dir.file("c.conf"), config(program, 1));
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(askPin("PIN"));
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
    }
}

}  // namespace
}  // namespace tessal::platform
