// What every benchmark measures with: the process's CPU time, a wall-and-CPU stopwatch, and
// medians (the machine is shared, so single runs say little).
#pragma once

#include <chrono>
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
