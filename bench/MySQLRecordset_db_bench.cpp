// Reading 1,000,000 rows of (INT PK, VARCHAR(20), INT, SMALLINT, DATETIME, VARCHAR(64)) four ways,
// over TCP and the Unix socket, plain and compressed:
//   (a) the raw bytes of the reply drained off the socket (the physical limit; on a compressed
//       connection each packet is inflated too, which no reader can skip),
//   (b) the C client library: use_result, fetch_row, lengths, every byte touched,
//   (c) our direct client API doing the same,
//   (d) our record set fetching everything into the record store.
// Each reading runs in a child process of its own, so that its CPU time and peak memory are its
// own. Starts the test server when none runs.
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "mysql/MySQLRecordset.h"
#include "mysql/MySqlApiDirect.h"
#include "mysql/MySqlAuth.h"
#include "support/TestServer.h"

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
char** mysql_fetch_row(st_mysql_res*);
unsigned long* mysql_fetch_lengths(st_mysql_res*);
unsigned mysql_num_fields(st_mysql_res*);
void mysql_free_result(st_mysql_res*);
int mysql_get_socket(st_mysql*);
}

namespace {

constexpr int kRows = 1000000;
constexpr int kRuns = 5;
constexpr int kLibOptCompress = 1;     // MYSQL_OPT_COMPRESS
constexpr int kLibSetCharsetName = 7;  // MYSQL_SET_CHARSET_NAME
constexpr const char* kQuery = "SELECT id, name, a, b, dt, s FROM t";

std::string gDatabase;

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "MySQLRecordset_db_bench: %s\n", what.c_str());
  std::_Exit(1);
}

struct TWay {
  bool Socket = false;
  bool Compress = false;
};

// What a child reports back.
struct TResult {
  double Wall = 0, Cpu = 0;
  uint64_t Rows = 0, Check = 0;
  long PeakKb = 0;
};

double CpuNow() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

uint64_t Touch(const char* p, unsigned long n) {
  uint64_t sum = 0;
  for (unsigned long i = 0; i < n; ++i) sum += static_cast<unsigned char>(p[i]);
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

// The reply as a stream of protocol packets, read in large chunks; compressed packets inflated.
class TPacketDrain {
 public:
  TPacketDrain(int fd, bool compress) : FFd(fd), FCompress(compress) {}
  // The next packet's payload (valid until the next call).
  const uint8_t* Next(size_t& len) {
    uint8_t header[4];
    Take(header, 4);
    len = header[0] | header[1] << 8 | header[2] << 16;
    FPacket.resize(len);
    Take(FPacket.data(), len);
    return FPacket.data();
  }
  uint64_t Bytes = 0;

 private:
  void Take(uint8_t* dest, size_t n) {
    while (n > 0) {
      if (FPos == FData.size()) Refill();
      const size_t k = std::min(n, FData.size() - FPos);
      std::memcpy(dest, FData.data() + FPos, k);
      FPos += k;
      dest += k;
      n -= k;
    }
  }
  void Refill() {
    FPos = 0;
    if (!FCompress) {
      FData.resize(1 << 20);
      pollfd p{FFd, POLLIN, 0};
      if (poll(&p, 1, 60000) <= 0) Fail("the server stopped sending");
      const ssize_t got = recv(FFd, FData.data(), FData.size(), 0);
      if (got <= 0) Fail("the connection closed");
      FData.resize(static_cast<size_t>(got));
      Bytes += static_cast<uint64_t>(got);
      return;
    }
    uint8_t header[7];
    ReadExactly(FFd, header, 7);
    const size_t packed = header[0] | header[1] << 8 | header[2] << 16;
    const size_t plain = header[4] | header[5] << 8 | header[6] << 16;
    FRaw.resize(packed);
    ReadExactly(FFd, FRaw.data(), packed);
    Bytes += 7 + packed;
    if (plain == 0) {
      FData = FRaw;
      return;
    }
    FData.resize(plain);
    uLongf out = plain;
    if (uncompress(FData.data(), &out, FRaw.data(), packed) != Z_OK || out != plain)
      Fail("bad compressed packet");
  }

  int FFd;
  bool FCompress;
  std::vector<uint8_t> FData, FRaw, FPacket;
  size_t FPos = 0;
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
  const double c0 = CpuNow();
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
  r.Cpu = CpuNow() - c0;
  r.Check = drain.Bytes;
  // The library does not know what was read behind its back: the socket is simply closed.
  close(fd);
  return r;
}

TResult Library(const TWay& way) {
  st_mysql* m = LibConnect(way);
  TResult r;
  const auto w0 = std::chrono::steady_clock::now();
  const double c0 = CpuNow();
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
  r.Cpu = CpuNow() - c0;
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
  const double c0 = CpuNow();
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
  r.Cpu = CpuNow() - c0;
  api.mysql_close(con);
  return r;
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
  const auto w0 = std::chrono::steady_clock::now();
  const double c0 = CpuNow();
  rs.Open();
  r.Wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - w0).count();
  r.Cpu = CpuNow() - c0;
  r.Rows = static_cast<uint64_t>(rs.GetRecordCount());
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
    std::_Exit(0);  // the store is not freed record by record: the reading is what is measured
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

// The four readings of one way, run in turn kRuns times (so that a change in the machine's load
// touches them alike); each keeps its best wall and best CPU time.
std::vector<TResult> Best(const std::vector<std::function<TResult()>>& readings) {
  std::vector<TResult> best(readings.size());
  for (int run = 0; run < kRuns; ++run)
    for (size_t i = 0; i < readings.size(); ++i) {
      const TResult r = InChild(readings[i]);
      if (run == 0) {
        best[i] = r;
        continue;
      }
      const double cpu = std::min(best[i].Cpu, r.Cpu);
      if (r.Wall < best[i].Wall) best[i] = r;
      best[i].Cpu = cpu;
    }
  return best;
}

void Report(const char* name, const TResult& r, const TResult& raw, const TResult& lib) {
  std::printf(
      "  %-22s %9.0f rows/s  wall %.3f s  cpu %.3f s  peak %7ld KiB  wall/a %.2f  wall/b %.2f  "
      "cpu/b %.2f\n",
      name, double(r.Rows) / r.Wall, r.Wall, r.Cpu, r.PeakKb, r.Wall / raw.Wall, r.Wall / lib.Wall,
      r.Cpu / lib.Cpu);
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

int main() {
  const std::filesystem::path info(DA_TEST_SERVER_INFO);
  const std::string script = std::string(DA_TEST_SOURCE_DIR) + "/scripts/test-server";
  const bool started = !std::filesystem::exists(info);
  if (started &&
      std::system((script + " start " + info.parent_path().string() + " >/dev/null 2>&1").c_str()) != 0)
    Fail("the test server did not start");
  gDatabase = "bench_rs_" + std::to_string(::getpid());
  Setup();
  std::printf(
      "SELECT of %d rows (INT PK, VARCHAR(20), INT, SMALLINT, DATETIME, VARCHAR(64)), best wall and best "
      "cpu\n"
      "of %d runs taken in turn, each reading in a process of its own (cpu and peak memory are its own)\n",
      kRows, kRuns);
  bool agree = true;
  for (const TWay way : {TWay{false, false}, TWay{false, true}, TWay{true, false}, TWay{true, true}}) {
    std::printf("%s, %s\n", way.Socket ? "Unix socket" : "TCP", way.Compress ? "compressed" : "plain");
    const std::vector<TResult> best = Best({[&] { return Drain(way); }, [&] { return Library(way); },
                                            [&] { return Direct(way); }, [&] { return Recordset(way); }});
    const TResult &raw = best[0], &lib = best[1], &direct = best[2], &store = best[3];
    Report("(a) raw byte drain", raw, raw, lib);
    Report("(b) C client library", lib, raw, lib);
    Report("(c) direct client API", direct, raw, lib);
    Report("(d) record set", store, raw, lib);
    agree = agree && raw.Rows == kRows && lib.Rows == kRows && direct.Rows == kRows && store.Rows == kRows &&
            lib.Check == direct.Check;
  }
  DropDatabase();
  if (started) std::system((script + " stop " + info.parent_path().string() + " >/dev/null 2>&1").c_str());
  if (!agree) Fail("the readings disagree");
  return 0;
}
