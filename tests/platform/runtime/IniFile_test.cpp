#include "platform/runtime/IniFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <functional>
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

// Whatever a value holds, it reads back as written; one that cannot (a line break) or a name no
// line could hold is refused, and the file stays as it was.
TEST(IniFile, ValuesReadBackAsWritten) {
  const std::string kCheng = "\xD5\x5C";  // 誠 in GBK: its trail byte is '\'
  const std::string kYin = "\x81\x5D";    // its trail byte is ']'
  const char* refused = "(refused)";
  struct Case {
    const char* name;
    std::string section, key, value;
    std::string line;  // as written, or refused
  } cases[] = {
      {"plain", "DB", "Pwd", "pw", "Pwd=pw"},
      {"single quotes", "DB", "Pwd", "'pw'", "Pwd=\"'pw'\""},
      {"double quotes", "DB", "Pwd", "\"pw\"", "Pwd=\"\"pw\"\""},
      {"one quote", "DB", "Pwd", "\"pw", "Pwd=\"pw"},
      {"outer blanks", "DB", "Pwd", " pw ", "Pwd=\" pw \""},
      {"outer tabs", "DB", "Pwd", "\tpw\t", "Pwd=\"\tpw\t\""},
      {"blanks only", "DB", "Pwd", "  ", "Pwd=\"  \""},
      {"equals, semicolon, bracket", "DB", "Pwd", "=;[x]#", "Pwd==;[x]#"},
      {"GBK trail bytes", kCheng + kYin, "Pwd", kYin + kCheng, "Pwd=" + kYin + kCheng},
      {"line feed", "DB", "Pwd", "a\nServer=x", refused},
      {"carriage return", "DB", "Pwd", "a\rb", refused},
      {"zero byte", "DB", "Pwd", std::string("a\0b", 3), refused},
      {"bracket in section", "a]b", "Pwd", "x", refused},
      {"equals in key", "DB", "a=b", "x", refused},
      {"comment key", "DB", ";a", "x", refused},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempIni f;
    const std::string before = "[DB]\r\nServer=a\r\n";
    f.Put(before);
    TIniFile ini(f.Name());
    if (c.line == refused) {
      EXPECT_THROW(ini.WriteString(c.section, c.key, c.value), EIniFileException);
      EXPECT_EQ(f.Get(), before);
      EXPECT_EQ(ini.Text(), before);
      continue;
    }
    ini.WriteString(c.section, c.key, c.value);
    EXPECT_NE(f.Get().find("\r\n" + c.line + "\r\n"), std::string::npos) << f.Get();
    EXPECT_EQ(TIniFile(f.Name()).ReadString(c.section, c.key, "(none)"), c.value);
    EXPECT_EQ(TIniFile(f.Name()).ReadString("DB", "Server", "(none)"), "a");
  }
}

// UTF-8 after its mark and UTF-16 come back as UTF-8 text and go back as they came; UTF-32 and
// broken UTF-16 are refused with the file's name.
TEST(IniFile, ReadsAndWritesTheFileInItsOwnEncoding) {
  const std::string kQingyunUtf8 = "\xE9\x9D\x92\xE4\xBA\x91";  // 青云
  auto utf16 = [](const std::string& ascii, bool be) {
    std::string out;
    for (char ch : ascii) out += be ? std::string{'\0', ch} : std::string{ch, '\0'};
    return out;
  };
  const std::string zoneLE = "\x52\x97\x91\x4E";  // 青云 in UTF-16LE
  const std::string zoneBE = "\x97\x52\x4E\x91";
  struct Case {
    const char* name;
    std::string text;     // the file
    std::string written;  // after Server=b, or empty when refused
    TIniEncoding encoding;
  } cases[] = {
      {"UTF-8 mark", "\xEF\xBB\xBF[" + kQingyunUtf8 + "]\r\nServer=a\r\n",
       "\xEF\xBB\xBF[" + kQingyunUtf8 + "]\r\nServer=b\r\n", TIniEncoding::Utf8},
      {"UTF-16LE mark", "\xFF\xFE" + utf16("[", false) + zoneLE + utf16("]\r\nServer=a\r\n", false),
       "\xFF\xFE" + utf16("[", false) + zoneLE + utf16("]\r\nServer=b\r\n", false), TIniEncoding::Utf16LE},
      {"UTF-16BE mark", "\xFE\xFF" + utf16("[", true) + zoneBE + utf16("]\nServer=a", true),
       "\xFE\xFF" + utf16("[", true) + zoneBE + utf16("]\r\nServer=b\r\n", true), TIniEncoding::Utf16BE},
      {"UTF-16LE without mark", utf16("[", false) + zoneLE + utf16("]\r\nServer=a\r\n", false),
       utf16("[", false) + zoneLE + utf16("]\r\nServer=b\r\n", false), TIniEncoding::Utf16LE},
      {"UTF-32", std::string("\xFF\xFE\0\0[\0\0\0", 8), "", TIniEncoding::Ansi},
      {"lone surrogate", "\xFF\xFE" + utf16("[", false) + std::string("\x00\xD8", 2) + utf16("]", false), "",
       TIniEncoding::Ansi},
      {"odd length", "\xFF\xFE" + utf16("[a]", false) + "x", "", TIniEncoding::Ansi},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempIni f;
    f.Put(c.text);
    if (c.written.empty()) {
      try {
        TIniFile ini(f.Name());
        ADD_FAILURE() << "read";
      } catch (const EIniFileException& e) {
        EXPECT_NE(e.Message().find(f.Name()), std::string::npos) << e.Message();
        EXPECT_NE(e.Message().find("UTF-"), std::string::npos) << e.Message();
      }
      continue;
    }
    TIniFile ini(f.Name());
    EXPECT_EQ(ini.Encoding(), c.encoding);
    EXPECT_EQ(ini.ReadSections(), std::vector<std::string>{kQingyunUtf8});
    ini.WriteString(kQingyunUtf8, "server", "b");
    EXPECT_EQ(f.Get(), c.written);
  }
}

// A link is followed both ways; what is no regular file, or too large, is not read at all.
TEST(IniFile, FollowsLinksAndReadsOnlyRegularFiles) {
  TempIni f;
  const std::string target = f.Dir() + "/target.ini", link = f.Name();
  std::ofstream(target, std::ios::binary) << "[DB]\r\nServer=a\r\n";
  ASSERT_EQ(::symlink("target.ini", link.c_str()), 0);
  {
    TIniFile ini(link);
    EXPECT_EQ(ini.ReadString("DB", "Server", ""), "a");
    ini.WriteString("DB", "Server", "b");
  }
  struct stat st {};
  ASSERT_EQ(::lstat(link.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(TIniFile(target).ReadString("DB", "Server", ""), "b");
  ::unlink(link.c_str());
  ::unlink(target.c_str());

  struct Case {
    const char* name;
    std::function<void(const std::string&)> make;
  } cases[] = {
      {"FIFO", [](const std::string& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0); }},
      {"folder", [](const std::string& p) { ASSERT_EQ(::mkdir(p.c_str(), 0700), 0); }},
      {"link to a device", [](const std::string& p) { ASSERT_EQ(::symlink("/dev/zero", p.c_str()), 0); }},
      {"over the bound",
       [](const std::string& p) {
         std::ofstream(p, std::ios::binary) << std::string(kIniFileLimit + 1, ';');
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    c.make(link);
    try {
      TIniFile ini(link);
      ADD_FAILURE() << "read";
    } catch (const EIniFileException& e) {
      EXPECT_NE(e.Message().find(link), std::string::npos) << e.Message();
    }
    ::rmdir(link.c_str());
    ::unlink(link.c_str());
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
