#include "presentation/limit_view.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "presentation/view_text.h"

namespace presentation {
namespace {

std::string Upper(analysis::Deviation deviation) {
  return UpperCase(analysis::DeviationName(deviation));
}

bool Drawn(std::string_view name, std::span<const analysis::Deviation> drawn) {
  return std::any_of(drawn.begin(), drawn.end(), [name](analysis::Deviation d) {
    return analysis::DeviationName(d) == name;
  });
}

// The worst margin over the lines that judged a row, or null when none did.
const analysis::LimitVerdict* Worst(const analysis::LimitsVerdict& verdict) {
  const analysis::LimitVerdict* worst = nullptr;
  for (const analysis::LimitVerdict& line : verdict.lines) {
    if (std::isfinite(line.worst_margin) &&
        (worst == nullptr || line.worst_margin < worst->worst_margin)) {
      worst = &line;
    }
  }
  return worst;
}

}  // namespace

std::vector<analysis::LimitLine> LinesFor(std::span<const analysis::LimitLine> lines,
                                             std::span<const analysis::Deviation> drawn) {
  std::vector<analysis::LimitLine> kept;
  for (const analysis::LimitLine& line : lines) {
    if (Drawn(line.deviation, drawn)) kept.push_back(line);
  }
  return kept;
}

std::string LimitVerdictText(const analysis::LimitsVerdict& verdict) {
  if (verdict.lines.empty()) return "Limits: none for the curves shown";
  const analysis::LimitVerdict* first_fail = nullptr;
  std::string no_rows;
  for (const analysis::LimitVerdict& line : verdict.lines) {
    if (line.first_failing_tau_s &&
        (first_fail == nullptr || *line.first_failing_tau_s < *first_fail->first_failing_tau_s)) {
      first_fail = &line;
    }
    if (line.result == analysis::LimitResult::kNoRows)
      no_rows += (no_rows.empty() ? "" : ", ") + Upper(line.deviation);
  }
  std::string text;
  if (first_fail != nullptr) {
    text = Format("Limits FAIL  first failing tau %.4g s (%s)", *first_fail->first_failing_tau_s,
                  Upper(first_fail->deviation).c_str());
  } else if (!no_rows.empty()) {
    return "Limits NOT MET  no rows within the taus of " + no_rows;
  } else {
    text = "Limits PASS";
  }
  if (const analysis::LimitVerdict* worst = Worst(verdict)) {
    text += Format("  worst margin %.1f %% (%s at tau %.4g s)", worst->worst_margin * 100,
                   Upper(worst->deviation).c_str(), worst->worst_tau_s);
  }
  return text;
}

}  // namespace presentation
