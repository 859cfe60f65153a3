#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The one reader of a sample reply: the header line "<SAMPLES>count1,count2</SAMPLES>", then
// records "index,stamp1,stamp2" in hexadecimal. A record whose index is not the next one is
// skipped without reading its stamps. The cursor walks the text once and says what it met: the
// header's counts, the records taken so far and, at a field that does not convert, its line and
// field. The window's decoder, the timing commands' intervals and the two-channel stamps are
// views of it. A plain value over the caller's text; any thread.
namespace acquisition {

// How the text is cut into lines.
enum class ReplyFraming {
  // As the link hands a reply to the window: a line ends at its first CR and the text is
  // consumed through the first LF (an LF ahead of the CR brings the bytes between them round
  // again as the next line). A rest with no CR, or with a CR but no LF after it, is the closing
  // remainder: met, not parsed. Blank lines and "</K390>" are read as records.
  kLink,
  // As a file keeps it: LF, CR LF and CR all end a line; blank record lines are skipped and a
  // record line holding "</K390>" ends the reply. The first line is the header whatever it holds.
  kFile,
};

// One record taken, its stamps as sent (two's complement, 64 bits).
struct ReplyRecord {
  int64_t index = 0;  // 0-based: the records taken before it
  int64_t stamp1 = 0;
  int64_t stamp2 = 0;
};

// A field that did not convert.
struct ReplyFault {
  int64_t line = 0;     // 1-based, the header line first
  std::string field;    // "count 1", "count 2", "index", "stamp 1" or "stamp 2"
  std::string message;  // the conversion's ("'$2G' is not a valid integer value")
  // "Reply line 3, stamp 1: '$2G' is not a valid integer value".
  std::string Text() const;
};

enum class ReplyHeader {
  kCounts,      // read; Count1 and Count2 hold them
  kNoLine,      // the text ends before a whole line (kLink: the rest is the closing remainder)
  kNotSamples,  // the first line holds no "<SAMPLES>"
  kFault,       // a count does not convert (Fault)
};

class ReplyCursor {
 public:
  // `lines_met`, when given, gets every line the cursor cuts (the closing remainder too), each
  // before it is parsed, so a fault's line is the last one there.
  ReplyCursor(std::string_view text, ReplyFraming framing,
              std::vector<std::string>* lines_met = nullptr);

  // Reads the first line. Count 1 is the text from the tag to the line's first comma, count 2
  // from that comma to "</SAMPLES>"; a missing comma or end tag leaves a count empty, which does
  // not convert.
  ReplyHeader ReadHeader();
  // The next record in index order; nullopt at the end of the reply or at a field that does not
  // convert (Fault). Call after ReadHeader gave kCounts.
  std::optional<ReplyRecord> Next();

  int32_t Count1() const { return count1_; }
  int32_t Count2() const { return count2_; }
  int64_t Held() const { return held_; }
  const std::optional<ReplyFault>& Fault() const { return fault_; }
  // Throws common::Error(Fault()->Text()) when there is a fault.
  void ThrowFault() const;

 private:
  std::optional<std::string_view> NextLine();
  std::optional<std::string_view> NextLinkLine();
  std::optional<std::string_view> NextFileLine();
  template <class Convert>
  bool Field(std::string_view text, const char* name, Convert convert, int64_t& out);

  std::string_view text_;
  ReplyFraming framing_;
  std::vector<std::string>* lines_met_;
  size_t pos_ = 0;
  int64_t line_ = 0;
  bool ended_ = false;
  // The first `c` at or after a position, found once and kept while it lies ahead (the cursor
  // only moves forward), so the kLink cut stays linear even when one CR sits behind many LFs.
  struct NextByte {
    char c;
    size_t found = std::string_view::npos;
    bool searched = false;
    size_t From(std::string_view text, size_t from);
  };
  NextByte cr_{'\r'};
  NextByte lf_{'\n'};
  int32_t count1_ = 0;
  int32_t count2_ = 0;
  int64_t held_ = 0;
  std::optional<ReplyFault> fault_;
};

}  // namespace acquisition
