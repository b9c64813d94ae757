// TMyParser: the lexer for MySQL statement text. The SQL components find parameters, macros and
// clauses with it, the script component splits scripts with it.
//
// It reads the text as the server does: a valid multi-byte character of the text's character
// set is one character (its trail byte may be "\" or a quote), a backslash makes the next byte
// part of a string (not of a backquoted name, where a doubled backquote stands for one), and "--"
// is a comment only when a blank, a control character or the end of the text follows it.
#pragma once

#include <string>

#include "core/CRParser.h"

// Symbol codes.
constexpr int lxMyStar = 1;       // "*"
constexpr int lxMyEqual = 2;      // "="
constexpr int lxMyColon = 3;      // ":"
constexpr int lxMyComma = 4;      // ","
constexpr int lxMyPoint = 5;      // "."
constexpr int lxMySlash = 6;      // "/"
constexpr int lxMySemicolon = 7;  // ";"

// Keyword codes.
constexpr int lxAND = 8;
constexpr int lxAS = 9;
constexpr int lxBY = 10;
constexpr int lxCHARSET = 11;
constexpr int lxCOLUMNS = 12;
constexpr int lxCREATE = 13;
constexpr int lxCROSS = 14;
constexpr int lxDELETE = 15;
constexpr int lxDELIMITER = 16;
constexpr int lxDESC = 17;
constexpr int lxDESCRIBE = 18;
constexpr int lxEXPLAIN = 19;
constexpr int lxFOR = 20;
constexpr int lxFORCE = 21;
constexpr int lxFROM = 22;
constexpr int lxFUNCTION = 23;
constexpr int lxGROUP = 24;
constexpr int lxHAVING = 25;
constexpr int lxIGNORE = 26;
constexpr int lxINNER = 27;
constexpr int lxINSERT = 28;
constexpr int lxINTO = 29;
constexpr int lxIS = 30;
constexpr int lxJOIN = 31;
constexpr int lxLEFT = 32;
constexpr int lxLIMIT = 33;
constexpr int lxLOCK = 34;
constexpr int lxNATURAL = 35;
constexpr int lxOR = 36;
constexpr int lxORDER = 37;
constexpr int lxPRIVILEGES = 38;
constexpr int lxPROCEDURE = 39;
constexpr int lxREPLACE = 40;
constexpr int lxRIGHT = 41;
constexpr int lxSELECT = 42;
constexpr int lxSHOW = 43;
constexpr int lxSLAVE = 44;
constexpr int lxSTATUS = 45;
constexpr int lxSTRAIGHT_JOIN = 46;
constexpr int lxTRIGGER = 47;
constexpr int lxUPDATE = 48;
constexpr int lxUSE = 49;
constexpr int lxWHERE = 50;
constexpr int lxHANDLER = 51;

// The symbol and keyword tables, built once and shared by every MySQL lexer.
const TLexemList& MySymbolList();
const TLexemList& MyKeywordList();

class TMyParser : public TParser {
 public:
  // The text is in `charset` (the ANSI code page unless the caller names the set it is in).
  explicit TMyParser(std::string text, TCharsetKind charset = AnsiCharsetKind());
  // Stream mode; the stream must outlive the parser.
  explicit TMyParser(TStream& stream, TCharsetKind charset = AnsiCharsetKind());

  // "$" is a letter too.
  bool IsAlpha(char c) const override;
  // The single and the double quote.
  bool IsStringQuote(char c) const override;
  // The backquote.
  bool IsIdentQuote(char c) const override;
  bool IsSemicolon(int code) const override { return code == lxMySemicolon; }

 protected:
  // "#", or "--" followed by a blank, a control character or the end of the text.
  bool IsInlineComment(int64_t pos) override;
  // To the closing quote: in a string the next quote that no backslash escapes, in a quoted
  // identifier the next backquote that is not doubled; multi-byte characters are skipped whole.
  void FastSkipToQuote(char quote) override;
  // FastSkipToQuote, or with line counting when lines in strings are tracked or in stream mode.
  void SkipQuotedString(char quote) override;

 private:
  void SetUp();
  size_t QuotedCharLen(char quote);
};
