#include "analysis/run_statistics.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <deque>
#include <limits>

#include "analysis/edf.h"
#include "common/ticks.h"

namespace analysis {
namespace {

constexpr size_t kRingStart = 1024;
constexpr int kMaxStages = 64;
// Factors 2^0 .. 2^62: every octave a run of 64-bit indices can reach.
constexpr size_t kNoiseFactors = 63;
constexpr double kInfinity = std::numeric_limits<double>::infinity();

// The stamp of a grid index without a pulse.
constexpr int64_t kNoPulse = std::numeric_limits<int64_t>::min();

bool Has(int64_t stamp) { return stamp != kNoPulse; }

int DeepPointsOctave(int deepest_octave) { return std::min(kDeepPointsOctave, deepest_octave); }

}  // namespace

RunStatistics::RunStatistics(int deepest_octave)
    : deepest_octave_(std::clamp(deepest_octave, 0, kDeepestOctave)),
      // Room for the 3 m + 1 latest points the deepest factor needs.
      ring_limit_(size_t{1} << (deepest_octave_ + 2)),
      noise_(kNoiseFactors) {
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
  Placer placer{this};
  indexer_.Add(delta, placer);
}

void RunStatistics::FixNominal() {
  fixed_ = true;
  // The period and the pulses of the intervals held are the batch rule's on them.
  const PulseTrain first = BuildPulseTrain(held_);
  if (!first.period.Valid()) {
    no_train_ = true;
    held_ = {};
    return;
  }
  PulseIndexer counter(first.period, PeriodSums{});
  Placer none{nullptr};
  for (int64_t d : held_) counter.Add(d, none);
  counter.Finish(none);
  settled_ = counter.Sums().Ratio().Same(first.period);
  indexer_ = PulseIndexer(first.period, counter.Sums());
  base_ = first.period.sum / first.period.count;
  // The MTIE levels need their tau0 before the first point enters: the mean period of the
  // intervals held, placed on the grid as they are about to be.
  if (!first.Empty()) {
    ref_t_ = first.LastStamp();
    ref_k_ = first.LastIndex();
  } else {
    ref_t_ = first.period.sum;
    ref_k_ = first.period.count;
  }
  for (int p = 0; p <= deepest_octave_; ++p) {
    Octave o;
    o.m = int64_t{1} << p;
    o.step_offset = o.m * base_;
    octaves_.push_back(std::move(o));
  }
  grid_.ring.assign(std::min(kRingStart, ring_limit_), kNoPulse);
  grid_.mask = grid_.ring.size() - 1;
  AddPoint(0);
  std::vector<int64_t> held;
  held.swap(held_);
  Placer placer{this};
  for (int64_t d : held) indexer_.Add(d, placer);
  // From here on each interval is judged by the one-period intervals before it.
  indexer_.FollowOwnSums();
}

void RunStatistics::Placer::Pulse(int64_t periods, int64_t stamp) {
  if (!run) return;
  if (periods > 1) run->AddGap(periods - 1);
  run->last_stamp_ = stamp;
  run->AddPoint(stamp);
}

__int128 RunStatistics::Level(const Grid& g, int64_t k) const {
  return static_cast<__int128>(ref_k_) * g.Stamp(k) - static_cast<__int128>(k) * g.stride * ref_t_;
}

// Index j is about to be written: while the ring is short of its limit, every index so far is
// still held, so they are laid out again for a wider mask.
void RunStatistics::Grow(int64_t j) {
  Grid& g = grid_;
  size_t size = g.ring.size();
  while (static_cast<size_t>(j) > size - 1 && size < ring_limit_) size *= 2;
  if (size == g.ring.size()) return;
  std::vector<int64_t> wider(size, kNoPulse);
  const int64_t oldest = std::max<int64_t>(0, j - static_cast<int64_t>(size) + 1);
  for (int64_t k = oldest; k <= g.last && k < j; ++k)
    wider[static_cast<size_t>(k) & (size - 1)] = g.Stamp(k);
  g.ring.swap(wider);
  g.mask = g.ring.size() - 1;
}

void RunStatistics::AddPoint(int64_t stamp) {
  Grid& g = grid_;
  const int64_t j = g.last + 1;
  Grow(j);
  g.last = j;
  g.ring[static_cast<size_t>(j) & g.mask] = stamp;
  if (!Has(stamp)) g.last_missing = j;
  if (Has(stamp)) {
    const int multiple_of =
        j == 0 ? static_cast<int>(kNoiseFactors) - 1 : std::countr_zero(static_cast<uint64_t>(j));
    for (int p = 0; p <= multiple_of; ++p) noise_[static_cast<size_t>(p)].Add(j, stamp);
  }
  if (Has(stamp) && j >= 2 * ref_k_) Rebase(j, stamp);
  Spans(j, stamp);
  for (Octave& o : octaves_) {
    Step(g, o, j, 0, false);
    ModifiedStep(o, j);
  }
  Decimate(j, stamp);
}

// ---- A gap of any length costs about as much as the widest window's points ----
//
// Once the widest window of a grid holds no pulse, a further missing point changes nothing but
// the counts of the index and of the MDEV terms that touch a gap, and the place in the rings: the
// first points of a gap go through the figures one by one, the rest are counted at once.

// MDEV terms of the missing points `from` + 1 .. `to` that touch a gap and whose window has yet
// to lose one: second differences start at i = j - 2m, and a window drops one from i >= m.
void RunStatistics::CountGapTerms(Octave& o, int64_t from, int64_t to) {
  const int64_t lo = std::max(from + 1, 2 * o.m);
  const int64_t hi = std::min(to, 3 * o.m - 1);
  if (hi >= lo) o.gaps += hi - lo + 1;
}

void RunStatistics::AddGap(int64_t count) {
  Grid& g = grid_;
  const int64_t start = g.last;
  const int64_t widest = octaves_.back().m;
  const int64_t each = std::min(count, 2 * widest + 1);
  size_t from = 0;  // octaves below have every window in the gap already
  for (int64_t n = 1; n <= each; ++n) {
    const int64_t j = g.last + 1;
    Grow(j);
    g.last = j;
    g.ring[static_cast<size_t>(j) & g.mask] = kNoPulse;
    g.last_missing = j;
    while (from < octaves_.size() && 2 * octaves_[from].m + 1 < n) ++from;
    Spans(j, kNoPulse, from);
    for (Octave& o : octaves_) {
      if (n > o.m + 1) continue;
      Step(g, o, j, 0, false);
      ModifiedStep(o, j);
    }
  }
  const int64_t end = start + count;
  for (Octave& o : octaves_) {
    CountGapTerms(o, start + std::min(count, o.m + 1), end);
    const int64_t skipped = count - std::min(count, 2 * o.m + 1);
    if (skipped > 0 && !o.highest.empty()) {
      o.slot = static_cast<size_t>((static_cast<int64_t>(o.slot) + skipped) %
                                   static_cast<int64_t>(o.highest.size()));
    }
  }
  if (end > g.last) {
    Grow(end);
    const int64_t first = std::max(g.last + 1, end - static_cast<int64_t>(g.ring.size()) + 1);
    for (int64_t k = first; k <= end; ++k) g.ring[static_cast<size_t>(k) & g.mask] = kNoPulse;
    g.last = end;
    g.last_missing = end;
  }
  DecimateGap(count);
}

// `count` missing points into the stages: each stage pairs them, so it hands on half as many,
// and at most one pair of a stage holds a pulse (one waiting from before the gap).
void RunStatistics::DecimateGap(int64_t count) {
  const Entry missing{kNoPulse, Block{}, true};
  std::optional<Entry> first;
  for (size_t i = 0; i < static_cast<size_t>(kMaxStages) && (first || count > 0); ++i) {
    Stage& st = StageAt(i);
    std::optional<Entry> out;
    if (first) {
      Entry e = *first;
      if (Pair(st, e)) out = e;
    }
    if (count > 0 && st.half) {
      Entry e = missing;
      Pair(st, e);
      out = e;
      --count;
    }
    const int64_t pairs = count / 2;
    if (count % 2 == 1) {
      st.half = true;
      st.point = missing.point;
      st.block = missing.block;
      st.gap = true;
    }
    if (st.hosts && pairs > 0) EnterMissing(st, pairs);
    first = out;
    count = pairs;
  }
}

void RunStatistics::EnterMissing(Stage& st, int64_t count) {
  Grid& g = st.grid;
  const int64_t each = std::min(count, st.octave.m + 1);
  for (int64_t n = 0; n < each; ++n) Enter(st, kNoPulse, Block{}, true);
  const int64_t rest = count - each;
  if (rest == 0) return;
  const int64_t end = g.last + rest;
  const int64_t first = std::max(g.last + 1, end - static_cast<int64_t>(g.ring.size()) + 1);
  for (int64_t k = first; k <= end; ++k) {
    g.ring[static_cast<size_t>(k) & g.mask] = kNoPulse;
    st.blocks[static_cast<size_t>(k) & g.mask] = Block{};
  }
  g.last = end;
  g.last_missing = end;
  st.last_gap = end;
}

// ---- The stages of the deep factors ----

RunStatistics::Stage& RunStatistics::StageAt(size_t i) {
  if (i < stages_.size()) return stages_[i];
  Stage st;
  st.pair_points = int64_t{1} << i;
  // The stage whose blocks are s = 2^(i + 1) points long serves the factor s * 2^q.
  const int q = DeepPointsOctave(deepest_octave_);
  const int64_t m = int64_t{1} << q;
  st.hosts = static_cast<int>(i) + 1 + q > deepest_octave_ && static_cast<int>(i) + 1 + q < 63;
  if (st.hosts) {
    st.grid.stride = int64_t{2} << i;
    st.grid.ring.assign(static_cast<size_t>(4 * m), kNoPulse);
    st.grid.mask = st.grid.ring.size() - 1;
    st.blocks.assign(st.grid.ring.size(), Block{});
    st.octave.m = m;
    st.octave.step_offset = static_cast<int64_t>(static_cast<__int128>(st.grid.stride) * m * base_);
  }
  stages_.push_back(std::move(st));
  return stages_.back();
}

// The stage takes one entry: the first of a pair waits; the second completes the pair, which
// is entered on the stage's grid and handed on in `e`. True when a pair was completed.
bool RunStatistics::Pair(Stage& st, Entry& e) {
  if (!st.half) {
    st.half = true;
    st.point = e.point;
    st.block = e.block;
    st.gap = e.gap;
    return false;
  }
  st.half = false;
  const Block block{st.block.phase + e.block.phase,
                    st.block.offsets + e.block.offsets + e.block.count * st.pair_points,
                    st.block.count + e.block.count};
  e = {st.point, block, e.gap || st.gap};
  if (st.hosts) Enter(st, e.point, e.block, e.gap);
  return true;
}

void RunStatistics::Decimate(int64_t j, int64_t stamp) {
  const Block point =
      Has(stamp) ? Block{static_cast<__int128>(stamp) - static_cast<__int128>(j) * base_, 0, 1}
                 : Block{};
  Entry e{stamp, point, !Has(stamp)};
  // Each stage passes on every other block; O(1) per point over all stages.
  for (size_t i = 0; i < static_cast<size_t>(kMaxStages); ++i) {
    if (!Pair(StageAt(i), e)) return;
  }
}

void RunStatistics::Enter(Stage& st, int64_t point, const Block& block, bool gap) {
  Grid& g = st.grid;
  const int64_t k = ++g.last;
  g.ring[static_cast<size_t>(k) & g.mask] = point;
  st.blocks[static_cast<size_t>(k) & g.mask] = block;
  // A TIE window k - m .. k spans the points of blocks k - m .. k - 1 and point k.
  g.last_missing = Has(point) ? std::max(g.last_missing, st.last_gap) : k;
  if (gap) st.last_gap = k;
  Step(g, st.octave, k, Has(point) ? Level(g, k) : 0, true);
  BlockTerm(st, k);
}

// The MDEV term of a deep factor whose last block is k, over the M second differences of its
// blocks (M = the octave's m, each block s points): s times the second difference of the three
// blocks' mean phases, the phase averages the full MDEV takes, where each of the three holds at
// least half of its points; their mean, scaled to M, where at least half of the M do. Blocks
// with every point present give the exact integer sum of their stamps' second differences, the
// batch's own term at that start; a block with missing points gives the mean of the points it
// has, which depends on tau0: u - d v with d = tau0 - base_ (the index part of the mean).
// O(M) per block; a stage enters one block every s points.
void RunStatistics::BlockTerm(Stage& st, int64_t k) {
  Octave& o = st.octave;
  const int64_t m = o.m;
  const int64_t i = k - 3 * m + 1;
  if (i < 0) return;
  const int64_t s = st.grid.stride;
  const auto at = [&](int64_t b) -> const Block& {
    return st.blocks[static_cast<size_t>(b) & st.grid.mask];
  };
  const auto second = [s](long double a, long double b, long double c) {
    return static_cast<long double>(s) * ((c - b) - (b - a));
  };
  __int128 exact = 0;
  long double u = 0, v = 0;
  int64_t present = 0, whole = 0;
  for (int64_t b = i; b < i + m; ++b) {
    const Block* three[] = {&at(b), &at(b + m), &at(b + 2 * m)};
    if (std::ranges::any_of(three, [s](const Block* x) { return 2 * x->count < s; })) continue;
    ++present;
    if (std::ranges::all_of(three, [s](const Block* x) { return x->count == s; })) {
      exact += (three[2]->phase - three[1]->phase) - (three[1]->phase - three[0]->phase);
      ++whole;
      continue;
    }
    long double phase[3], offset[3];
    for (int n = 0; n < 3; ++n) {
      const long double count = static_cast<long double>(three[n]->count);
      phase[n] = static_cast<long double>(three[n]->phase) / count;
      offset[n] = static_cast<long double>(three[n]->offsets) / count;
    }
    u += second(phase[0], phase[1], phase[2]);
    v += second(offset[0], offset[1], offset[2]);
  }
  if (2 * present < m) return;
  if (whole == m) return o.mdev.Add(exact);
  const long double scale = static_cast<long double>(m) / static_cast<long double>(present);
  const long double su = (static_cast<long double>(exact) + u) * scale, sv = v * scale;
  o.mdev_uu += su * su;
  o.mdev_uv += su * sv;
  o.mdev_vv += sv * sv;
  ++o.mdev.n;
}

void RunStatistics::Rescan(const Grid& g, Octave& o, int64_t j, long double old_k) {
  o.earlier = std::max(o.earlier, static_cast<long double>(o.widest) / old_k);
  o.widest = 0;
  for (ExtremeQueue* q : {&o.highs, &o.lows}) {
    q->head = 0;
    q->size = 0;
    for (int64_t k = std::max<int64_t>(0, j - o.m); k < j; ++k) {
      if (Has(g.Stamp(k))) Slide(g, o, *q, k, Level(g, k), q == &o.highs);
    }
  }
}

double RunStatistics::Phase(int64_t k) const {
  if (!Has(grid_.Stamp(k))) return std::numeric_limits<double>::quiet_NaN();
  return static_cast<double>(static_cast<long double>(Level(grid_, k)) /
                             static_cast<long double>(ref_k_));
}

// A window of m + 1 points ending at j is the two of m / 2 + 1 points ending at j and at
// j - m / 2, so each factor takes its extremes from the one below: two reads and two compares
// per factor and point, where a queue per factor cost several times that.
void RunStatistics::Spans(int64_t j, int64_t stamp, size_t from) {
  const double phase = Has(stamp) ? Phase(j) : std::numeric_limits<double>::quiet_NaN();
  double high = std::isnan(phase) ? -kInfinity : phase;
  double low = std::isnan(phase) ? kInfinity : phase;
  if (!std::isnan(last_phase_) && j > 0) {
    high = std::max(high, last_phase_);
    low = std::min(low, last_phase_);
  }
  last_phase_ = phase;
  for (size_t p = from; p < octaves_.size(); ++p) {
    Octave& o = octaves_[p];
    if (p > 0 && !octaves_[p - 1].highest.empty()) {
      // Its oldest slot: the window ending at j - m / 2.
      const Octave& below = octaves_[p - 1];
      high = std::max(high, below.highest[below.slot]);
      low = std::min(low, below.lowest[below.slot]);
    }
    // The factor above takes its windows from these; it needs none that ended before point m,
    // so they are held from there on and a short run holds few.
    if (o.highest.empty() && j >= o.m && p + 1 < octaves_.size()) {
      o.highest.assign(static_cast<size_t>(o.m) + 1, -kInfinity);
      o.lowest.assign(static_cast<size_t>(o.m) + 1, kInfinity);
    }
    if (!o.highest.empty()) {
      o.highest[o.slot] = high;
      o.lowest[o.slot] = low;
      o.slot = o.slot + 1 == o.highest.size() ? 0 : o.slot + 1;
    }
    if (j >= o.m && grid_.last_missing < j - o.m) o.span = std::max(o.span, high - low);
  }
}

// tau0 changed: the windows that end at the points before j are taken again with the new
// phases, each by a sliding-window sweep over the points it spans.
void RunStatistics::Refill(int64_t j) {
  last_phase_ = j > 0 ? Phase(j - 1) : std::numeric_limits<double>::quiet_NaN();
  struct Held {
    int64_t k;
    double phase;
  };
  std::deque<Held> highs, lows;
  for (Octave& o : octaves_) {
    if (o.highest.empty()) continue;
    const int64_t size = static_cast<int64_t>(o.highest.size());  // m + 1
    const int64_t first = j - size;                               // the oldest window's end
    highs.clear();
    lows.clear();
    for (int64_t k = std::max<int64_t>(0, first - o.m); k < j; ++k) {
      while (!highs.empty() && highs.front().k < k - o.m) highs.pop_front();
      while (!lows.empty() && lows.front().k < k - o.m) lows.pop_front();
      const double phase = Phase(k);
      if (!std::isnan(phase)) {
        while (!highs.empty() && highs.back().phase <= phase) highs.pop_back();
        while (!lows.empty() && lows.back().phase >= phase) lows.pop_back();
        highs.push_back({k, phase});
        lows.push_back({k, phase});
      }
      if (k < first) continue;
      const size_t at = static_cast<size_t>((static_cast<int64_t>(o.slot) + size - (j - k)) % size);
      o.highest[at] = highs.empty() ? -kInfinity : highs.front().phase;
      o.lowest[at] = lows.empty() ? kInfinity : lows.front().phase;
    }
    for (int64_t k = first; k < 0; ++k) {  // windows ending before the first point
      const size_t at = static_cast<size_t>((static_cast<int64_t>(o.slot) + size - (j - k)) % size);
      o.highest[at] = -kInfinity;
      o.lowest[at] = kInfinity;
    }
  }
}

void RunStatistics::Rebase(int64_t j, int64_t stamp) {
  const long double old_k = static_cast<long double>(ref_k_);
  ref_t_ = stamp;
  ref_k_ = j;
  // The windows still open are scanned again against the new levels; the rings hold them all.
  Refill(j);
  for (Stage& st : stages_) {
    if (st.hosts && st.grid.last >= 0) Rescan(st.grid, st.octave, st.grid.last + 1, old_k);
  }
}

void RunStatistics::Slide(const Grid& g, Octave& o, ExtremeQueue& q, int64_t j, __int128 level,
                          bool highs) {
  const size_t cap = static_cast<size_t>(o.m) + 1;
  if (q.tags.empty()) q.tags.resize(std::min<size_t>(cap, 64));
  // Slots wrap by a compare, not a division: this runs for every octave at every point.
  const auto at = [&](size_t n) {
    const size_t pos = q.head + n;
    return pos < q.tags.size() ? pos : pos - q.tags.size();
  };
  const auto index = [&](size_t n) {  // the n-th held index from the front
    const uint32_t tag = q.tags[at(n)];
    return j - static_cast<int64_t>(static_cast<uint32_t>(static_cast<uint32_t>(j) - tag));
  };
  while (q.size > 0 && index(0) < j - o.m) {
    q.head = at(1);
    --q.size;
  }
  if (!Has(g.Stamp(j))) return;  // no window that holds it is used
  while (q.size > 0) {
    const __int128 back = Level(g, index(q.size - 1));
    if (highs ? back > level : back < level) break;
    --q.size;
  }
  if (q.size == q.tags.size()) {  // grow toward m + 1, keeping the order
    std::vector<uint32_t> grown(std::min(cap, q.tags.size() * 2));
    for (size_t n = 0; n < q.size; ++n) grown[n] = q.tags[at(n)];
    q.tags.swap(grown);
    q.head = 0;
  }
  q.tags[at(q.size)] = static_cast<uint32_t>(j);
  ++q.size;
}

void RunStatistics::Step(const Grid& g, Octave& o, int64_t j, __int128 level, bool queues) {
  const int64_t m = o.m;
  if (queues) {
    Slide(g, o, o.highs, j, level, true);
    Slide(g, o, o.lows, j, level, false);
  }
  if (j < m) return;
  const int64_t now = g.Stamp(j);
  const int64_t back = g.Stamp(j - m);
  // The window j - m .. j: the TIE step when both ends are present, the MTIE span when no point
  // in it is missing.
  if (Has(now) && Has(back)) {
    const __int128 a = static_cast<__int128>(now - back) - o.step_offset;
    o.tie_sum += a;
    o.tie_sum2 += a * a;
    ++o.tie_n;
  }
  if (g.last_missing < j - m) {
    ++o.mtie_n;
    if (queues) {
      const auto slot = [](const ExtremeQueue& q) { return q.tags[q.head]; };
      const auto full = [&](uint32_t tag) {
        return j - static_cast<int64_t>(static_cast<uint32_t>(static_cast<uint32_t>(j) - tag));
      };
      o.widest = std::max(o.widest, Level(g, full(slot(o.highs))) - Level(g, full(slot(o.lows))));
    }
  }
  if (j < 2 * m) return;
  // The second difference that ends at j, started at i = j - 2m.
  const int64_t first = g.Stamp(j - 2 * m);
  if (Has(now) && Has(back) && Has(first)) o.oadev.Add((now - back) - (back - first));
}

// MDEV of a factor taken on every point, at point j: the window of the last m second
// differences, i = j - 2m back to j - 3m + 1, and its term where at least half are present, as
// the batch table takes it.
void RunStatistics::ModifiedStep(Octave& o, int64_t j) {
  const int64_t m = o.m;
  if (j < 2 * m) return;
  const auto second = [this, m](int64_t i) -> std::optional<__int128> {
    const int64_t a = grid_.Stamp(i), b = grid_.Stamp(i + m), c = grid_.Stamp(i + 2 * m);
    if (!Has(a) || !Has(b) || !Has(c)) return std::nullopt;
    return static_cast<__int128>((c - b) - (b - a));
  };
  const int64_t i = j - 2 * m;
  if (const std::optional<__int128> d2 = second(i)) {
    o.window += *d2;
  } else {
    ++o.gaps;
  }
  if (i >= m) {
    if (const std::optional<__int128> d2 = second(i - m)) {
      o.window -= *d2;
    } else {
      --o.gaps;
    }
  }
  if (i + 1 >= m && 2 * (m - o.gaps) >= m) o.mdev.AddScaled(o.window, m - o.gaps, m);
}

const RunStatistics::Octave* RunStatistics::OctaveOf(int64_t m) const {
  const int p = std::countr_zero(static_cast<uint64_t>(m));
  if (p <= deepest_octave_) return &octaves_[static_cast<size_t>(p)];
  const size_t i = static_cast<size_t>(p - DeepPointsOctave(deepest_octave_) - 1);
  return i < stages_.size() && stages_[i].hosts ? &stages_[i].octave : nullptr;
}

namespace {

// A monotonic queue of (index, level): a ring that grows to the entries it holds, which for
// noisy phase stay few however wide the window.
class LevelQueue {
 public:
  struct Entry {
    int64_t k;
    __int128 level;
  };
  bool Empty() const { return head_ == tail_; }
  const Entry& Front() const { return ring_[head_ & mask_]; }
  const Entry& Back() const { return ring_[(tail_ - 1) & mask_]; }
  void PopFront() { ++head_; }
  void PopBack() { --tail_; }
  void Clear() { head_ = tail_ = 0; }
  void Push(Entry e) {
    if (tail_ - head_ == ring_.size()) {
      std::vector<Entry> wider(ring_.size() * 2);
      for (size_t i = head_; i < tail_; ++i) wider[i - head_] = ring_[i & mask_];
      tail_ -= head_;
      head_ = 0;
      ring_.swap(wider);
      mask_ = ring_.size() - 1;
    }
    ring_[tail_++ & mask_] = e;
  }

 private:
  std::vector<Entry> ring_ = std::vector<Entry>(64);
  size_t mask_ = 63;
  size_t head_ = 0, tail_ = 0;
};

}  // namespace

std::optional<double> RunStatistics::HeldMtie(int64_t m) const {
  const int64_t k_last = grid_.last;
  if (k_last < 1 || static_cast<size_t>(k_last) >= grid_.ring.size()) return std::nullopt;
  const int64_t t_last = last_stamp_;
  // Sliding extremes over the windows k - m .. k that hold no missing point, the levels exact
  // as the batch table's, K t(k) - k T.
  LevelQueue highs, lows;
  __int128 widest = 0;
  int64_t last_missing = -1;
  for (int64_t k = 0; k <= k_last; ++k) {
    const int64_t stamp = grid_.Stamp(k);
    if (!Has(stamp)) {
      last_missing = k;
      highs.Clear();
      lows.Clear();
      continue;
    }
    const __int128 x = static_cast<__int128>(k_last) * stamp - static_cast<__int128>(k) * t_last;
    while (!highs.Empty() && highs.Back().level <= x) highs.PopBack();
    while (!lows.Empty() && lows.Back().level >= x) lows.PopBack();
    highs.Push({k, x});
    lows.Push({k, x});
    while (highs.Front().k < k - m) highs.PopFront();
    while (lows.Front().k < k - m) lows.PopFront();
    if (k - m > last_missing) widest = std::max(widest, highs.Front().level - lows.Front().level);
  }
  return static_cast<double>(widest) / static_cast<double>(k_last) * common::kTickSeconds;
}

// The noise at each factor from the whole run, with the modified-to-normal ratio of the rows
// for the B1 fallback as the batch table takes it; then the bounds it gives every row.
void RunStatistics::AddNoiseTypes(std::vector<StabilityRow>& rows) const {
  const int64_t k_last = grid_.last;
  for (int64_t m : OctaveFactors(k_last)) {
    std::optional<double> oadev, mdev;
    for (const StabilityRow& row : rows) {
      if (row.m == m && row.deviation == Deviation::kOadev) oadev = row.value;
      if (row.m == m && row.deviation == Deviation::kMdev) mdev = row.value;
    }
    std::optional<double> ratio;
    if (oadev && *oadev > 0 && mdev) ratio = std::pow(*mdev / *oadev, 2);
    const auto p = static_cast<size_t>(std::countr_zero(static_cast<uint64_t>(m)));
    const std::optional<int> alpha = noise_[p].Alpha(k_last, last_stamp_, m, ratio);
    for (StabilityRow& row : rows) {
      if (row.m != m) continue;
      row.alpha = alpha;
      row = WithBounds(row, k_last + 1);
    }
  }
}

double RunStatistics::TieRms(const Octave& o, int64_t m) const {
  const int64_t k_last = grid_.last;
  const int64_t t_last = last_stamp_;
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
  return static_cast<double>(std::sqrt(std::max(mean_sq, 0.0L))) * common::kTickSeconds;
}

long double RunStatistics::ModifiedSquares(const Octave& o) const {
  if (o.mdev_uu == 0 && o.mdev_vv == 0) return o.mdev.Sum();
  // The terms with missing points in a block, against the final tau0 less base_.
  const int64_t k_last = grid_.last;
  const long double d = static_cast<long double>(static_cast<__int128>(last_stamp_) -
                                                 static_cast<__int128>(base_) * k_last) /
                        static_cast<long double>(k_last);
  return o.mdev.Sum() + o.mdev_uu - 2 * d * o.mdev_uv + d * d * o.mdev_vv;
}

double RunStatistics::Mtie(const Octave& o, int64_t m, bool final) const {
  if (const std::optional<double> held = final ? HeldMtie(m) : std::nullopt) return *held;
  if (m <= (int64_t{1} << deepest_octave_)) return o.span * common::kTickSeconds;
  // The batch figure's steps where tau0 never changed, so short runs agree exactly.
  return o.earlier > 0
             ? static_cast<double>(
                   std::max(o.earlier, static_cast<long double>(o.widest) / ref_k_) *
                   common::kTickSeconds)
             : static_cast<double>(o.widest) / static_cast<double>(ref_k_) * common::kTickSeconds;
}

std::vector<StabilityRow> RunStatistics::Rows(bool final) const {
  std::vector<StabilityRow> rows;
  const int64_t k_last = grid_.last;
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
  const std::vector<int64_t> factors = OctaveFactors(k_last);
  for (Deviation deviation : kRunDeviations) {
    for (int64_t m : factors) {
      const Octave* deep = OctaveOf(m);
      if (!deep) continue;
      const Octave& o = *deep;
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
          if (row.n) {
            row.value = static_cast<double>(
                std::sqrt(ModifiedSquares(o) / (2 * mm * mm * static_cast<long double>(row.n))) *
                unit / tau);
          }
          if (deviation == Deviation::kTdev) row.value = tau * row.value / std::sqrt(3.0);
          break;
        case Deviation::kTieRms:
          row.n = o.tie_n;
          if (row.n) row.value = TieRms(o, m);
          break;
        case Deviation::kMtie:
          row.n = o.mtie_n;
          row.value = Mtie(o, m, final);
          break;
        default:
          break;
      }
      if (row.n < 1) continue;
      rows.push_back(row);
    }
  }
  AddNoiseTypes(rows);
  return rows;
}

RunSummary RunStatistics::Summary() const { return Summarise(false); }

RunSummary RunStatistics::FinalSummary() const { return Summarise(true); }

RunSummary RunStatistics::Summarise(bool final) const {
  if (!fixed_ && !held_.empty()) {
    // A run still short of the period's intervals: its period is that of what there is.
    RunStatistics whole = *this;
    whole.FixNominal();
    return whole.Summarise(final);
  }
  if (fixed_ && !no_train_ && indexer_.Pending()) {
    // The last pulses wait for the next interval: settled as the end of a log settles them.
    RunStatistics whole = *this;
    Placer placer{&whole};
    whole.indexer_.Finish(placer);
    return whole.Summarise(final);
  }
  RunSummary s;
  s.words = words_;
  s.intervals = std::max<int64_t>(words_ - 1, 0);
  s.lost_words = lost_words_;
  s.extra_pulses = indexer_.ExtraPulses();
  s.missing_pulses = indexer_.MissingPulses();
  if (fixed_ && !no_train_) {
    s.ambiguous =
        Ambiguity(indexer_.Sums(), indexer_.UnfixedGaps(), indexer_.LongestUnfixedGap(), settled_);
  }
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
  if (!no_train_) s.stability = Rows(final);
  return s;
}

size_t RunStatistics::HeldBytes() const {
  const auto queues = [](const Octave& o) {
    return (o.highs.tags.capacity() + o.lows.tags.capacity()) * sizeof(uint32_t) +
           (o.highest.capacity() + o.lowest.capacity()) * sizeof(double);
  };
  size_t bytes = held_.capacity() * sizeof(int64_t) + grid_.ring.capacity() * sizeof(int64_t) +
                 octaves_.capacity() * sizeof(Octave) + stages_.capacity() * sizeof(Stage) +
                 noise_.capacity() * sizeof(DecimatedNoise);
  for (const Octave& o : octaves_) bytes += queues(o);
  for (const Stage& st : stages_) {
    bytes += st.grid.ring.capacity() * sizeof(int64_t) + st.blocks.capacity() * sizeof(Block) +
             queues(st.octave);
  }
  return bytes;
}

size_t RunStatistics::MaxHeldBytes(int deepest_octave) {
  const int d = std::clamp(deepest_octave, 0, kDeepestOctave);
  // A window queue grows to at most m + 1 ring.
  const auto queues = [](size_t m) { return 2 * (m + 1) * sizeof(uint32_t); };
  size_t bytes = static_cast<size_t>(kNominalIntervals) * sizeof(int64_t) +
                 (size_t{4} << d) * sizeof(int64_t) +
                 std::bit_ceil(static_cast<size_t>(d) + 1) * sizeof(Octave) +
                 static_cast<size_t>(kMaxStages) * sizeof(Stage) +
                 kNoiseFactors * sizeof(DecimatedNoise);
  // The window extremes of each factor below the deepest taken on every point.
  for (int p = 0; p < d; ++p) bytes += 2 * ((size_t{1} << p) + 1) * sizeof(double);
  const size_t kept = size_t{1} << DeepPointsOctave(d);
  bytes += static_cast<size_t>(kMaxStages) *
           (4 * kept * (sizeof(int64_t) + sizeof(Block)) + queues(kept));
  return bytes;
}

}  // namespace analysis
