// The login settings kept in DB.ini: section DB for the single server, one section per zone,
// and section User for whether the settings are kept. Widget-free, so tests drive it directly.
// Names and values are UTF-8 text here, whatever the file holds: ANSI (GBK) text, or UTF-8 or
// UTF-16 text after a byte-order mark. Each read opens the file again; a file that cannot be
// read raises EIniFileException naming it.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/runtime/IniFile.h"

// The items of the character-set choice; index 0 leaves each connection's character set as it is.
inline constexpr int kCharsetCount = 5;
// The item text in UTF-8 ("默认", "utf8", "gbk", "gb2312", "latin1"); index outside 0-4 is item 0.
const char* CharsetItemText(int index) noexcept;

struct TDbSettings {
  std::string Server;
  std::string Port;  // decimal text as typed
  int CharsetIndex = 0;
  std::string AccDB;
  std::string CharDB;
  std::string LogDB;
  std::string Uid;
  std::string Pwd;
  bool SaveIni = true;
};

// The values the file gets when it is created or reset.
TDbSettings DefaultDbSettings();

// A port in 1-65535 written as plain decimal digits; nothing for any other text.
std::optional<int> ParsePort(std::string_view text) noexcept;

class TDbIni {
 public:
  explicit TDbIni(std::string fileName) : FFileName(std::move(fileName)) {}

  const std::string& FileName() const noexcept { return FFileName; }

  // Writes the defaults when the file does not exist; true when it was created.
  bool EnsureExists() const;
  // Section DB and User's saveini. A character-set index that is no number or outside the
  // list is item 0; the file is left as it is.
  TDbSettings ReadDB() const;
  // The zone's section; SaveIni is not part of a zone.
  TDbSettings ReadZone(std::string_view zone) const;
  // The areaname of every section that has one, in file order.
  std::vector<std::string> ZoneNames() const;
  // Section [zone] with the nine keys of a zone; a section of that name is updated key by key,
  // all keys in one write.
  // The name is one CheckZoneName accepts. Raises EIniFileException when the file cannot be
  // written.
  void SaveZone(std::string_view zone, const TDbSettings& s) const;
  // Why value cannot be written into the file so that it reads back as it is (a line break, a
  // character the file's code page lacks), or empty when it can. UTF-8; it follows the name of
  // the field in a message.
  std::string ValueProblem(std::string_view value) const;
  // The first section in file order whose areaname is zone (exactly), or nothing.
  std::optional<std::string> ZoneSection(std::string_view zone) const;
  void EraseSection(std::string_view section) const;
  // Keeps the settings in section DB and saveini "-1".
  void SaveDB(const TDbSettings& settings) const;
  // Section DB back to the defaults and saveini "false".
  void ResetDB() const;

 private:
  std::vector<TIniValue> DBValues(const TDbSettings& s, bool creating) const;
  std::string FFileName;
};
