// Revocation lists from the service document: decoding, the texts the CRL
// stores find them by, the expiry test and the lookup of a serial number.
#include "certs/crl_record.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <ctime>

#include "support/test_pki.h"
#include "diagnostics/error_record.h"
#include "diagnostics/wide_format.h"

namespace tessal::certs {
namespace {

std::string entryCode(int place, int index) { return " : " + std::to_string(diag::errorCode(place, index)); }

CrlRecord recordOf(const test::CrlPlan& plan) {
    const std::string document = test::crlDocument(test::makeCrl(plan));
    return CrlRecord(document.data(), document.size());
}

TEST(CrlRecord, DecodesAndDerivesTexts) {
    test::CrlPlan plan;
    plan.issuer = {{"C", "LT"}, {"O", "Norvata Keldas"}, {"CN", "Root CA"}};
    const data::Bytes der = test::makeCrl(plan);
    const std::string document = test::crlDocument(der);
    CrlRecord record(document.data(), document.size());
    ASSERT_TRUE(record.error().empty()) << record.error().text.str();
    ASSERT_TRUE(record.hasCrl());
    EXPECT_EQ(record.crl().der(), der);

    unsigned char sha1[20];
    unsigned int length = 0;
    EVP_Digest(der.data(), der.size(), sha1, &length, EVP_sha1(), nullptr);
    std::string hex;
    data::hexEncode(sha1, length, hex);
    EXPECT_EQ(record.id().str(), hex);
    std::string base64;
    data::base64Encode(sha1, length, base64);
    EXPECT_EQ(record.idBase64().str(), base64);
    EXPECT_EQ(record.issuer().str(), "C=LT, O=Norvata Keldas, CN=Root CA");
    EXPECT_EQ(record.issuerCommonName().str(), "root ca");
    EXPECT_EQ(record.text(), "");  // the XML form is the parsed document's tree
    EXPECT_NE(record.tree(), nullptr);
}

TEST(CrlRecord, PlacesOfTheDocumentAndTheList) {
    const std::string noCrl = "<QualifyingProperties><UnsignedProperties/></QualifyingProperties>";
    CrlRecord missing(noCrl.data(), noCrl.size());
    EXPECT_EQ(
        missing.error().text.str(),
        "Paieškos kriterijus atitinkanti sertifikatų atšaukimo byla Norvata Keldo sertifikatų saugykloje nerasta" +
            entryCode(802, 69) + ";\r\n");
    EXPECT_FALSE(missing.fromXml());  // the error gate: no second entry
    EXPECT_EQ(missing.error().code, diag::errorCode(802, 69));
    EXPECT_EQ(missing.error().text.str().find(entryCode(802, 69)),
              missing.error().text.str().rfind(entryCode(802, 69)));

    const std::string empty =
        "<QualifyingProperties><UnsignedProperties><UnsignedSignatureProperties><RevocationValues>"
        "<CRLValues><EncapsulatedCRLValue><!----></EncapsulatedCRLValue></CRLValues>"
        "</RevocationValues></UnsignedSignatureProperties></UnsignedProperties>"
        "</QualifyingProperties>";
    EXPECT_EQ(CrlRecord(empty.data(), empty.size()).error().code, diag::errorCode(803, 7));

    const std::string notACrl = test::crlDocument(test::makeCertificate({}));
    const CrlRecord wrongKind(notACrl.data(), notACrl.size());
    EXPECT_EQ(wrongKind.error().code, diag::errorCode(804, 11));
    EXPECT_EQ(wrongKind.error().text.str().rfind(
                  "Kriptografinių funkcijų paketo klaida kuriant atšauktų sertifikatų sąrašo (CRL) objektą", 0),
              0u);
    EXPECT_FALSE(wrongKind.hasCrl());

    test::CrlPlan noName;
    noName.issuer = {};
    EXPECT_EQ(recordOf(noName).error().text.str(),
              "Klaidingas sertifikatų atšaukimo sąrašo formatas" + entryCode(806, 85) + ";\r\n");
    test::CrlPlan noCommonName;
    noCommonName.issuer = {{"O", "Norvata Keldas"}};
    EXPECT_EQ(recordOf(noCommonName).error().code, diag::errorCode(807, 85));

    const std::string broken = "<QualifyingProperties>";
    EXPECT_EQ(CrlRecord(broken.data(), broken.size()).error().code, diag::errorCode(301, 49));
}

TEST(CrlValidity, OnlyATimeAfterNextUpdateFails) {
    const std::int64_t now = test::secondsNow();
    test::CrlPlan expired;
    expired.thisUpdate = now - 10 * 86400;
    expired.nextUpdate = now - 86400;
    CrlRecord old = recordOf(expired);
    ASSERT_TRUE(old.error().empty());
    EXPECT_FALSE(old.checkCrlValidity());
    const std::time_t t = static_cast<std::time_t>(*expired.nextUpdate);
    std::tm tm{};
    localtime_r(&t, &tm);
    const std::string stamp =
        diag::formatNarrow("%d-%02d-%02d %02d:%02d:%02d",
                           {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec});
    EXPECT_EQ(old.error().text.str(), "Sertifikatų atšaukimo bylos galiojimo laikas pasibaigęs (galioja iki " + stamp +
                                          " vietos laiku)" + entryCode(808, 70) + ";\r\n");

    CrlRecord atTheTime = recordOf(expired);
    EXPECT_TRUE(atTheTime.checkCrlValidity(*expired.nextUpdate - 60));

    test::CrlPlan future;
    future.thisUpdate = now + 86400;
    future.nextUpdate = now + 2 * 86400;
    EXPECT_TRUE(recordOf(future).checkCrlValidity());

    test::CrlPlan open;
    open.nextUpdate = std::nullopt;
    EXPECT_TRUE(recordOf(open).checkCrlValidity(now + 100 * 365 * 86400LL));

    CrlRecord none;
    EXPECT_FALSE(none.checkCrlValidity());
    EXPECT_TRUE(none.error().empty());
}

TEST(CrlEntries, SerialLookupComparesIntegerValues) {
    test::CrlPlan plan;
    plan.revoked = {{0x01, 0x00}, {0x80, 0x01}, {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0, 0x11, 0x22}};
    const CrlRecord record = recordOf(plan);
    ASSERT_TRUE(record.error().empty());
    EXPECT_TRUE(record.lists({0x01, 0x00}));
    EXPECT_TRUE(record.lists({0x00, 0x80, 0x01}));  // DER form of a serial with the top bit set
    EXPECT_TRUE(record.lists({0x80, 0x01}));
    EXPECT_TRUE(record.lists({0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0, 0x11, 0x22}));
    EXPECT_FALSE(record.lists({0x01}));
    EXPECT_FALSE(record.lists({0x01, 0x00, 0x00}));
    EXPECT_FALSE(record.lists({}));
    const auto when = record.revocationOf({0x01, 0x00});
    ASSERT_TRUE(when);
    EXPECT_NEAR(static_cast<double>(*when), static_cast<double>(test::secondsNow() - 1800), 120.0);

    EXPECT_FALSE(recordOf({}).lists({0x01, 0x00}));
    EXPECT_FALSE(CrlRecord().lists({0x01, 0x00}));
}

TEST(CrlRecordCopy, CopiesKeepTheListAndTheDocument) {
    test::CrlPlan plan;
    plan.revoked = {{0x10, 0x01}};
    auto original = std::make_unique<CrlRecord>(recordOf(plan));
    CrlRecord assigned;
    assigned = *original;
    const std::string id = original->id().str();
    original.reset();
    EXPECT_EQ(assigned.id().str(), id);
    EXPECT_EQ(assigned.issuerCommonName().str(), "root ca");
    EXPECT_TRUE(assigned.lists({0x10, 0x01}));
    EXPECT_TRUE(assigned.checkCrlValidity());
    ASSERT_NE(assigned.tree(), nullptr);
    EXPECT_TRUE(assigned.textAtPath(kCrlPath).has_value());
}

}  // namespace
}  // namespace tessal::certs
