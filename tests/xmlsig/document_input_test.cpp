#include <gtest/gtest.h>

#include <string>

#include "support/test_support.h"
#include "xmlsig/xml_document.h"

using namespace tessal;
using xml::XmlDocument;

namespace {

XmlDocument parsed(const std::string& bytes) { return XmlDocument(bytes.data(), bytes.size()); }

std::string utf16le(const std::u16string& text) {
    std::string out;
    for (char16_t u : text) {
        out.push_back(static_cast<char>(u & 0xFF));
        out.push_back(static_cast<char>(u >> 8));
    }
    return out;
}

std::string nameOf(xmlNodePtr node) { return node ? reinterpret_cast<const char*>(node->name) : "<none>"; }

}  // namespace

TEST(DocumentInput, ShortInputIsNoDocumentAndThreeBytesAreParsed) {
    const XmlDocument two = parsed("<a");
    EXPECT_EQ(two.error().code, 70301094);
    EXPECT_EQ(two.error().text.str(), "Neperduotas XML dokumentas : 70301094;\r\n");
    const XmlDocument three = parsed("<a>");
    EXPECT_EQ(three.error().code, 70301049);
    const XmlDocument four = parsed("<a/>");
    EXPECT_FALSE(four.failed());
    EXPECT_EQ(nameOf(four.rootElement()), "a");
}

TEST(DocumentInput, Utf16InputTakesBothPaths) {
    // Every second byte zero: converted to UTF-8 and parsed as text.
    const XmlDocument plain = parsed(utf16le(u"<a>ž</a>"));
    ASSERT_FALSE(plain.failed()) << plain.error().text.str();
    EXPECT_EQ(*xml::firstChildText(plain.rootElement()), "ž");
    // A byte-order mark makes the first two bytes non-zero: the parser sees bytes.
    const XmlDocument marked = parsed("\xFF\xFE" + utf16le(u"<a>ž</a>"));
    ASSERT_FALSE(marked.failed()) << marked.error().text.str();
    EXPECT_EQ(*xml::firstChildText(marked.rootElement()), "ž");
}

TEST(DocumentInput, ReportHasLineMessageCodeAndTheStartOfTheInput) {
    const XmlDocument bad = parsed("<a>\n<b></c></a>");
    const std::string text = bad.error().text.str();
    EXPECT_EQ(text.rfind("Klaidingas XML dokumentas\r\nKlaida eilutėje : 2\r\nOpening and ending tag mismatch", 0), 0u)
        << text;
    EXPECT_NE(text.find("\r\nKlaidos kodas : 76\r\nXML duomenų fragmentas:\r\n<a>\n<b></c></a> : 70301049;\r\n"),
              std::string::npos)
        << text;
}

TEST(DocumentInput, ReportFragmentIsLimited) {
    const std::string big = "<a>" + std::string(5000, 'x');  // never closed
    const std::string text = parsed(big).error().text.str();
    EXPECT_NE(text.find("fragmentas:\r\n" + big.substr(0, 2000) + " : 70301049"), std::string::npos);
    // UTF-16 input of more than 4000 bytes shows its first 2000 characters.
    const std::u16string wide = u"<a>" + std::u16string(3000, u'ž');
    const std::string wideText = parsed(utf16le(wide)).error().text.str();
    std::string expected = "<a>";
    for (int i = 0; i < 1997; ++i) expected += "ž";
    EXPECT_NE(wideText.find("fragmentas:\r\n" + expected + " : 70301049"), std::string::npos);
}

TEST(DocumentInput, ExternalResourcesAreRefused) {
    test::TempDir dir;
    test::writeWholeFile(dir.file("secret.txt"), "TOPSECRET");
    test::writeWholeFile(dir.file("extra.dtd"), "<!ATTLIST a leaked CDATA \"TOPSECRET\">");
    const std::string entity = "<!DOCTYPE a [<!ENTITY x SYSTEM \"file://" + dir.file("secret.txt") +
                               "\"><!ENTITY y \"inner\">]><a>&x;&y;</a>";
    const XmlDocument withEntity = parsed(entity);
    EXPECT_EQ(withEntity.error().code, 70301049);
    EXPECT_NE(withEntity.error().text.str().find("failed to load external entity"), std::string::npos);
    EXPECT_EQ(withEntity.tree(), nullptr);
    // The external DTD subset is not read; the document parses without it.
    XmlDocument withDtd = parsed("<!DOCTYPE a SYSTEM \"" + dir.file("extra.dtd") + "\"><a/>");
    ASSERT_FALSE(withDtd.failed()) << withDtd.error().text.str();
    ASSERT_TRUE(withDtd.serialise());
    EXPECT_EQ(withDtd.text().find("TOPSECRET"), std::string::npos);
    // Internal entities are still substituted.
    XmlDocument internal = parsed("<!DOCTYPE a [<!ENTITY y \"inner\">]><a>&y;</a>");
    ASSERT_FALSE(internal.failed());
    ASSERT_TRUE(internal.serialise());
    EXPECT_NE(internal.text().find("<a>inner</a>"), std::string::npos);
    EXPECT_EQ(internal.text().find("TOPSECRET"), std::string::npos);
}

TEST(DocumentInput, EntityBombsAndDeepNestingFailCleanly) {
    std::string bomb = "<!DOCTYPE a [<!ENTITY e0 \"xxxxxxxxxx\">";
    for (int i = 1; i < 12; ++i) {
        bomb += "<!ENTITY e" + std::to_string(i) + " \"";
        for (int k = 0; k < 10; ++k) bomb += "&e" + std::to_string(i - 1) + ";";
        bomb += "\">";
    }
    bomb += "]><a>&e11;</a>";
    EXPECT_EQ(parsed(bomb).error().code, 70301049);
    std::string deep;
    for (int i = 0; i < 100000; ++i) deep += "<a>";
    EXPECT_EQ(parsed(deep).error().code, 70301049);
}

TEST(DocumentOutput, WritesDeclarationAndUtf8) {
    XmlDocument doc = parsed("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a>\xE9</a>");
    ASSERT_TRUE(doc.serialise());
    EXPECT_EQ(doc.text(), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<a>\xC3\xA9</a>\n");
}

TEST(DocumentLookups, ElementAtPath) {
    const XmlDocument doc = parsed("<Q><U><T>one</T><T>two</T>text<S/></U></Q>");
    EXPECT_EQ(*doc.textAtPath("/Q/U/T"), "one");
    EXPECT_EQ(nameOf(doc.elementAtPath("///Q/U/S//")), "S");
    EXPECT_EQ(doc.elementAtPath("/Q//U"), nullptr);  // an empty component matches nothing
    EXPECT_EQ(doc.elementAtPath("////"), nullptr);
    EXPECT_EQ(doc.elementAtPath(""), nullptr);
    EXPECT_EQ(doc.elementAtPath("/"), nullptr);
    EXPECT_EQ(doc.elementAtPath("/Q/X"), nullptr);
    // Names of every node kind are compared, so "text" finds a text node.
    const xmlNodePtr text = doc.elementAtPath("/Q/U/text");
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->type, XML_TEXT_NODE);
}

TEST(DocumentLookups, ElementByIdAndByName) {
    const XmlDocument doc = parsed("<r><a id=\"x\"/><b><c ID=\"y\"/></b><d Id=\"Y\"/><e Id=\"z\"><f id=\"z\"/></e></r>");
    EXPECT_EQ(nameOf(doc.elementByIdInDocument("x")), "a");
    EXPECT_EQ(nameOf(doc.elementByIdInDocument("##y")), "c");
    EXPECT_EQ(nameOf(doc.elementByIdInDocument("Y")), "d");   // the value's case matters
    EXPECT_EQ(nameOf(doc.elementByIdInDocument("z")), "e");   // the outer element is seen first
    EXPECT_EQ(doc.elementByIdInDocument("w"), nullptr);
    EXPECT_EQ(nameOf(xml::elementByName(doc.rootElement(), "c")), "c");
    EXPECT_EQ(nameOf(xml::elementByName(doc.rootElement(), "r")), "r");
    EXPECT_EQ(xml::elementByName(doc.rootElement(), "w"), nullptr);
}

TEST(DocumentReadingRules, FirstChildTextAttributesAndIgnorableNodes) {
    const XmlDocument doc = parsed(
        "<r xmlns:p=\"urn:p\"><a> spaced </a><b><i/>x</b><c/><d p:Algorithm=\"alg\" e=\"\"/>"
        "<!--c--> \t\r\n<![CDATA[]]>text</r>");
    xmlNodePtr root = doc.rootElement();
    xmlNodePtr a = xml::elementByName(root, "a");
    EXPECT_EQ(*xml::firstChildText(a), " spaced ");  // nothing is trimmed
    EXPECT_FALSE(xml::firstChildText(xml::elementByName(root, "b")));  // first child is an element
    EXPECT_FALSE(xml::firstChildText(xml::elementByName(root, "c")));
    xmlNodePtr d = xml::elementByName(root, "d");
    EXPECT_EQ(*xml::attributeText(d, "Algorithm"), "alg");  // any namespace
    EXPECT_FALSE(xml::attributeText(d, "e"));  // an attribute without value counts as absent
    EXPECT_FALSE(xml::attributeText(d, "missing"));
    xmlNodePtr n = d->next;
    EXPECT_TRUE(xml::isIgnorable(n));        // comment
    EXPECT_TRUE(xml::isIgnorable(n->next));  // blank text
    EXPECT_TRUE(xml::isIgnorable(n->next->next));  // empty CDATA
    EXPECT_FALSE(xml::isIgnorable(n->next->next->next));  // text
    EXPECT_EQ(xml::firstElementFrom(n), nullptr);
}
