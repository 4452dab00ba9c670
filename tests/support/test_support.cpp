#include "support/test_support.h"

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <stdlib.h>

#include <cstdlib>

namespace tessal::test {

TempDir::TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "tessal-test-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::string readWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeWholeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

bool runningInCi() {
    const char* ci = std::getenv("CI");
    return ci && *ci;
}

}  // namespace tessal::test
