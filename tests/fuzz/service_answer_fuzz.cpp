// Answers of the certificate web service: whatever is asked, the service
// answers the input. The first byte picks the question; certificate answers
// go through the certificate store, CRL answers through the CRL store and the
// list of current CRLs.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "certs/certificate_record.h"
#include "certs/crl_record.h"
#include "fuzz_support.h"
#include "pki/certificate_store.h"
#include "pki/crl_store.h"

namespace {

using namespace tessal;

// A web service that answers every request with the same body.
class OneAnswerSource : public pki::PkiSource {
public:
    explicit OneAnswerSource(std::string_view answer) : answer_(answer) {}

    bool request(std::optional<std::string_view>, pki::PkiQueryKind) override { return answer(); }
    bool fetch(std::string_view, std::optional<std::string_view>) override { return answer(); }

private:
    bool answer() {
        body_.clear();
        return body_.append(answer_.data(), answer_.size());
    }
    std::string_view answer_;
};

// Keys that none of the preloaded certificates carry, so the store asks.
constexpr std::string_view kUnknownHash = "00112233445566778899AABBCCDDEEFF00112233";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::isolateProcess();
    if (size == 0) return 0;
    fuzz::resetStores();
    const std::uint8_t question = data[0] % 6;
    OneAnswerSource source(fuzz::textOf(data + 1, size - 1));
    switch (question) {
    case 0: {
        certs::CertificateRecord found;
        pki::findCertificate(found, source, pki::CertByHash, kUnknownHash);
        break;
    }
    case 1: {
        certs::CertificateRecord found;
        pki::findCertificate(found, source, pki::CertByKeyHash, kUnknownHash);
        break;
    }
    case 2: {
        certs::CertificateRecord found;
        pki::findCertificateByUrl("http://pki.example/pki/cert/?subject&CN%3Dnobody", found, source);
        break;
    }
    case 3: {
        certs::CrlRecord found;
        pki::findCrl(source, found, pki::CrlByHash, kUnknownHash);
        break;
    }
    case 4: {
        certs::CrlRecord found;
        pki::findCrl(source, found, pki::CrlByName, "1");
        break;
    }
    default:
        pki::refreshCurrentCrls(source);
        break;
    }
    return 0;
}
