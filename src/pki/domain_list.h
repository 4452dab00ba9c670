#pragma once
// The process-wide list of places where the certificate web service is
// reached, how its entries are normalised, and which entry is tried first.
//
// Narrow texts here are in the locale codeset, as the platform takes them.
// Lock order: the store lock, then the domain-list lock, then the log file's
// lock (publishing traces while it holds the domain-list lock).
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/trap_released_lock.h"

namespace tessal::pki {

struct PkiDomainEntry {
    std::string scheme;  // "http" or "https"
    std::string host;    // lower case, no scheme prefix, no port
    std::uint16_t port = 0;

    bool operator==(const PkiDomainEntry&) const = default;
};

class PkiDomainList {
public:
    // Appends the entry unless one with the same host text is listed (the
    // listed one keeps its scheme and port). Answers whether it was appended.
    bool append(PkiDomainEntry entry);
    void clear();
    // Replaces the whole list at once (later entries with a host already
    // listed are dropped), so a reader on another thread sees the old list or
    // the new one, never an empty or half-built one.
    void replace(const std::vector<PkiDomainEntry>& entries);

    // Traces the list and makes entry 0 current, all under the lock.
    void publish();

    std::size_t count() const;
    // A copy taken under the lock; nothing when the list has no such entry
    // (it may have been replaced since the caller read the count).
    std::optional<PkiDomainEntry> entry(std::size_t index) const;
    std::vector<PkiDomainEntry> entries() const;

    // The entry tried first; read without the lock, written by exchange.
    std::int32_t currentIndex() const { return currentIndex_.load(); }
    std::int32_t exchangeCurrentIndex(std::int32_t index) { return currentIndex_.exchange(index); }

private:
    mutable platform::TrapReleasedMutex lock_;
    std::vector<PkiDomainEntry> entries_;
    std::atomic<std::int32_t> currentIndex_{0};
};

// The one list of the process; empty until something configures it.
PkiDomainList& pkiDomainList();

// The entry a domain text stands for: lower-cased, trimmed of ":/\.", CR, LF,
// TAB and space, a leading "http://" or "https://" taken as the scheme, a
// trailing ":digits" as the port, and the scheme's port when none is given.
// A scheme other than "http" or "https" (or none) counts as "http".
PkiDomainEntry normaliseDomain(std::string_view text, std::optional<std::string_view> scheme, std::uint16_t port);

// The domain texts of a list text: runs between ",; \t\r\n", up to the first NUL.
std::vector<std::string_view> splitDomainList(std::string_view listText);

// Normalises and appends one domain; does not publish.
void addDomain(std::string_view text, std::optional<std::string_view> scheme, std::uint16_t port);

// Replaces the list with the domains of the list text, then publishes.
void setDomains(std::string_view listText);

// Adds the hosting page's domain to what the list holds, then publishes.
void setBrowserDomain(std::string_view host, std::string_view scheme, std::uint16_t port);

// Replaces the list with the configured "defaultPkiDomain" value. When the
// value cannot be read (missing, or longer than the configuration buffer)
// nothing changes and nothing is traced.
void loadDefaultDomains();

void publishDomains();

// Test seam: empties the list and makes entry 0 current without tracing.
void resetDomainsForTesting();

}  // namespace tessal::pki
