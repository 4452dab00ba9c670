#pragma once
// Owning handles for the libxml2 objects the signature engine creates, so
// every early return releases them.
#include <libxml/tree.h>
#include <libxml/xmlIO.h>
#include <libxml/xpath.h>

#include <memory>

namespace tessal::xml {

struct XmlDocFree {
    void operator()(xmlDocPtr doc) const { xmlFreeDoc(doc); }
};
struct XmlBlockFree {
    void operator()(xmlChar* block) const { xmlFree(block); }
};
struct XPathContextFree {
    void operator()(xmlXPathContextPtr context) const { xmlXPathFreeContext(context); }
};
struct XPathObjectFree {
    void operator()(xmlXPathObjectPtr object) const { xmlXPathFreeObject(object); }
};
struct OutputBufferClose {
    void operator()(xmlOutputBufferPtr buffer) const { xmlOutputBufferClose(buffer); }
};
struct NodeSetFree {
    void operator()(xmlNodeSetPtr set) const { xmlXPathFreeNodeSet(set); }
};

using OwnedDoc = std::unique_ptr<xmlDoc, XmlDocFree>;
using OwnedBlock = std::unique_ptr<xmlChar, XmlBlockFree>;
using OwnedXPathContext = std::unique_ptr<xmlXPathContext, XPathContextFree>;
using OwnedXPathObject = std::unique_ptr<xmlXPathObject, XPathObjectFree>;
using OwnedNodeSet = std::unique_ptr<xmlNodeSet, NodeSetFree>;
using OwnedOutputBuffer = std::unique_ptr<xmlOutputBuffer, OutputBufferClose>;

}  // namespace tessal::xml
