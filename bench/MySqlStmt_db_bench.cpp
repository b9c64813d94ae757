// A prepared SELECT of 100,000 rows read through the direct client API, against the C client
// library's prepared-statement API on the same query. Starts the test server when none runs.
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>

#include "mysql/MySqlApiDirect.h"
#include "support/MariaDbStmtRef.h"
#include "support/TestServer.h"

namespace {

constexpr int kRows = 100000;
constexpr const char* kQuery = "SELECT id, big, d, s, dt FROM t";

struct TTiming {
  double Wall = 1e9, Cpu = 1e9;
  uint64_t Check = 0;
};

template <typename F>
TTiming Best(int runs, F&& f) {
  TTiming best;
  for (int i = 0; i < runs; ++i) {
    const auto w0 = std::chrono::steady_clock::now();
    const std::clock_t c0 = std::clock();
    best.Check = f();
    best.Wall =
        std::min(best.Wall, std::chrono::duration<double>(std::chrono::steady_clock::now() - w0).count());
    best.Cpu = std::min(best.Cpu, double(std::clock() - c0) / CLOCKS_PER_SEC);
  }
  return best;
}

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "MySqlStmt_db_bench: %s\n", what.c_str());
  std::exit(1);
}

// Ours: every column through the statement's column pointers, with the reference's checksum.
uint64_t ReadDirect(PMYSQL_STMT stmt) {
  TMySQLAPIDirect& api = MyAPIDirect();
  if (api.StmtExecute(stmt, TParamDescs(), false) != 0) Fail(api.mysql_stmt_error(stmt));
  api.StmtBindResults(stmt);
  uint64_t check = 0;
  std::vector<uint32_t> lengths;
  while (api.StmtFetchRow(stmt) == 0) {
    api.StmtGetLengths(stmt, lengths);
    for (uint32_t i = 0; i < lengths.size(); ++i) api.StmtGetColumnPtr(stmt, i);
    check += *api.StmtGetColumnPtr(stmt, 0) + lengths[3] + *api.StmtGetColumnPtr(stmt, 3);
  }
  return check;
}

}  // namespace

int main() {
  const std::filesystem::path info(DA_TEST_SERVER_INFO);
  const std::string script = std::string(DA_TEST_SOURCE_DIR) + "/scripts/test-server";
  const bool started = !std::filesystem::exists(info);
  if (started &&
      std::system((script + " start " + info.parent_path().string() + " >/dev/null 2>&1").c_str()) != 0)
    Fail("the test server did not start");
  const auto& srv = TestServer::Info();
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
  TTiming direct, library;
  try {
    TLibraryStmt ref(srv.Host, srv.Port, srv.NativeUser, srv.NativePassword, db, kQuery);
    direct = Best(3, [&] { return ReadDirect(ours); });
    library = Best(3, [&] { return ref.ReadAll(); });
  } catch (const Exception& e) {
    Fail(e.Message());
  }
  api.mysql_stmt_close(ours);
  api.mysql_real_query(con, "DROP DATABASE " + db);
  api.mysql_close(con);
  if (direct.Check != library.Check) Fail("the two reads disagree");
  if (started) std::system((script + " stop " + info.parent_path().string() + " >/dev/null 2>&1").c_str());

  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  std::printf("prepared SELECT of %d rows, 5 columns, best of 3\n", kRows);
  std::printf("  direct client API:       wall %.3f s, cpu %.3f s\n", direct.Wall, direct.Cpu);
  std::printf("  C client library (ref):  wall %.3f s, cpu %.3f s\n", library.Wall, library.Cpu);
  std::printf("  ratio direct/library:    wall %.2f, cpu %.2f; peak memory of the process %ld KiB\n",
              direct.Wall / library.Wall, direct.Cpu / library.Cpu, ru.ru_maxrss);
  return 0;
}
