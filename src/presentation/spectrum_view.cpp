#include "presentation/spectrum_view.h"

#include <algorithm>
#include <cstdio>

#include "presentation/view_text.h"

namespace presentation {
namespace {

}  // namespace

SpectrumView ComputeSpectrumView(const analysis::TrainView& train,
                                 const analysis::SpectrumOptions& options) {
  SpectrumView view;
  if (train.Empty()) return view;
  view.spectrum = analysis::ComputeJitterSpectrum(train, analysis::DriftRemoval::kLinear, options);
  const std::vector<double>& amplitude = view.spectrum.amplitude_s;
  if (amplitude.empty()) return view;
  view.valid = true;
  view.freq_hz.reserve(amplitude.size());
  view.amplitude_ns.reserve(amplitude.size());
  for (size_t bin = 1; bin < amplitude.size(); ++bin) {
    if (!(amplitude[bin] > 0)) continue;
    view.freq_hz.push_back(view.spectrum.FrequencyHz(bin));
    view.amplitude_ns.push_back(amplitude[bin] * kNsPerSecond);
  }
  return view;
}

std::vector<LabelBox> PlaceLabels(const std::vector<LabelBox>& points, const LabelBox& area,
                                  const std::vector<LabelBox>& taken) {
  constexpr double kGap = 5;
  std::vector<LabelBox> placed;
  std::vector<LabelBox> obstacles = taken;
  for (const LabelBox& point : points) {
    LabelBox box = point;
    box.left = point.left + kGap;
    if (box.Right() > area.Right()) box.left = point.left - kGap - box.width;
    box.left = std::max(box.left, area.left);
    box.top = point.top - kGap - box.height;
    for (bool moved = true; moved;) {
      moved = false;
      for (const LabelBox& other : obstacles) {
        if (!box.Overlaps(other)) continue;
        box.top = other.top - 2 - box.height;
        moved = true;
      }
    }
    box.top = std::max(box.top, area.top);
    placed.push_back(box);
    obstacles.push_back(box);
  }
  return placed;
}

std::string LineLabel(const analysis::SpectrumLine& line) {
  std::string text = Format("%.2f Hz  %.3f ns (%.4f %%)", line.freq_hz,
                            line.amplitude_s * kNsPerSecond, line.amplitude_pct);
  if (line.divisor) text += Format("  B=%lld", static_cast<long long>(*line.divisor));
  return text;
}

std::string SpectrumTitle(const SpectrumView& view) {
  if (!view.valid) return "K390 Jitter Spectrum  (too few pulses)";
  const analysis::JitterSpectrum& s = view.spectrum;
  const size_t lines = s.lines.size();
  std::string text = Format("K390 Jitter Spectrum  (random RMS %.3f ns, %zu line%s, ",
                            s.random_rms_s * kNsPerSecond, lines, lines == 1 ? "" : "s") +
                     GroupedCount(s.segments) + (s.segments == 1 ? " segment" : " segments") + " of " +
                     GroupedCount(s.segment);
  if (s.filled_points > 0) text += ", " + GroupedCount(s.filled_points) + " missing pulses interpolated";
  return text + ")";
}

}  // namespace presentation
