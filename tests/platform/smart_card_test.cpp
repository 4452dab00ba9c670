#include "platform/smart_card.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "diagnostics/config_scope.h"
#include "platform/card_table.h"
#include "platform/last_error.h"
#include "support/test_support.h"

extern char** environ;

namespace tessal::platform {
namespace {

using test::ConfigScope;
using test::TempDir;

constexpr std::uint32_t kNoService = 0x8010001Du;
constexpr std::uint32_t kCommError = 0x80100013u;
constexpr std::uint32_t kUnknownCard = 0x8010000Du;
const ByteBlock kVirtualCardAtr = {0x3B, 0x95, 0x13, 0x81, 0x01, 0x80, 0x73, 0xFF, 0x01, 0x00, 0x0B};

std::string section(const std::string& cardName) {
    return "[SOFTWARE\\Microsoft\\Cryptography\\Calais\\SmartCards\\" + cardName + "]\n";
}

class CardTable : public ::testing::Test {
protected:
    void useTable(const std::string& contents) { scope_.emplace(dir_.file("tessal.conf"), contents); }

    TempDir dir_;
    std::optional<ConfigScope> scope_;
};

TEST_F(CardTable, MatchesTheWholeAtrUnlessAMaskFreesBytes) {
    useTable(section("Exact") + "ATR = 3B951381018073FF01000B\nCrypto Provider = Exact CSP\n" +
             section("Masked") +
             "ATR = 3B951381018073FF010000\n"
             "ATRMask = FFFFFFFFFFFFFFFFFF0000\n"
             "Crypto Provider = Masked CSP\n" +
             section("HalfByte") + "ATR = 3B951381018073FF01000F\nATRMask = FFFFFFFFFFFFFFFFFFFFF0\n");

    EXPECT_EQ(cardTypesForAtr(kVirtualCardAtr), (std::vector<std::string>{"Exact", "Masked", "HalfByte"}));

    ByteBlock otherLastByte = kVirtualCardAtr;
    otherLastByte.back() = 0x0C;
    EXPECT_EQ(cardTypesForAtr(otherLastByte), (std::vector<std::string>{"Masked", "HalfByte"}));

    ByteBlock otherHighNibble = kVirtualCardAtr;
    otherHighNibble.back() = 0x1B;
    EXPECT_EQ(cardTypesForAtr(otherHighNibble), (std::vector<std::string>{"Masked"}));

    ByteBlock otherUnmaskedByte = kVirtualCardAtr;
    otherUnmaskedByte[1] = 0x96;
    EXPECT_TRUE(cardTypesForAtr(otherUnmaskedByte).empty());
}

TEST_F(CardTable, AtrsOfAnotherLengthNeverMatch) {
    useTable(section("Short") + "ATR = 3B9513\nATRMask = 000000\n" + section("Card") + "ATR = 3B951381018073FF01000B\n");
    EXPECT_TRUE(cardTypesForAtr(ByteBlock(kVirtualCardAtr.begin(), kVirtualCardAtr.end() - 1)).empty());
    ByteBlock longer = kVirtualCardAtr;
    longer.push_back(0x00);
    EXPECT_TRUE(cardTypesForAtr(longer).empty());
    EXPECT_EQ(cardTypesForAtr(kVirtualCardAtr), (std::vector<std::string>{"Card"}));
}

TEST_F(CardTable, ReadsHexWithSeparatorsAndEitherCase) {
    useTable(section("Spaced") + "ATR = 3B 95 13 81 01 80 73 FF 01 00 0B\n" + section("Colons") +
             "ATR = 3b:95:13:81:01:80:73:ff:01:00:0b\nATRMask = ff:ff:ff:ff:ff:ff:ff:ff:ff:ff:ff\n");
    EXPECT_EQ(cardTypesForAtr(kVirtualCardAtr), (std::vector<std::string>{"Spaced", "Colons"}));
}

// A broken entry must not turn into a shorter pattern or an empty mask that
// claims every card.
TEST_F(CardTable, UnreadableEntriesMatchNothing) {
    useTable(section("OddDigits") + "ATR = 3B951381018073FF01000B0\n" + section("Split") +
             "ATR = 3B 9 513 81018073FF01000B\n" + section("NotHex") + "ATR = 3B951381018073FF01000G\n" +
             section("ShortMask") + "ATR = 3B951381018073FF01000B\nATRMask = 00\n" + section("BadMask") +
             "ATR = 3B951381018073FF01000B\nATRMask = XYZ\n" + section("NoAtr") + "Crypto Provider = X\n");
    EXPECT_TRUE(cardTypesForAtr(kVirtualCardAtr).empty());
}

TEST_F(CardTable, ListsOnlyDirectEntriesOnce) {
    useTable(section("First") + "ATR = 3B951381018073FF01000B\n" + "[software\\microsoft\\cryptography\\calais\\smartcards]\n" +
             section("First\\Deeper") + "ATR = 3B951381018073FF01000B\n" + section("FIRST") + section("Second") +
             "ATR = 3B951381018073FF01000B\n");
    EXPECT_EQ(cardTypesForAtr(kVirtualCardAtr), (std::vector<std::string>{"First", "Second"}));
}

TEST_F(CardTable, NoConfigurationFileKnowsNoCards) {
    useTable("");
    std::filesystem::remove(dir_.file("tessal.conf"));
    EXPECT_TRUE(cardTypesForAtr(kVirtualCardAtr).empty());
    setLastError(0);
    EXPECT_FALSE(cardTypeProviderName("Card"));
    EXPECT_EQ(lastError(), kUnknownCard);
}

TEST_F(CardTable, ProviderOfACardType) {
    useTable(section("With") + "ATR = 3B951381018073FF01000B\nCrypto Provider = Tessal Card Provider\n" +
             section("Without") + "ATR = 3B951381018073FF01000B\n");

    EXPECT_EQ(cardTypeProviderName("With"), "Tessal Card Provider");
    EXPECT_EQ(cardTypeProviderName("wITH"), "Tessal Card Provider");
    EXPECT_EQ(registeredCardProvider("With"), "Tessal Card Provider");

    setLastError(0);
    EXPECT_FALSE(cardTypeProviderName("Without"));
    EXPECT_EQ(lastError(), 2u);
    setLastError(0);
    EXPECT_FALSE(cardTypeProviderName("Unlisted"));
    EXPECT_EQ(lastError(), kUnknownCard);
    EXPECT_FALSE(cardTypeProviderName(""));

    EXPECT_FALSE(registeredCardProvider("Without"));
    EXPECT_FALSE(registeredCardProvider("Unlisted"));
    EXPECT_FALSE(registeredCardProvider(""));
}

// ---- the real resource manager with a virtual reader and card ----

constexpr const char* kPcscdSocket = "/run/pcscd/pcscd.comm";
constexpr const char* kPcscd = "/usr/sbin/pcscd";
constexpr const char* kVicc = "/usr/bin/vicc";
constexpr const char* kVpcdDriver = "/usr/lib/pcsc/drivers/serial/libifdvpcd.so";
constexpr const char* kReader0 = "Virtual PCD 00 00";
constexpr const char* kReader1 = "Virtual PCD 00 01";

bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

// Starts `argv` in a process group of its own with `extraEnv` added and its
// output in `logPath`; answers the PID, or -1.
pid_t startProcess(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv,
                   const std::string& logPath) {
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::vector<std::string> envText;
    for (char** e = environ; *e; ++e) envText.emplace_back(*e);
    envText.insert(envText.end(), extraEnv.begin(), extraEnv.end());
    std::vector<char*> env;
    for (std::string& e : envText) env.push_back(e.data());
    env.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    pid_t pid = -1;
    if (posix_spawn(&pid, args[0], &actions, &attributes, args.data(), env.data()) != 0) pid = -1;
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// Sends `signal` to the process started by startProcess and reaps it,
// forcing it after two seconds. The PID is cleared either way.
void stopProcess(pid_t& pid, int signal = SIGTERM) {
    if (pid <= 0) return;
    kill(pid, signal);
    int status = 0;
    const bool ended = waitFor([&] { return waitpid(pid, &status, WNOHANG) == pid; }, std::chrono::seconds(2));
    if (!ended) {
        kill(-pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    pid = -1;
}

class SmartCardPcscd : public ::testing::Test {
protected:
    void TearDown() override {
        context_.reset();
        stopProcess(vicc_);
        stopProcess(pcscd_);
    }

    // Starts the daemon on the readers configured in `confDir` and waits
    // until it takes connections.
    bool startPcscd(const std::filesystem::path& confDir) {
        pcscd_ = startProcess({kPcscd, "-f", "-c", confDir.string()}, {}, dir_.file("pcscd.log"));
        return pcscd_ > 0 && waitFor([] { return std::filesystem::exists(kPcscdSocket); });
    }

    pid_t startVicc() {
        const std::filesystem::path shim = dir_.path() / "pyshim";
        std::filesystem::create_directories(shim);
        std::error_code ec;
        std::filesystem::create_directory_symlink("/usr/lib/python3/dist-packages/Cryptodome", shim / "Crypto", ec);
        return startProcess({kVicc, "-t", "iso7816", "-H", "127.0.0.1", "-P", "35963"},
                            {"PYTHONPATH=/usr/lib/python3/site-packages/virtualsmartcard:" + shim.string()},
                            dir_.file("vicc.log"));
    }

    std::string logs() {
        return test::readWholeFile(dir_.file("pcscd.log")) + test::readWholeFile(dir_.file("vicc.log"));
    }

    TempDir dir_;
    pid_t pcscd_ = -1;
    pid_t vicc_ = -1;
    std::unique_ptr<CardContext> context_;
};

// One daemon per machine: every check against it lives in this one test.
TEST_F(SmartCardPcscd, VirtualReaderAndCard) {
    if (!std::filesystem::exists(kPcscdSocket)) {
        setLastError(0);
        EXPECT_FALSE(establishCardContext());
        EXPECT_EQ(lastError(), kNoService) << std::hex << lastError();
    }
    for (const char* needed : {kPcscd, kVicc, kVpcdDriver}) {
        if (!std::filesystem::exists(needed)) TESSAL_SKIP_UNLESS_CI(needed << " is not installed");
    }
    if (std::filesystem::exists(kPcscdSocket)) TESSAL_SKIP_UNLESS_CI("another pcscd is running");

    // A daemon without readers first: the empty list is a failure with its own code.
    const std::filesystem::path noReaders = dir_.path() / "none.conf.d";
    std::filesystem::create_directories(noReaders);
    ASSERT_TRUE(startPcscd(noReaders)) << logs();
    context_ = establishCardContext();
    ASSERT_TRUE(context_) << std::hex << lastError();
    EXPECT_TRUE(context_->valid());
    setLastError(0);
    EXPECT_FALSE(context_->listReaders());
    EXPECT_EQ(lastError(), kScardNoReaders) << std::hex << lastError();
    context_.reset();
    stopProcess(pcscd_);
    ASSERT_TRUE(waitFor([] { return !std::filesystem::exists(kPcscdSocket); }));

    const std::filesystem::path confDir = dir_.path() / "reader.conf.d";
    std::filesystem::create_directories(confDir);
    test::writeWholeFile((confDir / "vpcd").string(),
                         "FRIENDLYNAME \"Virtual PCD\"\n"
                         "DEVICENAME   /dev/null:0x8C7B\n"
                         "LIBPATH      " +
                             std::string(kVpcdDriver) +
                             "\n"
                             "CHANNELID    0x8C7B\n");
    ASSERT_TRUE(startPcscd(confDir)) << logs();

    context_ = establishCardContext();
    ASSERT_TRUE(context_) << std::hex << lastError();
    EXPECT_TRUE(context_->valid());

    std::optional<std::vector<std::string>> readers;
    ASSERT_TRUE(waitFor([&] {
        readers = context_->listReaders();
        return readers && readers->size() >= 2;
    })) << std::hex << lastError() << "\n" << logs();
    EXPECT_EQ(*readers, (std::vector<std::string>{kReader0, kReader1}));

    // Empty reader: no card, and no ATR, told apart from a failed call.
    setLastError(0);
    EXPECT_FALSE(context_->cardPresent(kReader0));
    EXPECT_TRUE(lastError() == kScardNoSmartCard || lastError() == kScardRemovedCard) << std::hex << lastError();
    bool connected = true;
    EXPECT_FALSE(context_->readAtr(kReader0, connected));
    EXPECT_FALSE(connected);
    setLastError(0);
    EXPECT_FALSE(context_->cardPresent("No Such Reader 00 00"));
    EXPECT_EQ(lastError(), 0x80100009u) << std::hex << lastError();  // SCARD_E_UNKNOWN_READER

    // A reader watch that starts unaware answers at once: an empty or an
    // unknown reader counts as a card gone.
    constexpr std::chrono::milliseconds kReaderWait{2000};
    ReaderWatch empty{kReader0};
    EXPECT_EQ(context_->waitForReaderChange(empty, kReaderWait), ReaderChange::Gone);
    ReaderWatch unknown{"No Such Reader 00 00"};
    EXPECT_EQ(context_->waitForReaderChange(unknown, kReaderWait), ReaderChange::Gone);

    vicc_ = startVicc();
    ASSERT_GT(vicc_, 0);
    ASSERT_TRUE(waitFor([&] { return context_->cardPresent(kReader0); })) << std::hex << lastError() << "\n"
                                                                           << logs();
    ReaderWatch watch{kReader0};
    EXPECT_EQ(context_->waitForReaderChange(watch, kReaderWait), ReaderChange::Present);
    EXPECT_NE(watch.knownState, 0u);
    EXPECT_FALSE(context_->cardPresent(kReader1));
    connected = false;
    EXPECT_EQ(context_->readAtr(kReader0, connected), kVirtualCardAtr);
    EXPECT_TRUE(connected);
    // Reading left the card connectable for the next caller.
    EXPECT_TRUE(context_->cardPresent(kReader0));

    stopProcess(vicc_);
    // Waits from the known state see the card leave (after whatever other
    // changes the connections above left to report).
    ReaderChange change = ReaderChange::None;
    for (int wait = 0; wait < 10 && change != ReaderChange::Gone; ++wait) {
        change = context_->waitForReaderChange(watch, kReaderWait);
    }
    EXPECT_EQ(change, ReaderChange::Gone);
    setLastError(0);
    EXPECT_TRUE(waitFor([&] { return !context_->cardPresent(kReader0); }));
    EXPECT_TRUE(lastError() == kScardNoSmartCard || lastError() == kScardRemovedCard) << std::hex << lastError();

    // The library keeps the context's handle after the daemon has gone;
    // valid() must notice anyway.
    stopProcess(pcscd_);
    EXPECT_TRUE(waitFor([&] { return !context_->valid(); }));
    EXPECT_TRUE(lastError() == kNoService || lastError() == kCommError) << std::hex << lastError();
    EXPECT_FALSE(context_->listReaders());
    EXPECT_FALSE(context_->readAtr(kReader0, connected));
    EXPECT_FALSE(connected);
}

}  // namespace
}  // namespace tessal::platform
