#include <gtest/gtest.h>

#include <cerrno>

#include "diagnostics/os_error_text.h"
#include "diagnostics/utf8_text.h"
#include "platform/system_messages.h"

using tessal::diag::osErrorText;
using tessal::diag::utf8Encode;
using tessal::platform::kCurlCodeBase;
using tessal::platform::kHttpStatusBase;
using tessal::platform::kPkcs11CodeBase;
using tessal::platform::systemMessageText;

namespace {

std::string frame(std::uint32_t code) { return utf8Encode(osErrorText(code)); }

TEST(OsErrorText, NumberIsDecimalUpTo16000AndHexadecimalAbove) {
    EXPECT_EQ(osErrorText(0), u"");
    EXPECT_EQ(osErrorText(EACCES), u"Operacinės sistemos grąžinta klaida (13): Permission denied.\r\n");
    EXPECT_EQ(frame(1008), "Operacin\xC4\x97s sistemos gr\xC4\x85\xC5\xBEinta klaida (1008): An attempt was made to "
                           "reference a token that does not exist.\r\n");
    EXPECT_EQ(osErrorText(16000), u"Operacinės sistemos grąžintas klaidos kodas - 16000");
    EXPECT_EQ(osErrorText(16001), u"Operacinės sistemos grąžintas klaidos kodas - 3E81");
    EXPECT_EQ(osErrorText(0x8010002Eu), u"Operacinės sistemos grąžinta klaida (8010002E): No smart-card reader can be found.\r\n");
}

TEST(OsErrorText, UnknownCodesGiveTheBareNumber) {
    EXPECT_EQ(osErrorText(4000), u"Operacinės sistemos grąžintas klaidos kodas - 4000");
    EXPECT_EQ(osErrorText(0x80100050u), u"Operacinės sistemos grąžintas klaidos kodas - 80100050");
    EXPECT_EQ(osErrorText(0xFFFFFFFFu), u"Operacinės sistemos grąžintas klaidos kodas - FFFFFFFF");
}

void expectKnown(std::uint32_t code) {
    const auto text = systemMessageText(code);
    ASSERT_TRUE(text.has_value()) << std::hex << code;
    ASSERT_GE(text->size(), 4u) << std::hex << code;
    EXPECT_EQ(text->substr(text->size() - 3), ".\r\n") << std::hex << code;
}

TEST(SystemMessages, TheCodesTheLayersReportHaveTexts) {
    for (std::uint32_t c : {12002u, 12004u, 12005u, 12006u, 12007u, 12029u, 12030u, 12031u, 12037u, 12038u, 12044u,
                            12045u, 12152u, 12157u, 12175u}) {
        expectKnown(c);
    }
    for (std::uint32_t c = 0x80100001u; c <= 0x80100031u; ++c) expectKnown(c);
    for (std::uint32_t c = 0x80100065u; c <= 0x8010006Fu; ++c) expectKnown(c);
    for (std::uint32_t c : {0x80090001u, 0x80090002u, 0x80090003u, 0x80090005u, 0x80090006u, 0x80090008u, 0x80090009u,
                            0x8009000Au, 0x8009000Du, 0x80090010u, 0x80090011u, 0x80090014u, 0x80090016u, 0x80090019u,
                            0x8009001Du, 0x80090020u, 0x80092002u, 0x80092004u, 0x80092010u, 0x8009310Bu, 0x80096004u,
                            0x800B0101u, 0x800B0109u, 0x800B010Au}) {
        expectKnown(c);
    }
    for (std::uint32_t ckr : {0xA0u, 0xA4u, 0xA3u, 0xE0u, 0xE1u, 0x32u, 0x30u, 0x06u, 0x05u, 0x60u, 0x70u, 0x101u,
                              0xB3u, 0x07u, 0x02u, 0x03u, 0x01u, 0x82u, 0x21u, 0x190u}) {
        expectKnown(kPkcs11CodeBase + ckr);
    }
    for (std::uint32_t curl : {6u, 7u, 28u, 35u, 56u, 60u}) expectKnown(kCurlCodeBase + curl);
    expectKnown(EIO);
}

TEST(SystemMessages, ErrnoTextsAreTheCLocalesWording) {
    EXPECT_EQ(systemMessageText(ENOENT), "No such file or directory.\r\n");
    EXPECT_EQ(systemMessageText(ENOSPC), "No space left on device.\r\n");
}

TEST(SystemMessages, DerivedSpacesNameTheirCode) {
    EXPECT_EQ(systemMessageText(kPkcs11CodeBase + 0xA0), "The PIN is incorrect.\r\n");
    EXPECT_EQ(systemMessageText(kHttpStatusBase + 404), "The server answered with HTTP status 404 (Not Found).\r\n");
    EXPECT_EQ(systemMessageText(kCurlCodeBase + 28), "The operation timed out.\r\n");
}

TEST(SystemMessages, UnknownCodesInEverySpaceGiveNothing) {
    for (std::uint32_t c : {0u, 4095u, 12000u, 12176u, 0x80100000u, 0x80100050u, 0x8009FFFFu, kPkcs11CodeBase,
                            kPkcs11CodeBase + 0x8000u, kCurlCodeBase, kCurlCodeBase + 1000u, kHttpStatusBase + 999u,
                            kHttpStatusBase + 0x10000u + 404u}) {
        EXPECT_EQ(systemMessageText(c), std::nullopt) << std::hex << c;
    }
}

}  // namespace
