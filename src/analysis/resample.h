#pragma once

#include <istream>
#include <ostream>
#include <string>

namespace analysis {

inline constexpr int kResampleMaxLines = 10000;

// Smooths a stream log (one delta in ticks per line, CR LF or LF endings) over a 9-point
// raised-cosine window. The first line is skipped; each output line "x,a" CR LF pairs the centre
// delta x with the smoothed value a, at most 10,000 lines. Throws common::Error on a line that
// is not a signed 32-bit integer (reading past the end gives the empty text) or when writing
// fails; lines written before stay. Returns the number of lines written. Any thread.
int ResampleStream(std::istream& in, std::ostream& out);

// ResampleStream from the file `stream_path` into `out_path`, created or emptied. The output is
// not touched when the log cannot be opened. Throws common::Error with the file's name when a
// file cannot be opened, created, read or written. Both files are closed however it ends.
void ResampleLog(const std::string& stream_path, const std::string& out_path);

}  // namespace analysis
