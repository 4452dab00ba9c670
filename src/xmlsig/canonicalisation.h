#pragma once
// The four Canonical XML methods the engine accepts and the one call that
// turns a libxml2 tree (or a node set of it) into canonical octets.
#include <libxml/tree.h>
#include <libxml/xpath.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string_view>

#include "xmlsig/libxml_owners.h"

namespace tessal::xml {

inline constexpr std::string_view kC14nInclusive = "http://www.w3.org/TR/2001/REC-xml-c14n-20010315";
inline constexpr std::string_view kC14nInclusiveWithComments =
    "http://www.w3.org/TR/2001/REC-xml-c14n-20010315#WithComments";
inline constexpr std::string_view kC14nExclusive = "http://www.w3.org/2001/10/xml-exc-c14n#";
inline constexpr std::string_view kC14nExclusiveWithComments = "http://www.w3.org/2001/10/xml-exc-c14n#WithComments";

struct CanonicalMethod {
    bool exclusive = false;
    bool withComments = false;
};

// ASCII letters compared without case, as method and algorithm URIs are.
bool equalIgnoringCase(std::string_view a, std::string_view b);

// The method a URI names (letter case ignored); nothing for any other URI.
std::optional<CanonicalMethod> canonicalMethodOf(std::string_view uri);

struct CanonicalOctets {
    OwnedBlock block;
    int length = 0;
};

// Takes canonical output block by block as it is produced; false stops the
// canonicalisation.
using OctetSink = std::function<bool(const std::uint8_t* data, std::size_t size)>;

// Canonical form of `doc`, less the subtrees under the nodes of `hidden`
// (each left out with everything below it): the octets of a copy of the
// document with those subtrees removed, without making the copy. Exclusive
// canonicalisation never receives an inclusive-namespace prefix list.
// canonicalOctets keeps the octets; the result is empty (no block, length 0)
// when libxml2 failed or produced nothing. canonicalStream hands them to
// `sink` as they are produced and gives how many there were, or -1 when
// libxml2 failed or the sink stopped it.
CanonicalOctets canonicalOctets(xmlDocPtr doc, CanonicalMethod method, std::span<const xmlNodePtr> hidden = {});
long canonicalStream(xmlDocPtr doc, CanonicalMethod method, const OctetSink& sink,
                     std::span<const xmlNodePtr> hidden = {});

// The octets an output buffer collected, copied into a block of their own.
CanonicalOctets octetsOfBuffer(xmlOutputBufferPtr buffer);

}  // namespace tessal::xml
