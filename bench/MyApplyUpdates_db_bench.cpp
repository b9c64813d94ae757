// Applying 10,000 single-row cached UPDATEs of a TMyQuery (one statement per row, autocommit; each
// changes a row's level and name) against a plain loop of the C client library sending the same
// 10,000 UPDATE statements, built the same way, one mysql_real_query each. Each side runs in a
// child process of its own, the two taking turns kRuns times with the side that goes first turning
// from run to run; the medians of the per-run ratios count. Each side's wall and CPU time
// cover only the sending: ours from ApplyUpdates to its end (the edits before it are local), the
// library's loop from its first statement to its last reply. After each run the server must hold
// the levels and the names that run wrote, row by row.
//
// Goal: our apply within 1.5x of the library loop's wall time.
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "components/MyAccessDataSet.h"
#include "components/MyRowReader.h"
#include "support/BenchServer.h"
#include "support/BenchTiming.h"

// The C client library's calls used here (its header's names clash with ours).
extern "C" {
struct st_mysql;
st_mysql* mysql_init(st_mysql*);
st_mysql* mysql_real_connect(st_mysql*, const char* host, const char* user, const char* password,
                             const char* db, unsigned port, const char* socket, unsigned long flags);
const char* mysql_error(st_mysql*);
void mysql_close(st_mysql*);
int mysql_real_query(st_mysql*, const char*, unsigned long);
unsigned long long mysql_affected_rows(st_mysql*);
}

namespace {

constexpr int kRows = 10000;
constexpr int kRuns = 7;

std::string gDatabase;

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "MyApplyUpdates_db_bench: %s\n", what.c_str());
  std::_Exit(1);
}

struct TRun {
  double Wall = 0;
  double Cpu = 0;
};

void Prepare(TMyConnection& c, const std::string& database) {
  const auto& srv = TestServer::Info();
  c.LoginPrompt = false;
  c.SetServer(srv.Host);
  c.SetPort(srv.Port);
  c.SetUsername(srv.NativeUser);
  c.SetPassword(srv.NativePassword);
  c.SetDatabase(database);
}

// Runs work in a child process, which measures its own wall and CPU time and writes them to the
// pipe.
TRun InChild(const std::function<TBenchTiming()>& work) {
  int fds[2];
  if (pipe(fds) != 0) Fail("pipe");
  const pid_t pid = fork();
  if (pid < 0) Fail("fork");
  if (pid == 0) {
    close(fds[0]);
    try {
      const TBenchTiming t = work();
      if (write(fds[1], &t, sizeof t) != sizeof t) std::_Exit(3);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "MyApplyUpdates_db_bench: %s\n", e.what());
      std::_Exit(2);
    }
    std::_Exit(0);
  }
  close(fds[1]);
  TBenchTiming t;
  const bool got = read(fds[0], &t, sizeof t) == sizeof t;
  close(fds[0]);
  int status = 0;
  if (waitpid(pid, &status, 0) != pid || !got || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
    Fail("a run failed");
  return {t.Wall, t.Cpu};
}

// Row id's name after `round`: each round writes other names, so a name left unwritten shows.
std::string Name(int id, int round) {
  return "r" + std::to_string(round) + "-hero-" + std::to_string(id);
}

TBenchTiming Ours(int round) {
  TMyConnection c;
  Prepare(c, gDatabase);
  TMyQuery q;
  q.SetConnection(&c);
  q.SetCachedUpdates(true);
  q.SetSQLText("SELECT * FROM t");
  q.Open();
  TField* id = q.FieldByName("id");
  TField* level = q.FieldByName("level");
  TField* name = q.FieldByName("name");
  for (q.First(); !q.Eof(); q.Next()) {
    q.Edit();
    level->SetAsInteger(id->AsInteger() + round);
    name->SetAsString(Name(id->AsInteger(), round));
    q.Post();
  }
  return Measure([&] {
    q.ApplyUpdates();
    q.CommitUpdates();
  });
}

// The statements our apply sends, byte for byte (the server's general log shows them), one call each.
TBenchTiming Library(int round) {
  const auto& srv = TestServer::Info();
  st_mysql* m = mysql_init(nullptr);
  if (!mysql_real_connect(m, srv.Host.c_str(), srv.NativeUser.c_str(), srv.NativePassword.c_str(),
                          gDatabase.c_str(), unsigned(srv.Port), nullptr, 0))
    Fail(mysql_error(m));
  const TBenchTiming t = Measure([&] {
    std::string sql;
    for (int id = 1; id <= kRows; ++id) {
      sql = "UPDATE t\r\nSET\r\n  level = " + std::to_string(id + round) + ", name = '" + Name(id, round) +
            "'\r\nWHERE\r\n  id = " + std::to_string(id);
      if (mysql_real_query(m, sql.data(), sql.size()) != 0) Fail(mysql_error(m));
      if (mysql_affected_rows(m) != 1) Fail("the library's update changed no row: " + sql);
    }
  });
  mysql_close(m);
  return t;
}

// Read on a fresh session: the rows whose level or name is not what `round` wrote, and the row count.
void Check(int round, const char* who) {
  TMyConnection c;
  Prepare(c, gDatabase);
  c.Open();
  TMyRowReader reader(c);
  reader.Open("SELECT CAST(COUNT(*) AS CHAR), CAST(SUM(level <> id + " + std::to_string(round) +
              " OR name IS NULL OR name <> CONCAT('r', " + std::to_string(round) +
              ", '-hero-', id)) AS CHAR) FROM t");
  if (!reader.Next() || reader.Value(0) != std::to_string(kRows) || reader.Value(1) != "0")
    Fail(std::string(who) + " left wrong levels or names");
}

}  // namespace

int main() {
  TBenchServer server;
  gDatabase = "applybench_" + std::to_string(::getpid());
  std::vector<TRun> ours, theirs;
  try {
    TMyConnection c;
    Prepare(c, {});
    c.ExecSQL("CREATE DATABASE " + gDatabase);
    c.ExecSQL("USE " + gDatabase);
    c.ExecSQL("CREATE TABLE t (id INT PRIMARY KEY, level INT, name VARCHAR(20))");
    c.ExecSQL("INSERT INTO t SELECT seq, 0, CONCAT('hero-', seq) FROM seq_1_to_" + std::to_string(kRows));
    int round = 0;
    for (int run = 0; run < kRuns; ++run)
      InTurn(
          run,
          [&] {
            ++round;
            ours.push_back(InChild([round] { return Ours(round); }));
            Check(round, "our apply");
          },
          [&] {
            ++round;
            theirs.push_back(InChild([round] { return Library(round); }));
            Check(round, "the library loop");
          });
    c.ExecSQL("DROP DATABASE " + gDatabase);
  } catch (const std::exception& e) {
    Fail(e.what());
  }
  std::vector<double> ow, tw, oc, tc;
  for (const TRun& r : ours) ow.push_back(r.Wall), oc.push_back(r.Cpu);
  for (const TRun& r : theirs) tw.push_back(r.Wall), tc.push_back(r.Cpu);
  std::printf("%d single-row cached UPDATEs (level and name), medians of %d runs taken in turn\n", kRows,
              kRuns);
  std::printf("  ours (ApplyUpdates): %.3f s, CPU %.3f s\n", Median(ow), Median(oc));
  std::printf("  library loop:        %.3f s, CPU %.3f s\n", Median(tw), Median(tc));
  std::printf("  CPU ours / library %.2fx\n", PairRatio(oc, tc).Median);
  PrintGoal("cached UPDATEs, wall ours / the library loop", PairRatio(ow, tw), 1.5);
  return 0;
}
