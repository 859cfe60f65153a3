#include "analysis/figures.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace analysis {
namespace {

TEST(FlightFigures, PulsesAndQualityFromTheShownTexts) {
  struct Case {
    FlightTexts texts;  // interval s, flight ms, P-P %
    std::string pulses, quality;
  };
  const std::vector<Case> cases = {
      {{"0.000300000000", "1", "0.0300"}, "(3 pulses)", "0.0100"},
      {{"0.001000000000", "1", "0.0200"}, "(1 pulses)", "0.0200"},
      {{"0.001000000000", "250", "0.0200"}, "(250 pulses)", "0.0001"},
      {{"0.000300000000", "", "0.0300"}, "", ""},
      {{"0.000300000000", "0", "0.0300"}, "", ""},
      {{"0.000300000000", "-5", "0.0300"}, "", ""},
      {{"", "1", "0.0300"}, "", ""},
      {{"1.000000000000", "1", "0.0300"}, "", ""},  // under one pulse
      // An average below 0.02 ticks shows as zero seconds: no pulse count, no division by 0.
      {{"0.000000000000", "1", "0.0300"}, "", ""},
      // More pulses than a signed 32-bit count holds.
      {{"0.000000000001", "100000", "0.0300"}, "", ""},
  };
  for (const Case& c : cases) {
    const FlightFigures f = ComputeFlightFigures(c.texts, 0);
    const std::string where = c.texts.interval_seconds + " " + c.texts.flight_ms;
    EXPECT_EQ(f.pulses, c.pulses) << where;
    EXPECT_EQ(f.quality, c.quality) << where;
    // The held maximum is shown exactly when a quality factor was formed.
    EXPECT_EQ(f.quality_peak, c.quality.empty() ? std::nullopt : std::optional(c.quality)) << where;
    EXPECT_FALSE(f.error) << where;
  }
}

TEST(FlightFigures, TheHeldQualityRisesOnlyAndSurvivesAnEmptyFlightTime) {
  const FlightFigures first = ComputeFlightFigures({"0.000300000000", "1", "0.0300"}, 0);
  EXPECT_DOUBLE_EQ(first.held_quality, 0.01);
  const FlightFigures lower =
      ComputeFlightFigures({"0.000300000000", "2", "0.0300"}, first.held_quality);  // 6 pulses
  EXPECT_EQ(lower.quality, "0.0050");
  EXPECT_EQ(lower.quality_peak, "0.0100");
  const FlightFigures none = ComputeFlightFigures({"0.000300000000", "", "0.0300"}, 0.01);
  EXPECT_EQ(none.quality, "");
  EXPECT_FALSE(none.quality_peak);
  EXPECT_DOUBLE_EQ(none.held_quality, 0.01);
}

TEST(FlightFigures, TextsThatAreNotNumbersGiveTheConversionError) {
  struct Case {
    FlightTexts texts;
    std::string message, pulses;
  };
  const std::vector<Case> cases = {
      // After a Load without figures: the count is made before the percentage fails.
      {{"0.000300000000", "1", ""}, "'' is not a valid floating point value", "(3 pulses)"},
      {{"abc", "1", "0.0300"}, "'abc' is not a valid floating point value", ""},
      {{"0.000300000000", "1x", "0.0300"}, "'1x' is not a valid integer value", ""},
  };
  for (const Case& c : cases) {
    const FlightFigures f = ComputeFlightFigures(c.texts, 0.5);
    EXPECT_EQ(f.error, c.message);
    EXPECT_EQ(f.pulses, c.pulses) << c.message;
    EXPECT_EQ(f.quality, "") << c.message;
    EXPECT_DOUBLE_EQ(f.held_quality, 0.5) << c.message;
  }
}

}  // namespace
}  // namespace analysis
