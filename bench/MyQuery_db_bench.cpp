// Opening 100,000, 1,000,000 and 4,000,000 rows of (INT PK, VARCHAR(20), INT, SMALLINT, DATETIME,
// VARCHAR(64)) with everything fetched, then walking them reading every column, three ways:
//   (a) the MySQL query (TMyQuery): Open, then Next through every row reading each field,
//   (b) the record set alone (TMySQLRecordset): Open, then the next record into a buffer, each
//       column read from it,
//   (c) the C client library: store_result, then fetch_row through every row parsing each column
//       as cheaply as our side does (numbers by from_chars, date-times digit by digit, texts
//       folded where they lie, no copies).
// Each walk folds every value into the same figure (integers summed, every byte of each text, every
// part of each date-time), so each reads everything and all three must agree on it. Each reading
// is a whole process of its own (this program started again for one side), measured as
// /usr/bin/time reports it; the readings take turns kRuns times, the side that goes first turning
// from run to run, and the medians of the per-run ratios count (with their spread). Starts the test
// server when none runs; the server's buffer pool holds the table, so the reads are not bound by
// its disk.
//
// Goals at each size: (a)'s open + walk CPU within 1.1x of (c)'s, and (a)'s peak below (c)'s.
#include <unistd.h>

#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "components/MyAccessDataSet.h"
#include "mysql/MySqlApiDirect.h"
#include "platform/runtime/DateTimeUtils.h"
#include "support/BenchProcess.h"
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
}

namespace {

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "MyQuery_db_bench: %s\n", what.c_str());
  std::_Exit(1);
}

constexpr int kRows = 4000000;         // the largest size; the smaller ones read its first rows
constexpr int kLibSetCharsetName = 7;  // MYSQL_SET_CHARSET_NAME

std::string gDatabase;
std::string gQuery;  // the statement every side runs: the table's first rows of one size

// What a child reports back.
struct TResult {
  double Wall = 0, OpenCpu = 0, WalkCpu = 0;
  uint64_t Rows = 0, Sum = 0;
  double PeakMiB = 0;
  double Cpu() const { return OpenCpu + WalkCpu; }
};

double CpuNow() {
  return CpuSeconds();
}

// Every way folds a row into the same figure, by value: the numbers, every byte of each text, every
// part of each date-time. Rows may come in any order: each value adds on its own.
struct TFold {
  uint64_t Sum = 0;
  void Number(int64_t v) { Sum += static_cast<uint64_t>(v); }
  void Text(const char* s, size_t n) {
    uint64_t h = 1469598103934665603u;  // FNV-1a: a changed or moved byte changes it
    for (size_t i = 0; i < n; ++i) h = (h ^ static_cast<unsigned char>(s[i])) * 1099511628211u;
    Sum += h + n;
  }
  void Text(const std::string& s) { Text(s.data(), s.size()); }
  void DateTime(int year, int month, int day, int hour, int min, int sec) {
    Sum += static_cast<uint64_t>(((((int64_t{year} * 13 + month) * 32 + day) * 24 + hour) * 60 + min) * 60 +
                                 sec);
  }
  void DateTime(TDateTime value) {
    int y, m, d, h, n, s, ms;
    DecodeDateTime(value, y, m, d, h, n, s, ms);
    DateTime(y, m, d, h, n, s);
  }
};

// ---- (a) the query ----------------------------------------------------------------------------------

TResult Query() {
  const auto& srv = TestServer::Info();
  TMyConnection c;
  c.LoginPrompt = false;
  c.SetServer(srv.Host);
  c.SetPort(srv.Port);
  c.SetUsername(srv.NativeUser);
  c.SetPassword(srv.NativePassword);
  c.SetDatabase(gDatabase);
  c.Open();
  TMyQuery q;
  q.SetConnection(&c);
  q.SetSQLText(gQuery);
  TResult r;
  const auto w0 = std::chrono::steady_clock::now();
  double c0 = CpuNow();
  q.Open();
  r.OpenCpu = CpuNow() - c0;
  c0 = CpuNow();
  TField* fields[6];
  for (int i = 0; i < 6; ++i) fields[i] = q.Fields()[i];
  TFold fold;
  for (; !q.Eof(); q.Next()) {
    fold.Number(fields[0]->AsInteger());
    fold.Text(fields[1]->AsString());
    fold.Number(fields[2]->AsInteger());
    fold.Number(fields[3]->AsInteger());
    fold.DateTime(fields[4]->AsDateTime());
    fold.Text(fields[5]->AsString());
    ++r.Rows;
  }
  r.WalkCpu = CpuNow() - c0;
  r.Wall = SecondsSince(w0);
  r.Sum = fold.Sum;
  return r;
}

// ---- (b) the record set ------------------------------------------------------------------------------

TResult Recordset() {
  const auto& srv = TestServer::Info();
  TMySQLConnection c;
  c.SetServer(srv.Host);
  c.SetUsername(srv.NativeUser);
  c.SetPassword(srv.NativePassword);
  c.SetProp(prPort, srv.Port);
  c.SetProp(prDatabase, gDatabase);
  c.Connect("");
  TMySQLRecordset rs;
  rs.SetConnection(&c);
  rs.SetSQL(gQuery);
  rs.SetProp(prFetchAll, true);
  TResult r;
  const auto w0 = std::chrono::steady_clock::now();
  double c0 = CpuNow();
  rs.Open();
  r.OpenCpu = CpuNow() - c0;
  c0 = CpuNow();
  void* buf = rs.AllocRecBuf();
  TFold fold;
  char text[256];
  int32_t i32 = 0;
  int16_t i16 = 0;
  double dt = 0;
  bool isNull = false;
  auto str = [&](int fieldNo) {
    rs.GetField(fieldNo, buf, text, sizeof text, isNull);
    return isNull ? std::string() : std::string(text);
  };
  rs.SetToBegin();
  for (rs.GetNextRecord(buf); !rs.GetEof(); rs.GetNextRecord(buf)) {
    rs.GetField(1, buf, &i32, sizeof i32, isNull);
    fold.Number(i32);
    fold.Text(str(2));
    rs.GetField(3, buf, &i32, sizeof i32, isNull);
    fold.Number(i32);
    rs.GetField(4, buf, &i16, sizeof i16, isNull);
    fold.Number(i16);
    rs.GetField(5, buf, &dt, sizeof dt, isNull);
    fold.DateTime(TimeStampToDateTime(MSecsToTimeStamp(dt)));
    fold.Text(str(6));
    ++r.Rows;
  }
  TData::FreeRecBuf(buf);
  r.WalkCpu = CpuNow() - c0;
  r.Wall = SecondsSince(w0);
  r.Sum = fold.Sum;
  return r;
}

// ---- (c) the C client library ------------------------------------------------------------------------

// Digits from p on, as many as n: what the server's text of a number or a date-time part holds.
int64_t Digits(const char* p, size_t n) {
  int64_t v = 0;
  std::from_chars(p, p + n, v);
  return v;
}

TResult LibraryStore() {
  const auto& srv = TestServer::Info();
  st_mysql* m = mysql_init(nullptr);
  mysql_options(m, kLibSetCharsetName, "latin1");
  if (!mysql_real_connect(m, srv.Host.c_str(), srv.NativeUser.c_str(), srv.NativePassword.c_str(),
                          gDatabase.c_str(), srv.Port, nullptr, 0))
    Fail(mysql_error(m));
  TResult r;
  const auto w0 = std::chrono::steady_clock::now();
  double c0 = CpuNow();
  if (mysql_real_query(m, gQuery.data(), gQuery.size()) != 0) Fail(mysql_error(m));
  st_mysql_res* res = mysql_store_result(m);
  if (!res) Fail(mysql_error(m));
  r.OpenCpu = CpuNow() - c0;
  c0 = CpuNow();
  TFold fold;
  while (char** row = mysql_fetch_row(res)) {
    const unsigned long* len = mysql_fetch_lengths(res);
    fold.Number(Digits(row[0], len[0]));
    fold.Text(row[1], len[1]);
    fold.Number(Digits(row[2], len[2]));
    fold.Number(Digits(row[3], len[3]));
    const char* d = row[4];  // "yyyy-mm-dd hh:nn:ss"
    if (!d || len[4] != 19) Fail("a date-time the library did not give");
    fold.DateTime(int(Digits(d, 4)), int(Digits(d + 5, 2)), int(Digits(d + 8, 2)), int(Digits(d + 11, 2)),
                  int(Digits(d + 14, 2)), int(Digits(d + 17, 2)));
    fold.Text(row[5], len[5]);
    ++r.Rows;
  }
  mysql_free_result(res);
  r.WalkCpu = CpuNow() - c0;
  r.Wall = SecondsSince(w0);
  r.Sum = fold.Sum;
  mysql_close(m);
  return r;
}

// ---- running and reporting ----------------------------------------------------------------------------

const char* const kSides[] = {"query", "recordset", "library"};

// One side's reading, in a process of its own: this program again with "--side NAME ROWS".
TResult InProcess(int side, int rows) {
  const TProcessRun run = RunProcess({SelfPath(), "--side", kSides[side], std::to_string(rows), gDatabase});
  TResult r;
  std::istringstream s(run.Out);
  unsigned long long sum = 0;
  if (!(s >> r.Rows >> sum >> r.OpenCpu >> r.WalkCpu >> r.Wall)) Fail("a reading said nothing: " + run.Out);
  r.Sum = sum;
  r.PeakMiB = run.PeakMiB;
  return r;
}

template <class F>
std::vector<double> FigureOf(const std::vector<TResult>& runs, F figure) {
  std::vector<double> v;
  for (const TResult& r : runs) v.push_back(figure(r));
  return v;
}

void Report(const char* name, const std::vector<TResult>& r, const std::vector<TResult>& lib) {
  auto cpu = [](const TResult& x) { return x.Cpu(); };
  std::printf("  %-28s wall %.3f s  open cpu %.3f s  walk cpu %.3f s  peak %7.1f MiB  cpu/(c) %.2f\n", name,
              Median(FigureOf(r, [](const TResult& x) { return x.Wall; })),
              Median(FigureOf(r, [](const TResult& x) { return x.OpenCpu; })),
              Median(FigureOf(r, [](const TResult& x) { return x.WalkCpu; })),
              Median(FigureOf(r, [](const TResult& x) { return x.PeakMiB; })),
              PairRatio(FigureOf(r, cpu), FigureOf(lib, cpu)).Median);
}

void Setup() {
  const auto& srv = TestServer::Info();
  TMySQLAPIDirect& api = MyAPIDirect();
  PMYSQL_CON con = api.mysql_init(nullptr);
  if (!api.mysql_real_connect(con, srv.Host, srv.NativeUser, srv.NativePassword, {}, srv.Port, {}, 0))
    Fail(api.mysql_error(con));
  for (const std::string& sql :
       {"CREATE DATABASE " + gDatabase + " CHARACTER SET latin1", "USE " + gDatabase,
        std::string("CREATE TABLE t (id INT PRIMARY KEY, name VARCHAR(20), a INT, b SMALLINT, dt DATETIME, "
                    "s VARCHAR(64))"),
        "INSERT INTO t SELECT seq, CONCAT('player-', seq), seq * 7919 % 1000003, seq % 30000, "
        "'2024-01-01' + INTERVAL seq SECOND, CONCAT(MD5(seq), MD5(seq + 1)) FROM seq_1_to_" +
            std::to_string(kRows)})
    if (api.mysql_real_query(con, sql) != 0) Fail(sql + ": " + api.mysql_error(con));
  api.mysql_close(con);
}

void DropDatabase() {
  const auto& srv = TestServer::Info();
  TMySQLAPIDirect& api = MyAPIDirect();
  PMYSQL_CON con = api.mysql_init(nullptr);
  if (api.mysql_real_connect(con, srv.Host, srv.NativeUser, srv.NativePassword, {}, srv.Port, {}, 0))
    api.mysql_real_query(con, "DROP DATABASE " + gDatabase);
  api.mysql_close(con);
}

TResult Read(const std::string& side) {
  if (side == "query") return Query();
  if (side == "recordset") return Recordset();
  if (side == "library") return LibraryStore();
  Fail("no side " + side);
}

std::string QueryOf(int rows) {
  return "SELECT id, name, a, b, dt, s FROM t" +
         (rows < kRows ? " LIMIT " + std::to_string(rows) : std::string());
}

void Size(int rows, int runs) {
  std::printf("%d rows: medians of %d runs taken in turn, each reading a process of its own\n", rows, runs);
  std::vector<std::vector<TResult>> results(3);
  for (int run = 0; run < runs; ++run)
    for (int k = 0; k < 3; ++k) {
      const int side = (run + k) % 3;  // each side goes first in turn
      results[size_t(side)].push_back(InProcess(side, rows));
    }
  for (int i = 0; i < runs; ++i)
    for (size_t k = 0; k < 3; ++k)
      if (results[k][size_t(i)].Rows != uint64_t(rows) || results[k][size_t(i)].Sum != results[2][0].Sum) {
        DropDatabase();
        Fail("the readings disagree on the rows or their values");
      }
  Report("(a) TMyQuery open + Next", results[0], results[2]);
  Report("(b) record set open + walk", results[1], results[2]);
  Report("(c) C library store + walk", results[2], results[2]);
  auto cpu = [](const TResult& x) { return x.Cpu(); };
  auto peak = [](const TResult& x) { return x.PeakMiB; };
  const std::string n = std::to_string(rows / 1000) + "k rows";
  PrintGoal("TMyQuery open + Next cpu / the C library's, " + n,
            PairRatio(FigureOf(results[0], cpu), FigureOf(results[2], cpu)), 1.1);
  PrintGoal("TMyQuery peak / the C library's, " + n,
            PairRatio(FigureOf(results[0], peak), FigureOf(results[2], peak)), 1.0);
  std::printf("  %-62s %6.2fx\n", ("TMyQuery open + Next cpu / the record set's, " + n).c_str(),
              PairRatio(FigureOf(results[0], cpu), FigureOf(results[1], cpu)).Median);
}

}  // namespace

int main(int argc, char** argv) {
  // --side NAME ROWS DATABASE: one reading, its figures on standard output (the benchmark's child).
  if (argc == 5 && std::string(argv[1]) == "--side") {
    gDatabase = argv[4];
    gQuery = QueryOf(std::atoi(argv[3]));
    try {
      const TResult r = Read(argv[2]);
      std::printf("%llu %llu %.6f %.6f %.6f\n", static_cast<unsigned long long>(r.Rows),
                  static_cast<unsigned long long>(r.Sum), r.OpenCpu, r.WalkCpu, r.Wall);
    } catch (const Exception& e) {
      Fail(e.Message());
    }
    return 0;
  }
  TBenchServer server;
  gDatabase = "bench_query_" + std::to_string(::getpid());
  Setup();
  // --profile: only (a) over 1,000,000 rows, in this process, for a profiler; --profile-recordset:
  // only (b), to set beside it.
  if (argc > 1 && (std::string(argv[1]) == "--profile" || std::string(argv[1]) == "--profile-recordset")) {
    const bool query = std::string(argv[1]) == "--profile";
    gQuery = QueryOf(1000000);
    const TResult r = query ? Query() : Recordset();
    std::printf("(%c) open cpu %.3f s, walk cpu %.3f s, sum %llu\n", query ? 'a' : 'b', r.OpenCpu, r.WalkCpu,
                static_cast<unsigned long long>(r.Sum));
    DropDatabase();
    return 0;
  }
  std::printf(
      "Open with everything fetched + walk reading every column (INT PK, VARCHAR(20), INT, SMALLINT,\n"
      "DATETIME, VARCHAR(64)) over TCP\n");
  Size(100000, 11);
  Size(1000000, 11);
  Size(4000000, 5);
  DropDatabase();
  return 0;
}
