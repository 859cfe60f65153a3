// The timing analysis at scale: the whole octave table with its bounds over 10^6 intervals
// (time, and the heap it needs per interval), and `k390tool stability --stream` over a stream
// log of 10^7 lines, run as a process.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <new>
#include <string>
#include <vector>

#include "analysis/pulse_train.h"
#include "analysis/stability.h"

namespace {

// Heap in use and its peak, counted by the global operator new and delete below.
std::atomic<int64_t> heap_now{0};
std::atomic<int64_t> heap_peak{0};

void Track(int64_t delta) {
  const int64_t now = heap_now.fetch_add(delta) + delta;
  int64_t peak = heap_peak.load();
  while (now > peak && !heap_peak.compare_exchange_weak(peak, now)) {
  }
}

// Intervals of a 1 kHz train with 2 ticks of jitter, every 1000th pulse left out.
std::vector<int64_t> Intervals(int64_t count) {
  std::vector<int64_t> d(static_cast<size_t>(count));
  uint64_t state = 99;
  for (int64_t i = 0; i < count; ++i) {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    const int64_t jitter = static_cast<int64_t>((state >> 33) % 5) - 2;
    d[static_cast<size_t>(i)] = (i % 1000 == 999 ? 80000 : 40000) + jitter;
  }
  return d;
}

void BM_OctaveTableWithBounds(benchmark::State& state) {
  const int64_t count = state.range(0);
  double rows = 0;
  int64_t peak = 0;
  for (auto _ : state) {
    state.PauseTiming();
    std::vector<int64_t> intervals = Intervals(count);
    heap_peak.store(heap_now.load());
    const int64_t before = heap_now.load();
    state.ResumeTiming();
    // The intervals are the caller's until the train is built, then gone, as in k390tool.
    const analysis::PulseTrain train = [&] {
      const std::vector<int64_t> taken = std::move(intervals);
      return analysis::BuildPulseTrain(taken);
    }();
    const std::vector<int64_t> factors = analysis::OctaveFactors(train.LastIndex());
    const std::vector<analysis::StabilityRow> table = analysis::StabilityTable(train, factors);
    benchmark::DoNotOptimize(table.data());
    rows = static_cast<double>(table.size());
    // The input intervals count too: they are what the caller hands over.
    peak = heap_peak.load() - before + count * static_cast<int64_t>(sizeof(int64_t));
  }
  state.counters["rows"] = rows;
  state.counters["heap_bytes_per_interval"] =
      static_cast<double>(peak) / static_cast<double>(count);
}
BENCHMARK(BM_OctaveTableWithBounds)->Arg(1'000'000)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ToolStabilityOnStreamLog(benchmark::State& state) {
  const int64_t lines = state.range(0);
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("bench_stability_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::filesystem::path log = dir / "stream.dat";
  {
    std::string text = "123456\r\n";
    for (int64_t d : Intervals(lines - 1)) text += std::to_string(d) + "\r\n";
    std::ofstream(log, std::ios::binary) << text;
  }
  const std::string command = std::string("'") + K390TOOL_PATH + "' stability --stream '" +
                              log.string() + "' > '" + (dir / "out.csv").string() + "'";
  for (auto _ : state) {
    if (std::system(command.c_str()) != 0) state.SkipWithError("k390tool failed");
  }
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_ToolStabilityOnStreamLog)
    ->Arg(10'000'000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);

}  // namespace

void* operator new(size_t size) {
  void* p = std::malloc(size + sizeof(max_align_t));
  if (p == nullptr) throw std::bad_alloc();
  *static_cast<size_t*>(p) = size;
  Track(static_cast<int64_t>(size));
  return static_cast<char*>(p) + sizeof(max_align_t);
}
void operator delete(void* p) noexcept {
  if (p == nullptr) return;
  void* base = static_cast<char*>(p) - sizeof(max_align_t);
  Track(-static_cast<int64_t>(*static_cast<size_t*>(base)));
  std::free(base);
}
void operator delete(void* p, size_t) noexcept { operator delete(p); }

BENCHMARK_MAIN();
