// The pulse indexing alone: BuildPulseTrain over 10^7 intervals of a 1 MHz train with jitter, a
// pulse left out every 1000 and an extra one every 5000, the train built from its intervals as
// the timing commands build it. The source builds against any version of the indexing that
// takes the intervals and gives the counts, so the figure can be taken before and after a change.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "analysis/pulse_train.h"

namespace {

// Pulse k at 40 k ticks plus a bell of 2.2 ticks RMS (the sum of four draws of 0 .. 3), pulse k
// left out where k is a multiple of 1000 and an extra pulse 10 ticks after it where k % 5000
// is 1: 1 in 1000 missing and 1 in 5000 extra, whichever rule indexes them.
std::vector<int64_t> Intervals(int64_t count) {
  std::vector<int64_t> d;
  d.reserve(static_cast<size_t>(count) + 1);
  uint64_t state = 7;
  int64_t before = 0;
  for (int64_t k = 1; static_cast<int64_t>(d.size()) < count; ++k) {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    int64_t jitter = 0;
    for (int b = 0; b < 4; ++b) jitter += static_cast<int64_t>((state >> (16 + 8 * b)) % 4);
    const int64_t stamp = 40 * k + jitter - 6;
    if (k % 1000 == 0) continue;
    d.push_back(stamp - before);
    before = stamp;
    if (k % 5000 == 1) {
      d.push_back(10);
      before += 10;
    }
  }
  d.resize(static_cast<size_t>(count));
  return d;
}

void BM_PulseIndexing(benchmark::State& state) {
  const std::vector<int64_t> input = Intervals(state.range(0));
  int64_t missing = 0, extra = 0;
  for (auto _ : state) {
    state.PauseTiming();
    std::vector<int64_t> intervals = input;
    state.ResumeTiming();
    const analysis::PulseTrain train = analysis::BuildPulseTrain(std::move(intervals));
    benchmark::DoNotOptimize(&train);
    missing = train.missing_pulses;
    extra = train.extra_pulses;
  }
  state.counters["missing"] = static_cast<double>(missing);
  state.counters["extra"] = static_cast<double>(extra);
}
BENCHMARK(BM_PulseIndexing)->Arg(10'000'000)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
