#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Reading every value of a timing input, with no cap on its length: the pulse intervals of a
// raw instrument reply, of a loaded list, or of a stream log, and phase or frequency values one
// a line. LF, CR LF and CR all end a line. A value that does not convert throws common::Error
// whose message names the 1-based line. Any thread.
namespace analysis {

// Calls `line` with each line's 1-based number and its text without the line end. A last
// line without a line end counts; nothing after the last line end does.
template <class Line>
void ForEachLine(std::string_view text, Line&& line) {
  int64_t number = 0;
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string_view::npos) {
      line(++number, text.substr(pos));
      return;
    }
    line(++number, text.substr(pos, end - pos));
    pos = end + 1;
    if (text[end] == '\r' && pos < text.size() && text[pos] == '\n') ++pos;
  }
}

// "line N: <message>", the form of every reading error below.
std::string LineMessage(int64_t number, std::string_view message);

// Channel 1 intervals of a raw sample reply in ticks, read as a file keeps it
// (acquisition::ReplyCursor, ReplyFraming::kFile): record k ends interval k when
// 1 <= k < the channel 1 count, by the 32-bit delta rule. A first line without "<SAMPLES>"
// gives no intervals. A field that does not convert throws common::Error as the window's decoder
// words it ("Reply line 3, stamp 1: ..."), not "line N: ...".
std::vector<int64_t> ReplyIntervals(std::string_view reply);

// The values of a loaded comma list (one per line of its file, from line `first_line` on),
// decimal ticks.
std::vector<int64_t> ListIntervals(std::string_view list, int64_t first_line);

// The deltas of a stream log: every line after the first (which is no pulse interval),
// unsigned decimal ticks. Empty lines are skipped.
std::vector<int64_t> StreamLogIntervals(std::string_view log);

// StreamLogIntervals over a log that comes in pieces (a file read a block at a time), so the
// whole text is never held: each Parse takes the whole lines at the front of `text` and
// appends their deltas to `out`. A line end split over two pieces (CR, then LF) is waited for.
// About a nanosecond a byte: digits by std::from_chars straight from the piece, no copy.
class StreamLogParser {
 public:
  explicit StreamLogParser(std::vector<int64_t>& out) : out_(out) {}

  // The bytes of `text` taken; the rest (an unfinished line) belongs in front of the next
  // piece. With `last`, everything is taken. Throws common::Error("line N: '<line>' is not a
  // valid integer value") at a line that is not unsigned decimal digits below 2^63.
  size_t Parse(std::string_view text, bool last);
  // Lines met so far, the first one and empty ones included.
  int64_t Lines() const { return lines_; }

 private:
  std::vector<int64_t>& out_;
  int64_t lines_ = 0;
};

// Decimal values one a line, "#" lines and blank lines skipped; "NaN" (any case) stands for a
// missing point.
std::vector<double> ValueLines(std::string_view text);

}  // namespace analysis
