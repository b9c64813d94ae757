// The account browser's statements over a generated table of 1,000,000 accounts (the game's
// layout: MyISAM, latin1): page 1, a page in the middle and the last page, each with its count
// query, and the title sort (every row, ordered), run through the MySQL query the browser uses
// and through the C client library (query, store_result, every row fetched, free). Each side reads
// every field of the 17 rows the browser shows (texts and numbers as text, date-times by their
// parts, which the library's side reads digit by digit out of the server's text) and the count; both must
// read the same, run after run. Each side frees its results inside its timing (the query closes page and
// count). A step that takes well under a second is timed over a batch of repetitions that takes about
// kBatchSeconds; the batches take turns kRuns times, and the medians of the per-batch ratios count (printed
// with their quartiles and extremes). Starts the test server when none runs.
//
// Goal: each page (page plus count query) within 1.3x of the library's wall time.
//
// Arguments: "--profile [N]" runs only our page 1 with its count, N times (default 20,000), for
// profiling.
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "components/MyAccessConnection.h"
#include "components/MyAccessDataSet.h"
#include "platform/runtime/DateTimeUtils.h"
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
unsigned long* mysql_fetch_lengths(st_mysql_res*);
unsigned int mysql_num_fields(st_mysql_res*);
void mysql_free_result(st_mysql_res*);
}

namespace {

constexpr int kRows = 1000000;
// A page takes a fraction of a millisecond and its batches' ratios move with the machine: the
// median of seven flipped around the goal from one invocation to the next.
constexpr int kRuns = 15;
constexpr int kShown = 17;  // the rows a page of the browser shows
constexpr double kBatchSeconds = 0.3;
constexpr int kMaxBatch = 5000;
std::string gDatabase;

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "AccountPaging_db_bench: %s\n", what.c_str());
  std::_Exit(1);
}

struct TStep {
  const char* Name;
  std::string Page;
  std::string Count;  // empty: none
  long Rows;          // that the page holds
};

// What a side read of a step: the rows, the text of the first kShown of them folded, the count.
struct TRead {
  long Rows = 0;
  uint64_t Shown = 0;
  long long Count = -1;
  bool operator==(const TRead&) const = default;
};

void FoldText(uint64_t& fold, const char* text, size_t n) {
  for (size_t i = 0; i < n; ++i) fold = (fold ^ static_cast<unsigned char>(text[i])) * 1099511628211u;
  fold = (fold ^ 0xFFu) * 1099511628211u;  // the end of a value: "ab","c" differs from "a","bc"
}

// A date-time by its parts: each side turns its own form of it (our TDateTime, the library's text)
// into them.
void FoldDateTime(uint64_t& fold, int year, int month, int day, int hour, int min, int sec) {
  for (int part : {year, month, day, hour, min, sec})
    fold = (fold ^ static_cast<uint64_t>(part)) * 1099511628211u;
}

// The number that n digits from p on hold.
int Digits(const char* p, size_t n) {
  int v = 0;
  std::from_chars(p, p + n, v);
  return v;
}

// The user table's DATETIME columns.
bool IsDateTimeColumn(unsigned index) {
  return index == 6 || index == 7 || index == 8 || index == 10;
}

class TLibrary {
 public:
  TLibrary() : FMysql(mysql_init(nullptr)) {
    const auto& srv = TestServer::Info();
    if (!mysql_real_connect(FMysql, srv.Host.c_str(), srv.NativeUser.c_str(), srv.NativePassword.c_str(),
                            gDatabase.c_str(), unsigned(srv.Port), nullptr, 0))
      Fail(std::string("library connect: ") + mysql_error(FMysql));
  }
  ~TLibrary() { mysql_close(FMysql); }
  void Exec(const std::string& sql) {
    if (mysql_real_query(FMysql, sql.data(), sql.size()) != 0) Fail(mysql_error(FMysql));
  }
  TRead Run(const TStep& step) {
    TRead r;
    r.Shown = 1469598103934665603u;
    st_mysql_res* result = Store(step.Page);
    const unsigned fields = mysql_num_fields(result);
    while (char** row = mysql_fetch_row(result)) {
      if (r.Rows++ >= kShown) continue;
      const unsigned long* lengths = mysql_fetch_lengths(result);
      for (unsigned i = 0; i < fields; ++i) {
        const char* v = row[i];
        if (!v)
          FoldText(r.Shown, "", 0);
        else if (!IsDateTimeColumn(i))
          FoldText(r.Shown, v, lengths[i]);
        else if (lengths[i] == 19)  // "yyyy-mm-dd hh:nn:ss", read digit by digit as our side decodes
          FoldDateTime(r.Shown, Digits(v, 4), Digits(v + 5, 2), Digits(v + 8, 2), Digits(v + 11, 2),
                       Digits(v + 14, 2), Digits(v + 17, 2));
        else
          Fail(std::string("not a date-time: ") + v);
      }
    }
    mysql_free_result(result);
    if (!step.Count.empty()) {
      result = Store(step.Count);
      char** row = mysql_fetch_row(result);
      if (!row || !row[0]) Fail("no count");
      r.Count = std::strtoll(row[0], nullptr, 10);
      mysql_free_result(result);
    }
    return r;
  }

 private:
  st_mysql_res* Store(const std::string& sql) {
    Exec(sql);
    st_mysql_res* result = mysql_store_result(FMysql);
    if (!result) Fail(mysql_error(FMysql));
    return result;
  }
  st_mysql* FMysql;
};

void Setup() {
  const auto& srv = TestServer::Info();
  TMyConnection con;
  con.SetServer(srv.Host);
  con.SetPort(srv.Port);
  con.SetUsername(srv.NativeUser);
  con.SetPassword(srv.NativePassword);
  con.Open();
  con.ExecSQL("CREATE DATABASE " + gDatabase + " DEFAULT CHARACTER SET latin1");
  con.SetDatabase(gDatabase);
  con.ExecSQL(
      "CREATE TABLE `user` (`idx` INT NOT NULL AUTO_INCREMENT, `username` VARCHAR(32) NOT NULL, "
      "`password` VARCHAR(32) NOT NULL DEFAULT '', `deleted` TINYINT NOT NULL DEFAULT 0, "
      "`user_priv` INT NOT NULL DEFAULT 1, `locked` TINYINT NOT NULL DEFAULT 0, `lock_begin` DATETIME NULL, "
      "`lock_end` DATETIME NULL, `create_date` DATETIME NULL, `from` VARCHAR(32) NULL, "
      "`latest_login_date` DATETIME NULL, `latest_login_ip` VARCHAR(16) NULL, `email` VARCHAR(64) NULL, "
      "`webmoney` INT NOT NULL DEFAULT 0, PRIMARY KEY (`idx`), UNIQUE KEY `uk_username` (`username`)) "
      "ENGINE=MyISAM DEFAULT CHARSET=latin1");
  con.ExecSQL(
      "INSERT INTO `user` (idx, username, password, create_date, `from`, latest_login_date, latest_login_ip, "
      "email, webmoney) SELECT seq, CONCAT('u', LPAD(seq * 7919 % 1000003, 7, '0')), "
      "SUBSTRING(MD5('123456'), 9, 16), '2023-10-01 09:30:00' + INTERVAL seq MINUTE, 'web', "
      "'2024-03-01 21:15:00' + INTERVAL seq SECOND, CONCAT('10.0.', seq % 250, '.', seq % 200), "
      "CONCAT('u', seq, '@example.com'), seq % 100000 FROM seq_1_to_" +
      std::to_string(kRows));
}

// The browser's way: the page through one query, the count through another, as the window does.
class TOurs {
 public:
  explicit TOurs(TMyConnection& con) {
    for (TMyQuery* q : {&FPage, &FCount}) {
      q->SetConnection(&con);
      q->SetCommandTimeout(30);
    }
  }
  TRead Run(const TStep& step) {
    TRead r;
    r.Shown = 1469598103934665603u;
    FPage.SetSQLText(step.Page);
    FPage.Open();
    r.Rows = FPage.RecordCount();
    for (int row = 0; row < kShown && !FPage.Eof(); ++row, FPage.Next()) {
      for (int i = 0; i < FPage.Fields().Count(); ++i) {
        const TField* f = FPage.Fields()[i];
        if (f->IsNull()) {
          FoldText(r.Shown, "", 0);
        } else if (f->DataType() == ftDateTime) {
          int y, mo, d, h, mi, sec, ms;
          DecodeDateTime(f->AsDateTime(), y, mo, d, h, mi, sec, ms);
          FoldDateTime(r.Shown, y, mo, d, h, mi, sec);
        } else {
          const std::string text = f->AsString();
          FoldText(r.Shown, text.data(), text.size());
        }
      }
    }
    FPage.Close();
    if (!step.Count.empty()) {
      FCount.SetSQLText(step.Count);
      FCount.Open();
      r.Count = FCount.Fields()[0]->AsLargeInt();
      FCount.Close();
    }
    return r;
  }

 private:
  TMyQuery FPage, FCount;
};

// Runs a side `reps` times; every repetition must read what `expected` holds.
template <class Side>
TBenchTiming Batch(Side& side, const TStep& step, int reps, const TRead& expected, const char* who) {
  return Measure([&] {
    for (int i = 0; i < reps; ++i)
      if (!(side.Run(step) == expected)) Fail(std::string(who) + " read another " + step.Name);
  });
}

}  // namespace

int main(int argc, char** argv) {
  const TBenchServer server;
  gDatabase = "bench_paging_" + std::to_string(::getpid());
  Setup();
  const std::string count = "Select count(*) count  from user";
  const int middle = kRows / 2 / kShown * kShown, last = (kRows - 1) / kShown * kShown;
  const std::vector<TStep> steps = {
      {"page 1", "Select * from user  LIMIT 0,17", count, kShown},
      {"middle page", "select * FROM user    Limit " + std::to_string(middle) + ",17", count, kShown},
      {"last page", "select * FROM user    Limit " + std::to_string(last) + ",17", count, kRows - last},
      {"title sort (all rows)", "select   *   from   user    order   by   `username`", {}, kRows},
  };
  const auto& srv = TestServer::Info();
  TMyConnection con;
  con.SetServer(srv.Host);
  con.SetPort(srv.Port);
  con.SetUsername(srv.NativeUser);
  con.SetPassword(srv.NativePassword);
  con.SetDatabase(gDatabase);
  con.Options().SetCharset("gb2312");
  con.Open();
  TLibrary lib;
  lib.Exec("SET NAMES gb2312");
  TOurs ours(con);
  // --profile: only our page 1 with its count, over and over, for a profiler.
  if (argc > 1 && std::string(argv[1]) == "--profile") {
    const int reps = argc > 2 ? std::max(std::atoi(argv[2]), 1) : 20000;
    const TRead expected = lib.Run(steps[0]);
    const TBenchTiming t = Batch(ours, steps[0], reps, expected, "the query");
    std::printf("page 1 + count: %.3f ms wall, %.3f ms cpu\n", t.Wall * 1e3 / reps, t.Cpu * 1e3 / reps);
    con.ExecSQL("DROP DATABASE " + gDatabase);
    return 0;
  }
  std::printf("account browser statements over %d accounts: medians of %d batches taken in turn\n", kRows,
              kRuns);
  for (const TStep& step : steps) {
    const TRead expected = lib.Run(step);
    const TRead first = ours.Run(step);
    if (!(first == expected)) Fail(std::string("the two sides read different rows: ") + step.Name);
    if (expected.Rows != step.Rows || (!step.Count.empty() && expected.Count != kRows))
      Fail(std::string("unexpected rows or count: ") + step.Name);
    const double once = Measure([&] { lib.Run(step); }).Wall;
    const int reps =
        static_cast<int>(std::clamp(std::ceil(kBatchSeconds / std::max(once, 1e-6)), 1.0, double(kMaxBatch)));
    std::vector<double> ourWall, theirWall, ourCpu, theirCpu;
    for (int run = 0; run < kRuns; ++run) {
      TBenchTiming o, t;
      InTurn(
          run, [&] { o = Batch(ours, step, reps, expected, "the query"); },
          [&] { t = Batch(lib, step, reps, expected, "the library"); });
      ourWall.push_back(o.Wall / reps);
      theirWall.push_back(t.Wall / reps);
      ourCpu.push_back(o.Cpu / reps);
      theirCpu.push_back(t.Cpu / reps);
    }
    const TPairRatio wall = PairRatio(ourWall, theirWall);
    std::printf("  %-22s ours %9.3f ms  library %9.3f ms  (%d a batch)  wall ratio %.2f  cpu ratio %.2f\n",
                step.Name, Median(ourWall) * 1e3, Median(theirWall) * 1e3, reps, wall.Median,
                PairRatio(ourCpu, theirCpu).Median);
    if (!step.Count.empty())
      PrintGoal(std::string("account ") + step.Name + " + count, wall ours / the C library", wall, 1.3);
  }
  con.ExecSQL("DROP DATABASE " + gDatabase);
  return 0;
}
