#include "mysql/MySqlLocalInfile.h"

#include <optional>
#include <string>

#include "mysql/MyParser.h"

namespace {

std::string AsciiUpper(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}

// The value of a string literal as the lexer returns it with its quotes: escapes and doubled
// quotes resolved. Empty when the literal is unterminated (its closing quote is not the last byte).
std::optional<std::string> LiteralValue(std::string_view quoted, TCharsetKind cs) {
  const char quote = quoted.front();
  const char* const end = quoted.data() + quoted.size();
  std::string value;
  for (size_t pos = 1; pos < quoted.size();) {
    const size_t len = MbCharLen(cs, quoted.data() + pos, end);
    if (len > 1) {  // a trail byte is neither a quote nor a backslash
      value.append(quoted.substr(pos, len));
      pos += len;
      continue;
    }
    const char c = quoted[pos++];
    if (c == quote) {
      if (pos < quoted.size() && quoted[pos] == quote) {
        value.push_back(quote);
        ++pos;
        continue;
      }
      if (pos != quoted.size()) return std::nullopt;
      return value;
    }
    if (c != '\\' || pos >= quoted.size()) {
      value.push_back(c);
      continue;
    }
    const char e = quoted[pos++];
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
  return std::nullopt;
}

// Matches LOAD DATA|XML [LOW_PRIORITY|CONCURRENT] LOCAL INFILE '<literal>' at a statement's start
// and reads on to the statement's end; `atEnd` tells whether the text ends there.
std::optional<std::string> LocalFileOfStatement(TMyParser& parser, TCharsetKind cs, bool& atEnd) {
  static constexpr std::string_view kPattern[] = {"LOAD", "DATA|XML", "?LOW_PRIORITY|CONCURRENT", "LOCAL",
                                                  "INFILE"};
  std::string text;
  int code = parser.GetNext(text);
  bool isLoadLocal = true;
  for (std::string_view want : kPattern) {
    const bool optional = want.front() == '?';
    if (optional) want.remove_prefix(1);
    bool matched = false;
    if (code == lcIdent) {
      const std::string word = AsciiUpper(text);
      for (size_t p = 0; p <= want.size() && !matched;) {
        const size_t bar = want.find('|', p);
        matched = want.substr(p, bar == std::string_view::npos ? std::string_view::npos : bar - p) == word;
        p = bar == std::string_view::npos ? want.size() + 1 : bar + 1;
      }
    }
    if (matched) {
      code = parser.GetNext(text);
    } else if (!optional) {
      isLoadLocal = false;
      break;
    }
  }
  std::optional<std::string> file;
  if (isLoadLocal && code == lcString) {
    // The lexer ends a string at a doubled quote and starts the next one at once; in the
    // literal the pair stands for one quote.
    std::string quoted = text;
    for (int64_t end = parser.GetCurrPos(); (code = parser.GetNext(text)) == lcString &&
                                            parser.GetPrevPos() == end && text.front() == quoted.front();
         end = parser.GetCurrPos())
      quoted += text;
    file = LiteralValue(quoted, cs);
  }
  while (code != lcEnd && !parser.IsSemicolon(code)) code = parser.GetNext(text);
  atEnd = code == lcEnd;
  return file;
}

}  // namespace

bool MySqlStatementNamesLocalFile(std::string_view sql, std::string_view fileName, TCharsetKind cs) noexcept {
  try {
    // The lexer the SQL components use, so that this check reads statements as they do.
    TMyParser parser{std::string(sql), cs};
    parser.OmitComment = true;
    parser.KeepStringQuotes = true;
    parser.OmitKeywords = true;
    for (bool atEnd = false; !atEnd;) {
      const auto file = LocalFileOfStatement(parser, cs, atEnd);
      if (file && *file == fileName) return true;
    }
  } catch (...) {
    // A byte the lexer refuses, or out of memory: refuse the file.
  }
  return false;
}
