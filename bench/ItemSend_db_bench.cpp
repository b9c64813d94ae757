// Sending gold to every character of a 100,000-character zone (the game's character table,
// MyISAM, latin1 columns holding GBK names) through the item-issuing window's engine, against
// the same 100,000 gift rows sent by the mariadb client as single-row INSERTs from a file. The
// two take turns kRuns times; medians count. Each run's rows are checked on the server (count and
// a checksum of their contents, both sides alike) before the table is emptied for the next.
// Starts the test server when none runs.
//
// Goal: our rows per second within 1.5x of the client's time.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "components/MyAccessConnection.h"
#include "components/MyAccessDataSet.h"
#include "console/ItemSell.h"
#include "platform/widgets/FieldText.h"
#include "support/BenchServer.h"
#include "support/BenchTiming.h"

namespace {

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

  // The client's file: the same rows, one INSERT each.
  const std::string file = std::filesystem::temp_directory_path() / (gDatabase + ".sql");
  {
    const std::string msg = EncodeFieldText(QStringLiteral("程序添加"), TFieldCharset::Gbk);
    std::ofstream out(file, std::ios::binary);
    for (int id = 1; id <= kCharacters; ++id)
      out << "INSERT INTO `t_gift` (charID,level,type,attribute,addTime,limitTime,msg) VALUES ('" << id
          << "','0','2','1000000','20260310123045','20260311000000','" << msg << "');\n";
  }

  std::vector<double> ours, theirs;
  std::string oursHeld, theirsHeld;
  for (int run = 0; run < kRuns; ++run) {
    con.ExecSQL("TRUNCATE TABLE t_gift");
    ours.push_back(Measure([&] {
                     if (engine.Send(request).Rows != kCharacters) Fail("our send wrote the wrong count");
                   }).Wall);
    oursHeld = Holdings(con);
    con.ExecSQL("TRUNCATE TABLE t_gift");
    theirs.push_back(Measure([&] { RunClient(gDatabase + " < " + file); }).Wall);
    theirsHeld = Holdings(con);
    if (oursHeld != theirsHeld) Fail("the rows differ: ours " + oursHeld + ", client's " + theirsHeld);
  }
  if (oursHeld.rfind(std::to_string(kCharacters) + "/", 0) != 0) Fail("wrong row count: " + oursHeld);

  const double ratio = Median(ours) / Median(theirs);
  std::printf("gold to all %d characters (rows/checksum %s): medians of %d runs taken in turn\n", kCharacters,
              oursHeld.c_str(), kRuns);
  std::printf("  ours (batches of %d) %8.3f s  %9.0f rows/s\n", engine.BatchSize(), Median(ours),
              kCharacters / Median(ours));
  std::printf("  mariadb client       %8.3f s  %9.0f rows/s  ratio %.2f\n", Median(theirs),
              kCharacters / Median(theirs), ratio);
  std::printf("goal: within 1.5x of the client's time: %s\n", ratio <= 1.5 ? "met" : "not met");
  std::filesystem::remove(file);
  con.ExecSQL("DROP DATABASE " + gDatabase);
  return 0;
}
