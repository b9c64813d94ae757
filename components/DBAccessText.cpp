#include "components/DBAccessText.h"

#include <algorithm>
#include <memory>

#include "platform/runtime/LocaleCompare.h"

std::string MacroChar = "&";

namespace {

// One lexeme with its place in the text (0-based, end exclusive). PrevEnd is where the lexer
// started reading it: the end of the lexeme before, ahead of any skipped blanks and comments.
struct TLex {
  int Code = lcEnd;
  std::string Text;
  int64_t Start = 0;
  int64_t End = 0;
  int64_t PrevEnd = 0;
};

// Lexers made here keep string quotes, so that every lexeme's text is as long as its source.
std::unique_ptr<TParser> MakeParser(const TParserClass& parserClass, std::string_view text,
                                    TCharsetKind charset, bool omitBlank, bool omitComment,
                                    bool noBackslashEscapes = false) {
  auto parser = parserClass.Create(std::string(text), charset);
  parser->NoBackslashEscapes = noBackslashEscapes;
  parser->OmitBlank = omitBlank;
  parser->OmitComment = omitComment;
  parser->KeepStringQuotes = true;
  return parser;
}

bool Next(TParser& p, TLex& lx) {
  lx.Code = p.GetNext(lx.Text);
  lx.End = p.GetCurrPos();
  lx.PrevEnd = p.GetPrevPos();
  lx.Start = lx.End - static_cast<int64_t>(lx.Text.size());
  return lx.Code != lcEnd;
}

bool IsWordStart(const TParser& p, char c) {
  return p.IsAlpha(c) || c == '_';
}

bool IsKeyword(const TParser& p, const TLex& lx) {
  return lx.Code > 0 && !lx.Text.empty() && IsWordStart(p, lx.Text[0]);
}

bool IsPlainIdent(const TParser& p, const TLex& lx) {
  return lx.Code == lcIdent && !lx.Text.empty() && !p.IsIdentQuote(lx.Text[0]);
}

bool IsMacroStart(const TLex& lx) {
  return lx.Code != lcString && lx.Code != lcIdent && lx.Code != lcComment && lx.Text == MacroChar;
}

// A comment that runs to the end of its line ("--", "#", "//"), as opposed to a block comment.
bool IsLineComment(const TLex& lx) {
  return lx.Code == lcComment && lx.Text.rfind("/*", 0) != 0;
}

int DepthStep(const TLex& lx) {
  if (lx.Code == lcString || lx.Code == lcComment || lx.Code == lcIdent) return 0;
  return lx.Text == "(" ? 1 : lx.Text == ")" ? -1 : 0;
}

std::string UpperAsciiText(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

std::string TrimRightSQLBlanks(std::string_view text) {
  size_t end = text.size();
  while (end > 0 && static_cast<unsigned char>(text[end - 1]) < 33) --end;
  return std::string(text.substr(0, end));
}

// True when the text's last lexeme is a comment that runs to the end of its line.
bool EndsWithLineComment(std::string_view text, const TParserClass& parserClass, TCharsetKind charset,
                         bool noBackslashEscapes) {
  auto p = MakeParser(parserClass, text, charset, true, false, noBackslashEscapes);
  TLex lx, last;
  while (Next(*p, lx)) last = lx;
  return IsLineComment(last);
}

// A condition or field list ending in a line comment gets a line break after it, so that what the
// text holds after the clause does not end up inside the comment.
std::string EndLineComment(std::string piece, const TParserClass& parserClass, TCharsetKind charset,
                           bool noBackslashEscapes) {
  if (!piece.empty() && piece.back() != '\n' &&
      EndsWithLineComment(piece, parserClass, charset, noBackslashEscapes))
    piece += "\r\n";
  return piece;
}

// True when the condition holds OR, XOR or "||" outside parentheses: joined to another condition
// with AND it would otherwise bind only its last term.
bool HasTopLevelOr(std::string_view cond, const TParserClass& parserClass, TCharsetKind charset,
                   bool noBackslashEscapes) {
  auto p = MakeParser(parserClass, cond, charset, true, true, noBackslashEscapes);
  TLex lx, prev;
  int depth = 0;
  while (Next(*p, lx)) {
    if (depth == 0) {
      if (IsKeyword(*p, lx) || IsPlainIdent(*p, lx)) {
        const std::string word = UpperAsciiText(lx.Text);
        if (word == "OR" || word == "XOR") return true;
      }
      if (lx.Text == "|" && prev.Text == "|" && prev.End == lx.Start && lx.Code != lcString) return true;
    }
    depth += DepthStep(lx);
    prev = lx;
  }
  return false;
}

// Where AddWhere puts its text, found by reading the lexemes after SELECT.
struct TWhereScan {
  int64_t OpenAt = -1;   // where "(" goes: after WHERE and the one character that follows
  int64_t InsertAt = 0;  // where the closing text and the addition go
  int64_t TailFrom = 0;  // the text kept after the insertion
  bool CommentBefore = false;
  bool LineCommentBefore = false;  // the insertion would follow a line comment on its line
};

void SetInsertAfter(TWhereScan& s, const TLex& before, int64_t at) {
  s.InsertAt = at;
  s.TailFrom = at;
  s.CommentBefore = before.Code == lcComment;
  s.LineCommentBefore = IsLineComment(before) && at > before.Start;
}

TWhereScan ScanForWhere(TParser& p, int whereCode, const std::string& text) {
  TWhereScan s;
  TLex lx, before, sep, beforeSep;
  int depth = 0;
  bool afterMacro = false, endsWithSep = false;
  while (Next(p, lx)) {
    if (depth == 0 && !afterMacro && p.IsClauseLexem(lx.Code)) {
      if (lx.Code != whereCode) {
        SetInsertAfter(s, before, lx.PrevEnd);
        s.OpenAt = std::min(s.OpenAt, s.InsertAt);
        return s;
      }
      if (s.OpenAt < 0) s.OpenAt = std::min<int64_t>(lx.End + 1, static_cast<int64_t>(text.size()));
    }
    if (lx.Code != lcComment) {
      endsWithSep = depth == 0 && p.IsSemicolon(lx.Code);
      if (endsWithSep) {
        sep = lx;
        beforeSep = before;
      }
    }
    depth += DepthStep(lx);
    afterMacro = IsMacroStart(lx);
    before = lx;
  }
  if (endsWithSep && s.OpenAt >= 0) {
    // The closing parenthesis and the addition go before the separator, not after it.
    SetInsertAfter(s, beforeSep, sep.PrevEnd);
  } else if (endsWithSep) {
    s.InsertAt = s.TailFrom = sep.Start;
  } else {
    SetInsertAfter(s, before, static_cast<int64_t>(TrimRightSQLBlanks(text).size()));
    s.TailFrom = static_cast<int64_t>(text.size());
  }
  s.OpenAt = std::min(s.OpenAt, s.InsertAt);
  return s;
}

std::string Cut(const std::string& text, int64_t from, int64_t to) {
  from = std::clamp<int64_t>(from, 0, static_cast<int64_t>(text.size()));
  to = std::clamp<int64_t>(to, from, static_cast<int64_t>(text.size()));
  return text.substr(static_cast<size_t>(from), static_cast<size_t>(to - from));
}

std::string From(const std::string& text, int64_t from) {
  return Cut(text, from, static_cast<int64_t>(text.size()));
}

// The prefix of a clause added where there was none: on its own line when the text before it has
// line breaks.
std::string NewClause(const std::string& head, const std::string& clause) {
  return head.find('\r') != std::string::npos ? "\r " + clause : clause;
}

// Reads the blank after a keyword: the position after it, or after the keyword when none follows.
int64_t SkipOneBlank(TParser& p, const TLex& keyword) {
  TLex lx;
  Next(p, lx);
  if (lx.Code == lcBlank) return lx.End;
  p.Back();
  return keyword.End;
}

}  // namespace

std::string TrimSQLBlanks(std::string_view text) {
  size_t begin = 0;
  while (begin < text.size() && static_cast<unsigned char>(text[begin]) < 33) ++begin;
  return TrimRightSQLBlanks(text.substr(begin));
}

std::string AddWhere(std::string_view sql, std::string_view condition, const TParserClass& parserClass,
                     int whereCode, int selectCode, bool omitComment, TCharsetKind charset,
                     bool noBackslashEscapes) {
  std::string text(sql);
  std::string cond = TrimSQLBlanks(condition);
  if (cond.empty()) return text;
  // The clause after the condition must not end up inside the condition's own line comment.
  if (EndsWithLineComment(cond, parserClass, charset, noBackslashEscapes)) cond += "\r\n";
  auto p = MakeParser(parserClass, text, charset, true, omitComment, noBackslashEscapes);
  if (p->ToLexem(selectCode) != selectCode) return text;
  const TWhereScan s = ScanForWhere(*p, whereCode, text);
  const std::string head = Cut(text, 0, s.InsertAt), tail = From(text, s.TailFrom);
  // A bare CR does not end a line comment on the server: after one the break is CR LF.
  const std::string lineBreak = s.LineCommentBefore ? "\r\n" : "\r";
  if (s.OpenAt < 0) return head + lineBreak + "WHERE " + cond + " " + tail;
  const std::string closing = s.CommentBefore ? lineBreak + ")" : ")";
  const std::string added =
      HasTopLevelOr(cond, parserClass, charset, noBackslashEscapes) ? "(" + cond + ")" : cond;
  return Cut(text, 0, s.OpenAt) + "(" + Cut(text, s.OpenAt, s.InsertAt) + closing + " AND " + added + " " +
         tail;
}

std::string SetWhere(std::string_view sql, std::string_view condition, const TParserClass& parserClass,
                     int whereCode, int selectCode, TCharsetKind charset, bool noBackslashEscapes) {
  std::string text(sql);
  const std::string cond = EndLineComment(std::string(condition), parserClass, charset, noBackslashEscapes);
  auto p = MakeParser(parserClass, text, charset, false, true, noBackslashEscapes);
  if (p->ToLexem(selectCode) != selectCode) return text;
  TLex lx;
  int depth = 0;
  bool afterMacro = false;
  int64_t lastEnd = p->GetCurrPos(), oldStart = -1;
  std::string glue;  // a blank after WHERE when the text had none
  while (Next(*p, lx)) {
    if (lx.Code == lcBlank) continue;
    if (depth == 0 && !afterMacro && (p->IsClauseLexem(lx.Code) || p->IsSemicolon(lx.Code))) {
      if (lx.Code != whereCode || oldStart >= 0) break;
      // The keyword goes too when the clause is removed.
      oldStart = cond.empty() ? lastEnd : SkipOneBlank(*p, lx);
      if (!cond.empty() && oldStart == lx.End) glue = " ";
      lastEnd = oldStart;
      continue;
    }
    depth += DepthStep(lx);
    afterMacro = IsMacroStart(lx);
    lastEnd = lx.End;
  }
  if (oldStart >= 0) return Cut(text, 0, oldStart) + glue + cond + From(text, std::max(lastEnd, oldStart));
  if (cond.empty()) return text;
  const std::string head = Cut(text, 0, lastEnd);
  return head + NewClause(head, " WHERE " + cond) + From(text, lastEnd);
}

std::string SetOrderBy(std::string_view sql, std::string_view fields, const TParserClass& parserClass,
                       int byCode, int orderCode, int selectCode, TCharsetKind charset,
                       bool noBackslashEscapes) {
  std::string text(sql), list(fields);
  std::replace(list.begin(), list.end(), ';', ',');
  list = EndLineComment(std::move(list), parserClass, charset, noBackslashEscapes);
  auto p = MakeParser(parserClass, text, charset, false, true, noBackslashEscapes);
  if (p->ToLexem(selectCode) != selectCode) return text;
  const int orderIndex = p->ClauseIndex(orderCode);
  TLex lx, by;
  int depth = 0;
  bool afterMacro = false;
  int64_t lastEnd = p->GetCurrPos(), oldStart = -1;
  while (Next(*p, lx)) {
    if (lx.Code == lcBlank) continue;
    if (depth == 0 && !afterMacro) {
      if (p->IsSemicolon(lx.Code) || (p->IsClauseLexem(lx.Code) && p->ClauseIndex(lx.Code) > orderIndex))
        break;
      if (lx.Code == orderCode && oldStart < 0) {
        const int64_t beforeOrder = lastEnd;
        if (!Next(*p, by) || (by.Code == lcBlank && !Next(*p, by)) || by.Code != byCode) break;
        oldStart = list.empty() ? beforeOrder : SkipOneBlank(*p, by);
        lastEnd = oldStart;
        continue;
      }
    }
    depth += DepthStep(lx);
    afterMacro = IsMacroStart(lx);
    lastEnd = lx.End;
  }
  if (oldStart >= 0) return Cut(text, 0, oldStart) + list + From(text, std::max(lastEnd, oldStart));
  if (list.empty()) return text;
  const std::string head = Cut(text, 0, lastEnd);
  return head + NewClause(head, " ORDER BY " + list) + From(text, lastEnd);
}

std::string GetOrderBy(std::string_view sql, const TParserClass& parserClass, int selectCode, int byCode,
                       int orderCode, TCharsetKind charset, bool noBackslashEscapes) {
  const std::string text(sql);
  auto p = MakeParser(parserClass, text, charset, true, true, noBackslashEscapes);
  if (p->ToLexem(selectCode) != selectCode) return {};
  TLex lx;
  int depth = 0;
  bool afterMacro = false;
  int64_t listStart = -1;
  while (Next(*p, lx)) {
    if (depth == 0 && !afterMacro) {
      if (listStart >= 0 && (p->IsClauseLexem(lx.Code) || p->IsSemicolon(lx.Code))) break;
      if (listStart < 0 && lx.Code == orderCode) {
        TLex by;
        if (!Next(*p, by) || by.Code != byCode) return {};
        listStart = by.End;
        continue;
      }
    }
    depth += DepthStep(lx);
    afterMacro = IsMacroStart(lx);
  }
  if (listStart < 0) return {};
  return Cut(text, listStart, lx.PrevEnd);
}

// ---- Parameters ---------------------------------------------------------------------------------

namespace {

// A quoted name's text with each doubled closing quote read as one.
std::string UndoubleQuote(const std::string& text, char quote) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    out += text[i];
    if (text[i] == quote && i + 1 < text.size() && text[i + 1] == quote) ++i;
  }
  return out;
}

// The parameter name after ":" (the colon already read), or false with the lexer where it was
// when the text there names no parameter.
bool ReadParamName(TParser& p, const TParseSQLOptions& options, std::string& name) {
  TLex lx;
  Next(p, lx);
  if (lx.Code == lcSymbol && lx.Text == "@") {
    TLex word;
    Next(p, word);
    if (IsPlainIdent(p, word) || IsKeyword(p, word)) {
      name = "@" + word.Text;
      return true;
    }
    p.Back();
  } else if (IsPlainIdent(p, lx) || lx.Code == lcNumber) {
    name = lx.Text;
    return true;
  } else if (lx.Code == lcIdent || lx.Code == lcString) {
    // A quoted name; a string in other quotes is a value, not a name.
    const std::string& t = lx.Text;
    const bool enclosed =
        t.size() >= 2 && t.front() == options.NameQuoteBegin && t.back() == options.NameQuoteEnd;
    if (enclosed || lx.Code == lcIdent) {
      name = enclosed ? UndoubleQuote(t.substr(1, t.size() - 2), options.NameQuoteEnd) : t;
      // The lexer ends a string at its second quote: in :"a""b" the name goes on in the string
      // right after it, a doubled quote standing for one.
      if (enclosed && lx.Code == lcString && options.NameQuoteBegin == options.NameQuoteEnd) {
        int64_t end = lx.End;
        TLex more;
        while (Next(p, more) && more.Code == lcString && more.Start == end && more.Text.size() >= 2 &&
               more.Text.front() == options.NameQuoteBegin && more.Text.back() == options.NameQuoteEnd) {
          name += options.NameQuoteEnd;
          name.append(more.Text, 1, more.Text.size() - 2);
          end = more.End;
        }
        p.Back();
      }
      return true;
    }
  }
  p.Back();
  return false;
}

}  // namespace

std::string ParseSQLParams(std::string_view sql, const TParserClass& parserClass,
                           std::vector<std::string>* names, const TParseSQLOptions& options,
                           const std::function<void(const std::string& name, size_t builtLength)>& onParam,
                           TCharsetKind charset) {
  const std::string text(sql);
  auto p = MakeParser(parserClass, text, charset, false, true, options.NoBackslashEscapes);
  std::string out;
  out.reserve(text.size());
  int64_t copied = 0;
  TLex lx;
  while (Next(*p, lx)) {
    if (lx.Text != ":" || lx.Code == lcString || lx.Code == lcIdent) continue;
    std::string name;
    const int64_t colon = lx.Start;
    if (!ReadParamName(*p, options, name)) continue;
    out += Cut(text, copied, colon);
    out += options.RenamePrefix.empty() ? std::string("?") : options.RenamePrefix + name;
    copied = p->GetCurrPos();
    if (names != nullptr) names->push_back(name);
    if (onParam) onParam(name, out.size());
  }
  out += From(text, copied);
  return out;
}

// ---- Macros -------------------------------------------------------------------------------------

namespace {

// The macro name after the macro character (already read), or false with the lexer back where it
// was. A number makes a name only with a word right after it.
bool ReadMacroName(TParser& p, std::string& name) {
  TLex lx;
  Next(p, lx);
  if (IsPlainIdent(p, lx) || IsKeyword(p, lx)) {
    name = lx.Text;
    return true;
  }
  if (lx.Code == lcNumber) {
    TLex word;
    Next(p, word);
    if (word.Start == lx.End && (IsPlainIdent(p, word) || IsKeyword(p, word))) {
      name = lx.Text + word.Text;
      return true;
    }
    p.Back();
  }
  p.Back();
  return false;
}

// Keyword lexemes come back upper-cased: the name is taken from the text itself.
std::string SourceText(const std::string& text, int64_t from, int64_t to) {
  return Cut(text, from, to);
}

}  // namespace

std::vector<std::string> ScanMacroNames(std::string_view sql, const TParserClass& parserClass,
                                        TCharsetKind charset) {
  std::vector<std::string> names;
  const std::string text(sql);
  if (text.find(MacroChar) == std::string::npos) return names;
  auto p = MakeParser(parserClass, text, charset, false, false);
  TLex lx;
  while (Next(*p, lx)) {
    std::string name;
    if (!IsMacroStart(lx) || !ReadMacroName(*p, name)) continue;
    name = SourceText(text, lx.End, p->GetCurrPos());
    const bool known = std::any_of(names.begin(), names.end(), [&](const std::string& n) {
      return LocaleCompareAnsi(n, name, true) == 0;
    });
    if (!known) names.push_back(name);
  }
  return names;
}

std::string ExpandMacroRefs(std::string_view sql, const TParserClass& parserClass,
                            const std::function<const std::string*(const std::string& name)>& valueOf,
                            TCharsetKind charset) {
  const std::string text(sql);
  if (text.find(MacroChar) == std::string::npos) return text;
  auto p = MakeParser(parserClass, text, charset, false, false);
  std::string out;
  int64_t copied = 0;
  TLex lx;
  while (Next(*p, lx)) {
    std::string name;
    if (!IsMacroStart(lx) || !ReadMacroName(*p, name)) continue;
    name = SourceText(text, lx.End, p->GetCurrPos());
    out += Cut(text, copied, lx.Start);
    if (const std::string* value = valueOf(name)) out += *value;
    copied = p->GetCurrPos();
  }
  out += From(text, copied);
  return out;
}
