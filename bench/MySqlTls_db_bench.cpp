// Logins and a 10 MB result through TLS: our session against the C client library on the same
// private test server, and our own plain TCP for the cost of TLS itself.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "mysql/MySqlAuth.h"
#include "mysql/MySqlResultSet.h"
#include "mysql/MySqlSession.h"
#include "support/TestServer.h"

// The C client library's calls used here (its header's names clash with ours).
extern "C" {
struct st_mysql;
struct st_mysql_res;
st_mysql* mysql_init(st_mysql*);
bool mysql_ssl_set(st_mysql*, const char* key, const char* cert, const char* ca, const char* caPath,
                   const char* cipher);
st_mysql* mysql_real_connect(st_mysql*, const char* host, const char* user, const char* password,
                             const char* db, unsigned port, const char* socket, unsigned long flags);
const char* mysql_get_ssl_cipher(st_mysql*);
const char* mysql_error(st_mysql*);
void mysql_close(st_mysql*);
int mysql_query(st_mysql*, const char*);
st_mysql_res* mysql_use_result(st_mysql*);
char** mysql_fetch_row(st_mysql_res*);
unsigned long* mysql_fetch_lengths(st_mysql_res*);
unsigned mysql_num_fields(st_mysql_res*);
void mysql_free_result(st_mysql_res*);
}

namespace {

constexpr int kLogins = 50;
constexpr int kFetches = 5;
constexpr const char* kQuery = "SELECT seq, REPEAT(MD5(seq), 32) FROM mysql.seq_1_to_10240";

struct Timing {
  double Wall, Cpu;
};

template <typename F>
Timing Measure(F&& f) {
  auto w0 = std::chrono::steady_clock::now();
  std::clock_t c0 = std::clock();
  f();
  return {std::chrono::duration<double>(std::chrono::steady_clock::now() - w0).count(),
          double(std::clock() - c0) / CLOCKS_PER_SEC};
}

std::unique_ptr<TMySqlSession> Ours(const TestServer::TInfo& info, bool tls) {
  auto s = std::make_unique<TMySqlSession>();
  if (tls) s->Protocol = MYSQL_PROTOCOL_SSL;
  s->Connect(info.Host, info.NativeUser, 0, {}, static_cast<uint32_t>(info.Port), {}, info.NativePassword);
  return s;
}

size_t FetchOurs(TMySqlSession& s) {
  s.Query(kQuery);
  TMySqlResultSet rs(s);
  size_t bytes = 0;
  while (rs.Fetch())
    for (const TMySqlBind& b : rs.Row().Binds) bytes += b.Length;
  return bytes;
}

st_mysql* Theirs(const TestServer::TInfo& info) {
  st_mysql* m = mysql_init(nullptr);
  mysql_ssl_set(m, nullptr, nullptr, info.CaCert.c_str(), nullptr, nullptr);
  if (!mysql_real_connect(m, info.Host.c_str(), info.NativeUser.c_str(), info.NativePassword.c_str(), nullptr,
                          info.Port, nullptr, 0) ||
      mysql_get_ssl_cipher(m) == nullptr) {
    std::fprintf(stderr, "C client library without TLS: %s\n", mysql_error(m));
    std::exit(1);
  }
  return m;
}

size_t FetchTheirs(st_mysql* m) {
  mysql_query(m, kQuery);
  st_mysql_res* res = mysql_use_result(m);
  size_t bytes = 0;
  while (char** row = mysql_fetch_row(res)) {
    unsigned long* lengths = mysql_fetch_lengths(res);
    for (unsigned i = 0; i < mysql_num_fields(res); ++i) bytes += row[i] ? lengths[i] : 0;
  }
  mysql_free_result(res);
  return bytes;
}

void Print(const char* what, const char* who, Timing t, int count) {
  std::printf("%-28s %-22s wall %.3f s, cpu %.3f s (%.2f ms each)\n", what, who, t.Wall, t.Cpu,
              1000 * t.Wall / count);
}

}  // namespace

int main() {
  const std::filesystem::path infoFile(DA_TEST_SERVER_INFO);
  const std::string script = std::string(DA_TEST_SOURCE_DIR) + "/scripts/test-server";
  const bool started = !std::filesystem::exists(infoFile);
  if (started &&
      std::system((script + " start " + infoFile.parent_path().string() + " >/dev/null 2>&1").c_str()) != 0)
    return 1;
  const TestServer::TInfo& info = TestServer::Info();

  Print("TLS login + quit", "ours", Measure([&] {
          for (int i = 0; i < kLogins; ++i) Ours(info, true)->Close();
        }),
        kLogins);
  Print("", "C client library", Measure([&] {
          for (int i = 0; i < kLogins; ++i) mysql_close(Theirs(info));
        }),
        kLogins);
  Print("", "ours, plain TCP", Measure([&] {
          for (int i = 0; i < kLogins; ++i) Ours(info, false)->Close();
        }),
        kLogins);

  size_t bytes = 0;
  auto tls = Ours(info, true), plain = Ours(info, false);
  st_mysql* theirs = Theirs(info);
  Print("10 MB result through TLS", "ours", Measure([&] {
          for (int i = 0; i < kFetches; ++i) bytes += FetchOurs(*tls);
        }),
        kFetches);
  Print("", "C client library", Measure([&] {
          for (int i = 0; i < kFetches; ++i) bytes -= FetchTheirs(theirs);
        }),
        kFetches);
  Print("", "ours, plain TCP", Measure([&] {
          for (int i = 0; i < kFetches; ++i) FetchOurs(*plain);
        }),
        kFetches);
  mysql_close(theirs);
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  std::printf("peak memory %ld KB; our bytes minus theirs: %zu\n", ru.ru_maxrss, bytes);
  if (started)
    std::system((script + " stop " + infoFile.parent_path().string() + " >/dev/null 2>&1").c_str());
  return bytes == 0 ? 0 : 1;
}
