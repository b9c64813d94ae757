// Eight threads, each with its own session, through the one direct API object.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "tests/mysql/ApiTestSupport.h"

using namespace api_test;

namespace {

constexpr int kThreads = 8;
constexpr int kRows = 200;

// One thread's work: its own table, filled through a prepared INSERT, read back through a
// prepared SELECT and a text query. Returns what went wrong, or "".
std::string Work(const std::string& database, int n) {
  TConn c(database);
  if (!c.Connected()) return "connect: " + c.Error();
  Api().Initialize();  // connections initialise the shared object while others use it
  const std::string table = "t" + std::to_string(n);
  if (Api().mysql_real_query(c, "CREATE TABLE " + table + " (id INT, v VARCHAR(20), u INT UNSIGNED)") != 0)
    return "create: " + Api().mysql_error(c);
  PMYSQL_STMT ins = Api().mysql_stmt_init(c);
  if (Api().mysql_stmt_prepare(ins, "INSERT INTO " + table + " VALUES (?, ?, ?)") != 0)
    return "prepare: " + Api().mysql_stmt_error(ins);
  for (int i = 0; i < kRows; ++i) {
    const std::vector<TMySqlStmtParam> row = {P(dtInt32, i), P(dtString, "v" + std::to_string(n * 1000 + i)),
                                              P(dtUInt32, 4000000000LL + n)};
    if (Api().StmtExecute(ins, TParams(row), false) != 0) return "insert: " + Api().mysql_stmt_error(ins);
  }
  Api().mysql_stmt_close(ins);

  PMYSQL_STMT sel = Api().mysql_stmt_init(c);
  Api().mysql_stmt_prepare(sel, "SELECT id, v, u FROM " + table + " WHERE id >= ? ORDER BY id");
  if (Api().StmtExecute(sel, TParams({P(dtInt32, 0)}), false) != 0) return "select: " + Api().mysql_stmt_error(sel);
  Api().StmtBindResults(sel);
  int count = 0;
  std::vector<uint32_t> lengths;
  for (; Api().StmtFetchRow(sel) == 0; ++count) {
    Api().StmtGetLengths(sel, lengths);
    int32_t id;
    std::memcpy(&id, Api().StmtGetColumnPtr(sel, 0), 4);
    const std::string v(reinterpret_cast<const char*>(Api().StmtGetColumnPtr(sel, 1)), lengths[1]);
    uint32_t u;
    std::memcpy(&u, Api().StmtGetColumnPtr(sel, 2), 4);
    if (id != count || v != "v" + std::to_string(n * 1000 + count) || u != 4000000000u + n)
      return "row " + std::to_string(count) + " reads " + std::to_string(id) + ", " + v + ", " + std::to_string(u);
  }
  Api().mysql_stmt_close(sel);
  if (count != kRows) return "rows read: " + std::to_string(count);
  const TRowsText sum = Query(c, "SELECT SUM(id), COUNT(DISTINCT v) FROM " + table);
  if (sum.size() != 1 || sum[0][0] != std::to_string(kRows * (kRows - 1) / 2) || sum[0][1] != std::to_string(kRows))
    return "text query disagrees";
  return "";
}

}  // namespace

TEST(MySqlApiDirectThreadsDbTest, EightSessionsThroughOneApiObject) {
  TScratchDb db;
  std::vector<std::string> outcomes(kThreads);
  std::vector<std::thread> threads;
  for (int n = 0; n < kThreads; ++n)
    threads.emplace_back([&, n] {
      try {
        outcomes[n] = Work(db.Name(), n);
      } catch (const std::exception& e) {
        outcomes[n] = std::string("exception: ") + e.what();
      }
    });
  for (auto& t : threads) t.join();
  for (int n = 0; n < kThreads; ++n) EXPECT_EQ(outcomes[n], "") << "thread " << n;
  EXPECT_EQ(Api().ClientVersion(), "4.1.3 Direct");
}
