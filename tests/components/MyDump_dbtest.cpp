// Dumping and restoring on the test server: every column type and awkward names survive a round
// trip through our restore and through the mariadb client, a mariadb-dump file with routines
// restores through ours, failures are counted, users and routines are listed whole, a failed file
// backup leaves the old file, and a stopped backup ends.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "components/MyAccessConnection.h"
#include "components/MyAccessDataSet.h"
#include "components/MyDump.h"
#include "components/MyRowReader.h"
#include "mysql/ApiTestSupport.h"
#include "platform/runtime/Classes.h"
#include "support/StallRelay.h"

namespace {

using api_test::TScratchDb;
namespace fs = std::filesystem;

const TestServer::TInfo& Srv() {
  return TestServer::Info();
}

void Prepare(TMyConnection& c, const std::string& database, const std::string& charset = {}) {
  c.LoginPrompt = false;
  c.SetServer(Srv().Host);
  c.SetPort(Srv().Port);
  c.SetUsername(Srv().NativeUser);
  c.SetPassword(Srv().NativePassword);
  c.SetDatabase(database);
  c.Options().SetCharset(charset);
}

std::vector<std::string> Column(TMyConnection& c, const std::string& sql) {
  c.Open();
  return TMyRowReader::FirstColumn(c, sql);
}

std::string Scalar(TMyConnection& c, const std::string& sql) {
  const auto rows = Column(c, sql);
  return rows.empty() ? "<none>" : rows[0];
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// A folder of its own, removed at the end.
struct TTempDir {
  fs::path Path =
      fs::temp_directory_path() / ("dumptest_" + std::to_string(::getpid()) + "_" + std::to_string(rand()));
  TTempDir() { fs::create_directories(Path); }
  ~TTempDir() { fs::remove_all(Path); }
};

int RunClient(const std::string& tool, const std::string& args) {
  const std::string cmd = tool + " --host=" + Srv().Host + " --port=" + std::to_string(Srv().Port) +
                          " --user=" + Srv().NativeUser + " --password=" + Srv().NativePassword + " " + args;
  return std::system(cmd.c_str());
}

const char* const kOddNames[] = {"a#b", "order", "123", "we`ird", "a.b"};

// The source: a table of every column type whose rows each hold what a lossy path would change,
// tables with names that need quoting, and a view that sorts before the table it reads.
void FillSource(TMyConnection& c, bool unicodeColumn) {
  c.ExecSQL("SET time_zone = '+08:00'");
  c.ExecSQL(
      std::string(
          "CREATE TABLE `all types` (id INT NOT NULL AUTO_INCREMENT PRIMARY KEY, ti TINYINT, "
          "si SMALLINT UNSIGNED, mi MEDIUMINT, bi BIGINT, bu BIGINT UNSIGNED, de DECIMAL(30,10), fl FLOAT, "
          "db DOUBLE, bt BIT(13), yr YEAR, d DATE, dt DATETIME(6), ts TIMESTAMP(3) NULL, tm TIME(2), "
          "ch CHAR(5), vc VARCHAR(40), bn BINARY(4), vb VARBINARY(20), tx TEXT, bl BLOB, lb LONGBLOB, "
          "en ENUM('a','b c'), st SET('x','y'), js JSON, g GEOMETRY NULL, "
          "gb VARCHAR(10) CHARACTER SET gbk") +
      (unicodeColumn ? ", u8 VARCHAR(10) CHARACTER SET utf8mb4" : "") + ")");
  c.ExecSQL(
      "INSERT INTO `all types` (id, ti, si, mi, bi, bu, de, fl, db, bt, yr, d, dt, ts, tm, ch, vc, bn, vb, "
      "tx, bl, "
      "lb, en, st, js, g, gb) VALUES (0, -128, 65535, -8388608, -9223372036854775808, 18446744073709551615, "
      "12345678901234567890.0123456789, 1.5, 0.1e0 + 0.2e0, b'1010101010101', 2155, '0000-00-00', "
      "'2024-02-29 23:59:59.999999', '2038-01-19 03:14:07.499', '-838:59:59.00', 'ab', "
      "'it''s \\\\ \\n \\r \\Z\\t&x', X'00FF5C27', X'0000', 'te\\0xt', X'0001025C27', '', 'b c', 'x,y', "
      "'{\"a\": [1, 2]}', ST_GeomFromText('POINT(1 2)'), CONVERT(X'955CC4E35C27' USING gbk))");
  c.ExecSQL("INSERT INTO `all types` (id) VALUES (5)");
  c.ExecSQL(
      "INSERT INTO `all types` (id, d, dt, ts, de, db) VALUES (7, '2024-00-15', '0000-00-00 00:00:00', "
      "'1970-01-01 08:00:01', -0.0000000001, 1.7976931348623157e308)");
  if (unicodeColumn)
    c.ExecSQL("UPDATE `all types` SET u8 = CONVERT(X'F09F9880C3A9' USING utf8mb4) WHERE id = 0");
  for (const char* name : kOddNames) {
    std::string quoted = "`";
    for (const char* p = name; *p; ++p) quoted += *p == '`' ? std::string("``") : std::string(1, *p);
    quoted += "`";
    c.ExecSQL("CREATE TABLE " + quoted + " (x INT)");
    c.ExecSQL("INSERT INTO " + quoted + " VALUES (" + std::to_string(std::string(name).size()) + ")");
  }
  c.ExecSQL("CREATE VIEW `0v` AS SELECT id FROM `all types`");
}

// What must come back equal: each table's checksum and every value of the typed table in hex.
std::string Fingerprint(TMyConnection& c) {
  std::string out;
  for (const std::string& t : Column(c, "SHOW FULL TABLES")) {
    std::string quoted = "`";
    for (char ch : t) quoted += ch == '`' ? std::string("``") : std::string(1, ch);
    quoted += "`";
    out += t + "=" + Scalar(c, "SELECT COUNT(*) FROM " + quoted) + ";";
    if (t != "0v") {
      c.Open();
      TMyRowReader reader(c);
      reader.Open("CHECKSUM TABLE " + quoted);
      if (reader.Next()) out += reader.Value(1) + "\n";
    }
  }
  for (const std::string& row : Column(
           c,
           "SELECT CONCAT_WS('|', id, HEX(ti), HEX(si), HEX(bi), HEX(bu), de, db, HEX(bt), yr, d, dt, "
           "UNIX_TIMESTAMP(ts), tm, HEX(ch), HEX(vc), HEX(bn), HEX(vb), HEX(tx), HEX(bl), HEX(lb), en, st, "
           "HEX(js), HEX(g), HEX(gb)) FROM `all types` ORDER BY id"))
    out += row + "\n";
  return out;
}

TEST(MyDumpDbTest, EveryTypeAndNameComesBackThroughOurRestoreAndTheClient) {
  struct Case {
    const char* Name;
    std::string Charset;
    bool UnicodeColumn;
  };
  const Case cases[] = {{"gbk session", "gbk", false}, {"utf8mb4 session", "utf8mb4", true}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.Name);
    TScratchDb source, ours, theirs;
    TTempDir dir;
    TMyConnection src;
    Prepare(src, source.Name(), k.Charset);
    // Columns of the session's own set: a backup refuses text its session cannot hold.
    src.ExecSQL("ALTER DATABASE " + source.Name() + " CHARACTER SET " + k.Charset);
    FillSource(src, k.UnicodeColumn);
    // A JSON column is utf8mb4 text.
    if (!k.UnicodeColumn) src.ExecSQL("ALTER TABLE `all types` MODIFY js TEXT CHARACTER SET " + k.Charset);
    const std::string expected = Fingerprint(src);

    TMyDump dump;
    dump.SetConnection(&src);
    const fs::path file = dir.Path / "dump.sql";
    dump.BackupToFile(file.string());
    const std::string text = ReadFile(file);
    EXPECT_NE(text.find("/*!40101 SET NAMES " + k.Charset + " */;\r\n"), std::string::npos);
    EXPECT_NE(text.find("SQL_MODE='NO_AUTO_VALUE_ON_ZERO'"), std::string::npos);
    EXPECT_LT(text.find("CREATE TABLE `all types`"), text.find("CREATE ALGORITHM"));  // the view last

    TMyConnection a;
    Prepare(a, ours.Name(), k.Charset);
    dump.SetConnection(&a);
    dump.RestoreFromFile(file.string());
    EXPECT_EQ(Fingerprint(a), expected);

    ASSERT_EQ(RunClient("mariadb",
                        "--default-character-set=" + k.Charset + " " + theirs.Name() + " < " + file.string()),
              0);
    TMyConnection b;
    Prepare(b, theirs.Name(), k.Charset);
    EXPECT_EQ(Fingerprint(b), expected);
  }
}

TEST(MyDumpDbTest, AMariaDbDumpWithRoutinesRestoresThroughOurs) {
  TScratchDb source, target;
  TTempDir dir;
  TMyConnection src;
  Prepare(src, source.Name(), "utf8mb4");
  FillSource(src, true);
  src.ExecSQL("CREATE PROCEDURE `p;1`(IN n INT) BEGIN SELECT n; SELECT n + 1; END");
  src.ExecSQL("CREATE FUNCTION twice(n INT) RETURNS INT DETERMINISTIC BEGIN RETURN n * 2; END");
  src.ExecSQL("CREATE TRIGGER tr BEFORE INSERT ON `order` FOR EACH ROW BEGIN SET NEW.x = NEW.x + 1; END");
  const fs::path file = dir.Path / "theirs.sql";
  ASSERT_EQ(RunClient("mariadb-dump", "--routines " + source.Name() + " > " + file.string()), 0);

  TMyConnection c;
  Prepare(c, target.Name(), "utf8mb4");
  TMyDump dump;
  dump.SetConnection(&c);
  dump.RestoreFromFile(file.string());
  EXPECT_EQ(Fingerprint(c), Fingerprint(src));
  EXPECT_EQ(Scalar(c, "SELECT twice(21)"), "42");
  c.ExecSQL("INSERT INTO `order` VALUES (1)");
  EXPECT_EQ(Scalar(c, "SELECT MIN(x) FROM `order`"), "2");
  EXPECT_EQ(Scalar(c, "SELECT COUNT(*) FROM information_schema.routines WHERE routine_schema = DATABASE()"),
            "2");
}

// Invisible columns are left out of SELECT *, and generated ones take no value: the rows must
// still come back whole, in a table of the connection's database and in one named with its own.
TEST(MyDumpDbTest, InvisibleAndGeneratedColumnsComeBackWhole) {
  TScratchDb source, other, ours, theirs;
  TTempDir dir;
  TMyConnection src;
  Prepare(src, source.Name());
  src.ExecSQL(
      "CREATE TABLE g (id INT PRIMARY KEY, a INT, v INT AS (a * 2) VIRTUAL, p INT AS (a + 1) PERSISTENT, "
      "h VARBINARY(8) INVISIBLE DEFAULT 'dflt')");
  src.ExecSQL("INSERT INTO g (id, a, h) VALUES (1, 10, X'005C27'), (2, NULL, NULL), (3, 4, 'dflt')");
  src.ExecSQL(
      "CREATE TABLE ex (id INT PRIMARY KEY, s TIMESTAMP(6) GENERATED ALWAYS AS ROW START INVISIBLE, "
      "e TIMESTAMP(6) GENERATED ALWAYS AS ROW END INVISIBLE, PERIOD FOR SYSTEM_TIME(s, e)) WITH SYSTEM "
      "VERSIONING");
  src.ExecSQL("INSERT INTO ex (id) VALUES (1), (2)");
  src.ExecSQL("CREATE TABLE " + other.Name() + ".o (id INT, n INT INVISIBLE)");
  src.ExecSQL("INSERT INTO " + other.Name() + ".o (id, n) VALUES (1, 11), (2, NULL)");
  const std::string values =
      "SELECT CONCAT_WS('|', (SELECT GROUP_CONCAT(id, ':', IFNULL(a, 'N'), ':', IFNULL(v, 'N'), ':', "
      "IFNULL(p, 'N'), ':', IFNULL(HEX(h), 'N') ORDER BY id) FROM g), (SELECT GROUP_CONCAT(id ORDER BY id) "
      "FROM ex), (SELECT GROUP_CONCAT(id, ':', IFNULL(n, 'N') ORDER BY id) FROM " +
      other.Name() + ".o))";
  const std::string expected = Scalar(src, values);
  EXPECT_EQ(expected, "1:10:20:11:005C27,2:N:N:N:N,3:4:8:5:64666C74|1,2|1:11,2:N");

  TMyDump dump;
  dump.SetConnection(&src);
  dump.SetTableNames("g,ex," + other.Name() + ".o");
  const fs::path file = dir.Path / "dump.sql";
  dump.BackupToFile(file.string());

  src.ExecSQL("DROP TABLE " + other.Name() + ".o");
  TMyConnection a;
  Prepare(a, ours.Name());
  dump.SetConnection(&a);
  dump.RestoreFromFile(file.string());
  EXPECT_EQ(Scalar(a, values), expected);

  a.ExecSQL("DROP TABLE " + other.Name() + ".o");
  ASSERT_EQ(RunClient("mariadb", theirs.Name() + " < " + file.string()), 0);
  TMyConnection b;
  Prepare(b, theirs.Name());
  EXPECT_EQ(Scalar(b, values), expected);
}

// A view named with its database, one named like its definer too: each is made again under its
// own name, its definer untouched.
TEST(MyDumpDbTest, AViewNamedWithItsDatabaseComesBack) {
  for (const std::string& name : {std::string("v"), Srv().NativeUser}) {
    SCOPED_TRACE(name);
    TScratchDb source, other, target;
    TMyConnection src;
    Prepare(src, source.Name());
    const std::string view = other.Name() + ".`" + name + "`";
    src.ExecSQL("CREATE TABLE " + other.Name() + ".t (id INT)");
    src.ExecSQL("INSERT INTO " + other.Name() + ".t VALUES (1), (2)");
    src.ExecSQL("CREATE VIEW " + view + " AS SELECT id FROM " + other.Name() + ".t");
    const std::string definer =
        "SELECT CONCAT(TABLE_NAME, ' ', DEFINER) FROM information_schema.VIEWS WHERE "
        "TABLE_SCHEMA = '" +
        other.Name() + "'";
    const std::string expected = Scalar(src, definer);
    TMyDump dump;
    dump.SetConnection(&src);
    dump.SetTableNames(other.Name() + ".t," + view);
    dump.Backup();
    src.ExecSQL("DROP VIEW " + view);
    TMyConnection c;
    Prepare(c, target.Name());
    dump.SetConnection(&c);
    dump.Restore();
    EXPECT_EQ(Scalar(c, definer), expected);
    EXPECT_EQ(Scalar(c, "SELECT GROUP_CONCAT(id ORDER BY id) FROM " + view), "1,2");
  }
}

TEST(MyDumpDbTest, RestoreRunsEveryStatementAndThenReportsTheFailures) {
  TScratchDb db;
  TMyConnection c;
  Prepare(c, db.Name());
  TMyDump dump;
  dump.SetConnection(&c);
  dump.SQL().SetText(
      "CREATE TABLE t (a INT);\nINSERT INTO t VALUES (1);\nINSERT INTO nowhere VALUES (1);\n"
      "INSERT INTO t VALUES (2);\nINSERT INTO t VALUES ('x', 'y');\nINSERT INTO t VALUES (3);\n");
  try {
    dump.Restore();
    FAIL() << "no error";
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message(),
              "2 statements failed\n"
              "line 3: INSERT INTO nowhere VALUES (1): Table '" +
                  db.Name() +
                  ".nowhere' doesn't exist\n"
                  "line 5: INSERT INTO t VALUES ('x', 'y'): Column count doesn't match value count at row 1");
  }
  ASSERT_EQ(dump.RestoreFailures().size(), 2u);
  EXPECT_EQ(dump.RestoreFailures()[1].Line, 5);
  EXPECT_EQ(Scalar(c, "SELECT GROUP_CONCAT(a ORDER BY a) FROM t"), "1,2,3");
}

// A file an editor saved as UTF-8 with a byte order mark restores as the mariadb client restores
// it: the mark is no part of its first statement (here the SET NAMES that the rows' text needs).
TEST(MyDumpDbTest, AFileBeginningWithAByteOrderMarkRestoresWhole) {
  const std::string text =
      "\xEF\xBB\xBFSET NAMES utf8mb4;\r\nCREATE TABLE u (id INT, s VARCHAR(9) CHARACTER SET utf8mb4);\r\n"
      "INSERT INTO u VALUES (1, '\xE4\xB8\xAD\xF0\x9F\x98\x80\\\\');\r\n";
  for (const bool fromFile : {true, false}) {
    SCOPED_TRACE(fromFile ? "file" : "SQL");
    TScratchDb db;
    TTempDir dir;
    TMyConnection c;
    Prepare(c, db.Name(), "gbk");
    TMyDump dump;
    dump.SetConnection(&c);
    if (fromFile) {
      const fs::path file = dir.Path / "bom.sql";
      std::ofstream(file, std::ios::binary) << text;
      dump.RestoreFromFile(file.string());
    } else {
      dump.SQL().SetText(text);
      dump.Restore();
    }
    EXPECT_EQ(Scalar(c, "SELECT HEX(s) FROM u"), "E4B8ADF09F98805C");
  }
}

// Whatever form the move takes, and whether the session reports its database changes (our
// protocol) or not (the client library), nothing runs in another database.
TEST(MyDumpDbTest, ARestoreStayingInItsDatabaseStopsRightAfterAMoveAway) {
  TScratchDb db, other;
  const std::string o = other.Name();
  struct Case {
    const char* Name;
    std::string Move;
    bool Moves;
  };
  const Case cases[] = {
      {"back-quoted", "USE `" + o + "`", true},
      {"plain, lower case", "use " + o, true},
      {"executable comment", "/*!40000 USE `" + o + "` */", true},
      {"created first, as a dump of whole databases",
       "CREATE DATABASE /*!32312 IF NOT EXISTS*/ `" + o + "`;\nUSE `" + o + "`", true},
      {"after the server was told to stop reporting it",
       "SET SESSION session_track_schema=OFF;\nUSE `" + o + "`", true},
      {"the same database again", "USE `" + db.Name() + "`", false},
  };
  for (const bool direct : {true, false}) {
    for (const Case& k : cases) {
      SCOPED_TRACE(std::string(k.Name) + (direct ? " (direct)" : " (client library)"));
      TMyConnection c;
      Prepare(c, db.Name());
      c.Options().SetDirect(direct);
      c.Open();
      c.ExecSQL("DROP TABLE IF EXISTS a, b");
      c.ExecSQL("DROP TABLE IF EXISTS `" + o + "`.b");
      TMyDump dump;
      dump.SetConnection(&c);
      dump.StayInDatabase = true;
      dump.SQL().SetText("SET NAMES utf8;\nCREATE TABLE a (id INT);\n" + k.Move +
                         ";\nCREATE TABLE b (id INT);\nINSERT INTO b VALUES (1);\n");
      std::string error;
      try {
        dump.Restore();
      } catch (const EDatabaseError& e) {
        error = e.Message();
      }
      EXPECT_EQ(!error.empty(), k.Moves) << error;
      if (k.Moves) {
        EXPECT_NE(error.find("`" + o + "`"), std::string::npos) << error;
      }
      EXPECT_EQ(dump.SwitchedDatabase(), k.Moves ? o : std::string());
      const std::string tables =
          "SELECT IFNULL(GROUP_CONCAT(table_schema = DATABASE(), table_name ORDER BY table_name), '') FROM "
          "information_schema.tables WHERE table_schema IN ('" +
          db.Name() + "', '" + o + "')";
      c.SetDatabase({});
      c.SetDatabase(db.Name());
      EXPECT_EQ(Scalar(c, tables), k.Moves ? "1a" : "1a,1b");
    }
  }
}

TEST(MyDumpDbTest, UsersAreQuotedWholeAndRolesSkipped) {
  TScratchDb db;
  TMyConnection c;
  Prepare(c, db.Name());
  const std::string role = "dumprole_" + std::to_string(::getpid());
  c.ExecSQL("CREATE ROLE IF NOT EXISTS " + role);
  TMyDump dump;
  dump.SetConnection(&c);
  dump.Objects = doUsers;
  dump.Backup();
  c.ExecSQL("DROP ROLE " + role);
  const std::string text = dump.SQL().Text();
  EXPECT_NE(text.find("TO `mariadb.sys`@`localhost`"), std::string::npos);
  EXPECT_EQ(text.find("TO `" + role + "`"), std::string::npos);
}

// An account in mysql.user that the server no longer knows (here: a row its privilege tables
// have not loaded; on a live server, one dropped after the list was read) is left out, and the
// backup of the others goes on. It failed with the server's "no such grant".
TEST(MyDumpDbTest, AnAccountGoneBeforeItsGrantsAreReadIsLeftOut) {
  TScratchDb db;
  TMyConnection c;
  Prepare(c, db.Name());
  const std::string gone = "dumpgone_" + std::to_string(::getpid());
  c.ExecSQL("INSERT INTO mysql.global_priv (Host, User, Priv) VALUES ('%', '" + gone + "', '{}')");
  struct TRemove {
    TMyConnection& C;
    std::string User;
    ~TRemove() { C.ExecSQL("DELETE FROM mysql.global_priv WHERE Host = '%' AND User = '" + User + "'"); }
  } remove{c, gone};
  TMyDump dump;
  dump.SetConnection(&c);
  dump.Objects = doUsers;
  dump.Backup();
  const std::string text = dump.SQL().Text();
  EXPECT_NE(text.find("TO `mariadb.sys`@`localhost`"), std::string::npos);
  EXPECT_EQ(text.find(gone), std::string::npos);
}

// An account or a database named with a line break is granted to as the server names it.
TEST(MyDumpDbTest, GrantsKeepTheLineBreaksOfTheirNames) {
  TScratchDb db;
  TMyConnection c;
  Prepare(c, db.Name());
  const std::string user = "'dumpbreak_" + std::to_string(::getpid()) + "\r\nx\ny'@'%'";
  c.ExecSQL("CREATE USER " + user);
  struct TDrop {
    TMyConnection& C;
    std::string User;
    ~TDrop() { C.ExecSQL("DROP USER IF EXISTS " + User); }
  } drop{c, user};
  c.ExecSQL("GRANT SELECT ON `" + db.Name() + "\rz`.* TO " + user);
  TMyDump dump;
  dump.SetConnection(&c);
  dump.Objects = doUsers;
  dump.Backup();
  const std::string text = dump.SQL().Text();
  const std::vector<std::string> grants = Column(c, "SHOW GRANTS FOR " + user);
  ASSERT_EQ(grants.size(), 2u);
  for (const std::string& grant : grants) EXPECT_NE(text.find(grant + ";\r\n"), std::string::npos) << grant;
}

TEST(MyDumpDbTest, RoutinesOfADatabaseWithAnAwkwardNameAreListedAndDumped) {
  const std::string name = "zqv-2'_" + std::to_string(::getpid());
  TMyConnection c;
  Prepare(c, {});
  c.ExecSQL("CREATE DATABASE `" + name + "`");
  c.SetDatabase(name);
  c.ExecSQL("CREATE PROCEDURE `pr``oc`() SELECT 1");
  TStringList names;
  c.GetStoredProcNames(names);
  TMyDump dump;
  dump.SetConnection(&c);
  dump.Objects = doStoredProcs;
  dump.Backup();
  c.SetDatabase({});
  c.ExecSQL("DROP DATABASE `" + name + "`");
  ASSERT_EQ(names.Count(), 1);
  EXPECT_EQ(names[0], "pr`oc");
  const std::string text = dump.SQL().Text();
  EXPECT_NE(text.find("DROP PROCEDURE IF EXISTS `pr``oc` $$"), std::string::npos);
  EXPECT_NE(text.find("CREATE DEFINER="), std::string::npos);
}

// Routines asked for by name: each is written whatever the case of its name, and one the database
// does not hold fails the backup before anything is written instead of leaving it out.
TEST(MyDumpDbTest, RoutinesAskedForByNameAreAllThereOrTheBackupFails) {
  TScratchDb db;
  TTempDir dir;
  TMyConnection c;
  Prepare(c, db.Name());
  c.ExecSQL("CREATE PROCEDURE give_gold() SELECT 1");
  c.ExecSQL("CREATE FUNCTION level_of(n INT) RETURNS INT RETURN n");
  const fs::path file = dir.Path / "routines.sql";
  struct Case {
    const char* Names;
    std::string Error;
  };
  const Case cases[] = {
      {"GIVE_GOLD,level_of", ""},
      {"give_gold,levelof", "The routine `levelof` does not exist"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.Names);
    { std::ofstream(file) << "old"; }
    TMyDump dump;
    dump.SetConnection(&c);
    dump.Objects = doStoredProcs;
    dump.SetStoredProcNames(k.Names);
    std::string error;
    try {
      dump.BackupToFile(file.string());
    } catch (const EDatabaseError& e) {
      error = e.Message();
    }
    EXPECT_EQ(error, k.Error);
    const std::string text = ReadFile(file);
    if (k.Error.empty()) {
      EXPECT_NE(text.find("PROCEDURE `give_gold`"), std::string::npos);
      EXPECT_NE(text.find("FUNCTION `level_of`"), std::string::npos);
    } else {
      EXPECT_EQ(text, "old");
    }
  }
}

TEST(MyDumpDbTest, AFailedOrStoppedBackupLeavesTheTargetFile) {
  TScratchDb db;
  TTempDir dir;
  TMyConnection c;
  Prepare(c, db.Name());
  c.ExecSQL("CREATE TABLE t (a INT)");
  c.ExecSQL("INSERT INTO t VALUES (1), (2), (3)");
  const fs::path file = dir.Path / "backup.sql";
  { std::ofstream(file) << "old"; }
  struct Case {
    const char* Name;
    std::string Tables;
    bool StopAtFirstRow;
  };
  const Case cases[] = {{"missing table", "t,missing", false}, {"stopped", "t", true}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.Name);
    TMyDump dump;
    dump.SetConnection(&c);
    dump.SetTableNames(k.Tables);
    if (k.StopAtFirstRow)
      dump.OnBackupProgress = [&](TComponent*, const std::string&, int, int, int percent) {
        if (percent > 0) dump.Stop();
      };
    EXPECT_ANY_THROW(dump.BackupToFile(file.string()));
    EXPECT_EQ(ReadFile(file), "old");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path), fs::directory_iterator()), 1);
  }
  TMyDump dump;
  dump.SetConnection(&c);
  dump.BackupToFile(file.string());
  EXPECT_EQ(dump.RowsWritten(), 3);
  EXPECT_NE(ReadFile(file).find("INSERT INTO `t` VALUES\r\n  (1),\r\n  (2),\r\n  (3);\r\n"),
            std::string::npos);
}

// A server that stops answering part way through a backup or a restore ends the work with an
// error within the dump's time-out; the restore does not go on with the statements after the
// one that was lost, and the old backup file stays.
TEST(MyDumpDbTest, AServerThatStopsAnsweringEndsTheWorkWithinTheTimeOut) {
  TScratchDb db;
  TTempDir dir;
  {
    TMyConnection c;
    Prepare(c, db.Name());
    c.ExecSQL("CREATE TABLE t (a INT PRIMARY KEY, b VARCHAR(200))");
    c.ExecSQL("INSERT INTO t SELECT seq, REPEAT('x', 200) FROM seq_1_to_100000");
  }
  const fs::path file = dir.Path / "backup.sql";
  { std::ofstream(file) << "old"; }
  std::string restoreText = "CREATE TABLE r (a INT);\n";
  for (int i = 1; i <= 50; ++i) restoreText += "INSERT INTO r VALUES (" + std::to_string(i) + ");\n";
  for (const bool backup : {true, false}) {
    SCOPED_TRACE(backup ? "backup" : "restore");
    TStallRelay relay(Srv().Host, Srv().Port);
    TMyConnection c;
    Prepare(c, db.Name());
    c.SetServer("127.0.0.1");
    c.SetPort(relay.Port);
    c.SetConnectionTimeout(2);
    c.Open();
    TMyDump dump;
    dump.SetConnection(&c);
    dump.CommandTimeout = 2;
    int statements = 0;
    dump.OnBackupProgress = [&](TComponent*, const std::string&, int, int, int percent) {
      if (percent > 0) relay.Stall();
    };
    dump.OnRestoreProgress = [&](TComponent*, int) {
      if (++statements == 10) relay.Stall();
    };
    const auto start = std::chrono::steady_clock::now();
    if (backup) {
      dump.SetTableNames("t");
      EXPECT_ANY_THROW(dump.BackupToFile(file.string()));
      EXPECT_EQ(ReadFile(file), "old");
    } else {
      dump.SQL().SetText(restoreText);
      EXPECT_ANY_THROW(dump.Restore());
      EXPECT_LE(statements, 11);
    }
    const double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(waited, 15.0);
  }
  TMyConnection check;
  Prepare(check, db.Name());
  const std::string rows = Scalar(check, "SELECT COUNT(*) FROM r");
  EXPECT_LE(std::stoi(rows), 10);
}

// The file's form: lines present and absent for each choice of objects and options.
TEST(MyDumpDbTest, TheFormatFollowsTheObjectsAndOptions) {
  TScratchDb db;
  TMyConnection c;
  Prepare(c, db.Name());
  c.ExecSQL("CREATE TABLE e (a INT)");
  c.ExecSQL("CREATE TABLE r (v VARCHAR(1000))");
  // Each row line is 1000 characters: "  ('" + 994 x + "')".
  c.ExecSQL("INSERT INTO r SELECT REPEAT('x', 994) FROM seq_1_to_40");
  c.ExecSQL("CREATE TABLE b (id INT, bl BLOB)");
  c.ExecSQL("INSERT INTO b VALUES (1, ''), (2, X'0001FF')");
  c.ExecSQL("CREATE VIEW w AS SELECT a FROM e");
  struct Case {
    const char* Name;
    TMyDumpObjects Objects;
    bool HexBlob;
    std::vector<std::string> Present, Absent;
  };
  const Case cases[] = {
      {"empty table: no lock lines",
       doTables | doData,
       false,
       {"CREATE TABLE `e`"},
       {"LOCK TABLES `e`", "INSERT INTO `e`"}},
      {"a view: structure, no data",
       doTables | doData,
       false,
       {"DROP VIEW IF EXISTS `w`;", "VIEW `w` AS"},
       {"INSERT INTO `w`"}},
      {"data alone with AddDrop",
       doData,
       false,
       {"TRUNCATE TABLE `b`;", "TRUNCATE TABLE `r`;"},
       {"CREATE TABLE", "DROP TABLE"}},
      {"HexBlob", doData, true, {"  (1, ''),\r\n  (2, 0x0001FF);"}, {"'\\0'"}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.Name);
    TMyDump dump;
    dump.SetConnection(&c);
    dump.Objects = k.Objects;
    dump.Options().HexBlob = k.HexBlob;
    dump.Backup();
    const std::string text = dump.SQL().Text();
    for (const std::string& line : k.Present) EXPECT_NE(text.find(line), std::string::npos) << line;
    for (const std::string& line : k.Absent) EXPECT_EQ(text.find(line), std::string::npos) << line;
  }
  // 40 rows of 1000-character lines: statements of 15, 15 and 10 rows.
  TMyDump dump;
  dump.SetConnection(&c);
  dump.SetTableNames("r");
  dump.Backup();
  std::vector<int> perStatement;
  for (int i = 0; i < dump.SQL().Count(); ++i) {
    const std::string& line = dump.SQL()[i];
    if (line == "INSERT INTO `r` VALUES") perStatement.push_back(0);
    if (line.rfind("  ('x", 0) == 0) {
      ASSERT_EQ(line.size(), 1001u);  // and its "," or ";"
      ++perStatement.back();
    }
  }
  EXPECT_EQ(perStatement, (std::vector<int>{15, 15, 10}));
}

TEST(MyDumpDbTest, OurRoutinesAndTriggersComeBackThroughOurRestore) {
  TScratchDb source, target;
  TMyConnection src;
  Prepare(src, source.Name());
  src.ExecSQL("CREATE TABLE t (a INT, b INT)");
  src.ExecSQL("INSERT INTO t VALUES (1, 0)");
  src.ExecSQL("CREATE PROCEDURE p(IN n INT) BEGIN INSERT INTO t VALUES (n, 0); SET @s = 'two\nlines'; END");
  src.ExecSQL("CREATE TRIGGER tr BEFORE INSERT ON t FOR EACH ROW BEGIN SET NEW.b = NEW.a &3; END");
  TMyDump dump;
  dump.SetConnection(&src);
  dump.Objects = doStoredProcs | doTables | doData;
  dump.Backup();
  TMyConnection c;
  Prepare(c, target.Name());
  dump.SetConnection(&c);
  dump.Restore();
  // The row restored keeps its b: the trigger comes after the data.
  EXPECT_EQ(Scalar(c, "SELECT GROUP_CONCAT(a, ':', b) FROM t"), "1:0");
  c.ExecSQL("CALL p(7)");
  EXPECT_EQ(Scalar(c, "SELECT b FROM t WHERE a = 7"), "3");
  EXPECT_EQ(
      Scalar(c,
             "SELECT HEX(ROUTINE_DEFINITION) = (SELECT HEX(ROUTINE_DEFINITION) FROM "
             "information_schema.routines WHERE ROUTINE_SCHEMA = '" +
                 source.Name() + "') FROM information_schema.routines WHERE ROUTINE_SCHEMA = DATABASE()"),
      "1");
}

// Texts the server keeps as written: ending in a line comment, holding the delimiters of the file in
// strings. Each must come back through our restore and through the mariadb client with the same
// definition; the delimiter written inside the trailing comment lost the routine and the statements
// after it.
TEST(MyDumpDbTest, RoutinesAndTriggersEndingInACommentComeBackThroughOursAndTheClient) {
  TScratchDb source, ours, theirs;
  TTempDir dir;
  TMyConnection src;
  Prepare(src, source.Name());
  src.ExecSQL("CREATE TABLE t (id INT, s VARCHAR(9))");
  src.ExecSQL("INSERT INTO t VALUES (1, 'a')");
  src.ExecSQL("CREATE PROCEDURE p_dash() SELECT '$$', ';;' -- trailing $$ comment");
  src.ExecSQL("CREATE FUNCTION f_hash() RETURNS VARCHAR(9) DETERMINISTIC RETURN CONCAT('$$', ';;') # hash");
  src.ExecSQL("CREATE TRIGGER tr_dash BEFORE INSERT ON t FOR EACH ROW SET NEW.s = '$$;;' -- ends ;;");
  src.ExecSQL("CREATE TRIGGER tr_hash AFTER INSERT ON t FOR EACH ROW SET @seen = ';;$$' # ends $$");
  const std::string definitions =
      "SELECT CONCAT_WS('|', (SELECT GROUP_CONCAT(ROUTINE_NAME, ':', HEX(ROUTINE_DEFINITION) ORDER BY "
      "ROUTINE_NAME) FROM information_schema.ROUTINES WHERE ROUTINE_SCHEMA = DATABASE()), (SELECT "
      "GROUP_CONCAT(TRIGGER_NAME, ':', HEX(ACTION_STATEMENT) ORDER BY TRIGGER_NAME) FROM "
      "information_schema.TRIGGERS WHERE TRIGGER_SCHEMA = DATABASE()), (SELECT GROUP_CONCAT(id, s) FROM t))";
  const std::string expected = Scalar(src, definitions);
  ASSERT_NE(expected.find("p_dash"), std::string::npos);
  ASSERT_NE(expected.find("tr_hash"), std::string::npos);
  TMyDump dump;
  dump.SetConnection(&src);
  dump.Objects = doStoredProcs | doTables | doData;
  const fs::path file = dir.Path / "comments.sql";
  dump.BackupToFile(file.string());

  TMyConnection a;
  Prepare(a, ours.Name());
  dump.SetConnection(&a);
  dump.RestoreFromFile(file.string());
  EXPECT_EQ(Scalar(a, definitions), expected);

  ASSERT_EQ(RunClient("mariadb", "--comments " + theirs.Name() + " < " + file.string()), 0);
  TMyConnection b;
  Prepare(b, theirs.Name());
  EXPECT_EQ(Scalar(b, definitions), expected);
}

// A trigger goes where its table goes. Made as `db`.trg ON `db`.t, it was written with its
// database, and the restore into another one made it in the original (or failed there); the
// triggers of a table named with its database were not written at all.
TEST(MyDumpDbTest, TriggersAreMadeWhereTheirTablesAre) {
  TScratchDb source, other, target;
  TMyConnection src;
  Prepare(src, source.Name());
  const std::string s = source.Name(), o = other.Name();
  src.ExecSQL("CREATE TABLE a (id INT)");
  src.ExecSQL("CREATE TRIGGER " + s + ".tr_a BEFORE INSERT ON `" + s +
              "`.a FOR EACH ROW SET NEW.id = NEW.id + 1");
  src.ExecSQL("CREATE TABLE " + o + ".b (id INT)");
  src.ExecSQL("CREATE TRIGGER " + o + ".tr_b BEFORE INSERT ON b FOR EACH ROW SET NEW.id = NEW.id * 10");
  TMyDump dump;
  dump.SetConnection(&src);
  dump.SetTableNames("a," + o + ".b");
  dump.Backup();
  // The originals are gone: whatever the restore makes is its own doing.
  src.ExecSQL("DROP TRIGGER " + s + ".tr_a");
  src.ExecSQL("DROP TABLE " + o + ".b");
  TMyConnection c;
  Prepare(c, target.Name());
  dump.SetConnection(&c);
  dump.Restore();
  const std::string triggers = "SELECT GROUP_CONCAT(TRIGGER_SCHEMA = '" + target.Name() +
                               "', TRIGGER_SCHEMA = '" + o +
                               "', TRIGGER_NAME, ':', EVENT_OBJECT_TABLE ORDER BY TRIGGER_NAME) FROM "
                               "information_schema.TRIGGERS WHERE "
                               "TRIGGER_SCHEMA IN ('" +
                               s + "', '" + o + "', '" + target.Name() + "')";
  EXPECT_EQ(Scalar(c, triggers), "10tr_a:a,01tr_b:b");
  c.ExecSQL("INSERT INTO a VALUES (1)");
  c.ExecSQL("INSERT INTO " + o + ".b VALUES (2)");
  EXPECT_EQ(Scalar(c, "SELECT CONCAT((SELECT id FROM a), ',', (SELECT id FROM " + o + ".b))"), "2,20");
}

// A restore that stays in its database runs no CREATE of a trigger, view, routine or event named
// (or, for a trigger, whose table is named) with another database: each is reported at its line.
// Its own database named, or another named only inside a body, is made as written.
TEST(MyDumpDbTest, ARestoreStayingInItsDatabaseRefusesObjectsNamedWithAnother) {
  TScratchDb db, other;
  const std::string d = db.Name(), o = other.Name();
  TMyConnection c;
  Prepare(c, d);
  c.ExecSQL("CREATE TABLE " + o + ".x (id INT)");
  TMyDump dump;
  dump.SetConnection(&c);
  dump.StayInDatabase = true;
  // One statement a line, the bodies' ";" kept inside them.
  dump.SQL().SetText(
      "DELIMITER ;;\n"
      "CREATE TABLE a (id INT);;\n"
      "CREATE TRIGGER `" +
      o + "`.t1 BEFORE INSERT ON `" + o +
      "`.x FOR EACH ROW SET NEW.id = 1;;\n"
      "CREATE TRIGGER t2 BEFORE INSERT ON " +
      o +
      " . x FOR EACH ROW SET NEW.id = 2;;\n"
      "CREATE OR REPLACE ALGORITHM=MERGE DEFINER=CURRENT_USER SQL SECURITY INVOKER VIEW " +
      o +
      ".v AS SELECT 1;;\n"
      "CREATE DEFINER=`" +
      Srv().NativeUser + "`@`%` PROCEDURE IF NOT EXISTS " + o +
      ".p() SELECT 1;;\n"
      "CREATE FUNCTION " +
      o +
      ".f() RETURNS INT RETURN 1;;\n"
      "CREATE EVENT " +
      o +
      ".e ON SCHEDULE EVERY 1 DAY DO SELECT 1;;\n"
      "/*!50003 CREATE*/ /*!50017 DEFINER=CURRENT_USER*/ /*!50003 TRIGGER `" +
      o + "`.t3 AFTER INSERT ON `" + o +
      "`.x FOR EACH ROW SET @n = 1 */;;\n"
      "CREATE TRIGGER `" +
      d + "`.t4 BEFORE INSERT ON `" + d + "`.a FOR EACH ROW INSERT INTO " + o +
      ".x VALUES (NEW.id);;\n"
      "CREATE VIEW `" +
      d + "`.v AS SELECT id FROM " + o + ".x;;\n");
  std::string error;
  try {
    dump.Restore();
  } catch (const EDatabaseError& e) {
    error = e.Message();
  }
  EXPECT_EQ(error.rfind("7 statements failed\nline 3: CREATE TRIGGER `" + o + "`.t1", 0), 0u) << error;
  std::vector<int64_t> lines;
  for (const TDARestoreFailure& f : dump.RestoreFailures()) lines.push_back(f.Line);
  ASSERT_EQ(lines, (std::vector<int64_t>{3, 4, 5, 6, 7, 8, 9}));
  EXPECT_EQ(dump.RestoreFailures()[1].Message,
            "CREATE TRIGGER: the trigger's table " + o + " . x is named with another database than `" + d +
                "`, the one the restore runs in; the statement was not run");
  const std::string made =
      "SELECT CONCAT_WS('|', (SELECT COUNT(*) FROM information_schema.TRIGGERS WHERE TRIGGER_SCHEMA = '" + o +
      "'), (SELECT COUNT(*) FROM information_schema.TABLES WHERE TABLE_SCHEMA = '" + o +
      "'), (SELECT COUNT(*) FROM information_schema.ROUTINES WHERE ROUTINE_SCHEMA = '" + o +
      "'), (SELECT COUNT(*) FROM information_schema.EVENTS WHERE EVENT_SCHEMA = '" + o +
      "'), (SELECT GROUP_CONCAT(TRIGGER_NAME) FROM information_schema.TRIGGERS WHERE TRIGGER_SCHEMA = '" + d +
      "'), (SELECT GROUP_CONCAT(TABLE_NAME ORDER BY TABLE_NAME) FROM information_schema.TABLES WHERE "
      "TABLE_SCHEMA = '" +
      d + "'))";
  EXPECT_EQ(Scalar(c, made), "0|1|0|0|t4|a,v");
}

// A view that reads another view sorting after it, and routines made under other SQL modes: the
// restore makes every view, and each routine keeps its mode (strict or not, how its text reads).
TEST(MyDumpDbTest, ViewsOfViewsAndTheRoutinesSqlModesComeBack) {
  TScratchDb source, target;
  TMyConnection src;
  Prepare(src, source.Name());
  src.ExecSQL("CREATE TABLE t (a INT, s VARCHAR(3))");
  src.ExecSQL("INSERT INTO t VALUES (1, 'x'), (2, 'y')");
  src.ExecSQL("CREATE VIEW c AS SELECT a FROM t");
  src.ExecSQL("CREATE VIEW b AS SELECT a FROM c WHERE a > 1");
  src.ExecSQL("CREATE VIEW a AS SELECT COUNT(*) AS n FROM b");
  src.ExecSQL("CREATE VIEW `a``` AS SELECT a FROM `a` JOIN b");
  src.ExecSQL("CREATE PROCEDURE strict_ins() INSERT INTO t VALUES (3, 'abcdef')");  // the default strict mode
  src.ExecSQL("SET SESSION sql_mode = 'ANSI_QUOTES'");
  src.ExecSQL("CREATE FUNCTION quoted() RETURNS VARCHAR(9) RETURN (SELECT MAX(\"a\") FROM t)");
  src.ExecSQL("SET SESSION sql_mode = DEFAULT");
  const std::string modes =
      "SELECT GROUP_CONCAT(ROUTINE_NAME, '=', SQL_MODE ORDER BY ROUTINE_NAME SEPARATOR ';') "
      "FROM information_schema.ROUTINES WHERE ROUTINE_SCHEMA = DATABASE()";
  const std::string sourceModes = Scalar(src, modes);
  TMyDump dump;
  dump.SetConnection(&src);
  dump.Objects = doStoredProcs | doTables | doData;
  dump.Backup();
  TMyConnection c;
  Prepare(c, target.Name());
  dump.SetConnection(&c);
  dump.Restore();
  EXPECT_EQ(Scalar(c,
                   "SELECT GROUP_CONCAT(TABLE_NAME ORDER BY TABLE_NAME) FROM information_schema.VIEWS "
                   "WHERE TABLE_SCHEMA = DATABASE()"),
            "a,a`,b,c");
  EXPECT_EQ(Scalar(c, "SELECT n FROM a"), "1");
  EXPECT_EQ(Scalar(c, modes), sourceModes);
  EXPECT_EQ(Scalar(c, "SELECT quoted()"), "2");
  c.ExecSQL("SET SESSION sql_mode = ''");
  try {
    c.ExecSQL("CALL strict_ins()");
    ADD_FAILURE() << "a value too long was cut";
  } catch (const EDatabaseError& e) {
    EXPECT_NE(e.Message().find("Data too long for column 's'"), std::string::npos) << e.Message();
  }
  EXPECT_EQ(Scalar(c, "SELECT COUNT(*) FROM t"), "2");
}

// The database made again keeps its character set and collation: routines made in it and tables
// made later without a set of their own take them.
TEST(MyDumpDbTest, TheDatabaseComesBackWithItsCharacterSet) {
  const std::string name = "dumpdb_" + std::to_string(::getpid());
  const std::string charset =
      "SELECT CONCAT(DEFAULT_CHARACTER_SET_NAME, ' ', DEFAULT_COLLATION_NAME) FROM "
      "information_schema.SCHEMATA WHERE SCHEMA_NAME = '" +
      name + "'";
  TMyConnection c;
  Prepare(c, {});
  c.ExecSQL("CREATE DATABASE `" + name + "` CHARACTER SET gbk COLLATE gbk_bin");
  c.SetDatabase(name);
  TMyDump dump;
  dump.SetConnection(&c);
  dump.Objects = doDatabase;
  dump.Options().AddDrop = false;
  dump.Backup();
  c.SetDatabase({});
  c.ExecSQL("DROP DATABASE `" + name + "`");
  dump.Restore();
  EXPECT_EQ(Scalar(c, charset), "gbk gbk_bin");
  c.ExecSQL("DROP DATABASE `" + name + "`");
}

// The server's text of a FLOAT has six digits (1234567 reads 1234570): the rows must come back
// bit for bit, also beside an invisible column and in a table named with its database.
TEST(MyDumpDbTest, FloatsComeBackBitForBit) {
  TScratchDb source, other, target;
  TMyConnection src;
  Prepare(src, source.Name());
  src.ExecSQL("CREATE TABLE f (id INT PRIMARY KEY, x FLOAT, z FLOAT(3,1), u FLOAT UNSIGNED, d DOUBLE)");
  src.ExecSQL(
      "INSERT INTO f VALUES (1, 1234567, 76.7, 16777215, 0.1), (2, 0.1, -99.9, 3.4028234e38, NULL), "
      "(3, -1.17549435e-38, 0, 0, -0.5), (4, NULL, NULL, NULL, 1e300)");
  src.ExecSQL("CREATE TABLE " + other.Name() + ".h (id INT, x FLOAT, n FLOAT INVISIBLE)");
  src.ExecSQL("INSERT INTO " + other.Name() +
              ".h (id, x, n) VALUES (1, 7654321, 3.14159274), (2, NULL, 1e-30)");
  const std::string sums = "CHECKSUM TABLE f, " + other.Name() + ".h";
  auto checksums = [&](TMyConnection& c) {
    std::string out;
    c.Open();
    TMyRowReader reader(c);
    reader.Open(sums);
    while (reader.Next()) out += reader.Value(1) + ";";
    return out;
  };
  const std::string expected = checksums(src);
  TMyDump dump;
  dump.SetConnection(&src);
  dump.SetTableNames("f," + other.Name() + ".h");
  dump.Backup();
  src.ExecSQL("DROP TABLE " + other.Name() + ".h");
  TMyConnection c;
  Prepare(c, target.Name());
  dump.SetConnection(&c);
  dump.Restore();
  EXPECT_EQ(checksums(c), expected);
  EXPECT_EQ(Scalar(c, "SELECT COUNT(*) FROM f WHERE x = 1234567"), "1");
}

// The server writes a table's text in the session's sql_mode: a backup taken on a session of a
// GM whose server runs in ANSI or ORACLE mode must restore to the same table, engine and sets, and
// leave the session in its own mode.
TEST(MyDumpDbTest, ABackupOnASessionOfAnotherSqlModeRestoresTheSameTables) {
  const char* const modes[] = {"ANSI_QUOTES", "ORACLE", "NO_TABLE_OPTIONS,NO_FIELD_OPTIONS,NO_KEY_OPTIONS",
                               "NO_BACKSLASH_ESCAPES"};
  const std::string shape =
      "SELECT GROUP_CONCAT(TABLE_NAME, ENGINE, TABLE_COLLATION, AUTO_INCREMENT ORDER BY TABLE_NAME) FROM "
      "information_schema.TABLES WHERE TABLE_SCHEMA = DATABASE()";
  const std::string columns =
      "SELECT GROUP_CONCAT(COLUMN_NAME, COLLATION_NAME ORDER BY COLUMN_NAME) FROM information_schema.COLUMNS "
      "WHERE TABLE_SCHEMA = DATABASE() AND COLLATION_NAME IS NOT NULL";
  for (const char* mode : modes) {
    SCOPED_TRACE(mode);
    TScratchDb source, target;
    TMyConnection src;
    Prepare(src, source.Name(), "utf8mb4");
    src.ExecSQL(
        "CREATE TABLE `o'k` (id INT AUTO_INCREMENT, `a b` VARCHAR(9) CHARACTER SET latin1 DEFAULT 'x\\\\y', "
        "g VARCHAR(9) CHARACTER SET gbk, PRIMARY KEY (id) USING BTREE) ENGINE=MyISAM DEFAULT "
        "CHARSET=utf8mb4");
    src.ExecSQL("INSERT INTO `o'k` VALUES (7, X'D6F15C27', CONVERT(X'955C' USING gbk))");
    auto print = [&](TMyConnection& c) {
      c.Open();
      TMyRowReader reader(c);
      reader.Open("CHECKSUM TABLE `o'k`");
      const std::string sum = reader.Next() ? reader.Value(1) : "none";
      reader.Close();
      return Scalar(c, shape) + "|" + Scalar(c, columns) + "|" + sum + "|" +
             Scalar(c, "SELECT CONCAT_WS(',', id, HEX(`a b`), HEX(g)) FROM `o'k`");
    };
    const std::string expected = print(src);
    src.ExecSQL(std::string("SET SESSION sql_mode = '") + mode + "'");
    const std::string sessionMode = Scalar(src, "SELECT @@SESSION.sql_mode");
    TMyDump dump;
    dump.SetConnection(&src);
    dump.Backup();
    EXPECT_EQ(Scalar(src, "SELECT @@SESSION.sql_mode"), sessionMode);
    TMyConnection c;
    Prepare(c, target.Name(), "utf8mb4");
    dump.SetConnection(&c);
    dump.Restore();
    EXPECT_EQ(print(c), expected);
  }
}

// A name holding a line break is shown in the file's comment lines: what follows the break must
// stay in the comment, not run as a statement of its own at the restore.
TEST(MyDumpDbTest, ANameHoldingALineBreakRunsNothingAtTheRestore) {
  TScratchDb source, target;
  TMyConnection src;
  Prepare(src, source.Name(), "utf8mb4");
  const std::string table = "t\rDROP TABLE keep; -- x", view = "v\nDROP TABLE keep; -- x",
                    proc = "p\r\nDROP TABLE keep; -- x";
  src.ExecSQL("CREATE TABLE `" + table + "` (id INT PRIMARY KEY, v VARBINARY(4))");
  src.ExecSQL("INSERT INTO `" + table + "` VALUES (1, X'005C0D0A'), (2, NULL)");
  src.ExecSQL("CREATE VIEW `" + view + "` AS SELECT id FROM `" + table + "`");
  src.ExecSQL("CREATE PROCEDURE `" + proc + "`() SELECT 1");
  TMyDump dump;
  dump.SetConnection(&src);
  dump.Objects = doStoredProcs | doTables | doData;
  dump.Backup();
  TMyConnection c;
  Prepare(c, target.Name(), "utf8mb4");
  c.ExecSQL("CREATE TABLE keep (id INT)");
  dump.SetConnection(&c);
  dump.Restore();
  const std::string objects =
      "SELECT GROUP_CONCAT(HEX(TABLE_NAME) ORDER BY TABLE_NAME) FROM information_schema.TABLES WHERE "
      "TABLE_SCHEMA = DATABASE() UNION ALL SELECT GROUP_CONCAT(HEX(ROUTINE_NAME)) FROM "
      "information_schema.ROUTINES WHERE ROUTINE_SCHEMA = DATABASE()";
  c.ExecSQL("DROP TABLE keep");
  EXPECT_EQ(Column(c, objects), Column(src, objects));
  const std::string rows =
      "SELECT GROUP_CONCAT(id, ':', IFNULL(HEX(v), 'NULL') ORDER BY id) FROM `" + table + "`";
  EXPECT_EQ(Scalar(c, rows), Scalar(src, rows));
}

// ---- what a backup keeps, against the mariadb tools --------------------------------------------

struct TSession {
  const char* Name;
  std::string Charset;  // of the connection; empty under Unicode
  bool Unicode;
  std::string ClientCharset;  // the mariadb client's --default-character-set
};

void Prepare(TMyConnection& c, const std::string& database, const TSession& s) {
  Prepare(c, database, s.Charset);
  c.Options().SetUseUnicode(s.Unicode);
}

// Numbers past their display width and at their type's extremes, text of three character sets (a
// latin1 column holding GBK bytes, as the game stores them), a routine whose body holds `&b` and
// a string of two lines, a trigger and a view.
void FillConformanceSource(TMyConnection& c) {
  c.ExecSQL(
      "CREATE TABLE nums (id INT PRIMARY KEY, i3 INT(3), f31 FLOAT(3,1), d DOUBLE, t1 TINYINT(1), "
      "s2 SMALLINT(2), dec65 DECIMAL(65,30), tm TIME)");
  c.ExecSQL(
      "INSERT INTO nums VALUES (1, 123456, 76.7, 2.2250738585072014e-308, -128, -32768, "
      "'12345678901234567890123456789012345.123456789012345678901234567890', '838:59:59'), "
      "(2, 2147483647, -99.9, 1.7976931348623157e308, 127, 32767, -0.000000000000000000000000000001, "
      "'-838:59:59'), (3, -2147483648, 0.1, -2.2250738585072014e-308, 0, 0, 0, '00:00:00')");
  c.ExecSQL(
      "CREATE TABLE l1 (id INT PRIMARY KEY, v VARCHAR(20) CHARACTER SET latin1, z CHAR(6) CHARACTER SET "
      "latin1)");
  c.ExecSQL("INSERT INTO l1 VALUES (1, X'955CC4E35C27', X'610062'), (2, X'8182838DA0FF', X'00')");
  c.ExecSQL(
      "CREATE TABLE gb (id INT PRIMARY KEY, v VARCHAR(20) CHARACTER SET gbk, z VARCHAR(6) CHARACTER SET "
      "gbk)");
  c.ExecSQL(
      "INSERT INTO gb VALUES (1, CONVERT(X'C4E3BAC3955C27' USING gbk), CONVERT(X'6100C4E300' USING gbk))");
  c.ExecSQL("CREATE TABLE u8 (id INT PRIMARY KEY, v VARCHAR(20) CHARACTER SET utf8mb4)");
  c.ExecSQL("INSERT INTO u8 VALUES (1, CONVERT(X'F09F9880C3A95C27' USING utf8mb4))");
  c.ExecSQL(
      "CREATE FUNCTION f_and(b INT) RETURNS INT DETERMINISTIC BEGIN DECLARE s VARCHAR(9) DEFAULT 'x\ny'; "
      "RETURN (6 &b) + LENGTH(s) - 3; END");
  c.ExecSQL("CREATE TRIGGER tr BEFORE INSERT ON nums FOR EACH ROW SET NEW.t1 = 7");
  c.ExecSQL("CREATE VIEW v AS SELECT id FROM nums");
}

// Each table's checksum and rows in hex, the routine's result and the trigger's work.
std::string ConformancePrint(TMyConnection& c, const std::vector<std::string>& tables) {
  std::string out;
  for (const std::string& t : tables) {
    c.Open();
    TMyRowReader reader(c);
    reader.Open("CHECKSUM TABLE " + t);
    if (reader.Next()) out += t + " " + reader.Value(1) + "\n";
  }
  out += "f_and(3)=" + Scalar(c, "SELECT f_and(3)") + "\n";
  out += "view=" + Scalar(c, "SELECT COUNT(*) FROM v") + "\n";
  c.ExecSQL("INSERT INTO nums (id) VALUES (100)");
  out += "trigger=" + Scalar(c, "SELECT t1 FROM nums WHERE id = 100") + "\n";
  c.ExecSQL("DELETE FROM nums WHERE id = 100");
  return out;
}

// A utf8 (three-byte) session reads a character past the Basic Multilingual Plane as "?": a column
// whose set holds such characters is refused before anything is written, the others come back.
TEST(MyDumpDbTest, AUtf8SessionRefusesColumnsHoldingFourByteCharacters) {
  struct Case {
    const char* Charset;
    const char* Value;  // as utf8mb4 hex
    bool Refused;
  };
  const Case cases[] = {{"utf8mb4", "F09F9880", true}, {"utf16", "F09F9880", true},
                        {"utf16le", "F09F9880", true}, {"utf32", "F09F9880", true},
                        {"ucs2", "E4B8AD", false},     {"gbk", "E4B8AD", false}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.Charset);
    TScratchDb source, target;
    TMyConnection src;
    Prepare(src, source.Name(), "utf8");
    src.ExecSQL(std::string("CREATE TABLE c (s VARCHAR(4) CHARACTER SET ") + k.Charset + ")");
    src.ExecSQL(std::string("INSERT INTO c VALUES (CONVERT(X'") + k.Value + "' USING utf8mb4))");
    TMyDump dump;
    dump.SetConnection(&src);
    try {
      dump.Backup();
      EXPECT_FALSE(k.Refused) << dump.SQL().Text();
    } catch (const EDatabaseError& e) {
      EXPECT_TRUE(k.Refused) << e.Message();
      EXPECT_NE(e.Message().find("`c`.`s`"), std::string::npos) << e.Message();
      continue;
    }
    TMyConnection c;
    Prepare(c, target.Name(), "utf8");
    dump.SetConnection(&c);
    dump.Restore();
    EXPECT_EQ(Scalar(c, "SELECT HEX(s) FROM c"), Scalar(src, "SELECT HEX(s) FROM c"));
  }
}

TEST(MyDumpDbTest, BackupsMatchTheMariaDbToolsOrRefuseBeforeWriting) {
  struct Case {
    TSession Session;
    std::vector<std::string> Held;  // the tables whose every column the session can hold
    std::string Refused;            // the column named when all tables are backed up
  };
  const Case cases[] = {
      {{"latin1", "latin1", false, "latin1"}, {"l1", "nums"}, "`gb`.`v`"},
      {{"gbk", "gbk", false, "gbk"}, {"gb", "nums"}, "`l1`.`v`"},
      {{"UseUnicode", "", true, "utf8mb4"}, {"gb", "l1", "nums", "u8"}, ""},
  };
  TScratchDb source;
  TMyConnection src;
  Prepare(src, source.Name(), "utf8mb4");
  FillConformanceSource(src);
  for (const Case& k : cases) {
    SCOPED_TRACE(k.Session.Name);
    TScratchDb ours, theirs, fromTool;
    TTempDir dir;
    TMyConnection session;
    Prepare(session, source.Name(), k.Session);
    std::vector<std::string> all = {"gb", "l1", "nums", "u8"};
    const std::string expected = ConformancePrint(src, k.Held);
    TMyDump dump;
    dump.SetConnection(&session);
    dump.Objects = doTables | doData | doStoredProcs;
    const fs::path file = dir.Path / "ours.sql";
    if (!k.Refused.empty()) {
      { std::ofstream(file) << "old"; }
      std::string names;
      for (const std::string& t : all) names += t + ",";
      dump.SetTableNames(names + "v");
      try {
        dump.BackupToFile(file.string());
        ADD_FAILURE() << "a column the session cannot hold was backed up";
      } catch (const EDatabaseError& e) {
        EXPECT_NE(e.Message().find(k.Refused), std::string::npos) << e.Message();
      }
      EXPECT_EQ(ReadFile(file), "old");
    }
    std::string names;
    for (const std::string& t : k.Held) names += t + ",";
    dump.SetTableNames(names + "v");
    dump.BackupToFile(file.string());
    EXPECT_NE(ReadFile(file).find("/*!40101 SET NAMES " + k.Session.ClientCharset + " */;"),
              std::string::npos);

    ASSERT_EQ(RunClient("mariadb", "--default-character-set=" + k.Session.ClientCharset + " " +
                                       theirs.Name() + " < " + file.string()),
              0);
    TMyConnection b;
    Prepare(b, theirs.Name(), "utf8mb4");
    EXPECT_EQ(ConformancePrint(b, k.Held), expected) << "our backup through the mariadb client";

    TMyConnection a;
    Prepare(a, ours.Name(), k.Session);
    dump.SetConnection(&a);
    dump.RestoreFromFile(file.string());
    TMyConnection aCheck;
    Prepare(aCheck, ours.Name(), "utf8mb4");
    EXPECT_EQ(ConformancePrint(aCheck, k.Held), expected) << "our backup through our restore";

    const fs::path toolFile = dir.Path / "theirs.sql";
    std::string tables;
    for (const std::string& t : k.Held) tables += " " + t;
    ASSERT_EQ(RunClient("mariadb-dump", "--routines " + source.Name() + tables + " v > " + toolFile.string()),
              0);
    TMyConnection t;
    Prepare(t, fromTool.Name(), k.Session);
    dump.SetConnection(&t);
    dump.RestoreFromFile(toolFile.string());
    TMyConnection tCheck;
    Prepare(tCheck, fromTool.Name(), "utf8mb4");
    EXPECT_EQ(ConformancePrint(tCheck, k.Held), expected) << "mariadb-dump through our restore";
  }
}

}  // namespace
