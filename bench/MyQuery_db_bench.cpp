// Opening 1,000,000 rows of (INT PK, VARCHAR(20), INT, SMALLINT, DATETIME, VARCHAR(64)) with
// everything fetched, then walking them reading every column, three ways:
//   (a) the MySQL query (TMyQuery): Open, then Next through every row reading each field,
//   (b) the record set alone (TMySQLRecordset): Open, then the next record into a buffer, each
//       column read from it,
//   (c) the C client library: store_result, then fetch_row through every row converting each
//       column the same way (numbers parsed, texts copied).
// Each walk folds every value into the same figure (integers summed, every byte of each text, every
// part of each date-time), so each reads everything and all three must agree on it. Each reading
// runs in a child process of its own, so that its CPU time and peak memory are its own; the
// readings take turns kRuns times and the medians count (with the spread of the per-run ratios, so
// a verdict that would flip from run to run shows). Starts the test server when none runs; the
// server's buffer pool holds the table, so the reads are not bound by its disk.
//
// Goal: (a)'s open + walk CPU within 1.2x of (b)'s: the dataset layer adds at most 20%.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "components/MyAccessDataSet.h"
#include "mysql/MySqlApiDirect.h"
#include "platform/runtime/DateTimeUtils.h"
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

constexpr int kRows = 1000000;
constexpr int kRuns = 11;
constexpr int kLibSetCharsetName = 7;  // MYSQL_SET_CHARSET_NAME
constexpr const char* kQuery = "SELECT id, name, a, b, dt, s FROM t";

std::string gDatabase;

// What a child reports back.
struct TResult {
  double Wall = 0, OpenCpu = 0, WalkCpu = 0;
  uint64_t Rows = 0, Sum = 0;
  long PeakKb = 0;
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
  q.SetSQLText(kQuery);
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
  rs.SetSQL(kQuery);
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
  if (mysql_real_query(m, kQuery, std::strlen(kQuery)) != 0) Fail(mysql_error(m));
  st_mysql_res* res = mysql_store_result(m);
  if (!res) Fail(mysql_error(m));
  r.OpenCpu = CpuNow() - c0;
  c0 = CpuNow();
  TFold fold;
  while (char** row = mysql_fetch_row(res)) {
    const unsigned long* len = mysql_fetch_lengths(res);
    fold.Number(std::strtol(row[0], nullptr, 10));
    fold.Text(std::string(row[1], len[1]));
    fold.Number(std::strtol(row[2], nullptr, 10));
    fold.Number(std::strtol(row[3], nullptr, 10));
    tm parts{};
    if (!row[4] || !strptime(row[4], "%Y-%m-%d %H:%M:%S", &parts))
      Fail("a date-time the library did not give");
    fold.DateTime(parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min,
                  parts.tm_sec);
    fold.Text(std::string(row[5], len[5]));
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

TResult InChild(const std::function<TResult()>& reading) {
  int fds[2];
  if (pipe(fds) != 0) Fail("pipe");
  const pid_t pid = fork();
  if (pid < 0) Fail("fork");
  if (pid == 0) {
    close(fds[0]);
    TResult r;
    try {
      r = reading();
    } catch (const Exception& e) {
      Fail(e.Message());
    }
    if (write(fds[1], &r, sizeof r) != static_cast<ssize_t>(sizeof r)) std::_Exit(1);
    std::_Exit(0);
  }
  close(fds[1]);
  TResult r;
  const bool got = read(fds[0], &r, sizeof r) == static_cast<ssize_t>(sizeof r);
  close(fds[0]);
  int status = 0;
  rusage ru{};
  wait4(pid, &status, 0, &ru);
  if (!got || !WIFEXITED(status) || WEXITSTATUS(status) != 0) Fail("a reading failed");
  r.PeakKb = ru.ru_maxrss;
  return r;
}

template <class F>
double MedianOf(const std::vector<TResult>& runs, F figure) {
  std::vector<double> v;
  for (const TResult& r : runs) v.push_back(figure(r));
  return Median(v);
}

void Report(const char* name, const std::vector<TResult>& r, const std::vector<TResult>& rs) {
  std::vector<double> ratio;
  for (size_t i = 0; i < r.size(); ++i) ratio.push_back(r[i].Cpu() / rs[i].Cpu());
  std::printf("  %-28s wall %.3f s  open cpu %.3f s  walk cpu %.3f s  peak %7.0f KiB  cpu/(b) %.2f\n", name,
              MedianOf(r, [](const TResult& x) { return x.Wall; }),
              MedianOf(r, [](const TResult& x) { return x.OpenCpu; }),
              MedianOf(r, [](const TResult& x) { return x.WalkCpu; }),
              MedianOf(r, [](const TResult& x) { return double(x.PeakKb); }), Median(ratio));
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

}  // namespace

int main(int argc, char** argv) {
  TBenchServer server;
  gDatabase = "bench_query_" + std::to_string(::getpid());
  Setup();
  // --profile: only (a), in this process, for a profiler; --profile-recordset: only (b), to set
  // beside it.
  if (argc > 1 && (std::string(argv[1]) == "--profile" || std::string(argv[1]) == "--profile-recordset")) {
    const bool query = std::string(argv[1]) == "--profile";
    const TResult r = query ? Query() : Recordset();
    std::printf("(%c) open cpu %.3f s, walk cpu %.3f s, sum %llu\n", query ? 'a' : 'b', r.OpenCpu, r.WalkCpu,
                static_cast<unsigned long long>(r.Sum));
    DropDatabase();
    return 0;
  }
  std::printf(
      "Open with everything fetched + walk reading every column, %d rows (INT PK, VARCHAR(20), INT, "
      "SMALLINT,\n"
      "DATETIME, VARCHAR(64)) over TCP: medians of %d runs taken in turn, each in a process of its own\n",
      kRows, kRuns);
  std::vector<std::vector<TResult>> runs(3);
  const std::function<TResult()> readings[] = {Query, Recordset, LibraryStore};
  for (int run = 0; run < kRuns; ++run)
    for (size_t i = 0; i < 3; ++i) runs[i].push_back(InChild(readings[i]));
  bool agree = true;
  for (int i = 0; i < kRuns; ++i)
    for (size_t k = 0; k < 3; ++k)
      agree = agree && runs[k][i].Rows == kRows && runs[k][i].Sum == runs[2][0].Sum;
  DropDatabase();
  if (!agree) Fail("the readings disagree on the rows or their values");
  Report("(a) TMyQuery open + Next", runs[0], runs[1]);
  Report("(b) record set open + walk", runs[1], runs[1]);
  Report("(c) C library store + walk", runs[2], runs[1]);
  std::vector<double> ratio;
  for (int i = 0; i < kRuns; ++i) ratio.push_back(runs[0][i].Cpu() / runs[1][i].Cpu());
  const double overhead = Median(ratio);
  std::sort(ratio.begin(), ratio.end());
  std::printf("  per-run (a)/(b) cpu ratios from %.2f to %.2f, middle half %.2f to %.2f\n", ratio.front(),
              ratio.back(), ratio[kRuns / 4], ratio[kRuns - 1 - kRuns / 4]);
  std::printf("  %-52s %6.2fx  goal <= 1.20x  %s\n", "TMyQuery open + Next cpu / the record set's", overhead,
              overhead <= 1.2 ? "met" : "NOT met");
  return 0;
}
