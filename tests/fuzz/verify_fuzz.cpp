// A signed document verified end to end: structure, signing time, qualifying
// properties, time-stamps, references and the signature value. The signer's
// certificate can come only from the preloaded test certificates or from
// the document itself; nothing is fetched.
#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"
#include "xades/signature_info.h"
#include "xades/verification.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tessal;
    fuzz::isolateProcess();
    fuzz::resetStores();
    xml::SignatureInfo info;
    xml::VerificationJob job(data, size, nullptr, &info);
    xml::verifySignature(job);
    return 0;
}
