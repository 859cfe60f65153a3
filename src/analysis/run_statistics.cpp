#include "analysis/run_statistics.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>

#include "analysis/edf.h"
#include "common/ticks.h"

namespace analysis {
namespace {

constexpr size_t kRingStart = 1024;

bool Has(int64_t stamp) { return stamp != kNoPulse; }

}  // namespace

RunStatistics::RunStatistics(int deepest_octave)
    : deepest_octave_(std::clamp(deepest_octave, 0, kDeepestOctave)),
      // Room for the 3 m + 1 latest points the deepest factor needs.
      ring_limit_(size_t{1} << (deepest_octave_ + 2)) {
  held_.reserve(kNominalIntervals);
}

void RunStatistics::AddWord(int64_t delta) {
  ++words_;
  if (words_ == 1) return;  // the time before the run
  if (words_ == 2) {
    first_interval_ = delta;
    min_ = max_ = delta;
    min_word_ = max_word_ = words_;
  } else if (delta < min_) {
    min_ = delta;
    min_word_ = words_;
  } else if (delta > max_) {
    max_ = delta;
    max_word_ = words_;
  }
  sum_ += delta;
  const __int128 shifted = static_cast<__int128>(delta) - first_interval_;
  shifted_sum_ += shifted;
  shifted_sum2_ += shifted * shifted;

  if (no_train_) return;
  if (!fixed_) {
    held_.push_back(delta);
    if (static_cast<int64_t>(held_.size()) >= kNominalIntervals) FixNominal();
    return;
  }
  Merge(delta);
}

void RunStatistics::FixNominal() {
  fixed_ = true;
  if (held_.empty() || (nominal_ = NominalInterval(held_)).twice <= 0) {
    no_train_ = true;
    held_ = {};
    return;
  }
  // The MTIE levels need their tau0 before the first point enters: the mean period of the
  // intervals held, merged and placed on the grid as they are about to be.
  std::vector<int64_t> merged = held_;
  MergeExtraPulses(merged, nominal_);
  int64_t k = 0, t = 0;
  for (int64_t d : merged) {
    k += SpannedPeriods(d, nominal_);
    t += d;
  }
  if (k > 0) {
    ref_t_ = t;
    ref_k_ = k;
  } else {
    ref_t_ = nominal_.twice;
    ref_k_ = 2;
  }
  for (int p = 0; p <= deepest_octave_; ++p) {
    Octave o;
    o.m = int64_t{1} << p;
    o.step_offset = static_cast<int64_t>(static_cast<__int128>(o.m) * nominal_.twice / 2);
    octaves_.push_back(std::move(o));
  }
  ring_.assign(std::min(kRingStart, ring_limit_), kNoPulse);
  ring_mask_ = ring_.size() - 1;
  AddPoint(0);
  std::vector<int64_t> held;
  held.swap(held_);
  for (int64_t d : held) Merge(d);
}

void RunStatistics::Merge(int64_t interval) {
  if (carrying_) {
    interval += carry_;
    ++extra_;
  }
  carrying_ = IsShort(interval, nominal_);
  if (carrying_) {
    carry_ = interval;
  } else {
    Place(interval);
  }
}

void RunStatistics::Place(int64_t interval) {
  const int64_t r = SpannedPeriods(interval, nominal_);
  for (int64_t i = 1; i < r; ++i) AddPoint(kNoPulse);
  missing_ += r - 1;
  last_stamp_ += interval;
  AddPoint(last_stamp_);
}

__int128 RunStatistics::Level(int64_t k) const {
  return static_cast<__int128>(ref_k_) * Stamp(k) - static_cast<__int128>(k) * ref_t_;
}

void RunStatistics::AddPoint(int64_t stamp) {
  const int64_t j = ++last_index_;
  if (static_cast<size_t>(j) > ring_mask_ && ring_.size() < ring_limit_) {
    // Every index so far is still held: lay them out again for the wider mask.
    std::vector<int64_t> wider(ring_.size() * 2, kNoPulse);
    for (int64_t k = 0; k < j; ++k) wider[static_cast<size_t>(k) & (wider.size() - 1)] = Stamp(k);
    ring_.swap(wider);
    ring_mask_ = ring_.size() - 1;
  }
  ring_[static_cast<size_t>(j) & ring_mask_] = stamp;
  if (!Has(stamp)) last_missing_ = j;
  if (Has(stamp) && j >= 2 * ref_k_) Rebase(j, stamp);
  const __int128 level = Has(stamp) ? Level(j) : 0;
  for (Octave& o : octaves_) Step(o, j, level);
}

void RunStatistics::Rebase(int64_t j, int64_t stamp) {
  const long double old_k = static_cast<long double>(ref_k_);
  ref_t_ = stamp;
  ref_k_ = j;
  // The windows still open are scanned again against the new levels; the ring holds them all.
  for (Octave& o : octaves_) {
    o.earlier = std::max(o.earlier, static_cast<long double>(o.widest) / old_k);
    o.widest = 0;
    for (ExtremeQueue* q : {&o.highs, &o.lows}) {
      q->head = 0;
      q->size = 0;
      for (int64_t k = std::max<int64_t>(0, j - o.m); k < j; ++k) {
        if (Has(Stamp(k))) Slide(o, *q, k, Level(k), q == &o.highs);
      }
    }
  }
}

void RunStatistics::Slide(Octave& o, ExtremeQueue& q, int64_t j, __int128 level, bool highs) {
  const size_t cap = static_cast<size_t>(o.m) + 1;
  if (q.slots.empty()) q.slots.resize(std::min<size_t>(cap, 64));
  // Slots wrap by a compare, not a division: this runs for every octave at every point.
  const auto at = [&](size_t n) {
    const size_t pos = q.head + n;
    return pos < q.slots.size() ? pos : pos - q.slots.size();
  };
  const auto index = [&](size_t n) {  // the n-th held index from the front
    const uint32_t tag = q.slots[at(n)];
    return j - static_cast<int64_t>(static_cast<uint32_t>(static_cast<uint32_t>(j) - tag));
  };
  while (q.size > 0 && index(0) < j - o.m) {
    q.head = at(1);
    --q.size;
  }
  if (!Has(Stamp(j))) return;  // no window that holds it is used
  while (q.size > 0) {
    const __int128 back = Level(index(q.size - 1));
    if (highs ? back > level : back < level) break;
    --q.size;
  }
  if (q.size == q.slots.size()) {  // grow toward m + 1, keeping the order
    std::vector<uint32_t> grown(std::min(cap, q.slots.size() * 2));
    for (size_t n = 0; n < q.size; ++n) grown[n] = q.slots[at(n)];
    q.slots.swap(grown);
    q.head = 0;
  }
  q.slots[at(q.size)] = static_cast<uint32_t>(j);
  ++q.size;
}

void RunStatistics::Step(Octave& o, int64_t j, __int128 level) {
  const int64_t m = o.m;
  Slide(o, o.highs, j, level, true);
  Slide(o, o.lows, j, level, false);
  if (j < m) return;
  const int64_t now = Stamp(j);
  const int64_t back = Stamp(j - m);
  // The window j - m .. j: TIE step and MTIE span, when no point in it is missing.
  if (last_missing_ < j - m) {
    const __int128 a = static_cast<__int128>(now - back) - o.step_offset;
    o.tie_sum += a;
    o.tie_sum2 += a * a;
    ++o.tie_n;
    const auto slot = [](const ExtremeQueue& q) { return q.slots[q.head]; };
    const auto full = [&](uint32_t tag) {
      return j - static_cast<int64_t>(static_cast<uint32_t>(static_cast<uint32_t>(j) - tag));
    };
    o.widest = std::max(o.widest, Level(full(slot(o.highs))) - Level(full(slot(o.lows))));
  }
  if (j < 2 * m) return;
  // The second difference that ends at j, started at i = j - 2m.
  const int64_t first = Stamp(j - 2 * m);
  const bool defined = Has(now) && Has(back) && Has(first);
  const int64_t d2 = defined ? (now - back) - (back - first) : 0;
  if (defined) o.oadev.Add(d2);
  // MDEV: the sum of the last m second differences, i = j - 2m back to j - 3m + 1.
  const int64_t i = j - 2 * m;
  if (defined) {
    o.window += d2;
  } else {
    ++o.gaps;
  }
  if (i >= m) {
    const int64_t a = Stamp(i - m), b = Stamp(i), c = Stamp(i + m);
    if (Has(a) && Has(b) && Has(c)) {
      o.window -= (c - b) - (b - a);
    } else {
      --o.gaps;
    }
  }
  if (i + 1 >= m && o.gaps == 0) o.mdev.Add(o.window);
}

std::vector<StabilityRow> RunStatistics::Rows(
    const std::function<std::optional<int>(int64_t m)>& noise) const {
  std::vector<StabilityRow> rows;
  const int64_t k_last = last_index_;
  if (k_last < 1) return rows;
  const int64_t t_last = last_stamp_;
  // The same steps as the batch table, so the figures agree to the last digits.
  const double tau0_s =
      static_cast<double>(t_last) / static_cast<double>(k_last) * common::kTickSeconds;
  const long double unit = common::kTickSeconds;
  const auto dev = [&](const Squares& s, long double scale, long double tau) {
    return static_cast<double>(std::sqrt(s.Sum() / (scale * static_cast<long double>(s.n))) * unit /
                               tau);
  };
  std::vector<int64_t> factors = OctaveFactors(k_last);
  std::erase_if(factors, [&](int64_t m) { return m > (int64_t{1} << deepest_octave_); });
  for (Deviation deviation : kRunDeviations) {
    for (int64_t m : factors) {
      const Octave& o = octaves_[static_cast<size_t>(std::countr_zero(static_cast<uint64_t>(m)))];
      const double tau = static_cast<double>(m) * tau0_s;
      const long double mm = static_cast<long double>(m);
      StabilityRow row{deviation, m, tau, 0, std::nullopt, 0, std::nullopt, std::nullopt};
      switch (deviation) {
        case Deviation::kOadev:
          row.n = o.oadev.n;
          if (row.n) row.value = dev(o.oadev, 2, tau);
          break;
        case Deviation::kMdev:
        case Deviation::kTdev:
          row.n = o.mdev.n;
          if (row.n) row.value = dev(o.mdev, 2 * mm * mm, tau);
          if (deviation == Deviation::kTdev) row.value = tau * row.value / std::sqrt(3.0);
          break;
        case Deviation::kTieRms: {
          row.n = o.tie_n;
          if (!row.n) break;
          // Steps a = (t(i+m) - t(i) - offset) against m tau0 = whole + fraction ticks: taken
          // about the whole part exactly, the fraction below one tick in extended precision.
          const __int128 span = static_cast<__int128>(m) * t_last;
          const __int128 whole = span / k_last;
          const long double fraction =
              static_cast<long double>(span % k_last) / static_cast<long double>(k_last);
          const __int128 shift = whole - o.step_offset;
          const __int128 n = o.tie_n;
          const __int128 sum_b = o.tie_sum - n * shift;
          const __int128 sum_b2 = o.tie_sum2 - 2 * shift * o.tie_sum + n * shift * shift;
          const long double nn = static_cast<long double>(n);
          const long double mean_sq =
              (static_cast<long double>(sum_b2) - 2 * fraction * static_cast<long double>(sum_b) +
               nn * fraction * fraction) /
              nn;
          row.value =
              static_cast<double>(std::sqrt(std::max(mean_sq, 0.0L))) * common::kTickSeconds;
          break;
        }
        case Deviation::kMtie:
          row.n = o.tie_n;
          // The batch figure's steps where tau0 never changed, so short runs agree exactly.
          row.value = o.earlier > 0
                          ? static_cast<double>(
                                std::max(o.earlier, static_cast<long double>(o.widest) / ref_k_) *
                                common::kTickSeconds)
                          : static_cast<double>(o.widest) / static_cast<double>(ref_k_) *
                                common::kTickSeconds;
          break;
        default:
          break;
      }
      if (row.n < 1) continue;
      row.alpha = noise ? noise(m) : std::nullopt;
      const bool modified = deviation == Deviation::kMdev || deviation == Deviation::kTdev;
      const bool allan = modified || deviation == Deviation::kOadev;
      if (row.alpha && allan && row.value > 0) {
        const std::optional<double> edf =
            EquivalentDegreesOfFreedom(EdfQuery{*row.alpha, 2, m, k_last + 1, true, modified});
        if (edf) {
          const Bounds b = DeviationBounds(row.value, *edf);
          row.min = b.min;
          row.max = b.max;
        }
      }
      rows.push_back(row);
    }
  }
  return rows;
}

RunSummary RunStatistics::Summary(const std::function<std::optional<int>(int64_t m)>& noise) const {
  if (!fixed_ && !held_.empty()) {
    // A run still short of the nominal's intervals: its nominal is the median of what there is.
    RunStatistics whole = *this;
    whole.FixNominal();
    return whole.Summary(noise);
  }
  RunSummary s;
  s.words = words_;
  s.intervals = std::max<int64_t>(words_ - 1, 0);
  s.lost_words = lost_words_;
  s.extra_pulses = extra_ + (carrying_ ? 1 : 0);
  s.missing_pulses = missing_;
  s.instrument_seconds = static_cast<double>(sum_) * common::kTickSeconds;
  s.mean_rate = s.instrument_seconds > 0 ? static_cast<double>(words_) / s.instrument_seconds
                                         : std::numeric_limits<double>::quiet_NaN();
  if (s.intervals > 0) {
    const long double n = static_cast<long double>(s.intervals);
    const long double shifted_mean = static_cast<long double>(shifted_sum_) / n;
    const long double var =
        static_cast<long double>(shifted_sum2_) / n - shifted_mean * shifted_mean;
    s.min_interval = min_;
    s.min_interval_word = min_word_;
    s.max_interval = max_;
    s.max_interval_word = max_word_;
    s.mean_interval = static_cast<double>(static_cast<long double>(sum_) / n);
    s.std_interval = static_cast<double>(std::sqrt(std::max(var, 0.0L)));
    s.pp_ticks = max_ - min_;
    s.pp_pct = static_cast<double>(s.pp_ticks) / s.mean_interval * 100.0;
  }
  if (!no_train_) s.stability = Rows(noise);
  return s;
}

size_t RunStatistics::HeldBytes() const {
  size_t bytes = held_.capacity() * sizeof(int64_t) + ring_.capacity() * sizeof(int64_t) +
                 octaves_.capacity() * sizeof(Octave);
  for (const Octave& o : octaves_) {
    bytes += (o.highs.slots.capacity() + o.lows.slots.capacity()) * sizeof(uint32_t);
  }
  return bytes;
}

persistence::RunSummaryRecord SummaryRecord(const RunSummary& summary,
                                            std::chrono::system_clock::time_point start,
                                            std::chrono::system_clock::time_point stop,
                                            std::optional<std::string> ended_early) {
  persistence::RunSummaryRecord r;
  r.start = start;
  r.stop = stop;
  r.words = summary.words;
  r.instrument_seconds = summary.instrument_seconds;
  r.mean_rate = summary.mean_rate;
  r.lost_words = summary.lost_words;
  r.missing_pulses = summary.missing_pulses;
  r.extra_pulses = summary.extra_pulses;
  r.min_interval = summary.min_interval;
  r.min_interval_word = summary.min_interval_word;
  r.max_interval = summary.max_interval;
  r.max_interval_word = summary.max_interval_word;
  r.mean_interval = summary.mean_interval;
  r.std_interval = summary.std_interval;
  r.pp_ticks = summary.pp_ticks;
  r.pp_pct = summary.pp_pct;
  r.ended_early = std::move(ended_early);
  for (const StabilityRow& row : summary.stability) {
    r.stability.push_back({std::string(DeviationName(row.deviation)), row.m, row.tau_s, row.n,
                           row.alpha, row.value, row.min, row.max});
  }
  return r;
}

}  // namespace analysis
