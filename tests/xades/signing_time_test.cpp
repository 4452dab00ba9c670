#include "xades/signing_time.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

#include "xmlsig/xml_document.h"

namespace tessal::xml {
namespace {

// 2026-12-09 10:11:12 UTC as seconds since 1970.
constexpr std::int64_t kMoment = 1796811072;

std::optional<std::int64_t> seconds(std::string_view text) {
    const std::optional<crypto::FileTime> time = parseSigningTime(text);
    if (!time) return std::nullopt;
    return crypto::secondsOfFileTime(*time);
}

class LocalZone : public ::testing::Test {
protected:
    void SetUp() override {
        if (const char* tz = std::getenv("TZ")) saved_ = tz;
        ::setenv("TZ", "EET-2", 1);  // two hours east of UTC, no summer time
        ::tzset();
    }
    void TearDown() override {
        if (saved_) ::setenv("TZ", saved_->c_str(), 1);
        else ::unsetenv("TZ");
        ::tzset();
    }
    std::optional<std::string> saved_;
};

TEST_F(LocalZone, EveryWrittenFormGivesTheSameMoment) {
    EXPECT_EQ(seconds("2026-12-09T10:11:12Z"), kMoment);
    EXPECT_EQ(seconds("2026-12-09T12:11:12+02:00"), kMoment);
    EXPECT_EQ(seconds("2026-12-09T07:41:12-02:30"), kMoment);
    EXPECT_EQ(seconds("2026-12-09T10:11:12.250Z"), kMoment);  // the fraction is dropped
    EXPECT_EQ(seconds("2026-12-09T12:11:12.5+02:00"), kMoment);
    EXPECT_EQ(seconds("  2026-12-09T10:11:12Z \r\n"), kMoment);
    EXPECT_EQ(seconds("2026-12-09T10:11Z"), kMoment - 12);
    // Without designator the verifying machine's local time is meant.
    EXPECT_EQ(seconds("2026-12-09T12:11:12"), kMoment);
    EXPECT_EQ(seconds("2026-12-09T12:11"), kMoment - 12);
    EXPECT_EQ(seconds("2026-12-09T12:11:12.999"), kMoment);
}

TEST_F(LocalZone, MalformedTextsAreRefused) {
    for (const char* text : {"", "2026-12-09", "2026-1-09T10:11:12Z", "2026-12-09 10:11:12Z", "2026-12-09T10:11:12ZZ",
                             "2026-12-09T10:11:12+0200", "2026-12-09T10:11:12+02:0", "2026-12-09T10:11:12.x5Z",
                             "2026-12-09T10:11:12.5Zx", "2026-13-09T10:11:12Z", "2026-02-30T10:11:12Z",
                             "2026-12-09T24:11:12Z", "2026-12-09T10:11:1", "2026-12-09T10:11x"}) {
        EXPECT_FALSE(parseSigningTime(text)) << text;
    }
    EXPECT_TRUE(parseSigningTime("2024-02-29T10:11:12Z"));
    EXPECT_FALSE(parseSigningTime("2025-02-29T10:11:12Z"));
}

TEST(SigningTimeElement, FoundInsideTheSignedPropertiesAndRecordedWhenUnreadable) {
    auto read = [](const std::string& properties, diag::ErrorRecord& error) {
        XmlDocument document(properties.data(), properties.size());
        return readSigningTime(document.rootElement(), error);
    };
    diag::ErrorRecord error;
    EXPECT_EQ(crypto::secondsOfFileTime(read("<SignedProperties><SignedSignatureProperties>"
                                             "<SigningTime>2026-12-09T10:11:12Z</SigningTime>"
                                             "</SignedSignatureProperties></SignedProperties>",
                                             error)),
              kMoment);
    EXPECT_TRUE(error.empty());
    // Once the container is entered its siblings are never looked at.
    EXPECT_EQ(read("<SignedProperties><SignedSignatureProperties/><SigningTime>2026-12-09T10:11:12Z</SigningTime>"
                   "</SignedProperties>",
                   error),
              0u);
    EXPECT_TRUE(error.empty());
    // Without signed properties there is no signing time to read.
    EXPECT_EQ(readSigningTime(nullptr, error), 0u);
    EXPECT_TRUE(error.empty());

    EXPECT_EQ(read("<SignedProperties><SigningTime>soon</SigningTime></SignedProperties>", error), 0u);
    EXPECT_EQ(error.code, diag::errorCode(438, 81));
    EXPECT_EQ(read("<SignedProperties><SigningTime/></SignedProperties>", error), 0u);
    EXPECT_EQ(error.code, diag::errorCode(437, 81));
    EXPECT_EQ(read("<SignedProperties><?pi x?><SigningTime>2026-12-09T10:11:12Z</SigningTime></SignedProperties>", error),
              0u);
    EXPECT_EQ(error.code, diag::errorCode(436, 81));
}

}  // namespace
}  // namespace tessal::xml
