#include "xmlsig/xpath_selection.h"

#include <libxml/c14n.h>
#include <libxml/xmlIO.h>
#include <libxml/xpathInternals.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <functional>
#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "xmlsig/libxml_owners.h"

namespace tessal::xml {

namespace {

// A namespace node is its element and the declaration in scope there for its
// prefix; libxml2 tells them apart by element and prefix, which is the same.
struct NamespaceNode {
    const xmlNode* element;
    const xmlNs* declaration;
    bool operator==(const NamespaceNode&) const = default;
};
struct NamespaceNodeHash {
    std::size_t operator()(const NamespaceNode& node) const {
        return std::hash<const void*>()(node.element) * 31 + std::hash<const void*>()(node.declaration);
    }
};

// What each selected node costs beyond its evaluation: the selection is held
// in memory, so its size counts against the budget too.
constexpr unsigned long kStepsPerSelectedNode = 8;

struct Selection {
    std::unordered_set<const void*> nodes;
    std::unordered_set<NamespaceNode, NamespaceNodeHash> namespaces;
};

// The canonicaliser's question: is this node in the selection?
int isSelected(void* data, xmlNodePtr node, xmlNodePtr parent) {
    if (node == nullptr) return 1;
    const Selection& selection = *static_cast<const Selection*>(data);
    if (node->type != XML_NAMESPACE_DECL) return selection.nodes.count(node) ? 1 : 0;
    const xmlNode* element = (parent != nullptr && parent->type == XML_ATTRIBUTE_NODE) ? parent->parent : parent;
    return selection.namespaces.count(NamespaceNode{element, reinterpret_cast<const xmlNs*>(node)}) ? 1 : 0;
}

struct CompiledFree {
    void operator()(xmlXPathCompExprPtr expression) const { xmlXPathFreeCompExpr(expression); }
};

// Walks the tree in document order and asks the condition of every node.
class Selector {
public:
    Selector(xmlXPathContextPtr context, xmlXPathCompExprPtr condition, unsigned long budget)
        : context_(context), condition_(condition), remaining_(budget) {}

    bool run(xmlDocPtr doc, Selection& selection) {
        // position() and last() count the candidates, so they are counted first.
        counting_ = true;
        visitDocument(doc, selection);
        if (failed_) return false;
        size_ = position_;
        position_ = 0;
        counting_ = false;
        visitDocument(doc, selection);
        return !failed_;
    }

private:
    void visitDocument(xmlDocPtr doc, Selection& selection) {
        if (ask(reinterpret_cast<xmlNodePtr>(doc))) selection.nodes.insert(doc);
        visitChildren(reinterpret_cast<xmlNodePtr>(doc), selection);
    }

    void visitChildren(xmlNodePtr parent, Selection& selection) {
        for (xmlNodePtr node = parent->children; node != nullptr && !failed_; node = node->next) {
            if (node->type == XML_DTD_NODE || node->type == XML_ENTITY_DECL) continue;
            if (ask(node)) selection.nodes.insert(node);
            if (node->type == XML_ELEMENT_NODE) visitElement(node, selection);
        }
    }

    // The element's namespace nodes (the xml namespace and every declaration
    // in scope, the nearest for each prefix), its attributes, then its content.
    void visitElement(xmlNodePtr element, Selection& selection) {
        std::vector<std::pair<std::string, const xmlNs*>> shadowed;
        for (xmlNsPtr ns = element->nsDef; ns != nullptr; ns = ns->next) {
            const std::string prefix = ns->prefix ? reinterpret_cast<const char*>(ns->prefix) : "";
            auto [place, added] = inScope_.try_emplace(prefix, ns);
            if (!added) {
                shadowed.emplace_back(place->first, place->second);
                place->second = ns;
            } else {
                shadowed.emplace_back(place->first, nullptr);
            }
        }
        askNamespace(element, &xmlXmlNamespace(), selection);
        for (const auto& [prefix, ns] : inScope_) {
            if (failed_) break;
            askNamespace(element, ns, selection);
        }
        for (xmlAttrPtr attr = element->properties; attr != nullptr && !failed_; attr = attr->next) {
            if (ask(reinterpret_cast<xmlNodePtr>(attr))) selection.nodes.insert(attr);
        }
        visitChildren(element, selection);
        for (auto it = shadowed.rbegin(); it != shadowed.rend(); ++it) {
            if (it->second == nullptr) {
                inScope_.erase(it->first);
            } else {
                inScope_[it->first] = it->second;
            }
        }
    }

    static const xmlNs& xmlXmlNamespace() {
        static const xmlNs ns = [] {
            xmlNs made;
            std::memset(&made, 0, sizeof made);
            made.type = XML_NAMESPACE_DECL;
            made.href = XML_XML_NAMESPACE;
            made.prefix = BAD_CAST "xml";
            return made;
        }();
        return ns;
    }

    // A namespace node is seen by XPath as a copy whose `next` is its element.
    void askNamespace(xmlNodePtr element, const xmlNs* ns, Selection& selection) {
        xmlNs node = *ns;
        node.next = reinterpret_cast<xmlNsPtr>(element);
        if (ask(reinterpret_cast<xmlNodePtr>(&node))) {
            selection.namespaces.insert(NamespaceNode{element, ns});
        }
    }

    bool ask(xmlNodePtr node) {
        if (failed_) return false;
        if (remaining_ == 0) {
            failed_ = true;
            return false;
        }
        --remaining_;
        ++position_;
        if (counting_) return false;
        context_->node = node;
        context_->contextSize = static_cast<int>(std::min<unsigned long>(size_, INT_MAX));
        context_->proximityPosition = static_cast<int>(std::min<unsigned long>(position_, INT_MAX));
        context_->opCount = 0;
        context_->opLimit = remaining_ + 1;
        const OwnedXPathObject result(xmlXPathCompiledEval(condition_, context_));
        remaining_ -= std::min(remaining_, context_->opCount);
        if (!result) {
            failed_ = true;
            return false;
        }
        if (xmlXPathEvalPredicate(context_, result.get()) == 0) return false;
        if (remaining_ < kStepsPerSelectedNode) {
            failed_ = true;
            return false;
        }
        remaining_ -= kStepsPerSelectedNode;
        return true;
    }

    xmlXPathContextPtr context_;
    xmlXPathCompExprPtr condition_;
    unsigned long remaining_;
    unsigned long position_ = 0;
    unsigned long size_ = 0;
    bool counting_ = false;
    bool failed_ = false;
    std::unordered_map<std::string, const xmlNs*> inScope_;
};

}  // namespace

std::optional<CanonicalOctets> canonicalSelection(xmlXPathContextPtr context, const std::string& condition,
                                                  unsigned long stepBudget) {
    if (context == nullptr || context->doc == nullptr) return std::nullopt;
    // The condition alone must be an expression: text that closes the
    // predicate early and goes on with an expression of its own is refused.
    const std::unique_ptr<xmlXPathCompExpr, CompiledFree> compiled(
        xmlXPathCtxtCompile(context, reinterpret_cast<const xmlChar*>(condition.c_str())));
    if (!compiled) return std::nullopt;
    Selection selection;
    Selector selector(context, compiled.get(), stepBudget);
    if (!selector.run(context->doc, selection)) return std::nullopt;

    const OwnedOutputBuffer buffer(xmlAllocOutputBuffer(nullptr));
    if (!buffer) return std::nullopt;
    if (xmlC14NExecute(context->doc, isSelected, &selection, XML_C14N_1_0, nullptr, 1, buffer.get()) < 0) {
        return CanonicalOctets{};
    }
    return octetsOfBuffer(buffer.get());
}

}  // namespace tessal::xml
