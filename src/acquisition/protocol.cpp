#include "acquisition/protocol.h"

#include <algorithm>
#include <cstdint>

#include "common/convert.h"
#include "common/error.h"
#include "common/ticks.h"

namespace acquisition {
namespace {

// The statistics and the arrays stop at record 5000, so a count announced above 5001 records
// must not lead the pass to read slots that no record of this reply could have written.
int64_t StoredCount(int32_t announced) { return std::min<int64_t>(announced, kMaxIntervals + 1); }

}  // namespace

std::string SampleRequest(bool dual, std::string_view count_text) {
  std::string request = dual ? "<K390><HEXPULSE>" : "<K390><CH1><HEXPULSE>";
  request += count_text;
  request += dual ? "</HEXPULSE></K390>" : "</HEXPULSE></CH1></K390>";
  return request;
}

std::string StreamCommand(int mode) {
  return "<K390><STREAM>" + std::to_string(mode) + "</STREAM></K390>";
}

bool IsCompleteReply(std::string_view rx) { return rx.find(kEndTag) != std::string_view::npos; }

bool IsStreamAck(std::string_view rx) { return rx.find(kStreamTag) != std::string_view::npos; }

bool AckSetsBinary(std::string_view rx) {
  const size_t tag = rx.find(kStreamTag);
  if (tag == std::string_view::npos) return false;
  // The instrument puts two bytes (normally CR LF) between the tag and the mode digit.
  const size_t mode = tag + kStreamTag.size() + 2;
  return mode < rx.size() && rx[mode] == '1';
}

size_t ReplyLength(std::string_view rx) {
  const size_t tag = rx.find(kEndTag);
  return tag == std::string_view::npos ? 0 : tag + kEndTag.size();
}

std::string_view PopField(std::string_view& rest) {
  const size_t comma = rest.find(',');
  if (comma == std::string_view::npos) {
    const std::string_view field = rest;
    rest = {};
    return field;
  }
  const std::string_view field = rest.substr(0, comma);
  rest.remove_prefix(comma + 1);
  return field;
}

namespace {

// The window's arrays of one decoding: the records taken in index order, their intervals stored
// and summed.
class WindowArrays {
 public:
  explicit WindowArrays(PulseData& data) : data_(data) {}

  void Counts(int32_t count1, int32_t count2) {
    data_.Ch1Count = StoredCount(count1);
    data_.Ch2Count = StoredCount(count2);
    announced_ = std::max<int64_t>(count1, count2);
  }

  void Record(const ReplyRecord& r) {
    const int64_t k = r.index;
    // Record 0 only sets the starting stamps; its differences against 0 mean nothing.
    if (k >= 1 && k <= kMaxIntervals) {
      const int64_t d1 = common::DeltaRule(previous1_, r.stamp1);
      const int64_t d2 = common::DeltaRule(previous2_, r.stamp2);
      if (k < data_.Ch1Count) data_.Ch1Average += static_cast<double>(d1);
      if (k < data_.Ch2Count) data_.Ch2Average += static_cast<double>(d2);
      data_.Ch1Intervals[static_cast<size_t>(k)] = static_cast<double>(d1);
      data_.Ch2Intervals[static_cast<size_t>(k)] = static_cast<double>(d2);
    }
    previous1_ = r.stamp1;
    previous2_ = r.stamp2;
  }

  // A reply that ends before its announced records is taken for what it holds: the counts
  // shrink to the records that came, so no slot of an earlier pass (or a zero) passes for an
  // interval. The sums already hold exactly those records' intervals.
  void Finish(int64_t held) {
    data_.reply = {held, announced_};
    if (data_.reply.Short()) {
      data_.Ch1Count = std::min(data_.Ch1Count, held);
      data_.Ch2Count = std::min(data_.Ch2Count, held);
    }
  }

 private:
  PulseData& data_;
  int64_t announced_ = 0;
  int64_t previous1_ = 0;
  int64_t previous2_ = 0;
};

}  // namespace

DecodeOutcome DecodeSampleReply(std::string_view work, PulseData& data,
                                std::vector<std::string>* memo) {
  data.Ch1Count = 0;
  data.Ch2Count = 0;
  data.reply = {};
  ReplyCursor cursor(work, ReplyFraming::kLink, memo);
  WindowArrays arrays(data);
  switch (cursor.ReadHeader()) {
    case ReplyHeader::kNotSamples:
      return DecodeOutcome::kEndedEarly;
    case ReplyHeader::kFault:
      cursor.ThrowFault();
      break;
    case ReplyHeader::kCounts:
      arrays.Counts(cursor.Count1(), cursor.Count2());
      if (data.Ch1Count == 0 && data.Ch2Count == 0) return DecodeOutcome::kEndedEarly;
      while (const std::optional<ReplyRecord> record = cursor.Next()) arrays.Record(*record);
      cursor.ThrowFault();  // what was written before stays written
      break;
    case ReplyHeader::kNoLine:
      break;
  }
  arrays.Finish(cursor.Held());
  if (memo != nullptr) memo->push_back(std::to_string(cursor.Held()));
  return DecodeOutcome::kDecoded;
}

namespace {

// One channel's stamps made continuous across the wraps of a 32-bit counter.
class ChannelUnwrap {
 public:
  explicit ChannelUnwrap(std::vector<int64_t>& out) : out_(out) {}

  void Add(int64_t raw, int64_t first_value) {
    value_ = out_.empty() ? first_value : value_ + common::DeltaRule(previous_, raw);
    previous_ = raw;
    out_.push_back(value_);
  }

 private:
  std::vector<int64_t>& out_;
  int64_t previous_ = 0;
  int64_t value_ = 0;
};

// Where a channel's first stamp lies against the first stamp of channel 1. Stamps that both
// fit in 32 bits may come from a counter that wraps there, and the two channels' first pulses
// lie far less than 2^31 ticks (53 s) apart, so the short way round is the true one.
int64_t FirstStampAgainst(int64_t reference, int64_t raw) {
  const bool narrow =
      reference >= 0 && reference < common::kWrap32 && raw >= 0 && raw < common::kWrap32;
  if (!narrow) return raw;
  int64_t d = (raw - reference) & (common::kWrap32 - 1);
  if (d >= common::kWrap32 / 2) d -= common::kWrap32;
  return reference + d;
}

}  // namespace

DualStamps DecodeDualStamps(std::string_view reply) {
  ReplyCursor cursor(reply, ReplyFraming::kFile);
  const ReplyHeader header = cursor.ReadHeader();
  cursor.ThrowFault();
  if (header != ReplyHeader::kCounts) return {};
  DualStamps stamps;
  ChannelUnwrap ch1(stamps.ch1);
  ChannelUnwrap ch2(stamps.ch2);
  const int64_t count1 = cursor.Count1();
  const int64_t count2 = cursor.Count2();
  int64_t reference = 0;  // channel 1's first raw stamp
  while (const std::optional<ReplyRecord> r = cursor.Next()) {
    if (r->index == 0) reference = r->stamp1;
    if (r->index < count1) ch1.Add(r->stamp1, r->stamp1);
    if (r->index < count2) {
      ch2.Add(r->stamp2, count1 > 0 ? FirstStampAgainst(reference, r->stamp2) : r->stamp2);
    }
  }
  cursor.ThrowFault();
  return stamps;
}

std::string ShortReplyText(const ReplyRecords& reply) {
  return "reply ended early: " + std::to_string(reply.held) + " of " +
         std::to_string(reply.announced) + " records";
}

}  // namespace acquisition
