#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

namespace acquisition {

class StreamPath;

inline constexpr uint16_t kStreamUdpPort = 38257;
inline constexpr int64_t kMaxDatagramBytes = 100000;

// The UDP receiver of the stream (IdUDPServer1): a socket of its own on 0.0.0.0 with broadcast
// enabled and no address sharing, so no other local socket can take a share of the words while
// the window streams. While active, a thread of its own reads each datagram whole (up to
// 100,000 bytes), in arrival order, and hands it to the stream path, which appends and logs the
// words; so a busy window thread costs no datagram. Datagrams the kernel had to drop are counted
// into the path's lost words. SetActive and the counters: window thread; the receiving thread
// touches only the path and the counters.
class UdpReceiver {
 public:
  explicit UdpReceiver(StreamPath& path);
  UdpReceiver(const UdpReceiver&) = delete;
  UdpReceiver& operator=(const UdpReceiver&) = delete;
  ~UdpReceiver();

  // Binds the port and starts the receiving thread, or stops the thread (after the datagram it
  // is handing over) and releases the port. A port in use throws
  // common::Error("UDP port <port> is in use by another program"); other bind failures throw
  // with the system's reason. Nothing is left bound after a throw.
  void SetActive(bool active);
  bool Active() const { return socket_ >= 0; }

  // The port to bind at the next SetActive(true); 38257 unless changed.
  void SetPort(uint16_t port) { port_ = port; }
  uint16_t Port() const { return port_; }

  // The socket receive buffer requested at the next SetActive(true), in bytes; 8 MiB unless
  // changed. The kernel caps it at net.core.rmem_max (and doubles it for its bookkeeping).
  void SetReceiveBufferBytes(int bytes) { receive_buffer_bytes_ = bytes; }

  // Since the last SetActive(true): datagrams and their whole words as they left the socket,
  // and the words of the first datagram (-1 before it), for figures.
  uint64_t DatagramsReceived() const { return datagrams_.load(); }
  uint64_t WordsReceived() const { return words_.load(); }
  int64_t FirstDatagramWords() const { return first_datagram_words_.load(); }
  // Datagrams the kernel dropped for want of buffer room, as of the last datagram taken.
  uint64_t DatagramsDropped() const { return dropped_.load(); }

 private:
  void Run();

  StreamPath& path_;
  uint16_t port_ = kStreamUdpPort;
  int receive_buffer_bytes_ = 8 * 1024 * 1024;
  int socket_ = -1;
  int wake_ = -1;  // an eventfd that ends the receiving thread
  std::thread thread_;
  std::atomic<uint64_t> datagrams_{0};
  std::atomic<uint64_t> words_{0};
  std::atomic<uint64_t> dropped_{0};
  std::atomic<int64_t> first_datagram_words_{-1};
};

}  // namespace acquisition
