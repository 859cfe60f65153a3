#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace acquisition {

// A bounded queue of datagrams between exactly one producer thread and one consumer thread,
// lock-free: one preallocated byte ring of length-prefixed records, so the producer never
// allocates, never waits for the consumer and never waits for a lock. Datagrams leave in the
// order they came in. A datagram that does not fit is refused whole and counted, so a consumer
// that falls behind costs counted datagrams, not a stalled producer.
class DatagramQueue {
 public:
  // The largest datagram a record can hold, in bytes.
  static constexpr size_t kMaxRecordBytes = 1u << 20;

  // `capacity_bytes` is rounded up to a multiple of 4 (8 at least). A datagram of L bytes takes
  // 4 + L rounded up to 4 of it; more while the rest of the buffer is too short for it.
  explicit DatagramQueue(size_t capacity_bytes);
  DatagramQueue(const DatagramQueue&) = delete;
  DatagramQueue& operator=(const DatagramQueue&) = delete;

  // Producer thread. Copies `bytes` in as one record; false when there is no room (or it is
  // longer than kMaxRecordBytes), and then the datagram and its whole words are counted as
  // refused. Does not wake the consumer: call Notify after a batch.
  bool Push(std::span<const uint8_t> bytes);
  // Producer thread: wakes a consumer blocked in Wait. A system call only while one waits.
  void Notify();
  // Producer thread: no more records will come; wakes the consumer.
  void Close();

  // Consumer thread. Hands the oldest record's bytes to `take` (valid only during the call),
  // then frees its room; false when the queue is empty.
  template <typename Take>
  bool Pop(Take&& take) {
    const uint64_t tail = tail_.load(std::memory_order_relaxed);
    uint64_t at = tail;
    if (at == head_.load(std::memory_order_acquire)) return false;
    uint32_t length = LengthAt(at);
    if (length == kWrapMark) {
      // The producer found no room for the record before the end of the buffer and went on at
      // the front; the mark and the gap behind it belong to the record.
      at += capacity_ - at % capacity_;
      length = LengthAt(at);
    }
    take(std::span<const uint8_t>(bytes_.get() + at % capacity_ + 4, length));
    tail_.store(at + RecordBytes(length), std::memory_order_release);
    return true;
  }
  // Consumer thread: blocks until a record is in or the queue is closed. Returns at once
  // when either is already so.
  void Wait();
  // Consumer thread: closed and every record taken.
  bool Finished() const;

  // Any thread, for figures.
  size_t CapacityBytes() const { return capacity_; }
  // The most bytes held at once (records with their lengths and wrap gaps).
  uint64_t HighWaterBytes() const { return high_water_.load(std::memory_order_relaxed); }
  uint64_t RefusedDatagrams() const { return refused_datagrams_.load(std::memory_order_relaxed); }
  uint64_t RefusedWords() const { return refused_words_.load(std::memory_order_relaxed); }

 private:
  static constexpr uint32_t kWrapMark = 0xFFFFFFFFu;
  static uint64_t RecordBytes(uint32_t length) { return 4 + (uint64_t{length} + 3) / 4 * 4; }
  uint32_t LengthAt(uint64_t position) const;

  size_t capacity_;
  std::unique_ptr<uint8_t[]> bytes_;
  // Bytes ever written and ever freed: the producer owns head_, the consumer tail_, and each
  // reads the other's with acquire so the record bytes behind it are visible.
  alignas(64) std::atomic<uint64_t> head_{0};
  alignas(64) std::atomic<uint64_t> tail_{0};
  // Bumped at every Notify and Close, for the consumer's futex wait.
  alignas(64) std::atomic<uint32_t> signal_{0};
  std::atomic<bool> closed_{false};
  std::atomic<uint64_t> high_water_{0};
  std::atomic<uint64_t> refused_datagrams_{0};
  std::atomic<uint64_t> refused_words_{0};
};

}  // namespace acquisition
