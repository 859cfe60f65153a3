#include "persistence/jit_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "common/error.h"
#include "persistence/text_file.h"

namespace persistence {
namespace {

TEST(JitFormat, WritesBothFormsWithCrLfLines) {
  const struct {
    const char* name;
    std::vector<double> values;
    bool interval_form;
    std::string expected;
  } cases[] = {
      {"intervals",
       {40000, 40004, 39996},
       true,
       ";Sample,TDelta(x25ns)\r\n0,40000\r\n1,40004\r\n2,39996\r\n"},
      {"intervals truncate toward zero",
       {40000.9, -3.7, 0.2},
       true,
       ";Sample,TDelta(x25ns)\r\n0,40000\r\n1,-3\r\n2,0\r\n"},
      {"frequencies",
       {1 / (40000 * 2.5e-8), 1 / (40004 * 2.5e-8), 1 / (39996 * 2.5e-8)},
       false,
       ";Sample,Frequency(Hz)\r\n0,1000\r\n1,999.900009999\r\n2,1000.100010001\r\n"},
      {"frequency of zero", {0}, false, ";Sample,Frequency(Hz)\r\n0,0\r\n"},
      {"no points, interval header alone", {}, true, ";Sample,TDelta(x25ns)\r\n"},
      {"no points, frequency header alone", {}, false, ";Sample,Frequency(Hz)\r\n"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FormatJit(c.values, c.interval_form), c.expected) << c.name;
  }
}

TEST(JitParse, ReadsTicksAndWhatThePassTakes) {
  using Ticks = std::vector<int64_t>;
  using Message = std::optional<std::string>;
  const Message none;
  const Message not_int_empty = "'' is not a valid integer value";
  const struct {
    const char* name;
    std::string content;
    JitForm form;
    Ticks ticks;
    Message error;
    size_t pass_count;
    Message pass_error;
  } cases[] = {
      {"intervals",
       ";Sample,TDelta(x25ns)\r\n0,40000\r\n1,40004\r\n2,39996\r\n",
       JitForm::kInterval,
       {40000, 40004, 39996},
       none,
       3,
       none},
      {"frequencies back to ticks",
       ";Sample,Frequency(Hz)\r\n0,1000\r\n1,999.900009999\r\n2,1000.100010001\r\n",
       JitForm::kFrequency,
       {40000, 40004, 39996},
       none,
       3,
       none},
      {"LF lines", ";Sample,TDelta(x25ns)\n0,5\n1,6", JitForm::kInterval, {5, 6}, none, 2, none},
      {"CR lines", ";Sample,TDelta(x25ns)\r0,5\r1,6\r", JitForm::kInterval, {5, 6}, none, 2, none},
      {"CR lines, frequencies",
       ";Sample,Frequency(Hz)\r0,1000\r1,2000",
       JitForm::kFrequency,
       {40000, 20000},
       none,
       2,
       none},
      {"mixed line ends; CR CR LF is two, the empty line a value",
       ";Sample,TDelta(x25ns)\n0,1\r\n1,2\r2,3\r\r\n3,4",
       JitForm::kInterval,
       {1, 2, 3},
       not_int_empty,
       3,
       not_int_empty},
      {"NUL inside a frequency is quoted",
       std::string(";Sample,Frequency(Hz)\r\n0,400\0"
                   "00\r\n",
                   33),
       JitForm::kFrequency,
       {},
       "'400\\x0000' is not a valid floating point value",
       0,
       none},
      {"lines without comma",
       ";Sample,TDelta(x25ns)\r\n40000\r\n40004\r\n",
       JitForm::kInterval,
       {40000, 40004},
       none,
       2,
       none},
      {"each comma after the first starts a value",
       ";Sample,TDelta(x25ns)\r\n0,1,2\r\n",
       JitForm::kInterval,
       {1, 2},
       none,
       2,
       none},
      {"a text that is no integer stops both",
       ";Sample,TDelta(x25ns)\r\n0,7\r\n1,abc\r\n2,7\r\n",
       JitForm::kInterval,
       {7},
       "'abc' is not a valid integer value",
       1,
       "'abc' is not a valid integer value"},
      {"an empty last value stops the reading, not the pass",
       ";Sample,TDelta(x25ns)\r\n0,5\r\n1,6,\r\n",
       JitForm::kInterval,
       {5, 6},
       not_int_empty,
       2,
       none},
      {"a blank line at the end is such a value",
       ";Sample,TDelta(x25ns)\r\n0,5\r\n\r\n",
       JitForm::kInterval,
       {5},
       not_int_empty,
       1,
       none},
      {"a file's only value empty is no value",
       ";Sample,TDelta(x25ns)\r\n0,\r\n",
       JitForm::kInterval,
       {},
       none,
       0,
       none},
      {"beyond 32 bits the pass stops, quoting the text",
       ";Sample,TDelta(x25ns)\r\n0,5\r\n1,+2147483648\r\n2,x\r\n",
       JitForm::kInterval,
       {5, 2147483648},
       "'x' is not a valid integer value",
       1,
       "'+2147483648' is not a valid integer value"},
      {"the 32-bit ends are taken",
       ";Sample,TDelta(x25ns)\r\n0,2147483647\r\n1,-2147483648\r\n",
       JitForm::kInterval,
       {2147483647, -2147483648LL},
       none,
       2,
       none},
      {"header only", ";Sample,TDelta(x25ns)\r\n", JitForm::kInterval, {}, none, 0, none},
      {"header without line end", ";Sample,Frequency(Hz)", JitForm::kFrequency, {}, none, 0, none},
      {"header with trailing space",
       ";Sample,TDelta(x25ns) \r\n0,1\r\n",
       JitForm::kUnknown,
       {},
       none,
       0,
       none},
      {"header in other case",
       ";sample,tdelta(x25ns)\r\n0,1\r\n",
       JitForm::kUnknown,
       {},
       none,
       0,
       none},
      {"empty file", "", JitForm::kUnknown, {}, none, 0, none},
      {"zero frequency keeps the values before it",
       ";Sample,Frequency(Hz)\r\n0,1000\r\n1,0\r\n2,1000\r\n",
       JitForm::kFrequency,
       {40000},
       "Floating point division by zero",
       1,
       none},
      {"frequency that is not a number",
       ";Sample,Frequency(Hz)\r\n0,2000\r\n1,1e3x\r\n",
       JitForm::kFrequency,
       {20000},
       "'1e3x' is not a valid floating point value",
       1,
       none},
      {"negative frequency",
       ";Sample,Frequency(Hz)\r\n0,-1000\r\n",
       JitForm::kFrequency,
       {-40000},
       none,
       1,
       none},
      {"ticks rounded to nearest",
       ";Sample,Frequency(Hz)\r\n0,30000000\r\n1,8000000\r\n",
       JitForm::kFrequency,
       {1, 5},
       none,
       2,
       none},
      {"a slow frequency is read; the pass stops at its ticks",
       ";Sample,Frequency(Hz)\r\n0,1000\r\n1,0.001\r\n2,1000\r\n",
       JitForm::kFrequency,
       {40000, 40000000000, 40000},
       none,
       1,
       "'40000000000' is not a valid integer value"},
  };
  for (const auto& c : cases) {
    const JitList got = ParseJit(c.content);
    EXPECT_EQ(got.form, c.form) << c.name;
    EXPECT_EQ(got.ticks, c.ticks) << c.name;
    EXPECT_EQ(got.error, c.error) << c.name;
    EXPECT_EQ(got.pass_count, c.pass_count) << c.name;
    EXPECT_EQ(got.pass_error, c.pass_error) << c.name;
  }
}

TEST(JitRoundTrip, SaveThenLoadGivesTheTicksBack) {
  const std::vector<double> ticks = {40000, 40004, 39996, 40000, 12345, 2147483647};
  std::vector<double> frequencies;
  for (double t : ticks) frequencies.push_back(1 / (t * 2.5e-8));
  const std::vector<int32_t> expected = {40000, 40004, 39996, 40000, 12345, 2147483647};
  EXPECT_EQ(ParseJit(FormatJit(ticks, true)).PassValues(), expected);
  EXPECT_EQ(ParseJit(FormatJit(frequencies, false)).PassValues(), expected);
}

TEST(TextFile, ReadsAndWritesBytesUnchanged) {
  const std::string path =
      (std::filesystem::temp_directory_path() / ("k390_jit_" + std::to_string(::getpid()) + ".JIT"))
          .string();
  const std::string bytes = std::string("a\r\nb\n\0c", 7);
  WriteTextFile(path, bytes);
  EXPECT_EQ(ReadTextFile(path), bytes);
  std::filesystem::remove(path);
  EXPECT_FALSE(TryReadTextFile(path).has_value());
  try {
    ReadTextFile(path);
    FAIL() << "no error";
  } catch (const common::Error& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot open \"" + path + "\": No such file or directory");
  }
  EXPECT_THROW(WriteTextFile(path + "/no/such/folder", "x"), common::Error);
}

}  // namespace
}  // namespace persistence
