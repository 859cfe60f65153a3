#pragma once

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

// What the window learns from the path since it last asked: the log's repeated words (one tone
// each), failed log writes (each text once per streaming period), and the words lost since the
// start, in the ring or before the socket.
struct StreamNotices {
  int repeats = 0;
  std::vector<std::string> errors;
  uint64_t lost_words = 0;
};

// Hears every word the log step writes, in order, as the log's line values: the first line
// of a run included. Called with the path's lock held, on the thread that runs the log step;
// it must not call back into the path.
using LogSink = std::function<void(std::span<const int64_t> deltas)>;

class StreamPath {
 public:
  // The sink of the logged words, for the whole-run figures; none unless set.
  void SetLogSink(LogSink sink);

  // Start-up: ring cursors to 0; the slots keep their words.
  void ResetCursors();

  // The first steps of a start: cursors to 0, the lost count to 0, the next datagram dropped.
  void BeginStream();
  // Creates or empties the log. Throws common::Error("Cannot create ...") and leaves it closed.
  void OpenLog(const std::string& path);
  bool LogOpen() const;
  // Logs every word still in the ring, then closes the log and sets the cursors to 0. A failed
  // tail write is handed back (empty when none) so the caller can finish its own stop steps; a
  // failed close throws common::Error at once, with the cursors already reset.
  std::string StopStream();
  // The window is closing: logs the tail and closes the log. Throws common::Error on failure.
  void CloseLog();

  // One UDP datagram: dropped whole when it is the first of a start, else its whole words go in.
  // Returns the words appended. Any thread.
  size_t Datagram(std::span<const uint8_t> bytes);
  // Whole words of `bytes` (length / 4 of them) into the ring, in pieces with the log step
  // between them so no write passes kUnloggedLimit unlogged words. Returns the words appended.
  size_t Feed(std::span<const uint8_t> bytes);
  // The binary step of the TCP link: Feed on the whole words at the front of `rx`, which keeps
  // the 0 to 3 bytes of an incomplete word.
  size_t MoveWords(std::string& rx);

  // The stream log step: every word since the last step. A failed write becomes a notice.
  void LogStep();
  // The stream window step for a pass of `n` words, then the log step. A failed log write
  // found here is thrown as common::Error after the window has been taken (the pass's own
  // error); it is not repeated as a notice.
  void TakeWindow(int n, PulseData& data);

  // Datagrams the kernel dropped before the socket (from the receiving thread), counted as lost
  // words of `words_each`.
  void AddSocketDrops(uint64_t datagrams, uint64_t words_each);

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
  bool SkipNextDatagram() const;
  std::string LogPath() const;
  // Lines the log's file holds (as StreamLog::LinesWritten), kept after the close.
  int64_t LogLines() const;
  // The first failed log write or close since the log was opened, empty when none.
  std::string LogFailure() const;

 private:
  void LogStepLocked(bool throw_errors);
  void LogTailAndClose();
  int UnloggedLocked() const;

  mutable std::mutex mutex_;
  StreamRing ring_;
  StreamLog log_;
  int64_t log_prev_stamp_ = 0;
  bool skip_next_datagram_ = true;
  uint64_t socket_lost_words_ = 0;
  uint64_t words_in_ = 0;
  int repeats_ = 0;
  std::vector<std::string> errors_;
  std::vector<std::string> reported_;  // failure texts already handed out in this period
  std::string first_failure_;
  LogSink sink_;
  std::vector<int64_t> logged_;  // the words of the current log step, for the sink
};

}  // namespace acquisition
