// A prepared SELECT of 1,000,000 rows read through the direct client API, against the C client
// library's prepared-statement API on the same query. Both sides do the same work: every column
// converted into a typed value (integers, the double, the text copied into a buffer, the date-time
// decoded into its parts) and folded into the same checksum. The sides alternate over kRuns runs
// and the medians count. Starts the test server when none runs.
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "mysql/MyClasses.h"
#include "mysql/MySqlApiDirect.h"
#include "mysql/MySqlStmt.h"
#include "support/BenchServer.h"
#include "support/BenchTiming.h"
#include "support/MariaDbStmtRef.h"

namespace {

constexpr int kRows = 1000000;
constexpr int kRuns = 5;
constexpr const char* kQuery = "SELECT id, big, d, s, dt FROM t";

struct TTiming : TBenchTiming {
  uint64_t Check = 0;
};

template <typename F>
TTiming Time(F&& f) {
  TTiming t;
  static_cast<TBenchTiming&>(t) = Measure([&] { t.Check = f(); });
  return t;
}

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "MySqlStmt_db_bench: %s\n", what.c_str());
  std::exit(1);
}

// Ours: every column through the statement's column pointers into the typed values the
// library's bound buffers receive, with the reference's checksum.
uint64_t ReadDirect(PMYSQL_STMT stmt) {
  TMySQLAPIDirect& api = MyAPIDirect();
  if (api.StmtExecute(stmt, TParamDescs(), false) != 0) Fail(api.mysql_stmt_error(stmt));
  api.StmtBindResults(stmt);
  uint64_t check = 0;
  std::vector<uint32_t> lengths;
  int32_t id;
  int64_t big;
  double d;
  char s[64];
  while (api.StmtFetchRow(stmt) == 0) {
    api.StmtGetLengths(stmt, lengths);
    std::memcpy(&id, api.StmtGetColumnPtr(stmt, 0), sizeof id);
    std::memcpy(&big, api.StmtGetColumnPtr(stmt, 1), sizeof big);
    std::memcpy(&d, api.StmtGetColumnPtr(stmt, 2), sizeof d);
    const size_t n = std::min<size_t>(lengths[3], sizeof s - 1);
    std::memcpy(s, api.StmtGetColumnPtr(stmt, 3), n);
    s[n] = '\0';
    const TMySqlTime dt = DecodeMySqlBinaryTemporal(
        std::span<const uint8_t>(api.StmtGetColumnPtr(stmt, 4), lengths[4]), mftDateTime);
    check += static_cast<uint8_t>(id) + static_cast<uint64_t>(big) + static_cast<uint64_t>(d) + lengths[3] +
             static_cast<uint8_t>(s[0]) + dt.Year + dt.Month + dt.Day + dt.Hour + dt.Minute + dt.Second;
  }
  return check;
}

}  // namespace

int main() {
  const TBenchServer server;
  const auto& srv = server.Info();
  const std::string db = "bench_" + std::to_string(::getpid());

  TMySQLAPIDirect& api = MyAPIDirect();
  PMYSQL_CON con = api.mysql_init(nullptr);
  if (!api.mysql_real_connect(con, srv.Host, srv.NativeUser, srv.NativePassword, {}, srv.Port, {}, 0))
    Fail(api.mysql_error(con));
  for (const std::string sql :
       {"CREATE DATABASE " + db, "USE " + db,
        std::string("CREATE TABLE t (id INT, big BIGINT, d DOUBLE, s VARCHAR(40), dt DATETIME)"),
        "INSERT INTO t SELECT seq, seq * 1000003, seq / 7, CONCAT('name-', seq), "
        "'2024-01-01' + INTERVAL seq SECOND FROM seq_1_to_" +
            std::to_string(kRows)})
    if (api.mysql_real_query(con, sql) != 0) Fail(sql + ": " + api.mysql_error(con));

  PMYSQL_STMT ours = api.mysql_stmt_init(con);
  if (api.mysql_stmt_prepare(ours, kQuery) != 0) Fail(api.mysql_stmt_error(ours));
  std::vector<TTiming> direct, library;
  try {
    TLibraryStmt ref(srv.Host, srv.Port, srv.NativeUser, srv.NativePassword, db, kQuery);
    for (int run = 0; run < kRuns; ++run)
      InTurn(
          run, [&] { direct.push_back(Time([&] { return ReadDirect(ours); })); },
          [&] { library.push_back(Time([&] { return ref.ReadAll(); })); });
  } catch (const Exception& e) {
    Fail(e.Message());
  }
  api.mysql_stmt_close(ours);
  api.mysql_real_query(con, "DROP DATABASE " + db);
  api.mysql_close(con);
  for (size_t i = 0; i < direct.size(); ++i)
    if (direct[i].Check != library[i].Check || direct[i].Check != direct[0].Check)
      Fail("the two reads disagree");

  auto median = [](const std::vector<TTiming>& t, double TTiming::*f) {
    std::vector<double> v;
    for (const TTiming& x : t) v.push_back(x.*f);
    return Median(v);
  };
  auto ratio = [&](double TTiming::*f) {
    std::vector<double> v;
    for (size_t i = 0; i < direct.size(); ++i) v.push_back(direct[i].*f / library[i].*f);
    return Median(v);
  };
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  std::printf(
      "prepared SELECT of %d rows, 5 columns converted to typed values; medians of %d alternating runs\n",
      kRows, kRuns);
  std::printf("  direct client API:       wall %.3f s, cpu %.3f s\n", median(direct, &TTiming::Wall),
              median(direct, &TTiming::Cpu));
  std::printf("  C client library (ref):  wall %.3f s, cpu %.3f s\n", median(library, &TTiming::Wall),
              median(library, &TTiming::Cpu));
  std::printf("  ratio direct/library:    wall %.2f, cpu %.2f; peak memory of the process %ld KiB\n",
              ratio(&TTiming::Wall), ratio(&TTiming::Cpu), ru.ru_maxrss);
  return 0;
}
