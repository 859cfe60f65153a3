#pragma once

#include <cstdint>
#include <random>
#include <vector>

// The simulated instrument's pulse source: a 40 MHz tick counter that time-stamps one pulse
// train per channel. Toolkit-free so that its numbers can be checked without sockets.
namespace k390sim {

// The rates a train can have. Below 0.01 Hz a period (4e9 ticks) no longer fits a 32-bit stream
// word; above 20 MHz a period is under two ticks, so the stamps would show the counter's
// rounding rather than the train.
inline constexpr double kMinFrequencyHz = 0.01;
inline constexpr double kMaxFrequencyHz = 2e7;

struct TrainConfig {
  double frequency_hz = 1000;  // pulses per second, kMinFrequencyHz to kMaxFrequencyHz
  double jitter_ticks = 2;     // standard deviation of the Gaussian jitter, in ticks, 0 to a period
  uint64_t start_ticks = 0;    // counter value one period before the first pulse
  uint64_t seed = 1;
};

// One channel. Pulse i (from 1) lies at start + i * period, plus independent Gaussian jitter,
// rounded to the nearest tick. The ideal times are computed from the pulse number rather than
// summed, so a non-integer period does not drift over millions of pulses. Each stamp lies at least
// one tick after the previous one: a jitter draw that would reorder two pulses is clamped, since
// the instrument's counter cannot run backwards.
class PulseTrain {
 public:
  explicit PulseTrain(const TrainConfig& config);

  // The next pulse's 64-bit tick count. The counter only advances with the pulses taken, so a
  // seeded run gives the same stamps whatever the wall-clock timing of the requests.
  uint64_t Next();
  std::vector<uint64_t> Take(int64_t count);

  // Passes over the pulses whose ideal time lies before `ticks`, as pulses that arrive while
  // nobody asks for them are never reported. Never goes back.
  void SkipTo(uint64_t ticks);

  double PeriodTicks() const { return period_ticks_; }

 private:
  double period_ticks_;
  double jitter_ticks_;
  uint64_t start_ticks_;
  uint64_t index_ = 0;
  uint64_t last_ = 0;
  std::mt19937_64 rng_;
  std::normal_distribution<double> jitter_{0.0, 1.0};
};

struct ModelConfig {
  TrainConfig ch1;
  TrainConfig ch2;
};

// Both channels share the jitter and the counter start; channel 2 draws from a seed derived
// from `seed`, so the two channels' jitter is independent yet reproducible.
ModelConfig MakeModelConfig(double ch1_hz, double ch2_hz, double jitter_ticks, uint64_t start_ticks,
                            uint64_t seed);

struct Samples {
  std::vector<uint64_t> ch1;
  std::vector<uint64_t> ch2;  // empty for a channel 1 request
};

// Both channels of the instrument on one counter. Each channel has its own random stream, so
// channel 1 stamps do not depend on whether channel 2 was ever asked for. A request takes
// pulses from where the previous one left the counter, so that channel 2 in a dual request
// lies in the same stretch of time as channel 1, however the two frequencies differ.
class PulseModel {
 public:
  explicit PulseModel(const ModelConfig& config) : ch1_(config.ch1), ch2_(config.ch2) {}

  // The next `count` pulses of channel 1, and of channel 2 when `dual`.
  Samples TakeSamples(int64_t count, bool dual);
  // The next channel 1 stamp of a running stream.
  uint64_t NextStreamStamp();

 private:
  void Advance(uint64_t stamp);

  PulseTrain ch1_;
  PulseTrain ch2_;
  uint64_t clock_ = 0;  // one tick past the newest stamp reported on either channel
  bool started_ = false;
};

// Throws std::invalid_argument with an operator-readable message for a frequency outside
// kMinFrequencyHz to kMaxFrequencyHz, or a jitter that is negative, not finite or above one
// period (the pulses would then lose their order and the train its rate).
void ValidateTrainConfig(const TrainConfig& config);

}  // namespace k390sim
