// signXml through the platform seams: a card key in a fake reader, or a key
// in a fake HSM; the attempts, traces and reports of the member.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "crypto/signer_fakes.h"
#include "diagnostics/utf8_text.h"
#include "facade/facade_fixture.h"
#include "tessal/tessal.h"

namespace tessal {
namespace {

const test::ByteBlock kAtr{0x3B, 0x95, 0x13, 0x81, 0x01, 0x80, 0x73, 0xFF, 0x01, 0x00, 0x0B};

// A card-removal callback that counts its calls.
class CountingCallback : public Dispatch {
public:
    HResult invokeDefault(std::vector<Variant>&, Variant&) override {
        ++calls;
        return hr::S_OK;
    }
    std::atomic<int> calls = 0;
};

// Polls `done` for up to ten seconds: long enough on a loaded machine, and
// never the thing a test asserts.
template <typename Done>
bool eventually(Done done) {
    for (int poll = 0; poll < 500 && !done(); ++poll) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return done();
}

class SigningTest : public test::FacadeTest {
protected:
    void SetUp() override {
        FacadeTest::SetUp();
        certificate_ = test::signerCertificate();
        pki::addCertificate(test::recordOf(certificate_));
    }

    // A card with the signer's container (its certificate kept with the key) in one reader.
    void insertCard() {
        auto& cards = fake_.cards();
        cards.readers = {test::FakeReader{"Reader A", kAtr}};
        cards.cardNames[kAtr] = {"Test Card"};
        cards.typeProviders["Test Card"] = "Card Provider";
        fake_.keys().listings[{"Card Provider", "Reader A"}] = {"signer"};
        test::FakeKeyPlan plan;
        plan.certificate = certificate_;
        fake_.keys().container("Card Provider", "Reader A", "signer")->keys[platform::KeySpec::Exchange] = plan;
    }

    // No reader; the HSM provider holds the container, its certificate found by key hash.
    void hsmOnly() {
        fake_.cards().readerListError = platform::kScardNoReaders;
        fake_.keys().providers = std::vector<std::string>{"Fake HSM"};
        test::FakeKeyPlan plan;
        plan.blob = test::keyBlobOf(certificate_);
        fake_.keys().container("Fake HSM", "HSM", "signer")->keys[platform::KeySpec::Exchange] = plan;
    }

    std::size_t attemptsLogged() const {
        const auto lines = logMessages();
        return static_cast<std::size_t>(std::count_if(lines.begin(), lines.end(), [](const std::string& line) {
            return line.rfind("Duomenų pasirašymas. Bandymas nr.", 0) == 0;
        }));
    }

    std::size_t selectionsLogged() const {
        const auto lines = logMessages();
        return static_cast<std::size_t>(
            std::count(lines.begin(), lines.end(), std::string("Išrenkamas pasirašančio asmens sertifikatas")));
    }

    int contextsAlive() const { return fake_.cards().contextsMade.load() - fake_.cards().contextsReleased.load(); }

    test::SignerEnvironment environment_;
    test::FakePlatform fake_;
    test::ByteBlock certificate_;
};

TEST_F(SigningTest, ACardKeySignsAndTheSecondCallReusesTheKeyEnvironment) {
    insertCard();
    Sign sign(host);
    Variant doc = Variant::string(u"<Msg>x</Msg>");
    Variant out;
    ASSERT_EQ(sign.signXml(&doc, 1, u"", out), hr::S_OK) << diag::utf8Encode(lastDescription());
    ASSERT_TRUE(out.is(VarType::Bytes));
    const std::string text(out.data().begin(), out.data().end());
    EXPECT_NE(text.find("<EDoc><Msg>x</Msg><Signature"), std::string::npos);
    EXPECT_TRUE(logHas("Tikrinamas operacinės sistemos kortelių posistemio veikimas"));
    EXPECT_TRUE(logHas("XML dokumentas pasirašytas sėkmingai"));

    const std::size_t acquired = fake_.keys().acquired.size();
    Variant again;
    ASSERT_EQ(sign.signXml(&doc, 0, u"", again), hr::S_OK);
    EXPECT_TRUE(again.is(VarType::String));
    EXPECT_EQ(fake_.keys().acquired.size(), acquired);  // no second key search
}

TEST_F(SigningTest, ABadDocumentWithACardKeyIsTriedThreeTimesAndTraced) {
    insertCard();
    Sign sign(host);
    Variant doc = Variant::string(u"<Msg>");
    Variant out;
    EXPECT_EQ(sign.signXml(&doc, 1, u"", out), hr::DISP_E_EXCEPTION);
    EXPECT_NE(diag::utf8Encode(lastDescription()).find("70301"), std::string::npos);
    EXPECT_EQ(attemptsLogged(), 3u);
    const auto lines = logMessages();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Klaidingas XML dokumentas"), lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), "<Msg>"), lines.end());  // the document itself follows
}

TEST_F(SigningTest, AnHsmKeyReportsASigningFailureAtOnce) {
    hsmOnly();
    Sign sign(host);
    ASSERT_EQ(sign.putKeyContainer(u"signer"), hr::S_OK);
    Variant doc = Variant::string(u"<Msg>");
    Variant out;
    EXPECT_EQ(sign.signXml(&doc, 1, u"", out), hr::DISP_E_EXCEPTION);
    EXPECT_EQ(attemptsLogged(), 1u);
    EXPECT_FALSE(logHas("Tikrinamas operacinės sistemos kortelių posistemio veikimas"));

    Variant good = Variant::string(u"<Msg/>");
    EXPECT_EQ(sign.signXml(&good, 1, u"", out), hr::S_OK) << diag::utf8Encode(lastDescription());
}

TEST_F(SigningTest, RefusedCertificatesAreCountedAndDescribed) {
    insertCard();
    certificate_ = test::signerCertificate({.userCode = "too short"});
    test::FakeKeyPlan plan;
    plan.certificate = certificate_;
    fake_.keys().container("Card Provider", "Reader A", "signer")->keys[platform::KeySpec::Exchange] = plan;
    Sign sign(host);
    Variant doc = Variant::string(u"<Msg/>");
    Variant out;
    EXPECT_EQ(sign.signXml(&doc, 1, u"", out), hr::DISP_E_EXCEPTION);
    const std::string message = diag::utf8Encode(lastDescription());
    EXPECT_EQ(message.rfind("Rasta sertifikatų: 1. Nei vienas iš sertifikatų neatitinka sistemos reikalavimų.\r\n"
                            "\r\nSertifikatas:\r\n",
                            0),
              0u)
        << message;
    EXPECT_NE(message.find("\r\nAtmetimo priežastis:\r\n"), std::string::npos);
    EXPECT_EQ(attemptsLogged(), 1u);  // a refusal does not start over
}

TEST_F(SigningTest, ACardPulledBetweenCallsIsLookedForAfresh) {
    insertCard();
    Sign sign(host);
    Variant doc = Variant::string(u"<Msg/>");
    Variant out;
    ASSERT_EQ(sign.signXml(&doc, 1, u"", out), hr::S_OK);
    fake_.cards().readers[0].atr.reset();
    EXPECT_EQ(sign.signXml(&doc, 1, u"", out), hr::DISP_E_EXCEPTION);
    const std::string message = diag::utf8Encode(lastDescription());
    EXPECT_EQ(message.rfind("Nerasta nei vieno sertifikato, atitinkančio sistemos reikalavimus.\r\n", 0), 0u) << message;
    EXPECT_NE(message.find("Nėra kortelės skaitytuve \"Reader A\""), std::string::npos) << message;

    fake_.cards().readers[0].atr = kAtr;  // back in the reader
    EXPECT_EQ(sign.signXml(&doc, 1, u"", out), hr::S_OK) << diag::utf8Encode(lastDescription());
}

TEST_F(SigningTest, APulledCardCallsTheLatestCallbackOnceAndTheKeyIsSelectedAfresh) {
    insertCard();
    auto first = std::make_shared<CountingCallback>();
    auto second = std::make_shared<CountingCallback>();
    {
        Sign sign(host);
        ASSERT_EQ(sign.putOnCardRemoved(first), hr::S_OK);
        ASSERT_EQ(sign.putOnCardRemoved(second), hr::S_OK);  // replaces the first
        Variant doc = Variant::string(u"<Msg/>");
        Variant out;
        ASSERT_EQ(sign.signXml(&doc, 1, u"", out), hr::S_OK) << diag::utf8Encode(lastDescription());
        EXPECT_TRUE(logHas("Stebima kortelė skaitytuve \"Reader A\""));

        fake_.cards().pullCard("Reader A");
        ASSERT_TRUE(eventually([&] { return second->calls.load() > 0; }));
        EXPECT_TRUE(eventually([&] { return logHas("Ištraukta kortelė iš skaitytuvo \"Reader A\""); }));
        fake_.cards().returnCard("Reader A");

        // The monitor has ended with the removal; the next signing selects the key again.
        ASSERT_EQ(sign.signXml(&doc, 1, u"", out), hr::S_OK) << diag::utf8Encode(lastDescription());
        EXPECT_EQ(selectionsLogged(), 2u);
    }
    EXPECT_TRUE(eventually([&] { return contextsAlive() == 0; }));  // no monitor is left
    EXPECT_EQ(second->calls.load(), 1);
    EXPECT_EQ(first->calls.load(), 0);
}

TEST_F(SigningTest, AStoppedMonitorOrARefusedRegistrationCallsNothing) {
    insertCard();
    auto callback = std::make_shared<CountingCallback>();
    Sign sign(host);
    ASSERT_EQ(sign.putOnCardRemoved(callback), hr::S_OK);
    Variant doc = Variant::string(u"<Msg/>");
    Variant out;
    ASSERT_EQ(sign.signXml(&doc, 1, u"", out), hr::S_OK) << diag::utf8Encode(lastDescription());

    // A new container name stops the monitor before the card leaves.
    ASSERT_EQ(sign.putKeyContainer(u"signer"), hr::S_OK);
    fake_.cards().pullCard("Reader A");
    ASSERT_TRUE(eventually([&] { return contextsAlive() == 0; }));  // the monitor has ended
    EXPECT_EQ(callback->calls.load(), 0);
    fake_.cards().returnCard("Reader A");

    // A null reference is refused and drops the earlier registration.
    EXPECT_EQ(sign.putOnCardRemoved(nullptr), hr::DISP_E_EXCEPTION);
    EXPECT_EQ(diag::utf8Encode(lastDescription()), "Kortelės būsenos stebėjimo funkcijos priskyrimo klaida: 80004003");
    ASSERT_EQ(sign.signXml(&doc, 1, u"", out), hr::S_OK) << diag::utf8Encode(lastDescription());
    const int alive = contextsAlive();
    fake_.cards().pullCard("Reader A");
    EXPECT_TRUE(eventually([&] { return logHas("Ištraukta kortelė iš skaitytuvo \"Reader A\""); }));
    ASSERT_TRUE(eventually([&] { return contextsAlive() == alive - 1; }));  // the monitor's context is gone
    EXPECT_EQ(callback->calls.load(), 0);
}

// Destruction waits for the monitor only so long; one that is still in a
// wait then runs on without its object and must neither touch it nor call.
TEST_F(SigningTest, AMonitorThatOutlivesItsObjectCallsNothing) {
    insertCard();
    auto callback = std::make_shared<CountingCallback>();
    {
        Sign sign(host);
        ASSERT_EQ(sign.putOnCardRemoved(callback), hr::S_OK);
        Variant doc = Variant::string(u"<Msg/>");
        Variant out;
        ASSERT_EQ(sign.signXml(&doc, 1, u"", out), hr::S_OK) << diag::utf8Encode(lastDescription());
        fake_.cards().holdWaits(true);
        ASSERT_TRUE(eventually([&] { return fake_.cards().waitsHeld() == 1; }));
    }
    fake_.cards().pullCard("Reader A");
    fake_.cards().holdWaits(false);
    ASSERT_TRUE(eventually([&] { return contextsAlive() == 0; }));  // the monitor has ended
    EXPECT_EQ(callback->calls.load(), 0);
}

TEST_F(SigningTest, AnHsmKeyStartsNoMonitor) {
    hsmOnly();
    Sign sign(host);
    ASSERT_EQ(sign.putKeyContainer(u"signer"), hr::S_OK);
    Variant doc = Variant::string(u"<Msg/>");
    Variant out;
    ASSERT_EQ(sign.signXml(&doc, 1, u"", out), hr::S_OK) << diag::utf8Encode(lastDescription());
    EXPECT_EQ(fake_.cards().readerWaits(), 0);
    EXPECT_FALSE(logHas("Stebima kortelė skaitytuve \"HSM\""));
    ASSERT_EQ(sign.signXml(&doc, 1, u"", out), hr::S_OK);
    EXPECT_EQ(selectionsLogged(), 1u);  // the HSM key stays selected
}


TEST_F(SigningTest, TheCInterfaceHandsTheFaceOfTheLastSigningToItsHost) {
    hsmOnly();
    tessal_sign* sign = nullptr;
    ASSERT_EQ(tessal_sign_create(&sign), 0);
    uint32_t colour = 0;
    tessal_face_rect* rects = nullptr;
    size_t count = 0;
    EXPECT_EQ(tessal_sign_face(sign, 0, 0, 64, 32, &colour, &rects, &count), hr::S_FALSE);  // nothing signed yet
    EXPECT_EQ(rects, nullptr);
    EXPECT_EQ(count, 0u);

    const std::u16string container = u"signer", document = u"<Msg>x</Msg>";
    tessal_variant name{};
    name.type = TESSAL_VT_STRING;
    name.str = reinterpret_cast<const uint16_t*>(container.data());
    name.str_len = container.size();
    ASSERT_EQ(tessal_sign_invoke(sign, "KeyContainer", &name, 1, nullptr), hr::S_OK);
    tessal_variant args[2] = {};
    args[0].type = TESSAL_VT_STRING;
    args[0].str = reinterpret_cast<const uint16_t*>(document.data());
    args[0].str_len = document.size();
    args[1].type = TESSAL_VT_INT;
    args[1].integer = 1;
    ASSERT_EQ(tessal_sign_invoke(sign, "signXml", args, 2, nullptr), hr::S_OK) << diag::utf8Encode(lastDescription());

    ASSERT_EQ(tessal_sign_face(sign, 10, 20, 74, 52, &colour, &rects, &count), hr::S_OK);
    EXPECT_EQ(colour, 0x669966u);
    ASSERT_GT(count, 0u);
    for (size_t i = 0; i < count; ++i) {
        // Pixels to fill, inside the box the host gave.
        EXPECT_LE(10, rects[i].left);
        EXPECT_LT(rects[i].left, rects[i].right);
        EXPECT_LE(rects[i].right, 74);
        EXPECT_LE(20, rects[i].top);
        EXPECT_LT(rects[i].top, rects[i].bottom);
        EXPECT_LE(rects[i].bottom, 52);
    }
    tessal_free(rects);

    EXPECT_EQ(tessal_sign_face(sign, 0, 0, 64, 32, nullptr, &rects, &count), hr::E_POINTER);
    EXPECT_EQ(tessal_sign_invoke(sign, "reset", nullptr, 0, nullptr), hr::S_OK);
    EXPECT_EQ(tessal_sign_face(sign, 0, 0, 64, 32, &colour, &rects, &count), hr::S_FALSE);
    EXPECT_EQ(rects, nullptr);
    tessal_sign_release(sign);
}

}  // namespace
}  // namespace tessal
