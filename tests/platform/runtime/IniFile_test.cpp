#include "platform/runtime/IniFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

// A file name in a fresh folder under TMPDIR, the folder removed when the test ends.
class TempIni {
 public:
  TempIni() {
    const char* dir = std::getenv("TMPDIR");
    std::string pattern = std::string(dir && *dir ? dir : "/tmp") + "/inifile_test_XXXXXX";
    FDir = mkdtemp(pattern.data());
  }
  ~TempIni() {
    ::unlink(Name().c_str());
    ::rmdir(FDir.c_str());
  }
  std::string Name() const { return FDir + "/DB.ini"; }
  void Put(const std::string& text) const { std::ofstream(Name(), std::ios::binary) << text; }
  std::string Get() const {
    std::ifstream in(Name(), std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }
  const std::string& Dir() const { return FDir; }

 private:
  std::string FDir;
};

const std::string kQingyun = "\xC7\xE0\xD4\xC6";  // 青云 in GBK
// Two GBK characters whose trail bytes are 'a' and 'A' (0x61, 0x41): they must not match.
const std::string kTrailLower = "\x81\x61";
const std::string kTrailUpper = "\x81\x41";

TEST(IniFile, ReadsFindingSectionsAndKeysWithoutCase) {
  TempIni f;
  f.Put("; settings\r\n[DB]\r\nServer = host1 \r\nDBport=3307\n[User]\r\nsaveini=\"True\"\r\n[" + kQingyun +
        "]\r\nareaname=" + kQingyun + "\r\n[" + kTrailLower + "]\r\nk=lower\r\n");
  TIniFile ini(f.Name());
  struct Case {
    const char* name;
    std::string section, key, expected;
  } cases[] = {
      {"exact", "DB", "Server", "host1"},
      {"section case", "db", "Server", "host1"},
      {"key case", "DB", "DBPORT", "3307"},
      {"LF only line end", "DB", "DBport", "3307"},
      {"quotes removed", "user", "saveini", "True"},
      {"GBK section and value", kQingyun, "AREANAME", kQingyun},
      {"GBK trail byte not folded", kTrailUpper, "k", "(none)"},
      {"GBK trail byte exact", kTrailLower, "K", "lower"},
      {"missing key", "DB", "Pwd", "(none)"},
      {"missing section", "Zone", "Server", "(none)"},
      {"comment is no key", "DB", "; settings", "(none)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ini.ReadString(c.section, c.key, "(none)"), c.expected);
  }
  EXPECT_EQ(ini.ReadSections(), (std::vector<std::string>{"DB", "User", kQingyun, kTrailLower}));
  EXPECT_EQ(ini.ReadSection("db"), (std::vector<std::string>{"Server", "DBport"}));
}

TEST(IniFile, ConvertsIntegersAndBooleans) {
  TempIni f;
  f.Put("[s]\r\nzero=0\r\nminus=-1\r\nhex=0x10\r\nword=abc\r\nbig=99999999999\r\nT=TRUE\r\nF=false\r\n");
  TIniFile ini(f.Name());
  struct Case {
    const char* key;
    int integer;
    bool boolean;
  } cases[] = {
      {"zero", 0, false}, {"minus", -1, true}, {"hex", 16, true}, {"word", 7, true},
      {"big", 7, true},   {"T", 7, true},      {"F", 7, false},   {"missing", 7, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key);
    EXPECT_EQ(ini.ReadInteger("s", c.key, 7), c.integer);
    EXPECT_EQ(ini.ReadBool("s", c.key, true), c.boolean);
  }
}

TEST(IniFile, WritesKeepCommentsOrderAndBytes) {
  TempIni f;
  f.Put("; keep me\n[DB]\nServer=a\n\n[Zone]\n# note\nareaname=" + kQingyun + "\n");
  TIniFile ini(f.Name());
  ini.WriteString("db", "SERVER", "b");       // replaced in place, the file's own spelling kept
  ini.WriteString("DB", "Pwd", "x=y");        // added after the section's last key
  ini.WriteInteger("New", "areaport", 3306);  // new section at the end
  EXPECT_EQ(f.Get(), "; keep me\r\n[DB]\r\nServer=b\r\nPwd=x=y\r\n\r\n[Zone]\r\n# note\r\nareaname=" +
                         kQingyun + "\r\n[New]\r\nareaport=3306\r\n");
  EXPECT_EQ(TIniFile(f.Name()).ReadString("DB", "pwd", ""), "x=y");
}

TEST(IniFile, SectionNameWhoseTrailByteIsABracket) {
  const std::string kZhu = "\xD4\x5D";  // 註 in GBK: its trail byte is ']'
  TempIni f;
  f.Put("[" + kZhu + "]\r\nareaname=" + kZhu + "\r\n");
  TIniFile ini(f.Name());
  EXPECT_EQ(ini.ReadSections(), (std::vector<std::string>{kZhu}));
  EXPECT_EQ(ini.ReadString(kZhu, "areaname", ""), kZhu);
  ini.WriteString(kZhu, "areaport", "3306");  // into the section, not a second one
  EXPECT_EQ(f.Get(), "[" + kZhu + "]\r\nareaname=" + kZhu + "\r\nareaport=3306\r\n");
}

TEST(IniFile, ByteOrderMarkIsNoPartOfTheFirstLineAndIsKept) {
  const std::string kBom = "\xEF\xBB\xBF";
  struct Case {
    const char* name;
    std::string text;      // the file as a Windows editor saved it
    std::string sections;  // the sections read, joined by '|'
    std::string written;   // the file after Server=b is written into [DB]
  } cases[] = {
      {"section first", kBom + "[DB]\r\nServer=a\r\n[Zone]\r\nareaname=" + kQingyun + "\r\n", "DB|Zone",
       kBom + "[DB]\r\nServer=b\r\n[Zone]\r\nareaname=" + kQingyun + "\r\n"},
      {"comment first", kBom + "; a=b\n[DB]\nServer=a\n", "DB", kBom + "; a=b\r\n[DB]\r\nServer=b\r\n"},
      {"mark only", kBom, "", kBom + "[DB]\r\nServer=b\r\n"},
      {"no mark", "[DB]\r\nServer=a\r\n", "DB", "[DB]\r\nServer=b\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempIni f;
    f.Put(c.text);
    TIniFile ini(f.Name());
    std::string sections;
    for (const std::string& s : ini.ReadSections()) sections += (sections.empty() ? "" : "|") + s;
    EXPECT_EQ(sections, c.sections);
    ini.WriteString("DB", "Server", "b");
    EXPECT_EQ(f.Get(), c.written);
    EXPECT_EQ(ini.Text(), c.written);
    EXPECT_EQ(TIniFile(f.Name()).ReadString("db", "SERVER", ""), "b");
  }
}

TEST(IniFile, EraseSectionRemovesOnlyThatSection) {
  TempIni f;
  f.Put("[DB]\r\nServer=a\r\n[zone1]\r\nareaname=zone1\r\n; zone comment\r\n[zone2]\r\nareaname=zone2\r\n");
  TIniFile ini(f.Name());
  ini.EraseSection("ZONE1");
  ini.EraseSection("absent");
  EXPECT_EQ(f.Get(), "[DB]\r\nServer=a\r\n[zone2]\r\nareaname=zone2\r\n");
  EXPECT_FALSE(ini.SectionExists("zone1"));
}

TEST(IniFile, MissingFileIsEmptyUntilWritten) {
  TempIni f;
  TIniFile ini(f.Name());
  EXPECT_TRUE(ini.ReadSections().empty());
  EXPECT_EQ(ini.ReadString("DB", "Server", "def"), "def");
  ini.WriteString("DB", "Server", "localhost");
  EXPECT_EQ(f.Get(), "[DB]\r\nServer=localhost\r\n");
}

TEST(IniFile, FailedWriteKeepsFileAndMemory) {
  TempIni f;
  f.Put("[DB]\r\nServer=a\r\n");
  TIniFile ini(f.Name());
  // The new contents cannot be written: a folder stands where they would go.
  const std::string blocker = f.Name() + ".new";
  ::mkdir(blocker.c_str(), 0700);
  EXPECT_THROW(ini.WriteString("DB", "Server", "b"), EIniFileException);
  ::rmdir(blocker.c_str());
  EXPECT_EQ(ini.ReadString("DB", "Server", ""), "a");
  EXPECT_EQ(f.Get(), "[DB]\r\nServer=a\r\n");
}

}  // namespace
