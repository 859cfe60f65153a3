#include "persistence/jit_file.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
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

TEST(JitParse, ReadsTheTicks) {
  using Ticks = std::vector<int64_t>;
  const struct {
    const char* name;
    std::string content;
    JitForm form;
    Ticks ticks;
    std::optional<std::string> error;
  } cases[] = {
      {"intervals",
       ";Sample,TDelta(x25ns)\r\n0,40000\r\n1,40004\r\n2,39996\r\n",
       JitForm::kInterval,
       {40000, 40004, 39996},
       std::nullopt},
      {"frequencies back to ticks",
       ";Sample,Frequency(Hz)\r\n0,1000\r\n1,999.900009999\r\n2,1000.100010001\r\n",
       JitForm::kFrequency,
       {40000, 40004, 39996},
       std::nullopt},
      {"LF lines", ";Sample,TDelta(x25ns)\n0,5\n1,6", JitForm::kInterval, {5, 6}, std::nullopt},
      {"CR lines", ";Sample,TDelta(x25ns)\r0,5\r1,6\r", JitForm::kInterval, {5, 6}, std::nullopt},
      {"CR lines, frequencies",
       ";Sample,Frequency(Hz)\r0,1000\r1,2000",
       JitForm::kFrequency,
       {40000, 20000},
       std::nullopt},
      {"mixed line ends; CR CR LF is two, the empty line a value",
       ";Sample,TDelta(x25ns)\n0,1\r\n1,2\r2,3\r\r\n3,4",
       JitForm::kInterval,
       {1, 2, 3},
       "'' is not a valid integer value"},
      {"NUL inside a frequency is quoted",
       std::string(";Sample,Frequency(Hz)\r\n0,400\0"
                   "00\r\n",
                   33),
       JitForm::kFrequency,
       {},
       "'400\\x0000' is not a valid floating point value"},
      {"lines without comma",
       ";Sample,TDelta(x25ns)\r\n40000\r\n40004\r\n",
       JitForm::kInterval,
       {40000, 40004},
       std::nullopt},
      {"each comma after the first starts a value",
       ";Sample,TDelta(x25ns)\r\n0,1,2\r\n",
       JitForm::kInterval,
       {1, 2},
       std::nullopt},
      {"header only", ";Sample,TDelta(x25ns)\r\n", JitForm::kInterval, {}, std::nullopt},
      {"header without line end", ";Sample,Frequency(Hz)", JitForm::kFrequency, {}, std::nullopt},
      {"header with trailing space",
       ";Sample,TDelta(x25ns) \r\n0,1\r\n",
       JitForm::kUnknown,
       {},
       std::nullopt},
      {"header in other case",
       ";sample,tdelta(x25ns)\r\n0,1\r\n",
       JitForm::kUnknown,
       {},
       std::nullopt},
      {"empty file", "", JitForm::kUnknown, {}, std::nullopt},
      {"zero frequency keeps the values before it",
       ";Sample,Frequency(Hz)\r\n0,1000\r\n1,0\r\n2,1000\r\n",
       JitForm::kFrequency,
       {40000},
       "Floating point division by zero"},
      {"frequency that is not a number",
       ";Sample,Frequency(Hz)\r\n0,2000\r\n1,1e3x\r\n",
       JitForm::kFrequency,
       {20000},
       "'1e3x' is not a valid floating point value"},
      {"negative frequency",
       ";Sample,Frequency(Hz)\r\n0,-1000\r\n",
       JitForm::kFrequency,
       {-40000},
       std::nullopt},
      {"ticks rounded to nearest",
       ";Sample,Frequency(Hz)\r\n0,30000000\r\n1,8000000\r\n",
       JitForm::kFrequency,
       {1, 5},
       std::nullopt},
  };
  for (const auto& c : cases) {
    const JitList got = ParseJit(c.content);
    EXPECT_EQ(got.form, c.form) << c.name;
    EXPECT_EQ(got.ticks, c.ticks) << c.name;
    EXPECT_EQ(got.error, c.error) << c.name;
  }
}

TEST(JitParse, ThePassTakesSigned32BitValuesAndPassesOverAnEmptyLastOne) {
  const struct {
    const char* name;
    std::string values;  // the lines after an interval header
    size_t ticks, pass_count;
    std::optional<std::string> pass_error;
  } cases[] = {
      {"every value", "0,5\r\n1,-2147483648\r\n2,2147483647\r\n", 3, 3, std::nullopt},
      {"stopped by a text that is no integer", "0,7\r\n1,abc\r\n2,7\r\n", 1, 1,
       "'abc' is not a valid integer value"},
      {"an empty last value", "0,5\r\n1,6,\r\n", 2, 2, std::nullopt},
      {"a blank line at the end", "0,5\r\n\r\n", 1, 1, std::nullopt},
      {"a file's only value empty is no value", "0,\r\n", 0, 0, std::nullopt},
      {"beyond 32 bits, quoted as written", "0,5\r\n1,+2147483648\r\n2,x\r\n", 2, 1,
       "'+2147483648' is not a valid integer value"},
  };
  for (const auto& c : cases) {
    const JitList got = ParseJit(std::string(kIntervalHeader) + "\r\n" + c.values);
    EXPECT_EQ(got.ticks.size(), c.ticks) << c.name;
    EXPECT_EQ(got.pass_count, c.pass_count) << c.name;
    EXPECT_EQ(got.pass_error, c.pass_error) << c.name;
  }
  // A frequency whose period is beyond 32 bits of ticks is read; the pass stops at it.
  const JitList slow = ParseJit(";Sample,Frequency(Hz)\r\n0,1000\r\n1,0.001\r\n2,1000\r\n");
  EXPECT_EQ(slow.ticks, (std::vector<int64_t>{40000, 40000000000, 40000}));
  EXPECT_EQ(slow.PassValues(), std::vector<int32_t>{40000});
  EXPECT_EQ(slow.pass_error, "'40000000000' is not a valid integer value");
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

// A save that fails part-way (here the file size limit, as a full disk would) leaves the file
// that was there whole, and no temporary file beside it.
TEST(TextFile, AFailedReplaceKeepsTheOldFileWhole) {
  const std::string path = (std::filesystem::temp_directory_path() /
                            ("k390_replace_" + std::to_string(::getpid()) + ".JIT"))
                               .string();
  const std::string old_bytes = FormatJit(std::vector<double>(10, 400.0), true);
  WriteTextFile(path, old_bytes);
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = saved;
  small.rlim_cur = 4096;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const std::string larger = FormatJit(std::vector<double>(20000, 401.0), true);
  EXPECT_THROW(ReplaceTextFile(path, larger), common::Error);
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, old_handler);
  EXPECT_EQ(ReadTextFile(path), old_bytes);
  EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));
  std::filesystem::remove(path);
}

}  // namespace
}  // namespace persistence
