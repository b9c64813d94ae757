// Sorting GBK names by the locale order (what the record store does for string sort keys)
// against a plain byte-order std::sort of the same strings.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "core/MemUtils.h"
#include "support/BenchTiming.h"

namespace {

std::vector<std::string> Names(size_t count) {
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> lead(0xB0, 0xD7), trail(0xA1, 0xFE), len(2, 4), ascii(0, 3);
  std::vector<std::string> out;
  for (size_t i = 0; i < count; ++i) {
    std::string s;
    if (ascii(rng) == 0) s = "GM";
    for (int k = len(rng); k > 0; --k) {
      s += static_cast<char>(lead(rng));
      s += static_cast<char>(trail(rng));
    }
    out.push_back(std::move(s));
  }
  return out;
}

}  // namespace

int main() {
  const size_t n = 100000;
  std::vector<std::string> names = Names(n), ref = names;
  TBenchTiming ours = Measure([&] {
    std::sort(names.begin(), names.end(),
              [](const std::string& a, const std::string& b) { return AnsiCompareStrS(a, b) < 0; });
  });
  TBenchTiming base = Measure([&] { std::sort(ref.begin(), ref.end()); });
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  std::printf("sort %zu GBK names   locale order: wall %.3f s, cpu %.3f s\n", n, ours.Wall, ours.Cpu);
  std::printf("                       byte order (std::sort): wall %.3f s, cpu %.3f s\n", base.Wall,
              base.Cpu);
  std::printf("ratio (wall) %.1fx, peak memory %ld KiB\n", ours.Wall / base.Wall, ru.ru_maxrss);
  return 0;
}
