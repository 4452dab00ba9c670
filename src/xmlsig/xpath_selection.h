#pragma once
// The XPath filter's selection, worked out node by node: every node of the
// tree in document order (the document node, elements, their namespace and
// attribute nodes, character data, comments and processing instructions)
// for which the condition holds as a predicate, then the canonical form of
// exactly those nodes. Both steps take time proportional to the tree plus
// the XPath work, which is bounded; handing libxml2 the whole expression
// instead would merge and search node sets in time quadratic in the tree.
#include <libxml/xpath.h>

#include <optional>
#include <string>

#include "xmlsig/canonicalisation.h"

namespace tessal::xml {

// The inclusive canonical octets, comments kept, of the nodes of the
// context's document for which `condition` holds. Nothing when the condition
// does not compile or evaluate, or when selecting takes more than
// `stepBudget` XPath steps (each candidate node counts one more, each
// selected node a few more, as the selection is held in memory); empty
// octets (no block) when the selection produced no output.
std::optional<CanonicalOctets> canonicalSelection(xmlXPathContextPtr context, const std::string& condition,
                                                  unsigned long stepBudget);

}  // namespace tessal::xml
