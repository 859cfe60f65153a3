#include "acquisition/datagram_queue.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <thread>
#include <vector>

namespace acquisition {
namespace {

// `size` bytes that tell datagram `seq` and each byte's place apart.
std::vector<uint8_t> Datagram(uint32_t seq, size_t size) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(seq * 31 + i * 7 + i / 251);
  return bytes;
}

std::vector<uint8_t> PopOne(DatagramQueue& queue) {
  std::vector<uint8_t> taken;
  const bool popped =
      queue.Pop([&](std::span<const uint8_t> bytes) { taken.assign(bytes.begin(), bytes.end()); });
  EXPECT_TRUE(popped);
  return taken;
}

TEST(DatagramQueue, RecordsOfEverySizeComeOutWholeAndInOrderAcrossTheWrap) {
  // Sizes in bytes: empty, short of a word, and 1 to 16,376 words (the largest UDP payload).
  const std::vector<size_t> sizes = {0, 3, 4, 8, 1001, 1000, 16380, 64000, 65504, 65503};
  // Room for four of the largest, two of them held at once with their wrap gaps; a round of the
  // sizes is a little less than the buffer, so the writes wrap at changing offsets.
  DatagramQueue queue(270000);
  uint32_t seq = 0;
  uint32_t next_out = 0;
  std::vector<std::vector<uint8_t>> in_flight;
  for (int round = 0; round < 40; ++round) {
    for (size_t size : sizes) {
      std::vector<uint8_t> datagram = Datagram(seq, size);
      // Two records held at most: the next push always has room once the oldest is taken.
      if (in_flight.size() == 2) {
        ASSERT_EQ(PopOne(queue), in_flight.front()) << "datagram " << next_out;
        in_flight.erase(in_flight.begin());
        ++next_out;
      }
      ASSERT_TRUE(queue.Push(datagram)) << "datagram " << seq << " of " << size << " bytes";
      in_flight.push_back(std::move(datagram));
      ++seq;
    }
  }
  for (const auto& datagram : in_flight) EXPECT_EQ(PopOne(queue), datagram);
  EXPECT_FALSE(queue.Pop([](std::span<const uint8_t>) {}));
  EXPECT_EQ(queue.RefusedDatagrams(), 0u);
  EXPECT_LE(queue.HighWaterBytes(), queue.CapacityBytes());
}

TEST(DatagramQueue, AFullQueueRefusesWholeDatagramsAndCountsThem) {
  // 10 records of 1000 bytes (1004 with the length) fill 10,040 bytes exactly.
  DatagramQueue queue(10040);
  for (uint32_t i = 0; i < 10; ++i) ASSERT_TRUE(queue.Push(Datagram(i, 1000)));
  EXPECT_EQ(queue.HighWaterBytes(), 10040u);
  EXPECT_FALSE(queue.Push(Datagram(10, 1000)));
  EXPECT_FALSE(queue.Push(Datagram(11, 7)));
  EXPECT_FALSE(queue.Push({}));  // even an empty one needs 4 bytes for its length
  EXPECT_FALSE(queue.Push(std::vector<uint8_t>(DatagramQueue::kMaxRecordBytes + 4)));
  EXPECT_EQ(queue.RefusedDatagrams(), 4u);
  EXPECT_EQ(queue.RefusedWords(), 250u + 1u + 0u + DatagramQueue::kMaxRecordBytes / 4 + 1u);
  // The records held are untouched, and the room they leave is whole again: the buffer's end
  // fell exactly after the last one.
  for (uint32_t i = 0; i < 10; ++i) EXPECT_EQ(PopOne(queue), Datagram(i, 1000));
  for (uint32_t i = 20; i < 30; ++i) ASSERT_TRUE(queue.Push(Datagram(i, 1000)));
  for (uint32_t i = 20; i < 30; ++i) EXPECT_EQ(PopOne(queue), Datagram(i, 1000));
  EXPECT_EQ(queue.RefusedDatagrams(), 4u);
}

TEST(DatagramQueue, APopMakesRoomAgainAndTheWrapGapCountsAsHeld) {
  DatagramQueue queue(4000);
  ASSERT_TRUE(queue.Push(Datagram(0, 1500)));
  ASSERT_TRUE(queue.Push(Datagram(1, 1500)));
  // 3,008 bytes held, 992 left at the end: too short for a 996-byte record.
  EXPECT_FALSE(queue.Push(Datagram(2, 992)));
  EXPECT_EQ(PopOne(queue), Datagram(0, 1500));
  // Now it goes in at the front, and the skipped end counts until it is taken.
  ASSERT_TRUE(queue.Push(Datagram(2, 992)));
  EXPECT_EQ(queue.HighWaterBytes(), 1504u + 992u + 996u);
  EXPECT_EQ(PopOne(queue), Datagram(1, 1500));
  EXPECT_EQ(PopOne(queue), Datagram(2, 992));
  EXPECT_EQ(queue.RefusedDatagrams(), 1u);
  EXPECT_EQ(queue.RefusedWords(), 248u);
}

TEST(DatagramQueue, AProducerAndAConsumerThreadPassEveryDatagramInOrder) {
  constexpr uint32_t kCount = 100000;
  // Small, so the producer keeps running into a full queue and the consumer into an empty one.
  DatagramQueue queue(8192);
  auto size_of = [](uint32_t seq) { return static_cast<size_t>(4 * (1 + seq % 300)); };
  std::thread producer([&] {
    for (uint32_t seq = 0; seq < kCount; ++seq) {
      const std::vector<uint8_t> datagram = Datagram(seq, size_of(seq));
      // Woken in batches, as the receiver does after each read; and when full, so the
      // consumer makes room.
      while (!queue.Push(datagram)) {
        queue.Notify();
        std::this_thread::yield();
      }
      if (seq % 8 == 7) queue.Notify();
    }
    queue.Close();
  });
  uint32_t taken = 0;
  uint32_t wrong = 0;
  while (!queue.Finished()) {
    while (queue.Pop([&](std::span<const uint8_t> bytes) {
      const std::vector<uint8_t> expected = Datagram(taken, size_of(taken));
      if (!std::equal(bytes.begin(), bytes.end(), expected.begin(), expected.end())) ++wrong;
      ++taken;
    })) {
    }
    queue.Wait();
  }
  producer.join();
  EXPECT_EQ(taken, kCount);
  EXPECT_EQ(wrong, 0u);
}

}  // namespace
}  // namespace acquisition
