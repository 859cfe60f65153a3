#include "acquisition/stream_log.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "common/error.h"

namespace acquisition {
namespace {

namespace fs = std::filesystem;

class StreamLogFile : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("k390_stream_log_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
            "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    path_ = (dir_ / "stream.dat").string();
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Content() const {
    std::ifstream in(path_, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
  }

  fs::path dir_;
  std::string path_;
};

TEST_F(StreamLogFile, LinesAreUnsignedDecimalWithCrLf) {
  StreamLog log;
  log.Open(path_);
  EXPECT_TRUE(log.IsOpen());
  for (uint64_t delta : {uint64_t{100}, uint64_t{0}, uint64_t{4294967295}, uint64_t{12}}) {
    log.WriteDelta(delta);
  }
  log.Close();
  EXPECT_FALSE(log.IsOpen());
  EXPECT_EQ(Content(), "100\r\n0\r\n4294967295\r\n12\r\n");
}

TEST_F(StreamLogFile, OpeningEmptiesAnExistingLog) {
  {
    std::ofstream old(path_, std::ios::binary);
    old << "stale content\r\n";
  }
  StreamLog log;
  log.Open(path_);
  log.Close();
  EXPECT_EQ(Content(), "");
}

TEST_F(StreamLogFile, LongLogsKeepEveryLineInOrder) {
  StreamLog log;
  log.Open(path_);
  std::string expected;
  for (uint64_t i = 0; i < 40000; ++i) {
    log.WriteDelta(i * 997);
    expected += std::to_string(i * 997) + "\r\n";
  }
  log.Close();
  EXPECT_EQ(Content(), expected);
}

TEST_F(StreamLogFile, FailuresNameTheFile) {
  struct Case {
    const char* what;
    std::function<void(StreamLog&)> action;
    std::string message_part;
  };
  const std::string missing = (dir_ / "no_such_folder" / "stream.dat").string();
  const Case cases[] = {
      {"open in a missing folder", [&](StreamLog& log) { log.Open(missing); },
       "Cannot create \"" + missing + "\""},
      {"close when not open", [](StreamLog& log) { log.Close(); }, "stream.dat"},
      {"write when not open", [](StreamLog& log) { log.WriteDelta(1); }, "not open"},
  };
  for (const Case& c : cases) {
    StreamLog log;
    try {
      c.action(log);
      ADD_FAILURE() << c.what << ": no error";
    } catch (const common::Error& error) {
      EXPECT_NE(std::string(error.what()).find(c.message_part), std::string::npos)
          << c.what << ": " << error.what();
    }
    EXPECT_FALSE(log.IsOpen()) << c.what;
  }
}

TEST_F(StreamLogFile, AClosedLogRefusesFurtherLines) {
  StreamLog log;
  log.Open(path_);
  log.WriteDelta(5);
  log.Close();
  EXPECT_THROW(log.WriteDelta(6), common::Error);
  EXPECT_THROW(log.Close(), common::Error);
  EXPECT_EQ(Content(), "5\r\n");
}

TEST(StreamLogDevice, AFullDiskIsReportedByTheWriteOrTheCloseThatMeetsIt) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  // A few lines stay in the buffer until the close; many lines overflow it during the writes.
  for (int lines : {3, 100000}) {
    StreamLog log;
    log.Open("/dev/full");
    std::string message;
    try {
      for (int i = 0; i < lines; ++i) log.WriteDelta(123456789);
    } catch (const common::Error& error) {
      message = error.what();
    }
    EXPECT_EQ(message.empty(), lines == 3) << lines;
    try {
      log.Close();
    } catch (const common::Error& error) {
      if (message.empty()) message = error.what();
    }
    EXPECT_NE(message.find("Cannot write \"/dev/full\""), std::string::npos) << lines << message;
    EXPECT_FALSE(log.IsOpen()) << lines;
  }
}

}  // namespace
}  // namespace acquisition
