#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/stability.h"

// A stability table held against limit lines (a TDEV or MTIE mask): PASS when every row of a
// deviation that falls within its limit's tau range lies at or below the limit there. Between
// its points a limit runs straight on log-log axes (a power law per segment, as masks are
// drawn), so every segment is checked where the table has a tau in it. Pure functions; any
// thread.
namespace analysis {

// One point of a limit line: the limit in the deviation's unit (seconds for TDEV, TIE rms and
// MTIE, dimensionless otherwise) at tau.
struct LimitPoint {
  double tau_s = 0;
  double limit = 0;
};

// A deviation's limit, by its short name (DeviationName), as a limit file gives it.
struct LimitLine {
  std::string deviation;
  std::vector<LimitPoint> points;  // tau ascending
};

// The short names a limit file may give (DeviationName of every deviation).
std::vector<std::string_view> LimitDeviationNames();

// The limit at `tau_s` interpolated log-log between the points (tau ascending); nullopt outside
// the first to the last tau (a relative 1e-9 of slack at each end, for taus built as m tau0).
std::optional<double> LimitAt(std::span<const LimitPoint> points, double tau_s);

// kNoRows: no row of the table lies within the limit's tau range, so nothing shows it holds.
enum class LimitResult { kPass, kFail, kNoRows };

struct LimitVerdict {
  Deviation deviation = Deviation::kAdev;
  LimitResult result = LimitResult::kNoRows;
  int64_t checked = 0;  // rows within the limit's tau range
  // The least of 1 - value / limit over the checked rows: 0.25 is 25 % below the limit, -1 is
  // twice the limit. NaN when no row was checked.
  double worst_margin = std::numeric_limits<double>::quiet_NaN();
  double worst_tau_s = std::numeric_limits<double>::quiet_NaN();
  std::optional<double> first_failing_tau_s;  // the smallest tau above its limit
};

// One deviation's rows (any order) against its limit points.
LimitVerdict CheckLimit(std::span<const StabilityRow> rows, Deviation deviation,
                        std::span<const LimitPoint> points);

struct LimitsVerdict {
  bool pass = true;                 // every line gives kPass
  std::vector<LimitVerdict> lines;  // in the order of the limit lines
};

// Every limit line against the table. A line whose deviation name is not one of
// LimitDeviationNames cannot come from ParseLimitLines and is skipped.
LimitsVerdict CheckLimits(std::span<const StabilityRow> rows,
                          std::span<const LimitLine> lines);

}  // namespace analysis
