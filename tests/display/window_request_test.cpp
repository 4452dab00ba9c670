#include "display/window_request.h"

#include <gtest/gtest.h>

#include <string>

namespace tessal::display {
namespace {

WindowRequest sampleSummary() {
    WindowRequest request;
    SummaryRow text;
    text.kind = RowKind::Text;
    text.x = 10;
    text.text = u"Dokumentą pasirašė: Ąžuolas \u00e9\U0001F600";
    SummaryRow buttons;
    buttons.kind = RowKind::Buttons;
    buttons.certificateTarget = targets::kSignerCertificate;
    buttons.crlTarget = targets::kSignerCrl;
    buttons.certificateCaption = u"Sertifikato duomenys";
    buttons.crlCaption = u"Atšauktų sertifikatų sąrašas (CRL)";
    buttons.gapBefore = 2;
    SummaryRow verdict;
    verdict.kind = RowKind::Verdict;
    verdict.good = true;
    verdict.x = -3;
    request.rows = {text, buttons, verdict};
    request.objects[targets::kSignerCertificate] = {0x30, 0x82, 0x00, 0x01, 0xFF};
    request.objects[targets::kArchiveCrl + 2] = {};
    return request;
}

std::string bodyOf(const std::string& encoded) { return encoded.substr(kRequestHeaderBytes); }

TEST(WindowRequest, SummaryAndSaveRequestsSurviveTheRoundTrip) {
    const WindowRequest summary = sampleSummary();
    const std::string encoded = encodeRequest(summary);
    EXPECT_EQ(requestBodyLength(encoded.substr(0, kRequestHeaderBytes)), encoded.size() - kRequestHeaderBytes);
    EXPECT_EQ(decodeRequestBody(bodyOf(encoded)), summary);

    WindowRequest save;
    save.task = WindowTask::ChooseSaveName;
    save.title = u"Išsaugoti XML bylą";
    save.filterName = u"XML Document";
    save.filterPattern = u"*.xml";
    EXPECT_EQ(decodeRequestBody(bodyOf(encodeRequest(save))), save);

    EXPECT_EQ(decodeChosenName(encodeChosenName(u"/tmp/ž\xDC80")), u"/tmp/ž\xDC80");
}

TEST(WindowRequest, EveryCutShortBodyAndTrailingByteIsRefused) {
    const std::string body = bodyOf(encodeRequest(sampleSummary()));
    for (std::size_t length = 0; length < body.size(); ++length) {
        EXPECT_FALSE(decodeRequestBody(body.substr(0, length))) << "cut at " << length;
    }
    EXPECT_FALSE(decodeRequestBody(body + '\0'));
    const std::string name = encodeChosenName(u"a.xml");
    for (std::size_t length = 0; length < name.size(); ++length) EXPECT_FALSE(decodeChosenName(name.substr(0, length)));
    EXPECT_FALSE(decodeChosenName(name + 'x'));
    // An empty name is a cancel, not a file.
    EXPECT_FALSE(decodeChosenName(encodeChosenName(u"")));
}

TEST(WindowRequest, ForgedHeadersKindsAndCountsAreRefusedWithoutReservingForThem) {
    EXPECT_FALSE(requestBodyLength(std::string("TUI1\x02\x00\x00\x01", 8)));  // just over the limit
    EXPECT_TRUE(requestBodyLength(std::string("TUI1\x02\x00\x00\x00", 8)));
    EXPECT_FALSE(requestBodyLength(std::string("XUI1\x00\x00\x00\x01", 8)));
    EXPECT_FALSE(requestBodyLength("TUI1"));

    // Unknown task; a row count of 2^32-1 with nothing behind it; an unknown
    // row kind; a text that claims more units than there are bytes.
    EXPECT_FALSE(decodeRequestBody(std::string("\x03\0\0\0\0\0\0\0\0", 9)));
    EXPECT_FALSE(decodeRequestBody(std::string("\x01\xFF\xFF\xFF\xFF", 5)));
    std::string body = bodyOf(encodeRequest(sampleSummary()));
    std::string badKind = body;
    badKind[5] = 7;
    EXPECT_FALSE(decodeRequestBody(badKind));
    std::string longText = body;
    longText[10] = '\x7F';  // the first row's text length, high byte
    EXPECT_FALSE(decodeRequestBody(longText));

    // The same viewer target twice would make one button open either object.
    WindowRequest twice = sampleSummary();
    std::string encoded = bodyOf(encodeRequest(twice));
    const std::string target = std::string("\x00\x00\x00\x65", 4);  // 101
    const std::size_t at = encoded.find(target + std::string("\x00\x00\x00\x05", 4));
    ASSERT_NE(at, std::string::npos);
    const std::size_t countAt = at - 4;
    encoded[countAt + 3] = 3;
    encoded.insert(at, target + std::string("\x00\x00\x00\x00", 4));
    EXPECT_FALSE(decodeRequestBody(encoded));
}

}  // namespace
}  // namespace tessal::display
