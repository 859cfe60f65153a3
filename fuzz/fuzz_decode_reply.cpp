// Feeds arbitrary received bytes through the reply framing and the sample reply decoding, the way
// the receive handler and the processing pass see them. A malformed reply may only end in
// common::Error; everything else (a crash, a sanitizer report, a count or slot out of range)
// aborts.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "acquisition/protocol.h"
#include "acquisition/pulse_data.h"
#include "common/error.h"

namespace {

void Check(bool holds) {
  if (!holds) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view rx(reinterpret_cast<const char*>(data), size);

  const bool complete = acquisition::IsCompleteReply(rx);
  const size_t length = acquisition::ReplyLength(rx);
  Check(complete == (length != 0));
  Check(length <= rx.size());
  if (complete) Check(rx.substr(0, length).ends_with(acquisition::kEndTag));
  const bool binary = acquisition::AckSetsBinary(rx);
  Check(!binary || acquisition::IsStreamAck(rx));

  // PopField walks the text field by field, each time dropping exactly the field and its comma.
  std::string_view rest = rx;
  while (!rest.empty()) {
    const std::string_view before = rest;
    const std::string_view field = acquisition::PopField(rest);
    Check(field.data() == before.data());
    Check(field.find(',') == std::string_view::npos);
    const size_t consumed = before.size() - rest.size();
    Check(consumed == field.size() + 1 ? before[field.size()] == ','
                                       : consumed == field.size() && rest.empty());
  }

  // Slot 0 is never written; a sentinel there shows a stray write.
  acquisition::PulseData pulses;
  pulses.Ch1Intervals.fill(-1);
  pulses.Ch2Intervals.fill(-1);
  std::vector<std::string> memo;
  bool decoded = false;
  try {
    decoded =
        acquisition::DecodeSampleReply(rx, pulses, &memo) == acquisition::DecodeOutcome::kDecoded;
  } catch (const common::Error&) {
  }
  for (const int64_t count : {pulses.Ch1Count, pulses.Ch2Count}) {
    Check(count >= INT32_MIN && count <= acquisition::kMaxIntervals + 1);
  }
  Check(pulses.Ch1Intervals[0] == -1 && pulses.Ch2Intervals[0] == -1);
  if (decoded) {
    // Every line taken consumes one LF, so no more records can be accepted than there are LFs;
    // the last entry is that count.
    Check(!memo.empty());
    const std::string& accepted = memo.back();
    Check(!accepted.empty() && accepted.find_first_not_of("0123456789") == std::string::npos);
    size_t line_feeds = 0;
    for (const char c : rx) line_feeds += c == '\n';
    Check(std::stoull(accepted) <= line_feeds);
    for (size_t i = 0; i + 1 < memo.size(); ++i) Check(memo[i].size() <= rx.size());
  }
  return 0;
}
