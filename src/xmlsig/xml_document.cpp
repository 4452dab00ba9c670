#include "xmlsig/xml_document.h"

#include <libxml/parser.h>

#include <algorithm>
#include <string>

#include "diagnostics/utf8_text.h"
#include "xmlsig/xml_parse.h"

namespace tessal::xml {

namespace {

// How much of a rejected input the report quotes: bytes, or UTF-16 characters.
constexpr std::size_t kFragmentLimit = 2000;
// Paths are cut to this many characters before they are read.
constexpr std::size_t kPathLimit = 2047;

}  // namespace

XmlDocument::XmlDocument() = default;

XmlDocument::XmlDocument(const void* input, std::size_t size) { parse(input, size); }

XmlDocument::~XmlDocument() {
    releaseText();
    releaseTree();
}

bool XmlDocument::parse(const void* input, std::size_t size) {
    releaseText();
    releaseTree();
    if (input == nullptr || size < 3) {
        diag::recordErrorCode(error_, 0, 301, 94);
        return false;
    }
    const auto* bytes = static_cast<const unsigned char*>(input);
    ParseOutcome outcome;
    std::string fragment;
    if (bytes[0] != 0 && bytes[1] != 0) {
        // Byte input: the parser finds a byte-order mark or the declared encoding itself.
        const char* data = static_cast<const char*>(input);
        outcome = parseDocument(data, size, false);
        if (!outcome.doc || xmlDocGetRootElement(outcome.doc.get()) == nullptr) {
            fragment.assign(data, std::min(size, kFragmentLimit));
        }
    } else {
        // UTF-16LE characters; the UTF-8 form ends at the first NUL character.
        std::u16string units(size / 2, u'\0');
        for (std::size_t i = 0; i < units.size(); ++i) {
            units[i] = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
        }
        const std::string utf8 = diag::utf8Encode(units);
        outcome = parseDocument(utf8.c_str(), utf8.size(), true);
        if (!outcome.doc || xmlDocGetRootElement(outcome.doc.get()) == nullptr) {
            fragment = diag::utf8Encode(std::u16string_view(units).substr(0, std::min(units.size(), kFragmentLimit)));
        }
    }
    if (!outcome.doc || xmlDocGetRootElement(outcome.doc.get()) == nullptr) {
        const std::string report = parseReport(outcome.message, fragment);
        diag::recordErrorCode(error_, 0, 301, 49, {report});
        return false;
    }
    tree_ = outcome.doc.release();
    if (outcome.idsNoted) {
        for (auto& [id, element] : outcome.ids) ids_.try_emplace(std::move(id), element);
        idsIndexed_ = true;
    }
    return true;
}

xmlNodePtr XmlDocument::rootElement() const { return tree_ ? xmlDocGetRootElement(tree_) : nullptr; }

bool XmlDocument::serialise() {
    releaseText();
    if (tree_ == nullptr) return false;
    xmlChar* block = nullptr;
    int length = 0;
    xmlDocDumpMemoryEnc(tree_, &block, &length, "UTF-8");
    if (block == nullptr || length <= 0) {
        xmlFree(block);
        return false;
    }
    text_ = block;
    textLength_ = length;
    return true;
}

std::string_view XmlDocument::text() const {
    if (text_ == nullptr || textLength_ <= 0) return {};
    return {reinterpret_cast<const char*>(text_), static_cast<std::size_t>(textLength_)};
}

void XmlDocument::releaseText() {
    if (text_ != nullptr) xmlFree(text_);
    text_ = nullptr;
    textLength_ = 0;
}

void XmlDocument::releaseTree() {
    forgetIds();
    if (tree_ != nullptr) xmlFreeDoc(tree_);
    tree_ = nullptr;
}

void XmlDocument::setText(xmlChar* block, int length) {
    if (block == text_) {
        textLength_ = block ? length : 0;
        return;
    }
    releaseText();
    text_ = block;
    textLength_ = block ? length : 0;
}

void XmlDocument::assignDocument(const XmlDocument& other) {
    setTree(other.tree_ ? xmlCopyDoc(other.tree_, 1) : nullptr);
    const std::string_view source = other.text();
    xmlChar* copy = source.empty() ? nullptr
                                   : xmlStrndup(reinterpret_cast<const xmlChar*>(source.data()), static_cast<int>(source.size()));
    setText(copy, copy ? static_cast<int>(source.size()) : 0);
    error_ = other.error_;
}

void XmlDocument::setTree(xmlDocPtr tree) {
    if (tree == tree_) return;
    releaseTree();
    tree_ = tree;
}

xmlNodePtr XmlDocument::elementAtPath(std::string_view path) const {
    if (path.size() < 2) return nullptr;
    path = path.substr(0, std::min(path.size(), kPathLimit));
    const std::size_t first = path.find_first_not_of('/');
    if (first == std::string_view::npos) return nullptr;
    path = path.substr(first, path.find_last_not_of('/') - first + 1);

    // The first component may name the root or any node after it; each
    // further one a child of the node found so far. Names of all node types
    // count, so an empty component (from "//") matches nothing.
    xmlNodePtr candidates = rootElement();
    xmlNodePtr found = nullptr;
    while (true) {
        const std::size_t slash = path.find('/');
        const std::string_view component = path.substr(0, slash);
        found = nullptr;
        for (xmlNodePtr node = candidates; node != nullptr; node = node->next) {
            if (!component.empty() && nameIs(node, component)) {
                found = node;
                break;
            }
        }
        if (found == nullptr || slash == std::string_view::npos) return found;
        path.remove_prefix(slash + 1);
        candidates = found->children;
    }
}

std::optional<std::string> XmlDocument::textAtPath(std::string_view path) const {
    const xmlNodePtr node = elementAtPath(path);
    return node ? firstChildText(node) : std::nullopt;
}

xmlNodePtr XmlDocument::elementByIdInDocument(std::string_view value) const {
    // Every reference of a signature looks an element up; a walk of the
    // whole tree for each would make many references cost quadratic time.
    if (!idsIndexed_) {
        forEachId(rootElement(), [this](xmlNodePtr element, std::string&& id) { ids_.try_emplace(std::move(id), element); });
        idsIndexed_ = true;
    }
    while (!value.empty() && value.front() == '#') value.remove_prefix(1);
    const auto found = ids_.find(std::string(value));
    return found == ids_.end() ? nullptr : found->second;
}

void XmlDocument::forgetIds() const {
    ids_.clear();
    idsIndexed_ = false;
}

}  // namespace tessal::xml
