#include "digests/digest_algorithms.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "platform/digest.h"

namespace tessal::crypto {
namespace {

const std::uint8_t* bytesOf(std::string_view s) { return reinterpret_cast<const std::uint8_t*>(s.data()); }

std::string hexOf(std::string_view s, AlgId alg) {
    std::string out;
    EXPECT_TRUE(digestHex(bytesOf(s), s.size(), out, alg));
    return out;
}

constexpr std::string_view kTwoBlocks = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";

TEST(DigestOf, Fips180Vectors) {
    EXPECT_EQ(hexOf("abc", CALG_SHA1), "A9993E364706816ABA3E25717850C26C9CD0D89D");
    EXPECT_EQ(hexOf(kTwoBlocks, CALG_SHA1), "84983E441C3BD26EBAAE4AA1F95129E5E54670F1");
    EXPECT_EQ(hexOf("abc", CALG_SHA_256), "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD");
    EXPECT_EQ(hexOf(kTwoBlocks, CALG_SHA_256), "248D6A61D20638B8E5C026930C3E6039A33CE45964FF2167F6ECEDD419DB06C1");
    EXPECT_EQ(hexOf("abc", CALG_SHA_384),
              "CB00753F45A35E8BB5A03D699AC65007272C32AB0EDED1631A8B605A43FF5BED8086072BA1E7CC2358BAECA134C825A7");
    EXPECT_EQ(hexOf("abc", CALG_SHA_512),
              "DDAF35A193617ABACC417349AE20413112E6FA4E89A97EA20A9EEEE64B55D39A"
              "2192992A274FC1A836BA3C23A3FEEBBD454D4423643CE80E2A9AC94FA54CA49F");
}

TEST(DigestOf, ZeroMeansSha1AndDefaultsAreSha1) {
    const auto d = digestOf(bytesOf("abc"), 3, 0);
    ASSERT_TRUE(d.has_value());
    EXPECT_EQ(d->size(), 20u);
    std::string hex;
    ASSERT_TRUE(digestHex(bytesOf("abc"), 3, hex));
    EXPECT_EQ(hex, "A9993E364706816ABA3E25717850C26C9CD0D89D");
    std::string b64;
    ASSERT_TRUE(digestBase64(bytesOf("abc"), 3, b64));
    EXPECT_EQ(b64, "qZk+NkcGgWq6PiVxeFDCbJzQ2J0=");
}

TEST(DigestOf, EmptyBlockOrUnknownAlgorithmGivesNothing) {
    EXPECT_FALSE(digestOf(bytesOf(""), 0, CALG_SHA1).has_value());
    EXPECT_FALSE(digestOf(nullptr, 5, CALG_SHA1).has_value());
    EXPECT_FALSE(digestOf(bytesOf("abc"), 3, 0x8003).has_value());  // MD5 is not offered
    std::string out = "stale";
    EXPECT_FALSE(digestHex(bytesOf(""), 0, out));
    EXPECT_EQ(out, "");
    EXPECT_FALSE(digestBase64(bytesOf("abc"), 3, out, 0x1234));
    EXPECT_EQ(out, "");
}

TEST(DigestAlgorithmTable, UrisMapBothWays) {
    for (const auto& a : digestAlgorithms()) {
        EXPECT_EQ(algIdOfDigestUri(a.digestMethodUri), a.algId);
        EXPECT_EQ(algIdOfSignatureUri(a.signatureMethodUri), a.algId);
        const auto d = digestOf(bytesOf("abc"), 3, a.algId);
        ASSERT_TRUE(d.has_value());
        EXPECT_EQ(d->size(), a.digestLength);
    }
    EXPECT_EQ(algIdOfDigestUri("http://www.w3.org/2001/04/xmlenc#sha256"), CALG_SHA_256);
    EXPECT_EQ(algIdOfSignatureUri("http://www.w3.org/2001/04/xmldsig-more#rsa-sha512"), CALG_SHA_512);
    ASSERT_NE(digestAlgorithmOf(0), nullptr);
    EXPECT_EQ(digestAlgorithmOf(0)->digestMethodUri, "http://www.w3.org/2000/09/xmldsig#sha1");
    EXPECT_EQ(digestAlgorithmOf(CALG_SHA_384)->signatureMethodUri, "http://www.w3.org/2001/04/xmldsig-more#rsa-sha384");
    EXPECT_EQ(digestAlgorithmOf(0x8003), nullptr);
    // A signature URI is not a digest URI, and matching is exact.
    EXPECT_FALSE(algIdOfDigestUri("http://www.w3.org/2000/09/xmldsig#rsa-sha1").has_value());
    EXPECT_FALSE(algIdOfDigestUri("http://www.w3.org/2000/09/xmldsig#SHA1").has_value());
}

TEST(DigestStream, IncrementalMatchesOneShotAndResets) {
    platform::DigestStream stream(platform::DigestKind::Sha1);
    ASSERT_TRUE(stream.ok());
    EXPECT_EQ(stream.size(), 20u);
    // One million 'a' fed in uneven pieces.
    const std::string piece(997, 'a');
    std::size_t left = 1000000;
    while (left > 0) {
        const std::size_t n = std::min(left, piece.size());
        ASSERT_TRUE(stream.update(bytesOf(piece), n));
        left -= n;
    }
    auto digest = stream.finish();
    ASSERT_TRUE(digest.has_value());
    std::string hex;
    data::hexEncode(*digest, hex);
    EXPECT_EQ(hex, "34AA973CD4C4DAA4F61EEB2BDBAD27316534016F");

    // Finished: refuses data until reset.
    EXPECT_FALSE(stream.update(bytesOf("abc"), 3));
    EXPECT_FALSE(stream.finish().has_value());
    ASSERT_TRUE(stream.reset());
    ASSERT_TRUE(stream.update(bytesOf("ab"), 2));
    ASSERT_TRUE(stream.update(bytesOf("c"), 1));
    digest = stream.finish();
    ASSERT_TRUE(digest.has_value());
    EXPECT_EQ(*digest, *platform::computeDigest(platform::DigestKind::Sha1, bytesOf("abc"), 3));

    platform::DigestStream moved(std::move(stream));
    EXPECT_FALSE(stream.ok());  // NOLINT(bugprone-use-after-move): the moved-from stream must refuse
    EXPECT_FALSE(stream.update(bytesOf("a"), 1));
}

TEST(DigestStream, EmptyInputHasAWellDefinedDigest) {
    const auto d = platform::computeDigest(platform::DigestKind::Sha256, nullptr, 0);
    ASSERT_TRUE(d.has_value());
    std::string hex;
    data::hexEncode(*d, hex);
    EXPECT_EQ(hex, "E3B0C44298FC1C149AFBF4C8996FB92427AE41E4649B934CA495991B7852B855");
}

}  // namespace
}  // namespace tessal::crypto
