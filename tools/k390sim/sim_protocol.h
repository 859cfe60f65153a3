#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// The instrument's side of the text protocol: recognising requests and formatting replies, and
// the binary stream words. Toolkit-free; the server feeds it the bytes of one connection.
namespace k390sim {

// Largest sample count the simulator answers. The desktop tool asks for 10 to 3000; the bound
// keeps a mistyped count from making the simulator build a reply of gigabytes.
inline constexpr int64_t kMaxSamples = 100000;

enum class RequestKind { kSample, kStream, kInvalid };

struct Request {
  RequestKind kind = RequestKind::kInvalid;
  bool dual = false;    // sample request for both channels
  int64_t count = 0;    // samples per channel
  int mode = 0;         // stream mode: 0 stop, 1 UDP, 2 TCP
  std::string problem;  // why a request is invalid, for the log and the error reply
};

// Bytes from the front of `rx` up to and including the first "</K390>", 0 while no request is
// complete. Requests carry no terminator, so the end tag is the only framing.
size_t RequestLength(std::string_view rx);

// Parses one complete request. Only the exact texts the desktop tool sends are accepted:
// "<K390><CH1><HEXPULSE>" count "</HEXPULSE></CH1></K390>", "<K390><HEXPULSE>" count
// "</HEXPULSE></K390>" with a decimal count of 1 to kMaxSamples (leading zeros allowed), and
// "<K390><STREAM>" digit "</STREAM></K390>" with the digit 0, 1 or 2.
Request ParseRequest(std::string_view text);

// "<K390><SAMPLES>" count1 "," count2 "</SAMPLES>" CR LF, then one record per stamp,
// "index,stamp1,stamp2" CR LF in uppercase hex, then "</K390>" with no line break. With `ch2`
// empty the reply is for channel 1 only: count 2 and every stamp 2 are 0. Otherwise `ch2`
// must be as long as `ch1`. `malformed` cuts the middle record down to two fields, which the
// desktop tool must reject with a conversion error. `records` (when below the stamp count)
// ends the records early while the header still announces every stamp: a reply cut short.
std::string FormatSampleReply(std::span<const uint64_t> ch1, std::span<const uint64_t> ch2,
                              bool malformed, size_t records = std::numeric_limits<size_t>::max());

// "<K390><STREAM>" CR LF status CR LF "</STREAM></K390>": the status digit is the third byte
// after the tag's ">". It is 1 while a stream runs, over either transport, and 0 once stopped:
// the desktop tool reads its link as binary stream words exactly when that byte is 1, so
// echoing the mode digit 2 of a TCP stream would leave every word stuck as text.
std::string FormatStreamAck(bool streaming);

// A reply whose first line has no "<SAMPLES>", so the desktop tool ends its pass quietly.
std::string FormatErrorReply(std::string_view problem);

struct StreamShape {
  int64_t repeat_every = 0;  // every this many words, send the last word once more; 0: never
  int64_t drop_every = 0;    // leave out every this many pulses; 0: never
  int64_t max_words = 0;     // stop after this many words on the wire; 0: no limit
};

// Turns channel 1 stamps into the words of a stream: the low 32 bits of each stamp, with the
// deliberate repeats and gaps of StreamShape so that a receiver's handling of them can be
// tested.
class StreamWords {
 public:
  explicit StreamWords(const StreamShape& shape) : shape_(shape) {}

  // Appends the words for one more pulse to `out` (none, one, or two for a repeat).
  void AddPulse(uint64_t stamp, std::vector<uint32_t>& out);

  bool Finished() const { return shape_.max_words > 0 && words_sent_ >= shape_.max_words; }
  int64_t WordsSent() const { return words_sent_; }

 private:
  void Emit(uint32_t word, std::vector<uint32_t>& out);

  StreamShape shape_;
  int64_t pulses_ = 0;
  int64_t distinct_words_ = 0;
  int64_t words_sent_ = 0;
};

// Four bytes per word, least significant first.
void AppendWordBytes(std::span<const uint32_t> words, std::string& out);

}  // namespace k390sim
