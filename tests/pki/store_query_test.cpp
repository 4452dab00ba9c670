#include "pki/store_query.h"

#include <gtest/gtest.h>

#include <string>

namespace tessal::pki {
namespace {

constexpr PkiQueryKind kCertHashBase64 = CertByHash | Base64Key;
constexpr PkiQueryKind kCrlHashBase64 = CrlByHash | Base64Key;
const std::string kCert = "http://pki.example/pki/cert/";
const std::string kCrl = "http://pki.example/pki/crl/";

std::optional<StoreQuery> certificateQuery(const std::string& url, diag::ErrorRecord* error = nullptr) {
    diag::ErrorRecord local;
    return certificateQueryOfUrl(url, error ? *error : local);
}

std::optional<StoreQuery> crlQuery(const std::string& url, diag::ErrorRecord* error = nullptr) {
    diag::ErrorRecord local;
    return crlQueryOfUrl(url, error ? *error : local);
}

TEST(KeyPreparation, Base64KeyBecomesHexAndTheBitIsCleared) {
    EXPECT_EQ(prepareQuery(kCertHashBase64, "q80="), (StoreQuery{CertByHash, "ABCD"}));
    EXPECT_EQ(prepareQuery(kCrlHashBase64, "q80="), (StoreQuery{CrlByHash, "ABCD"}));
    // A key that does not decode stays as it is.
    EXPECT_EQ(prepareQuery(kCertHashBase64, ""), (StoreQuery{CertByHash, ""}));
    EXPECT_EQ(prepareQuery(CertByHash, "q80="), (StoreQuery{CertByHash, "q80="}));
    // Common names are matched lower-cased (ASCII only).
    EXPECT_EQ(prepareQuery(CertByCommonName, "Name X"), (StoreQuery{CertByCommonName, "name x"}));
    EXPECT_EQ(prepareQuery(CrlByName, "Some CA \xC4\x84"), (StoreQuery{CrlByName, "some ca \xC4\x84"}));
    EXPECT_EQ(prepareQuery(CertBySubject, "CN=Name X"), (StoreQuery{CertBySubject, "CN=Name X"}));
}

TEST(CertificateUrl, QueryWords) {
    EXPECT_EQ(certificateQuery(kCert + "?hex&ABCD"), (StoreQuery{CertByHash, "ABCD"}));
    EXPECT_EQ(certificateQuery(kCert + "?HeX&ABCD"), (StoreQuery{CertByHash, "ABCD"}));
    EXPECT_EQ(certificateQuery(kCert + "?pkhex&AB%20"), (StoreQuery{CertByKeyHash, "AB%20"}));
    EXPECT_EQ(certificateQuery(kCert + "?pk&q80="), (StoreQuery{CertByKeyHash | Base64Key, "q80="}));
    EXPECT_EQ(certificateQuery(kCert + "?subject&CN=Ona%20Onait\xEB"), (StoreQuery{CertBySubject, "CN=Ona Onaitė"}));
    EXPECT_EQ(certificateQuery(kCert + "?issuerserial&CN=CA&12"), (StoreQuery{CertByIssuerSerial, "CN=CA&12"}));
    EXPECT_EQ(certificateQuery(kCert + "?q80="), (StoreQuery{kCertHashBase64, "q80="}));
}

TEST(CertificateUrl, PathNamesACommonName) {
    EXPECT_EQ(certificateQuery(kCert + "Name%20X.cer"), (StoreQuery{CertByCommonName, "Name X"}));
    EXPECT_EQ(certificateQuery(kCert + "a.b.cer"), (StoreQuery{CertByCommonName, "a.b"}));
    EXPECT_EQ(certificateQuery(kCert + "Plain"), (StoreQuery{CertByCommonName, "Plain"}));
    // Windows-1257 bytes written as escapes are not Baltic text any more; raw ones are.
    EXPECT_EQ(certificateQuery(kCert + "\xE0s.cer"), (StoreQuery{CertByCommonName, "ąs"}));
}

TEST(CertificateUrl, Failures) {
    diag::ErrorRecord error;
    EXPECT_FALSE(certificateQuery(kCert + "?serial&1", &error));
    EXPECT_EQ(error.code, diag::errorCode(903, 67));
    // A word must match whole.
    EXPECT_FALSE(certificateQuery(kCert + "?he&AB", &error));

    diag::ErrorRecord split;
    EXPECT_FALSE(certificateQuery("no url", &split));
    EXPECT_EQ(split.code, diag::errorCode(901, 25));
    EXPECT_NE(split.text.str().find("Interneto funkcijų paketo klaida"), std::string::npos);
    EXPECT_NE(split.text.str().find("no url"), std::string::npos);

    diag::ErrorRecord tooLong;
    EXPECT_FALSE(certificateQuery(kCert + "?hex&" + std::string(2048, 'A'), &tooLong));
    EXPECT_EQ(tooLong.code, diag::errorCode(901, 25));
    EXPECT_TRUE(certificateQuery(kCert + "?hex&" + std::string(2047 - 5, 'A')));
}

TEST(CrlUrl, Forms) {
    EXPECT_EQ(crlQuery(kCrl + "3.crl"), (StoreQuery{CrlByName, "3"}));
    EXPECT_EQ(crlQuery(kCrl + "Some%20CA.x.crl"), (StoreQuery{CrlByName, "Some CA"}));
    EXPECT_EQ(crlQuery("http://pki.example"), (StoreQuery{CrlByName, ""}));
    EXPECT_EQ(crlQuery(kCrl + "?nca&Some%20CA"), (StoreQuery{CrlByName, "Some CA"}));
    EXPECT_EQ(crlQuery(kCrl + "?hex&AB"), (StoreQuery{CrlByHash, "AB"}));
    // A leading part of a word selects it.
    EXPECT_EQ(crlQuery(kCrl + "?HE&AB"), (StoreQuery{CrlByHash, "AB"}));
    EXPECT_EQ(crlQuery(kCrl + "?n&X"), (StoreQuery{CrlByName, "X"}));
    EXPECT_EQ(crlQuery(kCrl + "?q80="), (StoreQuery{kCrlHashBase64, "q80="}));
}

TEST(CrlUrl, Failures) {
    diag::ErrorRecord error;
    EXPECT_FALSE(crlQuery(kCrl + "?hexa&AB", &error));
    EXPECT_EQ(error.code, diag::errorCode(702, 69));
    diag::ErrorRecord split;
    EXPECT_FALSE(crlQuery("ftp://pki.example/crl/1.crl", &split));
    EXPECT_EQ(split.code, diag::errorCode(701, 25));
}

TEST(CurrentCrlPosition, LeadingDecimalNumberWithinTheList) {
    EXPECT_EQ(currentCrlPosition("2", 3), 2u);
    EXPECT_EQ(currentCrlPosition("7", 3), 0u);
    EXPECT_EQ(currentCrlPosition("3", 3), 0u);
    EXPECT_EQ(currentCrlPosition("-1", 3), 0u);
    EXPECT_EQ(currentCrlPosition("", 3), 0u);
    EXPECT_EQ(currentCrlPosition("x1", 3), 0u);
    EXPECT_EQ(currentCrlPosition("1x", 3), 1u);
}

}  // namespace
}  // namespace tessal::pki
