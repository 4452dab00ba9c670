#pragma once
// The gzip output of the member `compress`.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "data/codecs.h"

namespace tessal::data {

// True when `method` is "gzip" in any letter case.
bool isGzipMethod(std::u16string_view method);

// One gzip member (RFC 1952) of the input: a fixed ten-byte header (no name,
// time 0, operating system 11), raw deflate at the default level, the CRC-32
// and the length modulo 2^32. Empty when the compressor cannot start; without
// the trailer when it fails while compressing.
Bytes gzipCompress(const std::uint8_t* data, std::size_t size);

namespace detail {
// gzipCompress feeding zlib (and CRC-32) at most `maxSlice` bytes a call;
// gzipCompress itself uses the largest count zlib takes, UINT_MAX.
Bytes gzipCompressInSlices(const std::uint8_t* data, std::size_t size, std::size_t maxSlice);
}  // namespace detail

}  // namespace tessal::data
