#include "acquisition/datagram_queue.h"

#include <algorithm>
#include <cstring>

namespace acquisition {

DatagramQueue::DatagramQueue(size_t capacity_bytes)
    : capacity_(std::max<size_t>((capacity_bytes + 3) / 4 * 4, 8)),
      // Left uninitialised: the pages are touched only as records reach them, so an idle
      // receiver costs address space, not memory.
      bytes_(new uint8_t[capacity_]) {}

uint32_t DatagramQueue::LengthAt(uint64_t position) const {
  uint32_t length = 0;
  std::memcpy(&length, bytes_.get() + position % capacity_, sizeof length);
  return length;
}

bool DatagramQueue::Push(std::span<const uint8_t> bytes) {
  auto refuse = [&] {
    refused_datagrams_.fetch_add(1, std::memory_order_relaxed);
    refused_words_.fetch_add(bytes.size() / 4, std::memory_order_relaxed);
    return false;
  };
  if (bytes.size() > kMaxRecordBytes) return refuse();
  uint64_t head = head_.load(std::memory_order_relaxed);
  const uint64_t tail = tail_.load(std::memory_order_acquire);
  const auto length = static_cast<uint32_t>(bytes.size());
  const uint64_t need = RecordBytes(length);
  // A record is never split at the end of the buffer; the rest of the buffer is skipped. Every
  // record is a multiple of 4 bytes long, so the skipped rest always has room for the mark.
  const uint64_t to_end = capacity_ - head % capacity_;
  const uint64_t skip = need > to_end ? to_end : 0;
  const uint64_t held = head + skip + need - tail;
  if (held > capacity_) return refuse();
  if (skip > 0) {
    std::memcpy(bytes_.get() + head % capacity_, &kWrapMark, sizeof kWrapMark);
    head += skip;
  }
  uint8_t* at = bytes_.get() + head % capacity_;
  std::memcpy(at, &length, sizeof length);
  if (length > 0) std::memcpy(at + 4, bytes.data(), length);
  if (held > high_water_.load(std::memory_order_relaxed))
    high_water_.store(held, std::memory_order_relaxed);
  head_.store(head + need, std::memory_order_release);
  return true;
}

void DatagramQueue::Notify() {
  signal_.fetch_add(1, std::memory_order_release);
  signal_.notify_one();
}

void DatagramQueue::Close() {
  closed_.store(true, std::memory_order_release);
  Notify();
}

void DatagramQueue::Wait() {
  // The signal is read before the queue is looked at: a record pushed after the look bumps the
  // signal past the value the wait compares against, so the wait cannot miss it.
  const uint32_t signal = signal_.load(std::memory_order_acquire);
  if (closed_.load(std::memory_order_acquire)) return;
  if (tail_.load(std::memory_order_relaxed) != head_.load(std::memory_order_acquire)) return;
  signal_.wait(signal, std::memory_order_acquire);
}

bool DatagramQueue::Finished() const {
  // Closed first: every record pushed before the close is then visible in head_.
  return closed_.load(std::memory_order_acquire) &&
         tail_.load(std::memory_order_relaxed) == head_.load(std::memory_order_acquire);
}

}  // namespace acquisition
