#include "fuzz_support.h"

#include <libxml/xmlerror.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>

#include "certs/certificate_record.h"
#include "pki/certificate_store.h"
#include "pki/crl_store.h"
#include "pki/domain_list.h"
#include "pki/store_lock.h"

namespace tessal::fuzz {
namespace {

void quiet(void*, const char*, ...) {}

std::vector<certs::CertificateRecord> loadCertificates() {
    const char* env = std::getenv("TESSAL_FUZZ_CERTS");
    const std::filesystem::path folder = env && *env ? env : TESSAL_FUZZ_DEFAULT_CERTS;
    std::vector<certs::CertificateRecord> loaded;
    std::error_code failure;
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder, failure)) {
        if (entry.path().extension() == ".der") files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());  // the same order in every run
    for (const auto& file : files) {
        std::ifstream in(file, std::ios::binary);
        const std::string der((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        certs::CertificateRecord record;
        if (record.fromDer(reinterpret_cast<const std::uint8_t*>(der.data()), der.size())) loaded.push_back(record);
    }
    return loaded;
}

}  // namespace

void isolateProcess() {
    static std::once_flag once;
    std::call_once(once, [] {
        ::setenv("TESSAL_CONFIG", "/nonexistent/tessal-fuzz.conf", 1);
        // Neither gives an absolute path, so there is no cache folder.
        ::setenv("XDG_CACHE_HOME", "", 1);
        ::setenv("HOME", "", 1);
        xmlSetGenericErrorFunc(nullptr, quiet);
        pki::resetDomainsForTesting();
        pki::disableCertificateChecks();
    });
}

void resetStores() {
    static const std::vector<certs::CertificateRecord> preloaded = loadCertificates();
    pki::clearCertificateStoreForTesting();
    pki::clearCrlStoreForTesting();
    for (const auto& record : preloaded) pki::addCertificate(record);
}

std::string_view splitAt(std::string_view input, char separator, std::string_view& rest) {
    const std::size_t at = input.find(separator);
    if (at == std::string_view::npos) {
        rest = {};
        return input;
    }
    rest = input.substr(at + 1);
    return input.substr(0, at);
}

}  // namespace tessal::fuzz
