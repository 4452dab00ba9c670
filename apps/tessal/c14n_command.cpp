#include "c14n_command.h"

#include <algorithm>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>

#include "xmlsig/signature_job.h"
#include "xmlsig/xml_document.h"

#include "command_arguments.h"
#include "file_input.h"

namespace tessal::cli {

const char* const kC14nHelp =
    "usage: tessal c14n [--method URI] [--ref VALUE] [--transforms FILE] FILE\n"
    "\n"
    "Writes to stdout the octets that the digest of a reference is computed over.\n"
    "Without options: the inclusive canonical form (no comments) of the whole FILE.\n"
    "\n"
    "options:\n"
    "  --method URI      canonicalise with URI instead, one of\n"
    "                    http://www.w3.org/TR/2001/REC-xml-c14n-20010315[#WithComments]\n"
    "                    http://www.w3.org/2001/10/xml-exc-c14n#[WithComments]\n"
    "  --ref VALUE       take the data a same-document reference designates: \"\" for\n"
    "                    the whole document, \"#Id\" (or \"Id\") for the element with that Id\n"
    "  --transforms FILE apply the first Transforms element found in FILE to the\n"
    "                    referenced data, as verification does (not with --method)\n"
    "\n"
    "Exit status: 0 on success, 1 when the pipeline fails (its error text goes to\n"
    "stderr), 2 for a usage error.\n";

namespace {

struct Options {
    std::optional<std::string> method;
    std::string ref;
    std::optional<std::string> transforms;
    std::string file;
};

int failure(const diag::ErrorRecord& record) {
    std::cerr << record.text.str();
    return 1;
}

}  // namespace

int runC14n(const std::vector<std::string>& args) {
    Options options;
    bool haveFile = false;
    CommandArguments a("c14n", args);
    while (a.next()) {
        if (a.isHelp()) {
            std::cout << kC14nHelp;
            return 0;
        }
        if (a.is("--method") || a.is("--ref") || a.is("--transforms")) {
            const std::string option = a.current();
            const std::optional<std::string> v = a.value();
            if (!v) return a.usage(option + " needs a value");
            if (option == "--method") options.method = *v;
            else if (option == "--ref") options.ref = *v;
            else options.transforms = *v;
        } else if (a.isOption()) {
            return a.usage("unknown option " + a.current());
        } else if (haveFile) {
            return a.usage("only one FILE is taken");
        } else {
            options.file = a.current();
            haveFile = true;
        }
    }
    if (!haveFile) return a.usage("FILE is missing");
    if (options.method && options.transforms) return a.usage("--method and --transforms exclude each other");

    std::optional<std::string> input = readFileBytes(options.file);
    if (!input) {
        std::cerr << "tessal c14n: cannot read " << options.file << "\n";
        return 1;
    }

    // The transforms are read from their own document, which must outlive the run.
    std::optional<xml::XmlDocument> transformsDoc;
    xmlNodePtr transforms = nullptr;
    if (options.transforms) {
        const std::optional<std::string> text = readFileBytes(*options.transforms);
        if (!text) {
            std::cerr << "tessal c14n: cannot read " << *options.transforms << "\n";
            return 1;
        }
        transformsDoc.emplace(text->data(), text->size());
        if (transformsDoc->failed()) return failure(transformsDoc->error());
        transforms = xml::elementByName(transformsDoc->rootElement(), "Transforms");
        if (transforms == nullptr) {
            std::cerr << "tessal c14n: " << *options.transforms << " holds no Transforms element\n";
            return 1;
        }
    }

    xml::SignatureJob job(input->data(), input->size(), nullptr, nullptr);
    input.reset();
    if (job.failed()) return failure(job.error());
    const std::string_view value = std::string_view(options.ref).substr(
        std::min(options.ref.find_first_not_of('#'), options.ref.size()));
    bool ok = job.dereference(value);
    // The referenced data is a copy; the parsed file is no longer needed.
    job.releaseTree();
    if (ok) {
        if (options.method) ok = job.canonicaliseCurrentData(*options.method);
        else ok = job.applyTransforms(transforms);
    }
    if (!ok) return failure(job.error());
    const std::string_view octets = job.text();
    std::cout.write(octets.data(), static_cast<std::streamsize>(octets.size()));
    std::cout.flush();
    return std::cout ? 0 : 1;
}

}  // namespace tessal::cli
