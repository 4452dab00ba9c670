// Parse plus inclusive canonicalisation of generated business messages of
// about 1 MB and 10 MB: once as verification runs it (parse, copy of the
// document, canonical octets) and once straight over the parsed tree.
#include <benchmark/benchmark.h>

#include <string>

#include "xmlsig/canonicalisation.h"
#include "xmlsig/signature_job.h"

namespace {

// A message with a header and invoice lines, namespaces, attributes,
// entities, comments and non-ASCII text, grown to at least `bytes`.
std::string businessDocument(std::size_t bytes) {
    std::string doc =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<!DOCTYPE Msg [<!ENTITY org \"Norvata &amp; partneriai\"><!ATTLIST Line unit CDATA \"vnt\">]>\n"
        "<Msg xmlns=\"http://example.org/msg/1\" xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
        "xmlns:b=\"http://example.org/business\">\n"
        "  <Header Id=\"h1\"><From>&org;</From><To>Šiaulių bankas</To><Date>2024-05-17T10:15:00+03:00</Date></Header>\n"
        "  <Body>\n";
    for (int n = 1; doc.size() < bytes; ++n) {
        const std::string no = std::to_string(n);
        doc += "    <Line no=\"" + no + "\" b:code=\"P-" + no + "\" xsi:type=\"b:Goods\">\n"
               "      <Name>Prekė nr. " + no + " &amp; priedai</Name>\n"
               "      <Quantity>" + std::to_string(n % 17 + 1) + "</Quantity>\n"
               "      <Price currency=\"EUR\">" + std::to_string(n % 1000) + ".50</Price>\n"
               "      <!-- line " + no + " -->\n"
               "      <Note><![CDATA[<kaina> & \"nuolaida\"]]></Note>\n"
               "    </Line>\n";
    }
    doc += "  </Body>\n</Msg>\n";
    return doc;
}

const std::string& documentOf(std::size_t megabytes) {
    static const std::string one = businessDocument(1u << 20);
    static const std::string ten = businessDocument(10u << 20);
    return megabytes == 1 ? one : ten;
}

void BM_JobPipeline(benchmark::State& state) {
    const std::string& doc = documentOf(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        tessal::xml::SignatureJob job(doc.data(), doc.size(), nullptr, nullptr);
        const bool ok = job.dereferenceAndTransform("", nullptr);
        if (!ok) state.SkipWithError("canonicalisation failed");
        benchmark::DoNotOptimize(job.text().data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(doc.size()));
}

void BM_ParseAndCanonicalise(benchmark::State& state) {
    const std::string& doc = documentOf(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        tessal::xml::OwnedDoc tree(tessal::xml::parseBytes(doc.data(), doc.size()));
        tessal::xml::CanonicalOctets octets = tessal::xml::canonicalOctets(tree.get(), {false, false});
        if (!octets.block) state.SkipWithError("canonicalisation failed");
        benchmark::DoNotOptimize(octets.block.get());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(doc.size()));
}

BENCHMARK(BM_JobPipeline)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseAndCanonicalise)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
