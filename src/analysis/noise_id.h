#pragma once

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

// The expected ratio of the N-sample to the two-sample variance of N frequency averages for an
// Allan variance going as tau^mu (Barnes' B1 function).
double B1Ratio(double n, double mu);

}  // namespace analysis
