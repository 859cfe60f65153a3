#include "analysis/timing_input.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "common/error.h"

namespace analysis {
namespace {

TEST(TimingInput, EveryLineEndEndsALine) {
  std::vector<std::string> seen;
  ForEachLine("a\r\nb\rc\n\nd\r\r\ne", [&](int64_t number, std::string_view line) {
    seen.push_back(std::to_string(number) + ":" + std::string(line));
  });
  EXPECT_EQ(seen, (std::vector<std::string>{"1:a", "2:b", "3:c", "4:", "5:d", "6:", "7:e"}));
  seen.clear();
  ForEachLine("x\r\n", [&](int64_t, std::string_view line) { seen.emplace_back(line); });
  EXPECT_EQ(seen, (std::vector<std::string>{"x"}));
}

TEST(TimingInput, ReplyGivesEveryChannel1IntervalBeyondTheWindowsCap) {
  // 6001 records: more than the 5000 intervals the window keeps. The counter wraps at 2^32.
  std::string reply = "<K390><SAMPLES>1771,1771</SAMPLES>\r\n";
  uint32_t stamp = 4294960000u;
  char line[64];
  for (int k = 0; k < 6001; ++k) {
    std::snprintf(line, sizeof line, "%X,%X,0\r\n", k, stamp);
    reply += line;
    stamp += 40000 + (k % 2);
  }
  reply += "</K390>";
  const std::vector<int64_t> intervals = ReplyIntervals(reply);
  ASSERT_EQ(intervals.size(), 6000u);
  EXPECT_EQ(intervals[0], 40000);
  EXPECT_EQ(intervals[1], 40001);
  EXPECT_EQ(intervals[5999], 40001);
  EXPECT_TRUE(ReplyIntervals("no header\r\n0,1,2\r\n").empty());
}

TEST(TimingInput, ValuesThatDoNotConvertNameTheirLine) {
  const struct {
    const char* name;
    std::function<void()> read;
    const char* message;
  } cases[] = {
      {"stream log", [] { StreamLogIntervals("7\r\n40000\r\n-4\r\n"); },
       "line 3: '-4' is not a valid integer value"},
      {"reply record", [] { ReplyIntervals("<SAMPLES>3,0</SAMPLES>\r0,10,0\r1,2G,0\r"); },
       "Reply line 3, stamp 1: '$2G' is not a valid integer value"},
      {"list", [] { ListIntervals("40000,,40001", 2); }, "line 3: '' is not a valid integer value"},
      {"values", [] { ValueLines("# head\n1.5\n\n2,5\n"); },
       "line 4: '2,5' is not a valid floating point value"},
  };
  for (const auto& c : cases) {
    try {
      c.read();
      ADD_FAILURE() << c.name << " read without an error";
    } catch (const common::Error& e) {
      EXPECT_EQ(e.Message(), c.message) << c.name;
    }
  }
  const std::vector<double> values = ValueLines(" 1e-9 \r# x\rnan\r-2.5");
  ASSERT_EQ(values.size(), 3u);
  EXPECT_DOUBLE_EQ(values[0], 1e-9);
  EXPECT_TRUE(std::isnan(values[1]));
  EXPECT_DOUBLE_EQ(values[2], -2.5);
  EXPECT_EQ(StreamLogIntervals("9\n4294967295\n1\n"), (std::vector<int64_t>{4294967295, 1}));
}

}  // namespace
}  // namespace analysis
