#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

// Identification of the dominant power-law noise of a phase record at one averaging factor, as
// the usual stability tools do: the lag-1 autocorrelation method of Riley and Greenhall where
// there are enough points, the B1 ratio (with the modified-to-normal Allan ratio R(n) to split
// white from flicker phase noise) where there are too few. Pure functions; any thread.
namespace analysis {

// Fewest decimated phase points for the lag-1 autocorrelation method.
inline constexpr int64_t kLag1MinPoints = 30;

// The exponent alpha (-2 .. 2) of the frequency noise S_y(f) ~ f^alpha at averaging factor m of
// the phase points `phase` (any unit; NaN marks a missing point, which is left out of the
// decimated record). nullopt when even the B1 ratio has too few points.
std::optional<int> IdentifyNoise(std::span<const double> phase, int64_t m);

// The same from the phase already taken every m points (missing points left out) and, for the
// B1 fallback, the ratio MVAR / AVAR (overlapping) at m when there is one; the stability table
// has both at hand and so needs no copy of the whole phase.
std::optional<int> IdentifyDecimatedNoise(std::span<const double> decimated_phase, int64_t m,
                                          std::optional<double> modified_ratio);

// The lag-1 autocorrelation method on a record already decimated: differences the record until
// the lag-1 autocorrelation r1 gives delta = r1 / (1 + r1) below 0.25 (at most twice), and
// returns alpha = round(-2 delta) - 2 d + 2 clamped to -2 .. 2. Needs kLag1MinPoints values.
std::optional<int> Lag1NoiseId(std::span<const double> decimated_phase);

// The lag-1 autocorrelations the method looks at: of the record less its least-squares
// quadratic, of that residual's first differences and of its second differences (index d).
// Needs kLag1MinPoints values.
std::array<double, 3> Lag1Correlations(std::span<const double> decimated_phase);

// The method's decision from those three correlations.
int Lag1Alpha(const std::array<double, 3>& r1);

// The expected ratio of the N-sample to the two-sample variance of N frequency averages for an
// Allan variance going as tau^mu (Barnes' B1 function).
double B1Ratio(double n, double mu);

// The noise at one factor of a pulse train, fed the pulses kept one at a time (those at grid
// indices 0, m, 2m ... that are present) and asked for its answer at any time, with the phase
// x = t - k T / K taken against the mean period of the whole run as it then stands (T the last
// stamp, K the last index), exactly as the batch table takes it once the run is over. The
// record is held as exact integer sums of the stamps and indices (their lag products up to
// three apart and their running sums), which the phase expands into, plus the first 32 and the
// last 8 points; the correlations are then worked out in 256-bit floating point, so they are
// those of the record's exact phase, whatever drift it carries. About 1.5 KiB whatever the run
// length. Not thread-safe: one thread feeds it and asks, or the caller holds a lock.
class DecimatedNoise {
 public:
  // The next pulse kept: its grid index (above the last one's) and stamp, ticks, both within
  // +-2^62. O(1).
  void Add(int64_t k, int64_t stamp);
  int64_t Points() const { return n_; }

  // Lag1Correlations of the record's phase against the mean period t_last / k_last.
  // Needs kLag1MinPoints points.
  std::array<double, 3> Correlations(int64_t k_last, int64_t t_last) const;
  // The noise exponent as IdentifyDecimatedNoise gives it on the same phase in seconds:
  // the lag-1 method from kLag1MinPoints points, else B1 with `modified_ratio`.
  std::optional<int> Alpha(int64_t k_last, int64_t t_last, int64_t m,
                           std::optional<double> modified_ratio) const;

 private:
  // A signed 256-bit sum: no sum of the record overflows it.
  struct Wide {
    unsigned __int128 low = 0;
    __int128 high = 0;
    void Add(__int128 v) {
      const unsigned __int128 before = low;
      low += static_cast<unsigned __int128>(v);
      high += (v < 0 ? -1 : 0) + (low < before ? 1 : 0);
    }
    void Add(const Wide& w) {
      const unsigned __int128 before = low;
      low += w.low;
      high += w.high + (low < before ? 1 : 0);
    }
    // a * b: in 128 bits while both factors are below 2^62, as they are unless the period
    // changes many times over in a run.
    void AddProduct(__int128 a, __int128 b) {
      constexpr __int128 kSmall = __int128{1} << 62;
      if (a < kSmall && a > -kSmall && b < kSmall && b > -kSmall) {
        Add(a * b);
      } else {
        AddWideProduct(a, b);
      }
    }
    void AddWideProduct(__int128 a, __int128 b);
    // w * c, modulo 2^256 as every sum here is: exact while the true value fits.
    void AddTimes(const Wide& w, uint64_t c);
  };
  struct Point {
    int64_t k = 0;
    int64_t t = 0;
    __int128 u = 0;       // t - rho k
    bool small = false;   // u and k within 2^62: their products fit 128 bits
    bool narrow = false;  // u and k within 2^31: their products fit 63 bits
  };
  // The running sums of `running_` over the points since the last fold, counted from that fold.
  struct Block {
    int64_t n = 0;
    std::array<std::array<__int128, 3>, 2> sums{};
  };
  // Points per fold of a Block: its sums stay within 2^100 for values within 2^64.
  static constexpr int64_t kBlockPoints = 4096;
  void Fold();
  // running_ with the block folded in, for a reader that may not change the record.
  std::array<std::array<Wide, 3>, 2> Running() const;
  static constexpr size_t kHead = 32;
  static constexpr size_t kTail = 8;

  int64_t n_ = 0;
  int64_t rho_ = 0;  // a whole-tick period near the run's, so the sums stay small
  bool rho_set_ = false;
  std::array<Point, kHead> head_{};
  std::array<Point, kTail> tail_{};  // point i at tail_[i % kTail]
  // Sums over i of u(i) u(i+g), u(i) k(i+g), k(i) u(i+g) (not kept for g = 0, where it is the
  // one before) and k(i) k(i+g), g = 0 .. 3.
  std::array<std::array<Wide, 4>, 4> lag_{};
  // Lag products of narrow points, summed in 128 bits (each below 2^62, so 2^65 of them fit)
  // and added to lag_ when the record is read: the common case costs one multiply and one add.
  std::array<std::array<__int128, 4>, 4> narrow_lag_{};
  // For u and for k: the running sum A, the sum of A and the sum of that, from which the
  // moments sum i^p x(i), p = 0 .. 2, follow without a multiplication per point.
  std::array<std::array<Wide, 3>, 2> running_{};
  Block block_;
};

}  // namespace analysis
