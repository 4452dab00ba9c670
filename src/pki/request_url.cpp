#include "pki/request_url.h"

#include "data/codecs.h"

namespace tessal::pki {

namespace {

struct EndpointForm {
    PkiQueryKind kind;
    std::string_view form;
    bool escapeKey;  // names may hold spaces; hashes never do
};

constexpr EndpointForm kForms[] = {
    {CertByHash, "cert/?hex&", false},
    {CertByKeyHash, "cert/?pkhex&", false},
    {CertBySubject, "cert/?subject&", true},
    {CertByIssuerSerial, "cert/?issuerserial&", true},
    {CrlByHash, "crl/?hex&", false},
    {CrlByName, "crl/", true},
    {CertByHash | Base64Key, "cert/?", false},
    {CertByKeyHash | Base64Key, "cert/?pk&", false},
    {CrlByHash | Base64Key, "crl/?", false},
};

const EndpointForm* findForm(PkiQueryKind kind) {
    for (const EndpointForm& entry : kForms) {
        if (entry.kind == kind) return &entry;
    }
    return nullptr;
}

bool fail(std::string& url, diag::ErrorRecord& error) {
    url.clear();
    diag::recordErrorCode(error, 0, kRequestUrlPlace, kInvalidParametersMessage);
    return false;
}

}  // namespace

std::optional<std::string_view> endpointForm(PkiQueryKind kind) {
    const EndpointForm* entry = findForm(kind);
    if (!entry) return std::nullopt;
    return entry->form;
}

bool buildRequestUrl(std::optional<std::string_view> key, PkiQueryKind kind, std::string& url,
                     diag::ErrorRecord& error) {
    const EndpointForm* entry = findForm(kind);
    if (!entry) return fail(url, error);

    url.assign(kTemplateUrl);
    url += entry->form;
    if (key) {
        // The key is a C-style text on the wire: it ends at its first NUL.
        std::string keyText(key->substr(0, key->find('\0')));
        const bool nonEmpty = !keyText.empty();
        if (entry->escapeKey) data::escapeSpaces(keyText);
        url += keyText;
        if (kind == CrlByName && nonEmpty) url += ".htm";
    }
    if (url.size() > kMaxRequestUrlLength) return fail(url, error);
    return true;
}

}  // namespace tessal::pki
