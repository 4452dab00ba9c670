#include "lower_bound.h"

#include <limits.h>
#include <stdio.h>
#include <string.h>

#include <libxml/c14n.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

/* The parse options of the verifier this program is the yardstick for. It is
 * meant for the documents the benchmark makes, not for untrusted input. */
#define PARSE_OPTIONS (XML_PARSE_NOENT | XML_PARSE_DTDATTR | XML_PARSE_NONET | XML_PARSE_NSCLEAN | XML_PARSE_NOXINCNODE)

static const char DSIG[] = "http://www.w3.org/2000/09/xmldsig#";
static const char C14N_1_0[] = "http://www.w3.org/TR/2001/REC-xml-c14n-20010315";
static const char SIGNATURE_RSA_SHA256[] = "http://www.w3.org/2001/04/xmldsig-more#rsa-sha256";
static const char DIGEST_SHA256[] = "http://www.w3.org/2001/04/xmlenc#sha256";
static const char ENVELOPED_SIGNATURE[] = "http://www.w3.org/2000/09/xmldsig#enveloped-signature";

static int fail(const char* why) {
    fprintf(stderr, "lower_bound: %s\n", why);
    return -1;
}

static xmlDocPtr parse(const char* xml, size_t length) {
    if (length > INT_MAX) return NULL;
    return xmlReadMemory(xml, (int)length, NULL, NULL, PARSE_OPTIONS);
}

static int is_dsig(xmlNodePtr node, const char* name) {
    return node != NULL && node->type == XML_ELEMENT_NODE && node->ns != NULL &&
           strcmp((const char*)node->ns->href, DSIG) == 0 && strcmp((const char*)node->name, name) == 0;
}

static xmlNodePtr dsig_child(xmlNodePtr parent, const char* name) {
    for (xmlNodePtr child = parent ? parent->children : NULL; child != NULL; child = child->next) {
        if (is_dsig(child, name)) return child;
    }
    return NULL;
}

static int has_algorithm(xmlNodePtr node, const char* algorithm) {
    xmlChar* value = node ? xmlGetProp(node, (const xmlChar*)"Algorithm") : NULL;
    const int same = value != NULL && strcmp((const char*)value, algorithm) == 0;
    xmlFree(value);
    return same;
}

/* The enveloped signature: a child of the root, looked for from the end
 * where signers append it. */
static xmlNodePtr find_signature(xmlDocPtr doc) {
    xmlNodePtr root = xmlDocGetRootElement(doc);
    for (xmlNodePtr child = root ? root->last : NULL; child != NULL; child = child->prev) {
        if (is_dsig(child, "Signature")) return child;
    }
    return NULL;
}

/* Canonical form keeps every node outside the excluded element (the
 * enveloped-signature transform). Namespace nodes come with their element. */
static int outside_excluded(void* excluded, xmlNodePtr node, xmlNodePtr parent) {
    xmlNodePtr at = (node == NULL || node->type == XML_NAMESPACE_DECL) ? parent : node;
    for (; at != NULL; at = at->parent) {
        if (at == (xmlNodePtr)excluded) return 0;
    }
    return 1;
}

static int digest_write(void* context, const char* bytes, int length) {
    return EVP_DigestUpdate((EVP_MD_CTX*)context, bytes, (size_t)length) == 1 ? length : -1;
}

/* SHA-256 of the inclusive canonical form of the document without
 * `excluded` (may be NULL), streamed: the canonical octets are never held. */
static int document_digest(xmlDocPtr doc, xmlNodePtr excluded, unsigned char digest[32]) {
    EVP_MD_CTX* md = EVP_MD_CTX_new();
    int ok = md != NULL && EVP_DigestInit_ex(md, EVP_sha256(), NULL) == 1;
    xmlOutputBufferPtr out = ok ? xmlOutputBufferCreateIO(digest_write, NULL, md, NULL) : NULL;
    if (out != NULL) {
        ok = xmlC14NExecute(doc, outside_excluded, excluded, XML_C14N_1_0, NULL, 0, out) >= 0;
        ok = xmlOutputBufferClose(out) >= 0 && ok;
    } else {
        ok = 0;
    }
    unsigned int size = 0;
    ok = ok && EVP_DigestFinal_ex(md, digest, &size) == 1 && size == 32;
    EVP_MD_CTX_free(md);
    return ok ? 0 : fail("the document could not be canonicalised");
}

/* Inclusive canonical form of one small subtree: a copy of it in a document
 * of its own, carrying the namespaces it inherits. xml: attributes of its
 * ancestors are not carried over (the benchmark's documents have none): a
 * signature made elsewhere under such ancestors fails here, it is never
 * taken for valid. */
static int canonical_subtree(xmlNodePtr node, xmlChar** octets) {
    xmlDocPtr copy = xmlNewDoc((const xmlChar*)"1.0");
    xmlNodePtr top = copy ? xmlDocCopyNode(node, copy, 1) : NULL;
    if (top == NULL) {
        xmlFreeDoc(copy);
        return -1;
    }
    xmlDocSetRootElement(copy, top);
    xmlNsPtr* inScope = xmlGetNsList(node->doc, node);
    for (xmlNsPtr* ns = inScope; ns != NULL && *ns != NULL; ++ns) {
        if ((*ns)->href[0] != '\0' && xmlSearchNs(copy, top, (*ns)->prefix) == NULL) {
            xmlNewNs(top, (*ns)->href, (*ns)->prefix);
        }
    }
    xmlFree(inScope);
    const int length = xmlC14NDocDumpMemory(copy, NULL, XML_C14N_1_0, NULL, 0, octets);
    xmlFreeDoc(copy);
    return length;
}

/* Base64 text without its whitespace, decoded into `out` (of `capacity`). */
static int base64_decode(const xmlChar* text, unsigned char* out, int capacity) {
    char clean[2048];
    int n = 0;
    for (const xmlChar* c = text; c != NULL && *c != '\0'; ++c) {
        if (*c == ' ' || *c == '\t' || *c == '\r' || *c == '\n') continue;
        if (n == (int)sizeof clean - 1) return -1;
        clean[n++] = (char)*c;
    }
    if (n == 0 || n % 4 != 0 || n / 4 * 3 > capacity) return -1;
    int length = EVP_DecodeBlock(out, (const unsigned char*)clean, n);
    if (length < 0) return -1;
    if (clean[n - 1] == '=') --length;
    if (clean[n - 2] == '=') --length;
    return length;
}

static void reverse(unsigned char* bytes, int length) {
    for (int i = 0, j = length - 1; i < j; ++i, --j) {
        const unsigned char t = bytes[i];
        bytes[i] = bytes[j];
        bytes[j] = t;
    }
}

static int rsa_verify(EVP_PKEY* key, const xmlChar* data, int length, const unsigned char* value, int valueLength) {
    EVP_MD_CTX* md = EVP_MD_CTX_new();
    const int ok = md != NULL && EVP_DigestVerifyInit(md, NULL, EVP_sha256(), NULL, key) == 1 &&
                   EVP_DigestVerify(md, value, (size_t)valueLength, data, (size_t)length) == 1;
    EVP_MD_CTX_free(md);
    return ok;
}

static int only_enveloped(xmlNodePtr transforms) {
    int count = 0, enveloped = 0;
    for (xmlNodePtr child = transforms ? transforms->children : NULL; child != NULL; child = child->next) {
        if (!is_dsig(child, "Transform")) continue;
        ++count;
        enveloped = has_algorithm(child, ENVELOPED_SIGNATURE);
    }
    return count == 1 && enveloped;
}

/* The whole-document reference of an RSA-SHA256 signature, its algorithms
 * checked so that nothing else is taken for it. */
static xmlNodePtr whole_document_reference(xmlNodePtr signedInfo) {
    if (!has_algorithm(dsig_child(signedInfo, "CanonicalizationMethod"), C14N_1_0) ||
        !has_algorithm(dsig_child(signedInfo, "SignatureMethod"), SIGNATURE_RSA_SHA256)) {
        return NULL;
    }
    for (xmlNodePtr ref = signedInfo->children; ref != NULL; ref = ref->next) {
        if (!is_dsig(ref, "Reference")) continue;
        xmlChar* uri = xmlGetProp(ref, (const xmlChar*)"URI");
        const int whole = uri != NULL && uri[0] == '\0';
        xmlFree(uri);
        if (whole && only_enveloped(dsig_child(ref, "Transforms")) &&
            has_algorithm(dsig_child(ref, "DigestMethod"), DIGEST_SHA256)) {
            return ref;
        }
    }
    return NULL;
}

static int verify_document(xmlDocPtr doc, EVP_PKEY* key) {
    xmlNodePtr signature = find_signature(doc);
    xmlNodePtr signedInfo = dsig_child(signature, "SignedInfo");
    xmlNodePtr reference = signedInfo ? whole_document_reference(signedInfo) : NULL;
    if (reference == NULL) return fail("no enveloped RSA-SHA256 signature over the whole document");

    unsigned char expected[64], actual[32];
    xmlChar* text = xmlNodeGetContent(dsig_child(reference, "DigestValue"));
    const int expectedLength = base64_decode(text, expected, sizeof expected);
    xmlFree(text);
    if (document_digest(doc, signature, actual) != 0) return -1;
    if (expectedLength != 32 || memcmp(expected, actual, 32) != 0) return fail("the document digest does not hold");

    unsigned char value[1024];
    text = xmlNodeGetContent(dsig_child(signature, "SignatureValue"));
    const int valueLength = base64_decode(text, value, sizeof value);
    xmlFree(text);
    xmlChar* canonical = NULL;
    const int canonicalLength = canonical_subtree(signedInfo, &canonical);
    int ok = valueLength > 0 && canonicalLength > 0;
    if (ok) {
        /* Least significant byte first, as this system writes it, else as
         * written (PKCS #1 order): one RSA operation for either signer. */
        reverse(value, valueLength);
        ok = rsa_verify(key, canonical, canonicalLength, value, valueLength);
        if (!ok) {
            reverse(value, valueLength);
            ok = rsa_verify(key, canonical, canonicalLength, value, valueLength);
        }
    }
    xmlFree(canonical);
    return ok ? 0 : fail("the signature value does not hold");
}

int lb_verify(const char* xml, size_t length, EVP_PKEY* key) {
    xmlDocPtr doc = parse(xml, length);
    if (doc == NULL) return fail("the document does not parse");
    const int result = verify_document(doc, key);
    xmlFreeDoc(doc);
    return result;
}

static xmlNodePtr add(xmlNodePtr parent, const char* name, const char* algorithm) {
    xmlNodePtr node = xmlNewChild(parent, parent->ns, (const xmlChar*)name, NULL);
    if (algorithm != NULL) xmlNewProp(node, (const xmlChar*)"Algorithm", (const xmlChar*)algorithm);
    return node;
}

/* Signature, SignedInfo and an empty SignatureValue appended to the root. */
static xmlNodePtr append_signature(xmlDocPtr doc, const char* digest) {
    xmlNodePtr root = xmlDocGetRootElement(doc);
    xmlNodePtr signature = xmlNewDocNode(doc, NULL, (const xmlChar*)"Signature", NULL);
    xmlSetNs(signature, xmlNewNs(signature, (const xmlChar*)DSIG, NULL));
    xmlAddChild(root, signature);
    xmlNodePtr signedInfo = add(signature, "SignedInfo", NULL);
    add(signedInfo, "CanonicalizationMethod", C14N_1_0);
    add(signedInfo, "SignatureMethod", SIGNATURE_RSA_SHA256);
    xmlNodePtr reference = add(signedInfo, "Reference", NULL);
    xmlNewProp(reference, (const xmlChar*)"URI", (const xmlChar*)"");
    add(add(reference, "Transforms", NULL), "Transform", ENVELOPED_SIGNATURE);
    add(reference, "DigestMethod", DIGEST_SHA256);
    xmlNewTextChild(reference, reference->ns, (const xmlChar*)"DigestValue", (const xmlChar*)digest);
    add(signature, "SignatureValue", NULL);
    return signature;
}

static int sign_document(xmlDocPtr doc, EVP_PKEY* key) {
    if (xmlDocGetRootElement(doc) == NULL) return fail("the document has no root element");
    unsigned char digest[32];
    if (document_digest(doc, NULL, digest) != 0) return -1;
    char digestText[48];
    EVP_EncodeBlock((unsigned char*)digestText, digest, 32);
    xmlNodePtr signature = append_signature(doc, digestText);

    xmlChar* canonical = NULL;
    const int canonicalLength = canonical_subtree(dsig_child(signature, "SignedInfo"), &canonical);
    unsigned char value[1024];
    size_t valueLength = sizeof value;
    EVP_MD_CTX* md = EVP_MD_CTX_new();
    int ok = canonicalLength > 0 && md != NULL && EVP_PKEY_get_size(key) <= (int)sizeof value &&
             EVP_DigestSignInit(md, NULL, EVP_sha256(), NULL, key) == 1 &&
             EVP_DigestSign(md, value, &valueLength, canonical, (size_t)canonicalLength) == 1;
    EVP_MD_CTX_free(md);
    xmlFree(canonical);
    if (!ok) return fail("the signature value could not be made");
    reverse(value, (int)valueLength); /* the byte order this system writes */
    char valueText[1400];
    EVP_EncodeBlock((unsigned char*)valueText, value, (int)valueLength);
    xmlNodeSetContent(dsig_child(signature, "SignatureValue"), (const xmlChar*)valueText);
    return 0;
}

int lb_sign(const char* xml, size_t length, EVP_PKEY* key, unsigned char** out, size_t* outLength) {
    xmlDocPtr doc = parse(xml, length);
    if (doc == NULL) return fail("the document does not parse");
    int result = sign_document(doc, key);
    if (result == 0) {
        xmlChar* bytes = NULL;
        int size = 0;
        xmlDocDumpMemory(doc, &bytes, &size);
        *out = bytes;
        *outLength = (size_t)size;
        result = bytes != NULL ? 0 : fail("the document could not be serialised");
    }
    xmlFreeDoc(doc);
    return result;
}

void lb_free(void* bytes) { xmlFree(bytes); }

EVP_PKEY* lb_load_certificate_key(const char* path) {
    FILE* file = fopen(path, "r");
    X509* certificate = file ? PEM_read_X509(file, NULL, NULL, NULL) : NULL;
    if (file) fclose(file);
    EVP_PKEY* key = certificate ? X509_get_pubkey(certificate) : NULL;
    X509_free(certificate);
    return key;
}

EVP_PKEY* lb_load_private_key(const char* path) {
    FILE* file = fopen(path, "r");
    EVP_PKEY* key = file ? PEM_read_PrivateKey(file, NULL, NULL, NULL) : NULL;
    if (file) fclose(file);
    return key;
}
