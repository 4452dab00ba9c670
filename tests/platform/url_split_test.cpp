// The library-free URL splitter gives what libcurl's own parser gives, parts
// and failures alike, over URLs chosen to reach every rule and over
// combinations of the pieces where the rules meet.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/curl_library.h"
#include "platform/url_oracle.h"

namespace tessal::platform {
namespace {

void expectSameSplit(const std::vector<std::string>& urls) {
    for (const std::string& url : urls) {
        const std::string difference = testing::splitDifference(url);
        EXPECT_TRUE(difference.empty()) << '"' << url << "\": " << difference;
    }
}

TEST(UrlSplit, AgreesWithTheLibraryOnSchemesAndSlashes) {
    expectSameSplit({"http://a/b", "HTTP://A/B", "HtTpS://a", "http:/a/b", "http:///a/b", "http:////a/b", "http:a/b",
                     "http:\\\\a\\b", "http:/\\a", "a/b", "//a/b", "", "http", "http:", "http:/", "http://", "://a",
                     ":a", "ftp://a/b", "ftp:a", "ftp:///x", "ftp://", "foo://a/b", "foo:", "foo:\x01",
                     "ws://a/", "rtmpte://a/", "1://x", "+http://a", "-a://x", ".a://x", "_a://x", "a~://x",
                     std::string(40, 'a') + "://x", std::string(41, 'a') + "://x", " http://a",
                     "file:", "file:/", "file:x", "file:a", "file:xy", "file:/x", "file:?", "file:?a", "file:#a",
                     "file://", "file:///", "file://localhost", "file://localhost/x", "file://LOCALHOST/x",
                     "file://127.0.0.1/x", "file://h/x", "file://localhost:80/x", "file:a:", "file:a|/", "file:ab:/",
                     "file:/c:/x", "file:///c|/x", "file:////c:/x", "file:///c:", "file:///c:x", "file:///c:\\x",
                     "file:\x01?1", "file:\x01\x01", "file:///\x01", "file:///a?\x01", "file:/x#\x7f"});
}

TEST(UrlSplit, AgreesWithTheLibraryOnHostsAndPorts) {
    expectSameSplit({"http://u:p@a/b", "http://u@v@a/b", "http://a/b@c", "http://@a/", "http://u@/", "http://[::1]@a/",
                     "http://u\x01@a/", "http://a:/", "http://a:x/", "http://a:0/", "http://a:0080/", "http://a:65535/",
                     "http://a:65536/", "http://a:00065536/", "http://a:99999999999999999999/", "http://a:+80/",
                     "http://a::80/", "http://a:80:80/", "http://:80/", "http://a b/", "http:// a", "http://a ",
                     "http://A.B/", "http://ä/", "http://a%41/", "http://a%41%zz/", "http://a%/", "http://a%2/",
                     "http://a%00/", "http://a%0a/", "http://a%2f/", "http://a%3a/", "http://a%20b/", "http://a%7f/",
                     "http://a%ff/", "http://%31%32%37.1/", "http://a_b/", "http://a|b/", "http://a\\b/", "http://a!b/",
                     "http://a[b/", "http://a]/", "http://a[::1]/"});
    expectSameSplit({"http://127.1/", "http://0x7f.1/", "http://0X7F.1/", "http://0177.0.0.1/", "http://4294967295/",
                     "http://4294967296/", "http://0xffffffff/", "http://0x100000000/", "http://1.16777215/",
                     "http://1.16777216/", "http://1.2.65535/", "http://1.2.65536/", "http://1.2.3.256/",
                     "http://1.2.3.4.5/", "http://1.2.3./", "http://.1.2.3/", "http://1..2/", "http://08/",
                     "http://09.1/", "http://0x/", "http://0x1g/", "http://1e3/", "http://+1/", "http://-1/",
                     "http://00000000000000000000001/", "http://" + std::string(30, '9') + "/"});
    expectSameSplit({"http://[::1]/", "http://[::1", "http://[::1]x/", "http://[::1]:8080/", "http://[::1]:/",
                     "http://[::1]]/", "http://::1/", "http://[]/", "http://[:]/", "http://[1::2::3]/", "http://[v1.x]/",
                     "http://[FE80::1]/", "http://[FE80:0::1]/", "http://[0:0:0:0:0:0:0:1]/", "http://[::0]/",
                     "http://[::1:2:3:4:5:6:7]/", "http://[1::2:3:4:5:6:7]/", "http://[::ffff:0102:0304]/",
                     "http://[::FFFF:1.2.3.4]/", "http://[::ffff:1.2.3.04]/", "http://[fe80::1%25eth0]/",
                     "http://[fe80::1%eth0]/", "http://[fe80::1%25]/", "http://[fe80::1%]/", "http://[fe80::1%2]/",
                     "http://[fe80::1%25a b]/", "http://[fe80::1%25a]b/", "http://[fe80::1%25" + std::string(15, 'a') + "]/",
                     "http://[fe80::1%25" + std::string(16, 'a') + "]/", "http://[fe80::1%" + std::string(16, 'a') + "]/",
                     "http://[%3a:1]/", "http://%5b::1%5d/"});
}

TEST(UrlSplit, AgreesWithTheLibraryOnPathsQueriesAndFragments) {
    expectSameSplit({"http://a/b c", "http://a/b c?d e#f g", "http://a/ ", "http://a/\x01", "http://a/?\x01",
                     "http://a/#\x7f", "http://a/\x80\xff", "http://a/b\\c", "http://a?b#c", "http://a#b?c", "http://a?",
                     "http://a?#", "http://a#", "http://a/b?c?d#e#f", "http://a:80?x", "http://a:80#x",
                     "http://a/%zz", "http://a/%2e%2e/", "http://a/b/..?x/../y", "http://a/b/.#/../"});
    // Dot segments in every position, with and without a following slash.
    std::vector<std::string> urls;
    const char* segments[] = {"", ".", "..", "...", ".a", "a.", "b"};
    for (const char* first : segments)
        for (const char* second : segments)
            for (const char* third : segments)
                for (const char* end : {"", "/", "?q", "#f"}) {
                    urls.push_back(std::string("http://h/") + first + "/" + second + "/" + third + end);
                }
    expectSameSplit(urls);
}

TEST(UrlSplit, AgreesWithTheLibraryOnCombinedPieces) {
    std::vector<std::string> urls;
    for (const char* scheme : {"http:", "https:", "HTTPS:", "ftp:", "file:", "foo:"})
        for (const char* slashes : {"/", "//", "///", "////"})
            for (const char* user : {"", "u:p@", "@"})
                for (const char* host : {"a", "", "127.1", "[::1]", "[fe80::1%25x]", "%41", "localhost", "c:"})
                    for (const char* port : {"", ":", ":8080", ":x"})
                        for (const char* rest : {"", "/p", "?q", "#f", "/./../x"}) {
                            urls.push_back(std::string(scheme) + slashes + user + host + port + rest);
                        }
    expectSameSplit(urls);
}

TEST(UrlSplit, CutsAtTheFirstNulAndRefusesOverlongInput) {
    std::string withNul("http://a/b\0c", 12);
    std::string overlong = "http://a/";
    overlong.resize(8000001, 'a');
    std::string longest = "http://a/";
    longest.resize(8000000, 'a');
    std::string overlongForeign = "foo://a/";
    overlongForeign.resize(8000001, 'a');
    expectSameSplit({withNul, overlong, longest, overlongForeign});
}

TEST(CurlLibrary, MissingLibraryOrEntryPointsGiveNothing) {
    EXPECT_FALSE(openCurlLibrary("libtessal-absent.so.0"));
    // A library that opens but lacks the entry points.
    EXPECT_FALSE(openCurlLibrary("libz.so.1"));
    ASSERT_NE(curlLibrary(), nullptr);
}

}  // namespace
}  // namespace tessal::platform
