// Reading 1,000,000 rows of (INT PK, VARCHAR(20), INT, SMALLINT, DATETIME, VARCHAR(64)) five ways,
// over TCP and the Unix socket, plain and compressed:
//   (a) the raw bytes of the reply drained off the socket (the physical limit; on a compressed
//       connection each packet is inflated too, which no reader can skip): packets are walked
//       where they arrived, nothing is zero-filled or copied,
//   (b) the C client library: use_result, fetch_row, lengths, every byte touched,
//   (c) our direct client API doing the same,
//   (d) our record set fetching everything into the record store, then closed,
//   (e) the C client library's store_result, then free_result: what (d) is measured against.
// Each reading runs in a child process of its own, so that its CPU time and peak memory are its
// own; the readings take turns kRuns times and the medians count. (b), (c) and (d) check every
// value against the generated table (outside the timing). The server's buffer pool is raised to
// hold the table while the benchmark runs. Starts the test server when none runs.
//
// Goal: (d)'s fill + close CPU within 1.2x of (e)'s, its close under a tenth of its fill CPU.
#include <openssl/evp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "mysql/MySQLRecordset.h"
#include "mysql/MySqlApiDirect.h"
#include "mysql/MySqlAuth.h"
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
st_mysql_res* mysql_use_result(st_mysql*);
st_mysql_res* mysql_store_result(st_mysql*);
unsigned long long mysql_num_rows(st_mysql_res*);
char** mysql_fetch_row(st_mysql_res*);
unsigned long* mysql_fetch_lengths(st_mysql_res*);
unsigned mysql_num_fields(st_mysql_res*);
void mysql_free_result(st_mysql_res*);
int mysql_get_socket(st_mysql*);
}

namespace {

[[noreturn]] void Fail(const std::string& what);

constexpr int kRows = 1000000;
constexpr int kRuns = 7;
constexpr int kLibOptCompress = 1;     // MYSQL_OPT_COMPRESS
constexpr int kLibSetCharsetName = 7;  // MYSQL_SET_CHARSET_NAME
constexpr const char* kQuery = "SELECT id, name, a, b, dt, s FROM t";

std::string gDatabase;

void Fail(const std::string& what) {
  std::fprintf(stderr, "MySQLRecordset_db_bench: %s\n", what.c_str());
  std::_Exit(1);
}

struct TWay {
  bool Socket = false;
  bool Compress = false;
};

// What a child reports back. Cpu is the whole reading's; FillCpu and CloseCpu split it where a
// reading keeps its rows and lets them go.
struct TResult {
  double Wall = 0, Cpu = 0, FillCpu = 0, CloseCpu = 0;
  uint64_t Rows = 0, Check = 0;
  long PeakKb = 0;
};

uint64_t Touch(const char* p, unsigned long n) {
  uint64_t sum = 0;
  for (unsigned long i = 0; i < n; ++i) sum += static_cast<unsigned char>(p[i]);
  return sum;
}

// ---- the generated table, as Setup's INSERT makes it ----------------------------------------------

std::string Md5Hex(const std::string& text) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  if (EVP_Digest(text.data(), text.size(), digest, &len, EVP_md5(), nullptr) != 1) Fail("MD5");
  static const char hex[] = "0123456789abcdef";
  std::string out;
  for (unsigned i = 0; i < len; ++i) {
    out += hex[digest[i] >> 4];
    out += hex[digest[i] & 15];
  }
  return out;
}

constexpr time_t kFirstSecond = 1704067200;  // 2024-01-01 00:00:00 UTC

struct TRow {
  int Id, A, B;
  std::string Name, When, S;  // When: "YYYY-MM-DD HH:MM:SS"
  explicit TRow(int seq)
      : Id(seq),
        A(static_cast<int>(int64_t(seq) * 7919 % 1000003)),
        B(seq % 30000),
        Name("player-" + std::to_string(seq)),
        S(Md5Hex(std::to_string(seq)) + Md5Hex(std::to_string(seq + 1))) {
    const time_t t = kFirstSecond + seq;
    tm parts{};
    gmtime_r(&t, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
    When = text;
  }
  // The bytes of its values as text, as (b) and (c) add them up.
  uint64_t TextSum() const {
    uint64_t sum = 0;
    for (const std::string& v : {std::to_string(Id), Name, std::to_string(A), std::to_string(B), When, S})
      sum += Touch(v.data(), v.size());
    return sum;
  }
};

uint64_t ExpectedTextSum() {
  uint64_t sum = 0;
  for (int seq = 1; seq <= kRows; ++seq) sum += TRow(seq).TextSum();
  return sum;
}

// ---- the C client library: (a) logs in with it too ----------------------------------------------

st_mysql* LibConnect(const TWay& way) {
  const auto& srv = TestServer::Info();
  st_mysql* m = mysql_init(nullptr);
  if (way.Compress) mysql_options(m, kLibOptCompress, nullptr);
  mysql_options(m, kLibSetCharsetName, "latin1");
  const bool ok =
      way.Socket ? mysql_real_connect(m, "localhost", srv.NativeUser.c_str(), srv.NativePassword.c_str(),
                                      gDatabase.c_str(), 0, srv.Socket.c_str(), 0)
                 : mysql_real_connect(m, srv.Host.c_str(), srv.NativeUser.c_str(), srv.NativePassword.c_str(),
                                      gDatabase.c_str(), srv.Port, nullptr, 0);
  if (!ok) Fail(mysql_error(m));
  return m;
}

// Reads exactly n bytes of the stream (poll with a deadline: a stalled server ends the run).
void ReadExactly(int fd, uint8_t* dest, size_t n) {
  while (n > 0) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 60000) <= 0) Fail("the server stopped sending");
    const ssize_t got = recv(fd, dest, n, 0);
    if (got <= 0) Fail("the connection closed");
    dest += got;
    n -= static_cast<size_t>(got);
  }
}

// The reply as a stream of protocol packets, read in large chunks and walked where they lie (a
// packet cut by the end of a chunk moves to the front first); compressed packets inflated.
class TPacketDrain {
 public:
  TPacketDrain(int fd, bool compress)
      : FFd(fd), FCompress(compress), FBuf(new uint8_t[kBufSize]), FRaw(new uint8_t[kBufSize]) {}
  // The next packet's payload (valid until the next call).
  const uint8_t* Next(size_t& len) {
    Need(4);
    const uint8_t* header = FBuf.get() + FPos;
    len = header[0] | header[1] << 8 | header[2] << 16;
    Need(4 + len);
    const uint8_t* payload = FBuf.get() + FPos + 4;
    FPos += 4 + len;
    return payload;
  }
  uint64_t Bytes = 0;

 private:
  static constexpr size_t kBufSize = 4 << 20;

  void Need(size_t n) {
    if (FEnd - FPos >= n) return;
    if (n > kBufSize) Fail("a packet larger than the buffer");
    std::memmove(FBuf.get(), FBuf.get() + FPos, FEnd - FPos);
    FEnd -= FPos;
    FPos = 0;
    while (FEnd < n) Fill();
  }

  void Fill() {
    if (!FCompress) {
      pollfd p{FFd, POLLIN, 0};
      if (poll(&p, 1, 60000) <= 0) Fail("the server stopped sending");
      const ssize_t got = recv(FFd, FBuf.get() + FEnd, kBufSize - FEnd, 0);
      if (got <= 0) Fail("the connection closed");
      FEnd += static_cast<size_t>(got);
      Bytes += static_cast<uint64_t>(got);
      return;
    }
    uint8_t header[7];
    ReadExactly(FFd, header, 7);
    const size_t packed = header[0] | header[1] << 8 | header[2] << 16;
    const size_t plain = header[4] | header[5] << 8 | header[6] << 16;
    Bytes += 7 + packed;
    if (std::max(packed, plain) > kBufSize - FEnd) Fail("a compressed packet larger than the buffer");
    if (plain == 0) {
      ReadExactly(FFd, FBuf.get() + FEnd, packed);
      FEnd += packed;
      return;
    }
    ReadExactly(FFd, FRaw.get(), packed);
    uLongf out = plain;
    if (uncompress(FBuf.get() + FEnd, &out, FRaw.get(), packed) != Z_OK || out != plain)
      Fail("bad compressed packet");
    FEnd += plain;
  }

  int FFd;
  bool FCompress;
  std::unique_ptr<uint8_t[]> FBuf, FRaw;
  size_t FPos = 0, FEnd = 0;
};

void SendQuery(int fd, bool compress) {
  std::vector<uint8_t> packet;
  const size_t len = 1 + std::strlen(kQuery);
  if (compress) packet = {uint8_t(len + 4), uint8_t((len + 4) >> 8), uint8_t((len + 4) >> 16), 0, 0, 0, 0};
  packet.insert(packet.end(), {uint8_t(len), uint8_t(len >> 8), uint8_t(len >> 16), 0, 3});
  packet.insert(packet.end(), kQuery, kQuery + std::strlen(kQuery));
  if (send(fd, packet.data(), packet.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(packet.size()))
    Fail("sending the query failed");
}

TResult Drain(const TWay& way) {
  st_mysql* m = LibConnect(way);
  const int fd = mysql_get_socket(m);
  TResult r;
  const auto w0 = std::chrono::steady_clock::now();
  const double c0 = CpuSeconds();
  SendQuery(fd, way.Compress);
  TPacketDrain drain(fd, way.Compress);
  size_t len;
  const uint8_t* p = drain.Next(len);
  const unsigned columns = p[0];
  for (unsigned i = 0; i < columns; ++i) drain.Next(len);
  p = drain.Next(len);
  if (p[0] == 0xFE && len < 9) p = drain.Next(len);  // the end of the column descriptions
  while (!(p[0] == 0xFE && len < 0xFFFFFF)) {
    ++r.Rows;
    p = drain.Next(len);
  }
  r.Wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - w0).count();
  r.Cpu = CpuSeconds() - c0;
  r.Check = drain.Bytes;
  // The library does not know what was read behind its back: the socket is simply closed.
  close(fd);
  return r;
}

TResult Library(const TWay& way) {
  st_mysql* m = LibConnect(way);
  TResult r;
  const auto w0 = std::chrono::steady_clock::now();
  const double c0 = CpuSeconds();
  if (mysql_real_query(m, kQuery, std::strlen(kQuery)) != 0) Fail(mysql_error(m));
  st_mysql_res* res = mysql_use_result(m);
  const unsigned columns = mysql_num_fields(res);
  while (char** row = mysql_fetch_row(res)) {
    const unsigned long* lengths = mysql_fetch_lengths(res);
    for (unsigned i = 0; i < columns; ++i)
      if (row[i]) r.Check += Touch(row[i], lengths[i]);
    ++r.Rows;
  }
  mysql_free_result(res);
  r.Wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - w0).count();
  r.Cpu = CpuSeconds() - c0;
  mysql_close(m);
  return r;
}

// ---- ours -------------------------------------------------------------------------------------

TResult Direct(const TWay& way) {
  const auto& srv = TestServer::Info();
  TMySQLAPIDirect& api = MyAPIDirect();
  PMYSQL_CON con = api.mysql_init(nullptr);
  if (way.Socket) api.mysql_options(con, MYSQL_OPT_PROTOCOL, MYSQL_PROTOCOL_SOCKET);
  const uint32_t flags = way.Compress ? CLIENT_COMPRESS : 0;
  if (!api.mysql_real_connect(con, way.Socket ? "localhost" : srv.Host, srv.NativeUser, srv.NativePassword,
                              gDatabase, way.Socket ? 0 : srv.Port, way.Socket ? srv.Socket : "", flags))
    Fail(api.mysql_error(con));
  TResult r;
  std::vector<TMySqlBind> scratch;
  const uint8_t* base = nullptr;
  const auto w0 = std::chrono::steady_clock::now();
  const double c0 = CpuSeconds();
  if (api.mysql_real_query(con, kQuery) != 0) Fail(api.mysql_error(con));
  PMYSQL_RES res = api.mysql_use_result(con);
  while (PMYSQL_ROW row = api.mysql_fetch_row(res)) {
    for (const TMySqlBind& column : api.GetRowColumns(res, row, scratch, base))
      if (!column.IsNull)
        r.Check += Touch(reinterpret_cast<const char*>(base + column.Position), column.Length);
    ++r.Rows;
  }
  if (api.mysql_errno(con) != 0) Fail(api.mysql_error(con));
  api.mysql_free_result(res);
  r.Wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - w0).count();
  r.Cpu = CpuSeconds() - c0;
  api.mysql_close(con);
  return r;
}

TResult LibraryStore(const TWay& way) {
  st_mysql* m = LibConnect(way);
  TResult r;
  const auto w0 = std::chrono::steady_clock::now();
  double c0 = CpuSeconds();
  if (mysql_real_query(m, kQuery, std::strlen(kQuery)) != 0) Fail(mysql_error(m));
  st_mysql_res* res = mysql_store_result(m);
  if (!res) Fail(mysql_error(m));
  r.FillCpu = CpuSeconds() - c0;
  r.Rows = mysql_num_rows(res);
  c0 = CpuSeconds();
  mysql_free_result(res);
  r.CloseCpu = CpuSeconds() - c0;
  r.Wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - w0).count();
  r.Cpu = r.FillCpu + r.CloseCpu;
  mysql_close(m);
  return r;
}

// The rows whose every value is the generated one.
uint64_t MatchingRows(TMySQLRecordset& rs) {
  void* buf = rs.AllocRecBuf();
  const TDateTime first = EncodeDate(2024, 1, 1);
  uint64_t good = 0;
  int seq = 0;
  rs.SetToBegin();
  for (rs.GetNextRecord(buf); !rs.GetEof(); rs.GetNextRecord(buf)) {
    const TRow row(++seq);
    const double when = rs.GetFieldAsVariant(5, buf).AsDateTime();
    good += rs.GetFieldAsVariant(1, buf).AsInteger() == row.Id &&
            rs.GetFieldAsVariant(2, buf).AsString() == row.Name &&
            rs.GetFieldAsVariant(3, buf).AsInteger() == row.A &&
            rs.GetFieldAsVariant(4, buf).AsInteger() == row.B &&
            std::abs(when - (first + seq / 86400.0)) < 1e-7 &&
            rs.GetFieldAsVariant(6, buf).AsString() == row.S;
  }
  TData::FreeRecBuf(buf);
  return good;
}

TResult Recordset(const TWay& way) {
  const auto& srv = TestServer::Info();
  TMySQLConnection c;
  c.SetServer(way.Socket ? "localhost" : srv.Host);
  c.SetUsername(srv.NativeUser);
  c.SetPassword(srv.NativePassword);
  c.SetProp(prPort, way.Socket ? 0 : srv.Port);
  c.SetProp(prDatabase, gDatabase);
  c.SetProp(prCompress, way.Compress);
  if (way.Socket) {
    ::setenv("MYSQL_UNIX_PORT", srv.Socket.c_str(), 1);
    c.SetProp(prProtocol, static_cast<int>(mpSocket));
  }
  c.Connect("");
  TMySQLRecordset rs;
  rs.SetConnection(&c);
  rs.SetSQL(kQuery);
  rs.SetProp(prFetchAll, true);
  TResult r;
  auto w0 = std::chrono::steady_clock::now();
  double c0 = CpuSeconds();
  rs.Open();
  r.Wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - w0).count();
  r.FillCpu = r.Cpu = CpuSeconds() - c0;
  r.Rows = static_cast<uint64_t>(rs.GetRecordCount());
  r.Check = MatchingRows(rs);
  c0 = CpuSeconds();
  rs.Close();
  r.CloseCpu = CpuSeconds() - c0;
  return r;
}

// ---- running and reporting ----------------------------------------------------------------------

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

// The readings of one way, run in turn kRuns times (so that a change in the machine's load
// touches them alike), each reading going first in turn: runs[reading][run].
std::vector<std::vector<TResult>> RunAll(const std::vector<std::function<TResult()>>& readings) {
  std::vector<std::vector<TResult>> runs(readings.size());
  for (int run = 0; run < kRuns; ++run)
    for (size_t k = 0; k < readings.size(); ++k) {
      const size_t i = (size_t(run) + k) % readings.size();
      runs[i].push_back(InChild(readings[i]));
    }
  return runs;
}

double MedianOf(const std::vector<TResult>& runs, double TResult::*figure) {
  std::vector<double> v;
  for (const TResult& r : runs) v.push_back(r.*figure);
  return Median(v);
}

// The median of the per-run ratios of two readings' figures.
double MedianRatio(const std::vector<TResult>& a, double (*fa)(const TResult&), const std::vector<TResult>& b,
                   double (*fb)(const TResult&)) {
  std::vector<double> v;
  for (size_t i = 0; i < a.size(); ++i) v.push_back(fa(a[i]) / fb(b[i]));
  return Median(v);
}

double WallOf(const TResult& r) {
  return r.Wall;
}
double CpuOf(const TResult& r) {
  return r.Cpu;
}

void Report(const char* name, const std::vector<TResult>& r, const std::vector<TResult>& raw,
            const std::vector<TResult>& lib) {
  std::vector<double> peaks;
  for (const TResult& x : r) peaks.push_back(double(x.PeakKb));
  const double wall = MedianOf(r, &TResult::Wall);
  std::printf(
      "  %-24s %9.0f rows/s  wall %.3f s  cpu %.3f s  peak %7.0f KiB  wall/a %.2f  wall/b %.2f  cpu/b %.2f\n",
      name, kRows / wall, wall, MedianOf(r, &TResult::Cpu), Median(peaks),
      MedianRatio(r, WallOf, raw, WallOf), MedianRatio(r, WallOf, lib, WallOf),
      MedianRatio(r, CpuOf, lib, CpuOf));
}

void Goal(const char* what, double value, const char* unit, double goal) {
  std::printf("  %-52s %6.2f%s  goal <= %.2f%s  %s\n", what, value, unit, goal, unit,
              value <= goal ? "met" : "NOT met");
}

void ReportGoals(const std::vector<TResult>& store, const std::vector<TResult>& libStore) {
  auto fillClose = [](const TResult& r) { return r.FillCpu + r.CloseCpu; };
  Goal("(d) fill + close cpu / (e) store + free cpu", MedianRatio(store, fillClose, libStore, fillClose), "x",
       1.2);
  std::vector<double> share;
  for (const TResult& r : store) share.push_back(100 * r.CloseCpu / r.FillCpu);
  Goal("(d) close cpu / its fill cpu", Median(share), "%", 10);
}

std::string gOldBufferPool;

// The single value a query answers.
std::string QueryValue(TMySQLAPIDirect& api, PMYSQL_CON con, const std::string& sql) {
  if (api.mysql_real_query(con, sql) != 0) Fail(sql + ": " + api.mysql_error(con));
  PMYSQL_RES res = api.mysql_use_result(con);
  PMYSQL_ROW row = res ? api.mysql_fetch_row(res) : nullptr;
  if (!row) Fail(sql + ": no value");
  std::vector<TMySqlBind> scratch;
  const uint8_t* base = nullptr;
  const auto columns = api.GetRowColumns(res, row, scratch, base);
  if (columns.empty() || columns[0].IsNull) Fail(sql + ": no value");
  std::string value(reinterpret_cast<const char*>(base + columns[0].Position), columns[0].Length);
  while (api.mysql_fetch_row(res)) {
  }
  api.mysql_free_result(res);
  return value;
}

void Setup() {
  const auto& srv = TestServer::Info();
  TMySQLAPIDirect& api = MyAPIDirect();
  PMYSQL_CON con = api.mysql_init(nullptr);
  if (!api.mysql_real_connect(con, srv.Host, srv.NativeUser, srv.NativePassword, {}, srv.Port, {}, 0))
    Fail(api.mysql_error(con));
  // The table is about 100 MB: a smaller pool reads it from disk on every run.
  gOldBufferPool = QueryValue(api, con, "SELECT @@innodb_buffer_pool_size");
  for (const std::string& sql :
       {"CREATE DATABASE " + gDatabase + " CHARACTER SET latin1", "USE " + gDatabase,
        std::string("CREATE TABLE t (id INT PRIMARY KEY, name VARCHAR(20), a INT, b SMALLINT, dt DATETIME, "
                    "s VARCHAR(64))"),
        std::string("SET GLOBAL innodb_buffer_pool_size = 256 * 1024 * 1024"),
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
  if (api.mysql_real_connect(con, srv.Host, srv.NativeUser, srv.NativePassword, {}, srv.Port, {}, 0)) {
    api.mysql_real_query(con, "DROP DATABASE " + gDatabase);
    if (!gOldBufferPool.empty())
      api.mysql_real_query(con, "SET GLOBAL innodb_buffer_pool_size = " + gOldBufferPool);
  }
  api.mysql_close(con);
}

}  // namespace

int main(int argc, char** argv) {
  const TBenchServer server;
  gDatabase = "bench_rs_" + std::to_string(::getpid());
  Setup();
  // --profile READING WAY: one reading (a..e) of one way (tcp, tcp-z, socket, socket-z) in this
  // process, for a profiler.
  if (argc == 4 && std::string(argv[1]) == "--profile") {
    const std::string reading = argv[2], name = argv[3];
    const TWay way{name.rfind("socket", 0) == 0, name.size() > 2 && name.substr(name.size() - 2) == "-z"};
    const std::function<TResult(const TWay&)> readings[] = {Drain, Library, Direct, Recordset, LibraryStore};
    if (reading.size() != 1 || reading[0] < 'a' || reading[0] > 'e') Fail("a reading is a to e");
    TResult r;
    try {
      r = readings[reading[0] - 'a'](way);
    } catch (const Exception& e) {
      Fail(e.Message());
    }
    std::printf("(%s) %s: cpu %.3f s, fill %.3f s, close %.3f s, rows %llu\n", reading.c_str(), name.c_str(),
                r.Cpu, r.FillCpu, r.CloseCpu, static_cast<unsigned long long>(r.Rows));
    DropDatabase();
    return 0;
  }
  const uint64_t textSum = ExpectedTextSum();
  std::printf(
      "SELECT of %d rows (INT PK, VARCHAR(20), INT, SMALLINT, DATETIME, VARCHAR(64)): medians of %d runs\n"
      "taken in turn, each reading in a process of its own (cpu and peak memory are its own)\n",
      kRows, kRuns);
  bool agree = true;
  for (const TWay way : {TWay{false, false}, TWay{false, true}, TWay{true, false}, TWay{true, true}}) {
    std::printf("%s, %s\n", way.Socket ? "Unix socket" : "TCP", way.Compress ? "compressed" : "plain");
    const auto runs =
        RunAll({[&] { return Drain(way); }, [&] { return Library(way); }, [&] { return Direct(way); },
                [&] { return Recordset(way); }, [&] { return LibraryStore(way); }});
    const auto &raw = runs[0], &lib = runs[1], &direct = runs[2], &store = runs[3], &libStore = runs[4];
    Report("(a) raw byte drain", raw, raw, lib);
    Report("(b) C client library", lib, raw, lib);
    Report("(c) direct client API", direct, raw, lib);
    Report("(d) record set + close", store, raw, lib);
    Report("(e) C library store+free", libStore, raw, lib);
    ReportGoals(store, libStore);
    for (size_t i = 0; i < store.size(); ++i)
      agree = agree && raw[i].Rows == kRows && lib[i].Rows == kRows && direct[i].Rows == kRows &&
              store[i].Rows == kRows && libStore[i].Rows == kRows && lib[i].Check == textSum &&
              direct[i].Check == textSum && store[i].Check == kRows;
  }
  DropDatabase();
  if (!agree) Fail("a reading lost rows or read values other than the generated ones");
  return 0;
}
