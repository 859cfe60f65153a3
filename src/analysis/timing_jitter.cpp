#include "analysis/timing_jitter.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "common/ticks.h"

namespace analysis {

std::vector<double> TiePerPulse(const PulseTrain& train) {
  const int64_t last = train.LastIndex();
  std::vector<double> tie(train.stamps.size(), std::numeric_limits<double>::quiet_NaN());
  if (last < 1) return tie;
  // The fit runs on the phase x(k) = t(k) - k tau0, formed exactly, so that the large common
  // slope never meets the small residuals in floating point. Removing a line leaves the
  // residuals of a least-squares line unchanged.
  const long double k_last = static_cast<long double>(last);
  const auto x_ticks = [&](int64_t k) {
    return static_cast<long double>(train.ScaledPhase(k)) / k_last;
  };
  long double n = 0, sk = 0;
  for (int64_t k = 0; k <= last; ++k) {
    if (!train.Present(k)) continue;
    n += 1;
    sk += static_cast<long double>(k);
  }
  const long double k_mean = sk / n;
  long double sx = 0, skk = 0, skx = 0;
  for (int64_t k = 0; k <= last; ++k) {
    if (!train.Present(k)) continue;
    const long double u = static_cast<long double>(k) - k_mean;
    const long double x = x_ticks(k);
    sx += x;
    skk += u * u;
    skx += u * x;
  }
  const long double x_mean = sx / n;
  const long double slope = skk > 0 ? skx / skk : 0;
  for (int64_t k = 0; k <= last; ++k) {
    if (!train.Present(k)) continue;
    const long double e = x_ticks(k) - x_mean - slope * (static_cast<long double>(k) - k_mean);
    tie[static_cast<size_t>(k)] = static_cast<double>(e) * common::kTickSeconds;
  }
  return tie;
}

TimingJitter ComputeTimingJitter(const PulseTrain& train) {
  TimingJitter j;
  j.intervals = train.intervals;
  j.missing_pulses = train.missing_pulses;
  j.extra_pulses = train.extra_pulses;
  j.nominal_ticks = train.nominal.Ticks();
  const int64_t last = train.LastIndex();
  if (last < 1) return j;
  j.tau0_s = train.Tau0Ticks() * common::kTickSeconds;

  // Intervals less a common integer offset keep every sum exact and small.
  const int64_t offset = train.nominal.twice / 2;
  __int128 sum = 0, sum_sq = 0, c2c_sq = 0;
  int64_t count = 0, pairs = 0;
  int64_t lowest = 0, highest = 0, c2c_max = 0;
  int64_t before = 0;  // the ordinary interval ending at k - 1, when there is one
  bool before_ok = false;
  for (int64_t k = 1; k <= last; ++k) {
    const bool ordinary = train.Present(k) && train.Present(k - 1);
    if (!ordinary) {
      before_ok = false;
      continue;
    }
    const int64_t d =
        train.stamps[static_cast<size_t>(k)] - train.stamps[static_cast<size_t>(k - 1)];
    const int64_t e = d - offset;
    sum += e;
    sum_sq += static_cast<__int128>(e) * e;
    lowest = count == 0 ? d : std::min(lowest, d);
    highest = count == 0 ? d : std::max(highest, d);
    ++count;
    if (before_ok) {
      const int64_t delta = d - before;
      c2c_sq += static_cast<__int128>(delta) * delta;
      c2c_max = std::max(c2c_max, delta < 0 ? -delta : delta);
      ++pairs;
    }
    before = d;
    before_ok = true;
  }
  const double tick = common::kTickSeconds;
  if (count >= 2) {
    // (n sum e^2 - (sum e)^2) / (n (n - 1)), exact up to the last division.
    const __int128 spread = static_cast<__int128>(count) * sum_sq - sum * sum;
    const long double var = static_cast<long double>(spread) /
                            (static_cast<long double>(count) * static_cast<long double>(count - 1));
    j.period_jitter_rms = static_cast<double>(std::sqrt(var)) * tick;
  }
  if (count >= 1) j.period_jitter_pp = static_cast<double>(highest - lowest) * tick;
  if (pairs >= 1) {
    j.cycle_to_cycle_max = static_cast<double>(c2c_max) * tick;
    j.cycle_to_cycle_rms =
        static_cast<double>(std::sqrt(static_cast<long double>(c2c_sq) / pairs)) * tick;
  }

  const std::vector<double> tie = TiePerPulse(train);
  double lo = 0, hi = 0;
  long double sq = 0;
  int64_t present = 0;
  for (double e : tie) {
    if (std::isnan(e)) continue;
    lo = present == 0 ? e : std::min(lo, e);
    hi = present == 0 ? e : std::max(hi, e);
    sq += static_cast<long double>(e) * e;
    ++present;
  }
  if (present >= 1) {
    j.tie_pp = hi - lo;
    j.tie_rms = static_cast<double>(std::sqrt(sq / present));
  }
  return j;
}

}  // namespace analysis
