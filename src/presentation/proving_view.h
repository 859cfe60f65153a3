#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "analysis/proving.h"
#include "analysis/pulse_pattern.h"
#include "analysis/train_view.h"

// What the Proving view draws and the readout says of the repeating pattern, as values kept free
// of the chart engine. Pure functions; any thread (the window runs a whole run's on a worker).
namespace presentation {

// The repeating pattern of a train: the positions that best explain its intervals and their
// pattern, or none when no pattern explains them better than a constant (or the train is too
// short to fold). O(min(N, 2^20) x 128) to find B, then O(N).
std::optional<analysis::PulsePattern> FindPattern(const analysis::TrainView& train);

// The readout's words for it: "Pattern B=7 P-P 0.1200 %", or empty without one.
std::string PatternText(const std::optional<analysis::PulsePattern>& pattern);

struct ProvingView {
  bool valid = false;  // false: nothing to draw, `note` says why
  std::string note;
  int runs = 0;
  double limit_pct = 0;
  analysis::ProvingScan scan;  // the default scan of flight times
  // The same flight times with the pattern taken out of the edges, when there is a pattern: what
  // it costs the provings.
  std::optional<analysis::ProvingScan> without_pattern;
};

// The default scan of the train (30 flight times from 10 ms, log spaced, up to the longest that
// leaves 20 provings). A train too short for 20 provings of 10 ms gives an invalid view whose
// note says so. O(30 N), twice with a pattern.
ProvingView ComputeProvingView(const analysis::TrainView& train,
                               const std::optional<analysis::PulsePattern>& pattern,
                               const analysis::ProvingOptions& options = {});

// A curve of the view in plot units: flight time in ms against repeatability in %.
struct ProvingCurve {
  std::vector<double> flight_ms;
  std::vector<double> repeat_pct;
};

enum class ProvingStatistic { kMedian, kP95 };

// The flight times that counted a proving, with the statistic's repeatability; values that a
// logarithmic axis cannot draw (0: every run the same, which rounding leaves as some 1e-14 %, so
// anything under 1e-9 %; unbounded: a pass that counted no pulse) are left out.
ProvingCurve RepeatabilityCurve(const analysis::ProvingScan& scan, ProvingStatistic statistic);

// "K390 Virtual Proving  (5 runs, limit 0.05 %, 95 % pass from 120 ms)"; "... 95 % pass first at
// 27.81 ms, from 48.6 ms on" (or "..., not at the longest") when a longer flight time fails
// again; "... 95 % pass at no flight time scanned" when none passes; the view's note when it is
// not valid.
std::string ProvingTitle(const ProvingView& view);

// A limit as operators read it: "0.05 %" (the published table), "0.0184 %" (the formula).
std::string ProvingLimitText(double pct);

// The marker texts: "95 % pass 120 ms" and "Flight Time 500 ms".
std::string ShortestFlightText(double flight_s);
std::string FlightBoxText(double flight_ms);

// What a whole run's views cover: "whole run, 1,234,567 intervals", or "first 8,388,608
// intervals of the run" when the run was longer than the views take.
std::string RunScopeText(int64_t intervals, bool truncated);

}  // namespace presentation
