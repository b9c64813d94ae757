// Logins and a 10 MB result through TLS: our session against the C client library on the same
// private test server, and our own plain TCP for the cost of TLS itself. The three sides take
// turns over kRounds rounds (a batch of logins, then one fetch, each); medians of the rounds and
// of the per-round ratios count, since the machine is shared.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "mysql/MySqlAuth.h"
#include "mysql/MySqlResultSet.h"
#include "mysql/MySqlSession.h"
#include "support/BenchServer.h"
#include "support/BenchTiming.h"

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

constexpr int kRounds = 7;
constexpr int kLoginsPerRound = 10;
constexpr const char* kQuery = "SELECT seq, REPEAT(MD5(seq), 32) FROM mysql.seq_1_to_10240";

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

// One side's rounds; `per` is what a round's time is divided by (logins per round or 1).
struct Side {
  const char* Who;
  std::vector<TBenchTiming> Rounds;
};

void Print(const char* what, const std::vector<Side>& sides, int per) {
  const Side& ref = sides[1];  // the C client library
  for (const Side& side : sides) {
    std::vector<double> wall, cpu, ratio;
    for (size_t i = 0; i < side.Rounds.size(); ++i) {
      wall.push_back(side.Rounds[i].Wall / per);
      cpu.push_back(side.Rounds[i].Cpu / per);
      ratio.push_back(side.Rounds[i].Wall / ref.Rounds[i].Wall);
    }
    std::printf("%-28s %-18s wall %7.2f ms, cpu %7.2f ms each; wall / library %.2f\n",
                &side == &sides[0] ? what : "", side.Who, 1000 * Median(wall), 1000 * Median(cpu),
                Median(ratio));
  }
}

}  // namespace

int main() {
  const TBenchServer server;
  const TestServer::TInfo& info = server.Info();

  std::vector<Side> logins = {{"ours", {}}, {"C client library", {}}, {"ours, plain TCP", {}}};
  std::vector<Side> fetches = logins;
  size_t bytes = 0;
  auto tls = Ours(info, true), plain = Ours(info, false);
  st_mysql* theirs = Theirs(info);
  const std::function<TBenchTiming()> login[] = {[&] {
                                                   return Measure([&] {
                                                     for (int i = 0; i < kLoginsPerRound; ++i)
                                                       Ours(info, true)->Close();
                                                   });
                                                 },
                                                 [&] {
                                                   return Measure([&] {
                                                     for (int i = 0; i < kLoginsPerRound; ++i)
                                                       mysql_close(Theirs(info));
                                                   });
                                                 },
                                                 [&] {
                                                   return Measure([&] {
                                                     for (int i = 0; i < kLoginsPerRound; ++i)
                                                       Ours(info, false)->Close();
                                                   });
                                                 }};
  const std::function<TBenchTiming()> fetch[] = {
      [&] { return Measure([&] { bytes += FetchOurs(*tls); }); },
      [&] { return Measure([&] { bytes -= FetchTheirs(theirs); }); },
      [&] { return Measure([&] { FetchOurs(*plain); }); }};
  for (int round = 0; round < kRounds; ++round)
    for (int k = 0; k < 3; ++k) {  // each side goes first in turn
      const int side = (round + k) % 3;
      logins[size_t(side)].Rounds.push_back(login[side]());
    }
  for (int round = 0; round < kRounds; ++round)
    for (int k = 0; k < 3; ++k) {
      const int side = (round + k) % 3;
      fetches[size_t(side)].Rounds.push_back(fetch[side]());
    }
  std::printf("medians of %d rounds, the sides taking turns\n", kRounds);
  Print("TLS login + quit", logins, kLoginsPerRound);
  Print("10 MB result through TLS", fetches, 1);
  mysql_close(theirs);
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  std::printf("peak memory %ld KB; our bytes minus theirs: %zu\n", ru.ru_maxrss, bytes);
  return bytes == 0 ? 0 : 1;
}
