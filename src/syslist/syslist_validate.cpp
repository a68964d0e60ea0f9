// Schema rules of the system list file. The first broken rule ends the check;
// its code and message say where (element kind and its index from 1).
#include <cstdio>
#include <cstring>
#include <string>

#include "runtime/logging.h"
#include "syslist/syslist.h"
#include "syslist/syslist_xml.h"

namespace qv::syslist {
namespace {

constexpr int kFirstIndexedCode = -5;
constexpr int kLastIndexedCode = -36;
constexpr int kSgpsEmptyCode = -17;  // the one code in that range without an index

using pugi::xml_node;

// Text of an element; empty when it has none.
std::string textOf(xml_node aElement) {
  const char* sText = elementText(aElement);
  return sText != nullptr ? std::string(sText) : std::string();
}

bool hasTextOfLength(xml_node aElement, size_t aiMin, size_t aiMax) {
  const char* sText = elementText(aElement);
  if (sText == nullptr) return false;
  const size_t iLength = std::char_traits<char>::length(sText);
  return iLength >= aiMin && iLength <= aiMax;
}

bool hasPlainName(xml_node aElement) {
  const char* sText = elementText(aElement);
  return sText != nullptr && isPlainName(sText);
}

bool hasTypeName(xml_node aElement) { return sgpTypeFromName(elementText(aElement)) != 0; }

// Comments and declarations carry no content; only elements and texts can be
// children "of that name".
bool isContentNamed(xml_node aNode, const char* asName) {
  const char* sValue = contentValue(aNode);
  return sValue != nullptr && std::strcmp(sValue, asName) == 0;
}

int checkImageSource(xml_node aSource) {
  bool bNameId = false;
  bool bType = false;
  for (xml_node child = firstChildElement(aSource); child; child = nextSiblingElement(child)) {
    const std::string sTag = child.name();
    if (sTag == "NameID") {
      if (bNameId) return -6;
      NameId nameId;
      if (!parseNameId(textOf(child), nameId)) return -8;
      bNameId = true;
    } else if (sTag == "SGPType") {
      if (bType) return -7;
      if (!hasTypeName(child)) return -9;
      bType = true;
    }
  }
  if (!bNameId) return -10;
  if (!bType) return -11;
  return 0;
}

int checkImageSourceGroup(xml_node aGroup) {
  int iNames = 0;
  bool bNameList = false;
  size_t iListedNames = 0;
  for (xml_node child = firstChildElement(aGroup); child; child = nextSiblingElement(child)) {
    const std::string sTag = child.name();
    if (sTag == "Name") {
      if (++iNames > 1 || !hasTextOfLength(child, 1, kMaxNameLength)) return -13;
    } else if (sTag == "ImageSourceNames") {
      if (!hasTextOfLength(child, 1, kMaxNameListLength)) return -14;
      for (const std::string& sPart : splitNameList(textOf(child))) {
        if (sPart.size() > kMaxNameLength || sPart.find('=') != std::string::npos) return -15;
        ++iListedNames;
      }
      bNameList = true;
    }
  }
  if (iNames != 1) return -13;
  // A list of separators only names nothing; the group would be empty.
  if (!bNameList || iListedNames == 0) return -16;
  return 0;
}

int checkImageSources(xml_node aImageSources, int& aiIndex) {
  int iSourceIndex = 0;
  int iGroupIndex = 0;
  for (xml_node node = aImageSources.first_child(); node; node = node.next_sibling()) {
    const bool bElement = node.type() == pugi::node_element;
    if (isContentNamed(node, "ImageSource")) {
      aiIndex = ++iSourceIndex;
      if (!bElement) return -5;
      const int iCode = checkImageSource(node);
      if (iCode != 0) return iCode;
    } else if (isContentNamed(node, "oImageSourceGroup")) {
      aiIndex = ++iGroupIndex;
      if (!bElement) return -12;
      const int iCode = checkImageSourceGroup(node);
      if (iCode != 0) return iCode;
    }
  }
  return 0;
}

int checkSGP(xml_node aSGP) {
  bool bName = false;
  bool bType = false;
  for (xml_node child = firstChildElement(aSGP); child; child = nextSiblingElement(child)) {
    const std::string sTag = child.name();
    if (sTag == "oImageSourceGroupName") {
      if (!hasPlainName(child)) return -19;
    } else if (sTag == "oImageSourceName") {
      if (!hasPlainName(child)) return -20;
    } else if (sTag == "Name") {
      if (bName) return -22;
      if (!hasPlainName(child)) return -21;
      bName = true;
    } else if (sTag == "Type") {
      if (bType) return -24;
      if (!hasTypeName(child)) return -23;
      bType = true;
    }
  }
  if (!bName) return -25;
  if (!bType) return -26;
  return 0;
}

struct ConverterCodes {
  const char* tag;
  int notElement, badSgpName, secondName, badName, noName;
};
constexpr ConverterCodes kGS2CLCodes{"GS2CL", -27, -28, -31, -29, -30};
constexpr ConverterCodes kRaw2JpegCodes{"Raw2Jpeg", -32, -33, -36, -34, -35};

int checkConverter(xml_node aConverter, const ConverterCodes& aCodes) {
  bool bName = false;
  for (xml_node child = firstChildElement(aConverter); child; child = nextSiblingElement(child)) {
    const std::string sTag = child.name();
    if (sTag == "oSGPName") {
      if (!hasPlainName(child)) return aCodes.badSgpName;
    } else if (sTag == "Name") {
      if (bName) return aCodes.secondName;
      if (!hasPlainName(child)) return aCodes.badName;
      bName = true;
    }
  }
  return bName ? 0 : aCodes.noName;
}

// Iterates the children named aTag of a container; aiIndex follows them.
template <typename Check>
int checkEach(xml_node aContainer, const char* asTag, int aiNotElement, int& aiIndex,
              Check aCheck) {
  aiIndex = 0;
  for (xml_node node = aContainer.first_child(); node; node = node.next_sibling()) {
    if (!isContentNamed(node, asTag)) continue;
    ++aiIndex;
    if (node.type() != pugi::node_element) return aiNotElement;
    const int iCode = aCheck(node);
    if (iCode != 0) return iCode;
  }
  return 0;
}

int checkDocument(const pugi::xml_document& aDocument, int& aiIndex) {
  aiIndex = 0;
  const xml_node root = firstChildElement(aDocument, "QVv3");
  if (!root) return -1;
  const xml_node name = firstChildElement(root, "Name");
  if (!name || !hasTextOfLength(name, 1, kMaxNameLength)) return -2;
  const xml_node context = firstChildElement(root, "TineContext");
  if (!context || !hasTextOfLength(context, 1, kMaxTineContextLength)) return -37;
  const xml_node components = firstChildElement(root, "ComponentList");
  if (!components) return -3;
  const xml_node imageSources = firstChildElement(components, "ImageSources");
  if (!imageSources) return -4;

  int iCode = checkImageSources(imageSources, aiIndex);
  if (iCode != 0) return iCode;

  aiIndex = 0;
  const xml_node sgps = firstChildElement(components, "SGPs");
  if (!sgps || !firstChildElement(sgps, "SGP")) return kSgpsEmptyCode;
  iCode = checkEach(sgps, "SGP", -18, aiIndex, checkSGP);
  if (iCode != 0) return iCode;

  if (const xml_node gs2cls = firstChildElement(components, "oGS2CLs")) {
    iCode = checkEach(gs2cls, kGS2CLCodes.tag, kGS2CLCodes.notElement, aiIndex,
                      [](xml_node a) { return checkConverter(a, kGS2CLCodes); });
    if (iCode != 0) return iCode;
  }
  if (const xml_node raw2Jpegs = firstChildElement(components, "oRaw2Jpegs")) {
    iCode = checkEach(raw2Jpegs, kRaw2JpegCodes.tag, kRaw2JpegCodes.notElement, aiIndex,
                      [](xml_node a) { return checkConverter(a, kRaw2JpegCodes); });
    if (iCode != 0) return iCode;
  }
  return 0;
}

void logValidationFailure(int aiCode, int aiIndex, CLogging* apLog) {
  if (aiCode > 0 || aiCode < -37) {
    apLog->Log("%s (error code = %d)", validationMessage(0), aiCode);
  } else if (aiCode <= kFirstIndexedCode && aiCode >= kLastIndexedCode &&
             aiCode != kSgpsEmptyCode) {
    // The message is the format: it carries the element's index as %03d.
    char sMessage[512];
    std::snprintf(sMessage, sizeof sMessage, validationMessage(aiCode), aiIndex);
    apLog->Log("%s", sMessage);
  } else {
    apLog->Log("%s", validationMessage(aiCode));
  }
}

}  // namespace

int validateDocument(const pugi::xml_document& aDocument, bool abVerbose, CLogging* apLog) {
  int iIndex = 0;
  const int iCode = checkDocument(aDocument, iIndex);
  if (iCode != 0 && abVerbose && apLog != nullptr) logValidationFailure(iCode, iIndex, apLog);
  return iCode;
}

const char* validationMessage(int aiCode) {
  switch (aiCode) {
    case -1:
      return "Main Tag 'QVv3' missing.";
    case -2:
      return "Tag QVv3>/<Name> missing or malformed valid:String[len=1..64].";
    case -3:
      return "Tag <QVv3>/<Components> not found.";
    case -4:
      return "Tag <QVv3>/<Components>/<SGPs> not found.";
    case -5:
      return "<ImageSources>/<ImageSource> #%03d: Illegal ImageSource node.";
    case -6:
      return "<ImageSources>/<ImageSource> #%03d /NameID was found multiple times.";
    case -7:
      return "<ImageSources>/<ImageSource> #%03d /SGPType was found multiple times.";
    case -8:
      return "<ImageSources>/<ImageSource> #%03d /NameID is malformed or invalid "
             "(valid:String[len=3..73], e.g. \"10203040=FirstScreen\", "
             "INT[0,99999999]=String[1..64]).";
    case -9:
      return "<ImageSources>/<ImageSource> #%03d /SGPType is malformed or invalid "
             "(valid: special strings[len<=32]), e.g. PCVision, ProsilicaGigE, ...";
    case -10:
      return "<ImageSources>/<ImageSource> #%03d /NameID was not found.";
    case -11:
      return "<ImageSources>/<ImageSource> #%03d /SGPType was not found.";
    case -12:
      return "<ImageSources>/<oImageSourceGroup> #%03d: Illegal oImageSourceGroup node.";
    case -13:
      return "<ImageSources>/<oImageSourceGroup> #%03d /<Name> is missing or invalid "
             "(valid:String[len=1..64]).";
    case -14:
      return "<ImageSources>/<oImageSourceGroup> #%03d /<ImageSourceNames> is missing or "
             "invalid (valid:String[len=1..200]).";
    case -15:
      return "<ImageSources>/<oImageSourceGroup> #%03d /<ImageSourceNames>/<ImageSourceName> "
             "One of the single names is invalid (valid:String[1..64], no ':', no '=').";
    case -16:
      return "<ImageSources>/<oImageSourceGroup> #%03d /<ImageSourceNames>/<ImageSourceName> "
             "must contain at least one image source name.";
    case -17:
      return "<QVv3>/<SGPs>/<SGP> not found a single time. This is invalid. One or more tags "
             "like this must exist.";
    case -18:
      return "<SGPs>/<SGP> #%03d Illegal SGP node.";
    case -19:
      return "<SGPs>/<SGP> #%03d one of the oImageSourceGroupName subtags is malformed "
             "(valid:String[1..64], no ':', no '=').";
    case -20:
      return "<SGPs>/<SGP> #%03d one of the oImageSourceName subtags is malformed "
             "(valid:String[1..64], no ':', no '=').";
    case -21:
      return "<SGPs>/<SGP> #%03d Name node malformed (valid:String[1..64], no ':', no '=').";
    case -22:
      return "<SGPs>/<SGP> #%03d Name node found multiple times.";
    case -23:
      return "<SGPs>/<SGP> #%03d Type node malformed/invalid (valid: special strings[len<=32]), "
             "e.g. PCVision, ProsilicaGigE, ...).";
    case -24:
      return "<SGPs>/<SGP> #%03d Type node found multiple times.";
    case -25:
      return "<SGPs>/<SGP> #%03d Name node not found.";
    case -26:
      return "<SGPs>/<SGP> #%03d Type node not found.";
    case -27:
      return "<oGS2CLs>/<GS2CL> #%03d Illegal GS2CLnode";
    case -28:
      return "<oGS2CLs>/<GS2CL> #%03d one of the oSGPName subtags is malformed. ";
    case -29:
      return "<oGS2CLs>/<GS2CL> #%03d Name node malformed (valid:String[1..64], no ':', no '=').";
    case -30:
      return "<oGS2CLs>/<GS2CL> #%03d Name node not found.";
    case -31:
      return "<oGS2CLs>/<GS2CL> #%03d Name node found multiple times.";
    case -32:
      return "<oRaw2Jpegs>/<Raw2Jpeg> #%03d Illegal Raw2Jpeg node";
    case -33:
      return "<oRaw2Jpegs>/<Raw2Jpeg> #%03d one of the oSGPName subtags malformed "
             "(valid:String[1..64], no ':', no '=').";
    case -34:
      return "<oRaw2Jpegs>/<Raw2Jpeg> #%03d Name node malformed (valid:String[1..64], no ':', "
             "no '=').";
    case -35:
      return "<oRaw2Jpegs>/<Raw2Jpeg> #%03d Name node not found.";
    case -36:
      return "<oRaw2Jpegs>/<Raw2Jpeg> #%03d Name node found multiple times.";
    case -37:
      return "Mandatory tag <QVv3>/<TineContext> missing or malformed (valid:String[len=1..32]).";
    default:
      return "Unknown Error.";
  }
}

}  // namespace qv::syslist
