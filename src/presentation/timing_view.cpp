#include "presentation/timing_view.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "analysis/pulse_train.h"
#include "presentation/view_text.h"

namespace presentation {
namespace {

std::string RateText(double hz) {
  if (!std::isfinite(hz)) return "- Hz";
  if (hz >= 1e6) return Format("%.2f MHz", hz / 1e6);
  if (hz >= 1e3) return Format("%.2f kHz", hz / 1e3);
  return Format("%.2f Hz", hz);
}

std::string AmbiguousText(const std::string& why) { return "Ambiguous: " + why; }

bool Plotted(analysis::Deviation deviation) {
  return std::find(std::begin(kPlottedDeviations), std::end(kPlottedDeviations), deviation) !=
         std::end(kPlottedDeviations);
}

// The TIE trace over the pulses present, broken at each gap, and the marks of the missing
// pulses on the straight line between the pulses on either side (the ends of a train are pulses).
void DrawTie(const analysis::PulseTrain& train, TimingView& view) {
  std::vector<double> tie = analysis::TiePerPulse(train);
  const size_t n = train.Pulses();
  view.tie_index.reserve(n + 16);
  view.tie_ns.reserve(n + 16);
  for (size_t i = 0; i < n; ++i) {
    const double y = tie[i] * kNsPerSecond;
    const int64_t k = train.index[i];
    const int64_t gap = i == 0 ? 0 : k - train.index[i - 1] - 1;
    if (gap > 0) {
      const int64_t before = train.index[i - 1];
      const double a = view.tie_ns.back();
      const auto mark = [&](int64_t at) {
        const double f = static_cast<double>(at - before) / static_cast<double>(gap + 1);
        view.missing.push_back({at, a + (y - a) * f});
      };
      for (int64_t at = before + 1; at < k; ++at) {
        if (gap > kMarkedGap && at != before + 1 && at != k - 1) at = k - 1;
        mark(at);
      }
      view.tie_index.push_back(static_cast<double>(before + 1));
      view.tie_ns.push_back(std::numeric_limits<double>::quiet_NaN());
    }
    view.tie_index.push_back(static_cast<double>(k));
    view.tie_ns.push_back(y);
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
  const analysis::PulseTrain train = analysis::BuildPulseTrain(ticks);
  if (train.Empty()) return view;
  view.valid = true;
  view.jitter = analysis::ComputeTimingJitter(train);
  if (parts.tie) DrawTie(train, view);
  if (!parts.stability) return view;
  const std::vector<int64_t> factors = analysis::OctaveFactors(train.LastIndex());
  for (analysis::StabilityRow& row : analysis::StabilityTable(train, factors)) {
    if (Plotted(row.deviation)) view.stability.push_back(row);
  }
  return view;
}

std::string ReadoutText(const analysis::TimingJitter& j) {
  const double ns = kNsPerSecond;
  std::string text = Format(
      "Period jitter RMS %.3f ns  P-P %.3f ns   |   Cycle-to-cycle RMS %.3f ns  max %.3f ns"
      "   |   TIE P-P %.3f ns  RMS %.3f ns",
      j.period_jitter_rms * ns, j.period_jitter_pp * ns, j.cycle_to_cycle_rms * ns,
      j.cycle_to_cycle_max * ns, j.tie_pp * ns, j.tie_rms * ns);
  if ((j.missing_pulses > 0 || j.extra_pulses > 0) && j.ordinary > 0) {
    const double mean = j.period_mean_ticks;
    const double rms = 2 * j.period_rms_ticks;
    text += Format("   |   Without them: P-P %lld ticks (%.4f %%)  RMS %lld ticks (%.4f %%)",
                   static_cast<long long>(j.period_pp_ticks),
                   static_cast<double>(j.period_pp_ticks) / mean * 100,
                   static_cast<long long>(std::nearbyint(rms)), rms / mean * 100);
  }
  return text;
}

std::string PulseCountText(const analysis::TimingJitter& jitter) {
  std::string text;
  if (jitter.missing_pulses != 0 || jitter.extra_pulses != 0) {
    text =
        Format("Window: missing %lld / extra %lld", static_cast<long long>(jitter.missing_pulses),
               static_cast<long long>(jitter.extra_pulses));
  }
  if (!jitter.ambiguous.empty())
    text += (text.empty() ? "" : "  ") + AmbiguousText(jitter.ambiguous);
  return text;
}

std::string FigureMarkText(const analysis::TimingJitter& jitter) {
  if (jitter.missing_pulses == 0 && jitter.extra_pulses == 0) return {};
  return Format("%lld missing and %lld extra pulses are in these figures",
                static_cast<long long>(jitter.missing_pulses),
                static_cast<long long>(jitter.extra_pulses));
}

std::string RunLineText(const analysis::RunSummary& run) {
  std::string text = "Run: " + GroupedCount(run.words) + " words  " + RateText(run.mean_rate) +
                     "  missing " + GroupedCount(run.missing_pulses) + "  lost " +
                     GroupedCount(run.lost_words) + "  P-P " + GroupedCount(run.pp_ticks) +
                     Format(" ticks (%.2f %%)", run.pp_pct);
  if (!run.ambiguous.empty()) text += "  " + AmbiguousText(run.ambiguous);
  return text;
}

std::string WholeRunTitle(int64_t intervals) {
  return "K390 Stability  (whole run, " + GroupedCount(intervals) + " intervals)";
}

std::string StabilityPointText(const analysis::StabilityRow& row) {
  std::string text =
      Format("%s  tau %.4g s  %.4g", UpperCase(analysis::DeviationName(row.deviation)).c_str(),
             row.tau_s, row.value);
  if (row.min && row.max) text += Format("  [%.4g .. %.4g]", *row.min, *row.max);
  text += Format("  n %lld", static_cast<long long>(row.n));
  return text;
}

}  // namespace presentation
