#include "console/common/DbIniSettings.h"

#include <fcntl.h>
#include <unistd.h>

#include <charconv>
#include <filesystem>

#include "platform/runtime/Charset.h"

namespace {

constexpr const char* kCharsetItems[kCharsetCount] = {"默认", "utf8", "gbk", "gb2312", "latin1"};

int CharsetIndexOf(const TIniFile& ini, std::string_view section, std::string_view key) {
  int index = ini.ReadInteger(section, key, 0);
  return index >= 0 && index < kCharsetCount ? index : 0;
}

// The file's text as UTF-8.
std::string FromFile(const TIniFile& ini, std::string text) {
  return ini.Utf8Text() ? text : AnsiToUtf8(text);
}

// UTF-8 text as the file holds it; nothing when the file's code page lacks a character of it.
std::optional<std::string> ToFile(const TIniFile& ini, std::string_view text) {
  if (ini.Utf8Text()) return std::string(text);
  std::string ansi = Utf8ToAnsi(text);
  if (AnsiToUtf8(ansi) != text) return std::nullopt;
  return ansi;
}

std::string Read(const TIniFile& ini, std::string_view section, std::string_view key) {
  return FromFile(ini, ini.ReadString(section, key, ""));
}

// The writes in the file's text; EIniFileException when a name or value has no place there
// (the callers have refused such values with a message of their own).
void WriteAll(TIniFile& ini, std::vector<TIniValue> values) {
  for (TIniValue& v : values) {
    std::optional<std::string> section = ToFile(ini, v.Section), value = ToFile(ini, v.Value);
    if (!section || !value)
      throw EIniFileException("Unable to write to " + ini.FileName() + ": " + v.Ident +
                              " holds a character the file's code page lacks");
    v.Section = std::move(*section);
    v.Value = std::move(*value);
  }
  ini.WriteValues(values);
}

}  // namespace

const char* CharsetItemText(int index) noexcept {
  return kCharsetItems[index >= 0 && index < kCharsetCount ? index : 0];
}

TDbSettings DefaultDbSettings() {
  TDbSettings s;
  s.Server = "localhost";
  s.Port = "3306";
  s.CharsetIndex = 0;
  s.AccDB = "account";
  s.CharDB = "zqv";
  s.LogDB = "zqv_log";
  s.Uid = "root";
  s.Pwd = "480317";
  s.SaveIni = true;
  return s;
}

std::optional<int> ParsePort(std::string_view text) noexcept {
  if (text.empty() || text.size() > 5) return std::nullopt;
  int value = 0;
  auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || p != text.data() + text.size() || text.front() == '-' || text.front() == '+')
    return std::nullopt;
  if (value < 1 || value > 65535) return std::nullopt;
  return value;
}

bool TDbIni::EnsureExists() const {
  std::error_code ec;
  if (std::filesystem::exists(FFileName, ec)) return false;
  // It holds the database password: readable by its owner only, from the start (later writes
  // keep the file's permissions).
  const int fd = ::open(FFileName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd >= 0) ::close(fd);
  TIniFile ini(FFileName);
  std::vector<TIniValue> values = DBValues(DefaultDbSettings(), true);
  values.push_back({"User", "saveini", "True"});
  WriteAll(ini, std::move(values));
  return true;
}

// The keys of section DB; they are written together with what goes with them, so a write that
// fails leaves the file's settings as they were rather than half old and half new.
std::vector<TIniValue> TDbIni::DBValues(const TDbSettings& s, bool creating) const {
  return {{"DB", "Server", s.Server},
          {"DB", creating ? "DBPort" : "DBport", s.Port},
          {"DB", "DBcharset", std::to_string(s.CharsetIndex)},
          {"DB", "DBacc", s.AccDB},
          {"DB", "DBchar", s.CharDB},
          {"DB", "DBlog", s.LogDB},
          {"DB", "Uid", s.Uid},
          {"DB", "Pwd", s.Pwd}};
}

TDbSettings TDbIni::ReadDB() const {
  TIniFile ini(FFileName);
  TDbSettings s;
  s.Server = Read(ini, "DB", "Server");
  s.Port = Read(ini, "DB", "DBport");
  s.CharsetIndex = CharsetIndexOf(ini, "DB", "DBcharset");
  s.AccDB = Read(ini, "DB", "DBacc");
  s.CharDB = Read(ini, "DB", "DBchar");
  s.LogDB = Read(ini, "DB", "DBlog");
  s.Uid = Read(ini, "DB", "Uid");
  s.Pwd = Read(ini, "DB", "Pwd");
  s.SaveIni = ini.ReadBool("User", "saveini", false);
  return s;
}

TDbSettings TDbIni::ReadZone(std::string_view zone) const {
  TIniFile ini(FFileName);
  TDbSettings s;
  // A name the file's code page lacks names no section of it.
  const std::optional<std::string> found = ToFile(ini, zone);
  if (!found) return s;
  const std::string& section = *found;
  s.Server = Read(ini, section, "areaaddr");
  s.Port = Read(ini, section, "areaport");
  s.CharsetIndex = CharsetIndexOf(ini, section, "areacharset");
  s.AccDB = Read(ini, section, "areaacc");
  s.CharDB = Read(ini, section, "areachar");
  s.LogDB = Read(ini, section, "arealog");
  s.Uid = Read(ini, section, "areauid");
  s.Pwd = Read(ini, section, "areapwd");
  return s;
}

std::vector<std::string> TDbIni::ZoneNames() const {
  TIniFile ini(FFileName);
  std::vector<std::string> names;
  for (const std::string& section : ini.ReadSections()) {
    std::string name = Read(ini, section, "areaname");
    if (!name.empty()) names.push_back(std::move(name));
  }
  return names;
}

std::string TDbIni::ValueProblem(std::string_view value) const {
  TIniFile ini(FFileName);
  std::optional<std::string> text = ToFile(ini, value);
  if (!text) return "含有GBK编码以外的字符";
  if (!ini.CanHold(*text)) return "不能含有换行";
  return {};
}

void TDbIni::SaveZone(std::string_view zone, const TDbSettings& s) const {
  TIniFile ini(FFileName);
  const std::string section(zone);
  // One save: a zone is never left with some of its keys, nor an update with some old values.
  WriteAll(ini, {{section, "areaname", section},
                 {section, "areaaddr", s.Server},
                 {section, "areaport", s.Port},
                 {section, "areacharset", std::to_string(s.CharsetIndex)},
                 {section, "areaacc", s.AccDB},
                 {section, "areachar", s.CharDB},
                 {section, "arealog", s.LogDB},
                 {section, "areauid", s.Uid},
                 {section, "areapwd", s.Pwd}});
}

std::optional<std::string> TDbIni::ZoneSection(std::string_view zone) const {
  TIniFile ini(FFileName);
  for (const std::string& section : ini.ReadSections())
    if (Read(ini, section, "areaname") == zone) return FromFile(ini, section);
  return std::nullopt;
}

void TDbIni::EraseSection(std::string_view section) const {
  TIniFile ini(FFileName);
  if (std::optional<std::string> found = ToFile(ini, section)) ini.EraseSection(*found);
}

void TDbIni::SaveDB(const TDbSettings& settings) const {
  TIniFile ini(FFileName);
  std::vector<TIniValue> values = DBValues(settings, false);
  values.push_back({"User", "saveini", "-1"});
  WriteAll(ini, std::move(values));
}

void TDbIni::ResetDB() const {
  TIniFile ini(FFileName);
  std::vector<TIniValue> values = DBValues(DefaultDbSettings(), false);
  values.push_back({"User", "saveini", "false"});
  WriteAll(ini, std::move(values));
}
