#include "presentation/timing_view.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "analysis/pulse_train.h"

namespace presentation {
namespace {

constexpr double kNsPerSecond = 1e9;

std::string Format(const char* format, auto... values) {
  char buffer[256];
  std::snprintf(buffer, sizeof buffer, format, values...);
  return buffer;
}

std::string Upper(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  return upper;
}

// A count: 1234567 -> "1,234,567".
std::string Grouped(int64_t count) {
  std::string digits = std::to_string(count);
  const ptrdiff_t first = count < 0 ? 1 : 0;
  for (ptrdiff_t at = std::ssize(digits) - 3; at > first; at -= 3)
    digits.insert(static_cast<size_t>(at), ",");
  return digits;
}

std::string RateText(double hz) {
  if (!std::isfinite(hz)) return "- Hz";
  if (hz >= 1e6) return Format("%.2f MHz", hz / 1e6);
  if (hz >= 1e3) return Format("%.2f kHz", hz / 1e3);
  return Format("%.2f Hz", hz);
}

bool Plotted(analysis::Deviation deviation) {
  return std::find(std::begin(kPlottedDeviations), std::end(kPlottedDeviations), deviation) !=
         std::end(kPlottedDeviations);
}

// A run of missing pulses sits on the straight line between the pulses on either side; at an end
// of the train only one neighbour exists, and none ever lacks both (the ends are pulses).
void MarkMissing(TimingView& view) {
  const auto count = static_cast<int64_t>(view.tie_ns.size());
  int64_t before = -1;
  for (int64_t k = 0; k < count; ++k) {
    if (!std::isnan(view.tie_ns[static_cast<size_t>(k)])) {
      before = k;
      continue;
    }
    int64_t after = k + 1;
    while (after < count && std::isnan(view.tie_ns[static_cast<size_t>(after)])) ++after;
    double y = 0;
    if (before >= 0 && after < count) {
      const double a = view.tie_ns[static_cast<size_t>(before)];
      const double b = view.tie_ns[static_cast<size_t>(after)];
      y = a + (b - a) * static_cast<double>(k - before) / static_cast<double>(after - before);
    } else if (before >= 0) {
      y = view.tie_ns[static_cast<size_t>(before)];
    } else if (after < count) {
      y = view.tie_ns[static_cast<size_t>(after)];
    }
    view.missing.push_back({k, y});
  }
}

}  // namespace

TimingView ComputeTimingView(std::span<const double> intervals_ticks, TimingParts parts) {
  TimingView view;
  std::vector<int64_t> ticks;
  ticks.reserve(intervals_ticks.size());
  for (double d : intervals_ticks) {
    if (!std::isfinite(d)) return view;
    ticks.push_back(std::llround(d));
  }
  if (ticks.empty()) return view;
  const analysis::PulseTrain train = analysis::BuildPulseTrain(std::move(ticks));
  if (train.stamps.empty()) return view;
  view.valid = true;
  view.jitter = analysis::ComputeTimingJitter(train);
  if (parts.tie) {
    view.tie_ns = analysis::TiePerPulse(train);
    for (double& tie : view.tie_ns) tie *= kNsPerSecond;
    MarkMissing(view);
  }
  if (!parts.stability) return view;
  const std::vector<int64_t> factors = analysis::OctaveFactors(train.LastIndex());
  for (analysis::StabilityRow& row : analysis::StabilityTable(train, factors)) {
    if (Plotted(row.deviation)) view.stability.push_back(row);
  }
  return view;
}

std::string ReadoutText(const analysis::TimingJitter& j) {
  const double ns = kNsPerSecond;
  return Format(
      "Period jitter RMS %.3f ns  P-P %.3f ns   |   Cycle-to-cycle RMS %.3f ns  max %.3f ns"
      "   |   TIE P-P %.3f ns  RMS %.3f ns",
      j.period_jitter_rms * ns, j.period_jitter_pp * ns, j.cycle_to_cycle_rms * ns,
      j.cycle_to_cycle_max * ns, j.tie_pp * ns, j.tie_rms * ns);
}

std::string PulseCountText(const analysis::TimingJitter& jitter) {
  if (jitter.missing_pulses == 0 && jitter.extra_pulses == 0) return {};
  return Format("Missing %lld / Extra %lld", static_cast<long long>(jitter.missing_pulses),
                static_cast<long long>(jitter.extra_pulses));
}

std::string RunLineText(const analysis::RunSummary& run) {
  return "Run " + Grouped(run.words) + " words  " + RateText(run.mean_rate) + "  missing " +
         Grouped(run.missing_pulses) + "  lost " + Grouped(run.lost_words) + "  P-P " +
         Grouped(run.pp_ticks) + Format(" ticks (%.2f %%)", run.pp_pct);
}

std::string WholeRunTitle(int64_t intervals) {
  return "K390 Stability  (whole run, " + Grouped(intervals) + " intervals)";
}

std::string StabilityPointText(const analysis::StabilityRow& row) {
  std::string text =
      Format("%s  tau %.4g s  %.4g", Upper(analysis::DeviationName(row.deviation)).c_str(),
             row.tau_s, row.value);
  if (row.min && row.max) text += Format("  [%.4g .. %.4g]", *row.min, *row.max);
  text += Format("  n %lld", static_cast<long long>(row.n));
  return text;
}

}  // namespace presentation
