// The XML of a system list: parsing into a pugixml document and the few ways
// the loader and the validation look at it.
//
// The document is presented as system lists have always been read: element
// texts are trimmed, runs of white space inside them become one blank, the
// five predefined entities and numeric character references are replaced,
// texts of white space only are no nodes, and an element's text is the text
// of its first child node (none when that is an element, comment or
// processing instruction). Parsing walks the tree iteratively: nothing
// recurses per element level, whatever the file's nesting.
#pragma once

#include <pugixml.hpp>

#include <cstddef>
#include <string>

namespace qv::syslist {

// Real files are five element levels deep; deeper ones are refused.
constexpr int kMaxNestingDepth = 200;

// Parses a system list text into aDocument (replacing what it held). False
// when the text is no well-formed document, holds no node, or nests elements
// more than kMaxNestingDepth levels deep. Throws std::bad_alloc when memory
// runs out.
bool parseSysListXml(const std::string& asText, pugi::xml_document& aDocument);

// Text of an element as described above; nullptr when it has none.
const char* elementText(pugi::xml_node aElement);

// Element children, all or those named asName.
pugi::xml_node firstChildElement(pugi::xml_node aParent, const char* asName = nullptr);
pugi::xml_node nextSiblingElement(pugi::xml_node aNode, const char* asName = nullptr);

// The tag of an element or the text of a text node; nullptr for comments,
// processing instructions and declarations, which carry no content.
const char* contentValue(pugi::xml_node aNode);

}  // namespace qv::syslist
