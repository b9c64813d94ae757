// The library's small XML support: XmlException, the XML text writer datasets write their column
// descriptions with, and the lexer lists for XML text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/CRParser.h"
#include "platform/runtime/Exceptions.h"

class XmlException : public Exception {
 public:
  using Exception::Exception;
};

// Writer states. Attributes may be written only while a start tag is open (xwsAttribute,
// xwsElement).
enum : uint8_t {
  xwsAttribute = 0,  // an attribute was written into the open start tag
  xwsStart = 1,      // nothing written yet
  xwsElement = 3,    // a start tag was just written
  xwsContent = 4,    // element content has begun
};

// Writes XML text into a string. Names and values are written unchanged: callers escape them.
class XmlTextWriter {
 public:
  const std::string& Text() const noexcept { return FText; }
  uint8_t WriteState() const noexcept { return FState; }
  char QuoteChar() const noexcept { return FQuoteChar; }
  void SetQuoteChar(char quote) noexcept { FQuoteChar = quote; }

  // Writes "<" localName ">" and keeps the tag open for attributes.
  void WriteStartElement(std::string_view localName);
  // Writes text as element content; the open start tag closes for attributes.
  void WriteString(std::string_view text);
  // Writes the end tag of the innermost open element. Raises XmlException when none is open.
  void WriteEndElement();

  // Inserts ' prefix:localName="value"' (without "prefix:" when the prefix is empty) at the end of
  // the open start tag, followed by ' xmlns:prefix="namespace"' when a namespace is given
  // (' xmlns="namespace"' without a prefix). Raises XmlException "Token WriteAttributeString in
  // state Content would result in an invalid XML document." once content has begun (and the
  // same naming state Start before any element).
  void WriteAttributeString(std::string_view prefix, std::string_view localName, std::string_view value,
                            std::string_view ns);
  void WriteAttribute(std::string_view localName, std::string_view value) {
    WriteAttributeString({}, localName, value, {});
  }

 private:
  std::string FText;
  char FQuoteChar = '"';
  uint8_t FState = xwsStart;
  size_t FInsertPos = 0;  // where the open start tag ends: attributes go here
  std::vector<std::string> FOpenElements;
};

// Lexer lists for XML text: symbols ":" 16 and "=" 19; no keywords.
const TLexemList& XmlSymbolList();
const TLexemList& XmlKeywordList();
