// A same-document reference dereferenced and transformed: the input is the
// reference value, a line break, a Transforms element (or anything else),
// a NUL byte and the document.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "xmlsig/signature_job.h"
#include "xmlsig/xml_document.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tessal;
    fuzz::isolateProcess();
    std::string_view rest;
    const std::string_view value = fuzz::splitAt(fuzz::textOf(data, size), '\n', rest);
    std::string_view document;
    const std::string_view transforms = fuzz::splitAt(rest, '\0', document);

    xml::XmlDocument holder(transforms.data(), transforms.size());
    const xmlNodePtr start = holder.failed() ? nullptr : xml::elementByName(holder.rootElement(), "Transforms");
    xml::SignatureJob job(document.data(), document.size(), nullptr, nullptr);
    job.dereferenceAndTransform(value, start);
    return 0;
}
