#include "acquisition/stream_ring.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace acquisition {
namespace {

// Interval slots that a window must not reach hold this value, so a stray write shows.
constexpr double kUntouched = -7;

std::unique_ptr<PulseData> FreshData() {
  auto data = std::make_unique<PulseData>();
  data->Ch1Intervals.fill(kUntouched);
  data->Ch2Intervals.fill(kUntouched);
  return data;
}

void AppendAll(StreamRing& ring, const std::vector<uint32_t>& words) {
  for (uint32_t word : words) ring.Append(word);
}

std::vector<int64_t> Ch1Deltas(const PulseData& data) {
  std::vector<int64_t> deltas;
  for (int64_t i = 1; i < data.Ch1Count; ++i) {
    deltas.push_back(static_cast<int64_t>(data.Ch1Intervals[static_cast<size_t>(i)]));
  }
  return deltas;
}

struct LogResult {
  std::vector<uint64_t> lines;
  int beeps = 0;
};

LogResult RunLog(StreamRing& ring, int64_t& log_prev) {
  LogResult result;
  LogStep(
      ring, log_prev, [&](uint64_t delta) { result.lines.push_back(delta); },
      [&] { ++result.beeps; });
  return result;
}

TEST(StreamWords, DatagramsAppendTheirWholeWordsLeastSignificantByteFirst) {
  struct Case {
    std::vector<uint8_t> bytes;
    std::vector<uint32_t> words;
  };
  const Case cases[] = {
      {{1, 2, 3, 4}, {67305985}},
      {{1, 2, 3, 4, 0xFF, 0xFF, 0xFF, 0xFF, 9, 9}, {67305985, 4294967295u}},  // 10 bytes
      {{1, 2, 3}, {}},
      {{}, {}},
      {{0x10, 0, 0, 0, 0, 0, 0, 0x80}, {16, 0x80000000u}},
  };
  for (const Case& c : cases) {
    StreamRing ring;
    EXPECT_EQ(AppendDatagram(ring, c.bytes), c.words.size());
    ASSERT_EQ(ring.RingWrite(), static_cast<int>(c.words.size()));
    for (size_t i = 0; i < c.words.size(); ++i)
      EXPECT_EQ(ring.Slot(static_cast<int>(i)), c.words[i]);
  }
}

TEST(StreamWords, LinkBytesKeepAnIncompleteWordForTheNextRead) {
  StreamRing ring;
  std::string rx("\x01\x02\x03\x04\x05\x06", 6);
  EXPECT_EQ(MoveWords(ring, rx), 1u);
  EXPECT_EQ(ring.Slot(0), 67305985u);
  EXPECT_EQ(rx, std::string("\x05\x06", 2));

  rx.append("\x07\x08", 2);
  EXPECT_EQ(MoveWords(ring, rx), 1u);
  EXPECT_EQ(ring.Slot(1), 0x08070605u);
  EXPECT_TRUE(rx.empty());
  EXPECT_EQ(ring.RingWrite(), 2);

  rx = std::string("\x01\x02\x03", 3);
  EXPECT_EQ(MoveWords(ring, rx), 0u);
  EXPECT_EQ(rx.size(), 3u);
  EXPECT_EQ(ring.RingWrite(), 2);
}

TEST(StreamRing, CursorsWrapAndFillCountCountsUnreadWords) {
  StreamRing ring;
  for (int i = 0; i < kRingSlots - 2; ++i) ring.Append(static_cast<uint32_t>(i + 1));
  ring.SetRingDisplay(kRingSlots - 2);
  AppendAll(ring, {7, 8, 9});
  EXPECT_EQ(ring.RingWrite(), 1);
  EXPECT_EQ(ring.RingFillCount(), 3);
  EXPECT_EQ(ring.RingTakeDisplay(), 7);
  EXPECT_EQ(ring.RingTakeDisplay(), 8);
  EXPECT_EQ(ring.RingDisplay(), 0);
  EXPECT_EQ(ring.RingTakeDisplay(), 9);
  EXPECT_EQ(ring.RingFillCount(), 0);
}

TEST(StreamRing, WordsReadZeroExtended) {
  StreamRing ring;
  ring.Append(0xFFFFFFFFu);
  EXPECT_EQ(ring.RingTakeLog(), int64_t{4294967295});
}

TEST(StreamWindow, TakesNPlusOneWordsEndingTenSlotsBeforeTheWriteCursor) {
  StreamRing ring;
  uint32_t word = 1000;
  for (uint32_t i = 0; i < 1000; ++i) ring.Append(word += 1 + (i * 37) % 101);
  auto data = FreshData();
  TakeWindow(ring, 50, *data);

  EXPECT_EQ(data->Ch1Count, 51);
  EXPECT_EQ(data->Ch2Count, 0);
  EXPECT_EQ(ring.RingDisplay(), 991);
  EXPECT_EQ(ring.RingFillCount(), 9);
  double sum = 0;
  for (int i = 1; i <= 50; ++i) {
    const int64_t expected = int64_t{ring.Slot(940 + i)} - ring.Slot(940 + i - 1);
    EXPECT_EQ(data->Ch1Intervals[i], static_cast<double>(expected)) << i;
    EXPECT_EQ(data->Ch2Intervals[i], 0) << i;
    sum += static_cast<double>(expected);
  }
  EXPECT_EQ(data->Ch1Average, sum);
  EXPECT_EQ(data->Ch1Intervals[51], kUntouched);
}

TEST(StreamWindow, FirstPassSkipsNeverWrittenSlotsAndStoresFromIndexOne) {
  StreamRing ring;
  for (uint32_t i = 0; i < 55; ++i) ring.Append(500 + 3 * i);
  auto data = FreshData();
  TakeWindow(ring, 50, *data);

  // Five zero slots and the first real word were taken before the window: 45 deltas remain.
  EXPECT_EQ(data->Ch1Count, 46);
  for (int i = 1; i <= 45; ++i) EXPECT_EQ(data->Ch1Intervals[i], 3) << i;
  EXPECT_EQ(data->Ch1Intervals[46], kUntouched);
  EXPECT_EQ(data->Ch1Average, 45 * 3);
  EXPECT_EQ(ring.RingDisplay(), 46);
  EXPECT_EQ(ring.RingFillCount(), 9);
}

TEST(StreamWindow, WordsOfAnEarlierStreamingPeriodAreRealWords) {
  StreamRing ring;
  for (int i = 0; i < kRingSlots; ++i) ring.Append(1'000'000 + i);  // an earlier period
  ring.ResetCursors();
  for (uint32_t i = 0; i < 55; ++i) ring.Append(2'000'000 + 10 * i);
  auto data = FreshData();
  TakeWindow(ring, 50, *data);

  EXPECT_EQ(data->Ch1Count, 51);
  // Slots 24,995 to 24,999 still hold the old words: no skip, then the jump to slot 0.
  for (int i = 1; i <= 4; ++i) EXPECT_EQ(data->Ch1Intervals[i], 1) << i;
  EXPECT_EQ(data->Ch1Intervals[5], 2'000'000 - 1'024'999);
  EXPECT_EQ(data->Ch1Intervals[6], 10);
  EXPECT_EQ(data->Ch1Intervals[50], 10);
}

TEST(StreamWindow, RepeatedWordsAreReplacedByTheNextWord) {
  struct Case {
    std::vector<uint32_t> words;
    std::vector<int64_t> deltas;  // the first deltas of the window
  };
  const Case cases[] = {
      {{100, 200, 200, 300, 410}, {100, 100, 110}},
      {{100, 200, 200, 200, 300}, {100, 0, 100}},
      {{4294967290u, 6, 20}, {12, 14}},
  };
  for (const Case& c : cases) {
    StreamRing ring;
    AppendAll(ring, c.words);
    for (uint32_t i = 0; i < 10; ++i) ring.Append(900'000 + i);
    // N + 10 words written: the window starts on slot 0.
    const int n = static_cast<int>(c.words.size());
    auto data = FreshData();
    TakeWindow(ring, n, *data);
    std::vector<int64_t> deltas = Ch1Deltas(*data);
    ASSERT_GE(deltas.size(), c.deltas.size());
    deltas.resize(c.deltas.size());
    EXPECT_EQ(deltas, c.deltas);
  }
}

TEST(StreamWindow, RepeatAsNewestWordWaitsForTheNextWord) {
  // A run of equal words takes two slots per delta, so this window reaches RingWrite with the
  // last word a repeat that has no successor yet.
  StreamRing ring;
  ring.Append(100);
  AppendAll(ring, std::vector<uint32_t>(20, 200));
  auto data = FreshData();
  TakeWindow(ring, 11, *data);
  EXPECT_EQ(Ch1Deltas(*data), (std::vector<int64_t>{100, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(ring.RingDisplay(), ring.RingWrite() - 1);
  EXPECT_EQ(ring.RingFillCount(), 1);
  EXPECT_EQ(data->Ch1Intervals[11], kUntouched);
}

TEST(StreamWindow, WindowSizeIsKeptWithinTheArrays) {
  struct Case {
    int n;
    int64_t count;
  };
  const Case cases[] = {{-999, 1}, {0, 1}, {10, 11}, {5000, 5001}, {9999, 5001}};
  StreamRing ring;
  for (uint32_t i = 0; i < 20000; ++i) ring.Append(7 + 2 * i);
  for (const Case& c : cases) {
    auto data = FreshData();
    TakeWindow(ring, c.n, *data);
    EXPECT_EQ(data->Ch1Count, c.count) << c.n;
    for (int64_t i = 1; i < data->Ch1Count; ++i) ASSERT_EQ(data->Ch1Intervals[i], 2) << c.n;
  }
}

TEST(StreamWindow, EmptyRingGivesNoIntervalAndNoCursorPassesTheWriteCursor) {
  StreamRing ring;
  auto data = FreshData();
  TakeWindow(ring, 0, *data);
  EXPECT_EQ(ring.RingDisplay(), ring.RingWrite());
  EXPECT_EQ(data->Ch1Count, 1);
  EXPECT_EQ(data->Ch1Intervals[1], kUntouched);
}

TEST(StreamLogStep, RepeatedWordsGiveOneLineLessAndOneTone) {
  struct Case {
    std::vector<uint32_t> words;
    std::vector<uint64_t> lines;
    int beeps;
  };
  const Case cases[] = {
      {{100, 200, 200, 300}, {100, 100, 100}, 1},
      {{100, 200, 200, 200, 300}, {100, 100, 0, 100}, 1},
      {{4294967290u, 6}, {4294967290u, 12}, 0},
      {{0, 5}, {5}, 1},  // the first word repeats the initial previous word 0
  };
  for (const Case& c : cases) {
    StreamRing ring;
    AppendAll(ring, c.words);
    int64_t log_prev = 0;
    const LogResult result = RunLog(ring, log_prev);
    EXPECT_EQ(result.lines, c.lines);
    EXPECT_EQ(result.beeps, c.beeps);
    EXPECT_EQ(log_prev, c.words.back());
    EXPECT_EQ(ring.RingLog(), ring.RingWrite());
  }
}

TEST(StreamLogStep, RepeatAsNewestWordIsLoggedWithTheNextStep) {
  StreamRing ring;
  AppendAll(ring, {100, 200, 200});
  int64_t log_prev = 0;
  LogResult first = RunLog(ring, log_prev);
  EXPECT_EQ(first.lines, (std::vector<uint64_t>{100, 100}));
  EXPECT_EQ(first.beeps, 0);
  EXPECT_EQ(ring.RingLog(), 2);

  LogResult idle = RunLog(ring, log_prev);  // nothing new: the repeat still waits
  EXPECT_TRUE(idle.lines.empty());
  EXPECT_EQ(ring.RingLog(), 2);

  ring.Append(300);
  LogResult second = RunLog(ring, log_prev);
  EXPECT_EQ(second.lines, (std::vector<uint64_t>{100}));
  EXPECT_EQ(second.beeps, 1);
}

TEST(StreamLogStep, FirstLineAfterRestartIsTheDeltaFromTheLastLoggedWord) {
  StreamRing ring;
  AppendAll(ring, {100, 500});
  int64_t log_prev = 0;
  RunLog(ring, log_prev);
  ring.ResetCursors();
  AppendAll(ring, {700, 710});
  EXPECT_EQ(RunLog(ring, log_prev).lines, (std::vector<uint64_t>{200, 10}));
}

TEST(StreamLogStep, AFailedWriteHasConsumedItsWord) {
  StreamRing ring;
  AppendAll(ring, {10, 20, 30});
  int64_t log_prev = 0;
  std::vector<uint64_t> lines;
  auto write = [&](uint64_t delta) {
    if (delta == 10 && !lines.empty()) throw std::runtime_error("disk full");
    lines.push_back(delta);
  };
  EXPECT_THROW(LogStep(ring, log_prev, write, {}), std::runtime_error);
  EXPECT_EQ(log_prev, 20);
  EXPECT_EQ(ring.RingLog(), 2);
  LogStep(ring, log_prev, [&](uint64_t delta) { lines.push_back(delta); }, {});
  EXPECT_EQ(lines, (std::vector<uint64_t>{10, 10}));
}

TEST(StreamRing, OverflowIsCountedAndKeepsTheNewestWords) {
  StreamRing ring;
  const int total = kRingSlots + 5;
  for (int i = 0; i < total; ++i) ring.Append(static_cast<uint32_t>(1000 + i));
  EXPECT_EQ(ring.LostWords(), 6u);
  EXPECT_EQ(ring.RingFillCount(), kRingSlots - 1);

  int64_t log_prev = 0;
  const LogResult result = RunLog(ring, log_prev);
  ASSERT_EQ(result.lines.size(), static_cast<size_t>(kRingSlots - 1));
  EXPECT_EQ(result.lines.front(), 1006u);
  for (size_t i = 1; i < result.lines.size(); ++i) ASSERT_EQ(result.lines[i], 1u) << i;
  EXPECT_EQ(log_prev, 1000 + total - 1);

  ring.Append(1);
  EXPECT_EQ(ring.LostWords(), 6u);  // the log has caught up: nothing more is lost
  ring.ResetLostWords();
  EXPECT_EQ(ring.LostWords(), 0u);
}

TEST(StreamRing, ExactlyOneLapUnreadLosesOneWord) {
  StreamRing ring;
  for (int i = 0; i < kRingSlots - 1; ++i) ring.Append(1);
  EXPECT_EQ(ring.LostWords(), 0u);
  ring.Append(1);
  EXPECT_EQ(ring.LostWords(), 1u);
  EXPECT_EQ(ring.RingLog(), 1);
}

}  // namespace
}  // namespace acquisition
