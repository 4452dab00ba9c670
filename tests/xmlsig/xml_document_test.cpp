// Edges of parsing, the report and the lookups beyond the document-input
// suite, and the refusal of outside resources on every parse path.
#include "xmlsig/xml_document.h"

#include <gtest/gtest.h>
#include <libxml/parser.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "diagnostics/error_record.h"
#include "support/test_support.h"
#include "xmlsig/libxml_owners.h"
#include "xmlsig/xml_parse.h"

namespace tessal::xml {
namespace {

const std::string kEntryEnd49 = " : 70301049;\r\n";
const std::string kFragmentHeader = "\r\nXML duomenų fragmentas:\r\n";

std::string utf16le(std::u16string_view text) {
    std::string bytes;
    for (char16_t unit : text) {
        bytes.push_back(static_cast<char>(unit & 0xFF));
        bytes.push_back(static_cast<char>(unit >> 8));
    }
    return bytes;
}

struct Parsed {
    explicit Parsed(const std::string& input) : doc(input.data(), input.size()) {}
    XmlDocument doc;
    const std::string& errorText() const { return doc.error().text.str(); }
};

bool endsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

TEST(XmlDocumentParse, Utf16TextEndsAtTheFirstNulCharacter) {
    Parsed doc(utf16le(std::u16string(u"<a/>\0garbage", 12)));
    EXPECT_FALSE(doc.doc.failed()) << doc.errorText();
}

TEST(XmlDocumentParse, ReparseDropsTheEarlierTreeAndText) {
    const std::string good = "<a/>";
    XmlDocument doc(good.data(), good.size());
    ASSERT_TRUE(doc.serialise());
    const std::string bad = "<a>";
    EXPECT_FALSE(doc.parse(bad.data(), bad.size()));
    EXPECT_EQ(doc.tree(), nullptr);
    EXPECT_TRUE(doc.text().empty());
    EXPECT_FALSE(doc.serialise());
}

TEST(XmlDocumentParse, ParserMessagesStayOffStandardError) {
    testing::internal::CaptureStderr();
    for (const std::string input : {"<a><b></a>", "<?xml version=\"1.0\" encoding=\"no-such\"?><a/>",
                                    "<a>\xC3\x28</a>", "<!DOCTYPE a SYSTEM \"/nonexistent.dtd\"><a>&undeclared;</a>"}) {
        EXPECT_TRUE(Parsed(input).doc.failed()) << input;
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST(XmlDocumentReport, Utf16FragmentLimitIsAtFourThousandBytes) {
    // Two-byte UTF-8 characters show that characters, not bytes, are counted.
    const std::u16string exact = u"<a>" + std::u16string(1997, u'ą');  // 4000 bytes: all of it
    EXPECT_TRUE(endsWith(Parsed(utf16le(exact)).errorText(), kFragmentHeader + diag::utf8Encode(exact) + kEntryEnd49));
    const std::u16string longer = u"<a>" + std::u16string(1998, u'ą');  // 4002 bytes: 2000 characters
    EXPECT_TRUE(endsWith(Parsed(utf16le(longer)).errorText(),
                         kFragmentHeader + diag::utf8Encode(longer.substr(0, 2000)) + kEntryEnd49));
}

TEST(XmlDocumentReport, PartsAppearOnlyWhenKnown) {
    // Line 0: no line part, but the message (trailing space removed) and the code.
    EXPECT_EQ(parseReport(ParserMessage{0, "Gone wrong \n", 5}, "F"),
              "\r\nGone wrong\r\nKlaidos kodas : 5" + kFragmentHeader + "F");
    EXPECT_EQ(parseReport(ParserMessage{3, "x", 0}, "F"), "\r\nKlaida eilutėje : 3\r\nx" + kFragmentHeader + "F");
    EXPECT_EQ(parseReport(std::nullopt, "F"), kFragmentHeader + "F");
}

TEST(XmlLookup, PathTakesFirstMatchesOverAllNodeKinds) {
    Parsed doc("<r><a><b>t1</b></a><a><c>t2</c></a></r><?pi data?>");
    // The first "a" is taken and never revisited.
    EXPECT_EQ(doc.doc.elementAtPath("/r/a/c"), nullptr);
    EXPECT_EQ(doc.doc.elementAtPath("r/a/b"), doc.doc.elementAtPath("/r/a/b"));
    EXPECT_EQ(doc.doc.elementAtPath("r"), nullptr);  // shorter than 2 characters
    const xmlNodePtr pi = doc.doc.elementAtPath("/pi");  // the root's following sibling
    ASSERT_NE(pi, nullptr);
    EXPECT_EQ(pi->type, XML_PI_NODE);
    // Paths are cut to 2047 characters: the "x" beyond them is never read.
    EXPECT_EQ(doc.doc.elementAtPath("/r" + std::string(2045, '/') + "x"), doc.doc.rootElement());
    EXPECT_EQ(doc.doc.elementAtPath("/r" + std::string(100, '/') + "x"), nullptr);
}

TEST(XmlLookup, IdSearchIsDepthFirstFromTheStartOnward) {
    Parsed doc("<r><a><b id='x' n='1'/></a><c id='x' n='2'/><d id='y' ID='z'/></r>");
    EXPECT_EQ(attributeText(doc.doc.elementByIdInDocument("x"), "n"), "1");
    const xmlNodePtr c = doc.doc.rootElement()->children->next;
    EXPECT_EQ(elementById(c, "#x"), c);
    EXPECT_EQ(elementById(c->next, "x"), nullptr);  // preceding nodes are not searched
    EXPECT_EQ(elementById(c->next, "z"), c->next);  // every id attribute of a node is looked at
    EXPECT_EQ(elementById(nullptr, "x"), nullptr);
}

TEST(XmlLookup, NameSearchFinishesEachSubtreeFirst) {
    Parsed doc("<r><a><x n='1'/></a><x n='2'/><p:y xmlns:p='urn:p'/></r>");
    const xmlNodePtr root = doc.doc.rootElement();
    EXPECT_EQ(attributeText(elementByName(root, "x"), "n"), "1");
    EXPECT_NE(elementByName(root, "y"), nullptr);  // the prefix is not examined
    EXPECT_EQ(elementByName(root, "p:y"), nullptr);
}

TEST(XmlReading, DefaultAttributesOfTheDtdAreAdded) {
    Parsed doc("<!DOCTYPE a [<!ATTLIST a d CDATA 'def'>]><a/>");
    ASSERT_FALSE(doc.doc.failed()) << doc.errorText();
    EXPECT_EQ(attributeText(doc.doc.rootElement(), "d"), "def");
}

class XmlOutsideResources : public ::testing::Test {
protected:
    test::TempDir dir;
    std::string secretPath() {
        const std::string path = dir.file("secret.txt");
        test::writeWholeFile(path, "TOP-SECRET-VALUE");
        return path;
    }
    std::string entityDocument() { return "<!DOCTYPE r [<!ENTITY x SYSTEM \"" + secretPath() + "\">]><r>&x;</r>"; }
};

TEST_F(XmlOutsideResources, EveryParsePathRefuses) {
    const std::string input = entityDocument();
    OwnedDoc bytes(parseBytes(input.data(), input.size()));
    EXPECT_EQ(bytes, nullptr);

    Parsed utf16(utf16le(diag::utf16Of(input)));
    EXPECT_EQ(utf16.doc.error().code, diag::errorCode(301, 49));
    EXPECT_NE(utf16.errorText().find("\r\nKlaida eilutėje : 1\r\nfailed to load external entity"), std::string::npos)
        << utf16.errorText();
    EXPECT_EQ(utf16.errorText().find("TOP-SECRET"), std::string::npos);
}

TEST_F(XmlOutsideResources, ParameterEntitiesAndNonDtdFilesLeakNothing) {
    const std::string dtd = dir.file("leak.dtd");
    test::writeWholeFile(dtd, "<!ATTLIST r leaked CDATA \"TOP-SECRET\">");
    Parsed parameter("<!DOCTYPE r [<!ENTITY % p SYSTEM \"file://" + dtd + "\"> %p;]><r/>");
    EXPECT_EQ(parameter.doc.error().code, diag::errorCode(301, 49));
    EXPECT_EQ(parameter.errorText().find("TOP-SECRET"), std::string::npos);

    // The external subset is never read, so a file that is no DTD cannot
    // show up in the parser's messages either.
    Parsed notDtd("<!DOCTYPE r SYSTEM \"" + secretPath() + "\"><r/>");
    EXPECT_FALSE(notDtd.doc.failed()) << notDtd.errorText();
}

TEST_F(XmlOutsideResources, AnExternalEntityReachedThroughAnInternalOneIsRefused) {
    const std::string path = secretPath();
    for (const std::string& use : {std::string("<r>&a;</r>"), std::string("<r v=\"&a;\"/>")}) {
        Parsed nested("<!DOCTYPE r [<!ENTITY x SYSTEM \"" + path + "\"><!ENTITY a \"in &x; out\">]>" + use);
        EXPECT_EQ(nested.doc.error().code, diag::errorCode(301, 49)) << use;
        EXPECT_EQ(nested.errorText().find("TOP-SECRET"), std::string::npos) << nested.errorText();
    }
}

TEST_F(XmlOutsideResources, EntitiesTheUnreadSubsetWouldDeclareFail) {
    // Content that uses an entity the external subset might declare would
    // otherwise lose that text silently.
    const std::string dtd = dir.file("names.dtd");
    test::writeWholeFile(dtd, "<!ENTITY who \"Vilnius\">");
    Parsed used("<!DOCTYPE r SYSTEM \"" + dtd + "\"><r>&who;</r>");
    EXPECT_EQ(used.doc.error().code, diag::errorCode(301, 49));
    EXPECT_NE(used.errorText().find("Entity 'who' not defined"), std::string::npos) << used.errorText();
}

// A host program's loader that counts what reaches it and hands it on.
std::atomic<int> hostLoads{0};
xmlExternalEntityLoader loaderBeforeHost = nullptr;
xmlParserInputPtr countingHostLoader(const char* url, const char* id, xmlParserCtxtPtr context) {
    ++hostLoads;
    return loaderBeforeHost(url, id, context);
}

TEST_F(XmlOutsideResources, HostProgramParsesAreLeftAsLibxmlHasThem) {
    const std::string dtd = dir.file("host.dtd");
    test::writeWholeFile(dtd, "<!ATTLIST r from CDATA \"dtd\">");
    const std::string entityFile = dir.file("host-entity.xml");
    test::writeWholeFile(entityFile, entityDocument());
    const std::string dtdFile = dir.file("host-dtd.xml");
    test::writeWholeFile(dtdFile, "<!DOCTYPE r SYSTEM \"" + dtd + "\"><r/>");

    loaderBeforeHost = xmlGetExternalEntityLoader();
    xmlSetExternalEntityLoader(countingHostLoader);
    hostLoads = 0;
    // The component's parses neither fetch anything nor go through the process's loader.
    Parsed entity(entityDocument());
    EXPECT_EQ(entity.doc.error().code, diag::errorCode(301, 49));
    Parsed parameter("<!DOCTYPE r [<!ENTITY % p SYSTEM \"" + dtd + "\"> %p;]><r/>");
    EXPECT_EQ(parameter.doc.error().code, diag::errorCode(301, 49));
    Parsed inAttribute("<!DOCTYPE r [<!ENTITY x SYSTEM \"" + secretPath() + "\">]><r a=\"&x;\"/>");
    EXPECT_EQ(inAttribute.doc.error().code, diag::errorCode(301, 49));
    Parsed withDtd("<!DOCTYPE r SYSTEM \"" + dtd + "\"><r/>");
    EXPECT_FALSE(withDtd.doc.failed());
    EXPECT_EQ(hostLoads.load(), 0);

    // The host's own parses load what their documents name, as libxml2 does.
    OwnedDoc hostEntity(xmlReadFile(entityFile.c_str(), nullptr, XML_PARSE_NOENT));
    ASSERT_NE(hostEntity, nullptr);
    OwnedBlock content(xmlNodeGetContent(xmlDocGetRootElement(hostEntity.get())));
    EXPECT_STREQ(reinterpret_cast<const char*>(content.get()), "TOP-SECRET-VALUE");
    OwnedDoc hostDtd(xmlReadFile(dtdFile.c_str(), nullptr, XML_PARSE_DTDATTR));
    ASSERT_NE(hostDtd, nullptr);
    OwnedBlock from(xmlGetProp(xmlDocGetRootElement(hostDtd.get()), BAD_CAST "from"));
    EXPECT_STREQ(reinterpret_cast<const char*>(from.get()), "dtd");
    EXPECT_EQ(hostLoads.load(), 4);  // each file, then the entity or DTD it names
    xmlSetExternalEntityLoader(loaderBeforeHost);
}

TEST_F(XmlOutsideResources, RefusalOnOneThreadDoesNotFailAnother) {
    const std::string refused = entityDocument();
    const std::string good = "<!DOCTYPE r [<!ENTITY e \"v\">]><r>&e;</r>";
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) {
                const bool bad = (i + t) % 2 == 0;
                XmlDocument doc(bad ? refused.data() : good.data(), bad ? refused.size() : good.size());
                if (doc.failed() != bad) ++wrong;
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(wrong.load(), 0);
}

TEST(XmlParserLimits, DeepNestingReportStillStopsAtTwoThousandBytes) {
    std::string input;
    for (int i = 0; i < 100000; ++i) input += "<a>";
    Parsed doc(input);
    EXPECT_EQ(doc.doc.tree(), nullptr);
    EXPECT_TRUE(endsWith(doc.errorText(), kFragmentHeader + input.substr(0, 2000) + kEntryEnd49));
}

}  // namespace
}  // namespace tessal::xml
