#include "analysis/timing_jitter.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "common/ticks.h"

namespace analysis {
namespace {

// Which intervals are ordinary: entry i for the interval that ends at pulse i (entry 0 unused).
std::vector<bool> OrdinaryIntervals(const PulseTrain& train) {
  const size_t n = train.Pulses();
  std::vector<bool> ordinary(n, false);
  const std::vector<int64_t>& t = train.stamp;
  const std::vector<int64_t>& extra = train.extra_stamps;
  size_t e = 0;  // the first extra pulse at or after the pulse before the interval's first
  for (size_t i = 1; i < n; ++i) {
    if (train.index[i] != train.index[i - 1] + 1) continue;
    if (i >= 2) {
      while (e < extra.size() && extra[e] < t[i - 2]) ++e;
    }
    const bool last = i + 1 == n;
    ordinary[i] = e == extra.size() || (!last && extra[e] >= t[i + 1]);
  }
  return ordinary;
}

// Sums over the ordinary intervals, in ticks: each less a common integer offset, so every sum
// stays exact and small.
struct IntervalSums {
  int64_t offset = 0;
  __int128 sum = 0, sum_sq = 0, c2c_sq = 0;
  int64_t count = 0, pairs = 0;  // intervals, and pairs of them next to each other
  int64_t lowest = 0, highest = 0, c2c_max = 0;
};

IntervalSums SumOrdinaryIntervals(const PulseTrain& train) {
  IntervalSums s;
  s.offset = train.period.count > 0 ? train.period.sum / train.period.count : 0;
  const std::vector<bool> ordinary = OrdinaryIntervals(train);
  int64_t before = 0;  // the ordinary interval ending at the pulse before, when there is one
  bool before_ok = false;
  for (size_t i = 1; i < train.Pulses(); ++i) {
    if (!ordinary[i]) {
      before_ok = false;
      continue;
    }
    const int64_t d = train.stamp[i] - train.stamp[i - 1];
    const int64_t e = d - s.offset;
    s.sum += e;
    s.sum_sq += static_cast<__int128>(e) * e;
    s.lowest = s.count == 0 ? d : std::min(s.lowest, d);
    s.highest = s.count == 0 ? d : std::max(s.highest, d);
    ++s.count;
    if (before_ok) {
      const int64_t delta = d - before;
      s.c2c_sq += static_cast<__int128>(delta) * delta;
      s.c2c_max = std::max(s.c2c_max, delta < 0 ? -delta : delta);
      ++s.pairs;
    }
    before = d;
    before_ok = true;
  }
  return s;
}

// Period mean, P-P and RMS, and cycle-to-cycle figures, from the sums.
void PeriodFigures(const IntervalSums& s, TimingJitter& j) {
  const double tick = common::kTickSeconds;
  j.ordinary = s.count;
  if (s.count >= 1) {
    j.period_mean_ticks = static_cast<double>(static_cast<long double>(s.offset) +
                                              static_cast<long double>(s.sum) / s.count);
    j.period_pp_ticks = s.highest - s.lowest;
    j.period_jitter_pp = static_cast<double>(s.highest - s.lowest) * tick;
  }
  if (s.count >= 2) {
    // (n sum e^2 - (sum e)^2) / (n (n - 1)), exact up to the last division.
    const __int128 spread = static_cast<__int128>(s.count) * s.sum_sq - s.sum * s.sum;
    const long double var =
        static_cast<long double>(spread) /
        (static_cast<long double>(s.count) * static_cast<long double>(s.count - 1));
    j.period_rms_ticks = static_cast<double>(std::sqrt(var));
    j.period_jitter_rms = j.period_rms_ticks * tick;
  }
  if (s.pairs >= 1) {
    j.cycle_to_cycle_max = static_cast<double>(s.c2c_max) * tick;
    j.cycle_to_cycle_rms =
        static_cast<double>(std::sqrt(static_cast<long double>(s.c2c_sq) / s.pairs)) * tick;
  }
}

// TIE P-P and RMS of the pulses present, s.
void TieFigures(const PulseTrain& train, TimingJitter& j) {
  const std::vector<double> tie = TiePerPulse(train);
  const auto [lo, hi] = std::minmax_element(tie.begin(), tie.end());
  long double sq = 0;
  for (double e : tie) sq += static_cast<long double>(e) * e;
  j.tie_pp = *hi - *lo;
  j.tie_rms = static_cast<double>(std::sqrt(sq / static_cast<long double>(tie.size())));
}

}  // namespace

std::vector<double> TiePerPulse(const PulseTrain& train) {
  const size_t n = train.Pulses();
  std::vector<double> tie(n, 0.0);
  if (train.Empty()) return tie;
  // The fit runs on the phase x(k) = t(k) - k tau0, formed exactly, so that the large common
  // slope never meets the small residuals in floating point. Removing a line leaves the
  // residuals of a least-squares line unchanged.
  const long double k_last = static_cast<long double>(train.LastIndex());
  const auto x_ticks = [&](size_t i) {
    return static_cast<long double>(train.ScaledPhase(i)) / k_last;
  };
  const auto k_of = [&](size_t i) { return static_cast<long double>(train.index[i]); };
  long double sk = 0;
  for (size_t i = 0; i < n; ++i) sk += k_of(i);
  const long double count = static_cast<long double>(n);
  const long double k_mean = sk / count;
  long double sx = 0, skk = 0, skx = 0;
  for (size_t i = 0; i < n; ++i) {
    const long double u = k_of(i) - k_mean;
    const long double x = x_ticks(i);
    sx += x;
    skk += u * u;
    skx += u * x;
  }
  const long double x_mean = sx / count;
  const long double slope = skk > 0 ? skx / skk : 0;
  for (size_t i = 0; i < n; ++i) {
    const long double e = x_ticks(i) - x_mean - slope * (k_of(i) - k_mean);
    tie[i] = static_cast<double>(e) * common::kTickSeconds;
  }
  return tie;
}

TimingJitter ComputeTimingJitter(const PulseTrain& train) {
  TimingJitter j;
  j.intervals = train.intervals;
  j.missing_pulses = train.missing_pulses;
  j.extra_pulses = train.extra_pulses;
  j.nominal_ticks = train.period.Ticks();
  j.ambiguous = train.ambiguous;
  if (train.Empty()) return j;
  j.tau0_s = train.Tau0Ticks() * common::kTickSeconds;
  PeriodFigures(SumOrdinaryIntervals(train), j);
  TieFigures(train, j);
  return j;
}

}  // namespace analysis
