// Addresses: the hosting page's address, the reference URLs of signed
// documents that name a certificate or a CRL, and PKI domain list texts.
#include <cstddef>
#include <cstdint>

#include "diagnostics/error_record.h"
#include "diagnostics/utf8_text.h"
#include "facade/page_address.h"
#include "fuzz_support.h"
#include "pki/domain_list.h"
#include "pki/store_query.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tessal;
    fuzz::isolateProcess();
    const std::string_view text = fuzz::textOf(data, size);

    facade::splitPageAddress(diag::utf16Of(text));
    diag::ErrorRecord error;
    pki::certificateQueryOfUrl(text, error);
    pki::crlQueryOfUrl(text, error);
    for (std::string_view domain : pki::splitDomainList(text)) {
        pki::normaliseDomain(domain, std::nullopt, 80);
        pki::normaliseDomain(domain, "https", 443);
    }
    pki::prepareQuery(static_cast<pki::PkiQueryKind>(pki::CertByHash | pki::Base64Key), text);
    pki::prepareQuery(pki::CrlByName, text);
    return 0;
}
