#include "catalogue.h"

#include <algorithm>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string_view>
#include <system_error>

#include "certs/certificate_record.h"
#include "certs/crl_record.h"
#include "data/codecs.h"

namespace tessal::pki_service {

namespace fs = std::filesystem;
using Der = std::vector<unsigned char>;

namespace {

std::optional<std::string> readFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The regular files under `dir`, ordered by their path below it.
std::vector<fs::path> filesUnder(const fs::path& dir) {
    std::vector<fs::path> files;
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) return files;
    for (fs::recursive_directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        if (it->is_regular_file(ec)) files.push_back(it->path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

// The DER encodings in a file: every PEM block labelled `label`, or the
// whole file when it holds no PEM block at all.
std::vector<Der> encodingsIn(const std::string& content, std::string_view label) {
    std::vector<Der> found;
    if (content.find("-----BEGIN ") == std::string::npos) {
        if (!content.empty()) found.emplace_back(content.begin(), content.end());
        return found;
    }
    const std::string begin = "-----BEGIN " + std::string(label) + "-----";
    const std::string end = "-----END " + std::string(label) + "-----";
    std::size_t at = 0;
    while ((at = content.find(begin, at)) != std::string::npos) {
        const std::size_t body = at + begin.size();
        const std::size_t stop = content.find(end, body);
        if (stop == std::string::npos) break;
        data::Bytes der;
        if (data::base64Decode(std::string_view(content).substr(body, stop - body), der)) {
            found.emplace_back(der.begin(), der.end());
        }
        at = stop + end.size();
    }
    return found;
}

}  // namespace

Catalogue Catalogue::load(const fs::path& root) {
    Catalogue catalogue;
    for (const fs::path& file : filesUnder(root / "certs")) {
        const auto content = readFile(file);
        if (!content) continue;
        const auto encodings = encodingsIn(*content, "CERTIFICATE");
        if (encodings.empty()) std::cerr << "no certificate in " << file.string() << '\n';
        for (const Der& der : encodings) catalogue.addCertificate(der, file);
    }
    for (const fs::path& file : filesUnder(root / "crls")) {
        const auto content = readFile(file);
        if (!content) continue;
        const auto encodings = encodingsIn(*content, "X509 CRL");
        if (encodings.empty()) std::cerr << "no CRL in " << file.string() << '\n';
        for (const Der& der : encodings) catalogue.addCrl(der, file);
    }
    std::error_code ec;
    if (fs::is_regular_file(root / "time", ec)) catalogue.time_ = readFile(root / "time");
    return catalogue;
}

void Catalogue::addCertificate(const Der& der, const fs::path& file) {
    certs::CertificateRecord record;
    if (!record.fromDer(der.data(), der.size()) || record.holdsError()) {
        std::cerr << "certificate not usable: " << file.string() << '\n';
        return;
    }
    const std::size_t index = certificates_.size();
    certificates_.emplace_back(record.text());
    // The first file to carry a key keeps it.
    auto add = [&](std::string_view form, const std::string& key) {
        if (!key.empty()) certKeys_.emplace(std::string(form) + "&" + key, index);
    };
    add("hex", record.id().str());
    add("hex", record.sha256Id().str());
    add("hex", record.sha384Id().str());
    add("hex", record.sha512Id().str());
    add("", record.idBase64().str());
    add("pkhex", record.keyHash().str());
    add("pk", record.keyHashBase64().str());
    add("subject", record.subject().str());
    add("issuerserial", record.issuer().str() + "&" + record.serialNumber().str());
}

void Catalogue::addCrl(const Der& der, const fs::path& file) {
    std::string base64;
    if (!data::base64Encode(der.data(), der.size(), base64)) return;
    std::string document = certs::crlXml(base64);
    // The client's own decoding tells what it will find the CRL by.
    const certs::CrlRecord record(document.data(), document.size());
    if (record.holdsError() || !record.hasCrl()) {
        std::cerr << "CRL not usable: " << file.string() << '\n';
        return;
    }
    const std::size_t index = crls_.size();
    crls_.push_back({record.issuerCommonName().str(), std::move(document)});
    crlKeys_.emplace("hex&" + record.id().str(), index);
    crlKeys_.emplace("b64&" + record.idBase64().str(), index);
    crlKeys_.emplace("name&" + record.issuerCommonName().str(), index);
}

const std::string* Catalogue::certificate(const std::string& form, const std::string& key) const {
    std::string wanted = key;
    if (form == "hex" || form == "pkhex") {
        std::transform(wanted.begin(), wanted.end(), wanted.begin(),
                       [](unsigned char c) { return static_cast<char>(c >= 'a' && c <= 'f' ? c - 'a' + 'A' : c); });
    }
    const auto found = certKeys_.find(form + "&" + wanted);
    return found == certKeys_.end() ? nullptr : &certificates_[found->second];
}

const std::string* Catalogue::crlByHash(const std::string& key, bool base64) const {
    std::string wanted = key;
    if (!base64) {
        std::transform(wanted.begin(), wanted.end(), wanted.begin(),
                       [](unsigned char c) { return static_cast<char>(c >= 'a' && c <= 'f' ? c - 'a' + 'A' : c); });
    }
    const auto found = crlKeys_.find((base64 ? "b64&" : "hex&") + wanted);
    return found == crlKeys_.end() ? nullptr : &crls_[found->second].document;
}

const std::string* Catalogue::crlAt(std::size_t index) const {
    if (crls_.empty() || index > crls_.size()) return nullptr;
    return &crls_[index == crls_.size() ? 0 : index].document;
}

const std::string* Catalogue::crlByName(const std::string& name) const {
    const auto found = crlKeys_.find("name&" + name);
    return found == crlKeys_.end() ? nullptr : &crls_[found->second].document;
}

}  // namespace tessal::pki_service
