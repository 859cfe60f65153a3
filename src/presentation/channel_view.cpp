#include "presentation/channel_view.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "analysis/channel_difference.h"
#include "presentation/view_text.h"

namespace presentation {
namespace {

std::string Name(std::string_view name) { return std::string(name); }

// A time difference with the unit that keeps it readable.
std::string SecondsText(double s) {
  const double a = std::fabs(s);
  if (a >= 1) return Format("%.6f s", s);
  if (a >= 1e-3) return Format("%.3f ms", s * 1e3);
  if (a >= 1e-6) return Format("%.3f us", s * 1e6);
  return Format("%.1f ns", s * 1e9);
}

std::string SecurityText(const analysis::SecurityCounts& c) {
  return "Unpaired Ch1 " + GroupedCount(c.unpaired_ch1) + "  Ch2 " + GroupedCount(c.unpaired_ch2) +
         "  Sequence " + GroupedCount(c.sequence_errors) + "  " +
         Name(analysis::DirectionName(c.DirectionSeen()));
}

TimingView DifferenceTie(const analysis::DifferenceRecord& record) {
  TimingView view;
  if (record.phase_s.empty()) return view;
  view.valid = true;
  view.tie_index.reserve(record.phase_s.size());
  view.tie_ns.reserve(record.phase_s.size());
  for (size_t k = 0; k < record.phase_s.size(); ++k) {
    view.tie_index.push_back(static_cast<double>(k));
    view.tie_ns.push_back(record.phase_s[k] * kNsPerSecond);  // NaN stays NaN: a break
  }
  return view;
}

}  // namespace

ChannelsView ComputeChannelsView(const acquisition::DualStamps& stamps, TimingParts parts,
                                 double window_deg) {
  ChannelsView view;
  if (stamps.ch1.size() < 2 || stamps.ch2.size() < 2) return view;
  view.dual = true;
  std::vector<double> ch2_intervals;
  ch2_intervals.reserve(stamps.ch2.size() - 1);
  for (size_t k = 1; k < stamps.ch2.size(); ++k)
    ch2_intervals.push_back(static_cast<double>(stamps.ch2[k] - stamps.ch2[k - 1]));
  view.ch2 = ComputeTimingView(ch2_intervals, parts);
  view.report = analysis::AnalyseChannels(stamps.ch1, stamps.ch2, window_deg);
  if (!parts.tie && !parts.stability) return view;
  const analysis::DifferenceRecord record = analysis::DifferencePhase(view.report.pairing);
  if (parts.tie) view.difference_tie = DifferenceTie(record);
  if (parts.stability && record.phase_s.size() > 1) {
    const std::vector<int64_t> factors =
        analysis::OctaveFactors(static_cast<int64_t>(record.phase_s.size()) - 1);
    view.difference_table = analysis::StabilityTable(record.phase_s, record.tau0_s, factors);
  }
  return view;
}

std::vector<analysis::StabilityRow> RowsOf(std::span<const analysis::StabilityRow> table,
                                           std::span<const analysis::Deviation> deviations) {
  std::vector<analysis::StabilityRow> rows;
  for (const analysis::StabilityRow& row : table) {
    if (std::find(deviations.begin(), deviations.end(), row.deviation) != deviations.end())
      rows.push_back(row);
  }
  return rows;
}

std::string PairingText(const analysis::ChannelsReport& report) {
  const analysis::ChannelPairing& p = report.pairing;
  if (p.status == analysis::PairingStatus::kTooFewPulses) return "Ch1/Ch2: too few pulses to pair";
  std::string text = Format("Ch2/Ch1 ratio %.4f", p.ratio);
  if (p.status == analysis::PairingStatus::kRatioNotWhole)
    return text + ": not near a whole number or its inverse, not paired";
  text += "  paired " + GroupedCount(p.paired);
  const analysis::PhaseFigures& f = p.phase;
  if (std::isfinite(f.mean_deg)) {
    text += Format("  phase %.1f deg (P-P %.1f  RMS %.1f", f.mean_deg, f.pp_deg, f.rms_deg);
    if (std::isfinite(f.drift_deg_per_s)) text += Format("  drift %.3f/s", f.drift_deg_per_s);
    text += ")";
  }
  if (std::isfinite(f.difference_mean_s)) text += "  diff " + SecondsText(f.difference_mean_s);
  return text + "  |  " + SecurityText(report.security.counts);
}

std::string Ch2LineText(const TimingView& ch2) {
  if (!ch2.valid) return "Ch2: no pulse train";
  const analysis::TimingJitter& j = ch2.jitter;
  std::string text = "Ch2  " + ReadoutText(j);
  if (j.missing_pulses != 0 || j.extra_pulses != 0) {
    text += Format("   |   Missing %lld / Extra %lld", static_cast<long long>(j.missing_pulses),
                   static_cast<long long>(j.extra_pulses));
  }
  if (!j.ambiguous.empty()) text += "  Ambiguous: " + j.ambiguous;
  return text;
}

bool SecurityAlarm(const analysis::SecurityCounts& c) {
  return c.unpaired_ch1 > 0 || c.unpaired_ch2 > 0 || c.sequence_errors > 0;
}

std::string ErrorListText(std::span<const analysis::ChannelErrorEntry> errors, int max_lines) {
  if (errors.empty()) return "No pulse security errors";
  std::string text;
  const size_t shown = std::min(errors.size(), static_cast<size_t>(std::max(max_lines, 0)));
  for (size_t k = 0; k < shown; ++k) {
    const analysis::ChannelErrorEntry& e = errors[k];
    if (!text.empty()) text += '\n';
    text += Name(analysis::ChannelErrorName(e.error)) +
            Format("  record %lld  t %.6f s", static_cast<long long>(e.record), e.time_s);
  }
  if (shown < errors.size()) {
    text += "\n... " + GroupedCount(static_cast<int64_t>(errors.size() - shown)) +
            " more (chart menu: Save channel errors...)";
  }
  return text;
}

std::string ErrorListCsv(std::span<const analysis::ChannelErrorEntry> errors) {
  std::string text = "error,record,time_s\n";
  for (const analysis::ChannelErrorEntry& e : errors) {
    text += Name(analysis::ChannelErrorName(e.error)) +
            Format(",%lld,%.9f\n", static_cast<long long>(e.record), e.time_s);
  }
  return text;
}

std::string RunTotalsText(const analysis::SecurityCounts& t) {
  return "Run " + GroupedCount(t.blocks) + (t.blocks == 1 ? " block" : " blocks") + "  paired " +
         GroupedCount(t.paired) + "  Missing Ch1 " + GroupedCount(t.missing_ch1) + "  Ch2 " +
         GroupedCount(t.missing_ch2) + "  Extra Ch1 " + GroupedCount(t.extra_ch1) + "  Ch2 " +
         GroupedCount(t.extra_ch2) + "  |  " + SecurityText(t);
}

}  // namespace presentation
