#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "analysis/run_statistics.h"
#include "analysis/stability.h"
#include "analysis/timing_jitter.h"

// What the TIE and Stability views and the readout line show of the intervals a pass holds,
// kept free of the chart engine. Any thread.
namespace presentation {

// The deviations the Stability view draws, in its legend order.
inline constexpr analysis::Deviation kPlottedDeviations[] = {
    analysis::Deviation::kOadev, analysis::Deviation::kMdev, analysis::Deviation::kOhdev};

// Where a missing pulse sits on the TIE trace: its index and the TIE the neighbours present
// would give it there (straight line between them), in ns.
struct MissingMark {
  int64_t index = 0;
  double tie_ns = 0;
};

// A gap of more missing pulses than this is marked at its first and last missing pulse only.
inline constexpr int64_t kMarkedGap = 64;

struct TimingView {
  bool valid = false;  // false when the intervals make no pulse train: nothing else is set
  analysis::TimingJitter jitter;
  // The TIE trace: the pulse index and TIE of each pulse present, with a NaN point between the
  // two pulses of each gap, which breaks the trace there.
  std::vector<double> tie_index;
  std::vector<double> tie_ns;
  std::vector<MissingMark> missing;               // each missing pulse (see kMarkedGap)
  std::vector<analysis::StabilityRow> stability;  // kPlottedDeviations at octave factors
};

// What a pass needs beyond the readout's figures: the per-pulse TIE of the TIE view, the octave
// table of the Stability view. The table costs several times the rest, so a pass in any other
// view leaves both out.
struct TimingParts {
  bool tie = true;
  bool stability = true;
};

// The analysis of intervals in ticks (fractions are rounded: a loaded frequency list turns back
// into ticks that are not whole): one train, its jitter figures and the parts asked for.
TimingView ComputeTimingView(std::span<const double> intervals_ticks, TimingParts parts = {});

// The readout line in ns: "Period jitter RMS 1.234 ns  P-P 5.000 ns  |  Cycle-to-cycle RMS ...
// max ...  |  TIE P-P ... RMS ...". With missing or extra pulses it goes on with the period
// jitter without them as the Jibits boxes give theirs: "  |  Without them: P-P 12 ticks
// (0.0300 %)  RMS 7 ticks (0.0175 %)", P-P the largest less the smallest ordinary interval, RMS
// twice their standard deviation rounded half to even, both of their mean.
std::string ReadoutText(const analysis::TimingJitter& jitter);

// "Window: missing N / extra N" (the window of the pass, as against a streamed run's own count
// on the Run line), or empty when the train has neither; then "Ambiguous: <why>" when the
// decisions are not sound.
std::string PulseCountText(const analysis::TimingJitter& jitter);

// The tooltip of the figure boxes whose figures include missing or extra pulses: "N missing and
// M extra pulses are in these figures"; empty when there are none.
std::string FigureMarkText(const analysis::TimingJitter& jitter);

// The Run line of a streamed run: "Run: 1,234,567 words  1.00 MHz  missing 3  lost 0  P-P 12
// ticks (0.03 %)"; the rate is "-" without instrument time; "  Ambiguous: <why>" after it when
// the run's decisions are not sound.
std::string RunLineText(const analysis::RunSummary& run);

// The Stability view's title over a whole run's curve: "K390 Stability  (whole run, 1,234,566
// intervals)".
std::string WholeRunTitle(int64_t intervals);


// The text a clicked stability point shows: deviation, tau, value and its bounds where known.
std::string StabilityPointText(const analysis::StabilityRow& row);

}  // namespace presentation
