#include "analysis/run_tracker.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace analysis {
namespace {

std::vector<int64_t> Words(int64_t count, uint64_t seed) {
  std::vector<int64_t> words;
  for (int64_t i = 0; i < count; ++i) {
    seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
    words.push_back(i % 97 == 50 ? 80000 : 40000 + static_cast<int64_t>((seed >> 33) % 7) - 3);
  }
  return words;
}

// Words fed in pieces from another thread's point of view end up as figures equal to the
// plain accumulator's, and a new run forgets the last one.
TEST(RunTracker, FiguresOfTheQueuedWordsEqualTheAccumulatorsAndANewRunStartsClean) {
  RunTracker tracker;
  const auto start = RunTracker::Clock::now();
  tracker.Begin(start);
  tracker.Add(Words(500, 1));  // an earlier run
  const std::vector<int64_t> words = Words(30000, 2);
  tracker.Begin(start);
  RunStatistics direct;
  for (size_t at = 0; at < words.size(); at += 777) {
    const size_t n = std::min<size_t>(777, words.size() - at);
    tracker.Add(std::span(words).subspan(at, n));
  }
  for (int64_t w : words) direct.AddWord(w);
  const RunSummary record = tracker.Record(tracker.Final(), start, "", 30000);
  const RunSummary expected = direct.FinalSummary();
  EXPECT_EQ(record.words, 30000);
  EXPECT_EQ(record.uncounted_words, 0);
  EXPECT_EQ(record.missing_pulses, expected.missing_pulses);
  EXPECT_GT(record.missing_pulses, 300);
  EXPECT_EQ(record.max_interval_word, expected.max_interval_word);
  ASSERT_EQ(record.stability.size(), expected.stability.size());
  for (size_t i = 0; i < expected.stability.size(); ++i)
    EXPECT_EQ(record.stability[i].value, expected.stability[i].value) << i;
  EXPECT_EQ(record.ended_early, "");
  EXPECT_EQ(record.start, start);
}

// Figures that fall a queue behind stop for the rest of the run and say how many words they
// left out; the words are still counted as the log's.
TEST(RunTracker, AFullQueueStopsTheFiguresAndCountsWhatTheyLeftOut) {
  RunTracker tracker(kDeepestOctave, 1000);
  tracker.Begin(RunTracker::Clock::now());
  tracker.Add(Words(600, 3));
  EXPECT_EQ(tracker.Record(tracker.Final(), RunTracker::Clock::now(), "", 600).uncounted_words, 0);
  tracker.Add(Words(1001, 4));  // more than the queue holds
  tracker.Add(Words(100, 5));   // the queue is empty again, but the figures have a gap
  const RunSummary record =
      tracker.Record(tracker.Final(), RunTracker::Clock::now(), "Cannot write", 1701);
  EXPECT_EQ(record.words, 1701);
  EXPECT_EQ(record.uncounted_words, 1101);
  EXPECT_EQ(record.ended_early, "Cannot write");
  EXPECT_EQ(tracker.Summary().words, 600);

  tracker.Begin(RunTracker::Clock::now());
  tracker.Add(Words(500, 6));
  // A failed write lost the last 200 of them: the record has the log's lines.
  const RunSummary cut =
      tracker.Record(tracker.Final(), RunTracker::Clock::now(), "full", 300);
  EXPECT_EQ(cut.words, 300);
  EXPECT_EQ(cut.uncounted_words, 0);
}

}  // namespace
}  // namespace analysis
