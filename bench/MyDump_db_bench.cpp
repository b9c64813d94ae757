// Dumping and restoring 1,000,000 rows of (INT PK, VARCHAR(20), INT, SMALLINT, DATETIME,
// VARCHAR(64), DECIMAL(12,2)):
//   dump:    our TMyDump::BackupToFile (which makes the file durable before it renames it into
//            place) and our BackupToStream into a plain file stream, against mariadb-dump writing
//            the same table to a file,
//   restore: our TMyDump::RestoreFromFile against the mariadb client, each reading our dump file,
//            and each reading mariadb-dump's file.
// Each run is a child process of its own, so that its wall time, CPU time and peak memory are its
// own; the two sides take turns kRuns times and the medians of the per-run ratios count. Every
// restore must give the source table's checksum. Starts the test server when none runs.
//
// Arguments: "--profile" dumps once and times our restore of it in this process (for profiling);
// "--profile mariadb-dump" restores mariadb-dump's file instead.
//
// Goals: our dump no slower than mariadb-dump with a peak within 1.2x of its; our restores no
// slower than the mariadb client's, of our file with at most 1.5x its CPU time, of mariadb-dump's
// file with a peak no higher than its.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "components/MyAccessConnection.h"
#include "components/MyDump.h"
#include "components/MyRowReader.h"
#include "platform/runtime/Classes.h"
#include "support/BenchServer.h"
#include "support/BenchTiming.h"

namespace {

constexpr int kRows = 1000000;
constexpr int kRuns = 5;

std::string gSource, gTarget;
std::filesystem::path gFolder;

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "MyDump_db_bench: %s\n", what.c_str());
  std::_Exit(1);
}

struct TRun {
  double Wall = 0, Cpu = 0;
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
  c.Options().SetCharset("latin1");
}

// Runs work in a child process; its wall time and peak resident memory.
TRun InChild(const std::function<void()>& work) {
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid < 0) Fail("fork");
  if (pid == 0) {
    try {
      work();
    } catch (const std::exception& e) {
      std::fprintf(stderr, "MyDump_db_bench: %s\n", e.what());
      std::_Exit(2);
    }
    std::_Exit(0);
  }
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
    Fail("a run failed");
  TRun r;
  r.Wall = SecondsSince(start);
  r.Cpu = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
          double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  r.PeakKb = usage.ru_maxrss;
  return r;
}

// A client program with standard input or output on a file.
void Exec(const std::vector<std::string>& args, const std::string& in, const std::string& out) {
  if (!in.empty()) {
    const int fd = open(in.c_str(), O_RDONLY);
    if (fd < 0 || dup2(fd, 0) < 0) Fail("cannot open " + in);
  }
  if (!out.empty()) {
    const int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || dup2(fd, 1) < 0) Fail("cannot create " + out);
  }
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  execvp(argv[0], argv.data());
  Fail("cannot run " + args[0]);
}

std::vector<std::string> ClientArgs(const std::string& tool, const std::string& database) {
  const auto& srv = TestServer::Info();
  return {tool,
          "--host=" + srv.Host,
          "--port=" + std::to_string(srv.Port),
          "--user=" + srv.NativeUser,
          "--password=" + srv.NativePassword,
          "--default-character-set=latin1",
          database};
}

std::string Checksum(TMyConnection& c, const std::string& database) {
  c.Open();
  TMyRowReader reader(c);
  reader.Open("CHECKSUM TABLE `" + database + "`.t");
  return reader.Next() ? reader.Value(1) : "<none>";
}

void Setup(TMyConnection& c) {
  c.ExecSQL("CREATE DATABASE " + gSource + " CHARACTER SET latin1");
  c.ExecSQL("CREATE DATABASE " + gTarget + " CHARACTER SET latin1");
  c.ExecSQL("USE " + gSource);
  c.ExecSQL(
      "CREATE TABLE t (id INT PRIMARY KEY, name VARCHAR(20), a INT, b SMALLINT, dt DATETIME, s VARCHAR(64), "
      "m DECIMAL(12,2))");
  c.ExecSQL(
      "INSERT INTO t SELECT seq, CONCAT('player-', seq), seq * 7919 % 1000003, seq % 30000, "
      "'2024-01-01' + INTERVAL seq SECOND, CONCAT(MD5(seq), MD5(seq + 1)), seq / 100 FROM seq_1_to_" +
      std::to_string(kRows));
}

void ResetTarget(TMyConnection& c) {
  c.ExecSQL("DROP DATABASE IF EXISTS " + gTarget);
  c.ExecSQL("CREATE DATABASE " + gTarget + " CHARACTER SET latin1");
}

// Medians of each side's figures, then the goals on the medians of the per-run ratios (each pair of
// runs met the same load). A goal of 0 reports the ratio without one.
struct TGoals {
  double Wall = 0, Cpu = 0, Peak = 0;
};

void Report(const char* what, const char* theirsName, const std::vector<TRun>& ours,
            const std::vector<TRun>& theirs, const TGoals& goals) {
  auto median = [](const std::vector<TRun>& runs, auto figure) {
    std::vector<double> v;
    for (const TRun& r : runs) v.push_back(figure(r));
    return Median(v);
  };
  auto ratio = [&](auto figure) {
    std::vector<double> v;
    for (size_t i = 0; i < ours.size(); ++i) v.push_back(figure(ours[i]) / figure(theirs[i]));
    return Median(v);
  };
  auto wall = [](const TRun& r) { return r.Wall; };
  auto cpu = [](const TRun& r) { return r.Cpu; };
  auto peak = [](const TRun& r) { return double(r.PeakKb) / 1024; };
  std::printf("%s: ours %.2f s (CPU %.2f s), peak %.1f MiB; %s %.2f s (CPU %.2f s), peak %.1f MiB\n", what,
              median(ours, wall), median(ours, cpu), median(ours, peak), theirsName, median(theirs, wall),
              median(theirs, cpu), median(theirs, peak));
  const std::pair<const char*, double> figures[] = {
      {"wall", goals.Wall}, {"CPU", goals.Cpu}, {"peak", goals.Peak}};
  const double ratios[] = {ratio(wall), ratio(cpu), ratio(peak)};
  for (int i = 0; i < 3; ++i) {
    const std::string label = std::string(what) + ", " + figures[i].first + " ours / " + theirsName;
    if (figures[i].second > 0)
      std::printf("  %-60s %6.2fx  goal <= %.2fx  %s\n", label.c_str(), ratios[i], figures[i].second,
                  ratios[i] <= figures[i].second ? "met" : "NOT met");
    else
      std::printf("  %-60s %6.2fx\n", label.c_str(), ratios[i]);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const bool profile = argc > 1 && std::string(argv[1]) == "--profile";
  const TBenchServer server;
  gSource = "dumpbench_" + std::to_string(::getpid());
  gTarget = gSource + "_r";
  gFolder = std::filesystem::temp_directory_path() / gSource;
  std::filesystem::create_directories(gFolder);
  const std::string ours = (gFolder / "ours.sql").string(), theirs = (gFolder / "theirs.sql").string();
  std::vector<TRun> dumpOurs, dumpStream, dumpTheirs, restoreOurs, restoreTheirs, restoreTheirsFileOurs,
      restoreTheirsFileTheirs;
  std::string expected;
  try {
    TMyConnection c;
    Prepare(c, {});
    Setup(c);
    expected = Checksum(c, gSource);
    if (profile) {  // one dump and our restore of it, in this process, for a profiler
      const bool mariadbDump = argc > 2 && std::string(argv[2]) == "mariadb-dump";
      if (mariadbDump) {
        InChild([&] { Exec(ClientArgs("mariadb-dump", gSource), {}, theirs); });
      } else {
        TMyConnection src;
        Prepare(src, gSource);
        TMyDump dump;
        dump.SetConnection(&src);
        dump.BackupToFile(ours);
      }
      TMyConnection target;
      Prepare(target, gTarget);
      TMyDump restore;
      restore.SetConnection(&target);
      const TBenchTiming t = Measure([&] { restore.RestoreFromFile(mariadbDump ? theirs : ours); });
      rusage self{};
      getrusage(RUSAGE_SELF, &self);
      std::printf("our restore: %.2f s wall, %.2f s CPU; this process's peak %.1f MiB\n", t.Wall, t.Cpu,
                  double(self.ru_maxrss) / 1024);
      if (Checksum(c, gTarget) != expected) Fail("our restore changed the table");
      c.ExecSQL("DROP DATABASE " + gSource);
      c.ExecSQL("DROP DATABASE " + gTarget);
      std::filesystem::remove_all(gFolder);
      return 0;
    }
    std::printf(
        "Dump and restore of %d rows (INT PK, VARCHAR(20), INT, SMALLINT, DATETIME, VARCHAR(64), "
        "DECIMAL(12,2)): medians of %d runs\n",
        kRows, kRuns);
    for (int run = 0; run < kRuns; ++run) {
      dumpOurs.push_back(InChild([&] {
        TMyConnection src;
        Prepare(src, gSource);
        TMyDump dump;
        dump.SetConnection(&src);
        dump.BackupToFile(ours);
      }));
      dumpStream.push_back(InChild([&] {
        TMyConnection src;
        Prepare(src, gSource);
        TMyDump dump;
        dump.SetConnection(&src);
        TFileStream stream(ours + ".stream", fmCreate);
        dump.BackupToStream(stream);
      }));
      dumpTheirs.push_back(InChild([&] { Exec(ClientArgs("mariadb-dump", gSource), {}, theirs); }));
      // Each file restored by each side, the sides' order turning from run to run.
      for (const std::string* file : {&ours, &theirs}) {
        const bool ourFile = file == &ours;
        auto byUs = [&] {
          ResetTarget(c);
          (ourFile ? restoreOurs : restoreTheirsFileOurs).push_back(InChild([&] {
            TMyConnection target;
            Prepare(target, gTarget);
            TMyDump dump;
            dump.SetConnection(&target);
            dump.RestoreFromFile(*file);
          }));
          if (Checksum(c, gTarget) != expected) Fail("our restore changed the table");
        };
        auto byClient = [&] {
          ResetTarget(c);
          (ourFile ? restoreTheirs : restoreTheirsFileTheirs).push_back(InChild([&] {
            Exec(ClientArgs("mariadb", gTarget), *file, {});
          }));
          if (Checksum(c, gTarget) != expected) Fail("the client's restore changed the table");
        };
        if (run % 2 == 0) {
          byUs();
          byClient();
        } else {
          byClient();
          byUs();
        }
      }
    }
    c.ExecSQL("DROP DATABASE " + gSource);
    c.ExecSQL("DROP DATABASE " + gTarget);
  } catch (const std::exception& e) {
    Fail(e.what());
  }
  std::printf("dump files: ours %.1f MiB, mariadb-dump %.1f MiB\n",
              double(std::filesystem::file_size(ours)) / 1048576.0,
              double(std::filesystem::file_size(theirs)) / 1048576.0);
  std::filesystem::remove_all(gFolder);
  Report("dump to a file", "mariadb-dump", dumpOurs, dumpTheirs, {1.0, 0, 1.2});
  Report("dump to a stream (no fsync)", "mariadb-dump", dumpStream, dumpTheirs, {});
  Report("restore of our dump", "the mariadb client", restoreOurs, restoreTheirs, {1.0, 1.5, 0});
  Report("restore of a mariadb-dump file", "the mariadb client", restoreTheirsFileOurs,
         restoreTheirsFileTheirs, {1.0, 0, 1.0});
  return 0;
}
