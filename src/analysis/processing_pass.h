#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "acquisition/pulse_data.h"
#include "analysis/figures.h"
#include "analysis/smoothing_filter.h"

namespace analysis {

// What the chart shows: each pulse's interval in ticks, its frequency in Hz, or the histogram
// of the intervals. A new view is a new value here; the window maps it to a chart.
enum class GraphView { kInterval, kFrequency, kHistogram };

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
  std::string flight_ms;  // the Flight Time box as typed
  HeldMaxima held;        // before this pass
};

// How far a pass got.
enum class PassOutcome {
  kNoRecords,  // one record or none: nothing but the axis title changes
  kNoFigures,  // the average is not above 0: the second trace is retitled, no figure shown
  kFigures,    // every figure text and the chart input are set
};

// Everything one pass makes, for the window to show or k390tool to print.
struct PassResult {
  PassOutcome outcome = PassOutcome::kNoRecords;
  std::string left_axis_title;
  std::optional<std::string> series2_title;  // "Ch2" or "Filter"; set from kNoFigures on
  // The texts of Esampavg .. Efreq2, by Figure (kFigures only; the flight-time slots stay
  // empty: those figures are in `flight`).
  std::array<std::string, kFigureCount> texts;
  FlightFigures flight;
  // The held maxima after this pass: the options' own until it reaches kFigures. A flight-time
  // error leaves the quality factor's as it was.
  HeldMaxima held;
  ChartInput chart;
  const std::string& Text(Figure figure) const { return texts[FigureIndex(figure)]; }
};

// Decodes RxBuffer into `data`: the comma list of a Load when `from_file`, an instrument reply
// otherwise (its lines and record count go to `memo` when given). Counts and sums start from 0;
// the arrays keep whatever a shorter capture does not reach. Returns false for a reply that has
// no header or ends early. Throws common::Error on a value that does not convert.
bool Decode(std::string_view rx, bool from_file, acquisition::PulseData& data,
            std::vector<std::string>* memo);

// Every figure of one pass over decoded records. Finishes `data` in place first (counts clamped
// to the arrays, sums turned into averages, the smoothed trace written as channel 2), because
// the chart draws from these very arrays and a copy would cost more than the figures do.
// `result.chart` points into `data`. Pure otherwise; any thread.
PassResult Compute(acquisition::PulseData& data, const PassOptions& options);

// Decodes a loaded list (decimal signed 32-bit values separated by commas) into Ch1Intervals
// from index 1 and 0 into Ch2Intervals, adding each value to Ch1Average (the pass has zeroed it);
// then Ch1Count = n + 1 and Ch2Count = 0. Only the first 5000 values are stored, so Ch1Count is
// at most 5001, but every later value is still checked. Throws common::Error on a value that is
// not such an integer; the counts are then left as they were.
void DecodeLoadedList(std::string_view list, acquisition::PulseData& data);

// What a pass keeps for the life of the process: the interval arrays, the smoothing filter, the
// reply log of the last pass and the held maxima. Window thread only.
class ProcessingPass {
 public:
  // Decode() into Data() and Memo().
  bool Decode(std::string_view rx, bool from_file);

  acquisition::PulseData& Data() { return data_; }
  const acquisition::PulseData& Data() const { return data_; }
  SmoothingFilter& Filter() { return filter_; }
  const SmoothingFilter& Filter() const { return filter_; }
  const std::vector<std::string>& Memo() const { return memo_; }

  const HeldMaxima& Held() const { return held_; }
  void Hold(const HeldMaxima& held) { held_ = held; }
  double PPPercentPeak() const { return held_.pp_percent; }
  double QualityPeak() const { return held_.quality; }
  void ResetQualityPeak() { held_.quality = 0; }
  void ResetPeaks() { held_ = {}; }

 private:
  acquisition::PulseData data_;
  SmoothingFilter filter_;
  std::vector<std::string> memo_;
  HeldMaxima held_;
};

}  // namespace analysis
