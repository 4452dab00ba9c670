#pragma once
// Which elements of a signature the signer's digests actually cover. A name
// alone proves nothing: anyone may add a SigningTime, or a copy of
// SignedProperties, outside what SignedInfo references. Only the element a
// same-document reference designates (found exactly as the reference check
// finds it when it digests it) is read as signed.
#include <libxml/tree.h>

#include <string_view>

#include "xmlsig/xml_document.h"

namespace tessal::xml {

// The element a same-document URI ("#Id") designates; none for the whole
// document (""), an external URI or an Id that names nothing.
xmlNodePtr designatedElement(const XmlDocument& document, std::string_view uri);

// The SignedProperties element that a Reference of `signedInfo` designates,
// provided it stands in a QualifyingProperties child of `object`; none
// otherwise. The first such Reference counts.
xmlNodePtr coveredSignedProperties(const XmlDocument& document, xmlNodePtr signedInfo, xmlNodePtr object);

// True when a same-document HashDataInfo of `timeStamp` designates `element`.
bool timeStampCovers(const XmlDocument& document, xmlNodePtr timeStamp, xmlNodePtr element);

}  // namespace tessal::xml
