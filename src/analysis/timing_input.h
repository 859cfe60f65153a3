#pragma once

#include <cstdint>
#include <functional>
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
void ForEachLine(std::string_view text,
                 const std::function<void(int64_t number, std::string_view line)>& line);

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
// unsigned decimal ticks. Blank lines are skipped.
std::vector<int64_t> StreamLogIntervals(std::string_view log);

// Decimal values one a line, "#" lines and blank lines skipped; "NaN" (any case) stands for a
// missing point.
std::vector<double> ValueLines(std::string_view text);

}  // namespace analysis
