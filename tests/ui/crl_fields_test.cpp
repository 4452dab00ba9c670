#include "crl_fields.h"

#include <gtest/gtest.h>

#include "support/test_pki.h"

namespace tessal::ui {
namespace {

using test::CrlPlan;

TEST(CrlFields, ReadsIssuerDatesAlgorithmAndRevokedSerials) {
    CrlPlan plan;
    plan.issuer = {{"C", "LT"}, {"O", "Bandymų įmonė, UAB"}, {"CN", "Šakninė CA"}};
    plan.thisUpdate = 1700000000;   // UTCTime
    plan.nextUpdate = 2524608000;   // 2050: GeneralizedTime
    plan.revocationTime = 1699990000;
    plan.revoked = {{0x10, 0x01}, {0x80, 0x00, 0x01}, {0x00, 0x00, 0x07}};
    const auto fields = readCrlFields(test::makeCrl(plan));
    ASSERT_TRUE(fields);
    // Most specific first, the comma inside a value escaped, letters kept as UTF-8.
    EXPECT_EQ(fields->issuer, "CN=Šakninė CA,O=Bandymų įmonė\\, UAB,C=LT");
    EXPECT_EQ(fields->thisUpdate, "2023-11-14 22:13:20");
    EXPECT_EQ(fields->nextUpdate, "2050-01-01 00:00:00");
    EXPECT_EQ(fields->algorithm, "sha256WithRSAEncryption");
    ASSERT_EQ(fields->revoked.size(), 3u);
    EXPECT_EQ(fields->revokedTotal, 3u);
    EXPECT_EQ(fields->revoked[0].serialHex, "1001");
    EXPECT_EQ(fields->revoked[1].serialHex, "800001");
    EXPECT_EQ(fields->revoked[2].serialHex, "07");
    for (const RevokedSerial& entry : fields->revoked) EXPECT_EQ(entry.revocationDate, "2023-11-14 19:26:40");
}

TEST(CrlFields, NoNextUpdateAndNoEntriesLeaveThemEmpty) {
    CrlPlan plan;
    plan.nextUpdate.reset();
    const auto fields = readCrlFields(test::makeCrl(plan));
    ASSERT_TRUE(fields);
    EXPECT_EQ(fields->issuer, "CN=Root CA");
    EXPECT_FALSE(fields->thisUpdate.empty());
    EXPECT_EQ(fields->nextUpdate, "");
    EXPECT_TRUE(fields->revoked.empty());
    EXPECT_EQ(fields->revokedTotal, 0u);
}

TEST(CrlFields, ListsAtMostTheCapAndCountsTheRest) {
    CrlPlan plan;
    plan.revoked = {{0x01}, {0x02}, {0x03}, {0x04}};
    const auto fields = readCrlFields(test::makeCrl(plan), 3);
    ASSERT_TRUE(fields);
    ASSERT_EQ(fields->revoked.size(), 3u);
    EXPECT_EQ(fields->revoked[2].serialHex, "03");
    EXPECT_EQ(fields->revokedTotal, 4u);
}

TEST(CrlFields, BytesThatAreNoCrlGiveNothing) {
    const data::Bytes crl = test::makeCrl(CrlPlan{});
    EXPECT_FALSE(readCrlFields({}));
    EXPECT_FALSE(readCrlFields({0x30, 0x82, 0xFF, 0xFF, 0x01}));  // a length far past the end
    EXPECT_FALSE(readCrlFields(data::Bytes(crl.begin(), crl.begin() + crl.size() / 2)));
    EXPECT_FALSE(readCrlFields(test::makeCertificate(test::CertPlan{})));
    data::Bytes garbage(4096);
    for (std::size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<std::uint8_t>(i * 37 + 11);
    EXPECT_FALSE(readCrlFields(garbage));
}

}  // namespace
}  // namespace tessal::ui
