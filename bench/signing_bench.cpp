// signXml and verifyXmlSign on business messages of about 10 KB, 1 MB and
// 10 MB, with the signer's key selected once in a SoftHSM2 token and the
// certificates already in the store, beside xmlsec1 signing with a key file
// and verifying with the certificate file on the same documents.
//
// Set-up mints the test PKI and a token in a temporary folder (openssl,
// softhsm2-util and pkcs11-tool must be installed); the xmlsec1 rows time the
// whole command, process start included.
#include <benchmark/benchmark.h>

#include <string>

#include "bench_rig.h"

namespace {

using tessal::bench::run;

// The document with an xmlsec1 template of the same shape as our signature
// (whole-document reference with the enveloped transform).
std::string xmlsecTemplateOf(const std::string& document) {
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

// The shared rig, with the xmlsec1 templates written beside its documents.
struct Rig : tessal::bench::Rig {
    Rig() {
        if (!ready) return;
        for (const auto& [size, document] : documents) {
            tessal::bench::writeAll(dir + "/template-" + std::to_string(size) + ".xml", xmlsecTemplateOf(document));
        }
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
                                "/template-" + size + ".xml 2>/dev/null";
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
             file + " " + r.dir + "/template-" + size + ".xml 2>/dev/null")) {
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
