#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <regex>

#include "diagnostics/config_scope.h"
#include "diagnostics/event_report.h"
#include "diagnostics/utf8_text.h"

using tessal::diag::reportEvent;
using tessal::diag::utf8Encode;
using tessal::test::ConfigScope;
using tessal::test::TempDir;

namespace {

// A log socket of our own that the event log is pointed at.
class LogSocket : public ::testing::Test {
protected:
    void SetUp() override {
        socketPath = dir.file("log.sock");
        fd = socket(AF_UNIX, SOCK_DGRAM, 0);
        ASSERT_GE(fd, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        ASSERT_LT(socketPath.size(), sizeof address.sun_path);
        std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size());
        ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        timeval wait{5, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        config = std::make_unique<ConfigScope>(dir.file("tessal.conf"),
                                               "[platform]\neventLogSocket = " + socketPath + "\n");
    }
    void TearDown() override {
        if (fd >= 0) close(fd);
    }

    std::string receive() {
        std::string buffer(65536, '\0');
        const ssize_t n = recv(fd, buffer.data(), buffer.size(), 0);
        if (n < 0) return {};
        buffer.resize(static_cast<std::size_t>(n));
        return buffer;
    }

    TempDir dir;
    std::string socketPath;
    int fd = -1;
    std::unique_ptr<ConfigScope> config;
};

TEST_F(LogSocket, DatagramIsAnRfc5424MessageOfTheSourceTvk) {
    ASSERT_TRUE(reportEvent(u"Dokumentas pasirašytas: Žemaitė", 0));
    const std::string d = receive();
    const std::regex header(R"(^<14>1 \d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}\.\d{3}[+-]\d{2}:\d{2} \S+ TVK (\d+) 1000 - )");
    std::smatch m;
    ASSERT_TRUE(std::regex_search(d, m, header)) << d;
    EXPECT_EQ(std::stol(m[1]), static_cast<long>(getpid()));
    EXPECT_EQ(d.substr(m.length(0)), "\xEF\xBB\xBF" + utf8Encode(u"Dokumentas pasirašytas: Žemaitė"));
}

TEST_F(LogSocket, SeverityOneIsAWarningTwoAnErrorAndTheRestInformation) {
    const std::pair<std::uint32_t, std::string> cases[] = {{1, "<12>"}, {2, "<11>"}, {0, "<14>"}, {3, "<14>"},
                                                           {0xFFFFFFFFu, "<14>"}};
    for (const auto& [severity, pri] : cases) {
        ASSERT_TRUE(reportEvent(u"x", severity));
        EXPECT_EQ(receive().substr(0, pri.size() + 2), pri + "1 ") << severity;
    }
}

TEST_F(LogSocket, TextKeepsItsLineBreaks) {
    ASSERT_TRUE(reportEvent(u"first\r\nsecond", 2));
    const std::string d = receive();
    EXPECT_TRUE(d.ends_with("\xEF\xBB\xBF" "first\r\nsecond")) << d;
}

TEST_F(LogSocket, NoListenerAnswersFalse) {
    close(fd);
    fd = -1;
    unlink(socketPath.c_str());
    EXPECT_FALSE(reportEvent(u"lost", 1));
}

}  // namespace
