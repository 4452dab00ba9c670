#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <filesystem>

#include "data/directory_intake.h"
#include "diagnostics/utf8_text.h"
#include "support/outcome_text.h"
#include "support/test_support.h"

using namespace tessal;
using test::shown;
using test::u16;
namespace fs = std::filesystem;

namespace {

// Writes a file whose last-write time is `age` seconds before a fixed moment.
void writeAged(const std::string& path, const std::string& content, int age) {
    test::writeWholeFile(path, content);
    const struct timespec times[2] = {{1600000000 - age, 0}, {1600000000 - age, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

platform::DirectoryEntry entry(std::string name, std::int64_t seconds) {
    return platform::DirectoryEntry{std::move(name), true, platform::FileTime{seconds, 0}};
}

}  // namespace

TEST(PickOrder, PrefixClassesAndCaseFolding) {
    EXPECT_LT(data::comparePrefixes("_z", "0a"), 0);   // punctuation before digits
    EXPECT_LT(data::comparePrefixes(" a", "-a"), 0);   // space before punctuation
    EXPECT_LT(data::comparePrefixes("99", "a0"), 0);   // digits before letters
    EXPECT_LT(data::comparePrefixes("zz", "\xC4\x85"), 0);  // letters before bytes from 0x80
    EXPECT_EQ(data::comparePrefixes("ab_2.xml", "AB.xml"), 0);  // two characters, case ignored
    EXPECT_LT(data::comparePrefixes("Ab", "aC"), 0);
}

TEST(PickOrder, GreatestPrefixThenOldestThenFirstListed) {
    EXPECT_EQ(data::pickIndex({entry("10_a.xml", 9), entry("90_b.xml", 9), entry("90_c.xml", 5)}), 2u);
    EXPECT_EQ(data::pickIndex({entry("90_c.xml", 5), entry("90_b.xml", 9)}), 0u);
    EXPECT_EQ(data::pickIndex({entry("ab.xml", 7), entry("AB_2.xml", 7)}), 0u);
    EXPECT_EQ(data::pickIndex({entry("ab.xml", 7), entry("AB_2.xml", 6)}), 1u);
}

class DirectoryIntakeTest : public ::testing::Test {
protected:
    void SetUp() override { startDirectory = fs::current_path(); }
    void TearDown() override { fs::current_path(startDirectory); }
    std::string canonical(const std::string& path) const { return fs::canonical(path).string(); }

    fs::path startDirectory;
    test::TempDir in, out;
    data::DirectoryIntake intake;
};

TEST_F(DirectoryIntakeTest, PicksTheGreatestPrefixAndThenTheOldest) {
    writeAged(in.file("10_a.xml"), "<a/>", 10);
    writeAged(in.file("90_b.xml"), "<b/>", 10);
    writeAged(in.file("90_c.xml"), "<c/>", 500);
    writeAged(in.file("zz.txt"), "not xml", 900);
    EXPECT_EQ(shown(intake.readNext(u16(in.path().string()))), "<c/>");
    EXPECT_EQ(diag::utf8Encode(intake.processedFileName()), canonical(in.path()) + "/90_c.xml");
    EXPECT_EQ(fs::current_path(), fs::canonical(in.path()));  // the process stays there
}

TEST_F(DirectoryIntakeTest, MatchesAnyCaseAndSkipsEntriesThatAreNotFiles) {
    writeAged(in.file("ab.XML"), "<older/>", 100);
    writeAged(in.file("AB_2.xml"), "<newer/>", 1);
    fs::create_directory(in.path() / "zz.xml");
    // A link would hand out a file from outside the inbox.
    test::writeWholeFile(out.file("secret.xml"), "<secret/>");
    fs::create_symlink(out.file("secret.xml"), in.path() / "zz_link.xml");
    EXPECT_EQ(shown(intake.readNext(u16(in.path().string()))), "<older/>");
    EXPECT_EQ(intake.currentFileName(), "ab.XML");
}

TEST_F(DirectoryIntakeTest, ANameThatIsNotValidTextIsStillReadAsXml) {
    writeAged(in.file("ab.xml"), "<ab/>", 100);
    writeAged(in.file("\xFF.xml"), "<high/>", 1);  // bytes from 0x80 sort after letters
    EXPECT_EQ(shown(intake.readNext(u16(in.path().string()))), "<high/>");
    EXPECT_EQ(intake.currentFileName(), "\xFF.xml");
}

TEST_F(DirectoryIntakeTest, EmptyAndUnreachableDirectories) {
    EXPECT_EQ(shown(intake.readNext(u16(in.path().string()))), "<Result/>");
    EXPECT_EQ(diag::utf8Encode(intake.processedFileName()), canonical(in.path()));

    EXPECT_EQ(shown(intake.readNext(u"nėra/katalogo")), "FAIL: Nepasiekiamas katalogas \"nėra/katalogo\"");
    EXPECT_EQ(intake.processedFileName(), u"");
    test::writeWholeFile(in.file("file.xml"), "<a/>");
    EXPECT_EQ(shown(intake.readNext(u16(in.file("file.xml")))),
              "FAIL: Nepasiekiamas katalogas \"" + in.file("file.xml") + "\"");
    EXPECT_EQ(shown(intake.readNext(u"")), "FAIL: Neperduotas katalogo pavadinimas");
    EXPECT_EQ(shown(intake.moveProcessed(u"")), "FAIL: Neperduotas katalogo pavadinimas");
}

TEST_F(DirectoryIntakeTest, AFailingReadKeepsThePick) {
    test::writeWholeFile(in.file("bad.xml"), "not xml");
    EXPECT_EQ(shown(intake.readNext(u16(in.path().string()))), "FAIL: Klaidingas duomenų formatas");
    EXPECT_EQ(intake.currentFileName(), "bad.xml");
}

TEST_F(DirectoryIntakeTest, MoveReplacesAndASecondMoveFails) {
    test::writeWholeFile(in.file("doc.xml"), "<new/>");
    test::writeWholeFile(out.file("doc.xml"), "<old/>");
    ASSERT_EQ(shown(intake.readNext(u16(in.path().string()))), "<new/>");
    const std::u16string picked = intake.processedFileName();

    EXPECT_EQ(shown(intake.moveProcessed(u16(out.path().string()))), "OK");
    EXPECT_EQ(test::readWholeFile(out.file("doc.xml")), "<new/>");
    EXPECT_FALSE(fs::exists(in.path() / "doc.xml"));
    EXPECT_EQ(intake.processedFileName(), picked);

    const std::string source = canonical(in.path()) + "/doc.xml";
    const std::string target = canonical(out.path()) + "/doc.xml";
    EXPECT_EQ(shown(intake.moveProcessed(u16(out.path().string()))),
              "FAIL: Klaida perkeliant bylą \"" + source + "\" į \"" + target + "\" (2)");
    EXPECT_EQ(shown(intake.moveProcessed(u"nėra")), "FAIL: Nepasiekiamas katalogas \"nėra\"");
}

TEST_F(DirectoryIntakeTest, AMoveWithoutAPickLeavesTheDirectoriesAlone) {
    ASSERT_EQ(shown(intake.readNext(u16(in.path().string()))), "<Result/>");
    // Renaming the intake directory itself onto the empty destination would succeed.
    EXPECT_NE(shown(intake.moveProcessed(u16(out.path().string()))), "OK");
    EXPECT_TRUE(fs::is_directory(in.path()));
    EXPECT_TRUE(fs::is_empty(out.path()));
}

TEST_F(DirectoryIntakeTest, MovesAcrossFileSystems) {
    struct stat tmp, shm;
    if (::stat(out.path().c_str(), &tmp) != 0 || ::stat("/dev/shm", &shm) != 0 || tmp.st_dev == shm.st_dev) {
        GTEST_SKIP() << "/dev/shm is not a separate file system here";
    }
    char pattern[] = "/dev/shm/tessal-test-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const fs::path shmDir = pattern;
    struct Cleanup {
        fs::path path;
        ~Cleanup() { fs::remove_all(path); }
    } cleanup{shmDir};
    writeAged((shmDir / "doc.xml").string(), "<moved/>", 3600);
    ASSERT_EQ(::chmod((shmDir / "doc.xml").c_str(), 0604), 0);
    test::writeWholeFile(out.file("doc.xml"), "<old/>");

    ASSERT_EQ(shown(intake.readNext(u16(shmDir.string()))), "<moved/>");
    EXPECT_EQ(shown(intake.moveProcessed(u16(out.path().string()))), "OK");
    struct stat moved;
    ASSERT_EQ(::stat(out.file("doc.xml").c_str(), &moved), 0);
    EXPECT_EQ(test::readWholeFile(out.file("doc.xml")), "<moved/>");
    EXPECT_EQ(moved.st_mode & 07777, 0604u);
    EXPECT_EQ(moved.st_mtim.tv_sec, 1600000000 - 3600);
    EXPECT_FALSE(fs::exists(shmDir / "doc.xml"));
    EXPECT_EQ(std::distance(fs::directory_iterator(out.path()), fs::directory_iterator{}), 1);
}
