#include "platform/runtime/IniFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

constexpr size_t npos = std::string::npos;

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

char FoldAscii(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// The name of a "[name]" line, or false for any other line. The closing bracket is found
// character by character: a GBK trail byte may be 0x5D.
bool SectionName(std::string_view line, std::string_view& name, TCharsetKind cs) {
  line = Trim(line);
  if (line.size() < 2 || line.front() != '[') return false;
  const char* end = line.data() + line.size();
  size_t close = 1;
  while (close < line.size() && line[close] != ']') close += MbCharLen(cs, line.data() + close, end);
  if (close >= line.size()) return false;
  name = Trim(line.substr(1, close - 1));
  return true;
}

// Key and value of a "key=value" line; comments and lines without '=' have none.
bool KeyValue(std::string_view line, std::string_view& key, std::string_view& value) {
  std::string_view t = Trim(line);
  if (t.empty() || t.front() == ';' || t.front() == '#' || t.front() == '[') return false;
  size_t eq = line.find('=');
  if (eq == npos) return false;
  key = Trim(line.substr(0, eq));
  value = Trim(line.substr(eq + 1));
  return !key.empty();
}

// The reader takes a value's outer blanks and one pair of enclosing quotes away.
bool Unquotes(std::string_view v) {
  return v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front();
}

// The value as its line holds it, so that the reader gives it back whole.
std::string Quoted(std::string_view value) {
  if (Trim(value).size() != value.size() || Unquotes(value)) return "\"" + std::string(value) + "\"";
  return std::string(value);
}

bool HasLineBreak(std::string_view s) {
  return s.find_first_of(std::string_view("\r\n\0", 3)) != npos;
}

bool ValidUtf8(std::string_view s) {
  const char* end = s.data() + s.size();
  for (size_t i = 0; i < s.size();) {
    const size_t len = MbCharLen(TCharsetKind::Utf8, s.data() + i, end);
    if (len == 1 && static_cast<unsigned char>(s[i]) >= 0x80) return false;
    i += len;
  }
  return true;
}

// The file that path names once symbolic links are followed: the one to replace on a write,
// so that the link stays.
std::string LinkTarget(const std::string& path) {
  std::string p = path;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st {};
    if (::lstat(p.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return p;
    std::string target(static_cast<size_t>(st.st_size > 0 ? st.st_size : 255) + 1, '\0');
    const ssize_t n = ::readlink(p.c_str(), target.data(), target.size());
    if (n <= 0 || static_cast<size_t>(n) >= target.size()) return p;
    target.resize(static_cast<size_t>(n));
    if (target.front() != '/') {
      const size_t slash = p.rfind('/');
      if (slash != npos) target = p.substr(0, slash + 1) + target;
    }
    p = std::move(target);
  }
  throw EIniFileException("Unable to write to " + path + ": too many symbolic links");
}

// The file's bytes; false when there is no file. Only a regular file within the bound is
// opened, and without waiting: a FIFO put in its place between the two looks is not read.
bool ReadBounded(const std::string& path, std::string& text) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) return false;
    throw EIniFileException("Unable to read " + path + ": " + std::strerror(errno));
  }
  auto check = [&path](const struct stat& s) {
    if (!S_ISREG(s.st_mode)) throw EIniFileException("Unable to read " + path + ": not a regular file");
    if (s.st_size > static_cast<off_t>(kIniFileLimit))
      throw EIniFileException("Unable to read " + path + ": larger than 1 MiB");
  };
  check(st);
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) throw EIniFileException("Unable to read " + path + ": " + std::strerror(errno));
  try {
    if (::fstat(fd, &st) != 0) throw EIniFileException("Unable to read " + path);
    check(st);
    char buf[16384];
    for (;;) {
      const ssize_t n = ::read(fd, buf, sizeof buf);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) throw EIniFileException("Unable to read " + path + ": " + std::strerror(errno));
      if (n == 0) break;
      text.append(buf, static_cast<size_t>(n));
      if (text.size() > kIniFileLimit)
        throw EIniFileException("Unable to read " + path + ": larger than 1 MiB");
    }
  } catch (...) {
    ::close(fd);
    throw;
  }
  ::close(fd);
  return true;
}

std::u16string Utf16Units(std::string_view bytes, bool bigEndian) {
  std::u16string units(bytes.size() / 2, u'\0');
  for (size_t i = 0; i < units.size(); ++i) {
    const auto hi = static_cast<unsigned char>(bytes[2 * i + (bigEndian ? 0 : 1)]);
    const auto lo = static_cast<unsigned char>(bytes[2 * i + (bigEndian ? 1 : 0)]);
    units[i] = static_cast<char16_t>(hi << 8 | lo);
  }
  return units;
}

std::string Utf16Bytes(std::u16string_view units, bool bigEndian) {
  std::string bytes(units.size() * 2, '\0');
  for (size_t i = 0; i < units.size(); ++i) {
    bytes[2 * i + (bigEndian ? 0 : 1)] = static_cast<char>(units[i] >> 8);
    bytes[2 * i + (bigEndian ? 1 : 0)] = static_cast<char>(units[i] & 0xFF);
  }
  return bytes;
}

}  // namespace

bool SameIniName(std::string_view a, std::string_view b) noexcept {
  return SameIniName(a, b, AnsiCharsetKind());
}

bool SameIniName(std::string_view a, std::string_view b, TCharsetKind cs) noexcept {
  if (a.size() != b.size()) return false;
  const char* end = a.data() + a.size();
  for (size_t i = 0; i < a.size();) {
    size_t len = MbCharLen(cs, a.data() + i, end);
    if (len > 1) {
      if (a.compare(i, len, b, i, len) != 0) return false;
    } else if (FoldAscii(a[i]) != FoldAscii(b[i])) {
      return false;
    }
    i += len;
  }
  return true;
}

TIniFile::TIniFile(std::string fileName) : FFileName(std::move(fileName)) {
  std::string text;
  if (ReadBounded(FFileName, text)) Decode(std::move(text));
}

void TIniFile::Decode(std::string text) {
  auto startsWith = [&text](std::string_view mark) { return text.compare(0, mark.size(), mark) == 0; };
  if (startsWith(std::string_view("\xFF\xFE\0\0", 4)) || startsWith(std::string_view("\0\0\xFE\xFF", 4)))
    throw EIniFileException("Unable to read " + FFileName + ": it is UTF-32 text");
  // A UTF-8 byte-order mark, as Windows editors write it, is no part of the first line; it is
  // written back in front of the lines.
  if (startsWith(kUtf8Bom)) {
    FEncoding = TIniEncoding::Utf8;
    FBom = kUtf8Bom;
    text.erase(0, kUtf8Bom.size());
  } else if (startsWith("\xFF\xFE") || startsWith("\xFE\xFF")) {
    FEncoding = text[0] == '\xFF' ? TIniEncoding::Utf16LE : TIniEncoding::Utf16BE;
    FBom = text.substr(0, 2);
    text.erase(0, 2);
  } else if (text.size() >= 2 && (text[0] == '\0') != (text[1] == '\0')) {
    // No settings text holds a zero byte; one beside the first ASCII character is UTF-16.
    FEncoding = text[0] == '\0' ? TIniEncoding::Utf16BE : TIniEncoding::Utf16LE;
  }
  // No settings text starts with a zero byte (nor does anything a write adds).
  if (FEncoding == TIniEncoding::Ansi && !text.empty() && text[0] == '\0')
    throw EIniFileException("Unable to read " + FFileName + ": it is no text");
  if (FEncoding == TIniEncoding::Utf16LE || FEncoding == TIniEncoding::Utf16BE) {
    const bool bigEndian = FEncoding == TIniEncoding::Utf16BE;
    const std::u16string units = Utf16Units(text, bigEndian);
    std::string utf8 = WideToUtf8(units);
    // Only text that comes back unit for unit: a write must not change what it did not touch.
    if (text.size() % 2 != 0 || Utf8ToWide(utf8) != units)
      throw EIniFileException("Unable to read " + FFileName + ": it is not valid UTF-16 text");
    text = std::move(utf8);
  }
  size_t pos = 0;
  while (pos < text.size()) {
    size_t lf = text.find('\n', pos);
    size_t end = lf == npos ? text.size() : lf;
    std::string line = text.substr(pos, end - pos);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    FLines.push_back({std::move(line)});
    pos = lf == npos ? text.size() : lf + 1;
  }
}

bool TIniFile::CanHold(std::string_view value) const {
  if (HasLineBreak(value)) return false;
  return FEncoding == TIniEncoding::Ansi || FEncoding == TIniEncoding::Utf8 || ValidUtf8(value);
}

std::string TIniFile::WriteProblem(std::string_view section, std::string_view ident,
                                   std::string_view value) const {
  section = Trim(section);
  ident = Trim(ident);
  // The lines the write makes must read back as the section, key and value written.
  std::string_view name, key, read;
  const std::string header = "[" + std::string(section) + "]",
                    entry = std::string(ident) + "=" + Quoted(value);
  if (section.empty() || !CanHold(section) || !SectionName(header, name, Kind()) || name != section)
    return "no section can be named " + std::string(section);
  if (ident.empty() || !CanHold(ident) || !KeyValue(entry, key, read) || key != ident)
    return "no key can be named " + std::string(ident);
  if (Unquotes(read)) read = read.substr(1, read.size() - 2);
  if (!CanHold(value) || read != value)
    return "the value of " + std::string(ident) + " holds a line break or is no text";
  return {};
}

size_t TIniFile::FindSection(std::string_view section) const {
  std::string_view name;
  for (size_t i = 0; i < FLines.size(); ++i)
    if (SectionName(FLines[i].Raw, name, Kind()) && SameIniName(name, Trim(section), Kind())) return i;
  return npos;
}

size_t TIniFile::SectionEnd(size_t header) const {
  std::string_view name;
  size_t i = header + 1;
  while (i < FLines.size() && !SectionName(FLines[i].Raw, name, Kind())) ++i;
  return i;
}

size_t TIniFile::FindKey(size_t header, std::string_view ident) const {
  std::string_view key, value;
  size_t end = SectionEnd(header);
  for (size_t i = header + 1; i < end; ++i)
    if (KeyValue(FLines[i].Raw, key, value) && SameIniName(key, Trim(ident), Kind())) return i;
  return npos;
}

std::string TIniFile::ReadString(std::string_view section, std::string_view ident,
                                 std::string_view def) const {
  size_t header = FindSection(section);
  size_t at = header == npos ? npos : FindKey(header, ident);
  if (at == npos) return std::string(def);
  std::string_view key, value;
  KeyValue(FLines[at].Raw, key, value);
  if (Unquotes(value)) value = value.substr(1, value.size() - 2);
  return std::string(value);
}

int TIniFile::ReadInteger(std::string_view section, std::string_view ident, int def) const {
  std::string text = ReadString(section, ident, "");
  std::string_view s = text;
  int base = 10;
  bool negative = !s.empty() && s.front() == '-';
  if (negative || (!s.empty() && s.front() == '+')) s.remove_prefix(1);
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    s.remove_prefix(2);
    base = 16;
  }
  long long v = 0;
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v, base);
  if (s.empty() || ec != std::errc() || p != s.data() + s.size()) return def;
  if (negative) v = -v;
  if (v < INT32_MIN || v > INT32_MAX) return def;
  return static_cast<int>(v);
}

bool TIniFile::ReadBool(std::string_view section, std::string_view ident, bool def) const {
  std::string text = ReadString(section, ident, "");
  if (SameIniName(text, "true")) return true;
  if (SameIniName(text, "false")) return false;
  constexpr int kNotNumber = INT32_MIN;
  int v = ReadInteger(section, ident, kNotNumber);
  if (v == kNotNumber) return def;
  return v != 0;
}

void TIniFile::PutValue(std::string_view section, std::string_view ident, std::string_view rawValue) {
  if (std::string problem = WriteProblem(section, ident, rawValue); !problem.empty())
    throw EIniFileException("Unable to write to " + FFileName + ": " + problem);
  const std::string value = Quoted(rawValue);
  std::string entry = std::string(Trim(ident)) + "=" + value;
  size_t header = FindSection(section);
  if (header == npos) {
    FLines.push_back({"[" + std::string(Trim(section)) + "]"});
    FLines.push_back({std::move(entry)});
  } else if (size_t at = FindKey(header, ident); at != npos) {
    std::string_view raw = FLines[at].Raw;
    FLines[at].Raw = std::string(raw.substr(0, raw.find('=') + 1)) + value;
  } else {
    // After the section's last non-blank line, so the blank line before the next section stays.
    size_t end = SectionEnd(header);
    while (end > header + 1 && Trim(FLines[end - 1].Raw).empty()) --end;
    FLines.insert(FLines.begin() + static_cast<std::ptrdiff_t>(end), {std::move(entry)});
  }
}

void TIniFile::WriteString(std::string_view section, std::string_view ident, std::string_view value) {
  WriteValues({{std::string(section), std::string(ident), std::string(value)}});
}

void TIniFile::WriteValues(const std::vector<TIniValue>& values) {
  std::vector<TLine> before = FLines;
  try {
    for (const TIniValue& v : values) PutValue(v.Section, v.Ident, v.Value);
    Save(FLines);
  } catch (...) {
    FLines = std::move(before);
    throw;
  }
}

void TIniFile::WriteInteger(std::string_view section, std::string_view ident, int value) {
  WriteString(section, ident, std::to_string(value));
}

std::vector<std::string> TIniFile::ReadSections() const {
  std::vector<std::string> result;
  std::string_view name;
  for (const TLine& line : FLines)
    if (SectionName(line.Raw, name, Kind())) result.emplace_back(name);
  return result;
}

std::vector<std::string> TIniFile::ReadSection(std::string_view section) const {
  std::vector<std::string> result;
  size_t header = FindSection(section);
  if (header == npos) return result;
  std::string_view key, value;
  for (size_t i = header + 1, end = SectionEnd(header); i < end; ++i)
    if (KeyValue(FLines[i].Raw, key, value)) result.emplace_back(key);
  return result;
}

bool TIniFile::SectionExists(std::string_view section) const {
  return FindSection(section) != npos;
}

bool TIniFile::ValueExists(std::string_view section, std::string_view ident) const {
  size_t header = FindSection(section);
  return header != npos && FindKey(header, ident) != npos;
}

void TIniFile::EraseSection(std::string_view section) {
  size_t header = FindSection(section);
  if (header == npos) return;
  std::vector<TLine> lines = FLines;
  lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(header),
              lines.begin() + static_cast<std::ptrdiff_t>(SectionEnd(header)));
  Save(lines);
  FLines = std::move(lines);
}

std::string TIniFile::Text() const {
  return Encode(FLines);
}

std::string TIniFile::Encode(const std::vector<TLine>& lines) const {
  std::string text;
  for (const TLine& line : lines) text += line.Raw + "\r\n";
  if (FEncoding == TIniEncoding::Utf16LE || FEncoding == TIniEncoding::Utf16BE)
    text = Utf16Bytes(Utf8ToWide(text), FEncoding == TIniEncoding::Utf16BE);
  return FBom + text;
}

void TIniFile::Save(const std::vector<TLine>& lines) {
  const std::string text = Encode(lines);
  const std::string target = LinkTarget(FFileName);
  std::string temp = target + ".new";
  {
    // The new text takes the file's place with the file's permissions (a file of passwords
    // stays private); a new file gets the usual ones. What is not a regular file stays.
    struct stat st {};
    const bool exists = ::stat(target.c_str(), &st) == 0;
    if (exists && !S_ISREG(st.st_mode))
      throw EIniFileException("Unable to write to " + FFileName + ": not a regular file");
    const int fd =
        ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, exists ? st.st_mode & 0777 : 0666);
    bool written = fd >= 0 && (!exists || ::fchmod(fd, st.st_mode & 07777) == 0);
    for (size_t done = 0; written && done < text.size();) {
      const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
      if (n < 0 && errno == EINTR) continue;
      written = n > 0;
      if (written) done += static_cast<size_t>(n);
    }
    if (fd >= 0 && ::close(fd) != 0) written = false;
    if (!written) {
      std::remove(temp.c_str());
      throw EIniFileException("Unable to write to " + FFileName);
    }
  }
  if (std::rename(temp.c_str(), target.c_str()) != 0) {
    std::remove(temp.c_str());
    throw EIniFileException("Unable to write to " + FFileName);
  }
}
