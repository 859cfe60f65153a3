#include "analysis/resample.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "common/error.h"

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
  std::istringstream in(log);
  std::ostringstream out;
  ResampleStream(in, out);
  return out.str();
}

TEST(ResampleStream, FirstLineIsSkippedAndTheWindowIsSmoothed) {
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

TEST(ResampleStream, LfAndLoneCrLineEndingsAreReadToo) {
  EXPECT_EQ(Resample("0\n100\n100\n100\n100\n200\n100\n100\n100\n100\n"), "200,120\r\n");
  EXPECT_EQ(Resample("0\r100\r100\r100\r100\r200\r100\r100\r100\r100\r"), "200,120\r\n");
  EXPECT_EQ(Resample("0\r100\n100\r\n100\r100\r200\n100\r100\r100\r\n100"), "200,120\r\n");
  // A last line without an ending still counts.
  EXPECT_EQ(Resample("0\r\n100\r\n100\r\n100\r\n100\r\n200\r\n100\r\n100\r\n100\r\n100"),
            "200,120\r\n");
}

TEST(ResampleStream, ShortOrDamagedLogs) {
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
    std::istringstream in(c.log);
    std::ostringstream out;
    if (c.message.empty()) {
      EXPECT_EQ(ResampleStream(in, out), 0);
    } else {
      try {
        ResampleStream(in, out);
        ADD_FAILURE() << "no error, expected " << c.message;
      } catch (const common::Error& e) {
        EXPECT_EQ(std::string(e.what()), c.message);
      }
    }
    EXPECT_EQ(out.str(), c.output) << c.message;
  }
}

TEST(ResampleStream, WritesAtMostTenThousandLines) {
  std::string log;
  for (int i = 1; i <= 20000; ++i) log += std::to_string(i) + "\r\n";
  std::istringstream in(log);
  std::ostringstream out;
  EXPECT_EQ(ResampleStream(in, out), kResampleMaxLines);
  const std::vector<std::string> lines = Lines(out.str());
  ASSERT_EQ(lines.size(), 10000u);
  // Line m of the log holds m: the first output is centred on line 6, the last on 10,005, and a
  // straight ramp smooths to itself.
  EXPECT_EQ(lines.front(), "6,6");
  EXPECT_EQ(lines.back(), "10005,10005");
}

class ResampleLogFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("k390_resample_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  std::filesystem::path dir_;
};

TEST_F(ResampleLogFiles, WritesTheResampledFile) {
  std::ofstream(Path("stream.dat"), std::ios::binary)
      << Log({"0", "100", "100", "100", "100", "200", "100", "100", "100", "100"});
  std::ofstream(Path("resampled.dat"), std::ios::binary) << "old contents that must go\r\n";
  ResampleLog(Path("stream.dat"), Path("resampled.dat"));
  EXPECT_EQ(Read(Path("resampled.dat")), "200,120\r\n");
}

TEST_F(ResampleLogFiles, AMissingLogLeavesTheOutputUntouched) {
  std::ofstream(Path("resampled.dat"), std::ios::binary) << "kept\r\n";
  try {
    ResampleLog(Path("stream.dat"), Path("resampled.dat"));
    ADD_FAILURE() << "no error";
  } catch (const common::Error& e) {
    EXPECT_EQ(std::string(e.what()),
              "Cannot open \"" + Path("stream.dat") + "\": No such file or directory");
  }
  EXPECT_EQ(Read(Path("resampled.dat")), "kept\r\n");
}

TEST_F(ResampleLogFiles, AnOutputThatCannotBeCreatedIsReported) {
  std::ofstream(Path("stream.dat"), std::ios::binary) << Log(std::vector<std::string>(12, "1"));
  const std::string out = Path("no_such_folder/resampled.dat");
  try {
    ResampleLog(Path("stream.dat"), out);
    ADD_FAILURE() << "no error";
  } catch (const common::Error& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot create \"" + out + "\": No such file or directory");
  }
}

TEST_F(ResampleLogFiles, AnOutputThatIsTheLogIsRefusedAndBothStayAsTheyWere) {
  const std::string log = Log({"0", "100", "100", "100", "100", "200", "100", "100", "100", "100"});
  std::ofstream(Path("stream.dat"), std::ios::binary) << log;
  std::filesystem::create_hard_link(Path("stream.dat"), Path("link.dat"));
  for (const std::string& out :
       {Path("stream.dat"), (dir_ / "." / "stream.dat").string(), Path("link.dat")}) {
    try {
      ResampleLog(Path("stream.dat"), out);
      ADD_FAILURE() << "no error for " << out;
    } catch (const common::Error& e) {
      EXPECT_EQ(e.Message(), "Cannot create \"" + out + "\": it is the stream log being read");
    }
    EXPECT_EQ(Read(Path("stream.dat")), log);
  }
}

TEST_F(ResampleLogFiles, AFolderIsReportedWithTheSystemsReasonAndNothingIsTouched) {
  std::filesystem::create_directory(Path("folder"));
  std::ofstream(Path("resampled.dat"), std::ios::binary) << "kept\r\n";
  try {
    ResampleLog(Path("folder"), Path("resampled.dat"));
    ADD_FAILURE() << "no error for a folder as the log";
  } catch (const common::Error& e) {
    EXPECT_EQ(e.Message(), "Cannot read \"" + Path("folder") + "\": Is a directory");
  }
  EXPECT_EQ(Read(Path("resampled.dat")), "kept\r\n");

  const std::string log = Log(std::vector<std::string>(12, "1"));
  std::ofstream(Path("stream.dat"), std::ios::binary) << log;
  try {
    ResampleLog(Path("stream.dat"), Path("folder"));
    ADD_FAILURE() << "no error for a folder as the output";
  } catch (const common::Error& e) {
    EXPECT_EQ(e.Message(), "Cannot create \"" + Path("folder") + "\": Is a directory");
  }
  EXPECT_EQ(Read(Path("stream.dat")), log);
  EXPECT_FALSE(std::filesystem::exists(Path("folder.tmp")));

  // A folder in the way of the temporary file is not ours to remove.
  std::filesystem::create_directory(Path("resampled.dat.tmp"));
  EXPECT_THROW(ResampleLog(Path("stream.dat"), Path("resampled.dat")), common::Error);
  EXPECT_EQ(Read(Path("resampled.dat")), "kept\r\n");
  EXPECT_TRUE(std::filesystem::is_directory(Path("resampled.dat.tmp")));
}

TEST_F(ResampleLogFiles, ABadLineKeepsTheLinesBeforeIt) {
  std::ofstream(Path("stream.dat"), std::ios::binary)
      << Log({"0", "9", "9", "9", "9", "9", "9", "9", "9", "9", "x"});
  EXPECT_THROW(ResampleLog(Path("stream.dat"), Path("resampled.dat")), common::Error);
  EXPECT_EQ(Read(Path("resampled.dat")), "9,9\r\n");
}

}  // namespace
}  // namespace analysis
