#!/usr/bin/env bash
# Drives the reference options of `tessal c14n` (--ref, --transforms) and its
# usage errors; the comparisons with xmllint are in xml_commands.sh.
# Usage: c14n_command.sh PATH_TO_TESSAL
set -u
TESSAL="$1"
D=$(mktemp -d)
trap 'rm -rf "$D"' EXIT
export TESSAL_CONFIG="$D/none.conf"
source "$(dirname "$0")/lib/assertions.sh"

DSIG=http://www.w3.org/2000/09/xmldsig#
cat > "$D/signed.xml" <<XML
<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE EDoc [<!ATTLIST Line unit CDATA "vnt"><!ENTITY who "A &amp; B">]>
<EDoc xmlns:b="http://example.org/b"><!-- note --><Msg Id="m1"><Line no="1">&who;</Line><b:x/></Msg><Signature xmlns="$DSIG"><SignedInfo/></Signature></EDoc>
XML
cat > "$D/enveloped.xml" <<XML
<Reference><Transforms><Transform Algorithm="${DSIG}enveloped-signature"/></Transforms></Reference>
XML
cat > "$D/xpath.xml" <<XML
<Transforms><Transform Algorithm="http://www.w3.org/TR/1999/REC-xpath-19991116"><XPath xmlns:dsig="$DSIG">not(ancestor-or-self::dsig:Signature)</XPath></Transform><Transform Algorithm="http://www.w3.org/2001/10/xml-exc-c14n#"/></Transforms>
XML

# --- usage -------------------------------------------------------------------
check "help" contains "$("$TESSAL" c14n --help)" "--transforms FILE"
check "no file" equals "$(status "$TESSAL" c14n)" 2
check "two files" equals "$(status "$TESSAL" c14n "$D/signed.xml" "$D/signed.xml")" 2
check "option without value" equals "$(status "$TESSAL" c14n "$D/signed.xml" --ref)" 2
check "unknown option" equals "$(status "$TESSAL" c14n --frob "$D/signed.xml")" 2
check "method with transforms" equals "$(status "$TESSAL" c14n --method x --transforms "$D/xpath.xml" "$D/signed.xml")" 2
check "missing file" equals "$(status "$TESSAL" c14n "$D/none.xml")" 1

# --- output --------------------------------------------------------------------
"$TESSAL" c14n "$D/signed.xml" > "$D/out.c14n"
check "whole document exits 0" equals "$?" 0
check "whole document, inclusive without comments" equals "$(cat "$D/out.c14n")" \
    "<EDoc xmlns:b=\"http://example.org/b\"><Msg Id=\"m1\"><Line no=\"1\" unit=\"vnt\">A &amp; B</Line><b:x></b:x></Msg><Signature xmlns=\"$DSIG\"><SignedInfo></SignedInfo></Signature></EDoc>"
check "reference by Id" equals "$("$TESSAL" c14n --ref '#m1' "$D/signed.xml")" \
    "<Msg xmlns:b=\"http://example.org/b\" Id=\"m1\"><Line no=\"1\" unit=\"vnt\">A &amp; B</Line><b:x></b:x></Msg>"
check "reference without #" equals "$("$TESSAL" c14n --ref m1 "$D/signed.xml")" "$("$TESSAL" c14n --ref '#m1' "$D/signed.xml")"
check "enveloped signature" equals "$("$TESSAL" c14n --ref '' --transforms "$D/enveloped.xml" "$D/signed.xml")" \
    "<EDoc xmlns:b=\"http://example.org/b\"><Msg Id=\"m1\"><Line no=\"1\" unit=\"vnt\">A &amp; B</Line><b:x></b:x></Msg></EDoc>"
check "xpath then exclusive" equals "$("$TESSAL" c14n --transforms "$D/xpath.xml" "$D/signed.xml")" \
    "<EDoc><Msg Id=\"m1\"><Line no=\"1\" unit=\"vnt\">A &amp; B</Line><b:x xmlns:b=\"http://example.org/b\"></b:x></Msg></EDoc>"
check "octets are written unchanged" equals "$("$TESSAL" c14n "$D/signed.xml" | cmp - "$D/out.c14n" && echo same)" same

# --- failures ------------------------------------------------------------------
err=$("$TESSAL" c14n --ref '#nope' "$D/signed.xml" 2>&1 >/dev/null)
check "unknown reference exits 1" equals "$(status "$TESSAL" c14n --ref '#nope' "$D/signed.xml")" 1
check "unknown reference names it" contains "$err" 'XML elementas "nope"'
printf '<a><b></a>' > "$D/broken.xml"
err=$("$TESSAL" c14n "$D/broken.xml" 2>&1 >/dev/null)
check "broken document" contains "$err" "Klaidingas XML dokumentas"
check "broken document exits 1" equals "$(status "$TESSAL" c14n "$D/broken.xml")" 1
printf '<NoTransforms/>' > "$D/empty-transforms.xml"
check "transforms file without Transforms" equals "$(status "$TESSAL" c14n --transforms "$D/empty-transforms.xml" "$D/signed.xml")" 1

echo "c14n_command: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
