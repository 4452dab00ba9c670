#include "pki/certificate_store.h"
#include "pki/crl_store.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <thread>

#include "support/test_pki.h"
#include "fake_pki_source.h"
#include "pki/store_lock.h"
#include "pki/store_query.h"
#include "support/test_support.h"

namespace tessal::pki {
namespace {

using test::FakePkiSource;

// Every suite here starts from empty stores and a cache folder of its own.
class StoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (const char* old = std::getenv("XDG_CACHE_HOME")) savedCache_ = old;
        ::setenv("XDG_CACHE_HOME", cache_.path().c_str(), 1);
        clearCertificateStoreForTesting();
        clearCrlStoreForTesting();
        setCrlClockForTesting([this] { return clock_; });
    }
    void TearDown() override {
        setCrlClockForTesting({});
        clearCertificateStoreForTesting();
        clearCrlStoreForTesting();
        if (savedCache_) {
            ::setenv("XDG_CACHE_HOME", savedCache_->c_str(), 1);
        } else {
            ::unsetenv("XDG_CACHE_HOME");
        }
    }

    test::TempDir cache_;
    std::int64_t clock_ = test::secondsNow();

private:
    std::optional<std::string> savedCache_;
};

certs::CertificateRecord decoded(const data::Bytes& der) {
    certs::CertificateRecord record;
    EXPECT_TRUE(record.fromDer(der.data(), der.size())) << record.error().text.str();
    return record;
}

struct ServedCertificate {
    certs::CertificateRecord record;
    std::string body;
};

ServedCertificate serveCertificate(FakePkiSource& source, const test::CertPlan& plan = {}) {
    const data::Bytes der = test::makeCertificate(plan);
    ServedCertificate served{decoded(der), test::certificateDocument(der)};
    source.answer(CertByHash, served.record.id().str(), served.body);
    return served;
}

// ---- certificates ----

TEST_F(StoreTest, FetchedCertificateIsFoundByEachOfItsEightKeysWithoutARequest) {
    FakePkiSource source;
    test::CertPlan plan;
    plan.subject = {{"C", "LT"}, {"O", "Bandymai"}, {"CN", "Ona Onaite"}};
    const ServedCertificate served = serveCertificate(source, plan);
    const certs::CertificateRecord& cert = served.record;

    certs::CertificateRecord first;
    ASSERT_TRUE(findCertificate(first, source, CertByHash, cert.id().str()));
    EXPECT_EQ(first.id(), cert.id());
    ASSERT_EQ(source.requests.size(), 1u);

    const std::pair<PkiQueryKind, std::string> keys[] = {
        {CertByHash, cert.id().str()},
        {CertByHash, cert.sha256Id().str()},
        {CertByHash, cert.sha384Id().str()},
        {CertByHash, cert.sha512Id().str()},
        {CertByKeyHash, cert.keyHash().str()},
        {CertBySubject, cert.subject().str()},
        {CertByIssuerSerial, cert.issuer().str() + "&" + cert.serialNumber().str()},
        {CertByCommonName, cert.subjectCommonName().str()},
        {static_cast<PkiQueryKind>(CertByHash | Base64Key), cert.idBase64().str()},
        {static_cast<PkiQueryKind>(CertByKeyHash | Base64Key), cert.keyHashBase64().str()},
    };
    for (const auto& [kind, key] : keys) {
        certs::CertificateRecord found;
        EXPECT_TRUE(findCertificate(found, source, kind, key)) << kind << " " << key;
        EXPECT_EQ(found.id(), cert.id()) << kind;
        EXPECT_TRUE(found.error().empty());
    }
    EXPECT_EQ(source.requests.size(), 1u);
}

TEST_F(StoreTest, LaterCertificateUnderTheSameKeyReplacesTheEarlier) {
    test::CertPlan older;
    older.serial = {0x10, 0x01};
    test::CertPlan newer;
    newer.serial = {0x10, 0x02};
    const certs::CertificateRecord a = decoded(test::makeCertificate(older));
    const certs::CertificateRecord b = decoded(test::makeCertificate(newer));
    addCertificate(a);
    addCertificate(b);

    FakePkiSource source;
    certs::CertificateRecord found;
    ASSERT_TRUE(findCertificate(found, source, CertBySubject, a.subject().str()));
    EXPECT_EQ(found.id(), b.id());
    // The older one keeps its own identifier and issuer-serial key.
    ASSERT_TRUE(findCertificate(found, source, CertByIssuerSerial, a.issuer().str() + "&" + a.serialNumber().str()));
    EXPECT_EQ(found.id(), a.id());
    EXPECT_TRUE(source.requests.empty());
}

TEST_F(StoreTest, MissAsksTheServiceWithThePreparedKey) {
    FakePkiSource source;
    const ServedCertificate served = serveCertificate(source);
    certs::CertificateRecord found;
    ASSERT_TRUE(findCertificate(found, source, static_cast<PkiQueryKind>(CertByHash | Base64Key),
                                served.record.idBase64().str()));
    ASSERT_EQ(source.requests.size(), 1u);
    EXPECT_EQ(source.requests[0].first, CertByHash);
    EXPECT_EQ(source.requests[0].second, served.record.id().str());
}

TEST_F(StoreTest, CertificateFailures) {
    FakePkiSource source;
    {
        certs::CertificateRecord found;
        EXPECT_FALSE(findCertificate(found, source, CrlByHash, "AB"));
        EXPECT_EQ(found.error().code, diag::errorCode(904, 67));
        EXPECT_TRUE(source.requests.empty());
    }
    {
        // The service's failure reaches the result.
        certs::CertificateRecord found;
        EXPECT_FALSE(findCertificate(found, source, CertBySubject, "CN=Niekas"));
        EXPECT_EQ(found.error().code, diag::errorCode(3005, 98));
        source.clearError();
    }
    {
        // An answer that is no certificate document is neither kept nor cached.
        source.answer(CertByKeyHash, "AA", "<QualifyingProperties/>");
        certs::CertificateRecord found;
        EXPECT_FALSE(findCertificate(found, source, CertByKeyHash, "AA"));
        EXPECT_FALSE(found.error().empty());
        EXPECT_FALSE(std::filesystem::exists(cache_.path() / "Tessal.Sign.Certs") &&
                     !std::filesystem::is_empty(cache_.path() / "Tessal.Sign.Certs"));
    }
}

TEST_F(StoreTest, AnswerThatIsNotTheCertificateAskedForIsNeitherKeptNorCached) {
    FakePkiSource source;
    test::CertPlan askedPlan;
    askedPlan.subject = {{"CN", "Prasytas"}};
    const certs::CertificateRecord asked = decoded(test::makeCertificate(askedPlan));
    test::CertPlan otherPlan;
    otherPlan.subject = {{"CN", "Kitas"}};
    otherPlan.serial = {0x22, 0x01};
    otherPlan.key = test::otherRsaKey();
    const std::string otherBody = test::certificateDocument(test::makeCertificate(otherPlan));

    const std::pair<PkiQueryKind, std::string> keys[] = {
        {CertByHash, asked.id().str()},
        {CertByHash, asked.sha256Id().str()},
        {CertByKeyHash, asked.keyHash().str()},
        {CertBySubject, asked.subject().str()},
        {CertByIssuerSerial, asked.issuer().str() + "&" + asked.serialNumber().str()},
    };
    for (const auto& [kind, key] : keys) {
        source.answer(kind, key, otherBody);
        for (int attempt = 0; attempt < 2; ++attempt) {  // the second must ask again
            const std::size_t before = source.requests.size();
            certs::CertificateRecord found;
            EXPECT_FALSE(findCertificate(found, source, kind, key)) << kind;
            EXPECT_EQ(source.requests.size(), before + 1) << kind;
            EXPECT_FALSE(found.hasCertificate()) << kind;
            EXPECT_EQ(found.error().code, diag::errorCode(905, 67)) << kind;
        }
    }
    // The wrong certificate is not under its own keys either, nor on disk.
    certs::CertificateRecord byName;
    EXPECT_FALSE(findCertificate(byName, source, CertByCommonName, "kitas"));
    EXPECT_FALSE(std::filesystem::exists(cache_.path() / "Tessal.Sign.Certs") &&
                 !std::filesystem::is_empty(cache_.path() / "Tessal.Sign.Certs"));
}

TEST_F(StoreTest, CommonNameMissEndsWithTheClientsRefusal) {
    PkiClient client;
    certs::CertificateRecord found;
    EXPECT_FALSE(findCertificate(found, client, CertByCommonName, "Niekas"));
    EXPECT_EQ(found.error().code, diag::errorCode(3010, 80));
}

TEST_F(StoreTest, CertificateByUrl) {
    FakePkiSource source;
    test::CertPlan plan;
    plan.subject = {{"CN", "Name X"}};
    const ServedCertificate served = serveCertificate(source, plan);
    source.answer(CertByKeyHash, served.record.keyHash().str(), served.body);
    const std::string base = "https://pki.example/pki/cert/";

    certs::CertificateRecord found;
    ASSERT_TRUE(findCertificateByUrl(base + "?pk&" + served.record.keyHashBase64().str(), found, source));
    EXPECT_EQ(found.id(), served.record.id());
    ASSERT_EQ(source.requests.size(), 1u);
    EXPECT_EQ(source.requests[0], std::make_pair(CertByKeyHash, served.record.keyHash().str()));

    certs::CertificateRecord byName;
    ASSERT_TRUE(findCertificateByUrl(base + "name%20x.cer", byName, source));
    EXPECT_EQ(byName.id(), served.record.id());
    // Common names are kept lower-cased, so the name's case in a URL does not matter.
    certs::CertificateRecord byMixedCase;
    ASSERT_TRUE(findCertificateByUrl(base + "Name%20X.cer", byMixedCase, source)) << byMixedCase.error().text.str();
    EXPECT_EQ(byMixedCase.id(), served.record.id());
    certs::CertificateRecord byHex;
    ASSERT_TRUE(findCertificateByUrl(base + "?HEX&" + served.record.id().str(), byHex, source));
    EXPECT_EQ(source.requests.size(), 1u);

    certs::CertificateRecord bad;
    EXPECT_FALSE(findCertificateByUrl(base + "?serial&1", bad, source));
    EXPECT_EQ(bad.error().code, diag::errorCode(903, 67));
}

// ---- the disk cache ----

TEST_F(StoreTest, FetchedCertificateIsCachedAndFoundByTheNextProcess) {
    FakePkiSource source;
    const ServedCertificate served = serveCertificate(source);
    certs::CertificateRecord found;
    ASSERT_TRUE(findCertificate(found, source, CertByHash, served.record.id().str()));

    const std::filesystem::path folder = cache_.path() / "Tessal.Sign.Certs";
    const std::filesystem::path file = folder / (served.record.id().str() + ".crx");
    ASSERT_TRUE(std::filesystem::exists(file));
    EXPECT_EQ(test::readWholeFile(file.string()), served.body);
    EXPECT_EQ(std::filesystem::status(folder).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_all);
    // Nothing but the entry is left in the folder.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), std::filesystem::directory_iterator()), 1);

    // A damaged entry, an empty one and a certificate under another ending
    // are passed over without a word.
    test::writeWholeFile((folder / "0000000000000000000000000000000000000000.crx").string(), "<QualifyingProp");
    test::writeWholeFile((folder / "1111111111111111111111111111111111111111.crx").string(), "");
    test::CertPlan otherPlan;
    otherPlan.subject = {{"CN", "Kitas"}};
    const data::Bytes other = test::makeCertificate(otherPlan);
    test::writeWholeFile((folder / "other.xml").string(), test::certificateDocument(other));
    // A certificate under a name that is not its identifier is not used either.
    test::writeWholeFile((folder / "2222222222222222222222222222222222222222.crx").string(),
                         test::certificateDocument(other));

    clearCertificateStoreForTesting();
    auto client = openCertificateSource();
    ASSERT_TRUE(client);
    FakePkiSource second;
    certs::CertificateRecord again;
    ASSERT_TRUE(findCertificate(again, second, CertByCommonName, served.record.subjectCommonName().str()));
    EXPECT_EQ(again.id(), served.record.id());
    EXPECT_TRUE(second.requests.empty());
    certs::CertificateRecord skipped;
    EXPECT_FALSE(findCertificate(skipped, second, CertByHash, decoded(other).id().str()));
    EXPECT_EQ(second.requests.size(), 1u);
}

TEST_F(StoreTest, CachedEntryIsNotRewritten) {
    FakePkiSource source;
    const ServedCertificate served = serveCertificate(source);
    certs::CertificateRecord found;
    ASSERT_TRUE(findCertificate(found, source, CertByHash, served.record.id().str()));
    const std::string file = (cache_.path() / "Tessal.Sign.Certs" / (served.record.id().str() + ".crx")).string();
    test::writeWholeFile(file, "kept");

    clearCertificateStoreForTesting();
    ASSERT_TRUE(findCertificate(found, source, CertByHash, served.record.id().str()));
    EXPECT_EQ(source.requests.size(), 2u);
    EXPECT_EQ(test::readWholeFile(file), "kept");
}

TEST_F(StoreTest, CacheFolderOthersCanWriteIsNeitherReadNorWritten) {
    FakePkiSource source;
    const ServedCertificate served = serveCertificate(source);
    const std::filesystem::path folder = cache_.path() / "Tessal.Sign.Certs";
    std::filesystem::create_directories(folder);
    test::writeWholeFile((folder / (served.record.id().str() + ".crx")).string(), served.body);
    std::filesystem::permissions(folder, std::filesystem::perms::all);

    loadCertificateCache();
    certs::CertificateRecord found;
    ASSERT_TRUE(findCertificate(found, source, CertByHash, served.record.id().str()));
    EXPECT_EQ(source.requests.size(), 1u);

    // A foreign-writable entry in a private folder is not read either.
    const test::CertPlan otherPlan{{{"CN", "Kitas"}}};
    const data::Bytes other = test::makeCertificate(otherPlan);
    std::filesystem::permissions(folder, std::filesystem::perms::owner_all);
    const std::filesystem::path entry = folder / (decoded(other).id().str() + ".crx");
    test::writeWholeFile(entry.string(), test::certificateDocument(other));
    std::filesystem::permissions(entry, std::filesystem::perms::owner_read | std::filesystem::perms::others_write);
    clearCertificateStoreForTesting();
    loadCertificateCache();
    EXPECT_FALSE(findCertificate(found, source, CertByHash, decoded(other).id().str()));
}

TEST_F(StoreTest, MissingCacheFolderStillCountsAsLoaded) {
    loadCertificateCache();
    // Entries that appear later wait for the next process.
    FakePkiSource source;
    const ServedCertificate served = serveCertificate(source);
    const std::filesystem::path folder = cache_.path() / "Tessal.Sign.Certs";
    std::filesystem::create_directories(folder);
    std::filesystem::permissions(folder, std::filesystem::perms::owner_all);
    test::writeWholeFile((folder / (served.record.id().str() + ".crx")).string(), served.body);
    loadCertificateCache();
    certs::CertificateRecord found;
    ASSERT_TRUE(findCertificate(found, source, CertByHash, served.record.id().str()));
    EXPECT_EQ(source.requests.size(), 1u);
}

// ---- CRLs ----

data::Bytes crlOf(const std::string& issuer, std::optional<std::int64_t> nextUpdate = 0) {
    test::CrlPlan plan;
    plan.issuer = {{"CN", issuer}};
    if (nextUpdate && *nextUpdate != 0) plan.thisUpdate = *nextUpdate - 3600;
    plan.nextUpdate = nextUpdate;
    return test::makeCrl(plan);
}

certs::CrlRecord crlRecordOf(const data::Bytes& der) {
    const std::string document = test::crlDocument(der);
    return certs::CrlRecord(document.data(), document.size());
}

class CurrentCrlTest : public StoreTest {
protected:
    // Issuer common names come out of a record in lower case, so the CAs here
// are named in lower case throughout.
// Serves `issuers` as current CRLs 0, 1, ... and repeats the first after them.
    void serveCurrent(FakePkiSource& source, const std::vector<std::string>& issuers) {
        for (std::size_t i = 0; i <= issuers.size(); ++i) {
            const std::string& issuer = issuers[i % issuers.size()];
            source.answer(CrlByName, std::to_string(i), test::crlDocument(crlOf(issuer)));
        }
    }
    std::string nameOf(const certs::CrlRecord& crl) { return crl.issuerCommonName().str(); }
};

TEST_F(CurrentCrlTest, EmptyListIsRefreshedUpToTheRepeatOfTheFirst) {
    FakePkiSource source;
    serveCurrent(source, {"pirmas ca", "antras ca"});
    certs::CrlRecord found;
    ASSERT_TRUE(findCrl(source, found, CrlByName, "1"));
    EXPECT_EQ(nameOf(found), "antras ca");
    ASSERT_EQ(source.requests.size(), 3u);
    EXPECT_EQ(source.requests[2], std::make_pair(CrlByName, std::string("2")));

    // A list of two: position 2 is out of range.
    ASSERT_TRUE(findCrl(source, found, CrlByName, "2"));
    EXPECT_EQ(nameOf(found), "pirmas ca");
    EXPECT_EQ(source.requests.size(), 3u);
}

TEST_F(CurrentCrlTest, ShortKeysArePositions) {
    FakePkiSource source;
    serveCurrent(source, {"a ca", "b ca", "c ca"});
    ASSERT_TRUE(refreshCurrentCrls(source));
    const std::pair<std::string, std::string> cases[] = {
        {"2", "c ca"}, {"7", "a ca"}, {"", "a ca"}, {"-1", "a ca"}, {"1x", "b ca"}, {"abc", "a ca"}, {"c ca", "c ca"}};
    for (const auto& [key, issuer] : cases) {
        certs::CrlRecord found;
        ASSERT_TRUE(findCrl(source, found, CrlByName, key)) << key;
        EXPECT_EQ(nameOf(found), issuer) << key;
    }
    EXPECT_EQ(source.requests.size(), 4u);
}

TEST_F(CurrentCrlTest, ListIsRefreshedAfterFiveMinutes) {
    FakePkiSource source;
    serveCurrent(source, {"a ca"});
    certs::CrlRecord found;
    ASSERT_TRUE(findCrl(source, found, CrlByName, "0"));
    EXPECT_EQ(source.requests.size(), 2u);
    clock_ += 299;
    ASSERT_TRUE(findCrl(source, found, CrlByName, "0"));
    EXPECT_EQ(source.requests.size(), 2u);
    clock_ += 1;
    ASSERT_TRUE(findCrl(source, found, CrlByName, "0"));
    EXPECT_EQ(source.requests.size(), 4u);
}

TEST_F(CurrentCrlTest, FailedRefreshKeepsThePreviousList) {
    FakePkiSource source;
    serveCurrent(source, {"a ca", "b ca"});
    ASSERT_TRUE(refreshCurrentCrls(source));

    FakePkiSource broken;
    broken.answer(CrlByName, "0", test::crlDocument(crlOf("a ca")));
    broken.answer(CrlByName, "1", "<QualifyingProperties/>");
    EXPECT_FALSE(refreshCurrentCrls(broken));
    EXPECT_FALSE(broken.error().empty());

    certs::CrlRecord found;
    ASSERT_TRUE(findCrl(broken, found, CrlByName, "1"));
    EXPECT_EQ(nameOf(found), "b ca");

    // An old list whose refresh fails gives the service's reason.
    clock_ += 300;
    FakePkiSource silent;
    certs::CrlRecord none;
    EXPECT_FALSE(findCrl(silent, none, CrlByName, "1"));
    EXPECT_EQ(none.error().code, diag::errorCode(3005, 98));
}

TEST_F(CurrentCrlTest, StaleCrlIsRefreshedOnceThenRefused) {
    FakePkiSource source;
    const std::int64_t past = test::secondsNow() - 86400;
    source.answer(CrlByName, "0", test::crlDocument(crlOf("senas ca", past)));
    source.answer(CrlByName, "1", test::crlDocument(crlOf("senas ca", past)));
    ASSERT_TRUE(refreshCurrentCrls(source));
    ASSERT_EQ(source.requests.size(), 2u);
    certs::CrlRecord found;
    EXPECT_FALSE(findCrl(source, found, CrlByName, "0"));
    EXPECT_EQ(found.error().code, diag::errorCode(808, 70));
    // The stale CRL cost one refresh, not more.
    EXPECT_EQ(source.requests.size(), 4u);

    // Filling an empty list counts as the lookup's one refresh.
    clearCrlStoreForTesting();
    certs::CrlRecord again;
    EXPECT_FALSE(findCrl(source, again, CrlByName, "0"));
    EXPECT_EQ(again.error().code, diag::errorCode(808, 70));
    EXPECT_EQ(source.requests.size(), 6u);
}

TEST_F(CurrentCrlTest, LongNameNotInTheListIsFetchedAndKept) {
    FakePkiSource source;
    serveCurrent(source, {"pirmas ca"});
    ASSERT_TRUE(refreshCurrentCrls(source));
    source.answer(CrlByName, "papildomas ca", test::crlDocument(crlOf("papildomas ca")));

    certs::CrlRecord found;
    ASSERT_TRUE(findCrl(source, found, CrlByName, "papildomas ca"));
    EXPECT_EQ(nameOf(found), "papildomas ca");
    ASSERT_TRUE(findCrl(source, found, CrlByName, "papildomas ca"));
    EXPECT_EQ(nameOf(found), "papildomas ca");
    EXPECT_EQ(source.requests.size(), 3u);
    ASSERT_TRUE(findCrl(source, found, CrlByName, "1"));
    EXPECT_EQ(nameOf(found), "papildomas ca");

    // A name the service does not know has no CRL; the one held before is gone.
    EXPECT_FALSE(findCrl(source, found, CrlByName, "nezinomas ca"));
    EXPECT_FALSE(found.hasCrl());
    EXPECT_EQ(found.error().code, diag::errorCode(704, 69));

    // Another authority's CRL answered for a name is neither handed on nor
    // listed under that name.
    source.clearError();
    source.answer(CrlByName, "apsimetes ca", test::crlDocument(crlOf("pirmas ca")));
    certs::CrlRecord impostor;
    EXPECT_FALSE(findCrl(source, impostor, CrlByName, "apsimetes ca"));
    EXPECT_FALSE(impostor.hasCrl());
    EXPECT_EQ(impostor.error().code, diag::errorCode(704, 69));
    const std::size_t asked = source.requests.size();
    EXPECT_FALSE(findCrl(source, impostor, CrlByName, "apsimetes ca"));
    EXPECT_EQ(source.requests.size(), asked + 1);
}

// A service that, while it is asked, checks from another thread that
// neither store lock is held: a slow answer must not stall other lookups.
class LockProbingSource : public FakePkiSource {
public:
    bool request(std::optional<std::string_view> key, PkiQueryKind kind) override {
        std::thread probe([this] {
            const bool store = storeLock().try_lock();
            if (store) storeLock().unlock();
            const bool certificates = certificateLock().try_lock();
            if (certificates) certificateLock().unlock();
            if (!store || !certificates) ++requestsUnderLock;
        });
        probe.join();
        return FakePkiSource::request(key, kind);
    }
    int requestsUnderLock = 0;
};

TEST_F(CurrentCrlTest, NoStoreLockIsHeldWhileTheServiceIsAsked) {
    LockProbingSource source;
    serveCurrent(source, {"pirmas ca"});
    source.answer(CrlByName, "papildomas ca", test::crlDocument(crlOf("papildomas ca")));
    const data::Bytes crlDer = crlOf("kitas ca");
    const certs::CrlRecord byHash = crlRecordOf(crlDer);
    source.answer(CrlByHash, byHash.id().str(), test::crlDocument(crlDer));
    const ServedCertificate served = serveCertificate(source);

    certs::CrlRecord found;
    ASSERT_TRUE(findCrl(source, found, CrlByName, "0"));                 // refresh
    ASSERT_TRUE(findCrl(source, found, CrlByName, "papildomas ca"));     // long name fetched
    EXPECT_EQ(nameOf(found), "papildomas ca");
    ASSERT_TRUE(findCrl(source, found, CrlByHash, byHash.id().str()));  // by hash
    certs::CertificateRecord certificate;
    ASSERT_TRUE(findCertificate(certificate, source, CertByHash, served.record.id().str()));
    EXPECT_EQ(source.requests.size(), 5u);
    EXPECT_EQ(source.requestsUnderLock, 0);
}

TEST_F(CurrentCrlTest, LongNameFetchedPastItsNextUpdateIsRefused) {
    FakePkiSource source;
    serveCurrent(source, {"pirmas ca"});
    ASSERT_TRUE(refreshCurrentCrls(source));
    source.answer(CrlByName, "pasenes ca", test::crlDocument(crlOf("pasenes ca", test::secondsNow() - 86400)));
    certs::CrlRecord found;
    EXPECT_FALSE(findCrl(source, found, CrlByName, "pasenes ca"));
    EXPECT_EQ(found.error().code, diag::errorCode(808, 70));
}

TEST_F(CurrentCrlTest, ByHashFromTheServiceThenFromTheStore) {
    FakePkiSource source;
    const data::Bytes der = crlOf("hash ca");
    const certs::CrlRecord expected = crlRecordOf(der);
    source.answer(CrlByHash, expected.id().str(), test::crlDocument(der));

    certs::CrlRecord found;
    ASSERT_TRUE(findCrl(source, found, static_cast<PkiQueryKind>(CrlByHash | Base64Key), expected.idBase64().str()));
    EXPECT_EQ(found.id(), expected.id());
    ASSERT_TRUE(findCrl(source, found, CrlByHash, expected.id().str()));
    EXPECT_EQ(source.requests.size(), 1u);

    // The current CRLs are kept by hash as well.
    serveCurrent(source, {"a ca"});
    ASSERT_TRUE(refreshCurrentCrls(source));
    certs::CrlRecord current;
    ASSERT_TRUE(findCrl(source, current, CrlByName, "0"));
    const std::size_t before = source.requests.size();
    ASSERT_TRUE(findCrl(source, found, CrlByHash, current.id().str()));
    EXPECT_EQ(source.requests.size(), before);

    // An answer that is another CRL than the hash names is not kept.
    const std::string wrongKey(40, 'A');
    source.answer(CrlByHash, wrongKey, test::crlDocument(der));
    EXPECT_FALSE(findCrl(source, found, CrlByHash, wrongKey));
    EXPECT_FALSE(found.hasCrl());
    EXPECT_EQ(found.error().code, diag::errorCode(704, 69));
    source.clearError();
    EXPECT_FALSE(findCrl(source, found, CrlByHash, wrongKey));
    EXPECT_EQ(source.requests.size(), before + 2);
}

TEST_F(CurrentCrlTest, CrlFailures) {
    FakePkiSource source;
    certs::CrlRecord found;
    EXPECT_FALSE(findCrl(source, found, CertByHash, "AB"));
    EXPECT_EQ(found.error().code, diag::errorCode(703, 69));

    certs::CrlRecord missing;
    EXPECT_FALSE(findCrl(source, missing, CrlByHash, "AB"));
    EXPECT_EQ(missing.error().code, diag::errorCode(3005, 98));
    source.clearError();

    source.answer(CrlByHash, "CD", "<QualifyingProperties/>");
    certs::CrlRecord damaged;
    EXPECT_FALSE(findCrl(source, damaged, CrlByHash, "CD"));
    EXPECT_TRUE(damaged.holdsError());
}

TEST_F(CurrentCrlTest, CrlByUrl) {
    FakePkiSource source;
    serveCurrent(source, {"a ca", "b ca", "c ca", "d ca"});
    certs::CrlRecord found;
    ASSERT_TRUE(findCrlByUrl("http://pki.example/pki/crl/3.crl", found, source));
    EXPECT_EQ(nameOf(found), "d ca");

    certs::CrlRecord bad;
    EXPECT_FALSE(findCrlByUrl("http://pki.example/pki/crl/?x&1", bad, source));
    EXPECT_EQ(bad.error().code, diag::errorCode(702, 69));
}

}  // namespace
}  // namespace tessal::pki
