// Settings files (DB.ini, a game server's ini, the connect dialog's file) of any bytes, then one
// write: a write either is refused and leaves the file as it was, or its value reads back as
// written from the file saved, and every other key and section reads as before. DB.ini's own
// layer, over the same file, keeps a zone whose values are any text.
#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "console/common/DbIniSettings.h"
#include "platform/runtime/IniFile.h"

namespace {

const std::string& Path() {
  static const std::string path = [] {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir && *dir ? dir : "/tmp") + "/inifile_fuzz_" + std::to_string(::getpid()) + ".ini";
  }();
  return path;
}

std::string Bytes() {
  std::ifstream in(Path(), std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

using TEntries = std::vector<std::tuple<std::string, std::string, std::string>>;

TEntries Entries(const TIniFile& ini) {
  TEntries all;
  for (const std::string& section : ini.ReadSections())
    for (const std::string& key : ini.ReadSection(section))
      all.emplace_back(section, key, ini.ReadString(section, key, ""));
  return all;
}

void CheckWrite(const std::string& file, const std::string& section, const std::string& key,
                const std::string& value) {
  std::ofstream(Path(), std::ios::binary | std::ios::trunc) << file;
  std::unique_ptr<TIniFile> ini;
  try {
    ini = std::make_unique<TIniFile>(Path());
  } catch (const EIniFileException&) {
    return;  // no text this reader takes: refused with a reason
  }
  const TCharsetKind cs = ini->Utf8Text() ? TCharsetKind::Utf8 : AnsiCharsetKind();
  const TEntries before = Entries(*ini);
  const std::vector<std::string> sectionsBefore = ini->ReadSections();
  const bool known = ini->SectionExists(section);
  try {
    ini->WriteString(section, key, value);
  } catch (const EIniFileException&) {
    if (Bytes() != file) std::abort();  // a refused write changed the file
    return;
  }
  const TIniFile again(Path());
  if (again.Encoding() != ini->Encoding()) std::abort();
  if (again.ReadString(section, key, "\x01(none)") != value) std::abort();
  for (const auto& [s, k, v] : before) {
    if (SameIniName(s, Trim(section), cs) && SameIniName(k, Trim(key), cs)) continue;
    if (again.ReadString(s, k, "\x01(none)") != v) std::abort();
  }
  std::vector<std::string> sectionsAfter = again.ReadSections();
  if (!known && !sectionsAfter.empty()) {
    if (sectionsAfter.back() != Trim(section)) std::abort();
    sectionsAfter.pop_back();
  }
  if (sectionsAfter != sectionsBefore) std::abort();
}

void CheckZone(const std::string& file, const std::string& zone, const std::string& value) {
  std::ofstream(Path(), std::ios::binary | std::ios::trunc) << file;
  const TDbIni db(Path());
  try {
    if (!db.ValueProblem(value).empty() || !db.ValueProblem(zone).empty()) return;
    const TDbSettings s{value, value, 1, value, value, value, value, value, true};
    db.SaveZone(zone, s);
    const TDbSettings r = db.ReadZone(zone);
    for (const std::string* got : {&r.Server, &r.Port, &r.AccDB, &r.CharDB, &r.LogDB, &r.Uid, &r.Pwd})
      if (*got != value) std::abort();
  } catch (const EIniFileException&) {
    // An unreadable file, or a zone name no section can have.
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const std::string section = in.ConsumeRandomLengthString(64);
  const std::string key = in.ConsumeRandomLengthString(64);
  const std::string value = in.ConsumeRandomLengthString(128);
  const std::string file = in.ConsumeRemainingBytesAsString();
  CheckWrite(file, section, key, value);
  CheckZone(file, section, value);
  ::unlink(Path().c_str());
  ::unlink((Path() + ".new").c_str());
  return 0;
}
