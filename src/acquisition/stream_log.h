#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

// The stream log "stream.dat": one unsigned decimal delta in ticks per line, CR LF endings, no
// header. A run's log takes the place of the file of its name only with its first line: until
// then it is "<name>.tmp" beside that file, renamed over it as the first line comes in, so a
// start that never gets a word leaves the previous log as it was (a name that is a device or a
// pipe is written to directly). Lines gather in a 64 KiB buffer that is written out when it
// fills, when Flush is called and at the close. The file holds whole lines only: a write that
// fails part-way is cut back to its last whole line, and the log then takes no more lines, since
// they would follow a hole. One thread at a time.
namespace acquisition {

inline constexpr std::string_view kStreamLogName = "stream.dat";

class StreamLog {
 public:
  using Clock = std::chrono::steady_clock;

  StreamLog() = default;
  StreamLog(const StreamLog&) = delete;
  StreamLog& operator=(const StreamLog&) = delete;
  ~StreamLog();  // closes without reporting errors

  // Creates the log's temporary file beside `path`; the file at `path` is not touched. Throws
  // common::Error("Cannot create \"<path>\": <reason>"), also when `path` is a folder. A log
  // that is already open is closed first.
  void Open(const std::string& path);

  // One line. The first replaces the file at the path. Throws common::Error("Cannot write
  // \"<path>\": <reason>") when the rename or a write fails, and when the log is not open or
  // has failed before.
  void WriteDelta(uint64_t delta);
  // Writes the buffered lines out now. Throws as WriteDelta.
  void Flush();
  // Buffered lines have waited longer than `after`.
  bool FlushDue(Clock::time_point now, Clock::duration after) const;

  // Writes out the buffer and closes the file; the log is closed afterwards even when that
  // fails. A log that took no line removes its temporary file, so the file at the path stays as
  // it was. Throws common::Error when writing fails (a failure already thrown is not thrown
  // again) or the log was not open.
  void Close();

  bool IsOpen() const { return fd_ >= 0; }
  // The log has taken its first line and so replaced the file at its path. Kept after the close.
  bool Started() const { return started_; }
  // Whole lines in the file. Kept after the close.
  int64_t LinesWritten() const { return lines_written_; }
  // The first failure of this log, empty when none. Kept after the close.
  const std::string& Failure() const { return failure_; }
  const std::string& Path() const { return path_; }

 private:
  void Start();
  void WriteOut();
  [[noreturn]] void Fail(int error);

  static constexpr size_t kBufferSize = 64 * 1024;
  int fd_ = -1;
  bool direct_ = false;  // a device or pipe: written in place, nothing to rename
  std::string path_;     // as given, for messages and the caller
  std::string target_;   // the file the log replaces (a symbolic link's target)
  std::string temp_;     // where the log is written until its first line
  std::string buffer_;
  Clock::time_point buffered_since_{};
  bool started_ = false;
  int64_t file_bytes_ = 0;
  int64_t lines_written_ = 0;
  int64_t lines_buffered_ = 0;
  std::string failure_;
};

}  // namespace acquisition
