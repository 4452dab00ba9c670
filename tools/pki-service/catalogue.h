#pragma once
// What the service root holds, indexed by every key a client asks with:
// certificates under certs/ (PEM or DER) and CRLs under crls/, each kept as
// the answer document the client parses, plus the optional time resource.
#include <cstddef>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tessal::pki_service {

struct CrlEntry {
    std::string name;  // the CRL issuer's common name, as the client derives it
    std::string document;
};

class Catalogue {
public:
    // Reads everything under `root`; files that do not decode are reported
    // on standard error and left out.
    static Catalogue load(const std::filesystem::path& root);

    // Certificate answers by key. `form` is "hex", "pkhex", "subject",
    // "issuerserial", "pk" (Base64 key hash) or "" (Base64 SHA-1 digest).
    const std::string* certificate(const std::string& form, const std::string& key) const;
    // CRL answers by upper-case hexadecimal or Base64 SHA-1 digest.
    const std::string* crlByHash(const std::string& key, bool base64) const;
    // A position in the current CRL list: the CRLs in file-name order, then
    // the first one again so that the client sees where the list ends.
    const std::string* crlAt(std::size_t index) const;
    const std::string* crlByName(const std::string& name) const;
    const std::optional<std::string>& time() const { return time_; }

    std::size_t certificateCount() const { return certificates_.size(); }
    std::size_t crlCount() const { return crls_.size(); }

private:
    void addCertificate(const std::vector<unsigned char>& der, const std::filesystem::path& file);
    void addCrl(const std::vector<unsigned char>& der, const std::filesystem::path& file);

    std::vector<std::string> certificates_;       // answer documents, in file order
    std::map<std::string, std::size_t> certKeys_;  // form + "&" + key -> certificate
    std::vector<CrlEntry> crls_;
    std::map<std::string, std::size_t> crlKeys_;   // "hex&" / "b64&" / "name&" + key -> CRL
    std::optional<std::string> time_;
};

}  // namespace tessal::pki_service
