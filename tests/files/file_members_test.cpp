#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>

#include "data/file_members.h"
#include "diagnostics/utf8_text.h"
#include "support/outcome_text.h"
#include "support/test_support.h"

using namespace tessal;
using test::shown;
using test::u16;
namespace fs = std::filesystem;

namespace {

std::string readAs(const test::TempDir& dir, const std::string& name, const std::string& bytes) {
    test::writeWholeFile(dir.file(name), bytes);
    return shown(data::readFileText(u16(dir.file(name))));
}

// UTF-16 bytes of a UTF-8 text, in either byte order.
std::string utf16Bytes(const std::string& utf8, bool bigEndian) {
    std::string out;
    for (char16_t u : diag::utf16Of(utf8)) {
        const char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
        out += bigEndian ? std::string{hi, lo} : std::string{lo, hi};
    }
    return out;
}

const std::string kDocument = "<Msg a=\"1\">ąčęėįšųūž Ž</Msg>\r\n";
const std::string kWithDeclaration = " \r\n<?xml version=\"1.0\" encoding=\"whatever\"?>\r\n\t" + kDocument;

}  // namespace

TEST(ReadFileText, EveryTextFormReadsLikeItsUtf8Twin) {
    test::TempDir dir;
    const struct {
        const char* form;
        std::string bytes;
    } rows[] = {
        {"utf-8", kWithDeclaration},
        {"utf-8 with mark", "\xEF\xBB\xBF" + kWithDeclaration},
        {"utf-16le with mark", "\xFF\xFE" + utf16Bytes(kWithDeclaration, false)},
        {"utf-16be with mark", "\xFE\xFF" + utf16Bytes(kWithDeclaration, true)},
        {"utf-16le without mark", utf16Bytes(kWithDeclaration, false)},
        {"utf-16be without mark", utf16Bytes(kWithDeclaration, true)},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(readAs(dir, "d.xml", row.bytes), kDocument) << row.form;
    }
}

TEST(ReadFileText, BigEndianIsSwappedOnlyWhenTheLengthIsEven) {
    test::TempDir dir;
    // Unswapped, "<" reads as U+3C00 and the text does not start with "<".
    EXPECT_EQ(readAs(dir, "odd.xml", "\xFE\xFF" + utf16Bytes("<a/>", true) + "x"), "FAIL: Klaidingas duomenų formatas");
}

TEST(ReadFileText, RejectsTextsThatDoNotStartWithAnElement) {
    test::TempDir dir;
    const std::string bad = "FAIL: Klaidingas duomenų formatas";
    EXPECT_EQ(readAs(dir, "empty.xml", ""), bad);
    EXPECT_EQ(readAs(dir, "blank.xml", " \r\n\t"), bad);
    EXPECT_EQ(readAs(dir, "text.xml", "abc<a/>"), bad);
    EXPECT_EQ(readAs(dir, "open.xml", "<?xml version=\"1.0\" <a/>"), bad);
    EXPECT_EQ(readAs(dir, "after.xml", "<?xml version=\"1.0\"?> text <a/>"), bad);
    EXPECT_EQ(readAs(dir, "only.xml", "<?xml version=\"1.0\"?>  "), bad);
    // A byte that cannot start a UTF-8 character would silently cut the text.
    EXPECT_EQ(readAs(dir, "latin.xml", "<a>\x85</a>"), bad);
    EXPECT_EQ(readAs(dir, "ok.xml", "<?xml?><a/>"), "<a/>");
}

TEST(ReadFileText, ReadsAcrossThePieceBoundary) {
    test::TempDir dir;
    for (std::size_t size : {4095u, 4096u, 4097u, 8192u}) {
        const std::string xml = "<a>" + std::string(size - 7, 'x') + "</a>";
        EXPECT_EQ(readAs(dir, "big.xml", xml), xml) << size;

        std::string binary(size, '\0');
        for (std::size_t i = 0; i < size; ++i) binary[i] = static_cast<char>(i * 7 + 3);
        test::writeWholeFile(dir.file("big.bin"), binary);
        const auto r = data::readFileText(u16(dir.file("big.bin")));
        ASSERT_TRUE(r.ok());
        data::Bytes decoded;
        ASSERT_TRUE(data::base64Decode(diag::utf8Encode(r.value()), decoded));
        EXPECT_EQ(std::string(decoded.begin(), decoded.end()), binary) << size;
        EXPECT_EQ(r.value().size(), 4 * ((size + 2) / 3));
    }
}

TEST(ReadFileText, OnlyANameEndingInXmlIsReadAsText) {
    test::TempDir dir;
    EXPECT_EQ(readAs(dir, "UPPER.XML", "<a/>"), "<a/>");
    EXPECT_EQ(readAs(dir, "x.xml.bak", "<a/>"), "PGEvPg==");
    EXPECT_EQ(readAs(dir, "plain.txt", "Man"), "TWFu");
    EXPECT_EQ(readAs(dir, "empty.bin", ""), "");
    EXPECT_EQ(readAs(dir, "vardas ąž.xml", "<a/>"), "<a/>");
}

TEST(ReadFileText, UnreadableFilesReportTheNameAsGiven) {
    test::TempDir dir;
    EXPECT_EQ(shown(data::readFileText(u"nėra/tokios.xml")), "FAIL: Klaida skaitant \"nėra/tokios.xml\" bylą");
    // A directory opens but its first read fails.
    EXPECT_EQ(shown(data::readFileText(u16(dir.path().string()))),
              "FAIL: Klaida skaitant \"" + dir.path().string() + "\" bylą");
    // A FIFO without a writer reads as empty instead of blocking.
    ASSERT_EQ(::mkfifo(dir.file("pipe.xml").c_str(), 0600), 0);
    EXPECT_EQ(shown(data::readFileText(u16(dir.file("pipe.xml")))), "FAIL: Klaidingas duomenų formatas");
}

TEST(WithXmlExtension, AppendsUnlessTheNameEndsInXml) {
    EXPECT_EQ(data::withXmlExtension(u"doc"), u"doc.xml");
    EXPECT_EQ(data::withXmlExtension(u"ab"), u"ab.xml");
    EXPECT_EQ(data::withXmlExtension(u"/a/b.XmL"), u"/a/b.XmL");
    EXPECT_EQ(data::withXmlExtension(u".xml"), u".xml");
    EXPECT_EQ(data::withXmlExtension(u"x.xml.bak"), u"x.xml.bak.xml");
}

class SaveDocument : public ::testing::Test {
protected:
    diag::Status save(const std::string& path, const std::string& bytes) {
        return data::saveDocument(u16(path), reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    }
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (const auto& e : fs::directory_iterator(dir.path())) out.push_back(e.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }
    static unsigned modeOf(const std::string& path) {
        struct stat st;
        return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
    }
    test::TempDir dir;
};

TEST_F(SaveDocument, ReplacesTheContentAndLeavesNoTemporaryFile) {
    const mode_t old = ::umask(022);
    EXPECT_EQ(shown(save(dir.file("new.xml"), "first, longer content")), "OK");
    EXPECT_EQ(modeOf(dir.file("new.xml")), 0644u);
    EXPECT_EQ(shown(save(dir.file("new.xml"), "second")), "OK");
    ::umask(old);
    EXPECT_EQ(test::readWholeFile(dir.file("new.xml")), "second");
    EXPECT_EQ(names(), std::vector<std::string>{"new.xml"});
}

TEST_F(SaveDocument, AnExistingTargetKeepsItsMode) {
    test::writeWholeFile(dir.file("kept.xml"), "old");
    ASSERT_EQ(::chmod(dir.file("kept.xml").c_str(), 0640), 0);
    EXPECT_EQ(shown(save(dir.file("kept.xml"), "<new/>")), "OK");
    EXPECT_EQ(modeOf(dir.file("kept.xml")), 0640u);
    EXPECT_EQ(test::readWholeFile(dir.file("kept.xml")), "<new/>");
}

TEST_F(SaveDocument, ASymbolicLinkStaysALinkToTheNewContent) {
    fs::create_directory(dir.path() / "real");
    test::writeWholeFile(dir.file("real/target.xml"), "old");
    fs::create_symlink("real/target.xml", dir.path() / "link.xml");
    EXPECT_EQ(shown(save(dir.file("link.xml"), "<new/>")), "OK");
    EXPECT_TRUE(fs::is_symlink(dir.path() / "link.xml"));
    EXPECT_EQ(test::readWholeFile(dir.file("real/target.xml")), "<new/>");
}

TEST_F(SaveDocument, AFailedSaveLeavesWhatWasThere) {
    const std::string missing = dir.file("nėra/a.xml");
    EXPECT_EQ(shown(save(missing, "x")), "FAIL: Klaida išsaugant bylą \"" + missing + "\" (2)");

    fs::create_directory(dir.path() / "folder.xml");
    test::writeWholeFile(dir.file("folder.xml/inside"), "keep");
    EXPECT_EQ(shown(save(dir.file("folder.xml"), "x")),
              "FAIL: Klaida išsaugant bylą \"" + dir.file("folder.xml") + "\" (21)");
    EXPECT_EQ(test::readWholeFile(dir.file("folder.xml/inside")), "keep");

    // A FIFO is written to, not replaced; with no reader the save fails at once.
    ASSERT_EQ(::mkfifo(dir.file("pipe.xml").c_str(), 0600), 0);
    EXPECT_EQ(shown(save(dir.file("pipe.xml"), "x")), "FAIL: Klaida išsaugant bylą \"" + dir.file("pipe.xml") + "\" (6)");
    EXPECT_TRUE(fs::is_fifo(dir.path() / "pipe.xml"));
    EXPECT_EQ(names(), (std::vector<std::string>{"folder.xml", "pipe.xml"}));
}

TEST(FileTimeText, ShowsTheLastWriteTimeInLocalTimeWithMilliseconds) {
    test::TempDir dir;
    const std::string path = dir.file("t.xml");
    test::writeWholeFile(path, "<a/>");
    // 2019-11-06 05:20:17.123 UTC, shown in a zone three hours east.
    const struct timespec times[2] = {{1573017617, 0}, {1573017617, 123456789}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);

    const char* before = std::getenv("TZ");
    const std::string saved = before ? before : "";
    ::setenv("TZ", "XYZ-3", 1);
    const std::string text = shown(data::fileTimeText(u16(path)));
    before ? ::setenv("TZ", saved.c_str(), 1) : ::unsetenv("TZ");
    ::tzset();
    EXPECT_EQ(text, "2019-11-06 08:20:17.123");

    EXPECT_EQ(shown(data::fileTimeText(u"nėra.xml")), "FAIL: Klaida išrenkant \"nėra.xml\" bylos įrašymo laiką");
}
