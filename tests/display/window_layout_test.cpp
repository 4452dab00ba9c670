#include "display/window_layout.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace tessal::display {
namespace {

// A font where 'W' is wide, 'i' narrow and everything else 3 units.
class FixedMeasurer : public TextMeasurer {
public:
    std::optional<int> width(std::u16string_view text) const override {
        int width = 0;
        for (const char16_t c : text) width += c == u'W' ? 7 : (c == u'i' ? 1 : 3);
        return width;
    }
};

// A font that cannot measure anything.
class SilentMeasurer : public TextMeasurer {
public:
    std::optional<int> width(std::u16string_view) const override { return std::nullopt; }
};

bool delimiter(char16_t c) { return c == u' ' || c == u'\t' || c == u'\n'; }

// The line count stepped one character at a time, as literally as it reads:
// measure through the end of the current word, wrap when that overflows,
// then move one character on (or past a line feed).
int steppedLineCount(std::u16string_view text, int available, const TextMeasurer& measure) {
    const int limit = available < 0 ? 292 : available;
    auto width = [&](std::size_t from, std::size_t count) {
        const std::u16string_view part = text.substr(from, count);
        return measure.width(part).value_or(2 * static_cast<int>(part.size()));
    };
    int count = 1;
    std::size_t lineStart = 0;
    std::size_t position = 0;
    for (;;) {
        std::size_t n = 0;
        while (position + n < text.size() && !delimiter(text[position + n])) ++n;
        if (width(lineStart, position + n - lineStart + 1) > limit) {
            ++count;
            lineStart = position;
            position += n;
        }
        if (position >= text.size()) return count;
        if (text[position] == u'\n') {
            ++count;
            lineStart = ++position;
        } else {
            ++position;
        }
    }
}

TEST(LineCount, CountsLinesByMeasuredWordsAndLineFeeds) {
    const FixedMeasurer fixed;
    const SilentMeasurer silent;
    // Two units per character without a font: 10 characters fit in 20.
    EXPECT_EQ(lineCount(u"aaaa bbbb", 20, silent), 1);
    EXPECT_EQ(lineCount(u"aaaa bbbb cccc", 20, silent), 2);
    // The measured widths decide, not the number of characters.
    EXPECT_EQ(lineCount(u"iiii iiii iiii", 18, fixed), 1);
    EXPECT_EQ(lineCount(u"WWWW WWWW", 40, fixed), 2);
    // A line feed always starts a line, even in a text that fits.
    EXPECT_EQ(lineCount(u"a\nb", 200, fixed), 2);
    EXPECT_EQ(lineCount(u"a\n\n", 200, fixed), 3);
    EXPECT_EQ(lineCount(u"", 200, fixed), 1);
    // An item without room measures against a full line.
    EXPECT_EQ(lineCount(u"aaaa bbbb", -4, silent), 1);
}

TEST(LineCount, AgreesWithCharacterByCharacterStepping) {
    const FixedMeasurer fixed;
    const SilentMeasurer silent;
    const std::vector<std::u16string> texts = {
        u"Pasirašiusio asmens sertifikatas negaliojo laiko žymos formavimo metu",
        u"WWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWW then words",
        u"  leading  and   doubled spaces \t tabs\nand\n\nfeeds \n",
        u"one\nWWWWWWWWWWWWWWWW\n WWWW WWWW WWWW WWWW WWWW",
        u"iiiiiiiiiiiiiiiiiiiiii iiiiiiiiiiiii W W W W W W W W W W W",
        u" ", u"\n", u"W", u"ab ", u"a\t\n", u"WW  ",
    };
    for (const std::u16string& text : texts) {
        for (const int available : {-1, 0, 1, 5, 12, 30, 64, 200, 296}) {
            EXPECT_EQ(lineCount(text, available, fixed), steppedLineCount(text, available, fixed))
                << "width " << available << " text of " << text.size();
            EXPECT_EQ(lineCount(text, available, silent), steppedLineCount(text, available, silent))
                << "width " << available << " text of " << text.size();
        }
    }
}

SummaryRow row(RowKind kind, int x, std::u16string text = {}) {
    SummaryRow r;
    r.kind = kind;
    r.x = x;
    r.text = std::move(text);
    return r;
}

SummaryRow buttons(int certificateTarget, int crlTarget) {
    SummaryRow r = row(RowKind::Buttons, 0);
    r.certificateTarget = certificateTarget;
    r.certificateCaption = u"Sertifikato duomenys";
    if (crlTarget != 0) {
        r.crlTarget = crlTarget;
        r.crlCaption = u"Atšauktų sertifikatų sąrašas (CRL)";
    }
    return r;
}

TEST(WindowLayout, PlacesCertificateAndCrlButtonsRightAlignedThreeApart) {
    const FixedMeasurer measure;
    const WindowLayout withCrl = layoutWindow({buttons(112, 122)}, measure);
    ASSERT_EQ(withCrl.items.size(), 2u);
    const WindowItem& certificate = withCrl.items[0];
    const WindowItem& crl = withCrl.items[1];
    // The archive time-stamp's targets stay on its buttons.
    EXPECT_EQ(certificate.id, 112);
    EXPECT_EQ(crl.id, 122);
    EXPECT_EQ(certificate.width, *measure.width(u"Sertifikato duomenys") + 8);
    EXPECT_EQ(certificate.x + certificate.width, 296);
    EXPECT_EQ(crl.width, *measure.width(u"Atšauktų sertifikatų sąrašas (CRL)") + 8);
    EXPECT_EQ(crl.x + crl.width + 3, certificate.x);
    EXPECT_EQ(certificate.y, 4);
    EXPECT_EQ(crl.y, 4);
    EXPECT_EQ(certificate.height, 12);
    EXPECT_EQ(withCrl.height, 2 + 2 + 12);

    const WindowLayout withoutCrl = layoutWindow({buttons(101, 0)}, measure);
    ASSERT_EQ(withoutCrl.items.size(), 1u);
    EXPECT_EQ(withoutCrl.items[0].id, 101);
    EXPECT_EQ(withoutCrl.items[0].x, 296 - certificate.width);
}

TEST(WindowLayout, GrowsRowByRowToTheCloseButton) {
    const SilentMeasurer measure;  // 2 units per character
    SummaryRow label = row(RowKind::LabelValue, 10);
    label.label = u"- identifikatorius";
    label.value = std::u16string(150, u'x');  // 300 units in a 200-unit item
    SummaryRow stamped = row(RowKind::Text, 10, u"Laiko žymą suformavo:");
    stamped.gapBefore = 2;
    SummaryRow verdict = row(RowKind::Verdict, 20, u"Pasirašyto dokumento turinys nepakeistas");
    verdict.good = true;
    const WindowLayout layout = layoutWindow(
        {row(RowKind::Text, 4, u"Pasirašytas dokumentas:"), label, row(RowKind::Separator, 10), stamped, verdict,
         row(RowKind::Error, 4, u"Klaida\nantra eilutė"), row(RowKind::Separator, 4), row(RowKind::Close, 0, u"Uždaryti")},
        measure);

    auto item = [](ItemKind kind, int x, int y, int width, int height, int id, std::u16string text) {
        return WindowItem{kind, x, y, width, height, id, std::move(text)};
    };
    const std::vector<WindowItem> expected = {
        item(ItemKind::Text, 4, 2, 292, 8, 200, u"Pasirašytas dokumentas:"),
        item(ItemKind::Text, 10, 10, 286, 8, 200, u"- identifikatorius"),
        item(ItemKind::Text, 96, 10, 200, 16, 200, std::u16string(150, u'x')),
        item(ItemKind::Separator, 10, 28, 288, 8, 200, u""),
        item(ItemKind::Text, 10, 36, 286, 8, 200, u"Laiko žymą suformavo:"),
        item(ItemKind::GoodMark, 20, 44, 8, 8, 200, u""),
        item(ItemKind::Text, 30, 44, 266, 8, 200, u"Pasirašyto dokumento turinys nepakeistas"),
        item(ItemKind::WarningIcon, 4, 52, 8, 8, 200, u""),
        item(ItemKind::Text, 30, 52, 266, 16, 200, u"Klaida\nantra eilutė"),
        item(ItemKind::Separator, 4, 72, 294, 8, 200, u""),
        item(ItemKind::Button, 296 - 24, 80, 24, 12, 1, u"Uždaryti"),
    };
    EXPECT_EQ(layout.items, expected);
    EXPECT_EQ(layout.height, 96);
    EXPECT_EQ(layout.width, 300);
    EXPECT_EQ(layout.title, u"Skaitmeninio parašo informacija");
}

}  // namespace
}  // namespace tessal::display
