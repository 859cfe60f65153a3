#include "analysis/figure_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "common/convert.h"
#include "common/text_forms.h"

namespace analysis {
namespace {

// The pass's own figures are checked as texts through the window and k390tool; these are the
// forms they do not reach.
TEST(FigureText, EachFormAsTheBoxesShowIt) {
  struct Case {
    Figure figure;
    FigureValue value;
    std::string text;
  };
  const std::vector<Case> cases = {
      {Figure::kPeakPositive, int64_t{0}, "0"},
      {Figure::kPeakToPeakPercent, 0.03125, "0.0312"},  // an exact tie goes to even
      {Figure::kPeakToPeakPercent, 2.34375, "2.3438"},
      {Figure::kRmsPercent, 999.99999743886, "1000.0000"},
      {Figure::kCh2Seconds, 0.0, "0.000000000000"},
      {Figure::kFlightPulses, int64_t{3}, "(3 pulses)"},
      {Figure::kQualityFactor, 1.0 / 3, "0.3333"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FigureText(c.figure, c.value), c.text) << FigureName(c.figure);
  }
}

TEST(FigureSheet, FlightFiguresBlankWhatTheyLackAndKeepTheHeldMaximum) {
  FigureSheet sheet;
  sheet.Put(FlightFigures{3, 0.01, 0.02, std::nullopt});
  // A count without a quality factor (its percentage failed): the held maximum stays.
  sheet.Put(FlightFigures{5, std::nullopt, 0.5, "error"});
  EXPECT_EQ(sheet.Text(Figure::kFlightPulses), "(5 pulses)");
  EXPECT_FALSE(sheet.Has(Figure::kQualityFactor));
  EXPECT_EQ(sheet.Text(Figure::kHeldQualityFactor), "0.0200");
  sheet.Put(FlightFigures{});
  EXPECT_FALSE(sheet.Has(Figure::kFlightPulses));
}

// What FixedText writes, read back: the number a box's text stands for.
double ReadBack(double value, int decimals) {
  return common::StrToFloat(common::FixedText(value, decimals));
}

TEST(RoundToDecimals, IsTheNumberTheFixedTextReadsBackAs) {
  std::vector<double> values = {0.03125,
                                2.34375,
                                0.000300000000000004,
                                1e-13,
                                5e-13,
                                4.99999e-13,
                                0.5,
                                2.5,
                                1e15 + 0.5,
                                9007199254740993.0 / 1e4,
                                9007.19925474099,
                                -0.00005,
                                -2.34375,
                                123456789.123456,
                                4503599627370495.5,
                                1e300};
  // Doubles of every magnitude the figures reach and beyond, with arbitrary mantissas.
  uint64_t state = 0x9E3779B97F4A7C15u;
  for (int i = 0; i < 20000; ++i) {
    state = state * 6364136223846793005u + 1442695040888963407u;
    const double mantissa = static_cast<double>(state >> 11) / 9007199254740992.0;
    values.push_back(std::ldexp(0.5 + mantissa / 2, static_cast<int>(state % 120) - 60));
  }
  for (double value : values) {
    for (int decimals : {0, 1, 4, 12, 15}) {
      EXPECT_EQ(RoundToDecimals(value, decimals), ReadBack(value, decimals))
          << common::FixedText(value, 20) << " to " << decimals;
    }
  }
}

}  // namespace
}  // namespace analysis
