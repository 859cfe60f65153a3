#include "acquisition/udp_receiver.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "acquisition/stream_path.h"
#include "common/error.h"

namespace acquisition {
namespace {

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

}  // namespace

UdpReceiver::UdpReceiver(StreamPath& path) : path_(path) {}

UdpReceiver::~UdpReceiver() { SetActive(false); }

void UdpReceiver::SetActive(bool active) {
  if (active == Active()) return;
  if (!active) {
    const uint64_t one = 1;
    if (::write(wake_, &one, sizeof one) < 0) {
      // An eventfd write fails only on counter overflow; the thread is already woken then.
    }
    if (thread_.joinable()) thread_.join();
    CloseFd(socket_);
    CloseFd(wake_);
    return;
  }

  int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw common::Error(std::string("Cannot open a UDP socket: ") + std::strerror(errno));
  const int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
  ::setsockopt(fd, SOL_SOCKET, SO_RXQ_OVFL, &on, sizeof on);
  // The kernel caps the request at net.core.rmem_max (212,992 bytes unless raised); the thread
  // reads promptly, so the stock limit is enough, and a raised one only adds slack.
  ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receive_buffer_bytes_, sizeof receive_buffer_bytes_);
  // No SO_REUSEADDR or SO_REUSEPORT: the port is this window's alone, and a socket that holds
  // it already, shared or not, makes the bind fail instead of splitting the stream.
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  address.sin_port = htons(port_);
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    const int error = errno;
    ::close(fd);
    if (error == EADDRINUSE)
      throw common::Error("UDP port " + std::to_string(port_) + " is in use by another program");
    throw common::Error("Cannot bind UDP port " + std::to_string(port_) + ": " +
                        std::strerror(error));
  }
  const int wake = ::eventfd(0, EFD_CLOEXEC);
  if (wake < 0) {
    const int error = errno;
    ::close(fd);
    throw common::Error(std::string("Cannot start the UDP receiver: ") + std::strerror(error));
  }
  socket_ = fd;
  wake_ = wake;
  datagrams_ = 0;
  words_ = 0;
  dropped_ = 0;
  first_datagram_words_ = -1;
  thread_ = std::thread([this] { Run(); });
}

void UdpReceiver::Run() {
  // Up to kBatch datagrams per system call: at a few thousand datagrams a second the calls, not
  // the words, are what the thread spends its time on.
  constexpr size_t kBatch = 16;
  constexpr size_t kControlBytes = CMSG_SPACE(sizeof(uint32_t));
  std::vector<uint8_t> buffers(kBatch * static_cast<size_t>(kMaxDatagramBytes));
  std::vector<char> controls(kBatch * kControlBytes);
  iovec parts[kBatch];
  mmsghdr messages[kBatch];
  uint32_t kernel_drops = 0;  // the socket's running count of datagrams dropped for want of room
  pollfd fds[2] = {{socket_, POLLIN, 0}, {wake_, POLLIN, 0}};
  for (;;) {
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents != 0) return;
    // Drain what is queued, then log in the lull, so the file keeps up with the words.
    for (;;) {
      for (size_t i = 0; i < kBatch; ++i) {
        parts[i] = {buffers.data() + i * static_cast<size_t>(kMaxDatagramBytes),
                    static_cast<size_t>(kMaxDatagramBytes)};
        messages[i] = {};
        messages[i].msg_hdr.msg_iov = &parts[i];
        messages[i].msg_hdr.msg_iovlen = 1;
        messages[i].msg_hdr.msg_control = controls.data() + i * kControlBytes;
        messages[i].msg_hdr.msg_controllen = kControlBytes;
      }
      const int count = ::recvmmsg(socket_, messages, kBatch, MSG_DONTWAIT, nullptr);
      if (count < 0) {
        if (errno == EINTR) continue;
        break;  // EAGAIN: nothing more queued
      }
      for (int k = 0; k < count; ++k) {
        msghdr& message = messages[k].msg_hdr;
        const size_t size = messages[k].msg_len;
        const uint64_t words = size / 4;
        for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
          if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SO_RXQ_OVFL) continue;
          uint32_t drops = 0;
          std::memcpy(&drops, CMSG_DATA(c), sizeof drops);
          // The dropped datagrams' sizes are gone; the instrument sends equal ones.
          if (drops != kernel_drops) {
            path_.AddSocketDrops(drops - kernel_drops, words);
            dropped_.fetch_add(drops - kernel_drops);
          }
          kernel_drops = drops;
        }
        int64_t none = -1;
        first_datagram_words_.compare_exchange_strong(none, static_cast<int64_t>(words));
        path_.Datagram(std::span(static_cast<const uint8_t*>(parts[k].iov_base), size));
        datagrams_.fetch_add(1);
        words_.fetch_add(words);
      }
      if (static_cast<size_t>(count) < kBatch) break;
    }
    path_.LogStep();
  }
}

}  // namespace acquisition
