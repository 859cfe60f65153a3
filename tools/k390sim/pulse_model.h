#pragma once

#include <cstdint>
#include <optional>
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
// A rotor with more blades than this is not a turbine meter; the bound keeps the table small.
inline constexpr int64_t kMaxPatternPositions = 100000;
// About eleven days: a slower wander is a constant rate over any run.
inline constexpr double kMaxWanderPeriodS = 1e6;

// How a meter's pulses depart from an even train, apart from random jitter. Every term is a
// displacement of the edge times in ticks, so the mean rate holds over whole cycles of each.
struct TrainShape {
  // A rotor of B blades: the interval that starts at pulse n (counted from 1 since the counter
  // start) is the period plus deviation (n - 1) mod B. The B deviations are a fixed irregular
  // set that does not depend on the seed: the fractional parts of (j + 1) times the golden
  // ratio (j from 0), less their mean, scaled to the given P-P. They sum to zero, so each
  // rotation takes exactly B periods.
  int64_t pattern_positions = 0;  // B, 2 to kMaxPatternPositions; 0: no pattern
  double pattern_pp_ticks = 0;    // P-P of the B deviations, ticks, up to a period
  // Sinusoidal jitter: each edge moves by sine_ticks * sin(2 pi sine_hz t), t its time in
  // seconds since the counter start.
  double sine_hz = 0;
  double sine_ticks = 0;  // peak, ticks, up to a period; 0: none
  // A slow rate wander: the local interval is the period times
  // (1 - wander_pct / 100 * sin(2 pi t / wander_period_s)), so the rate rises first. The edges
  // move by -(wander_pct / 100) * T / (2 pi) * (1 - cos(2 pi t / T)), T the wander period in
  // ticks: none at the start, and none again after each whole wander period.
  double wander_pct = 0;  // 0 to below 100; 0: none
  double wander_period_s = 0;
};

// Pulses a line gains or loses, and pairs out of order. Pulse numbers count from 1 since the
// counter start, dropped pulses included.
struct ChannelFaults {
  int64_t drop_every = 0;   // pulses numbered a multiple of this never happen; 0 or 2 and up
  int64_t extra_every = 0;  // after each pulse numbered a multiple of this, one more; 0 or 2 up
  double extra_at = 0.5;    // where the extra pulse lies, as a fraction of the interval, 0 to 1
  // Pulses numbered a multiple of this lie at minus the phase: the pulse that lags its channel 1
  // partner leads it instead. 0 or 2 and up.
  int64_t swap_every = 0;
};

struct TrainConfig {
  double frequency_hz = 1000;  // pulses per second, kMinFrequencyHz to kMaxFrequencyHz
  double jitter_ticks = 2;     // standard deviation of the Gaussian jitter, in ticks, 0 to a period
  uint64_t start_ticks = 0;    // counter value one period before the first pulse
  uint64_t seed = 1;
  // Channel 1's rate, whose period the phase, the pattern and the shape's bounds count in; 0:
  // this train's own.
  double reference_hz = 0;
  // Degrees of the reference period that each pulse lies after its place on the even train,
  // -180 to 180, changing by phase_drift_deg_per_s times the time since the start (seconds).
  double phase_deg = 0;
  double phase_drift_deg_per_s = 0;
  TrainShape shape = {};
  ChannelFaults faults = {};
};

// One channel. Pulse i (from 1) lies at start + i * period, moved by the phase and the shape,
// plus independent Gaussian jitter, rounded to the nearest tick. The ideal times are computed
// from the pulse number rather than summed, so a non-integer period does not drift over
// millions of pulses. Each stamp lies at least one tick after the previous one: a draw that
// would reorder two pulses is clamped, since the instrument's counter cannot run backwards.
//
// A train at another rate than its reference follows the reference's shape at its own place on
// the reference's pulse count: pulse i of a train at r times the reference rate sits at
// reference pulse i / r + phase / 360 and moves by the pattern's edge offset of the reference
// pulse nearest that place (the later one when halfway), as a second pick-up on one rotor sees
// each blade's error too. So both outputs of one meter carry the same pattern, sinusoid and
// wander, and at a ratio of 1 the pattern leaves the phase between them alone.
class PulseTrain {
 public:
  explicit PulseTrain(const TrainConfig& config);

  // The next pulse's 64-bit tick count. The counter only advances with the pulses taken, so a
  // seeded run gives the same stamps whatever the wall-clock timing of the requests. A dropped
  // pulse still takes its jitter draw, and an extra one draws from a stream of its own, so the
  // other pulses keep the stamps they have without the fault.
  uint64_t Next();
  std::vector<uint64_t> Take(int64_t count);

  // Passes over the pulses whose time before jitter lies before `ticks`, as pulses that arrive
  // while nobody asks for them are never reported. Never goes back.
  void SkipTo(uint64_t ticks);

  double PeriodTicks() const { return period_ticks_; }

 private:
  // Ticks after the start at which pulse `number` (a real number between pulses for an extra
  // one) lies before jitter.
  double EdgeOffset(double number, bool swapped) const;
  double Displacement(double reference_pulse, double offset) const;
  double PatternOffset(double reference_pulse) const;
  double FirstPulseAtOrAfter(double offset) const;
  uint64_t Stamp(double offset);

  double period_ticks_;
  double reference_period_ticks_;
  double reference_pulses_per_pulse_;
  double jitter_ticks_;
  uint64_t start_ticks_;
  double phase_deg_;
  double phase_drift_deg_per_s_;
  TrainShape shape_;
  ChannelFaults faults_;
  bool displaced_ = false;             // any phase or shape: edges leave the even train
  std::vector<double> pattern_edges_;  // centred edge offset of each pattern position, ticks
  uint64_t index_ = 0;                 // number of the last pulse taken or passed over
  std::optional<double> extra_;        // number of an extra pulse still to come
  uint64_t last_ = 0;
  bool emitted_ = false;
  std::mt19937_64 rng_;
  std::mt19937_64 extra_rng_;
  std::normal_distribution<double> jitter_{0.0, 1.0};
  std::normal_distribution<double> extra_jitter_{0.0, 1.0};
};

struct ModelConfig {
  TrainConfig ch1;
  TrainConfig ch2;
};

// What the two outputs of one meter share, how channel 2 sits against channel 1, and the
// faults of each line.
struct MeterConfig {
  TrainShape shape = {};
  ChannelFaults ch1_faults;
  ChannelFaults ch2_faults;
  double ch2_phase_deg = 0;  // of the channel 1 period; positive: channel 2 lags
  double ch2_phase_drift_deg_per_s = 0;
};

// Both channels share the jitter, the counter start and the meter's shape; channel 2 draws from
// a seed derived from `seed`, so the two channels' jitter is independent yet reproducible.
ModelConfig MakeModelConfig(double ch1_hz, double ch2_hz, double jitter_ticks, uint64_t start_ticks,
                            uint64_t seed, const MeterConfig& meter = {});

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

  // The next `count` pulses of channel 1, and of channel 2 when `dual`. A line that loses or
  // gains pulses still gives `count` stamps: the instrument stamps the pulses that come.
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
// kMinFrequencyHz to kMaxFrequencyHz, a jitter that is negative, not finite or above one
// period (the pulses would then lose their order and the train its rate), or a shape, phase or
// fault the train cannot have.
void ValidateTrainConfig(const TrainConfig& config);

}  // namespace k390sim
