#include "certs/name_text.h"

#include <algorithm>
#include <array>

namespace tessal::certs {

namespace {

struct ShortName {
    std::string_view oid;
    std::string_view name;
};

// The attribute keys of the X.500 name string. The table is fixed here rather
// than taken from the crypto library so that the texts never change with the
// library version.
constexpr std::array<ShortName, 20> kShortNames{{
    {"2.5.4.3", "CN"},
    {"2.5.4.7", "L"},
    {"2.5.4.10", "O"},
    {"2.5.4.11", "OU"},
    {"1.2.840.113549.1.9.1", "E"},
    {"2.5.4.6", "C"},
    {"2.5.4.8", "S"},
    {"2.5.4.9", "STREET"},
    {"2.5.4.12", "T"},
    {"2.5.4.42", "G"},
    {"2.5.4.43", "I"},
    {"2.5.4.4", "SN"},
    {"0.9.2342.19200300.100.1.25", "DC"},
    {"2.5.4.5", "SERIALNUMBER"},
    {"2.5.4.13", "Description"},
    {"2.5.4.17", "PostalCode"},
    {"2.5.4.18", "POBox"},
    {"2.5.4.20", "Phone"},
    {"2.5.4.24", "X21Address"},
    {"2.5.4.46", "dnQualifier"},
}};

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && isSpace(s.front())) s.remove_prefix(1);
    while (!s.empty() && isSpace(s.back())) s.remove_suffix(1);
    return s;
}

std::string cutToCharacters(std::string_view utf8, std::size_t maxCharacters) {
    std::size_t characters = 0;
    std::size_t at = 0;
    for (; at < utf8.size(); ++at) {
        const auto byte = static_cast<unsigned char>(utf8[at]);
        if ((byte & 0xC0) != 0x80) {
            if (characters == maxCharacters) break;
            ++characters;
        }
    }
    return std::string(utf8.substr(0, at));
}

}  // namespace

// The name text. Stores, the certificate web service and the CertID of
// signatures compare these texts byte for byte, so the rendering is fixed:
//   - attributes in encoded order, RDN after RDN; an RDN with several
//     attributes gives each its own item (no "+" joining);
//   - an item is KEY=value, KEY from kShortNames by OID, else "OID." followed
//     by the dotted OID (e.g. "OID.0.9.2342.19200300.100.1.1=...");
//   - the value is the attribute's string as UTF-8, written as it is: no
//     quoting and no escaping of ',', '+', '=', '"' or blanks; a value that is
//     not a string type, or whose text holds a NUL, is written as '#' and the
//     upper-case hexadecimal of its DER encoding, so that no name is cut short
//     where its text would end at the NUL;
//   - items are joined by ", " (comma and one space); an empty name gives "".
// Example: "C=LT, O=Org, OU=Unit, CN=Jonas Jonaitis, OID.1.2.3.4=x".
std::string nameText(const std::vector<platform::NameEntry>& entries) {
    std::string out;
    for (const platform::NameEntry& entry : entries) {
        if (!out.empty()) out += ", ";
        const auto known = std::find_if(kShortNames.begin(), kShortNames.end(),
                                        [&](const ShortName& s) { return s.oid == entry.oid; });
        if (known != kShortNames.end()) {
            out += known->name;
        } else {
            out += "OID.";
            out += entry.oid;
        }
        out += '=';
        if (entry.isText) {
            out += entry.value;
        } else {
            std::string hex;
            data::hexEncode(entry.encoded, hex);
            out += '#';
            out += hex;
        }
    }
    return out;
}

std::string commonNameOf(std::string_view text) {
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find_first_of(",;", start);
        if (end == std::string_view::npos) end = text.size();
        std::string piece(trimmed(text.substr(start, end - start)));
        for (char& c : piece) {
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        }
        if (piece.size() >= 3 && piece.compare(0, 3, "cn=") == 0) {
            return std::string(trimmed(std::string_view(piece).substr(3)));
        }
        start = end + 1;
    }
    return {};
}

std::string attributeValue(const std::vector<platform::NameEntry>& entries, std::string_view oid,
                           std::size_t maxCharacters) {
    for (const platform::NameEntry& entry : entries) {
        if (entry.oid == oid) return entry.isText ? cutToCharacters(entry.value, maxCharacters) : std::string();
    }
    return {};
}

std::size_t characterCount(std::string_view utf8) {
    return static_cast<std::size_t>(
        std::count_if(utf8.begin(), utf8.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

bool decimalFromBigEndian(const std::uint8_t* data, std::size_t size, std::string& out) {
    out.clear();
    if (!data || size == 0) return false;
    data::Bytes littleEndian(data, data + size);
    std::reverse(littleEndian.begin(), littleEndian.end());
    return data::decimalFromLittleEndian(littleEndian.data(), littleEndian.size(), out);
}

std::optional<data::Bytes> publicKeyBlob(const data::Bytes& modulus, const data::Bytes& exponent) {
    auto significant = [](const data::Bytes& value) {
        std::size_t skip = 0;
        while (skip < value.size() && value[skip] == 0) ++skip;
        return data::Bytes(value.begin() + static_cast<std::ptrdiff_t>(skip), value.end());
    };
    const data::Bytes n = significant(modulus);
    const data::Bytes e = significant(exponent);
    if (e.size() > 4 || n.size() > 0x1FFFFFFF) return std::nullopt;
    std::uint32_t exponentValue = 0;
    for (std::uint8_t byte : e) exponentValue = (exponentValue << 8) | byte;
    const std::uint32_t bitLength = static_cast<std::uint32_t>(n.size() * 8);

    data::Bytes blob;
    blob.reserve(kBlobModulusOffset + n.size());
    auto put32 = [&](std::uint32_t v) {
        for (int i = 0; i < 4; ++i) blob.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    };
    blob.push_back(0x06);  // PUBLICKEYBLOB
    blob.push_back(0x02);  // blob version
    blob.push_back(0x00);  // reserved
    blob.push_back(0x00);
    put32(0x0000A400);  // CALG_RSA_KEYX
    put32(0x31415352);  // "RSA1"
    put32(bitLength);
    put32(exponentValue);
    blob.insert(blob.end(), n.rbegin(), n.rend());
    return blob;
}

}  // namespace tessal::certs
