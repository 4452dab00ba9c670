#include "data/codecs.h"

#include <gtest/gtest.h>

#include <string>

namespace tessal::data {
namespace {

Bytes bytesOf(std::string_view s) { return Bytes(s.begin(), s.end()); }

TEST(Base64, DecodeSkipsEverythingOutsideTheAlphabet) {
    Bytes out;
    ASSERT_TRUE(base64Decode("QU JD\r\nRA==", out));
    EXPECT_EQ(out, bytesOf("ABCD"));
    ASSERT_TRUE(base64Decode("\tQ*U!J-D", out));
    EXPECT_EQ(out, bytesOf("ABC"));
}

TEST(Base64, ShortFinalGroupGivesFloorOfSixKOverEight) {
    Bytes out;
    ASSERT_TRUE(base64Decode("QQ", out));
    EXPECT_EQ(out, Bytes{0x41});
    ASSERT_TRUE(base64Decode("QUI", out));
    EXPECT_EQ(out, bytesOf("AB"));
    ASSERT_TRUE(base64Decode("Q", out));
    EXPECT_TRUE(out.empty());
}

TEST(Base64, NulEndsTheInputAndEmptyInputFails) {
    Bytes out;
    const std::string text("QUJD\0RA==", 9);
    ASSERT_TRUE(base64Decode(text, out));
    EXPECT_EQ(out, bytesOf("ABC"));
    EXPECT_FALSE(base64Decode("", out));
    EXPECT_TRUE(out.empty());
}

TEST(Base64, EncodesRfc4648VectorsWithoutLineBreaks) {
    std::string out;
    const std::pair<const char*, const char*> vectors[] = {
        {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"}};
    for (const auto& [plain, encoded] : vectors) {
        ASSERT_TRUE(base64Encode(bytesOf(plain), out));
        EXPECT_EQ(out, encoded) << plain;
    }
    Bytes hundred(100);
    for (std::size_t i = 0; i < hundred.size(); ++i) hundred[i] = static_cast<std::uint8_t>(i * 7);
    ASSERT_TRUE(base64Encode(hundred, out));
    EXPECT_EQ(out.size(), 136u);
    EXPECT_EQ(out.find_first_of("\r\n"), std::string::npos);
    Bytes back;
    ASSERT_TRUE(base64Decode(out, back));
    EXPECT_EQ(back, hundred);
}

TEST(Base64, EncodeOfNothingFailsWithEmptyText) {
    std::string out = "stale";
    EXPECT_FALSE(base64Encode(nullptr, 0, out));
    EXPECT_EQ(out, "");
}

TEST(Hex, UpperCaseTwoDigitsPerByte) {
    std::string out;
    ASSERT_TRUE(hexEncode(Bytes{0x00, 0xAB, 0x0F, 0xFF}, out));
    EXPECT_EQ(out, "00AB0FFF");
    EXPECT_FALSE(hexEncode(Bytes{}, out));
    EXPECT_EQ(out, "");
    ASSERT_TRUE(base64ToHex("AKv/", out));
    EXPECT_EQ(out, "00ABFF");
    EXPECT_FALSE(base64ToHex("", out));
}

std::string decimalOf(const Bytes& b) {
    std::string out;
    EXPECT_TRUE(decimalFromLittleEndian(b.data(), b.size(), out));
    return out;
}

TEST(DecimalFromLittleEndian, LeastSignificantByteFirst) {
    EXPECT_EQ(decimalOf({0x00, 0x01}), "256");
    EXPECT_EQ(decimalOf({0x00}), "0");
    EXPECT_EQ(decimalOf({0x2A, 0x00, 0x00}), "42");
}

TEST(DecimalFromLittleEndian, LowerLimbsArePaddedToFifteenDigits) {
    EXPECT_EQ(decimalOf(Bytes(16, 0xFF)), "340282366920938463463374607431768211455");
    // 10^15 and 10^15 + 1: the boundary of the first limb.
    EXPECT_EQ(decimalOf({0x00, 0x80, 0xC6, 0xA4, 0x7E, 0x8D, 0x03}), "1000000000000000");
    EXPECT_EQ(decimalOf({0x01, 0x80, 0xC6, 0xA4, 0x7E, 0x8D, 0x03}), "1000000000000001");
    EXPECT_EQ(decimalOf(Bytes(8, 0xFF)), "18446744073709551615");
}

TEST(DecimalFromLittleEndian, LongNumbersAreExactUpToTheLimit) {
    // 10^9 - 1 and 10^9: the boundary of the limbs inside the conversion.
    EXPECT_EQ(decimalOf({0xFF, 0xC9, 0x9A, 0x3B}), "999999999");
    EXPECT_EQ(decimalOf({0x00, 0xCA, 0x9A, 0x3B}), "1000000000");
    EXPECT_EQ(decimalOf({0x2A, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}), "42");

    // 2^65536 - 1: 19729 digits, the last nine those of 2^65536 mod 10^9, less one.
    const std::string longest = decimalOf(Bytes(kMaxDecimalInputBytes, 0xFF));
    EXPECT_EQ(longest.size(), 19729u);
    std::uint64_t lastNine = 1;
    for (int i = 0; i < 65536; ++i) lastNine = lastNine * 2 % 1'000'000'000;
    const std::string tail = std::to_string(lastNine - 1);
    EXPECT_EQ(longest.substr(longest.size() - 9), std::string(9 - tail.size(), '0') + tail);
    EXPECT_EQ(longest.substr(0, 6), "200352");  // 2^65536 = 2.00352...e19728

    // Leading zero bytes do not count towards the limit; significant ones do.
    Bytes padded(kMaxDecimalInputBytes + 100, 0x00);
    padded[0] = 7;
    EXPECT_EQ(decimalOf(padded), "7");
    std::string out = "stale";
    const Bytes tooLong(kMaxDecimalInputBytes + 1, 0x01);
    EXPECT_FALSE(decimalFromLittleEndian(tooLong.data(), tooLong.size(), out));
    EXPECT_EQ(out, "");
}

TEST(DecimalFromLittleEndian, ZeroBytesFail) {
    std::string out = "stale";
    EXPECT_FALSE(decimalFromLittleEndian(nullptr, 0, out));
    EXPECT_EQ(out, "");
}

TEST(BalticToUtf8, LithuanianLettersAndLatin1Rest) {
    diag::Utf8Text out;
    balticToUtf8("\xD0", out);
    EXPECT_EQ(out.str(), "\xC5\xA0");
    out.clear();
    balticToUtf8("\xA9", out);
    EXPECT_EQ(out.str(), "\xC2\xA9");
    out.clear();
    balticToUtf8("\xC0\xC1\xC6\xC8\xCB\xD0\xD8\xDB\xDE\xE0\xE1\xE6\xE8\xEB\xF0\xF8\xFB\xFE", out);
    EXPECT_EQ(out.str(), "ĄĮĘČĖŠŲŪŽąįęčėšųūž");
}

TEST(BalticToUtf8, AppendsAndStopsAtNul) {
    diag::Utf8Text out("x");
    balticToUtf8(std::string_view("ab\0\xE0", 4), out);
    EXPECT_EQ(out.str(), "xab");
}

TEST(PercentDecode, EscapesInEitherCase) {
    std::string text = "a%20b%2fc%2F%41";
    ASSERT_TRUE(percentDecode(text));
    EXPECT_EQ(text, "a b/c/A");
}

TEST(PercentDecode, MalformedEscapeKeepsWhatWasDecoded) {
    for (const char* bad : {"ab%2", "ab%", "ab%zz", "ab%2g"}) {
        std::string text = bad;
        EXPECT_FALSE(percentDecode(text)) << bad;
        EXPECT_EQ(text, "ab") << bad;
    }
}

TEST(EscapeSpaces, EverySpaceBecomesPercent20) {
    std::string text = " a b  c ";
    escapeSpaces(text);
    EXPECT_EQ(text, "%20a%20b%20%20c%20");
}

}  // namespace
}  // namespace tessal::data
