#include "display/summary_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tessal::display {
namespace {

SummaryRow row(RowKind kind, int x, std::u16string text = {}) {
    SummaryRow r;
    r.kind = kind;
    r.x = x;
    r.text = std::move(text);
    return r;
}

SummaryRow labelValue(std::u16string label, std::u16string value) {
    SummaryRow r = row(RowKind::LabelValue, kLabelX);
    r.label = std::move(label);
    r.value = std::move(value);
    return r;
}

SummaryRow buttons(int certificateTarget, int crlTarget) {
    SummaryRow r = row(RowKind::Buttons, 0);
    r.certificateTarget = certificateTarget;
    r.certificateCaption = std::u16string(texts::kCertificateButton);
    if (crlTarget != 0) {
        r.crlTarget = crlTarget;
        r.crlCaption = std::u16string(texts::kCrlButton);
    }
    return r;
}

SummaryRow verdict(int x, bool good, std::u16string text) {
    SummaryRow r = row(RowKind::Verdict, x, std::move(text));
    r.good = good;
    return r;
}

TEST(SummaryText, RowsAreLaidOutByTheirIndentation) {
    const std::vector<SummaryRow> rows{
        row(RowKind::Text, 4, u"Pasirašytas dokumentas:"),
        labelValue(u"- identifikatorius", u"MSG-1"),
        row(RowKind::Separator, 10),
        row(RowKind::Text, 20, u"CN=Jonas Jonaitis"),
        buttons(101, 103),
        buttons(102, 0),
        verdict(10, true, u"Skaitmeninis parašas galioja"),
        verdict(20, false, u"Pakeistas pasirašyto dokumento turinys"),
        row(RowKind::Separator, 4),
        row(RowKind::Close, 0, u"Uždaryti"),
    };
    const std::string expected = "  Pasirašytas dokumentas:\n"
                                 "     - identifikatorius" + std::string(48 - 23, ' ') + "MSG-1\n"
                                 "     " + std::string(55, '-') + "\n"
                                 "          CN=Jonas Jonaitis\n"
                                 "[Sertifikato duomenys] [Atšauktų sertifikatų sąrašas (CRL)]\n"
                                 "[Sertifikato duomenys]\n"
                                 "     + Skaitmeninis parašas galioja\n"
                                 "          - Pakeistas pasirašyto dokumento turinys\n"
                                 "  " + std::string(58, '-') + "\n"
                                 "[Uždaryti]\n";
    EXPECT_EQ(summaryText(rows), expected);
}

TEST(SummaryText, ValuesStartAtTheValueColumnCountedInCharacters) {
    // "ė" is two bytes but one column.
    const std::string shortLabel = summaryText({labelValue(u"- siuntėjas", u"Ministerija")});
    EXPECT_EQ(shortLabel, "     - siuntėjas" + std::string(48 - 16, ' ') + "Ministerija\n");

    // A label reaching past the column is still followed by one space.
    const std::u16string longLabel(50, u'ž');
    std::string expected = "     ";
    for (int i = 0; i < 50; ++i) expected += "ž";
    EXPECT_EQ(summaryText({labelValue(longLabel, u"v")}), expected + " v\n");
}

TEST(SummaryText, ErrorTextLinesAreIndentedAndTrailingEmptyLinesDropped) {
    const std::vector<SummaryRow> rows{row(RowKind::Error, kErrorIconX, u"Antra klaida;\r\nPirma klaida;\r\n\r\n")};
    EXPECT_EQ(summaryText(rows), "  ! Antra klaida;\n    Pirma klaida;\n");

    EXPECT_EQ(summaryText({row(RowKind::Error, kErrorIconX, u"\r\n")}), "  ! \n");
    EXPECT_EQ(summaryText({}), "");
}

TEST(SummaryJson, EveryKindHasItsMembers) {
    const std::vector<SummaryRow> rows{
        row(RowKind::Text, 4, u"Laisvos formos dokumentas"),
        labelValue(u"- gavėjas", u"Savivaldybė"),
        buttons(110, 0),
        buttons(101, 103),
        row(RowKind::Separator, 10),
        verdict(20, false, u"Pasirašiusio asmens sertifikatas atšauktas"),
        row(RowKind::Error, 4, u"Klaida;\r\n"),
        row(RowKind::Close, 0, u"Uždaryti"),
    };
    EXPECT_EQ(summaryJson(rows),
              "["
              "{\"kind\":\"text\",\"x\":4,\"text\":\"Laisvos formos dokumentas\"},"
              "{\"kind\":\"labelValue\",\"x\":10,\"label\":\"- gavėjas\",\"value\":\"Savivaldybė\"},"
              "{\"kind\":\"buttons\",\"x\":0,\"certificateTarget\":110,\"crlTarget\":0},"
              "{\"kind\":\"buttons\",\"x\":0,\"certificateTarget\":101,\"crlTarget\":103},"
              "{\"kind\":\"separator\",\"x\":10},"
              "{\"kind\":\"verdict\",\"x\":20,\"good\":false,"
              "\"text\":\"Pasirašiusio asmens sertifikatas atšauktas\"},"
              "{\"kind\":\"error\",\"x\":4,\"text\":\"Klaida;\\r\\n\"},"
              "{\"kind\":\"close\",\"x\":0,\"text\":\"Uždaryti\"}"
              "]");
    EXPECT_EQ(summaryJson({}), "[]");
}

TEST(SummaryJson, TextsAreEscaped) {
    const std::vector<SummaryRow> rows{row(RowKind::Text, 4, u"Sistema \"A\\B\"\t\x01\x1f")};
    EXPECT_EQ(summaryJson(rows), "[{\"kind\":\"text\",\"x\":4,\"text\":\"Sistema \\\"A\\\\B\\\"\\t\\u0001\\u001f\"}]");
}

TEST(SummaryText, TheWholeSummaryOfAFailedRun) {
    xml::SignatureInfo info;
    info.error.code = 1;
    info.error.text = diag::Utf8Text("Nerastas parašas;\r\n");
    EXPECT_EQ(summaryText(summaryRows(info)), "  Laisvos formos dokumentas\n"
                                              "     " + std::string(55, '-') + "\n"
                                              "  ! Nerastas parašas;\n"
                                              "  " + std::string(58, '-') + "\n"
                                              "[Uždaryti]\n");
}

}  // namespace
}  // namespace tessal::display
