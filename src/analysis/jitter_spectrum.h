#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "analysis/phase_drift.h"
#include "analysis/train_view.h"

// The amplitude spectrum of the time interval error of a pulse train, and the periodic lines in
// it: a rotor's blade pattern at the pulse rate over its blade count and the harmonics, the
// update rate of a meter that synthesises its pulse output, a mains hum. Pure functions; any
// thread (the FFT plans are made under a lock of their own).
namespace analysis {

struct SpectrumOptions {
  int64_t segment = 65536;      // pulses per Welch segment; the whole record when it is shorter
  double false_alarm = 1e-3;    // the chance that noise alone makes a line anywhere
  double min_line_s = 12.5e-9;  // and at least this (half a tick: not the stamps' own rounding)
};

struct SpectrumLine {
  double freq_hz = 0;
  double amplitude_s = 0;          // peak amplitude of the sinusoid in the edge times, seconds
  double amplitude_pct = 0;        // the same in % of the mean period
  std::optional<int64_t> divisor;  // B when the line sits at the pulse rate / B
};

struct JitterSpectrum {
  double bin_hz = 0;  // frequency step: pulse rate / segment
  // Amplitude at bin i (frequency i * bin_hz, i = 0 .. segment / 2), seconds: the amplitude
  // a sinusoid centred on that bin would have (Hann window, its coherent gain taken out).
  std::vector<double> amplitude_s;
  int64_t segment = 0;              // pulses per segment used
  int64_t segments = 0;             // Welch segments averaged (half overlapping)
  int64_t filled_points = 0;        // missing pulses whose phase was interpolated
  std::vector<SpectrumLine> lines;  // by falling amplitude
  double random_rms_s = 0;          // rms of the time interval error with the lines taken out

  double FrequencyHz(size_t bin) const { return static_cast<double>(bin) * bin_hz; }
};

// The spectrum of a phase record: `phase_s` the time interval error in seconds at each grid
// index (NaN at a missing pulse), `tau0_s` the mean period. Method:
// - A missing pulse's phase is interpolated on the straight line between its present
//   neighbours (the count is reported); the edge times of a gap are not known, and a straight
//   line adds no line of its own to the spectrum.
// - Welch's average of |FFT|^2 over half-overlapping segments, each with its mean removed and a
//   periodic Hann window, scaled so that a sinusoid on a bin reads its amplitude.
// - Lines: local maxima from the third bin up whose power stands above the mean power of the
//   bins within 64 (less its own 3 each side) by more than noise would reach once in
//   1 / false_alarm spectra. Noise power averaged over S segments is chi-squared of
//   nu = 36 S^2 / (19 S - 1) degrees of freedom (Hann, half overlap: Percival and Walden,
//   "Spectral Analysis for Physical Applications", 1993, section 6.17), so the ratio of a bin
//   to the mean of m others is F(nu, m nu / 1.5), the 1.5 for the neighbouring bins that a Hann
//   window makes share their noise; its quantile at 1 - false_alarm / bins is the threshold
//   (an amplitude 4.0 times the floor for one segment of 4096, 1.5 for 31). A maximum must also
//   stand that far above the Hann skirts of the stronger lines. Frequency and amplitude come from
//   the ratio of the peak bin to its larger neighbour, which is exact for a sinusoid under a Hann
//   window wherever it falls between bins: with a = |X(k+1)| / |X(k)|, the offset d = (2a - 1) / (a
//   + 1) bins and A = amp(k) pi d (1 - d^2) / sin(pi d); held to 0.1 % from the third bin up to
//   within 2 bins of half the pulse rate, and exact on the last bin (a pattern of 2 positions).
//   Between those, the sinusoid's mirror image above half the pulse rate falls in the same bins and
//   the amplitude reads up to a third low.
// - Divisor: B >= 2 when the line lies within half a bin of the pulse rate / B.
// - Random rms: the power from the second bin up (below lie each segment's mean and the
//   slowest wander), with the bins within 8 of a line replaced by the mean power of their 64
//   neighbours each side that are not near a line, and the Hann skirts of the lines taken out
//   of the others.
// A record shorter than 16 points gives an empty spectrum. O(N log segment).
JitterSpectrum ComputeJitterSpectrum(std::span<const double> phase_s, double tau0_s,
                                     const SpectrumOptions& options);

// The spectrum of a train's time interval error with `removal` taken out of its phase
// (DetrendedPhase): the spectrum view and command in one call.
JitterSpectrum ComputeJitterSpectrum(const TrainView& train, DriftRemoval removal,
                                     const SpectrumOptions& options);

}  // namespace analysis
