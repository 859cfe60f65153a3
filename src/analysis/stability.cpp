#include "analysis/stability.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <exception>
#include <limits>
#include <thread>
#include <type_traits>

#include "analysis/edf.h"
#include "analysis/noise_id.h"
#include "analysis/squares_sum.h"
#include "common/huge_pages.h"
#include "common/ticks.h"

namespace analysis {
namespace {

// The steps x(i + m) - x(i) = a(i) - f, in the source's difference unit: a(i) a whole number
// (summed exactly while it is of moderate size) and f one fraction for every i, or a real step
// whose square goes to real_sum2 whole. The mean square is formed once at the end.
struct TieSums {
  __int128 sum_a = 0;
  __int128 sum_a2 = 0;
  long double real_sum2 = 0;
  long double fraction = 0;
  int64_t n = 0;
  int64_t real_terms = 0;  // of n, those in real_sum2 with their fraction already taken off

  double Rms(double unit) const {
    const long double nn = static_cast<long double>(n);
    const long double exact_n = nn - real_terms;
    const long double mean_sq =
        (static_cast<long double>(sum_a2) - 2 * fraction * static_cast<long double>(sum_a) +
         exact_n * fraction * fraction + real_sum2) /
        nn;
    return static_cast<double>(std::sqrt(std::max(mean_sq, 0.0L))) * unit;
  }
};

// Phase of a gap-free stretch of a pulse train: stamps in ticks, differences exact in 64 bits
// (their sums in 128). Position k of the stretch is grid index first + k.
class StampSource {
 public:
  using Diff = int64_t;
  using Sum = __int128;
  using Level = __int128;

  StampSource(const int64_t* stamps, int64_t size, int64_t first, int64_t k_last, int64_t t_last,
              bool narrow)
      : t_(stamps),
        size_(size),
        first_(first),
        k_last_(k_last),
        t_last_(t_last),
        q_(t_last_ / k_last_),
        r_(t_last_ % k_last_),
        narrow_(narrow) {}

  // Whether every level of the train fits 63 bits, so the MTIE blocks can hold them in 64.
  static bool Narrow(const PulseTrain& train) {
    constexpr __int128 kLimit = __int128{1} << 62;
    if (train.LastIndex() >= (int64_t{1} << 30)) return false;
    for (size_t i = 0; i < train.Pulses(); ++i) {
      const __int128 x = train.ScaledPhase(i);
      if (x >= kLimit || x <= -kLimit) return false;
    }
    return true;
  }

  int64_t Size() const { return size_; }
  bool NarrowLevels() const { return narrow_; }
  bool Gapless() const { return true; }
  bool Present(int64_t) const { return true; }
  // The stamp's own index term cancels in every difference of equally spaced points. Formed
  // as differences of neighbours, so no intermediate exceeds the stamps' own range.
  Diff D2(int64_t i, int64_t m) const { return Second(t_[i], t_[i + m], t_[i + 2 * m]); }
  Diff D3(int64_t i, int64_t m) const {
    return Third(t_[i], t_[i + m], t_[i + 2 * m], t_[i + 3 * m]);
  }
  static Diff Second(int64_t a, int64_t b, int64_t c) { return (c - b) - (b - a); }
  static Diff Third(int64_t a, int64_t b, int64_t c, int64_t d) {
    return ((d - c) - (c - b)) - ((c - b) - (b - a));
  }
  static constexpr double kDiffSeconds = common::kTickSeconds;

  // x(i + m) - x(i) = (t(i+m) - t(i)) - m t_last / K ticks, split into an exact integer part
  // and a fraction below one tick that is the same for every i.
  class Steps {
   public:
    Steps(const StampSource& source, int64_t m) : t_(source.t_), m_(m) {
      const __int128 span = static_cast<__int128>(m) * source.t_last_;
      whole_ = static_cast<int64_t>(span / source.k_last_);
      const __int128 rest = span % source.k_last_;
      fraction_ = static_cast<long double>(rest) / static_cast<long double>(source.k_last_);
    }
    void Add(int64_t i, TieSums& sums) const { AddSpan(t_[i + m_] - t_[i], sums); }
    // A step whose two stamps are `span` ticks apart.
    void AddSpan(int64_t span, TieSums& sums) const {
      const int64_t a = span - whole_;
      constexpr int64_t kExactLimit = int64_t{1} << 40;  // the sums stay far inside 128 bits
      if (a < kExactLimit && a > -kExactLimit) {
        sums.sum_a += a;
        sums.sum_a2 += static_cast<__int128>(a) * a;
      } else {
        const long double step = static_cast<long double>(a) - fraction_;
        sums.real_sum2 += step * step;
        ++sums.real_terms;
      }
      sums.fraction = fraction_;
      ++sums.n;
    }

   private:
    const int64_t* t_;
    int64_t m_;
    int64_t whole_ = 0;
    long double fraction_ = 0;
  };

  // K x(k) in ticks, exact.
  Level X(int64_t k) const {
    return static_cast<__int128>(k_last_) * t_[k] - static_cast<__int128>(first_ + k) * t_last_;
  }
  // The same in 64-bit arithmetic, for NarrowLevels(): with t_last = q K + r,
  // K x(k) = K (t(k) - k q) - k r, and every term stays below 2^63.
  int64_t NarrowX(int64_t k) const {
    const int64_t index = first_ + k;
    return k_last_ * (t_[k] - index * q_) - index * r_;
  }
  double LevelSeconds(Level level) const {
    return static_cast<double>(level) / static_cast<double>(k_last_) * common::kTickSeconds;
  }
  // Feeds the pulses at grid indices 0, m, 2m ... with their exact stamps to the noise
  // identification, which takes their phase against tau0 as the run statistics do.
  void AddDecimated(int64_t m, DecimatedNoise& noise) const {
    for (int64_t k = 0; k < size_; k += m) noise.Add(first_ + k, t_[k]);
  }
  double Seconds(int64_t k) const {
    const double level = narrow_ ? static_cast<double>(NarrowX(k)) : static_cast<double>(X(k));
    return level / static_cast<double>(k_last_) * common::kTickSeconds;
  }

 private:
  const int64_t* t_;
  int64_t size_;
  int64_t first_;
  int64_t k_last_;
  int64_t t_last_;
  int64_t q_;
  int64_t r_;
  bool narrow_;
};

// Phase points in seconds; NaN where there is none.
class SecondsSource {
 public:
  using Diff = double;
  using Sum = long double;
  using Level = double;

  explicit SecondsSource(std::span<const double> x) : x_(x.data()), size_(std::ssize(x)) {
    for (double v : x) gapless_ = gapless_ && !std::isnan(v);
  }

  int64_t Size() const { return size_; }
  bool Gapless() const { return gapless_; }
  bool Present(int64_t k) const { return !std::isnan(x_[k]); }
  Diff D2(int64_t i, int64_t m) const { return x_[i + 2 * m] - 2 * x_[i + m] + x_[i]; }
  Diff D3(int64_t i, int64_t m) const {
    return x_[i + 3 * m] - 3 * x_[i + 2 * m] + 3 * x_[i + m] - x_[i];
  }
  static constexpr double kDiffSeconds = 1.0;

  class Steps {
   public:
    Steps(const SecondsSource& source, int64_t m) : x_(source.x_), m_(m) {}
    void Add(int64_t i, TieSums& sums) const {
      const long double step = x_[i + m_] - x_[i];
      sums.real_sum2 += step * step;
      ++sums.real_terms;
      ++sums.n;
    }

   private:
    const double* x_;
    int64_t m_;
  };

  Level X(int64_t k) const { return x_[k]; }
  double LevelSeconds(Level level) const { return level; }
  // x(0), x(m), x(2m) ... present, seconds.
  std::vector<double> Decimated(int64_t m) const {
    std::vector<double> out;
    out.reserve(static_cast<size_t>(size_ / m + 1));
    for (int64_t k = 0; k < size_; k += m) {
      if (Present(k)) out.push_back(x_[k]);
    }
    return out;
  }

 private:
  const double* x_;
  int64_t size_;
  bool gapless_ = true;
};

using Accumulated = SquaresSum;

// Sums of squared differences of order d (2 or 3) at stride `stride`.
// kGapless: the record has no missing point, and the loops skip the checks.
template <bool kGapless, class Source>
Accumulated Differences(const Source& src, int64_t m, int order, int64_t stride) {
  Accumulated acc;
  const int64_t n = src.Size();
  for (int64_t i = 0; i + order * m < n; i += stride) {
    if constexpr (!kGapless) {
      bool present = true;
      for (int j = 0; j <= order && present; ++j) present = src.Present(i + j * m);
      if (!present) continue;
    }
    acc.Add(order == 2 ? src.D2(i, m) : src.D3(i, m));
  }
  return acc;
}

// Both overlapping sums at once, second and third differences, in one sweep of the record.
template <bool kGapless, class Source>
void OverlappingDifferences(const Source& src, int64_t m, Accumulated& second, Accumulated& third) {
  const int64_t n = src.Size();
  for (int64_t i = 0; i + 2 * m < n; ++i) {
    bool three = true;
    if constexpr (!kGapless) three = src.Present(i) && src.Present(i + m) && src.Present(i + 2 * m);
    if (three) second.Add(src.D2(i, m));
    if (i + 3 * m < n && (kGapless || (three && src.Present(i + 3 * m)))) third.Add(src.D3(i, m));
  }
}

// Sums of squares of the MDEV terms: each window of m consecutive second differences, sliding by
// one, scaled from those present to the whole window where at least half are present.
template <bool kGapless, class Source>
Accumulated ModifiedSums(const Source& src, int64_t m) {
  Accumulated acc;
  const int64_t n = src.Size();
  typename Source::Sum window = 0;
  int64_t gaps = 0;  // second differences in the window that touch a missing point
  const auto defined = [&](int64_t i) {
    return kGapless || (src.Present(i) && src.Present(i + m) && src.Present(i + 2 * m));
  };
  for (int64_t i = 0; i + 2 * m < n; ++i) {
    if (defined(i)) {
      window += src.D2(i, m);
    } else {
      ++gaps;
    }
    if (i >= m) {
      if (defined(i - m)) {
        window -= src.D2(i - m, m);
      } else {
        --gaps;
      }
    }
    if (i + 1 >= m && 2 * (m - gaps) >= m) acc.AddScaled(window, m - gaps, m);
  }
  return acc;
}

// The block arrays, kept from one averaging factor to the next so that each factor does not
// map and fault in fresh pages.
template <class Level>
struct BlockExtremes {
  std::vector<Level> tail_max, tail_min, head_max, head_min, levels;
  void Fit(int64_t w) {
    const auto size = static_cast<size_t>(w);
    if (tail_max.size() >= size) return;
    for (auto* v : {&tail_max, &tail_min, &head_max, &head_min, &levels}) {
      *v = {};
      common::ReserveLarge(*v, size);
      v->resize(size);
    }
  }
};

// The level of point k as the MTIE blocks hold it; a missing point, in no window that is used,
// holds 0.
template <bool kGapless, class Level, class Source>
Level LevelOf(const Source& src, int64_t k) {
  if constexpr (!kGapless) {
    if (!src.Present(k)) return Level{0};
  }
  if constexpr (std::is_same_v<Source, StampSource> && std::is_same_v<Level, int64_t>) {
    return src.NarrowX(k);
  } else {
    return static_cast<Level>(src.X(k));
  }
}

// The suffix extremes of the block [start, end) and the prefix extremes of the next one
// [end, next_end), whose levels are kept to be read again as its tail.
template <bool kGapless, class Level, class Source>
void FillBlocks(const Source& src, BlockExtremes<Level>& blocks, int64_t start, int64_t end,
                int64_t next_end) {
  Level* const tail_max = blocks.tail_max.data();
  Level* const tail_min = blocks.tail_min.data();
  Level* const head_max = blocks.head_max.data();
  Level* const head_min = blocks.head_min.data();
  Level* const levels = blocks.levels.data();
  for (int64_t k = end - 1; k >= start; --k) {
    const size_t j = static_cast<size_t>(k - start);
    const Level x = start == 0 ? LevelOf<kGapless, Level>(src, k) : levels[j];
    const bool last = k == end - 1;
    tail_max[j] = last ? x : std::max(x, tail_max[j + 1]);
    tail_min[j] = last ? x : std::min(x, tail_min[j + 1]);
  }
  for (int64_t k = end; k < next_end; ++k) {
    const size_t j = static_cast<size_t>(k - end);
    const Level x = LevelOf<kGapless, Level>(src, k);
    levels[j] = x;
    head_max[j] = j == 0 ? x : std::max(head_max[j - 1], x);
    head_min[j] = j == 0 ? x : std::min(head_min[j - 1], x);
  }
}

// Windows x(i) .. x(i + m): the mean square of x(i + m) - x(i) (TIE rms) over every window whose
// two ends are present, and the largest max - min (MTIE) over those without a missing point. The
// extremes of each window come from blocks of w = m + 1 levels (van Herk and Gil-Werman): a window
// starting in block b is the tail of b (suffix extremes) and the head of b + 1 (prefix extremes).
// No branch depends on the data, and only four block-long arrays are held. Levels are of type Level
// (narrower when they fit it).
template <bool kGapless, class Level, class Source>
void TieWindows(const Source& src, int64_t m, BlockExtremes<Level>& blocks, TieSums& tie_out,
                double& mtie, int64_t& windows_out) {
  const typename Source::Steps steps(src, m);
  const int64_t n = src.Size();
  const int64_t w = m + 1;
  windows_out = 0;
  mtie = 0;
  if (n < w) return;
  // Summed in locals, which stay in registers; the caller's are written once at the end.
  TieSums tie = tie_out;
  int64_t windows = 0;
  blocks.Fit(w);
  const Level* const tail_max = blocks.tail_max.data();
  const Level* const tail_min = blocks.tail_min.data();
  const Level* const head_max = blocks.head_max.data();
  const Level* const head_min = blocks.head_min.data();
  Level widest = 0;
  int64_t last_missing = -1;  // the last missing index at or before `scanned`
  int64_t scanned = -1;
  const int64_t last_start = n - 1 - m;
  for (int64_t start = 0; start <= last_start; start += w) {
    const int64_t end = std::min(start + w, n);  // block [start, end)
    FillBlocks<kGapless>(src, blocks, start, end, std::min(end + w, n));
    const int64_t stop = std::min(end - 1, last_start);
    for (int64_t i = start; i <= stop; ++i) {
      if constexpr (!kGapless) {
        for (; scanned < i + m; ++scanned) {
          if (!src.Present(scanned + 1)) last_missing = scanned + 1;
        }
        if (last_missing >= i) {
          if (src.Present(i) && src.Present(i + m)) steps.Add(i, tie);
          continue;
        }
      }
      const size_t j = static_cast<size_t>(i - start);
      Level high = tail_max[j], low = tail_min[j];
      if (i + m >= end) {  // the window reaches into the next block
        const size_t h = static_cast<size_t>(i + m - end);
        high = std::max(high, head_max[h]);
        low = std::min(low, head_min[h]);
      }
      widest = std::max(widest, high - low);
      steps.Add(i, tie);
      ++windows;
    }
  }
  mtie = src.LevelSeconds(widest);
  tie_out = tie;
  windows_out = windows;
}

// What the rows of one averaging factor are made of, in the source's difference unit.
struct FactorSums {
  Accumulated adev, oadev, mdev, hdev, ohdev;
  TieSums tie;
  double mtie = 0;  // seconds
  int64_t windows = 0;
  // x(0), x(m), x(2m) ... present: as seconds from phase points, or as exact stamps
  // (`exact`, with `stamps` set) from a pulse train.
  std::vector<double> decimated;
  DecimatedNoise exact;
  bool stamps = false;
};

template <class Source>
void MtieOf(const Source& src, int64_t m, BlockExtremes<int64_t>& narrow,
            BlockExtremes<typename Source::Level>& wide, TieSums& tie, FactorSums& sums) {
  double mtie = 0;
  int64_t windows = 0;
  if constexpr (std::is_same_v<typename Source::Level, __int128>) {
    if (src.NarrowLevels()) {
      TieWindows<true>(src, m, narrow, tie, mtie, windows);
    } else {
      TieWindows<true>(src, m, wide, tie, mtie, windows);
    }
  } else if (src.Gapless()) {
    TieWindows<true>(src, m, wide, tie, mtie, windows);
  } else {
    TieWindows<false>(src, m, wide, tie, mtie, windows);
  }
  sums.mtie = std::max(sums.mtie, mtie);
  sums.windows += windows;
}

// Every sum of one factor over an index space of points, all of them present when kGapless.
template <bool kGapless, class Source>
FactorSums DenseSums(const Source& src, int64_t m, BlockExtremes<int64_t>& narrow,
                     BlockExtremes<typename Source::Level>& wide) {
  FactorSums sums;
  sums.adev = Differences<kGapless>(src, m, 2, m);
  OverlappingDifferences<kGapless>(src, m, sums.oadev, sums.ohdev);
  sums.mdev = ModifiedSums<kGapless>(src, m);
  sums.hdev = Differences<kGapless>(src, m, 3, m);
  MtieOf(src, m, narrow, wide, sums.tie, sums);
  if constexpr (std::is_same_v<Source, StampSource>) {
    src.AddDecimated(m, sums.exact);
    sums.stamps = true;
  } else {
    sums.decimated = src.Decimated(m);
  }
  return sums;
}

// Whether the pulse at grid index `target` is present, q left at it (or past where it would be):
// first the guess that holds without a gap between, else a pointer q that only moves forward.
bool FindIndex(const int64_t* k, size_t n, size_t& q, size_t guess, int64_t target) {
  if (guess < n && k[guess] == target) {
    q = std::max(q, guess);
    return true;
  }
  while (q < n && k[q] < target) ++q;
  return q < n && k[q] == target;
}

// The second differences x(k + 2m) - 2 x(k + m) + x(k) of a train with missing pulses whose
// three points are present, in the order of k; ticks.
class PresentSeconds {
 public:
  PresentSeconds(const PulseTrain& train, int64_t m)
      : k_(train.index.data()),
        t_(train.stamp.data()),
        n_(train.Pulses()),
        m_(m),
        k_last_(train.LastIndex()) {}

  // The next one, with its first index; false when there is none.
  bool Next(int64_t& at, int64_t& d2) {
    const size_t step = static_cast<size_t>(m_);
    for (; p_ < n_ && k_[p_] + 2 * m_ <= k_last_; ++p_) {
      const int64_t kp = k_[p_];
      if (!FindIndex(k_, n_, q1_, p_ + step, kp + m_) ||
          !FindIndex(k_, n_, q2_, q1_ + step, kp + 2 * m_)) {
        continue;
      }
      at = kp;
      d2 = StampSource::Second(t_[p_], t_[q1_], t_[q2_]);
      ++p_;
      return true;
    }
    return false;
  }

 private:
  const int64_t* k_;
  const int64_t* t_;
  size_t n_;
  int64_t m_;
  int64_t k_last_;
  size_t p_ = 0, q1_ = 0, q2_ = 0;
};

// The MDEV terms of a train with missing pulses, as ModifiedSums takes them over every index:
// the window of starts i .. i + m - 1 gains the second differences present as a leading walk
// reaches them and loses them as a trailing walk of the same ones passes, and a start whose
// window holds under half of its m skips at once to where the next one enters, so a gap of any
// length costs nothing. Each term taken holds at least m / 2 of them, so the starts visited are
// at most twice the second differences present.
Accumulated GappedModifiedSums(const PulseTrain& train, int64_t m) {
  Accumulated acc;
  const int64_t last_start = train.LastIndex() - 3 * m + 1;
  PresentSeconds lead(train, m), trail(train, m);
  int64_t lead_k = 0, lead_d2 = 0, trail_k = 0, trail_d2 = 0;
  bool more = lead.Next(lead_k, lead_d2);
  trail.Next(trail_k, trail_d2);
  __int128 window = 0;
  int64_t present = 0;
  for (int64_t i = 0; i <= last_start;) {
    for (; more && lead_k < i + m; more = lead.Next(lead_k, lead_d2)) {
      window += lead_d2;
      ++present;
    }
    for (; present > 0 && trail_k < i; --present) {
      window -= trail_d2;
      trail.Next(trail_k, trail_d2);
    }
    if (2 * present >= m) {
      acc.AddScaled(window, present, m);
      ++i;
    } else if (more) {
      i = std::max(i + 1, lead_k - m + 1);
    } else {
      break;
    }
  }
  return acc;
}

// A pulse train with missing pulses, walked over the pulses present: a term is taken wherever
// the points it needs are present, found by pointers that only move forward, so a gap of any
// length costs nothing. MTIE, which needs every point of a window, runs on the gap-free
// stretches.
class GappedTrain {
 public:
  explicit GappedTrain(const PulseTrain& train)
      : train_(train), narrow_(StampSource::Narrow(train)) {
    const std::vector<int64_t>& k = train.index;
    size_t first = 0;
    for (size_t p = 1; p <= k.size(); ++p) {
      if (p < k.size() && k[p] == k[p - 1] + 1) continue;
      stretches_.push_back({first, p - first});
      first = p;
    }
  }

  FactorSums Sums(int64_t m, BlockExtremes<int64_t>& narrow, BlockExtremes<__int128>& wide) const {
    FactorSums sums;
    const int64_t* k = train_.index.data();
    const int64_t* t = train_.stamp.data();
    const size_t n = train_.Pulses();
    const int64_t k_last = train_.LastIndex();
    const StampSource whole(t, static_cast<int64_t>(n), 0, k_last, train_.LastStamp(), narrow_);
    const StampSource::Steps steps(whole, m);
    size_t q1 = 0, q2 = 0, q3 = 0;
    const auto at = [&](size_t& q, size_t guess, int64_t target) {
      return FindIndex(k, n, q, guess, target);
    };
    sums.stamps = true;
    int64_t before = 0, rest = 0;  // k[p - 1], and k[p] % m kept without a division per pulse
    const auto decimated = [&](int64_t kp) {
      const int64_t step = kp - before;
      before = kp;
      rest += step;
      if (rest >= m) rest = step < m ? rest - m : kp % m;
      return rest == 0;
    };
    size_t p = 0;
    for (; p < n && k[p] + m <= k_last; ++p) {
      const int64_t kp = k[p];
      const bool whole = decimated(kp);
      if (whole) sums.exact.Add(kp, t[p]);
      const size_t step = static_cast<size_t>(m);
      if (!at(q1, p + step, kp + m)) continue;
      steps.AddSpan(t[q1] - t[p], sums.tie);
      if (kp + 2 * m > k_last || !at(q2, q1 + step, kp + 2 * m)) continue;
      const int64_t d2 = StampSource::Second(t[p], t[q1], t[q2]);
      sums.oadev.Add(d2);
      if (whole) sums.adev.Add(d2);
      if (kp + 3 * m > k_last || !at(q3, q2 + step, kp + 3 * m)) continue;
      const int64_t d3 = StampSource::Third(t[p], t[q1], t[q2], t[q3]);
      sums.ohdev.Add(d3);
      if (whole) sums.hdev.Add(d3);
    }
    for (; p < n; ++p) {  // the decimated points that begin no window
      if (decimated(k[p])) sums.exact.Add(k[p], t[p]);
    }
    sums.mdev = GappedModifiedSums(train_, m);
    TieSums unused;
    for (const auto& [first, size] : stretches_) {
      if (static_cast<int64_t>(size) <= m) continue;
      const StampSource stretch(t + first, static_cast<int64_t>(size), k[first], k_last,
                                train_.LastStamp(), narrow_);
      MtieOf(stretch, m, narrow, wide, unused, sums);
    }
    return sums;
  }

 private:
  struct Stretch {
    size_t first;
    size_t size;
  };
  const PulseTrain& train_;
  bool narrow_;
  std::vector<Stretch> stretches_;
};

// Workers that share the factors of a long record: each factor is a few sweeps of the whole
// record, independent of the others. Each worker holds its own MTIE blocks, so more of them
// would cost memory for little: the tools run on machines of a few cores.
constexpr int kTableWorkers = 2;
// Below this many points a table takes milliseconds, less than starting a thread is worth.
constexpr int64_t kParallelPoints = int64_t{1} << 16;

// Calls work(f, worker) for f = 0 .. count - 1, on kTableWorkers threads (this one among them)
// when the record is long, each taking the next f; an exception of any is rethrown here.
template <class Work>
void ForEachFactor(size_t count, int64_t n_points, Work&& work) {
  if (n_points < kParallelPoints || count < 2) {
    for (size_t f = 0; f < count; ++f) work(f, 0);
    return;
  }
  std::atomic<size_t> next{0};
  std::exception_ptr failure[kTableWorkers];
  const auto run = [&](int worker) {
    try {
      for (size_t f = next++; f < count; f = next++) work(f, worker);
    } catch (...) {
      failure[worker] = std::current_exception();
      next = count;
    }
  };
  std::vector<std::thread> helpers;
  for (int worker = 1; worker < kTableWorkers; ++worker) helpers.emplace_back(run, worker);
  run(0);
  for (std::thread& helper : helpers) helper.join();
  for (const std::exception_ptr& e : failure) {
    if (e) std::rethrow_exception(e);
  }
}

// The rows of factor m from its sums, in the order of kAllDeviations, over an index space of
// `n_points` points. `exact_k_last` and `exact_t_last` are the train's last index and stamp,
// against which exact decimated stamps are taken for the noise (unused for phase points).
std::vector<StabilityRow> FactorRows(const FactorSums& sums, int64_t m, int64_t n_points,
                                     double tau0_s, long double unit, int64_t exact_k_last,
                                     int64_t exact_t_last) {
  std::vector<StabilityRow> out;
  const double tau = static_cast<double>(m) * tau0_s;
  struct Found {
    Deviation deviation;
    int64_t n;
    double value;
  };
  std::vector<Found> found;
  const auto add = [&](Deviation deviation, int64_t n, double value) {
    if (n >= 1) found.push_back({deviation, n, value});
  };
  const long double tau_l = tau;
  const auto dev = [&](const Accumulated& a, long double scale) {
    return static_cast<double>(std::sqrt(a.Sum() / (scale * static_cast<long double>(a.n))) * unit /
                               tau_l);
  };

  const Accumulated& adev = sums.adev;
  add(Deviation::kAdev, adev.n, adev.n ? dev(adev, 2) : 0);
  const Accumulated& oadev = sums.oadev;
  add(Deviation::kOadev, oadev.n, oadev.n ? dev(oadev, 2) : 0);
  const Accumulated& mdev = sums.mdev;
  const long double mm = static_cast<long double>(m);
  const double mdev_value = mdev.n ? dev(mdev, 2 * mm * mm) : 0;
  add(Deviation::kMdev, mdev.n, mdev_value);
  add(Deviation::kTdev, mdev.n, tau * mdev_value / std::sqrt(3.0));
  add(Deviation::kHdev, sums.hdev.n, sums.hdev.n ? dev(sums.hdev, 6) : 0);
  add(Deviation::kOhdev, sums.ohdev.n, sums.ohdev.n ? dev(sums.ohdev, 6) : 0);
  add(Deviation::kTieRms, sums.tie.n, sums.tie.n ? sums.tie.Rms(static_cast<double>(unit)) : 0);
  add(Deviation::kMtie, sums.windows, sums.mtie);

  // The noise at m, then the bounds it gives each row. R(n) = MVAR / AVAR for the B1
  // fallback is the square of the ratio of the two deviations just found.
  std::optional<double> modified_ratio;
  const double oadev_value = oadev.n ? dev(oadev, 2) : 0;
  if (oadev_value > 0 && mdev.n) modified_ratio = std::pow(mdev_value / oadev_value, 2);
  const std::optional<int> alpha =
      sums.stamps ? sums.exact.Alpha(exact_k_last, exact_t_last, m, modified_ratio)
                  : IdentifyDecimatedNoise(sums.decimated, m, modified_ratio);
  for (const Found& f : found) {
    const StabilityRow row{f.deviation, m, tau, f.n, alpha, f.value, std::nullopt, std::nullopt};
    out.push_back(WithBounds(row, n_points));
  }
  return out;
}

// The rows of the factors, each from `sums_of(m, worker)` (worker 0 .. kTableWorkers - 1, the
// thread asking), by deviation, then by factor in the order given.
template <class SumsOf>
std::vector<StabilityRow> Table(int64_t n_points, double tau0_s, long double unit,
                                int64_t exact_k_last, int64_t exact_t_last,
                                std::span<const int64_t> factors, SumsOf&& sums_of) {
  std::vector<std::vector<StabilityRow>> per_factor(factors.size());
  // The widest factors first: each worker's MTIE blocks are then sized once, by its first.
  ForEachFactor(factors.size(), n_points, [&](size_t i, int worker) {
    const size_t f = factors.size() - 1 - i;
    const int64_t m = factors[f];
    if (m < 1 || m >= n_points) return;  // not even one window
    per_factor[f] =
        FactorRows(sums_of(m, worker), m, n_points, tau0_s, unit, exact_k_last, exact_t_last);
  });
  std::vector<StabilityRow> rows[std::size(kAllDeviations)];
  for (const std::vector<StabilityRow>& of_factor : per_factor) {
    for (const StabilityRow& row : of_factor)
      rows[static_cast<size_t>(row.deviation)].push_back(row);
  }
  std::vector<StabilityRow> all;
  for (auto& per : rows) all.insert(all.end(), per.begin(), per.end());
  return all;
}

std::vector<int64_t> Factors(int64_t last_index, bool octaves) {
  std::vector<int64_t> out;
  for (int64_t m = 1; 4 * m <= last_index; m = octaves ? 2 * m : m + 1) out.push_back(m);
  return out;
}

}  // namespace

std::string_view DeviationName(Deviation deviation) {
  switch (deviation) {
    case Deviation::kAdev:
      return "adev";
    case Deviation::kOadev:
      return "oadev";
    case Deviation::kMdev:
      return "mdev";
    case Deviation::kTdev:
      return "tdev";
    case Deviation::kHdev:
      return "hdev";
    case Deviation::kOhdev:
      return "ohdev";
    case Deviation::kTieRms:
      return "tierms";
    case Deviation::kMtie:
      return "mtie";
  }
  return "";
}

std::optional<EdfQuery> EdfQueryOf(Deviation deviation, int alpha, int64_t m, int64_t n_phase) {
  switch (deviation) {
    case Deviation::kAdev:
      return EdfQuery{alpha, 2, m, n_phase, false, false};
    case Deviation::kOadev:
      return EdfQuery{alpha, 2, m, n_phase, true, false};
    case Deviation::kMdev:
    case Deviation::kTdev:
      return EdfQuery{alpha, 2, m, n_phase, true, true};
    case Deviation::kHdev:
      return EdfQuery{alpha, 3, m, n_phase, false, false};
    case Deviation::kOhdev:
      return EdfQuery{alpha, 3, m, n_phase, true, false};
    case Deviation::kTieRms:
      return EdfQuery{alpha, 1, m, n_phase, true, false};
    case Deviation::kMtie:
      break;
  }
  return std::nullopt;
}

StabilityRow WithBounds(StabilityRow row, int64_t n_phase) {
  row.min = row.max = std::nullopt;
  if (!row.alpha || !(row.value > 0)) return row;
  const std::optional<EdfQuery> query = EdfQueryOf(row.deviation, *row.alpha, row.m, n_phase);
  const std::optional<double> edf = query ? EquivalentDegreesOfFreedom(*query) : std::nullopt;
  if (!edf) return row;
  const Bounds b = DeviationBounds(row.value, *edf);
  row.min = b.min;
  row.max = b.max;
  return row;
}

std::vector<int64_t> OctaveFactors(int64_t last_index) { return Factors(last_index, true); }
std::vector<int64_t> AllFactors(int64_t last_index) { return Factors(last_index, false); }

std::vector<StabilityRow> StabilityTable(const PulseTrain& train,
                                         std::span<const int64_t> factors) {
  if (train.Empty()) return {};
  const int64_t n_points = train.LastIndex() + 1;
  const double tau0_s = train.Tau0Ticks() * common::kTickSeconds;
  const long double unit = common::kTickSeconds;
  BlockExtremes<int64_t> narrow[kTableWorkers];
  BlockExtremes<__int128> wide[kTableWorkers];
  if (train.missing_pulses > 0) {
    const GappedTrain gapped(train);
    return Table(n_points, tau0_s, unit, train.LastIndex(), train.LastStamp(), factors,
                 [&](int64_t m, int w) { return gapped.Sums(m, narrow[w], wide[w]); });
  }
  // Every index holds a pulse: the stamps are the phase points themselves.
  const StampSource source(train.stamp.data(), n_points, 0, train.LastIndex(), train.LastStamp(),
                           StampSource::Narrow(train));
  return Table(n_points, tau0_s, unit, train.LastIndex(), train.LastStamp(), factors,
               [&](int64_t m, int w) { return DenseSums<true>(source, m, narrow[w], wide[w]); });
}

std::vector<StabilityRow> StabilityTable(std::span<const double> phase_s, double tau0_s,
                                         std::span<const int64_t> factors) {
  const SecondsSource source(phase_s);
  BlockExtremes<int64_t> narrow[kTableWorkers];
  BlockExtremes<double> wide[kTableWorkers];
  return Table(source.Size(), tau0_s, SecondsSource::kDiffSeconds, 1, 0, factors,
               [&](int64_t m, int w) {
                 return source.Gapless() ? DenseSums<true>(source, m, narrow[w], wide[w])
                                         : DenseSums<false>(source, m, narrow[w], wide[w]);
               });
}

std::vector<double> PhaseFromFrequency(std::span<const double> frequency, double tau0_s) {
  std::vector<double> phase(frequency.size() + 1);
  long double sum = 0;  // a long run of sums keeps its digits
  phase[0] = 0;
  for (size_t i = 0; i < frequency.size(); ++i) {
    sum += frequency[i];
    phase[i + 1] = static_cast<double>(sum * tau0_s);
  }
  return phase;
}

}  // namespace analysis
