// Parsing a system list with pugixml. The parser builds the tree without
// recursion; afterwards three iterative walks check the nesting depth, find
// where the document ends and turn the raw texts into the texts system lists
// have always been read as (see syslist_xml.h).
#include "syslist/syslist_xml.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <new>
#include <string_view>
#include <vector>

namespace qv::syslist {
namespace {

// Raw texts; character references are decoded here, line ends were made '\n'
// before parsing.
constexpr unsigned kParseOptions = pugi::parse_cdata | pugi::parse_comments | pugi::parse_pi |
                                   pugi::parse_declaration | pugi::parse_doctype |
                                   pugi::parse_fragment;

bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// U+FEFF, U+FFFE and U+FFFF: in UTF-8 documents they count as white space
// wherever white space is skipped (ahead of texts, between nodes).
bool isByteOrderMark(const char* p) {
  const auto* u = reinterpret_cast<const unsigned char*>(p);
  return u[0] == 0xEF &&
         ((u[1] == 0xBB && u[2] == 0xBF) || (u[1] == 0xBF && (u[2] == 0xBE || u[2] == 0xBF)));
}

// Skips white space (and, in UTF-8 documents, byte order marks).
const char* skipSpace(const char* p, bool abUtf8) {
  for (;;) {
    if (abUtf8 && isByteOrderMark(p)) {
      p += 3;
    } else if (isSpace(*p)) {
      ++p;
    } else {
      return p;
    }
  }
}

// Bytes of the UTF-8 sequence a byte leads; 1 for bytes that lead none.
int sequenceLength(char c) {
  const auto u = static_cast<unsigned char>(c);
  if (u >= 0xC2 && u <= 0xDF) return 2;
  if (u >= 0xE0 && u <= 0xEF) return 3;
  if (u >= 0xF0 && u <= 0xF4) return 4;
  return 1;
}

// Code points from 0x200000 on have no encoding here and yield nothing.
void appendUtf8(unsigned long aCode, std::string& asOut) {
  if (aCode < 0x80) {
    asOut += static_cast<char>(aCode);
  } else if (aCode < 0x800) {
    asOut += static_cast<char>(0xC0 | (aCode >> 6));
    asOut += static_cast<char>(0x80 | (aCode & 0x3F));
  } else if (aCode < 0x10000) {
    asOut += static_cast<char>(0xE0 | (aCode >> 12));
    asOut += static_cast<char>(0x80 | ((aCode >> 6) & 0x3F));
    asOut += static_cast<char>(0x80 | (aCode & 0x3F));
  } else if (aCode < 0x200000) {
    asOut += static_cast<char>(0xF0 | (aCode >> 18));
    asOut += static_cast<char>(0x80 | ((aCode >> 12) & 0x3F));
    asOut += static_cast<char>(0x80 | ((aCode >> 6) & 0x3F));
    asOut += static_cast<char>(0x80 | (aCode & 0x3F));
  }
}

struct NamedEntity {
  const char* text;
  char character;
};
constexpr NamedEntity kNamedEntities[] = {
    {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};

// Decodes the reference at p (a '&') into asOut and returns the position
// after it; nullptr when a numeric reference is malformed, which makes the
// document malformed. Numeric references are read from their ';' back to the
// '#' or 'x', digit by digit, with the arithmetic of 32-bit multipliers; they
// become UTF-8 in UTF-8 documents and a single byte otherwise. A '&' that
// starts no known reference is dropped.
const char* decodeReference(const char* p, bool abUtf8, std::string& asOut) {
  if (p[1] == '#') {
    const bool bHex = p[2] == 'x';
    const char* pSemicolon = std::strchr(p + 2, ';');
    if (pSemicolon == nullptr) return nullptr;
    unsigned long uiCode = 0;
    unsigned uiFactor = 1;
    for (const char* q = pSemicolon - 1; *q != (bHex ? 'x' : '#'); --q) {
      int iDigit;
      if (*q >= '0' && *q <= '9') {
        iDigit = *q - '0';
      } else if (bHex && *q >= 'a' && *q <= 'f') {
        iDigit = *q - 'a' + 10;
      } else if (bHex && *q >= 'A' && *q <= 'F') {
        iDigit = *q - 'A' + 10;
      } else {
        return nullptr;
      }
      uiCode += uiFactor * iDigit;
      uiFactor *= bHex ? 16 : 10;
    }
    if (abUtf8) {
      appendUtf8(uiCode, asOut);
    } else {
      asOut += static_cast<char>(uiCode);
    }
    return pSemicolon + 1;
  }
  for (const NamedEntity& entity : kNamedEntities) {
    const size_t iLength = std::strlen(entity.text);
    if (std::strncmp(p, entity.text, iLength) == 0) {
      asOut += entity.character;
      return p + iLength;
    }
  }
  return p + 1;
}

// The text of a raw text node: leading and trailing white space dropped, each
// inner run of it one blank, references decoded; a UTF-8 sequence is taken
// whole. False when the text is malformed.
bool readText(const char* p, bool abUtf8, std::string& asOut) {
  asOut.clear();
  p = skipSpace(p, abUtf8);
  bool bSpace = false;
  while (*p != 0) {
    if (isSpace(*p)) {
      bSpace = true;
      ++p;
      continue;
    }
    if (bSpace) {
      asOut += ' ';
      bSpace = false;
    }
    const int iLength = abUtf8 ? sequenceLength(*p) : 1;
    if (iLength > 1) {
      // A sequence cut off by the end of the text would swallow the markup behind it.
      for (int i = 1; i < iLength; ++i) {
        if (p[i] == 0) return false;
      }
      asOut.append(p, static_cast<size_t>(iLength));
      p += iLength;
    } else if (*p == '&') {
      p = decodeReference(p, abUtf8, asOut);
      if (p == nullptr) return false;
    } else {
      asOut += *p++;
    }
  }
  return true;
}

// An attribute value keeps its white space; references are decoded as in
// texts. Values are not used, but a malformed one makes the document malformed.
bool isReadableValue(const char* p, bool abUtf8) {
  std::string sValue;
  while (*p != 0) {
    const int iLength = abUtf8 ? sequenceLength(*p) : 1;
    if (iLength > 1) {
      for (int i = 1; i < iLength; ++i) {
        if (p[i] == 0) return false;
      }
      p += iLength;
    } else if (*p == '&') {
      p = decodeReference(p, abUtf8, sValue);
      if (p == nullptr) return false;
    } else {
      ++p;
    }
  }
  return true;
}

bool isBlank(const std::string& asText) {
  return std::all_of(asText.begin(), asText.end(), isSpace);
}

bool startsWithIgnoringCase(const char* asText, const char* asPrefix) {
  for (; *asPrefix != 0; ++asText, ++asPrefix) {
    if (*asText == 0 || std::tolower(static_cast<unsigned char>(*asText)) !=
                            std::tolower(static_cast<unsigned char>(*asPrefix))) {
      return false;
    }
  }
  return true;
}

// Declarations are the processing instructions whose target begins with "xml",
// in any case.
bool isDeclaration(pugi::xml_node aNode) {
  return aNode.type() == pugi::node_declaration ||
         (aNode.type() == pugi::node_pi && startsWithIgnoringCase(aNode.name(), "xml"));
}

// How the texts of the top-level elements are read: as UTF-8 after a byte
// order mark, else as the first declaration says (UTF-8 when it names UTF-8
// or no encoding), byte by byte until a declaration is met.
struct TextEncoding {
  bool utf8;
  bool settled;

  void see(pugi::xml_node aNode) {
    if (settled || !isDeclaration(aNode)) return;
    settled = true;
    std::string sEncoding;
    for (pugi::xml_attribute a = aNode.first_attribute(); a; a = a.next_attribute()) {
      if (startsWithIgnoringCase(a.name(), "encoding")) {
        sEncoding.clear();
        // Read before the encoding is known: byte by byte.
        for (const char* p = a.value(); p != nullptr && *p != 0;) {
          p = *p == '&' ? decodeReference(p, false, sEncoding) : (sEncoding += *p, p + 1);
        }
      }
    }
    utf8 = sEncoding.empty() || startsWithIgnoringCase(sEncoding.c_str(), "UTF-8") ||
           startsWithIgnoringCase(sEncoding.c_str(), "UTF8");
  }
};

bool isVersionEncodingOrStandalone(const char* asName) {
  return startsWithIgnoringCase(asName, "version") || startsWithIgnoringCase(asName, "encoding") ||
         startsWithIgnoringCase(asName, "standalone");
}

// The version, encoding and standalone values of a declaration are read like
// attribute values; its other attributes are passed over unread.
bool isReadableDeclaration(pugi::xml_node aNode) {
  if (aNode.type() != pugi::node_declaration) return true;
  for (pugi::xml_attribute a = aNode.first_attribute(); a; a = a.next_attribute()) {
    if (isVersionEncodingOrStandalone(a.name()) && !isReadableValue(a.value(), false)) {
      return false;
    }
  }
  return true;
}

// A declaration, processing instruction or document type ends at its first
// '>' unless that stands in a quoted version, encoding or standalone value;
// what follows such an early end is no markup, and the document ends there.
bool endsEarly(pugi::xml_node aNode) {
  if (aNode.type() == pugi::node_declaration) {
    for (pugi::xml_attribute a = aNode.first_attribute(); a; a = a.next_attribute()) {
      if (!isVersionEncodingOrStandalone(a.name()) && std::strchr(a.value(), '>') != nullptr) {
        return true;
      }
    }
    return false;
  }
  return (aNode.type() == pugi::node_pi || aNode.type() == pugi::node_doctype) &&
         std::strchr(aNode.value(), '>') != nullptr;
}

// The first top-level node that is no longer part of the document, or null.
// The document ends at text outside its elements (that text is dropped) and
// after a node that ends early.
pugi::xml_node endOfDocument(const pugi::xml_document& aDocument, bool abByteOrderMark) {
  TextEncoding encoding{abByteOrderMark, abByteOrderMark};
  for (pugi::xml_node node = aDocument.first_child(); node; node = node.next_sibling()) {
    encoding.see(node);
    if (node.type() == pugi::node_pcdata && *skipSpace(node.value(), encoding.utf8) != 0) {
      return node;
    }
    if (endsEarly(node)) return node.next_sibling();
  }
  return pugi::xml_node();
}

// The node after aNode in document order below aTop, null at the end; aNode's
// children come first when abDescend. aiDepth follows the level of the node.
pugi::xml_node nextNode(pugi::xml_node aNode, pugi::xml_node aTop, bool abDescend, int& aiDepth) {
  if (abDescend && aNode.first_child()) {
    ++aiDepth;
    return aNode.first_child();
  }
  while (aNode != aTop && !aNode.next_sibling()) {
    aNode = aNode.parent();
    --aiDepth;
  }
  return aNode == aTop ? pugi::xml_node() : aNode.next_sibling();
}

bool nestsTooDeep(const pugi::xml_document& aDocument) {
  int iDepth = 1;  // top-level nodes are on level 1
  for (pugi::xml_node node = aDocument.first_child(); node;
       node = nextNode(node, aDocument, true, iDepth)) {
    if (node.type() == pugi::node_element && iDepth > kMaxNestingDepth) return true;
  }
  return false;
}

// Repeated attribute names make an element malformed, as do malformed values.
bool hasReadableAttributes(pugi::xml_node aElement, bool abUtf8) {
  const pugi::xml_attribute first = aElement.first_attribute();
  if (!first) return true;
  for (pugi::xml_attribute a = first; a; a = a.next_attribute()) {
    if (!isReadableValue(a.value(), abUtf8)) return false;
  }
  if (!first.next_attribute()) return true;
  std::vector<std::string_view> names;
  for (pugi::xml_attribute a = first; a; a = a.next_attribute()) names.emplace_back(a.name());
  std::sort(names.begin(), names.end());
  return std::adjacent_find(names.begin(), names.end()) == names.end();
}

// Reads the texts below a top-level element and drops those that are blank;
// false when a text or an element's attributes are malformed.
bool readTexts(pugi::xml_node aTop, bool abUtf8) {
  int iDepth = 0;
  std::string sText;
  for (pugi::xml_node node = aTop; node;) {
    if (node.type() == pugi::node_element && !hasReadableAttributes(node, abUtf8)) return false;
    if (node.type() != pugi::node_pcdata) {
      node = nextNode(node, aTop, true, iDepth);
      continue;
    }
    if (!readText(node.value(), abUtf8, sText)) return false;
    pugi::xml_node text = node;
    node = nextNode(node, aTop, false, iDepth);
    if (isBlank(sText)) {
      text.parent().remove_child(text);
    } else if (sText != text.value() && !text.set_value(sText.c_str())) {
      throw std::bad_alloc();
    }
  }
  return true;
}

}  // namespace

bool parseSysListXml(const std::string& asText, pugi::xml_document& aDocument) {
  // The text ends at its first NUL byte.
  const size_t iLength = std::strlen(asText.c_str());
  const bool bByteOrderMark = asText.compare(0, 3, "\xEF\xBB\xBF") == 0;
  const pugi::xml_parse_result result =
      aDocument.load_buffer(asText.c_str(), iLength, kParseOptions, pugi::encoding_utf8);
  if (result.status == pugi::status_out_of_memory) throw std::bad_alloc();
  // A malformation behind the document's end does not count.
  const pugi::xml_node end = endOfDocument(aDocument, bByteOrderMark);
  if (!result && !end) return false;
  // Checked before anything is removed: pugixml frees a removed subtree level
  // by level.
  if (nestsTooDeep(aDocument)) return false;
  while (end && end.next_sibling()) aDocument.remove_child(end.next_sibling());
  if (end) aDocument.remove_child(end);

  TextEncoding encoding{bByteOrderMark, bByteOrderMark};
  for (pugi::xml_node node = aDocument.first_child(); node; node = node.next_sibling()) {
    if (!isReadableDeclaration(node)) return false;
    encoding.see(node);
    if (node.type() == pugi::node_element && !readTexts(node, encoding.utf8)) return false;
  }
  return aDocument.first_child();
}

const char* elementText(pugi::xml_node aElement) {
  const pugi::xml_node child = aElement.first_child();
  const pugi::xml_node_type type = child.type();
  return type == pugi::node_pcdata || type == pugi::node_cdata ? child.value() : nullptr;
}

pugi::xml_node firstChildElement(pugi::xml_node aParent, const char* asName) {
  pugi::xml_node node = aParent.first_child();
  while (node && (node.type() != pugi::node_element ||
                  (asName != nullptr && std::strcmp(node.name(), asName) != 0))) {
    node = node.next_sibling();
  }
  return node;
}

pugi::xml_node nextSiblingElement(pugi::xml_node aNode, const char* asName) {
  pugi::xml_node node = aNode.next_sibling();
  while (node && (node.type() != pugi::node_element ||
                  (asName != nullptr && std::strcmp(node.name(), asName) != 0))) {
    node = node.next_sibling();
  }
  return node;
}

const char* contentValue(pugi::xml_node aNode) {
  switch (aNode.type()) {
    case pugi::node_element:
      return aNode.name();
    case pugi::node_pcdata:
    case pugi::node_cdata:
      return aNode.value();
    default:
      return nullptr;
  }
}

}  // namespace qv::syslist
