#include <gtest/gtest.h>
#include <stdlib.h>

#include "diagnostics/config_scope.h"
#include "platform/config.h"
#include "platform/http_limits.h"

using tessal::platform::configFilePath;
using tessal::platform::configValue;
using tessal::platform::kPlatformSection;
using tessal::platform::kProductKey;
using tessal::test::ConfigScope;
using tessal::test::TempDir;

namespace {

constexpr const char* kSample =
    "\xEF\xBB\xBF"
    "stray = before any section\n"
    "; a comment\n"
    "# another comment\n"
    "\n"
    "[SOFTWARE\\Classes\\Tessal.Sign]\r\n"
    "logFilePath = /var/log/tessal log.txt   \r\n"
    "   defaultPkiDomain=https://pki.nk.example\n"
    "quoted = \"  padded value  \"\n"
    "halfQuoted = \"open only\n"
    "empty =\n"
    "this line is malformed\n"
    "= no name\n"
    "twice = first\n"
    "twice = second\n"
    "   ; indented comment = not a value\n"
    "[unclosed section\n"
    "afterUnclosed = still in the product section\n"
    "[platform]\n"
    "eventLogSocket = /run/test.sock\n"
    "stray = in platform\n"
    "[ SOFTWARE\\Other ]\n"
    "logFilePath = elsewhere\n";

class ConfigFile : public ::testing::Test {
protected:
    TempDir dir;
    ConfigScope scope{dir.file("tessal.conf"), kSample};
};

TEST_F(ConfigFile, ReadsValuesOfTheNamedSection) {
    EXPECT_EQ(configValue(kProductKey, "logFilePath"), "/var/log/tessal log.txt");
    EXPECT_EQ(configValue(kProductKey, "defaultPkiDomain"), "https://pki.nk.example");
    EXPECT_EQ(configValue(kPlatformSection, "eventLogSocket"), "/run/test.sock");
    EXPECT_EQ(configValue("SOFTWARE\\Other", "logFilePath"), "elsewhere");
}

TEST_F(ConfigFile, SectionAndValueNamesIgnoreLetterCase) {
    EXPECT_EQ(configValue("software\\classes\\TESSAL.SIGN", "LOGFILEPATH"), "/var/log/tessal log.txt");
    EXPECT_EQ(configValue("PLATFORM", "eventlogsocket"), "/run/test.sock");
}

TEST_F(ConfigFile, QuotesAroundAWholeValueAreRemoved) {
    EXPECT_EQ(configValue(kProductKey, "quoted"), "  padded value  ");
    EXPECT_EQ(configValue(kProductKey, "halfQuoted"), "\"open only");
    EXPECT_EQ(configValue(kProductKey, "empty"), "");
}

TEST_F(ConfigFile, CommentsMalformedLinesAndOtherSectionsGiveNothing) {
    EXPECT_EQ(configValue(kProductKey, "stray"), std::nullopt);
    EXPECT_EQ(configValue(kPlatformSection, "stray"), "in platform");
    EXPECT_EQ(configValue(kProductKey, "this line is malformed"), std::nullopt);
    EXPECT_EQ(configValue(kProductKey, "; indented comment"), std::nullopt);
    EXPECT_EQ(configValue(kProductKey, "missing"), std::nullopt);
    EXPECT_EQ(configValue("SOFTWARE\\Missing", "logFilePath"), std::nullopt);
    // A broken section header leaves the section in effect unchanged.
    EXPECT_EQ(configValue(kProductKey, "afterUnclosed"), "still in the product section");
    EXPECT_EQ(configValue("unclosed section", "afterUnclosed"), std::nullopt);
}

TEST_F(ConfigFile, TheLaterOfTwoValuesWins) { EXPECT_EQ(configValue(kProductKey, "twice"), "second"); }

TEST_F(ConfigFile, FileIsReadAfreshOnEveryQuery) {
    tessal::test::writeWholeFile(dir.file("tessal.conf"), "[platform]\neventLogSocket = /changed\n");
    EXPECT_EQ(configValue(kPlatformSection, "eventLogSocket"), "/changed");
}

TEST(ConfigLocation, EnvironmentOverridesTheDefaultFile) {
    TempDir dir;
    {
        ConfigScope scope(dir.file("other.conf"), "[platform]\nname = v\n");
        EXPECT_EQ(configFilePath(), dir.file("other.conf"));
        EXPECT_EQ(configValue(kPlatformSection, "name"), "v");
        // An empty override counts as none.
        setenv("TESSAL_CONFIG", "", 1);
        EXPECT_EQ(configFilePath(), "/etc/tessal/tessal.conf");
    }
    {
        ConfigScope scope(dir.file("x.conf"), "");
        unsetenv("TESSAL_CONFIG");
        EXPECT_EQ(configFilePath(), "/etc/tessal/tessal.conf");
    }
}

TEST(ConfigLocation, MissingFileBehavesAsMissingKey) {
    TempDir dir;
    ConfigScope scope(dir.file("present.conf"), "");
    setenv("TESSAL_CONFIG", dir.file("absent.conf").c_str(), 1);
    EXPECT_EQ(configValue(kProductKey, "logFilePath"), std::nullopt);
}

TEST(HttpLimitsConfig, PositiveNumbersTakeEffectAnythingElseKeepsTheDefault) {
    using tessal::platform::configuredHttpLimits;
    TempDir dir;
    {
        ConfigScope scope(dir.file("none.conf"), "");
        EXPECT_EQ(configuredHttpLimits().deadlineMs, 20000u);
        EXPECT_EQ(configuredHttpLimits().maxAnswerBytes, 64u * 1024u * 1024u);
    }
    {
        ConfigScope scope(dir.file("set.conf"), "[platform]\nhttpDeadlineMs = 1500\nhttpMaxAnswerBytes = 4096\n");
        EXPECT_EQ(configuredHttpLimits().deadlineMs, 1500u);
        EXPECT_EQ(configuredHttpLimits().maxAnswerBytes, 4096u);
    }
    // Never "no limit": zero, signs, units and overflow all keep the default.
    for (const char* bad : {"0", "-5", "+5", "12ms", "99999999999", ""}) {
        ConfigScope scope(dir.file("bad.conf"), std::string("[platform]\nhttpDeadlineMs = ") + bad +
                                                    "\nhttpMaxAnswerBytes = " + bad + "\n");
        EXPECT_EQ(configuredHttpLimits().deadlineMs, 20000u) << bad;
        EXPECT_EQ(configuredHttpLimits().maxAnswerBytes, 64u * 1024u * 1024u) << bad;
    }
}

}  // namespace
