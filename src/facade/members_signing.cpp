// signXml: finds the signer's key, signs the document, verifies the
// signature it has just made and returns the signed document. A lost card
// subsystem, a signing failure other than a pulled card, or a failed
// self-check start the attempt over, at most three attempts in all.
#include <chrono>
#include <memory>
#include <thread>

#include "crypto/key_selection.h"
#include "diagnostics/ansi_text.h"
#include "diagnostics/log_file.h"
#include "facade/card_monitor.h"
#include "facade/document_bytes.h"
#include "facade/key_environment.h"
#include "facade/member_guard.h"
#include "platform/key_store.h"
#include "platform/pin_scope.h"
#include "tessal/sign.h"
#include "xades/signature_creation.h"
#include "xades/verification.h"

namespace tessal {

namespace {

constexpr int kMaxStartOvers = 2;
constexpr std::u16string_view kNoMemory = u"Trūksta atminties";
constexpr std::u16string_view kUnexpected = u"Nenumatyta klaida";
constexpr std::u16string_view kAllRejected =
    u"Rasta sertifikatų: %d. Nei vienas iš sertifikatų neatitinka sistemos reikalavimų.\r\n%s";
constexpr std::u16string_view kNoneFound = u"Nerasta nei vieno sertifikato, atitinkančio sistemos reikalavimus.\r\n%s";
constexpr std::u16string_view kCardSubsystemFailed = u"Kortelių posistemės inicijavimo klaida";
constexpr std::u16string_view kCardPulled = u"Ištraukta kortelė su pasirašymui skirtu privačiu raktu ir sertifikatu";

// The catalogue indexes of a failed card subsystem or reader connection.
constexpr int kCardSubsystemIndex = 41;
constexpr int kReaderConnectionIndex = 44;
constexpr int kBadXmlIndex = 49;

// How long a new card monitor is given to confirm that it watches the reader.
constexpr int kMonitorStartPolls = 25;
constexpr std::chrono::milliseconds kMonitorStartPoll{200};

// The key environment is usable: a selection whose key is watched (or in an HSM).
bool ensureKeyAvailable(facade::SignState& s) {
    if (s.keySelection && s.cardWatch->state.load() == facade::kWatching && crypto::selectedSigner()) return true;
    if (s.keySelection) facade::resetKeyEnvironment(s);
    facade::traceObject(s, u"Išrenkamas pasirašančio asmens sertifikatas");
    s.keySelection = std::make_unique<crypto::KeySelection>(s.keyContainerName, s.objectLogPath);
    if (!s.keySelection->searchKeys()) return false;
    crypto::SignerContext* signer = crypto::selectedSigner();
    if (!signer) return false;
    if (signer->isHsm()) {
        // An HSM key cannot be pulled: nothing to watch.
        s.cardWatch->state.exchange(facade::kWatching);
        return true;
    }
    s.cardWatch->readerName = signer->readerName();
    s.cardWatch->objectLogPath = s.objectLogPath;
    facade::traceObject(s, u"Stebima kortelė skaitytuve \"%s\"", {signer->readerName()});
    s.cardMonitorRunning = facade::startCardMonitor(s.cardWatch, s.cardCallback);
    for (int poll = 0; poll < kMonitorStartPolls && s.cardMonitorRunning; ++poll) {
        if (s.cardWatch->state.load() == facade::kWatching) break;
        std::this_thread::sleep_for(kMonitorStartPoll);
    }
    return s.cardWatch->state.load() == facade::kWatching;
}

bool cardPulled(const diag::ErrorRecord& error) {
    const int index = error.code % 100;
    return index == kCardSubsystemIndex || index == kReaderConnectionIndex || error.lastError == platform::kErrorNoToken ||
           error.lastError == platform::kNteNoKey;
}

}  // namespace

HResult Sign::signXml(Variant* document, std::int32_t raw, std::u16string_view logFile, Variant& signedXml) {
    auto& s = *state_;
    diag::traceGlobal(u"Tessal objekto kviečiama funkcija signXml");
    return facade::gatedMember(s, [&]() -> HResult {
        // A token that refuses a PIN is not given it again by any attempt of this call.
        const platform::PinAttemptScope pinAttempts;
        // Every call sets or clears the per-object log.
        s.objectLogPath = diag::toAnsiName(logFile);
        for (int n = 0;; ++n) {
            facade::traceObject(s, u"Duomenų pasirašymas. Bandymas nr.%d", {n + 1});
            s.signatureInfo.reset();
            s.redrawFace();
            s.signatureInfo = std::make_unique<xml::SignatureInfo>();

            facade::traceObject(s, u"Išrenkamas XML dokumentas pasirašymui");
            const diag::Outcome<facade::DocumentInPlace> bytes = facade::requireDocumentInPlace(document);
            if (!bytes.ok()) return facade::reportFailure(s, bytes.failure());

            facade::traceObject(s, u"Tikrinamas kriptografinių raktų pasiekiamumas");
            if (!ensureKeyAvailable(s)) {
                if (!s.keySelection) return facade::reportFailure(s, kNoMemory);
                if (s.keySelection->acceptedCount() > 0) {
                    facade::resetKeyEnvironment(s);
                    return facade::reportFailure(s, kUnexpected);
                }
                if (s.keySelection->rejectedCount() > 0) {
                    return facade::reportFailure(
                        s, kAllRejected, {s.keySelection->rejectedCount(), s.keySelection->rejectionReport()});
                }
                return facade::reportFailure(s, kNoneFound, {s.keySelection->error().text.str()});
            }
            crypto::SignerContext* signer = crypto::selectedSigner();
            if (!signer->isHsm()) {
                facade::traceObject(s, u"Tikrinamas operacinės sistemos kortelių posistemio veikimas");
                if (!s.keySelection->cardSubsystemAlive()) {
                    if (n >= kMaxStartOvers) return facade::reportFailure(s, kCardSubsystemFailed);
                    facade::traceObject(s, u"Operacinės sistemos kortelių posistemis buvo išjungtas - perkuriamas "
                                           u"prisijungimas ir kartojama pasirašymo operacija");
                    facade::resetKeyEnvironment(s);
                    continue;
                }
            }

            const std::string_view text = bytes.value().bytes();
            xml::SignatureJob job(text.data(), text.size(), signer, s.signatureInfo.get());
            if (s.cardWatch->state.load() == facade::kNotWatching) return facade::reportFailure(s, kCardPulled);
            facade::traceObject(s, u"Vykdomas XML pasirašymas");
            if (!xml::createSignature(job)) {
                const diag::ErrorRecord& error = job.error();
                if (!signer->isHsm() && cardPulled(error)) return facade::reportFailure(s, kCardPulled);
                if (!signer->isHsm() && n < kMaxStartOvers) {
                    facade::traceObject(s, u"Pasirašymo klaida\r\n%s", {error.text.str()});
                    facade::resetKeyEnvironment(s);
                    continue;
                }
                if (error.code % 100 == kBadXmlIndex) {
                    const bool asText = document && document->is(VarType::String);
                    facade::traceObject(s, u"Klaidingas XML dokumentas\r\n%s",
                                        {asText ? std::u16string_view(document->text()) : std::u16string_view()});
                }
                s.redrawFace();
                return facade::reportFailure(s, error.text.utf16());
            }

            facade::traceObject(s, u"Tikrinamas XML parašas");
            // The signed text is all that is left to use: its tree goes before
            // the check parses the text again, so two trees are never held.
            job.releaseTree();
            const std::string_view signedText = job.text();
            xml::VerificationJob check(signedText.data(), signedText.size(), nullptr, nullptr);
            if (!xml::verifySignature(check)) {
                if (n < kMaxStartOvers) {
                    facade::traceObject(s, u"XML parašo tikrinimo klaida:\r\n%s", {check.error().text.str()});
                    facade::resetKeyEnvironment(s);
                    continue;
                }
                return facade::reportFailure(s, check.error().text.utf16());
            }

            if (raw != 0) {
                facade::traceObject(s, u"Pasirašytas XML dokumentas rengiamas grąžinimui UTF8 baitų masyvo formatu");
                signedXml = Variant::bytes(std::vector<std::uint8_t>(signedText.begin(), signedText.end()));
            } else {
                facade::traceObject(s, u"Pasirašytas XML dokumentas rengiamas grąžinimui UNICODE simbolių eilute");
                signedXml = Variant::string(diag::utf16Of(signedText));
            }
            s.redrawFace();
            facade::traceObject(s, u"XML dokumentas pasirašytas sėkmingai");
            return hr::S_OK;
        }
    });
}

}  // namespace tessal
