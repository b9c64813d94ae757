#include "console/DbIniSettings.h"

#include <fcntl.h>
#include <unistd.h>

#include <charconv>
#include <filesystem>

namespace {

constexpr const char* kCharsetItems[kCharsetCount] = {"默认", "utf8", "gbk", "gb2312", "latin1"};

int CharsetIndexOf(const TIniFile& ini, std::string_view section, std::string_view key) {
  int index = ini.ReadInteger(section, key, 0);
  return index >= 0 && index < kCharsetCount ? index : 0;
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
  ini.WriteValues(values);
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
  s.Server = ini.ReadString("DB", "Server", "");
  s.Port = ini.ReadString("DB", "DBport", "");
  s.CharsetIndex = CharsetIndexOf(ini, "DB", "DBcharset");
  s.AccDB = ini.ReadString("DB", "DBacc", "");
  s.CharDB = ini.ReadString("DB", "DBchar", "");
  s.LogDB = ini.ReadString("DB", "DBlog", "");
  s.Uid = ini.ReadString("DB", "Uid", "");
  s.Pwd = ini.ReadString("DB", "Pwd", "");
  s.SaveIni = ini.ReadBool("User", "saveini", false);
  return s;
}

TDbSettings TDbIni::ReadZone(std::string_view zone) const {
  TIniFile ini(FFileName);
  TDbSettings s;
  s.Server = ini.ReadString(zone, "areaaddr", "");
  s.Port = ini.ReadString(zone, "areaport", "");
  s.CharsetIndex = CharsetIndexOf(ini, zone, "areacharset");
  s.AccDB = ini.ReadString(zone, "areaacc", "");
  s.CharDB = ini.ReadString(zone, "areachar", "");
  s.LogDB = ini.ReadString(zone, "arealog", "");
  s.Uid = ini.ReadString(zone, "areauid", "");
  s.Pwd = ini.ReadString(zone, "areapwd", "");
  return s;
}

std::vector<std::string> TDbIni::ZoneNames() const {
  TIniFile ini(FFileName);
  std::vector<std::string> names;
  for (const std::string& section : ini.ReadSections()) {
    std::string name = ini.ReadString(section, "areaname", "");
    if (!name.empty()) names.push_back(std::move(name));
  }
  return names;
}

void TDbIni::SaveZone(std::string_view zone, const TDbSettings& s) const {
  TIniFile ini(FFileName);
  const std::string section(zone);
  // One save: a zone is never left with some of its keys, nor an update with some old values.
  ini.WriteValues({{section, "areaname", section},
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
    if (ini.ReadString(section, "areaname", "") == zone) return section;
  return std::nullopt;
}

void TDbIni::EraseSection(std::string_view section) const {
  TIniFile ini(FFileName);
  ini.EraseSection(section);
}

void TDbIni::SaveDB(const TDbSettings& settings) const {
  TIniFile ini(FFileName);
  std::vector<TIniValue> values = DBValues(settings, false);
  values.push_back({"User", "saveini", "-1"});
  ini.WriteValues(values);
}

void TDbIni::ResetDB() const {
  TIniFile ini(FFileName);
  std::vector<TIniValue> values = DBValues(DefaultDbSettings(), false);
  values.push_back({"User", "saveini", "false"});
  ini.WriteValues(values);
}
