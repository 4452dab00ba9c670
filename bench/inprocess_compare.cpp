// verifyXmlSign and signXml timed in this process beside the lower bound
// (one parse, one canonicalisation, one RSA operation) on the rig's
// documents. The cases of a size run round-robin, one repetition of each in
// turn, so a slow spell of a loaded machine falls on all of them alike.
// Prints rows of compare.sh's table; the rig folder stays for the whole
// command rows.
//
// usage: inprocess_compare --rig DIR [--reps SMALL LARGE]
//   SMALL repetitions for 10 KB and 1 MB, LARGE for 10 MB (15 and 7).
#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "bench_rig.h"
#include "lower_bound.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Case {
    const char* name;
    std::function<bool()> once;
    std::vector<double> milliseconds;
};

std::string sizeText(std::size_t bytes) {
    return bytes >= (1u << 20) ? std::to_string(bytes >> 20) + " MB" : std::to_string(bytes >> 10) + " KB";
}

std::string msText(double ms) {
    char text[32];
    std::snprintf(text, sizeof text, ms < 1 ? "%.3f" : ms < 100 ? "%.2f" : "%.0f", ms);
    return text;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// One row of the table; the same columns as compare.sh prints.
void row(const Case& c, std::size_t size, const std::string& note) {
    const auto [low, high] = std::minmax_element(c.milliseconds.begin(), c.milliseconds.end());
    const std::string spread = msText(*low) + ".." + msText(*high);
    std::printf("%-11s %-30s %-6s %10s %19s  %s\n", "in-process", c.name, sizeText(size).c_str(),
                (msText(median(c.milliseconds)) + " ms").c_str(), spread.c_str(), note.c_str());
}

std::string ratioText(const Case& over, double under) {
    char text[64];
    std::snprintf(text, sizeof text, "x%.2f", median(over.milliseconds) / under);
    return text;
}

int fail(const char* what) {
    std::fprintf(stderr, "inprocess_compare: %s\n", what);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    std::string folder;
    int repsSmall = 15, repsLarge = 7;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--rig" && i + 1 < argc) {
            folder = argv[++i];
        } else if (arg == "--reps" && i + 2 < argc) {
            repsSmall = std::max(1, std::atoi(argv[++i]));
            repsLarge = std::max(1, std::atoi(argv[++i]));
        } else {
            std::fprintf(stderr, "usage: inprocess_compare --rig DIR [--reps SMALL LARGE]\n");
            return 2;
        }
    }
    if (folder.empty()) return fail("--rig DIR is required");
    // Each case pays for freeing its own memory when it frees it. With fast
    // bins, the merging of one case's freed tree would fall on the next
    // case's first large allocation, whichever case that is.
    mallopt(M_MXFAST, 0);
    tessal::bench::Rig rig(folder);
    if (!rig.ready) return fail(("the signing rig could not be set up in " + folder + " (it must be a new or empty folder)").c_str());
    EVP_PKEY* publicKey = lb_load_certificate_key((rig.dir + "/pki/certs/signer.pem").c_str());
    EVP_PKEY* privateKey = lb_load_private_key((rig.dir + "/pki/keys/signer.key").c_str());
    if (!publicKey || !privateKey) return fail("the signer's key files cannot be read");

    for (std::size_t size : tessal::bench::kDocumentSizes) {
        const std::string& document = rig.documents[size];
        const std::string& signedDocument = rig.signedDocuments[size];
        // The caller's arguments are made before the clock starts, as the
        // lower bound's bytes are.
        tessal::Variant signedInput = tessal::Variant::bytes({signedDocument.begin(), signedDocument.end()});
        tessal::Variant unsignedInput = tessal::Variant::bytes({document.begin(), document.end()});
        std::vector<Case> cases = {
            {"lower bound verify",
             [&] { return lb_verify(signedDocument.data(), signedDocument.size(), publicKey) == 0; }, {}},
            {"verifyXmlSign",
             [&] {
                 std::u16string subject;
                 return rig.sign->verifyXmlSign(&signedInput, subject) == tessal::hr::S_OK;
             },
             {}},
            {"lower bound sign + verify",
             [&] {
                 unsigned char* out = nullptr;
                 std::size_t length = 0;
                 bool ok = lb_sign(document.data(), document.size(), privateKey, &out, &length) == 0 &&
                           lb_verify(reinterpret_cast<const char*>(out), length, publicKey) == 0;
                 lb_free(out);
                 return ok;
             },
             {}},
            {"signXml (with its self-check)",
             [&] {
                 tessal::Variant output;
                 return rig.sign->signXml(&unsignedInput, 1, u"", output) == tessal::hr::S_OK;
             },
             {}},
        };
        const int reps = size >= (10u << 20) ? repsLarge : repsSmall;
        for (int rep = -1; rep < reps; ++rep) {  // the first round warms up and is not counted
            for (Case& c : cases) {
                const Clock::time_point start = Clock::now();
                if (!c.once()) {
                    std::fprintf(stderr, "inprocess_compare: %s failed on %s\n", c.name, sizeText(size).c_str());
                    return 1;
                }
                const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
                if (rep >= 0) c.milliseconds.push_back(ms);
            }
        }
        row(cases[0], size, "");
        row(cases[1], size, ratioText(cases[1], median(cases[0].milliseconds)) + " lower bound verify");
        row(cases[2], size, "");
        row(cases[3], size, ratioText(cases[3], median(cases[2].milliseconds)) + " lower bound sign + verify");
        std::fflush(stdout);
    }
    EVP_PKEY_free(publicKey);
    EVP_PKEY_free(privateKey);
    return 0;
}
