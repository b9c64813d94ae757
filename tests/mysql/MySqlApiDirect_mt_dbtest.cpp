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
  Exec(c, "CREATE TABLE " + table + " (id INT, v VARCHAR(20), u INT UNSIGNED)");
  {
    TStmt ins(c, "INSERT INTO " + table + " VALUES (?, ?, ?)");
    for (int i = 0; i < kRows; ++i)
      if (ins.Execute({P(dtInt32, i), P(dtString, "v" + std::to_string(n * 1000 + i)),
                       P(dtUInt32, 4000000000LL + n)}))
        return "insert: " + Api().mysql_stmt_error(ins);
  }
  TStmt sel(c, "SELECT id, v, u FROM " + table + " WHERE id >= ? ORDER BY id");
  if (sel.Execute({P(dtInt32, 0)}) != 0) return "select: " + Api().mysql_stmt_error(sel);
  Api().StmtBindResults(sel);
  int count = 0;
  std::vector<uint32_t> lengths;
  for (; Api().StmtFetchRow(sel) == 0; ++count) {
    Api().StmtGetLengths(sel, lengths);
    int32_t id;
    uint32_t u;
    std::memcpy(&id, Api().StmtGetColumnPtr(sel, 0), 4);
    std::memcpy(&u, Api().StmtGetColumnPtr(sel, 2), 4);
    const std::string v(reinterpret_cast<const char*>(Api().StmtGetColumnPtr(sel, 1)), lengths[1]);
    if (id != count || v != "v" + std::to_string(n * 1000 + count) || u != 4000000000u + n)
      return "row " + std::to_string(count) + " reads " + std::to_string(id) + ", " + v + ", " +
             std::to_string(u);
  }
  if (count != kRows) return "rows read: " + std::to_string(count);
  const TRowsText sum = Query(c, "SELECT SUM(id), COUNT(DISTINCT v) FROM " + table);
  if (sum != TRowsText{{std::to_string(kRows * (kRows - 1) / 2), std::to_string(kRows)}})
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
