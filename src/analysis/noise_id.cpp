#include "analysis/noise_id.h"

#include <algorithm>
#include <boost/multiprecision/cpp_bin_float.hpp>
#include <cmath>
#include <functional>
#include <numbers>
#include <vector>

#include "common/ticks.h"

namespace analysis {
namespace {

// Removes the least-squares quadratic (phase: offset, frequency, drift) in place.
void RemoveQuadratic(std::vector<double>& x) {
  const size_t n = x.size();
  if (n < 3) return;
  // Orthogonal polynomials on the centred index keep the fit well conditioned at any length.
  const double c = (static_cast<double>(n) - 1) / 2;
  double s2 = 0;
  for (size_t i = 0; i < n; ++i) {
    const double u = static_cast<double>(i) - c;
    s2 += u * u;
  }
  const double q_shift = s2 / static_cast<double>(n);  // p2(u) = u^2 - s2 / n
  double y0 = 0, y1 = 0, y2 = 0, p2p2 = 0;
  for (size_t i = 0; i < n; ++i) {
    const double u = static_cast<double>(i) - c;
    const double p2 = u * u - q_shift;
    y0 += x[i];
    y1 += x[i] * u;
    y2 += x[i] * p2;
    p2p2 += p2 * p2;
  }
  const double b0 = y0 / static_cast<double>(n);
  const double b1 = y1 / s2;
  const double b2 = p2p2 > 0 ? y2 / p2p2 : 0;
  for (size_t i = 0; i < n; ++i) {
    const double u = static_cast<double>(i) - c;
    x[i] -= b0 + b1 * u + b2 * (u * u - q_shift);
  }
}

double Lag1Autocorrelation(const std::vector<double>& z) {
  double mean = 0;
  for (double v : z) mean += v;
  mean /= static_cast<double>(z.size());
  double num = 0, den = 0;
  for (size_t i = 0; i < z.size(); ++i) {
    const double a = z[i] - mean;
    den += a * a;
    if (i + 1 < z.size()) num += a * (z[i + 1] - mean);
  }
  return den > 0 ? num / den : 0;
}

std::vector<double> Decimate(std::span<const double> phase, int64_t m) {
  std::vector<double> out;
  out.reserve(phase.size() / static_cast<size_t>(m) + 1);
  for (size_t i = 0; i < phase.size(); i += static_cast<size_t>(m)) {
    if (!std::isnan(phase[i])) out.push_back(phase[i]);
  }
  return out;
}

// MVAR / AVAR at m on the undecimated phase; a term that touches a missing point is skipped.
// The sums of m second differences slide along in O(N).
std::optional<double> ModifiedRatio(std::span<const double> x, int64_t m) {
  const size_t mm = static_cast<size_t>(m);
  if (x.size() < 3 * mm + 1) return std::nullopt;
  const auto d2 = [&](size_t i) { return x[i + 2 * mm] - 2 * x[i + mm] + x[i]; };
  double avar = 0, mvar = 0;
  size_t n_a = 0, n_m = 0;
  double window = 0;       // sum of the finite second differences j .. j + m - 1
  size_t window_gaps = 0;  // non-finite ones among them
  for (size_t i = 0; i + 2 * mm < x.size(); ++i) {
    const double v = d2(i);
    if (std::isnan(v)) {
      ++window_gaps;
    } else {
      avar += v * v;
      ++n_a;
      window += v;
    }
    if (i >= mm) {
      const double out = d2(i - mm);
      if (std::isnan(out)) {
        --window_gaps;
      } else {
        window -= out;
      }
    }
    if (i + 1 >= mm && window_gaps == 0) {
      mvar += window * window;
      ++n_m;
    }
  }
  if (n_a == 0 || n_m == 0 || avar <= 0) return std::nullopt;
  return (mvar / (static_cast<double>(n_m) * static_cast<double>(m * m))) /
         (avar / static_cast<double>(n_a));
}

std::optional<int> B1NoiseId(std::span<const double> decimated, int64_t m,
                             std::optional<double> modified_ratio) {
  if (decimated.size() < 4) return std::nullopt;
  // Frequency averages over tau from the decimated phase (the tau scaling cancels).
  std::vector<double> y(decimated.size() - 1);
  for (size_t i = 0; i + 1 < decimated.size(); ++i) y[i] = decimated[i + 1] - decimated[i];
  const double n = static_cast<double>(y.size());
  double mean = 0;
  for (double v : y) mean += v;
  mean /= n;
  double var = 0, avar = 0;
  for (size_t i = 0; i < y.size(); ++i) {
    var += (y[i] - mean) * (y[i] - mean);
    if (i + 1 < y.size()) avar += (y[i + 1] - y[i]) * (y[i + 1] - y[i]);
  }
  var /= n - 1;
  avar /= 2 * (n - 1);
  if (!(avar > 0)) return std::nullopt;
  const double b1 = var / avar;

  // The nearest of the expected ratios for mu = 1, 0, -1, -2, with the boundaries at their
  // geometric means.
  int mu = -2;
  for (int candidate : {1, 0, -1}) {
    const double here = B1Ratio(n, candidate);
    const double below = B1Ratio(n, candidate - 1);
    if (b1 > std::sqrt(here * below)) {
      mu = candidate;
      break;
    }
  }
  if (mu > -2) return -mu - 1;

  // White or flicker phase noise: R(n) = MVAR / AVAR is 1 / n for white and about
  // 3.37 / (1.038 + 3 ln(pi n)) for flicker phase noise (fh = 1 / (2 tau0)).
  const std::optional<double> r = modified_ratio;
  if (!r || m < 2) return 2;
  const double nm = static_cast<double>(m);
  const double white = 1 / nm;
  const double flicker = 3.37 / (1.038 + 3 * std::log(std::numbers::pi * nm));
  return *r > std::sqrt(white * flicker) ? 1 : 2;
}

}  // namespace

double B1Ratio(double n, double mu) {
  if (mu == 0) return n * std::log(n) / (2 * (n - 1) * std::log(2.0));
  return n * (1 - std::pow(n, mu)) / (2 * (n - 1) * (1 - std::pow(2.0, mu)));
}

std::array<double, 3> Lag1Correlations(std::span<const double> decimated_phase) {
  std::vector<double> z(decimated_phase.begin(), decimated_phase.end());
  RemoveQuadratic(z);
  std::array<double, 3> r1{};
  for (size_t d = 0; d < r1.size(); ++d) {
    if (d > 0) {
      for (size_t i = 0; i + 1 < z.size(); ++i) z[i] = z[i + 1] - z[i];
      z.pop_back();
    }
    r1[d] = Lag1Autocorrelation(z);
  }
  return r1;
}

int Lag1Alpha(const std::array<double, 3>& r1) {
  constexpr int kMaxDifferences = 2;
  for (int d = 0;; ++d) {
    const double r = r1[static_cast<size_t>(d)];
    // r1 near -1 (a differenced white record) means delta far below any boundary.
    const double delta = 1 + r > 1e-12 ? r / (1 + r) : -1.0;
    if (delta < 0.25 || d >= kMaxDifferences) {
      const int alpha = static_cast<int>(std::lround(-2 * delta)) - 2 * d + 2;
      return std::clamp(alpha, -2, 2);
    }
  }
}

std::optional<int> Lag1NoiseId(std::span<const double> decimated_phase) {
  if (static_cast<int64_t>(decimated_phase.size()) < kLag1MinPoints) return std::nullopt;
  return Lag1Alpha(Lag1Correlations(decimated_phase));
}

std::optional<int> IdentifyDecimatedNoise(std::span<const double> decimated_phase, int64_t m,
                                          std::optional<double> modified_ratio) {
  if (m < 1) return std::nullopt;
  if (static_cast<int64_t>(decimated_phase.size()) >= kLag1MinPoints) {
    return Lag1NoiseId(decimated_phase);
  }
  return B1NoiseId(decimated_phase, m, modified_ratio);
}

std::optional<int> IdentifyNoise(std::span<const double> phase, int64_t m) {
  if (m < 1) return std::nullopt;
  const std::vector<double> decimated = Decimate(phase, m);
  if (static_cast<int64_t>(decimated.size()) >= kLag1MinPoints) return Lag1NoiseId(decimated);
  return B1NoiseId(decimated, m, ModifiedRatio(phase, m));
}

void DecimatedNoise::Wide::AddWideProduct(__int128 a, __int128 b) {
  using U = unsigned __int128;
  const bool negative = (a < 0) != (b < 0);
  const U ua = a < 0 ? -static_cast<U>(a) : static_cast<U>(a);
  const U ub = b < 0 ? -static_cast<U>(b) : static_cast<U>(b);
  const U a0 = static_cast<uint64_t>(ua), a1 = ua >> 64;
  const U b0 = static_cast<uint64_t>(ub), b1 = ub >> 64;
  U low = a0 * b0;
  U high = a1 * b1;
  for (const U mid : {a0 * b1, a1 * b0}) {
    const U before = low;
    low += mid << 64;
    high += (mid >> 64) + (low < before ? 1 : 0);
  }
  if (negative) {
    low = ~low + 1;
    high = ~high + (low == 0 ? 1 : 0);
  }
  Add(Wide{low, static_cast<__int128>(high)});
}

void DecimatedNoise::Wide::AddTimes(const Wide& w, uint64_t c) {
  using U = unsigned __int128;
  const uint64_t limbs[4] = {static_cast<uint64_t>(w.low), static_cast<uint64_t>(w.low >> 64),
                             static_cast<uint64_t>(w.high),
                             static_cast<uint64_t>(static_cast<U>(w.high) >> 64)};
  uint64_t out[4];
  U carry = 0;
  for (size_t i = 0; i < 4; ++i) {
    const U product = static_cast<U>(limbs[i]) * c + carry;
    out[i] = static_cast<uint64_t>(product);
    carry = product >> 64;
  }
  Add(Wide{static_cast<U>(out[0]) | static_cast<U>(out[1]) << 64,
           static_cast<__int128>(static_cast<U>(out[2]) | static_cast<U>(out[3]) << 64)});
}

void DecimatedNoise::Add(int64_t k, int64_t stamp) {
  if (!rho_set_ && k > 0) {
    rho_ = stamp / k;
    rho_set_ = true;
  }
  Point p{k, stamp, static_cast<__int128>(stamp) - static_cast<__int128>(rho_) * k, false, false};
  constexpr __int128 kSmall = __int128{1} << 62;
  constexpr __int128 kNarrow = __int128{1} << 31;
  p.small = p.u < kSmall && p.u > -kSmall && k < kSmall && k > -kSmall;
  p.narrow = p.u < kNarrow && p.u > -kNarrow && k < kNarrow && k > -kNarrow;
  // At g = 0, u k and k u are one sum: only the first is kept.
  for (int64_t g = 0; g <= 3 && g <= n_; ++g) {
    const Point& q = g == 0 ? p : tail_[static_cast<size_t>(n_ - g) % kTail];
    if (p.narrow && q.narrow) {  // each product within 2^62
      const auto pu = static_cast<int64_t>(p.u), qu = static_cast<int64_t>(q.u);
      std::array<__int128, 4>& sums = narrow_lag_[static_cast<size_t>(g)];
      sums[0] += static_cast<__int128>(qu) * pu;
      sums[1] += static_cast<__int128>(qu) * p.k;
      if (g > 0) sums[2] += static_cast<__int128>(q.k) * pu;
      sums[3] += static_cast<__int128>(q.k) * p.k;
      continue;
    }
    std::array<Wide, 4>& sums = lag_[static_cast<size_t>(g)];
    if (p.small && q.small) {  // every product within 2^124
      sums[0].Add(q.u * p.u);
      sums[1].Add(q.u * p.k);
      if (g > 0) sums[2].Add(static_cast<__int128>(q.k) * p.u);
      sums[3].Add(static_cast<__int128>(q.k) * p.k);
    } else {
      sums[0].AddProduct(q.u, p.u);
      sums[1].AddProduct(q.u, p.k);
      if (g > 0) sums[2].AddProduct(q.k, p.u);
      sums[3].AddProduct(q.k, p.k);
    }
  }
  const __int128 values[2] = {p.u, p.k};
  for (size_t s = 0; s < 2; ++s) {
    std::array<__int128, 3>& b = block_.sums[s];
    b[0] += values[s];
    b[1] += b[0];
    b[2] += b[1];
  }
  if (++block_.n == kBlockPoints) Fold();
  if (static_cast<size_t>(n_) < kHead) head_[static_cast<size_t>(n_)] = p;
  tail_[static_cast<size_t>(n_) % kTail] = p;
  ++n_;
}

// With the running sums R0, R1, R2 before the block and its own r0, r1, r2 over its b points:
// R0 + r0, R1 + b R0 + r1 and R2 + b R1 + b (b + 1) / 2 R0 + r2.
std::array<std::array<DecimatedNoise::Wide, 3>, 2> DecimatedNoise::Running() const {
  std::array<std::array<Wide, 3>, 2> out = running_;
  const auto b = static_cast<uint64_t>(block_.n);
  for (size_t s = 0; s < 2; ++s) {
    const std::array<Wide, 3>& r = running_[s];
    out[s][2].AddTimes(r[1], b);
    out[s][2].AddTimes(r[0], b * (b + 1) / 2);
    out[s][1].AddTimes(r[0], b);
    for (size_t p = 0; p < 3; ++p) out[s][p].Add(block_.sums[s][p]);
  }
  return out;
}

void DecimatedNoise::Fold() {
  running_ = Running();
  block_ = Block{};
}

namespace {

using Big = boost::multiprecision::number<
    boost::multiprecision::cpp_bin_float<256, boost::multiprecision::digit_base_2>,
    boost::multiprecision::et_off>;

Big ToBig(__int128 v) {
  const bool negative = v < 0;
  const unsigned __int128 a =
      negative ? -static_cast<unsigned __int128>(v) : static_cast<unsigned __int128>(v);
  const Big high = Big(static_cast<uint64_t>(a >> 64)) * Big(18446744073709551616.0);
  const Big b = high + Big(static_cast<uint64_t>(a));
  return negative ? Big(-b) : b;
}

Big ToBig(unsigned __int128 low, __int128 high) {
  return ToBig(high) * Big(18446744073709551616.0) * Big(18446744073709551616.0) +
         ToBig(static_cast<__int128>(low >> 64)) * Big(18446744073709551616.0) +
         ToBig(static_cast<__int128>(static_cast<uint64_t>(low)));
}

// The record X(i) = K x(i) (x the phase in ticks against the final mean period) of n points,
// from its lag sums P(g) = sum X(i) X(i + g), its moments M(p) = sum i^p X(i) and the values
// at its two ends; the lag-1 correlations follow as sums over the ends only.
struct ExactRecord {
  int64_t n = 0;
  std::array<Big, 4> p;
  std::array<Big, 3> moment;
  std::function<Big(int64_t)> x;  // X(i) for i < 8 or i >= n - 8

  // sum_{j = from}^{to} X(j) X(j + g), g >= 0, from near the start and to near the end.
  Big Window(int64_t g, int64_t from, int64_t to) const {
    Big s = p[static_cast<size_t>(g)];
    for (int64_t j = 0; j < from; ++j) s -= x(j) * x(j + g);
    for (int64_t j = to + 1; j + g < n; ++j) s -= x(j) * x(j + g);
    return s;
  }

  // sum_i y(i) y(i + l) over the record's order-th differences y.
  Big DifferenceLag(int order, int64_t l) const {
    static constexpr int kWeights[3][3] = {{1, 0, 0}, {-1, 1, 0}, {1, -2, 1}};
    const int64_t count = n - order - l;
    Big total = 0;
    for (int a = 0; a <= order; ++a) {
      for (int b = 0; b <= order; ++b) {
        const int64_t g = l + b - a;
        const int64_t from = g >= 0 ? a : a + g;
        total += Big(kWeights[order][a] * kWeights[order][b]) *
                 Window(g >= 0 ? g : -g, from, from + count - 1);
      }
    }
    return total;
  }

  static Big Ratio(const Big& num, const Big& den) { return den > 0 ? Big(num / den) : Big(0); }

  // The record less its quadratic, and that residual's first differences.
  std::array<Big, 2> FirstTwo() const {
    const Big nn = n;
    const Big c = (nn - 1) / 2;
    const Big s2 = nn * (nn * nn - 1) / 12;
    const Big s4 = nn * (nn * nn - 1) * (3 * nn * nn - 7) / 240;
    const Big shift = s2 / nn;
    const Big xu = moment[1] - c * moment[0];
    const Big xp2 = moment[2] - 2 * c * moment[1] + (c * c - shift) * moment[0];
    const Big pp = s4 - s2 * s2 / nn;
    const Big b0 = moment[0] / nn, b1 = xu / s2, b2 = xp2 / pp;
    const Big residual = p[0] - moment[0] * b0 - xu * b1 - xp2 * b2;
    const auto fit = [&](const Big& i) {
      return b0 + b1 * (i - c) + b2 * ((i - c) * (i - c) - shift);
    };
    const Big z0 = x(0) - fit(0), zl = x(n - 1) - fit(nn - 1);
    // First differences w = dX - dq; dq has slope 2 b2.
    const Big n1 = nn - 1, ib = (n1 - 1) / 2;
    const Big sd = x(n - 1) - x(0), mu = sd / n1;
    const Big d0 = x(1) - x(0), dl = x(n - 1) - x(n - 2);
    const Big id = n1 * x(n - 1) + x(0) - moment[0];  // sum i dX(i)
    const Big cc = n1 * (n1 * n1 - 1) / 12;
    const Big den1 =
        DifferenceLag(1, 0) - n1 * mu * mu - 4 * b2 * (id - ib * sd) + 4 * b2 * b2 * cc;
    const Big aa = DifferenceLag(1, 1) - mu * (2 * sd - d0 - dl) + (n1 - 1) * mu * mu;
    const Big g = 2 * id - 2 * ib * sd - dl * (n1 - ib) + d0 * (1 + ib);
    const Big h = cc - (n1 - 1 - ib) * (n1 - 1 - ib) - (n1 - 1 - ib);
    const Big num1 = aa - 2 * b2 * g + 4 * b2 * b2 * h;
    const Big wbar = (zl - z0) / n1;
    const Big zz = (2 * residual - z0 * z0 - zl * zl - den1 - n1 * wbar * wbar) / 2;
    return {Ratio(zz, residual), Ratio(num1, den1)};
  }

  // The second differences: the quadratic leaves only a constant in them.
  Big Second() const {
    const Big n2 = n - 2;
    const Big sum = (x(n - 1) - x(n - 2)) - (x(1) - x(0));
    const Big first = x(2) - 2 * x(1) + x(0);
    const Big last = x(n - 1) - 2 * x(n - 2) + x(n - 3);
    const Big mean = sum / n2;
    const Big den = DifferenceLag(2, 0) - sum * mean;
    const Big num = DifferenceLag(2, 1) - mean * (2 * sum - first - last) + (n2 - 1) * mean * mean;
    return Ratio(num, den);
  }
};

}  // namespace

std::array<double, 3> DecimatedNoise::Correlations(int64_t k_last, int64_t t_last) const {
  ExactRecord r;
  r.n = n_;
  const Big k_big = ToBig(k_last);
  // X = K t - T k = K u - e k with e = T - rho K.
  const Big e = ToBig(static_cast<__int128>(t_last) - static_cast<__int128>(rho_) * k_last);
  const auto big = [](const Wide& w) { return ToBig(w.low, w.high); };
  for (size_t g = 0; g < 4; ++g) {
    std::array<Wide, 4> s = lag_[g];
    for (size_t j = 0; j < 4; ++j) s[j].Add(narrow_lag_[g][j]);
    const Big cross = g == 0 ? Big(2 * big(s[1])) : Big(big(s[1]) + big(s[2]));
    r.p[g] = k_big * k_big * big(s[0]) - k_big * e * cross + e * e * big(s[3]);
  }
  // The moments from the running sums: sum x = A, sum i x = n A - B,
  // sum i^2 x = 2 C - (n^2 + n) A + (2 n + 1) sum i x.
  const Big nn = n_;
  std::array<std::array<Big, 3>, 2> moments;
  const std::array<std::array<Wide, 3>, 2> running = Running();
  for (size_t s = 0; s < 2; ++s) {
    const Big a = big(running[s][0]), b = big(running[s][1]), c = big(running[s][2]);
    const Big first = nn * a - b;
    moments[s] = {a, first, 2 * c - (nn * nn + nn) * a + (2 * nn + 1) * first};
  }
  for (size_t q = 0; q < 3; ++q) r.moment[q] = k_big * moments[0][q] - e * moments[1][q];
  r.x = [this, k_last, t_last](int64_t i) {
    const Point& pt = static_cast<size_t>(i) < kHead ? head_[static_cast<size_t>(i)]
                                                     : tail_[static_cast<size_t>(i) % kTail];
    return ToBig(static_cast<__int128>(k_last) * pt.t - static_cast<__int128>(t_last) * pt.k);
  };
  const std::array<Big, 2> first = r.FirstTwo();
  return {static_cast<double>(first[0]), static_cast<double>(first[1]),
          static_cast<double>(r.Second())};
}

std::optional<int> DecimatedNoise::Alpha(int64_t k_last, int64_t t_last, int64_t m,
                                         std::optional<double> modified_ratio) const {
  if (m < 1 || k_last < 1) return std::nullopt;
  if (n_ >= kLag1MinPoints) return Lag1Alpha(Correlations(k_last, t_last));
  // Too few points for the lag-1 method: its phase in seconds as the batch table takes it.
  std::vector<double> phase;
  for (size_t i = 0; i < static_cast<size_t>(n_); ++i) {
    const __int128 level =
        static_cast<__int128>(k_last) * head_[i].t - static_cast<__int128>(head_[i].k) * t_last;
    phase.push_back(static_cast<double>(level) / static_cast<double>(k_last) *
                    common::kTickSeconds);
  }
  return IdentifyDecimatedNoise(phase, m, modified_ratio);
}

}  // namespace analysis
