#include "analysis/channel_pairing.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "common/ticks.h"

namespace analysis {
namespace {

// The raw pulses of a line that the train kept on its grid and merged away as extra, by record.
// Both lists are raw stamps in rising order, so one walk over the records finds them; of two
// equal stamps the earlier record is the gridded one, as the rule keeps the pulse before a short
// interval.
void PlaceRecords(std::span<const int64_t> stamps, const PulseTrain& train, LinePulses& line) {
  const int64_t origin = stamps.front();
  size_t kept = 0;
  size_t extra = 0;
  for (size_t i = 0; i < stamps.size(); ++i) {
    const int64_t t = stamps[i] - origin;
    if (kept < train.stamp.size() && train.stamp[kept] == t) {
      line.records.push_back(static_cast<int64_t>(i));
      line.stamps.push_back(stamps[i]);
      line.grid.push_back(train.index[kept++]);
    } else if (extra < train.extra_stamps.size() && train.extra_stamps[extra] == t) {
      line.extra_records.push_back(static_cast<int64_t>(i));
      line.extra_stamps.push_back(stamps[i]);
      ++extra;
    }
  }
}

// Where the gridded pulses around the j-th put its slot, ticks: on the line between its gridded
// neighbours, or a period from the one neighbour at an end.
double SlotTime(const LinePulses& line, size_t j) {
  const double period = line.period.Ticks();
  const auto at = [&](size_t k) { return static_cast<double>(line.stamps[k]); };
  const auto steps = [&](size_t a, size_t b) {
    return static_cast<double>(line.grid[b] - line.grid[a]);
  };
  const bool before = j > 0;
  const bool after = j + 1 < line.stamps.size();
  if (before && after)
    return at(j - 1) + (at(j + 1) - at(j - 1)) * steps(j - 1, j) / steps(j - 1, j + 1);
  if (before) return at(j - 1) + steps(j - 1, j) * period;
  if (after) return at(j + 1) - steps(j, j + 1) * period;
  return at(j);
}

// Of an extra pulse and the gridded pulse within half a period of it, the one nearer to the
// slot stays on the grid. The rule merges the pulse that ends a short interval, which is the true
// one when an extra pulse came just ahead of it.
void KeepTheBetterOfClosePulses(LinePulses& line) {
  const double half = line.period.Ticks() / 2;
  for (size_t e = 0; e < line.extra_stamps.size(); ++e) {
    const auto extra = static_cast<double>(line.extra_stamps[e]);
    const int64_t nearest = line.Nearest(extra);
    if (nearest < 0) continue;
    const auto j = static_cast<size_t>(nearest);
    const auto kept = static_cast<double>(line.stamps[j]);
    if (std::abs(kept - extra) >= half) continue;
    // The swap must keep the gridded stamps rising.
    if ((j > 0 && line.extra_stamps[e] <= line.stamps[j - 1]) ||
        (j + 1 < line.stamps.size() && line.extra_stamps[e] >= line.stamps[j + 1])) {
      continue;
    }
    const double slot = SlotTime(line, j);
    if (std::abs(extra - slot) >= std::abs(kept - slot)) continue;
    std::swap(line.stamps[j], line.extra_stamps[e]);
    std::swap(line.records[j], line.extra_records[e]);
  }
}

// Keeps the extra pulses in record order after a step moved some of them.
void SortExtras(LinePulses& line) {
  std::vector<size_t> order(line.extra_records.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(),
            [&](size_t a, size_t b) { return line.extra_records[a] < line.extra_records[b]; });
  std::vector<int64_t> records;
  std::vector<int64_t> stamps;
  for (size_t i : order) {
    records.push_back(line.extra_records[i]);
    stamps.push_back(line.extra_stamps[i]);
  }
  line.extra_records = std::move(records);
  line.extra_stamps = std::move(stamps);
}

// The median of the gridded intervals one grid step long, ticks; 0 without any. Unlike the
// rule's period it is not pulled down by extra pulses the rule kept on the grid.
double MedianStep(const LinePulses& line) {
  std::vector<int64_t> steps;
  for (size_t j = 1; j < line.stamps.size(); ++j) {
    if (line.grid[j] - line.grid[j - 1] == 1) steps.push_back(line.stamps[j] - line.stamps[j - 1]);
  }
  if (steps.empty()) return 0;
  const auto middle = steps.begin() + static_cast<ptrdiff_t>(steps.size() / 2);
  std::nth_element(steps.begin(), middle, steps.end());
  return static_cast<double>(*middle);
}

// An extra pulse halfway between two true ones makes two intervals of half a period, which the
// rule rounds up to a period each; a few of them shorten the rule's period enough that it keeps
// them so, on the grid. Such a pulse sits as near to a quadrature partner as the true pulse
// does. A gridded pulse whose neighbours are fewer periods apart (by the median step) than the
// grid counts between them is taken off the grid as extra, and the later pulses move down a step.
// "Fewer" by more than three quarters of a period: the true pulse before such an extra has its
// neighbours one and a half periods apart, which must not count.
constexpr double kOffGridPeriods = 0.75;

void TakeOffPulsesBetweenTheirNeighbours(LinePulses& line) {
  const double step = MedianStep(line);
  if (step <= 0 || line.stamps.size() < 3) return;
  LinePulses kept;
  kept.records.push_back(line.records[0]);
  kept.stamps.push_back(line.stamps[0]);
  kept.grid.push_back(line.grid[0]);
  int64_t moved = 0;  // pulses taken off so far: the grid indexes after them move down as many
  for (size_t j = 1; j < line.stamps.size(); ++j) {
    if (j + 1 < line.stamps.size()) {
      const auto span = static_cast<double>(line.stamps[j + 1] - kept.stamps.back());
      const int64_t steps = line.grid[j + 1] - moved - kept.grid.back();
      if (span / step < static_cast<double>(steps) - kOffGridPeriods) {
        line.extra_records.push_back(line.records[j]);
        line.extra_stamps.push_back(line.stamps[j]);
        ++moved;
        continue;
      }
    }
    kept.records.push_back(line.records[j]);
    kept.stamps.push_back(line.stamps[j]);
    kept.grid.push_back(line.grid[j] - moved);
  }
  if (moved == 0) return;
  line.records = std::move(kept.records);
  line.stamps = std::move(kept.stamps);
  line.grid = std::move(kept.grid);
}

void FindGaps(LinePulses& line) {
  for (size_t j = 1; j < line.stamps.size(); ++j) {
    const int64_t periods = line.grid[j] - line.grid[j - 1];
    if (periods < 2) continue;
    line.gaps.push_back(
        {line.grid[j - 1], periods, line.records[j], line.stamps[j - 1], line.stamps[j]});
  }
}

// The index in `values` (ascending, read through `at`) nearest to `t`, -1 when empty.
template <class Values, class At>
int64_t NearestOf(const Values& values, double t, At at) {
  if (values.empty()) return -1;
  const auto it = std::lower_bound(values.begin(), values.end(), t,
                                   [&](const auto& v, double x) { return at(v) < x; });
  auto j = static_cast<int64_t>(it - values.begin());
  if (j == static_cast<int64_t>(values.size())) return j - 1;
  if (j > 0 &&
      t - at(values[static_cast<size_t>(j - 1)]) <= at(values[static_cast<size_t>(j)]) - t) {
    --j;
  }
  return j;
}

double PhaseDeg(const ChannelPairing& p, int64_t t1, int64_t t2) {
  return 360.0 * static_cast<double>(t2 - t1) / p.ch1.LocalPeriod(static_cast<double>(t2));
}

// Pulses per second over the line's stamps, 0 without time between the first and the last.
double MeanFrequency(std::span<const int64_t> stamps) {
  const int64_t span = stamps.back() - stamps.front();
  if (span <= 0) return 0;
  return static_cast<double>(stamps.size() - 1) /
         (static_cast<double>(span) * common::kTickSeconds);
}

// Sets the whole number the periods keep; false when they keep none.
bool SetMultiple(ChannelPairing& p) {
  const double r = p.ch1.period.Ticks() / p.ch2.period.Ticks();  // f2 / f1
  const double whole = r >= 1 ? r : 1 / r;
  p.multiple = std::llround(whole);
  p.ch2_faster = r >= 1 && p.multiple >= 2;
  const double tolerance = std::min(kRatioTolerance * static_cast<double>(p.multiple), 0.25);
  return std::abs(whole - static_cast<double>(p.multiple)) <= tolerance;
}

// The circular mean, on the faster line's circle, of each slower pulse's phase against the
// nearest faster pulse: the phase the partners are expected at. Only pulses inside the span
// both lines cover and with a faster pulse within a period count, so a line that starts
// early or a gap on the faster line adds no phase that means nothing.
double ExpectedPhase(const ChannelPairing& p) {
  const LinePulses& slow = p.Slow();
  const LinePulses& fast = p.Fast();
  const double turns = 360.0 / p.CircleDeg();
  const double to_rad = std::numbers::pi / 180.0;
  double c = 0;
  double s = 0;
  for (int64_t t : slow.stamps) {
    const int64_t other = fast.stamps[static_cast<size_t>(fast.Nearest(static_cast<double>(t)))];
    const bool near = std::abs(static_cast<double>(other - t)) <= fast.period.Ticks();
    if (!near || !p.Judged(static_cast<double>(t))) continue;
    const double phase = p.ch2_faster ? PhaseDeg(p, t, other) : PhaseDeg(p, other, t);
    c += std::cos(phase * turns * to_rad);
    s += std::sin(phase * turns * to_rad);
  }
  if (c == 0 && s == 0) return 0;
  return std::atan2(s, c) / to_rad / turns;
}

PulsePair MakePair(const ChannelPairing& p, size_t i1, size_t i2) {
  PulsePair pair;
  pair.ch1_index = static_cast<int64_t>(i1);
  pair.ch2_index = static_cast<int64_t>(i2);
  pair.ch1_record = p.ch1.records[i1];
  pair.ch2_record = p.ch2.records[i2];
  const int64_t t1 = p.ch1.stamps[i1];
  const int64_t t2 = p.ch2.stamps[i2];
  pair.difference_ticks = t2 - t1;
  pair.time_s = p.Seconds(static_cast<double>(t2));
  const double phase = PhaseDeg(p, t1, t2);
  pair.phase_deg = WrapPhase(phase, 360.0);
  pair.deviation_deg = WrapPhase(phase - p.expected_phase_deg, p.CircleDeg());
  pair.slow_grid = p.ch2_faster ? p.ch1.grid[i1] : p.ch2.grid[i2];
  pair.judged = p.Judged(static_cast<double>(t1)) || p.Judged(static_cast<double>(t2));
  return pair;
}

// Each slower pulse takes the faster pulse nearest to where its partner is looked for, within
// half the faster line's period; of two claims on one pulse the closer one holds.
void MatchPulses(ChannelPairing& p) {
  const LinePulses& slow = p.Slow();
  const LinePulses& fast = p.Fast();
  std::vector<int64_t> slow_partner(slow.stamps.size(), -1);
  std::vector<int64_t> fast_partner(fast.stamps.size(), -1);
  const double reach = fast.period.Ticks() / 2;
  const auto miss = [&](size_t i, int64_t j) {
    return std::abs(static_cast<double>(fast.stamps[static_cast<size_t>(j)]) -
                    p.PartnerTime(static_cast<double>(slow.stamps[i]), p.search_phase_deg));
  };
  for (size_t i = 0; i < slow.stamps.size(); ++i) {
    const int64_t j =
        fast.Nearest(p.PartnerTime(static_cast<double>(slow.stamps[i]), p.search_phase_deg));
    if (miss(i, j) > reach) continue;
    const int64_t rival = fast_partner[static_cast<size_t>(j)];
    if (rival >= 0) {
      if (miss(static_cast<size_t>(rival), j) <= miss(i, j)) continue;
      slow_partner[static_cast<size_t>(rival)] = -1;
    }
    fast_partner[static_cast<size_t>(j)] = static_cast<int64_t>(i);
    slow_partner[i] = j;
  }
  std::vector<int64_t>& slow_pairs = p.ch2_faster ? p.ch1_partner : p.ch2_partner;
  std::vector<int64_t>& fast_pairs = p.ch2_faster ? p.ch2_partner : p.ch1_partner;
  slow_pairs.assign(slow.stamps.size(), -1);
  fast_pairs.assign(fast.stamps.size(), -1);
  for (size_t i = 0; i < slow.stamps.size(); ++i) {
    const int64_t j = slow_partner[i];
    if (j < 0) continue;
    slow_pairs[i] = fast_pairs[static_cast<size_t>(j)] = static_cast<int64_t>(p.pairs.size());
    const auto fast_index = static_cast<size_t>(j);
    p.pairs.push_back(p.ch2_faster ? MakePair(p, i, fast_index) : MakePair(p, fast_index, i));
  }
}

// The least-squares slope of y over x; NaN without two distinct x.
double Slope(const std::vector<double>& x, const std::vector<double>& y) {
  if (x.size() < 2) return kNoFigure;
  double mx = 0;
  double my = 0;
  for (size_t i = 0; i < x.size(); ++i) {
    mx += x[i];
    my += y[i];
  }
  mx /= static_cast<double>(x.size());
  my /= static_cast<double>(y.size());
  double sxy = 0;
  double sxx = 0;
  for (size_t i = 0; i < x.size(); ++i) {
    sxy += (x[i] - mx) * (y[i] - my);
    sxx += (x[i] - mx) * (x[i] - mx);
  }
  return sxx > 0 ? sxy / sxx : kNoFigure;
}

// The figures of the judged pairs. Deviations from the expected phase stay continuous where
// the phase itself wraps at +/-180, so a pair near antiphase does not read as a 360 degree jump.
PhaseFigures Figures(const ChannelPairing& p) {
  PhaseFigures f;
  std::vector<double> times;
  std::vector<double> deviations;
  double difference_sum = 0;
  for (const PulsePair& pair : p.pairs) {
    if (!pair.judged) continue;
    times.push_back(pair.time_s);
    deviations.push_back(pair.deviation_deg);
    difference_sum += static_cast<double>(pair.difference_ticks);
  }
  if (deviations.empty()) return f;
  const auto n = static_cast<double>(deviations.size());
  double mean = 0;
  for (double d : deviations) mean += d;
  mean /= n;
  double square_sum = 0;
  for (double d : deviations) square_sum += (d - mean) * (d - mean);
  const auto [low, high] = std::minmax_element(deviations.begin(), deviations.end());
  f.mean_deg = WrapPhase(p.expected_phase_deg + mean, 360.0);
  f.pp_deg = *high - *low;
  f.rms_deg = std::sqrt(square_sum / n);
  f.drift_deg_per_s = Slope(times, deviations);
  f.difference_mean_s = difference_sum / n * common::kTickSeconds;
  return f;
}

}  // namespace

double WrapPhase(double deg, double circle) {
  double w = std::fmod(deg, circle);
  if (w > circle / 2) w -= circle;
  if (w <= -circle / 2) w += circle;
  return w;
}

double LinePulses::LocalPeriod(double t) const {
  if (stamps.size() < 2) return period.Ticks();
  const auto it = std::upper_bound(stamps.begin(), stamps.end(), t,
                                   [](double x, int64_t s) { return x < static_cast<double>(s); });
  const auto last = static_cast<ptrdiff_t>(stamps.size()) - 2;
  const auto j = static_cast<size_t>(std::clamp<ptrdiff_t>(it - stamps.begin() - 1, 0, last));
  return static_cast<double>(stamps[j + 1] - stamps[j]) /
         static_cast<double>(grid[j + 1] - grid[j]);
}

int64_t LinePulses::Nearest(double t) const {
  return NearestOf(stamps, t, [](int64_t s) { return static_cast<double>(s); });
}

MissingSlot LineGap::Slot(int64_t m) const {
  const double at = static_cast<double>(from) + static_cast<double>(to - from) *
                                                    static_cast<double>(m) /
                                                    static_cast<double>(periods);
  return {first_grid + m, record, at};
}

std::optional<MissingSlot> LinePulses::NearestMissing(double t) const {
  if (gaps.empty()) return std::nullopt;
  // The gap that starts last at or before t, and the one after it.
  const auto it = std::upper_bound(gaps.begin(), gaps.end(), t, [](double x, const LineGap& g) {
    return x < static_cast<double>(g.from);
  });
  std::optional<MissingSlot> best;
  for (auto g = it == gaps.begin() ? it : it - 1; g != gaps.end() && g <= it; ++g) {
    const double step = static_cast<double>(g->to - g->from) / static_cast<double>(g->periods);
    const double m = std::round((t - static_cast<double>(g->from)) / step);
    const MissingSlot slot =
        g->Slot(static_cast<int64_t>(std::clamp(m, 1.0, static_cast<double>(g->periods - 1))));
    if (!best || std::abs(slot.stamp - t) < std::abs(best->stamp - t)) best = slot;
  }
  return best;
}

int64_t LinePulses::MissingPulses() const {
  int64_t n = 0;
  for (const LineGap& g : gaps) n += g.periods - 1;
  return n;
}

LinePulses SortLine(std::span<const int64_t> stamps) {
  LinePulses line;
  if (stamps.empty()) return line;
  std::vector<int64_t> intervals;
  intervals.reserve(stamps.size());
  for (size_t i = 1; i < stamps.size(); ++i) intervals.push_back(stamps[i] - stamps[i - 1]);
  const PulseTrain train = BuildPulseTrain(intervals);
  line.period = train.period;
  line.ambiguous = train.ambiguous;
  if (train.stamp.empty()) {  // no period: the one pulse there is
    line.records.push_back(0);
    line.stamps.push_back(stamps.front());
    line.grid.push_back(0);
    return line;
  }
  PlaceRecords(stamps, train, line);
  KeepTheBetterOfClosePulses(line);
  TakeOffPulsesBetweenTheirNeighbours(line);
  SortExtras(line);
  FindGaps(line);
  // The line's mean period over its grid, as the train's tau0 is taken: the rule's own period
  // also sums an interval that ended at a kept extra pulse, which the swap above has undone.
  if (line.grid.back() > 0)
    line.period = {line.stamps.back() - line.stamps.front(), line.grid.back()};
  return line;
}

double ChannelPairing::PartnerTime(double t, double phase_deg) const {
  const double offset = phase_deg / 360.0 * ch1.LocalPeriod(t);
  return ch2_faster ? t + offset : t - offset;
}

double ChannelPairing::Seconds(double t) const {
  return (t - static_cast<double>(origin)) * common::kTickSeconds;
}

ChannelPairing PairChannels(std::span<const int64_t> ch1, std::span<const int64_t> ch2) {
  ChannelPairing p;
  if (ch1.size() < 2 || ch2.size() < 2) return p;
  const double f1 = MeanFrequency(ch1);
  const double f2 = MeanFrequency(ch2);
  if (f1 <= 0 || f2 <= 0) return p;
  p.ratio = f2 / f1;
  p.ch1 = SortLine(ch1);
  p.ch2 = SortLine(ch2);
  if (!p.ch1.period.Valid() || !p.ch2.period.Valid()) return p;
  const auto [low1, high1] = std::minmax_element(ch1.begin(), ch1.end());
  const auto [low2, high2] = std::minmax_element(ch2.begin(), ch2.end());
  p.origin = std::min(*low1, *low2);
  p.span_from = std::max(*low1, *low2);
  p.span_to = std::min(*high1, *high2);
  if (!SetMultiple(p)) {
    p.multiple = 0;
    p.ch2_faster = false;
    p.status = PairingStatus::kRatioNotWhole;
    return p;
  }
  p.status = PairingStatus::kPaired;
  p.expected_phase_deg = ExpectedPhase(p);
  const double circle = p.CircleDeg();
  p.search_phase_deg = std::abs(p.expected_phase_deg) <= circle * 3 / 8 ? 0 : circle / 2;
  MatchPulses(p);
  p.paired =
      std::count_if(p.pairs.begin(), p.pairs.end(), [](const PulsePair& x) { return x.judged; });
  p.phase = Figures(p);
  return p;
}

}  // namespace analysis
