#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "acquisition/pulse_data.h"
#include "analysis/figures.h"
#include "analysis/smoothing_filter.h"

namespace analysis {

// What the chart shows: each pulse's interval in ticks, its frequency in Hz, or the histogram
// of the intervals, the time interval error of each pulse, or the stability of the train. A new
// view is a new value here; the window maps it to a chart.
enum class GraphView { kInterval, kFrequency, kHistogram, kTie, kStability };

// "Pulse-Pulse Interval (x25ns)" for the interval view, "Pulse Frequency (Hz)" otherwise.
std::string_view LeftAxisTitle(GraphView view);

// The highest P-P percentage and quality factor since the last Peak Reset.
struct HeldMaxima {
  double pp_percent = 0;
  double quality = 0;
};

// What the chart feed receives from a pass: the finished arrays and the centre values the
// chart's vertical axis sits on (ticks and Hz).
struct ChartInput {
  const acquisition::PulseData* data = nullptr;
  double CentreInterval = 0;
  double CentreFrequency = 0;
};

struct PassOptions {
  GraphView view = GraphView::kInterval;
  // Draw channel 1 smoothed as the second trace (the Dual Channel box is offered but unchecked);
  // only when `filter` is also given and active.
  bool smooth = false;
  const SmoothingFilter* filter = nullptr;
};

// How far a pass got.
enum class PassOutcome {
  kNoRecords,  // one record or none: nothing but the axis title changes
  kNoFigures,  // the average is not above 0: the second trace is retitled, no figure shown
  kFigures,    // the figures and the chart input are set
};

// Everything one pass makes, for the window to show or k390tool to print. The flight-time
// figures follow from the figures shown (ComputeFlightFigures).
struct PassResult {
  PassOutcome outcome = PassOutcome::kNoRecords;
  std::string left_axis_title;
  std::optional<std::string> series2_title;  // "Ch2" or "Filter"; set from kNoFigures on
  JitterFigures figures;                     // kFigures only
  ChartInput chart;
};

// The values a Load hands to the pass, in ticks: those of the file up to the first that is not a
// signed 32-bit integer, and then that value's conversion message.
struct LoadedList {
  std::vector<int32_t> values;
  std::optional<std::string> error;
};

// Decodes an instrument reply into `data` (its lines and record count go to `memo` when given).
// Counts and sums start from 0; the arrays keep whatever a shorter capture does not reach.
// Returns false for a reply that has no header or ends early. Throws common::Error on a field
// that does not convert.
bool DecodeReply(std::string_view reply, acquisition::PulseData& data,
                 std::vector<std::string>* memo);

// Decodes a loaded list into Ch1Intervals from index 1 and 0 into Ch2Intervals, its sum into
// Ch1Average; then Ch1Count = n + 1 and Ch2Count = 0. Only the first 5000 values are stored, so
// Ch1Count is at most 5001. With the list's error, throws common::Error after storing the values
// before it; the counts are then 0.
void DecodeLoadedList(const LoadedList& list, acquisition::PulseData& data);

// Every figure of one pass over decoded records, the held P-P percentage rising from
// `held_pp_percent`. Finishes `data` in place first (counts clamped to the arrays, sums turned
// into averages, the smoothed trace written as channel 2), because the chart draws from these
// very arrays and a copy would cost more than the figures do. `result.chart` points into
// `data`. Pure otherwise; any thread.
PassResult Compute(acquisition::PulseData& data, const PassOptions& options,
                   double held_pp_percent = 0);

// What a pass keeps for the life of the process: the interval arrays, the smoothing filter, the
// reply log of the last pass, the list of the last Load and the held maxima. Window thread only
// (k390tool: its one thread).
class ProcessingPass {
 public:
  // DecodeReply() into Data() and Memo().
  bool Decode(std::string_view reply);
  // The list of a Load; every later pass on loaded data decodes it again.
  void Load(LoadedList list) { loaded_ = std::move(list); }
  const LoadedList& Loaded() const { return loaded_; }
  // DecodeLoadedList() of the loaded list into Data(); the reply log is emptied.
  void DecodeLoaded();

  // Compute() over Data(); the held P-P percentage rises with the result.
  PassResult Compute(const PassOptions& options);
  // ComputeFlightFigures(); the held quality factor rises with the figures, unless they carry
  // an error.
  FlightFigures Flight(const FlightInput& input);
  const HeldMaxima& Held() const { return held_; }
  void ResetQualityPeak() { held_.quality = 0; }
  void ResetPeaks() { held_ = {}; }

  acquisition::PulseData& Data() { return data_; }
  const acquisition::PulseData& Data() const { return data_; }
  SmoothingFilter& Filter() { return filter_; }
  const SmoothingFilter& Filter() const { return filter_; }
  const std::vector<std::string>& Memo() const { return memo_; }

 private:
  acquisition::PulseData data_;
  SmoothingFilter filter_;
  std::vector<std::string> memo_;
  LoadedList loaded_;
  HeldMaxima held_;
};

}  // namespace analysis
