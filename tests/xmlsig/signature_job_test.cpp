// A signature job's construction and its dereferencing of same-document
// references.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "job_helpers.h"

namespace tessal::test {
namespace {

TEST(SignatureJob, StartsWithTheParsedDocumentAndNoCurrentData) {
    auto job = jobOver("<r><a/></r>");
    EXPECT_TRUE(job.error().empty());
    ASSERT_NE(job.rootElement(), nullptr);
    EXPECT_EQ(job.workingTree(), nullptr);
    EXPECT_FALSE(job.hasOctets());
    EXPECT_EQ(job.signatureElement(), nullptr);
    EXPECT_EQ(job.signatureTimeStamp(), 0u);
}

TEST(SignatureJob, AnUnparsableDocumentIsRecordedAndHasNothingToDereference) {
    auto job = jobOver("<r><a></r>");
    EXPECT_EQ(codesOf(job.error()), std::vector<int>{code(301, 49)});
    EXPECT_FALSE(job.dereference(""));
    EXPECT_EQ(codesOf(job.error()).front(), code(420, 57));
}

TEST(Dereference, TheWholeDocumentIsACopyOfTheMainTree) {
    auto job = jobOver("<?pi x?><r><a/></r>");
    ASSERT_TRUE(job.dereference(""));
    ASSERT_NE(job.workingTree(), nullptr);
    EXPECT_NE(job.workingTree(), job.tree());
    // Editing the working tree leaves the caller's document alone.
    xmlNodePtr copyRoot = xmlDocGetRootElement(job.workingTree());
    xmlNodePtr first = copyRoot->children;
    xmlUnlinkNode(first);
    xmlFreeNode(first);
    EXPECT_NE(job.rootElement()->children, nullptr);
}

TEST(Dereference, ByIdInAnyLetterCaseOfTheAttributeName) {
    const std::string document =
        "<r xmlns:n=\"http://n\"><a Id=\"one\">1</a><b><c ID=\"two\"><n:d/></c></b><e id=\"three\"/></r>";
    auto job = jobOver(document);
    ASSERT_TRUE(job.dereferenceAndTransform("two", nullptr)) << job.error().text.str();
    // A namespace declared on an ancestor is re-declared on the copy's root.
    EXPECT_EQ(job.text(), "<c xmlns:n=\"http://n\" ID=\"two\"><n:d></n:d></c>");
    ASSERT_TRUE(job.dereferenceAndTransform("three", nullptr));
    EXPECT_EQ(job.text(), "<e id=\"three\"></e>");
    ASSERT_TRUE(job.dereferenceAndTransform("one", nullptr));
    EXPECT_EQ(job.text(), "<a Id=\"one\">1</a>");
    EXPECT_TRUE(job.error().empty());
}

TEST(Dereference, AnIdValueIsMatchedExactly) {
    auto job = jobOver("<r><a Id=\"Part\"/></r>");
    EXPECT_FALSE(job.dereferenceAndTransform("part", nullptr));
    EXPECT_EQ(codesOf(job.error()), std::vector<int>{code(420, 57)});
    EXPECT_NE(job.error().text.str().find(
                  "Nerastas pasirašyto dokumento XML elementas \"part\". Nėra galimybių pilnai patikrinti XML parašą"),
              std::string::npos);
}

TEST(Dereference, EarlierEntriesStayAndTheNewestComesFirst) {
    auto job = jobOver("<r><a Id=\"x\"/></r>");
    EXPECT_FALSE(job.dereference("missing"));
    ASSERT_TRUE(job.dereferenceAndTransform("x", nullptr));
    EXPECT_FALSE(job.canonicalise("urn:none"));
    EXPECT_EQ(codesOf(job.error()), (std::vector<int>{code(416, 96), code(420, 57)}));
}

TEST(Dereference, ReplacesEarlierOctets) {
    auto job = jobOver("<r><a Id=\"x\"/><b Id=\"y\"/></r>");
    ASSERT_TRUE(job.dereferenceAndTransform("x", nullptr));
    ASSERT_TRUE(job.dereference("y"));
    EXPECT_FALSE(job.hasOctets());
    ASSERT_TRUE(job.applyTransforms(nullptr));
    EXPECT_EQ(job.text(), "<b Id=\"y\"></b>");
}

}  // namespace
}  // namespace tessal::test
