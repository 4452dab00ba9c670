#include <gtest/gtest.h>

#include <string>

#include "digests/digest_algorithms.h"
#include "xades/time_stamp_check.h"

namespace tessal::xml {
namespace {

using data::Bytes;

Bytes tlv(std::uint8_t tag, const Bytes& content) {
    Bytes out{tag};
    if (content.size() < 128) {
        out.push_back(static_cast<std::uint8_t>(content.size()));
    } else {
        out.push_back(0x82);
        out.push_back(static_cast<std::uint8_t>(content.size() >> 8));
        out.push_back(static_cast<std::uint8_t>(content.size()));
    }
    out.insert(out.end(), content.begin(), content.end());
    return out;
}
Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}
Bytes text(std::string_view s) { return Bytes(s.begin(), s.end()); }

const Bytes kData = text("the time-stamped canonical octets");

// version, policy, messageImprint {algorithm, hashedMessage}, serial, genTime.
Bytes tstInfo(const Bytes& imprint, const Bytes& genTime) {
    const Bytes sha1Algorithm = tlv(0x30, tlv(0x06, {0x2B, 0x0E, 0x03, 0x02, 0x1A}));
    return tlv(0x30, concat({tlv(0x02, {0x01}), tlv(0x06, {0x2A, 0x03}), tlv(0x30, concat({sha1Algorithm, tlv(0x04, imprint)})),
                             tlv(0x02, {0x05}), genTime}));
}
Bytes sha1(const Bytes& data) { return *crypto::digestOf(data.data(), data.size(), crypto::CALG_SHA1); }
Bytes generalizedTime(std::string_view value) { return tlv(0x18, text(value)); }

class TstInfoTest : public ::testing::Test {
protected:
    crypto::TimeStampContext context;
};

TEST_F(TstInfoTest, AMatchingImprintSetsTheGenerationTimeInPlainAndWrappedForm) {
    const Bytes plain = tstInfo(sha1(kData), generalizedTime("20261209101112.5Z"));
    ASSERT_TRUE(checkTstInfo(context, plain, kData)) << context.error().text.str();
    ASSERT_TRUE(context.generationTime);
    EXPECT_EQ(crypto::secondsOfFileTime(*context.generationTime), 1796811072);
    EXPECT_EQ(context.tstInfo.size(), 5u);

    crypto::TimeStampContext wrapped;
    ASSERT_TRUE(checkTstInfo(wrapped, tlv(0x04, plain), kData)) << wrapped.error().text.str();
    EXPECT_EQ(wrapped.generationTime, context.generationTime);
}

TEST_F(TstInfoTest, ADifferentImprintFailsButKeepsTheTime) {
    EXPECT_FALSE(checkTstInfo(context, tstInfo(sha1(text("other")), generalizedTime("20261209101112Z")), kData));
    EXPECT_EQ(context.error().code, diag::errorCode(1142, 84));
    EXPECT_TRUE(context.generationTime);
}

TEST_F(TstInfoTest, UnexpectedFormsAreRecordedAtTheirPlace) {
    struct Case {
        Bytes content;
        int place;
        int message;
    };
    const Bytes good = generalizedTime("20261209101112Z");
    const Case cases[] = {
        {text("not der"), 1132, 78},
        {tlv(0x04, text("x")), 1132, 78},  // a wrapping whose value is no sequence
        {tlv(0x30, concat({tlv(0x02, {1}), tlv(0x02, {1})})), 1133, 79},
        {tlv(0x30, concat({tlv(0x02, {1}), tlv(0x06, {1}), tlv(0x04, sha1(kData)), tlv(0x02, {1}), good})), 1134, 79},
        {tlv(0x30, concat({tlv(0x02, {1}), tlv(0x06, {1}), tlv(0x30, tlv(0x04, sha1(kData))), tlv(0x02, {1}), good})),
         1138, 79},
        {tstInfo(sha1(kData), tlv(0x17, text("261209101112Z"))), 1150, 79},   // UTCTime
        {tstInfo(sha1(kData), generalizedTime("2026120910111")), 1150, 79},    // too short
        {tstInfo(sha1(kData), generalizedTime("20261309101112Z")), 1152, 79},  // month 13
        {tstInfo(sha1(kData), generalizedTime("20260230101112Z")), 1152, 79},  // 30 February
    };
    for (const Case& c : cases) {
        crypto::TimeStampContext fresh;
        EXPECT_FALSE(checkTstInfo(fresh, c.content, kData));
        EXPECT_EQ(fresh.error().code, diag::errorCode(c.place, c.message)) << fresh.error().text.str();
    }
}

TEST_F(TstInfoTest, TokensThatAreNotCmsOrNotBase64) {
    EXPECT_FALSE(verifyTimeStampToken(context, "%%%", kData, std::nullopt));
    EXPECT_EQ(context.error().code, diag::errorCode(1120, 7));
    crypto::TimeStampContext other;
    EXPECT_FALSE(verifyTimeStampToken(other, "MAMCAQE=", kData, std::nullopt));  // SEQUENCE { INTEGER 1 }
    EXPECT_EQ(other.error().code, diag::errorCode(1111, 76));
}

}  // namespace
}  // namespace tessal::xml
