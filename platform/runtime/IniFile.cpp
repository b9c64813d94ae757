#include "platform/runtime/IniFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/runtime/Charset.h"

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
bool SectionName(std::string_view line, std::string_view& name) {
  line = Trim(line);
  if (line.size() < 2 || line.front() != '[') return false;
  const TCharsetKind cs = AnsiCharsetKind();
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

}  // namespace

bool SameIniName(std::string_view a, std::string_view b) noexcept {
  if (a.size() != b.size()) return false;
  TCharsetKind cs = AnsiCharsetKind();
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
  std::error_code ec;
  if (!std::filesystem::exists(FFileName, ec)) return;
  std::ifstream in(FFileName, std::ios::binary);
  if (!in) throw EIniFileException("Unable to read " + FFileName);
  std::ostringstream buf;
  buf << in.rdbuf();
  if (in.bad()) throw EIniFileException("Unable to read " + FFileName);
  std::string text = buf.str();
  // A UTF-8 byte-order mark, as Windows editors write it, is no part of the first line; it is
  // written back in front of the lines.
  if (text.compare(0, kUtf8Bom.size(), kUtf8Bom) == 0) {
    FBom = kUtf8Bom;
    text.erase(0, kUtf8Bom.size());
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

size_t TIniFile::FindSection(std::string_view section) const {
  std::string_view name;
  for (size_t i = 0; i < FLines.size(); ++i)
    if (SectionName(FLines[i].Raw, name) && SameIniName(name, Trim(section))) return i;
  return npos;
}

size_t TIniFile::SectionEnd(size_t header) const {
  std::string_view name;
  size_t i = header + 1;
  while (i < FLines.size() && !SectionName(FLines[i].Raw, name)) ++i;
  return i;
}

size_t TIniFile::FindKey(size_t header, std::string_view ident) const {
  std::string_view key, value;
  size_t end = SectionEnd(header);
  for (size_t i = header + 1; i < end; ++i)
    if (KeyValue(FLines[i].Raw, key, value) && SameIniName(key, Trim(ident))) return i;
  return npos;
}

std::string TIniFile::ReadString(std::string_view section, std::string_view ident,
                                 std::string_view def) const {
  size_t header = FindSection(section);
  size_t at = header == npos ? npos : FindKey(header, ident);
  if (at == npos) return std::string(def);
  std::string_view key, value;
  KeyValue(FLines[at].Raw, key, value);
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
    value = value.substr(1, value.size() - 2);
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

void TIniFile::PutValue(std::string_view section, std::string_view ident, std::string_view value) {
  std::string entry = std::string(Trim(ident)) + "=" + std::string(value);
  size_t header = FindSection(section);
  if (header == npos) {
    FLines.push_back({"[" + std::string(Trim(section)) + "]"});
    FLines.push_back({std::move(entry)});
  } else if (size_t at = FindKey(header, ident); at != npos) {
    std::string_view raw = FLines[at].Raw;
    FLines[at].Raw = std::string(raw.substr(0, raw.find('=') + 1)) + std::string(value);
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
    if (SectionName(line.Raw, name)) result.emplace_back(name);
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
  std::string text = FBom;
  for (const TLine& line : FLines) text += line.Raw + "\r\n";
  return text;
}

void TIniFile::Save(const std::vector<TLine>& lines) {
  std::string text = FBom;
  for (const TLine& line : lines) text += line.Raw + "\r\n";
  std::string temp = FFileName + ".new";
  {
    // The new text takes the file's place with the file's permissions (a file of passwords
    // stays private); a new file gets the usual ones.
    struct stat st {};
    const bool exists = ::stat(FFileName.c_str(), &st) == 0;
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
  if (std::rename(temp.c_str(), FFileName.c_str()) != 0) {
    std::remove(temp.c_str());
    throw EIniFileException("Unable to write to " + FFileName);
  }
}
