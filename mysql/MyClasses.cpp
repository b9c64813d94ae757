#include "mysql/MyClasses.h"

#include <charconv>

#include "platform/runtime/Exceptions.h"

namespace {

constexpr int ErSyntaxError = 1064;

// Line number in a syntax-error message: the last run of digits, 0 when there is none or it
// does not fit.
int32_t LastNumberIn(std::string_view msg) {
  size_t end = msg.size();
  while (end > 0 && !(msg[end - 1] >= '0' && msg[end - 1] <= '9')) --end;
  size_t begin = end;
  while (begin > 0 && msg[begin - 1] >= '0' && msg[begin - 1] <= '9') --begin;
  int32_t value = 0;
  auto [ptr, ec] = std::from_chars(msg.data() + begin, msg.data() + end, value);
  (void)ptr;
  return ec == std::errc() ? value : 0;
}

// The escape letter of a byte that must not appear bare inside a literal, or 0.
template <typename Ch>
Ch EscapeOf(Ch c) noexcept {
  switch (c) {
    case 0: return '0';
    case '\n': return 'n';
    case '\r': return 'r';
    case 26: return 'Z';
    case '"':
    case '\'':
    case '\\': return c;
    default: return 0;
  }
}

}  // namespace

EMyError::EMyError(int errorCode, std::string msg) : EDAError(errorCode, std::move(msg)) {
  if (errorCode == ErSyntaxError) LineNumber = LastNumberIn(Message());
}

// ---- escaping and quoting ------------------------------------------------------------------

size_t EscapeString(char* dest, const char* src, size_t length, TCharsetKind charset) {
  const char* end = src + length;
  char* out = dest;
  const bool multiByte = charset != TCharsetKind::SingleByte;
  for (const char* p = src; p < end;) {
    if (multiByte && static_cast<unsigned char>(*p) >= 0x80) {
      size_t n = MbCharLen(charset, p, end);
      if (n > 1) {
        for (size_t i = 0; i < n; ++i) *out++ = *p++;
        continue;
      }
      // A lead byte without a valid trail: escaped, the server skips it as one byte and so
      // never pairs it with a backslash we insert before the next byte.
      if (IsMbLead(charset, static_cast<unsigned char>(*p))) *out++ = '\\';
      *out++ = *p++;
      continue;
    }
    char e = EscapeOf(*p);
    if (e != 0) {
      *out++ = '\\';
      *out++ = e;
    } else {
      *out++ = *p;
    }
    ++p;
  }
  *out = '\0';
  return static_cast<size_t>(out - dest);
}

size_t EscapeWideString(char16_t* dest, const char16_t* src, size_t length) {
  char16_t* out = dest;
  for (size_t i = 0; i < length; ++i) {
    char16_t e = EscapeOf(src[i]);
    if (e != 0) {
      *out++ = u'\\';
      *out++ = e;
    } else {
      *out++ = src[i];
    }
  }
  *out = 0;
  return static_cast<size_t>(out - dest);
}

std::string QuoteString(std::string_view src, TCharsetKind charset) {
  std::string result(2 * src.size() + 2, '\0');
  result[0] = '\'';
  size_t n = EscapeString(result.data() + 1, src.data(), src.size(), charset);
  result.resize(n + 2);
  result[n + 1] = '\'';
  return result;
}

std::u16string QuoteWideString(std::u16string_view src) {
  std::u16string result(2 * src.size() + 2, u'\0');
  result[0] = u'\'';
  size_t n = EscapeWideString(result.data() + 1, src.data(), src.size());
  result.resize(n + 2);
  result[n + 1] = u'\'';
  return result;
}

std::string QuoteBinary(std::string_view bytes, TCharsetKind connCharset) {
  if (connCharset == TCharsetKind::SingleByte || bytes.empty()) return QuoteString(bytes, connCharset);
  static constexpr char Digits[] = "0123456789ABCDEF";
  std::string result;
  result.reserve(2 * bytes.size() + 3);
  result += "X'";
  for (char c : bytes) {
    auto b = static_cast<unsigned char>(c);
    result += Digits[b >> 4];
    result += Digits[b & 0x0F];
  }
  result += '\'';
  return result;
}

// ---- identifiers -----------------------------------------------------------------------------

namespace {

bool IsNameQuote(char c) noexcept { return c == '`' || c == '"' || c == '\''; }

bool IsEnclosed(std::string_view value) noexcept {
  return value.size() >= 2 && IsNameQuote(value.front()) && value.back() == value.front();
}

// Position of the first point that is not inside quotes, or npos. A quote opens a quoted part
// only at the start of a part (the name's start or right after a point).
size_t FirstPointOutsideQuotes(std::string_view name) noexcept {
  char quote = 0;
  bool partStart = true;
  for (size_t i = 0; i < name.size(); ++i) {
    char c = name[i];
    if (quote != 0) {
      if (c == quote) {
        if (i + 1 < name.size() && name[i + 1] == quote) {
          ++i;  // a doubled quote stays inside
        } else {
          quote = 0;
        }
      }
      continue;
    }
    if (c == '.') {
      return i;
    }
    if (partStart && IsNameQuote(c)) quote = c;
    partStart = false;
  }
  return std::string_view::npos;
}

// A point inside a quoted part belongs to the name; one outside quotes separates parts.
void AssertNotDotted(std::string_view value, const char* func) {
  DA_ASSERT_MSG(FirstPointOutsideQuotes(value) == std::string_view::npos,
                std::string("In func ") + func + " delimited values not allowed");
}

bool IsPlainNameChar(char c) noexcept {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '$' || c == '#' || c == '@';
}

// A quoted name whose quote character appears inside only doubled, and (for string quotes)
// without backslashes, so that it ends exactly at its last character.
bool IsWellQuoted(std::string_view name) noexcept {
  if (!IsEnclosed(name)) return false;
  char q = name.front();
  std::string_view inner = name.substr(1, name.size() - 2);
  for (size_t i = 0; i < inner.size(); ++i) {
    if (inner[i] == '\\' && q != '`') return false;
    if (inner[i] != q) continue;
    if (i + 1 < inner.size() && inner[i + 1] == q) {
      ++i;
    } else {
      return false;
    }
  }
  return true;
}

std::string Backquoted(std::string_view name) {
  std::string result;
  result.reserve(name.size() + 2);
  result += '`';
  for (char c : name) {
    if (c == '`') result += '`';
    result += c;
  }
  result += '`';
  return result;
}

std::string BackquoteSimple(std::string_view name, bool force) {
  if (TMyTableInfo::IsQuotedName(name) && IsWellQuoted(name)) return std::string(name);
  if (force || TMyTableInfo::IsBracketNeeds(name)) return Backquoted(name);
  return std::string(name);
}

std::string UnquoteSimple(std::string_view name) {
  if (name.size() < 3) return std::string(name);
  if (TMyTableInfo::IsQuotedName(name) && !TMyTableInfo::IsBracketNeeds(name))
    return std::string(name.substr(1, name.size() - 2));
  return std::string(name);
}

}  // namespace

bool TMyTableInfo::IsQuotedName(std::string_view value) {
  AssertNotDotted(value, "IsQuotedName");
  return IsEnclosed(value);
}

std::string TMyTableInfo::UnQuote(std::string_view value) {
  if (IsQuotedName(value)) return std::string(value.substr(1, value.size() - 2));
  return std::string(value);
}

bool TMyTableInfo::IsBracketNeeds(std::string_view value) {
  AssertNotDotted(value, "IsBracketNeeds");
  for (char c : UnQuote(value))
    if (!IsPlainNameChar(c)) return true;
  return false;
}

std::string BackquoteName(std::string_view name, bool force) {
  size_t point = FirstPointOutsideQuotes(name);
  if (point == std::string_view::npos) return BackquoteSimple(name, force);
  if (point == 0 || point == name.size() - 1) return Backquoted(name);
  return BackquoteSimple(name.substr(0, point), false) + "." + BackquoteName(name.substr(point + 1));
}

std::string UnquoteName(std::string_view name) {
  if (name.size() < 3) return std::string(name);
  size_t point = FirstPointOutsideQuotes(name);
  if (point == std::string_view::npos) return UnquoteSimple(name);
  return UnquoteSimple(name.substr(0, point)) + "." + UnquoteName(name.substr(point + 1));
}

void SplitObjectName(std::string_view name, std::string& database, std::string& objName) {
  size_t point = FirstPointOutsideQuotes(name);
  if (point == std::string_view::npos) {
    database.clear();
    objName = UnquoteName(name);
    return;
  }
  database = UnquoteSimple(name.substr(0, point));
  objName = UnquoteName(name.substr(point + 1));
}

std::string EscapeBackquotes(std::string_view name) {
  size_t lead = IsEnclosed(name) ? 1 : 0;
  std::string_view inner = name.substr(lead, name.size() - 2 * lead);
  std::string result;
  result.reserve(name.size() + 8);
  result.append(name.substr(0, lead));
  for (size_t i = 0; i < inner.size(); ++i) {
    result += inner[i];
    if (inner[i] != '`' || i == 0 || i + 1 == inner.size()) continue;
    if (inner[i - 1] == '`' || inner[i + 1] == '`') continue;
    result += '`';
  }
  result.append(name.substr(name.size() - lead));
  return result;
}
