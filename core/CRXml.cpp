#include "core/CRXml.h"

namespace {

[[noreturn]] void RaiseInvalidToken(const char* token, uint8_t state) {
  const char* stateName = state == xwsStart ? "Start" : "Content";
  throw XmlException(std::string("Token ") + token + " in state " + stateName +
                     " would result in an invalid XML document.");
}

}  // namespace

void XmlTextWriter::WriteStartElement(std::string_view localName) {
  FText += '<';
  FText += localName;
  FInsertPos = FText.size();
  FText += '>';
  FOpenElements.emplace_back(localName);
  FState = xwsElement;
}

void XmlTextWriter::WriteString(std::string_view text) {
  FText += text;
  FState = xwsContent;
}

void XmlTextWriter::WriteEndElement() {
  if (FOpenElements.empty()) RaiseInvalidToken("EndElement", FState);
  FText += "</";
  FText += FOpenElements.back();
  FText += '>';
  FOpenElements.pop_back();
  FState = xwsContent;
}

void XmlTextWriter::WriteAttributeString(std::string_view prefix, std::string_view localName,
                                         std::string_view value, std::string_view ns) {
  if (FState != xwsAttribute && FState != xwsElement) RaiseInvalidToken("WriteAttributeString", FState);
  std::string attr(1, ' ');
  if (!prefix.empty()) {
    attr += prefix;
    attr += ':';
  }
  attr += localName;
  attr += '=';
  attr += FQuoteChar;
  attr += value;
  attr += FQuoteChar;
  if (!ns.empty()) {
    // An empty prefix declares the default namespace: "xmlns:=" is not XML.
    attr += prefix.empty() ? " xmlns" : " xmlns:";
    attr += prefix;
    attr += '=';
    attr += FQuoteChar;
    attr += ns;
    attr += FQuoteChar;
  }
  FText.insert(FInsertPos, attr);
  FInsertPos += attr.size();
  FState = xwsAttribute;
}

const TLexemList& XmlSymbolList() {
  static const TLexemList list{{":", 16}, {"=", 19}};
  return list;
}

const TLexemList& XmlKeywordList() {
  static const TLexemList list{};
  return list;
}
