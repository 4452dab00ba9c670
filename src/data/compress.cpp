#include "data/compress.h"

#include <zlib.h>

#include <algorithm>
#include <climits>

namespace tessal::data {

namespace {

constexpr std::uint8_t kGzipHeader[10] = {0x1F, 0x8B, 0x08, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x0B};
constexpr std::size_t kPiece = 4096;
// zlib counts in unsigned int: longer inputs are fed in slices.
constexpr std::size_t kMaxSlice = UINT_MAX;

class Deflater {
public:
    Deflater() {
        started_ = deflateInit2(&stream_, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) == Z_OK;
    }
    ~Deflater() {
        if (started_) deflateEnd(&stream_);
    }
    Deflater(const Deflater&) = delete;
    Deflater& operator=(const Deflater&) = delete;

    bool started() const { return started_; }

    // Feeds the whole input without flushing, collecting output as it comes.
    bool feed(const std::uint8_t* data, std::size_t size, std::size_t maxSlice, Bytes& out) {
        while (size > 0) {
            const std::size_t slice = std::min(size, maxSlice);
            stream_.next_in = const_cast<Bytef*>(data);
            stream_.avail_in = static_cast<uInt>(slice);
            while (stream_.avail_in > 0) {
                if (!run(Z_NO_FLUSH, out)) return false;
            }
            data += slice;
            size -= slice;
        }
        return true;
    }

    bool finish(Bytes& out) {
        stream_.next_in = nullptr;
        stream_.avail_in = 0;
        for (;;) {
            const int rc = runStatus(Z_FINISH, out);
            if (rc == Z_STREAM_END) return true;
            if (rc != Z_OK) return false;
        }
    }

private:
    bool run(int flush, Bytes& out) { return runStatus(flush, out) == Z_OK; }

    // One deflate call into a fresh piece. A call that can make no progress
    // with a whole free piece (Z_BUF_ERROR) means the stream is broken.
    int runStatus(int flush, Bytes& out) {
        std::uint8_t piece[kPiece];
        stream_.next_out = piece;
        stream_.avail_out = kPiece;
        const int rc = deflate(&stream_, flush);
        out.insert(out.end(), piece, piece + (kPiece - stream_.avail_out));
        return rc;
    }

    z_stream stream_{};
    bool started_ = false;
};

std::uint32_t crcOf(const std::uint8_t* data, std::size_t size, std::size_t maxSlice) {
    uLong crc = crc32(0L, Z_NULL, 0);
    while (size > 0) {
        const std::size_t slice = std::min(size, maxSlice);
        crc = crc32(crc, data, static_cast<uInt>(slice));
        data += slice;
        size -= slice;
    }
    return static_cast<std::uint32_t>(crc);
}

void appendLittleEndian(Bytes& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

}  // namespace

bool isGzipMethod(std::u16string_view method) {
    constexpr std::u16string_view gzip = u"gzip";
    if (method.size() != gzip.size()) return false;
    for (std::size_t i = 0; i < gzip.size(); ++i) {
        char16_t c = method[i];
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
        if (c != gzip[i]) return false;
    }
    return true;
}

Bytes gzipCompress(const std::uint8_t* data, std::size_t size) { return detail::gzipCompressInSlices(data, size, kMaxSlice); }

namespace detail {

Bytes gzipCompressInSlices(const std::uint8_t* data, std::size_t size, std::size_t maxSlice) {
    maxSlice = std::clamp<std::size_t>(maxSlice, 1, kMaxSlice);
    Deflater deflater;
    if (!deflater.started()) return {};
    Bytes out(std::begin(kGzipHeader), std::end(kGzipHeader));
    out.reserve(10240);
    if (!deflater.feed(data, size, maxSlice, out) || !deflater.finish(out)) return out;
    appendLittleEndian(out, crcOf(data, size, maxSlice));
    // The length field holds the input length modulo 2^32.
    appendLittleEndian(out, static_cast<std::uint32_t>(size));
    return out;
}

}  // namespace detail

}  // namespace tessal::data
