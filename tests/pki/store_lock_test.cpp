#include "pki/store_lock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace tessal::pki {
namespace {

class CertificateChecks : public ::testing::Test {
protected:
    void SetUp() override { clearCertificateChecksOffForTesting(); }
    void TearDown() override { clearCertificateChecksOffForTesting(); }
};

TEST_F(CertificateChecks, OffOnlyOnceDisabledAndStaysOff) {
    EXPECT_FALSE(certificateChecksOff());
    disableCertificateChecks();
    EXPECT_TRUE(certificateChecksOff());
    disableCertificateChecks();
    EXPECT_TRUE(certificateChecksOff());
}

TEST_F(CertificateChecks, SwitchWaitsForTheStoreLock) {
    std::atomic<bool> returned{false};
    std::thread switcher;
    {
        const std::lock_guard guard(storeLock());
        switcher = std::thread([&] {
            disableCertificateChecks();
            returned = true;
        });
        // Whatever the scheduler does, the switch cannot happen while the lock is held.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_FALSE(returned.load());
        EXPECT_FALSE(certificateChecksOff());
    }
    switcher.join();
    EXPECT_TRUE(returned.load());
    EXPECT_TRUE(certificateChecksOff());
}

}  // namespace
}  // namespace tessal::pki
