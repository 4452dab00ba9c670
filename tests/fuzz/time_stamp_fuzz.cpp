// Time-stamp tokens: the first byte picks the check, the rest up to the
// first line break is Base64 text, and what follows is the time-stamped data.
//   even: the text is a whole token, its authority looked up in the
//         preloaded stores
//   odd:  the text is a TSTInfo (possibly inside an OCTET STRING), checked
//         alone against the data
#include <cstddef>
#include <cstdint>

#include "crypto/time_stamp_context.h"
#include "data/codecs.h"
#include "fuzz_support.h"
#include "xades/time_stamp_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tessal;
    fuzz::isolateProcess();
    if (size == 0) return 0;
    const bool wholeToken = data[0] % 2 == 0;
    std::string_view rest;
    const std::string_view token = fuzz::splitAt(fuzz::textOf(data + 1, size - 1), '\n', rest);
    const data::Bytes stamped(rest.begin(), rest.end());
    crypto::TimeStampContext context;
    if (wholeToken) {
        fuzz::resetStores();
        // An earlier generation time judges the authority at that moment,
        // without the revocation check that "now" would ask the service for.
        xml::verifyTimeStampToken(context, token, stamped, crypto::fileTimeOfSeconds(1700000000));
    } else {
        data::Bytes content;
        if (data::base64Decode(token, content)) xml::checkTstInfo(context, content, stamped);
    }
    return 0;
}
