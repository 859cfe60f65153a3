// The simulator's meter model against stamps worked out apart from it (tests/data/
// k390sim_edges.py), and the meters it refuses.

#include "pulse_model.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <vector>

namespace k390sim {
namespace {

using nlohmann::json;

ModelConfig ConfigOf(const json& s) {
  MeterConfig meter;
  meter.shape.pattern_positions = s.value("pattern_positions", 0);
  meter.shape.pattern_pp_ticks = s.value("pattern_pp_ticks", 0.0);
  meter.shape.sine_hz = s.value("sine_hz", 0.0);
  meter.shape.sine_ticks = s.value("sine_ticks", 0.0);
  meter.shape.wander_pct = s.value("wander_pct", 0.0);
  meter.shape.wander_period_s = s.value("wander_period_s", 0.0);
  meter.ch2_phase_deg = s.value("ch2_phase_deg", 0.0);
  meter.ch2_phase_drift_deg_per_s = s.value("ch2_phase_drift", 0.0);
  meter.ch1_faults.drop_every = s.value("ch1_drop", 0);
  meter.ch2_faults.drop_every = s.value("ch2_drop", 0);
  meter.ch1_faults.extra_every = s.value("ch1_extra", 0);
  meter.ch2_faults.extra_every = s.value("ch2_extra", 0);
  meter.ch1_faults.extra_at = meter.ch2_faults.extra_at = s.value("extra_at", 0.5);
  meter.ch2_faults.swap_every = s.value("swap", 0);
  const double hz = s.at("freq");
  return MakeModelConfig(hz, s.value("ch2_freq", hz), 0, s.value("start", uint64_t{0}), 1, meter);
}

// Pattern, sinusoid, wander, phase, ratio, drift and each fault, jitter-free, over requests
// that leave the counter where the next one has to find its first pulse again.
TEST(MeterModel, StampsMatchTheIndependentlyComputedEdges) {
  std::ifstream file(K390SIM_EDGES);
  ASSERT_TRUE(file) << K390SIM_EDGES;
  const json cases = json::parse(file).at("cases");
  ASSERT_EQ(cases.size(), 16u);
  for (const json& c : cases) {
    SCOPED_TRACE(c.at("name").get<std::string>());
    PulseModel model(ConfigOf(c.at("settings")));
    const json& requests = c.at("requests");
    for (size_t r = 0; r < requests.size(); ++r) {
      SCOPED_TRACE(r);
      const Samples got =
          model.TakeSamples(requests[r].at("count"), requests[r].at("dual").get<bool>());
      EXPECT_EQ(got.ch1, c.at("replies")[r].at("ch1").get<std::vector<uint64_t>>());
      EXPECT_EQ(got.ch2, c.at("replies")[r].at("ch2").get<std::vector<uint64_t>>());
    }
  }
}

// The stream takes its pulses from the same line as the replies.
TEST(MeterModel, TheStreamCarriesTheShapeAndChannel1Faults) {
  MeterConfig meter;
  meter.shape = {.pattern_positions = 5,
                 .pattern_pp_ticks = 400,
                 .sine_hz = 37,
                 .sine_ticks = 300,
                 .wander_pct = 20,
                 .wander_period_s = 0.2};
  meter.ch1_faults = {.drop_every = 7, .extra_every = 6, .extra_at = 0.3};
  const ModelConfig config = MakeModelConfig(1000, 1000, 3, 0, 4, meter);
  PulseModel replies(config);
  PulseModel stream(config);
  const std::vector<uint64_t> expected = replies.TakeSamples(500, false).ch1;
  for (uint64_t stamp : expected) ASSERT_EQ(stream.NextStreamStamp(), stamp);
}

TEST(MeterModel, RefusesMetersItCannotMake) {
  struct Case {
    const char* what;
    void (*change)(TrainConfig&);
    const char* message;
  };
  const Case cases[] = {
      {"one blade",
       [](TrainConfig& t) { t.shape = {.pattern_positions = 1, .pattern_pp_ticks = 9}; },
       "a pattern of 1 positions is outside 2 to 100000"},
      {"pattern beyond a period",
       [](TrainConfig& t) { t.shape = {.pattern_positions = 4, .pattern_pp_ticks = 40000.5}; },
       "a pattern P-P of 40000.5 ticks is outside 0 to the period of 40000 ticks at 1000 Hz"},
      {"sine without a frequency", [](TrainConfig& t) { t.shape.sine_ticks = 3; },
       "a sinusoidal jitter frequency of 0 Hz is outside 0 (not included) to 20000000 Hz"},
      {"wander of the whole rate",
       [](TrainConfig& t) { t.shape = {.wander_pct = 100, .wander_period_s = 1}; },
       "a rate wander of 100 % is outside 0 to 100 % (not included)"},
      {"wander without a period", [](TrainConfig& t) { t.shape.wander_pct = 1; },
       "a rate wander period of 0 s is outside 0 (not included) to 1000000 s"},
      {"phase", [](TrainConfig& t) { t.phase_deg = -180.5; },
       "a phase of -180.5 degrees is outside -180 to 180"},
      {"drift", [](TrainConfig& t) { t.phase_drift_deg_per_s = -180000; },
       "a phase drift of -180000 degrees per second is not below half a period per period of "
       "channel 1 (180000 degrees per second at 1000 Hz)"},
      {"drop all", [](TrainConfig& t) { t.faults.drop_every = 1; },
       "dropping every 1 pulses: use 0 for none or 2 or more"},
      {"extra at a pulse", [](TrainConfig& t) { t.faults = {.extra_every = 3, .extra_at = 0}; },
       "an extra pulse at 0 of the interval is not between 0 and 1 (neither included)"},
      {"swap at phase 0", [](TrainConfig& t) { t.faults.swap_every = 2; },
       "swapping pairs needs a channel 2 phase between 0 and 180 degrees either way (neither "
       "included), not 0"},
      {"swap past the next pulse at twice the rate",
       [](TrainConfig& t) {
         t.frequency_hz = 2000;
         t.phase_deg = -90;
         t.faults.swap_every = 2;
       },
       "swapping pairs needs a channel 2 phase between 0 and 90 degrees either way (neither "
       "included), not -90"},
  };
  for (const Case& c : cases) {
    TrainConfig train = MakeModelConfig(1000, 1000, 0, 0, 1).ch2;
    c.change(train);
    try {
      ValidateTrainConfig(train);
      ADD_FAILURE() << c.what << ": accepted";
    } catch (const std::invalid_argument& e) {
      EXPECT_STREQ(e.what(), c.message) << c.what;
    }
  }
  TrainConfig edge = MakeModelConfig(1000, 2000, 0, 0, 1).ch2;
  edge.phase_deg = 89.9;
  edge.faults.swap_every = 2;
  edge.shape = {.pattern_positions = 100000,
                .pattern_pp_ticks = 40000,
                .sine_hz = 2e7,
                .sine_ticks = 40000,
                .wander_pct = 99.9,
                .wander_period_s = 1e6};
  EXPECT_NO_THROW(ValidateTrainConfig(edge));
}

}  // namespace
}  // namespace k390sim
