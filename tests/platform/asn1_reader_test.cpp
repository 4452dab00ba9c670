#include "platform/asn1_reader.h"

#include <gtest/gtest.h>

#include "platform/last_error.h"

namespace tessal::platform {
namespace {

using Bytes = ByteBlock;

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

void expectOctetFailure(const Bytes& input, std::uint32_t code) {
    setLastError(0);
    EXPECT_FALSE(decodeOctetString(input.data(), input.size()).has_value());
    EXPECT_EQ(lastError(), code);
}

void expectSequenceFailure(const Bytes& input, std::uint32_t code) {
    setLastError(0);
    EXPECT_FALSE(decodeSequenceOfAny(input.data(), input.size()).has_value());
    EXPECT_EQ(lastError(), code);
}

TEST(Asn1OctetString, DecodesShortAndLongFormLengths) {
    const Bytes shortForm{0x04, 0x03, 'a', 'b', 'c'};
    EXPECT_EQ(decodeOctetString(shortForm.data(), shortForm.size()), (Bytes{'a', 'b', 'c'}));

    const Bytes empty{0x04, 0x00};
    EXPECT_EQ(decodeOctetString(empty.data(), empty.size()), Bytes{});

    const Bytes value200(200, 0x5A);
    const Bytes oneOctet = concat({{0x04, 0x81, 200}, value200});
    EXPECT_EQ(decodeOctetString(oneOctet.data(), oneOctet.size()), value200);

    const Bytes value300(300, 0xA5);
    const Bytes twoOctets = concat({{0x04, 0x82, 0x01, 0x2C}, value300});
    EXPECT_EQ(decodeOctetString(twoOctets.data(), twoOctets.size()), value300);
}

TEST(Asn1OctetString, IgnoresBytesAfterTheElement) {
    const Bytes input{0x04, 0x01, 0x7F, 0x04, 0x01, 0x00, 0xFF};
    EXPECT_EQ(decodeOctetString(input.data(), input.size()), Bytes{0x7F});
}

TEST(Asn1OctetString, RejectsOtherTagsAndBerForms) {
    expectOctetFailure({0x03, 0x02, 0x00, 0x01}, kAsn1BadTag);  // BIT STRING
    expectOctetFailure({0x24, 0x03, 0x04, 0x01, 0x01}, kAsn1BadTag);  // constructed OCTET STRING
    expectOctetFailure({0x30, 0x03, 0x04, 0x01, 0x01}, kAsn1BadTag);  // SEQUENCE
    expectOctetFailure({0x04, 0x80, 0x01, 0x02, 0x00, 0x00}, kAsn1BadTag);  // indefinite length
}

TEST(Asn1OctetString, ReportsBlocksThatEndInsideTheElement) {
    expectOctetFailure({}, kAsn1EndOfData);
    expectOctetFailure({0x04}, kAsn1EndOfData);
    expectOctetFailure({0x04, 0x05, 'a', 'b'}, kAsn1EndOfData);
    expectOctetFailure({0x04, 0x82, 0x01}, kAsn1EndOfData);  // length octets cut short
    expectOctetFailure(concat({{0x04, 0x82, 0x01, 0x00}, Bytes(255, 0)}), kAsn1EndOfData);
    // A length wider than size_t cannot be held by any block.
    expectOctetFailure({0x04, 0x89, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0xAA}, kAsn1EndOfData);
    expectOctetFailure({0x04, 0x88, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xAA}, kAsn1EndOfData);

    setLastError(0);
    EXPECT_FALSE(decodeOctetString(nullptr, 4).has_value());
    EXPECT_EQ(lastError(), kAsn1EndOfData);
}

TEST(Asn1Sequence, EmptySequenceHasNoElements) {
    const Bytes input{0x30, 0x00};
    const auto elements = decodeSequenceOfAny(input.data(), input.size());
    ASSERT_TRUE(elements.has_value());
    EXPECT_TRUE(elements->empty());
}

TEST(Asn1Sequence, ReturnsEachElementsFullEncodingInOrder) {
    const Bytes integer{0x02, 0x01, 0x05};
    const Bytes inner{0x30, 0x05, 0x04, 0x01, 0xAA, 0x05, 0x00};
    const Bytes emptyString{0x04, 0x00};
    const Bytes longString = concat({{0x04, 0x81, 0x80}, Bytes(0x80, 0x11)});
    const Bytes body = concat({integer, inner, emptyString, longString});
    const Bytes input = concat({{0x30, 0x81, static_cast<std::uint8_t>(body.size())}, body});

    const auto elements = decodeSequenceOfAny(input.data(), input.size());
    ASSERT_TRUE(elements.has_value());
    ASSERT_EQ(elements->size(), 4u);
    EXPECT_EQ((*elements)[0], integer);
    EXPECT_EQ((*elements)[1], inner);
    EXPECT_EQ((*elements)[2], emptyString);
    EXPECT_EQ((*elements)[3], longString);

    // The nested sequence decodes in turn.
    const auto nested = decodeSequenceOfAny(inner.data(), inner.size());
    ASSERT_TRUE(nested.has_value());
    EXPECT_EQ(*nested, (std::vector<Bytes>{{0x04, 0x01, 0xAA}, {0x05, 0x00}}));
}

TEST(Asn1Sequence, HandlesHighTagNumbersAndTwoOctetLengths) {
    const Bytes highTag{0xBF, 0x1F, 0x03, 0x02, 0x01, 0x00};  // [31] constructed
    const Bytes highTagTwoDigits{0x9F, 0x81, 0x00, 0x01, 0xAA};  // [128] primitive
    const Bytes big = concat({{0x04, 0x82, 0x01, 0x00}, Bytes(256, 0x42)});
    const Bytes body = concat({highTag, highTagTwoDigits, big});
    const Bytes input = concat(
        {{0x30, 0x82, static_cast<std::uint8_t>(body.size() >> 8), static_cast<std::uint8_t>(body.size())}, body});

    const auto elements = decodeSequenceOfAny(input.data(), input.size());
    ASSERT_TRUE(elements.has_value());
    EXPECT_EQ(*elements, (std::vector<Bytes>{highTag, highTagTwoDigits, big}));
}

TEST(Asn1Sequence, IgnoresBytesAfterTheSequence) {
    const Bytes input{0x30, 0x03, 0x02, 0x01, 0x07, 0x02, 0x01, 0x08};
    const auto elements = decodeSequenceOfAny(input.data(), input.size());
    ASSERT_TRUE(elements.has_value());
    EXPECT_EQ(*elements, (std::vector<Bytes>{{0x02, 0x01, 0x07}}));
}

TEST(Asn1Sequence, RejectsOtherTags) {
    expectSequenceFailure({0x31, 0x03, 0x02, 0x01, 0x01}, kAsn1BadTag);  // SET
    expectSequenceFailure({0x10, 0x03, 0x02, 0x01, 0x01}, kAsn1BadTag);  // primitive form of the tag
    expectSequenceFailure({0x04, 0x00}, kAsn1BadTag);
    expectSequenceFailure({0x30, 0x80, 0x02, 0x01, 0x01, 0x00, 0x00}, kAsn1BadTag);
    expectSequenceFailure({0x30, 0x06, 0x30, 0x80, 0x05, 0x00, 0x00, 0x00}, kAsn1BadTag);  // indefinite inside
}

TEST(Asn1Sequence, ReportsElementsThatRunPastTheEnd) {
    expectSequenceFailure({}, kAsn1EndOfData);
    expectSequenceFailure({0x30, 0x05, 0x02, 0x01, 0x01}, kAsn1EndOfData);  // the sequence itself
    expectSequenceFailure({0x30, 0x03, 0x02, 0x03, 0x01}, kAsn1EndOfData);  // element longer than the sequence
    // The block goes on, but the element still overruns the sequence.
    expectSequenceFailure({0x30, 0x03, 0x04, 0x04, 0x01, 0x02, 0x03, 0x04}, kAsn1EndOfData);
    expectSequenceFailure({0x30, 0x01, 0x02}, kAsn1EndOfData);  // element without a length
    expectSequenceFailure({0x30, 0x02, 0x1F, 0x81}, kAsn1EndOfData);  // high tag number cut short
}

}  // namespace
}  // namespace tessal::platform
