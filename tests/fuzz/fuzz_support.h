#pragma once
// What every harness shares: a process cut off from the machine (no
// configuration file, no disk cache, no PKI domains, so nothing is read,
// written or fetched), the test certificates preloaded into the stores, and
// the input split into the parts a harness feeds to separate entry points.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tessal::fuzz {

// Once per process: no configuration, no cache folder, an empty domain list,
// chain and revocation checks off (as outside a browser), libxml2 quiet.
void isolateProcess();

// Empties the certificate and CRL stores and adds the preloaded test
// certificates again, so that what one input adds does not pile up over a
// long run. The certificates are the DER files of the folder that
// TESSAL_FUZZ_CERTS names (default: the build's seed folder).
void resetStores();

// The text up to the first occurrence of `separator` (all of it when there
// is none); `rest` receives what follows the separator.
std::string_view splitAt(std::string_view input, char separator, std::string_view& rest);

inline std::string_view textOf(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

}  // namespace tessal::fuzz
