#pragma once
// The digests of the data that a signature's references designate, worked
// out once per verification for each distinct URI, transforms and digest
// method. Each reference to the whole document canonicalises all of it, so a
// signature that repeats one reference thousands of times would otherwise
// cost time quadratic in its size.
#include <libxml/tree.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "data/codecs.h"

namespace tessal::xml {

// How working out one reference's digest ended: the digest, or the codes the
// failure left in the job's record (its entries are in the text already).
struct ReferenceDigest {
    std::optional<data::Bytes> digest;
    std::uint32_t lastError = 0;
    std::int32_t code = 0;
};

class ReferenceDigests {
public:
    // What decides a reference's digest: the URI value, every detail of its
    // Transforms element (names, namespaces, attributes, text) and the digest
    // method. Linear in the size of the Transforms element.
    static std::string keyOf(std::string_view value, const xmlNode* transforms,
                             const std::optional<std::string>& digestMethod);

    const ReferenceDigest* find(const std::string& key) const;
    void remember(std::string key, ReferenceDigest outcome);

private:
    std::unordered_map<std::string, ReferenceDigest> known_;
};

}  // namespace tessal::xml
