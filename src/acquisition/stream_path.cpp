#include "acquisition/stream_path.h"

#include <algorithm>

#include "common/error.h"

namespace acquisition {

void StreamPath::ResetCursors() {
  std::lock_guard lock(mutex_);
  ring_.ResetCursors();
}

void StreamPath::BeginStream() {
  std::lock_guard lock(mutex_);
  ring_.ResetCursors();
  ring_.ResetLostWords();
  socket_lost_words_ = 0;
  foreign_datagrams_ = 0;
  stray_bytes_ = 0;
  words_in_ = 0;
  skip_next_datagram_ = true;
  reported_.clear();
}

void StreamPath::OpenLog(const std::string& path) {
  std::lock_guard lock(mutex_);
  first_failure_.clear();
  unwritten_.clear();
  handed_over_ = 0;
  log_.Open(path);
}

void StreamPath::SetLogSink(LogSink sink) {
  std::lock_guard lock(mutex_);
  sink_ = std::move(sink);
}

int64_t StreamPath::LogLines() const {
  std::lock_guard lock(mutex_);
  return log_.LinesWritten();
}

std::string StreamPath::LogFailure() const {
  std::lock_guard lock(mutex_);
  return first_failure_;
}

bool StreamPath::LogOpen() const {
  std::lock_guard lock(mutex_);
  return log_.IsOpen();
}

bool StreamPath::LogStarted() const {
  std::lock_guard lock(mutex_);
  return log_.Started();
}

// Closes the log; a failed close is the run's failure too, and throws.
void StreamPath::CloseLocked() {
  try {
    log_.Close();
  } catch (const common::Error& error) {
    if (first_failure_.empty()) first_failure_ = error.Message();
    HandOverLines();
    throw;
  }
  HandOverLines();
}

std::string StreamPath::LogTail() {
  if (!log_.IsOpen()) return {};
  try {
    LogStepLocked(true);
  } catch (const common::Error& error) {
    return error.Message();
  }
  return {};
}

std::string StreamPath::StopStream() {
  std::lock_guard lock(mutex_);
  const std::string tail_error = LogTail();
  ring_.ResetCursors();
  CloseLocked();
  return tail_error;
}

void StreamPath::CloseLog() {
  std::lock_guard lock(mutex_);
  const std::string tail_error = LogTail();
  CloseLocked();
  if (!tail_error.empty()) throw common::Error(tail_error);
}

size_t StreamPath::Datagram(std::span<const uint8_t> bytes) {
  {
    std::lock_guard lock(mutex_);
    if (!log_.IsOpen()) return 0;
    // An empty datagram carries nothing, so it cannot be the one a start leaves out.
    if (bytes.empty()) return 0;
    if (skip_next_datagram_) {
      skip_next_datagram_ = false;
      return 0;
    }
    stray_bytes_ += bytes.size() % 4;
  }
  return Feed(bytes);
}

size_t StreamPath::Feed(std::span<const uint8_t> bytes) {
  std::lock_guard lock(mutex_);
  if (!log_.IsOpen()) return 0;
  const size_t words = bytes.size() / 4;
  size_t done = 0;
  while (done < words) {
    // Only as many words as keep the unlogged count within the limit; then the log makes room.
    int free = kUnloggedLimit - UnloggedLocked();
    if (free <= 0) {
      LogStepLocked(false);
      free = std::max(kUnloggedLimit - UnloggedLocked(), 1);
    }
    const size_t room = std::min(words - done, static_cast<size_t>(free));
    for (size_t i = 0; i < room; ++i) ring_.Append(WordFromBytes(bytes.data() + 4 * (done + i)));
    done += room;
  }
  words_in_ += words;
  return words;
}

size_t StreamPath::MoveWords(std::string& rx) {
  const size_t words = rx.size() / 4;
  if (words == 0) return 0;
  Feed(std::span(reinterpret_cast<const uint8_t*>(rx.data()), 4 * words));
  rx.erase(0, 4 * words);
  return words;
}

void StreamPath::LogStep() {
  std::lock_guard lock(mutex_);
  if (log_.IsOpen()) LogStepLocked(false);
}

void StreamPath::LogStepLocked(bool throw_errors) {
  try {
    WriteLines();
  } catch (const common::Error& error) {
    HandOverLines();
    const std::string text = error.Message();
    if (first_failure_.empty()) first_failure_ = text;
    // A full disk fails every later write the same way; the operator hears of it once.
    if (std::find(reported_.begin(), reported_.end(), text) != reported_.end()) return;
    reported_.push_back(text);
    if (throw_errors) throw;
    errors_.push_back(text);
    return;
  }
  HandOverLines();
}

// The words since the last step into the log. After the log has failed they leave the ring
// unwritten: a line after a hole would pass for the next interval.
void StreamPath::WriteLines() {
  const bool failed = !log_.Failure().empty();
  acquisition::LogStep(
      ring_, log_prev_stamp_,
      [this, failed](uint64_t delta) {
        if (failed) return;
        if (sink_) unwritten_.push_back(static_cast<int64_t>(delta));
        log_.WriteDelta(delta);
      },
      [this] { ++repeats_; });
  if (!failed && log_.FlushDue(StreamLog::Clock::now(), kLogFlushAfter)) log_.Flush();
}

// The sink hears the lines the file has taken since it last heard, and the lines a failed write
// lost are dropped with it.
void StreamPath::HandOverLines() {
  const int64_t in_file = log_.LinesWritten();
  const auto count = static_cast<size_t>(std::max<int64_t>(0, in_file - handed_over_));
  if (sink_ && count > 0) {
    sink_(std::span<const int64_t>(unwritten_.data(), std::min(count, unwritten_.size())));
  }
  const auto heard = static_cast<std::ptrdiff_t>(std::min(count, unwritten_.size()));
  unwritten_.erase(unwritten_.begin(), unwritten_.begin() + heard);
  handed_over_ = in_file;
  if (!log_.Failure().empty()) unwritten_.clear();
}

void StreamPath::TakeWindow(int n, PulseData& data) {
  std::lock_guard lock(mutex_);
  // The slots before this run's first word hold an earlier run's words or zeros; a window that
  // reached them would mix them into this run's figures.
  const uint64_t available = std::min<uint64_t>(words_in_, kRingSlots);
  const int longest = available < 11 ? -1 : static_cast<int>(available - 10);
  if (longest >= 1) acquisition::TakeWindow(ring_, std::min(ClampWindow(n), longest), data);
  if (log_.IsOpen()) LogStepLocked(true);
}

void StreamPath::AddSocketDrops(uint64_t datagrams, uint64_t words_each) {
  std::lock_guard lock(mutex_);
  socket_lost_words_ += datagrams * words_each;
}

void StreamPath::AddForeignDatagrams(uint64_t datagrams) {
  std::lock_guard lock(mutex_);
  foreign_datagrams_ += datagrams;
}

void StreamPath::AddStrayBytes(uint64_t bytes) {
  std::lock_guard lock(mutex_);
  stray_bytes_ += bytes;
}

StreamCounts StreamPath::CountsLocked() const {
  return {ring_.LostWords() + socket_lost_words_, foreign_datagrams_, stray_bytes_};
}

StreamNotices StreamPath::TakeNotices() {
  std::lock_guard lock(mutex_);
  StreamNotices notices;
  notices.repeats = repeats_;
  notices.errors.swap(errors_);
  notices.counts = CountsLocked();
  repeats_ = 0;
  return notices;
}

int StreamPath::UnloggedLocked() const {
  const int unlogged = ring_.RingWrite() - ring_.RingLog();
  return unlogged < 0 ? unlogged + kRingSlots : unlogged;
}

uint64_t StreamPath::WordsIn() const {
  std::lock_guard lock(mutex_);
  return words_in_;
}
int StreamPath::RingWrite() const {
  std::lock_guard lock(mutex_);
  return ring_.RingWrite();
}
int StreamPath::RingDisplay() const {
  std::lock_guard lock(mutex_);
  return ring_.RingDisplay();
}
int StreamPath::RingLog() const {
  std::lock_guard lock(mutex_);
  return ring_.RingLog();
}
int StreamPath::RingFillCount() const {
  std::lock_guard lock(mutex_);
  return ring_.RingFillCount();
}
int StreamPath::Unlogged() const {
  std::lock_guard lock(mutex_);
  return UnloggedLocked();
}
uint64_t StreamPath::LostWords() const {
  std::lock_guard lock(mutex_);
  return CountsLocked().lost_words;
}
StreamCounts StreamPath::Counts() const {
  std::lock_guard lock(mutex_);
  return CountsLocked();
}
bool StreamPath::SkipNextDatagram() const {
  std::lock_guard lock(mutex_);
  return skip_next_datagram_;
}
std::string StreamPath::LogPath() const {
  std::lock_guard lock(mutex_);
  return log_.Path();
}

}  // namespace acquisition
