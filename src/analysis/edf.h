#pragma once

#include <cstdint>
#include <optional>

// Equivalent degrees of freedom of the finite-difference stability variances (Allan,
// modified Allan, Hadamard, and the first differences of TIE rms; overlapping or not) for
// power-law noise, by Greenhall and Riley's algorithm ("Uncertainty of stability variances
// based on finite differences", 2003, as NIST SP 1065 gives it), and the chi-squared
// confidence bounds that follow from them. Every coefficient is worked out from the noise
// kernels of the method itself, none typed in. Pure functions; any thread.
namespace analysis {

struct EdfQuery {
  int alpha = 0;        // power-law exponent of the frequency noise, -2 .. 2
  int d = 2;            // difference order: 1 TIE rms, 2 Allan and modified Allan, 3 Hadamard
  int64_t m = 1;        // averaging factor
  int64_t n_phase = 0;  // phase points of the whole run
  bool overlapping = false;
  bool modified = false;  // modified Allan: averaged phase before differencing
};

// The degrees of freedom; nullopt where the method defines none (alpha + 2d <= 1: the
// variance does not converge for that noise) or the run is too short for a single term.
std::optional<double> EquivalentDegreesOfFreedom(const EdfQuery& query);

// The coefficients the algorithm takes once a run holds more than 100 terms per tau0 lag:
// 1/edf = (a0 - a1 / r) / r with r the terms per tau (divided further by (b0 + b1 ln m)^2 for
// flicker phase noise of the unmodified variances, whose kernel grows with m). They are the
// limits of the method's BasicSum for many terms, a0 = 2 Int_0^{d+1} sz(u)^2 du / sz(0)^2 and
// a1 = 2 Int_0^{d+1} u sz(u)^2 du / sz(0)^2, as the paper's tables 1 to 3 print them rounded.
// b0 and b1 are 0 except for that one case. nullopt where the method defines no EDF.
struct LargeRunCoefficients {
  double a0 = 0;
  double a1 = 0;
  double b0 = 0;
  double b1 = 0;
};
std::optional<LargeRunCoefficients> LargeRunTable(int alpha, int d, bool modified);

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
