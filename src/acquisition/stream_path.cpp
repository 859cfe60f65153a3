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
  words_in_ = 0;
  skip_next_datagram_ = true;
  reported_.clear();
}

void StreamPath::OpenLog(const std::string& path) {
  std::lock_guard lock(mutex_);
  first_failure_.clear();
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

void StreamPath::LogTailAndClose() {
  std::string tail_error;
  if (log_.IsOpen()) {
    try {
      LogStepLocked(true);
    } catch (const common::Error& error) {
      tail_error = error.Message();
    }
  }
  log_.Close();
  if (!tail_error.empty()) throw common::Error(tail_error);
}

std::string StreamPath::StopStream() {
  std::lock_guard lock(mutex_);
  std::string tail_error;
  if (log_.IsOpen()) {
    try {
      LogStepLocked(true);
    } catch (const common::Error& error) {
      tail_error = error.Message();
    }
  }
  ring_.ResetCursors();
  log_.Close();
  return tail_error;
}

void StreamPath::CloseLog() {
  std::lock_guard lock(mutex_);
  LogTailAndClose();
}

size_t StreamPath::Datagram(std::span<const uint8_t> bytes) {
  {
    std::lock_guard lock(mutex_);
    if (skip_next_datagram_) {
      skip_next_datagram_ = false;
      return 0;
    }
  }
  return Feed(bytes);
}

size_t StreamPath::Feed(std::span<const uint8_t> bytes) {
  std::lock_guard lock(mutex_);
  const size_t words = bytes.size() / 4;
  size_t done = 0;
  while (done < words) {
    // Only as many words as keep the unlogged count within the limit; then the log makes room.
    // Without an open log (TCP words after a stop) nothing makes room and the ring overwrites.
    size_t room = words - done;
    if (log_.IsOpen()) {
      int free = kUnloggedLimit - UnloggedLocked();
      if (free <= 0) {
        LogStepLocked(false);
        free = std::max(kUnloggedLimit - UnloggedLocked(), 1);
      }
      room = std::min(room, static_cast<size_t>(free));
    }
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
  // The sink hears of a word once the log has taken it, and of none after the log first failed:
  // the words it counts are the run's lines up to the failure.
  const bool to_sink = sink_ && first_failure_.empty();
  logged_.clear();
  try {
    acquisition::LogStep(
        ring_, log_prev_stamp_,
        [this, to_sink](uint64_t delta) {
          log_.WriteDelta(delta);
          if (to_sink) logged_.push_back(static_cast<int64_t>(delta));
        },
        [this] { ++repeats_; });
    if (!logged_.empty()) sink_(logged_);
  } catch (const common::Error& error) {
    if (!logged_.empty()) sink_(logged_);
    const std::string text = error.Message();
    if (first_failure_.empty()) first_failure_ = text;
    // A full disk fails every later write the same way; the operator hears of it once.
    if (std::find(reported_.begin(), reported_.end(), text) != reported_.end()) return;
    reported_.push_back(text);
    if (throw_errors) throw;
    errors_.push_back(text);
  }
}

void StreamPath::TakeWindow(int n, PulseData& data) {
  std::lock_guard lock(mutex_);
  acquisition::TakeWindow(ring_, n, data);
  if (log_.IsOpen()) LogStepLocked(true);
}

void StreamPath::AddSocketDrops(uint64_t datagrams, uint64_t words_each) {
  std::lock_guard lock(mutex_);
  socket_lost_words_ += datagrams * words_each;
}

StreamNotices StreamPath::TakeNotices() {
  std::lock_guard lock(mutex_);
  StreamNotices notices;
  notices.repeats = repeats_;
  notices.errors.swap(errors_);
  notices.lost_words = ring_.LostWords() + socket_lost_words_;
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
  return ring_.LostWords() + socket_lost_words_;
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
