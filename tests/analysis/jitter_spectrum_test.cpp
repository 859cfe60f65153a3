#include "analysis/jitter_spectrum.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>
#include <optional>
#include <random>
#include <vector>

#include "analysis/phase_drift.h"
#include "synthetic_train.h"

namespace analysis {
namespace {

using testing::OwnedTrain;

constexpr double kTick = 25e-9;
constexpr int64_t kSegment = 4096;  // at 1 kHz: bins of 1000 / 4096 Hz
constexpr double kBinHz = 1000.0 / kSegment;

JitterSpectrum SpectrumOf(const OwnedTrain& train) {
  SpectrumOptions options;
  options.segment = kSegment;
  return ComputeJitterSpectrum(train.View(), DriftRemoval::kLinear, options);
}

TEST(JitterSpectrum, SinusoidalJitterGivesOneLineOfItsAmplitude) {
  const struct {
    double bin;        // the jitter's frequency in bins: on a bin and between bins
    double amplitude;  // ticks
    double rms;        // white edge jitter besides, ticks
    int64_t every;     // a pulse missing every so many, or 0
    std::optional<int64_t> divisor;
  } cases[] = {
      {123, 400, 0, 0, std::nullopt},
      {123.25, 400, 0, 0, std::nullopt},
      {123.5, 400, 0, 0, std::nullopt},
      {1500.5, 100, 30, 0, std::nullopt},
      {512, 200, 50, 0, 8},
      {123.5, 400, 20, 997, std::nullopt},
  };
  const int64_t count = 65536;
  for (const auto& c : cases) {
    const double fm = c.bin * kBinHz;
    std::mt19937_64 engine(5);
    std::normal_distribution<double> noise(0.0, c.rms);
    std::vector<double> edge(static_cast<size_t>(count));
    std::vector<int64_t> missing;
    for (int64_t k = 0; k < count; ++k) {
      const double t = static_cast<double>(k) * 1e-3;
      edge[static_cast<size_t>(k)] = static_cast<double>(k) * 40000 +
                                     c.amplitude * std::sin(2 * std::numbers::pi * fm * t + 0.3) +
                                     (c.rms > 0 ? noise(engine) : 0);
      if (c.every > 0 && k % c.every == c.every / 2) missing.push_back(k);
    }
    const JitterSpectrum s = SpectrumOf(testing::TrainFromEdges(
        count, [&](int64_t k) { return edge[static_cast<size_t>(k)]; }, missing));
    ASSERT_EQ(s.lines.size(), 1u) << c.bin;
    const SpectrumLine& line = s.lines[0];
    EXPECT_NEAR(line.freq_hz, fm, 0.05 * kBinHz) << c.bin;
    EXPECT_NEAR(line.amplitude_s, c.amplitude * kTick, 0.01 * c.amplitude * kTick) << c.bin;
    EXPECT_NEAR(line.amplitude_pct, c.amplitude / 400, 0.01 * c.amplitude / 400) << c.bin;
    EXPECT_EQ(line.divisor, c.divisor) << c.bin;
    EXPECT_EQ(s.filled_points, static_cast<int64_t>(missing.size()));
    // Without white jitter what is left is the stamps' rounding, 1 / sqrt(12) tick.
    const double random = c.rms > 0 ? c.rms : 1 / std::sqrt(12.0);
    EXPECT_NEAR(s.random_rms_s / kTick, random, 0.1 * random) << c.bin;
  }
}

TEST(JitterSpectrum, RotorPatternGivesLinesAtRateOverBladesAndHarmonics) {
  // The edges of a rotor sit at k tau0 + C(k mod B), C the running sum of the blade offsets.
  // Its lines are the Fourier series of C over one rotation: amplitude 2 |c_h| at h rate / B,
  // and |c_h| at the Nyquist frequency, where the sequence has no mirror image.
  const struct {
    std::vector<int64_t> offsets;
  } cases[] = {
      {{400, -100, -300, 200, 0, -200, 100, 300, -400, 0}},
      {{90, -30, -60}},
      {{50, 20, -40, -30}},
  };
  for (const auto& c : cases) {
    const auto b = static_cast<int64_t>(c.offsets.size());
    const JitterSpectrum s = SpectrumOf(testing::PatternTrain(65536, 40000, c.offsets));
    std::vector<double> edge_offset(c.offsets.size(), 0.0);
    for (size_t p = 1; p < c.offsets.size(); ++p)
      edge_offset[p] = edge_offset[p - 1] + static_cast<double>(c.offsets[p - 1]);
    ASSERT_EQ(s.lines.size(), static_cast<size_t>(b / 2)) << b;
    for (int64_t h = 1; h <= b / 2; ++h) {
      std::complex<double> ch = 0;
      for (int64_t p = 0; p < b; ++p)
        ch += edge_offset[static_cast<size_t>(p)] *
              std::polar(
                  1.0, -2 * std::numbers::pi * static_cast<double>(h * p) / static_cast<double>(b));
      const double amplitude = (2 * h == b ? 1.0 : 2.0) * std::abs(ch) / static_cast<double>(b);
      const double freq = 1000.0 * static_cast<double>(h) / static_cast<double>(b);
      const SpectrumLine* line = nullptr;
      for (const SpectrumLine& l : s.lines)
        if (std::fabs(l.freq_hz - freq) < kBinHz) line = &l;
      ASSERT_NE(line, nullptr) << b << " h=" << h;
      EXPECT_NEAR(line->amplitude_s, amplitude * kTick, 0.02 * amplitude * kTick) << b << h;
      const std::optional<int64_t> divisor =
          b % h == 0 ? std::optional<int64_t>(b / h) : std::nullopt;
      EXPECT_EQ(line->divisor, divisor) << b << " h=" << h;
    }
    EXPECT_LT(s.random_rms_s, kTick) << b;
  }
}

TEST(JitterSpectrum, WhiteJitterGivesNoLines) {
  // One segment (power of 2 degrees of freedom) and 31 averaged, ten records each: the threshold
  // lets noise through once in a thousand spectra.
  for (const int64_t count : {kSegment, 16 * kSegment}) {
    for (uint64_t seed = 1; seed <= 10; ++seed) {
      const JitterSpectrum s = SpectrumOf(testing::JitteredTrain(count, 40000, 100, seed));
      EXPECT_EQ(s.lines.size(), 0u) << count << " seed " << seed;
      EXPECT_NEAR(s.random_rms_s / kTick, 100, count == kSegment ? 5 : 2) << count;
    }
  }
}

TEST(JitterSpectrum, SegmentIsTheRecordWhenShorter) {
  const OwnedTrain train = testing::JitteredTrain(1001, 40000, 10);
  const PhaseRecord phase = DetrendedPhase(train.View(), DriftRemoval::kLinear);
  const JitterSpectrum s = ComputeJitterSpectrum(phase.phase_s, phase.tau0_s, {});
  EXPECT_EQ(s.segment, 1000);
  EXPECT_EQ(s.segments, 1);
  EXPECT_EQ(s.amplitude_s.size(), 501u);
  EXPECT_NEAR(s.bin_hz, 1.0, 1e-6);
}

}  // namespace
}  // namespace analysis
