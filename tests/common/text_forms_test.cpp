#include "common/text_forms.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "common/error.h"

namespace common {
namespace {

TEST(FixedText, WritesExactDecimalsWithAPoint) {
  EXPECT_EQ(FixedText(1000, 4), "1000.0000");
  EXPECT_EQ(FixedText(0.001, 12), "0.001000000000");
  EXPECT_EQ(FixedText(0.0141421356, 4), "0.0141");
  EXPECT_EQ(FixedText(-12.5, 1), "-12.5");
  EXPECT_EQ(FixedText(0.125, 2), "0.12");  // an exact binary tie goes to even
  EXPECT_EQ(FixedText(0.375, 2), "0.38");
  EXPECT_EQ(FixedText(-0.00001, 4), "0.0000");      // no "-0.0000"
  EXPECT_EQ(FixedText(1234567.0, 1), "1234567.0");  // no grouping
}

TEST(GeneralText, UsesFifteenSignificantDigitsAndDropsTrailingZeros) {
  EXPECT_EQ(GeneralText(0), "0");
  EXPECT_EQ(GeneralText(120), "120");
  EXPECT_EQ(GeneralText(1000), "1000");
  EXPECT_EQ(GeneralText(4e7 / 40004), "999.900009999");
  EXPECT_EQ(GeneralText(4e7 / 39996), "1000.100010001");
  EXPECT_EQ(GeneralText(100.190983005625), "100.190983005625");
  EXPECT_EQ(GeneralText(-2.5), "-2.5");
  EXPECT_EQ(GeneralText(0.00001), "0.00001");
  EXPECT_EQ(GeneralText(0.000001), "1E-6");
  EXPECT_EQ(GeneralText(0.0000015), "1.5E-6");
  EXPECT_EQ(GeneralText(999999999999999.0), "999999999999999");
  EXPECT_EQ(GeneralText(1e15), "1E15");
  EXPECT_EQ(GeneralText(1.0 / 3), "0.333333333333333");
}

TEST(Rounding, TiesGoToEvenAndTruncationGoesTowardZero) {
  EXPECT_EQ(RoundHalfEven(10.5), 10);
  EXPECT_EQ(RoundHalfEven(11.5), 12);
  EXPECT_EQ(RoundHalfEven(-2.5), -2);
  EXPECT_EQ(RoundHalfEven(5.657), 6);
  EXPECT_EQ(TruncToInt64(-3.9), -3);
  EXPECT_EQ(TruncToInt64(3.9), 3);
  EXPECT_THROW(RoundHalfEven(std::numeric_limits<double>::infinity()), Error);
  EXPECT_THROW(RoundHalfEven(std::nan("")), Error);
  EXPECT_THROW(TruncToInt64(1e19), Error);
}

}  // namespace
}  // namespace common
