#include "analysis/pulse_pattern.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include "common/error.h"

namespace analysis {
namespace {

constexpr int64_t kSearchSpan = int64_t{1} << 20;  // grid positions folded when searching

// The ordinary intervals of the first grid positions laid out densely by the index they start
// at (less a common offset, ticks), with a weight of 1, and 0 and 0 where there is none: folding
// at B is then a sum of rows of B, which vectorises.
struct Folded {
  std::vector<double> deviation;
  std::vector<double> weight;
  double n = 0, sum = 0, sum_sq = 0;
};

Folded OrdinaryIntervals(const TrainView& train, int64_t span) {
  Folded f;
  const auto size = static_cast<size_t>(std::min(span, train.LastIndex()));
  f.deviation.assign(size, 0.0);
  f.weight.assign(size, 0.0);
  const int64_t offset = std::llround(train.Tau0Ticks());
  for (size_t i = 0; i + 1 < train.Pulses() && static_cast<size_t>(train.index[i]) < size; ++i) {
    if (train.index[i + 1] != train.index[i] + 1) continue;
    const double d = static_cast<double>(train.stamp[i + 1] - train.stamp[i] - offset);
    const auto k = static_cast<size_t>(train.index[i]);
    f.deviation[k] = d;
    f.weight[k] = 1;
    f.n += 1, f.sum += d, f.sum_sq += d * d;
  }
  return f;
}

// The share of the variance about the mean that B position means explain.
double ExplainedShare(const Folded& f, size_t b, std::vector<double>& sum,
                      std::vector<double>& count) {
  sum.assign(b, 0.0);
  count.assign(b, 0.0);
  const size_t size = f.deviation.size();
  size_t row = 0;
  for (; row + b <= size; row += b) {
    const double* d = f.deviation.data() + row;
    const double* w = f.weight.data() + row;
    for (size_t p = 0; p < b; ++p) sum[p] += d[p], count[p] += w[p];
  }
  for (size_t p = 0; row + p < size; ++p)
    sum[p] += f.deviation[row + p], count[p] += f.weight[row + p];
  double between = 0;
  for (size_t p = 0; p < b; ++p)
    if (count[p] > 0) between += sum[p] * sum[p] / count[p];
  const double total_ss = f.sum_sq - f.sum * f.sum / f.n;
  return (between - f.sum * f.sum / f.n) / total_ss;
}

// Calls f(position, interval less offset) for every ordinary interval, the position kept by
// counting rather than by a division per interval.
template <typename F>
void ForEachOrdinary(const TrainView& train, int64_t b, int64_t offset, F&& f) {
  int64_t position = 0, previous = 0;
  for (size_t i = 0; i + 1 < train.Pulses(); ++i) {
    position += train.index[i] - previous;
    previous = train.index[i];
    if (position >= b) position %= b;
    if (train.index[i + 1] != train.index[i] + 1) continue;
    f(static_cast<size_t>(position), train.stamp[i + 1] - train.stamp[i] - offset);
  }
}

}  // namespace

std::optional<int64_t> FindPatternPositions(const TrainView& train, int64_t most_positions) {
  if (train.Empty()) return std::nullopt;
  const Folded f = OrdinaryIntervals(train, kSearchSpan);
  most_positions = std::min<int64_t>(most_positions, static_cast<int64_t>(f.n) / 4);
  if (!(f.sum_sq - f.sum * f.sum / f.n > 0)) return std::nullopt;

  std::optional<int64_t> best;
  double best_criterion = 0;  // a constant: no pattern
  std::vector<double> sum, count;
  for (int64_t b = 2; b <= most_positions; ++b) {
    const double unexplained = 1 - ExplainedShare(f, static_cast<size_t>(b), sum, count);
    // Below this the pattern holds to the rounding of the sums: a perfect fit.
    const double criterion = (unexplained < 1e-12 ? -std::numeric_limits<double>::infinity()
                                                  : f.n * std::log(unexplained)) +
                             static_cast<double>(b - 1) * std::log(f.n);
    if (criterion < best_criterion) best_criterion = criterion, best = b;
  }
  return best;
}

PulsePattern ComputePulsePattern(const TrainView& train, int64_t positions) {
  if (positions < 1) throw common::Error("The pattern needs at least one position");
  PulsePattern pattern;
  pattern.positions = positions;
  if (train.Empty()) throw common::Error("The pattern needs a train of at least two pulses");
  const auto b = static_cast<size_t>(positions);
  const int64_t offset = std::llround(train.Tau0Ticks());
  std::vector<int64_t> sum(b, 0), count(b, 0);
  ForEachOrdinary(train, positions, offset, [&](size_t p, int64_t d) {
    sum[p] += d;
    ++count[p];
  });
  std::vector<double> mean(b);
  double mean_sum = 0;
  for (size_t p = 0; p < b; ++p) {
    if (count[p] == 0)
      throw common::Error("No whole interval at pattern position " + std::to_string(p) + " of " +
                          std::to_string(positions));
    mean[p] = static_cast<double>(sum[p]) / static_cast<double>(count[p]);
    mean_sum += mean[p];
    pattern.intervals += count[p];
  }
  const double centre = mean_sum / static_cast<double>(positions);  // less the offset
  pattern.mean_interval_ticks = centre + static_cast<double>(offset);
  const double scale = 100 / pattern.mean_interval_ticks;
  for (size_t p = 0; p < b; ++p) pattern.deviation_pct.push_back((mean[p] - centre) * scale);
  const auto [lo, hi] =
      std::minmax_element(pattern.deviation_pct.begin(), pattern.deviation_pct.end());
  pattern.pattern_pp_pct = *hi - *lo;

  double ss = 0, low = INFINITY, high = -INFINITY;
  ForEachOrdinary(train, positions, offset, [&](size_t p, int64_t d) {
    const double e = static_cast<double>(d) - mean[p];
    ss += e * e;
    low = std::min(low, e);
    high = std::max(high, e);
  });
  const int64_t freedom = pattern.intervals - positions;
  pattern.residual_rms_ticks = freedom > 0 ? std::sqrt(ss / static_cast<double>(freedom)) : 0;
  pattern.residual_pp_ticks = high - low;
  pattern.residual_rms_pct = pattern.residual_rms_ticks * scale;
  pattern.residual_pp_pct = pattern.residual_pp_ticks * scale;
  return pattern;
}

PatternFreeStamps RemovePattern(const TrainView& train, const PulsePattern& pattern) {
  const int64_t b = pattern.positions;
  // The edge offset at each position: the running sum of the deviations, which closes to 0
  // after B positions.
  std::vector<double> offset(static_cast<size_t>(b), 0.0);
  for (int64_t p = 1; p < b; ++p)
    offset[static_cast<size_t>(p)] =
        offset[static_cast<size_t>(p - 1)] +
        pattern.deviation_pct[static_cast<size_t>(p - 1)] / 100 * pattern.mean_interval_ticks;
  PatternFreeStamps out;
  out.stamp.reserve(train.Pulses());
  int64_t position = 0, previous = 0;
  for (size_t i = 0; i < train.Pulses(); ++i) {
    position += train.index[i] - previous;
    previous = train.index[i];
    if (position >= b) position %= b;
    const double s = offset[static_cast<size_t>(position)];
    out.stamp.push_back(std::llround(static_cast<double>(train.stamp[i]) - s));
  }
  size_t i = 0;
  for (int64_t e : train.extra_stamps) {
    while (i + 1 < train.Pulses() && train.stamp[i + 1] <= e) ++i;
    const double s = offset[static_cast<size_t>(train.index[i] % b)];
    out.extra_stamps.push_back(std::llround(static_cast<double>(e) - s));
  }
  return out;
}

}  // namespace analysis
