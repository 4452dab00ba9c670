// The transforms area of a reference: its structure, each accepted transform
// and their combinations, and every failure they record.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "job_helpers.h"

namespace tessal::test {
namespace {

const std::string kDsig = "http://www.w3.org/2000/09/xmldsig#";
const std::string kXPathUri = "http://www.w3.org/TR/1999/REC-xpath-19991116";
const std::string kEnvelopedUri = "http://www.w3.org/2000/09/xmldsig#enveloped-signature";

// A document in the shape signing writes: EDoc, the message, the signature.
const std::string kSigned =
    "<EDoc><!-- kept? --><Msg Id=\"m1\"><Body a=\"1\">x</Body></Msg>"
    "<Signature xmlns=\"http://www.w3.org/2000/09/xmldsig#\"><SignatureValue>v</SignatureValue></Signature></EDoc>";

std::string transformsOf(const std::string& inner) { return "<Transforms>" + inner + "</Transforms>"; }
std::string transform(const std::string& algorithm, const std::string& content = "") {
    return "<Transform Algorithm=\"" + algorithm + "\">" + content + "</Transform>";
}
std::string xpathTransform(const std::string& expression, const std::string& declarations = "") {
    return transform(kXPathUri, "<XPath" + declarations + ">" + expression + "</XPath>");
}

// --- without transforms -----------------------------------------------------------

TEST(ApplyTransforms, WithoutTransformsTheInclusiveFormWithoutComments) {
    const JobOutcome whole = transformed(kSigned, "", "");
    ASSERT_TRUE(whole.ok) << whole.text;
    EXPECT_EQ(whole.octets,
              "<EDoc><Msg Id=\"m1\"><Body a=\"1\">x</Body></Msg><Signature xmlns=\"" + kDsig +
                  "\"><SignatureValue>v</SignatureValue></Signature></EDoc>");
    const JobOutcome element = transformed(kSigned, "m1", "");
    ASSERT_TRUE(element.ok) << element.text;
    EXPECT_EQ(element.octets, "<Msg Id=\"m1\"><Body a=\"1\">x</Body></Msg>");
}

TEST(ApplyTransforms, BlankAndCommentsBeforeTheTransformsAreSkipped) {
    // The area of a HashDataInfo starts at its first child.
    const std::string area = "<HashDataInfo> <!-- c -->\n" + transformsOf(transform(kEnvelopedUri)) +
                             "<Ignored/></HashDataInfo>";
    XmlHolder holder(area);
    auto job = jobOver(kSigned);
    ASSERT_TRUE(job.dereferenceAndTransform("", holder.root()->children)) << job.error().text.str();
    EXPECT_EQ(job.text(), "<EDoc><Msg Id=\"m1\"><Body a=\"1\">x</Body></Msg></EDoc>");
}

// --- canonicalisation transforms ------------------------------------------------------

TEST(CanonicalisationTransform, ExclusiveIgnoresAnInclusiveNamespacesChild) {
    const std::string document =
        "<r xmlns:u=\"http://u\" xmlns:p=\"http://p\"><a Id=\"x\" xmlns:w=\"http://w\"><p:b/><!--c--></a></r>";
    const std::string withList = transformsOf(transform(
        "http://www.w3.org/2001/10/xml-exc-c14n#",
        "<InclusiveNamespaces xmlns=\"http://www.w3.org/2001/10/xml-exc-c14n#\" PrefixList=\"u w\"/>"));
    const std::string withoutList = transformsOf(transform("http://www.w3.org/2001/10/xml-exc-c14n#"));
    const JobOutcome a = transformed(document, "x", withList);
    const JobOutcome b = transformed(document, "x", withoutList);
    ASSERT_TRUE(a.ok) << a.text;
    EXPECT_EQ(a.octets, b.octets);
    EXPECT_EQ(a.octets, "<a Id=\"x\"><p:b xmlns:p=\"http://p\"></p:b></a>");
}

TEST(CanonicalisationTransform, CapitalsInTheAlgorithmAndCommentsKeptToTheEnd) {
    const JobOutcome out = transformed(
        kSigned, "", transformsOf(transform("HTTP://WWW.W3.ORG/2000/09/XMLDSIG#ENVELOPED-SIGNATURE") +
                                  transform("http://www.w3.org/TR/2001/REC-XML-C14N-20010315#WITHCOMMENTS")));
    ASSERT_TRUE(out.ok) << out.text;
    // The commented octets are the result; no default step strips the comment.
    EXPECT_EQ(out.octets, "<EDoc><!-- kept? --><Msg Id=\"m1\"><Body a=\"1\">x</Body></Msg></EDoc>");
}

TEST(CanonicalisationTransform, ATreeIsRebuiltBetweenSteps) {
    // exclusive, then enveloped-signature on the re-parsed octets, then the default step
    const JobOutcome out = transformed(
        kSigned, "", transformsOf(transform("http://www.w3.org/2001/10/xml-exc-c14n#") + transform(kEnvelopedUri)));
    ASSERT_TRUE(out.ok) << out.text;
    EXPECT_EQ(out.octets, "<EDoc><Msg Id=\"m1\"><Body a=\"1\">x</Body></Msg></EDoc>");
}

// --- enveloped signature ---------------------------------------------------------------

TEST(EnvelopedSignature, RemovesOnlyTheFirstSignatureChildOfTheRoot) {
    const std::string document =
        "<EDoc><A><Signature>inner</Signature></A><Signature Id=\"1\"/><Signature Id=\"2\"/></EDoc>";
    const JobOutcome out = transformed(document, "", transformsOf(transform(kEnvelopedUri)));
    ASSERT_TRUE(out.ok) << out.text;
    EXPECT_EQ(out.octets, "<EDoc><A><Signature>inner</Signature></A><Signature Id=\"2\"></Signature></EDoc>");
}

TEST(EnvelopedSignature, SignatureNotAChildOfTheRootIsUnsigned) {
    const JobOutcome out = transformed("<EDoc><Wrap><Signature/></Wrap></EDoc>", "",
                                       transformsOf(transform(kEnvelopedUri)));
    EXPECT_FALSE(out.ok);
    EXPECT_EQ(out.codes, std::vector<int>{code(493, 50)});
    EXPECT_NE(out.text.find("XML dokumentas nepasirašytas"), std::string::npos);
}

TEST(EnvelopedSignature, OnAReferencedElementItWorksOnThatElement) {
    const std::string document = "<r><part Id=\"p\"><Signature/><x/></part><Signature/></r>";
    const JobOutcome out = transformed(document, "p", transformsOf(transform(kEnvelopedUri)));
    ASSERT_TRUE(out.ok) << out.text;
    EXPECT_EQ(out.octets, "<part Id=\"p\"><x></x></part>");
}

// The whole document is read in place: its octets, kept or streamed, must be
// those of a copy with the signature removed, on documents whose namespaces,
// comments, DTD defaults and surroundings make a difference.
TEST(EnvelopedSignature, InPlaceAndStreamedOctetsEqualThoseOfACopy) {
    const std::vector<std::string> documents = {
        kSigned,
        "<?xml version=\"1.0\"?>\n<!DOCTYPE EDoc [<!ATTLIST Msg kind CDATA \"plain\"><!ENTITY e \"ė&#x9;\">]>\n"
        "<!--before--><?pi a?><EDoc xmlns=\"http://d\" xmlns:p=\"http://p\" xml:lang=\"lt\">\n"
        "  <Msg p:a=\"&e;\">&e;<![CDATA[<x>]]></Msg>\n  <!-- mid -->\n"
        "  <ds:Signature xmlns:ds=\"" + kDsig + "\"><p:V>1</p:V></ds:Signature>\n"
        "  <Signature Id=\"second\"/>\n</EDoc>\n<!--after-->",
        "<e:EDoc xmlns:e=\"http://e\"><e:Signature xmlns=\"http://s\" a=\"1\"><x xmlns:e=\"http://other\"/>"
        "</e:Signature><b xmlns=\"\"/></e:EDoc>",
    };
    const std::vector<std::string> lists = {
        transform(kEnvelopedUri),
        transform(kEnvelopedUri) + transform(kEnvelopedUri),
        transform(kEnvelopedUri) + transform("http://www.w3.org/TR/2001/REC-xml-c14n-20010315#WithComments"),
        transform(kEnvelopedUri) + transform("http://www.w3.org/2001/10/xml-exc-c14n#"),
        transform(kEnvelopedUri) + transform("http://www.w3.org/2001/10/xml-exc-c14n#WithComments"),
        transform("http://www.w3.org/2001/10/xml-exc-c14n#") + transform(kEnvelopedUri),
        transform(kEnvelopedUri) + xpathTransform("not(self::comment())"),
    };
    for (const std::string& document : documents) {
        for (const std::string& list : lists) {
            SCOPED_TRACE(document + "\n" + list);
            XmlHolder holder(transformsOf(list));
            auto copy = jobOver(document);
            const JobOutcome expected = outcomeOf(copy.dereference("") && copy.applyTransforms(holder.root()), copy);
            auto inPlace = jobOver(document);
            const JobOutcome kept = outcomeOf(inPlace.dereferenceAndTransform("", holder.root()), inPlace);
            EXPECT_EQ(kept.ok, expected.ok);
            EXPECT_EQ(kept.codes, expected.codes);
            EXPECT_EQ(kept.octets, expected.octets);
            std::string streamed;
            const xml::OctetSink sink = [&streamed](const std::uint8_t* data, std::size_t size) {
                streamed.append(reinterpret_cast<const char*>(data), size);
                return true;
            };
            auto streaming = jobOver(document);
            EXPECT_EQ(streaming.dereferenceAndTransform("", holder.root(), &sink), expected.ok);
            if (expected.ok) {
                EXPECT_EQ(streamed, expected.octets);
            }
            EXPECT_FALSE(streaming.hasOctets());
            // The caller's tree is never edited.
            EXPECT_NE(xml::elementByName(streaming.rootElement(), "Signature"), nullptr);
        }
    }
}

// --- XPath filter ---------------------------------------------------------------------

TEST(XPathFilter, NamespacesDeclaredOnTheXPathElementAreUsable) {
    const JobOutcome out = transformed(
        kSigned, "", transformsOf(xpathTransform("not(ancestor-or-self::dsig:Signature)",
                                                 " xmlns:dsig=\"" + kDsig + "\"")));
    ASSERT_TRUE(out.ok) << out.text;
    // The filter keeps comments; its octets are the result.
    EXPECT_EQ(out.octets, "<EDoc><!-- kept? --><Msg Id=\"m1\"><Body a=\"1\">x</Body></Msg></EDoc>");
}

TEST(XPathFilter, ThePrefixOfTheXPathElementItselfIsRegistered) {
    const std::string transforms = "<t:Transforms xmlns:t=\"" + kDsig + "\"><t:Transform Algorithm=\"" + kXPathUri +
                                   "\"><t:XPath>not(ancestor-or-self::t:Signature)</t:XPath></t:Transform>"
                                   "</t:Transforms>";
    const JobOutcome out = transformed(kSigned, "", transforms);
    ASSERT_TRUE(out.ok) << out.text;
    EXPECT_EQ(out.octets.find("Signature"), std::string::npos);
}

TEST(XPathFilter, NamespacesOfAncestorsAreNotRegistered) {
    const std::string transforms = "<Outer xmlns:dsig=\"" + kDsig + "\">" +
                                   transformsOf(xpathTransform("not(ancestor-or-self::dsig:Signature)")) + "</Outer>";
    const JobOutcome out = transformed(kSigned, "", transforms);
    EXPECT_FALSE(out.ok);
    EXPECT_EQ(out.codes, std::vector<int>{code(434, 65)});
}

TEST(XPathFilter, ADefaultNamespaceOnTheXPathElementFails) {
    const JobOutcome out =
        transformed(kSigned, "", transformsOf(xpathTransform("true()", " xmlns=\"http://example.org/x\"")));
    EXPECT_FALSE(out.ok);
    EXPECT_EQ(out.codes, std::vector<int>{code(433, 65)});
}

TEST(XPathFilter, ThenEnvelopedSignatureReparsesTheOctets) {
    const JobOutcome out = transformed(
        kSigned, "", transformsOf(xpathTransform("not(self::comment())") + transform(kEnvelopedUri)));
    ASSERT_TRUE(out.ok) << out.text;
    EXPECT_EQ(out.octets, "<EDoc><Msg Id=\"m1\"><Body a=\"1\">x</Body></Msg></EDoc>");
}

TEST(XPathFilter, ANodeSetNotWellFormedOnItsOwnFailsWhenATreeIsNeeded) {
    // Only the text nodes: "x" and "v" are no XML document.
    const std::string select = xpathTransform("self::text()");
    const JobOutcome alone = transformed(kSigned, "", transformsOf(select));
    ASSERT_TRUE(alone.ok) << alone.text;
    EXPECT_EQ(alone.octets, "xv");

    const JobOutcome enveloped = transformed(kSigned, "", transformsOf(select + transform(kEnvelopedUri)));
    EXPECT_FALSE(enveloped.ok);
    EXPECT_EQ(enveloped.codes, (std::vector<int>{code(491, 88), code(470, 49)}));

    const JobOutcome canonical =
        transformed(kSigned, "", transformsOf(select + transform("http://www.w3.org/2001/10/xml-exc-c14n#")));
    EXPECT_EQ(canonical.codes, (std::vector<int>{code(416, 83), code(470, 49)}));

    const JobOutcome twice = transformed(kSigned, "", transformsOf(select + xpathTransform("true()")));
    EXPECT_EQ(twice.codes, (std::vector<int>{code(427, 65), code(470, 49)}));
}

TEST(XPathFilter, TheReparseReportCarriesTheFirst2000Octets) {
    const std::string longText(2500, 'z');
    const std::string document = "<r><a>" + longText + "</a></r>";
    const JobOutcome out = transformed(document, "", transformsOf(xpathTransform("self::text()") +
                                                                 transform(kEnvelopedUri)));
    ASSERT_FALSE(out.ok);
    const std::string expected = "Klaidingas XML dokumentas\r\n" + std::string(2000, 'z') + " : ";
    EXPECT_NE(out.text.find(expected), std::string::npos);
}

TEST(XPathFilter, AnEmptySelectionIsAFailureNotTheWholeDocument) {
    const JobOutcome out = transformed(kSigned, "", transformsOf(xpathTransform("false()")));
    EXPECT_FALSE(out.ok);
    EXPECT_EQ(out.codes, std::vector<int>{code(435, 65)});
    EXPECT_EQ(out.octets.find("Msg"), std::string::npos);
}

TEST(XPathFilter, MalformedContent) {
    struct Case {
        std::string content;
        int expected;
    };
    const std::vector<Case> cases = {
        {"", code(426, 81)},
        {"<!-- only a comment --> ", code(426, 81)},
        {"<Other>true()</Other>", code(426, 81)},
        {"stray<XPath>true()</XPath>", code(425, 81)},
        {"<?pi?><XPath>true()</XPath>", code(425, 81)},
        {"<XPath/>", code(427, 65)},
        {"<XPath><b/></XPath>", code(427, 65)},
        {"<XPath>1 +</XPath>", code(434, 65)},
    };
    for (const Case& c : cases) {
        const JobOutcome out = transformed(kSigned, "", transformsOf(transform(kXPathUri, c.content)));
        EXPECT_FALSE(out.ok) << c.content;
        EXPECT_EQ(out.codes, std::vector<int>{c.expected}) << c.content;
    }
}

// --- the transforms area ------------------------------------------------------------------

TEST(TransformsArea, MalformedStructure) {
    struct Case {
        std::string area;  // children of a holder element; the first is the start node
        int expected;
    };
    const std::vector<Case> cases = {
        {"text first" + transformsOf(""), code(450, 81)},
        {"<?pi?>" + transformsOf(""), code(450, 81)},
        {"<DigestMethod/>", code(452, 81)},
        {transformsOf("text"), code(453, 81)},
        {transformsOf("<![CDATA[x]]>"), code(453, 81)},
        {transformsOf("<Other/>"), code(454, 81)},
        {transformsOf("<Transform/>"), code(455, 81)},
        {transformsOf("<Transform Algorithm=\"\"/>"), code(455, 81)},
    };
    for (const Case& c : cases) {
        XmlHolder holder("<Holder>" + c.area + "</Holder>");
        auto job = jobOver(kSigned);
        EXPECT_FALSE(job.dereferenceAndTransform("", holder.root()->children)) << c.area;
        EXPECT_EQ(codesOf(job.error()), std::vector<int>{c.expected}) << c.area;
    }
}

TEST(TransformsArea, UnsupportedAlgorithmNamesIt) {
    const std::string uri = "http://www.w3.org/2002/06/xmldsig-filter2";
    const JobOutcome out = transformed(kSigned, "", transformsOf(transform(kEnvelopedUri) + transform(uri)));
    EXPECT_FALSE(out.ok);
    EXPECT_EQ(out.codes, std::vector<int>{code(456, 96)});
    EXPECT_NE(out.text.find("Nepalaikomas algoritmas \"" + uri + "\""), std::string::npos);
}

TEST(TransformsArea, StartingWithoutCurrentDataIsAnInvalidState) {
    XmlHolder holder(transformsOf(transform(kEnvelopedUri)));
    auto job = jobOver(kSigned);
    EXPECT_FALSE(job.applyTransforms(holder.root()));
    EXPECT_EQ(codesOf(job.error()), std::vector<int>{code(451, 80)});
    // Without a Transforms element the default step reports the state.
    auto bare = jobOver(kSigned);
    EXPECT_FALSE(bare.applyTransforms(nullptr));
    EXPECT_EQ(codesOf(bare.error()), (std::vector<int>{code(416, 83), code(470, 80)}));
}

TEST(TransformsArea, AFailedStepEndsTheList) {
    const JobOutcome out = transformed(
        "<r><a/></r>", "", transformsOf(transform(kEnvelopedUri) + transform("urn:never-reached")));
    EXPECT_EQ(out.codes, std::vector<int>{code(493, 50)});
}

}  // namespace
}  // namespace tessal::test
