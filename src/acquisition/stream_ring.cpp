#include "acquisition/stream_ring.h"

#include <algorithm>

#include "common/ticks.h"

namespace acquisition {

void StreamRing::Append(uint32_t word) {
  slots_[static_cast<size_t>(write_)] = word;
  write_ = Wrap(write_ + 1);
  // A reader whose cursor equals RingWrite sees an empty ring, so catching up with it would
  // silently throw away a whole lap. Drop the reader's oldest word instead.
  if (write_ == log_) {
    log_ = Wrap(log_ + 1);
    ++lost_words_;
  }
  if (write_ == display_) display_ = Wrap(display_ + 1);
}

int StreamRing::RingFillCount() const {
  int fill = write_ - display_;
  return fill < 0 ? fill + kRingSlots : fill;
}

int64_t StreamRing::RingTakeDisplay() {
  const int64_t word = slots_[static_cast<size_t>(display_)];
  display_ = Wrap(display_ + 1);
  return word;
}

int64_t StreamRing::RingTakeLog() {
  const int64_t word = slots_[static_cast<size_t>(log_)];
  log_ = Wrap(log_ + 1);
  return word;
}

size_t AppendDatagram(StreamRing& ring, std::span<const uint8_t> datagram) {
  const size_t words = datagram.size() / 4;
  for (size_t i = 0; i < words; ++i) ring.Append(WordFromBytes(datagram.data() + 4 * i));
  return words;
}

size_t MoveWords(StreamRing& ring, std::string& rx) {
  const size_t words = rx.size() / 4;
  if (words == 0) return 0;
  const auto* bytes = reinterpret_cast<const uint8_t*>(rx.data());
  for (size_t i = 0; i < words; ++i) ring.Append(WordFromBytes(bytes + 4 * i));
  rx.erase(0, 4 * words);
  return words;
}

int ClampWindow(int n) { return std::clamp(n, 0, kMaxIntervals); }

void TakeWindow(StreamRing& ring, int n, PulseData& data) {
  n = ClampWindow(n);
  ring.SetRingDisplay(ring.RingWrite() - (n + 10));

  // Slots never written hold 0; pass over up to 10 of them to the first real word.
  int64_t previous = 0;
  int taken = 0;
  while (taken <= 10 && previous == 0 && ring.RingDisplay() != ring.RingWrite()) {
    previous = ring.RingTakeDisplay();
    ++taken;
  }

  // Deltas go from index 1 whatever the skip took, so the pass never reads an interval left in
  // the arrays by an earlier pass.
  int index = 1;
  while (taken <= n && ring.RingDisplay() != ring.RingWrite()) {
    int64_t word = ring.RingTakeDisplay();
    if (word == previous) {
      if (ring.RingDisplay() == ring.RingWrite()) {
        // The repeat is the newest word: the slot after it is not written yet.
        ring.StepBackDisplay();
        break;
      }
      word = ring.RingTakeDisplay();
    }
    const int64_t delta = common::DeltaRule(previous, word);
    previous = word;
    data.Ch1Average += static_cast<double>(delta);
    data.Ch2Average += 0;
    data.Ch1Intervals[static_cast<size_t>(index)] = static_cast<double>(delta);
    data.Ch2Intervals[static_cast<size_t>(index)] = 0;
    ++index;
    ++taken;
  }
  data.Ch1Count = index;
  data.Ch2Count = 0;
}

size_t LogStep(StreamRing& ring, int64_t& log_prev,
               const std::function<void(uint64_t delta)>& write_delta,
               const std::function<void()>& on_repeat) {
  size_t lines = 0;
  while (ring.RingLog() != ring.RingWrite()) {
    int64_t word = ring.RingTakeLog();
    if (word == log_prev) {
      if (ring.RingLog() == ring.RingWrite()) {
        // Wait for the word that replaces the repeat instead of reading an unwritten slot.
        ring.StepBackLog();
        break;
      }
      word = ring.RingTakeLog();
      if (on_repeat) on_repeat();
    }
    const int64_t delta = common::DeltaRule(log_prev, word);
    log_prev = word;
    write_delta(static_cast<uint64_t>(delta));
    ++lines;
  }
  return lines;
}

}  // namespace acquisition
