// Dumping and restoring 1,000,000 rows of (INT PK, VARCHAR(20), INT, SMALLINT, DATETIME,
// VARCHAR(64), DECIMAL(12,2)):
//   dump:    our TMyDump::BackupToFile (which makes the file durable before it renames it into
//            place) and our BackupToStream into a plain file stream, against mariadb-dump writing
//            the same table to a file,
//   restore: our TMyDump::RestoreFromFile against the mariadb client, each reading our dump file,
//            and each reading mariadb-dump's file.
// Every side is a whole program of its own (ours is bench_mydump, built beside this benchmark),
// started the same way and measured as /usr/bin/time reports it: wall, CPU, and the peak of the
// whole process. Beside each peak stands its growth over the same program's empty start (ours
// started and ended at once, the references asked for their version), both printed. The two sides
// of a pair take turns at going first, kRuns times, and the medians of the per-pair ratios count.
// Every restore must give the source table's checksum. Starts the test server when none runs.
//
// Arguments: "--profile" dumps once and times our restore of it in this process (for profiling);
// "--profile mariadb-dump" restores mariadb-dump's file instead.
//
// Goals: our dump no slower than mariadb-dump with a peak within 1.2x of its; our restores no
// slower than the mariadb client's, of our file with at most 1.5x its CPU time, of mariadb-dump's
// file with a peak no higher than its.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "components/MyAccessConnection.h"
#include "components/MyDump.h"
#include "components/MyRowReader.h"
#include "support/BenchProcess.h"
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

// Our side: bench_mydump, built beside this benchmark.
std::vector<std::string> OurArgs(const std::string& mode, const std::string& database,
                                 const std::string& file) {
  const auto& srv = TestServer::Info();
  const std::string tool = (std::filesystem::path(SelfPath()).parent_path() / "bench_mydump").string();
  if (mode == "empty") return {tool, "empty"};
  return {tool, mode, srv.Host, std::to_string(srv.Port), srv.NativeUser, srv.NativePassword, database, file};
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

// The peak of each program's empty start, taken as its median over a few starts.
double EmptyPeak(const std::vector<std::string>& args) {
  std::vector<double> peaks;
  for (int i = 0; i < 3; ++i) peaks.push_back(RunProcess(args).PeakMiB);
  return Median(peaks);
}

struct TSide {
  const char* Name;
  double EmptyPeakMiB;
  std::vector<TProcessRun> Runs;
  std::vector<double> Figure(double TProcessRun::*f) const {
    std::vector<double> v;
    for (const TProcessRun& r : Runs) v.push_back(r.*f);
    return v;
  }
  std::vector<double> Growth() const {
    std::vector<double> v;
    for (const TProcessRun& r : Runs) v.push_back(r.PeakMiB - EmptyPeakMiB);
    return v;
  }
};

// Medians of each side's figures, then each goal on the median of the per-pair ratios (the two
// runs of a pair met the same load). A goal of 0 prints the ratio without one.
struct TGoals {
  double Wall = 0, Cpu = 0, Peak = 0;
};

void Report(const char* what, const TSide& ours, const TSide& theirs, const TGoals& goals) {
  std::printf(
      "%s: ours %.2f s (CPU %.2f s), peak %.1f MiB (%.1f over its empty start); %s %.2f s (CPU %.2f s), "
      "peak %.1f MiB (%.1f over its empty start)\n",
      what, Median(ours.Figure(&TProcessRun::Wall)), Median(ours.Figure(&TProcessRun::Cpu)),
      Median(ours.Figure(&TProcessRun::PeakMiB)), Median(ours.Growth()), theirs.Name,
      Median(theirs.Figure(&TProcessRun::Wall)), Median(theirs.Figure(&TProcessRun::Cpu)),
      Median(theirs.Figure(&TProcessRun::PeakMiB)), Median(theirs.Growth()));
  const std::string prefix = std::string(what) + ", ";
  const std::string against = std::string(" ours / ") + theirs.Name;
  auto line = [&](const std::string& figure, const TPairRatio& ratio, double goal) {
    if (goal > 0)
      PrintGoal(prefix + figure + against, ratio, goal);
    else
      std::printf("  %-62s %6.2fx\n", (prefix + figure + against).c_str(), ratio.Median);
  };
  line("wall", PairRatio(ours.Figure(&TProcessRun::Wall), theirs.Figure(&TProcessRun::Wall)), goals.Wall);
  line("CPU", PairRatio(ours.Figure(&TProcessRun::Cpu), theirs.Figure(&TProcessRun::Cpu)), goals.Cpu);
  line("peak", PairRatio(ours.Figure(&TProcessRun::PeakMiB), theirs.Figure(&TProcessRun::PeakMiB)),
       goals.Peak);
  line("peak growth", PairRatio(ours.Growth(), theirs.Growth()), 0);
}

// Our restore, in this process, for a profiler.
int Profile(TMyConnection& c, const std::string& expected, bool mariadbDump, const std::string& ours,
            const std::string& theirs) {
  if (mariadbDump) {
    RunProcess(ClientArgs("mariadb-dump", gSource), {}, theirs);
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
  std::printf("our restore: %.2f s wall, %.2f s CPU\n", t.Wall, t.Cpu);
  if (Checksum(c, gTarget) != expected) Fail("our restore changed the table");
  return 0;
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
  TSide dumpOurs{"ours", 0, {}}, dumpStream{"ours (stream)", 0, {}}, dumpTheirs{"mariadb-dump", 0, {}},
      restoreOurs{"ours", 0, {}}, restoreTheirs{"the mariadb client", 0, {}},
      restoreTheirsFileOurs{"ours", 0, {}}, restoreTheirsFileTheirs{"the mariadb client", 0, {}};
  try {
    TMyConnection c;
    Prepare(c, {});
    Setup(c);
    const std::string expected = Checksum(c, gSource);
    if (profile) {
      const int rc = Profile(c, expected, argc > 2 && std::string(argv[2]) == "mariadb-dump", ours, theirs);
      c.ExecSQL("DROP DATABASE " + gSource);
      c.ExecSQL("DROP DATABASE " + gTarget);
      std::filesystem::remove_all(gFolder);
      return rc;
    }
    std::printf(
        "Dump and restore of %d rows (INT PK, VARCHAR(20), INT, SMALLINT, DATETIME, VARCHAR(64), "
        "DECIMAL(12,2)): medians of %d runs, each side a whole process\n",
        kRows, kRuns);
    const double ourEmpty = EmptyPeak(OurArgs("empty", {}, {}));
    dumpOurs.EmptyPeakMiB = dumpStream.EmptyPeakMiB = restoreOurs.EmptyPeakMiB =
        restoreTheirsFileOurs.EmptyPeakMiB = ourEmpty;
    dumpTheirs.EmptyPeakMiB = EmptyPeak({"mariadb-dump", "--version"});
    restoreTheirs.EmptyPeakMiB = restoreTheirsFileTheirs.EmptyPeakMiB = EmptyPeak({"mariadb", "--version"});
    for (int run = 0; run < kRuns; ++run) {
      InTurn(
          run,
          [&] {
            dumpOurs.Runs.push_back(RunProcess(OurArgs("dump", gSource, ours)));
            dumpStream.Runs.push_back(RunProcess(OurArgs("stream", gSource, ours + ".stream")));
          },
          [&] { dumpTheirs.Runs.push_back(RunProcess(ClientArgs("mariadb-dump", gSource), {}, theirs)); });
      // Each file restored by each side.
      for (const std::string* file : {&ours, &theirs}) {
        const bool ourFile = file == &ours;
        auto byUs = [&] {
          ResetTarget(c);
          (ourFile ? restoreOurs : restoreTheirsFileOurs)
              .Runs.push_back(RunProcess(OurArgs("restore", gTarget, *file)));
          if (Checksum(c, gTarget) != expected) Fail("our restore changed the table");
        };
        auto byClient = [&] {
          ResetTarget(c);
          (ourFile ? restoreTheirs : restoreTheirsFileTheirs)
              .Runs.push_back(RunProcess(ClientArgs("mariadb", gTarget), *file, "/dev/null"));
          if (Checksum(c, gTarget) != expected) Fail("the client's restore changed the table");
        };
        InTurn(run, byUs, byClient);
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
  Report("dump to a file", dumpOurs, dumpTheirs, {1.0, 0, 1.2});
  Report("dump to a stream (no fsync)", dumpStream, dumpTheirs, {});
  Report("restore of our dump", restoreOurs, restoreTheirs, {1.0, 1.5, 0});
  Report("restore of a mariadb-dump file", restoreTheirsFileOurs, restoreTheirsFileTheirs, {1.0, 0, 1.0});
  return 0;
}
