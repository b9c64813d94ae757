// Runs a program as a whole process of its own and takes its figures as /usr/bin/time reports
// them, so that every side of a benchmark is measured the same way: its own program image, its
// own libraries, and a peak that holds nothing of the benchmark that started it. (A process forked
// from the benchmark and exec'd from there carries the fork's resident pages into its peak; the
// small time program in between carries only its own.)
#pragma once

#include <string>
#include <vector>

struct TProcessRun {
  double Wall = 0;     // seconds, start to end
  double Cpu = 0;      // user + system seconds
  double PeakMiB = 0;  // the highest resident set
  std::string Out;     // what the program wrote to standard output, when not sent to a file
};

// Runs argv[0] (looked up on PATH) with its arguments. Standard input comes from `in` and standard
// output goes to `out` when they are named; otherwise standard output is captured into Out.
// Exits the benchmark with a message naming the program when it cannot start or ends with an
// error.
TProcessRun RunProcess(const std::vector<std::string>& argv, const std::string& in = {},
                       const std::string& out = {});

// The path of the running benchmark's own program, for a side that runs in a process of its own.
std::string SelfPath();
