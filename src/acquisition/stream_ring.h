#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "acquisition/pulse_data.h"

// The stream path's ring of 32-bit words (25 ns tick counts modulo 2^32, one per pulse) and the
// steps that fill and drain it. Nothing here is locked: StreamPath holds the ring under its own
// lock, so one thread at a time uses it (the UDP receiver's delivering thread, or the thread
// that runs the cycle).
namespace acquisition {

inline constexpr int kRingSlots = 25000;

// 25,000 slots, all 0 at start and never cleared afterwards, with a write cursor and two
// independent readers: the display window and the stream log.
class StreamRing {
 public:
  // Stores the word at RingWrite and advances it. The ring can hold at most 24,999 unread words
  // per reader: a write that would leave the log reader looking at an empty ring pushes RingLog
  // on by one instead and counts that word as lost; the display reader is pushed the same way,
  // uncounted, so RingFillCount saturates instead of wrapping to 0.
  void Append(uint32_t word);

  int RingWrite() const { return write_; }
  int RingDisplay() const { return display_; }
  int RingLog() const { return log_; }
  void SetRingDisplay(int slot) { display_ = Wrap(slot); }

  // Unread words for the display: RingWrite - RingDisplay, plus 25,000 when negative.
  int RingFillCount() const;

  // The word at the reader's cursor, zero-extended, and the cursor advanced.
  int64_t RingTakeDisplay();
  int64_t RingTakeLog();
  // Moves a reader's cursor back by one slot (a word it must read again later).
  void StepBackDisplay() { display_ = Wrap(display_ - 1); }
  void StepBackLog() { log_ = Wrap(log_ - 1); }

  // All three cursors to 0. The slots keep their words.
  void ResetCursors() { write_ = display_ = log_ = 0; }

  // Words overwritten before the log took them, since the last ResetLostWords.
  uint64_t LostWords() const { return lost_words_; }
  void ResetLostWords() { lost_words_ = 0; }

  uint32_t Slot(int slot) const { return slots_[static_cast<size_t>(Wrap(slot))]; }

  static int Wrap(int slot) {
    slot %= kRingSlots;
    return slot < 0 ? slot + kRingSlots : slot;
  }

 private:
  std::array<uint32_t, kRingSlots> slots_{};
  int write_ = 0;
  int display_ = 0;
  int log_ = 0;
  uint64_t lost_words_ = 0;
};

// The word of four bytes, least significant first.
inline uint32_t WordFromBytes(const uint8_t* bytes) {
  return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
         static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

// Appends the whole words of a UDP datagram (length / 4 of them); 1 to 3 trailing bytes are
// ignored. Returns the number of words appended.
size_t AppendDatagram(StreamRing& ring, std::span<const uint8_t> datagram);

// The binary step of the TCP link: moves the whole words at the front of `rx` into the ring and
// keeps the 0 to 3 bytes of an incomplete word at its front. Returns the number of words moved.
size_t MoveWords(StreamRing& ring, std::string& rx);

// The window size N (the sample count) within what the interval arrays and the ring allow.
int ClampWindow(int n);

// The stream window step: takes about N + 1 words ending 10 slots before RingWrite, skips up to
// 10 zero slots in front of the first real word, and stores the deltas (32-bit delta rule) in
// Ch1Intervals from index 1 with Ch2Intervals 0; adds them to Ch1Average; Ch1Count = deltas + 1,
// Ch2Count = 0. A repeated word is replaced by the next one; when the repeat is the newest word
// the step stops and leaves it unread. `n` is clamped with ClampWindow.
void TakeWindow(StreamRing& ring, int n, PulseData& data);

// The stream log step: every word since the last step, as the delta from the previous logged
// word (`log_prev`), handed to `write_delta`. A word equal to the previous one is replaced by
// the next word and `on_repeat` is called; a repeat that is the newest word waits for the next
// step. `write_delta` may throw, after the word has been consumed. Returns the lines written.
size_t LogStep(StreamRing& ring, int64_t& log_prev,
               const std::function<void(uint64_t delta)>& write_delta,
               const std::function<void()>& on_repeat);

}  // namespace acquisition
