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

// A log that comes in pieces reads as the whole log does wherever it is cut: between CR and LF,
// inside a number, inside the first line, or one byte at a time.
TEST(StreamLogParser, PiecesCutAnywhereReadAsTheWholeLog) {
  const struct {
    std::string log;
    std::vector<int64_t> intervals;
    std::string error;  // empty: none
  } cases[] = {
      {"first line\r\n40000\r\n39999\r\n\r\n40001", {40000, 39999, 40001}, ""},
      {"7\r40000\r\r18446744073709551615x\r",
       {},
       "line 4: '18446744073709551615x' is not a valid integer value"},
      {"7\n1\n9223372036854775807\n", {1, 9223372036854775807}, ""},
      {"7\n1\n9223372036854775808\n",
       {},
       "line 3: '9223372036854775808' is not a valid integer value"},
      {"7\r\n1\r\n 2\r\n", {}, "line 3: ' 2' is not a valid integer value"},
      {"only a first line", {}, ""},
  };
  for (const auto& c : cases) {
    for (size_t piece = 1; piece <= c.log.size(); ++piece) {
      std::vector<int64_t> got;
      StreamLogParser parser(got);
      std::string held;
      std::string error;
      try {
        for (size_t at = 0;; at += piece) {
          const bool last = at + piece >= c.log.size();
          held += c.log.substr(at, piece);
          held.erase(0, parser.Parse(held, last));
          if (last) {
            EXPECT_EQ(held, "");
            break;
          }
        }
      } catch (const common::Error& e) {
        error = e.Message();
      }
      EXPECT_EQ(error, c.error) << c.log << " in pieces of " << piece;
      if (c.error.empty()) {
        EXPECT_EQ(got, c.intervals) << c.log << " in pieces of " << piece;
      }
    }
  }
}

}  // namespace
}  // namespace analysis
