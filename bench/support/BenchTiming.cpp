#include "support/BenchTiming.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

double CpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

double SecondsSince(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

TPairRatio PairRatio(const std::vector<double>& ours, const std::vector<double>& theirs) {
  std::vector<double> v;
  for (size_t i = 0; i < ours.size() && i < theirs.size(); ++i) v.push_back(ours[i] / theirs[i]);
  if (v.empty()) return {};
  std::sort(v.begin(), v.end());
  const auto half = static_cast<std::ptrdiff_t>(v.size() / 2);
  return {Median(v), Median(std::vector<double>(v.begin(), v.begin() + std::max<std::ptrdiff_t>(half, 1))),
          Median(std::vector<double>(v.end() - std::max<std::ptrdiff_t>(half, 1), v.end())), v.front(),
          v.back()};
}

void PrintGoal(const std::string& label, const TPairRatio& ratio, double goal) {
  std::printf("  %-62s %6.2fx  goal <= %.2fx  %-7s  (pairs: quartiles %.2f-%.2f, all %.2f-%.2f)\n",
              label.c_str(), ratio.Median, goal, ratio.Median <= goal ? "met" : "NOT met", ratio.Low,
              ratio.High, ratio.Min, ratio.Max);
}

void PrintGoal(const std::string& label, double value, const char* unit, double goal) {
  std::printf("  %-62s %6.2f%s  goal <= %.2f%s  %s\n", label.c_str(), value, unit, goal, unit,
              value <= goal ? "met" : "NOT met");
}
