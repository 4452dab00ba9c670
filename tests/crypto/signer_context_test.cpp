#include "crypto/signer_context.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "crypto/signer_fakes.h"
#include "diagnostics/error_record.h"
#include "pki/fake_pki_source.h"

namespace tessal::crypto {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using platform::DigestKind;
using platform::KeySpec;

const data::Bytes kData{'s', 'i', 'g', 'n', 'e', 'd', ' ', 'i', 'n', 'f', 'o'};
constexpr std::string_view kReader = "Reader 0";
constexpr std::string_view kProvider = "Card CSP";
constexpr std::string_view kHsmProvider = "HSM CSP";
constexpr std::string_view kContainer = "signer";

// True when `signature` (least significant byte first) is the test key's
// RSASSA-PKCS1-v1_5 signature of `data` under `md`.
bool verifiesLsbFirst(const data::Bytes& signature, const data::Bytes& data, const EVP_MD* md) {
    data::Bytes bigEndian(signature.rbegin(), signature.rend());
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    const bool ok = EVP_DigestVerifyInit(ctx, nullptr, md, nullptr, test::rsaKey().get()) == 1 &&
                    EVP_DigestVerify(ctx, bigEndian.data(), bigEndian.size(), data.data(), data.size()) == 1;
    EVP_MD_CTX_free(ctx);
    return ok;
}

class SignerContextTest : public ::testing::Test {
protected:
    void SetUp() override { fake_.cards().readers.push_back({std::string(kReader), test::ByteBlock{0x3B, 0x01}}); }

    // The container's provider state, with a key under `spec` made as `plan` says.
    // A fresh container state each time.
    std::shared_ptr<test::FakeProviderState>& hsmContainer(test::FakeKeyPlan plan = {}, KeySpec spec = KeySpec::Exchange) {
        auto& state = fake_.keys().container(std::string(kHsmProvider), "HSM", std::string(kContainer));
        state = std::make_shared<test::FakeProviderState>();
        state->keys[spec] = std::move(plan);
        return state;
    }
    std::shared_ptr<test::FakeProviderState>& cardContainer(test::FakeKeyPlan plan = {}, KeySpec spec = KeySpec::Exchange) {
        auto& state = fake_.keys().container(std::string(kProvider), std::string(kReader), std::string(kContainer));
        state = std::make_shared<test::FakeProviderState>();
        state->keys[spec] = std::move(plan);
        return state;
    }
    std::unique_ptr<SignerContext> hsmSigner() {
        return std::make_unique<SignerContext>(kHsmReader, kHsmProvider, kContainer);
    }
    std::unique_ptr<SignerContext> cardSigner() {
        return std::make_unique<SignerContext>(kReader, kProvider, kContainer);
    }

    test::SignerEnvironment environment_;
    test::FakePlatform fake_;
};

// ---- construction ----------------------------------------------------------

TEST_F(SignerContextTest, HsmContainerThatCannotBeOpenedRecordsPlace206) {
    fake_.keys().acquireErrors[{std::string(kHsmProvider), "HSM", std::string(kContainer)}] = platform::kErrorNoToken;
    // An empty reader name is the HSM.
    SignerContext signer("", kHsmProvider, kContainer);
    EXPECT_TRUE(signer.isHsm());
    EXPECT_EQ(signer.readerName(), "HSM");
    EXPECT_FALSE(signer.hasProvider());
    EXPECT_FALSE(signer.hasKey());
    EXPECT_EQ(signer.error().code, diag::errorCode(206, 29));
    EXPECT_EQ(signer.error().lastError, platform::kErrorNoToken);
    EXPECT_THAT(signer.error().text.str(),
                HasSubstr("Kriptografinių funkcijų paketo klaida inicijuojant kriptografinių funkcijų tiekėjo aplinką"));
    // An HSM context never opens the card subsystem.
    EXPECT_EQ(fake_.cards().contextsMade.load(), 0);
}

TEST_F(SignerContextTest, CardWithoutTheKeySetLeavesAnEmptyContext) {
    for (const std::uint32_t code : {platform::kNteBadKeyset, platform::kNteKeysetNotDefined}) {
        fake_.keys().acquireErrors[{std::string(kProvider), std::string(kReader), std::string(kContainer)}] = code;
        const auto signer = cardSigner();
        EXPECT_FALSE(signer->hasProvider());
        EXPECT_FALSE(signer->hasKey());
        EXPECT_TRUE(signer->error().empty()) << signer->error().text.str();
        EXPECT_FALSE(signer->holdsError());
        EXPECT_EQ(platform::lastError(), 0u);
    }
}

TEST_F(SignerContextTest, CardContainerFailuresRecordTheirPlaces) {
    fake_.keys().acquireErrors[{std::string(kProvider), std::string(kReader), std::string(kContainer)}] =
        platform::kErrorNoToken;
    EXPECT_EQ(cardSigner()->error().code, diag::errorCode(201, 29));

    fake_.cards().establishError = 0x8010001Du;  // SCARD_E_NO_SERVICE
    const auto noService = cardSigner();
    EXPECT_EQ(noService->error().code, diag::errorCode(221, 41));
    EXPECT_EQ(noService->error().lastError, 0x8010001Du);
    EXPECT_THAT(noService->error().text.str(), HasSubstr("inicijuojant kortelių skaitytuvų posistemį"));
    // Without the subsystem the key store is not asked.
    EXPECT_EQ(fake_.keys().acquired.size(), 1u);
}

TEST_F(SignerContextTest, KeySpecFallsBackToSignatureAtConstruction) {
    auto& state = cardContainer({}, KeySpec::Signature);
    const auto signer = cardSigner();
    EXPECT_TRUE(signer->hasKey());
    EXPECT_EQ(signer->keySpec(), KeySpec::Signature);
    EXPECT_TRUE(signer->error().empty());
    EXPECT_THAT(state->keysAsked, ElementsAre(KeySpec::Exchange, KeySpec::Signature));

    // An exchange key is taken as it is.
    state->keys[KeySpec::Exchange] = {};
    state->keysAsked.clear();
    const auto exchange = cardSigner();
    EXPECT_EQ(exchange->keySpec(), KeySpec::Exchange);
    EXPECT_THAT(state->keysAsked, ElementsAre(KeySpec::Exchange));
}

TEST_F(SignerContextTest, NoKeyUnderEitherSpecRecordsPlace220) {
    fake_.keys().container(std::string(kHsmProvider), "HSM", std::string(kContainer));
    const auto signer = hsmSigner();
    EXPECT_TRUE(signer->hasProvider());
    EXPECT_FALSE(signer->hasKey());
    EXPECT_EQ(signer->error().code, diag::errorCode(220, 34));
    EXPECT_EQ(signer->error().lastError, platform::kNteNoKey);
    EXPECT_THAT(signer->error().text.str(), HasSubstr("išrenkant vartotojo viešąjį raktą"));
}

TEST_F(SignerContextTest, ARefusedPinIsPresentedOnceNotForBothKeySpecs) {
    for (const std::uint32_t refusal : {platform::kScardWrongChv, platform::kScardCancelledByUser}) {
        auto& state = fake_.keys().container(std::string(kHsmProvider), "HSM", std::string(kContainer));
        state->userKeyError = refusal;
        state->keysAsked.clear();
        const auto signer = hsmSigner();
        EXPECT_FALSE(signer->hasKey());
        EXPECT_EQ(signer->error().code, diag::errorCode(220, 34));
        EXPECT_EQ(signer->error().lastError, refusal);
        // Asking for the other key would have put the wrong PIN to the card again.
        EXPECT_THAT(state->keysAsked, ElementsAre(KeySpec::Exchange));
    }
}

// ---- checkCardPresent ------------------------------------------------------

TEST_F(SignerContextTest, CardPresenceIsCheckedOnlyForCards) {
    hsmContainer();
    fake_.cards().valid = false;
    EXPECT_TRUE(hsmSigner()->checkCardPresent());

    fake_.cards().valid = true;
    cardContainer();
    const auto signer = cardSigner();
    ASSERT_TRUE(signer->hasKey());
    EXPECT_TRUE(signer->checkCardPresent());
    EXPECT_TRUE(signer->error().empty());

    fake_.cards().readers[0].answers = false;
    EXPECT_FALSE(signer->checkCardPresent());
    EXPECT_EQ(signer->error().code, diag::errorCode(227, 44));
    EXPECT_THAT(signer->error().text.str(),
                HasSubstr("Kriptografinių funkcijų paketo klaida jungiantis prie \"Reader 0\" skaitytuvo"));

    fake_.cards().valid = false;
    EXPECT_FALSE(signer->checkCardPresent());
    EXPECT_EQ(signer->error().code, diag::errorCode(226, 41));
}

// ---- negotiateHashAlgorithm ------------------------------------------------

TEST_F(SignerContextTest, KeyThatOnlyHashesSha1StepsDownAndStaysAtSha1) {
    test::FakeKeyPlan plan;
    auto& state = hsmContainer(plan);
    state->refusedDigests = {DigestKind::Sha512, DigestKind::Sha384, DigestKind::Sha256};
    const auto signer = hsmSigner();

    EXPECT_EQ(signer->negotiateHashAlgorithm(CALG_SHA_512), CALG_SHA1);
    EXPECT_THAT(state->hashesCreated, ElementsAre(DigestKind::Sha512, DigestKind::Sha384, DigestKind::Sha256));
    EXPECT_EQ(signer->hashAlgorithm(), CALG_SHA1);
    // The probes leave their text but no codes, so signing goes on.
    EXPECT_FALSE(signer->holdsError());
    EXPECT_THAT(signer->error().text.str(), HasSubstr("kuriant duomenų santraukos (HASH) objektą"));
    EXPECT_FALSE(signer->hashInProgress());

    state->hashesCreated.clear();
    EXPECT_EQ(signer->negotiateHashAlgorithm(CALG_SHA_256), CALG_SHA1);
    EXPECT_TRUE(state->hashesCreated.empty());

    data::Bytes signature;
    EXPECT_TRUE(signer->sign(kData.data(), kData.size(), CALG_SHA1, signature)) << signer->error().text.str();
    EXPECT_TRUE(verifiesLsbFirst(signature, kData, EVP_sha1()));
}

TEST_F(SignerContextTest, FirstAcceptedDigestIsKeptWithoutProbingAgain) {
    auto& state = hsmContainer();
    state->refusedDigests = {DigestKind::Sha512};
    const auto signer = hsmSigner();

    EXPECT_EQ(signer->negotiateHashAlgorithm(CALG_SHA_512), CALG_SHA_384);
    EXPECT_THAT(state->hashesCreated, ElementsAre(DigestKind::Sha512, DigestKind::Sha384));
    EXPECT_FALSE(signer->hashInProgress());
    state->hashesCreated.clear();
    EXPECT_EQ(signer->negotiateHashAlgorithm(CALG_SHA_384), CALG_SHA_384);
    EXPECT_TRUE(state->hashesCreated.empty());
}

TEST_F(SignerContextTest, RequestingSha1FixesTheContextWithoutProbing) {
    auto& state = hsmContainer();
    const auto signer = hsmSigner();
    EXPECT_EQ(signer->negotiateHashAlgorithm(0), CALG_SHA1);
    EXPECT_EQ(signer->negotiateHashAlgorithm(CALG_SHA_512), CALG_SHA1);
    EXPECT_TRUE(state->hashesCreated.empty());
    EXPECT_TRUE(signer->error().empty());
}

// ---- sign ------------------------------------------------------------------

TEST_F(SignerContextTest, SignatureIsLeastSignificantByteFirstForEveryDigest) {
    auto& state = hsmContainer();
    const auto signer = hsmSigner();
    const struct {
        AlgId algId;
        const EVP_MD* md;
    } cases[] = {{0, EVP_sha1()}, {CALG_SHA_256, EVP_sha256()}, {CALG_SHA_384, EVP_sha384()}, {CALG_SHA_512, EVP_sha512()}};
    for (const auto& c : cases) {
        data::Bytes raw;
        std::string text;
        ASSERT_TRUE(signer->signToBase64(kData.data(), kData.size(), c.algId, &raw, text)) << signer->error().text.str();
        EXPECT_EQ(raw.size(), 128u);
        EXPECT_TRUE(verifiesLsbFirst(raw, kData, c.md));
        data::Bytes decoded;
        ASSERT_TRUE(data::base64Decode(text, decoded));
        EXPECT_EQ(decoded, raw);
        EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos);
        EXPECT_FALSE(signer->hashInProgress());
    }
    // The buffer is the size the provider reported.
    EXPECT_THAT(state->signCapacities, ElementsAre(128u, 128u, 128u, 128u));
    EXPECT_TRUE(signer->error().empty());
}

TEST_F(SignerContextTest, SigningOnAContextHoldingAnErrorAddsNothing) {
    fake_.keys().container(std::string(kHsmProvider), "HSM", std::string(kContainer));  // no key: place 220
    const auto signer = hsmSigner();
    ASSERT_TRUE(signer->holdsError());
    const diag::ErrorRecord before = signer->error();
    data::Bytes signature{1, 2, 3};
    EXPECT_FALSE(signer->sign(kData.data(), kData.size(), CALG_SHA1, signature));
    EXPECT_TRUE(signature.empty());
    EXPECT_EQ(signer->error(), before);

    data::Bytes raw{9};
    std::string text;
    EXPECT_FALSE(signer->signToBase64(kData.data(), kData.size(), CALG_SHA1, &raw, text));
    EXPECT_TRUE(raw.empty());
    EXPECT_EQ(signer->error(), before);
}

TEST_F(SignerContextTest, MissingDataAndRefusedDigestFailBeforeTheKeyIsAsked) {
    auto& state = hsmContainer();
    state->refusedDigests = {DigestKind::Sha256};
    {
        const auto signer = hsmSigner();
        data::Bytes signature;
        EXPECT_FALSE(signer->sign(nullptr, 5, CALG_SHA1, signature));
        EXPECT_EQ(signer->error().code, diag::errorCode(223, 2));
    }
    {
        const auto signer = hsmSigner();
        data::Bytes signature;
        EXPECT_FALSE(signer->sign(kData.data(), 0, CALG_SHA1, signature));
        EXPECT_EQ(signer->error().code, diag::errorCode(223, 2));
    }
    {
        const auto signer = hsmSigner();
        data::Bytes signature;
        EXPECT_FALSE(signer->sign(kData.data(), kData.size(), CALG_SHA_256, signature));
        EXPECT_EQ(signer->error().code, diag::errorCode(210, 2));
        // The hash creation failure is in the text too.
        EXPECT_THAT(signer->error().text.str(), HasSubstr("kuriant duomenų santraukos (HASH) objektą"));
        EXPECT_FALSE(signer->hashInProgress());
    }
    EXPECT_TRUE(state->sizeQueries.empty());
}

TEST_F(SignerContextTest, UnknownLengthTwiceReserves111111Bytes) {
    test::FakeKeyPlan plan;
    plan.sizeAnswers = {std::size_t{0}, std::size_t{0}};
    auto& state = cardContainer(plan);
    const auto signer = cardSigner();
    data::Bytes signature;
    ASSERT_TRUE(signer->sign(kData.data(), kData.size(), CALG_SHA_256, signature)) << signer->error().text.str();
    EXPECT_THAT(state->signCapacities, ElementsAre(111111u));
    EXPECT_EQ(state->sizeQueries[KeySpec::Exchange], 2u);
    // The buffer is cut to what the key wrote.
    EXPECT_EQ(signature.size(), 128u);
    EXPECT_TRUE(verifiesLsbFirst(signature, kData, EVP_sha256()));
}

TEST_F(SignerContextTest, SecondLengthAnswerIsUsedWhenTheFirstIsZero) {
    test::FakeKeyPlan plan;
    plan.sizeAnswers = {std::size_t{0}, std::size_t{200}};
    auto& state = hsmContainer(plan);
    const auto signer = hsmSigner();
    data::Bytes signature;
    ASSERT_TRUE(signer->sign(kData.data(), kData.size(), CALG_SHA1, signature));
    EXPECT_THAT(state->signCapacities, ElementsAre(200u));

    test::FakeKeyPlan failing;
    failing.sizeAnswers = {std::size_t{0}, std::nullopt};
    hsmContainer(failing);
    const auto second = hsmSigner();
    EXPECT_FALSE(second->sign(kData.data(), kData.size(), CALG_SHA1, signature));
    EXPECT_EQ(second->error().code, diag::errorCode(224, 39));
    EXPECT_FALSE(second->hashInProgress());
}

TEST_F(SignerContextTest, ReturnedLengthOfZeroOr111111IsNoSignature) {
    for (const std::size_t reported : {std::size_t{111111}, std::size_t{0}}) {
        test::FakeKeyPlan plan;
        plan.sizeAnswers = {std::size_t{0}};
        plan.reportedLength = reported;
        hsmContainer(plan);
        const auto signer = hsmSigner();
        data::Bytes signature;
        std::string text;
        EXPECT_FALSE(signer->signToBase64(kData.data(), kData.size(), CALG_SHA1, &signature, text));
        EXPECT_TRUE(signature.empty());
        EXPECT_EQ(signer->error().code, diag::errorCode(226, 39));
        EXPECT_THAT(signer->error().text.str(), HasSubstr("pasirašant pateiktą dokumentą"));
        EXPECT_FALSE(signer->hashInProgress());
    }
}

TEST_F(SignerContextTest, FailedLengthQueryOrSigningCallRecordsPlace212) {
    test::FakeKeyPlan query;
    query.sizeAnswers = {std::nullopt};
    hsmContainer(query);
    const auto first = hsmSigner();
    data::Bytes signature;
    EXPECT_FALSE(first->sign(kData.data(), kData.size(), CALG_SHA1, signature));
    EXPECT_EQ(first->error().code, diag::errorCode(212, 39));
    EXPECT_EQ(first->keySpec(), KeySpec::Exchange);  // not a missing key: no switch

    test::FakeKeyPlan call;
    call.signFails = true;
    hsmContainer(call);
    const auto second = hsmSigner();
    EXPECT_FALSE(second->sign(kData.data(), kData.size(), CALG_SHA1, signature));
    EXPECT_EQ(second->error().code, diag::errorCode(212, 39));
    EXPECT_TRUE(signature.empty());
}

TEST_F(SignerContextTest, MissingKeyAtSigningSwitchesTheKeySpecForGood) {
    test::FakeKeyPlan noKey;
    noKey.sizeAnswers = {std::nullopt};
    noKey.sizeError = platform::kNteNoKey;
    auto& state = hsmContainer(noKey, KeySpec::Exchange);
    state->keys[KeySpec::Signature] = {};
    const auto signer = hsmSigner();
    ASSERT_EQ(signer->keySpec(), KeySpec::Exchange);

    data::Bytes signature;
    ASSERT_TRUE(signer->sign(kData.data(), kData.size(), CALG_SHA_256, signature)) << signer->error().text.str();
    EXPECT_EQ(signer->keySpec(), KeySpec::Signature);
    EXPECT_TRUE(verifiesLsbFirst(signature, kData, EVP_sha256()));

    // The next signature goes straight to the signature key.
    ASSERT_TRUE(signer->sign(kData.data(), kData.size(), CALG_SHA1, signature));
    EXPECT_EQ(state->sizeQueries[KeySpec::Exchange], 1u);
    EXPECT_EQ(state->sizeQueries[KeySpec::Signature], 2u);
}

TEST_F(SignerContextTest, MissingKeyUnderBothSpecsRecordsPlace211) {
    test::FakeKeyPlan noKey;
    noKey.sizeAnswers = {std::nullopt};
    noKey.sizeError = platform::kNteNoKey;
    hsmContainer(noKey, KeySpec::Exchange);
    const auto signer = hsmSigner();
    data::Bytes signature;
    EXPECT_FALSE(signer->sign(kData.data(), kData.size(), CALG_SHA1, signature));
    EXPECT_EQ(signer->error().code, diag::errorCode(211, 39));
    EXPECT_FALSE(signer->hashInProgress());
}

TEST_F(SignerContextTest, LengthNoBufferCanHoldRecordsPlace225) {
    for (const std::size_t size : {std::size_t{1} << 62, std::numeric_limits<std::size_t>::max()}) {
        test::FakeKeyPlan plan;
        plan.sizeAnswers = {size};
        auto& state = hsmContainer(plan);
        const auto signer = hsmSigner();
        data::Bytes signature;
        EXPECT_FALSE(signer->sign(kData.data(), kData.size(), CALG_SHA1, signature));
        EXPECT_EQ(signer->error().code, diag::errorCode(225, 89));
        EXPECT_EQ(signer->error().lastError, platform::kNteNoMemory);
        // The catalogue shows the length as a 32-bit number.
        EXPECT_THAT(signer->error().text.str(), HasSubstr("Neišskirtas reikiamas atminties blokas ("));
        EXPECT_TRUE(state->signCapacities.empty());
        EXPECT_FALSE(signer->hashInProgress());
    }
}

TEST_F(SignerContextTest, PulledCardStopsSigningBeforeTheKeyIsUsed) {
    auto& state = cardContainer();
    const auto signer = cardSigner();
    fake_.cards().readers[0].answers = false;
    data::Bytes signature;
    EXPECT_FALSE(signer->sign(kData.data(), kData.size(), CALG_SHA1, signature));
    EXPECT_EQ(signer->error().code, diag::errorCode(227, 44));
    EXPECT_TRUE(state->sizeQueries.empty());
    EXPECT_TRUE(state->signCapacities.empty());
}

// ---- certificate of the key and the system requirements ---------------------

class SignerRequirementsTest : public SignerContextTest {
protected:
    // A fake certificate service that answers nothing, to show what was asked.
    test::FakePkiSource& attachService(SignerContext& signer) {
        auto service = std::make_unique<test::FakePkiSource>();
        test::FakePkiSource& ref = *service;
        signer.certificates.certificateClient = std::move(service);
        return ref;
    }
};

TEST_F(SignerRequirementsTest, CertificateStoredOnTheCardIsUsedWithoutAskingTheService) {
    const test::ByteBlock der = test::signerCertificate();
    test::FakeKeyPlan plan;
    plan.certificate = der;
    cardContainer(plan);
    const auto signer = cardSigner();
    test::FakePkiSource& service = attachService(*signer);
    EXPECT_TRUE(signer->meetsSystemRequirements()) << signer->error().text.str();
    EXPECT_EQ(signer->certificates.subject.certificate().der(), der);
    EXPECT_TRUE(service.requests.empty());
    EXPECT_TRUE(signer->error().empty());
    // Applied again before each signature, it still holds.
    EXPECT_TRUE(signer->meetsSystemRequirements());
}

TEST_F(SignerRequirementsTest, CardKeyWithoutStoredCertificateIsFoundByKeyHash) {
    const test::ByteBlock der = test::signerCertificate();
    pki::addCertificate(test::recordOf(der));
    test::FakeKeyPlan plan;
    plan.blob = test::keyBlobOf(der);
    cardContainer(plan);

    const auto alone = cardSigner();
    EXPECT_FALSE(alone->certificateFromKey());
    EXPECT_EQ(alone->error().code, diag::errorCode(230, 34));
    EXPECT_EQ(alone->error().lastError, platform::kNteBadKey);

    const auto signer = cardSigner();
    attachService(*signer);
    EXPECT_TRUE(signer->meetsSystemRequirements()) << signer->error().text.str();
    EXPECT_EQ(signer->certificates.subject.certificate().der(), der);
    // The first source's failure stays readable, its codes are gone.
    EXPECT_FALSE(signer->holdsError());
    EXPECT_THAT(signer->error().text.str(), HasSubstr("išrenkant vartotojo viešąjį raktą"));
}

TEST_F(SignerRequirementsTest, HsmKeyAlwaysUsesTheKeyHash) {
    const test::ByteBlock der = test::signerCertificate();
    pki::addCertificate(test::recordOf(der));
    test::FakeKeyPlan plan;
    // Even a key that would hand out a certificate is not asked for it.
    plan.certificate = test::signerCertificate({.commonName = "Kitas Asmuo"});
    plan.blob = test::keyBlobOf(der);
    hsmContainer(plan);
    const auto signer = hsmSigner();
    EXPECT_FALSE(signer->certificateFromKey());
    EXPECT_TRUE(signer->error().empty());
    EXPECT_TRUE(signer->meetsSystemRequirements()) << signer->error().text.str();
    EXPECT_EQ(signer->certificates.subject.certificate().der(), der);
    EXPECT_TRUE(signer->error().empty());
}

TEST_F(SignerRequirementsTest, NoCertificateFromEitherSourceRecordsPlace203) {
    const test::ByteBlock der = test::signerCertificate();  // not in the store
    test::FakeKeyPlan plan;
    plan.blob = test::keyBlobOf(der);
    cardContainer(plan);
    const auto signer = cardSigner();
    test::FakePkiSource& service = attachService(*signer);
    EXPECT_FALSE(signer->meetsSystemRequirements());
    EXPECT_EQ(signer->error().code, diag::errorCode(203, 35));
    const std::string hash = test::recordOf(der).keyHash().str();
    ASSERT_EQ(hash.size(), 40u);
    EXPECT_THAT(service.requests, ElementsAre(std::make_pair(pki::CertByKeyHash, hash)));
    const std::string& text = signer->error().text.str();
    EXPECT_THAT(text, HasSubstr("Nerastas vartotojo sertifikatas"));
    EXPECT_THAT(text, HasSubstr("Nepasiekiamas sertifikatas: " + hash));
    EXPECT_THAT(text, HasSubstr("išrenkant vartotojo viešąjį raktą"));
}

TEST_F(SignerRequirementsTest, KeyExportFailuresRecordTheirPlaces) {
    test::FakeKeyPlan none;
    cardContainer(none);
    const auto failed = cardSigner();
    EXPECT_FALSE(failed->certificateByKeyHash());
    EXPECT_EQ(failed->error().code, diag::errorCode(10, 28));

    test::FakeKeyPlan empty;
    empty.blob = test::ByteBlock{};
    cardContainer(empty);
    const auto blank = cardSigner();
    EXPECT_FALSE(blank->certificateByKeyHash());
    EXPECT_EQ(blank->error().code, diag::errorCode(9, 28));

    // A card without the key set has no key at all.
    fake_.keys().containers.clear();
    const auto keyless = cardSigner();
    ASSERT_TRUE(keyless->error().empty());
    EXPECT_FALSE(keyless->certificateFromKey());
    EXPECT_TRUE(keyless->error().empty());
    EXPECT_FALSE(keyless->certificateByKeyHash());
    EXPECT_EQ(keyless->error().code, diag::errorCode(8, 28));
    EXPECT_EQ(keyless->error().lastError, platform::kNteNoKey);
    EXPECT_FALSE(keyless->meetsSystemRequirements());
    EXPECT_EQ(keyless->error().code, diag::errorCode(203, 35));
}

TEST_F(SignerRequirementsTest, OrganisationAndValidityAreBothJudged) {
    const std::int64_t now = test::secondsNow();
    struct Case {
        test::SignerCertPlan plan;
        std::int32_t code;
        std::int32_t alsoReported = 0;
    };
    const Case cases[] = {
        // Expired and failing the organisation test: the refusal names both
        // reasons, the validity entry (the later one) in front.
        {{.issuerOrganisation = "Kitas Leidejas", .notBefore = now - 10 * 86400, .notAfter = now - 86400},
         diag::errorCode(1020, 5), diag::errorCode(1031, 22)},
        {{.userCode = std::string(test::kUserCode.substr(1)), .notAfter = now - 86400}, diag::errorCode(1020, 5),
         diag::errorCode(1030, 23)},
        {{.userCode = std::string(test::kUserCode) + "x"}, diag::errorCode(1030, 23)},
        {{.issuerOrganisation = "Keldas"}, diag::errorCode(1031, 22)},
        {{.notBefore = now - 10 * 86400, .notAfter = now - 86400}, diag::errorCode(1020, 5)},
        {{.notBefore = now + 86400, .notAfter = now + 10 * 86400}, diag::errorCode(1020, 4)},
    };
    for (const Case& c : cases) {
        test::FakeKeyPlan plan;
        plan.certificate = test::signerCertificate(c.plan);
        cardContainer(plan);
        const auto signer = cardSigner();
        EXPECT_FALSE(signer->meetsSystemRequirements());
        const std::string& text = signer->error().text.str();
        EXPECT_EQ(signer->error().code, c.code) << text;
        if (c.alsoReported != 0) {
            const std::size_t newest = text.find(std::to_string(c.code));
            const std::size_t older = text.find(std::to_string(c.alsoReported));
            EXPECT_NE(older, std::string::npos) << text;
            EXPECT_LT(newest, older) << text;
        }
    }
    // An organisation name in capitals with both words, in either order, passes.
    for (const char* organisation : {"AB NORVATA KELDAS", "Keldas ir Norvata"}) {
        test::FakeKeyPlan plan;
        plan.certificate = test::signerCertificate({.issuerOrganisation = organisation});
        cardContainer(plan);
        const auto signer = cardSigner();
        EXPECT_TRUE(signer->meetsSystemRequirements()) << organisation << ": " << signer->error().text.str();
    }
}

TEST_F(SignerRequirementsTest, ChainIsVerifiedOnlyWhileChecksAreOn) {
    test::FakeKeyPlan plan;
    plan.certificate = test::signerCertificate();  // its issuer is nowhere to be found
    cardContainer(plan);

    pki::clearCertificateChecksOffForTesting();
    const auto checked = cardSigner();
    attachService(*checked);
    EXPECT_FALSE(checked->meetsSystemRequirements());
    EXPECT_TRUE(checked->holdsError());

    pki::disableCertificateChecks();
    const auto unchecked = cardSigner();
    attachService(*unchecked);
    EXPECT_TRUE(unchecked->meetsSystemRequirements()) << unchecked->error().text.str();
}

}  // namespace
}  // namespace tessal::crypto
