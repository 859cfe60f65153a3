#include "analysis/limit_check.h"

#include <algorithm>
#include <cmath>

namespace analysis {
namespace {

constexpr double kTauSlack = 1e-9;

}  // namespace

std::vector<std::string_view> LimitDeviationNames() {
  std::vector<std::string_view> names;
  for (Deviation d : kAllDeviations) names.push_back(DeviationName(d));
  return names;
}

std::optional<double> LimitAt(std::span<const LimitPoint> points, double tau_s) {
  if (points.empty()) return std::nullopt;
  const double first = points.front().tau_s;
  const double last = points.back().tau_s;
  if (tau_s < first * (1 - kTauSlack) || tau_s > last * (1 + kTauSlack)) return std::nullopt;
  if (tau_s <= first) return points.front().limit;
  if (tau_s >= last) return points.back().limit;
  // The segment whose end is the first point beyond tau.
  const auto end =
      std::upper_bound(points.begin(), points.end(), tau_s,
                       [](double t, const LimitPoint& p) { return t < p.tau_s; });
  const LimitPoint& a = *(end - 1);
  const LimitPoint& b = *end;
  const double f = std::log(tau_s / a.tau_s) / std::log(b.tau_s / a.tau_s);
  return a.limit * std::pow(b.limit / a.limit, f);
}

LimitVerdict CheckLimit(std::span<const StabilityRow> rows, Deviation deviation,
                        std::span<const LimitPoint> points) {
  LimitVerdict verdict;
  verdict.deviation = deviation;
  for (const StabilityRow& row : rows) {
    if (row.deviation != deviation || std::isnan(row.value)) continue;
    const std::optional<double> limit = LimitAt(points, row.tau_s);
    if (!limit) continue;
    ++verdict.checked;
    if (verdict.result == LimitResult::kNoRows) verdict.result = LimitResult::kPass;
    const double margin = 1 - row.value / *limit;
    if (verdict.checked == 1 || margin < verdict.worst_margin) {
      verdict.worst_margin = margin;
      verdict.worst_tau_s = row.tau_s;
    }
    if (margin < 0) {
      verdict.result = LimitResult::kFail;
      if (!verdict.first_failing_tau_s || row.tau_s < *verdict.first_failing_tau_s) {
        verdict.first_failing_tau_s = row.tau_s;
      }
    }
  }
  return verdict;
}

LimitsVerdict CheckLimits(std::span<const StabilityRow> rows,
                          std::span<const LimitLine> lines) {
  LimitsVerdict verdict;
  for (const LimitLine& line : lines) {
    for (Deviation d : kAllDeviations) {
      if (DeviationName(d) != line.deviation) continue;
      verdict.lines.push_back(CheckLimit(rows, d, line.points));
      verdict.pass = verdict.pass && verdict.lines.back().result == LimitResult::kPass;
    }
  }
  return verdict;
}

}  // namespace analysis
