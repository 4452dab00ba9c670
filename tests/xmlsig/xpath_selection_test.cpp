// The XPath filter's node-by-node selection against libxml2's own evaluation
// of the whole filter expression, and its bound on hostile conditions.
#include "xmlsig/xpath_selection.h"

#include <gtest/gtest.h>
#include <libxml/c14n.h>
#include <libxml/xpathInternals.h>

#include <string>
#include <vector>

#include "job_helpers.h"
#include "xmlsig/libxml_owners.h"

namespace tessal::test {
namespace {

const std::string kDsig = "http://www.w3.org/2000/09/xmldsig#";

// What libxml2 gives for "(//.|//@*|//namespace::*)[condition]".
std::string wholeExpression(xmlDocPtr doc, const std::string& condition) {
    xml::OwnedXPathContext context(xmlXPathNewContext(doc));
    xmlXPathRegisterNs(context.get(), BAD_CAST "dsig", BAD_CAST kDsig.c_str());
    const std::string expression = "(//.|//@*|//namespace::*)[" + condition + "]";
    xml::OwnedXPathObject result(xmlXPathEvalExpression(BAD_CAST expression.c_str(), context.get()));
    if (!result || result->nodesetval == nullptr) return "<no node set>";
    xmlChar* out = nullptr;
    const int length = xmlC14NDocDumpMemory(doc, result->nodesetval, XML_C14N_1_0, nullptr, 1, &out);
    xml::OwnedBlock block(out);
    return length > 0 ? std::string(reinterpret_cast<const char*>(out), length) : "<empty>";
}

std::string nodeByNode(xmlDocPtr doc, const std::string& condition) {
    xml::OwnedXPathContext context(xmlXPathNewContext(doc));
    xmlXPathRegisterNs(context.get(), BAD_CAST "dsig", BAD_CAST kDsig.c_str());
    const std::optional<xml::CanonicalOctets> octets = xml::canonicalSelection(context.get(), condition, 1UL << 24);
    if (!octets) return "<failed>";
    if (!octets->block) return "<empty>";
    return std::string(reinterpret_cast<const char*>(octets->block.get()), octets->length);
}

TEST(XPathSelection, AgreesWithLibxmlOnTheWholeExpression) {
    const std::vector<std::string> documents = {
        "<EDoc><!-- c --><Msg Id=\"m1\" xmlns:p=\"urn:p\"><p:Body a=\"1\" p:b=\"2\">x<?pi d?></p:Body></Msg>"
        "<Signature xmlns=\"" + kDsig + "\"><SignatureValue>v</SignatureValue></Signature></EDoc>",
        "<!DOCTYPE r [<!ATTLIST e d CDATA \"def\">]><?top?><r xmlns=\"urn:r\"><e>a<![CDATA[<b>]]></e>"
        "<e xmlns=\"\" xml:lang=\"lt\">c</e></r><!-- after -->",
    };
    const std::vector<std::string> conditions = {
        "true()",
        "not(ancestor-or-self::dsig:Signature)",
        "not(self::comment())",
        "self::text()",
        "ancestor-or-self::*[@Id='m1'] or self::EDoc",
        "count(ancestor::*) < 2",
        "name() != 'a'",
        // A number is compared with the position. Namespace nodes come right
        // after their element, as XPath orders them; libxml2 leaves them
        // unordered, so only positions before the first of them compare.
        "position() = 2",
        "last() > 5 and self::*",
        "string(.) = 'x'",
        "false()",
    };
    for (const std::string& text : documents) {
        const auto job = jobOver(text);
        ASSERT_NE(job.tree(), nullptr) << text;
        for (const std::string& condition : conditions) {
            EXPECT_EQ(nodeByNode(job.tree(), condition), wholeExpression(job.tree(), condition))
                << condition << " over " << text;
        }
    }
}

TEST(XPathSelection, TextThatClosesThePredicateEarlyIsRefused) {
    const auto job = jobOver("<r><a/><b/></r>");
    EXPECT_EQ(nodeByNode(job.tree(), "false()] | (//b)[true()"), "<failed>");
}

TEST(XPathFilter, NestedSearchesOverTheWholeTreeFailWithinTheBound) {
    // Each of the nodes asks for all nodes, each of which asks for all nodes
    // again: without the bound, hours of work for these few kilobytes.
    std::string document = "<EDoc>";
    for (int i = 0; i < 1000; ++i) document += "<i>" + std::to_string(i) + "</i>";
    document += "</EDoc>";
    const std::string hostile = "<Transforms><Transform Algorithm=\"http://www.w3.org/TR/1999/REC-xpath-19991116\">"
                                "<XPath>count(//node()[count(//node()) &gt; 0]) &gt; 0</XPath></Transform></Transforms>";
    const JobOutcome out = transformed(document, "", hostile);
    EXPECT_FALSE(out.ok);
    EXPECT_EQ(out.codes, std::vector<int>{code(434, 65)});
}

}  // namespace
}  // namespace tessal::test
