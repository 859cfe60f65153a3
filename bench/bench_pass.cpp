// The processing pass runs on the window's thread after every reply and every stream trigger, so
// a pass over the full 5000 intervals must leave the 50 ms capture tick almost untouched. The
// figures part alone is expected well under 0.1 ms.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "acquisition/pulse_data.h"
#include "analysis/figure_text.h"
#include "analysis/histogram.h"
#include "analysis/processing_pass.h"
#include "persistence/jit_file.h"

namespace {

constexpr int kIntervals = acquisition::kMaxIntervals;

// Intervals jittering a few ticks around 1 ms, as a real capture does.
int Interval(int i) {
  const uint32_t noise = static_cast<uint32_t>(i) * 2654435761u;
  return 40000 + static_cast<int>(noise >> 28) - 8;
}

void Fill(acquisition::PulseData& data, double& sum) {
  sum = 0;
  for (int i = 1; i <= kIntervals; ++i) {
    data.Ch1Intervals[static_cast<size_t>(i)] = Interval(i);
    sum += Interval(i);
  }
}

// Every figure's text, as the window shows them after a pass, the flight-time figures included.
size_t ShowFigures(analysis::ProcessingPass& pass, const analysis::PassResult& result) {
  analysis::FigureSheet sheet;
  sheet.Put(result.figures);
  sheet.Put(pass.Flight({result.figures.ch1_seconds, "1000", result.figures.peak_to_peak_percent}));
  size_t length = 0;
  for (size_t f = 0; f < analysis::kFigureCount; ++f)
    length += sheet.Text(static_cast<analysis::Figure>(f)).size();
  return length;
}

void FiguresPass(benchmark::State& state, int filter_length) {
  analysis::ProcessingPass pass;
  analysis::PassOptions options;
  if (filter_length > 0) {
    pass.Filter().SetLength(filter_length);
    options.smooth = true;
    options.filter = &pass.Filter();
  }
  double sum = 0;
  Fill(pass.Data(), sum);
  for (auto _ : state) {
    acquisition::PulseData& data = pass.Data();
    data.Ch1Count = kIntervals + 1;
    data.Ch2Count = 0;
    data.Ch1Average = sum;
    data.Ch2Average = 0;
    const analysis::PassResult result = pass.Compute(options);
    benchmark::DoNotOptimize(ShowFigures(pass, result));
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kIntervals);
}

// Statistics and every figure text from 5000 decoded intervals, filter off.
void BM_FiguresPass(benchmark::State& state) { FiguresPass(state, 0); }
BENCHMARK(BM_FiguresPass)->Unit(benchmark::kMicrosecond);

// The same with the longest filter the spin box allows.
void BM_FiguresPassFilter33(benchmark::State& state) { FiguresPass(state, 33); }
BENCHMARK(BM_FiguresPassFilter33)->Unit(benchmark::kMicrosecond);

// A whole Load and pass of a 5000-value interval file: reading the file's text, then the
// figures.
void BM_RunLoadedList(benchmark::State& state) {
  std::vector<double> values;
  for (int i = 1; i <= kIntervals; ++i) values.push_back(Interval(i));
  const std::string file = persistence::FormatJit(values, true);
  analysis::ProcessingPass pass;
  for (auto _ : state) {
    const persistence::JitList loaded = persistence::ParseJit(file);
    pass.Load({loaded.PassValues(), loaded.pass_error});
    pass.DecodeLoaded();
    const analysis::PassResult result = pass.Compute({});
    benchmark::DoNotOptimize(ShowFigures(pass, result));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(file.size()));
}
BENCHMARK(BM_RunLoadedList)->Unit(benchmark::kMicrosecond);

// The histogram view's bars and labels for 5000 intervals.
void BM_Histogram(benchmark::State& state) {
  acquisition::PulseData data;
  double sum = 0;
  Fill(data, sum);
  data.Ch1Count = kIntervals + 1;
  data.Ch1Average = sum / kIntervals;
  for (auto _ : state) {
    const analysis::HistogramBars bars = analysis::ComputeHistogram(data, 10, 3000);
    benchmark::DoNotOptimize(bars.counts.data());
  }
}
BENCHMARK(BM_Histogram)->Unit(benchmark::kMicrosecond);

}  // namespace
