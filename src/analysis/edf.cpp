#include "analysis/edf.h"

#include <array>
#include <boost/math/distributions/chi_squared.hpp>
#include <boost/math/quadrature/tanh_sinh.hpp>
#include <cmath>
#include <limits>

namespace analysis {
namespace {

using Real = long double;
constexpr Real kInfinite = std::numeric_limits<Real>::infinity();
// Beyond this many terms the sums give way to the large-run coefficients.
constexpr Real kJmax = 100;

Real Binomial(int n, int k) {
  Real b = 1;
  for (int i = 1; i <= k; ++i) b = b * (n - k + i) / i;
  return b;
}

// The generalised autocovariance of each noise: sw(t) = c |t|^p, times ln|t| for the flicker
// noises (0 ln 0 is 0).
struct Kernel {
  Real c;
  int p;
  bool log;
};

Kernel KernelOf(int alpha) {
  switch (alpha) {
    case 2:
      return {-1, 1, false};
    case 1:
      return {1, 2, true};
    case 0:
      return {1, 3, false};
    case -1:
      return {-1, 4, true};
    default:
      return {-1, 5, false};  // -2
  }
}

Real Sw(Real t, const Kernel& k) {
  const Real a = std::fabs(t);
  if (a == 0) return 0;
  const Real power = std::pow(a, static_cast<Real>(k.p));
  return k.c * (k.log ? power * std::log(a) : power);
}

// 2 sw(t) - sw(t - h) - sw(t + h). Written out plainly it cancels almost every digit when
// h << |t| (F = m of an unmodified variance at a large factor), so away from 0 the binomial
// terms of (|t| +- h)^p are summed as they are and the logarithms split into ln|t| and
// log1p(+-h / |t|).
Real NegativeSecondDifference(Real t, Real h, const Kernel& k) {
  const Real a = std::fabs(t);
  if (a <= 2 * h) return 2 * Sw(t, k) - Sw(t - h, k) - Sw(t + h, k);
  Real even = 0;  // ((a + h)^p + (a - h)^p - 2 a^p) / 2
  for (int j = 1; 2 * j <= k.p; ++j) {
    even += Binomial(k.p, 2 * j) * std::pow(a, static_cast<Real>(k.p - 2 * j)) *
            std::pow(h, static_cast<Real>(2 * j));
  }
  if (!k.log) return -2 * k.c * even;
  const Real x = h / a;
  const Real logs = std::pow(1 + x, static_cast<Real>(k.p)) * std::log1p(x) +
                    std::pow(1 - x, static_cast<Real>(k.p)) * std::log1p(-x);
  return -k.c * (2 * even * std::log(a) + std::pow(a, static_cast<Real>(k.p)) * logs);
}

// The kernel after the phase averaging of the estimator over 1/F of tau; F = infinity is the
// limit of a continuous average, sw of alpha + 2. The limit of flicker phase noise grows as
// ln F at 0; away from 0 it is -(2 ln|t| + 3), which is all the large-run integrals need.
Real Sx(Real t, Real f, int alpha) {
  if (std::isinf(f)) {
    if (alpha == 1) return t == 0 ? kInfinite : -(2 * std::log(std::fabs(t)) + 3);
    return Sw(t, KernelOf(alpha + 2));
  }
  return f * f * NegativeSecondDifference(t, 1 / f, KernelOf(alpha));
}

// The kernel after the d-th difference: sum over k of (-1)^k C(2d, d + k) sx(t - k).
Real Sz(Real t, Real f, int alpha, int d) {
  Real sum = Binomial(2 * d, d) * Sx(t, f, alpha);
  for (int k = 1; k <= d; ++k) {
    const Real weight = (k % 2 ? -1 : 1) * Binomial(2 * d, d + k);
    sum += weight * (Sx(t - k, f, alpha) + Sx(t + k, f, alpha));
  }
  return sum;
}

// sz(0)^2 + 2 sum_{j=1}^{J-1} (1 - j/M) sz(j/S)^2 + (1 - J/M) sz(J/S)^2
Real BasicSum(Real j_terms, Real m_terms, Real s, Real f, int alpha, int d) {
  const Real z0 = Sz(0, f, alpha, d);
  Real sum = z0 * z0;
  const auto last = static_cast<int64_t>(j_terms);
  for (int64_t j = 1; j < last; ++j) {
    const Real z = Sz(static_cast<Real>(j) / s, f, alpha, d);
    sum += 2 * (1 - static_cast<Real>(j) / m_terms) * z * z;
  }
  const Real zj = Sz(j_terms / s, f, alpha, d);
  return sum + (1 - j_terms / m_terms) * zj * zj;
}

bool Defined(int alpha, int d) {
  return alpha >= -2 && alpha <= 2 && d >= 1 && d <= 3 && alpha + 2 * d > 1;
}

// The integrals of sz^2 over the d + 1 unit lags, one piece per unit so that every kink and
// logarithmic point of the kernels lies on an end, where tanh-sinh copes with it.
LargeRunCoefficients Integrated(int alpha, int d, bool modified) {
  const Real f = modified ? 1 : kInfinite;
  boost::math::quadrature::tanh_sinh<double> quadrature;
  double i0 = 0, i1 = 0;
  for (int k = 0; k <= d; ++k) {
    const auto square = [&](double u) {
      const double z = static_cast<double>(Sz(u, f, alpha, d));
      return z * z;
    };
    i0 += quadrature.integrate(square, k, k + 1.0, 1e-13);
    i1 += quadrature.integrate([&](double u) { return u * square(u); }, k, k + 1.0, 1e-13);
  }
  LargeRunCoefficients c{2 * i0, 2 * i1, 0, 0};
  if (!modified && alpha == 1) {
    // sz(0) = C(2d, d) 2 ln m + the rest of the sum at the whole lags.
    c.b1 = static_cast<double>(2 * Binomial(2 * d, d));
    Real b0 = 0;
    for (int k = 1; k <= d; ++k) b0 += 2 * (k % 2 ? -1 : 1) * Binomial(2 * d, d + k) * Sx(k, f, 1);
    c.b0 = static_cast<double>(b0);
    return c;
  }
  const double z0 = static_cast<double>(Sz(0, f, alpha, d));
  c.a0 /= z0 * z0;
  c.a1 /= z0 * z0;
  return c;
}

// White phase noise of the unmodified variances: only the lags 0 .. d of whole taus carry a
// covariance, C(2d, d - k)^2 relative to the lag 0, so the sum is exact at any length.
Real WhitePhaseInverseEdf(int d, Real m_terms, Real r) {
  const Real centre = Binomial(2 * d, d);
  Real sum = 1;
  for (int k = 1; k <= d && k < r; ++k) {
    const Real c = Binomial(2 * d, d - k) / centre;
    sum += 2 * (1 - k / r) * c * c;
  }
  return sum / m_terms;
}

// Every coefficient the algorithm can use, worked out once.
const std::array<std::optional<LargeRunCoefficients>, 30>& Coefficients() {
  static const auto table = [] {
    std::array<std::optional<LargeRunCoefficients>, 30> t;
    for (int modified = 0; modified <= 1; ++modified) {
      for (int alpha = -2; alpha <= 2; ++alpha) {
        for (int d = 1; d <= 3; ++d) {
          if (!Defined(alpha, d)) continue;
          const size_t at = static_cast<size_t>(modified * 15 + (alpha + 2) * 3 + d - 1);
          if (!modified && alpha == 2) {
            const Real centre = Binomial(2 * d, d);
            t[at] = LargeRunCoefficients{
                static_cast<double>(Binomial(4 * d, 2 * d) / (centre * centre)), d / 2.0, 0, 0};
          } else {
            t[at] = Integrated(alpha, d, modified == 1);
          }
        }
      }
    }
    return t;
  }();
  return table;
}

// The terms of an estimator over a run, as the algorithm names them.
struct Layout {
  Real m, n, s;  // factor, phase points, terms per tau (S)
  Real m_terms;  // M
  Real j_terms;  // J
  Real r;        // M / S
};

std::optional<Real> InverseEdf(const EdfQuery& q) {
  const int alpha = q.alpha;
  const int d = q.d;
  Layout l;
  l.m = static_cast<Real>(q.m);
  l.n = static_cast<Real>(q.n_phase);
  l.s = q.overlapping ? l.m : 1;
  const Real f = q.modified ? 1 : l.m;    // phase averaging of the estimator
  const Real length = l.m / f + l.m * d;  // phase span of one term
  if (l.n < length) return std::nullopt;
  l.m_terms = 1 + std::floor(l.s * (l.n - length) / l.m);
  l.j_terms = std::min(l.m_terms, (d + 1) * l.s);
  l.r = l.m_terms / l.s;
  const LargeRunCoefficients c = *LargeRunTable(alpha, d, q.modified);

  if (!q.modified && alpha == 2) return WhitePhaseInverseEdf(d, l.m_terms, l.r);
  // The kernel's phase averaging: the estimator's own, or its limit once it no longer matters.
  Real f_used = q.modified ? 1 : kInfinite;
  if (!q.modified && (alpha == 1 || l.m * (d + 1) <= kJmax)) f_used = l.m;
  if (l.j_terms <= kJmax) {
    const Real z0 = Sz(0, f_used, alpha, d);
    return BasicSum(l.j_terms, l.m_terms, l.s, f_used, alpha, d) / (z0 * z0 * l.m_terms);
  }
  // Flicker phase noise of the unmodified variances: sz(0) grows as b0 + b1 ln m.
  const bool flicker_pm = !q.modified && alpha == 1;
  const Real z0 = flicker_pm ? c.b0 + c.b1 * std::log(l.m) : 1;
  if (l.r >= d + 1) return (c.a0 - c.a1 / l.r) / (l.r * z0 * z0);
  // Fewer than d + 1 terms per tau, many lags: the sum taken over 100 lags, spaced to keep r.
  const Real s = kJmax / l.r;
  const Real f_short = q.modified ? 1 : (flicker_pm ? s : kInfinite);
  const Real z = flicker_pm ? z0 : Sz(0, f_short, alpha, d);
  return BasicSum(kJmax, kJmax, s, f_short, alpha, d) / (z * z * kJmax);
}

}  // namespace

std::optional<LargeRunCoefficients> LargeRunTable(int alpha, int d, bool modified) {
  if (!Defined(alpha, d)) return std::nullopt;
  return Coefficients()[static_cast<size_t>((modified ? 15 : 0) + (alpha + 2) * 3 + d - 1)];
}

std::optional<double> EquivalentDegreesOfFreedom(const EdfQuery& query) {
  if (!Defined(query.alpha, query.d) || query.m < 1) return std::nullopt;
  const std::optional<Real> inverse = InverseEdf(query);
  if (!inverse || !(*inverse > 0) || !std::isfinite(*inverse)) return std::nullopt;
  return static_cast<double>(1 / *inverse);
}

Bounds DeviationBounds(double deviation, double edf, double confidence) {
  const boost::math::chi_squared_distribution<double> chi2(edf);
  const double tail = (1 - confidence) / 2;
  const double upper_quantile = boost::math::quantile(chi2, 1 - tail);
  const double lower_quantile = boost::math::quantile(chi2, tail);
  return Bounds{deviation * std::sqrt(edf / upper_quantile),
                deviation * std::sqrt(edf / lower_quantile)};
}

}  // namespace analysis
