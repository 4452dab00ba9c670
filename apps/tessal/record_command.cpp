#include "record_command.h"

#include <iostream>
#include <optional>

#include "certs/certificate_record.h"
#include "certs/crl_record.h"
#include "data/codecs.h"
#include "diagnostics/utf8_text.h"
#include "file_input.h"
#include "result_output.h"

namespace tessal::cli {

namespace {

const char* const kCertHelp =
    "usage: tessal cert FILE\n"
    "\n"
    "Reads a certificate (PEM, DER, Base64 text, or a certificate service answer)\n"
    "and prints as one line of JSON the texts the certificate stores and the web\n"
    "service find it by: id, idBase64, sha256Id, sha384Id, sha512Id, serialNumber,\n"
    "subject, subjectCommonName, issuer, issuerCommonName, userCode, selfSigned,\n"
    "keyHash, keyHashBase64.\n"
    "\n"
    "Exit status: 0 when printed, 1 when FILE holds no usable certificate (the\n"
    "reason goes to standard error), 2 for a usage error.\n";

const char* const kCrlHelp =
    "usage: tessal crl FILE\n"
    "\n"
    "Reads a CRL (PEM, DER, Base64 text, or a CRL service answer) and prints as\n"
    "one line of JSON the texts the CRL stores find it by: id, idBase64, issuer,\n"
    "issuerCommonName.\n"
    "\n"
    "Exit status: 0 when printed, 1 when FILE holds no usable CRL (the reason goes\n"
    "to standard error), 2 for a usage error.\n";

enum class Form { Xml, Der, Base64 };

struct Input {
    Form form;
    std::string bytes;  // the XML document, the DER, or the Base64 text
};

std::string_view trimmedStart(std::string_view text) {
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    while (!text.empty() && (text[0] == ' ' || text[0] == '\t' || text[0] == '\r' || text[0] == '\n')) {
        text.remove_prefix(1);
    }
    return text;
}

// The Base64 body of the first PEM block, or the whole text when there is no
// PEM armour.
std::string pemBody(std::string_view text) {
    const std::size_t begin = text.find("-----BEGIN ");
    if (begin == std::string_view::npos) return std::string(text);
    const std::size_t bodyStart = text.find('\n', begin);
    const std::size_t end = text.find("-----END ", begin);
    if (bodyStart == std::string_view::npos || end == std::string_view::npos || end < bodyStart) return {};
    std::string body;
    for (char c : text.substr(bodyStart, end - bodyStart)) {
        if (c != '\r' && c != '\n' && c != ' ' && c != '\t') body += c;
    }
    return body;
}

Input classify(const std::string& bytes) {
    const std::string_view text = trimmedStart(bytes);
    if (!text.empty() && text[0] == '<') return {Form::Xml, bytes};
    // A DER SEQUENCE starts with 0x30; Base64 text never starts with it ('0' is 0x30 but
    // Base64 of a SEQUENCE starts with 'M').
    if (!bytes.empty() && static_cast<unsigned char>(bytes[0]) == 0x30 && text.find("-----BEGIN ") == std::string_view::npos &&
        (bytes.size() < 2 || static_cast<unsigned char>(bytes[1]) >= 0x80 || bytes[1] < '0')) {
        return {Form::Der, bytes};
    }
    return {Form::Base64, pemBody(text)};
}

void member(std::string& out, const char* name, const diag::Utf8Text& value) {
    out += out.size() > 1 ? "," : "";
    out += "\"";
    out += name;
    out += "\":" + jsonString(value.utf16());
}

int failed(const diag::ErrorRecord& error, const std::string& what) {
    if (error.text.empty()) {
        std::cerr << "tessal: no " << what << " found\n";
    } else {
        std::cerr << error.text.str();
    }
    return 1;
}

}  // namespace

int runCert(const std::vector<std::string>& args) {
    std::string bytes;
    if (const std::optional<int> status = takeFileArgument("cert", kCertHelp, args, bytes)) return *status;

    certs::CertificateRecord record;
    const Input input = classify(bytes);
    bool ok = false;
    switch (input.form) {
        case Form::Xml: ok = record.parse(input.bytes.data(), input.bytes.size()) && record.fromXml(); break;
        case Form::Der:
            ok = record.fromDer(reinterpret_cast<const std::uint8_t*>(input.bytes.data()), input.bytes.size());
            break;
        case Form::Base64:
            ok = record.fromBase64(input.bytes.data(), static_cast<std::ptrdiff_t>(input.bytes.size()));
            break;
    }
    if (!ok || record.holdsError() || !record.hasCertificate()) return failed(record.error(), "certificate");

    std::string out = "{";
    member(out, "id", record.id());
    member(out, "idBase64", record.idBase64());
    member(out, "sha256Id", record.sha256Id());
    member(out, "sha384Id", record.sha384Id());
    member(out, "sha512Id", record.sha512Id());
    member(out, "serialNumber", record.serialNumber());
    member(out, "subject", record.subject());
    member(out, "subjectCommonName", record.subjectCommonName());
    member(out, "issuer", record.issuer());
    member(out, "issuerCommonName", record.issuerCommonName());
    member(out, "userCode", record.userCode());
    out += std::string(",\"selfSigned\":") + (record.selfSigned() ? "true" : "false");
    member(out, "keyHash", record.keyHash());
    member(out, "keyHashBase64", record.keyHashBase64());
    out += "}";
    std::cout << out << "\n";
    return 0;
}

int runCrl(const std::vector<std::string>& args) {
    std::string bytes;
    if (const std::optional<int> status = takeFileArgument("crl", kCrlHelp, args, bytes)) return *status;

    const Input input = classify(bytes);
    std::string document;
    if (input.form == Form::Xml) {
        document = input.bytes;
    } else {
        // Other forms travel in the service document, the one way a CRL record is made.
        std::string base64;
        if (input.form == Form::Der) {
            data::base64Encode(reinterpret_cast<const std::uint8_t*>(input.bytes.data()), input.bytes.size(), base64);
        } else {
            base64 = input.bytes;
        }
        document = certs::crlXml(base64);
    }
    const certs::CrlRecord record(document.data(), document.size());
    if (record.holdsError() || !record.hasCrl()) return failed(record.error(), "CRL");

    std::string out = "{";
    member(out, "id", record.id());
    member(out, "idBase64", record.idBase64());
    member(out, "issuer", record.issuer());
    member(out, "issuerCommonName", record.issuerCommonName());
    out += "}";
    std::cout << out << "\n";
    return 0;
}

}  // namespace tessal::cli
