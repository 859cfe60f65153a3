#include "analysis/edf.h"

#include <boost/math/distributions/chi_squared.hpp>
#include <cmath>
#include <limits>

namespace analysis {
namespace {

using Real = long double;
constexpr Real kInfinite = std::numeric_limits<Real>::infinity();
// Beyond this many terms the sums give way to the large-r approximations.
constexpr Real kJmax = 100;

// The generalised autocovariance kernels of the noise, sw(t) for each alpha; 0 ln 0 is 0.
Real Sw(Real t, int alpha) {
  const Real a = std::fabs(t);
  const auto t_log = [&](Real p) { return a == 0 ? Real(0) : std::pow(a, p) * std::log(a); };
  switch (alpha) {
    case 2:
      return -a;
    case 1:
      return t_log(2);
    case 0:
      return a * a * a;
    case -1:
      return -t_log(4);
    case -2:
      return -std::pow(a, 5);
    case -3:
      return t_log(6);
    case -4:
      return std::pow(a, 7);
  }
  return 0;
}

// The kernel after the phase averaging of the estimator; F = infinity is the limit of a
// continuous average.
Real Sx(Real t, Real f, int alpha) {
  if (std::isinf(f)) return Sw(t, alpha + 2);
  return f * f * (2 * Sw(t, alpha) - Sw(t - 1 / f, alpha) - Sw(t + 1 / f, alpha));
}

// The kernel after the d-th difference.
Real Sz(Real t, Real f, int alpha, int d) {
  switch (d) {
    case 1:
      return 2 * Sx(t, f, alpha) - Sx(t - 1, f, alpha) - Sx(t + 1, f, alpha);
    case 2:
      return 6 * Sx(t, f, alpha) - 4 * (Sx(t - 1, f, alpha) + Sx(t + 1, f, alpha)) +
             Sx(t - 2, f, alpha) + Sx(t + 2, f, alpha);
    default:
      return 20 * Sx(t, f, alpha) - 15 * (Sx(t - 1, f, alpha) + Sx(t + 1, f, alpha)) +
             6 * (Sx(t - 2, f, alpha) + Sx(t + 2, f, alpha)) - Sx(t - 3, f, alpha) -
             Sx(t + 3, f, alpha);
  }
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

struct A01 {
  Real a0, a1;
};

// Large-r coefficients of 1/edf = (a0 - a1 / r) / r, rows alpha = 2 .. -2, columns d = 1 .. 3
// (Greenhall and Riley, tables 1 and 2); a0 < 0 marks a combination without a value.
constexpr A01 kModifiedTable[5][3] = {
    {{2.0L / 3, 1.0L / 3}, {7.0L / 9, 1.0L / 2}, {22.0L / 25, 2.0L / 3}},
    {{0.840L, 0.345L}, {0.997L, 0.616L}, {1.141L, 0.843L}},
    {{1.079L, 0.368L}, {1.033L, 0.605L}, {1.184L, 0.816L}},
    {{-1, -1}, {1.048L, 0.534L}, {1.180L, 0.818L}},
    {{-1, -1}, {-1, -1}, {1.163L, 0.794L}},
};
constexpr A01 kUnmodifiedTable[5][3] = {
    {{3.0L / 2, 1.0L / 2}, {35.0L / 18, 1}, {231.0L / 100, 3.0L / 2}},
    {{78.6L, 25.2L}, {790, 410}, {9950, 6520}},
    {{2.0L / 3, 1.0L / 6}, {2.0L / 3, 1.0L / 3}, {7.0L / 9, 1.0L / 2}},
    {{-1, -1}, {0.852L, 0.375L}, {0.997L, 0.617L}},
    {{-1, -1}, {1.079L, 0.368L}, {1.033L, 0.534L}},
};
// alpha = 1, unmodified: sz(0) grows as b0 + b1 ln m (table 3), columns d = 1 .. 3.
constexpr A01 kFlickerPmTable[3] = {{6, 4}, {15.23L, 12}, {47.8L, 40}};

std::optional<A01> TableEntry(const A01 (&table)[5][3], int alpha, int d) {
  const A01 entry = table[2 - alpha][d - 1];
  if (entry.a0 < 0) return std::nullopt;
  return entry;
}

std::optional<Real> InverseEdf(const EdfQuery& q) {
  const int alpha = q.alpha;
  const int d = q.d;
  const Real m = static_cast<Real>(q.m);
  const Real n = static_cast<Real>(q.n_phase);
  const Real f = q.modified ? 1 : m;     // phase averaging of the estimator
  const Real s = q.overlapping ? m : 1;  // terms per tau
  const Real length = m / f + m * d;     // phase span of one term
  const Real m_terms = 1 + std::floor(s * (n - length) / m);
  if (m_terms < 1) return std::nullopt;
  const Real j_terms = std::min(m_terms, (d + 1) * s);
  const Real r = m_terms / s;

  if (q.modified) {
    if (j_terms <= kJmax) {
      const Real z0 = Sz(0, 1, alpha, d);
      return BasicSum(j_terms, m_terms, s, 1, alpha, d) / (z0 * z0 * m_terms);
    }
    if (r > d + 1) {
      const auto a = TableEntry(kModifiedTable, alpha, d);
      if (!a) return std::nullopt;
      return (a->a0 - a->a1 / r) / r;
    }
    const Real z0 = Sz(0, 1, alpha, d);
    return BasicSum(kJmax, kJmax, kJmax / r, 1, alpha, d) / (z0 * z0 * kJmax);
  }

  if (alpha <= 0) {
    if (j_terms <= kJmax) {
      const Real f_used = m * (d + 1) <= kJmax ? m : kInfinite;
      const Real z0 = Sz(0, f_used, alpha, d);
      return BasicSum(j_terms, m_terms, s, f_used, alpha, d) / (z0 * z0 * m_terms);
    }
    if (r > d + 1) {
      const auto a = TableEntry(kUnmodifiedTable, alpha, d);
      if (!a) return std::nullopt;
      return (a->a0 - a->a1 / r) / r;
    }
    const Real z0 = Sz(0, kInfinite, alpha, d);
    return BasicSum(kJmax, kJmax, kJmax / r, kInfinite, alpha, d) / (z0 * z0 * kJmax);
  }

  if (alpha == 1) {
    if (j_terms <= kJmax) {
      const Real z0 = Sz(0, m, 1, d);
      return BasicSum(j_terms, m_terms, s, m, 1, d) / (z0 * z0 * m_terms);
    }
    const A01 b = kFlickerPmTable[d - 1];
    const Real z0 = b.a0 + b.a1 * std::log(m);
    if (r > d + 1) {
      const auto a = TableEntry(kUnmodifiedTable, 1, d);
      return (a->a0 - a->a1 / r) / (z0 * z0 * r);
    }
    const Real m_prime = kJmax / r;
    return BasicSum(kJmax, kJmax, m_prime, m_prime, 1, d) / (z0 * z0 * kJmax);
  }

  // alpha = 2, white phase noise: the closed form for enough terms, the exact sum otherwise.
  if (std::ceil(r) > d) {
    const auto binomial = [](int n, int k) {
      Real b = 1;
      for (int i = 1; i <= k; ++i) b = b * (n - k + i) / i;
      return b;
    };
    // a0 = C(4d, 2d) / C(2d, d)^2, a1 = d / 2
    const Real a0 = binomial(4 * d, 2 * d) / (binomial(2 * d, d) * binomial(2 * d, d));
    const Real a1 = d / 2.0L;
    return (a0 - a1 / r) / m_terms;
  }
  const Real z0 = Sz(0, m, 2, d);
  return BasicSum(j_terms, m_terms, s, m, 2, d) / (z0 * z0 * m_terms);
}

}  // namespace

std::optional<double> EquivalentDegreesOfFreedom(const EdfQuery& query) {
  if (query.alpha < -2 || query.alpha > 2 || query.d < 1 || query.d > 3) return std::nullopt;
  if (query.alpha + 2 * query.d <= 1 || query.m < 1) return std::nullopt;
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
