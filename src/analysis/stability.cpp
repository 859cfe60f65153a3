#include "analysis/stability.h"

#include <cmath>
#include <deque>
#include <limits>

#include "analysis/edf.h"
#include "analysis/noise_id.h"
#include "common/ticks.h"

namespace analysis {
namespace {

// Phase of a pulse train: stamps in ticks, differences exact in 64 bits (their sums in 128).
class StampSource {
 public:
  using Diff = int64_t;
  using Sum = __int128;
  using Level = __int128;

  explicit StampSource(const PulseTrain& train)
      : t_(train.stamps.data()),
        size_(static_cast<int64_t>(train.stamps.size())),
        k_last_(train.LastIndex()),
        t_last_(train.LastStamp()) {}

  int64_t Size() const { return size_; }
  bool Present(int64_t k) const { return t_[k] != kNoPulse; }
  // The stamp's own index term cancels in every difference of equally spaced points.
  Diff D2(int64_t i, int64_t m) const { return t_[i + 2 * m] - 2 * t_[i + m] + t_[i]; }
  Diff D3(int64_t i, int64_t m) const {
    return t_[i + 3 * m] - 3 * t_[i + 2 * m] + 3 * t_[i + m] - t_[i];
  }
  static constexpr double kDiffSeconds = common::kTickSeconds;

  // x(i + m) - x(i) in seconds: (t(i+m) - t(i)) - m t_last / K, split into an exact integer
  // part and a fraction below one tick.
  class Steps {
   public:
    Steps(const StampSource& source, int64_t m) : source_(source), m_(m) {
      const __int128 span = static_cast<__int128>(m) * source.t_last_;
      whole_ = static_cast<int64_t>(span / source.k_last_);
      const __int128 rest = span % source.k_last_;
      fraction_ = static_cast<double>(rest) / static_cast<double>(source.k_last_);
    }
    double Seconds(int64_t i) const {
      const int64_t d = source_.t_[i + m_] - source_.t_[i] - whole_;
      return (static_cast<double>(d) - fraction_) * common::kTickSeconds;
    }

   private:
    const StampSource& source_;
    int64_t m_;
    int64_t whole_ = 0;
    double fraction_ = 0;
  };

  // K x(k) in ticks, exact.
  Level X(int64_t k) const {
    return static_cast<__int128>(k_last_) * t_[k] - static_cast<__int128>(k) * t_last_;
  }
  double LevelSeconds(Level level) const {
    return static_cast<double>(level) / static_cast<double>(k_last_) * common::kTickSeconds;
  }

 private:
  const int64_t* t_;
  int64_t size_;
  int64_t k_last_;
  int64_t t_last_;
};

// Phase points in seconds; NaN where there is none.
class SecondsSource {
 public:
  using Diff = double;
  using Sum = long double;
  using Level = double;

  explicit SecondsSource(std::span<const double> x) : x_(x.data()), size_(std::ssize(x)) {}

  int64_t Size() const { return size_; }
  bool Present(int64_t k) const { return !std::isnan(x_[k]); }
  Diff D2(int64_t i, int64_t m) const { return x_[i + 2 * m] - 2 * x_[i + m] + x_[i]; }
  Diff D3(int64_t i, int64_t m) const {
    return x_[i + 3 * m] - 3 * x_[i + 2 * m] + 3 * x_[i + m] - x_[i];
  }
  static constexpr double kDiffSeconds = 1.0;

  class Steps {
   public:
    Steps(const SecondsSource& source, int64_t m) : x_(source.x_), m_(m) {}
    double Seconds(int64_t i) const { return x_[i + m_] - x_[i]; }

   private:
    const double* x_;
    int64_t m_;
  };

  Level X(int64_t k) const { return x_[k]; }
  double LevelSeconds(Level level) const { return level; }

 private:
  const double* x_;
  int64_t size_;
};

struct Accumulated {
  long double sum = 0;
  int64_t n = 0;
};

// Sums of squared differences of order d (2 or 3) at stride `stride`.
template <class Source>
Accumulated Differences(const Source& src, int64_t m, int order, int64_t stride) {
  Accumulated acc;
  const int64_t n = src.Size();
  for (int64_t i = 0; i + order * m < n; i += stride) {
    bool present = true;
    for (int j = 0; j <= order && present; ++j) present = src.Present(i + j * m);
    if (!present) continue;
    const long double v = static_cast<long double>(order == 2 ? src.D2(i, m) : src.D3(i, m));
    acc.sum += v * v;
    ++acc.n;
  }
  return acc;
}

// Sums of squares of m consecutive second differences, the window sliding by one.
template <class Source>
Accumulated ModifiedSums(const Source& src, int64_t m) {
  Accumulated acc;
  const int64_t n = src.Size();
  typename Source::Sum window = 0;
  int64_t gaps = 0;  // second differences in the window that touch a missing point
  const auto defined = [&](int64_t i) {
    return src.Present(i) && src.Present(i + m) && src.Present(i + 2 * m);
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
    if (i + 1 >= m && gaps == 0) {
      const long double v = static_cast<long double>(window);
      acc.sum += v * v;
      ++acc.n;
    }
  }
  return acc;
}

// Windows x(i) .. x(i + m) without a missing point: the mean square of x(i + m) - x(i) (TIE
// rms) and the largest max - min (MTIE), the extremes kept in monotonic queues.
template <class Source>
void TieWindows(const Source& src, int64_t m, Accumulated& tie, double& mtie, int64_t& windows) {
  const typename Source::Steps steps(src, m);
  const int64_t n = src.Size();
  std::deque<std::pair<int64_t, typename Source::Level>> highs, lows;
  int64_t run_start = 0;  // first index of the run of present points that holds k
  typename Source::Level widest = 0;
  windows = 0;
  for (int64_t k = 0; k < n; ++k) {
    if (!src.Present(k)) {
      highs.clear();
      lows.clear();
      run_start = k + 1;
      continue;
    }
    const typename Source::Level x = src.X(k);
    while (!highs.empty() && highs.back().second <= x) highs.pop_back();
    while (!lows.empty() && lows.back().second >= x) lows.pop_back();
    highs.emplace_back(k, x);
    lows.emplace_back(k, x);
    if (highs.front().first < k - m) highs.pop_front();
    if (lows.front().first < k - m) lows.pop_front();
    if (k - m >= run_start) {
      const typename Source::Level range = highs.front().second - lows.front().second;
      if (windows == 0 || range > widest) widest = range;
      const long double step = steps.Seconds(k - m);
      tie.sum += step * step;
      ++windows;
    }
  }
  tie.n = windows;
  mtie = src.LevelSeconds(widest);
}

struct EdfKind {
  int d;
  bool overlapping;
  bool modified;
};

std::optional<EdfKind> EdfOf(Deviation deviation) {
  switch (deviation) {
    case Deviation::kAdev: return EdfKind{2, false, false};
    case Deviation::kOadev: return EdfKind{2, true, false};
    case Deviation::kMdev:
    case Deviation::kTdev: return EdfKind{2, true, true};
    case Deviation::kHdev: return EdfKind{3, false, false};
    case Deviation::kOhdev: return EdfKind{3, true, false};
    default: return std::nullopt;
  }
}

template <class Source>
std::vector<StabilityRow> Table(const Source& src, std::span<const double> phase_s, double tau0_s,
                                std::span<const int64_t> factors) {
  std::vector<StabilityRow> rows[std::size(kAllDeviations)];
  const int64_t n_points = src.Size();
  for (int64_t m : factors) {
    if (m < 1 || m >= n_points) continue;  // not even one window
    const double tau = static_cast<double>(m) * tau0_s;
    const std::optional<int> alpha = IdentifyNoise(phase_s, m);
    const auto add = [&](Deviation deviation, int64_t n, double value) {
      if (n < 1) return;
      StabilityRow row{deviation, m, tau, n, alpha, value, std::nullopt, std::nullopt};
      const std::optional<EdfKind> kind = EdfOf(deviation);
      if (alpha && kind) {
        const std::optional<double> edf = EquivalentDegreesOfFreedom(
            EdfQuery{*alpha, kind->d, m, n_points, kind->overlapping, kind->modified});
        if (edf && value > 0) {
          const Bounds b = DeviationBounds(value, *edf);
          row.min = b.min;
          row.max = b.max;
        }
      }
      rows[static_cast<size_t>(deviation)].push_back(row);
    };
    const long double unit = Source::kDiffSeconds;
    const long double tau_l = tau;
    const auto dev = [&](const Accumulated& a, long double scale) {
      return static_cast<double>(std::sqrt(a.sum / (scale * static_cast<long double>(a.n))) *
                                 unit / tau_l);
    };

    const Accumulated adev = Differences(src, m, 2, m);
    add(Deviation::kAdev, adev.n, adev.n ? dev(adev, 2) : 0);
    const Accumulated oadev = Differences(src, m, 2, 1);
    add(Deviation::kOadev, oadev.n, oadev.n ? dev(oadev, 2) : 0);
    const Accumulated mdev = ModifiedSums(src, m);
    const long double mm = static_cast<long double>(m);
    const double mdev_value = mdev.n ? dev(mdev, 2 * mm * mm) : 0;
    add(Deviation::kMdev, mdev.n, mdev_value);
    add(Deviation::kTdev, mdev.n, tau * mdev_value / std::sqrt(3.0));
    const Accumulated hdev = Differences(src, m, 3, m);
    add(Deviation::kHdev, hdev.n, hdev.n ? dev(hdev, 6) : 0);
    const Accumulated ohdev = Differences(src, m, 3, 1);
    add(Deviation::kOhdev, ohdev.n, ohdev.n ? dev(ohdev, 6) : 0);

    Accumulated tie;
    double mtie = 0;
    int64_t windows = 0;
    TieWindows(src, m, tie, mtie, windows);
    add(Deviation::kTieRms, tie.n,
        tie.n ? static_cast<double>(std::sqrt(tie.sum / static_cast<long double>(tie.n))) : 0);
    add(Deviation::kMtie, windows, mtie);
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
    case Deviation::kAdev: return "adev";
    case Deviation::kOadev: return "oadev";
    case Deviation::kMdev: return "mdev";
    case Deviation::kTdev: return "tdev";
    case Deviation::kHdev: return "hdev";
    case Deviation::kOhdev: return "ohdev";
    case Deviation::kTieRms: return "tierms";
    case Deviation::kMtie: return "mtie";
  }
  return "";
}

std::vector<int64_t> OctaveFactors(int64_t last_index) { return Factors(last_index, true); }
std::vector<int64_t> AllFactors(int64_t last_index) { return Factors(last_index, false); }

std::vector<StabilityRow> StabilityTable(const PulseTrain& train,
                                         std::span<const int64_t> factors) {
  if (train.stamps.size() < 2) return {};
  std::vector<double> phase(train.stamps.size());
  for (int64_t k = 0; k <= train.LastIndex(); ++k) phase[static_cast<size_t>(k)] = train.PhaseSeconds(k);
  const double tau0_s = train.Tau0Ticks() * common::kTickSeconds;
  return Table(StampSource(train), phase, tau0_s, factors);
}

std::vector<StabilityRow> StabilityTable(std::span<const double> phase_s, double tau0_s,
                                         std::span<const int64_t> factors) {
  return Table(SecondsSource(phase_s), phase_s, tau0_s, factors);
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
