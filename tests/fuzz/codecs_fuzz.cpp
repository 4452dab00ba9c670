// The shared text and byte codecs, the code-page conversions and the name
// helpers of the certificate layer, each on the whole input. Encoders that
// have a decoder must give back what they were given.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

#include <zlib.h>

#include "certs/name_text.h"
#include "data/codecs.h"
#include "data/compress.h"
#include "diagnostics/ansi_text.h"
#include "diagnostics/utf8_text.h"
#include "fuzz_support.h"

namespace {

// The input of one gzip member, by zlib's own reader; nothing when the
// member is not whole and sound.
std::optional<tessal::data::Bytes> gunzipped(const tessal::data::Bytes& packed) {
    tessal::data::Bytes out;
    z_stream stream{};
    if (inflateInit2(&stream, 16 + MAX_WBITS) != Z_OK) return std::nullopt;
    stream.next_in = const_cast<Bytef*>(packed.data());
    stream.avail_in = static_cast<uInt>(packed.size());
    std::uint8_t buffer[4096];
    int result = Z_OK;
    while (result == Z_OK) {
        stream.next_out = buffer;
        stream.avail_out = sizeof buffer;
        result = inflate(&stream, Z_NO_FLUSH);
        out.insert(out.end(), buffer, buffer + (sizeof buffer - stream.avail_out));
    }
    inflateEnd(&stream);
    if (result != Z_STREAM_END) return std::nullopt;
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tessal;
    fuzz::isolateProcess();
    const std::string_view text = fuzz::textOf(data, size);

    diag::Utf8Text baltic;
    data::balticToUtf8(text, baltic);
    const diag::Utf8DecodeResult decoded = diag::utf8Decode(text);
    diag::utf8Encode(decoded.units);
    diag::utf16Of(text);
    diag::fromAnsi(text);
    // UTF-16 units from the input's byte pairs, lone surrogates included.
    std::u16string units(size / 2, u'\0');
    for (std::size_t i = 0; i < units.size(); ++i) units[i] = static_cast<char16_t>(data[2 * i] | data[2 * i + 1] << 8);
    diag::toAnsi(units);

    std::string encoded;
    data::Bytes back;
    if (data::base64Encode(data, size, encoded)) {
        if (!data::base64Decode(encoded, back) || back != data::Bytes(data, data + size)) std::abort();
    }
    data::base64Decode(text, back);
    std::string hex;
    data::hexEncode(data, size, hex);
    data::base64ToHex(text, hex);
    std::string decimal;
    data::decimalFromLittleEndian(data, size, decimal);
    certs::decimalFromBigEndian(data, size, decimal);
    std::string escaped(text);
    data::percentDecode(escaped);
    escaped.assign(text);
    data::escapeSpaces(escaped);

    certs::commonNameOf(text);
    certs::characterCount(text);
    const data::Bytes packed = data::detail::gzipCompressInSlices(data, size, 1 + size % 64);
    if (gunzipped(packed) != data::Bytes(data, data + size)) std::abort();
    return 0;
}
