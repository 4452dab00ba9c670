#include "platform/asn1_reader.h"

#include <cstdint>

#include "platform/last_error.h"

namespace tessal::platform {

namespace {

constexpr std::uint8_t kOctetStringTag = 0x04;
constexpr std::uint8_t kSequenceTag = 0x30;

// Where one element's content lies inside the block that starts with it.
struct Element {
    std::uint8_t firstOctet = 0;  // class, constructed bit and low tag number
    std::size_t headerSize = 0;
    std::size_t contentSize = 0;
    std::size_t totalSize() const { return headerSize + contentSize; }
};

// Reads the identifier and length octets of the element at the start of
// [data, data + size) and checks that its content fits in the block. Only
// definite lengths are accepted: this reader handles DER.
std::optional<Element> readElement(const std::uint8_t* data, std::size_t size) {
    if (!data || size == 0) {
        setLastError(kAsn1EndOfData);
        return std::nullopt;
    }
    Element out;
    out.firstOctet = data[0];
    std::size_t at = 1;
    if ((data[0] & 0x1F) == 0x1F) {
        // High tag number: base-128 digits, the last one with bit 8 clear.
        // Only the low tag numbers are ever asked for, so the value is skipped.
        while (at < size && (data[at] & 0x80)) ++at;
        if (at >= size) {
            setLastError(kAsn1EndOfData);
            return std::nullopt;
        }
        ++at;
    }
    if (at >= size) {
        setLastError(kAsn1EndOfData);
        return std::nullopt;
    }
    const std::uint8_t first = data[at++];
    if (first < 0x80) {
        out.contentSize = first;
    } else if (first == 0x80 || first == 0xFF) {
        // Indefinite length (BER only) and the reserved form.
        setLastError(kAsn1BadTag);
        return std::nullopt;
    } else {
        const std::size_t octets = first & 0x7F;
        if (octets > size - at) {
            setLastError(kAsn1EndOfData);
            return std::nullopt;
        }
        std::size_t length = 0;
        for (std::size_t k = 0; k < octets; ++k) {
            // A length that does not fit in size_t cannot fit in the block either.
            if (length > (SIZE_MAX >> 8)) {
                setLastError(kAsn1EndOfData);
                return std::nullopt;
            }
            length = (length << 8) | data[at++];
        }
        out.contentSize = length;
    }
    out.headerSize = at;
    if (out.contentSize > size - at) {
        setLastError(kAsn1EndOfData);
        return std::nullopt;
    }
    return out;
}

}  // namespace

std::optional<ByteBlock> decodeOctetString(const std::uint8_t* data, std::size_t size) {
    const auto element = readElement(data, size);
    if (!element) return std::nullopt;
    // The constructed form (0x24) is BER only; DER has a single primitive string.
    if (element->firstOctet != kOctetStringTag) {
        setLastError(kAsn1BadTag);
        return std::nullopt;
    }
    const std::uint8_t* content = data + element->headerSize;
    return ByteBlock(content, content + element->contentSize);
}

std::optional<std::vector<ByteBlock>> decodeSequenceOfAny(const std::uint8_t* data, std::size_t size) {
    const auto sequence = readElement(data, size);
    if (!sequence) return std::nullopt;
    if (sequence->firstOctet != kSequenceTag) {
        setLastError(kAsn1BadTag);
        return std::nullopt;
    }
    std::vector<ByteBlock> out;
    const std::uint8_t* at = data + sequence->headerSize;
    std::size_t left = sequence->contentSize;
    while (left > 0) {
        // Bounded by the sequence's own length, so an element that claims more
        // than the sequence holds is an end-of-data error even when the block
        // has further bytes after the sequence.
        const auto element = readElement(at, left);
        if (!element) return std::nullopt;
        out.emplace_back(at, at + element->totalSize());
        at += element->totalSize();
        left -= element->totalSize();
    }
    return out;
}

}  // namespace tessal::platform
