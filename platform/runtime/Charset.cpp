#include "platform/runtime/Charset.h"

#include <iconv.h>
#include <strings.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

#include "platform/runtime/Exceptions.h"

namespace {

inline bool InRange(unsigned char c, unsigned lo, unsigned hi) {
  return c >= lo && c <= hi;
}

size_t Utf8Len(const unsigned char* p, const unsigned char* end) {
  unsigned char c = p[0];
  size_t avail = static_cast<size_t>(end - p);
  auto cont = [&](size_t i) { return i < avail && (p[i] & 0xC0) == 0x80; };
  if (c < 0xC2) return 1;
  if (c < 0xE0) return cont(1) ? 2 : 1;
  if (c < 0xF0) {
    if (!cont(1) || !cont(2)) return 1;
    if (c == 0xE0 && p[1] < 0xA0) return 1;   // overlong
    if (c == 0xED && p[1] >= 0xA0) return 1;  // surrogate
    return 3;
  }
  if (c < 0xF5) {
    if (!cont(1) || !cont(2) || !cont(3)) return 1;
    if (c == 0xF0 && p[1] < 0x90) return 1;
    if (c == 0xF4 && p[1] >= 0x90) return 1;
    return 4;
  }
  return 1;
}

}  // namespace

TCharsetKind CharsetKindByName(std::string_view name) {
  auto eq = [&](const char* s) {
    return name.size() == strlen(s) && strncasecmp(name.data(), s, name.size()) == 0;
  };
  if (eq("gbk")) return TCharsetKind::Gbk;
  if (eq("gb2312")) return TCharsetKind::Gb2312;
  if (eq("big5")) return TCharsetKind::Big5;
  if (eq("sjis") || eq("cp932")) return TCharsetKind::Sjis;
  if (eq("gb18030")) return TCharsetKind::Gb18030;
  if (eq("euckr")) return TCharsetKind::EucKr;
  if (eq("ujis") || eq("eucjpms")) return TCharsetKind::Ujis;
  if (eq("utf8") || eq("utf8mb3") || eq("utf8mb4") || eq("utf-8")) return TCharsetKind::Utf8;
  return TCharsetKind::SingleByte;
}

bool IsMbLead(TCharsetKind cs, unsigned char c) noexcept {
  switch (cs) {
    case TCharsetKind::SingleByte:
      return false;
    case TCharsetKind::Utf8:
      return c >= 0xC2 && c <= 0xF4;
    case TCharsetKind::Gbk:
    case TCharsetKind::Gb18030:
      return InRange(c, 0x81, 0xFE);
    case TCharsetKind::Gb2312:
      return InRange(c, 0xA1, 0xF7);
    case TCharsetKind::Big5:
      return InRange(c, 0xA1, 0xF9);
    case TCharsetKind::Sjis:
      return InRange(c, 0x81, 0x9F) || InRange(c, 0xE0, 0xFC);
    case TCharsetKind::EucKr:
      return InRange(c, 0x81, 0xFE);
    case TCharsetKind::Ujis:
      return InRange(c, 0xA1, 0xFE) || c == 0x8E || c == 0x8F;
  }
  return false;
}

size_t MbCharLen(TCharsetKind cs, const char* p, const char* end) noexcept {
  auto* u = reinterpret_cast<const unsigned char*>(p);
  auto* e = reinterpret_cast<const unsigned char*>(end);
  if (u >= e) return 1;
  unsigned char c = u[0];
  if (c < 0x80 || cs == TCharsetKind::SingleByte) return 1;
  if (cs == TCharsetKind::Utf8) return Utf8Len(u, e);
  if (!IsMbLead(cs, c) || e - u < 2) return 1;
  unsigned char t = u[1];
  switch (cs) {
    case TCharsetKind::Gbk:
      return (InRange(t, 0x40, 0x7E) || InRange(t, 0x80, 0xFE)) ? 2 : 1;
    case TCharsetKind::Gb18030:
      if (InRange(t, 0x40, 0x7E) || InRange(t, 0x80, 0xFE)) return 2;
      if (InRange(t, 0x30, 0x39) && e - u >= 4 && InRange(u[2], 0x81, 0xFE) && InRange(u[3], 0x30, 0x39))
        return 4;
      return 1;
    case TCharsetKind::Gb2312:
      return InRange(t, 0xA1, 0xFE) ? 2 : 1;
    case TCharsetKind::Big5:
      return (InRange(t, 0x40, 0x7E) || InRange(t, 0xA1, 0xFE)) ? 2 : 1;
    case TCharsetKind::Sjis:
      return (InRange(t, 0x40, 0x7E) || InRange(t, 0x80, 0xFC)) ? 2 : 1;
    case TCharsetKind::EucKr:
      return (InRange(t, 0x41, 0x5A) || InRange(t, 0x61, 0x7A) || InRange(t, 0x81, 0xFE)) ? 2 : 1;
    case TCharsetKind::Ujis:
      if (c == 0x8E) return InRange(t, 0xA1, 0xDF) ? 2 : 1;
      if (c == 0x8F) return (e - u >= 3 && InRange(t, 0xA1, 0xFE) && InRange(u[2], 0xA1, 0xFE)) ? 3 : 1;
      return InRange(t, 0xA1, 0xFE) ? 2 : 1;
    default:
      return 1;
  }
}

size_t MbCutLength(TCharsetKind cs, std::string_view text, size_t maxBytes) noexcept {
  if (text.size() <= maxBytes) return text.size();
  if (cs == TCharsetKind::SingleByte) return maxBytes;
  const char* p = text.data();
  const char* end = p + text.size();
  size_t pos = 0;
  while (pos < maxBytes) {
    size_t n = MbCharLen(cs, p + pos, end);
    if (pos + n > maxBytes) break;
    pos += n;
  }
  return pos;
}

// ---- code pages ---------------------------------------------------------------------------------

namespace {

std::atomic<int> gAnsiCodePage{936};

const char* IconvName(int codePage) {
  switch (codePage) {
    case 936:
      return "GBK";
    case 54936:
      return "GB18030";
    case 950:
      return "BIG5";
    case 932:
      return "CP932";
    case 949:
      return "CP949";
    case 1252:
      return "CP1252";
    case 28591:
      return "ISO-8859-1";
    case 65001:
      return "UTF-8";
    default:
      return nullptr;
  }
}

// One converter per thread and direction; iconv_t is not shareable across threads.
class Converter {
 public:
  Converter(const char* to, const char* from) : FCd(iconv_open(to, from)) {
    if (FCd == reinterpret_cast<iconv_t>(-1))
      throw EConvertError(std::string("No text converter from ") + from + " to " + to);
  }
  ~Converter() { iconv_close(FCd); }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  iconv_t get() {
    iconv(FCd, nullptr, nullptr, nullptr, nullptr);  // reset shift state
    return FCd;
  }

 private:
  iconv_t FCd;
};

Converter& GetConverter(const char* to, const char* from) {
  thread_local std::map<std::pair<std::string, std::string>, std::unique_ptr<Converter>> cache;
  auto key = std::make_pair(std::string(to), std::string(from));
  auto it = cache.find(key);
  if (it == cache.end()) it = cache.emplace(key, std::make_unique<Converter>(to, from)).first;
  return *it->second;
}

// Bytes in `from` to UTF-16LE. Bytes iconv cannot decode become U+FFFD one at a time.
std::u16string DecodeToWide(std::string_view text, const char* from) {
  std::u16string out;
  if (text.empty()) return out;
  out.resize(text.size() + 4);
  iconv_t cd = GetConverter("UTF-16LE", from).get();
  char* in = const_cast<char*>(text.data());
  size_t inLeft = text.size();
  size_t used = 0;  // in char16_t
  while (inLeft > 0) {
    if (out.size() - used < inLeft + 4) out.resize(used + inLeft + 4);
    char* outPtr = reinterpret_cast<char*>(out.data() + used);
    size_t outLeft = (out.size() - used) * 2;
    size_t before = outLeft;
    size_t r = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
    used += (before - outLeft) / 2;
    if (r == static_cast<size_t>(-1)) {
      if (errno == E2BIG) continue;
      // EILSEQ or EINVAL (cut at the end): the byte stands alone.
      if (used >= out.size()) out.resize(used + 4);
      out[used++] = u'\xFFFD';
      ++in;
      --inLeft;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
  }
  out.resize(used);
  return out;
}

// UTF-16LE to bytes in `to`. Characters `to` lacks, and lone surrogates, become `subst`.
std::string EncodeFromWide(std::u16string_view text, const char* to, char subst) {
  std::string out;
  if (text.empty()) return out;
  out.resize(text.size() * 2 + 8);
  iconv_t cd = GetConverter(to, "UTF-16LE").get();
  char* in = reinterpret_cast<char*>(const_cast<char16_t*>(text.data()));
  size_t inLeft = text.size() * 2;
  size_t used = 0;
  while (inLeft > 0) {
    if (out.size() - used < inLeft * 2 + 8) out.resize(used + inLeft * 2 + 8);
    char* outPtr = out.data() + used;
    size_t outLeft = out.size() - used;
    size_t before = outLeft;
    size_t r = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
    used += before - outLeft;
    if (r == static_cast<size_t>(-1)) {
      if (errno == E2BIG) continue;
      // Skip one character: a valid surrogate pair counts as one, anything else one unit.
      size_t skip = 2;
      if (inLeft >= 4) {
        char16_t hi, lo;
        std::memcpy(&hi, in, 2);
        std::memcpy(&lo, in + 2, 2);
        if (hi >= 0xD800 && hi <= 0xDBFF && lo >= 0xDC00 && lo <= 0xDFFF) skip = 4;
      }
      if (skip > inLeft) skip = inLeft;
      out[used++] = subst;
      in += skip;
      inLeft -= skip;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
  }
  out.resize(used);
  return out;
}

const char* CheckedName(int codePage) {
  const char* name = IconvName(codePage);
  if (!name) throw EConvertError("Unsupported code page " + std::to_string(codePage));
  return name;
}

}  // namespace

int GetAnsiCodePage() noexcept {
  return gAnsiCodePage.load();
}

void SetAnsiCodePage(int codePage) {
  CheckedName(codePage);
  gAnsiCodePage.store(codePage);
}

TCharsetKind CharsetKindOfCodePage(int codePage) noexcept {
  switch (codePage) {
    case 936:
      return TCharsetKind::Gbk;
    case 54936:
      return TCharsetKind::Gb18030;
    case 950:
      return TCharsetKind::Big5;
    case 932:
      return TCharsetKind::Sjis;
    case 949:
      return TCharsetKind::EucKr;
    case 65001:
      return TCharsetKind::Utf8;
    default:
      return TCharsetKind::SingleByte;
  }
}

TCharsetKind AnsiCharsetKind() noexcept {
  return CharsetKindOfCodePage(GetAnsiCodePage());
}

bool IsAnsiMultiByte() noexcept {
  return AnsiCharsetKind() != TCharsetKind::SingleByte;
}

std::u16string CodePageToWide(std::string_view text, int codePage) {
  return DecodeToWide(text, CheckedName(codePage));
}

std::string WideToCodePage(std::u16string_view text, int codePage) {
  return EncodeFromWide(text, CheckedName(codePage), '?');
}

std::u16string AnsiToWide(std::string_view text) {
  return CodePageToWide(text, GetAnsiCodePage());
}
std::string WideToAnsi(std::u16string_view text) {
  return WideToCodePage(text, GetAnsiCodePage());
}
std::u16string Utf8ToWide(std::string_view text) {
  return DecodeToWide(text, "UTF-8");
}
std::string WideToUtf8(std::u16string_view text) {
  return EncodeFromWide(text, "UTF-8", '?');
}
std::string AnsiToUtf8(std::string_view text) {
  return WideToUtf8(AnsiToWide(text));
}
std::string Utf8ToAnsi(std::string_view text) {
  return WideToAnsi(Utf8ToWide(text));
}
