#include "common/convert.h"

#include <gtest/gtest.h>

#include "common/error.h"

namespace common {
namespace {

std::string MessageOf(auto&& call) {
  try {
    call();
  } catch (const Error& e) {
    return e.what();
  }
  return "no error";
}

TEST(StrToInt, AcceptsOnlySignAndDigitsWithinRange) {
  EXPECT_EQ(StrToInt("0"), 0);
  EXPECT_EQ(StrToInt("+42"), 42);
  EXPECT_EQ(StrToInt("-2147483648"), -2147483648LL);
  EXPECT_EQ(StrToInt("2147483647"), 2147483647);
  EXPECT_EQ(StrToInt("007"), 7);
  for (const char* bad :
       {"", "-", "+", " 1", "1 ", "1.0", "2147483648", "-2147483649", "$10", "0x10", "1e3", "١"}) {
    EXPECT_EQ(MessageOf([&] { StrToInt(bad); }),
              std::string("'") + bad + "' is not a valid integer value")
        << bad;
  }
}

TEST(StrToInt64, CoversTheWholeSignedRange) {
  EXPECT_EQ(StrToInt64("-9223372036854775808"), INT64_MIN);
  EXPECT_EQ(StrToInt64("9223372036854775807"), INT64_MAX);
  EXPECT_THROW(StrToInt64("9223372036854775808"), Error);
  EXPECT_THROW(StrToInt64("-9223372036854775809"), Error);
}

TEST(HexToInt, ReadsTwosComplementAndReportsTheFieldWithADollar) {
  EXPECT_EQ(HexToInt32("7fffffff"), 2147483647);
  EXPECT_EQ(HexToInt32("FFFFFFFF"), -1);
  EXPECT_EQ(HexToInt32("80000000"), INT32_MIN);
  EXPECT_EQ(HexToInt32("000000000000000A"), 10);
  EXPECT_EQ(HexToInt64("FFFFFFFFFFFFFFFF"), -1);
  EXPECT_EQ(HexToInt64("100000010"), 4294967312LL);
  EXPECT_EQ(MessageOf([] { HexToInt32("100000000"); }),
            "'$100000000' is not a valid integer value");
  EXPECT_EQ(MessageOf([] { HexToInt32(""); }), "'$' is not a valid integer value");
  EXPECT_EQ(MessageOf([] { HexToInt64("-1"); }), "'$-1' is not a valid integer value");
  EXPECT_EQ(MessageOf([] { HexToInt64("12G"); }), "'$12G' is not a valid integer value");
  EXPECT_THROW(HexToInt64("10000000000000000"), Error);
}

TEST(StrToFloat, ReadsPointDecimalsAndRejectsEverythingElse) {
  EXPECT_DOUBLE_EQ(StrToFloat("0.000300000000"), 0.0003);
  EXPECT_DOUBLE_EQ(StrToFloat("-1.5"), -1.5);
  EXPECT_DOUBLE_EQ(StrToFloat("+2"), 2);
  EXPECT_DOUBLE_EQ(StrToFloat("1E3"), 1000);
  EXPECT_DOUBLE_EQ(StrToFloat(".5"), 0.5);
  for (const char* bad : {"", "1,5", "inf", "nan", "-", "1.5x", " 1"}) {
    EXPECT_EQ(MessageOf([&] { StrToFloat(bad); }),
              std::string("'") + bad + "' is not a valid floating point value")
        << bad;
  }
}

}  // namespace
}  // namespace common
