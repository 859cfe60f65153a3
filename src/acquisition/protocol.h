#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "acquisition/pulse_data.h"
#include "acquisition/reply_cursor.h"

// The instrument's text protocol: request texts, reply framing, the stream acknowledgement and
// the sample reply decoding. Everything on the link is 8-bit text held in std::string.
// Called on the window's thread; nothing here keeps state between calls.
namespace acquisition {

// The instrument's endpoints: the TCP port it answers on, and the UDP port of this machine its
// stream datagrams go to. Both can be changed where the operator names them.
inline constexpr uint16_t kInstrumentTcpPort = 38253;
inline constexpr uint16_t kStreamUdpPort = 38257;

// How the stream words travel; the value is the stream command's mode digit.
enum class StreamTransport { kNone = 0, kUdp = 1, kTcp = 2 };

inline constexpr std::string_view kEndTag = "</K390>";
inline constexpr std::string_view kStreamTag = "<STREAM>";
inline constexpr std::string_view kSamplesTag = "<SAMPLES>";
inline constexpr std::string_view kSamplesEndTag = "</SAMPLES>";

// "<K390><HEXPULSE>" count "</HEXPULSE></K390>" when dual, else the same inside <CH1>...</CH1>.
// The count text is copied verbatim.
std::string SampleRequest(bool dual, std::string_view count_text);

// "<K390><STREAM>" mode "</STREAM></K390>", mode 0 (off), 1 (UDP) or 2 (TCP).
std::string StreamCommand(int mode);

// A reply is complete when the text holds "</K390>" anywhere.
bool IsCompleteReply(std::string_view rx);

// A complete reply holding "<STREAM>" anywhere is a stream acknowledgement.
bool IsStreamAck(std::string_view rx);

// The mode byte of an acknowledgement is the third byte after the first "<STREAM>" tag's ">".
// Binary stream mode is on exactly when that byte is '1'; a text that ends before it reads as
// off.
bool AckSetsBinary(std::string_view rx);

// Bytes from the front up to and including the first "</K390>"; 0 when there is none.
size_t ReplyLength(std::string_view rx);

// Takes the text before the first comma and advances `rest` past that comma; without a comma
// takes all of `rest`. Fields of any length are split at their own comma.
std::string_view PopField(std::string_view& rest);

enum class DecodeOutcome { kDecoded, kEndedEarly };

// Decodes a sample reply as the link hands it over (ReplyCursor, ReplyFraming::kLink). Sets
// Ch1Count and Ch2Count from the header, stores the intervals of the accepted records from slot 1
// on and adds them to the Ch1Average and Ch2Average sums. Appends every line (the closing remainder
// too), then the number of accepted records, to `memo` when given. Adds to the sums it is given
// (the pass zeroes them first). Records beyond slot 5000 are counted but not stored, and the counts
// used for the statistics never exceed 5001. A reply that holds fewer records than its header
// announces is taken for what it holds: both counts are cut to the records accepted, and
// `data.reply` says so (see ShortReplyText). Ends early, without the record count in the memo, when
// the first line has no "<SAMPLES>" or both counts are 0. Throws common::Error ("Reply line 3,
// stamp 1: '$<field>' is not a valid integer value") on a malformed field; what was written before
// stays written.
DecodeOutcome DecodeSampleReply(std::string_view work, PulseData& data,
                                std::vector<std::string>* memo);

// The stamps of both channels of a sample reply, in ticks on the one 40 MHz clock, for the
// analyses that relate the channels. Record k holds the k-th stamp of each channel side by
// side, so a channel's stamps are those of records 0 to its header count - 1 (fewer when fewer
// records came); the index of a stamp in its vector is its record index.
struct DualStamps {
  std::vector<int64_t> ch1;
  std::vector<int64_t> ch2;
};

// Reads a raw reply as kept in a file or received (ReplyCursor, ReplyFraming::kFile). No record
// limit. Each channel is unwrapped by the 32-bit delta rule
// from its first stamp; the first channel 2 stamp is placed against the first channel 1 stamp
// the short way round 2^32 when both fit in 32 bits (a wrapping counter), else by their plain
// difference, so both channels keep one time origin. A negative count reads as 0. A first line
// without "<SAMPLES>" gives no stamps. Throws common::Error as DecodeSampleReply does on a
// malformed count or field. Any thread.
DualStamps DecodeDualStamps(std::string_view reply);

// "reply ended early: <held> of <announced> records", for a reply whose records stopped short.
std::string ShortReplyText(const ReplyRecords& reply);

}  // namespace acquisition
