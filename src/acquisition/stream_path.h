#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "acquisition/pulse_data.h"
#include "acquisition/stream_log.h"
#include "acquisition/stream_ring.h"

// The whole path of the stream words behind the sockets: the ring, the stream log and its
// previous word, and the flag that drops the first datagram of a start. The receiving thread
// feeds words in and the window thread takes its display window out, so every call holds the
// path's lock for its duration; none of them waits on anything but that lock and the log file.
namespace acquisition {

// The log step runs before a write would leave more unlogged words than this in the ring, so
// the ring never overwrites a word the log has not taken while the log is open.
inline constexpr int kUnloggedLimit = 20000;

// What a run met besides its words, counted from its start: words lost (overwritten in the ring
// before the log took them, dropped by the system before the socket, refused by the full queue
// behind it), datagrams from other senders refused, and bytes that made no whole word (past
// the last whole word of a datagram, part of a word left when a TCP stream's link closed).
struct StreamCounts {
  uint64_t lost_words = 0;
  uint64_t foreign_datagrams = 0;
  uint64_t stray_bytes = 0;
  bool operator==(const StreamCounts&) const = default;
};

// What the window learns from the path since it last asked: the log's repeated words (one tone
// each), failed log writes (each text once per streaming period), and the run's counts.
struct StreamNotices {
  int repeats = 0;
  std::vector<std::string> errors;
  StreamCounts counts;
};

// Hears every line of the log once it is in the file, in order, as the lines' values: the first
// line of a run included, and none that a failed write lost. Called with the path's lock held,
// on the thread that runs the log step; it must not call back into the path.
using LogSink = std::function<void(std::span<const int64_t> deltas)>;

class StreamPath {
 public:
  // The sink of the logged words, for the whole-run figures; none unless set.
  void SetLogSink(LogSink sink);

  // Start-up: ring cursors to 0; the slots keep their words.
  void ResetCursors();

  // The first steps of a start: cursors to 0, the counts to 0, the next datagram dropped.
  void BeginStream();
  // Opens the run's log (see StreamLog: the file at `path` is replaced only by the run's first
  // line). Throws common::Error("Cannot create ...") and leaves it closed. Words are kept only
  // while a log is open.
  void OpenLog(const std::string& path);
  bool LogOpen() const;
  // The run's log has taken a line, so it has replaced the file at its path. Kept after the
  // close until the next OpenLog.
  bool LogStarted() const;
  // Logs every word still in the ring, then closes the log and sets the cursors to 0. A failed
  // tail write is handed back (empty when none) so the caller can finish its own stop steps; a
  // failed close throws common::Error at once, with the cursors already reset.
  std::string StopStream();
  // The window is closing: logs the tail and closes the log. Throws common::Error on failure.
  void CloseLog();

  // One UDP datagram of the instrument: dropped whole when it is the first datagram of a start
  // that holds a byte, else its whole words go in and the 1 to 3 bytes past them are counted.
  // Returns the words appended. Any thread.
  size_t Datagram(std::span<const uint8_t> bytes);
  // Whole words of `bytes` (length / 4 of them) into the ring, in pieces with the log step
  // between them so no write passes kUnloggedLimit unlogged words. Without an open log (TCP
  // words that come after a stop) the words are not kept and not counted. Returns the words
  // appended.
  size_t Feed(std::span<const uint8_t> bytes);
  // The binary step of the TCP link: Feed on the whole words at the front of `rx`, which keeps
  // the 0 to 3 bytes of an incomplete word.
  size_t MoveWords(std::string& rx);

  // The stream log step: every word since the last step, and the buffered lines written out
  // once they have waited kLogFlushAfter. A failed write becomes a notice; after it the words
  // leave the ring unlogged (the run has ended early).
  void LogStep();
  // The stream window step for a pass of `n` words, then the log step. The window holds only
  // words of this run: with fewer than n + 10 of them it is shorter, and with fewer than 11 it
  // is not taken (Ch1Count stays as it was). A failed log write found here is thrown as
  // common::Error after the window has been taken (the pass's own error); it is not repeated as
  // a notice.
  void TakeWindow(int n, PulseData& data);

  // Datagrams lost before the socket or the path (from the receiver), counted as lost words of
  // `words_each`.
  void AddSocketDrops(uint64_t datagrams, uint64_t words_each);
  // Datagrams from other senders the receiver refused.
  void AddForeignDatagrams(uint64_t datagrams);
  // Bytes that made no whole word outside a datagram (a TCP stream's last part word).
  void AddStrayBytes(uint64_t bytes);

  // What happened since the last call (window thread).
  StreamNotices TakeNotices();

  // Words that entered the ring since the start, for figures.
  uint64_t WordsIn() const;
  int RingWrite() const;
  int RingDisplay() const;
  int RingLog() const;
  int RingFillCount() const;
  int Unlogged() const;
  uint64_t LostWords() const;
  StreamCounts Counts() const;
  bool SkipNextDatagram() const;
  std::string LogPath() const;
  // Lines the log's file holds (as StreamLog::LinesWritten), kept after the close.
  int64_t LogLines() const;
  // The first failed log write or close since the log was opened, empty when none.
  std::string LogFailure() const;

  // Buffered log lines are written out once they are this old, so the file and the figures fed
  // from it keep up with a slow stream.
  static constexpr std::chrono::milliseconds kLogFlushAfter{200};

 private:
  void LogStepLocked(bool throw_errors);
  void WriteLines();
  void HandOverLines();
  std::string LogTail();
  void CloseLocked();
  int UnloggedLocked() const;
  StreamCounts CountsLocked() const;

  mutable std::mutex mutex_;
  StreamRing ring_;
  StreamLog log_;
  int64_t log_prev_stamp_ = 0;
  bool skip_next_datagram_ = true;
  uint64_t socket_lost_words_ = 0;
  uint64_t foreign_datagrams_ = 0;
  uint64_t stray_bytes_ = 0;
  uint64_t words_in_ = 0;
  int repeats_ = 0;
  std::vector<std::string> errors_;
  std::vector<std::string> reported_;  // failure texts already handed out in this period
  std::string first_failure_;
  LogSink sink_;
  std::vector<int64_t> unwritten_;  // the log's lines not yet in its file, for the sink
  int64_t handed_over_ = 0;         // lines of the file the sink has heard
};

}  // namespace acquisition
