// Dereferencing a same-document reference and the XML-Signature transforms
// the engine accepts: the four canonicalisations, the XPath filter and the
// enveloped-signature transform.
#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>

#include <algorithm>
#include <optional>
#include <string>

#include "diagnostics/error_record.h"
#include "xmlsig/canonicalisation.h"
#include "xmlsig/signature_job.h"
#include "xmlsig/xpath_selection.h"

namespace tessal::xml {

namespace {

constexpr std::string_view kXPathFilter = "http://www.w3.org/TR/1999/REC-xpath-19991116";
constexpr std::string_view kEnvelopedSignature = "http://www.w3.org/2000/09/xmldsig#enveloped-signature";

// The XPath work a filter may do: a fixed number of steps for each node of the
// working tree, and never less than the floor. The condition is text from the
// document; one that nests searches over the whole tree would otherwise run
// for hours on a few kilobytes. Every node in scope of many namespace
// declarations counts each of them, so that, too, is bounded.
constexpr unsigned long kXPathStepsPerNode = 128;
constexpr unsigned long kXPathStepsFloor = 1UL << 20;

// Elements, attributes, namespace declarations and character data of the tree.
unsigned long nodeCount(xmlDocPtr doc) {
    unsigned long count = 0;
    xmlNodePtr node = xmlDocGetRootElement(doc);
    while (node != nullptr) {
        ++count;
        if (node->type == XML_ELEMENT_NODE) {
            for (xmlAttrPtr attr = node->properties; attr != nullptr; attr = attr->next) ++count;
            for (xmlNsPtr ns = node->nsDef; ns != nullptr; ns = ns->next) ++count;
        }
        if (node->type == XML_ELEMENT_NODE && node->children != nullptr) {
            node = node->children;
            continue;
        }
        while (node != nullptr && node->next == nullptr) {
            node = node->parent;
            if (node == nullptr || node->type == XML_DOCUMENT_NODE) return count;
        }
        if (node != nullptr) node = node->next;
    }
    return count;
}

// XPath reports stay in the context; none goes to standard error.
void keepXPathSilent(void*, xmlErrorPtr) {}

// The first non-ignorable node from `node` on, or none.
xmlNodePtr skipIgnorable(xmlNodePtr node) {
    while (node != nullptr && node->type != XML_ELEMENT_NODE && isIgnorable(node)) node = node->next;
    return node;
}

}  // namespace

bool SignatureJob::dereferenceAndTransform(std::string_view value, xmlNodePtr transformsStart,
                                           const OctetSink* sink) {
    if (value.empty()) {
        if (!viewDocument()) {
            diag::recordErrorCode(error_, 0, 420, 57, {value});
            return false;
        }
    } else if (!dereference(value)) {
        return false;
    }
    return applyTransforms(transformsStart, sink);
}

bool SignatureJob::dereference(std::string_view value) {
    if (value.empty()) {
        releaseCurrentData();
        workingTree_.reset(tree_ ? xmlCopyDoc(tree_, 1) : nullptr);
        if (!workingTree_) {
            diag::recordErrorCode(error_, 0, 420, 57, {value});
            return false;
        }
        return true;
    }
    xmlNodePtr found = elementByIdInDocument(value);
    if (found == nullptr) {
        diag::recordErrorCode(error_, 0, 420, 57, {value});
        return false;
    }
    xmlNodePtr element = firstElementFrom(found);
    if (element == nullptr) {
        diag::recordErrorCode(error_, 0, 457, 82);
        return false;
    }
    if (!workElementCopy(element)) {
        diag::recordErrorCode(error_, 0, 458, 82);
        return false;
    }
    return true;
}

bool SignatureJob::applyTransforms(xmlNodePtr start, const OctetSink* sink) {
    xmlNodePtr transforms = skipIgnorable(start);
    if (transforms != nullptr && transforms->type != XML_ELEMENT_NODE) {
        diag::recordErrorCode(error_, 0, 450, 81);
        return false;
    }
    if (transforms != nullptr) {
        if (hasTreeData() == hasOctets()) {
            diag::recordErrorCode(error_, 0, 451, 80);
            return false;
        }
        if (!nameIs(transforms, "Transforms")) {
            diag::recordErrorCode(error_, 0, 452, 81);
            return false;
        }
        for (xmlNodePtr child = skipIgnorable(transforms->children); child != nullptr;
             child = skipIgnorable(child->next)) {
            if (child->type != XML_ELEMENT_NODE) {
                diag::recordErrorCode(error_, 0, 453, 81);
                return false;
            }
            if (!nameIs(child, "Transform")) {
                diag::recordErrorCode(error_, 0, 454, 81);
                return false;
            }
            const std::optional<std::string> algorithm = attributeText(child, "Algorithm");
            if (!algorithm) {
                diag::recordErrorCode(error_, 0, 455, 81);
                return false;
            }
            bool done = false;
            if (equalIgnoringCase(*algorithm, kXPathFilter)) {
                done = xpathFilter(child);
            } else if (canonicalMethodOf(*algorithm)) {
                if (!ensureTreeOrView()) {
                    diag::recordErrorCode(error_, 0, 416, 83);
                    return false;
                }
                // The last transform's octets are the final ones: a sink takes them as they come.
                const bool last = skipIgnorable(child->next) == nullptr;
                if (sink != nullptr && last) return canonicaliseInto(*algorithm, *sink);
                done = canonicalise(*algorithm);
            } else if (equalIgnoringCase(*algorithm, kEnvelopedSignature)) {
                done = envelopedSignature();
            } else {
                diag::recordErrorCode(error_, 0, 456, 96, {*algorithm});
            }
            if (!done) return false;
        }
        if (hasOctets()) return sink == nullptr || handOctetsTo(*sink);
    }
    // Data still held as a tree ends in inclusive canonicalisation without comments.
    if (!ensureTreeOrView()) {
        diag::recordErrorCode(error_, 0, 416, 83);
        return false;
    }
    return sink != nullptr ? canonicaliseInto(kC14nInclusive, *sink) : canonicalise(kC14nInclusive);
}

bool SignatureJob::handOctetsTo(const OctetSink& sink) {
    const bool taken = sink(text_, static_cast<std::size_t>(textLength_));
    releaseText();
    if (!taken) diag::recordErrorCode(error_, 0, 416, 83);
    return taken;
}

bool SignatureJob::xpathFilter(xmlNodePtr transform) {
    if (!ensureTree()) {
        diag::recordErrorCode(error_, 0, 427, 65);
        return false;
    }
    xmlNodePtr xpath = skipIgnorable(transform->children);
    if (xpath != nullptr && xpath->type != XML_ELEMENT_NODE) {
        diag::recordErrorCode(error_, 0, 425, 81);
        return false;
    }
    if (xpath == nullptr || !nameIs(xpath, "XPath")) {
        diag::recordErrorCode(error_, 0, 426, 81);
        return false;
    }
    const std::optional<std::string> condition = firstChildText(xpath);
    if (!condition) {
        diag::recordErrorCode(error_, 0, 427, 65);
        return false;
    }
    OwnedXPathContext context(xmlXPathNewContext(workingTree_.get()));
    if (!context) {
        diag::recordErrorCode(error_, 0, 432, 65);
        return false;
    }
    context->error = keepXPathSilent;
    // Only the declarations on the XPath element itself are visible to the
    // expression; a default namespace has no prefix and cannot be registered.
    for (xmlNsPtr ns = xpath->nsDef; ns != nullptr; ns = ns->next) {
        if (xmlXPathRegisterNs(context.get(), ns->prefix, ns->href) != 0) {
            diag::recordErrorCode(error_, 0, 433, 65);
            return false;
        }
    }
    if (xpath->ns != nullptr && xpath->ns->prefix != nullptr && xpath->ns->prefix[0] != '\0') {
        if (xmlXPathRegisterNs(context.get(), xpath->ns->prefix, xpath->ns->href) != 0) {
            diag::recordErrorCode(error_, 0, 436, 65);
            return false;
        }
    }
    const unsigned long budget = std::max(kXPathStepsFloor, kXPathStepsPerNode * nodeCount(workingTree_.get()));
    std::optional<CanonicalOctets> octets = canonicalSelection(context.get(), *condition, budget);
    if (!octets) {
        diag::recordErrorCode(error_, 0, 434, 65);
        return false;
    }
    releaseText();
    if (!octets->block) {
        diag::recordErrorCode(error_, 0, 435, 65);
        return false;
    }
    takeOctets(std::move(*octets));
    context.reset();
    workingTree_.reset();
    return true;
}

bool SignatureJob::envelopedSignature() {
    if (!ensureTreeOrView()) {
        diag::recordErrorCode(error_, 0, 491, 88);
        return false;
    }
    xmlNodePtr root = xmlDocGetRootElement(currentTree());
    if (root == nullptr) {
        diag::recordErrorCode(error_, 0, 492, 88);
        return false;
    }
    for (xmlNodePtr child = root->children; child != nullptr; child = child->next) {
        if (child->type != XML_ELEMENT_NODE || !nameIs(child, "Signature")) continue;
        if (viewing_) {
            // The main tree is the caller's: the signature is hidden, not removed.
            if (std::find(hidden_.begin(), hidden_.end(), child) != hidden_.end()) continue;
            hidden_.push_back(child);
            return true;
        }
        xmlUnlinkNode(child);
        xmlFreeNode(child);
        return true;
    }
    diag::recordErrorCode(error_, 0, 493, 50);
    return false;
}

}  // namespace tessal::xml
