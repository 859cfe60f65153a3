#include "persistence/timing_files.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/error.h"

namespace persistence {
namespace {

namespace fs = std::filesystem;

class TimingFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("k390_timing_files_" + std::to_string(::getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Put(const std::string& name, const std::string& text) const {
    const std::string path = (dir_ / name).string();
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }
  fs::path dir_;
};

// Lines of every length from 1 to 20 digits cross the reader's 1 MiB blocks at every offset,
// CR LF pairs among them; every value comes back, in order.
TEST_F(TimingFiles, AStreamLogOfManyBlocksReadsWhole) {
  std::vector<int64_t> expected;
  std::string log = "123\r\n";
  uint64_t value = 1;
  while (log.size() < (size_t{3} << 20)) {
    value = value * 6364136223846793005u + 1442695040888963407u;
    const int64_t v = static_cast<int64_t>((value >> 1) >> (value % 63));
    expected.push_back(v);
    log += std::to_string(v) + (value % 3 == 0 ? "\n" : "\r\n");
  }
  EXPECT_EQ(ReadStreamLogIntervals(Put("stream.dat", log)), expected);
  EXPECT_EQ(ReadPulseIntervals(Put("s.dat", "0\r40000\r40001"), true),
            (std::vector<int64_t>{40000, 40001}));
}

TEST_F(TimingFiles, FilesThatCannotBeReadSaySo) {
  const std::string none = (dir_ / "none.dat").string();
  const struct {
    std::string path;
    std::string message;
  } cases[] = {
      {none, "Cannot open \"" + none + "\": No such file or directory"},
      {dir_.string(), "Cannot read \"" + dir_.string() + "\": Is a directory"},
      {Put("bad.dat", "0\n40000\n4000x\n"), "line 3: '4000x' is not a valid integer value"},
  };
  for (const auto& c : cases) {
    try {
      ReadStreamLogIntervals(c.path);
      ADD_FAILURE() << c.path;
    } catch (const common::Error& e) {
      EXPECT_EQ(e.Message(), c.message);
    }
  }
}

}  // namespace
}  // namespace persistence
