#pragma once

#include <string>

namespace persistence {

// analysis::ResampleText from the file `stream_path` into `out_path`. The log is read whole
// before the output is touched; the output is then replaced in one step through
// "<out_path>.tmp", also when a bad line ends the smoothing (it then holds the lines before that
// line, and the line's message is thrown after). Throws common::Error with the file's name and
// the system's reason when the log cannot be read (a folder included), when the output cannot be
// written, and when the output is the log itself (both files are then left as they were). Any
// thread.
void ResampleLog(const std::string& stream_path, const std::string& out_path);

}  // namespace persistence
