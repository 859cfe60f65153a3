#include "analysis/processing_pass.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "acquisition/protocol.h"
#include "analysis/figures.h"
#include "common/convert.h"
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

double Seconds(double ticks) { return ticks * kNanoSecondsPerTick / kNanoSecondsPerSecond; }

double Frequency(double seconds) { return seconds != 0 ? 1 / seconds : 0; }

// "+4" for a positive peak, "0" otherwise.
std::string PlusSignedText(int64_t value) {
  std::string text = value > 0 ? "+" : "";
  text += common::IntText(value);
  return text;
}

}  // namespace

void DecodeLoadedList(std::string_view list, PulseData& data) {
  int64_t s = 1;
  std::string_view rest = list;
  while (!rest.empty()) {
    const int32_t v = common::StrToInt(acquisition::PopField(rest));
    // Beyond the arrays' end the values are still checked, so a damaged file is refused
    // whatever its length, but only the first 5000 are kept.
    if (s > kMaxIntervals) continue;
    data.Ch1Average += v;
    data.Ch1Intervals[Index(s)] = v;
    data.Ch2Intervals[Index(s)] = 0;
    ++s;
  }
  data.Ch1Count = s;
  data.Ch2Count = 0;
}

std::string_view LeftAxisTitle(GraphView view) {
  return view == GraphView::kInterval ? kIntervalTitle : kFrequencyTitle;
}

bool Decode(std::string_view rx, bool from_file, PulseData& data, std::vector<std::string>* memo) {
  if (memo) memo->clear();
  data.Ch1Average = 0;
  data.Ch2Average = 0;
  data.Ch1Count = 0;
  data.Ch2Count = 0;
  data.reply = {};
  if (from_file) {
    DecodeLoadedList(rx, data);
    return true;
  }
  return acquisition::DecodeSampleReply(rx, data, memo) == acquisition::DecodeOutcome::kDecoded;
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

void SetJitterTexts(const PulseData& data, const Deviations& dev, PassResult& result) {
  auto text = [&result](Figure figure) -> std::string& {
    return result.texts[FigureIndex(figure)];
  };
  const double average = data.Ch1Average;
  const double rms = 2 * std::sqrt(dev.variance);
  text(Figure::kEjitrms) = common::IntText(common::RoundHalfEven(rms));
  text(Figure::kEjitrms_pct) = common::FixedText(rms / average * 100, 4);
  text(Figure::kEsampavg) = common::IntText(common::RoundHalfEven(average));

  const int64_t peak_to_peak = dev.maximum - dev.minimum;
  text(Figure::kEjitpp) = common::IntText(peak_to_peak);
  text(Figure::kEpkpos) = PlusSignedText(dev.maximum);
  text(Figure::kEpkneg) = common::IntText(dev.minimum);

  const double pp_percent = static_cast<double>(peak_to_peak) / average * 100;
  text(Figure::kEjitpp_pct) = common::FixedText(pp_percent, 4);
  if (pp_percent > result.held.pp_percent) result.held.pp_percent = pp_percent;
  text(Figure::kEjitpp_max) = common::FixedText(result.held.pp_percent, 4);
}

void SetChannelTexts(const PulseData& data, PassResult& result) {
  auto text = [&result](Figure figure) -> std::string& {
    return result.texts[FigureIndex(figure)];
  };
  const double seconds1 = Seconds(data.Ch1Average);
  const double seconds2 = Seconds(data.Ch2Count > 1 ? data.Ch2Average : 0);
  text(Figure::kEint1) = common::FixedText(seconds1, 12);
  text(Figure::kEfreq1) = common::FixedText(Frequency(seconds1), 4);
  text(Figure::kEint2) = common::FixedText(seconds2, 12);
  text(Figure::kEfreq2) = common::FixedText(Frequency(seconds2), 4);
}

}  // namespace

PassResult Compute(PulseData& data, const PassOptions& options) {
  PassResult result;
  result.left_axis_title = LeftAxisTitle(options.view);
  result.held = options.held;
  ClampCounts(data);
  if (data.Ch1Count <= 1) return result;

  result.series2_title = FinishData(data, options);
  result.outcome = PassOutcome::kNoFigures;
  const Deviations dev = ComputeDeviations(data);
  if (!(data.Ch1Average > 0)) return result;

  result.outcome = PassOutcome::kFigures;
  SetJitterTexts(data, dev, result);
  const double centre = ComputeCentreInterval(data);
  result.chart = {&data, centre, centre > 0 ? 1 / (common::kTickSeconds * centre) : 0};
  SetChannelTexts(data, result);

  result.flight = ComputeFlightFigures(
      {result.Text(Figure::kEint1), options.flight_ms, result.Text(Figure::kEjitpp_pct)},
      options.held.quality);
  result.held.quality = result.flight.held_quality;
  return result;
}

bool ProcessingPass::Decode(std::string_view rx, bool from_file) {
  return analysis::Decode(rx, from_file, data_, &memo_);
}

}  // namespace analysis
