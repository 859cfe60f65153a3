// Feeds arbitrary received bytes through the reply framing and the sample reply decoding, the way
// the receive handler and the processing pass see them, and after an acknowledgement that
// switches the link to binary, the bytes behind it through the word step into the ring. A
// malformed reply may only end in common::Error; everything else (a crash, a sanitizer report, a
// count or slot out of range, a word lost or changed) aborts.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "acquisition/protocol.h"
#include "acquisition/pulse_data.h"
#include "acquisition/stream_ring.h"
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
  // The memo only records: without it the decoding comes to the same result.
  {
    acquisition::PulseData quiet;
    quiet.Ch1Intervals.fill(-1);
    quiet.Ch2Intervals.fill(-1);
    bool quiet_decoded = false;
    try {
      quiet_decoded = acquisition::DecodeSampleReply(rx, quiet, nullptr) ==
                      acquisition::DecodeOutcome::kDecoded;
    } catch (const common::Error&) {
    }
    Check(quiet_decoded == decoded && quiet.Ch1Count == pulses.Ch1Count &&
          quiet.Ch2Count == pulses.Ch2Count && quiet.Ch1Average == pulses.Ch1Average &&
          quiet.Ch2Average == pulses.Ch2Average && quiet.Ch1Intervals == pulses.Ch1Intervals &&
          quiet.Ch2Intervals == pulses.Ch2Intervals);
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

  // A complete acknowledgement that switches to binary: the bytes behind it are stream words.
  if (complete && acquisition::IsStreamAck(rx.substr(0, length)) &&
      acquisition::AckSetsBinary(rx.substr(0, length))) {
    static acquisition::StreamRing ring;  // 100 kB: kept off the stack
    ring.ResetCursors();
    std::string words(rx.substr(length));
    const size_t whole = words.size() / 4;
    const std::string last = whole == 0 ? std::string() : words.substr((whole - 1) * 4, 4);
    const size_t tail = words.size() % 4;
    Check(acquisition::MoveWords(ring, words) == whole);
    Check(words.size() == tail);
    if (whole > 0) {
      Check(ring.Slot(ring.RingWrite() - 1) ==
            acquisition::WordFromBytes(reinterpret_cast<const uint8_t*>(last.data())));
    }
  }
  return 0;
}
