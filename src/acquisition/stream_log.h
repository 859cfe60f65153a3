#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

// The stream log "stream.dat": one unsigned decimal delta in ticks per line, CR LF endings, no
// header. Lines are gathered in a 64 KiB buffer, so the file on disk lags behind until the
// buffer fills or the log is closed. Window thread only.
namespace acquisition {

inline constexpr std::string_view kStreamLogName = "stream.dat";

class StreamLog {
 public:
  StreamLog() = default;
  StreamLog(const StreamLog&) = delete;
  StreamLog& operator=(const StreamLog&) = delete;
  ~StreamLog();  // closes without reporting errors

  // Creates the file or empties it. Throws common::Error("Cannot create \"<path>\": <reason>").
  // A log that is already open is closed first.
  void Open(const std::string& path);

  // One line. Throws common::Error("Cannot write \"<path>\": <reason>") when the buffer cannot
  // be written out, or when the log is not open.
  void WriteDelta(uint64_t delta);

  // Writes out the buffer and closes the file; the log is closed afterwards even when that
  // fails. Throws common::Error when writing fails or the log was not open.
  void Close();

  bool IsOpen() const { return file_ != nullptr; }
  // Lines handed to the file without an error since the log was opened; the lines of a buffer
  // whose write failed are not among them. Kept after the close.
  int64_t LinesWritten() const { return lines_written_; }
  const std::string& Path() const { return path_; }

 private:
  void WriteOut();

  static constexpr size_t kBufferSize = 64 * 1024;
  std::FILE* file_ = nullptr;
  std::string path_;
  std::string buffer_;
  int64_t lines_buffered_ = 0;
  int64_t lines_written_ = 0;
};

}  // namespace acquisition
