#include <gtest/gtest.h>

#include "diagnostics/ansi_text.h"

using namespace tessal::diag;

// The suites run in the C locale, whose codeset counts as UTF-8.

TEST(AnsiName, EveryByteSequenceRoundTrips) {
    for (const std::string& name : {std::string("/in/plain.xml"), std::string("/in/\xC4\x85\xF0\x9F\x98\x80.xml"),
                                   std::string("/in/\xFF\xFE.xml"), std::string("/in/\xC4.xml"),
                                   std::string("/in/\xED\xB2\x80 surrogate.xml"), std::string("/in/\xC0\xAF overlong"),
                                   std::string("\xF4\x90\x80\x80 above U+10FFFF"), std::string("end \xE2\x82")}) {
        EXPECT_EQ(toAnsiName(fromAnsiName(name)), name) << name;
    }
    EXPECT_EQ(fromAnsiName("a\xFF"), u"a\xDCFF");
    EXPECT_EQ(fromAnsiName("\xC4\x85"), u"\u0105");
    // A valid pair whose low half lies in the escape range stays a character.
    EXPECT_EQ(toAnsiName(u"\U0001F480"), "\xF0\x9F\x92\x80");
    EXPECT_EQ(toAnsiName(u"a\0b"), "a");
}

TEST(AnsiWhole, KeepsNulBytesAndReplacesWhatDoesNotConvert) {
    EXPECT_EQ(fromAnsiWhole(std::string_view("12:00\0\0x\r\n", 10)), std::u16string_view(u"12:00\0\0x\r\n", 10));
    EXPECT_EQ(fromAnsiWhole("a\xFF\xC4\x85" "b"), u"a\uFFFD\u0105b");
    EXPECT_EQ(fromAnsiWhole(""), u"");
}
