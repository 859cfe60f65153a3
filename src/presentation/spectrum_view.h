#pragma once

#include <string>
#include <vector>

#include "analysis/jitter_spectrum.h"
#include "analysis/train_view.h"

// What the Spectrum view draws, as values kept free of the chart engine: the amplitude spectrum
// of the time interval error (drift taken out as a straight line) on a logarithmic frequency
// axis, and the periodic lines labelled. Pure functions; any thread (the window runs a whole
// run's on a worker).
namespace presentation {

// The lines labelled on the chart, the strongest first; the table holds every line.
inline constexpr size_t kLabelledLines = 8;

struct SpectrumView {
  bool valid = false;  // false: the record is too short for a spectrum, nothing to draw
  analysis::JitterSpectrum spectrum;
  // The curve in plot units, from the second bin up (the first holds each segment's mean, and a
  // logarithmic axis cannot draw 0 Hz): frequency in Hz, amplitude in ns. Bins of amplitude 0
  // (no jitter at all) are left out.
  std::vector<double> freq_hz;
  std::vector<double> amplitude_ns;
};

// The spectrum of the train's TIE with a linear drift removed (segments of 65,536 pulses, or the
// record when shorter). O(N log segment).
SpectrumView ComputeSpectrumView(const analysis::TrainView& train,
                                 const analysis::SpectrumOptions& options = {});

// A box on the chart in pixels, y down.
struct LabelBox {
  double left = 0, top = 0, width = 0, height = 0;
  double Right() const { return left + width; }
  double Bottom() const { return top + height; }
  bool Overlaps(const LabelBox& other) const {
    return left < other.Right() && other.left < Right() && top < other.Bottom() &&
           other.top < Bottom();
  }
};

// Where the labels of the lines go (strongest first, `boxes` holding each label's size): above
// and right of its point (`points`, the boxes' left and top), or left of it where the right of
// `area` leaves no room; moved up past the labels placed before it and the `taken` boxes (the
// legend) where they would overlap, and kept within `area`. Returns the boxes placed.
std::vector<LabelBox> PlaceLabels(const std::vector<LabelBox>& points, const LabelBox& area,
                                  const std::vector<LabelBox>& taken);

// A line's label: "50.00 Hz  1.234 ns (0.0062 %)  B=7", the divisor only where there is one.
std::string LineLabel(const analysis::SpectrumLine& line);

// "K390 Jitter Spectrum  (random RMS 1.234 ns, 3 lines, 4 segments of 65,536)"; with missing
// pulses "..., 12 missing pulses interpolated"; "K390 Jitter Spectrum  (too few pulses)" when
// the view is not valid.
std::string SpectrumTitle(const SpectrumView& view);

}  // namespace presentation
