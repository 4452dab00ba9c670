#include "pki/crl_store.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string_view>
#include "certs/crl_record.h"
#include "pki/pki_client.h"
#include "pki/query_kind.h"
#include <chrono>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>
#include "pki/store_lock.h"
#include "pki/store_query.h"

namespace tessal::pki {

namespace crl_store_detail {

struct CrlStore {
    std::map<std::string, certs::CrlRecord> records;
    std::vector<certs::CrlRecord> current;
    std::vector<std::string> names;
    std::int64_t refreshedAt = 0;
};

// Guarded by storeLock().
CrlStore& store() {
    static CrlStore instance;
    return instance;
}

std::function<std::int64_t()>& clockOverride() {
    static std::function<std::int64_t()> clock;
    return clock;
}

std::int64_t now() {
    if (clockOverride()) return clockOverride()();
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

enum class ListAnswer { Found, Stale, Unavailable };

// One lookup by name in the current list, when the list is fresh. A long
// name not yet listed is fetched with no lock held, so that a slow service
// never stalls the other threads' lookups, and listed afterwards.
ListAnswer lookUpCurrent(PkiSource& client, certs::CrlRecord& result, const std::string& key) {
    const std::int64_t at = now();
    const auto fresh = [at](const CrlStore& s) { return !s.current.empty() && at - s.refreshedAt < kCurrentCrlLifetime; };
    const auto answerWith = [&result](const certs::CrlRecord& crl) {
        result = crl;
        // A CRL past its next update says nothing about today; it is as
        // stale as one found in the list.
        return result.checkCrlValidity() ? ListAnswer::Found : ListAnswer::Stale;
    };
    {
        std::lock_guard lock(storeLock());
        const CrlStore& s = store();
        if (!fresh(s)) return ListAnswer::Unavailable;
        if (key.size() <= kMaxPositionKey) return answerWith(s.current[currentCrlPosition(key, s.current.size())]);
        const auto named = std::find(s.names.begin(), s.names.end(), key);
        if (named != s.names.end()) return answerWith(s.current[static_cast<std::size_t>(named - s.names.begin())]);
    }

    std::optional<certs::CrlRecord> fetched;
    if (client.request(key, CrlByName)) {
        fetched.emplace(client.body().data(), client.body().size());
        if (fetched->holdsError()) fetched.reset();
    }

    std::lock_guard lock(storeLock());
    CrlStore& s = store();
    if (fetched) {
        // Another thread may have listed the same name meanwhile.
        if (std::find(s.names.begin(), s.names.end(), key) == s.names.end()) {
            s.current.push_back(*fetched);
            s.names.push_back(key);
        }
        return answerWith(*fetched);
    }
    // A list emptied meanwhile has no first CRL to give.
    if (s.current.empty()) return ListAnswer::Unavailable;
    return answerWith(s.current.front());
}

bool findByName(PkiSource& client, certs::CrlRecord& result, const std::string& key) {
    ListAnswer answer = lookUpCurrent(client, result, key);
    if (answer == ListAnswer::Found) return true;
    if (!refreshCurrentCrls(client)) {
        result.error().merge(client.error());
        return false;
    }
    answer = lookUpCurrent(client, result, key);
    return answer == ListAnswer::Found;
}

bool findByHash(PkiSource& client, certs::CrlRecord& result, const std::string& key) {
    {
        std::lock_guard lock(storeLock());
        const auto found = store().records.find(key);
        if (found != store().records.end()) {
            result = found->second;
            return true;
        }
    }
    if (!client.request(key, CrlByHash)) {
        result.error().merge(client.error());
        return false;
    }
    result = certs::CrlRecord(client.body().data(), client.body().size());
    if (result.holdsError()) return false;
    std::lock_guard lock(storeLock());
    store().records.insert_or_assign(result.id().str(), result);
    return true;
}

}  // namespace crl_store_detail

bool findCrl(PkiSource& client, certs::CrlRecord& result, PkiQueryKind kind, std::string_view key) {
    const StoreQuery query = prepareQuery(kind, key);
    if (query.kind == CrlByHash) return crl_store_detail::findByHash(client, result, query.key);
    if (query.kind == CrlByName) return crl_store_detail::findByName(client, result, query.key);
    diag::recordErrorCode(result.error(), 0, kCrlKindPlace, kCrlNotFoundMessage);
    return false;
}

bool findCrlByUrl(std::string_view url, certs::CrlRecord& result, PkiSource& client) {
    const std::optional<StoreQuery> query = crlQueryOfUrl(url, result.error());
    if (!query) return false;
    return findCrl(client, result, query->kind, query->key);
}

bool refreshCurrentCrls(PkiSource& client) {
    std::vector<certs::CrlRecord> current;
    std::vector<std::string> names;
    std::string firstName;
    for (int i = 0; i < kMaxCurrentCrls; ++i) {
        if (!client.request(std::to_string(i), CrlByName)) return false;
        certs::CrlRecord crl(client.body().data(), client.body().size());
        if (crl.holdsError()) {
            client.error().merge(crl.error());
            return false;
        }
        const std::string name = crl.issuerCommonName().str();
        // The service repeats its first CRL after its last one.
        if (i == 0) {
            firstName = name;
        } else if (name == firstName) {
            break;
        }
        {
            std::lock_guard lock(storeLock());
            crl_store_detail::store().records.insert_or_assign(crl.id().str(), crl);
        }
        current.push_back(crl);
        names.push_back(name);
    }
    const std::int64_t at = crl_store_detail::now();
    std::lock_guard lock(storeLock());
    crl_store_detail::store().current = std::move(current);
    crl_store_detail::store().names = std::move(names);
    crl_store_detail::store().refreshedAt = at;
    return true;
}

void clearCrlStoreForTesting() {
    std::lock_guard lock(storeLock());
    crl_store_detail::store() = crl_store_detail::CrlStore{};
}

void setCrlClockForTesting(std::function<std::int64_t()> clock) {
    std::lock_guard lock(storeLock());
    crl_store_detail::clockOverride() = std::move(clock);
}

}  // namespace tessal::pki
