#include "xades/xades_texts.h"

namespace tessal::xml {

namespace {
char lowered(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
}  // namespace

std::string_view trimmedSpace(std::string_view text) {
    while (!text.empty() && isSpace(text.front())) text.remove_prefix(1);
    while (!text.empty() && isSpace(text.back())) text.remove_suffix(1);
    return text;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lowered(a[i]) != lowered(b[i])) return false;
    }
    return true;
}

bool containsIgnoringCase(std::string_view text, std::string_view part) {
    if (part.size() > text.size()) return false;
    for (std::size_t i = 0; i + part.size() <= text.size(); ++i) {
        if (equalsIgnoringCase(text.substr(i, part.size()), part)) return true;
    }
    return false;
}

ExternalKind externalKindOf(std::string_view uri) {
    if (containsIgnoringCase(uri, "/cert/")) return ExternalKind::Certificate;
    if (containsIgnoringCase(uri, "/trust/")) return ExternalKind::Trust;
    if (containsIgnoringCase(uri, "/crl/")) return ExternalKind::Crl;
    return ExternalKind::Other;
}

}  // namespace tessal::xml
