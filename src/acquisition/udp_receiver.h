#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "acquisition/protocol.h"

namespace acquisition {

class DatagramQueue;
class StreamPath;

inline constexpr int64_t kMaxDatagramBytes = 100000;

// Which datagrams are the instrument's: those from its IPv4 address and from the source port of
// the first of them that holds a byte (another socket on the instrument's host is another
// sender). An empty datagram from the instrument's address is taken and fixes nothing.
// Addresses and ports in host byte order; address 0 (none known) takes no datagram. One thread.
class SenderFilter {
 public:
  explicit SenderFilter(uint32_t instrument = 0) : instrument_(instrument) {}
  bool Accept(uint32_t address, uint16_t port, size_t bytes);

 private:
  uint32_t instrument_;
  uint16_t port_ = 0;
  bool port_known_ = false;
};

// The IPv4 address of a host name or dotted address in host byte order, 0 when the name does
// not resolve. Blocks while the name is looked up. Any thread.
uint32_t ResolveIpv4(const std::string& host);

// The UDP receiver of the stream (IdUDPServer1): a socket of its own on 0.0.0.0 with broadcast
// enabled and no address sharing, so no other local socket can take a share of the words while
// the window streams. While active, a receiving thread does nothing but read each datagram whole
// (up to 100,000 bytes), in arrival order, into a large queue, and a delivering thread hands the
// datagrams from that queue to the stream path, which appends and logs the words. So neither a
// busy window thread nor a slow log write holds up the socket: the kernel's small receive
// buffer only has to cover the receiving thread's own wait for a core. Only the instrument's
// datagrams (SenderFilter) go on; the others are counted into the path's foreign datagrams.
// Datagrams the kernel had to drop up to the stop, and datagrams a full queue refused, are
// counted into the path's lost words. SetActive, the setters and the counters: window thread;
// only the delivering thread touches the path.
class UdpReceiver {
 public:
  explicit UdpReceiver(StreamPath& path);
  UdpReceiver(const UdpReceiver&) = delete;
  UdpReceiver& operator=(const UdpReceiver&) = delete;
  ~UdpReceiver();

  // Binds the port and starts the threads, or stops them and releases the port. Stopping takes
  // what the socket still holds and hands every datagram read to the path before it returns, so
  // a log tail written right after holds every word that arrived. A port in use throws
  // common::Error("UDP port <port> is in use by another program"); other bind failures throw
  // with the system's reason. Nothing is left bound after a throw.
  void SetActive(bool active);
  bool Active() const { return socket_ >= 0; }

  // The instrument's host name or address, resolved at the next SetActive(true); datagrams
  // from any other address are refused. None unless set: every datagram is refused.
  void SetInstrument(std::string host) { instrument_ = std::move(host); }

  // The port to bind at the next SetActive(true); kStreamUdpPort unless changed.
  void SetPort(uint16_t port) { port_ = port; }
  uint16_t Port() const { return port_; }

  // The socket receive buffer requested at the next SetActive(true), in bytes; 8 MiB unless
  // changed. The kernel caps it at net.core.rmem_max (and doubles it for its bookkeeping).
  void SetReceiveBufferBytes(int bytes) { receive_buffer_bytes_ = bytes; }

  // The queue between the two threads from the next SetActive(true), in bytes; 32 MiB unless
  // changed (some 4 s of words at 2 million words per second). Each datagram takes its length
  // rounded up to 4 bytes, plus 4.
  void SetQueueBytes(size_t bytes) { queue_bytes_ = bytes; }

  // Since the last SetActive(true): datagrams and their whole words that left the socket and
  // were handed to the path or refused by the full queue, and the words of the first datagram
  // (-1 before it), for figures.
  uint64_t DatagramsReceived() const { return datagrams_.load(); }
  uint64_t WordsReceived() const { return words_.load(); }
  int64_t FirstDatagramWords() const { return first_datagram_words_.load(); }
  // Datagrams the kernel dropped for want of buffer room, as of the last datagram read, and
  // after a stop as of the stop.
  uint64_t DatagramsDropped() const { return dropped_.load(); }
  // Datagrams from other senders, refused.
  uint64_t ForeignDatagrams() const { return foreign_.load(); }
  // Datagrams the full queue refused, and the most bytes the queue held at once, since the last
  // SetActive(true); 0 before it.
  uint64_t DatagramsRefused() const;
  uint64_t QueueHighWaterBytes() const;

 private:
  struct ReceiveState;
  void Receive();
  // Reads what is queued in the socket, at most `batches` system calls.
  void ReadQueued(ReceiveState& state, int batches);
  // The kernel's running drop count as it stood at a datagram, or at the stop.
  void CountDrops(ReceiveState& state, uint32_t drops);
  void Deliver();

  StreamPath& path_;
  std::string instrument_;
  uint32_t instrument_address_ = 0;
  uint16_t port_ = kStreamUdpPort;
  int receive_buffer_bytes_ = 8 * 1024 * 1024;
  size_t queue_bytes_ = 32 * 1024 * 1024;
  int socket_ = -1;
  int wake_ = -1;  // an eventfd that ends the receiving thread
  std::unique_ptr<DatagramQueue> queue_;
  std::thread receiving_;
  std::thread delivering_;
  std::atomic<uint64_t> datagrams_{0};
  std::atomic<uint64_t> words_{0};
  std::atomic<uint64_t> dropped_{0};
  std::atomic<uint64_t> dropped_words_{0};  // the kernel's drops, in words
  std::atomic<uint64_t> foreign_{0};
  std::atomic<int64_t> first_datagram_words_{-1};
};

}  // namespace acquisition
