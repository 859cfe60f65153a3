#include "acquisition/protocol.h"

#include <algorithm>
#include <cstdint>
#include <tuple>
#include <utility>

#include "common/convert.h"
#include "common/error.h"
#include "common/ticks.h"

namespace acquisition {
namespace {

constexpr std::string_view kSamplesTag = "<SAMPLES>";
constexpr std::string_view kSamplesEndTag = "</SAMPLES>";

// Bytes from `from` up to (not including) `to`, empty when `to` was not found or lies before
// `from`. The header counts are cut at positions found independently of each other, so a
// missing or misplaced comma or end tag gives an empty count text, which then fails conversion.
std::string_view Cut(std::string_view text, size_t from, size_t to) {
  if (to == std::string_view::npos || from >= to) return {};
  return text.substr(from, to - from);
}

// The statistics and the arrays stop at record 5000, so a count announced above 5001 records
// must not lead the pass to read slots that no record of this reply could have written.
int64_t StoredCount(int32_t announced) { return std::min<int64_t>(announced, kMaxIntervals + 1); }

void Log(std::vector<std::string>* memo, std::string_view line) {
  if (memo != nullptr) memo->emplace_back(line);
}

// The first occurrence of `c` at or after `from`, remembered between calls: the cursor only
// moves forward, so a hit that still lies ahead of it stays the first one. This keeps the line
// search linear even when one CR sits behind many LFs.
class NextByte {
 public:
  NextByte(std::string_view text, char c) : text_(text), c_(c) {}

  size_t From(size_t from) {
    if (!searched_ || (found_ != std::string_view::npos && found_ < from)) {
      found_ = text_.find(c_, from);
      searched_ = true;
    }
    return found_;
  }

 private:
  std::string_view text_;
  char c_;
  size_t found_ = std::string_view::npos;
  bool searched_ = false;
};

// The hexadecimal fields of one reply line; a field that does not convert is reported with its
// line (counted from 1, the header first) and its name, so the operator can find it.
struct FieldReader {
  int64_t line;

  int32_t Hex32(std::string_view text, const char* name) const {
    try {
      return common::HexToInt32(text);
    } catch (const common::Error& error) {
      throw Named(error, name);
    }
  }
  int64_t Hex64(std::string_view text, const char* name) const {
    try {
      return common::HexToInt64(text);
    } catch (const common::Error& error) {
      throw Named(error, name);
    }
  }

 private:
  common::Error Named(const common::Error& error, const char* name) const {
    return common::Error("Reply line " + std::to_string(line) + ", " + name + ": " +
                         error.Message());
  }
};

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

// One decoding's lines after the text is cut into them: the header's counts, then the records
// accepted in index order, their intervals stored and summed.
class ReplyLines {
 public:
  explicit ReplyLines(PulseData& data) : data_(data) {}

  // False when the reply ends early: no "<SAMPLES>" in the line, or both counts 0.
  bool Header(std::string_view line, const FieldReader& read) {
    const size_t tag = line.find(kSamplesTag);
    if (tag == std::string_view::npos) return false;
    const size_t comma = line.find(',');
    const size_t end_tag = line.find(kSamplesEndTag);
    const size_t count1_from = tag + kSamplesTag.size();
    const int32_t count1 = read.Hex32(Cut(line, count1_from, comma), "count 1");
    const size_t count2_from = comma == std::string_view::npos ? 0 : comma + 1;
    const int32_t count2 = read.Hex32(Cut(line, count2_from, end_tag), "count 2");
    data_.Ch1Count = StoredCount(count1);
    data_.Ch2Count = StoredCount(count2);
    announced_ = std::max<int64_t>(count1, count2);
    return data_.Ch1Count != 0 || data_.Ch2Count != 0;
  }

  void Record(std::string_view line, const FieldReader& read) {
    std::string_view fields = line;
    const int64_t index = read.Hex32(PopField(fields), "index");
    if (index != k_) return;
    previous1_ = current1_;
    previous2_ = current2_;
    current1_ = read.Hex64(PopField(fields), "stamp 1");
    current2_ = read.Hex64(PopField(fields), "stamp 2");
    // Record 0 only sets the starting stamps; its differences against 0 mean nothing.
    if (k_ >= 1 && k_ <= kMaxIntervals) {
      const int64_t d1 = common::DeltaRule(previous1_, current1_);
      const int64_t d2 = common::DeltaRule(previous2_, current2_);
      if (k_ < data_.Ch1Count) data_.Ch1Average += static_cast<double>(d1);
      if (k_ < data_.Ch2Count) data_.Ch2Average += static_cast<double>(d2);
      data_.Ch1Intervals[static_cast<size_t>(k_)] = static_cast<double>(d1);
      data_.Ch2Intervals[static_cast<size_t>(k_)] = static_cast<double>(d2);
    }
    ++k_;
  }

  // A reply that ends before its announced records is taken for what it holds: the counts
  // shrink to the records that came, so no slot of an earlier pass (or a zero) passes for an
  // interval. The sums already hold exactly those records' intervals.
  int64_t Finish() {
    data_.reply = {k_, announced_};
    if (data_.reply.Short()) {
      data_.Ch1Count = std::min(data_.Ch1Count, k_);
      data_.Ch2Count = std::min(data_.Ch2Count, k_);
    }
    return k_;
  }

 private:
  PulseData& data_;
  int64_t announced_ = 0;
  int64_t k_ = 0;  // the record counter: records accepted so far
  int64_t previous1_ = 0;
  int64_t previous2_ = 0;
  int64_t current1_ = 0;
  int64_t current2_ = 0;
};

}  // namespace

DecodeOutcome DecodeSampleReply(std::string_view work, PulseData& data,
                                std::vector<std::string>* memo) {
  data.Ch1Count = 0;
  data.Ch2Count = 0;
  data.reply = {};
  ReplyLines lines(data);
  bool header_expected = true;
  int64_t line_number = 0;

  NextByte next_cr(work, '\r');
  NextByte next_lf(work, '\n');
  size_t pos = 0;
  while (pos < work.size()) {
    const size_t cr = next_cr.From(pos);
    const size_t lf = next_lf.From(pos);
    // Without a CR the rest is the closing remainder. A CR with no LF after it would let the
    // line rule remove nothing, so that rest is taken as the remainder too: the decoding always
    // reaches the end of the text.
    if (cr == std::string_view::npos || lf == std::string_view::npos) {
      Log(memo, work.substr(pos));
      break;
    }
    // The line ends at the first CR, but the text is consumed only through the first LF: an LF
    // ahead of the CR makes the bytes between them come round again as the next line.
    const std::string_view line = work.substr(pos, cr - pos);
    pos = lf + 1;
    Log(memo, line);
    const FieldReader read{++line_number};
    if (header_expected) {
      if (!lines.Header(line, read)) return DecodeOutcome::kEndedEarly;
    } else {
      lines.Record(line, read);
    }
    header_expected = false;
  }
  const int64_t accepted = lines.Finish();
  if (memo != nullptr) memo->push_back(std::to_string(accepted));
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

std::string LineError(int64_t number, const common::Error& e) {
  return "line " + std::to_string(number) + ": " + e.Message();
}

bool HasOnlyBlanks(std::string_view line) {
  return line.find_first_not_of(" \t") == std::string_view::npos;
}

// The two header counts, a negative one read as 0.
std::pair<int64_t, int64_t> HeaderCounts(std::string_view line, size_t tag) {
  const size_t from = tag + kSamplesTag.size();
  const size_t comma = line.find(',', from);
  const size_t end_tag = line.find(kSamplesEndTag, from);
  const int64_t count1 = common::HexToInt32(Cut(line, from, comma));
  const size_t from2 = comma == std::string_view::npos ? 0 : comma + 1;
  const int64_t count2 = common::HexToInt32(Cut(line, from2, end_tag));
  return {std::max<int64_t>(count1, 0), std::max<int64_t>(count2, 0)};
}

}  // namespace

DualStamps DecodeDualStamps(std::string_view reply) {
  DualStamps stamps;
  ChannelUnwrap ch1(stamps.ch1);
  ChannelUnwrap ch2(stamps.ch2);
  int64_t count1 = 0;
  int64_t count2 = 0;
  int64_t k = 0;
  int64_t reference = 0;  // channel 1's first raw stamp
  int64_t number = 0;
  size_t pos = 0;
  while (pos < reply.size()) {
    size_t end = reply.find_first_of("\r\n", pos);
    if (end == std::string_view::npos) end = reply.size();
    const std::string_view line = reply.substr(pos, end - pos);
    pos = end + 1;
    if (end < reply.size() && reply[end] == '\r' && pos < reply.size() && reply[pos] == '\n') ++pos;
    ++number;
    try {
      if (number == 1) {
        const size_t tag = line.find(kSamplesTag);
        if (tag == std::string_view::npos) return {};
        std::tie(count1, count2) = HeaderCounts(line, tag);
        continue;
      }
      if (line.find(kEndTag) != std::string_view::npos) break;
      if (HasOnlyBlanks(line)) continue;
      std::string_view fields = line;
      if (common::HexToInt32(PopField(fields)) != k) continue;
      const int64_t raw1 = common::HexToInt64(PopField(fields));
      const int64_t raw2 = common::HexToInt64(PopField(fields));
      if (k == 0) reference = raw1;
      if (k < count1) ch1.Add(raw1, raw1);
      if (k < count2) ch2.Add(raw2, count1 > 0 ? FirstStampAgainst(reference, raw2) : raw2);
      ++k;
    } catch (const common::Error& e) {
      throw common::Error(LineError(number, e));
    }
  }
  return stamps;
}

std::string ShortReplyText(const ReplyRecords& reply) {
  return "reply ended early: " + std::to_string(reply.held) + " of " +
         std::to_string(reply.announced) + " records";
}

}  // namespace acquisition
