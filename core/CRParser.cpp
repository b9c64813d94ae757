#include "core/CRParser.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "core/CLRClasses.h"
#include "platform/runtime/Classes.h"
#include "platform/runtime/Exceptions.h"

namespace {

inline bool IsLowerAscii(char c) {
  return c >= 'a' && c <= 'z';
}
inline char UpperAscii(char c) {
  return IsLowerAscii(c) ? static_cast<char>(c - 32) : c;
}

// a-z of single-byte characters folded to upper case; multi-byte characters are copied whole
// (their trail bytes may be letters).
std::string FoldUpper(TCharsetKind cs, std::string_view text) {
  std::string out(text);
  const char* end = text.data() + text.size();
  for (size_t i = 0; i < text.size();) {
    size_t n = MbCharLen(cs, text.data() + i, end);
    if (n == 1) out[i] = UpperAscii(out[i]);
    i += n;
  }
  return out;
}

}  // namespace

// ---- TLexemList ---------------------------------------------------------------------------------

TLexemList::TLexemList(std::initializer_list<TEntry> entries) : FEntries(entries) {
  for (const TEntry& e : FEntries) {
    DA_ASSERT_MSG(e.Code >= 1, "lexeme list entry with a code below 1");
    DA_ASSERT_MSG(!e.Text.empty(), "empty lexeme list entry");
    DA_ASSERT_MSG(std::none_of(e.Text.begin(), e.Text.end(), IsLowerAscii),
                  "lexeme list entry not in upper case: " + e.Text);
    FMaxLength = std::max(FMaxLength, e.Text.size());
  }
  // std::string orders by unsigned byte value; stable so that equal texts keep their order.
  std::stable_sort(FEntries.begin(), FEntries.end(),
                   [](const TEntry& a, const TEntry& b) { return a.Text < b.Text; });
  FSingleByte.fill(-1);
  for (size_t i = FEntries.size(); i-- > 0;)  // backwards: the leftmost entry is set last
    if (FEntries[i].Text.size() == 1)
      FSingleByte[static_cast<unsigned char>(FEntries[i].Text[0])] = static_cast<int32_t>(i);
}

const TLexemList::TEntry* TLexemList::Find(std::string_view upperText) const noexcept {
  if (upperText.size() == 1) {
    const int32_t index = FSingleByte[static_cast<unsigned char>(upperText[0])];
    return index >= 0 ? &FEntries[static_cast<size_t>(index)] : nullptr;
  }
  auto it =
      std::lower_bound(FEntries.begin(), FEntries.end(), upperText,
                       [](const TEntry& e, std::string_view t) { return std::string_view(e.Text) < t; });
  if (it == FEntries.end() || it->Text != upperText) return nullptr;
  return &*it;
}

const TLexemList& DefaultSymbolList() {
  static const TLexemList list{{"!", 1},  {"\"", 2}, {"#", 3},   {"$", 4},  {"%", 5},  {"&", 6},  {"'", 7},
                               {"(", 8},  {")", 9},  {"*", 10},  {"+", 11}, {",", 12}, {"-", 13}, {".", 14},
                               {"/", 15}, {":", 16}, {";", 17},  {"<", 18}, {"=", 19}, {">", 20}, {"?", 21},
                               {"@", 22}, {"[", 23}, {"\\", 24}, {"]", 25}, {"^", 26}, {"_", 27}, {"`", 28}};
  return list;
}

const TLexemList& DefaultKeywordList() {
  static const TLexemList list{{"AND", 29}, {"NOT", 30}, {"OR", 31}};
  return list;
}

// ---- Construction and state -----------------------------------------------------------------------

TParser::TParser(std::string text, TCharsetKind charset)
    : FText(std::move(text)), FCharset(charset), FMultiByte(charset != TCharsetKind::SingleByte) {
  FTextLength = static_cast<int64_t>(FText.size());
  Init();
}

TParser::TParser(TStream& stream, TCharsetKind charset)
    : FCharset(charset), FMultiByte(charset != TCharsetKind::SingleByte), FStream(&stream) {
  FStreamOrigin = stream.Position();
  Init();
}

TParser::~TParser() = default;

void TParser::Init() {
  FSymbols = &DefaultSymbolList();
  FKeywords = &DefaultKeywordList();
  FCommentStart = "/*";
  FCommentEnd = "*/";
  OmitBlank = true;
  UppercaseKeywords = true;
  KeepStringQuotes = false;
  TParser::ToBegin();
}

void TParser::SetLists(const TLexemList& symbols, const TLexemList& keywords) {
  FSymbols = &symbols;
  FKeywords = &keywords;
}

void TParser::SetCommentMarkers(std::string startMarker, std::string endMarker) {
  DA_ASSERT_MSG(startMarker.empty() || !endMarker.empty(), "block comment without an end marker");
  FCommentStart = std::move(startMarker);
  FCommentEnd = std::move(endMarker);
}

void TParser::SetText(std::string text) {
  FStream = nullptr;
  FBlocks.clear();
  FCacheData = nullptr;
  FCacheStart = FCacheEnd = 0;
  FText = std::move(text);
  FTextLength = static_cast<int64_t>(FText.size());
  ToBegin();
}

void TParser::ToBegin() {
  FPos = FPrevPos = FPrevPrevPos = 1;
  FCurrLine = FPrevLine = 0;
  FCurrBegLine = FPrevBegLine = 1;
  FLexemPos = 1;
  FLexemLength = 0;
  FLexemEntry = nullptr;
  FLexemQuoted = false;
  if (FStream != nullptr) ResetStream();
}

void TParser::SetBlockSize(size_t size) {
  DA_ASSERT(size >= 1);
  FBlockSize = size;
  ToBegin();
}

void TParser::Rewind(const TMark& mark) {
  DA_ASSERT_MSG(mark.Pos >= 1 && mark.Pos <= FPos, "a mark after the current place");
  FPos = mark.Pos;
  FPrevPos = mark.PrevPos;
  FPrevPrevPos = mark.PrevPrevPos;
  FCurrLine = mark.CurrLine;
  FCurrBegLine = mark.CurrBegLine;
  FPrevLine = mark.PrevLine;
  FPrevBegLine = mark.PrevBegLine;
  FLexemPos = FPos;
  FLexemLength = 0;
  FLexemEntry = nullptr;
  FLexemQuoted = false;
  if (FStream == nullptr || FPos >= FFirstBlockPos) return;
  // The block holding the mark is gone: the stream is read again from the mark on.
  FBlocks.clear();
  FCacheData = nullptr;
  FCacheStart = FCacheEnd = 0;
  FFirstBlockPos = FLoadedEnd = FPos;
  FStream->Seek(FStreamOrigin + FPos - 1, soFromBeginning);
}

int TParser::ClauseIndex(int code) const {
  DA_ASSERT_MSG(!FClauseCodes.empty(), "the parser has no clause codes");
  auto it = std::find(FClauseCodes.begin(), FClauseCodes.end(), code);
  return it == FClauseCodes.end() ? -1 : static_cast<int>(it - FClauseCodes.begin());
}

// ---- Character classes ----------------------------------------------------------------------------

bool TParser::IsBlank(char c) const {
  return c == '\t' || c == '\n' || c == '\r' || c == ' ';
}

bool TParser::IsSymbol(char c) const {
  auto u = static_cast<unsigned char>(c);
  return (u >= 33 && u <= 47) || (u >= 58 && u <= 64) || (u >= 91 && u <= 94) || u == 96 ||
         (u >= 123 && u <= 126);
}

bool TParser::IsAlpha(char c) const {
  auto u = static_cast<unsigned char>(c);
  return (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || u >= 128;
}

bool TParser::IsNumber(char c) const {
  return c >= '0' && c <= '9';
}

bool TParser::IsStringQuote(char c) const {
  return c == '"' || c == '\'';
}

bool TParser::IsIdentQuote(char /*c*/) const {
  return false;
}

bool TParser::IsInlineComment(int64_t pos) {
  return pos + 2 <= FTextLength && CharAt(pos) == '/' && CharAt(pos + 1) == '/';
}

// ---- Scanning helpers -----------------------------------------------------------------------------

bool TParser::SkipLineBreak() {
  char c = CharAt(FPos);
  if (c == '\r') {
    ++FPos;
    if (FPos <= FTextLength && CharAt(FPos) == '\n') ++FPos;
  } else if (c == '\n') {
    ++FPos;
  } else {
    return false;
  }
  ++FCurrLine;
  FCurrBegLine = FPos;
  return true;
}

void TParser::SkipToQuote(char quote) {
  while (FPos <= FTextLength) {
    if (CharAt(FPos) == quote && CharLen(FPos) == 1) return;
    if (!SkipLineBreak()) FPos += static_cast<int64_t>(CharLen(FPos));
  }
}

void TParser::FastSkipToQuote(char quote) {
  if (FStream != nullptr) {
    while (FPos <= FTextLength && !(CharAt(FPos) == quote && CharLen(FPos) == 1))
      FPos += static_cast<int64_t>(CharLen(FPos));
    return;
  }
  const char* begin = FText.data();
  const char* end = begin + FTextLength;
  const char* p = begin + std::min(FPos - 1, FTextLength);
  if (!FMultiByte) {
    const void* hit = std::memchr(p, quote, static_cast<size_t>(end - p));
    FPos = hit != nullptr ? static_cast<const char*>(hit) - begin + 1 : FTextLength + 1;
    return;
  }
  // A quote byte may be the trail of a multi-byte character: step by characters.
  while (p < end) {
    const size_t n = static_cast<unsigned char>(*p) < 0x80 ? 1 : MbCharLen(FCharset, p, end);
    if (n == 1 && *p == quote) break;
    p += n;
  }
  FPos = p - begin + 1;
}

void TParser::SkipQuotedString(char quote) {
  if (CountsLinesInStrings())
    SkipToQuote(quote);
  else
    FastSkipToQuote(quote);
}

bool TParser::MatchAt(int64_t pos, std::string_view marker) {
  if (marker.empty() || pos + static_cast<int64_t>(marker.size()) - 1 > FTextLength) return false;
  for (size_t i = 0; i < marker.size(); ++i)
    if (CharAt(pos + static_cast<int64_t>(i)) != marker[i]) return false;
  return true;
}

void TParser::FoldLexem(std::string& out) {
  out.clear();
  int64_t end = FLexemPos + FLexemLength;
  for (int64_t p = FLexemPos; p < end;) {
    size_t n = CharLen(p);
    if (n == 1) {
      out += UpperAscii(CharAt(p));
    } else {
      for (size_t i = 0; i < n; ++i) out += CharAt(p + static_cast<int64_t>(i));
    }
    p += static_cast<int64_t>(n);
  }
}

[[noreturn]] void TParser::RaiseUnknownSymbol(char c) {
  static const char digits[] = "0123456789ABCDEF";
  auto u = static_cast<unsigned char>(c);
  std::string hex = {'0', '0', digits[u >> 4], digits[u & 15]};
  throw Exception("Parser: The unknown symbol '" + std::string(1, c) + "'  $" + hex);
}

// ---- The lexer core -------------------------------------------------------------------------------

int TParser::GetNext(std::string& lexem) {
  int code = Scan();
  if (FLexemEntry != nullptr)
    lexem = FLexemEntry->Text;
  else
    CopyTextTo(FLexemPos, FLexemLength, lexem);
  return code;
}

int TParser::GetNextCode() {
  return GetNext(FSkip);
}

void TParser::Back() {
  FPos = FPrevPos;
  // The lexeme's lines are counted again when it is read again.
  FCurrLine = FPrevLine;
  FCurrBegLine = FPrevBegLine;
}

int TParser::ToLexem(int code) {
  int got;
  do {
    got = GetNext(FSkip);
  } while (got != code && got != lcEnd);
  return got;
}

bool TParser::ToLexemText(std::string_view text) {
  const std::string wanted = FoldUpper(FCharset, text);
  for (;;) {
    int code = Scan();
    if (code == lcEnd) return false;
    if (FLexemQuoted || code == lcBlank || code == lcComment) continue;
    if (FLexemLength != static_cast<int64_t>(wanted.size())) continue;
    FoldLexem(FFold);
    if (FFold == wanted) return true;
  }
}

int TParser::Scan() {
  FPrevPrevPos = FPrevPos;
  FPrevPos = FPos;
  FPrevLine = FCurrLine;
  FPrevBegLine = FCurrBegLine;
  FLexemEntry = nullptr;
  FLexemQuoted = false;
  for (;;) {
    int64_t start = FPos;
    while (FPos <= FTextLength && IsBlank(CharAt(FPos)))
      if (!SkipLineBreak()) ++FPos;
    FLexemPos = start;
    FLexemLength = FPos - start;
    if (FLexemLength > 0 && !OmitBlank) return lcBlank;
    if (FPos > FTextLength) {
      FLexemPos = FPos;
      FLexemLength = 0;
      return lcEnd;
    }
    start = FPos;
    if (!ScanComment()) break;
    if (!OmitComment) {
      FLexemPos = start;
      FLexemLength = FPos - start;
      return lcComment;
    }
  }
  return ScanToken();
}

// A comment at Pos: an inline one to the end of the line, or a block comment through its end
// marker (or the end of the text).
bool TParser::ScanComment() {
  if (IsInlineComment(FPos)) {
    while (FPos <= FTextLength) {
      char c = CharAt(FPos);
      if (c == '\r' || c == '\n') break;
      FPos += static_cast<int64_t>(CharLen(FPos));
    }
    return true;
  }
  if (!MatchAt(FPos, FCommentStart)) return false;
  FPos += static_cast<int64_t>(FCommentStart.size());
  while (FPos <= FTextLength) {
    if (MatchAt(FPos, FCommentEnd)) {
      FPos += static_cast<int64_t>(FCommentEnd.size());
      return true;
    }
    if (!SkipLineBreak()) FPos += static_cast<int64_t>(CharLen(FPos));
  }
  return true;
}

int TParser::ScanToken() {
  char c = CharAt(FPos);
  size_t n = CharLen(FPos);
  FLexemPos = FPos;
  if (n == 1 && IsSymbol(c) && IsStringQuote(c)) return ScanString(c);
  if (n == 1 && IsSymbol(c) && IsIdentQuote(c)) return ScanQuotedIdent(c);
  if (n > 1 || IsAlpha(c) || c == '_') return ScanIdent();
  if (IsSymbol(c)) return ScanSymbol();
  if (IsNumber(c)) return ScanNumber();
  if (IgnoreTrailingControls && OnlyControlsFrom(FPos)) {
    FPos = FTextLength + 1;
    FLexemPos = FPos;
    FLexemLength = 0;
    return lcEnd;
  }
  RaiseUnknownSymbol(c);
}

// Whether every byte from pos to the end of the text is below 33. A stream keeps the blocks it
// reads for this from pos on, which is no more than the run of such bytes.
bool TParser::OnlyControlsFrom(int64_t pos) {
  for (; pos <= FTextLength; ++pos)
    if (static_cast<unsigned char>(CharAt(pos)) >= 33) return false;
  return true;
}

int64_t TParser::SkipString(char quote) {
  const int64_t start = FPos;
  ++FPos;
  SkipQuotedString(quote);
  FPos = std::clamp(FPos, start + 1, FTextLength + 1);  // a subclass's scan never leaves the text
  const int64_t close = FPos;
  if (FPos <= FTextLength) ++FPos;  // past the closing quote
  return close;
}

int TParser::ScanString(char quote) {
  const int64_t start = FPos;
  const int64_t close = SkipString(quote);
  const int64_t textStart = KeepStringQuotes ? start : start + 1;
  const int64_t textEnd = KeepStringQuotes ? FPos : close;
  FLexemPos = textStart;
  FLexemLength = textEnd - textStart;
  FLexemQuoted = true;
  return lcString;
}

int TParser::ScanQuotedIdent(char quote) {
  const int64_t start = FPos;
  ++FPos;
  SkipQuotedString(quote);
  FPos = std::clamp(FPos, start + 1, FTextLength + 1);
  if (FPos <= FTextLength) ++FPos;
  FLexemPos = start;
  FLexemLength = FPos - start;
  FLexemQuoted = true;
  return lcIdent;
}

int TParser::ScanIdent() {
  const int64_t start = FPos;
  FPos += static_cast<int64_t>(CharLen(FPos));
  while (FPos <= FTextLength) {
    char c = CharAt(FPos);
    size_t n = CharLen(FPos);
    if (n == 1 && !IsAlpha(c) && !IsNumber(c) && c != '_') break;
    FPos += static_cast<int64_t>(n);
  }
  FLexemPos = start;
  FLexemLength = FPos - start;
  if (QuotePrefixStrings && FLexemLength == 1 && (CharAt(start) == 'q' || CharAt(start) == 'Q') &&
      FPos <= FTextLength && IsStringQuote(CharAt(FPos)))
    return ScanQuotePrefixString(start);
  if (OmitKeywords || FKeywords->Count() == 0 || static_cast<size_t>(FLexemLength) > FKeywords->MaxLength())
    return lcIdent;
  FoldLexem(FFold);
  const TLexemList::TEntry* entry = FKeywords->Find(FFold);
  if (entry == nullptr) return lcIdent;
  if (UppercaseKeywords) FLexemEntry = entry;
  return entry->Code;
}

// q'<delimiter>...<closing delimiter>' with Pos on the quote: the closing delimiter is ")" for
// "(", ">" for "<", "]" for "[", "}" for "{", else the opening one.
int TParser::ScanQuotePrefixString(int64_t start) {
  const char quote = CharAt(FPos);
  ++FPos;
  std::string close;
  if (FPos <= FTextLength) {
    size_t n = CharLen(FPos);
    for (size_t i = 0; i < n; ++i) close += CharAt(FPos + static_cast<int64_t>(i));
    FPos += static_cast<int64_t>(n);
    static constexpr std::string_view opens = "(<[{", closes = ")>]}";
    if (size_t k = opens.find(close[0]); n == 1 && k != std::string_view::npos) close = closes[k];
  }
  const int64_t bodyStart = FPos;
  bool closed = false;
  while (!close.empty() && FPos <= FTextLength) {
    const int64_t quotePos = FPos + static_cast<int64_t>(close.size());
    if (quotePos <= FTextLength && MatchAt(FPos, close) && CharAt(quotePos) == quote) {
      FPos += static_cast<int64_t>(close.size()) + 1;
      closed = true;
      break;
    }
    if (!(CountsLinesInStrings() && SkipLineBreak())) FPos += static_cast<int64_t>(CharLen(FPos));
  }
  FLexemQuoted = true;
  if (KeepStringQuotes) {
    FLexemPos = start;
    FLexemLength = FPos - start;
  } else {
    // An unterminated string keeps everything after its opening delimiter.
    FLexemPos = bodyStart;
    FLexemLength = FPos - bodyStart - (closed ? static_cast<int64_t>(close.size()) + 1 : 0);
  }
  return lcString;
}

// Longest match in the symbol list, growing one symbol character at a time while the grown
// text is still an entry.
int TParser::ScanSymbol() {
  const int64_t start = FPos;
  FFold.assign(1, UpperAscii(CharAt(start)));
  const TLexemList::TEntry* entry = FSymbols->Find(FFold);
  FLexemPos = start;
  if (entry == nullptr) {
    ++FPos;
    FLexemLength = 1;
    return lcSymbol;
  }
  int64_t end = start + 1;
  while (end <= FTextLength && FFold.size() < FSymbols->MaxLength()) {
    char c = CharAt(end);
    if (CharLen(end) != 1 || !IsSymbol(c)) break;
    FFold += UpperAscii(c);
    const TLexemList::TEntry* longer = FSymbols->Find(FFold);
    if (longer == nullptr) break;
    entry = longer;
    ++end;
  }
  FPos = end;
  FLexemLength = end - start;
  FLexemEntry = entry;
  return entry->Code;
}

// Digits, then "." and digits; no sign, no exponent. The separator is "." whatever the locale.
int TParser::ScanNumber() {
  const int64_t start = FPos;
  while (FPos <= FTextLength && IsNumber(CharAt(FPos))) ++FPos;
  if (FPos + 1 <= FTextLength && CharAt(FPos) == '.' && IsNumber(CharAt(FPos + 1))) {
    FPos += 2;
    while (FPos <= FTextLength && IsNumber(CharAt(FPos))) ++FPos;
  }
  FLexemPos = start;
  FLexemLength = FPos - start;
  return lcNumber;
}

// ---- Runs of plain lexemes ---------------------------------------------------------------------

bool TParser::StartsComment(int64_t pos) {
  if (IsInlineComment(pos)) return true;
  return !FCommentStart.empty() && CharAt(pos) == FCommentStart[0] && MatchAt(pos, FCommentStart);
}

// Each byte as ScanToken would read it at a lexeme's start: only bytes that can only be read one
// way are taken. A symbol that begins a longer entry of the symbol list is not.
void TParser::SetPlainClasses() {
  FPlainClass.fill(pcStop);
  for (size_t b = 1; b < 0x80; ++b) {
    const char c = static_cast<char>(b);
    if (IsBlank(c)) {
      FPlainClass[b] = c == '\r' || c == '\n' ? pcLineBreak : c == ' ' || c == '\t' ? pcBlank : pcStop;
    } else if (IsSymbol(c) && IsStringQuote(c)) {
      FPlainClass[b] = pcQuote;
    } else if (IsAlpha(c) || c == '_' || IsIdentQuote(c)) {
      continue;
    } else if (IsSymbol(c)) {
      if (std::string_view(",().+-").find(c) == std::string_view::npos) continue;
      bool longer = false;
      for (size_t i = 0; i < FSymbols->Count(); ++i) {
        const std::string& entry = (*FSymbols)[i].Text;
        if (entry.size() > 1 && entry[0] == c) longer = true;
      }
      if (!longer) FPlainClass[b] = pcSymbol;
    } else if (IsNumber(c)) {
      FPlainClass[b] = pcDigit;
    }
  }
  FPlainClassesSet = true;
}

bool TParser::TakesInPlainRun(char c) {
  if (!FPlainClassesSet) SetPlainClasses();
  return FPlainClass[static_cast<unsigned char>(c)] != pcStop;
}

TParser::TPlainRun TParser::TakePlainLexemes(std::string& out, size_t limit) {
  if (!FPlainClassesSet) SetPlainClasses();
  TPlainRun took = TPlainRun::None;
  bool lastQuoted = false;
  // Pieces: a string, a line break, or the other plain bytes of the block in hand. Each starts
  // as a lexeme would, so that the stream's blocks before it may go.
  while (FPos <= FTextLength && (limit == 0 || out.size() < limit)) {
    const int64_t start = FPos;
    const char c = CharAt(start);  // in stream mode, brings its block into the cache
    const uint8_t kind = FPlainClass[static_cast<unsigned char>(c)];
    if (kind == pcStop || ((kind == pcSymbol || kind == pcQuote) && StartsComment(start))) break;
    FPrevPrevPos = FPrevPos;
    FPrevPos = FLexemPos = start;
    FPrevLine = FCurrLine;
    FPrevBegLine = FCurrBegLine;
    lastQuoted = kind == pcQuote;
    if (kind == pcQuote) {
      SkipString(c);
      took = TPlainRun::Lexemes;
    } else if (kind == pcLineBreak) {
      SkipLineBreak();
      if (took == TPlainRun::None) took = TPlainRun::Blanks;
    } else {
      const char* run;
      int64_t available;
      if (FStream == nullptr) {
        run = FText.data() + (start - 1);
        available = FTextLength - start + 1;
      } else {
        run = FCacheData + (start - FCacheStart);
        available = std::min(FCacheEnd, FTextLength + 1) - start;
      }
      // A comment check may load the next block; the block in hand is kept, as the piece starts in it.
      bool lexeme = false;
      int64_t n = 0;
      for (; n < available; ++n) {
        const uint8_t k = FPlainClass[static_cast<unsigned char>(run[n])];
        if (k == pcBlank) continue;
        if (k == pcDigit || (k == pcSymbol && (n == 0 || !StartsComment(start + n)))) {
          lexeme = true;
          continue;
        }
        break;
      }
      FPos = start + n;
      if (lexeme)
        took = TPlainRun::Lexemes;
      else if (took == TPlainRun::None)
        took = TPlainRun::Blanks;
    }
    AppendText(start, FPos - start, out);
  }
  FLexemEntry = nullptr;
  FLexemQuoted = lastQuoted;
  FLexemLength = FPos - FLexemPos;
  return took;
}

// ---- Text access and stream blocks ------------------------------------------------------------------

size_t TParser::MbCharLenAt(int64_t pos) {
  if (FStream == nullptr) return MbCharLen(FCharset, FText.data() + pos - 1, FText.data() + FTextLength);
  // The character may cross a block boundary.
  char buf[4];
  size_t n = 0;
  while (n < sizeof buf && pos + static_cast<int64_t>(n) <= FTextLength) {
    buf[n] = CharAt(pos + static_cast<int64_t>(n));
    ++n;
  }
  return MbCharLen(FCharset, buf, buf + n);
}

std::string TParser::CopyText(int64_t pos, int64_t length) {
  if (length <= 0) return {};
  if (FStream == nullptr) return FText.substr(static_cast<size_t>(pos - 1), static_cast<size_t>(length));
  DA_ASSERT_MSG(pos >= FFirstBlockPos && pos + length <= FLoadedEnd, "lexeme outside the kept stream blocks");
  if (pos >= FCacheStart && pos + length <= FCacheEnd)
    return std::string(FCacheData + (pos - FCacheStart), static_cast<size_t>(length));
  const auto blockSize = static_cast<int64_t>(FBlockSize);
  // A lexeme over 2 GB raises EOutOfMemory from the builder.
  StringBuilder text(static_cast<int>(std::min<int64_t>(length, INT_MAX)));
  for (int64_t p = pos, end = pos + length; p < end;) {
    const int64_t index = (p - FFirstBlockPos) / blockSize;
    const std::string& block = FBlocks[static_cast<size_t>(index)];
    const int64_t offset = p - (FFirstBlockPos + index * blockSize);
    const int64_t take = std::min(static_cast<int64_t>(block.size()) - offset, end - p);
    text.Append(std::string_view(block).substr(static_cast<size_t>(offset), static_cast<size_t>(take)));
    p += take;
  }
  return text.ToString();
}

void TParser::CopyTextTo(int64_t pos, int64_t length, std::string& out) {
  if (length <= 0) {
    out.clear();
  } else if (FStream == nullptr) {
    out.assign(FText, static_cast<size_t>(pos - 1), static_cast<size_t>(length));
  } else if (pos >= FCacheStart && pos + length <= FCacheEnd) {
    out.assign(FCacheData + (pos - FCacheStart), static_cast<size_t>(length));
  } else {
    out = CopyText(pos, length);
  }
}

void TParser::AppendText(int64_t pos, int64_t length, std::string& out) {
  if (length <= 0) return;
  if (FStream == nullptr)
    out.append(FText, static_cast<size_t>(pos - 1), static_cast<size_t>(length));
  else if (pos >= FCacheStart && pos + length <= FCacheEnd)
    out.append(FCacheData + (pos - FCacheStart), static_cast<size_t>(length));
  else
    out += CopyText(pos, length);
}

void TParser::SkipPlainQuotedBytes(char quote) {
  if (FPos < 1 || FPos > FTextLength) return;
  const char* run;
  int64_t available;
  if (FStream == nullptr) {
    run = FText.data() + (FPos - 1);
    available = std::min(FTextLength, static_cast<int64_t>(FText.size())) - FPos + 1;
  } else {
    CharAt(FPos);  // brings the block holding Pos into the cache
    if (FPos < FCacheStart || FPos >= FCacheEnd) return;
    run = FCacheData + (FPos - FCacheStart);
    available = std::min(FCacheEnd, FTextLength + 1) - FPos;
  }
  int64_t n = 0;
  for (; n < available; ++n) {
    const char c = run[n];
    if (c == quote || c == '\\' || c == '\r' || c == '\n') break;
    if (FMultiByte && static_cast<unsigned char>(c) >= 0x80) break;  // may start a multi-byte character
  }
  FPos += n;
}

void TParser::ResetStream() {
  FBlocks.clear();
  FFirstBlockPos = FLoadedEnd = 1;
  FCacheData = nullptr;
  FCacheStart = FCacheEnd = 0;
  FTextLength = std::max<int64_t>(0, FStream->Size() - FStreamOrigin);
  FStream->Seek(FStreamOrigin, soFromBeginning);
}

char TParser::StreamCharAt(int64_t pos) {
  if (pos < 1 || pos > FTextLength) return '\0';
  DA_ASSERT_MSG(pos >= FFirstBlockPos, "position before the kept stream blocks");
  while (pos >= FLoadedEnd)
    if (!LoadBlock()) return '\0';
  const auto blockSize = static_cast<int64_t>(FBlockSize);
  const int64_t index = (pos - FFirstBlockPos) / blockSize;
  const std::string& block = FBlocks[static_cast<size_t>(index)];
  FCacheStart = FFirstBlockPos + index * blockSize;
  FCacheEnd = FCacheStart + static_cast<int64_t>(block.size());
  FCacheData = block.data();
  return FCacheData[pos - FCacheStart];
}

// Reads the next block, after releasing the blocks nobody can ask for again. False when the
// stream has no more bytes; a stream shorter than announced ends the text where it ends.
bool TParser::LoadBlock() {
  ReleaseBlocks();
  const int64_t want = std::min(static_cast<int64_t>(FBlockSize), FTextLength - FLoadedEnd + 1);
  if (want <= 0) return false;
  std::string block(static_cast<size_t>(want), '\0');
  int64_t got = 0;
  while (got < want) {
    const int64_t n = FStream->Read(block.data() + got, want - got);
    if (n <= 0) break;
    got += n;
  }
  if (got < want) {
    FTextLength = FLoadedEnd + got - 1;
    block.resize(static_cast<size_t>(got));
  }
  if (got == 0) return false;
  if (FBlocks.empty()) FFirstBlockPos = FLoadedEnd;
  FBlocks.push_back(std::move(block));
  FLoadedEnd += got;
  return true;
}

// Keeps the blocks from the earliest position still needed: where the last GetNext started
// (Back returns there), the current lexeme, or Pos.
void TParser::ReleaseBlocks() {
  const int64_t keep = std::min({FPrevPos, FPos, FLexemPos});
  bool released = false;
  while (!FBlocks.empty() && FFirstBlockPos + static_cast<int64_t>(FBlocks.front().size()) <= keep) {
    FFirstBlockPos += static_cast<int64_t>(FBlocks.front().size());
    FBlocks.pop_front();
    released = true;
  }
  if (!released) return;
  if (FBlocks.empty()) FFirstBlockPos = FLoadedEnd;
  FCacheData = nullptr;
  FCacheStart = FCacheEnd = 0;
}
