#include "mysql/MyParser.h"

#include <algorithm>

const TLexemList& MySymbolList() {
  static const TLexemList list{{"*", lxMyStar},  {"=", lxMyEqual}, {":", lxMyColon},    {",", lxMyComma},
                               {".", lxMyPoint}, {"/", lxMySlash}, {";", lxMySemicolon}};
  return list;
}

const TLexemList& MyKeywordList() {
  static const TLexemList list{{"AND", lxAND},
                               {"AS", lxAS},
                               {"BY", lxBY},
                               {"CHARSET", lxCHARSET},
                               {"COLUMNS", lxCOLUMNS},
                               {"CREATE", lxCREATE},
                               {"CROSS", lxCROSS},
                               {"DELETE", lxDELETE},
                               {"DELIMITER", lxDELIMITER},
                               {"DESC", lxDESC},
                               {"DESCRIBE", lxDESCRIBE},
                               {"EXPLAIN", lxEXPLAIN},
                               {"FOR", lxFOR},
                               {"FORCE", lxFORCE},
                               {"FROM", lxFROM},
                               {"FUNCTION", lxFUNCTION},
                               {"GROUP", lxGROUP},
                               {"HAVING", lxHAVING},
                               {"IGNORE", lxIGNORE},
                               {"INNER", lxINNER},
                               {"INSERT", lxINSERT},
                               {"INTO", lxINTO},
                               {"IS", lxIS},
                               {"JOIN", lxJOIN},
                               {"LEFT", lxLEFT},
                               {"LIMIT", lxLIMIT},
                               {"LOCK", lxLOCK},
                               {"NATURAL", lxNATURAL},
                               {"OR", lxOR},
                               {"ORDER", lxORDER},
                               {"PRIVILEGES", lxPRIVILEGES},
                               {"PROCEDURE", lxPROCEDURE},
                               {"REPLACE", lxREPLACE},
                               {"RIGHT", lxRIGHT},
                               {"SELECT", lxSELECT},
                               {"SHOW", lxSHOW},
                               {"SLAVE", lxSLAVE},
                               {"STATUS", lxSTATUS},
                               {"STRAIGHT_JOIN", lxSTRAIGHT_JOIN},
                               {"TRIGGER", lxTRIGGER},
                               {"UPDATE", lxUPDATE},
                               {"USE", lxUSE},
                               {"WHERE", lxWHERE},
                               {"HANDLER", lxHANDLER}};
  return list;
}

TMyParser::TMyParser(std::string text, TCharsetKind charset) : TParser(std::move(text), charset) {
  SetUp();
}

TMyParser::TMyParser(TStream& stream, TCharsetKind charset) : TParser(stream, charset) {
  SetUp();
}

void TMyParser::SetUp() {
  SetLists(MySymbolList(), MyKeywordList());
  SetCommentMarkers("/*", "*/");
  // The clauses of a SELECT in the order in which they may follow one another.
  SetClauseCodes({lxWHERE, lxGROUP, lxHAVING, lxORDER, lxLIMIT, lxPROCEDURE, lxFOR, lxLOCK});
}

bool TMyParser::IsAlpha(char c) const {
  return c == '$' || TParser::IsAlpha(c);
}

bool TMyParser::IsStringQuote(char c) const {
  return c == '\'' || c == '"';
}

bool TMyParser::IsIdentQuote(char c) const {
  return c == '`';
}

bool TMyParser::IsInlineComment(int64_t pos) {
  char c = CharAt(pos);
  if (c == '#') return true;
  if (c != '-' || CharAt(pos + 1) != '-') return false;
  // As the server: a blank or a control character after the dashes, or nothing at all.
  if (pos + 2 > TextLength()) return true;
  auto next = static_cast<unsigned char>(CharAt(pos + 2));
  return next == ' ' || next < 0x20 || next == 0x7F;
}

// Bytes the character at Pos takes inside a quoted run when it does not end the run: a string's
// backslash takes the byte after it as it is (so does the server); in a quoted identifier a
// backslash is a plain character and a doubled quote stands for one. 0 at the closing quote.
size_t TMyParser::QuotedCharLen(char quote) {
  size_t n = CharLen(FPos);
  if (n != 1) return n;
  char c = CharAt(FPos);
  if (c == quote) {
    if (IsIdentQuote(quote) && FPos < TextLength() && CharAt(FPos + 1) == quote) return 2;
    return 0;
  }
  return c == '\\' && !IsIdentQuote(quote) && !NoBackslashEscapes ? 2 : 1;
}

void TMyParser::FastSkipToQuote(char quote) {
  const int64_t length = TextLength();
  while (FPos <= length) {
    SkipPlainQuotedBytes(quote);
    if (FPos > length) break;
    size_t n = QuotedCharLen(quote);
    if (n == 0) return;
    FPos += static_cast<int64_t>(n);
  }
  FPos = length + 1;
}

void TMyParser::SkipQuotedString(char quote) {
  if (!CountsLinesInStrings()) {
    FastSkipToQuote(quote);
    return;
  }
  const int64_t length = TextLength();
  while (FPos <= length) {
    SkipPlainQuotedBytes(quote);
    if (FPos > length) break;
    if (SkipLineBreak()) continue;
    size_t n = QuotedCharLen(quote);
    if (n == 0) return;
    if (n == 2 && CharAt(FPos) == '\\') {
      ++FPos;
      if (SkipLineBreak()) continue;  // an escaped line break still ends a line
      n = 1;
    }
    FPos += static_cast<int64_t>(n);
  }
  FPos = std::min(FPos, length + 1);
}
