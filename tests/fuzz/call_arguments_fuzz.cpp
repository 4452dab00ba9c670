// The argument forms of `tessal call`, one argument per input line. The
// forms that read a file (sf:, b:, also behind r:) are left out: their value
// is a path, and a harness reads no files.
#include <cstddef>
#include <cstdint>
#include <string>

#include "call_arguments.h"
#include "fuzz_support.h"

namespace {

bool readsAFile(std::string_view argument) {
    while (argument.substr(0, 2) == "r:") argument.remove_prefix(2);
    return argument.substr(0, 3) == "sf:" || argument.substr(0, 2) == "b:";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tessal;
    fuzz::isolateProcess();
    std::string_view rest = fuzz::textOf(data, size);
    while (!rest.empty()) {
        const std::string_view line = fuzz::splitAt(rest, '\n', rest);
        if (readsAFile(line)) continue;
        std::string error;
        cli::parseArgument(std::string(line), error);
    }
    return 0;
}
