#include "mysql/MySqlLocalInfile.h"

#include <optional>
#include <string>

namespace {

// A minimal scanner over SQL text: words, string literals and the statement separator, with
// comments and other tokens skipped.
class TStatementScanner {
 public:
  TStatementScanner(std::string_view sql, TCharsetKind cs) : FSql(sql), FCs(cs) {}

  enum class TToken { End, Separator, Word, Literal, Other };

  TToken Next(std::string& text) {
    SkipSpaceAndComments();
    text.clear();
    if (FPos >= FSql.size()) return TToken::End;
    const char c = FSql[FPos];
    if (c == ';') {
      ++FPos;
      return TToken::Separator;
    }
    if (c == '\'' || c == '"') return ReadLiteral(c, text) ? TToken::Literal : TToken::End;
    if (c == '`') {
      SkipQuoted('`');
      return TToken::Other;
    }
    if (IsWordChar(c)) {
      while (FPos < FSql.size() && IsWordChar(FSql[FPos])) text.push_back(Upper(FSql[FPos++]));
      return TToken::Word;
    }
    FPos += CharLen();
    return TToken::Other;
  }

 private:
  std::string_view FSql;
  TCharsetKind FCs;
  size_t FPos = 0;

  static bool IsWordChar(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '$';
  }
  static char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }
  size_t CharLen() const { return MbCharLen(FCs, FSql.data() + FPos, FSql.data() + FSql.size()); }

  void SkipSpaceAndComments() {
    while (FPos < FSql.size()) {
      const char c = FSql[FPos];
      if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v') {
        ++FPos;
      } else if (c == '#' || (FSql.substr(FPos, 2) == "--" &&
                              (FPos + 2 >= FSql.size() ||
                               std::string_view(" \t\r\n").find(FSql[FPos + 2]) != std::string_view::npos))) {
        const size_t eol = FSql.find('\n', FPos);
        FPos = eol == std::string_view::npos ? FSql.size() : eol + 1;
      } else if (FSql.substr(FPos, 2) == "/*") {
        const size_t end = FSql.find("*/", FPos + 2);
        FPos = end == std::string_view::npos ? FSql.size() : end + 2;
      } else {
        return;
      }
    }
  }

  void SkipQuoted(char quote) {
    ++FPos;
    while (FPos < FSql.size()) {
      if (FSql[FPos++] == quote) {
        if (FPos < FSql.size() && FSql[FPos] == quote)
          ++FPos;
        else
          return;
      }
    }
  }

  // The literal's value with escapes and doubled quotes resolved; false when it is unterminated.
  bool ReadLiteral(char quote, std::string& value) {
    ++FPos;
    while (FPos < FSql.size()) {
      const size_t len = CharLen();
      if (len > 1) {
        value.append(FSql.substr(FPos, len));
        FPos += len;
        continue;
      }
      const char c = FSql[FPos++];
      if (c == quote) {
        if (FPos < FSql.size() && FSql[FPos] == quote) {
          value.push_back(quote);
          ++FPos;
          continue;
        }
        return true;
      }
      if (c != '\\' || FPos >= FSql.size()) {
        value.push_back(c);
        continue;
      }
      const char e = FSql[FPos++];
      switch (e) {
        case '0':
          value.push_back('\0');
          break;
        case 'b':
          value.push_back('\b');
          break;
        case 'n':
          value.push_back('\n');
          break;
        case 'r':
          value.push_back('\r');
          break;
        case 't':
          value.push_back('\t');
          break;
        case 'Z':
          value.push_back('\x1A');
          break;
        case '%':
        case '_':
          value.push_back('\\');
          value.push_back(e);
          break;
        default:
          value.push_back(e);
      }
    }
    return false;
  }
};

// Matches LOAD DATA|XML [LOW_PRIORITY|CONCURRENT] LOCAL INFILE '<literal>' at a statement's start.
std::optional<std::string> LocalFileOfStatement(TStatementScanner& s, bool& atEnd) {
  static constexpr const char* kPattern[] = {"LOAD", "DATA|XML", "?LOW_PRIORITY|CONCURRENT", "LOCAL",
                                             "INFILE"};
  std::string text;
  using T = TStatementScanner::TToken;
  T tok = s.Next(text);
  bool isLoadLocal = true;
  for (std::string_view want : kPattern) {
    const bool optional = want.front() == '?';
    if (optional) want.remove_prefix(1);
    bool matched = false;
    if (tok == T::Word) {
      for (size_t p = 0; p <= want.size();) {
        const size_t bar = want.find('|', p);
        const std::string_view alt =
            want.substr(p, bar == std::string_view::npos ? std::string_view::npos : bar - p);
        if (alt == text) matched = true;
        if (bar == std::string_view::npos) break;
        p = bar + 1;
      }
    }
    if (matched) {
      tok = s.Next(text);
    } else if (!optional) {
      isLoadLocal = false;
      break;
    }
  }
  std::optional<std::string> file;
  if (isLoadLocal && tok == T::Literal) file = text;
  // Skip to the end of this statement.
  while (tok != T::End && tok != T::Separator) tok = s.Next(text);
  atEnd = tok == T::End;
  return file;
}

}  // namespace

bool MySqlStatementNamesLocalFile(std::string_view sql, std::string_view fileName, TCharsetKind cs) noexcept {
  try {
    TStatementScanner scanner(sql, cs);
    for (bool atEnd = false; !atEnd;) {
      const auto file = LocalFileOfStatement(scanner, atEnd);
      if (file && *file == fileName) return true;
    }
  } catch (...) {
    // Out of memory while scanning: refuse the file.
  }
  return false;
}
