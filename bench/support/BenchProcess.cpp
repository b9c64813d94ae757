#include "support/BenchProcess.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/BenchTiming.h"

namespace {

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "bench: %s\n", what.c_str());
  std::_Exit(1);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace

TProcessRun RunProcess(const std::vector<std::string>& argv, const std::string& in, const std::string& out) {
  static int counter = 0;
  const std::string base = (std::filesystem::temp_directory_path() /
                            ("bench_" + std::to_string(getpid()) + "_" + std::to_string(++counter)))
                               .string();
  const std::string figures = base + ".time", captured = base + ".out";
  // %e wall (only to 10 ms: the wall is taken here), %U user, %S system seconds, %M peak KiB.
  std::vector<std::string> args = {"/usr/bin/time", "-f", "%U %S %M", "-o", figures, "--"};
  args.insert(args.end(), argv.begin(), argv.end());
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid < 0) Fail("fork");
  if (pid == 0) {
    const int fdIn = in.empty() ? -1 : open(in.c_str(), O_RDONLY);
    const int fdOut = open((out.empty() ? captured : out).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if ((!in.empty() && (fdIn < 0 || dup2(fdIn, 0) < 0)) || fdOut < 0 || dup2(fdOut, 1) < 0) std::_Exit(126);
    std::vector<char*> cargs;
    for (const std::string& a : args) cargs.push_back(const_cast<char*>(a.c_str()));
    cargs.push_back(nullptr);
    execv(cargs[0], cargs.data());
    std::_Exit(127);
  }
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) Fail("waitpid");
  TProcessRun r;
  r.Wall = SecondsSince(start);
  const std::string report = ReadFile(figures);
  std::remove(figures.c_str());
  if (out.empty()) {
    r.Out = ReadFile(captured);
    std::remove(captured.c_str());
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) Fail(argv[0] + " ended with an error: " + report);
  // The figures are the report's last line (a failing program's status line comes before it).
  const size_t line = report.find_last_of('\n', report.size() >= 2 ? report.size() - 2 : 0);
  std::istringstream s(line == std::string::npos ? report : report.substr(line + 1));
  double user = 0, system = 0, peakKb = 0;
  if (!(s >> user >> system >> peakKb)) Fail("no figures from /usr/bin/time for " + argv[0] + ": " + report);
  r.Cpu = user + system;
  r.PeakMiB = peakKb / 1024;
  return r;
}

std::string SelfPath() {
  return std::filesystem::read_symlink("/proc/self/exe").string();
}
