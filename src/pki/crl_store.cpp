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
#include "pki/answer_match.h"
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

enum class ListAnswer { Found, Stale, Unavailable, Unknown };

// The lookup found no CRL for its key: the result keeps the reasons gathered
// in `why` and no CRL, so nothing is decided with one it held before.
void refuse(certs::CrlRecord& result, diag::ErrorRecord why) {
    diag::recordErrorCode(why, 0, kCrlAnswerPlace, kCrlNotFoundMessage);
    result = certs::CrlRecord();
    result.error() = std::move(why);
}

// The service's answer to a request by name, when it is the CRL of that name.
// Called with no lock held: a slow service never stalls other lookups.
std::optional<certs::CrlRecord> fetchNamed(PkiSource& client, certs::CrlRecord& result, const std::string& key) {
    diag::ErrorRecord why;
    if (!client.request(key, CrlByName)) {
        why.merge(client.error());
        refuse(result, std::move(why));
        return std::nullopt;
    }
    certs::CrlRecord fetched(client.body().data(), client.body().size());
    if (fetched.holdsError()) why.merge(fetched.error());
    if (fetched.holdsError() || !crlAnswersKey(fetched, CrlByName, key)) {
        refuse(result, std::move(why));
        return std::nullopt;
    }
    return fetched;
}

// One lookup by name in the current list, when the list is fresh. A key
// that is the name of a listed CRL finds that CRL; otherwise a long key is
// asked of the service by name (with no lock held, then listed) and a short
// one is a position in the list.
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
        const auto named = std::find(s.names.begin(), s.names.end(), key);
        if (named != s.names.end()) return answerWith(s.current[static_cast<std::size_t>(named - s.names.begin())]);
        if (key.size() <= kMaxPositionKey) return answerWith(s.current[currentCrlPosition(key, s.current.size())]);
    }

    // A name the service does not know has no CRL: another authority's
    // list in its place would clear certificates it never saw.
    std::optional<certs::CrlRecord> fetched = fetchNamed(client, result, key);
    if (!fetched) return ListAnswer::Unknown;

    std::lock_guard lock(storeLock());
    CrlStore& s = store();
    // Another thread may have listed the same name meanwhile.
    if (std::find(s.names.begin(), s.names.end(), key) == s.names.end()) {
        s.current.push_back(*fetched);
        s.names.push_back(key);
    }
    return answerWith(*fetched);
}

bool findByName(PkiSource& client, certs::CrlRecord& result, const std::string& key) {
    ListAnswer answer = lookUpCurrent(client, result, key);
    if (answer == ListAnswer::Found) return true;
    if (answer == ListAnswer::Unknown) return false;
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
    // Only the CRL that was asked for is kept (and handed on).
    if (!crlAnswersKey(result, CrlByHash, key)) {
        refuse(result, result.error());
        return false;
    }
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
