#include "pulse_model.h"

#include <cmath>
#include <iomanip>
#include <sstream>
#include <stdexcept>
#include <string>

namespace k390sim {
namespace {

constexpr double kTicksPerSecond = 4e7;

}  // namespace

void ValidateTrainConfig(const TrainConfig& config) {
  std::ostringstream problem;
  problem << std::setprecision(15);
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
  } else {
    return;
  }
  throw std::invalid_argument(problem.str());
}

ModelConfig MakeModelConfig(double ch1_hz, double ch2_hz, double jitter_ticks, uint64_t start_ticks,
                            uint64_t seed) {
  constexpr uint64_t kCh2SeedMix = 0x9E3779B97F4A7C15ull;
  return {.ch1 = {ch1_hz, jitter_ticks, start_ticks, seed},
          .ch2 = {ch2_hz, jitter_ticks, start_ticks, seed ^ kCh2SeedMix}};
}

PulseTrain::PulseTrain(const TrainConfig& config)
    : period_ticks_(kTicksPerSecond / config.frequency_hz),
      jitter_ticks_(config.jitter_ticks),
      start_ticks_(config.start_ticks),
      rng_(config.seed) {
  ValidateTrainConfig(config);
}

uint64_t PulseTrain::Next() {
  double offset = static_cast<double>(index_ + 1) * period_ticks_;
  if (jitter_ticks_ > 0) offset += jitter_(rng_) * jitter_ticks_;
  // Offsets are kept relative to the start so that a start near 2^32 or 2^63 loses no precision
  // in the double.
  int64_t rounded = std::llround(offset);
  // Unsigned wrap-around makes this exact for a negative offset too.
  uint64_t stamp = start_ticks_ + static_cast<uint64_t>(rounded);
  if (index_ > 0 && static_cast<int64_t>(stamp - last_) <= 0) stamp = last_ + 1;
  last_ = stamp;
  ++index_;
  return stamp;
}

std::vector<uint64_t> PulseTrain::Take(int64_t count) {
  std::vector<uint64_t> stamps;
  if (count <= 0) return stamps;
  stamps.reserve(static_cast<size_t>(count));
  for (int64_t i = 0; i < count; ++i) stamps.push_back(Next());
  return stamps;
}

void PulseTrain::SkipTo(uint64_t ticks) {
  // A signed distance, so a clock still just before a start near the top of the counter's
  // range does not read as a huge skip.
  const auto ahead = static_cast<int64_t>(ticks - start_ticks_);
  if (ahead <= 0) return;
  const double first = std::ceil(static_cast<double>(ahead) / period_ticks_) - 1;
  if (first > static_cast<double>(index_)) index_ = static_cast<uint64_t>(first);
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
