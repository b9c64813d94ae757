// What every benchmark measures with: the process's CPU time, a wall-and-CPU stopwatch, medians
// (the machine is shared, so single runs say little), the turns two sides take, and the goal line
// every benchmark prints.
#pragma once

#include <chrono>
#include <string>
#include <utility>
#include <vector>

// Seconds of CPU the process has used so far.
double CpuSeconds();

// Seconds of wall time since `since`.
double SecondsSince(std::chrono::steady_clock::time_point since);

struct TBenchTiming {
  double Wall = 0, Cpu = 0;
};

// Runs f once and returns its wall and CPU time.
template <typename F>
TBenchTiming Measure(F&& f) {
  const auto w0 = std::chrono::steady_clock::now();
  const double c0 = CpuSeconds();
  std::forward<F>(f)();
  return {SecondsSince(w0), CpuSeconds() - c0};
}

// The middle value (the mean of the two middle ones for an even count); 0 for none.
double Median(std::vector<double> values);

// Runs one pair of the two sides, the side that goes first turning from run to run, so that
// neither always meets what the other left behind (a warm cache, a busy server).
template <typename A, typename B>
void InTurn(int run, A&& a, B&& b) {
  if (run % 2 == 0) {
    a();
    b();
  } else {
    b();
    a();
  }
}

// The spread of per-pair ratios: their median (what a goal judges), quartiles and extremes.
struct TPairRatio {
  double Median = 0, Low = 0, High = 0, Min = 0, Max = 0;
};

// ours[i] / theirs[i] for each pair i (both taken under the same load), then their spread.
TPairRatio PairRatio(const std::vector<double>& ours, const std::vector<double>& theirs);

// One goal line, as bench/run gathers them:
//   "  <label>  1.23x  goal <= 1.30x  met  (pairs: quartiles 1.10-1.31, all 1.02-1.40)".
void PrintGoal(const std::string& label, const TPairRatio& ratio, double goal);
// The same for a figure that is not a ratio of pairs (a share in per cent, a worst run).
void PrintGoal(const std::string& label, double value, const char* unit, double goal);
