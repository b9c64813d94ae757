// A model of how the server reads a quoted string literal in statement text of a given character
// set: it finds the literal's end the way the server's lexer does (a valid multi-byte character
// is skipped whole, "\" makes the next byte part of the literal, a doubled quote stays inside)
// and then unescapes the content. Tests and fuzz targets check our literals against it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/runtime/Charset.h"

struct TServerLiteral {
  std::string Value;  // the bytes the server stores
  size_t Length = 0;  // bytes of the literal in the text, both quotes included
};

// Reads the literal that starts with a quote at text[0]; nothing when the text ends first. With
// `noBackslashEscapes` (the sql_mode NO_BACKSLASH_ESCAPES) "\" is a plain character.
inline std::optional<TServerLiteral> ServerReadLiteral(std::string_view text, TCharsetKind cs,
                                                       bool noBackslashEscapes = false) {
  if (text.empty() || (text[0] != '\'' && text[0] != '"')) return std::nullopt;
  const char quote = text[0];
  const char* end = text.data() + text.size();
  TServerLiteral lit;
  for (size_t i = 1; i < text.size();) {
    const char* p = text.data() + i;
    size_t n = MbCharLen(cs, p, end);
    if (n > 1) {
      lit.Value.append(p, n);
      i += n;
      continue;
    }
    char c = *p;
    if (c == '\\' && !noBackslashEscapes) {
      if (i + 1 >= text.size()) return std::nullopt;
      char e = text[i + 1];
      switch (e) {
        case 'n':
          lit.Value += '\n';
          break;
        case 't':
          lit.Value += '\t';
          break;
        case 'r':
          lit.Value += '\r';
          break;
        case 'b':
          lit.Value += '\b';
          break;
        case '0':
          lit.Value += '\0';
          break;
        case 'Z':
          lit.Value += '\032';
          break;
        case '_':
        case '%':
          lit.Value += '\\';
          lit.Value += e;
          break;
        default:
          lit.Value += e;
          break;
      }
      i += 2;
      continue;
    }
    if (c == quote) {
      if (i + 1 < text.size() && text[i + 1] == quote) {
        lit.Value += quote;
        i += 2;
        continue;
      }
      lit.Length = i + 1;
      return lit;
    }
    lit.Value += c;
    ++i;
  }
  return std::nullopt;
}

// Reads a hex literal X'..' (upper or lower x, an even number of hex digits).
inline std::optional<TServerLiteral> ServerReadHexLiteral(std::string_view text) {
  if (text.size() < 3 || (text[0] != 'X' && text[0] != 'x') || text[1] != '\'') return std::nullopt;
  auto digit = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
  };
  size_t close = text.find('\'', 2);
  if (close == std::string_view::npos || (close - 2) % 2 != 0) return std::nullopt;
  TServerLiteral lit;
  for (size_t i = 2; i < close; i += 2) {
    int hi = digit(text[i]), lo = digit(text[i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    lit.Value += static_cast<char>(hi * 16 + lo);
  }
  lit.Length = close + 1;
  return lit;
}

// Either kind of literal.
inline std::optional<TServerLiteral> ServerReadAnyLiteral(std::string_view text, TCharsetKind cs) {
  if (!text.empty() && (text[0] == 'X' || text[0] == 'x')) return ServerReadHexLiteral(text);
  return ServerReadLiteral(text, cs);
}
