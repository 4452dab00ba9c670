// Canonical octets of whole documents, fragments and loaded elements: the
// W3C Canonical XML examples, agreement with xmllint, and the failures of the
// canonicalisation steps.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "job_helpers.h"
#include "xmlsig/canonicalisation.h"

namespace tessal::test {
namespace {

using xml::kC14nExclusive;
using xml::kC14nExclusiveWithComments;
using xml::kC14nInclusive;
using xml::kC14nInclusiveWithComments;

std::string inclusive(const std::string& document) {
    const JobOutcome out = canonicalWhole(document, kC14nInclusive);
    EXPECT_TRUE(out.ok) << out.text;
    return out.octets;
}

std::string inclusiveWithComments(const std::string& document) {
    const JobOutcome out = canonicalWhole(document, kC14nInclusiveWithComments);
    EXPECT_TRUE(out.ok) << out.text;
    return out.octets;
}

// --- the examples of the Canonical XML 1.0 recommendation -------------------

TEST(CanonicalXmlExamples, PisCommentsAndOutsideOfDocumentElement) {
    // The example's DOCTYPE names an external DTD, which documents may not
    // load; it is left out, as the canonical form does not depend on it.
    const std::string input =
        "<?xml version=\"1.0\"?>\n\n<?xml-stylesheet   href=\"doc.xsl\"\n   type=\"text/xsl\"   ?>\n\n"
        "<doc>Hello, world!<!-- Comment 1 --></doc>\n\n"
        "<?pi-without-data     ?>\n\n<!-- Comment 2 -->\n\n<!-- Comment 3 -->\n";
    EXPECT_EQ(inclusive(input),
              "<?xml-stylesheet href=\"doc.xsl\"\n   type=\"text/xsl\"   ?>\n<doc>Hello, world!</doc>\n"
              "<?pi-without-data?>");
    EXPECT_EQ(inclusiveWithComments(input),
              "<?xml-stylesheet href=\"doc.xsl\"\n   type=\"text/xsl\"   ?>\n<doc>Hello, world!<!-- Comment 1 --></doc>\n"
              "<?pi-without-data?>\n<!-- Comment 2 -->\n<!-- Comment 3 -->");
}

TEST(CanonicalXmlExamples, WhitespaceInDocumentContentIsKept) {
    const std::string input =
        "<doc>\n   <clean>   </clean>\n   <dirty>   A   B   </dirty>\n   <mixed>\n      A\n      <clean>   </clean>\n"
        "      B\n      <dirty>   A   B   </dirty>\n      C\n   </mixed>\n</doc>";
    EXPECT_EQ(inclusive(input), input);
}

TEST(CanonicalXmlExamples, StartAndEndTags) {
    const std::string input =
        "<!DOCTYPE doc [<!ATTLIST e9 attr CDATA \"default\">]>\n"
        "<doc>\n"
        "   <e1   />\n"
        "   <e2   ></e2>\n"
        "   <e3   name = \"elem3\"   id=\"elem3\"   />\n"
        "   <e4   name=\"elem4\"   id=\"elem4\"   ></e4>\n"
        "   <e5 a:attr=\"out\" b:attr=\"sorted\" attr2=\"all\" attr=\"I'm\"\n"
        "      xmlns:b=\"http://www.ietf.org\"\n"
        "      xmlns:a=\"http://www.w3.org\"\n"
        "      xmlns=\"http://example.org\"/>\n"
        "   <e6 xmlns=\"\" xmlns:a=\"http://www.w3.org\">\n"
        "      <e7 xmlns=\"http://www.ietf.org\">\n"
        "         <e8 xmlns=\"\" xmlns:a=\"http://www.w3.org\">\n"
        "            <e9 xmlns=\"\" xmlns:a=\"http://www.ietf.org\"/>\n"
        "         </e8>\n"
        "      </e7>\n"
        "   </e6>\n"
        "</doc>";
    EXPECT_EQ(inclusive(input),
              "<doc>\n"
              "   <e1></e1>\n"
              "   <e2></e2>\n"
              "   <e3 id=\"elem3\" name=\"elem3\"></e3>\n"
              "   <e4 id=\"elem4\" name=\"elem4\"></e4>\n"
              "   <e5 xmlns=\"http://example.org\" xmlns:a=\"http://www.w3.org\" xmlns:b=\"http://www.ietf.org\" "
              "attr=\"I'm\" attr2=\"all\" b:attr=\"sorted\" a:attr=\"out\"></e5>\n"
              "   <e6 xmlns:a=\"http://www.w3.org\">\n"
              "      <e7 xmlns=\"http://www.ietf.org\">\n"
              "         <e8 xmlns=\"\">\n"
              "            <e9 xmlns:a=\"http://www.ietf.org\" attr=\"default\"></e9>\n"
              "         </e8>\n"
              "      </e7>\n"
              "   </e6>\n"
              "</doc>");
}

TEST(CanonicalXmlExamples, CharacterModificationsAndReferences) {
    const std::string input =
        "<!DOCTYPE doc [\n<!ATTLIST normId id ID #IMPLIED>\n<!ATTLIST normNames attr NMTOKENS #IMPLIED>\n]>\n"
        "<doc>\n"
        "   <text>First line&#x0d;&#10;Second line</text>\n"
        "   <value>&#x32;</value>\n"
        "   <compute><![CDATA[value>\"0\" && value<\"10\" ?\"valid\":\"error\"]]></compute>\n"
        "   <compute expr='value>\"0\" &amp;&amp; value&lt;\"10\" ?\"valid\":\"error\"'>valid</compute>\n"
        "   <norm attr=' &apos;   &#x20;&#13;&#xa;&#9;   &apos; '/>\n"
        "   <normNames attr='   A   &#x20;&#13;&#xa;&#9;   B   '/>\n"
        "   <normId id=' &apos;   &#x20;&#13;&#xa;&#9;   &apos; '/>\n"
        "</doc>";
    EXPECT_EQ(inclusive(input),
              "<doc>\n"
              "   <text>First line&#xD;\nSecond line</text>\n"
              "   <value>2</value>\n"
              "   <compute>value&gt;\"0\" &amp;&amp; value&lt;\"10\" ?\"valid\":\"error\"</compute>\n"
              "   <compute expr=\"value>&quot;0&quot; &amp;&amp; value&lt;&quot;10&quot; "
              "?&quot;valid&quot;:&quot;error&quot;\">valid</compute>\n"
              "   <norm attr=\" '    &#xD;&#xA;&#x9;   ' \"></norm>\n"
              "   <normNames attr=\"A &#xD;&#xA;&#x9; B\"></normNames>\n"
              "   <normId id=\"' &#xD;&#xA;&#x9; '\"></normId>\n"
              "</doc>");
}

TEST(CanonicalXmlExamples, EntityReferencesWithAnInternalEntityForTheExternalOne) {
    // The example's ent2 is an external parsed entity; external entities are
    // refused, so it is declared internally with the text the example gives it.
    const std::string input =
        "<!DOCTYPE doc [\n<!ATTLIST doc attrExtEnt ENTITY #IMPLIED>\n<!ENTITY ent1 \"Hello\">\n"
        "<!ENTITY ent2 \"world\">\n<!ENTITY entExt SYSTEM \"earth.gif\" NDATA gif>\n"
        "<!NOTATION gif SYSTEM \"viewgif.exe\">\n]>\n"
        "<doc attrExtEnt=\"entExt\">\n   &ent1;, &ent2;!\n</doc>\n\n"
        "<!-- Let world.txt contain \"world\" (excluding the quotes) -->\n";
    EXPECT_EQ(inclusive(input), "<doc attrExtEnt=\"entExt\">\n   Hello, world!\n</doc>");
}

TEST(CanonicalXmlExamples, Utf8EncodingOfOtherEncodings) {
    EXPECT_EQ(inclusive("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<doc>&#169;</doc>"), "<doc>\xC2\xA9</doc>");
    EXPECT_EQ(inclusive("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<doc>\xA9</doc>"), "<doc>\xC2\xA9</doc>");
}

// --- agreement with xmllint ---------------------------------------------------

const std::vector<std::string>& comparisonDocuments() {
    static const std::vector<std::string> documents = {
        // namespaces: unused, redeclared, default undeclared, prefixed attributes
        "<r xmlns=\"http://d\" xmlns:u=\"http://unused\" xmlns:p=\"http://p\"><p:a p:x=\"1\" y=\"2\">"
        "<b xmlns=\"\"><c xmlns:p=\"http://p\" p:z=\"3\"/></b></p:a><q xmlns:u=\"http://other\"/></r>",
        // default attributes and entities from the internal subset
        "<!DOCTYPE r [<!ATTLIST e kind CDATA \"plain\" n CDATA #IMPLIED><!ENTITY who \"Vilnius &amp; Kaunas\">"
        "<!ENTITY tag \"<t a='1'>in</t>\">]><r><e n=\"1\">&who;</e><e kind=\"x\">&tag;</e></r>",
        // CDATA, character references, special characters in attributes
        "<r><a><![CDATA[<not> & \"markup\"]]></a><b v=\"&lt;&amp;&gt;&quot;&#9;&#10;&#13;\">&#xD;&gt;</b></r>",
        // whitespace outside and inside the document element, CR LF line ends
        "<?xml version=\"1.0\"?>\r\n\r\n<r>\r\n  <a>  x  </a>\r\n\t<b/>\r\n</r>\r\n\r\n",
        // comments and processing instructions inside and outside
        "<!--before--><?pi one?><r><!-- in --><?pi  two  ?><a><!--deep--></a></r><!--after--><?pi three?>",
        // xml: attributes inherited and non-ASCII text
        "<r xml:lang=\"lt\" xml:space=\"preserve\"><a xml:lang=\"en\">Šiauliai ąčęėįšųūž</a></r>",
        // a business-like message
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Msg xmlns=\"http://example.org/msg\" "
        "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\"><Header Id=\"h1\"><From>A</From><To>B</To>"
        "</Header><Body><Line no=\"1\" xsi:type=\"Amount\">12.50</Line><!-- note --><Line no=\"2\"/></Body></Msg>",
    };
    return documents;
}

class XmllintAgreement : public ::testing::TestWithParam<std::size_t> {};

TEST_P(XmllintAgreement, InclusiveAndExclusiveWithComments) {
    const std::string& document = comparisonDocuments()[GetParam()];
    TempDir dir;
    const std::string file = dir.file("doc.xml");
    writeWholeFile(file, document);
    // This xmllint's --c14n and --exc-c14n keep comments.
    const auto c14n = commandOutput("xmllint --nonet --c14n '" + file + "' 2>/dev/null");
    const auto exc = commandOutput("xmllint --nonet --exc-c14n '" + file + "' 2>/dev/null");
    ASSERT_TRUE(c14n && exc) << "xmllint did not run";
    EXPECT_EQ(canonicalWhole(document, kC14nInclusiveWithComments).octets, *c14n);
    EXPECT_EQ(canonicalWhole(document, kC14nExclusiveWithComments).octets, *exc);
}

TEST_P(XmllintAgreement, WithoutCommentsOnlyCommentsDiffer) {
    const std::string& document = comparisonDocuments()[GetParam()];
    const std::string with = canonicalWhole(document, kC14nInclusiveWithComments).octets;
    const std::string without = canonicalWhole(document, kC14nInclusive).octets;
    ASSERT_FALSE(without.empty());
    // Dropping every comment (and the line break after a top-level one) from
    // the commented form gives the uncommented form.
    std::string stripped = std::regex_replace(with, std::regex("<!--[^]*?-->\n?"), "");
    stripped = std::regex_replace(stripped, std::regex("\n$"), "");
    EXPECT_EQ(without, stripped);
    const std::string exclusive = canonicalWhole(document, kC14nExclusive).octets;
    EXPECT_EQ(exclusive.find("<!--"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Documents, XmllintAgreement, ::testing::Range<std::size_t>(0, 7));

TEST(ExclusiveCanonicalisation, DropsDeclarationsNotVisiblyUsed) {
    const std::string document = "<r xmlns:u=\"http://unused\" xmlns:p=\"http://p\"><p:a/></r>";
    EXPECT_EQ(canonicalWhole(document, kC14nExclusive).octets, "<r><p:a xmlns:p=\"http://p\"></p:a></r>");
    EXPECT_EQ(canonicalWhole(document, kC14nInclusive).octets,
              "<r xmlns:p=\"http://p\" xmlns:u=\"http://unused\"><p:a></p:a></r>");
}

// --- methods ------------------------------------------------------------------

TEST(CanonicalMethods, NamesComparedIgnoringCase) {
    const auto upper = xml::canonicalMethodOf("HTTP://WWW.W3.ORG/2001/10/XML-EXC-C14N#WITHCOMMENTS");
    ASSERT_TRUE(upper);
    EXPECT_TRUE(upper->exclusive);
    EXPECT_TRUE(upper->withComments);
    const auto plain = xml::canonicalMethodOf("http://www.w3.org/TR/2001/rec-xml-c14n-20010315");
    ASSERT_TRUE(plain);
    EXPECT_FALSE(plain->exclusive);
    EXPECT_FALSE(plain->withComments);
    // Near misses are not methods.
    EXPECT_FALSE(xml::canonicalMethodOf("http://www.w3.org/TR/2001/REC-xml-c14n-20010315#"));
    EXPECT_FALSE(xml::canonicalMethodOf("http://www.w3.org/2006/12/xml-c14n11"));
    EXPECT_FALSE(xml::canonicalMethodOf(""));

    const std::string document = "<r><!--c--><a/></r>";
    const JobOutcome out = canonicalWhole(document, "HTTP://WWW.W3.ORG/TR/2001/REC-XML-C14N-20010315#WITHCOMMENTS");
    EXPECT_TRUE(out.ok) << out.text;
    EXPECT_EQ(out.octets, "<r><!--c--><a></a></r>");
}

TEST(CanonicalMethods, UnsupportedMethodNamesTheUri) {
    const JobOutcome out = canonicalWhole("<r/>", "http://www.w3.org/2006/12/xml-c14n11");
    EXPECT_FALSE(out.ok);
    EXPECT_EQ(out.codes, std::vector<int>{code(416, 96)});
    EXPECT_NE(out.text.find("Nepalaikomas algoritmas \"http://www.w3.org/2006/12/xml-c14n11\""), std::string::npos);
}

TEST(CanonicalMethods, LibraryFailureIsReportedAndNotTakenAsOutput) {
    // Canonical XML refuses relative namespace URIs.
    const JobOutcome out = canonicalWhole("<r xmlns=\"relative\"><a/></r>", kC14nInclusive);
    EXPECT_FALSE(out.ok);
    EXPECT_EQ(out.codes, std::vector<int>{code(416, 83)});
    EXPECT_TRUE(out.octets.empty());
}

// --- fragments ------------------------------------------------------------------

TEST(CanonicaliseFragment, StandaloneFormEqualsTheElementLoadedFromItsPlace) {
    // The octets a signer computes from a standalone text must equal those a
    // verifier computes from the element copied out of the signed document.
    const std::string signedInfo =
        "<SignedInfo><CanonicalizationMethod Algorithm=\"http://www.w3.org/TR/2001/REC-xml-c14n-20010315\"/>"
        "<Reference URI=\"\"><DigestValue>AAAA</DigestValue></Reference></SignedInfo>";
    const std::string digestForm =
        "<SignedInfo xmlns=\"http://www.w3.org/2000/09/xmldsig#\">" + signedInfo.substr(12);
    const std::string document = "<EDoc><Msg>x</Msg><Signature Id=\"S\" xmlns=\"http://www.w3.org/2000/09/xmldsig#\">" +
                                 signedInfo + "<SignatureValue>v</SignatureValue></Signature></EDoc>";

    auto signer = jobOver("<x/>");
    ASSERT_TRUE(signer.canonicaliseFragment(digestForm)) << signer.error().text.str();
    auto verifier = jobOver(document);
    xmlNodePtr signature = xml::elementByName(verifier.rootElement(), "SignedInfo");
    ASSERT_TRUE(verifier.loadElement(signature));
    ASSERT_TRUE(verifier.canonicaliseCurrentData(kC14nInclusive));
    EXPECT_EQ(signer.text(), verifier.text());
    EXPECT_EQ(signer.text().substr(0, 58), "<SignedInfo xmlns=\"http://www.w3.org/2000/09/xmldsig#\"><Ca");
    EXPECT_EQ(signer.workingTree(), nullptr);
}

TEST(CanonicaliseFragment, ReplacesEarlierDataAndRefusesBrokenText) {
    auto job = jobOver("<r><a/></r>");
    ASSERT_TRUE(job.dereference(""));
    ASSERT_TRUE(job.canonicaliseFragment("<p:a xmlns:p=\"http://p\"  b='1'/>"));
    EXPECT_EQ(job.text(), "<p:a xmlns:p=\"http://p\" b=\"1\"></p:a>");

    EXPECT_FALSE(job.canonicaliseFragment("<a><b></a>"));
    EXPECT_EQ(codesOf(job.error()), std::vector<int>{code(415, 83)});
    EXPECT_FALSE(job.hasOctets());
    EXPECT_EQ(job.workingTree(), nullptr);
}

// --- ensure tree and load element -------------------------------------------------

TEST(EnsureTree, InvalidStatesAreRefused) {
    auto fresh = jobOver("<r/>");
    EXPECT_FALSE(fresh.ensureTree());
    EXPECT_EQ(codesOf(fresh.error()), std::vector<int>{code(470, 80)});

    auto both = jobOver("<r/>");
    ASSERT_TRUE(both.dereference(""));
    ASSERT_TRUE(both.serialise());  // octets beside the working tree
    EXPECT_FALSE(both.canonicaliseCurrentData(kC14nInclusive));
    EXPECT_EQ(codesOf(both.error()), (std::vector<int>{code(416, 83), code(470, 80)}));
}

TEST(EnsureTree, ReparsesOctetsAndReleasesThem) {
    auto job = jobOver("<r a='1'><!--c--><b/></r>");
    ASSERT_TRUE(job.dereference(""));
    ASSERT_TRUE(job.canonicalise(kC14nInclusiveWithComments));
    ASSERT_TRUE(job.ensureTree());
    EXPECT_FALSE(job.hasOctets());
    ASSERT_NE(job.workingTree(), nullptr);
    EXPECT_TRUE(job.ensureTree());  // a tree alone stays as it is
    ASSERT_TRUE(job.canonicalise(kC14nExclusive));
    EXPECT_EQ(job.text(), "<r a=\"1\"><b></b></r>");
    EXPECT_EQ(job.workingTree(), nullptr);
}

TEST(LoadElement, CopiesTheFirstElementWithTheNamespacesItUses) {
    auto job = jobOver("<r xmlns:p=\"http://p\" xmlns:q=\"http://q\" xmlns=\"http://d\">text<p:a q:at=\"1\"><b/></p:a></r>");
    xmlNodePtr root = job.rootElement();
    ASSERT_TRUE(job.loadElement(root->children));  // the text node comes first
    ASSERT_TRUE(job.canonicaliseCurrentData(kC14nInclusive));
    EXPECT_EQ(job.text(),
              "<p:a xmlns=\"http://d\" xmlns:p=\"http://p\" xmlns:q=\"http://q\" q:at=\"1\"><b></b></p:a>");
    // The main tree is untouched.
    EXPECT_EQ(xmlDocGetRootElement(job.tree()), root);
    EXPECT_NE(root->children->next, nullptr);
}

TEST(LoadElement, NoElementFromTheNode) {
    auto job = jobOver("<r><a/>tail<!--c--></r>");
    ASSERT_TRUE(job.dereference(""));
    EXPECT_FALSE(job.loadElement(job.rootElement()->children->next));
    EXPECT_FALSE(job.loadElement(nullptr));
    EXPECT_EQ(codesOf(job.error()), std::vector<int>{code(471, 80)});
    // The failed load changed nothing.
    EXPECT_NE(job.workingTree(), nullptr);
}

}  // namespace
}  // namespace tessal::test
