#include "presentation/proving_view.h"

#include <cmath>
#include <cstdio>

#include "common/error.h"
#include "presentation/view_text.h"

namespace presentation {
namespace {

constexpr char kTitle[] = "K390 Virtual Proving";
constexpr double kMsPerSecond = 1e3;
// Runs that agree to the tick still differ in the last bits of their interpolated pulses
// (some 1e-14 %); a spread under this is no spread. The finest real one, a tick over the
// longest flight a record can hold, stays far above it.
constexpr double kNoSpreadPct = 1e-9;

std::string MsText(double ms) { return Format("%.4g ms", ms); }

}  // namespace

std::optional<analysis::PulsePattern> FindPattern(const analysis::TrainView& train) {
  const std::optional<int64_t> positions = analysis::FindPatternPositions(train);
  if (!positions) return std::nullopt;
  try {
    return analysis::ComputePulsePattern(train, *positions);
  } catch (const common::Error&) {
    // Gaps that always fall on one position leave it without an interval: no pattern to show.
    return std::nullopt;
  }
}

std::string PatternText(const std::optional<analysis::PulsePattern>& pattern) {
  if (!pattern) return {};
  return Format("Pattern B=%lld P-P %.4f %%", static_cast<long long>(pattern->positions),
                pattern->pattern_pp_pct);
}

ProvingView ComputeProvingView(const analysis::TrainView& train,
                               const std::optional<analysis::PulsePattern>& pattern,
                               const analysis::ProvingOptions& options) {
  ProvingView view;
  view.runs = options.runs;
  view.limit_pct = options.limit_pct.value_or(analysis::RepeatabilityLimitPct(options.runs));
  const std::vector<double> flights = analysis::DefaultFlightTimes(train, options);
  if (flights.empty()) {
    view.note = Format(
        "K390 Virtual Proving  (the record holds fewer than 20 provings of %d runs "
        "of 10 ms: take a longer record)",
        options.runs);
    return view;
  }
  view.scan = analysis::ScanProving(train, flights, options);
  if (pattern) {
    view.without_pattern = analysis::ScanProvingWithoutPattern(train, *pattern, flights, options);
  }
  view.valid = true;
  return view;
}

ProvingCurve RepeatabilityCurve(const analysis::ProvingScan& scan, ProvingStatistic statistic) {
  ProvingCurve curve;
  for (const analysis::ProvingFigures& row : scan.rows) {
    const double pct =
        statistic == ProvingStatistic::kMedian ? row.repeat_median_pct : row.repeat_p95_pct;
    if (row.provings == 0 || !(pct >= kNoSpreadPct) || !std::isfinite(pct)) continue;
    curve.flight_ms.push_back(row.flight_s * kMsPerSecond);
    curve.repeat_pct.push_back(pct);
  }
  return curve;
}

std::string ProvingTitle(const ProvingView& view) {
  if (!view.valid) return view.note.empty() ? std::string(kTitle) : view.note;
  const std::string pass =
      !view.scan.shortest_flight_s ? std::string("95 % pass at no flight time scanned")
      : view.scan.non_monotonic
          ? "95 % pass first at " + MsText(*view.scan.shortest_flight_s * kMsPerSecond) +
                (view.scan.passing_from_s
                     ? ", from " + MsText(*view.scan.passing_from_s * kMsPerSecond) + " on"
                     : std::string(", not at the longest"))
          : "95 % pass from " + MsText(*view.scan.shortest_flight_s * kMsPerSecond);
  return Format("K390 Virtual Proving  (%d runs, limit ", view.runs) +
         ProvingLimitText(view.limit_pct) + ", " + pass + ")";
}

std::string ProvingLimitText(double pct) { return Format("%.4g %%", pct); }

std::string ShortestFlightText(double flight_s) {
  return "95 % pass " + MsText(flight_s * kMsPerSecond);
}

std::string FlightBoxText(double flight_ms) { return "Flight Time " + MsText(flight_ms); }

std::string RunScopeText(int64_t intervals, bool truncated) {
  std::string count = std::to_string(intervals);
  for (ptrdiff_t at = std::ssize(count) - 3; at > 0; at -= 3)
    count.insert(static_cast<size_t>(at), ",");
  return truncated ? "first " + count + " intervals of the run"
                   : "whole run, " + count + " intervals";
}

}  // namespace presentation
