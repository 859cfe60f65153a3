#pragma once

#include <istream>
#include <ostream>
#include <string>

namespace analysis {

inline constexpr int kResampleMaxLines = 10000;

// Smooths a stream log (one delta in ticks per line; CR LF, LF or a lone CR ends a line) over a
// 9-point raised-cosine window. The first line is skipped; each output line "x,a" CR LF pairs the
// centre delta x with the smoothed value a, at most 10,000 lines. Throws common::Error on a line
// that is not a signed 32-bit integer (reading past the end gives the empty text) or when writing
// fails; lines written before stay. Returns the number of lines written. Any thread.
int ResampleStream(std::istream& in, std::ostream& out);

// ResampleStream from the file `stream_path` into `out_path`. The log is read whole before the
// output is touched; the output is then replaced in one step through "<out_path>.tmp", also
// when a bad line ends the smoothing (it then holds the lines before that line). Throws
// common::Error with the file's name and the system's reason when the log cannot be read (a
// folder included), when the output cannot be written, and when the output is the log itself
// (both files are then left as they were). Any thread.
void ResampleLog(const std::string& stream_path, const std::string& out_path);

}  // namespace analysis
