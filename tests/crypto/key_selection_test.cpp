#include "crypto/key_selection.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "crypto/signer_fakes.h"
#include "diagnostics/error_record.h"

namespace tessal::crypto {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

constexpr char kCardProvider[] = "Card CSP";
constexpr char kHsmProvider[] = "HSM CSP";

std::size_t occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++count;
    return count;
}

// Card types registered for the tests' cards: one with its own provider, one
// with the generic provider that sends the search to the resource manager.
const std::string kCardTable =
    "[SOFTWARE\\Microsoft\\Cryptography\\Calais\\SmartCards\\Own Card]\n"
    "Crypto Provider = Card CSP\n"
    "[SOFTWARE\\Microsoft\\Cryptography\\Calais\\SmartCards\\Generic Card]\n"
    "Crypto Provider = microsoft base smart card crypto provider\n";

class KeySelectionTest : public ::testing::Test {
protected:
    KeySelectionTest() : environment_(kCardTable) {}

    // A reader with an "Own Card" in it.
    void addReader(const std::string& name) {
        const test::ByteBlock atr{0x3B, static_cast<std::uint8_t>(fake_.cards().readers.size())};
        fake_.cards().readers.push_back({name, atr});
        fake_.cards().cardNames[atr] = {"Own Card"};
    }
    // A container on the card in `reader` whose key carries `certificate`.
    void addCardKey(const std::string& reader, const std::string& container, const test::ByteBlock& certificate) {
        fake_.keys().listings[{kCardProvider, reader}].push_back(container);
        test::FakeKeyPlan plan;
        plan.certificate = certificate;
        fake_.keys().container(kCardProvider, reader, container)->keys[platform::KeySpec::Exchange] = plan;
    }
    // An HSM provider whose container holds a key found by key hash.
    void addHsmKey(const std::string& provider, const std::string& container, const test::ByteBlock& certificate) {
        pki::addCertificate(test::recordOf(certificate));
        test::FakeKeyPlan plan;
        plan.blob = test::keyBlobOf(certificate);
        fake_.keys().container(provider, "HSM", container)->keys[platform::KeySpec::Exchange] = plan;
        if (!fake_.keys().providers) fake_.keys().providers.emplace();
        fake_.keys().providers->push_back(provider);
    }
    std::vector<test::FakeKeyStore::Address> hsmAcquired() const {
        std::vector<test::FakeKeyStore::Address> out;
        for (const auto& a : fake_.keys().acquired) {
            if (std::get<1>(a) == "HSM") out.push_back(a);
        }
        return out;
    }
    std::string logText() const { return test::readWholeFile(logPath_); }

    test::SignerEnvironment environment_;
    test::FakePlatform fake_;
    std::string logPath_ = environment_.dir().file("search.log");
    const std::int64_t now_ = test::secondsNow();
};

// ---- the card subsystem and the readers ------------------------------------

TEST_F(KeySelectionTest, NoReaderAttachedRecordsPlace2002ThenTriesTheHsm) {
    fake_.cards().readerListError = platform::kScardNoReaders;
    addHsmKey(kHsmProvider, "signer", test::signerCertificate());
    KeySelection selection("signer");
    EXPECT_TRUE(selection.searchKeys());
    EXPECT_EQ(selection.error().code, diag::errorCode(2002, 42));
    EXPECT_EQ(selection.error().lastError, platform::kScardNoReaders);
    EXPECT_THAT(selection.error().text.str(), HasSubstr("Nerasta nei vieno kortelių skaitytuvo"));
    EXPECT_EQ(selection.acceptedCount(), 1u);
    ASSERT_NE(selectedSigner(), nullptr);
    EXPECT_TRUE(selectedSigner()->isHsm());
    EXPECT_EQ(selectedSigner()->providerName(), kHsmProvider);
    EXPECT_EQ(selectedSigner()->containerName(), "signer");
}

TEST_F(KeySelectionTest, WithoutAContainerNameTheHsmSearchIsNotMade) {
    fake_.cards().readerListError = platform::kScardNoReaders;
    addHsmKey(kHsmProvider, "signer", test::signerCertificate());
    KeySelection selection("", logPath_);
    EXPECT_FALSE(selection.searchKeys());
    EXPECT_EQ(fake_.keys().providerListings, 0);
    EXPECT_THAT(hsmAcquired(), IsEmpty());
    EXPECT_THAT(logText(), HasSubstr("Nenurodytas raktų konteinerio pavadinimas - raktų paieška HSM įrenginiuose nevykdoma"));
    EXPECT_EQ(selectedSigner(), nullptr);
}

TEST_F(KeySelectionTest, CardSubsystemFailuresGoStraightToTheHsm) {
    addHsmKey(kHsmProvider, "signer", test::signerCertificate());
    {
        fake_.cards().establishError = 0x8010001Du;
        KeySelection selection("signer");
        EXPECT_TRUE(selection.searchKeys());
        EXPECT_EQ(selection.error().code, diag::errorCode(2001, 41));
        EXPECT_EQ(selection.error().lastError, 0x8010001Du);
        EXPECT_FALSE(selection.cardSubsystemAlive());
    }
    {
        fake_.cards().establishError.reset();
        fake_.cards().valid = false;
        KeySelection selection("signer");
        EXPECT_TRUE(selection.searchKeys());
        EXPECT_EQ(selection.error().code, diag::errorCode(2011, 41));
        EXPECT_EQ(selection.error().lastError, 0u);
        EXPECT_THAT(selection.error().text.str(),
                    HasSubstr("Kortelių skaitytuvo funkcijų paketo klaida inicijuojant kortelių skaitytuvų posistemį"));
    }
    {
        fake_.cards().valid = true;
        fake_.cards().readerListError = 0x80100001u;  // SCARD_F_INTERNAL_ERROR
        KeySelection selection("signer");
        EXPECT_TRUE(selection.searchKeys());
        EXPECT_EQ(selection.error().code, diag::errorCode(2003, 43));
        EXPECT_TRUE(selection.cardSubsystemAlive());
        fake_.cards().valid = false;
        EXPECT_FALSE(selection.cardSubsystemAlive());
    }
}

TEST_F(KeySelectionTest, EveryEmptyReaderIsReportedThenTheHsmIsTried) {
    fake_.cards().readers.push_back({"Reader A", std::nullopt, platform::kScardRemovedCard});
    fake_.cards().readers.push_back({"Reader B", std::nullopt, platform::kScardNoSmartCard});
    addHsmKey(kHsmProvider, "signer", test::signerCertificate());
    KeySelection selection("signer");
    EXPECT_TRUE(selection.searchKeys());
    EXPECT_EQ(selection.readersTried(), 2u);
    EXPECT_EQ(selection.error().code, diag::errorCode(2004, 90));
    EXPECT_THAT(selection.error().text.str(), HasSubstr("Nėra kortelės skaitytuve \"Reader A\""));
    EXPECT_THAT(selection.error().text.str(), HasSubstr("Nėra kortelės skaitytuve \"Reader B\""));
    EXPECT_THAT(hsmAcquired(), ElementsAre(test::FakeKeyStore::Address{kHsmProvider, "HSM", "signer"}));
}

TEST_F(KeySelectionTest, ReaderFailuresAreRecordedAndTheOtherReadersSearched) {
    fake_.cards().readers.push_back({"Broken", std::nullopt, 0, 0x80100017u});  // SCARD_E_READER_UNAVAILABLE
    fake_.cards().readers.push_back({"Mute", test::ByteBlock{0x3B, 0x7F}, 0, std::nullopt, true});
    fake_.cards().readers.push_back({"Unknown card", test::ByteBlock{0x3B, 0x7E}});
    addReader("Good");
    addCardKey("Good", "key", test::signerCertificate());

    KeySelection selection("");
    EXPECT_TRUE(selection.searchKeys());
    EXPECT_EQ(selection.readersTried(), 4u);
    EXPECT_EQ(selection.acceptedCount(), 1u);
    const std::string& text = selection.error().text.str();
    EXPECT_THAT(text, HasSubstr("jungiantis prie \"Broken\" skaitytuvo : " + std::to_string(diag::errorCode(2004, 44))));
    EXPECT_THAT(text, HasSubstr("išrenkant \"Mute\" skaitytuve esančios kortelės parametrus : " +
                                std::to_string(diag::errorCode(2005, 45))));
    EXPECT_THAT(text, HasSubstr("išrenkant \"Unknown card\" skaitytuve esančios kortelės galimų pavadinimų sąrašą : " +
                                std::to_string(diag::errorCode(2008, 46))));
    ASSERT_NE(selectedSigner(), nullptr);
    EXPECT_EQ(selectedSigner()->readerName(), "Good");
}

TEST_F(KeySelectionTest, CardTypeListFailureRecordsPlace2006) {
    addReader("Reader");
    fake_.cards().cardNamesFail = true;
    KeySelection selection("");
    EXPECT_FALSE(selection.searchKeys());
    EXPECT_EQ(selection.error().code, diag::errorCode(2006, 46));
}

// ---- card providers and containers -----------------------------------------

TEST_F(KeySelectionTest, GenericRegisteredProviderIsReplacedByTheCardTypeProvider) {
    const test::ByteBlock atr{0x3B, 0x55};
    fake_.cards().readers.push_back({"Reader", atr});
    fake_.cards().cardNames[atr] = {"Generic Card"};
    fake_.cards().typeProviders["Generic Card"] = "Minidriver CSP";
    KeySelection selection("");
    selection.searchKeys();
    EXPECT_THAT(fake_.cards().typeProvidersAsked, ElementsAre("Generic Card"));
    EXPECT_THAT(fake_.keys().listed, ElementsAre(std::make_pair(std::string("Minidriver CSP"), std::string("Reader"))));
}

TEST_F(KeySelectionTest, OwnRegisteredProviderIsUsedWithoutAskingTheResourceManager) {
    addReader("Reader");
    KeySelection selection("");
    selection.searchKeys();
    EXPECT_THAT(fake_.cards().typeProvidersAsked, IsEmpty());
    EXPECT_THAT(fake_.keys().listed, ElementsAre(std::make_pair(std::string(kCardProvider), std::string("Reader"))));
}

TEST_F(KeySelectionTest, CardWithoutAnyProviderRecordsPlace2008) {
    const test::ByteBlock atr{0x3B, 0x56};
    fake_.cards().readers.push_back({"Reader", atr});
    fake_.cards().cardNames[atr] = {"Stranger", "Generic Card"};
    KeySelection selection("");
    EXPECT_FALSE(selection.searchKeys());
    EXPECT_EQ(selection.error().code, diag::errorCode(2008, 48));
    EXPECT_THAT(selection.error().text.str(), HasSubstr("Nenustatytas kortelės \"Stranger\" kriptografinių funkcijų tiekėjas"));
    EXPECT_THAT(fake_.cards().typeProvidersAsked, ElementsAre("Stranger", "Generic Card"));
    EXPECT_THAT(fake_.keys().listed, IsEmpty());
}

TEST_F(KeySelectionTest, ContainerEnumerationFailuresAreToldApart) {
    addReader("Reader");
    fake_.keys().listingErrors[{kCardProvider, "Reader"}] = platform::kNteKeysetNotDefined;
    {
        KeySelection selection("");
        EXPECT_FALSE(selection.searchKeys());
        EXPECT_EQ(selection.error().code, diag::errorCode(2007, 47));
        EXPECT_EQ(selection.error().lastError, platform::kNteKeysetNotDefined);
        EXPECT_THAT(selection.error().text.str(),
                    HasSubstr("inicijuojant \"Reader\" skaitytuve esančios kortelės kriptografinių funkcijų tiekėjo "
                              "(\"Card CSP\") aplinką"));
    }
    fake_.keys().listingErrors[{kCardProvider, "Reader"}] = platform::kErrorNoToken;
    KeySelection selection("");
    EXPECT_FALSE(selection.searchKeys());
    EXPECT_EQ(selection.error().code, diag::errorCode(2009, 47));
    EXPECT_EQ(selection.error().lastError, platform::kErrorNoToken);
}

TEST_F(KeySelectionTest, ContainerListedTwiceIsEvaluatedOnce) {
    addReader("Reader");
    addCardKey("Reader", "first", test::signerCertificate({.serial = {0x20, 0x01}}));
    addCardKey("Reader", "second", test::signerCertificate({.serial = {0x20, 0x02}}));
    fake_.keys().listings[{kCardProvider, "Reader"}].push_back("first");
    KeySelection selection("");
    EXPECT_TRUE(selection.searchKeys());
    EXPECT_EQ(selection.acceptedCount(), 2u);
    EXPECT_THAT(fake_.keys().acquired, ElementsAre(test::FakeKeyStore::Address{kCardProvider, "Reader", "first"},
                                                   test::FakeKeyStore::Address{kCardProvider, "Reader", "second"}));
}

TEST_F(KeySelectionTest, CardConstructionFailuresReachTheSearchRecordHsmOnesOnlyTheLog) {
    addReader("Reader");
    fake_.keys().listings[{kCardProvider, "Reader"}] = {"gone"};
    fake_.keys().acquireErrors[{kCardProvider, "Reader", "gone"}] = platform::kErrorNoToken;
    fake_.keys().providers = std::vector<std::string>{kHsmProvider};
    fake_.keys().acquireErrors[{kHsmProvider, "HSM", "gone"}] = platform::kErrorNoToken;

    KeySelection selection("gone", logPath_);
    EXPECT_FALSE(selection.searchKeys());
    // Neither counts as a candidate.
    EXPECT_EQ(selection.acceptedCount(), 0u);
    EXPECT_EQ(selection.rejectedCount(), 0u);
    EXPECT_EQ(selection.error().code, diag::errorCode(201, 29));
    EXPECT_EQ(occurrences(selection.error().text.str(), "inicijuojant kriptografinių funkcijų tiekėjo aplinką"), 1u);
    const std::string log = logText();
    EXPECT_THAT(log, HasSubstr("Klaida kuriant kriptografinę aplinką Reader :: Card CSP :: gone"));
    EXPECT_THAT(log, HasSubstr("Klaida kuriant kriptografinę aplinką HSM :: HSM CSP :: gone"));
    EXPECT_THAT(log, HasSubstr("Bandoma jungtis prie HSM :: HSM CSP"));
}

// ---- selection among accepted candidates ------------------------------------

TEST_F(KeySelectionTest, CertificateThatExpiresLastIsSelected) {
    addReader("Reader 1");
    addReader("Reader 2");
    addCardKey("Reader 1", "early", test::signerCertificate({.notAfter = now_ + 100 * 86400, .serial = {0x20, 0x01}}));
    addCardKey("Reader 2", "late", test::signerCertificate({.notAfter = now_ + 200 * 86400, .serial = {0x20, 0x02}}));
    KeySelection selection("");
    EXPECT_TRUE(selection.searchKeys());
    EXPECT_EQ(selection.acceptedCount(), 2u);
    ASSERT_NE(selectedSigner(), nullptr);
    EXPECT_EQ(selectedSigner()->containerName(), "late");
    EXPECT_EQ(selectedSigner()->readerName(), "Reader 2");
}

TEST_F(KeySelectionTest, LaterCandidateWithAnEarlierOrEqualExpiryLeavesTheSelection) {
    addReader("Reader 1");
    addReader("Reader 2");
    addReader("Reader 3");
    const std::int64_t notAfter = now_ + 300 * 86400;
    addCardKey("Reader 1", "first", test::signerCertificate({.notAfter = notAfter, .serial = {0x20, 0x01}}));
    addCardKey("Reader 2", "same", test::signerCertificate({.notAfter = notAfter, .serial = {0x20, 0x02}}));
    addCardKey("Reader 3", "earlier", test::signerCertificate({.notAfter = notAfter - 86400, .serial = {0x20, 0x03}}));
    KeySelection selection("");
    EXPECT_TRUE(selection.searchKeys());
    EXPECT_EQ(selection.acceptedCount(), 3u);
    ASSERT_NE(selectedSigner(), nullptr);
    EXPECT_EQ(selectedSigner()->containerName(), "first");
}

TEST_F(KeySelectionTest, CardKeyFoundStopsTheSearchBeforeTheHsm) {
    addReader("Reader");
    addCardKey("Reader", "signer", test::signerCertificate({.notAfter = now_ + 10 * 86400}));
    addHsmKey(kHsmProvider, "signer", test::signerCertificate({.notAfter = now_ + 900 * 86400, .key = test::otherRsaKey()}));
    KeySelection selection("signer");
    EXPECT_TRUE(selection.searchKeys());
    EXPECT_EQ(fake_.keys().providerListings, 0);
    ASSERT_NE(selectedSigner(), nullptr);
    EXPECT_FALSE(selectedSigner()->isHsm());
}

TEST_F(KeySelectionTest, MoreThan128AcceptedKeepsTheSelectedOneAlive) {
    addReader("Reader");
    constexpr int kCount = 130;
    for (int i = 0; i < kCount; ++i) {
        addCardKey("Reader", "c" + std::to_string(i),
                   test::signerCertificate({.notAfter = now_ + (10 + i) * 86400,
                                            .serial = {0x01, static_cast<std::uint8_t>(i)}}));
    }
    KeySelection selection("");
    EXPECT_TRUE(selection.searchKeys());
    EXPECT_EQ(selection.acceptedCount(), static_cast<std::uint32_t>(kCount));
    ASSERT_NE(selectedSigner(), nullptr);
    EXPECT_EQ(selectedSigner()->containerName(), "c129");
    EXPECT_TRUE(selectedSigner()->hasKey());
}

TEST_F(KeySelectionTest, DestroyingTheSelectionClearsTheSelectedSigner) {
    addReader("Reader");
    addCardKey("Reader", "signer", test::signerCertificate());
    auto selection = std::make_unique<KeySelection>("");
    ASSERT_TRUE(selection->searchKeys());
    ASSERT_NE(selectedSigner(), nullptr);
    selection.reset();
    EXPECT_EQ(selectedSigner(), nullptr);
}

// ---- rejected candidates ---------------------------------------------------

TEST_F(KeySelectionTest, ContainerOtherThanTheConfiguredOneIsRejectedWith97) {
    addReader("Reader");
    addCardKey("Reader", "other", test::signerCertificate());
    fake_.keys().providers = std::vector<std::string>{kHsmProvider};
    KeySelection selection("wanted");
    EXPECT_FALSE(selection.searchKeys());
    EXPECT_EQ(selection.acceptedCount(), 0u);
    EXPECT_EQ(selection.rejectedCount(), 1u);
    EXPECT_EQ(selectedSigner(), nullptr);
    const std::string report = selection.rejectionReport();
    EXPECT_THAT(report, HasSubstr("Nepriimtinas kriptografinių raktų poros konteineris \"other\". Raktų poros ieškoma "
                                  "konteineryje \"wanted\" : " +
                                  std::to_string(diag::errorCode(2009, 97))));
    // The HSM is tried with the configured name.
    EXPECT_THAT(hsmAcquired(), ElementsAre(test::FakeKeyStore::Address{kHsmProvider, "HSM", "wanted"}));
}

TEST_F(KeySelectionTest, RejectionReportListsSubjectAndReasonOfEachRejectedCandidate) {
    addReader("Reader");
    const test::ByteBlock foreign = test::signerCertificate({.issuerOrganisation = "Kitas Leidejas", .commonName = "Petras"});
    const test::ByteBlock expired =
        test::signerCertificate({.commonName = "Ona", .notBefore = now_ - 10 * 86400, .notAfter = now_ - 86400});
    addCardKey("Reader", "foreign", foreign);
    addCardKey("Reader", "expired", expired);
    KeySelection selection("");
    EXPECT_FALSE(selection.searchKeys());
    EXPECT_EQ(selection.rejectedCount(), 2u);

    const std::string report = selection.rejectionReport();
    const std::string foreignPart = "\r\nSertifikatas:\r\n" + test::recordOf(foreign).subject().str() +
                                    "\r\nAtmetimo priežastis:\r\nSertifikatas išduotas ne Norvata Kelde : " +
                                    std::to_string(diag::errorCode(1031, 22)) + ";\r\n";
    ASSERT_EQ(report.substr(0, foreignPart.size()), foreignPart);
    const std::string expiredHead =
        "\r\nSertifikatas:\r\n" + test::recordOf(expired).subject().str() + "\r\nAtmetimo priežastis:\r\n";
    EXPECT_EQ(report.substr(foreignPart.size(), expiredHead.size()), expiredHead);
    EXPECT_THAT(report.substr(foreignPart.size()), HasSubstr(std::to_string(diag::errorCode(1020, 5))));
    EXPECT_THAT(report, Not(HasSubstr("Sertifikatas:\r\n\r\n")));
}

TEST_F(KeySelectionTest, KeylessCardContainerIsRejectedWithAnEmptySubject) {
    addReader("Reader");
    fake_.keys().listings[{kCardProvider, "Reader"}] = {"missing"};  // acquiring it: NTE_BAD_KEYSET
    KeySelection selection("");
    EXPECT_FALSE(selection.searchKeys());
    EXPECT_EQ(selection.rejectedCount(), 1u);
    EXPECT_TRUE(selection.error().empty()) << selection.error().text.str();
    const std::string report = selection.rejectionReport();
    EXPECT_EQ(report.rfind("\r\nSertifikatas:\r\n\r\nAtmetimo priežastis:\r\n", 0), 0u) << report;
    EXPECT_THAT(report, HasSubstr("Nerastas vartotojo sertifikatas"));
}

TEST_F(KeySelectionTest, RejectedBeyondTheListAreCountedButNotReported) {
    addReader("Reader");
    const test::ByteBlock foreign = test::signerCertificate({.issuerOrganisation = "Kitas Leidejas"});
    for (int i = 0; i < 130; ++i) addCardKey("Reader", "c" + std::to_string(i), foreign);
    KeySelection selection("");
    EXPECT_FALSE(selection.searchKeys());
    EXPECT_EQ(selection.rejectedCount(), 130u);
    EXPECT_EQ(occurrences(selection.rejectionReport(), "\r\nSertifikatas:\r\n"), 128u);
}

TEST_F(KeySelectionTest, HsmProvidersNamedLikeSystemProvidersAreSkipped) {
    fake_.cards().readerListError = platform::kScardNoReaders;
    fake_.keys().providers = std::vector<std::string>{"Microsoft Enhanced Cryptographic Provider v1.0",
                                                      "Microsoft RSA SChannel Cryptographic Provider", "Secure Channel HSM",
                                                      "microsoft-compatible HSM", kHsmProvider};
    KeySelection selection("signer", logPath_);
    EXPECT_FALSE(selection.searchKeys());
    EXPECT_THAT(hsmAcquired(), ElementsAre(test::FakeKeyStore::Address{"microsoft-compatible HSM", "HSM", "signer"},
                                           test::FakeKeyStore::Address{kHsmProvider, "HSM", "signer"}));
    EXPECT_THAT(logText(), HasSubstr("Bandoma ieškoti raktų konteinerio \"signer\" HSM įrenginyje"));
}

TEST_F(KeySelectionTest, UnreadableProviderListEndsTheHsmSearch) {
    fake_.cards().readerListError = platform::kScardNoReaders;
    KeySelection selection("signer", logPath_);
    EXPECT_FALSE(selection.searchKeys());
    EXPECT_EQ(fake_.keys().providerListings, 1);
    EXPECT_THAT(logText(), HasSubstr("Nepasiekiama informacija HSM įrenginio duomenų išrinkimui Registry "
                                     "\"SOFTWARE\\Microsoft\\Cryptography\\Defaults\\Provider\""));
}

}  // namespace
}  // namespace tessal::crypto
