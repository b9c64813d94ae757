// Applying 10,000 single-row cached UPDATEs of a TMyQuery (one statement per row, autocommit)
// against the same 10,000 UPDATE statements sent by the mariadb client from a file. Each side
// runs in a child process of its own, taking turns kRuns times; medians count. Ours is timed from
// ApplyUpdates to its end (the edits before it are local); the client's from its start to its exit.
// Both must leave the values they were given.
//
// Goal: our apply within 1.5x of the client's time.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "components/MyAccessDataSet.h"
#include "support/BenchServer.h"
#include "support/BenchTiming.h"

namespace {

constexpr int kRows = 10000;
constexpr int kRuns = 5;

std::string gDatabase;

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "MyApplyUpdates_db_bench: %s\n", what.c_str());
  std::_Exit(1);
}

struct TRun {
  double Wall = 0;
  double Cpu = 0;
  long PeakKb = 0;
};

void Prepare(TMyConnection& c, const std::string& database) {
  const auto& srv = TestServer::Info();
  c.LoginPrompt = false;
  c.SetServer(srv.Host);
  c.SetPort(srv.Port);
  c.SetUsername(srv.NativeUser);
  c.SetPassword(srv.NativePassword);
  c.SetDatabase(database);
}

// Runs work in a child process, which writes the seconds it measured itself to `pipeFd` (or
// nothing: the whole child counts). CPU time and peak memory are the child's.
TRun InChild(const std::function<double()>& work) {
  int fds[2];
  if (pipe(fds) != 0) Fail("pipe");
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid < 0) Fail("fork");
  if (pid == 0) {
    close(fds[0]);
    try {
      const double seconds = work();
      if (write(fds[1], &seconds, sizeof seconds) != sizeof seconds) std::_Exit(3);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "MyApplyUpdates_db_bench: %s\n", e.what());
      std::_Exit(2);
    }
    std::_Exit(0);
  }
  close(fds[1]);
  double measured = -1;
  const bool own = read(fds[0], &measured, sizeof measured) == sizeof measured;
  close(fds[0]);
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
    Fail("a run failed");
  TRun r;
  r.Wall = own && measured >= 0
               ? measured
               : std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  r.Cpu = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
          double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  r.PeakKb = usage.ru_maxrss;
  return r;
}

double Ours(int round) {
  TMyConnection c;
  Prepare(c, gDatabase);
  TMyQuery q;
  q.SetConnection(&c);
  q.SetCachedUpdates(true);
  q.SetSQLText("SELECT * FROM t");
  q.Open();
  for (q.First(); !q.Eof(); q.Next()) {
    q.Edit();
    q.FieldByName("level")->SetAsInteger(q.FieldByName("id")->AsInteger() + round);
    q.Post();
  }
  const auto start = std::chrono::steady_clock::now();
  q.ApplyUpdates();
  q.CommitUpdates();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

[[noreturn]] void Theirs(const std::string& file) {
  const auto& srv = TestServer::Info();
  const int fd = open(file.c_str(), O_RDONLY);
  if (fd < 0 || dup2(fd, 0) < 0) Fail("cannot open " + file);
  const std::vector<std::string> args = {"mariadb",
                                         "--host=" + srv.Host,
                                         "--port=" + std::to_string(srv.Port),
                                         "--user=" + srv.NativeUser,
                                         "--password=" + srv.NativePassword,
                                         gDatabase};
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  execvp(argv[0], argv.data());
  Fail("cannot run mariadb");
}

// The statements our apply sends for `round`, as the client gets them.
std::string WriteStatements(int round) {
  const std::string file = (std::filesystem::temp_directory_path() / (gDatabase + ".sql")).string();
  std::ofstream out(file, std::ios::binary);
  for (int id = 1; id <= kRows; ++id)
    out << "UPDATE t\r\nSET\r\n  level = " << id + round << "\r\nWHERE\r\n  id = " << id << ";\n";
  return file;
}

// Read on a fresh session as text: the sum reaches 100000 and more.
std::string Checksum() {
  TMyConnection c;
  Prepare(c, gDatabase);
  TMyQuery q;
  q.SetConnection(&c);
  q.SetSQLText("SELECT CAST(SUM(level - id) AS CHAR) FROM t");
  q.Open();
  return q.Fields()[0]->AsString();
}

}  // namespace

int main() {
  TBenchServer server;
  gDatabase = "applybench_" + std::to_string(::getpid());
  std::vector<TRun> ours, theirs;
  try {
    TMyConnection c;
    Prepare(c, {});
    c.ExecSQL("CREATE DATABASE " + gDatabase);
    c.ExecSQL("USE " + gDatabase);
    c.ExecSQL("CREATE TABLE t (id INT PRIMARY KEY, level INT, name VARCHAR(20))");
    c.ExecSQL("INSERT INTO t SELECT seq, 0, CONCAT('hero-', seq) FROM seq_1_to_" + std::to_string(kRows));
    int round = 0;
    for (int run = 0; run < kRuns; ++run) {
      ++round;
      ours.push_back(InChild([round] { return Ours(round); }));
      if (Checksum() != std::to_string(kRows * round)) Fail("our apply left the wrong values");
      ++round;
      const std::string file = WriteStatements(round);
      theirs.push_back(InChild([&file]() -> double { Theirs(file); }));
      if (const std::string sum = Checksum(); sum != std::to_string(kRows * round))
        Fail("the client left the wrong values: " + sum);
    }
    c.ExecSQL("DROP DATABASE " + gDatabase);
  } catch (const std::exception& e) {
    Fail(e.what());
  }
  std::vector<double> ow, tw, oc, tc, om, tm;
  for (const TRun& r : ours) ow.push_back(r.Wall), oc.push_back(r.Cpu), om.push_back(double(r.PeakKb) / 1024);
  for (const TRun& r : theirs)
    tw.push_back(r.Wall), tc.push_back(r.Cpu), tm.push_back(double(r.PeakKb) / 1024);
  const double ratio = Median(ow) / Median(tw);
  std::printf("%d single-row cached UPDATEs, medians of %d runs\n", kRows, kRuns);
  std::printf("ours (ApplyUpdates): %.3f s, process CPU %.2f s, peak %.0f MiB\n", Median(ow), Median(oc),
              Median(om));
  std::printf("mariadb client:      %.3f s, process CPU %.2f s, peak %.0f MiB\n", Median(tw), Median(tc),
              Median(tm));
  std::printf("  goal: apply within 1.5x of the mariadb client: %s (%.2fx)\n",
              ratio <= 1.5 ? "met" : "MISSED", ratio);
  return 0;
}
