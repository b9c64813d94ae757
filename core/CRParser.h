// TParser: the lexer under every text the library reads (filter expressions, SQL statements,
// scripts). It reads an in-memory string or a stream, returns one lexeme (a code and its text)
// per call and keeps the positions callers need to cut and splice the text.
//
// Text is ANSI bytes in one character set (the ANSI code page unless the creator names another).
// A valid multi-byte character is one character everywhere: it is a letter, never a symbol,
// blank or quote, even when its trail byte is "\", "|", "}" or "`". A lead byte without a valid
// trail is a byte of its own, so a quote after it still opens a string.
//
// Extending (the filter lexer, the MySQL lexer and the script splitter derive from this class):
// - Lists: a subclass constructor calls SetLists (symbol and keyword tables, shared TLexemList
//   objects that outlive every parser), SetCommentMarkers and SetClauseCodes.
// - Character classes: IsBlank, IsSymbol, IsAlpha, IsNumber, IsStringQuote, IsIdentQuote take
//   single bytes; multi-byte characters never reach them. A byte that is both a letter and a
//   symbol character starts an identifier.
// - Comments: IsInlineComment (pos) says whether a comment to the end of the line starts there.
// - Quotes: SkipQuotedString (quote) runs with Pos just after the opening quote and must leave
//   Pos on the closing quote, or at TextLength() + 1 when the text ends first. The building
//   blocks are SkipToQuote (counts lines), FastSkipToQuote (no line counting), CharAt, CharLen
//   (bytes of the character at a position), SkipLineBreak and CountsLinesInStrings.
// - Statement kinds: IsNotStringCode, IsSpecialCode, IsSemicolon.
// - Creating a parser of a class chosen at run time: TParserClass / ParserClassOf<T>(); such a
//   class needs the constructors (std::string, TCharsetKind) and (TStream&, TCharsetKind).
//
// Positions are 1-based inside the parser and 0-based in the Get...Pos accessors. A parser is
// used by one thread at a time.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/runtime/Charset.h"

class TStream;

// Lexeme codes. Codes >= 1 are entries of the parser's symbol and keyword lists.
constexpr int lcEnd = 0;
constexpr int lcSymbol = -102;  // a symbol character that is not in the symbol list
constexpr int lcIdent = -103;   // identifier or quoted identifier that is not a keyword
constexpr int lcNumber = -105;
constexpr int lcString = -106;
constexpr int lcBlank = -107;    // only when OmitBlank is false
constexpr int lcComment = -108;  // only when OmitComment is false

// A symbol or keyword table: texts with their codes, sorted by byte value. Lookups fold a-z to
// upper case, so entries are written in upper case. Built once, shared by every parser.
class TLexemList {
 public:
  struct TEntry {
    std::string Text;
    int Code;
  };

  // Fails an assertion for a code < 1, an empty text or a lower-case letter in a text.
  TLexemList(std::initializer_list<TEntry> entries);

  // The leftmost entry whose text equals `upperText` (already folded by the caller), or null.
  const TEntry* Find(std::string_view upperText) const noexcept;
  size_t Count() const noexcept { return FEntries.size(); }
  const TEntry& operator[](size_t index) const { return FEntries.at(index); }
  size_t MaxLength() const noexcept { return FMaxLength; }

 private:
  std::vector<TEntry> FEntries;
  size_t FMaxLength = 0;
  // Per byte, the index of the leftmost one-byte entry of that text, -1 for none: symbols are
  // looked up at almost every lexeme of a script, one character at a time.
  std::array<int32_t, 256> FSingleByte{};
};

// "!" 1, '"' 2, "#" 3 ... "`" 28: every symbol character as a one-character entry.
const TLexemList& DefaultSymbolList();
// "AND" 29, "NOT" 30, "OR" 31.
const TLexemList& DefaultKeywordList();

class TParser {
 public:
  // Lexes `text`.
  explicit TParser(std::string text, TCharsetKind charset = AnsiCharsetKind());
  // Lexes the stream from its current position to its end, reading blocks on demand. The stream
  // must outlive the parser and is not moved by anyone else while the parser reads it.
  explicit TParser(TStream& stream, TCharsetKind charset = AnsiCharsetKind());
  virtual ~TParser();
  TParser(const TParser&) = delete;
  TParser& operator=(const TParser&) = delete;

  bool OmitBlank = true;
  bool OmitComment = false;
  bool UppercaseKeywords = true;  // a keyword's text is returned in upper case
  bool KeepStringQuotes = false;  // a string's text keeps its quotes
  bool TrackLinesInStrings = false;
  bool OmitKeywords = false;        // identifiers are not looked up in the keyword list
  bool QuotePrefixStrings = false;  // q'[...]' strings with a chosen delimiter
  // A lexer whose strings take backslash escapes reads a backslash as a plain character instead
  // (a MySQL session whose sql_mode has NO_BACKSLASH_ESCAPES).
  bool NoBackslashEscapes = false;
  // Control characters (bytes below 33) that run to the end of the text end it as blanks would:
  // a stream reads as the same text held whole with them cut off.
  bool IgnoreTrailingControls = false;

  // Replaces the text (leaving stream mode) and starts again at its beginning.
  void SetText(std::string text);
  // Starts again at the beginning of the text (in stream mode the stream is read again).
  virtual void ToBegin();

  // Reads the next lexeme: returns its code and stores its text in `lexem` (the list entry's
  // text for list codes). Raises Exception "Parser: The unknown symbol ..." for a control
  // character (unless IgnoreTrailingControls takes it for the end) or DEL; a failing stream
  // raises its own error.
  virtual int GetNext(std::string& lexem);
  int GetNextCode();
  // The next GetNext reads the last lexeme again.
  void Back();
  // GetNext until `code` or lcEnd; returns the last code.
  int ToLexem(int code);
  // Reads lexemes until an identifier, keyword, number or symbol equals `text` (ignoring the
  // case of a-z); strings and quoted identifiers never match. False at the end of the text.
  bool ToLexemText(std::string_view text);

  // For splitting statements: takes, from Pos on, the lexemes that can neither end a statement
  // nor change how the text after them is read - blanks and line breaks, numbers, strings, and
  // the one-character symbols , ( ) . + - where they start no comment - appending their text to
  // `out`. Stops before any other lexeme, at the end of the text, or once `out` holds `limit`
  // bytes (0: no limit). Positions and lines then stand as after reading them with GetNext, blanks
  // kept; the last piece taken counts as the last lexeme read. Says whether it took anything but
  // blanks. Errors: a failing stream raises its own.
  enum class TPlainRun { None, Blanks, Lexemes };
  TPlainRun TakePlainLexemes(std::string& out, size_t limit);
  // Whether TakePlainLexemes may take the byte: a delimiter holding such a byte could be missed.
  bool TakesInPlainRun(char c);

  // Index of `code` in the clause-code list or -1 (an assertion fails when the list is empty).
  int ClauseIndex(int code) const;
  bool IsClauseLexem(int code) const { return ClauseIndex(code) >= 0; }

  virtual bool IsNotStringCode(int code) const { return code != lcString; }
  virtual bool IsSpecialCode(int /*code*/) const { return false; }
  virtual bool IsSemicolon(int /*code*/) const { return false; }

  // 0-based: the next character to read, and where the last / second-to-last GetNext started.
  int64_t GetCurrPos() const noexcept { return FPos - 1; }
  int64_t GetPrevPos() const noexcept { return FPrevPos - 1; }
  int64_t GetPrevPrevPos() const noexcept { return FPrevPrevPos - 1; }
  int64_t GetCurrLine() const noexcept { return FCurrLine; }
  int64_t GetCurrCol() const noexcept { return FPos - FCurrBegLine; }
  int64_t GetPrevCol() const noexcept { return FPrevPos - FPrevBegLine; }

  // The byte at the 1-based position; '\0' outside the text. In stream mode a position before
  // the blocks still kept (the start of the last GetNext) fails an assertion.
  char GetChar(int64_t pos) { return CharAt(pos); }
  int64_t TextLength() const noexcept { return FTextLength; }
  TCharsetKind Charset() const noexcept { return FCharset; }
  // The rest of the text is read in this set (a script that changed the session's set goes on in
  // the new one).
  void SetCharset(TCharsetKind charset) noexcept {
    FCharset = charset;
    FMultiByte = charset != TCharsetKind::SingleByte;
  }
  bool IsStreamMode() const noexcept { return FStream != nullptr; }
  // Stream block size (65,536 by default); changing it starts again at the beginning.
  void SetBlockSize(size_t size);

  // Where the lexer stands between two lexemes: Rewind goes back there, so that a text read ahead
  // can be read again (in another character set). In stream mode the blocks read since are not
  // kept for it: the stream is read again from the mark, so a mark costs no memory.
  struct TMark {
    int64_t Pos, PrevPos, PrevPrevPos, CurrLine, CurrBegLine, PrevLine, PrevBegLine;
  };
  TMark Mark() const noexcept {
    return {FPos, FPrevPos, FPrevPrevPos, FCurrLine, FCurrBegLine, FPrevLine, FPrevBegLine};
  }
  // A mark of this text, at or before the current place. Errors: a failing stream raises its own.
  void Rewind(const TMark& mark);

  // Character classes of single bytes; see the header comment.
  virtual bool IsBlank(char c) const;
  virtual bool IsSymbol(char c) const;
  virtual bool IsAlpha(char c) const;
  virtual bool IsNumber(char c) const;
  virtual bool IsStringQuote(char c) const;
  virtual bool IsIdentQuote(char c) const;

 protected:
  // "//" at pos with at least one character after it.
  virtual bool IsInlineComment(int64_t pos);
  // Advance Pos by characters to `quote` or past the end, counting lines.
  virtual void SkipToQuote(char quote);
  // The same without counting lines.
  virtual void FastSkipToQuote(char quote);
  // Finds the closing quote of a string or quoted identifier (see the header comment).
  virtual void SkipQuotedString(char quote);

  void SetLists(const TLexemList& symbols, const TLexemList& keywords);
  // An empty start marker turns block comments off.
  void SetCommentMarkers(std::string startMarker, std::string endMarker);
  void SetClauseCodes(std::vector<int> codes) { FClauseCodes = std::move(codes); }

  char CharAt(int64_t pos) {
    if (FStream == nullptr)
      return pos >= 1 && pos <= FTextLength ? FText[static_cast<size_t>(pos - 1)] : '\0';
    if (pos >= FCacheStart && pos < FCacheEnd) return FCacheData[pos - FCacheStart];
    return StreamCharAt(pos);
  }
  // Bytes of the character at pos: 1, or 2 to 4 for a valid multi-byte character.
  size_t CharLen(int64_t pos) {
    if (!FMultiByte || static_cast<unsigned char>(CharAt(pos)) < 0x80) return 1;
    return MbCharLenAt(pos);
  }
  // At Pos: consumes CR LF, CR or LF, counting one line; false when no line break is there.
  bool SkipLineBreak();
  // Whether quote scans count lines: with TrackLinesInStrings or in stream mode.
  bool CountsLinesInStrings() const noexcept { return TrackLinesInStrings || FStream != nullptr; }
  // Inside a quoted run: moves Pos past the bytes that are characters of their own and neither
  // `quote`, a backslash nor a line break, which a character-by-character scan would step over one
  // by one. It may stop early at the end of a stream block; the caller's scan goes on from there.
  void SkipPlainQuotedBytes(char quote);

  int64_t FPos = 1;  // next character to read

 private:
  void Init();
  int Scan();
  bool ScanComment();
  int ScanToken();
  bool OnlyControlsFrom(int64_t pos);
  int ScanString(char quote);
  // From the opening quote at Pos past the string, as ScanString reads it; returns where its
  // closing quote is (past the text when the text ends first).
  int64_t SkipString(char quote);
  // A block comment or a comment to the end of the line starts at pos.
  bool StartsComment(int64_t pos);
  void SetPlainClasses();
  int ScanQuotedIdent(char quote);
  int ScanIdent();
  int ScanQuotePrefixString(int64_t start);
  int ScanSymbol();
  int ScanNumber();
  [[noreturn]] void RaiseUnknownSymbol(char c);
  bool MatchAt(int64_t pos, std::string_view marker);
  // The lexeme's bytes with a-z of single-byte characters folded to upper case.
  void FoldLexem(std::string& out);
  std::string CopyText(int64_t pos, int64_t length);
  // The same into `out`, whose buffer is kept when it is large enough.
  void CopyTextTo(int64_t pos, int64_t length, std::string& out);
  void ResetStream();
  size_t MbCharLenAt(int64_t pos);
  char StreamCharAt(int64_t pos);
  bool LoadBlock();
  void ReleaseBlocks();
  // Appends the text at pos to `out`.
  void AppendText(int64_t pos, int64_t length, std::string& out);

  // Source.
  std::string FText;
  int64_t FTextLength = 0;
  TCharsetKind FCharset;
  bool FMultiByte;
  // Stream mode: blocks of FBlockSize bytes (only the last may be shorter); the first kept block
  // starts at FFirstBlockPos, loaded data ends before FLoadedEnd.
  TStream* FStream = nullptr;
  int64_t FStreamOrigin = 0;
  size_t FBlockSize = 65536;
  std::deque<std::string> FBlocks;
  int64_t FFirstBlockPos = 1;
  int64_t FLoadedEnd = 1;
  const char* FCacheData = nullptr;  // the block last read, covering [FCacheStart, FCacheEnd)
  int64_t FCacheStart = 0;
  int64_t FCacheEnd = 0;

  // Positions and lines.
  int64_t FPrevPos = 1;
  int64_t FPrevPrevPos = 1;
  int64_t FCurrLine = 0;
  int64_t FCurrBegLine = 1;
  int64_t FPrevLine = 0;
  int64_t FPrevBegLine = 1;

  // The current lexeme.
  int64_t FLexemPos = 1;
  int64_t FLexemLength = 0;
  const TLexemList::TEntry* FLexemEntry = nullptr;  // set when the text is the entry's
  bool FLexemQuoted = false;                        // string or quoted identifier

  const TLexemList* FSymbols = nullptr;
  const TLexemList* FKeywords = nullptr;
  std::string FCommentStart;
  std::string FCommentEnd;
  std::vector<int> FClauseCodes;
  std::string FFold;  // scratch for list lookups
  std::string FSkip;  // scratch text for GetNextCode and ToLexem

  // What TakePlainLexemes does with each byte, found from the character classes at its first call.
  enum : uint8_t { pcStop, pcBlank, pcLineBreak, pcDigit, pcSymbol, pcQuote };
  std::array<uint8_t, 256> FPlainClass{};
  bool FPlainClassesSet = false;
};

// Creates parsers of a class chosen at run time (the SQL helpers and the script component take
// one). ParserClassOf<T>() makes the entry of class T.
struct TParserClass {
  std::unique_ptr<TParser> (*Create)(std::string text, TCharsetKind charset);
  std::unique_ptr<TParser> (*CreateFromStream)(TStream& stream, TCharsetKind charset);
};

template <class T>
TParserClass ParserClassOf() {
  return TParserClass{[](std::string text, TCharsetKind charset) -> std::unique_ptr<TParser> {
                        return std::make_unique<T>(std::move(text), charset);
                      },
                      [](TStream& stream, TCharsetKind charset) -> std::unique_ptr<TParser> {
                        return std::make_unique<T>(stream, charset);
                      }};
}
