#include "xades/verification.h"

#include <gtest/gtest.h>

#include <string>

#include "digests/digest_algorithms.h"
#include "pki/store_lock.h"
#include "xades/signature_info.h"

namespace tessal::xml {
namespace {

struct Outcome {
    bool ok;
    std::string text;
    std::int32_t code;
    SignatureInfo info;
};

Outcome verifyText(const std::string& document) {
    Outcome run{false, {}, 0, {}};
    VerificationJob job(document.data(), document.size(), nullptr, &run.info);
    run.ok = verifySignature(job);
    run.text = job.error().text.str();
    run.code = job.error().code;
    return run;
}

bool has(const Outcome& run, int place, int message) {
    return run.text.find(std::to_string(diag::errorCode(place, message))) != std::string::npos;
}

constexpr const char* kDs = "xmlns=\"http://www.w3.org/2000/09/xmldsig#\"";

TEST(VerificationStructure, AnUnsignedDocumentFailsWithOneEntryAndNoFlags) {
    const Outcome run = verifyText("<EDoc><Msg>x</Msg></EDoc>");
    EXPECT_FALSE(run.ok);
    EXPECT_EQ(run.code, diag::errorCode(410, 50));
    EXPECT_EQ(run.text, "XML dokumentas nepasirašytas : 70410050;\r\n");
    EXPECT_EQ(run.info.error, diag::ErrorRecord({0, diag::errorCode(410, 50), run.info.error.text}));
    EXPECT_EQ(run.info.signaturePresent, 0u);
    EXPECT_EQ(run.info.contentChanged, 0u);
}

TEST(VerificationStructure, MissingPartsAreAllReported) {
    const Outcome run = verifyText(std::string("<EDoc><Signature ") + kDs + "><SignedInfo/><!-- fine --></Signature></EDoc>");
    EXPECT_FALSE(run.ok);
    EXPECT_TRUE(has(run, 411, 51)) << run.text;
    EXPECT_TRUE(has(run, 413, 53)) << run.text;
    EXPECT_FALSE(has(run, 412, 52));
    EXPECT_NE(run.text.find("nerastas būtinas XML parašo SignatureValue laukas"), std::string::npos);
    // Without SignatureValue the value check never runs.
    EXPECT_EQ(run.info.signaturePresent, 0u);
}

TEST(VerificationStructure, AStrayNodeOrUnknownElementInsideSignatureStopsTheRun) {
    Outcome run = verifyText(std::string("<EDoc><Signature ") + kDs + "><SignedInfo/><?pi x?><SignatureValue/></Signature></EDoc>");
    EXPECT_EQ(run.code, diag::errorCode(410, 81));
    EXPECT_FALSE(has(run, 413, 53));  // stopped before the missing parts were looked for
    run = verifyText(std::string("<EDoc><Signature ") + kDs + "><SignedInfo/><Extra/></Signature></EDoc>");
    EXPECT_EQ(run.code, diag::errorCode(411, 81));
}

TEST(VerificationStructure, ReferencesAreAllExaminedAndExternalOnesRefused) {
    const std::string signature = std::string("<Signature ") + kDs +
                                  "><SignedInfo>"
                                  "<CanonicalizationMethod Algorithm=\"http://www.w3.org/TR/2001/REC-xml-c14n-20010315\"/>"
                                  "<SignatureMethod Algorithm=\"http://www.w3.org/2000/09/xmldsig#rsa-sha1\"/>"
                                  "<Reference URI=\"http://elsewhere.example/doc.xml\"><DigestValue>AAAA</DigestValue></Reference>"
                                  "<Reference URI=\"#part\"><DigestMethod Algorithm=\"HTTP://WWW.W3.ORG/2000/09/XMLDSIG#SHA1\"/>"
                                  "<DigestValue>AAAAAAAAAAAAAAAAAAAAAAAAAAA=</DigestValue></Reference>"
                                  "<Reference URI=\"#part\"><DigestMethod Algorithm=\"urn:unknown\"/><DigestValue>AAAA</DigestValue></Reference>"
                                  "<Reference URI=\"#part\"><DigestMethod/><DigestValue>AAAA</DigestValue></Reference>"
                                  "<Reference URI=\"#part\"><DigestMethod Algorithm=\"urn:x\"/></Reference>"
                                  "</SignedInfo><SignatureValue>AAAA</SignatureValue></Signature>";
    const Outcome run = verifyText("<EDoc><Part Id=\"part\">data</Part>" + signature + "</EDoc>");
    EXPECT_FALSE(run.ok);
    EXPECT_TRUE(has(run, 485, 59)) << run.text;
    EXPECT_NE(run.text.find("(\"http://elsewhere.example/doc.xml\")"), std::string::npos);
    // The upper-case URI is SHA-1: the digest is compared (and differs).
    EXPECT_TRUE(has(run, 422, 58));
    EXPECT_NE(run.text.find("elementas \"part\" neleistinai modifikuotas"), std::string::npos);
    EXPECT_TRUE(has(run, 421, 96));
    EXPECT_NE(run.text.find("Nepalaikomas algoritmas \"urn:unknown\""), std::string::npos);
    EXPECT_TRUE(has(run, 488, 92));
    EXPECT_TRUE(has(run, 487, 60));
    // No Object: its entry is there too, and a digest mismatch alone does not mark the content changed.
    EXPECT_TRUE(has(run, 413, 53));
    EXPECT_EQ(run.info.signaturePresent, 1u);
}

TEST(VerificationStructure, SignedInfoWithoutMethodsMarksTheContentChanged) {
    const Outcome run = verifyText(std::string("<EDoc><Signature ") + kDs +
                               "><SignedInfo><Reference URI=\"\"><DigestValue>AAAA</DigestValue></Reference></SignedInfo>"
                               "<SignatureValue>AAAA</SignatureValue></Signature></EDoc>");
    EXPECT_TRUE(has(run, 483, 81)) << run.text;
    EXPECT_TRUE(has(run, 484, 81));
    EXPECT_EQ(run.info.contentChanged, 1u);
}

std::string sha1Base64(const std::string& octets) {
    std::string out;
    crypto::digestBase64(reinterpret_cast<const std::uint8_t*>(octets.data()), octets.size(), out);
    return out;
}

// A Reference over the data of `uri` after `transforms`, with a SHA-1 digest value.
std::string reference(const std::string& uri, const std::string& transforms, const std::string& digest) {
    return "<Reference URI=\"" + uri + "\"><Transforms>" + transforms +
           "</Transforms><DigestMethod Algorithm=\"http://www.w3.org/2000/09/xmldsig#sha1\"/><DigestValue>" + digest +
           "</DigestValue></Reference>";
}

TEST(VerificationReferences, ThousandsOfIdenticalReferencesAreCheckedAsOneButEachDifferentOneOnItsOwn) {
    const std::string enveloped = "<Transform Algorithm=\"http://www.w3.org/2000/09/xmldsig#enveloped-signature\"/>";
    const std::string filter =
        "<Transform Algorithm=\"http://www.w3.org/TR/1999/REC-xpath-19991116\"><XPath>not(self::b)</XPath></Transform>";
    const std::string whole = sha1Base64("<EDoc><Msg Id=\"m\"><a>1</a><b>2</b></Msg></EDoc>");
    const std::string filtered = sha1Base64("<EDoc><Msg Id=\"m\"><a>1</a>2</Msg></EDoc>");
    const std::string message = sha1Base64("<Msg Id=\"m\"><a>1</a><b>2</b></Msg>");
    std::string references;
    for (int i = 0; i < 5000; ++i) {
        references += reference("", enveloped, whole);
        references += reference("#m", "", message);
    }
    // The same URI with more transforms, and a wrong value among the repeats.
    references += reference("", enveloped + filter, filtered);
    references += reference("#m", "", whole);
    const Outcome run = verifyText(std::string("<EDoc><Msg Id=\"m\"><a>1</a><b>2</b></Msg><Signature ") + kDs +
                                   "><SignedInfo>" + references + "</SignedInfo></Signature></EDoc>");
    EXPECT_FALSE(run.ok);
    const std::string modified = std::to_string(diag::errorCode(422, 58));
    const std::size_t first = run.text.find(modified);
    ASSERT_NE(first, std::string::npos) << run.text.substr(0, 2000);
    EXPECT_EQ(run.text.find(modified, first + 1), std::string::npos) << run.text.substr(0, 2000);
    EXPECT_NE(run.text.find("elementas \"m\" neleistinai"), std::string::npos) << run.text.substr(0, 2000);
    EXPECT_FALSE(has(run, 420, 57));
}

}  // namespace
}  // namespace tessal::xml
