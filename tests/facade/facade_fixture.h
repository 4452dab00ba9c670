#pragma once
// Shared set-up of the façade suites: a private global log, an empty PKI
// domain list, and hosts with and without a page or a user interface.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "diagnostics/log_file.h"
#include "pki/domain_list.h"
#include "support/test_support.h"
#include "tessal/sign.h"

namespace tessal::test {

class TestHost : public HostSite {
public:
    std::optional<PageLocation> pageLocation;
    int repaints = 0;
    std::optional<PageLocation> page() const override { return pageLocation; }
    void requestRepaint() override { ++repaints; }
};

class FacadeTest : public ::testing::Test {
protected:
    void SetUp() override {
        diag::setGlobalLogPathForTesting(dir.file("global.log"));
        pki::resetDomainsForTesting();
        // The suites run headless: a host without an interface must not open
        // a desktop window because the developer's session has a display.
        ::unsetenv("DISPLAY");
        ::unsetenv("WAYLAND_DISPLAY");
        host = std::make_shared<TestHost>();
    }
    void TearDown() override { diag::setGlobalLogPathForTesting(""); }

    std::unique_ptr<Sign> inPage(const std::string& url, std::uint32_t zone = 3) {
        host->pageLocation = PageLocation{std::u16string(url.begin(), url.end()), zone};
        return std::make_unique<Sign>(host);
    }

    // The global log's lines without their time, process and thread prefix.
    std::vector<std::string> logMessages() const {
        std::vector<std::string> lines;
        const std::string text = readWholeFile(dir.file("global.log"));
        std::size_t start = 0;
        while (start < text.size()) {
            std::size_t end = text.find("\r\n", start);
            if (end == std::string::npos) end = text.size();
            std::string line = text.substr(start, end - start);
            const std::size_t bracket = line.find("] ");
            lines.push_back(bracket == std::string::npos ? line : line.substr(bracket + 2));
            start = end + 2;
        }
        return lines;
    }

    bool logHas(const std::string& message) const {
        for (const std::string& line : logMessages()) {
            if (line == message) return true;
        }
        return false;
    }

    static std::u16string lastDescription() {
        const auto info = takeErrorInfo();
        return info ? info->description : u"<none>";
    }

    TempDir dir;
    std::shared_ptr<TestHost> host;
};

}  // namespace tessal::test
