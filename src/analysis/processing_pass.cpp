#include "analysis/processing_pass.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "acquisition/protocol.h"
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
constexpr double kInt32Limit = 2147483648.0;  // 2^31, the first count past the signed range

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

// "(3 pulses)"
std::string PulsesText(int32_t pulses) {
  std::string text = "(";
  text += common::IntText(pulses);
  text += " pulses)";
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

void ProcessingPass::Run(PassView& view, std::string_view rx_copy, bool from_file) {
  const int graph_index = view.GraphIndex();
  view.SetLeftAxisTitle(graph_index == 0 ? kIntervalTitle : kFrequencyTitle);
  memo_.clear();
  data_.Ch1Average = 0;
  data_.Ch2Average = 0;
  data_.Ch1Count = 0;
  data_.Ch2Count = 0;
  view.TimerOff();

  // From here on the end steps run however the pass ends; an error then goes on to the caller.
  try {
    bool decoded = true;
    if (from_file) {
      DecodeLoadedList(rx_copy, data_);
    } else {
      decoded = acquisition::DecodeSampleReply(rx_copy, data_, &memo_) ==
                acquisition::DecodeOutcome::kDecoded;
    }
    if (decoded) {
      if (view.StreamChecked() && data_.Ch1Count == 0) view.TakeStreamWindow(data_);
      ProcessDecoded(view, graph_index);
    }
  } catch (...) {
    view.EndSteps();
    throw;
  }
  view.EndSteps();
}

void ProcessingPass::ProcessDecoded(PassView& view, int graph_index) {
  ClampCounts(data_);
  if (data_.Ch1Count <= 1) return;

  if (view.DualEnabledUnchecked() && filter_.Active()) {
    view.SetSeries2Title("Filter");
    filter_.Apply(data_);
  } else {
    view.SetSeries2Title("Ch2");
  }

  const int64_t n = data_.Ch1Count;
  data_.Ch1Average = data_.Ch1Average / static_cast<double>(n - 1);
  double ch2_average = 0;
  if (data_.Ch2Count > 1) {
    data_.Ch2Average = data_.Ch2Average / static_cast<double>(data_.Ch2Count - 1);
    ch2_average = data_.Ch2Average;
  }
  const Deviations dev = ComputeDeviations(data_);
  const double average = data_.Ch1Average;
  if (!(average > 0)) return;

  centre_interval_ = ComputeCentreInterval(data_);

  const double rms = 2 * std::sqrt(dev.variance);
  view.SetBoxText(Box::kEjitrms, common::IntText(common::RoundHalfEven(rms)));
  view.SetBoxText(Box::kEjitrms_pct, common::FixedText(rms / average * 100, 4));

  view.SetBoxText(Box::kEsampavg, common::IntText(common::RoundHalfEven(average)));

  const int64_t peak_to_peak = dev.maximum - dev.minimum;
  view.SetBoxText(Box::kEjitpp, common::IntText(peak_to_peak));
  view.SetBoxText(Box::kEpkpos, PlusSignedText(dev.maximum));
  view.SetBoxText(Box::kEpkneg, common::IntText(dev.minimum));

  const double pp_percent = static_cast<double>(peak_to_peak) / average * 100;
  view.SetBoxText(Box::kEjitpp_pct, common::FixedText(pp_percent, 4));
  if (pp_percent > pp_percent_peak_) pp_percent_peak_ = pp_percent;
  view.SetBoxText(Box::kEjitpp_max, common::FixedText(pp_percent_peak_, 4));

  centre_frequency_ = centre_interval_ > 0 ? 1 / (common::kTickSeconds * centre_interval_) : 0;

  if (graph_index < 2) view.FeedChart({data_, centre_interval_, centre_frequency_});

  const double seconds1 = Seconds(average);
  const double seconds2 = Seconds(ch2_average);
  view.SetBoxText(Box::kEint1, common::FixedText(seconds1, 12));
  view.SetBoxText(Box::kEfreq1, common::FixedText(Frequency(seconds1), 4));
  view.SetBoxText(Box::kEint2, common::FixedText(seconds2, 12));
  view.SetBoxText(Box::kEfreq2, common::FixedText(Frequency(seconds2), 4));

  UpdateProveFigures(view);

  if (graph_index == 2) view.BuildHistogram(data_);
}

void ProcessingPass::UpdateProveFigures(PassView& view) {
  view.SetBoxText(Box::kEprove_err, "");
  view.SetBoxText(Box::kLpcycles, "");

  const std::string eint1 = view.BoxText(Box::kEint1);
  if (eint1.empty()) return;
  const double t = common::StrToFloat(eint1);

  const std::string eprove_ms = view.BoxText(Box::kEprove_ms);
  if (eprove_ms.empty()) return;
  const int32_t ms = common::StrToInt(eprove_ms);
  if (ms <= 0) return;

  // An average below 0.02 ticks shows as 0 seconds, and a very short pulse period can give
  // more pulses than the count holds: neither has a meaningful pulse count.
  if (!(t > 0)) return;
  const double pulses = ms / t / 1000;
  if (!(pulses < kInt32Limit)) return;
  const auto n = static_cast<int32_t>(std::trunc(pulses));
  if (n <= 0) return;

  view.SetBoxText(Box::kLpcycles, PulsesText(n));

  const double q = common::StrToFloat(view.BoxText(Box::kEjitpp_pct)) / n;
  if (q > quality_peak_) quality_peak_ = q;
  view.SetBoxText(Box::kEprove_err, common::FixedText(q, 4));
  view.SetBoxText(Box::kEpqf, common::FixedText(quality_peak_, 4));
}

void ProcessingPass::PeakReset(PassView& view) {
  quality_peak_ = 0;
  pp_percent_peak_ = 0;
  view.SetBoxText(Box::kEpqf, "");
  view.SetBoxText(Box::kEjitpp_max, "");
}

}  // namespace analysis
