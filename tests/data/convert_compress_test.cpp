#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdlib>
#include <string>

#include "data/compress.h"
#include "data/convert.h"
#include "support/test_support.h"

namespace tessal::data {
namespace {

using ByteVector = std::vector<std::uint8_t>;

ByteVector bytesOf(std::string_view s) { return ByteVector(s.begin(), s.end()); }

TEST(Convert, TextToUtf8BytesInAnyCase) {
    for (const char16_t* type : {u"2ba", u"2BA", u"2bA"}) {
        Variant in = Variant::string(u"ąčę");
        Variant out;
        ASSERT_EQ(convertValue(in, type, out), hr::S_OK);
        ASSERT_TRUE(out.is(VarType::Bytes));
        EXPECT_EQ(out.data(), (ByteVector{0xC4, 0x85, 0xC4, 0x8D, 0xC4, 0x99}));
    }
}

TEST(Convert, ToBytesConvertsOtherValuesInTheCallersVariant) {
    Variant in = Variant::int32(12);
    Variant out;
    ASSERT_EQ(convertValue(in, u"2ba", out), hr::S_OK);
    EXPECT_EQ(out.data(), bytesOf("12"));
    EXPECT_TRUE(in.is(VarType::String));
    EXPECT_EQ(in.text(), u"12");

    Variant flag = Variant::boolean(true);
    ASSERT_EQ(convertValue(flag, u"2ba", out), hr::S_OK);
    EXPECT_EQ(out.data(), bytesOf("True"));

    // A string passed by reference is not a plain string: it is converted in place too.
    Variant ref = Variant::byReference(Variant::string(u"ž"));
    ASSERT_EQ(convertValue(ref, u"2ba", out), hr::S_OK);
    EXPECT_TRUE(ref.is(VarType::String));
    EXPECT_EQ(out.data(), (ByteVector{0xC5, 0xBE}));
}

TEST(Convert, ToBytesCopiesByteArraysAndEmptyStringGivesEmptyArray) {
    Variant in = Variant::bytes({0x00, 0xFF, 0x10});
    Variant out;
    ASSERT_EQ(convertValue(in, u"2ba", out), hr::S_OK);
    ASSERT_TRUE(out.is(VarType::Bytes));
    EXPECT_EQ(out.data(), (ByteVector{0x00, 0xFF, 0x10}));

    Variant empty = Variant::string(u"");
    ASSERT_EQ(convertValue(empty, u"2ba", out), hr::S_OK);
    ASSERT_TRUE(out.is(VarType::Bytes));
    EXPECT_TRUE(out.data().empty());
}

TEST(Convert, ToBytesFailurePassesTheStatusThrough) {
    Variant in = Variant::null();
    Variant out = Variant::int32(1);
    EXPECT_EQ(convertValue(in, u"2ba", out), hr::DISP_E_TYPEMISMATCH);
    EXPECT_TRUE(in.is(VarType::Null));
    EXPECT_TRUE(out.is(VarType::Int));
}

TEST(Convert, ToStringDecodesByteArraysAndCopiesStrings) {
    Variant bytes = Variant::bytes({0xC4, 0x85, 0x41});
    Variant out;
    ASSERT_EQ(convertValue(bytes, u"2STR", out), hr::S_OK);
    ASSERT_TRUE(out.is(VarType::String));
    EXPECT_EQ(out.text(), u"ąA");

    // A stray continuation byte ends the text there.
    Variant broken = Variant::bytes({0x41, 0x85, 0x42});
    ASSERT_EQ(convertValue(broken, u"2STR", out), hr::S_OK);
    EXPECT_EQ(out.text(), u"A");

    Variant text = Variant::string(u"labas");
    ASSERT_EQ(convertValue(text, u"anything", out), hr::S_OK);
    EXPECT_EQ(out.text(), u"labas");
}

TEST(Convert, ToStringUsesNumericBooleans) {
    Variant flag = Variant::boolean(true);
    Variant out;
    ASSERT_EQ(convertValue(flag, u"2STR", out), hr::S_OK);
    EXPECT_EQ(out.text(), u"-1");
    EXPECT_TRUE(flag.is(VarType::Bool)) << "only \"2ba\" converts the caller's variant";
}

TEST(Convert, LongerTypeStartingWith2baConvertsToString) {
    Variant in = Variant::int32(12);
    Variant out;
    ASSERT_EQ(convertValue(in, u"2bax", out), hr::S_OK);
    ASSERT_TRUE(out.is(VarType::String));
    EXPECT_EQ(out.text(), u"12");
    EXPECT_TRUE(in.is(VarType::Int));
}

TEST(Convert, ToStringFailureKeepsTheCopyInTheOutput) {
    Variant in = Variant::null();
    Variant out = Variant::int32(1);
    EXPECT_EQ(convertValue(in, u"2STR", out), hr::DISP_E_TYPEMISMATCH);
    EXPECT_TRUE(out.is(VarType::Null));
}

TEST(GzipMethod, AnyLetterCaseOfGzipOnly) {
    for (const char16_t* yes : {u"gzip", u"GZIP", u"GzIp"}) EXPECT_TRUE(isGzipMethod(yes));
    for (const char16_t* no : {u"deflate", u"gzip ", u"gz", u"", u"gzipx", u"ｇzip"}) EXPECT_FALSE(isGzipMethod(no));
}

ByteVector gunzip(const ByteVector& gz) {
    z_stream s{};
    EXPECT_EQ(inflateInit2(&s, 15 + 16), Z_OK);
    s.next_in = const_cast<Bytef*>(gz.data());
    s.avail_in = static_cast<uInt>(gz.size());
    ByteVector out;
    int rc = Z_OK;
    while (rc == Z_OK) {
        std::uint8_t piece[8192];
        s.next_out = piece;
        s.avail_out = sizeof piece;
        rc = inflate(&s, Z_NO_FLUSH);
        out.insert(out.end(), piece, piece + (sizeof piece - s.avail_out));
    }
    EXPECT_EQ(rc, Z_STREAM_END);
    EXPECT_EQ(s.avail_in, 0u) << "nothing may follow the gzip member";
    inflateEnd(&s);
    return out;
}

std::uint32_t littleEndianAt(const ByteVector& b, std::size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

// Text that compresses, with enough variety to span many output pieces.
ByteVector sampleInput(std::size_t size) {
    ByteVector in(size);
    std::uint32_t x = 12345;
    for (std::size_t i = 0; i < size; ++i) {
        x = x * 1103515245u + 12345u;
        in[i] = static_cast<std::uint8_t>((i % 64 < 32) ? 'a' + (i % 7) : (x >> 16));
    }
    return in;
}

TEST(Gzip, HeaderBodyAndTrailer) {
    const ByteVector in = bytesOf("<Msg>labas labas labas</Msg>");
    const ByteVector gz = gzipCompress(in.data(), in.size());
    ASSERT_GT(gz.size(), 18u);
    EXPECT_EQ(ByteVector(gz.begin(), gz.begin() + 10), (ByteVector{0x1F, 0x8B, 0x08, 0, 0, 0, 0, 0, 0, 0x0B}));
    EXPECT_EQ(littleEndianAt(gz, gz.size() - 8), crc32(0, in.data(), static_cast<uInt>(in.size())));
    EXPECT_EQ(littleEndianAt(gz, gz.size() - 4), in.size());
    EXPECT_EQ(gunzip(gz), in);
}

TEST(Gzip, BodyIsZlibsDefaultRawDeflate) {
    // zlib's own gzip wrapper with the same parameters differs only in the
    // operating-system byte of the header.
    const ByteVector in = sampleInput(200000);
    const ByteVector ours = gzipCompress(in.data(), in.size());
    z_stream s{};
    ASSERT_EQ(deflateInit2(&s, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY), Z_OK);
    ByteVector reference(deflateBound(&s, in.size()));
    s.next_in = const_cast<Bytef*>(in.data());
    s.avail_in = static_cast<uInt>(in.size());
    s.next_out = reference.data();
    s.avail_out = static_cast<uInt>(reference.size());
    ASSERT_EQ(deflate(&s, Z_FINISH), Z_STREAM_END);
    reference.resize(s.total_out);
    deflateEnd(&s);
    ASSERT_EQ(ours.size(), reference.size());
    EXPECT_TRUE(std::equal(ours.begin() + 10, ours.end(), reference.begin() + 10));
}

TEST(Gzip, LargeInputRoundTripsAndPassesGzipTest) {
    const ByteVector in = sampleInput(3 * 1024 * 1024 + 17);
    const ByteVector gz = gzipCompress(in.data(), in.size());
    EXPECT_EQ(gunzip(gz), in);

    test::TempDir dir;
    const std::string path = dir.file("out.gz");
    test::writeWholeFile(path, std::string(gz.begin(), gz.end()));
    const std::string command = "gzip -t '" + path + "' 2>/dev/null";
    EXPECT_EQ(std::system(command.c_str()), 0);
}

TEST(Gzip, InputFedInSlicesGivesTheSameMember) {
    // Inputs above 4 GiB reach zlib in slices; small slices stand in for them.
    const ByteVector in = sampleInput(100003);
    const ByteVector whole = gzipCompress(in.data(), in.size());
    for (const std::size_t slice : {std::size_t{1}, std::size_t{4095}, std::size_t{65536}}) {
        const ByteVector sliced = detail::gzipCompressInSlices(in.data(), in.size(), slice);
        EXPECT_EQ(sliced, whole) << "slice " << slice;
    }
}

TEST(Gzip, SingleByteAndAllZeroInputs) {
    const ByteVector one{0x00};
    EXPECT_EQ(gunzip(gzipCompress(one.data(), one.size())), one);
    const ByteVector zeros(100000, 0);
    const ByteVector gz = gzipCompress(zeros.data(), zeros.size());
    EXPECT_LT(gz.size(), 1000u);
    EXPECT_EQ(gunzip(gz), zeros);
}

}  // namespace
}  // namespace tessal::data
