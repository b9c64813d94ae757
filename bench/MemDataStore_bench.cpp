// Appending 1,000,000 rows of (INT, VARCHAR(20), INT, SMALLINT, DATETIME, VARCHAR(64)) to the
// record store and reading them back through its field accessors, against a std::vector of
// structs with std::string members (reserved in advance, its best case) holding the same values.
//
// Both VARCHAR columns are inline text (Size 21 and 65), as the MySQL record set lays them out by
// default (flat buffers): the record is 110 bytes (4 + 21 + 4 + 2 + 8 + 65 and six null flags),
// after each item's 32-byte header. Names are 8-12 bytes, some of them GBK; notes 40-50 bytes.
//
// Both sides run under the same allocator settings: the store's large blocks take small pages, so
// the program turns huge pages off for itself, and the vector's memory takes none either, whatever
// the system's default. Each side reports the huge-page memory it held at its peak, so the setting
// can be seen to reach both, and the system CPU its append took (mostly clearing the fresh pages it
// touched), so the sides' first-touch costs can be compared.
//
// Each side runs in its own child process, so its peak memory is its own: the growth of the
// child's anonymous resident memory from the start to the end of the scan, when every row is held
// (the program's code pages the store's first calls bring in, about 2.5 MiB, are not row data). After
// the scan each side lets its rows go (the store's Close, the vector's destructor): that is timed too,
// against the append's CPU time.
//
// The machine is shared, and a side whose fresh pages the system must first compact or clear takes
// several times as long, at random, either side. So the sides run kPairs times as pairs, back to back,
// the one that goes first alternating from pair to pair (each side as often first as second, and so
// after the other as often as not), and each pair gives a ratio of the wall times of append + scan:
// the verdict is the median of those ratios, printed with their quartiles and extremes. Beside it,
// for the reader, the same ratio of the CPU time (user + system) each side's append + scan took, which
// a busy machine's waits for a processor leave out but pages cleared or compacted keep.
//
// Goals: append + scan within 1.5x the reserved vector's time, peak memory no more than the
// vector's, and a close that costs under a tenth of the append's CPU time.
//
// Arguments: "store" or "vector" runs that side alone (for profiling).
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "core/MemDataStore.h"
#include "platform/runtime/DateTimeUtils.h"
#include "support/BenchTiming.h"

namespace {

constexpr int kRows = 1000000;
constexpr int kPool = 4096;  // distinct names and notes, picked per row
// A run whose pages the system must first compact or clear (at random, for either side) takes
// several times as long: a median needs enough pairs that those stay in its tails.
constexpr int kPairs = 41;

// ---- Values ---------------------------------------------------------------------------------

struct Values {
  std::vector<std::string> Names, Notes;

  Values() {
    std::mt19937 rng(2024);
    auto pick = [&rng](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    for (int i = 0; i < kPool; ++i) {
      std::string name;
      const int len = pick(8, 12);
      while (static_cast<int>(name.size()) < len) {
        if (i % 3 == 0 && len - name.size() >= 2) {  // a GBK character
          name += static_cast<char>(pick(0xB0, 0xD7));
          name += static_cast<char>(pick(0xA1, 0xFE));
        } else {
          name += static_cast<char>(pick('a', 'z'));
        }
      }
      Names.push_back(name);
      std::string note;
      const int noteLen = pick(40, 50);
      while (static_cast<int>(note.size()) < noteLen) note += static_cast<char>(pick(' ', '~'));
      Notes.push_back(note);
    }
  }

  // Row i's values.
  static uint32_t Mix(uint32_t i) { return (i * 2654435761u) >> 7; }
  const std::string& Name(int i) const { return Names[Mix(i) % kPool]; }
  const std::string& Note(int i) const { return Notes[Mix(i + 7) % kPool]; }
  static int32_t Level(int i) { return static_cast<int32_t>(Mix(i + 3) % 150); }
  static int16_t Small(int i) { return static_cast<int16_t>(i % 30000); }
  static double When(int i) { return 45000.0 + i / 86400.0; }  // one row a second from 2023-03-15
};

// Folds what a scan read, so neither side's reads can be left out: every byte of every text.
struct Checksum {
  uint64_t Sum = 0;
  void Add(uint64_t v) { Sum = Sum * 31 + v; }
  void AddText(const char* text, size_t len) {
    Add(len);
    for (size_t i = 0; i < len; ++i) Add(static_cast<unsigned char>(text[i]));
  }
};

// ---- The two sides --------------------------------------------------------------------------

class BenchStore : public TMemData {
 public:
  ~BenchStore() override { Close(); }
  enum { ID = 1, NAME, LEVEL, SMALL, WHEN, NOTE };

 protected:
  void InternalOpen() override { InitFields(); }
  void InternalInitFields() override {
    Add("ID", dtInt32, 4, 0);
    Add("NAME", dtString, 21, 20);
    Add("LEVEL", dtInt32, 4, 0);
    Add("SMALL", dtInt16, 2, 0);
    Add("WHEN", dtDateTime, 8, 19);
    Add("NOTE", dtString, 65, 64);
  }

 private:
  void Add(const char* name, TDataType type, uint16_t size, uint16_t length) {
    AddFieldDesc(name, type, size, length);
  }
};

struct Result {
  double Append = 0, Scan = 0, Close = 0;
  double AppendCpu = 0, ScanCpu = 0, CloseCpu = 0;
  double AppendKernel = 0;  // the system's share of the append: mostly pages cleared on first touch
  long PeakKiB = 0, HugeKiB = 0;
  uint64_t Checksum = 0;
};

long HugePageKiB();

// Seconds of CPU the process has spent in the system.
double KernelSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_stime.tv_sec) + static_cast<double>(usage.ru_stime.tv_usec) / 1e6;
}

long StatusKiB(const char* key);

// The store's side. Its records outlive the timing: the peak is taken before they go.
void RunStore(const Values& values, Result& r) {
  BenchStore store;
  store.Open();
  void* buf = store.AllocRecBuf();
  store.InitRecord(buf);
  auto t0 = std::chrono::steady_clock::now();
  double c0 = CpuSeconds();
  const double k0 = KernelSeconds();
  for (int i = 0; i < kRows; ++i) {
    const int32_t id = i, level = Values::Level(i);
    const int16_t small = Values::Small(i);
    const double msecs = (Values::When(i) + DateDelta) * MSecsPerDay;
    const std::string& name = values.Name(i);
    const std::string& note = values.Note(i);
    store.PutField(BenchStore::ID, buf, &id, sizeof id);
    store.PutField(BenchStore::NAME, buf, name.c_str(), name.size() + 1);
    store.PutField(BenchStore::LEVEL, buf, &level, sizeof level);
    store.PutField(BenchStore::SMALL, buf, &small, sizeof small);
    store.PutField(BenchStore::WHEN, buf, &msecs, sizeof msecs);
    store.PutField(BenchStore::NOTE, buf, note.c_str(), note.size() + 1);
    store.AppendRecord(buf);
  }
  r.Append = SecondsSince(t0);
  r.AppendCpu = CpuSeconds() - c0;
  r.AppendKernel = KernelSeconds() - k0;

  Checksum sum;
  char name[21], note[65];
  int32_t id = 0, level = 0;
  int16_t small = 0;
  double msecs = 0;
  bool isNull = false;
  t0 = std::chrono::steady_clock::now();
  c0 = CpuSeconds();
  store.SetToBegin();
  for (store.GetNextRecord(buf); !store.GetEof(); store.GetNextRecord(buf)) {
    store.GetField(BenchStore::ID, buf, &id, sizeof id, isNull);
    store.GetField(BenchStore::NAME, buf, name, sizeof name, isNull);
    store.GetField(BenchStore::LEVEL, buf, &level, sizeof level, isNull);
    store.GetField(BenchStore::SMALL, buf, &small, sizeof small, isNull);
    store.GetField(BenchStore::WHEN, buf, &msecs, sizeof msecs, isNull);
    store.GetField(BenchStore::NOTE, buf, note, sizeof note, isNull);
    sum.Add(static_cast<uint32_t>(id) + static_cast<uint32_t>(level) + static_cast<uint16_t>(small));
    sum.Add(static_cast<uint64_t>(std::llround(msecs)));
    sum.AddText(name, std::strlen(name));
    sum.AddText(note, std::strlen(note));
  }
  r.Scan = SecondsSince(t0);
  r.ScanCpu = CpuSeconds() - c0;
  r.Checksum = sum.Sum;
  if (store.GetRecordCount() != kRows) std::abort();
  TData::FreeRecBuf(buf);
  r.PeakKiB = StatusKiB("RssAnon:");
  r.HugeKiB = HugePageKiB();
  t0 = std::chrono::steady_clock::now();
  c0 = CpuSeconds();
  store.Close();
  r.Close = SecondsSince(t0);
  r.CloseCpu = CpuSeconds() - c0;
}

struct Row {
  int32_t Id;
  std::string Name;
  int32_t Level;
  int16_t Small;
  double When;
  std::string Note;
};

void RunVector(const Values& values, Result& r) {
  auto rows = std::make_unique<std::vector<Row>>();
  rows->reserve(kRows);
  auto t0 = std::chrono::steady_clock::now();
  double c0 = CpuSeconds();
  const double k0 = KernelSeconds();
  for (int i = 0; i < kRows; ++i)
    rows->push_back(
        Row{i, values.Name(i), Values::Level(i), Values::Small(i), Values::When(i), values.Note(i)});
  r.Append = SecondsSince(t0);
  r.AppendCpu = CpuSeconds() - c0;
  r.AppendKernel = KernelSeconds() - k0;

  Checksum sum;
  char name[21], note[65];
  t0 = std::chrono::steady_clock::now();
  c0 = CpuSeconds();
  for (const Row& row : *rows) {
    std::memcpy(name, row.Name.c_str(), row.Name.size() + 1);
    std::memcpy(note, row.Note.c_str(), row.Note.size() + 1);
    const double msecs = (row.When + DateDelta) * MSecsPerDay;
    sum.Add(static_cast<uint32_t>(row.Id) + static_cast<uint32_t>(row.Level) +
            static_cast<uint16_t>(row.Small));
    sum.Add(static_cast<uint64_t>(std::llround(msecs)));
    sum.AddText(name, std::strlen(name));
    sum.AddText(note, std::strlen(note));
  }
  r.Scan = SecondsSince(t0);
  r.ScanCpu = CpuSeconds() - c0;
  r.Checksum = sum.Sum;
  r.PeakKiB = StatusKiB("RssAnon:");
  r.HugeKiB = HugePageKiB();
  t0 = std::chrono::steady_clock::now();
  c0 = CpuSeconds();
  rows.reset();
  r.Close = SecondsSince(t0);
  r.CloseCpu = CpuSeconds() - c0;
}

// ---- Running a side in a child process ------------------------------------------------------

long StatusKiB(const char* key) {
  std::ifstream status("/proc/self/status");
  std::string line;
  const size_t n = std::strlen(key);
  while (std::getline(status, line))
    if (line.compare(0, n, key) == 0) return std::strtol(line.c_str() + n, nullptr, 10);
  return -1;
}

// The anonymous memory the process holds in huge pages.
long HugePageKiB() {
  std::ifstream rollup("/proc/self/smaps_rollup");
  std::string line;
  const char key[] = "AnonHugePages:";
  while (std::getline(rollup, line))
    if (line.compare(0, sizeof key - 1, key) == 0)
      return std::strtol(line.c_str() + sizeof key - 1, nullptr, 10);
  return -1;
}

template <class Side>
Result RunInChild(const Values& values, Side side) {
  int fds[2];
  if (pipe(fds) != 0) std::abort();
  const pid_t pid = fork();
  if (pid < 0) std::abort();
  if (pid == 0) {
    close(fds[0]);
    Result r;
    const long start = StatusKiB("RssAnon:");
    side(values, r);
    r.PeakKiB -= start;
    const bool ok = write(fds[1], &r, sizeof r) == static_cast<ssize_t>(sizeof r);
    _exit(ok ? 0 : 1);
  }
  close(fds[1]);
  Result r;
  const bool ok = read(fds[0], &r, sizeof r) == static_cast<ssize_t>(sizeof r);
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (!ok || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "benchmark child failed\n");
    std::exit(1);
  }
  return r;
}

// Medians of each figure over the runs of one side.
struct Medians {
  double Append, Scan, Total, Close, AppendCpu, AppendKernel, CloseCpu, PeakKiB, HugeKiB;
  explicit Medians(const std::vector<Result>& runs) {
    auto of = [&runs](auto field) {
      std::vector<double> v;
      for (const Result& r : runs) v.push_back(field(r));
      return Median(v);
    };
    Append = of([](const Result& r) { return r.Append; });
    Scan = of([](const Result& r) { return r.Scan; });
    Total = of([](const Result& r) { return r.Append + r.Scan; });
    Close = of([](const Result& r) { return r.Close; });
    AppendCpu = of([](const Result& r) { return r.AppendCpu; });
    AppendKernel = of([](const Result& r) { return r.AppendKernel; });
    CloseCpu = of([](const Result& r) { return r.CloseCpu; });
    PeakKiB = of([](const Result& r) { return static_cast<double>(r.PeakKiB); });
    HugeKiB = of([](const Result& r) { return static_cast<double>(r.HugeKiB); });
  }
};

// The median of the per-pair ratios (each pair of runs met the same load) and their spread: the
// quartiles and the extremes.
struct Ratio {
  double Median, Low, High, Min, Max;
};
Ratio MedianRatio(const std::vector<Result>& a, const std::vector<Result>& b,
                  double (*figure)(const Result&)) {
  std::vector<double> v;
  for (size_t i = 0; i < a.size(); ++i) v.push_back(figure(a[i]) / figure(b[i]));
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  const std::vector<double> low(v.begin(), v.begin() + static_cast<ptrdiff_t>(n / 2));
  const std::vector<double> high(v.begin() + static_cast<ptrdiff_t>((n + 1) / 2), v.end());
  return {Median(v), Median(low), Median(high), v.front(), v.back()};
}

void Goal(const char* what, double value, const char* unit, double goal) {
  std::printf("  %-40s %7.3f%s  goal <= %.2f%s  %s\n", what, value, unit, goal, unit,
              value <= goal ? "met" : "NOT met");
}

void Goal(const char* what, Ratio ratio, double goal) {
  std::printf("  %-40s %7.3fx  goal <= %.2fx  %s  (pairs: quartiles %.3f-%.3f, all %.3f-%.3f)\n", what,
              ratio.Median, goal, ratio.Median <= goal ? "met" : "NOT met", ratio.Low, ratio.High, ratio.Min,
              ratio.Max);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string only = argc > 1 ? argv[1] : "";
  // Before the rows are made: the children inherit it.
  if (prctl(PR_SET_THP_DISABLE, 1, 0, 0, 0) != 0) {
    std::fprintf(stderr, "cannot turn huge pages off\n");
    return 1;
  }
  const Values values;
  if (only == "store" || only == "vector") {
    Result r;
    only == "store" ? RunStore(values, r) : RunVector(values, r);
    std::printf("%s: append %.3f s, scan %.3f s\n", only.c_str(), r.Append, r.Scan);
    return 0;
  }
  // The two sides run back to back, so a change in the machine's load meets both; which goes first
  // alternates, so neither always finds the memory the other just gave back.
  std::vector<Result> store, vec;
  for (int pair = 0; pair < kPairs; ++pair) {
    if (pair % 2 == 0) {
      store.push_back(RunInChild(values, RunStore));
      vec.push_back(RunInChild(values, RunVector));
    } else {
      vec.push_back(RunInChild(values, RunVector));
      store.push_back(RunInChild(values, RunStore));
    }
    if (store.back().Checksum != vec.back().Checksum) {
      std::fprintf(stderr, "the two sides read different values\n");
      return 1;
    }
  }
  const Medians s(store), v(vec);
  std::printf(
      "%d rows (INT, VARCHAR(20), INT, SMALLINT, DATETIME, VARCHAR(64)): append, scan every field, close;"
      " medians of %d pairs of runs, each side first in every other pair; huge pages off for both sides\n",
      kRows, kPairs);
  const char* row =
      "  %-12s  append %.3f s (system %.3f s)  scan %.3f s  total %.3f s  close %.3f s (cpu %.3f s)"
      "  peak %.0f KiB (%.0f KiB in huge pages)\n";
  std::printf(row, "record store", s.Append, s.AppendKernel, s.Scan, s.Total, s.Close, s.CloseCpu, s.PeakKiB,
              s.HugeKiB);
  std::printf(row, "std::vector", v.Append, v.AppendKernel, v.Scan, v.Total, v.Close, v.CloseCpu, v.PeakKiB,
              v.HugeKiB);
  std::printf("  record store: %.1f bytes a row at peak\n", s.PeakKiB * 1024 / kRows);
  Goal("1M append + scan, store / reserved vector",
       MedianRatio(store, vec, [](const Result& r) { return r.Append + r.Scan; }), 1.5);
  const Ratio cpu = MedianRatio(store, vec, [](const Result& r) { return r.AppendCpu + r.ScanCpu; });
  std::printf("  %-40s %7.3fx  (pairs: quartiles %.3f-%.3f, all %.3f-%.3f)\n",
              "  the same in CPU time (user + system)", cpu.Median, cpu.Low, cpu.High, cpu.Min, cpu.Max);
  Goal("peak memory, store / vector",
       MedianRatio(store, vec, [](const Result& r) { return double(r.PeakKiB); }), 1.0);
  std::vector<double> closeShare;
  for (const Result& r : store) closeShare.push_back(100 * r.CloseCpu / r.AppendCpu);
  Goal("store close CPU / its append CPU", Median(closeShare), "%", 10);
  return 0;
}
