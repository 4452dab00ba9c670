#include "pki/domain_list.h"

#include "diagnostics/ansi_text.h"
#include "diagnostics/log_file.h"
#include "platform/config.h"

namespace tessal::pki {

namespace {

// The configuration value is read into a buffer of this size; a longer one is unreadable.
constexpr std::size_t kConfigValueCapacity = 10240;

constexpr std::string_view kTrimSet = ":/\\.\r\n\t ";
constexpr std::string_view kListSeparators = ",; \t\r\n";

std::string_view untilNul(std::string_view text) { return text.substr(0, text.find('\0')); }

// ASCII only: bytes of multi-byte characters in the locale codeset stay as they are.
void lowerAscii(std::string& text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
}

bool isPathSeparator(char c) { return c == ':' || c == '/' || c == '\\'; }

// Leading decimal digits, kept to 16 bits; 0 when there are none.
std::uint16_t leadingPort(std::string_view text) {
    std::uint32_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') break;
        value = (value * 10 + static_cast<std::uint32_t>(c - '0')) & 0xFFFFu;
    }
    return static_cast<std::uint16_t>(value);
}

}  // namespace

bool PkiDomainList::append(PkiDomainEntry entry) {
    const std::lock_guard guard(lock_);
    for (const PkiDomainEntry& listed : entries_) {
        if (listed.host == entry.host) return false;
    }
    entries_.push_back(std::move(entry));
    return true;
}

void PkiDomainList::clear() {
    const std::lock_guard guard(lock_);
    entries_.clear();
}

void PkiDomainList::replace(const std::vector<PkiDomainEntry>& entries) {
    std::vector<PkiDomainEntry> distinct;
    for (const PkiDomainEntry& entry : entries) {
        bool listed = false;
        for (const PkiDomainEntry& kept : distinct) listed = listed || kept.host == entry.host;
        if (!listed) distinct.push_back(entry);
    }
    const std::lock_guard guard(lock_);
    entries_ = std::move(distinct);
}

void PkiDomainList::publish() {
    const std::lock_guard guard(lock_);
    if (entries_.empty()) {
        diag::traceGlobal(u"Nenustatyta viešojo rakto infrastruktūros objektų išrinkimo sritis.");
        return;
    }
    if (entries_.size() > 1) {
        diag::traceGlobal(u"Nustatytas viešojo rakto infrastruktūros domenų sąrašas:");
        for (const PkiDomainEntry& listed : entries_) {
            diag::traceGlobal(u"%s://%s", {diag::fromAnsi(listed.scheme), diag::fromAnsi(listed.host)});
        }
    }
    currentIndex_.exchange(0);
    const PkiDomainEntry& first = entries_.front();
    diag::traceGlobal(u"Naudojama viešojo rakto infrastruktūra srityje \"%s://%s\"",
                      {diag::fromAnsi(first.scheme), diag::fromAnsi(first.host)});
}

std::size_t PkiDomainList::count() const {
    const std::lock_guard guard(lock_);
    return entries_.size();
}

std::optional<PkiDomainEntry> PkiDomainList::entry(std::size_t index) const {
    const std::lock_guard guard(lock_);
    if (index >= entries_.size()) return std::nullopt;
    return entries_[index];
}

std::vector<PkiDomainEntry> PkiDomainList::entries() const {
    const std::lock_guard guard(lock_);
    return entries_;
}

PkiDomainList& pkiDomainList() {
    static PkiDomainList list;
    return list;
}

PkiDomainEntry normaliseDomain(std::string_view text, std::optional<std::string_view> scheme, std::uint16_t port) {
    PkiDomainEntry entry;
    if (scheme) {
        entry.scheme = std::string(untilNul(*scheme));
        lowerAscii(entry.scheme);
    }
    if (entry.scheme != "http" && entry.scheme != "https") entry.scheme = "http";

    text = untilNul(text);
    const std::size_t first = text.find_first_not_of(kTrimSet);
    std::string host = first == std::string_view::npos
                           ? std::string()
                           : std::string(text.substr(first, text.find_last_not_of(kTrimSet) - first + 1));
    lowerAscii(host);

    // A scheme prefix is "http" or "https" followed by a separator or by
    // nothing; a host that merely begins with those letters keeps them.
    if (host.starts_with("http")) {
        const bool secure = host.size() > 4 && host[4] == 's';
        const std::size_t end = secure ? 5 : 4;
        if (end == host.size() || isPathSeparator(host[end])) {
            if (secure) entry.scheme = "https";
            std::size_t rest = end;
            while (rest < host.size() && isPathSeparator(host[rest])) ++rest;
            host.erase(0, rest);
        }
    }

    const std::size_t colon = host.rfind(':');
    if (colon != std::string::npos) {
        port = leadingPort(std::string_view(host).substr(colon + 1));
        host.erase(colon);
    }
    if (port == 0) port = entry.scheme == "https" ? 443 : 80;

    entry.host = std::move(host);
    entry.port = port;
    return entry;
}

std::vector<std::string_view> splitDomainList(std::string_view listText) {
    listText = untilNul(listText);
    std::vector<std::string_view> tokens;
    std::size_t start = listText.find_first_not_of(kListSeparators);
    while (start != std::string_view::npos) {
        const std::size_t end = listText.find_first_of(kListSeparators, start);
        tokens.push_back(listText.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
        if (end == std::string_view::npos) break;
        start = listText.find_first_not_of(kListSeparators, end);
    }
    return tokens;
}

void addDomain(std::string_view text, std::optional<std::string_view> scheme, std::uint16_t port) {
    pkiDomainList().append(normaliseDomain(text, scheme, port));
}

void setDomains(std::string_view listText) {
    std::vector<PkiDomainEntry> entries;
    for (std::string_view token : splitDomainList(listText)) entries.push_back(normaliseDomain(token, std::nullopt, 0));
    pkiDomainList().replace(entries);
    publishDomains();
}

void setBrowserDomain(std::string_view host, std::string_view scheme, std::uint16_t port) {
    addDomain(host, scheme, port);
    publishDomains();
}

void loadDefaultDomains() {
    const std::optional<std::string> value = platform::configValue(platform::kProductKey, "defaultPkiDomain");
    if (!value || value->size() > kConfigValueCapacity) return;
    setDomains(*value);
}

void publishDomains() { pkiDomainList().publish(); }

void resetDomainsForTesting() {
    PkiDomainList& list = pkiDomainList();
    list.clear();
    list.exchangeCurrentIndex(0);
}

}  // namespace tessal::pki
