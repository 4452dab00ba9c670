#pragma once
// The four Canonical XML methods the engine accepts and the one call that
// turns a libxml2 tree (or a node set of it) into canonical octets.
#include <libxml/tree.h>
#include <libxml/xpath.h>

#include <optional>
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

// Canonical form of `doc`, or of the nodes of `nodes` when given. Exclusive
// canonicalisation never receives an inclusive-namespace prefix list. The
// result is empty (no block, length 0) when libxml2 failed or produced nothing.
CanonicalOctets canonicalOctets(xmlDocPtr doc, xmlNodeSetPtr nodes, CanonicalMethod method);

}  // namespace tessal::xml
