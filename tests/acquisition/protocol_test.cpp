#include "acquisition/protocol.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "common/error.h"

namespace acquisition {
namespace {

// Slots that a reply must not reach hold this value, so a stray write shows.
constexpr double kUntouched = -7;

PulseData FilledData() {
  PulseData data;
  data.Ch1Intervals.fill(kUntouched);
  data.Ch2Intervals.fill(kUntouched);
  data.Ch1Count = 99;
  data.Ch2Count = 99;
  return data;
}

std::string Header(std::string_view count1, std::string_view count2) {
  return "<K390><SAMPLES>" + std::string(count1) + "," + std::string(count2) + "</SAMPLES>\r\n";
}

std::string Record(std::string_view index, std::string_view stamp1, std::string_view stamp2) {
  return std::string(index) + "," + std::string(stamp1) + "," + std::string(stamp2) + "\r\n";
}

std::string Hex(uint64_t value) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  do {
    text.insert(text.begin(), kDigits[value & 15]);
    value >>= 4;
  } while (value != 0);
  return text;
}

// A reply with records 0 to stamps1.size() - 1.
std::string Reply(std::string_view count1, std::string_view count2,
                  const std::vector<uint64_t>& stamps1, const std::vector<uint64_t>& stamps2) {
  std::string reply = Header(count1, count2);
  for (size_t i = 0; i < stamps1.size(); ++i) {
    reply += Record(Hex(i), Hex(stamps1[i]), Hex(stamps2[i]));
  }
  return reply + "</K390>";
}

std::string ErrorOf(std::string_view reply, PulseData& data) {
  try {
    DecodeSampleReply(reply, data, nullptr);
  } catch (const common::Error& e) {
    return e.what();
  }
  return "no error";
}

TEST(SampleRequest, WrapsTheCountTextVerbatim) {
  const struct {
    bool dual;
    const char* count;
    const char* expected;
  } cases[] = {
      {false, "50", "<K390><CH1><HEXPULSE>50</HEXPULSE></CH1></K390>"},
      {true, "3000", "<K390><HEXPULSE>3000</HEXPULSE></K390>"},
      {true, "", "<K390><HEXPULSE></HEXPULSE></K390>"},
      {false, "0050", "<K390><CH1><HEXPULSE>0050</HEXPULSE></CH1></K390>"},
      {false, "1 x", "<K390><CH1><HEXPULSE>1 x</HEXPULSE></CH1></K390>"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SampleRequest(c.dual, c.count), c.expected) << c.count;
  }
  EXPECT_EQ(SampleRequest(false, "50").size(), 47u);
}

TEST(StreamCommand, CarriesTheModeDigit) {
  EXPECT_EQ(StreamCommand(0), "<K390><STREAM>0</STREAM></K390>");
  EXPECT_EQ(StreamCommand(1), "<K390><STREAM>1</STREAM></K390>");
  EXPECT_EQ(StreamCommand(2), "<K390><STREAM>2</STREAM></K390>");
}

TEST(ReplyFraming, CompleteOnTheFirstEndTagAnywhere) {
  EXPECT_FALSE(IsCompleteReply(""));
  EXPECT_FALSE(IsCompleteReply("<K390><SAMPLES>3,0</SAMPLES>\r\n</K390"));
  EXPECT_FALSE(IsCompleteReply("</k390>"));
  EXPECT_TRUE(IsCompleteReply("</K390>"));
  EXPECT_TRUE(IsCompleteReply("x</K390>\r\nmore"));

  EXPECT_EQ(ReplyLength("no tag"), 0u);
  EXPECT_EQ(ReplyLength("</K390>"), 7u);
  EXPECT_EQ(ReplyLength("abc</K390>def</K390>"), 10u);
  EXPECT_EQ(ReplyLength(std::string("\0\0</K390>", 9)), 9u);

  EXPECT_TRUE(IsStreamAck("<K390><STREAM>\r\n1</STREAM></K390>"));
  EXPECT_FALSE(IsStreamAck("<K390><SAMPLES>0,0</SAMPLES></K390>"));
  EXPECT_FALSE(IsStreamAck("<stream>"));
}

TEST(AckSetsBinary, ReadsTheThirdByteAfterTheFirstTag) {
  const struct {
    const char* rx;
    bool binary;
  } cases[] = {
      {"<K390><STREAM>\r\n1</STREAM></K390>", true},
      {"<STREAM>ab1</K390>", true},
      {"<K390><STREAM>1\r\n</STREAM></K390>", false},  // first byte after the tag
      {"<K390><STREAM>\r1\n</STREAM></K390>", false},  // second byte after the tag
      {"<K390><STREAM>\r\n0</STREAM></K390>", false},
      {"<K390><STREAM>\r\n2</STREAM></K390>", false},
      {"<STREAM>\r\n0<STREAM>\r\n1</K390>", false},  // only the first tag counts
      {"<STREAM>\r\n", false},                       // the text ends before the mode byte
      {"<STREAM>", false},
      {"no tag \r\n1</K390>", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(AckSetsBinary(c.rx), c.binary) << c.rx;
  }
}

TEST(PopField, TakesUpToTheFirstCommaAndDropsIt) {
  const struct {
    const char* text;
    const char* field;
    const char* rest;
  } cases[] = {
      {"a,b,c", "a", "b,c"}, {"abc", "abc", ""}, {"", "", ""},
      {",x", "", "x"},       {"x,", "x", ""},    {",,", "", ","},
  };
  for (const auto& c : cases) {
    std::string_view rest = c.text;
    EXPECT_EQ(PopField(rest), c.field) << c.text;
    EXPECT_EQ(rest, c.rest) << c.text;
  }
}

TEST(DecodeSampleReply, SumsOnlyTheIntervalsBelowTheHeaderCounts) {
  const std::vector<uint64_t> stamps1 = {100, 130, 170, 230};
  const std::vector<uint64_t> stamps2 = {1000, 1001, 1003, 1007};
  const struct {
    const char* count1;
    const char* count2;
    int64_t ch1_count;
    int64_t ch2_count;
    double ch1_sum;
    double ch2_sum;
  } cases[] = {
      {"4", "4", 4, 4, 130, 7},
      {"3", "4", 3, 4, 70, 7},  // the last interval is stored but left out of the sum
      {"4", "0", 4, 0, 130, 0},
      {"2", "3", 2, 3, 30, 3},
      {"FFFFFFFF", "80000000", -1, INT32_MIN, 0, 0},  // counts are signed 32-bit
      {"0004", "a", 4, 4, 130, 7},  // channel 2 announced 10 records: cut to the 4 held
  };
  for (const auto& c : cases) {
    PulseData data = FilledData();
    EXPECT_EQ(DecodeSampleReply(Reply(c.count1, c.count2, stamps1, stamps2), data, nullptr),
              DecodeOutcome::kDecoded);
    EXPECT_EQ(data.Ch1Count, c.ch1_count) << c.count1;
    EXPECT_EQ(data.Ch2Count, c.ch2_count) << c.count2;
    EXPECT_EQ(data.Ch1Average, c.ch1_sum) << c.count1;
    EXPECT_EQ(data.Ch2Average, c.ch2_sum) << c.count2;
    EXPECT_EQ(data.Ch1Intervals[0], kUntouched);
    EXPECT_EQ(data.Ch1Intervals[1], 30);
    EXPECT_EQ(data.Ch1Intervals[2], 40);
    EXPECT_EQ(data.Ch1Intervals[3], 60);
    EXPECT_EQ(data.Ch1Intervals[4], kUntouched);
    EXPECT_EQ(data.Ch2Intervals[0], kUntouched);
    EXPECT_EQ(data.Ch2Intervals[3], 4);
    EXPECT_EQ(data.Ch2Intervals[4], kUntouched);
  }
}

TEST(DecodeSampleReply, AddsToTheSumsItIsGiven) {
  PulseData data = FilledData();
  data.Ch1Average = 1000;
  DecodeSampleReply(Reply("3", "0", {0, 5, 7}, {0, 0, 0}), data, nullptr);
  EXPECT_EQ(data.Ch1Average, 1007);
}

TEST(DecodeSampleReply, AcceptsRecordsOnlyInIndexOrder) {
  const struct {
    std::vector<const char*> indices;
    int64_t accepted;
    std::vector<double> slots;  // slots 1 to 4
  } cases[] = {
      {{"0", "1", "3", "4"}, 2, {10, kUntouched, kUntouched, kUntouched}},
      {{"0", "1", "1", "2"}, 3, {10, 50, kUntouched, kUntouched}},
      {{"1", "0", "1", "2"}, 3, {20, 30, kUntouched, kUntouched}},
      {{"0", "2", "1", "0000002"}, 3, {30, 30, kUntouched, kUntouched}},
      {{"FFFFFFFF", "0", "1", "2"}, 3, {20, 30, kUntouched, kUntouched}},
  };
  // Stamps 100, 110, 130, 160: a record that is taken twice would shift the intervals.
  const char* stamps[] = {"64", "6E", "82", "A0"};
  for (const auto& c : cases) {
    std::string reply = Header("4", "0");
    for (size_t i = 0; i < 4; ++i) reply += Record(c.indices[i], stamps[i], "0");
    reply += "</K390>";
    PulseData data = FilledData();
    std::vector<std::string> memo;
    EXPECT_EQ(DecodeSampleReply(reply, data, &memo), DecodeOutcome::kDecoded);
    EXPECT_EQ(memo.back(), std::to_string(c.accepted)) << c.indices[2];
    for (size_t slot = 1; slot <= 4; ++slot) {
      EXPECT_EQ(data.Ch1Intervals[slot], c.slots[slot - 1]) << c.indices[2] << " slot " << slot;
    }
  }
}

TEST(DecodeSampleReply, WrapsNegativeDifferencesOnce) {
  const struct {
    const char* from;
    const char* to;
    double interval;
  } cases[] = {
      {"FFFFFFF0", "10", 32},
      {"A", "5", 4294967291.0},
      {"0", "100000010", 4294967312.0},   // 2^32 + 16 stays as it is
      {"200000000", "0", -4294967296.0},  // below -2^32 stays negative
      {"FFFFFFFFFFFFFFFF", "0", 1},       // 64-bit two's complement
      {"7FFFFFFFFFFFFFFF", "8000000000000000", 1},
      {"ffffffff", "ffffffff", 0},
  };
  for (const auto& c : cases) {
    const std::string reply =
        Header("2", "2") + Record("0", c.from, c.to) + Record("1", c.to, c.from) + "</K390>";
    PulseData data = FilledData();
    DecodeSampleReply(reply, data, nullptr);
    EXPECT_EQ(data.Ch1Intervals[1], c.interval) << c.from << " -> " << c.to;
    EXPECT_EQ(data.Ch1Average, c.interval) << c.from << " -> " << c.to;
  }
}

TEST(DecodeSampleReply, EndsEarlyWithoutAUsableHeader) {
  const struct {
    std::string reply;
    std::vector<std::string> memo;
  } cases[] = {
      {Header("0", "0") + Record("0", "1", "1") + "</K390>", {"<K390><SAMPLES>0,0</SAMPLES>"}},
      {Header("00000000", "0") + "</K390>", {"<K390><SAMPLES>00000000,0</SAMPLES>"}},
      {"<K390>\r\n<SAMPLES>3,0</SAMPLES>\r\n" + Record("0", "1", "1") + "</K390>", {"<K390>"}},
      {"\r\n<SAMPLES>3,0</SAMPLES>\r\n</K390>", {""}},
      {"<samples>3,0</samples>\r\n</K390>", {"<samples>3,0</samples>"}},
  };
  for (const auto& c : cases) {
    PulseData data = FilledData();
    std::vector<std::string> memo;
    EXPECT_EQ(DecodeSampleReply(c.reply, data, &memo), DecodeOutcome::kEndedEarly) << c.reply;
    EXPECT_EQ(memo, c.memo) << c.reply;
    EXPECT_EQ(data.Ch1Count, 0);
    EXPECT_EQ(data.Ch2Count, 0);
    EXPECT_EQ(data.Ch1Intervals[1], kUntouched);
  }
}

TEST(DecodeSampleReply, ReportsMalformedFieldsWithTheirLineNameAndText) {
  const struct {
    std::string reply;
    const char* where;  // line and field
    const char* text;   // the field as taken
  } cases[] = {
      {Header("3", "0") + "0,5\r\n</K390>", "line 2, stamp 2", ""},
      {Header("3", "0") + "0\r\n</K390>", "line 2, stamp 1", ""},
      {Header("2", "0") + Record("0", "1", "2") + Record("1", "3", "4") + "</K390>\r\n",
       "line 4, index", "</K390>"},
      {Header("3", "0") + Record("0", "12G", "0") + "</K390>", "line 2, stamp 1", "12G"},
      {Header("3", "0") + Record(" 0", "1", "0") + "</K390>", "line 2, index", " 0"},
      {Header("3", "0") + Record("-0", "1", "0") + "</K390>", "line 2, index", "-0"},
      {Header("3", "0") + Record("0", "1", "0") + Record("0x1", "1", "0") + "</K390>",
       "line 3, index", "0x1"},
      {Header("3", "0") + Record("100000000", "1", "0") + "</K390>", "line 2, index", "100000000"},
      {Header("3", "0") + Record("0", "1", "10000000000000000") + "</K390>", "line 2, stamp 2",
       "10000000000000000"},
      {Header("100000000", "0") + "</K390>", "line 1, count 1", "100000000"},
      {"<SAMPLES>3</SAMPLES>\r\n</K390>", "line 1, count 1", ""},
      {"<SAMPLES>3,0\r\n</K390>", "line 1, count 2", ""},
      {"<SAMPLES>3,0</SAMPLES\r\n</K390>", "line 1, count 2", ""},
      {"<SAMPLES>,3</SAMPLES>\r\n</K390>", "line 1, count 1", ""},
      {"<SAMPLES>3,</SAMPLES>\r\n</K390>", "line 1, count 2", ""},
      {"x,y<SAMPLES>3,0</SAMPLES>\r\n</K390>", "line 1, count 1", ""},
      {"<SAMPLES>3,0,1</SAMPLES>\r\n</K390>", "line 1, count 2", "0,1"},
      {"<SAMPLES> 3,0</SAMPLES>\r\n</K390>", "line 1, count 1", " 3"},
  };
  for (const auto& c : cases) {
    PulseData data = FilledData();
    EXPECT_EQ(ErrorOf(c.reply, data),
              "Reply " + std::string(c.where) + ": '$" + c.text + "' is not a valid integer value")
        << c.reply;
  }
}

// A reply is what it holds: records that never came are not intervals, whatever the header
// announced, and the shortfall is named.
TEST(DecodeSampleReply, AShortReplyGivesTheFiguresOfTheRecordsItHolds) {
  const std::vector<uint64_t> stamps = {100, 130, 170, 230};
  const struct {
    const char* count1;
    const char* count2;
    size_t records;
    int64_t ch1_count;
    int64_t ch2_count;
    double ch1_sum;
    const char* note;  // empty: not short
  } cases[] = {
      {"BB8", "0", 4, 4, 0, 130, "reply ended early: 4 of 3000 records"},
      {"BB8", "BB8", 3, 3, 3, 70, "reply ended early: 3 of 3000 records"},
      {"3", "A", 4, 3, 4, 70, "reply ended early: 4 of 10 records"},
      {"4", "0", 4, 4, 0, 130, ""},
      {"2", "0", 4, 2, 0, 30, ""},  // more than announced: the header still rules the sums
      {"5", "0", 0, 0, 0, 0, "reply ended early: 0 of 5 records"},
      {"FFFFFFFF", "0", 2, -1, 0, 0, ""},  // a negative count announces nothing
  };
  for (const auto& c : cases) {
    const std::vector<uint64_t> held(stamps.begin(), stamps.begin() + c.records);
    PulseData data = FilledData();
    ASSERT_EQ(DecodeSampleReply(Reply(c.count1, c.count2, held, held), data, nullptr),
              DecodeOutcome::kDecoded);
    EXPECT_EQ(data.Ch1Count, c.ch1_count) << c.count1 << " " << c.records;
    EXPECT_EQ(data.Ch2Count, c.ch2_count) << c.count2 << " " << c.records;
    EXPECT_EQ(data.Ch1Average, c.ch1_sum) << c.count1 << " " << c.records;
    EXPECT_EQ(data.reply.Short() ? ShortReplyText(data.reply) : "", c.note) << c.count1;
  }
}

TEST(DecodeSampleReply, KeepsWhatWasWrittenBeforeAConversionError) {
  const std::string reply =
      Header("5", "0") + Record("0", "10", "0") + Record("1", "30", "0") + "2,zz,0\r\n</K390>";
  PulseData data = FilledData();
  std::vector<std::string> memo;
  EXPECT_THROW(DecodeSampleReply(reply, data, &memo), common::Error);
  EXPECT_EQ(data.Ch1Count, 5);
  EXPECT_EQ(data.Ch1Intervals[1], 32);
  EXPECT_EQ(data.Ch1Average, 32);
  EXPECT_EQ(memo.back(), "2,zz,0");
}

TEST(DecodeSampleReply, IgnoresFieldsAfterTheThirdAndTextAroundTheHeaderTags) {
  const std::string reply = "junk<SAMPLES>2,1</SAMPLES>tail\r\n" + Record("0", "a", "b,x,y") +
                            Record("1", "1A", "1b,") + "</K390>";
  PulseData data = FilledData();
  EXPECT_EQ(DecodeSampleReply(reply, data, nullptr), DecodeOutcome::kDecoded);
  EXPECT_EQ(data.Ch1Count, 2);
  EXPECT_EQ(data.Ch2Count, 1);
  EXPECT_EQ(data.Ch1Intervals[1], 16);
  EXPECT_EQ(data.Ch2Intervals[1], 16);
  EXPECT_EQ(data.Ch1Average, 16);
  EXPECT_EQ(data.Ch2Average, 0);
}

TEST(DecodeSampleReply, LogsEveryLineThenTheAcceptedCount) {
  const std::string reply = Reply("3", "0", {1, 2, 4}, {0, 0, 0});
  PulseData data = FilledData();
  std::vector<std::string> memo;
  EXPECT_EQ(DecodeSampleReply(reply, data, &memo), DecodeOutcome::kDecoded);
  const std::vector<std::string> expected = {
      "<K390><SAMPLES>3,0</SAMPLES>", "0,1,0", "1,2,0", "2,4,0", "</K390>", "3"};
  EXPECT_EQ(memo, expected);
  EXPECT_EQ(data.Ch1Average, 3);
}

TEST(DecodeSampleReply, LineBreakFaultsStillReachTheEnd) {
  const struct {
    std::string reply;
    std::vector<std::string> memo;
    double slot1;
  } cases[] = {
      // An LF ahead of the CR: the text between them comes round again as the next line.
      {Header("2", "0") + "0,10,0,\n1,20,0\r\n</K390>",
       {"<K390><SAMPLES>2,0</SAMPLES>", "0,10,0,\n1,20,0", "1,20,0", "</K390>", "2"},
       16},
      // A CR with no LF after it: the rest is the remainder.
      {Header("2", "0") + "0,10,0\r\n1,20,0\r</K390>",
       {"<K390><SAMPLES>2,0</SAMPLES>", "0,10,0", "1,20,0\r</K390>", "1"},
       kUntouched},
      {"<SAMPLES>2,0</SAMPLES>\r</K390>", {"<SAMPLES>2,0</SAMPLES>\r</K390>", "0"}, kUntouched},
      {"\r", {"\r", "0"}, kUntouched},
      // No CR at all: logged as one line, counts stay 0.
      {"</K390>", {"</K390>", "0"}, kUntouched},
      {"<SAMPLES>2,0</SAMPLES>\n0,1,0\n", {"<SAMPLES>2,0</SAMPLES>\n0,1,0\n", "0"}, kUntouched},
      {"", {"0"}, kUntouched},
      // A doubled CR is swallowed with its line.
      {Header("2", "0") + "0,10,0\r\r\n1,20,0\r\n",
       {"<K390><SAMPLES>2,0</SAMPLES>", "0,10,0", "1,20,0", "2"},
       16},
  };
  for (const auto& c : cases) {
    PulseData data = FilledData();
    std::vector<std::string> memo;
    EXPECT_EQ(DecodeSampleReply(c.reply, data, &memo), DecodeOutcome::kDecoded) << c.reply;
    EXPECT_EQ(memo, c.memo) << c.reply;
    EXPECT_EQ(data.Ch1Intervals[1], c.slot1) << c.reply;
  }
  PulseData data = FilledData();
  DecodeSampleReply("no line at all", data, nullptr);
  EXPECT_EQ(data.Ch1Count, 0);
  EXPECT_EQ(data.Ch2Count, 0);
}

TEST(DecodeSampleReply, NeverWritesPastSlot5000) {
  constexpr uint64_t kRecords = 5003;
  std::vector<uint64_t> stamps1(kRecords);
  std::vector<uint64_t> stamps2(kRecords);
  uint64_t t = 0;
  for (uint64_t i = 0; i < kRecords; ++i) {
    t += 100 + (i % 7);
    stamps1[i] = t;
    stamps2[i] = 3 * i;
  }
  double expected_sum = 0;
  for (size_t k = 1; k <= 5000; ++k)
    expected_sum += static_cast<double>(stamps1[k] - stamps1[k - 1]);

  PulseData data = FilledData();
  std::vector<std::string> memo;
  EXPECT_EQ(DecodeSampleReply(Reply(Hex(kRecords), "FFFF", stamps1, stamps2), data, &memo),
            DecodeOutcome::kDecoded);
  EXPECT_EQ(memo.back(), "5003");
  EXPECT_EQ(memo.size(), 1 + kRecords + 1 + 1);
  EXPECT_EQ(data.Ch1Count, 5001);
  EXPECT_EQ(data.Ch2Count, 5001);
  EXPECT_EQ(data.Ch1Intervals[5000], static_cast<double>(stamps1[5000] - stamps1[4999]));
  EXPECT_EQ(data.Ch2Intervals[5000], 3);
  EXPECT_EQ(data.Ch2Intervals[0], kUntouched);
  EXPECT_EQ(data.Ch1Average, expected_sum);
  EXPECT_EQ(data.Ch2Average, 3 * 5000);
}

TEST(DecodeSampleReply, CutsLargeHeaderCountsToTheRecordsHeld) {
  PulseData data = FilledData();
  DecodeSampleReply(Reply("FFFF", "7FFFFFFF", {0, 10, 30}, {0, 1, 3}), data, nullptr);
  EXPECT_EQ(data.Ch1Count, 3);
  EXPECT_EQ(data.Ch2Count, 3);
  EXPECT_EQ(ShortReplyText(data.reply), "reply ended early: 3 of 2147483647 records");
  EXPECT_EQ(data.Ch1Average, 30);
  EXPECT_EQ(data.Ch2Average, 3);
  EXPECT_EQ(data.Ch1Intervals[3], kUntouched);
}

TEST(DecodeSampleReply, ReadsFieldsLongerThanSixteenBitPositions) {
  // A field of more than 65,534 bytes is still split at its own comma.
  const std::string long_stamp = std::string(70000, '0') + "1E";
  const std::string reply =
      Header("2", "0") + Record("0", "A", "0") + Record("1", long_stamp, "0") + "</K390>";
  PulseData data = FilledData();
  EXPECT_EQ(DecodeSampleReply(reply, data, nullptr), DecodeOutcome::kDecoded);
  EXPECT_EQ(data.Ch1Intervals[1], 20);
}

}  // namespace
}  // namespace acquisition
