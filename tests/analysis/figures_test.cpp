#include "analysis/figures.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "analysis/figure_text.h"
#include "analysis/processing_pass.h"
#include "common/convert.h"
#include "common/error.h"
#include "common/text_forms.h"

namespace analysis {
namespace {

// The flight-time figures as texts, as the boxes show them.
struct Shown {
  std::string pulses, quality, held;
  std::optional<std::string> error;
  bool operator==(const Shown&) const = default;
};

Shown Show(const FlightFigures& flight) {
  FigureSheet sheet;
  sheet.Put(flight);
  return {sheet.Text(Figure::kFlightPulses), sheet.Text(Figure::kQualityFactor),
          sheet.Text(Figure::kHeldQualityFactor), flight.error};
}

// The figures made the way the window once made them: from the box texts, the interval and the
// percentage read back from their 12 and 4 decimals.
Shown FromBoxTexts(const std::string& seconds, const std::string& ms, const std::string& percent) {
  Shown shown;
  try {
    if (seconds.empty()) return shown;
    const double t = common::StrToFloat(seconds);
    if (ms.empty()) return shown;
    const int32_t flight = common::StrToInt(ms);
    if (flight <= 0 || !(t > 0)) return shown;
    const double pulses = flight / t / 1000;
    if (!(pulses < 2147483648.0) || std::trunc(pulses) < 1) return shown;
    const auto n = static_cast<int32_t>(std::trunc(pulses));
    shown.pulses = "(" + std::to_string(n) + " pulses)";
    const double q = common::StrToFloat(percent) / n;
    shown.quality = common::FixedText(q, 4);
    shown.held = shown.quality;
  } catch (const common::Error& e) {
    shown.error = e.Message();
  }
  return shown;
}

TEST(FlightFigures, PulsesAndQualityFromThePassNumbers) {
  struct Case {
    FlightInput input;  // interval s, flight ms, P-P %
    std::string pulses, quality;
  };
  const std::vector<Case> cases = {
      {{0.0003, "1", 0.03}, "(3 pulses)", "0.0100"},
      {{0.001, "250", 0.02}, "(250 pulses)", "0.0001"},
      // The interval as shown, 0.000300000000 s: 3 ms hold 10 pulses, not 9.99999999998.
      {{0.0003000000000004, "3", 0.03}, "(10 pulses)", "0.0030"},
      {{0.0003, "0", 0.03}, "", ""},
      {{std::nullopt, "1", 0.03}, "", ""},
      {{1.0, "1", 0.03}, "", ""},  // under one pulse
      // An interval that shows as zero seconds: no pulse count, no division by 0.
      {{4e-13, "1", 0.03}, "", ""},
      // More pulses than a signed 32-bit count holds.
      {{1e-12, "100000", 0.03}, "", ""},
  };
  for (const Case& c : cases) {
    const Shown got = Show(ComputeFlightFigures(c.input, 0));
    // The held maximum is shown exactly when a quality factor was formed.
    EXPECT_EQ(got, (Shown{c.pulses, c.quality, c.quality, std::nullopt})) << c.input.flight_ms;
  }
}

// Pulse counts sit on whole numbers (3 ms over 0.3 ms) and percentages on exact ties at their
// fourth decimal (2.34375), so only the shown rounding gives the shown figures.
TEST(FlightFigures, AgreeWithTheFiguresMadeFromTheBoxTexts) {
  const std::vector<double> ticks = {
      12000, 28000, 40000,      40000 + 1.0 / 3, 12000.4,        1,
      0.5,   2e-4,  2147483647, 4294967295,      40000.00000002, 39999.5};
  const std::vector<double> percents = {0.03125, 2.34375, 3.90625, 0.0275,
                                        1.0 / 3, 0,       1000,    132.91};
  std::vector<std::string> flights;
  for (int ms = 1; ms <= 40; ++ms) flights.push_back(std::to_string(ms));
  for (const char* ms : {"99", "100", "101", "999", "1001", "12345", "65536", "1000000",
                         "2147483647", "2147483648", "007", "+3", "1x"}) {
    flights.push_back(ms);
  }
  int compared = 0;
  for (double t : ticks) {
    const double seconds = t * 25 / 1e9;  // as the pass turns ticks into seconds
    for (double percent : percents) {
      for (const std::string& ms : flights) {
        const Shown expected =
            FromBoxTexts(common::FixedText(seconds, 12), ms, common::FixedText(percent, 4));
        EXPECT_EQ(Show(ComputeFlightFigures({seconds, ms, percent}, 0)), expected)
            << t << " ticks, " << ms << " ms, " << percent << " %";
        ++compared;
      }
    }
  }
  EXPECT_EQ(compared, 12 * 8 * 53);
}

TEST(FlightFigures, ABlankOrBadTextGivesTheConversionError) {
  struct Case {
    FlightInput input;
    std::string message, pulses;
  };
  const std::vector<Case> cases = {
      // After a Load without figures: the count is made before the percentage fails.
      {{0.0003, "1", std::nullopt}, "'' is not a valid floating point value", "(3 pulses)"},
      {{0.0003, "1x", 0.03}, "'1x' is not a valid integer value", ""},
      {{0.001, "99999999999", 0.02}, "'99999999999' is not a valid integer value", ""},
  };
  for (const Case& c : cases) {
    ProcessingPass pass;
    pass.Flight({0.0003, "1", 0.03});  // holds 0.01
    const Shown got = Show(pass.Flight(c.input));
    EXPECT_EQ(got.error, c.message);
    EXPECT_EQ(got.pulses, c.pulses) << c.message;
    EXPECT_EQ(got.quality, "") << c.message;
    EXPECT_DOUBLE_EQ(pass.Held().quality, 0.01) << c.message;
  }
}

TEST(FlightFigures, ThePassHoldsTheHighestQualityUntilReset) {
  ProcessingPass pass;
  EXPECT_EQ(Show(pass.Flight({0.0003, "1", 0.03})).held, "0.0100");
  const Shown lower = Show(pass.Flight({0.0003, "2", 0.03}));  // 6 pulses
  EXPECT_EQ(lower.quality, "0.0050");
  EXPECT_EQ(lower.held, "0.0100");
  // No flight time: no figures, the held maximum stays.
  EXPECT_EQ(Show(pass.Flight({0.0003, "", 0.03})), Shown{});
  EXPECT_DOUBLE_EQ(pass.Held().quality, 0.01);
  pass.ResetQualityPeak();
  EXPECT_EQ(Show(pass.Flight({0.0003, "2", 0.03})).held, "0.0050");
}

}  // namespace
}  // namespace analysis
