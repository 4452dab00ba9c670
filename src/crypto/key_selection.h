#pragma once
// The search for the signer's key: every reader, card and container, then the
// installed HSM providers with the configured container name. Each container
// becomes a candidate signer context; the signer requirements accept or
// reject it, and among the accepted the certificate that expires last is
// selected and published process-wide.
#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "crypto/signer_context.h"
#include "diagnostics/error_record.h"
#include "platform/smart_card.h"
#include "platform/trap_released_lock.h"

namespace tessal::crypto {

// The slots of each candidate list.
inline constexpr std::size_t kCandidateSlots = 128;

// Guards the selected signer while it is compared and replaced, its reset,
// and each reader's container enumeration.
platform::TrapReleasedRecursiveMutex& selectionLock();
// The selected signer; none when no search has accepted a key. Read without
// the lock: it changes only during a search and when its selection ends.
SignerContext* selectedSigner();

class KeySelection {
public:
    // `objectLogPath` receives the search's trace lines (empty: the global log only).
    KeySelection(std::string_view containerName, std::string objectLogPath = {});
    ~KeySelection();
    KeySelection(const KeySelection&) = delete;
    KeySelection& operator=(const KeySelection&) = delete;

    // True when at least one candidate was accepted (one is then selected).
    bool searchKeys();
    // The card subsystem of the search is still usable.
    bool cardSubsystemAlive() const;
    // For each rejected candidate: its certificate's subject and why it was refused.
    std::string rejectionReport() const;

    std::uint32_t acceptedCount() const { return acceptedCount_; }
    std::uint32_t rejectedCount() const { return rejectedCount_; }
    std::uint32_t readersTried() const { return readersTried_; }
    const diag::ErrorRecord& error() const { return error_; }

private:
    bool searchReader(const std::string& reader);
    std::optional<std::string> cardProvider(const std::vector<std::string>& cardNames);
    bool evaluateCandidate(std::string_view reader, std::string_view provider, std::string_view container);
    void reject(std::unique_ptr<SignerContext> candidate);
    void accept(std::unique_ptr<SignerContext> candidate);
    bool searchHsm();
    void trace(std::u16string_view format, diag::FormatArgs args = {}) const;

    diag::ErrorRecord error_;
    std::unique_ptr<platform::CardContext> cardSubsystem_;
    std::string containerName_;
    std::string objectLogPath_;
    std::vector<std::string> readers_;
    std::uint32_t readersTried_ = 0;
    std::uint32_t acceptedCount_ = 0;
    std::uint32_t rejectedCount_ = 0;
    std::array<std::unique_ptr<SignerContext>, kCandidateSlots> accepted_;
    std::array<std::unique_ptr<SignerContext>, kCandidateSlots> rejected_;
};

}  // namespace tessal::crypto
