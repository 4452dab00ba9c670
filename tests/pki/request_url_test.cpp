#include "pki/request_url.h"

#include <gtest/gtest.h>

#include <string>

namespace tessal::pki {
namespace {

constexpr std::string_view kBase = "http://pki.invalid/pki/";

std::string built(std::optional<std::string_view> key, PkiQueryKind kind) {
    diag::ErrorRecord error;
    std::string url;
    EXPECT_TRUE(buildRequestUrl(key, kind, url, error)) << kind;
    EXPECT_TRUE(error.empty());
    EXPECT_EQ(error.code, 0);
    return url;
}

TEST(RequestUrl, EveryServiceFormWithItsKey) {
    const std::string b(kBase);
    EXPECT_EQ(built("0A1B", CertByHash), b + "cert/?hex&0A1B");
    EXPECT_EQ(built("0A1B", CertByKeyHash), b + "cert/?pkhex&0A1B");
    EXPECT_EQ(built("CN=A B", CertBySubject), b + "cert/?subject&CN=A%20B");
    EXPECT_EQ(built("CN=Issuer CA, O=X Y&0A 1B", CertByIssuerSerial),
              b + "cert/?issuerserial&CN=Issuer%20CA,%20O=X%20Y&0A%201B");
    EXPECT_EQ(built("FFEE", CrlByHash), b + "crl/?hex&FFEE");
    EXPECT_EQ(built("3", CrlByName), b + "crl/3.htm");
    EXPECT_EQ(built("issuer ca", CrlByName), b + "crl/issuer%20ca.htm");
    EXPECT_EQ(built("AbC+/=", CertByHash | Base64Key), b + "cert/?AbC+/=");
    EXPECT_EQ(built("AbC+/=", CertByKeyHash | Base64Key), b + "cert/?pk&AbC+/=");
    EXPECT_EQ(built("AbC+/=", CrlByHash | Base64Key), b + "crl/?AbC+/=");
}

TEST(RequestUrl, SpacesAreEscapedOnlyInNameForms) {
    const std::string b(kBase);
    EXPECT_EQ(built("A B", CertByHash), b + "cert/?hex&A B");
    EXPECT_EQ(built("A B", CertByKeyHash), b + "cert/?pkhex&A B");
    EXPECT_EQ(built("A B", CrlByHash), b + "crl/?hex&A B");
    EXPECT_EQ(built("A B", CertByHash | Base64Key), b + "cert/?A B");
    EXPECT_EQ(built("A B", CertByKeyHash | Base64Key), b + "cert/?pk&A B");
    EXPECT_EQ(built("A B", CrlByHash | Base64Key), b + "crl/?A B");
    // Nothing but the space is escaped, the percent sign included.
    EXPECT_EQ(built("O=100% ok&#?", CertBySubject), b + "cert/?subject&O=100%%20ok&#?");
    EXPECT_EQ(built("  ", CrlByName), b + "crl/%20%20.htm");
}

TEST(RequestUrl, EmptyAndAbsentKeys) {
    const std::string b(kBase);
    EXPECT_EQ(built(std::nullopt, CertByHash), b + "cert/?hex&");
    EXPECT_EQ(built("", CertBySubject), b + "cert/?subject&");
    EXPECT_EQ(built("", CrlByName), b + "crl/");
    EXPECT_EQ(built(std::nullopt, CrlByName), b + "crl/");
    // The key ends at its first NUL, and an empty key gets no ".htm".
    EXPECT_EQ(built(std::string_view("\0x", 2), CrlByName), b + "crl/");
    EXPECT_EQ(built(std::string_view("ab\0cd", 5), CertByHash), b + "cert/?hex&ab");
}

TEST(RequestUrl, KindsWithoutServiceFormFail) {
    for (const PkiQueryKind kind : {PkiQueryKind{3}, CertByCommonName, PkiQueryKind{CertBySubject | Base64Key},
                                    PkiQueryKind{CrlByName | Base64Key}, PkiQueryKind{0x2000}, PkiQueryKind{CertByCommonName | Base64Key},
                                    PkiQueryKind{0xFFFF}}) {
        diag::ErrorRecord error;
        std::string url = "stale";
        EXPECT_FALSE(buildRequestUrl("0A1B", kind, url, error)) << kind;
        EXPECT_TRUE(url.empty());
        EXPECT_EQ(error.code, diag::errorCode(3010, 80));
        EXPECT_EQ(error.lastError, 0u);
        EXPECT_EQ(error.text.str(), "Funkcijai perduoti neteisingi parametrai : 73010080;\r\n");
        EXPECT_FALSE(endpointForm(kind).has_value());
    }
}

TEST(RequestUrl, FailureIsAddedInFrontOfEarlierEntries) {
    diag::ErrorRecord error;
    diag::recordErrorCode(error, 0, 3001, 91, {u"earlier"});
    std::string url;
    EXPECT_FALSE(buildRequestUrl("x", CertByCommonName, url, error));
    EXPECT_EQ(error.text.str(),
              "Funkcijai perduoti neteisingi parametrai : 73010080;\r\n"
              "earlier : 73001091;\r\n");
}

TEST(RequestUrl, LengthLimitCountsTheWholeUrl) {
    const std::size_t room = kMaxRequestUrlLength - kBase.size();

    const std::string fits(room - std::string_view("cert/?hex&").size(), 'A');
    EXPECT_EQ(built(fits, CertByHash).size(), kMaxRequestUrlLength);

    diag::ErrorRecord error;
    std::string url;
    EXPECT_FALSE(buildRequestUrl(fits + "A", CertByHash, url, error));
    EXPECT_TRUE(url.empty());
    EXPECT_EQ(error.code, diag::errorCode(3010, 80));

    // Escaping and the ".htm" suffix count as well.
    const std::string name(room - std::string_view("crl/").size() - 4, 'n');
    EXPECT_EQ(built(name, CrlByName).size(), kMaxRequestUrlLength);
    diag::ErrorRecord escaped;
    EXPECT_FALSE(buildRequestUrl(name.substr(1) + " ", CrlByName, url, escaped));
    EXPECT_EQ(escaped.code, diag::errorCode(3010, 80));
}

}  // namespace
}  // namespace tessal::pki
