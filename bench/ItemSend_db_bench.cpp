// Sending gold to every character of a 100,000-character zone (the game's character table,
// MyISAM, latin1 columns holding GBK names) through the item-issuing window's engine, against a
// loop of the C client library doing the same work the same way: the characters read in the order
// of their IDs, then the same gift rows sent in the same multi-row INSERTs of the engine's batch
// size. The two take turns kRuns times, the side that goes first turning from run to run; the
// median of the per-run ratios counts. Each run's rows are checked on the server (count and a
// checksum of their contents, both sides alike) before the table is emptied for the next. Starts
// the test server when none runs.
//
// Goal: our send within 1.5x of the library loop's time.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "components/MyAccessConnection.h"
#include "components/MyAccessDataSet.h"
#include "console/items/ItemSell.h"
#include "platform/widgets/FieldText.h"
#include "support/BenchServer.h"
#include "support/BenchTiming.h"

// The C client library's calls used here (its header's names clash with ours).
extern "C" {
struct st_mysql;
struct st_mysql_res;
st_mysql* mysql_init(st_mysql*);
int mysql_options(st_mysql*, int option, const void* arg);
st_mysql* mysql_real_connect(st_mysql*, const char* host, const char* user, const char* password,
                             const char* db, unsigned port, const char* socket, unsigned long flags);
const char* mysql_error(st_mysql*);
void mysql_close(st_mysql*);
int mysql_real_query(st_mysql*, const char*, unsigned long);
st_mysql_res* mysql_store_result(st_mysql*);
char** mysql_fetch_row(st_mysql_res*);
unsigned long* mysql_fetch_lengths(st_mysql_res*);
void mysql_free_result(st_mysql_res*);
unsigned long long mysql_affected_rows(st_mysql*);
}

namespace {

constexpr int kLibSetCharsetName = 7;  // MYSQL_SET_CHARSET_NAME

constexpr int kCharacters = 100000;
constexpr int kRuns = 5;
std::string gDatabase;

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "ItemSend_db_bench: %s\n", what.c_str());
  std::_Exit(1);
}

// A sink that shows nothing: the engine's own work is what is timed.
class TQuietSink : public TItemSellSink {
 public:
  void Status(const QString&) override {}
  void Progress(const QString&, int) override {}
  void ProcessMessages() override {}
  bool StopRequested() override { return false; }
  bool Ask(const QString&) override { return false; }
  void Message(const QString& text, const QString&, TMsgIcon icon) override {
    if (icon == TMsgIcon::Error) Fail(text.toStdString());
  }
};

std::string Client() {
  const auto& srv = TestServer::Info();
  return "MYSQL_PWD='" + srv.NativePassword + "' mariadb --default-character-set=latin1 -h " + srv.Host +
         " -P " + std::to_string(srv.Port) + " -u " + srv.NativeUser + " ";
}

void RunClient(const std::string& args) {
  if (std::system((Client() + args).c_str()) != 0) Fail("mariadb client: " + args);
}

std::string Value(TMyConnection& con, const std::string& sql) {
  TMyQuery q;
  q.SetConnection(&con);
  q.SetSQLText(sql);
  q.Open();
  const std::string value = q.Fields()[0]->AsString();
  q.Close();
  return value;
}

// The game's character database with kCharacters characters.
void Setup(TMyConnection& con) {
  con.ExecSQL("CREATE DATABASE " + gDatabase + " DEFAULT CHARACTER SET latin1");
  RunClient(gDatabase + " < " + std::string(DA_TEST_SOURCE_DIR) + "/tests/fixtures/game-char.sql");
  con.SetDatabase(gDatabase);
  // 青 in GBK, then the number: names of the game's own bytes.
  con.ExecSQL(
      "INSERT INTO `user` (ID, UniqueName, Name, AccountID, Account, Level, Credit, Faction) SELECT seq, "
      "CONCAT('u', seq), CONCAT(X'C7E0', seq), seq % 5000 + 1, CONCAT('acc', seq % 5000), seq % 80 + 1, "
      "seq * 997 % 5001, seq % 2 FROM seq_1_to_" +
      std::to_string(kCharacters));
}

// What the server holds of the run: row count and a checksum of every row's contents.
std::string Holdings(TMyConnection& con) {
  return Value(
      con,
      "SELECT CONCAT(COUNT(*), '/', SUM(CRC32(CONCAT_WS('|', charID, level, type, attribute, addTime, "
      "limitTime, HEX(msg))))) FROM t_gift");
}

}  // namespace

int main() {
  const TBenchServer server;
  gDatabase = "bench_items_" + std::to_string(::getpid());
  const auto& srv = TestServer::Info();
  TMyConnection con;
  con.SetServer(srv.Host);
  con.SetPort(srv.Port);
  con.SetUsername(srv.NativeUser);
  con.SetPassword(srv.NativePassword);
  con.Options().SetCharset("latin1");
  con.Open();
  Setup(con);

  TSendRequest request;
  request.Kind = TGiftKind::Gold;
  request.Amount = QStringLiteral("1000000");
  request.AllCharacters = true;
  request.Now = EncodeDateTime(2026, 3, 10, 12, 30, 45, 0);
  request.Expiry = EncodeDateTime(2026, 3, 11, 0, 0, 0, 0);
  TQuietSink sink;
  TItemSell engine(con, TFieldCharset::Gbk, sink);

  // The library loop's rows: the engine's values, batch by batch.
  const std::string msg = EncodeFieldText(QStringLiteral("程序添加"), TFieldCharset::Gbk);
  const std::string tail = "','0','2','1000000','20260310123045','20260311000000','" + msg + "')";
  st_mysql* lib = mysql_init(nullptr);
  mysql_options(lib, kLibSetCharsetName, "latin1");
  if (!mysql_real_connect(lib, srv.Host.c_str(), srv.NativeUser.c_str(), srv.NativePassword.c_str(),
                          gDatabase.c_str(), unsigned(srv.Port), nullptr, 0))
    Fail(mysql_error(lib));
  auto query = [&](const std::string& sql) {
    if (mysql_real_query(lib, sql.data(), sql.size()) != 0) Fail(mysql_error(lib));
  };
  auto libraryLoop = [&] {
    query("select ifnull(max(ID),0) from `t_gift`");
    mysql_free_result(mysql_store_result(lib));
    query("select ID,Name from (select ID,Name from `user` \n) as chosen order by ID");
    st_mysql_res* res = mysql_store_result(lib);
    if (!res) Fail(mysql_error(lib));
    const std::string head =
        "INSERT INTO `t_gift` (charID,level,type,attribute,addTime,limitTime,msg) VALUES ";
    std::string sql = head;
    int inBatch = 0, rows = 0;
    while (char** row = mysql_fetch_row(res)) {
      const unsigned long* len = mysql_fetch_lengths(res);
      if (inBatch > 0) sql += ',';
      sql.append("('").append(row[0], len[0]).append(tail);
      ++rows;
      if (++inBatch == engine.BatchSize()) {
        query(sql);
        sql = head;
        inBatch = 0;
      }
    }
    if (inBatch > 0) query(sql);
    mysql_free_result(res);
    if (rows != kCharacters) Fail("the library loop read the wrong count");
  };

  std::vector<double> ours, theirs;
  std::string oursHeld, theirsHeld;
  for (int run = 0; run < kRuns; ++run) {
    InTurn(
        run,
        [&] {
          con.ExecSQL("TRUNCATE TABLE t_gift");
          ours.push_back(Measure([&] {
                           if (engine.Send(request).Rows != kCharacters)
                             Fail("our send wrote the wrong count");
                         }).Wall);
          oursHeld = Holdings(con);
        },
        [&] {
          con.ExecSQL("TRUNCATE TABLE t_gift");
          theirs.push_back(Measure(libraryLoop).Wall);
          theirsHeld = Holdings(con);
        });
    if (oursHeld != theirsHeld) Fail("the rows differ: ours " + oursHeld + ", the library's " + theirsHeld);
  }
  mysql_close(lib);
  if (oursHeld.rfind(std::to_string(kCharacters) + "/", 0) != 0) Fail("wrong row count: " + oursHeld);

  std::printf("gold to all %d characters (rows/checksum %s): medians of %d runs taken in turn\n", kCharacters,
              oursHeld.c_str(), kRuns);
  std::printf("  ours (batches of %d)   %8.3f s  %9.0f rows/s\n", engine.BatchSize(), Median(ours),
              kCharacters / Median(ours));
  std::printf("  library loop (the same) %7.3f s  %9.0f rows/s\n", Median(theirs),
              kCharacters / Median(theirs));
  PrintGoal("gold to every character, wall ours / the library loop", PairRatio(ours, theirs), 1.5);
  con.ExecSQL("DROP DATABASE " + gDatabase);
  return 0;
}
