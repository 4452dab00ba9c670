#pragma once
// Helpers of the signature-job suites: running a job over a text, reading the
// codes out of its record, and running xmllint for comparison.
#include <cstdio>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "diagnostics/error_record.h"
#include "support/test_support.h"
#include "xmlsig/signature_job.h"
#include "xmlsig/xml_document.h"

namespace tessal::test {

// Every entry's code in the record, newest first.
inline std::vector<int> codesOf(const diag::ErrorRecord& record) {
    static const std::regex code(" : (7[0-9]{7});\r\n");
    std::vector<int> codes;
    const std::string& text = record.text.str();
    for (auto it = std::sregex_iterator(text.begin(), text.end(), code); it != std::sregex_iterator(); ++it) {
        codes.push_back(std::stoi((*it)[1].str()));
    }
    return codes;
}

inline int code(int place, int index) { return diag::errorCode(place, index); }

struct JobOutcome {
    bool ok = false;
    std::string octets;
    std::vector<int> codes;
    std::string text;  // the record's text
};

inline JobOutcome outcomeOf(bool ok, const xml::SignatureJob& job) {
    return {ok, std::string(job.text()), codesOf(job.error()), job.error().text.str()};
}

inline xml::SignatureJob jobOver(const std::string& document) {
    return xml::SignatureJob(document.data(), document.size(), nullptr, nullptr);
}

// A parsed text that a test takes nodes (a transforms area) from.
class XmlHolder {
public:
    explicit XmlHolder(const std::string& text) : document_(text.data(), text.size()) {}
    xmlNodePtr root() const { return document_.rootElement(); }

private:
    xml::XmlDocument document_;
};

// The whole document through the pipeline with one canonicalisation method.
inline JobOutcome canonicalWhole(const std::string& document, std::string_view method) {
    xml::SignatureJob job(document.data(), document.size(), nullptr, nullptr);
    const bool ok = job.dereference("") && job.canonicaliseCurrentData(method);
    return outcomeOf(ok, job);
}

// Dereference `value` in `document` and apply the first Transforms element
// found in `transforms` (none when empty).
inline JobOutcome transformed(const std::string& document, std::string_view value, const std::string& transforms) {
    std::optional<xml::XmlDocument> holder;
    xmlNodePtr start = nullptr;
    if (!transforms.empty()) {
        holder.emplace(transforms.data(), transforms.size());
        start = xml::elementByName(holder->rootElement(), "Transforms");
    }
    xml::SignatureJob job(document.data(), document.size(), nullptr, nullptr);
    const bool ok = job.dereferenceAndTransform(value, start);
    return outcomeOf(ok, job);
}

// stdout of a shell command; nothing when it could not run or failed.
inline std::optional<std::string> commandOutput(const std::string& command) {
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return std::nullopt;
    std::string out;
    char buffer[4096];
    std::size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    const int status = pclose(pipe);
    if (status != 0) return std::nullopt;
    return out;
}

}  // namespace tessal::test
