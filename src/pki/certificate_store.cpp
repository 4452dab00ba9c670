#include "pki/certificate_store.h"

#include <memory>
#include <string>
#include <string_view>
#include "certs/certificate_record.h"
#include "pki/pki_client.h"
#include "pki/query_kind.h"
#include <array>
#include <map>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <vector>
#include "pki/answer_match.h"
#include "platform/cache_folder.h"
#include "platform/file_system.h"
#include "pki/store_lock.h"
#include "pki/store_query.h"

namespace tessal::pki {

namespace certificate_store_detail {

// The secondary maps, in the order they are filled.
enum SecondaryKey { BySha256, BySha384, BySha512, ByKeyHash, BySubject, ByIssuerSerial, ByCommonName, KeyCount };

struct CertificateStore {
    std::map<std::string, certs::CertificateRecord> records;
    std::array<std::unordered_map<std::string, std::string>, KeyCount> keys;
    bool cacheLoaded = false;
};

// Guarded by certificateLock().
CertificateStore& store() {
    static CertificateStore instance;
    return instance;
}

// Copies the record that `id` names into `result`. Caller holds the lock.
bool copyRecord(const std::string& id, certs::CertificateRecord& result) {
    const auto found = store().records.find(id);
    if (found == store().records.end()) return false;
    result = found->second;
    return true;
}

bool copyByKey(SecondaryKey map, const std::string& key, certs::CertificateRecord& result) {
    const auto& keys = store().keys[map];
    const auto found = keys.find(key);
    return found != keys.end() && copyRecord(found->second, result);
}

std::optional<SecondaryKey> mapOfKind(PkiQueryKind kind) {
    switch (kind) {
        case CertByKeyHash: return ByKeyHash;
        case CertBySubject: return BySubject;
        case CertByIssuerSerial: return ByIssuerSerial;
        case CertByCommonName: return ByCommonName;
        default: return std::nullopt;
    }
}

// Keeps a service answer for later processes. Failing to do so costs only a
// request in a later process, so nothing here is reported.
void writeToCache(const certs::CertificateRecord& record, const ResponseBody& body) {
    const std::optional<std::string> folder = platform::privateCacheSubfolder(kCacheFolderName, true);
    if (!folder || record.id().empty()) return;
    const std::string path = *folder + "/" + record.id().str() + std::string(kCacheFileEnding);
    platform::createFileOnce(path, reinterpret_cast<const std::uint8_t*>(body.data()), body.size());
}

bool endsWith(std::string_view text, std::string_view ending) {
    return text.size() >= ending.size() && text.substr(text.size() - ending.size()) == ending;
}

// A wrong answer leaves no certificate behind for a caller to use by mistake.
void refuseAnswer(certs::CertificateRecord& result) {
    diag::ErrorRecord why = result.error();
    diag::recordErrorCode(why, 0, kCertificateAnswerPlace, kCertificateNotFoundMessage);
    result = certs::CertificateRecord();
    result.error() = why;
}

}  // namespace certificate_store_detail

std::unique_ptr<PkiClient> openCertificateSource() {
    loadCertificateCache();
    return std::make_unique<PkiClient>();
}

void loadCertificateCache() {
    std::lock_guard lock(certificateLock());
    if (certificate_store_detail::store().cacheLoaded) return;
    certificate_store_detail::store().cacheLoaded = true;

    const std::optional<std::string> folder = platform::privateCacheSubfolder(kCacheFolderName, false);
    std::vector<platform::DirectoryEntry> entries;
    if (!folder || !platform::listDirectory(*folder, entries)) return;
    for (const platform::DirectoryEntry& entry : entries) {
        if (!entry.regularFile || !certificate_store_detail::endsWith(entry.name, kCacheFileEnding)) continue;
        std::vector<std::uint8_t> bytes;
        if (!platform::readPrivateFile(*folder + "/" + entry.name, bytes) || bytes.empty()) continue;
        certs::CertificateRecord record;
        if (!record.parse(bytes.data(), bytes.size()) || !record.fromXml() || record.holdsError()) continue;
        // A file is named by the identifier of the certificate it holds; one
        // that holds another certificate is not trusted to hold either.
        const std::string_view id = std::string_view(entry.name).substr(0, entry.name.size() - kCacheFileEnding.size());
        if (!certificateAnswersKey(record, CertByHash, id)) continue;
        addCertificate(record);
    }
}

void addCertificate(const certs::CertificateRecord& record) {
    const std::string id = record.id().str();
    const std::string issuerSerial = record.issuer().str() + "&" + record.serialNumber().str();
    std::lock_guard lock(certificateLock());
    certificate_store_detail::CertificateStore& s = certificate_store_detail::store();
    s.records.insert_or_assign(id, record);
    auto put = [&](certificate_store_detail::SecondaryKey map, const std::string& key) { s.keys[map].insert_or_assign(key, id); };
    if (!record.sha256Id().empty()) put(certificate_store_detail::BySha256, record.sha256Id().str());
    if (!record.sha384Id().empty()) put(certificate_store_detail::BySha384, record.sha384Id().str());
    if (!record.sha512Id().empty()) put(certificate_store_detail::BySha512, record.sha512Id().str());
    put(certificate_store_detail::ByKeyHash, record.keyHash().str());
    put(certificate_store_detail::BySubject, record.subject().str());
    put(certificate_store_detail::ByIssuerSerial, issuerSerial);
    put(certificate_store_detail::ByCommonName, record.subjectCommonName().str());
}

bool findCertificate(certs::CertificateRecord& result, PkiSource& client, PkiQueryKind kind, std::string_view key) {
    const StoreQuery query = prepareQuery(kind, key);
    {
        std::lock_guard lock(certificateLock());
        if (query.kind == CertByHash) {
            if (certificate_store_detail::copyRecord(query.key, result) || certificate_store_detail::copyByKey(certificate_store_detail::BySha256, query.key, result) ||
                certificate_store_detail::copyByKey(certificate_store_detail::BySha384, query.key, result) || certificate_store_detail::copyByKey(certificate_store_detail::BySha512, query.key, result)) {
                return true;
            }
        } else if (const std::optional<certificate_store_detail::SecondaryKey> map = certificate_store_detail::mapOfKind(query.kind)) {
            if (certificate_store_detail::copyByKey(*map, query.key, result)) return true;
        } else {
            diag::recordErrorCode(result.error(), 0, kCertificateKindPlace, kCertificateNotFoundMessage);
            return false;
        }
    }

    if (!client.request(query.key, query.kind)) {
        result.error().merge(client.error());
        return false;
    }
    const ResponseBody& body = client.body();
    if (!result.parse(body.data(), body.size()) || !result.fromXml()) return false;
    // Only the certificate that was asked for is kept: a wrong answer stored
    // under its own keys would be found later in place of the right one.
    if (!certificateAnswersKey(result, query.kind, query.key)) {
        certificate_store_detail::refuseAnswer(result);
        return false;
    }
    certificate_store_detail::writeToCache(result, body);
    addCertificate(result);
    return true;
}

bool findCertificateByUrl(std::string_view url, certs::CertificateRecord& result, PkiSource& client) {
    const std::optional<StoreQuery> query = certificateQueryOfUrl(url, result.error());
    if (!query) return false;
    return findCertificate(result, client, query->kind, query->key);
}

void clearCertificateStoreForTesting() {
    std::lock_guard lock(certificateLock());
    certificate_store_detail::store() = certificate_store_detail::CertificateStore{};
}

}  // namespace tessal::pki
