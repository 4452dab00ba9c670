#include "pki/domain_list.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "diagnostics/log_file.h"
#include "support/test_support.h"

namespace tessal::pki {
namespace {

using Entries = std::vector<PkiDomainEntry>;

// ---------------------------------------------------------------- normalising

struct NormaliseCase {
    std::string_view text;
    std::optional<std::string_view> scheme;
    std::uint16_t port;
    PkiDomainEntry expected;
};

TEST(NormaliseDomain, SchemePrefixPortAndCase) {
    const NormaliseCase cases[] = {
        {"https://A.Example:8443/", std::nullopt, 0, {"https", "a.example", 8443}},
        {"a.example", std::nullopt, 0, {"http", "a.example", 80}},
        {"a.example", "HTTPS", 0, {"https", "a.example", 443}},
        // A given https is not lowered by an http:// prefix.
        {"http://a.example", "https", 0, {"https", "a.example", 443}},
        {"HTTP://a.example", std::nullopt, 0, {"http", "a.example", 80}},
        {"https:\\\\a.example", std::nullopt, 0, {"https", "a.example", 443}},
        {"a.example:abc", std::nullopt, 0, {"http", "a.example", 80}},
        {"a.example:8080", std::nullopt, 0, {"http", "a.example", 8080}},
        {"a.example:81x", std::nullopt, 0, {"http", "a.example", 81}},
        // The text's port replaces the argument; without one the argument stays.
        {"a.example:8080", std::nullopt, 9000, {"http", "a.example", 8080}},
        {"a.example", std::nullopt, 9000, {"http", "a.example", 9000}},
        // Ports are kept to 16 bits.
        {"a.example:65617", std::nullopt, 0, {"http", "a.example", 81}},
        {"a.example:65536", std::nullopt, 0, {"http", "a.example", 80}},
        {"a.example:99999999999999999999", std::nullopt, 0, {"http", "a.example", 65535}},
        {" \t./a.example/.:\r\n", std::nullopt, 0, {"http", "a.example", 80}},
        {"a.example/pki", std::nullopt, 0, {"http", "a.example/pki", 80}},
        {"x.example:1:2", std::nullopt, 0, {"http", "x.example:1", 2}},
        {"a.example", "ftp", 0, {"http", "a.example", 80}},
        {"a.example", "", 0, {"http", "a.example", 80}},
        {"https://", std::nullopt, 0, {"https", "", 443}},
        {"", std::nullopt, 0, {"http", "", 80}},
        {std::string_view("a.example\0b.example", 19), std::nullopt, 0, {"http", "a.example", 80}},
    };
    for (const NormaliseCase& c : cases) {
        EXPECT_EQ(normaliseDomain(c.text, c.scheme, c.port), c.expected) << c.text;
    }
}

TEST(NormaliseDomain, HostsThatBeginWithHttpKeepTheirName) {
    EXPECT_EQ(normaliseDomain("httpd.example", std::nullopt, 0), (PkiDomainEntry{"http", "httpd.example", 80}));
    EXPECT_EQ(normaliseDomain("https.example", std::nullopt, 0), (PkiDomainEntry{"http", "https.example", 80}));
    EXPECT_EQ(normaliseDomain("HttpBin.example:8000", "https", 0),
              (PkiDomainEntry{"https", "httpbin.example", 8000}));
    EXPECT_EQ(normaliseDomain("http://httpd.example", std::nullopt, 0),
              (PkiDomainEntry{"http", "httpd.example", 80}));
}

TEST(NormaliseDomain, NonAsciiBytesAreNotLowered) {
    // Bytes of a multi-byte character must not be changed by lower-casing.
    EXPECT_EQ(normaliseDomain("\xC5\xA0Ilas.Example", std::nullopt, 0).host, "\xC5\xA0ilas.example");
}

// ---------------------------------------------------------------- tokenising

TEST(SplitDomainList, RunsOfSeparatorsGiveNoEmptyTokens) {
    using V = std::vector<std::string_view>;
    EXPECT_EQ(splitDomainList("a.example; b.example,c.example"), (V{"a.example", "b.example", "c.example"}));
    EXPECT_EQ(splitDomainList(",;\t\r\n a \n\n b ,"), (V{"a", "b"}));
    EXPECT_EQ(splitDomainList(""), V{});
    EXPECT_EQ(splitDomainList(" ,;\r\n\t"), V{});
    EXPECT_EQ(splitDomainList(std::string_view("a b\0c d", 7)), (V{"a", "b"}));
    EXPECT_EQ(splitDomainList("https://a.example:8443/pki"), (V{"https://a.example:8443/pki"}));
}

// ---------------------------------------------------------------- the process-wide list

// Each test starts with an empty list and its own global log, and reads back
// the trace messages without their time and process prefix.
class DomainListTest : public ::testing::Test {
protected:
    void SetUp() override {
        resetDomainsForTesting();
        logPath_ = dir_.file("global.log");
        diag::setGlobalLogPathForTesting(logPath_);
    }
    void TearDown() override {
        diag::setGlobalLogPathForTesting("");
        resetDomainsForTesting();
        unsetenv("TESSAL_CONFIG");
    }

    std::vector<std::string> traces() const {
        std::vector<std::string> messages;
        const std::string log = test::readWholeFile(logPath_);
        std::size_t start = 0;
        while (start < log.size()) {
            std::size_t end = log.find("\r\n", start);
            if (end == std::string::npos) end = log.size();
            const std::string line = log.substr(start, end - start);
            const std::size_t marker = line.find("  I  [");
            const std::size_t body = marker == std::string::npos ? std::string::npos : line.find("] ", marker);
            if (body != std::string::npos) messages.push_back(line.substr(body + 2));
            start = end + 2;
        }
        return messages;
    }

    void writeConfig(const std::string& body) {
        const std::string path = dir_.file("tessal.conf");
        test::writeWholeFile(path, body);
        setenv("TESSAL_CONFIG", path.c_str(), 1);
    }

    test::TempDir dir_;
    std::string logPath_;
};

using Lines = std::vector<std::string>;

TEST_F(DomainListTest, SetDomainsListsEveryEntryAndUsesTheFirst) {
    pkiDomainList().exchangeCurrentIndex(2);
    setDomains("a.example; b.example,c.example");
    EXPECT_EQ(pkiDomainList().entries(), (Entries{{"http", "a.example", 80},
                                                  {"http", "b.example", 80},
                                                  {"http", "c.example", 80}}));
    EXPECT_EQ(pkiDomainList().currentIndex(), 0);
    EXPECT_EQ(traces(), (Lines{"Nustatytas viešojo rakto infrastruktūros domenų sąrašas:",
                               "http://a.example",
                               "http://b.example",
                               "http://c.example",
                               "Naudojama viešojo rakto infrastruktūra srityje \"http://a.example\""}));
}

TEST_F(DomainListTest, OneEntryTracesOnlyTheDomainInUseWithoutPort) {
    setDomains("HTTPS://Pki.Example:8443");
    EXPECT_EQ(pkiDomainList().entries(), (Entries{{"https", "pki.example", 8443}}));
    EXPECT_EQ(traces(), (Lines{"Naudojama viešojo rakto infrastruktūra srityje \"https://pki.example\""}));
}

TEST_F(DomainListTest, EmptyTextEmptiesTheList) {
    setDomains("a.example");
    setDomains(" ;, ");
    EXPECT_EQ(pkiDomainList().count(), 0u);
    EXPECT_EQ(traces().back(), "Nenustatyta viešojo rakto infrastruktūros objektų išrinkimo sritis.");
}

TEST_F(DomainListTest, SetDomainsReplacesWhatWasListed) {
    setDomains("a.example b.example");
    setDomains("c.example");
    EXPECT_EQ(pkiDomainList().entries(), (Entries{{"http", "c.example", 80}}));
}

TEST_F(DomainListTest, FirstEntryOfAHostWins) {
    addDomain("a.example", std::nullopt, 0);
    addDomain("a.example:8080", "https", 0);
    addDomain("HTTPS://A.EXAMPLE", std::nullopt, 0);
    EXPECT_EQ(pkiDomainList().entries(), (Entries{{"http", "a.example", 80}}));
    // addDomain alone does not publish.
    EXPECT_TRUE(traces().empty());

    setDomains("b.example,a.example,B.example:81,b.example.");
    EXPECT_EQ(pkiDomainList().entries(), (Entries{{"http", "b.example", 80}, {"http", "a.example", 80}}));
}

TEST_F(DomainListTest, BrowserDomainIsAddedToTheListAndMadeCurrent) {
    setDomains("a.example,b.example");
    pkiDomainList().exchangeCurrentIndex(1);
    setBrowserDomain("Page.Example", "HTTPS", 0);
    EXPECT_EQ(pkiDomainList().entries(), (Entries{{"http", "a.example", 80},
                                                  {"http", "b.example", 80},
                                                  {"https", "page.example", 443}}));
    EXPECT_EQ(pkiDomainList().currentIndex(), 0);

    // A page from a listed host adds nothing, but publishes again.
    const std::size_t before = traces().size();
    setBrowserDomain("a.example", "https", 8443);
    EXPECT_EQ(pkiDomainList().count(), 3u);
    EXPECT_EQ(pkiDomainList().entry(0), (PkiDomainEntry{"http", "a.example", 80}));
    EXPECT_EQ(traces().size(), before + 5);
}

TEST_F(DomainListTest, BrowserDomainOnAnEmptyList) {
    setBrowserDomain("pki.example", "http", 8080);
    EXPECT_EQ(pkiDomainList().entries(), (Entries{{"http", "pki.example", 8080}}));
    EXPECT_EQ(traces(), (Lines{"Naudojama viešojo rakto infrastruktūra srityje \"http://pki.example\""}));
}

TEST_F(DomainListTest, EntryCopiesAreBoundedByTheList) {
    setDomains("a.example");
    EXPECT_EQ(pkiDomainList().entry(0), (PkiDomainEntry{"http", "a.example", 80}));
    EXPECT_EQ(pkiDomainList().entry(1), std::nullopt);
    EXPECT_EQ(pkiDomainList().exchangeCurrentIndex(5), 0);
    EXPECT_EQ(pkiDomainList().currentIndex(), 5);
}

TEST_F(DomainListTest, DefaultDomainsReplaceTheList) {
    setDomains("old.example");
    writeConfig("[SOFTWARE\\Classes\\Tessal.Sign]\ndefaultPkiDomain = https://a.example; b.example:81\n");
    loadDefaultDomains();
    EXPECT_EQ(pkiDomainList().entries(), (Entries{{"https", "a.example", 443}, {"http", "b.example", 81}}));
    EXPECT_EQ(traces().back(), "Naudojama viešojo rakto infrastruktūra srityje \"https://a.example\"");
}

TEST_F(DomainListTest, UnreadableDefaultDomainsChangeNothing) {
    setDomains("old.example");
    const std::size_t before = traces().size();

    writeConfig("[SOFTWARE\\Classes\\Tessal.Sign]\nlogFilePath = /nowhere\n");
    loadDefaultDomains();
    writeConfig("[SOFTWARE\\Classes\\Tessal.Sign]\ndefaultPkiDomain = " + std::string(10241, 'a') + "\n");
    loadDefaultDomains();
    setenv("TESSAL_CONFIG", dir_.file("missing.conf").c_str(), 1);
    loadDefaultDomains();

    EXPECT_EQ(pkiDomainList().entries(), (Entries{{"http", "old.example", 80}}));
    EXPECT_EQ(traces().size(), before);
}

TEST_F(DomainListTest, DefaultDomainsAtTheBufferLimitAreRead) {
    writeConfig("[SOFTWARE\\Classes\\Tessal.Sign]\ndefaultPkiDomain = " + std::string(10240, 'a') + "\n");
    loadDefaultDomains();
    ASSERT_EQ(pkiDomainList().count(), 1u);
    EXPECT_EQ(pkiDomainList().entry(0)->host, std::string(10240, 'a'));
}

TEST_F(DomainListTest, ConcurrentAdditionsKeepHostsUnique) {
    diag::setGlobalLogPathForTesting("");
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([] {
            for (int i = 0; i < 50; ++i) setBrowserDomain("h" + std::to_string(i) + ".example", "http", 0);
        });
    }
    for (std::thread& thread : threads) thread.join();
    const Entries entries = pkiDomainList().entries();
    ASSERT_EQ(entries.size(), 50u);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        for (std::size_t j = i + 1; j < entries.size(); ++j) EXPECT_NE(entries[i].host, entries[j].host);
    }
}

// Every Sign object outside a browser loads the configured domains when it
// starts; a verification on another thread meanwhile must never find the list
// empty or half-filled.
TEST_F(DomainListTest, ReplacingTheListIsSeenWholeByOtherThreads) {
    diag::setGlobalLogPathForTesting("");
    setDomains("a.example,b.example");
    constexpr int kReplacements = 20000;
    std::atomic<int> replaced{0};
    std::thread writer([&] {
        for (int i = 0; i < kReplacements; ++i) {
            setDomains("a.example,b.example");
            ++replaced;
        }
    });
    // Reads for as long as the writer works, so the two overlap.
    std::size_t partial = 0;
    while (replaced < kReplacements) {
        if (pkiDomainList().entries().size() != 2) ++partial;
    }
    writer.join();
    EXPECT_EQ(partial, 0u);
}

}  // namespace
}  // namespace tessal::pki
