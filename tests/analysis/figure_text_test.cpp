#include "analysis/figure_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "analysis/processing_pass.h"
#include "common/convert.h"
#include "common/text_forms.h"

namespace analysis {
namespace {

TEST(FigureText, EachFigureHasItsForm) {
  struct Case {
    Figure figure;
    FigureValue value;
    std::string text;
  };
  const std::vector<Case> cases = {
      {Figure::kAverageTicks, int64_t{40000}, "40000"},
      {Figure::kPeakPositive, int64_t{4}, "+4"},
      {Figure::kPeakPositive, int64_t{0}, "0"},
      {Figure::kPeakNegative, int64_t{-4}, "-4"},
      {Figure::kPeakToPeak, int64_t{4294967293}, "4294967293"},
      {Figure::kPeakToPeakPercent, 0.02, "0.0200"},
      {Figure::kPeakToPeakPercent, 0.03125, "0.0312"},  // an exact tie goes to even
      {Figure::kPeakToPeakPercent, 2.34375, "2.3438"},
      {Figure::kRmsPercent, 999.99999743886, "1000.0000"},
      {Figure::kCh1Seconds, 0.001, "0.001000000000"},
      {Figure::kCh2Seconds, 0.0, "0.000000000000"},
      {Figure::kCh1Frequency, 1000.0104, "1000.0104"},
      {Figure::kFlightPulses, int64_t{3}, "(3 pulses)"},
      {Figure::kQualityFactor, 1.0 / 3, "0.3333"},
      {Figure::kHeldQualityFactor, 0.0, "0.0000"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FigureText(c.figure, c.value), c.text) << FigureName(c.figure);
  }
}

TEST(FigureText, APassOverAKnownListShowsTheseTexts) {
  acquisition::PulseData data;
  DecodeLoadedList({{40000, 40004, 39996, 40000}, std::nullopt}, data);
  FigureSheet sheet;
  sheet.Put(Compute(data, {}).figures);
  const std::vector<std::pair<Figure, std::string>> expected = {
      {Figure::kAverageTicks, "40000"},
      {Figure::kPeakPositive, "+4"},
      {Figure::kPeakNegative, "-4"},
      {Figure::kPeakToPeak, "8"},
      {Figure::kPeakToPeakPercent, "0.0200"},
      {Figure::kHeldPeakToPeakPercent, "0.0200"},
      {Figure::kRms, "6"},
      {Figure::kRmsPercent, "0.0141"},
      {Figure::kCh1Seconds, "0.001000000000"},
      {Figure::kCh1Frequency, "1000.0000"},
      {Figure::kCh2Seconds, "0.000000000000"},
      {Figure::kCh2Frequency, "0.0000"},
      {Figure::kFlightPulses, ""},
      {Figure::kQualityFactor, ""},
      {Figure::kHeldQualityFactor, ""},
  };
  for (const auto& [figure, text] : expected)
    EXPECT_EQ(sheet.Text(figure), text) << FigureName(figure);
}

TEST(FigureSheet, FlightFiguresBlankWhatTheyLackAndKeepTheHeldMaximum) {
  FigureSheet sheet;
  sheet.Put(FlightFigures{3, 0.01, 0.02, std::nullopt});
  EXPECT_EQ(sheet.Text(Figure::kFlightPulses), "(3 pulses)");
  EXPECT_EQ(sheet.Number(Figure::kQualityFactor), 0.01);
  EXPECT_EQ(sheet.Text(Figure::kHeldQualityFactor), "0.0200");
  // A count without a quality factor (its percentage failed), then no figures at all.
  sheet.Put(FlightFigures{5, std::nullopt, 0.5, "error"});
  EXPECT_EQ(sheet.Text(Figure::kFlightPulses), "(5 pulses)");
  EXPECT_FALSE(sheet.Has(Figure::kQualityFactor));
  EXPECT_EQ(sheet.Text(Figure::kHeldQualityFactor), "0.0200");
  sheet.Put(FlightFigures{});
  EXPECT_FALSE(sheet.Has(Figure::kFlightPulses));
  EXPECT_EQ(sheet.Text(Figure::kHeldQualityFactor), "0.0200");
  sheet.Clear(Figure::kHeldQualityFactor);
  EXPECT_EQ(sheet.Number(Figure::kHeldQualityFactor), std::nullopt);
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
