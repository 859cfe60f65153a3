#include "pulse_model.h"

#include <algorithm>
#include <cmath>
#include <iomanip>
#include <numbers>
#include <sstream>
#include <stdexcept>
#include <string>

namespace k390sim {
namespace {

constexpr double kTicksPerSecond = 4e7;
constexpr double kTwoPi = 2 * std::numbers::pi;

bool Every(int64_t every, uint64_t number) {
  return every > 0 && number % static_cast<uint64_t>(every) == 0;
}

// The centred edge offsets of the pattern positions: edge k of a rotation lies this far from
// the even train when the intervals before it carry deviations 0 to k - 1.
std::vector<double> PatternEdges(int64_t positions, double pp_ticks) {
  if (positions < 2 || pp_ticks <= 0) return {};
  const auto count = static_cast<size_t>(positions);
  std::vector<double> raw(count);
  for (size_t j = 0; j < count; ++j) {
    raw[j] = std::fmod(static_cast<double>(j + 1) * std::numbers::phi, 1.0);
  }
  double mean = 0;
  for (double r : raw) mean += r;
  mean /= static_cast<double>(count);
  const auto [low, high] = std::minmax_element(raw.begin(), raw.end());
  const double scale = pp_ticks / (*high - *low);
  std::vector<double> edges(count);
  double edge = 0;
  double edge_sum = 0;
  for (size_t j = 0; j < count; ++j) {
    edges[j] = edge;
    edge_sum += edge;
    edge += (raw[j] - mean) * scale;
  }
  const double edge_mean = edge_sum / static_cast<double>(count);
  for (double& e : edges) e -= edge_mean;
  return edges;
}

// Problems with the departures from an even train, measured against the reference period;
// empty when there are none.
std::string ShapeProblem(const TrainShape& shape, double reference_hz) {
  const double period = kTicksPerSecond / reference_hz;
  std::ostringstream problem;
  problem << std::setprecision(15);
  const auto above_period = [&](const char* what, double ticks) {
    problem << "a " << what << " of " << ticks << " ticks is outside 0 to the period of " << period
            << " ticks at " << reference_hz << " Hz";
  };
  if (shape.pattern_positions != 0 &&
      (shape.pattern_positions < 2 || shape.pattern_positions > kMaxPatternPositions)) {
    problem << "a pattern of " << shape.pattern_positions << " positions is outside 2 to "
            << kMaxPatternPositions;
  } else if (!(shape.pattern_pp_ticks >= 0 && shape.pattern_pp_ticks <= period)) {
    above_period("pattern P-P", shape.pattern_pp_ticks);
  } else if (!(shape.sine_ticks >= 0 && shape.sine_ticks <= period)) {
    above_period("sinusoidal jitter", shape.sine_ticks);
  } else if (shape.sine_ticks > 0 && !(shape.sine_hz > 0 && shape.sine_hz <= kMaxFrequencyHz)) {
    problem << "a sinusoidal jitter frequency of " << shape.sine_hz << " Hz is outside 0 (not "
            << "included) to " << kMaxFrequencyHz << " Hz";
  } else if (!(shape.wander_pct >= 0 && shape.wander_pct < 100)) {
    problem << "a rate wander of " << shape.wander_pct << " % is outside 0 to 100 % (not included)";
  } else if (shape.wander_pct > 0 &&
             !(shape.wander_period_s > 0 && shape.wander_period_s <= kMaxWanderPeriodS)) {
    problem << "a rate wander period of " << shape.wander_period_s << " s is outside 0 (not "
            << "included) to " << kMaxWanderPeriodS << " s";
  }
  return problem.str();
}

// Problems with where the train sits against its reference and with its faults.
std::string PlacementProblem(const TrainConfig& config, double reference_hz) {
  const ChannelFaults& faults = config.faults;
  const double phase = config.phase_deg;
  // Beyond this a mirrored pulse would pass the train's previous or next pulse.
  const double swap_limit = std::min(180.0, 180.0 * reference_hz / config.frequency_hz);
  std::ostringstream problem;
  problem << std::setprecision(15);
  if (!(phase >= -180 && phase <= 180)) {
    problem << "a phase of " << phase << " degrees is outside -180 to 180";
  } else if (!(std::abs(config.phase_drift_deg_per_s) < 180 * reference_hz)) {
    problem << "a phase drift of " << config.phase_drift_deg_per_s
            << " degrees per second is not below half a period per period of channel 1 ("
            << 180 * reference_hz << " degrees per second at " << reference_hz << " Hz)";
  } else if (faults.drop_every < 0 || faults.drop_every == 1) {
    problem << "dropping every " << faults.drop_every << " pulses: use 0 for none or 2 or more";
  } else if (faults.extra_every < 0 || faults.extra_every == 1) {
    problem << "an extra pulse every " << faults.extra_every
            << " pulses: use 0 for none or 2 or more";
  } else if (!(faults.extra_at > 0 && faults.extra_at < 1)) {
    problem << "an extra pulse at " << faults.extra_at
            << " of the interval is not between 0 and 1 (neither included)";
  } else if (faults.swap_every < 0 || faults.swap_every == 1) {
    problem << "swapping every " << faults.swap_every << " pairs: use 0 for none or 2 or more";
  } else if (faults.swap_every > 0 && !(phase != 0 && std::abs(phase) < swap_limit)) {
    problem << "swapping pairs needs a channel 2 phase between 0 and " << swap_limit
            << " degrees either way (neither included), not " << phase;
  }
  return problem.str();
}

}  // namespace

void ValidateTrainConfig(const TrainConfig& config) {
  std::ostringstream problem;
  problem << std::setprecision(15);
  const double reference_hz = config.reference_hz == 0 ? config.frequency_hz : config.reference_hz;
  if (!std::isfinite(config.frequency_hz) || config.frequency_hz < kMinFrequencyHz ||
      config.frequency_hz > kMaxFrequencyHz) {
    problem << "a frequency of " << config.frequency_hz << " Hz is outside " << kMinFrequencyHz
            << " to " << kMaxFrequencyHz << " Hz";
  } else if (!std::isfinite(config.jitter_ticks) || config.jitter_ticks < 0) {
    problem << "a jitter of " << config.jitter_ticks << " ticks is not 0 or more";
  } else if (config.jitter_ticks > kTicksPerSecond / config.frequency_hz) {
    problem << "a jitter of " << config.jitter_ticks << " ticks is above the period of "
            << kTicksPerSecond / config.frequency_hz << " ticks at " << config.frequency_hz
            << " Hz";
  } else if (!std::isfinite(reference_hz) || reference_hz < kMinFrequencyHz ||
             reference_hz > kMaxFrequencyHz) {
    problem << "a channel 1 frequency of " << reference_hz << " Hz is outside " << kMinFrequencyHz
            << " to " << kMaxFrequencyHz << " Hz";
  } else if (std::string shape = ShapeProblem(config.shape, reference_hz); !shape.empty()) {
    problem << shape;
  } else if (std::string placement = PlacementProblem(config, reference_hz); !placement.empty()) {
    problem << placement;
  } else {
    return;
  }
  throw std::invalid_argument(problem.str());
}

ModelConfig MakeModelConfig(double ch1_hz, double ch2_hz, double jitter_ticks, uint64_t start_ticks,
                            uint64_t seed, const MeterConfig& meter) {
  constexpr uint64_t kCh2SeedMix = 0x9E3779B97F4A7C15ull;
  ModelConfig config{.ch1 = {ch1_hz, jitter_ticks, start_ticks, seed},
                     .ch2 = {ch2_hz, jitter_ticks, start_ticks, seed ^ kCh2SeedMix}};
  for (TrainConfig* train : {&config.ch1, &config.ch2}) {
    train->reference_hz = ch1_hz;
    train->shape = meter.shape;
  }
  config.ch1.faults = meter.ch1_faults;
  config.ch2.faults = meter.ch2_faults;
  config.ch2.phase_deg = meter.ch2_phase_deg;
  config.ch2.phase_drift_deg_per_s = meter.ch2_phase_drift_deg_per_s;
  return config;
}

PulseTrain::PulseTrain(const TrainConfig& config)
    : period_ticks_(kTicksPerSecond / config.frequency_hz),
      reference_period_ticks_(
          kTicksPerSecond / (config.reference_hz == 0 ? config.frequency_hz : config.reference_hz)),
      reference_pulses_per_pulse_(period_ticks_ / reference_period_ticks_),
      jitter_ticks_(config.jitter_ticks),
      start_ticks_(config.start_ticks),
      phase_deg_(config.phase_deg),
      phase_drift_deg_per_s_(config.phase_drift_deg_per_s),
      shape_(config.shape),
      faults_(config.faults),
      rng_(config.seed),
      // A stream apart, so that extra pulses leave the regular pulses' draws as they are.
      extra_rng_(config.seed ^ 0xD1B54A32D192ED03ull) {
  ValidateTrainConfig(config);
  pattern_edges_ = PatternEdges(shape_.pattern_positions, shape_.pattern_pp_ticks);
  displaced_ = phase_deg_ != 0 || phase_drift_deg_per_s_ != 0 || !pattern_edges_.empty() ||
               shape_.sine_ticks > 0 || shape_.wander_pct > 0;
}

double PulseTrain::PatternOffset(double reference_pulse) const {
  const auto positions = static_cast<int64_t>(pattern_edges_.size());
  int64_t position = static_cast<int64_t>(std::floor(reference_pulse + 0.5) - 1) % positions;
  if (position < 0) position += positions;
  return pattern_edges_[static_cast<size_t>(position)];
}

double PulseTrain::Displacement(double reference_pulse, double offset) const {
  double moved = 0;
  if (!pattern_edges_.empty()) moved += PatternOffset(reference_pulse);
  if (shape_.sine_ticks > 0) {
    moved += shape_.sine_ticks * std::sin(kTwoPi * shape_.sine_hz * offset / kTicksPerSecond);
  }
  if (shape_.wander_pct > 0) {
    const double period = shape_.wander_period_s * kTicksPerSecond;
    moved -= shape_.wander_pct / 100 * period / kTwoPi * (1 - std::cos(kTwoPi * offset / period));
  }
  return moved;
}

double PulseTrain::EdgeOffset(double number, bool swapped) const {
  const double even = number * period_ticks_;
  if (!displaced_) return even;
  double phase = phase_deg_ + phase_drift_deg_per_s_ * even / kTicksPerSecond;
  if (swapped) phase = -phase;
  const double placed = even + phase / 360 * reference_period_ticks_;
  return placed + Displacement(number * reference_pulses_per_pulse_ + phase / 360, placed);
}

uint64_t PulseTrain::Stamp(double offset) {
  // Offsets are kept relative to the start so that a start near 2^32 or 2^63 loses no precision
  // in the double.
  const int64_t rounded = std::llround(offset);
  // Unsigned wrap-around makes this exact for a negative offset too.
  uint64_t stamp = start_ticks_ + static_cast<uint64_t>(rounded);
  if (emitted_ && static_cast<int64_t>(stamp - last_) <= 0) stamp = last_ + 1;
  last_ = stamp;
  emitted_ = true;
  return stamp;
}

uint64_t PulseTrain::Next() {
  for (;;) {
    if (extra_) {
      double offset = EdgeOffset(*extra_, false);
      extra_.reset();
      if (jitter_ticks_ > 0) offset += extra_jitter_(extra_rng_) * jitter_ticks_;
      return Stamp(offset);
    }
    const uint64_t number = ++index_;
    double offset = EdgeOffset(static_cast<double>(number), Every(faults_.swap_every, number));
    if (jitter_ticks_ > 0) offset += jitter_(rng_) * jitter_ticks_;
    if (Every(faults_.extra_every, number)) {
      extra_ = static_cast<double>(number) + faults_.extra_at;
    }
    if (!Every(faults_.drop_every, number)) return Stamp(offset);
  }
}

std::vector<uint64_t> PulseTrain::Take(int64_t count) {
  std::vector<uint64_t> stamps;
  if (count <= 0) return stamps;
  stamps.reserve(static_cast<size_t>(count));
  for (int64_t i = 0; i < count; ++i) stamps.push_back(Next());
  return stamps;
}

double PulseTrain::FirstPulseAtOrAfter(double offset) const {
  // The displacements change slowly against the period, so a few fixed-point steps land within
  // a pulse or so of the answer; the walks settle it.
  double number = offset / period_ticks_;
  for (int step = 0; step < 4; ++step) {
    number -= (EdgeOffset(number, false) - offset) / period_ticks_;
  }
  double first = std::max(1.0, std::ceil(number));
  while (first > 1 && EdgeOffset(first - 1, false) >= offset) --first;
  while (EdgeOffset(first, false) < offset) ++first;
  return first;
}

void PulseTrain::SkipTo(uint64_t ticks) {
  // A signed distance, so a clock still just before a start near the top of the counter's
  // range does not read as a huge skip.
  const auto ahead = static_cast<int64_t>(ticks - start_ticks_);
  if (ahead <= 0) return;
  const double first = displaced_ ? FirstPulseAtOrAfter(static_cast<double>(ahead)) - 1
                                  : std::ceil(static_cast<double>(ahead) / period_ticks_) - 1;
  if (first > static_cast<double>(index_)) {
    index_ = static_cast<uint64_t>(first);
    extra_.reset();  // it lay between two pulses passed over
  }
}

void PulseModel::Advance(uint64_t stamp) {
  // Compared as a signed distance, so the counter may run through 2^64 like any other value.
  if (!started_ || static_cast<int64_t>(stamp + 1 - clock_) > 0) clock_ = stamp + 1;
  started_ = true;
}

Samples PulseModel::TakeSamples(int64_t count, bool dual) {
  // Both channels start from where the counter stood before this request.
  Samples samples;
  if (started_) ch1_.SkipTo(clock_);
  if (dual && started_) ch2_.SkipTo(clock_);
  samples.ch1 = ch1_.Take(count);
  if (dual) samples.ch2 = ch2_.Take(count);
  for (uint64_t stamp : samples.ch1) Advance(stamp);
  for (uint64_t stamp : samples.ch2) Advance(stamp);
  return samples;
}

uint64_t PulseModel::NextStreamStamp() {
  if (started_) ch1_.SkipTo(clock_);
  const uint64_t stamp = ch1_.Next();
  Advance(stamp);
  return stamp;
}

}  // namespace k390sim
