// The cost of the whole-run statistics while a stream is logged: time per word fed, the bytes
// held after the run, one summary as the window would take it a few times a second, and one
// word that spans a long dropout.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "analysis/run_statistics.h"

namespace {

// Words of a 1 kHz train with 2 ticks of jitter, every 1000th pulse left out.
std::vector<int64_t> Words(int64_t count) {
  std::vector<int64_t> w(static_cast<size_t>(count));
  uint64_t state = 7;
  for (int64_t i = 0; i < count; ++i) {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    const int64_t jitter = static_cast<int64_t>((state >> 33) % 5) - 2;
    w[static_cast<size_t>(i)] = (i % 1000 == 999 ? 80000 : 40000) + jitter;
  }
  return w;
}

void BM_RunStatisticsPerWord(benchmark::State& state) {
  const std::vector<int64_t> words = Words(state.range(0));
  size_t held = 0;
  for (auto _ : state) {
    analysis::RunStatistics stats;
    for (int64_t w : words) stats.AddWord(w);
    held = stats.HeldBytes();
    benchmark::DoNotOptimize(held);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
  state.counters["ns_per_word"] =
      benchmark::Counter(static_cast<double>(state.iterations() * state.range(0)),
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.counters["held_MB"] = static_cast<double>(held) / 1e6;
}
BENCHMARK(BM_RunStatisticsPerWord)->Arg(100000)->Arg(10000000)->Unit(benchmark::kMillisecond);

void BM_RunSummary(benchmark::State& state) {
  analysis::RunStatistics stats;
  for (int64_t w : Words(state.range(0))) stats.AddWord(w);
  for (auto _ : state) {
    const analysis::RunSummary s = stats.Summary();
    benchmark::DoNotOptimize(s.stability.data());
  }
}
// 900 words: a run still short of the period's intervals, replayed on a copy at each summary.
BENCHMARK(BM_RunSummary)->Arg(900)->Arg(1000000)->Unit(benchmark::kMicrosecond);

// One word that spans a dropout of 10^8 periods, after 10^6 words of the 1 kHz train: the
// figures count the gap at once once every window holds no pulse.
void BM_RunStatisticsLongGap(benchmark::State& state) {
  const std::vector<int64_t> words = Words(1'000'000);
  for (auto _ : state) {
    state.PauseTiming();
    analysis::RunStatistics stats;
    for (int64_t w : words) stats.AddWord(w);
    state.ResumeTiming();
    stats.AddWord(40000 * (state.range(0) + 1));
    stats.AddWord(40000);  // the pulse after the gap, which takes tau0 again
    benchmark::DoNotOptimize(&stats);
  }
}
BENCHMARK(BM_RunStatisticsLongGap)->Arg(100'000'000)->Unit(benchmark::kMillisecond)->Iterations(3);

// The stop's summary: MTIE of every factor taken again against the final tau0 (the run held).
void BM_RunFinalSummary(benchmark::State& state) {
  analysis::RunStatistics stats;
  for (int64_t w : Words(state.range(0))) stats.AddWord(w);
  for (auto _ : state) {
    const analysis::RunSummary s = stats.FinalSummary();
    benchmark::DoNotOptimize(s.stability.data());
  }
}
BENCHMARK(BM_RunFinalSummary)->Arg(1000000)->Arg(4000000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
