#include "mysql/MyStatementText.h"

#include <string_view>

#include "mysql/MyClasses.h"
#include "mysql/MyParser.h"
#include "platform/runtime/Charset.h"

namespace {

bool IsOpen(int code, const std::string& lexem) {
  return code == lcSymbol && lexem == "(";
}
bool IsClose(int code, const std::string& lexem) {
  return code == lcSymbol && lexem == ")";
}

bool SameWord(const std::string& lexem, std::string_view word) {
  if (lexem.size() != word.size()) return false;
  for (size_t i = 0; i < word.size(); ++i) {
    char c = lexem[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c != word[i]) return false;
  }
  return true;
}

// Words the lexer reads as identifiers that still end a table reference.
bool IsReservedWord(const std::string& lexem) {
  for (std::string_view w : {"ON", "USING", "OUTER", "UNION", "PARTITION", "WINDOW", "NATURAL", "INTO",
                             "EXCEPT", "INTERSECT", "RETURNING"})
    if (SameWord(lexem, w)) return true;
  return false;
}

bool IsJoinWord(int code) {
  return code == lxJOIN || code == lxINNER || code == lxLEFT || code == lxRIGHT || code == lxCROSS ||
         code == lxNATURAL || code == lxSTRAIGHT_JOIN;
}

// A lexeme that can be (part of) a table name or an alias.
bool IsNameLexem(int code, const std::string& lexem) {
  if (code == lcIdent) return !IsReservedWord(lexem);
  switch (code) {
    case lxCHARSET:
    case lxCOLUMNS:
    case lxDELIMITER:
    case lxFUNCTION:
    case lxPRIVILEGES:
    case lxSLAVE:
    case lxSTATUS:
    case lxTRIGGER:
      return true;
    default:
      return false;
  }
}

// Reads lexemes, skipping blanks and comments, with the nesting depth of parentheses.
class TLexemWalker {
 public:
  TLexemWalker(const std::string& sql, bool noBackslashEscapes) : FParser(sql) {
    FParser.NoBackslashEscapes = noBackslashEscapes;
    FParser.OmitBlank = true;
    FParser.OmitComment = true;
  }
  int Next() {
    Code = FParser.GetNext(Lexem);
    if (IsClose(Code, Lexem) && Depth > 0) --Depth;
    if (IsOpen(Code, Lexem)) ++Depth;
    return Code;
  }
  void Back() {
    if (IsOpen(Code, Lexem)) --Depth;
    if (IsClose(Code, Lexem)) ++Depth;
    FParser.Back();
  }
  // Where the lexeme just read starts (blanks before it are not part of it); for keywords,
  // numbers and symbols, whose text is as long as they are written.
  int64_t Start() const { return FParser.GetCurrPos() - static_cast<int64_t>(Lexem.size()); }
  int64_t End() const { return FParser.GetCurrPos(); }
  // Reads on until the parenthesis just read is closed.
  void SkipNested(int depth) {
    while (Depth >= depth && Next() != lcEnd) {
    }
  }

  int Code = lcEnd;
  std::string Lexem;
  int Depth = 0;

 private:
  TMyParser FParser;
};

// Positions of the clauses after the outermost SELECT that the LIMIT 0 rewrite needs.
struct TLimitScan {
  bool HasSelect = false;
  bool HasLimit = false;
  int64_t CountStart = -1, CountEnd = -1;  // the row count of LIMIT
  int64_t Procedure = -1, For = -1, Lock = -1, Semicolon = -1;
};

// After LIMIT: "n", "n, m" (m rows), "n OFFSET m" (n rows).
void ScanLimitNumbers(TLexemWalker& w, TLimitScan& scan) {
  if (w.Next() != lcNumber) return;
  scan.CountStart = w.Start();
  scan.CountEnd = w.End();
  if (w.Next() == lxMyComma) {
    if (w.Next() == lcNumber) {
      scan.CountStart = w.Start();
      scan.CountEnd = w.End();
    } else {
      scan.CountStart = scan.CountEnd = -1;
    }
  } else {
    w.Back();
  }
}

TLimitScan ScanForLimit(const std::string& sql, bool noBackslashEscapes) {
  TLimitScan scan;
  TLexemWalker w(sql, noBackslashEscapes);
  while (w.Next() != lcEnd) {
    if (w.Code == lxSELECT) scan.HasSelect = true;
    if (!scan.HasSelect || w.Depth > 0) continue;
    switch (w.Code) {
      case lxLIMIT:
        if (!scan.HasLimit) {
          scan.HasLimit = true;
          ScanLimitNumbers(w, scan);
        }
        break;
      case lxPROCEDURE:
        if (scan.Procedure < 0) scan.Procedure = w.Start();
        break;
      case lxFOR:
        if (scan.For < 0) scan.For = w.Start();
        break;
      case lxLOCK:
        if (scan.Lock < 0) scan.Lock = w.Start();
        break;
      case lxMySemicolon:
        if (scan.Semicolon < 0) scan.Semicolon = w.Start();
        break;
      default:
        break;
    }
  }
  return scan;
}

std::string Edit(const std::string& sql, int64_t at, int64_t removed, const std::string& inserted,
                 std::vector<int>& positions) {
  const int64_t shift = static_cast<int64_t>(inserted.size()) - removed;
  for (int& p : positions)
    if (p - 1 >= at + removed || (removed == 0 && p - 1 >= at)) p = static_cast<int>(p + shift);
  return sql.substr(0, static_cast<size_t>(at)) + inserted + sql.substr(static_cast<size_t>(at + removed));
}

// The next table reference at the walker; false when none starts there.
bool ReadTableRef(TLexemWalker& w, TMyTableRef& ref, bool withAlias = true) {
  ref = TMyTableRef();
  if (w.Next() == lcEnd) return false;
  if (IsOpen(w.Code, w.Lexem)) {
    w.SkipNested(w.Depth);  // a derived table or a parenthesised join: not a table of its own
  } else {
    if (!IsNameLexem(w.Code, w.Lexem)) {
      w.Back();
      return false;
    }
    ref.Name = w.Lexem;
    while (w.Next() == lxMyPoint) {
      if (w.Next() == lcEnd) break;
      ref.Name += "." + w.Lexem;
    }
    w.Back();
  }
  if (!withAlias) return true;
  const int code = w.Next();
  if (code == lxAS) {
    if (w.Next() != lcEnd) ref.Alias = w.Lexem;
  } else if (IsNameLexem(code, w.Lexem)) {
    ref.Alias = w.Lexem;
  } else {
    w.Back();
  }
  return true;
}

// Index hints and join conditions after a reference; false when no further reference follows.
bool ToNextTableRef(TLexemWalker& w, int depth) {
  for (;;) {
    const int code = w.Next();
    if (code == lcEnd || code == lxMySemicolon || w.Depth < depth) return false;
    if (w.Depth > depth) continue;
    if (code == lxMyComma) return true;
    if (code == lxJOIN || code == lxSTRAIGHT_JOIN) return true;
    if (IsJoinWord(code) || (code == lcIdent && (SameWord(w.Lexem, "OUTER") || SameWord(w.Lexem, "NATURAL"))))
      continue;
    if (code == lxUSE || code == lxFORCE || code == lxIGNORE ||
        (code == lcIdent && (SameWord(w.Lexem, "ON") || SameWord(w.Lexem, "USING"))))
      continue;
    if (code == lxWHERE || code == lxGROUP || code == lxHAVING || code == lxORDER || code == lxLIMIT ||
        code == lxPROCEDURE || code == lxFOR || code == lxLOCK ||
        (code == lcIdent && IsReservedWord(w.Lexem)))
      return false;
  }
}

}  // namespace

TMyStatementShape AnalyseMyStatement(const std::string& sql, int serverMajor, bool noBackslashEscapes) {
  TMyStatementShape shape;
  TLexemWalker w(sql, noBackslashEscapes);
  bool first = true;
  int previous = lcEnd;
  bool selectFirst = false;
  bool semicolonAfterSelect = false;
  while (w.Next() != lcEnd) {
    const int code = w.Code;
    if (first) {
      selectFirst = code == lxSELECT;
      shape.IsDescribe = code == lxDESC || code == lxDESCRIBE;
      first = false;
    }
    switch (code) {
      case lxSELECT:
        shape.HasSelect = true;
        break;
      case lxSHOW:
        shape.IsShow = true;
        break;
      case lxEXPLAIN:
        if (serverMajor < 5) shape.IsExplain = true;
        break;
      case lxPRIVILEGES:
        shape.ShowPrivileges = true;
        break;
      case lxSTATUS:
        if (previous == lxSLAVE) shape.ShowSlaveStatus = true;
        break;
      case lxCREATE:
        shape.ShowCreate = true;
        break;
      case lxCOLUMNS:
        shape.ShowColumns = true;
        break;
      case lxMySemicolon:
        if (shape.HasSelect) semicolonAfterSelect = true;
        break;
      default:
        break;
    }
    previous = code;
  }
  shape.ShowPrivileges = shape.ShowPrivileges && shape.IsShow;
  shape.ShowSlaveStatus = shape.ShowSlaveStatus && shape.IsShow;
  shape.ShowCreate = shape.ShowCreate && shape.IsShow;
  shape.ShowColumns = shape.ShowColumns && shape.IsShow;
  shape.SingleSelect = selectFirst && !semicolonAfterSelect;
  return shape;
}

std::string RewriteMyLimitZero(const std::string& sql, std::vector<int>& positions, bool noBackslashEscapes) {
  const TLimitScan scan = ScanForLimit(sql, noBackslashEscapes);
  if (!scan.HasSelect) return sql;
  if (scan.HasLimit) {
    if (scan.CountStart < 0) return sql;  // LIMIT of a parameter or variable: left as it is
    return Edit(sql, scan.CountStart, scan.CountEnd - scan.CountStart, "0", positions);
  }
  for (int64_t clause : {scan.Procedure, scan.For, scan.Lock})
    if (clause >= 0) return Edit(sql, clause, 0, "LIMIT 0 ", positions);
  if (scan.Semicolon >= 0) return Edit(sql, scan.Semicolon, 0, " LIMIT 0 ", positions);
  return Edit(sql, static_cast<int64_t>(sql.size()), 0, " LIMIT 0", positions);
}

std::vector<TMyTableRef> ParseMyTableRefs(const std::string& sql, bool handler, bool noBackslashEscapes) {
  std::vector<TMyTableRef> refs;
  TLexemWalker w(sql, noBackslashEscapes);
  if (handler) {
    if (w.Next() == lxHANDLER && w.Next() != lcEnd && IsNameLexem(w.Code, w.Lexem)) {
      w.Back();
      TMyTableRef ref;
      if (ReadTableRef(w, ref, false) && !ref.Name.empty()) refs.push_back(ref);
    }
    return refs;
  }
  bool select = false;
  while (w.Next() != lcEnd) {
    if (w.Code == lxSELECT) select = true;
    if (select && w.Depth == 0 && w.Code == lxFROM) break;
  }
  if (w.Code != lxFROM) return refs;
  for (;;) {
    TMyTableRef ref;
    if (!ReadTableRef(w, ref)) break;
    if (!ref.Name.empty()) refs.push_back(ref);
    if (!ToNextTableRef(w, 0)) break;
  }
  return refs;
}

std::string MyTableRefName(const std::string& written) {
  const TCharsetKind cs = AnsiCharsetKind();
  size_t lastPart = 0;
  char quote = 0;
  for (size_t i = 0; i < written.size();) {
    const char c = written[i];
    const size_t n = MbCharLen(cs, written.data() + i, written.data() + written.size());
    if (n == 1) {
      if (quote != 0) {
        if (c == quote) quote = 0;
      } else if (c == '`' || c == '"' || c == '\'') {
        quote = c;
      } else if (c == '.') {
        lastPart = i + 1;
      }
    }
    i += n;
  }
  return UnquoteName(written.substr(lastPart));
}
