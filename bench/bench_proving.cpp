// Virtual proving, the jitter spectrum and the interval pattern at scale: the default scan of
// 30 flight times over 10^7 pulses, the spectrum of 10^6 pulses and the pattern of 10^7 pulses,
// each with the heap it needs per pulse.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <new>
#include <vector>

#include "analysis/jitter_spectrum.h"
#include "analysis/phase_drift.h"
#include "analysis/proving.h"
#include "analysis/pulse_pattern.h"

namespace {

struct OwnedTrain {
  std::vector<int64_t> index;
  std::vector<int64_t> stamp;
  analysis::TrainView View() const { return {index, stamp, {}}; }
};

// Heap in use and its peak, counted by the global operator new and delete below. FFTW's own
// buffers (one segment) come from malloc and are not counted.
std::atomic<int64_t> heap_now{0};
std::atomic<int64_t> heap_peak{0};

void Track(int64_t delta) {
  const int64_t now = heap_now.fetch_add(delta) + delta;
  int64_t peak = heap_peak.load();
  while (now > peak && !heap_peak.compare_exchange_weak(peak, now)) {
  }
}

// A 10 kHz train (4000 ticks) from a rotor of 8 blades (up to 100 ticks apart), with edge jitter
// of up to 400 ticks (uniform, 231 rms), a slow 0.2 Hz wander of 50 ticks and every 100000th pulse
// missing.
OwnedTrain Train(int64_t count) {
  static const int64_t kBlades[] = {60, -20, 0, -40, 30, -10, 0, -20};
  OwnedTrain t;
  t.index.reserve(static_cast<size_t>(count));
  t.stamp.reserve(static_cast<size_t>(count));
  uint64_t state = 42;
  int64_t grid = 0;
  for (int64_t k = 0; k < count; ++k) {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    const double jitter = static_cast<double>((state >> 33) % 801) - 400;
    const double wander = 50 * std::sin(2 * 3.141592653589793 * 0.2 * static_cast<double>(k) / 1e4);
    if (k > 0) grid += 4000 + kBlades[(k - 1) % 8];
    if (k % 100000 == 50000) continue;
    t.index.push_back(k);
    t.stamp.push_back(grid + std::llround(jitter + wander));
  }
  const int64_t origin = t.stamp.front();
  for (int64_t& s : t.stamp) s -= origin;
  return t;
}

// The peak heap of one call over what was in use before it, with the caller's train (16 bytes
// a pulse) added: that is what the call needs.
template <typename F>
double BytesPerPulse(const OwnedTrain& train, F&& call) {
  heap_peak.store(heap_now.load());
  const int64_t before = heap_now.load();
  call();
  const auto pulses = static_cast<double>(train.stamp.size());
  return static_cast<double>(heap_peak.load() - before) / pulses + 16;
}

void BM_ProvingScan(benchmark::State& state) {
  const OwnedTrain train = Train(state.range(0));
  const analysis::ProvingOptions options;
  double bytes = 0, shortest = 0;
  for (auto _ : state) {
    bytes = BytesPerPulse(train, [&] {
      const std::vector<double> flights = analysis::DefaultFlightTimes(train.View(), options);
      const analysis::ProvingScan scan = analysis::ScanProving(train.View(), flights, options);
      shortest = scan.shortest_flight_s.value_or(0);
      benchmark::DoNotOptimize(scan.rows.data());
    });
  }
  state.counters["heap_bytes_per_pulse"] = bytes;
  state.counters["shortest_flight_ms"] = shortest * 1000;
}
BENCHMARK(BM_ProvingScan)->Arg(10'000'000)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_JitterSpectrum(benchmark::State& state) {
  const OwnedTrain train = Train(state.range(0));
  double bytes = 0, lines = 0;
  for (auto _ : state) {
    bytes = BytesPerPulse(train, [&] {
      const analysis::JitterSpectrum s =
          analysis::ComputeJitterSpectrum(train.View(), analysis::DriftRemoval::kLinear, {});
      lines = static_cast<double>(s.lines.size());
      benchmark::DoNotOptimize(s.amplitude_s.data());
    });
  }
  state.counters["heap_bytes_per_pulse"] = bytes;
  state.counters["lines"] = lines;
}
BENCHMARK(BM_JitterSpectrum)->Arg(1'000'000)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PulsePattern(benchmark::State& state) {
  const OwnedTrain train = Train(state.range(0));
  double bytes = 0, positions = 0;
  for (auto _ : state) {
    bytes = BytesPerPulse(train, [&] {
      const int64_t b = analysis::FindPatternPositions(train.View()).value_or(1);
      const analysis::PulsePattern p = analysis::ComputePulsePattern(train.View(), b);
      positions = static_cast<double>(p.positions);
      benchmark::DoNotOptimize(p.deviation_pct.data());
    });
  }
  state.counters["heap_bytes_per_pulse"] = bytes;
  state.counters["positions"] = positions;
}
BENCHMARK(BM_PulsePattern)->Arg(10'000'000)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ProvingScanWithoutPattern(benchmark::State& state) {
  const OwnedTrain train = Train(state.range(0));
  const analysis::ProvingOptions options;
  const analysis::PulsePattern pattern = analysis::ComputePulsePattern(train.View(), 8);
  double bytes = 0;
  for (auto _ : state) {
    bytes = BytesPerPulse(train, [&] {
      const std::vector<double> flights = analysis::DefaultFlightTimes(train.View(), options);
      const analysis::ProvingScan scan =
          analysis::ScanProvingWithoutPattern(train.View(), pattern, flights, options);
      benchmark::DoNotOptimize(scan.rows.data());
    });
  }
  state.counters["heap_bytes_per_pulse"] = bytes;
}
BENCHMARK(BM_ProvingScanWithoutPattern)
    ->Arg(10'000'000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

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
