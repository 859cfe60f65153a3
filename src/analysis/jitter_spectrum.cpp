#include "analysis/jitter_spectrum.h"

#include <fftw3.h>

#include <algorithm>
#include <boost/math/distributions/fisher_f.hpp>
#include <cmath>
#include <map>
#include <mutex>
#include <numbers>

namespace analysis {
namespace {

constexpr int64_t kMinPoints = 16;
constexpr int64_t kFloorHalfWidth = 64;  // bins each side that give a line's noise floor
constexpr int64_t kLineHalfWidth = 8;    // bins each side of a line kept out of the random part
// Below these bins lie the segment's mean and what its removal leaves under the window (a
// sinusoid of a fractional number of cycles has a mean), and the slowest wander.
constexpr int64_t kFirstRandomBin = 2;
constexpr int64_t kFirstLineBin = 3;
constexpr double kMainLobe = 2.5;  // bins: closer than this to a stronger line is its lobe

// FFTW makes and destroys plans through shared state; executing a plan is thread-safe.
std::mutex& PlanLock() {
  static std::mutex lock;
  return lock;
}

class RealFft {
 public:
  explicit RealFft(int64_t n)
      : in_(fftw_alloc_real(static_cast<size_t>(n))),
        out_(fftw_alloc_complex(static_cast<size_t>(n / 2 + 1))) {
    const std::lock_guard<std::mutex> guard(PlanLock());
    plan_ = fftw_plan_dft_r2c_1d(static_cast<int>(n), in_, out_, FFTW_ESTIMATE);
  }
  ~RealFft() {
    const std::lock_guard<std::mutex> guard(PlanLock());
    fftw_destroy_plan(plan_);
    fftw_free(in_);
    fftw_free(out_);
  }
  RealFft(const RealFft&) = delete;
  RealFft& operator=(const RealFft&) = delete;

  double* In() { return in_; }
  const fftw_complex* Out() const { return out_; }
  void Run() { fftw_execute(plan_); }

 private:
  double* in_;
  fftw_complex* out_;
  fftw_plan plan_;
};

// The phase with each run of missing points on the straight line between its neighbours.
std::vector<double> Filled(std::span<const double> phase, int64_t& filled) {
  std::vector<double> x(phase.begin(), phase.end());
  const auto n = static_cast<int64_t>(x.size());
  int64_t before = -1;  // last present point
  for (int64_t i = 0; i < n; ++i) {
    if (std::isnan(x[static_cast<size_t>(i)])) continue;
    const int64_t gap = i - before - 1;
    if (gap > 0) {
      const double a = before >= 0 ? x[static_cast<size_t>(before)] : x[static_cast<size_t>(i)];
      const double b = x[static_cast<size_t>(i)];
      for (int64_t j = before + 1; j < i; ++j)
        x[static_cast<size_t>(j)] =
            a + (b - a) * static_cast<double>(j - before) / static_cast<double>(i - before);
      filled += gap;
    }
    before = i;
  }
  const double tail = before >= 0 ? x[static_cast<size_t>(before)] : 0;
  for (int64_t j = before + 1; j < n; ++j, ++filled) x[static_cast<size_t>(j)] = tail;
  return x;
}

// The mean of |X(k)|^2, k = 0 .. L/2, over half-overlapping Hann-windowed segments.
std::vector<double> WelchPower(const std::vector<double>& x, int64_t length, int64_t& segments) {
  RealFft fft(length);
  std::vector<double> window(static_cast<size_t>(length));
  for (int64_t j = 0; j < length; ++j)
    window[static_cast<size_t>(j)] =
        0.5 -
        0.5 * std::cos(2 * std::numbers::pi * static_cast<double>(j) / static_cast<double>(length));
  std::vector<double> power(static_cast<size_t>(length / 2 + 1), 0.0);
  const int64_t step = length / 2;
  const auto n = static_cast<int64_t>(x.size());
  segments = 0;
  for (int64_t start = 0; start + length <= n; start += step, ++segments) {
    const double* seg = x.data() + start;
    double mean = 0;
    for (int64_t j = 0; j < length; ++j) mean += seg[j];
    mean /= static_cast<double>(length);
    double* in = fft.In();
    for (int64_t j = 0; j < length; ++j) in[j] = (seg[j] - mean) * window[static_cast<size_t>(j)];
    fft.Run();
    const fftw_complex* out = fft.Out();
    for (size_t k = 0; k < power.size(); ++k)
      power[k] += out[k][0] * out[k][0] + out[k][1] * out[k][1];
  }
  for (double& p : power) p /= static_cast<double>(segments);
  return power;
}

// Bins 0 and L/2 have no mirror image; every other bin holds half of its sinusoid.
double SideFactor(int64_t bin, int64_t length) { return bin == 0 || bin == length / 2 ? 1 : 2; }

// A sinusoid's position (bins) and amplitude from its peak bin and the larger neighbour.
struct Peak {
  double position = 0;   // bins
  double amplitude = 0;  // seconds
  double magnitude = 0;  // |X| the sinusoid would give on its own bin
};

Peak Interpolate(const std::vector<double>& power, int64_t bin, int64_t length) {
  const auto top = static_cast<int64_t>(power.size()) - 1;
  const double centre = std::sqrt(power[static_cast<size_t>(bin)]);
  const double left = std::sqrt(power[static_cast<size_t>(bin - 1)]);
  // Beyond L/2 the spectrum mirrors: bin L/2 + 1 holds what bin L/2 - 1 does.
  const double right = std::sqrt(power[static_cast<size_t>(bin < top ? bin + 1 : bin - 1)]);
  const double side = right > left ? 1.0 : -1.0;
  const double ratio = std::max(left, right) / centre;
  const double d = std::clamp((2 * ratio - 1) / (ratio + 1), 0.0, 0.999);
  const double pd = std::numbers::pi * d;
  const double gain = d > 1e-9 ? pd * (1 - d * d) / std::sin(pd) : 1.0;
  const double sum_window = static_cast<double>(length) / 2;
  return {static_cast<double>(bin) + side * d, SideFactor(bin, length) * centre / sum_window * gain,
          centre * gain};
}

// The Hann window's response d bins from a sinusoid, 1 at d = 0 (large segment form).
double HannKernel(double d) {
  if (std::fabs(d) < 1e-9) return 1;
  if (std::fabs(std::fabs(d) - 1) < 1e-9) return 0.5;
  return std::sin(std::numbers::pi * d) / (std::numbers::pi * d * (1 - d * d));
}

// The most a Hann-windowed sinusoid of amplitude `a` leaks `d` bins from its centre.
double Skirt(double a, double d) {
  d = std::fabs(d);
  if (d < kMainLobe) return INFINITY;
  return a / (std::numbers::pi * d * (d * d - 1));
}

// The test of a bin's power against the mean of its neighbours. Noise power averaged over S
// segments is chi-squared of nu degrees of freedom, so the ratio of a bin to the mean of m others
// is F(nu, m nu); a Hann window makes neighbouring bins share their noise, so m counts as m / 1.5
// (its noise bandwidth in bins). Ratios come from the quantile at 1 - false alarm / bins, one
// per number of neighbours.
class LineTest {
 public:
  LineTest(const std::vector<double>& power, int64_t segments, double false_alarm)
      : power_(power),
        cumulative_(power.size() + 1, 0.0),
        top_(static_cast<int64_t>(power.size()) - 1) {
    const auto s = static_cast<double>(segments);
    nu_ = 36 * s * s / (19 * s - 1);
    tail_ = std::clamp(false_alarm, 1e-300, 1.0) / static_cast<double>(top_);
    for (size_t k = 0; k < power.size(); ++k) cumulative_[k + 1] = cumulative_[k] + power[k];
  }

  // The amplitude ratio a line must reach over the noise of a bin far from the ends.
  double SkirtRatio() { return std::sqrt(Ratio(2 * (kFloorHalfWidth - kOwnLobe))); }

  bool Stands(int64_t bin) {
    const int64_t lo = std::max<int64_t>(1, bin - kFloorHalfWidth);
    const int64_t hi = std::min(top_, bin + kFloorHalfWidth);
    const int64_t own_lo = std::max(lo, bin - kOwnLobe), own_hi = std::min(hi, bin + kOwnLobe);
    const int64_t count = (hi - lo + 1) - (own_hi - own_lo + 1);
    const double sum = Sum(lo, hi) - Sum(own_lo, own_hi);
    return count > 0 &&
           power_[static_cast<size_t>(bin)] * static_cast<double>(count) > Ratio(count) * sum;
  }

 private:
  static constexpr int64_t kOwnLobe = 3;  // bins each side of a candidate kept out of its floor

  double Sum(int64_t lo, int64_t hi) const {
    return cumulative_[static_cast<size_t>(hi + 1)] - cumulative_[static_cast<size_t>(lo)];
  }
  double Ratio(int64_t neighbours) {
    double& r = ratios_[neighbours];
    if (r == 0) {
      const boost::math::fisher_f_distribution<double> f(
          nu_, nu_ * static_cast<double>(neighbours) / 1.5);
      r = boost::math::quantile(boost::math::complement(f, tail_));
    }
    return r;
  }

  const std::vector<double>& power_;
  std::vector<double> cumulative_;
  int64_t top_;
  double nu_ = 2, tail_ = 0;
  std::map<int64_t, double> ratios_;
};

std::vector<Peak> FindLines(const std::vector<double>& power, const std::vector<double>& amplitude,
                            int64_t length, int64_t segments, const SpectrumOptions& options) {
  const auto top = static_cast<int64_t>(amplitude.size()) - 1;
  LineTest test(power, segments, options.false_alarm);
  std::vector<Peak> candidates;
  for (int64_t k = kFirstLineBin; k <= top; ++k) {
    // Peaks in |X|: the amplitude of bin L/2 is not doubled, so there it would tie its neighbour.
    const double p = power[static_cast<size_t>(k)];
    const double right = power[static_cast<size_t>(k < top ? k + 1 : k - 1)];
    if (!(p > power[static_cast<size_t>(k - 1)] && p >= right)) continue;
    if (amplitude[static_cast<size_t>(k)] < options.min_line_s || !test.Stands(k)) continue;
    candidates.push_back(Interpolate(power, k, length));
  }
  std::sort(candidates.begin(), candidates.end(),
            [](const Peak& x, const Peak& y) { return x.amplitude > y.amplitude; });
  const double skirt_ratio = test.SkirtRatio();
  std::vector<Peak> lines;
  for (const Peak& c : candidates) {
    double leak = 0;
    for (const Peak& l : lines) leak += Skirt(l.amplitude, c.position - l.position);
    if (c.amplitude > skirt_ratio * leak) lines.push_back(c);
  }
  return lines;
}

// The variance of the phase from the one-sided power without the lines: the bins near a line
// replaced by the mean of their neighbours that are not, and from the others the skirts of the
// lines taken out (a line of a thousand ticks would otherwise leave a tick of "random" jitter).
double RandomVariance(const std::vector<double>& power, const std::vector<Peak>& lines,
                      int64_t length) {
  const auto top = static_cast<int64_t>(power.size()) - 1;
  std::vector<char> near_line(power.size(), 0);
  for (const Peak& l : lines) {
    const auto centre = static_cast<int64_t>(std::lround(l.position));
    for (int64_t k = std::max<int64_t>(1, centre - kLineHalfWidth);
         k <= std::min(top, centre + kLineHalfWidth); ++k)
      near_line[static_cast<size_t>(k)] = 1;
  }
  std::vector<double> clean(power);
  for (int64_t k = 1; k <= top; ++k) {
    if (near_line[static_cast<size_t>(k)]) continue;
    double& p = clean[static_cast<size_t>(k)];
    for (const Peak& l : lines) {
      const double skirt = l.magnitude * HannKernel(static_cast<double>(k) - l.position);
      p -= skirt * skirt;
    }
    p = std::max(p, 0.0);
  }
  double sum = 0;
  for (int64_t k = kFirstRandomBin; k <= top; ++k) {
    double p = clean[static_cast<size_t>(k)];
    if (near_line[static_cast<size_t>(k)]) {
      double s = 0;
      int64_t count = 0;
      for (int64_t j = std::max<int64_t>(1, k - kFloorHalfWidth);
           j <= std::min(top, k + kFloorHalfWidth); ++j)
        if (!near_line[static_cast<size_t>(j)]) s += clean[static_cast<size_t>(j)], ++count;
      p = count > 0 ? s / static_cast<double>(count) : 0;
    }
    sum += SideFactor(k, length) * p;
  }
  // Parseval over a windowed segment: sum |X|^2 = L sum (w x)^2, and sum w^2 = 3 L / 8.
  return sum / (static_cast<double>(length) * 3.0 * static_cast<double>(length) / 8.0);
}

}  // namespace

JitterSpectrum ComputeJitterSpectrum(std::span<const double> phase_s, double tau0_s,
                                     const SpectrumOptions& options) {
  JitterSpectrum s;
  const auto n = static_cast<int64_t>(phase_s.size());
  if (n < kMinPoints || !(tau0_s > 0)) return s;
  s.segment = std::clamp<int64_t>(options.segment, kMinPoints, n) & ~int64_t{1};
  s.bin_hz = 1 / (tau0_s * static_cast<double>(s.segment));
  const std::vector<double> x = Filled(phase_s, s.filled_points);
  const std::vector<double> power = WelchPower(x, s.segment, s.segments);
  s.amplitude_s.resize(power.size());
  const double sum_window = static_cast<double>(s.segment) / 2;
  for (size_t k = 0; k < power.size(); ++k)
    s.amplitude_s[k] =
        SideFactor(static_cast<int64_t>(k), s.segment) * std::sqrt(power[k]) / sum_window;

  const std::vector<Peak> peaks = FindLines(power, s.amplitude_s, s.segment, s.segments, options);
  const double rate_hz = 1 / tau0_s;
  for (const Peak& p : peaks) {
    SpectrumLine line;
    line.freq_hz = p.position * s.bin_hz;
    line.amplitude_s = p.amplitude;
    line.amplitude_pct = p.amplitude / tau0_s * 100;
    const int64_t b = std::llround(rate_hz / line.freq_hz);
    if (b >= 2 && std::fabs(line.freq_hz - rate_hz / static_cast<double>(b)) <= s.bin_hz / 2)
      line.divisor = b;
    s.lines.push_back(line);
  }
  s.random_rms_s = std::sqrt(RandomVariance(power, peaks, s.segment));
  return s;
}

JitterSpectrum ComputeJitterSpectrum(const TrainView& train, DriftRemoval removal,
                                     const SpectrumOptions& options) {
  const PhaseRecord phase = DetrendedPhase(train, removal);
  return ComputeJitterSpectrum(phase.phase_s, phase.tau0_s, options);
}

}  // namespace analysis
