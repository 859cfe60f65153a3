#include "analysis/edf.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace analysis {
namespace {

// The exact EDF of a sum of squared Gaussian terms z = A x: (tr C)^2 / tr(C^2) with
// C = A Cov(x) A^T. The algorithm models each phase point as the average of the continuous
// phase over one tau0 (the estimator's own averaging for the modified variance), so:
//   white PM (alpha 2): x independent;
//   white FM (alpha 0): x the unit averages of a Wiener process, whose covariance is
//   min(i, j) - 1/2 apart and i - 2/3 on the diagonal; a constant drops out of every term.
double CovarianceOfPhase(int alpha, int64_t i, int64_t j) {
  if (alpha == 2) return i == j ? 1.0 : 0.0;
  return static_cast<double>(std::min(i, j)) - (i == j ? 1.0 / 6 : 0.0);
}

struct Term {
  int64_t start;
  std::vector<double> weights;  // on x(start), x(start + 1) ...
};

std::vector<Term> Terms(const EdfQuery& q) {
  const std::vector<double> diff =
      q.d == 2 ? std::vector<double>{1, -2, 1} : std::vector<double>{-1, 3, -3, 1};
  std::vector<double> one((q.d) * q.m + 1, 0.0);
  for (int j = 0; j <= q.d; ++j) one[static_cast<size_t>(j * q.m)] = diff[static_cast<size_t>(j)];
  if (q.modified) {  // m shifted copies summed
    std::vector<double> summed(one.size() + static_cast<size_t>(q.m) - 1, 0.0);
    for (int64_t s = 0; s < q.m; ++s)
      for (size_t i = 0; i < one.size(); ++i) summed[i + static_cast<size_t>(s)] += one[i];
    one = summed;
  }
  std::vector<Term> terms;
  const int64_t stride = q.overlapping ? 1 : q.m;
  for (int64_t i = 0; i + static_cast<int64_t>(one.size()) <= q.n_phase; i += stride) {
    terms.push_back({i, one});
  }
  return terms;
}

// Both noises have stationary increments and every term's weights sum to 0, so the covariance
// of two terms depends only on how far apart they start.
double ExactEdf(const EdfQuery& q) {
  const std::vector<Term> terms = Terms(q);
  const size_t n = terms.size();
  std::vector<double> by_lag(n);
  for (size_t lag = 0; lag < n; ++lag) {
    const Term& a = terms[0];
    const Term& b = terms[lag];
    double s = 0;
    for (size_t i = 0; i < a.weights.size(); ++i) {
      if (a.weights[i] == 0) continue;
      for (size_t j = 0; j < b.weights.size(); ++j) {
        if (b.weights[j] == 0) continue;
        s += a.weights[i] * b.weights[j] *
             CovarianceOfPhase(q.alpha, a.start + static_cast<int64_t>(i),
                               b.start + static_cast<int64_t>(j));
      }
    }
    by_lag[lag] = s;
  }
  double trace_sq = static_cast<double>(n) * by_lag[0] * by_lag[0];
  for (size_t lag = 1; lag < n; ++lag) {
    trace_sq += 2.0 * static_cast<double>(n - lag) * by_lag[lag] * by_lag[lag];
  }
  const double trace = static_cast<double>(n) * by_lag[0];
  return trace * trace / trace_sq;
}

TEST(Edf, MatchesTheExactDegreesOfFreedomOfWhiteNoise) {
  const struct {
    const char* name;
    int d;
    bool overlapping;
    bool modified;
  } estimators[] = {
      {"adev", 2, false, false}, {"oadev", 2, true, false}, {"mdev", 2, true, true},
      {"hdev", 3, false, false}, {"ohdev", 3, true, false},
  };
  for (int alpha : {2, 0}) {
    for (const auto& e : estimators) {
      for (int64_t m : {1, 2, 5, 8}) {
        const int64_t n_phase = 64;
        const EdfQuery q{alpha, e.d, m, n_phase, e.overlapping, e.modified};
        if (Terms(q).empty()) continue;
        const std::optional<double> edf = EquivalentDegreesOfFreedom(q);
        ASSERT_TRUE(edf.has_value()) << e.name << " alpha=" << alpha << " m=" << m;
        const double exact = ExactEdf(q);
        EXPECT_NEAR(*edf, exact, 1e-6 * exact) << e.name << " alpha=" << alpha << " m=" << m;
      }
    }
  }
}

// Beyond 100 terms the algorithm takes its large-r approximations (the tables of the paper);
// they stay within a few percent of the exact value.
TEST(Edf, LargeRunApproximationsStayCloseToTheExactValue) {
  const EdfQuery cases[] = {
      {0, 2, 40, 1000, true, false},  // OADEV, J = 120
      {2, 3, 30, 800, true, false},   // OHDEV, J = 120
      {0, 2, 34, 400, true, true},    // MDEV, J = 102
  };
  for (const EdfQuery& q : cases) {
    const double exact = ExactEdf(q);
    const std::optional<double> edf = EquivalentDegreesOfFreedom(q);
    ASSERT_TRUE(edf.has_value());
    EXPECT_NEAR(*edf, exact, 0.03 * exact) << "d=" << q.d << " m=" << q.m;
  }
}

// The same algorithm as run by allantools (edf_greenhall, which is checked against Stable32),
// for 1000 phase points at m = 10.
TEST(Edf, AgreesWithTheStabilityToolsOnOverlappingEstimators) {
  const struct {
    EdfQuery query;
    double published;
  } cases[] = {
      {{0, 2, 10, 1000, true, true}, 94.5374886},    // MDEV, white FM
      {{0, 3, 10, 1000, true, false}, 113.5825926},  // OHDEV, white FM
      {{2, 3, 10, 1000, true, false}, 422.7434066},  // OHDEV, white PM
  };
  for (const auto& c : cases) {
    const std::optional<double> edf = EquivalentDegreesOfFreedom(c.query);
    ASSERT_TRUE(edf.has_value());
    EXPECT_NEAR(*edf, c.published, 1e-6 * c.published) << "alpha=" << c.query.alpha;
  }
}

TEST(Edf, BoundsHoldTheChiSquaredQuantiles) {
  // 1 degree of freedom: P(chi2 <= q) = erf(sqrt(q / 2)); the bounds are 1 / sqrt(q) at the
  // 84.15 % and 15.85 % points.
  const Bounds one = DeviationBounds(1.0, 1.0);
  const auto cdf = [](double bound) { return std::erf(std::sqrt(1 / (bound * bound) / 2)); };
  EXPECT_NEAR(cdf(one.min), 0.8415, 1e-9);
  EXPECT_NEAR(cdf(one.max), 0.1585, 1e-9);
  // Many degrees of freedom: close to 1 -+ 1 / sqrt(2 edf).
  const Bounds many = DeviationBounds(2.0, 20000.0);
  EXPECT_NEAR(many.min, 2.0 * (1 - 1 / std::sqrt(40000.0)), 1e-4);
  EXPECT_NEAR(many.max, 2.0 * (1 + 1 / std::sqrt(40000.0)), 1e-4);
  EXPECT_FALSE(EquivalentDegreesOfFreedom(EdfQuery{0, 2, 10, 20, false, false}).has_value());
}

}  // namespace
}  // namespace analysis
