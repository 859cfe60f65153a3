#include "analysis/resample.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace analysis {
namespace {

std::string Log(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start) + "<no CR LF>");
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

std::string Resample(const std::string& log) {
  const Resampled out = ResampleText(log);
  EXPECT_FALSE(out.error) << *out.error;
  return out.text;
}

TEST(ResampleText, FirstLineIsSkippedAndTheWindowIsSmoothed) {
  struct Case {
    std::vector<std::string> lines;
    std::vector<std::string> expected;
  };
  const std::vector<Case> cases = {
      {{"999999", "100", "100", "100", "100", "200", "100", "100", "100", "100"}, {"200,120"}},
      {{"x", "100", "100", "100", "100", "100", "100", "100", "100", "110"},
       {"100,100.190983005625"}},
      {{"0", "0", "0", "0", "0", "-50", "0", "0", "0", "0", "0"},
       {"-50,-10", "0,-9.04508497187474"}},
      // The first line is discarded without being read as a number.
      {{"", "7", "7", "7", "7", "7", "7", "7", "7", "7", "7"}, {"7,7", "7,7"}},
  };
  for (const Case& c : cases) EXPECT_EQ(Lines(Resample(Log(c.lines))), c.expected);
}

TEST(ResampleText, LfAndLoneCrLineEndingsAreReadToo) {
  EXPECT_EQ(Resample("0\n100\n100\n100\n100\n200\n100\n100\n100\n100\n"), "200,120\r\n");
  EXPECT_EQ(Resample("0\r100\r100\r100\r100\r200\r100\r100\r100\r100\r"), "200,120\r\n");
  EXPECT_EQ(Resample("0\r100\n100\r\n100\r100\r200\n100\r100\r100\r\n100"), "200,120\r\n");
  // A last line without an ending still counts.
  EXPECT_EQ(Resample("0\r\n100\r\n100\r\n100\r\n100\r\n200\r\n100\r\n100\r\n100\r\n100"),
            "200,120\r\n");
}

TEST(ResampleText, ShortOrDamagedLogs) {
  struct Case {
    std::string log;
    std::string message;  // empty: no error
    std::string output;
  };
  const std::vector<Case> cases = {
      {Log(std::vector<std::string>(9, "5")), "", ""},
      {Log(std::vector<std::string>(8, "5")), "'' is not a valid integer value", ""},
      {"", "'' is not a valid integer value", ""},
      {Log({"0", "1", "2", "3", "4", "5", "6", "7", "2147483648"}),
       "'2147483648' is not a valid integer value", ""},
      // Lines completed before a bad line stay written.
      {Log({"0", "9", "9", "9", "9", "9", "9", "9", "9", "9", "9", "bad"}),
       "'bad' is not a valid integer value", "9,9\r\n9,9\r\n"},
      // A blank line at the end is an empty text, not the end of the log.
      {Log(std::vector<std::string>(9, "5")) + "\r\n", "'' is not a valid integer value", ""},
  };
  for (const Case& c : cases) {
    const Resampled out = ResampleText(c.log);
    EXPECT_EQ(out.error.value_or(""), c.message);
    EXPECT_EQ(out.text, c.output) << c.message;
    EXPECT_EQ(out.lines, static_cast<int>(Lines(c.output).size())) << c.message;
  }
}

TEST(ResampleText, WritesAtMostTenThousandLines) {
  std::string log;
  for (int i = 1; i <= 20000; ++i) log += std::to_string(i) + "\r\n";
  const Resampled out = ResampleText(log);
  EXPECT_EQ(out.lines, kResampleMaxLines);
  const std::vector<std::string> lines = Lines(out.text);
  ASSERT_EQ(lines.size(), 10000u);
  // Line m of the log holds m: the first output is centred on line 6, the last on 10,005, and a
  // straight ramp smooths to itself.
  EXPECT_EQ(lines.front(), "6,6");
  EXPECT_EQ(lines.back(), "10005,10005");
}

}  // namespace
}  // namespace analysis
