// signXml and verifyXmlSign on business messages of about 10 KB, 1 MB and
// 10 MB, with the signer's key selected once in a SoftHSM2 token and the
// certificates already in the store, beside xmlsec1 signing with a key file
// and verifying with the certificate file on the same documents.
//
// Set-up mints the test PKI and a token in a temporary folder (openssl,
// softhsm2-util and pkcs11-tool must be installed); the xmlsec1 rows time the
// whole command, process start included.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>

#include "certs/certificate_record.h"
#include "diagnostics/utf8_text.h"
#include "pki/certificate_store.h"
#include "tessal/sign.h"

#ifndef TESSAL_SOURCE_DIR
#error "TESSAL_SOURCE_DIR must name the source tree"
#endif

namespace {

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void writeAll(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

bool run(const std::string& command) { return std::system(command.c_str()) == 0; }

// A business message grown to at least `bytes`.
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

// The PKI, the token, the configuration and the documents, made once.
struct Rig {
    std::string dir;
    bool ready = false;
    std::map<std::size_t, std::string> documents;  // by size in bytes
    std::map<std::size_t, std::string> signedDocuments;
    std::unique_ptr<tessal::Sign> sign;

    Rig() {
        char pattern[] = "/tmp/tessal-bench-XXXXXX";
        if (!::mkdtemp(pattern)) return;
        dir = pattern;
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
            tessal::certs::CertificateRecord record;
            const std::string pem = readAll(dir + "/pki/certs/" + std::string(name) + ".pem");
            const std::size_t begin = pem.find('\n') + 1;
            const std::size_t end = pem.find("-----END");
            std::string base64 = pem.substr(begin, end - begin);
            if (!record.fromBase64(base64.data(), static_cast<std::ptrdiff_t>(base64.size()))) return;
            tessal::pki::addCertificate(record);
        }
        sign = std::make_unique<tessal::Sign>();
        if (sign->putKeyContainer(u"signer") != tessal::hr::S_OK) return;
        for (std::size_t size : {10u << 10, 1u << 20, 10u << 20}) {
            documents[size] = businessDocument(size);
            tessal::Variant input = tessal::Variant::bytes({documents[size].begin(), documents[size].end()});
            tessal::Variant output;
            if (sign->signXml(&input, 1, u"", output) != tessal::hr::S_OK) return;
            signedDocuments[size].assign(output.data().begin(), output.data().end());
            writeAll(dir + "/doc-" + std::to_string(size) + ".xml", documents[size]);
            writeAll(dir + "/signed-" + std::to_string(size) + ".xml", xmlsecTemplateOf(documents[size]));
        }
        ready = true;
    }

    // The document with an xmlsec1 template of the same shape as our
    // signature (whole-document reference with the enveloped transform).
    static std::string xmlsecTemplateOf(const std::string& document) {
        std::string doc = document;
        const std::size_t end = doc.rfind("</Msg>");
        doc.insert(end + 6,
                   "<Signature xmlns=\"http://www.w3.org/2000/09/xmldsig#\"><SignedInfo>"
                   "<CanonicalizationMethod Algorithm=\"http://www.w3.org/TR/2001/REC-xml-c14n-20010315\"/>"
                   "<SignatureMethod Algorithm=\"http://www.w3.org/2001/04/xmldsig-more#rsa-sha256\"/>"
                   "<Reference URI=\"\"><Transforms><Transform "
                   "Algorithm=\"http://www.w3.org/2000/09/xmldsig#enveloped-signature\"/></Transforms>"
                   "<DigestMethod Algorithm=\"http://www.w3.org/2001/04/xmlenc#sha256\"/><DigestValue/></Reference>"
                   "</SignedInfo><SignatureValue/></Signature>");
        const std::size_t root = doc.find("<Msg ");
        doc.insert(root, "<EDoc>");
        doc += "</EDoc>\n";
        return doc;
    }
};

Rig& rig() {
    static Rig instance;
    return instance;
}

void BM_SignXml(benchmark::State& state) {
    Rig& r = rig();
    if (!r.ready) return state.SkipWithError("the signing rig could not be set up");
    const std::string& doc = r.documents[static_cast<std::size_t>(state.range(0))];
    for (auto _ : state) {
        tessal::Variant input = tessal::Variant::bytes({doc.begin(), doc.end()});
        tessal::Variant output;
        if (r.sign->signXml(&input, 1, u"", output) != tessal::hr::S_OK) return state.SkipWithError("signXml failed");
        benchmark::DoNotOptimize(output);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * doc.size()));
}

void BM_VerifyXmlSign(benchmark::State& state) {
    Rig& r = rig();
    if (!r.ready) return state.SkipWithError("the signing rig could not be set up");
    const std::string& doc = r.signedDocuments[static_cast<std::size_t>(state.range(0))];
    for (auto _ : state) {
        tessal::Variant input = tessal::Variant::bytes({doc.begin(), doc.end()});
        std::u16string subject;
        if (r.sign->verifyXmlSign(&input, subject) != tessal::hr::S_OK) {
            return state.SkipWithError("verifyXmlSign failed");
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * doc.size()));
}

void BM_Xmlsec1Sign(benchmark::State& state) {
    Rig& r = rig();
    if (!r.ready) return state.SkipWithError("the signing rig could not be set up");
    const std::string size = std::to_string(state.range(0));
    const std::string command = "xmlsec1 --sign --privkey-pem " + r.dir + "/pki/keys/signer.key," + r.dir +
                                "/pki/certs/signer.pem --output " + r.dir + "/xmlsec-" + size + ".xml " + r.dir +
                                "/signed-" + size + ".xml 2>/dev/null";
    for (auto _ : state) {
        if (!run(command)) return state.SkipWithError("xmlsec1 --sign failed");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * state.range(0)));
}

void BM_Xmlsec1Verify(benchmark::State& state) {
    Rig& r = rig();
    if (!r.ready) return state.SkipWithError("the signing rig could not be set up");
    const std::string size = std::to_string(state.range(0));
    const std::string file = r.dir + "/xmlsec-" + size + ".xml";
    if (!run("xmlsec1 --sign --privkey-pem " + r.dir + "/pki/keys/signer.key," + r.dir + "/pki/certs/signer.pem --output " +
             file + " " + r.dir + "/signed-" + size + ".xml 2>/dev/null")) {
        return state.SkipWithError("xmlsec1 --sign failed");
    }
    const std::string command = "xmlsec1 --verify --enabled-key-data key-name --pubkey-cert-pem " + r.dir +
                                "/pki/certs/signer.pem " + file + " >/dev/null 2>&1";
    for (auto _ : state) {
        if (!run(command)) return state.SkipWithError("xmlsec1 --verify failed");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * state.range(0)));
}

void sizes(benchmark::internal::Benchmark* b) {
    b->Arg(10 << 10)->Arg(1 << 20)->Arg(10 << 20)->Unit(benchmark::kMillisecond)->UseRealTime();
}

}  // namespace

BENCHMARK(BM_SignXml)->Apply(sizes);
BENCHMARK(BM_Xmlsec1Sign)->Apply(sizes);
BENCHMARK(BM_VerifyXmlSign)->Arg(1 << 20)->Arg(10 << 20)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Xmlsec1Verify)->Arg(1 << 20)->Arg(10 << 20)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_MAIN();
