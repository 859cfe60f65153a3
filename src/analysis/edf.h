#pragma once

#include <cstdint>
#include <optional>

// Equivalent degrees of freedom of the finite-difference stability variances (Allan,
// modified Allan, Hadamard; overlapping or not) for power-law noise, by Greenhall and
// Riley's algorithm ("Uncertainty of stability variances based on finite differences"),
// and the chi-squared confidence bounds that follow from them. Pure functions; any thread.
namespace analysis {

struct EdfQuery {
  int alpha = 0;        // power-law exponent of the frequency noise, -2 .. 2
  int d = 2;            // difference order: 2 for Allan and modified Allan, 3 for Hadamard
  int64_t m = 1;        // averaging factor
  int64_t n_phase = 0;  // phase points of the whole run
  bool overlapping = false;
  bool modified = false;  // modified Allan: averaged phase before differencing
};

// The degrees of freedom; nullopt where the algorithm has no answer (alpha + 2d <= 1, or too
// few phase points for a single term).
std::optional<double> EquivalentDegreesOfFreedom(const EdfQuery& query);

struct Bounds {
  double min = 0;
  double max = 0;
};

// The two-sided probability of one standard deviation, erf(1 / sqrt(2)). The stability tools
// print it as "0.683" but take the quantiles at this value; 0.683 itself widens every interval
// by about 0.05 % and moves printed bounds of small EDF by a unit in the fifth digit.
inline constexpr double kOneSigmaConfidence = 0.68268949213708590;

// The bounds of a deviation (not a variance) for `edf` degrees of freedom at the two-sided
// confidence `confidence`: deviation * sqrt(edf / chi2 quantile).
Bounds DeviationBounds(double deviation, double edf, double confidence = kOneSigmaConfidence);

}  // namespace analysis
