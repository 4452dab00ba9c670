// Certificate and CRL records in every form they arrive in. The first byte
// picks the form, the rest is the input:
//   0 DER, 1 Base64 text, 2 a service answer carrying a certificate,
//   3 a KeyInfo element, 4 a service answer carrying a CRL.
// Whatever decodes also has its checks run, at a fixed moment.
#include <cstddef>
#include <cstdint>

#include "certs/certificate_record.h"
#include "certs/crl_record.h"
#include "fuzz_support.h"

namespace {

constexpr std::int64_t kMoment = 1700000000;  // 2023-11-14, so that runs repeat

void exercise(tessal::certs::CertificateRecord& record) {
    if (!record.hasCertificate()) return;
    record.checkValidity(kMoment);
    record.checkOrganisation();
    tessal::certs::CertificateRecord copy(record);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tessal;
    fuzz::isolateProcess();
    if (size == 0) return 0;
    const std::uint8_t form = data[0] % 5;
    const std::uint8_t* input = data + 1;
    const std::size_t length = size - 1;
    const std::string_view text = fuzz::textOf(input, length);
    switch (form) {
    case 0: {
        certs::CertificateRecord record;
        record.fromDer(input, length);
        exercise(record);
        break;
    }
    case 1: {
        certs::CertificateRecord record;
        record.fromBase64(text.data(), static_cast<std::ptrdiff_t>(text.size()));
        exercise(record);
        break;
    }
    case 2: {
        certs::CertificateRecord record;
        if (record.parse(input, length)) record.fromXml();
        exercise(record);
        break;
    }
    case 3: {
        xml::XmlDocument holder(input, length);
        if (holder.failed()) break;
        certs::CertificateRecord record = certs::CertificateRecord::fromKeyInfo(holder.rootElement());
        exercise(record);
        break;
    }
    default: {
        certs::CrlRecord record(input, length);
        if (!record.hasCrl()) break;
        record.checkCrlValidity(kMoment);
        record.revocationOf({0x01});
        record.revocationOf({0x00, 0x10, 0x00});
        certs::CrlRecord copy(record);
        break;
    }
    }
    return 0;
}
