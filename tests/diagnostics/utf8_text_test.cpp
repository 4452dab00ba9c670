#include <gtest/gtest.h>

#include "diagnostics/utf8_text.h"

using namespace tessal::diag;

TEST(Utf8Encode, BoundariesOfTheByteClasses) {
    EXPECT_EQ(utf8Encode(u"\u007F"), "\x7F");
    EXPECT_EQ(utf8Encode(u"\u07FF"), "\xDF\xBF");
    EXPECT_EQ(utf8Encode(u"\u0800"), "\xE0\xA0\x80");
    EXPECT_EQ(utf8Encode(u"\uFFFF"), "\xEF\xBF\xBF");
    EXPECT_EQ(utf8Encode(u"ąč"), "\xC4\x85\xC4\x8D");
}

TEST(Utf8Encode, StopsAtTheFirstNulUnit) {
    const std::u16string s(u"ab\0cd", 5);
    EXPECT_EQ(utf8Encode(s), "ab");
}

TEST(Utf8Encode, SurrogatePairBecomesOneFourByteSequence) {
    EXPECT_EQ(utf8Encode(u"\U0001F600"), "\xF0\x9F\x98\x80");
    // Lone surrogates keep their three-byte form.
    EXPECT_EQ(utf8Encode(std::u16string(1, char16_t(0xD83D))), "\xED\xA0\xBD");
    EXPECT_EQ(utf8Encode(std::u16string(1, char16_t(0xDE00))), "\xED\xB8\x80");
    // A low surrogate before a high one is not a pair.
    EXPECT_EQ(utf8Encode(std::u16string{char16_t(0xDE00), char16_t(0xD83D)}), "\xED\xB8\x80\xED\xA0\xBD");
}

TEST(Utf8Decode, FourByteSequenceBecomesItsSurrogatePair) {
    EXPECT_EQ(utf8Decode("\xF0\x9F\x98\x80").units, u"\U0001F600");
    EXPECT_EQ(utf16Of(utf8Encode(u"a\U00010348b")), u"a\U00010348b");
}

TEST(Utf8Decode, StrayContinuationByteEndsWithFailure) {
    const auto r = utf8Decode("ab\x80" "cd");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.units, u"ab");
}

TEST(Utf8Decode, ContinuationMarkersAreNotTestedAndNulEndsTheText) {
    // Only the low six bits of a continuation byte are used.
    EXPECT_EQ(utf8Decode("\xC4\x05").units, u"\u0105");
    // A NUL inside a sequence drops the incomplete unit.
    EXPECT_EQ(utf8Decode(std::string("a\xC4\0b", 4)).units, u"a");
    EXPECT_EQ(utf8Decode(std::string("a\0b", 3)).units, u"a");
    // A truncated sequence at the end of the input is dropped too.
    EXPECT_EQ(utf8Decode("a\xE0\xA0").units, u"a");
}

TEST(Utf8Decode, KeepsOneUnitOfTheCapacityForTheTerminator) {
    EXPECT_EQ(utf8Decode("abcdef", 4).units, u"abc");
    EXPECT_EQ(utf8Decode("abcdef", 1).units, u"");
    // A pair that does not fit is not split.
    EXPECT_EQ(utf8Decode("a\xF0\x9F\x98\x80", 3).units, u"a");
}

TEST(Utf8Text, RoundTripsThroughUtf16) {
    Utf8Text t;
    t.append(u"Ąžuolas ");
    t.appendUtf8("\xC5\xA0");
    EXPECT_EQ(t.utf16(), u"Ąžuolas Š");
    EXPECT_EQ(t.size(), std::string("Ąžuolas Š").size());
}
