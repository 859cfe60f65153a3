#include "analysis/noise_id.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

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

std::optional<int> Lag1NoiseId(std::span<const double> decimated_phase) {
  if (static_cast<int64_t>(decimated_phase.size()) < kLag1MinPoints) return std::nullopt;
  std::vector<double> z(decimated_phase.begin(), decimated_phase.end());
  RemoveQuadratic(z);
  constexpr int kMaxDifferences = 2;
  for (int d = 0;; ++d) {
    const double r1 = Lag1Autocorrelation(z);
    // r1 near -1 (a differenced white record) means delta far below any boundary.
    const double delta = 1 + r1 > 1e-12 ? r1 / (1 + r1) : -1.0;
    if (delta < 0.25 || d >= kMaxDifferences) {
      const int alpha = static_cast<int>(std::lround(-2 * delta)) - 2 * d + 2;
      return std::clamp(alpha, -2, 2);
    }
    for (size_t i = 0; i + 1 < z.size(); ++i) z[i] = z[i + 1] - z[i];
    z.pop_back();
  }
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

}  // namespace analysis
