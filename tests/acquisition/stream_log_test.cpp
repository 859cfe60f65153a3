#include "acquisition/stream_log.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
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

// The previous log is the operator's data until a new run has a word to put in its place.
TEST_F(StreamLogFile, ALogReplacesTheFileAtItsPathOnlyWithItsFirstLine) {
  struct Case {
    const char* name;
    bool through_link;  // the path is a symbolic link to the previous log
    int lines;
    std::string after;
  };
  const Case cases[] = {
      {"no line", false, 0, "old\r\n"},
      {"no line, through a link", true, 0, "old\r\n"},
      {"two lines", false, 2, "5\r\n5\r\n"},
      {"two lines, through a link", true, 2, "5\r\n5\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string target = (dir_ / "kept.dat").string();
    fs::remove(path_);
    std::ofstream(c.through_link ? target : path_, std::ios::binary) << "old\r\n";
    if (c.through_link) fs::create_symlink(target, path_);
    StreamLog log;
    log.Open(path_);
    EXPECT_EQ(Content(), "old\r\n");
    for (int i = 0; i < c.lines; ++i) log.WriteDelta(5);
    EXPECT_EQ(log.Started(), c.lines > 0);
    log.Close();
    EXPECT_EQ(Content(), c.after);
    EXPECT_EQ(fs::is_symlink(path_), c.through_link);
    for (const auto& entry : fs::directory_iterator(dir_)) {
      EXPECT_EQ(entry.path().extension(), ".dat") << entry.path();  // no temporary file left
    }
  }
}

void LimitFileSize(rlim_t bytes) {
  rlimit limit{};
  ::getrlimit(RLIMIT_FSIZE, &limit);
  limit.rlim_cur = bytes;
  ::setrlimit(RLIMIT_FSIZE, &limit);
}

// A full disk: what reached the file is cut back to whole lines, the count is the file's, and
// no later line follows the hole.
TEST_F(StreamLogFile, AWriteThatFailsPartWayIsCutBackToItsLastWholeLine) {
  rlimit saved{};
  ::getrlimit(RLIMIT_FSIZE, &saved);
  ::signal(SIGXFSZ, SIG_IGN);
  for (const rlim_t limit : {rlim_t{5}, rlim_t{65536 + 7}, rlim_t{200003}}) {
    SCOPED_TRACE(limit);
    LimitFileSize(limit);
    StreamLog log;
    log.Open(path_);
    std::string message;
    try {
      for (uint64_t i = 0; i < 50000; ++i) log.WriteDelta(1000000 + i);
    } catch (const common::Error& error) {
      message = error.what();
    }
    EXPECT_THROW(log.WriteDelta(7), common::Error);
    EXPECT_NO_THROW(log.Close());
    ::setrlimit(RLIMIT_FSIZE, &saved);
    EXPECT_NE(message.find("File too large"), std::string::npos) << message;
    const std::string content = Content();
    EXPECT_LE(content.size(), limit);
    EXPECT_GT(content.size() + 9, limit);  // one 9-byte line short of the limit at most
    EXPECT_TRUE(content.empty() || content.ends_with("\r\n"));
    EXPECT_EQ(log.LinesWritten(), static_cast<int64_t>(content.size() / 9));
    EXPECT_EQ(content.substr(0, 18),
              std::string("1000000\r\n1000001\r\n").substr(0, content.size()));
  }
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
