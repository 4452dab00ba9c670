#include "display/summary_rows.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "support/test_pki.h"
#include "support/test_support.h"

namespace tessal::display {
namespace {

// 2020-03-14 09:05:00 UTC as 100-ns units since 1601.
constexpr std::uint64_t kFiletimeOf2020 = (1584176700ULL + 11644473600ULL) * 10000000ULL;

std::string utf8(const std::u16string& text) { return diag::utf8Encode(text); }

// One readable line per row, so that a mismatch shows the whole layout.
std::string describe(const SummaryRow& row) {
    const std::string x = std::to_string(row.x);
    switch (row.kind) {
    case RowKind::Text: return "text " + x + " " + utf8(row.text);
    case RowKind::LabelValue: return "label " + x + " " + utf8(row.label) + " | " + utf8(row.value);
    case RowKind::Buttons:
        return "buttons " + std::to_string(row.certificateTarget) + "/" + std::to_string(row.crlTarget);
    case RowKind::Separator: return "separator " + x;
    case RowKind::Verdict: return "verdict " + x + (row.good ? " + " : " - ") + utf8(row.text);
    case RowKind::Error: return "error " + x + " " + utf8(row.text);
    case RowKind::Close: return "close " + utf8(row.text);
    }
    return "?";
}

std::vector<std::string> describe(const std::vector<SummaryRow>& rows) {
    std::vector<std::string> out;
    for (const SummaryRow& row : rows) out.push_back(describe(row));
    return out;
}

// The rows of one kind only, for tests about a single block.
std::vector<std::string> rowsOfKind(const std::vector<SummaryRow>& rows, RowKind kind) {
    std::vector<std::string> out;
    for (const SummaryRow& row : rows) {
        if (row.kind == kind) out.push_back(describe(row));
    }
    return out;
}

// Self-signed unless an issuer of another name is given.
certs::CertificateRecord certificate(const std::string& commonName, const std::string& issuer = {}) {
    test::CertPlan plan;
    plan.subject = {{"CN", commonName}};
    if (!issuer.empty()) plan.issuer = test::Name{{"CN", issuer}};
    const data::Bytes der = test::makeCertificate(plan);
    certs::CertificateRecord record;
    EXPECT_TRUE(record.fromDer(der.data(), der.size())) << record.error().text.str();
    return record;
}

void giveCrl(trust::CertificateContext& context) {
    const data::Bytes der = test::makeCrl(test::CrlPlan{});
    const std::string doc = test::crlDocument(der);
    context.revocationList = certs::CrlRecord(doc.data(), doc.size());
    ASSERT_TRUE(context.revocationList.hasCrl()) << context.revocationList.error().text.str();
}

std::string subjectOf(const trust::CertificateContext& context) { return context.subject.subject().str(); }

// Shown times are checked in UTC; the contexts' clients must not touch the user's cache.
class SummaryRowsTest : public ::testing::Test {
protected:
    void SetUp() override {
        saveAndSet("TZ", "UTC", savedTz_);
        saveAndSet("XDG_CACHE_HOME", cache_.path().c_str(), savedCache_);
        ::tzset();
    }
    void TearDown() override {
        restore("TZ", savedTz_);
        restore("XDG_CACHE_HOME", savedCache_);
        ::tzset();
    }

    static void saveAndSet(const char* name, const char* value, std::optional<std::string>& saved) {
        if (const char* old = std::getenv(name)) saved = old;
        ::setenv(name, value, 1);
    }
    static void restore(const char* name, const std::optional<std::string>& saved) {
        if (saved) {
            ::setenv(name, saved->c_str(), 1);
        } else {
            ::unsetenv(name);
        }
    }

    test::TempDir cache_;
    std::optional<std::string> savedTz_;
    std::optional<std::string> savedCache_;
};

TEST_F(SummaryRowsTest, ShownTimeIsLocalCalendarTime) {
    EXPECT_EQ(shownTime(kFiletimeOf2020 + 9999999), u"2020-03-14 09:05:00");  // fractions are dropped
    EXPECT_EQ(shownTime(0), u"");
    // Before 1970 the seconds are negative; they must not wrap around.
    EXPECT_EQ(shownTime(10000000ULL), u"1601-01-01 00:00:01");

    ::setenv("TZ", "EET-2", 1);
    ::tzset();
    EXPECT_EQ(shownTime(kFiletimeOf2020), u"2020-03-14 11:05:00");
}

TEST_F(SummaryRowsTest, DocumentWithoutMsgIdIsFreeFormWhateverElseTheHeaderHolds) {
    xml::SignatureInfo info;
    info.messageHeader.System = diag::Utf8Text("DVS");
    info.messageHeader.Sender = diag::Utf8Text("Ministerija");
    info.messageHeader.Type = diag::Utf8Text("Prašymas");
    info.messageHeader.Date = diag::Utf8Text("2020-03-14T09:05:00");

    EXPECT_EQ(describe(summaryRows(info)),
              (std::vector<std::string>{"text 4 Laisvos formos dokumentas", "separator 10", "close Uždaryti"}));
}

TEST_F(SummaryRowsTest, EnvelopeHeaderShowsItsFilledFieldsInOrder) {
    xml::SignatureInfo info;
    xml::MessageHeader& header = info.messageHeader;
    header.System = diag::Utf8Text("DVS");
    header.MsgId = diag::Utf8Text("MSG-1");
    header.Sender = diag::Utf8Text("Ministerija");
    header.Type = diag::Utf8Text("Prašymas");
    header.Date = diag::Utf8Text("2020-03-14T09:05:00T");

    EXPECT_EQ(describe(summaryRows(info)), (std::vector<std::string>{
                                               "text 4 Pasirašytas sistemos \"DVS\" dokumentas:",
                                               "label 10 - identifikatorius | MSG-1",
                                               "label 10 - siuntėjas | Ministerija",
                                               "label 10 - dokumento tipas | Prašymas",
                                               "label 10 - sukūrimo data | 2020-03-14 09:05:00 ",
                                               "separator 10",
                                               "close Uždaryti",
                                           }));

    header = {};
    header.MsgId = diag::Utf8Text("MSG-2");
    header.Receiver = diag::Utf8Text("Savivaldybė");
    EXPECT_EQ(describe(summaryRows(info)), (std::vector<std::string>{
                                               "text 4 Pasirašytas dokumentas:",
                                               "label 10 - identifikatorius | MSG-2",
                                               "label 10 - gavėjas | Savivaldybė",
                                               "separator 10",
                                               "close Uždaryti",
                                           }));
}

TEST_F(SummaryRowsTest, HeaderTextsAreNeverTreatedAsFormats) {
    xml::SignatureInfo info;
    info.messageHeader.System = diag::Utf8Text("A%sB%d%n");
    info.messageHeader.MsgId = diag::Utf8Text("%s");
    const std::vector<SummaryRow> rows = summaryRows(info);
    ASSERT_GE(rows.size(), 2u);
    EXPECT_EQ(rows[0].text, u"Pasirašytas sistemos \"A%sB%d%n\" dokumentas:");
    EXPECT_EQ(rows[1].value, u"%s");
}

TEST_F(SummaryRowsTest, SignerBlockNamesTheSignerAndOffersTheViewers) {
    xml::SignatureInfo info;
    info.signer.subject = certificate("Jonas Jonaitis");
    info.signingTime = kFiletimeOf2020;
    const std::string name = subjectOf(info.signer);
    ASSERT_NE(name.find("Jonas Jonaitis"), std::string::npos);

    std::vector<SummaryRow> rows = summaryRows(info);
    EXPECT_EQ(describe(rows), (std::vector<std::string>{
                                  "text 4 Laisvos formos dokumentas",
                                  "separator 10",
                                  "text 10 Dokumentą 2020-03-14 09:05:00 pasirašė:",
                                  "text 20 " + name,
                                  "buttons 101/0",
                                  "separator 10",
                                  "close Uždaryti",
                              }));
    EXPECT_EQ(rows[4].certificateCaption, u"Sertifikato duomenys");
    EXPECT_EQ(rows[4].crlCaption, u"");
    EXPECT_EQ(rows[2].gapBefore, 0);

    info.signingTime = 0;
    giveCrl(info.signer);
    rows = summaryRows(info);
    ASSERT_EQ(rows.size(), 7u);
    EXPECT_EQ(describe(rows[2]), "text 10 Dokumentą pasirašė:");
    EXPECT_EQ(describe(rows[4]), "buttons 101/103");
    EXPECT_EQ(rows[4].crlCaption, u"Atšauktų sertifikatų sąrašas (CRL)");
}

TEST_F(SummaryRowsTest, SignerWithoutCertificateHasNoBlock) {
    xml::SignatureInfo info;
    info.signingTime = kFiletimeOf2020;
    giveCrl(info.signer);  // a CRL alone names nobody
    EXPECT_TRUE(rowsOfKind(summaryRows(info), RowKind::Buttons).empty());
}

TEST_F(SummaryRowsTest, AuthorityBlockOnlyWhenTheSignatureCarriesATimeStamp) {
    xml::SignatureInfo info;
    info.timeStampAuthority.subject = certificate("Laiko žymų tarnyba");
    info.timeStampTime = kFiletimeOf2020;
    giveCrl(info.timeStampAuthority);
    EXPECT_TRUE(rowsOfKind(summaryRows(info), RowKind::Buttons).empty());

    info.timeStampPresent = 1;
    std::vector<SummaryRow> rows = summaryRows(info);
    ASSERT_EQ(rows.size(), 7u);
    EXPECT_EQ(describe(rows[2]), "text 10 Laiko žymą 2020-03-14 09:05:00 suformavo:");
    EXPECT_EQ(describe(rows[3]), "text 20 " + subjectOf(info.timeStampAuthority));
    EXPECT_EQ(describe(rows[4]), "buttons 102/104");
    EXPECT_EQ(describe(rows[5]), "separator 10");
    EXPECT_EQ(rows[2].gapBefore, 2);  // time-stamp blocks stand apart

    info.timeStampTime = 0;
    EXPECT_EQ(describe(summaryRows(info)[2]), "text 10 Laiko žymą suformavo:");
}

TEST_F(SummaryRowsTest, ArchiveTimeStampsKeepTheirPlaceAmongTheFirstSeven) {
    xml::SignatureInfo info;
    for (int k = 0; k < 9; ++k) {
        xml::TimeStampRecord& record = info.addArchiveTimeStamp(k == 3 ? 0 : kFiletimeOf2020 + k * 10000000ULL);
        if (k != 1) record.authority.subject = certificate("Archyvas " + std::to_string(k));
    }
    giveCrl(info.archiveTimeStamps[2].authority);
    EXPECT_TRUE(rowsOfKind(summaryRows(info), RowKind::Buttons).empty()) << "time-stamp present is not set";

    info.timeStampPresent = 1;
    const std::vector<SummaryRow> rows = summaryRows(info);
    // Record 1 has no certificate but still uses target 111; records 7 and 8 are past the seventh.
    EXPECT_EQ(rowsOfKind(rows, RowKind::Buttons),
              (std::vector<std::string>{"buttons 110/0", "buttons 112/122", "buttons 113/0", "buttons 114/0",
                                        "buttons 115/0", "buttons 116/0"}));

    std::vector<std::string> headings;
    std::vector<std::string> names;
    for (const SummaryRow& row : rows) {
        if (row.kind == RowKind::Text && row.x == 10) headings.push_back(utf8(row.text));
        if (row.kind == RowKind::Text && row.x == 20) names.push_back(utf8(row.text));
    }
    EXPECT_EQ(headings, (std::vector<std::string>{
                            "Archyvavimo laiko žymą 2020-03-14 09:05:00 suformavo:",
                            "Archyvavimo laiko žymą 2020-03-14 09:05:02 suformavo:",
                            "Archyvavimo laiko žymą suformavo:",
                            "Archyvavimo laiko žymą 2020-03-14 09:05:04 suformavo:",
                            "Archyvavimo laiko žymą 2020-03-14 09:05:05 suformavo:",
                            "Archyvavimo laiko žymą 2020-03-14 09:05:06 suformavo:",
                        }));
    ASSERT_EQ(names.size(), 6u);
    EXPECT_NE(names[1].find("Archyvas 2"), std::string::npos);
    EXPECT_NE(names[5].find("Archyvas 6"), std::string::npos);
}

// A signer with certificate, CRL and a chain ending at a self-signed root; nothing wrong.
xml::SignatureInfo soundSignature() {
    xml::SignatureInfo info;
    info.signaturePresent = 1;
    info.signer.subject = certificate("Jonas Jonaitis", "Issuing CA");
    giveCrl(info.signer);
    info.signer.chain.push_back(certificate("Issuing CA", "Root CA"));
    info.signer.chain.push_back(certificate("Root CA"));
    return info;
}

std::vector<std::string> verdictsOf(const xml::SignatureInfo& info) {
    return rowsOfKind(summaryRows(info), RowKind::Verdict);
}

TEST_F(SummaryRowsTest, SoundSignatureVerdictsWithAndWithoutTimeStamp) {
    xml::SignatureInfo info = soundSignature();
    const std::vector<std::string> untimed{
        "verdict 10 + Skaitmeninis parašas galioja",
        "verdict 20 + Pasirašyto dokumento turinys nepakeistas",
        "verdict 20 + Pasirašiusio asmens sertifikatas galioja",
        "verdict 20 + Pasirašiusio asmens sertifikatas neatšauktas",
        "verdict 20 + Pasirašiusio asmens sertifikatą išdavė pasitikėtina organizacija",
    };
    EXPECT_EQ(verdictsOf(info), untimed);

    // The verdict block ends with its own separator, then the close button.
    const std::vector<SummaryRow> rows = summaryRows(info);
    ASSERT_GE(rows.size(), 2u);
    EXPECT_EQ(describe(rows[rows.size() - 2]), "separator 4");

    // A time-stamp without a time does not make the signature time-stamped.
    info.timeStampPresent = 1;
    EXPECT_EQ(verdictsOf(info), untimed);

    info.timeStampTime = kFiletimeOf2020;
    EXPECT_EQ(verdictsOf(info),
              (std::vector<std::string>{
                  "verdict 10 + Skaitmeninis parašas galioja",
                  "verdict 20 + Pasirašyto dokumento turinys nepakeistas",
                  "verdict 20 + Pasirašiusio asmens sertifikatas galiojo laiko žymos formavimo metu",
                  "verdict 20 + Pasirašiusio asmens sertifikatas nebuvo atšauktas laiko žymos formavimo metu",
                  "verdict 20 + Pasirašiusio asmens sertifikatą išdavė pasitikėtina organizacija",
              }));

    // Only a time given with a time-stamp present counts.
    info.timeStampPresent = 0;
    EXPECT_EQ(verdictsOf(info), untimed);
}

TEST_F(SummaryRowsTest, FaultsGiveBadVerdicts) {
    xml::SignatureInfo info = soundSignature();
    info.error.code = 5;
    info.contentChanged = 1;
    info.signer.subject.error().lastError = 2;
    info.signer.revocationList.error().code = 7;
    info.signer.chain.pop_back();  // ends at an issuer that is not self-signed

    EXPECT_EQ(verdictsOf(info),
              (std::vector<std::string>{
                  "verdict 10 - Skaitmeninis parašas negalioja",
                  "verdict 20 - Pakeistas pasirašyto dokumento turinys",
                  "verdict 20 - Pasirašiusio asmens sertifikatas negalioja",
                  "verdict 20 - Pasirašiusio asmens sertifikatas atšauktas",
                  "verdict 20 - Klaida formuojant asmens sertifikatą pasirašiusių organizacijų sertifikatų "
                  "pasitikėjimo grandinę",
              }));

    info.timeStampPresent = 1;
    info.timeStampTime = kFiletimeOf2020;
    const std::vector<std::string> timed = verdictsOf(info);
    ASSERT_EQ(timed.size(), 5u);
    EXPECT_EQ(timed[2], "verdict 20 - Pasirašiusio asmens sertifikatas negaliojo laiko žymos formavimo metu");
    EXPECT_EQ(timed[3], "verdict 20 - Pasirašiusio asmens sertifikatas atšauktas");

    // No CRL of the issuer could be had: the row still says revocation was not ruled out.
    info.signer.revocationList = certs::CrlRecord();
    info.signer.revocationList.error().code = 7;
    EXPECT_EQ(verdictsOf(info)[3], "verdict 20 - Pasirašiusio asmens sertifikatas atšauktas");
}

TEST_F(SummaryRowsTest, TrustFollowsTheLastChainMember) {
    xml::SignatureInfo info = soundSignature();
    // A self-signed first member does not help when the chain ends elsewhere.
    info.signer.chain = {certificate("Root CA"), certificate("Issuing CA", "Root CA")};
    EXPECT_EQ(verdictsOf(info).back(),
              "verdict 20 - Klaida formuojant asmens sertifikatą pasirašiusių organizacijų sertifikatų "
              "pasitikėjimo grandinę");

    info.signer.chain = {certificate("Issuing CA", "Root CA"), certificate("Root CA")};
    EXPECT_EQ(verdictsOf(info).back(),
              "verdict 20 + Pasirašiusio asmens sertifikatą išdavė pasitikėtina organizacija");
}

TEST_F(SummaryRowsTest, MissingPartsLeaveTheirVerdictsOut) {
    xml::SignatureInfo info;
    info.signaturePresent = 1;
    EXPECT_EQ(verdictsOf(info), (std::vector<std::string>{
                                    "verdict 10 + Skaitmeninis parašas galioja",
                                    "verdict 20 + Pasirašyto dokumento turinys nepakeistas",
                                }));
}

TEST_F(SummaryRowsTest, ErrorBlockShowsTheWholeRecordEvenWithoutSignature) {
    xml::SignatureInfo info;
    info.error.lastError = 13;  // a platform error alone is an error
    info.error.text = diag::Utf8Text("Antra klaida;\r\nPirma klaida;\r\n");

    EXPECT_EQ(describe(summaryRows(info)), (std::vector<std::string>{
                                               "text 4 Laisvos formos dokumentas",
                                               "separator 10",
                                               "error 4 Antra klaida;\r\nPirma klaida;\r\n",
                                               "separator 4",
                                               "close Uždaryti",
                                           }));

    // A text without a code is no error.
    info.error.lastError = 0;
    EXPECT_TRUE(rowsOfKind(summaryRows(info), RowKind::Error).empty());

    // With a signature the error comes after the verdicts.
    info.error.code = 9;
    info.signaturePresent = 1;
    const std::vector<SummaryRow> rows = summaryRows(info);
    ASSERT_EQ(rows.size(), 8u);
    EXPECT_EQ(describe(rows[2]), "verdict 10 - Skaitmeninis parašas negalioja");
    EXPECT_EQ(rows[5].kind, RowKind::Error);
}

}  // namespace
}  // namespace tessal::display
