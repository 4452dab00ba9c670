#include "trust/certificate_context.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "pki/certificate_store.h"
#include "pki/crl_store.h"
#include "pki/fake_pki_source.h"
#include "pki/store_lock.h"
#include "support/test_pki.h"
#include "support/test_support.h"

namespace tessal::trust {
namespace {

using test::FakePkiSource;

constexpr std::int64_t kDay = 86400;

std::string entryCode(int place, int message) { return std::to_string(diag::errorCode(place, message)); }

// A root, an intermediate and a signer, served by subject name from an
// in-memory service; every test starts with empty stores and its own cache.
class ContextTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (const char* old = std::getenv("XDG_CACHE_HOME")) savedCache_ = old;
        ::setenv("XDG_CACHE_HOME", cache_.path().c_str(), 1);
        pki::clearCertificateStoreForTesting();
        pki::clearCrlStoreForTesting();
        pki::clearCertificateChecksOffForTesting();
        root_ = test::makeCertificate(rootPlan());
        intermediate_ = test::makeCertificate(intermediatePlan());
        signer_ = test::makeCertificate(signerPlan());
    }
    void TearDown() override {
        pki::clearCertificateStoreForTesting();
        pki::clearCrlStoreForTesting();
        pki::clearCertificateChecksOffForTesting();
        if (savedCache_) {
            ::setenv("XDG_CACHE_HOME", savedCache_->c_str(), 1);
        } else {
            ::unsetenv("XDG_CACHE_HOME");
        }
    }

    static test::CertPlan rootPlan() {
        test::CertPlan plan;
        plan.subject = {{"O", "Norvata Keldas"}, {"CN", "Test Root"}};
        plan.serial = {0x01, 0x00};
        plan.key = test::rsaKey();
        return plan;
    }
    static test::CertPlan intermediatePlan() {
        test::CertPlan plan;
        plan.subject = {{"O", "Norvata Keldas"}, {"CN", "Issuing CA"}};
        plan.issuer = rootPlan().subject;
        plan.serial = {0x02, 0x00};
        plan.key = test::otherRsaKey();
        plan.signer = test::rsaKey();
        return plan;
    }
    static test::CertPlan signerPlan() {
        test::CertPlan plan;
        plan.subject = {{"CN", "Jonas Jonaitis"}};
        plan.issuer = intermediatePlan().subject;
        plan.serial = {0x03, 0x45};
        plan.key = test::rsaKey();
        plan.signer = test::otherRsaKey();
        return plan;
    }

    static certs::CertificateRecord record(const data::Bytes& der) {
        certs::CertificateRecord out;
        EXPECT_TRUE(out.fromDer(der.data(), der.size())) << out.error().text.str();
        return out;
    }

    // The service knows a certificate under its subject text.
    void serve(const data::Bytes& der) {
        certificates_->answer(pki::CertBySubject, record(der).subject().str(), test::certificateDocument(der));
    }

    // The service's current CRL list holds one CRL of the issuing CA.
    void serveCurrentCrl(const test::CrlPlan& plan) {
        const std::string body = test::crlDocument(test::makeCrl(plan));
        crls_->answer(pki::CrlByName, "0", body);
        crls_->answer(pki::CrlByName, "1", body);  // the first one again ends the list
    }
    static test::CrlPlan issuingCrl() {
        test::CrlPlan plan;
        plan.issuer = intermediatePlan().subject;
        plan.signer = test::otherRsaKey();
        return plan;
    }

    CertificateContext makeContext(const data::Bytes& subjectDer) {
        auto certificates = std::make_unique<FakePkiSource>();
        auto crls = std::make_unique<FakePkiSource>();
        certificates_ = certificates.get();
        crls_ = crls.get();
        CertificateContext context(std::move(certificates), std::move(crls));
        if (!subjectDer.empty()) context.subject = record(subjectDer);
        return context;
    }

    test::TempDir cache_;
    data::Bytes root_, intermediate_, signer_;
    FakePkiSource* certificates_ = nullptr;
    FakePkiSource* crls_ = nullptr;

private:
    std::optional<std::string> savedCache_;
};

// ---- chains ----

TEST_F(ContextTest, BuildsAndVerifiesAChainFromTheServiceByIssuerNames) {
    CertificateContext context = makeContext(signer_);
    serve(intermediate_);
    serve(root_);
    ASSERT_TRUE(context.verifyChain()) << context.error.text.str();
    ASSERT_EQ(context.chain.size(), 2u);
    EXPECT_EQ(context.chain[0].subjectCommonName().str(), "issuing ca");
    EXPECT_EQ(context.chain[1].subjectCommonName().str(), "test root");
    EXPECT_TRUE(context.error.empty());

    // The fetched issuers are in the store now: a second context asks nothing.
    CertificateContext again = makeContext(signer_);
    EXPECT_TRUE(again.verifyChain()) << again.error.text.str();
    EXPECT_TRUE(certificates_->requests.empty());
}

TEST_F(ContextTest, SubjectSignedByTheRootHasAOneElementChain) {
    test::CertPlan plan = signerPlan();
    plan.issuer = rootPlan().subject;
    plan.signer = test::rsaKey();
    CertificateContext context = makeContext(test::makeCertificate(plan));
    serve(root_);
    ASSERT_TRUE(context.verifyChain()) << context.error.text.str();
    EXPECT_EQ(context.chain.size(), 1u);
}

TEST_F(ContextTest, ChainFailuresNameTheElementAndPlace) {
    {  // an expired intermediate fails even though the subject is valid
        test::CertPlan plan = intermediatePlan();
        plan.notBefore = test::secondsNow() - 30 * kDay;
        plan.notAfter = test::secondsNow() - kDay;
        CertificateContext context = makeContext(signer_);
        serve(test::makeCertificate(plan));
        serve(root_);
        EXPECT_FALSE(context.verifyChain());
        EXPECT_EQ(context.error.code, diag::errorCode(40, 14));
        EXPECT_NE(context.error.text.str().find("Sertifikatų grandinėje sertifikatas \"O=Norvata Keldas, CN=Issuing CA\" nebegalioja"),
                  std::string::npos)
            << context.error.text.str();
        // Only the chain message reaches the context, and the chain element keeps a clean record.
        EXPECT_EQ(context.error.text.str().find(entryCode(1020, 5)), std::string::npos);
        EXPECT_TRUE(context.chain[0].error().empty());
        pki::clearCertificateStoreForTesting();
    }
    {  // an intermediate signed by a key other than the root's
        test::CertPlan plan = intermediatePlan();
        plan.signer = test::otherRsaKey();
        CertificateContext context = makeContext(signer_);
        serve(test::makeCertificate(plan));
        serve(root_);
        EXPECT_FALSE(context.verifyChain());
        EXPECT_EQ(context.error.code, diag::errorCode(43, 17));
        EXPECT_NE(context.error.text.str().find("Klaidingas sertifikatų grandinės elemento \"O=Norvata Keldas, CN=Issuing CA\" parašas"),
                  std::string::npos);
        pki::clearCertificateStoreForTesting();
    }
    {  // a subject that names the issuer but was signed by another key
        test::CertPlan plan = signerPlan();
        plan.signer = test::rsaKey();
        CertificateContext context = makeContext(test::makeCertificate(plan));
        serve(intermediate_);
        serve(root_);
        EXPECT_FALSE(context.verifyChain());
        EXPECT_EQ(context.error.code, diag::errorCode(43, 17));
        pki::clearCertificateStoreForTesting();
    }
    {  // a "root" whose self-signature does not verify
        test::CertPlan plan = rootPlan();
        plan.signer = test::otherRsaKey();
        CertificateContext context = makeContext(intermediate_);
        serve(test::makeCertificate(plan));
        EXPECT_FALSE(context.verifyChain());
        EXPECT_EQ(context.error.code, diag::errorCode(41, 17));
        pki::clearCertificateStoreForTesting();
    }
    {  // the subject itself has expired: its own validity entry is merged
        test::CertPlan plan = signerPlan();
        plan.notAfter = test::secondsNow() - kDay;
        plan.notBefore = test::secondsNow() - 2 * kDay;
        CertificateContext context = makeContext(test::makeCertificate(plan));
        EXPECT_FALSE(context.verifyChain());
        EXPECT_EQ(context.error.code, diag::errorCode(1020, 5));
        EXPECT_TRUE(certificates_->requests.empty());
    }
    {  // no certificate at all
        CertificateContext context = makeContext({});
        EXPECT_FALSE(context.verifyChain());
    }
}

TEST_F(ContextTest, MissingIssuersAreReportedAtTheirPlace) {
    {
        CertificateContext context = makeContext(signer_);
        EXPECT_FALSE(context.verifyChain());
        EXPECT_EQ(context.error.code, diag::errorCode(45, 72));
        EXPECT_NE(context.error.text.str().find("Nepasiekiamas sertifikatų grandinės elementas: O=Norvata Keldas, CN=Issuing CA"),
                  std::string::npos)
            << context.error.text.str();
        // The fetch's own entry (the service's 404) stays out of the context.
        EXPECT_EQ(context.error.text.str().find(entryCode(3005, 98)), std::string::npos);
    }
    {
        CertificateContext context = makeContext(signer_);
        serve(intermediate_);
        EXPECT_FALSE(context.verifyChain());
        EXPECT_EQ(context.error.code, diag::errorCode(46, 72));
        EXPECT_NE(context.error.text.str().find("O=Norvata Keldas, CN=Test Root"), std::string::npos);
        EXPECT_EQ(context.chain.size(), 1u);
    }
}

TEST_F(ContextTest, IssuerNamesThatCycleEndAtTheBound) {
    // Two CAs that name each other as issuer: neither is self-signed.
    test::CertPlan a = intermediatePlan();
    a.subject = {{"CN", "Cycle A"}};
    a.issuer = test::Name{{"CN", "Cycle B"}};
    test::CertPlan b = intermediatePlan();
    b.subject = {{"CN", "Cycle B"}};
    b.issuer = test::Name{{"CN", "Cycle A"}};
    test::CertPlan leaf = signerPlan();
    leaf.issuer = a.subject;
    CertificateContext context = makeContext(test::makeCertificate(leaf));
    serve(test::makeCertificate(a));
    serve(test::makeCertificate(b));
    EXPECT_FALSE(context.buildChain());
    EXPECT_EQ(context.chain.size(), kMaxChainLength);
    EXPECT_EQ(context.error.code, diag::errorCode(46, 72));
}

TEST_F(ContextTest, AFilledChainIsNotRebuiltAndMustEndInARoot) {
    CertificateContext context = makeContext(signer_);
    context.chain.push_back(record(intermediate_));
    serve(root_);  // would complete the chain if it were rebuilt
    EXPECT_FALSE(context.verifyChain());
    EXPECT_EQ(context.error.code, diag::errorCode(42, 20));
    EXPECT_NE(context.error.text.str().find("nerastas bazinis sertifikatas"), std::string::npos);
    EXPECT_TRUE(certificates_->requests.empty());
}

TEST_F(ContextTest, CertificatesNamedByUrlTakeTheirPlaceInTheChain) {
    CertificateContext context = makeContext(signer_);
    const std::string rootHex = record(root_).id().str();
    const std::string intermediateHex = record(intermediate_).id().str();
    certificates_->answer(pki::CertByHash, rootHex, test::certificateDocument(root_));
    certificates_->answer(pki::CertByHash, intermediateHex, test::certificateDocument(intermediate_));

    // The root first: appended. Then the intermediate: before its issuer.
    ASSERT_TRUE(context.addChainCertificateFromUrl("http://pki.example/pki/cert/?hex&" + rootHex))
        << context.error.text.str();
    ASSERT_TRUE(context.addChainCertificateFromUrl("http://pki.example/pki/cert/?hex&" + intermediateHex));
    ASSERT_EQ(context.chain.size(), 2u);
    EXPECT_EQ(context.chain[0].subjectCommonName().str(), "issuing ca");
    EXPECT_EQ(context.chain[1].subjectCommonName().str(), "test root");
    EXPECT_TRUE(context.verifyChain()) << context.error.text.str();

    EXPECT_FALSE(context.addChainCertificateFromUrl("http://pki.example/pki/cert/?hex&00AA"));
    EXPECT_EQ(context.error.code, diag::errorCode(508, 71));
    EXPECT_NE(context.error.text.str().find("Nepasiekiamas sertifikatas: http://pki.example/pki/cert/?hex&00AA"),
              std::string::npos);
    EXPECT_EQ(context.chain.size(), 2u);
}

// ---- revocation ----

TEST_F(ContextTest, RevocationUsesTheIssuersCurrentCrl) {
    {  // the issuer is found by name in the stores to verify the CRL
        CertificateContext context = makeContext(signer_);
        serve(intermediate_);
        serveCurrentCrl(issuingCrl());
        EXPECT_TRUE(context.checkRevocation()) << context.error.text.str();
        EXPECT_TRUE(context.revocationList.hasCrl());
    }
    pki::clearCrlStoreForTesting();
    {  // listed, with a revocation date after the time asked: still revoked
        test::CrlPlan plan = issuingCrl();
        plan.revoked = {{0x03, 0x45}};
        CertificateContext context = makeContext(signer_);
        serve(intermediate_);
        serveCurrentCrl(plan);
        EXPECT_FALSE(context.checkRevocation(test::secondsNow() - 10 * kDay));
        EXPECT_EQ(context.error.code, diag::errorCode(44, 12));
        EXPECT_NE(context.error.text.str().find("Sertifikatas atšauktas"), std::string::npos);
        // The summary reads the outcome in the CRL's record.
        EXPECT_EQ(context.revocationList.error().code, diag::errorCode(44, 12));
    }
    pki::clearCrlStoreForTesting();
    {  // a CRL past its next update at the time asked
        test::CrlPlan plan = issuingCrl();
        plan.thisUpdate = test::secondsNow() - 3 * kDay;
        plan.nextUpdate = test::secondsNow() - 2 * kDay;
        CertificateContext context = makeContext(signer_);
        serve(intermediate_);
        serveCurrentCrl(plan);
        EXPECT_FALSE(context.checkRevocation(test::secondsNow() - kDay));
        EXPECT_EQ(context.error.code, diag::errorCode(808, 70));
    }
    pki::clearCrlStoreForTesting();
    {  // no CRL to be had: the store's reason reaches the context once
        CertificateContext context = makeContext(signer_);
        EXPECT_FALSE(context.checkRevocation());
        EXPECT_FALSE(context.error.empty());
        const std::string text = context.error.text.str();
        const std::string entry = entryCode(3005, 98);
        ASSERT_NE(text.find(entry), std::string::npos) << text;
        EXPECT_EQ(text.find(entry), text.rfind(entry)) << text;
    }
}

// A CRL decides only for its own issuer's certificates: one of another
// authority, or one under the issuer's name that the issuer's key did not
// sign, leaves the check failing instead of passing a listed certificate.
TEST_F(ContextTest, OnlyTheIssuersOwnCrlDecides) {
    test::CrlPlan otherAuthority;
    otherAuthority.issuer = {{"O", "Kita Organizacija"}, {"CN", "Kita CA"}};
    otherAuthority.signer = test::rsaKey();
    test::CrlPlan forged = issuingCrl();
    forged.signer = test::rsaKey();  // the issuer's name, the root's key
    // Another authority's name is not the issuer's, so it is not found at
    // all (704); the forged list is found under the name and then refused (47).
    const std::pair<test::CrlPlan, int> cases[] = {{otherAuthority, 704}, {forged, 47}};
    for (const auto& [plan, place] : cases) {
        pki::clearCrlStoreForTesting();
        CertificateContext context = makeContext(signer_);
        serve(intermediate_);
        serve(root_);
        serveCurrentCrl(plan);
        ASSERT_TRUE(context.verifyChain()) << context.error.text.str();
        EXPECT_FALSE(context.checkRevocation());
        EXPECT_FALSE(context.revocationList.hasCrl());
        EXPECT_TRUE(context.revocationList.holdsError());
        EXPECT_EQ(context.error.code, diag::errorCode(place, 69)) << context.error.text.str();
    }

    // A CRL that a signature names is held to the same rule.
    pki::clearCrlStoreForTesting();
    CertificateContext context = makeContext(signer_);
    serve(intermediate_);
    const std::string held = test::crlDocument(test::makeCrl(otherAuthority));
    context.revocationList = certs::CrlRecord(held.data(), held.size());
    EXPECT_FALSE(context.checkRevocation(test::secondsNow()));
    EXPECT_EQ(context.error.code, diag::errorCode(47, 69));
    EXPECT_TRUE(crls_->requests.empty());
}

TEST_F(ContextTest, ACheckNowFetchesAgainAndACheckAtATimeKeepsTheHeldCrl) {
    CertificateContext context = makeContext(signer_);
    serve(intermediate_);
    // The context holds a CRL that lists the subject; the service's current one does not.
    test::CrlPlan listing = issuingCrl();
    listing.revoked = {{0x03, 0x45}};
    const std::string held = test::crlDocument(test::makeCrl(listing));
    context.revocationList = certs::CrlRecord(held.data(), held.size());
    serveCurrentCrl(issuingCrl());

    EXPECT_FALSE(context.checkRevocation(test::secondsNow()));
    EXPECT_TRUE(crls_->requests.empty());
    EXPECT_EQ(context.error.code, diag::errorCode(44, 12));

    context.error = {};
    EXPECT_TRUE(context.checkRevocation()) << context.error.text.str();
    EXPECT_FALSE(crls_->requests.empty());
}

TEST_F(ContextTest, CrlNamedByUrl) {
    CertificateContext context = makeContext(signer_);
    EXPECT_FALSE(context.fetchCrlFromUrl("http://pki.example/pki/crl/?hex&0011"));
    EXPECT_EQ(context.error.code, diag::errorCode(507, 69));
}

TEST_F(ContextTest, ChecksOffSucceedWithoutAskingAnything) {
    pki::disableCertificateChecks();
    CertificateContext context = makeContext({});
    EXPECT_TRUE(context.verifyChain());
    EXPECT_TRUE(context.checkRevocation());
    EXPECT_TRUE(context.fetchIssuerCrl());
    EXPECT_TRUE(certificates_->requests.empty());
    EXPECT_TRUE(crls_->requests.empty());
    EXPECT_TRUE(context.error.empty());
}

TEST_F(ContextTest, CopiesTakeTheWorkingSetButNotTheClients) {
    CertificateContext context = makeContext(signer_);
    serve(intermediate_);
    serve(root_);
    serveCurrentCrl(issuingCrl());
    ASSERT_TRUE(context.verifyChain());
    ASSERT_TRUE(context.fetchIssuerCrl());
    diag::recordErrorCode(context.error, 0, 1, 2);

    const CertificateContext copy(context);
    EXPECT_EQ(copy.subject.id(), context.subject.id());
    ASSERT_EQ(copy.chain.size(), 2u);
    EXPECT_EQ(copy.chain[1].id(), context.chain[1].id());
    EXPECT_EQ(copy.revocationList.id(), context.revocationList.id());
    EXPECT_EQ(copy.error, context.error);
    EXPECT_NE(copy.certificateClient.get(), context.certificateClient.get());
    EXPECT_NE(copy.crlClient, nullptr);
}

}  // namespace
}  // namespace tessal::trust
