// The zone-merge run over a generated source zone of 10,000 accounts, 30,000 characters and
// 10,000 warehouses (the game's layout: MyISAM, latin1 columns holding GBK names) into a target
// zone where 1,000 account names and 1,500 character names are already taken (tagged copies,
// compensation). Beside it, the server's time for the same statements: the statement texts of a
// run are taken from the server's general log and replayed through the C client library on four
// connections in the same databases, each result read whole. The target is reset before every
// run; each run's target must count and checksum as the first one did. The two take turns kRuns
// times, the side that goes first turning from run to run; the median of the per-run ratios
// counts. After each pair the same end state is reached by a set-based merge in SQL (a few
// INSERT ... SELECT statements over whole tables, as a DBA would write it), checked by counts
// and checksums like the others; its ratio is printed without a goal. Starts the test server
// when none runs.
//
// Goal: the run within 1.2x of the server's time for its statements.
#include <unistd.h>

#include <QString>
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "components/MyAccessConnection.h"
#include "components/MyRowReader.h"
#include "console/merge/ZoneMerge.h"
#include "support/BenchServer.h"
#include "support/BenchTiming.h"

extern "C" {
struct st_mysql;
struct st_mysql_res;
st_mysql* mysql_init(st_mysql*);
st_mysql* mysql_real_connect(st_mysql*, const char* host, const char* user, const char* password,
                             const char* db, unsigned port, const char* socket, unsigned long flags);
const char* mysql_error(st_mysql*);
void mysql_close(st_mysql*);
int mysql_real_query(st_mysql*, const char*, unsigned long);
st_mysql_res* mysql_store_result(st_mysql*);
char** mysql_fetch_row(st_mysql_res*);
void mysql_free_result(st_mysql_res*);
unsigned int mysql_field_count(st_mysql*);
}

namespace {

// A smaller zone may be asked for on the command line (the first argument: accounts).
int kAccounts = 10000;
int kCharacters = 3 * kAccounts;
int kTakenAccounts = kAccounts / 10;
int kTakenCharacters = kCharacters / 20;
constexpr int kRuns = 3;

std::string gPrefix;
std::vector<double> gOurCpu;  // the process's CPU seconds in each run

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "ZoneMerge_db_bench: %s\n", what.c_str());
  std::_Exit(1);
}

std::string Db(const char* part) {
  return gPrefix + part;
}

std::unique_ptr<TMyConnection> Connect(const std::string& database) {
  const auto& srv = TestServer::Info();
  auto con = std::make_unique<TMyConnection>();
  con->SetServer(srv.Host);
  con->SetPort(srv.Port);
  con->SetUsername(srv.NativeUser);
  con->SetPassword(srv.NativePassword);
  con->SetDatabase(database);
  con->Open();
  return con;
}

std::string First(TMyConnection& con, const std::string& sql) {
  const std::vector<std::string> values = TMyRowReader::FirstColumn(con, sql);
  return values.empty() ? std::string() : values.front();
}

// Loads a zone's tables (the fixture script through the mariadb client).
void LoadZone(const std::string& acc, const std::string& chr, const std::string& log, bool target) {
  const auto& srv = TestServer::Info();
  const std::string command = "set -o pipefail; export MYSQL_PWD='" + srv.NativePassword +
                              "'; '" DA_TEST_SOURCE_DIR "/tests/fixtures/game-data' " +
                              (target ? "--target " : "") + acc + " " + chr + " " + log +
                              " | mariadb --default-character-set=latin1 -h " + srv.Host + " -P " +
                              std::to_string(srv.Port) + " -u " + srv.NativeUser;
  if (std::system(("bash -c \"" + command + "\"").c_str()) != 0) Fail("loading a zone failed");
}

void Setup(TMyConnection& admin) {
  LoadZone(Db("s_acc"), Db("s_chr"), Db("s_log"), false);
  LoadZone(Db("t_acc"), Db("t_chr"), Db("t_log"), true);
  // The sequence tables need a current database.
  admin.SetDatabase(Db("s_log"));
  const std::string sa = Db("s_acc"), sc = Db("s_chr"), ta = Db("t_acc"), tc = Db("t_chr");
  const std::string n = std::to_string(kAccounts), m = std::to_string(kCharacters);
  for (const std::string& t :
       {sa + ".user", sc + ".user", sc + ".t_bank", ta + ".user", tc + ".user", tc + ".t_bank"})
    admin.ExecSQL("TRUNCATE TABLE " + t);
  admin.ExecSQL(
      "INSERT INTO " + sa +
      ".user (idx,username,password,create_date,`from`,latest_login_date,latest_login_ip,email,webmoney) "
      "SELECT seq, CONCAT('p', LPAD(seq, 5, '0')), SUBSTRING(MD5('123456'),9,16), "
      "'2023-10-01 09:30:00' + INTERVAL seq MINUTE, 'web', '2024-03-01 21:15:00' + INTERVAL seq SECOND, "
      "CONCAT('10.0.', seq % 250, '.', seq % 200), CONCAT('p', seq, '@example.com'), seq * 100 "
      "FROM seq_1_to_" +
      n);
  // Names: a GBK "青云" and a number; one in five ends in 0x5C-trailing "籠".
  admin.ExecSQL(
      "INSERT INTO " + sc +
      ".user "
      "(ID,UniqueName,Name,ActorID,AccountID,Account,Level,CreateDate,Gold,Skills,Items,Faction,UsData) "
      "SELECT seq, CONCAT(X'C7E0D4C6', seq, IF(seq % 5 = 0, X'BB5C', '')), "
      "CONCAT(X'C7E0D4C6', seq, IF(seq % 5 = 0, X'BB5C', '')), seq % 6 + 1, (seq - 1) DIV 3 + 1, "
      "CONCAT('p', LPAD((seq - 1) DIV 3 + 1, 5, '0')), seq % 80 + 1, '2023-11-01 10:00:00' + INTERVAL seq "
      "MINUTE, "
      "seq * 12345 % 900000, '1:1;2:2;', REPEAT('id=1001;color=1;lev=3;bind=0;|', 8), seq % 2, NULL "
      "FROM seq_1_to_" +
      m);
  admin.ExecSQL(
      "INSERT INTO " + sc +
      ".t_bank SELECT seq, CONCAT('p', LPAD(seq, 5, '0')), REPEAT('id=2040;color=2;|', 6), seq * 10, NULL "
      "FROM seq_1_to_" +
      n);
  // The target's own rows, kept aside to reset it before every run.
  admin.ExecSQL("INSERT INTO " + ta +
                ".user (idx,username,password,create_date,email) SELECT seq, CONCAT('p', LPAD(seq, 5, '0')), "
                "'x', '2020-01-01 00:00:00', 'own@example.com' FROM seq_1_to_" +
                std::to_string(kTakenAccounts));
  admin.ExecSQL(
      "INSERT INTO " + tc +
      ".user (UniqueName,Name,AccountID,Account,Faction) SELECT CONCAT(X'C7E0D4C6', seq, IF(seq % 5 = 0, "
      "X'BB5C', '')), CONCAT(X'C7E0D4C6', seq, IF(seq % 5 = 0, X'BB5C', '')), seq % 1000 + 1, 'own', seq % 2 "
      "FROM seq_1_to_" +
      std::to_string(kTakenCharacters));
  for (const char* t : {"t_acc", "t_chr"}) admin.ExecSQL("CREATE DATABASE " + Db(t) + "_own");
  admin.ExecSQL("CREATE TABLE " + ta + "_own.user SELECT * FROM " + ta + ".user");
  admin.ExecSQL("CREATE TABLE " + tc + "_own.user SELECT * FROM " + tc + ".user");
  admin.ExecSQL("CREATE TABLE " + tc + "_own.t_bank SELECT * FROM " + tc + ".t_bank");
}

void ResetTarget(TMyConnection& admin) {
  const std::string ta = Db("t_acc"), tc = Db("t_chr");
  for (const std::string& t : {ta + ".user", tc + ".user", tc + ".t_bank"}) {
    const std::string own = t.substr(0, t.find('.')) + "_own" + t.substr(t.find('.'));
    admin.ExecSQL("TRUNCATE TABLE " + t);
    admin.ExecSQL("INSERT INTO " + t + " SELECT * FROM " + own);
  }
  // The run's record of what it copied: without it the next run finds every copy made already.
  admin.ExecSQL("DROP TABLE IF EXISTS " + tc + ".`t_zqv2to1_copy`");
}

// Counts and checksums of the target tables.
std::string TargetState(TMyConnection& admin) {
  std::string state;
  for (const std::string& t : {Db("t_acc") + ".user", Db("t_chr") + ".user", Db("t_chr") + ".t_bank"}) {
    TMyRowReader reader(admin);
    reader.Open("CHECKSUM TABLE " + t);
    if (!reader.Next()) Fail("no checksum");
    state += First(admin, "SELECT COUNT(*) FROM " + t) + "/" + reader.Value(1) + " ";
  }
  return state;
}

class TQuietSink : public TZoneMergeSink {
 public:
  void BeginEventLog(const QString&) override {}
  void Operation(const QString&) override { ++Lines; }
  void Event(const QString&) override { ++Lines; }
  void Progress(const QString&) override {}
  void Step(const QString&) override {}
  void Description(const QString&) override {}
  bool Ask(const QString& text, const QString&, bool, bool) override { Fail("asked: " + text.toStdString()); }
  void Inform(const QString&, const QString&, bool) override {}
  bool ProcessMessagesAndCheckStop() override { return false; }
  long Lines = 0;
};

struct TZones {
  std::unique_ptr<TMyConnection> Con[4];
  TZones() {
    const char* parts[] = {"s_acc", "s_chr", "t_acc", "t_chr"};
    for (int i = 0; i < 4; ++i) Con[i] = Connect(Db(parts[i]));
  }
};

double Ours(TZones& z) {
  TZoneMergeOptions options;
  options.MergeBank = true;
  TQuietSink sink;
  TZoneMerge merge(*z.Con[0], *z.Con[1], *z.Con[2], *z.Con[3], {}, {}, options, sink);
  TZoneMergeCounts counts;
  const TBenchTiming timing = Measure([&] { counts = merge.Run(); });
  gOurCpu.push_back(timing.Cpu);
  const double wall = timing.Wall;
  if (!counts.Completed || counts.AccountsCopied != kAccounts || counts.CharactersCopied != kCharacters ||
      counts.BanksCopied != kAccounts || counts.Errors != 0 || counts.Skipped != 0)
    Fail("unexpected counts");
  return wall;
}

struct TStatement {
  int Connection;
  std::string Text;
};

class TLibrary {
 public:
  explicit TLibrary(const std::string& database) : FMysql(mysql_init(nullptr)) {
    const auto& srv = TestServer::Info();
    if (!mysql_real_connect(FMysql, srv.Host.c_str(), srv.NativeUser.c_str(), srv.NativePassword.c_str(),
                            database.c_str(), unsigned(srv.Port), nullptr, 0))
      Fail(std::string("library connect: ") + mysql_error(FMysql));
    Run("SET NAMES latin1");
  }
  ~TLibrary() { mysql_close(FMysql); }
  void Run(const std::string& sql) {
    if (mysql_real_query(FMysql, sql.data(), sql.size()) != 0)
      Fail(std::string("replay: ") + mysql_error(FMysql));
    if (st_mysql_res* result = mysql_store_result(FMysql)) {
      while (mysql_fetch_row(result)) {
      }
      mysql_free_result(result);
    } else if (mysql_field_count(FMysql) != 0) {
      Fail(mysql_error(FMysql));
    }
  }

 private:
  st_mysql* FMysql;
};

// The statements of one run as the server received them (its general log, written to a file
// byte for byte), with the connection each came on.
std::vector<TStatement> Capture(TMyConnection& admin, TZones& z) {
  std::map<std::string, int> threads;
  for (int i = 0; i < 4; ++i) threads[First(*z.Con[i], "SELECT CONNECTION_ID()")] = i;
  const std::string file = "/tmp/" + gPrefix + "general.log";
  std::remove(file.c_str());
  admin.ExecSQL("SET GLOBAL general_log_file='" + file + "'");
  admin.ExecSQL("SET GLOBAL log_output='FILE'");
  admin.ExecSQL("SET GLOBAL general_log=1");
  Ours(z);
  admin.ExecSQL("SET GLOBAL general_log=0");
  std::vector<TStatement> statements;
  std::ifstream in(file, std::ios::binary);
  std::string line;
  // An entry starts "[yymmdd hh:mm:ss]<blanks><thread id> <command>\t<argument>"; a statement of
  // several lines goes on in the lines after it, which start otherwise.
  auto startsEntry = [](const std::string& l) {
    size_t i = 0;
    if (l.size() > 15 && std::isdigit(static_cast<unsigned char>(l[0])) && l[6] == ' ' && l[9] == ':')
      i = 15;  // the time
    else if (l.rfind("\t\t", 0) != 0)
      return false;
    i = l.find_first_not_of(" \t", i);
    const size_t digits = i == std::string::npos ? i : l.find_first_not_of("0123456789", i);
    return digits != std::string::npos && digits > i && l[digits] == ' ';
  };
  bool inQuery = false;  // the entry being read is a statement of the run's sessions
  while (std::getline(in, line)) {
    if (!startsEntry(line)) {
      if (inQuery) statements.back().Text += "\n" + line;
      continue;
    }
    inQuery = false;
    const size_t p = line.find(" Query\t");
    if (p == std::string::npos) continue;
    size_t idStart = p;
    while (idStart > 0 && std::isdigit(static_cast<unsigned char>(line[idStart - 1]))) --idStart;
    const auto it = threads.find(line.substr(idStart, p - idStart));
    if (it == threads.end()) continue;
    statements.push_back({it->second, line.substr(p + 7)});
    inQuery = true;
  }
  std::remove(file.c_str());
  return statements;
}

double Replay(const std::vector<TStatement>& statements) {
  const char* parts[] = {"s_acc", "s_chr", "t_acc", "t_chr"};
  std::vector<std::unique_ptr<TLibrary>> libs;
  for (const char* p : parts) libs.push_back(std::make_unique<TLibrary>(Db(p)));
  return Measure([&] {
           for (const TStatement& s : statements) libs[size_t(s.Connection)]->Run(s.Text);
         })
      .Wall;
}

// Column lists of the copies, as the run writes them.
const char* const kAccountColumns =
    "username,`password`,deleted,user_priv,locked,lock_begin,lock_end,create_date,`from`,latest_login_date,"
    "latest_login_ip,email,webmoney";
const char* const kCharacterColumns =
    "UniqueName,Name,ActorID,AccountID,Account,Scene,HP,MP,`EXP`,AP,Level,DeleteDate,CreateDate,"
    "LastUpdateDate,"
    "Metier,MetierLevel,X,Y,Gold,SP,Str,Con,Dex,`Int`,Hit,Skills,Items,Shortcut,Config,PK,Task,Score,"
    "HeadModelID,"
    "Credit,OnlineTime,usertype,LastDelUnionTime,LastRemoveMPTime,`Password`,deleted,Faction,ClearCnt,"
    "DungeonTID,DungeonUID,DungeonQuit,DungeonTask,InWarfield,WarfieldQuit,UsData,WithdrawMPGift,MyData,"
    "golduser1";

// "s.a,s.b,...", each column of the list taken from `alias` unless `replaced` gives its value.
std::string SelectList(const std::string& columns, const std::map<std::string, std::string>& replaced) {
  std::string list;
  size_t start = 0;
  while (start <= columns.size()) {
    const size_t end = std::min(columns.find(',', start), columns.size());
    const std::string column = columns.substr(start, end - start);
    const auto it = replaced.find(column);
    list += (list.empty() ? "" : ",") + (it != replaced.end() ? it->second : "s." + column);
    start = end + 1;
  }
  return list;
}

// The same merge as a DBA would write it in SQL over whole tables: every account copied, under
// the tag "us2" before its name where the target has the name; every character not deleted,
// under "CH2" before its name where the target has it, then with 5,000,000 more gold; every
// warehouse under its account's new idx; new numbers given in the run's order (accounts by idx,
// characters by account and ID). For this data a tagged name is always free.
double SetBased() {
  const std::string sa = Db("s_acc") + ".`user`", sc = Db("s_chr") + ".`user`", ta = Db("t_acc") + ".`user`",
                    tc = Db("t_chr") + ".`user`";
  const std::vector<std::string> statements = {
      "CREATE TEMPORARY TABLE acc_map (src INT PRIMARY KEY, name VARCHAR(32) NOT NULL, newidx INT NULL)",
      "INSERT INTO acc_map (src, name) SELECT s.idx, IF(EXISTS(SELECT 1 FROM " + ta +
          " t WHERE t.username = s.username), CONCAT('us2', s.username), s.username) FROM " + sa + " s",
      "INSERT INTO " + ta + " (" + kAccountColumns + ") SELECT " +
          SelectList(kAccountColumns, {{"username", "m.name"}}) + " FROM " + sa +
          " s JOIN acc_map m ON m.src = s.idx ORDER BY s.idx",
      "UPDATE acc_map m JOIN " + ta + " t ON t.username = m.name SET m.newidx = t.idx",
      "CREATE TEMPORARY TABLE chr_map (id INT PRIMARY KEY, name VARCHAR(32) NOT NULL, tagged TINYINT NOT "
      "NULL)",
      "INSERT INTO chr_map SELECT s.ID, s.Name, EXISTS(SELECT 1 FROM " + tc +
          " t WHERE t.Name = s.Name) FROM " + sc + " s WHERE s.deleted<>'1'",
      "UPDATE chr_map SET name = CONCAT('CH2', name) WHERE tagged = 1",
      "INSERT INTO " + tc + " (" + kCharacterColumns + ") SELECT " +
          SelectList(kCharacterColumns,
                     {{"UniqueName", "m.name"},
                      {"Name", "m.name"},
                      {"AccountID", "a.newidx"},
                      {"Gold", "IF(m.tagged, LEAST(s.Gold + 5000000, 2147483647), s.Gold)"},
                      {"UsData", "'*'"}}) +
          " FROM " + sc +
          " s JOIN chr_map m ON m.id = s.ID JOIN acc_map a ON a.src = s.AccountID ORDER BY a.src, s.ID",
      "INSERT INTO " + Db("t_chr") +
          ".`t_bank` (AccountID,Account,Items,BankMoney,Password) SELECT "
          "a.newidx,s.Account,s.Items,s.BankMoney,"
          "s.Password FROM " +
          Db("s_chr") + ".`t_bank` s JOIN acc_map a ON a.src = s.AccountID ORDER BY a.src",
      "DROP TEMPORARY TABLE acc_map, chr_map",
  };
  TLibrary lib(Db("t_chr"));
  return Measure([&] {
           for (const std::string& sql : statements) lib.Run(sql);
         })
      .Wall;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::atoi(argv[1]) > 0) {
    kAccounts = std::atoi(argv[1]);
    kCharacters = 3 * kAccounts;
    kTakenAccounts = kAccounts / 10;
    kTakenCharacters = kCharacters / 20;
  }
  const TBenchServer server;
  gPrefix = "bench_merge_" + std::to_string(::getpid()) + "_";
  const auto& srv = TestServer::Info();
  TMyConnection admin;
  admin.SetServer(srv.Host);
  admin.SetPort(srv.Port);
  admin.SetUsername(srv.NativeUser);
  admin.SetPassword(srv.NativePassword);
  admin.Open();
  Setup(admin);
  std::printf(
      "zone merge of %d accounts, %d characters, %d warehouses (%d account and %d character names "
      "taken): medians of %d runs taken in turn\n",
      kAccounts, kCharacters, kAccounts, kTakenAccounts, kTakenCharacters, kRuns);
  std::vector<TStatement> statements;
  std::string expected;
  {
    TZones zones;
    ResetTarget(admin);
    statements = Capture(admin, zones);
    expected = TargetState(admin);
  }
  std::vector<double> ours, theirs, setBased;
  for (int run = 0; run < kRuns; ++run) {
    InTurn(
        run,
        [&] {
          TZones zones;
          ResetTarget(admin);
          ours.push_back(Ours(zones));
          if (const std::string state = TargetState(admin); state != expected)
            Fail("our run left another target: " + state + "instead of " + expected);
        },
        [&] {
          ResetTarget(admin);
          theirs.push_back(Replay(statements));
          if (const std::string state = TargetState(admin); state != expected)
            Fail("the replay left another target: " + state + "instead of " + expected);
        });
    ResetTarget(admin);
    setBased.push_back(SetBased());
    if (const std::string state = TargetState(admin); state != expected)
      Fail("the set-based merge left another target: " + state + "instead of " + expected);
  }
  std::printf("  %zu statements; target after each run: %s\n", statements.size(), expected.c_str());
  std::printf("  run      %9.3f s  %8.0f accounts/s (CPU %.3f s)\n", Median(ours), kAccounts / Median(ours),
              Median(gOurCpu));
  std::printf("  server   %9.3f s  %8.0f accounts/s (the same statements through the C library)\n",
              Median(theirs), kAccounts / Median(theirs));
  PrintGoal("the run / the server's time for its statements, wall", PairRatio(ours, theirs), 1.2);
  const TPairRatio sql = PairRatio(ours, setBased);
  std::printf("  set-based %8.3f s  (the same end state by INSERT ... SELECT over whole tables)\n",
              Median(setBased));
  std::printf(
      "  the run / a set-based SQL merge of the same zones, wall  %.2fx  no goal  (pairs: all %.2f-%.2f)\n",
      sql.Median, sql.Min, sql.Max);
  for (const char* d : {"s_acc", "s_chr", "s_log", "t_acc", "t_chr", "t_log", "t_acc_own", "t_chr_own"})
    admin.ExecSQL("DROP DATABASE IF EXISTS " + Db(d));
  return 0;
}
