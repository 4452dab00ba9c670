#include "bench_rig.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "certs/certificate_record.h"
#include "pki/certificate_store.h"

#ifndef TESSAL_SOURCE_DIR
#error "TESSAL_SOURCE_DIR must name the source tree"
#endif

namespace tessal::bench {

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void writeAll(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

bool run(const std::string& command) { return std::system(command.c_str()) == 0; }

std::string businessDocument(std::size_t bytes) {
    std::string doc =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Msg Type=\"Invoice\" Version=\"1.0\"><Header><Sender>UAB "
        "Ąžuolynas</Sender><Receiver>Norvata Kelde</Receiver><MsgId>INV-1</MsgId><System>Apskaita</System></Header>"
        "<Docs><Doc><Body>\n";
    for (int n = 1; doc.size() < bytes; ++n) {
        const std::string no = std::to_string(n);
        doc += "<Line Item=\"Prekė nr. " + no + "\" Quantity=\"" + std::to_string(n % 17 + 1) + "\" Price=\"" +
               std::to_string(n % 1000) + ".50\"/>\n";
    }
    doc += "</Body></Doc></Docs></Msg>\n";
    return doc;
}

Rig::Rig(std::string folder) {
    if (folder.empty()) {
        char pattern[] = "/tmp/tessal-bench-XXXXXX";
        if (!::mkdtemp(pattern)) return;
        folder = pattern;
    } else if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        return;
    }
    dir = folder;
    const std::string source = TESSAL_SOURCE_DIR;
    if (!run("bash " + source + "/tools/test-pki/mint.sh " + dir + "/pki >/dev/null") ||
        !run("bash " + source + "/tools/test-pki/make-token.sh " + dir + "/hsm " + dir +
             "/pki bench 1234 signer >/dev/null")) {
        return;
    }
    ::setenv("SOFTHSM2_CONF", (dir + "/hsm/softhsm2.conf").c_str(), 1);
    ::setenv("XDG_CACHE_HOME", (dir + "/cache").c_str(), 1);
    writeAll(dir + "/tessal.conf",
             "[SOFTWARE\\Microsoft\\Cryptography\\Defaults\\Provider\\Bench HSM]\n"
             "module = /usr/lib/softhsm/libsofthsm2.so\npin = 1234\n\n[platform]\np11kitDiscovery = no\n");
    ::setenv("TESSAL_CONFIG", (dir + "/tessal.conf").c_str(), 1);
    // The certificates in the store: nothing goes to a certificate service.
    for (const char* name : {"signer", "issuing-ca", "root-ca"}) {
        certs::CertificateRecord record;
        const std::string pem = readAll(dir + "/pki/certs/" + std::string(name) + ".pem");
        const std::size_t begin = pem.find('\n') + 1;
        const std::size_t end = pem.find("-----END");
        std::string base64 = pem.substr(begin, end - begin);
        if (!record.fromBase64(base64.data(), static_cast<std::ptrdiff_t>(base64.size()))) return;
        pki::addCertificate(record);
    }
    sign = std::make_unique<Sign>();
    if (sign->putKeyContainer(u"signer") != hr::S_OK) return;
    for (std::size_t size : kDocumentSizes) {
        documents[size] = businessDocument(size);
        Variant input = Variant::bytes({documents[size].begin(), documents[size].end()});
        Variant output;
        if (sign->signXml(&input, 1, u"", output) != hr::S_OK) return;
        signedDocuments[size].assign(output.data().begin(), output.data().end());
        writeAll(dir + "/doc-" + std::to_string(size) + ".xml", documents[size]);
        writeAll(dir + "/signed-" + std::to_string(size) + ".xml", signedDocuments[size]);
    }
    ready = true;
}

}  // namespace tessal::bench
