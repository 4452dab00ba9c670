#include "crypto/key_selection.h"

#include <algorithm>
#include <atomic>

#include "diagnostics/log_file.h"
#include "diagnostics/message_catalogue.h"
#include "platform/key_store.h"
#include "platform/last_error.h"

namespace tessal::crypto {

namespace {

constexpr int kEstablishPlace = 2001;
constexpr int kNoReadersPlace = 2002;
constexpr int kReaderListPlace = 2003;
constexpr int kConnectPlace = 2004;
constexpr int kAtrPlace = 2005;
constexpr int kCardNamesPlace = 2006;
constexpr int kEnumerationProviderPlace = 2007;
constexpr int kNoCardProviderPlace = 2008;
constexpr int kEnumerationPlace = 2009;
constexpr int kContainerNamePlace = 2009;
constexpr int kSubsystemInvalidPlace = 2011;

constexpr int kCardSubsystemMessage = 41;
constexpr int kNoReadersMessage = 42;
constexpr int kReaderListMessage = 43;
constexpr int kConnectMessage = 44;
constexpr int kAtrMessage = 45;
constexpr int kCardNamesMessage = 46;
constexpr int kEnumerationMessage = 47;
constexpr int kNoCardProviderMessage = 48;
constexpr int kEmptyReaderMessage = 90;
constexpr int kContainerNameMessage = 97;

// The generic provider name a card type may be registered with; its real
// provider is then asked of the resource manager.
constexpr std::string_view kGenericCardProvider = "Microsoft Base Smart Card Crypto Provider";

std::atomic<SignerContext*>& selected() {
    static std::atomic<SignerContext*> pointer{nullptr};
    return pointer;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
               return lower(x) == lower(y);
           });
}

std::int64_t notAfterOf(const SignerContext* context) {
    if (!context || !context->certificates.subject.hasCertificate()) return 0;
    return context->certificates.subject.certificate().notAfter().value_or(0);
}

}  // namespace

platform::TrapReleasedRecursiveMutex& selectionLock() {
    static platform::TrapReleasedRecursiveMutex lock;
    return lock;
}

SignerContext* selectedSigner() { return selected().load(); }

KeySelection::KeySelection(std::string_view containerName, std::string objectLogPath)
    : containerName_(containerName), objectLogPath_(std::move(objectLogPath)) {}

KeySelection::~KeySelection() {
    readers_.clear();
    cardSubsystem_.reset();
    std::lock_guard lock(selectionLock());
    SignerContext* current = selected().load();
    for (const auto& slot : accepted_) {
        if (slot && slot.get() == current) selected().store(nullptr);
    }
    for (auto& slot : accepted_) slot.reset();
    for (auto& slot : rejected_) slot.reset();
    selected().store(nullptr);
}

void KeySelection::trace(std::u16string_view format, diag::FormatArgs args) const {
    diag::traceObject(objectLogPath_, format, args);
}

bool KeySelection::cardSubsystemAlive() const { return cardSubsystem_ && cardSubsystem_->valid(); }

bool KeySelection::searchKeys() {
    cardSubsystem_ = platform::establishCardContext();
    if (!cardSubsystem_) {
        diag::recordError(error_, kEstablishPlace, kCardSubsystemMessage, {diag::kCategoryCardReader});
        return searchHsm();
    }
    if (!cardSubsystemAlive()) {
        diag::recordErrorCode(error_, 0, kSubsystemInvalidPlace, kCardSubsystemMessage, {diag::kCategoryCardReader});
        return searchHsm();
    }
    const std::optional<std::vector<std::string>> readers = cardSubsystem_->listReaders();
    if (!readers) {
        if (platform::lastError() == platform::kScardNoReaders) {
            diag::recordError(error_, kNoReadersPlace, kNoReadersMessage);
        } else {
            diag::recordError(error_, kReaderListPlace, kReaderListMessage, {diag::kCategoryCardReader});
        }
        return searchHsm();
    }
    readers_ = *readers;
    bool found = false;
    for (const std::string& reader : readers_) {
        found = searchReader(reader) || found;
        ++readersTried_;
    }
    return found || searchHsm();
}

bool KeySelection::searchReader(const std::string& reader) {
    bool connected = false;
    const std::optional<platform::ByteBlock> atr = cardSubsystem_->readAtr(reader, connected);
    if (!atr) {
        if (!connected && (platform::lastError() == platform::kScardRemovedCard ||
                           platform::lastError() == platform::kScardNoSmartCard)) {
            diag::recordError(error_, kConnectPlace, kEmptyReaderMessage, {reader});
        } else if (!connected) {
            diag::recordError(error_, kConnectPlace, kConnectMessage, {diag::kCategoryCardReader, reader});
        } else {
            diag::recordError(error_, kAtrPlace, kAtrMessage, {diag::kCategoryCardReader, reader});
        }
        return false;
    }
    const std::optional<std::vector<std::string>> names = cardSubsystem_->cardNames(*atr);
    if (!names) {
        diag::recordError(error_, kCardNamesPlace, kCardNamesMessage, {diag::kCategoryCardReader, reader});
        return false;
    }
    if (names->empty() || names->front().empty()) {
        diag::recordErrorCode(error_, 0, kNoCardProviderPlace, kCardNamesMessage, {diag::kCategoryCardReader, reader});
        return false;
    }
    const std::optional<std::string> provider = cardProvider(*names);
    if (!provider) return false;

    std::vector<std::string> containers;
    {
        std::lock_guard lock(selectionLock());
        const std::optional<std::vector<std::string>> listed = platform::listContainers(*provider, reader);
        if (!listed) {
            const std::uint32_t code = platform::lastError();
            // A provider that cannot be reached at all is told apart from one
            // whose enumeration broke off.
            const int place = code == platform::kNteKeysetNotDefined ? kEnumerationProviderPlace : kEnumerationPlace;
            platform::setLastError(code);
            diag::recordError(error_, place, kEnumerationMessage, {diag::kCategoryCrypto, reader, *provider});
            return false;
        }
        for (const std::string& name : *listed) {
            if (std::find(containers.begin(), containers.end(), name) == containers.end()) containers.push_back(name);
        }
    }
    bool accepted = false;
    for (const std::string& container : containers) {
        accepted = evaluateCandidate(reader, *provider, container) || accepted;
    }
    return accepted;
}

std::optional<std::string> KeySelection::cardProvider(const std::vector<std::string>& cardNames) {
    for (const std::string& name : cardNames) {
        const std::optional<std::string> registered = platform::registeredCardProvider(name);
        if (registered && !equalsIgnoringCase(*registered, kGenericCardProvider)) return registered;
        if (std::optional<std::string> typeProvider = cardSubsystem_->cardTypeProvider(name)) return typeProvider;
    }
    diag::recordError(error_, kNoCardProviderPlace, kNoCardProviderMessage, {cardNames.front()});
    return std::nullopt;
}

bool KeySelection::evaluateCandidate(std::string_view reader, std::string_view provider, std::string_view container) {
    auto candidate = std::make_unique<SignerContext>(reader, provider, container);
    if (candidate->holdsError()) {
        trace(u"Klaida kuriant kriptografinę aplinką %s :: %s :: %s\r\n%s",
              {reader, provider, container, candidate->error().text.str()});
        if (!candidate->isHsm()) error_.merge(candidate->error());
        return false;
    }
    if (!candidate->meetsSystemRequirements()) {
        reject(std::move(candidate));
        return false;
    }
    if (!containerName_.empty() && containerName_ != candidate->containerName()) {
        diag::recordErrorCode(candidate->error(), 0, kContainerNamePlace, kContainerNameMessage,
                              {candidate->containerName(), containerName_});
        reject(std::move(candidate));
        return false;
    }
    accept(std::move(candidate));
    return true;
}

void KeySelection::reject(std::unique_ptr<SignerContext> candidate) {
    candidate->releaseProvider();
    if (rejectedCount_ < kCandidateSlots) rejected_[rejectedCount_] = std::move(candidate);
    ++rejectedCount_;
}

void KeySelection::accept(std::unique_ptr<SignerContext> candidate) {
    std::lock_guard lock(selectionLock());
    SignerContext* current = selected().load();
    // Equal expiry keeps the earlier selection.
    const bool becomesSelected = current == nullptr || notAfterOf(current) < notAfterOf(candidate.get());
    if (becomesSelected) selected().store(candidate.get());
    if (acceptedCount_ < kCandidateSlots) {
        accepted_[acceptedCount_] = std::move(candidate);
    } else if (becomesSelected) {
        accepted_[kCandidateSlots - 1] = std::move(candidate);
    }
    ++acceptedCount_;
}

bool KeySelection::searchHsm() {
    if (containerName_.empty()) {
        trace(u"Nenurodytas raktų konteinerio pavadinimas - raktų paieška HSM įrenginiuose nevykdoma");
        return false;
    }
    trace(u"Bandoma ieškoti raktų konteinerio \"%s\" HSM įrenginyje", {containerName_});
    const std::optional<std::vector<std::string>> providers = platform::installedProviders();
    if (!providers) {
        trace(u"Nepasiekiama informacija HSM įrenginio duomenų išrinkimui Registry \"%s\"",
              {"SOFTWARE\\Microsoft\\Cryptography\\Defaults\\Provider"});
        return false;
    }
    bool accepted = false;
    for (const std::string& provider : *providers) {
        if (provider.find("Microsoft") != std::string::npos || provider.find("Channel") != std::string::npos) continue;
        trace(u"Bandoma jungtis prie HSM :: %s", {provider});
        accepted = evaluateCandidate(kHsmReader, provider, containerName_) || accepted;
    }
    return accepted;
}

std::string KeySelection::rejectionReport() const {
    std::string report;
    for (const auto& candidate : rejected_) {
        if (!candidate) continue;
        report += "\r\nSertifikatas:\r\n";
        report += candidate->certificates.subject.subject().str();
        report += "\r\nAtmetimo priežastis:\r\n";
        report += candidate->error().text.str();
    }
    return report;
}

}  // namespace tessal::crypto
