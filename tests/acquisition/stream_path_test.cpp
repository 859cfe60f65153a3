#include "acquisition/stream_path.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "common/error.h"
#include "common/ticks.h"

namespace acquisition {
namespace {

std::string Bytes(const std::vector<uint32_t>& words) {
  std::string bytes;
  for (uint32_t word : words) {
    for (int shift = 0; shift < 32; shift += 8) bytes += static_cast<char>((word >> shift) & 0xFF);
  }
  return bytes;
}

std::span<const uint8_t> Span(const std::string& bytes) {
  return {reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()};
}

// Rising words with irregular steps that wrap past 2^32 early on.
std::vector<uint32_t> Words(size_t count) {
  std::vector<uint32_t> words;
  uint32_t word = 4294960000u;
  for (size_t i = 0; i < count; ++i) {
    words.push_back(word);
    word += 1000 + static_cast<uint32_t>((i * 7919) % 500);
  }
  return words;
}

std::vector<uint64_t> Deltas(const std::vector<uint32_t>& words) {
  std::vector<uint64_t> deltas;
  int64_t previous = 0;
  for (uint32_t word : words) {
    deltas.push_back(static_cast<uint64_t>(common::DeltaRule(previous, word)));
    previous = word;
  }
  return deltas;
}

class StreamPathTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ =
        std::filesystem::temp_directory_path() /
        ("stream_path_test_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
         "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir_);
    log_ = (dir_ / "stream.dat").string();
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::vector<uint64_t> Lines() const {
    std::ifstream in(log_, std::ios::binary);
    std::vector<uint64_t> lines;
    std::string line;
    while (std::getline(in, line)) lines.push_back(std::stoull(line));
    return lines;
  }

  std::filesystem::path dir_;
  std::string log_;
};

// The ring holds 25,000 words; the log used to run only after a whole datagram or TCP read was
// in, so 20,000 unlogged words plus one large datagram overwrote words it had not taken.
TEST_F(StreamPathTest, NoPieceSizeLetsTheRingOverwriteAnUnloggedWord) {
  struct Case {
    const char* name;
    std::vector<size_t> pieces;  // words per TCP read, in order
  };
  const Case cases[] = {
      {"backlog then largest datagrams", {20000, 16376, 16376, 16376}},
      {"single words", std::vector<size_t>(30000, 1)},
      {"one TCP read of two laps", {60000}},
      {"ragged", {7, 24999, 25000, 25001, 3}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto path = std::make_unique<StreamPath>();
    path->BeginStream();
    path->OpenLog(log_);
    size_t total = 0;
    for (size_t piece : c.pieces) total += piece;
    const std::vector<uint32_t> words = Words(total);
    // Fed as link reads that end inside a word (the last read ends the stream), so the bytes of
    // one word straddle two reads; a datagram is the same feed without the straddling.
    const std::string all = Bytes(words);
    std::string rx;
    size_t taken = 0;  // bytes of `all` handed over so far
    size_t at = 0;
    for (size_t i = 0; i < c.pieces.size(); ++i) {
      at += c.pieces[i];
      const size_t end = i + 1 < c.pieces.size() ? 4 * at - 2 : all.size();
      rx.append(all, taken, end - taken);
      taken = end;
      path->MoveWords(rx);
      EXPECT_LT(rx.size(), 4u);
      EXPECT_LE(path->Unlogged(), kUnloggedLimit);
    }
    EXPECT_TRUE(rx.empty());
    EXPECT_EQ(path->LostWords(), 0u);
    EXPECT_EQ(path->StopStream(), "");
    EXPECT_EQ(Lines(), Deltas(words));
  }
}

// The whole-run figures are fed from the sink: it must hear exactly the log's lines, in order,
// and nothing after the log first failed.
TEST_F(StreamPathTest, SinkHearsTheLogsLinesUntilItsFirstFailure) {
  StreamPath path;
  std::vector<uint64_t> heard;
  path.SetLogSink([&](std::span<const int64_t> deltas) {
    for (int64_t d : deltas) heard.push_back(static_cast<uint64_t>(d));
  });
  path.BeginStream();
  path.OpenLog(log_);
  const std::string words = Bytes(Words(30000));
  const std::string repeats = Bytes({100, 200, 200, 300, 300, 300, 400});
  path.Feed(Span(words));
  path.Feed(Span(repeats));
  EXPECT_EQ(path.StopStream(), "");
  EXPECT_EQ(heard, Lines());
  EXPECT_EQ(path.LogLines(), static_cast<int64_t>(heard.size()));
  EXPECT_EQ(path.LogFailure(), "");

  // A disk that fills part-way: the sink has heard exactly the lines the file kept.
  heard.clear();
  rlimit saved{};
  ::getrlimit(RLIMIT_FSIZE, &saved);
  ::signal(SIGXFSZ, SIG_IGN);
  rlimit limit = saved;
  limit.rlim_cur = 100003;
  ::setrlimit(RLIMIT_FSIZE, &limit);
  path.BeginStream();
  path.OpenLog(log_);
  path.Feed(Span(words));  // more lines than the limit holds
  path.LogStep();
  const std::string failure = path.LogFailure();
  EXPECT_NE(failure.find("File too large"), std::string::npos) << failure;
  const size_t at_failure = heard.size();
  path.Feed(Span(words));
  path.LogStep();
  EXPECT_EQ(path.StopStream(), "");
  ::setrlimit(RLIMIT_FSIZE, &saved);
  EXPECT_EQ(heard.size(), at_failure);
  EXPECT_GT(heard.size(), 10000u);
  EXPECT_EQ(heard, Lines());
  EXPECT_EQ(path.LogLines(), static_cast<int64_t>(heard.size()));
  EXPECT_EQ(path.LogFailure(), failure);  // kept for the run's summary until the next open
  path.BeginStream();
  path.OpenLog(log_);
  EXPECT_EQ(path.LogFailure(), "");
  path.CloseLog();
}

TEST_F(StreamPathTest, NoticesCarryTonesLossAndAFailedWriteOnce) {
  StreamPath path;
  path.BeginStream();
  path.OpenLog(log_);
  const std::string repeats = Bytes({100, 200, 200, 300, 300, 400});
  path.Feed(Span(repeats));
  path.LogStep();
  path.AddSocketDrops(3, 250);
  StreamNotices notices = path.TakeNotices();
  EXPECT_EQ(notices.repeats, 2);
  EXPECT_EQ(notices.counts.lost_words, 750u);
  EXPECT_TRUE(notices.errors.empty());
  EXPECT_EQ(path.TakeNotices().repeats, 0);  // each tone is handed out once
  EXPECT_EQ(path.StopStream(), "");

  // A full disk: the first failed write is reported, the same failure again is not, neither as
  // a notice from the receiving side nor as the pass's error; a new start reports it again.
  for (int start = 0; start < 2; ++start) {
    path.BeginStream();
    EXPECT_EQ(path.TakeNotices().counts.lost_words, 0u);
    path.OpenLog("/dev/full");
    const std::string many = Bytes(Words(20000));  // more lines than the 64 KiB file buffer
    path.Feed(Span(many));
    path.LogStep();
    path.Feed(Span(many));
    path.LogStep();
    notices = path.TakeNotices();
    ASSERT_EQ(notices.errors.size(), 1u);
    EXPECT_NE(notices.errors[0].find("Cannot write \"/dev/full\""), std::string::npos);
    auto data = std::make_unique<PulseData>();
    path.Feed(Span(many));
    EXPECT_NO_THROW(path.TakeWindow(50, *data));
    EXPECT_EQ(data->Ch1Count, 51);
    EXPECT_TRUE(path.TakeNotices().errors.empty());
    try {
      path.StopStream();
    } catch (const common::Error&) {
      // Closing /dev/full may fail as well; the log is closed either way.
    }
    EXPECT_FALSE(path.LogOpen());
  }
}

// Over TCP the instrument sends on until its stop is acknowledged; those words are not the
// run's, so they are neither kept nor counted as lost.
TEST_F(StreamPathTest, WordsAfterTheStopAreNeitherKeptNorLost) {
  StreamPath path;
  path.BeginStream();
  path.OpenLog(log_);
  path.Feed(Span(Bytes(Words(10))));
  EXPECT_EQ(path.StopStream(), "");
  path.Feed(Span(Bytes(Words(25010))));
  EXPECT_EQ(path.LostWords(), 0u);
  EXPECT_EQ(path.RingWrite(), 0);
  EXPECT_EQ(path.WordsIn(), 10u);
  EXPECT_EQ(Lines(), Deltas(Words(10)));
}

TEST_F(StreamPathTest, DatagramsCountBytesPastTheirLastWordAndAnEmptyOneIsNotTheFirst) {
  struct Case {
    const char* name;
    std::vector<std::string> datagrams;
    std::vector<uint64_t> lines;
    uint64_t stray_bytes;
  };
  const Case cases[] = {
      {"empty first", {"", Bytes({100, 200}), Bytes({300})}, {300}, 0},
      {"ragged",
       {Bytes({100}) + "\x01\x02", Bytes({200}) + "\x09", "\x01\x02\x03", Bytes({250})},
       {200, 50},
       4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    StreamPath path;
    path.BeginStream();
    path.OpenLog(log_);
    for (const std::string& datagram : c.datagrams) path.Datagram(Span(datagram));
    EXPECT_EQ(path.Counts().stray_bytes, c.stray_bytes);
    EXPECT_EQ(path.StopStream(), "");
    EXPECT_EQ(Lines(), c.lines);
  }
}

}  // namespace
}  // namespace acquisition
