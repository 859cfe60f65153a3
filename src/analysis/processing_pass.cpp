#include "analysis/processing_pass.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "acquisition/protocol.h"
#include "common/error.h"
#include "common/text_forms.h"
#include "common/ticks.h"

namespace analysis {
namespace {

using acquisition::kMaxIntervals;
using acquisition::PulseData;

constexpr int64_t kMaxCount = kMaxIntervals + 1;  // records 0..5000
constexpr char kIntervalTitle[] = "Pulse-Pulse Interval (x25ns)";
constexpr char kFrequencyTitle[] = "Pulse Frequency (Hz)";
constexpr double kCentreTolerance = 0.05;
constexpr double kNanoSecondsPerTick = 25;
constexpr double kNanoSecondsPerSecond = 1e9;

size_t Index(int64_t i) { return static_cast<size_t>(i); }

// The interval arrays end at index 5000, whatever a decoding step or a stream window claims.
void ClampCounts(PulseData& data) {
  data.Ch1Count = std::min(data.Ch1Count, kMaxCount);
  data.Ch2Count = std::min(data.Ch2Count, kMaxCount);
}

struct Deviations {
  int64_t maximum = 0;  // never below 0
  int64_t minimum = 0;  // never above 0
  double variance = 0;
};

// Deviations of intervals 1..n-1 from the average, truncated to whole ticks. The squares are
// formed exactly in 128 bits: a deviation beyond 3,037,000,499 ticks (a 32-bit stream delta
// can reach 4.3e9) would overflow a 64-bit product.
Deviations ComputeDeviations(const PulseData& data) {
  Deviations result;
  const int64_t n = data.Ch1Count;
  double sum_of_squares = 0;
  for (int64_t i = 1; i < n; ++i) {
    const int64_t d = common::TruncToInt64(data.Ch1Intervals[Index(i)] - data.Ch1Average);
    if (d > result.maximum) result.maximum = d;
    if (d < result.minimum) result.minimum = d;
    const __int128 square = static_cast<__int128>(d) * d;
    sum_of_squares += static_cast<double>(square);
  }
  result.variance = sum_of_squares / static_cast<double>(n - 1);
  return result;
}

// The interval the chart centres on: the average, unless the mean of the last five intervals
// (each rounded to whole ticks) is 5 % or more away from it, as after a step in the pulse rate.
double ComputeCentreInterval(const PulseData& data) {
  const int64_t n = data.Ch1Count;
  if (n <= 5) return data.Ch1Average;
  int64_t sum = 0;
  for (int64_t i = n - 5; i <= n - 1; ++i)
    sum += common::RoundHalfEven(data.Ch1Intervals[Index(i)]);
  const double m = static_cast<double>(sum) / 5;
  if (std::fabs(m - data.Ch1Average) / data.Ch1Average < kCentreTolerance) return data.Ch1Average;
  return m;
}

// Every pass decodes into zeroed counts and sums.
void StartFromZero(PulseData& data) {
  data.Ch1Average = 0;
  data.Ch2Average = 0;
  data.Ch1Count = 0;
  data.Ch2Count = 0;
  data.reply = {};
}

double Seconds(double ticks) { return ticks * kNanoSecondsPerTick / kNanoSecondsPerSecond; }

double Frequency(double seconds) { return seconds != 0 ? 1 / seconds : 0; }

}  // namespace

void DecodeLoadedList(const LoadedList& list, PulseData& data) {
  StartFromZero(data);
  const size_t kept = std::min(list.values.size(), static_cast<size_t>(kMaxIntervals));
  for (size_t k = 0; k < kept; ++k) {
    data.Ch1Average += list.values[k];
    data.Ch1Intervals[k + 1] = list.values[k];
    data.Ch2Intervals[k + 1] = 0;
  }
  // A damaged file is refused whatever its length, also beyond the values kept.
  if (list.error) throw common::Error(*list.error);
  data.Ch1Count = static_cast<int64_t>(kept) + 1;
}

std::string_view LeftAxisTitle(GraphView view) {
  return view == GraphView::kInterval ? kIntervalTitle : kFrequencyTitle;
}

bool DecodeReply(std::string_view reply, PulseData& data, std::vector<std::string>* memo) {
  if (memo) memo->clear();
  StartFromZero(data);
  return acquisition::DecodeSampleReply(reply, data, memo) == acquisition::DecodeOutcome::kDecoded;
}

namespace {

// Sums into averages; the smoothed trace into channel 2 when asked for. Returns the title of
// the second trace.
std::string FinishData(PulseData& data, const PassOptions& options) {
  std::string title = "Ch2";
  if (options.smooth && options.filter && options.filter->Active()) {
    title = "Filter";
    options.filter->Apply(data);
  }
  data.Ch1Average = data.Ch1Average / static_cast<double>(data.Ch1Count - 1);
  if (data.Ch2Count > 1) {
    data.Ch2Average = data.Ch2Average / static_cast<double>(data.Ch2Count - 1);
  }
  return title;
}

JitterFigures Figures(const PulseData& data, const Deviations& dev, double held_pp_percent) {
  JitterFigures f;
  const double average = data.Ch1Average;
  const double rms = 2 * std::sqrt(dev.variance);
  f.rms_ticks = common::RoundHalfEven(rms);
  f.rms_percent = rms / average * 100;
  f.average_ticks = common::RoundHalfEven(average);
  f.peak_to_peak_ticks = dev.maximum - dev.minimum;
  f.peak_positive_ticks = dev.maximum;
  f.peak_negative_ticks = dev.minimum;
  f.peak_to_peak_percent = static_cast<double>(f.peak_to_peak_ticks) / average * 100;
  f.held_peak_to_peak_percent = std::max(held_pp_percent, f.peak_to_peak_percent);
  f.ch1_seconds = Seconds(data.Ch1Average);
  f.ch1_frequency_hz = Frequency(f.ch1_seconds);
  f.ch2_seconds = Seconds(data.Ch2Count > 1 ? data.Ch2Average : 0);
  f.ch2_frequency_hz = Frequency(f.ch2_seconds);
  return f;
}

}  // namespace

PassResult Compute(PulseData& data, const PassOptions& options, double held_pp_percent) {
  PassResult result;
  result.left_axis_title = LeftAxisTitle(options.view);
  ClampCounts(data);
  if (data.Ch1Count <= 1) return result;

  result.series2_title = FinishData(data, options);
  result.outcome = PassOutcome::kNoFigures;
  const Deviations dev = ComputeDeviations(data);
  if (!(data.Ch1Average > 0)) return result;

  result.outcome = PassOutcome::kFigures;
  result.figures = Figures(data, dev, held_pp_percent);
  const double centre = ComputeCentreInterval(data);
  result.chart = {&data, centre, centre > 0 ? 1 / (common::kTickSeconds * centre) : 0};
  return result;
}

bool ProcessingPass::Decode(std::string_view reply) { return DecodeReply(reply, data_, &memo_); }

void ProcessingPass::DecodeLoaded() {
  memo_.clear();
  DecodeLoadedList(loaded_, data_);
}

PassResult ProcessingPass::Compute(const PassOptions& options) {
  PassResult result = analysis::Compute(data_, options, held_.pp_percent);
  if (result.outcome == PassOutcome::kFigures) {
    held_.pp_percent = result.figures.held_peak_to_peak_percent;
  }
  return result;
}

FlightFigures ProcessingPass::Flight(const FlightInput& input) {
  FlightFigures flight = ComputeFlightFigures(input, held_.quality);
  if (!flight.error) held_.quality = flight.held_quality;
  return flight;
}

}  // namespace analysis
