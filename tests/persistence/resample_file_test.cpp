#include "persistence/resample_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "common/error.h"

namespace persistence {
namespace {

std::string Log(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
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
}  // namespace persistence
