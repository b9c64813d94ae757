#include "console/common/ProgressPercent.h"

#include <cstdint>

int ProgressPercent(int i, int n, TPercentTies ties) {
  if (n <= 0) return 100;
  const int64_t done = 100LL * (static_cast<int64_t>(i) + 1);
  int64_t q = done / n;
  const int64_t twice = 2 * (done % n);
  const bool half = twice == n;
  if (twice > n || (half && (ties == TPercentTies::AwayFromZero || q % 2 != 0))) ++q;
  return static_cast<int>(q);
}
