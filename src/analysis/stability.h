#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "analysis/edf.h"
#include "analysis/pulse_train.h"

// The Allan family of a phase record, with 68.3 % chi-squared bounds: ADEV, overlapping ADEV,
// MDEV, TDEV, HDEV, overlapping HDEV, and the TIE rms and MTIE of the same windows. Each is
// O(N) per averaging factor (running sums; MTIE from block extremes). A term that needs a
// missing phase point is left out: a TIE rms term needs only its two ends, x(i) and x(i + m); an
// MTIE window every point from x(i) to x(i + m). MDEV uses what is there: its term at start i is
// the mean of the second differences x(i+j+2m) - 2 x(i+j+m) + x(i+j), j = 0 .. m - 1, whose three
// points are present, taken where at least half of the m are, and MVAR is the mean square of
// the terms over 2 tau^2 (NIST SP 1065's m^2 normalisation, term by term). A whole window gives
// the usual term; the half keeps a term near a long gap from averaging white phase noise over
// a few points, which would overstate its square by up to m / present. TDEV follows from MDEV.
// n counts the terms used (for MDEV and TDEV, the starts whose windows hold at least half), and
// a row exists only where n >= 1. A pulse train with missing pulses is walked over the pulses
// present, so a gap of any length costs nothing. Pure functions; any thread.
//
// Each row carries the noise identified at its factor (noise_id.h; from pulse stamps the phase
// is taken against tau0 exactly, as the run statistics take it) and the bounds it gives.
namespace analysis {

enum class Deviation { kAdev, kOadev, kMdev, kTdev, kHdev, kOhdev, kTieRms, kMtie };

inline constexpr Deviation kAllDeviations[] = {
    Deviation::kAdev, Deviation::kOadev, Deviation::kMdev,   Deviation::kTdev,
    Deviation::kHdev, Deviation::kOhdev, Deviation::kTieRms, Deviation::kMtie,
};

// "adev", "oadev", "mdev", "tdev", "hdev", "ohdev", "tierms", "mtie".
std::string_view DeviationName(Deviation deviation);

// One row of the table, as `k390tool stability`, the window's table, the run summary and their
// files give it.
struct StabilityRow {
  Deviation deviation = Deviation::kAdev;
  int64_t m = 1;                   // averaging factor
  double tau_s = 0;                // m * tau0, seconds
  int64_t n = 0;                   // terms (windows for TIE rms and MTIE) used
  std::optional<int> alpha;        // identified noise exponent, -2 .. 2
  double value = 0;                // dimensionless; TDEV, TIE rms and MTIE in seconds
  std::optional<double> min, max;  // bounds where the noise and the EDF allow them
};

// The estimator whose EDF gives a row its bounds (Greenhall and Riley, edf.h): ADEV and HDEV
// unoverlapped second and third differences, OADEV and OHDEV overlapped, MDEV and TDEV the
// modified second differences, TIE rms the overlapped first differences x(i + m) - x(i) of the
// unmodified phase (defined for alpha 0 .. 2 only: the mean square of the phase steps does not
// converge for flicker or random-walk FM). nullopt for MTIE, a largest span, for which the
// method defines no chi-squared EDF.
std::optional<EdfQuery> EdfQueryOf(Deviation deviation, int alpha, int64_t m, int64_t n_phase);

// The row with its 68.3 % bounds from its alpha, value and factor over a run of n_phase points;
// none where there is no alpha, no EDF or a value of 0.
StabilityRow WithBounds(StabilityRow row, int64_t n_phase);

// The averaging factors m = 1, 2, 4 ... while m <= K / 4 (K the last phase index).
std::vector<int64_t> OctaveFactors(int64_t last_index);
// Every m from 1 while m <= K / 4.
std::vector<int64_t> AllFactors(int64_t last_index);

// The table of a pulse train: every figure from exact integer differences of the stamps,
// tau0 = t_last / K ticks (K the last grid index). Rows by deviation, then by m in the order given.
std::vector<StabilityRow> StabilityTable(const PulseTrain& train, std::span<const int64_t> factors);

// The same table of phase points in seconds (NaN at a missing point) spaced tau0_s apart.
std::vector<StabilityRow> StabilityTable(std::span<const double> phase_s, double tau0_s,
                                         std::span<const int64_t> factors);

// The phase of fractional frequencies: the running sum times tau0, from 0 (N + 1 points).
std::vector<double> PhaseFromFrequency(std::span<const double> frequency, double tau0_s);

}  // namespace analysis
