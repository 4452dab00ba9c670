#include "platform/cache_folder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <optional>

#include "support/test_support.h"

namespace tessal::platform {
namespace {

namespace fs = std::filesystem;

class CacheFolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (const char* v = std::getenv("XDG_CACHE_HOME")) xdg_ = v;
        if (const char* v = std::getenv("HOME")) home_ = v;
    }
    void TearDown() override {
        restore("XDG_CACHE_HOME", xdg_);
        restore("HOME", home_);
    }
    static void restore(const char* name, const std::optional<std::string>& value) {
        if (value) {
            ::setenv(name, value->c_str(), 1);
        } else {
            ::unsetenv(name);
        }
    }

    test::TempDir dir_;

private:
    std::optional<std::string> xdg_;
    std::optional<std::string> home_;
};

TEST_F(CacheFolderTest, XdgCacheHomeOrHomeCache) {
    ::setenv("XDG_CACHE_HOME", "/some/cache/", 1);
    EXPECT_EQ(userCacheFolder(), "/some/cache");
    // A relative value is ignored, as the base-directory rules ask.
    ::setenv("XDG_CACHE_HOME", "relative", 1);
    ::setenv("HOME", "/home/ona", 1);
    EXPECT_EQ(userCacheFolder(), "/home/ona/.cache");
    ::unsetenv("XDG_CACHE_HOME");
    EXPECT_EQ(userCacheFolder(), "/home/ona/.cache");
    ::unsetenv("HOME");
    EXPECT_EQ(userCacheFolder(), std::nullopt);
}

TEST_F(CacheFolderTest, SubfolderIsCreatedPrivateAndRefusedWhenOthersCanWrite) {
    const fs::path root = dir_.path() / "deeper" / "cache";
    ::setenv("XDG_CACHE_HOME", root.c_str(), 1);
    EXPECT_EQ(privateCacheSubfolder("Sub", false), std::nullopt);
    const std::optional<std::string> made = privateCacheSubfolder("Sub", true);
    ASSERT_TRUE(made);
    EXPECT_EQ(*made, (root / "Sub").string());
    EXPECT_EQ(fs::status(*made).permissions() & fs::perms::all, fs::perms::owner_all);
    EXPECT_EQ(privateCacheSubfolder("Sub", false), made);

    fs::permissions(*made, fs::perms::group_write, fs::perm_options::add);
    EXPECT_EQ(privateCacheSubfolder("Sub", false), std::nullopt);
    EXPECT_EQ(privateCacheSubfolder("Sub", true), std::nullopt);

    // A symbolic link in place of the folder is not followed.
    fs::create_directory(dir_.path() / "elsewhere");
    fs::permissions(dir_.path() / "elsewhere", fs::perms::owner_all);
    fs::create_directory_symlink(dir_.path() / "elsewhere", root / "Linked");
    EXPECT_EQ(privateCacheSubfolder("Linked", false), std::nullopt);
}

TEST_F(CacheFolderTest, FileIsCreatedOnceAndWhole) {
    const std::string path = dir_.file("entry.crx");
    const std::string first = "first";
    const std::string second = "second";
    EXPECT_TRUE(createFileOnce(path, reinterpret_cast<const std::uint8_t*>(first.data()), first.size()));
    EXPECT_FALSE(createFileOnce(path, reinterpret_cast<const std::uint8_t*>(second.data()), second.size()));
    EXPECT_EQ(test::readWholeFile(path), "first");
    EXPECT_EQ(fs::status(path).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
    // No temporary file stays behind.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_.path()), fs::directory_iterator()), 1);
    EXPECT_FALSE(createFileOnce(dir_.file("missing/entry.crx"), nullptr, 0));
}

TEST_F(CacheFolderTest, OnlyPrivateRegularFilesAreRead) {
    std::vector<std::uint8_t> bytes;
    const std::string path = dir_.file("entry.crx");
    test::writeWholeFile(path, "abc");
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write);
    ASSERT_TRUE(readPrivateFile(path, bytes));
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "abc");

    fs::permissions(path, fs::perms::others_write, fs::perm_options::add);
    EXPECT_FALSE(readPrivateFile(path, bytes));
    EXPECT_TRUE(bytes.empty());

    fs::permissions(path, fs::perms::others_write, fs::perm_options::remove);
    fs::create_symlink(path, dir_.file("link.crx"));
    EXPECT_FALSE(readPrivateFile(dir_.file("link.crx"), bytes));
    EXPECT_FALSE(readPrivateFile(dir_.path().string(), bytes));
    EXPECT_FALSE(readPrivateFile(dir_.file("absent.crx"), bytes));
}

}  // namespace
}  // namespace tessal::platform
