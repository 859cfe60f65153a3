#include "analysis/pulse_security.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "common/ticks.h"

namespace analysis {
namespace {

ChannelError Missing(bool ch1) {
  return ch1 ? ChannelError::kMissingCh1 : ChannelError::kMissingCh2;
}
bool KeepsOrder(double phase_deg) {
  const double a = std::abs(phase_deg);
  return a >= kOrderMarginDeg && a <= 180 - kOrderMarginDeg;
}

ChannelError Extra(bool ch1) { return ch1 ? ChannelError::kExtraCh1 : ChannelError::kExtraCh2; }

// One block's judgement, line by line: the slower line's pulses each expect one partner, the
// faster line's pulses only where the lines run at the same rate.
class Judge {
 public:
  Judge(const ChannelPairing& p, PulseSecurity& out)
      : p_(p),
        out_(out),
        slow_is_ch1_(p.ch2_faster),
        slow_(p.Slow()),
        fast_(p.Fast()),
        slow_partner_(p.ch2_faster ? p.ch1_partner : p.ch2_partner),
        fast_partner_(p.ch2_faster ? p.ch2_partner : p.ch1_partner),
        reach_(fast_.period.Ticks() / 2),
        claimed_(fast_.stamps.size(), false) {}

  void ExtraPulses(const LinePulses& line, bool ch1) {
    for (size_t i = 0; i < line.extra_records.size(); ++i) {
      const auto t = static_cast<double>(line.extra_stamps[i]);
      if (p_.Judged(t)) Count(Extra(ch1), line.extra_records[i], t);
    }
  }

  // A slower pulse without a partner: the faster line lost it where that line has a gap, else
  // the slower pulse is one too many.
  void UnpairedSlowPulses() {
    for (size_t i = 0; i < slow_.stamps.size(); ++i) {
      const auto t = static_cast<double>(slow_.stamps[i]);
      if (slow_partner_[i] >= 0 || !p_.Judged(t)) continue;
      const double expected = p_.PartnerTime(t, p_.expected_phase_deg);
      const std::optional<MissingSlot> slot = fast_.NearestMissing(expected);
      if (slot && std::abs(slot->stamp - expected) <= reach_) {
        Count(Missing(!slow_is_ch1_), slot->record, slot->stamp);
      } else {
        Count(Extra(slow_is_ch1_), slow_.records[i], t);
      }
    }
  }

  // A gap on the slower line where the faster line has the partner's pulse. Each gap is walked
  // by the faster pulses inside it, not by its slots, so a long gap of both lines costs nothing.
  void SlowGaps() {
    for (const LineGap& gap : slow_.gaps) {
      // A partner lies within a period of its slot, and the slots within the gap.
      const auto margin = static_cast<int64_t>(std::ceil(slow_.period.Ticks()));
      const auto first =
          std::lower_bound(fast_.stamps.begin(), fast_.stamps.end(), gap.from - margin);
      const auto last = std::upper_bound(first, fast_.stamps.end(), gap.to + margin);
      for (auto it = first; it != last; ++it) {
        const auto at = static_cast<size_t>(it - fast_.stamps.begin());
        if (fast_partner_[at] >= 0 || claimed_[at]) continue;
        if (const std::optional<MissingSlot> slot = SlotOf(gap, at)) {
          claimed_[at] = true;
          Count(Missing(slow_is_ch1_), slot->record, slot->stamp);
        }
      }
    }
  }

  // At one rate every faster pulse expects a partner too; one left over is one too many.
  void UnpairedFastPulses() {
    if (p_.multiple != 1) return;
    for (size_t j = 0; j < fast_.stamps.size(); ++j) {
      const auto t = static_cast<double>(fast_.stamps[j]);
      if (fast_partner_[j] >= 0 || claimed_[j] || !p_.Judged(t)) continue;
      Count(Extra(!slow_is_ch1_), fast_.records[j], t);
    }
  }

  void Pairs(double window_deg) {
    const double mean = p_.phase.mean_deg;
    for (const PulsePair& pair : p_.pairs) {
      if (!pair.judged) continue;
      ++out_.counts.paired;
      if (KeepsOrder(pair.phase_deg))
        ++(pair.phase_deg > 0 ? out_.counts.lagging : out_.counts.leading);
      const double off = WrapPhase(pair.phase_deg - mean, p_.CircleDeg());
      const double unwrapped = mean + off;
      const bool flipped = std::abs(mean) >= kOrderMarginDeg &&
                           ((mean > 0 && unwrapped <= 0) || (mean < 0 && unwrapped >= 0));
      if (std::abs(off) > window_deg || flipped) {
        const double t2 = static_cast<double>(p_.ch2.stamps[static_cast<size_t>(pair.ch2_index)]);
        Count(ChannelError::kSequence, pair.ch2_record, t2);
      }
    }
  }

 private:
  void Count(ChannelError error, int64_t record, double stamp) {
    SecurityCounts& c = out_.counts;
    switch (error) {
      case ChannelError::kMissingCh1:
        ++c.missing_ch1, ++c.unpaired_ch2;
        break;
      case ChannelError::kMissingCh2:
        ++c.missing_ch2, ++c.unpaired_ch1;
        break;
      case ChannelError::kExtraCh1:
        ++c.extra_ch1, ++c.unpaired_ch1;
        break;
      case ChannelError::kExtraCh2:
        ++c.extra_ch2, ++c.unpaired_ch2;
        break;
      case ChannelError::kSequence:
        ++c.sequence_errors;
        break;
    }
    out_.errors.push_back({error, record, p_.Seconds(stamp)});
  }

  // The judged slot of the gap whose partner, looked for at the expected phase, is the faster
  // pulse `at`: the slot nearest to where that pulse puts it, or a neighbour of it.
  std::optional<MissingSlot> SlotOf(const LineGap& gap, size_t at) const {
    const auto t = static_cast<double>(fast_.stamps[at]);
    const double step = static_cast<double>(gap.to - gap.from) / static_cast<double>(gap.periods);
    const double back = p_.PartnerTime(t, -p_.expected_phase_deg);
    const auto m = static_cast<int64_t>(std::round((back - static_cast<double>(gap.from)) / step));
    for (int64_t k = std::max<int64_t>(m - 1, 1); k <= std::min(m + 1, gap.periods - 1); ++k) {
      const MissingSlot slot = gap.Slot(k);
      if (!p_.Judged(slot.stamp)) continue;
      const double expected = p_.PartnerTime(slot.stamp, p_.expected_phase_deg);
      if (fast_.Nearest(expected) != static_cast<int64_t>(at)) continue;
      if (std::abs(t - expected) <= reach_) return slot;
    }
    return std::nullopt;
  }

  const ChannelPairing& p_;
  PulseSecurity& out_;
  bool slow_is_ch1_;
  const LinePulses& slow_;
  const LinePulses& fast_;
  const std::vector<int64_t>& slow_partner_;
  const std::vector<int64_t>& fast_partner_;
  double reach_;
  std::vector<bool> claimed_;  // faster pulses already told as a gap on the slower line
};

}  // namespace

void SecurityCounts::Add(const SecurityCounts& block) {
  blocks += block.blocks;
  paired += block.paired;
  unpaired_ch1 += block.unpaired_ch1;
  unpaired_ch2 += block.unpaired_ch2;
  missing_ch1 += block.missing_ch1;
  missing_ch2 += block.missing_ch2;
  extra_ch1 += block.extra_ch1;
  extra_ch2 += block.extra_ch2;
  sequence_errors += block.sequence_errors;
  lagging += block.lagging;
  leading += block.leading;
}

PulseSecurity JudgePulseSecurity(const ChannelPairing& pairing, double window_deg) {
  PulseSecurity out;
  out.counts.blocks = 1;
  if (pairing.status != PairingStatus::kPaired) return out;
  Judge judge(pairing, out);
  judge.ExtraPulses(pairing.ch1, true);
  judge.ExtraPulses(pairing.ch2, false);
  judge.UnpairedSlowPulses();
  judge.SlowGaps();
  judge.UnpairedFastPulses();
  judge.Pairs(window_deg);
  std::stable_sort(
      out.errors.begin(), out.errors.end(),
      [](const ChannelErrorEntry& a, const ChannelErrorEntry& b) { return a.time_s < b.time_s; });
  return out;
}

ChannelsReport AnalyseChannels(std::span<const int64_t> ch1, std::span<const int64_t> ch2,
                               double window_deg) {
  ChannelsReport report;
  report.pairing = PairChannels(ch1, ch2);
  report.security = JudgePulseSecurity(report.pairing, window_deg);
  return report;
}

}  // namespace analysis
