#include "analysis/pulse_train.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "common/ticks.h"

namespace analysis {

Nominal NominalInterval(std::span<const int64_t> intervals) {
  std::vector<int64_t> sorted(intervals.begin(), intervals.end());
  const size_t mid = sorted.size() / 2;
  std::nth_element(sorted.begin(), sorted.begin() + static_cast<ptrdiff_t>(mid), sorted.end());
  const int64_t upper = sorted[mid];
  if (sorted.size() % 2 == 1) return Nominal{2 * upper};
  // The lower middle value is the largest of the lower half, which nth_element left unsorted.
  const int64_t lower =
      *std::max_element(sorted.begin(), sorted.begin() + static_cast<ptrdiff_t>(mid));
  return Nominal{lower + upper};
}

bool IsShort(int64_t interval, Nominal nominal) {
  // d < nominal / 2  <=>  4 d < 2 nominal
  return static_cast<__int128>(interval) * 4 < nominal.twice;
}

int64_t MergeExtraPulses(std::vector<int64_t>& intervals, Nominal nominal) {
  int64_t extra = 0;
  size_t out = 0;
  int64_t carry = 0;
  bool carrying = false;
  for (int64_t d : intervals) {
    if (carrying) {
      d += carry;
      ++extra;
    }
    carrying = IsShort(d, nominal);
    if (carrying) {
      carry = d;
    } else {
      intervals[out++] = d;
    }
  }
  if (carrying) ++extra;  // a short last interval has nothing to merge into
  intervals.resize(out);
  return extra;
}

int64_t SpannedPeriods(int64_t interval, Nominal nominal) {
  if (interval <= 0 || nominal.twice <= 0) return 1;
  // Below 1.5 nominal r is 1 at once: the usual interval needs no division.
  if (static_cast<__int128>(interval) * 4 < static_cast<__int128>(nominal.twice) * 3) return 1;
  // r = round(d / nominal) = floor((4 d + n2) / (2 n2)), halves rounded up; then
  // |d - r nominal| <= nominal / 4  <=>  |8 d - 4 r n2| <= n2. Intervals of a few billion ticks
  // keep this in 64 bits; beyond that it runs in 128.
  constexpr int64_t kNarrow = int64_t{1} << 58;
  if (interval < kNarrow && nominal.twice < kNarrow) {
    const int64_t r = (4 * interval + nominal.twice) / (2 * nominal.twice);
    if (r < 2) return 1;
    const __int128 off =
        static_cast<__int128>(8) * interval - static_cast<__int128>(4) * r * nominal.twice;
    return (off < 0 ? -off : off) > nominal.twice ? 1 : r;
  }
  const __int128 d = interval;
  const __int128 n2 = nominal.twice;
  const __int128 r = (4 * d + n2) / (2 * n2);
  if (r < 2) return 1;
  __int128 off = 8 * d - 4 * r * n2;
  if (off < 0) off = -off;
  if (off > n2) return 1;
  return static_cast<int64_t>(r);
}

double PulseTrain::Tau0Ticks() const {
  return static_cast<double>(LastStamp()) / static_cast<double>(LastIndex());
}

__int128 PulseTrain::ScaledPhase(int64_t k) const {
  return static_cast<__int128>(LastIndex()) * stamps[static_cast<size_t>(k)] -
         static_cast<__int128>(k) * LastStamp();
}

double PulseTrain::PhaseSeconds(int64_t k) const {
  if (!Present(k)) return std::numeric_limits<double>::quiet_NaN();
  return static_cast<double>(ScaledPhase(k)) / static_cast<double>(LastIndex()) *
         common::kTickSeconds;
}

int64_t MostMissingPulses(int64_t intervals) {
  constexpr int64_t kFloor = int64_t{1} << 20;
  return intervals > kFloor / 4 ? 4 * intervals : kFloor;
}

PulseTrain BuildPulseTrain(std::vector<int64_t> intervals) {
  PulseTrain train;
  if (intervals.empty()) return train;
  train.nominal = NominalInterval(intervals);
  if (train.nominal.twice <= 0) return train;
  train.extra_pulses = MergeExtraPulses(intervals, train.nominal);
  if (intervals.empty()) return train;
  train.intervals = static_cast<int64_t>(intervals.size());

  int64_t last_index = 0;
  for (int64_t d : intervals) last_index += SpannedPeriods(d, train.nominal);
  train.missing_pulses = last_index - train.intervals;
  if (train.missing_pulses > MostMissingPulses(train.intervals)) return train;

  train.stamps.assign(static_cast<size_t>(last_index) + 1, kNoPulse);
  size_t k = 0;
  int64_t t = 0;
  train.stamps[0] = 0;
  for (int64_t d : intervals) {
    k += static_cast<size_t>(SpannedPeriods(d, train.nominal));
    t += d;
    train.stamps[k] = t;
  }
  return train;
}

}  // namespace analysis
