// The texts derived from names and integers: they are compared byte for byte
// by the stores and the web service, so their exact form is pinned here.
#include "certs/name_text.h"

#include <gtest/gtest.h>

#include "support/test_pki.h"
#include "platform/x509.h"

namespace tessal::certs {
namespace {

using platform::NameEntry;

NameEntry text(std::string oid, std::string value, int rdn) {
    NameEntry e;
    e.oid = std::move(oid);
    e.value = std::move(value);
    e.rdn = rdn;
    return e;
}

TEST(NameText, KnownKeysInEncodedOrderJoinedByCommaSpace) {
    const std::vector<NameEntry> entries = {text("2.5.4.6", "LT", 0),
                                            text("2.5.4.10", "Org", 1),
                                            text("2.5.4.11", "Unit", 2),
                                            text("2.5.4.7", "Vilnius", 3),
                                            text("2.5.4.8", "Region", 4),
                                            text("2.5.4.9", "Gatvė 1", 5),
                                            text("1.2.840.113549.1.9.1", "a@b.lt", 6),
                                            text("2.5.4.12", "Dr", 7),
                                            text("2.5.4.42", "Jonas", 8),
                                            text("2.5.4.43", "J", 9),
                                            text("2.5.4.4", "Jonaitis", 10),
                                            text("0.9.2342.19200300.100.1.25", "lt", 11),
                                            text("2.5.4.5", "123", 12),
                                            text("2.5.4.3", "Jonas Jonaitis", 13)};
    EXPECT_EQ(nameText(entries),
              "C=LT, O=Org, OU=Unit, L=Vilnius, S=Region, STREET=Gatvė 1, E=a@b.lt, T=Dr, G=Jonas, I=J, "
              "SN=Jonaitis, DC=lt, SERIALNUMBER=123, CN=Jonas Jonaitis");
}

TEST(NameText, UnknownAttributesNoQuotingNoPlusAndNonStringValues) {
    NameEntry binary;
    binary.oid = "2.5.4.45";
    binary.isText = false;
    binary.encoded = {0x03, 0x02, 0x00, 0xAB};
    binary.rdn = 2;
    const std::vector<NameEntry> entries = {text("0.9.2342.19200300.100.1.1", "code", 0),
                                            text("2.5.4.3", "Last, First \"Q\" + x=y", 1), text("2.5.4.10", "Org", 1),
                                            binary};
    EXPECT_EQ(nameText(entries),
              "OID.0.9.2342.19200300.100.1.1=code, CN=Last, First \"Q\" + x=y, O=Org, OID.2.5.4.45=#030200AB");
    EXPECT_EQ(nameText({}), "");
}

TEST(NameText, DecodedCertificateNamesKeepEncodedOrderAndSplitMultiValuedRdns) {
    test::CertPlan plan;
    plan.subject = {{"C", "LT"}, {"O", "Org"}, {"OU", "A"}, {"OU", "B", true}, {"CN", "Ąžuolas"}};
    plan.issuer = test::Name{{"CN", "Root CA"}, {"O", "Norvata Keldas"}};
    const data::Bytes der = test::makeCertificate(plan);
    const auto certificate = platform::Certificate::decode(der.data(), der.size());
    ASSERT_TRUE(certificate);
    const auto subject = certificate->subject();
    ASSERT_EQ(subject.size(), 5u);
    EXPECT_EQ(subject[2].rdn, subject[3].rdn);
    // The SET of a multi-valued RDN is DER-sorted, so only the two values are asserted.
    const std::string rendered = nameText(subject);
    EXPECT_TRUE(rendered == "C=LT, O=Org, OU=A, OU=B, CN=Ąžuolas" || rendered == "C=LT, O=Org, OU=B, OU=A, CN=Ąžuolas")
        << rendered;
    EXPECT_EQ(nameText(certificate->issuer()), "CN=Root CA, O=Norvata Keldas");
}

TEST(NameText, LongIdentifiersAreWrittenWhole) {
    // Two identifiers alike in their first 300 characters stay apart.
    std::string stem = "1.2";
    while (stem.size() < 300) stem += ".1234567890";
    test::CertPlan plan;
    plan.subject = {{stem + ".1", "a"}, {stem + ".2", "b"}, {"CN", "Long"}};
    const data::Bytes der = test::makeCertificate(plan);
    const auto certificate = platform::Certificate::decode(der.data(), der.size());
    ASSERT_TRUE(certificate);
    EXPECT_EQ(nameText(certificate->subject()), "OID." + stem + ".1=a, OID." + stem + ".2=b, CN=Long");
}

TEST(CommonName, FirstCnPieceTrimmedAndLoweredInAsciiOnly) {
    EXPECT_EQ(commonNameOf("C=LT, CN=Jonas Jonaitis, O=Org"), "jonas jonaitis");
    EXPECT_EQ(commonNameOf("cn=  ĄŽUOLAS Ąžuolaitis  "), "ĄŽuolas Ąžuolaitis");
    EXPECT_EQ(commonNameOf("O=Org;  CN = x ,CN=second"), "second");  // "cn " is not "cn="
    EXPECT_EQ(commonNameOf("O=Org;;CN=Root CA"), "root ca");
    EXPECT_EQ(commonNameOf(",,"), "");
    EXPECT_EQ(commonNameOf("C=LT, O=Org"), "");
    EXPECT_EQ(commonNameOf(""), "");
}

TEST(Attribute, FirstOfTypeAndCutToCharacters) {
    const std::vector<NameEntry> entries = {text("2.5.4.10", "Pirmas", 0), text("2.5.4.10", "Antras", 1)};
    EXPECT_EQ(attributeValue(entries, "2.5.4.10"), "Pirmas");
    EXPECT_EQ(attributeValue(entries, "2.5.4.3"), "");
    EXPECT_EQ(attributeValue({text("2.5.4.3", "ąčęė", 0)}, "2.5.4.3", 2), "ąč");
    EXPECT_EQ(characterCount("ąčx"), 3u);
}

TEST(DecimalSerial, BigEndianOfAnyLength) {
    std::string out;
    const std::uint8_t twoBytes[] = {0x01, 0x00};
    ASSERT_TRUE(decimalFromBigEndian(twoBytes, 2, out));
    EXPECT_EQ(out, "256");
    const std::uint8_t zero[] = {0x00};
    ASSERT_TRUE(decimalFromBigEndian(zero, 1, out));
    EXPECT_EQ(out, "0");
    const std::uint8_t leadingZero[] = {0x00, 0xFF};
    ASSERT_TRUE(decimalFromBigEndian(leadingZero, 2, out));
    EXPECT_EQ(out, "255");
    // 2^160 - 1: more than any machine integer holds.
    std::vector<std::uint8_t> large(20, 0xFF);
    ASSERT_TRUE(decimalFromBigEndian(large.data(), large.size(), out));
    EXPECT_EQ(out, "1461501637330902918203684832716283019655932542975");
    EXPECT_FALSE(decimalFromBigEndian(nullptr, 0, out));
    EXPECT_EQ(out, "");
}

TEST(PublicKeyBlob, ByteExactLayout) {
    const auto blob = publicKeyBlob({0x00, 0xC1, 0x02, 0x03}, {0x01, 0x00, 0x01});
    ASSERT_TRUE(blob);
    const data::Bytes expected = {0x06, 0x02, 0x00, 0x00, 0x00, 0xA4, 0x00, 0x00,  // BLOBHEADER
                                  'R',  'S',  'A',  '1',  24,   0,    0,    0,     // magic, bit length
                                  0x01, 0x00, 0x01, 0x00,                          // exponent 65537
                                  0x03, 0x02, 0xC1};                               // modulus, LSB first
    EXPECT_EQ(*blob, expected);
}

TEST(PublicKeyBlob, ExponentBeyond32BitsIsRefused) {
    EXPECT_FALSE(publicKeyBlob({0xC1}, {0x01, 0x00, 0x00, 0x00, 0x01}));
    EXPECT_TRUE(publicKeyBlob({0xC1}, {0x00, 0xFF, 0xFF, 0xFF, 0xFF}));
}

}  // namespace
}  // namespace tessal::certs
