#include "acquisition/udp_receiver.h"

#include <linux/sock_diag.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "acquisition/datagram_queue.h"
#include "acquisition/stream_path.h"
#include "common/error.h"

namespace acquisition {
namespace {

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

// Asks the scheduler for a short time slice for the calling thread. A thread that sleeps on its
// socket and works for microseconds at a wake then runs as soon as a datagram wakes it, ahead of
// threads that are busy for milliseconds on the same core (Linux 6.12 and later; earlier kernels
// take the value and leave the slice as it was). It takes no privilege and leaves the thread's
// nice value as it is; a refusal leaves the thread as it was.
void AskForShortSlice() {
  // The kernel's first sched_attr layout (48 bytes); glibc has no wrapper for these calls.
  struct {
    uint32_t size;
    uint32_t sched_policy;
    uint64_t sched_flags;
    int32_t sched_nice;
    uint32_t sched_priority;
    uint64_t sched_runtime;
    uint64_t sched_deadline;
    uint64_t sched_period;
  } attr{};
  if (::syscall(SYS_sched_getattr, 0, &attr, sizeof attr, 0) != 0) return;
  if (attr.sched_policy != SCHED_OTHER) return;
  attr.size = sizeof attr;
  attr.sched_flags = 0;
  attr.sched_runtime = 100000;  // ns: the shortest the kernel grants
  ::syscall(SYS_sched_setattr, 0, &attr, 0);
}

// The receiving thread's wake must come before anything else on a busy machine: the socket holds
// some 23 ms of words at 2 million a second with the stock buffer limit. Where the process may
// (root, or an RLIMIT_RTPRIO above 0) the thread takes the lowest real-time priority: it sleeps
// on its socket and works for microseconds at a time, copying into the queue, so it cannot
// starve the rest (and the kernel keeps 5 % of each second for other threads anyway). Elsewhere
// it asks for the short time slice.
void PreferReceivingThread() {
  sched_param param{};
  param.sched_priority = sched_get_priority_min(SCHED_FIFO);
  if (::pthread_setschedparam(::pthread_self(), SCHED_FIFO, &param) != 0) AskForShortSlice();
}

}  // namespace

bool SenderFilter::Accept(uint32_t address, uint16_t port, size_t bytes) {
  if (instrument_ == 0 || address != instrument_) return false;
  if (port_known_) return port == port_;
  if (bytes > 0) {
    port_ = port;
    port_known_ = true;
  }
  return true;
}

uint32_t ResolveIpv4(const std::string& host) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) return 0;
  const uint32_t address =
      ntohl(reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr);
  ::freeaddrinfo(found);
  return address;
}

UdpReceiver::UdpReceiver(StreamPath& path) : path_(path) {}

UdpReceiver::~UdpReceiver() { SetActive(false); }

uint64_t UdpReceiver::DatagramsRefused() const { return queue_ ? queue_->RefusedDatagrams() : 0; }

uint64_t UdpReceiver::QueueHighWaterBytes() const { return queue_ ? queue_->HighWaterBytes() : 0; }

void UdpReceiver::SetActive(bool active) {
  if (active == Active()) return;
  if (!active) {
    const uint64_t one = 1;
    if (::write(wake_, &one, sizeof one) < 0) {
      // An eventfd write fails only on counter overflow; the thread is already woken then.
    }
    // The receiving thread closes the queue as it ends, and the delivering thread ends once it
    // has handed over every datagram in it.
    if (receiving_.joinable()) receiving_.join();
    if (delivering_.joinable()) delivering_.join();
    CloseFd(socket_);
    CloseFd(wake_);
    return;
  }

  int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw common::Error(std::string("Cannot open a UDP socket: ") + std::strerror(errno));
  const int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
  ::setsockopt(fd, SOL_SOCKET, SO_RXQ_OVFL, &on, sizeof on);
  // The kernel caps the request at net.core.rmem_max (212,992 bytes unless raised); the
  // receiving thread only copies each datagram into the queue, so the stock limit is enough,
  // and a raised one only adds slack.
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
  instrument_address_ = instrument_.empty() ? 0 : ResolveIpv4(instrument_);
  foreign_ = 0;
  datagrams_ = 0;
  words_ = 0;
  dropped_ = 0;
  dropped_words_ = 0;
  first_datagram_words_ = -1;
  // A fresh queue each start: its counters start at 0, and its pages are the kernel's until
  // the words reach them.
  queue_ = std::make_unique<DatagramQueue>(queue_bytes_);
  delivering_ = std::thread([this] { Deliver(); });
  receiving_ = std::thread([this] { Receive(); });
}

namespace {

// Up to kBatch datagrams per system call: at a few thousand datagrams a second the calls, not
// the words, are what the thread spends its time on.
constexpr size_t kBatch = 16;
constexpr size_t kControlBytes = CMSG_SPACE(sizeof(uint32_t));

// The kernel's running count of datagrams it dropped on this socket for want of room, as it
// stood when the datagram came in (SO_RXQ_OVFL); none when the message carries no count.
std::optional<uint32_t> DropsAtDatagram(msghdr& message) {
  for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
    if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SO_RXQ_OVFL) continue;
    uint32_t drops = 0;
    std::memcpy(&drops, CMSG_DATA(c), sizeof drops);
    return drops;
  }
  return std::nullopt;
}

// The same count as it stands now: drops after the last datagram read come with no datagram.
std::optional<uint32_t> DropsNow(int fd) {
  uint32_t info[SK_MEMINFO_VARS] = {};
  socklen_t size = sizeof info;
  if (::getsockopt(fd, SOL_SOCKET, SO_MEMINFO, info, &size) != 0) return std::nullopt;
  if (size <= SK_MEMINFO_DROPS * sizeof(uint32_t)) return std::nullopt;
  return info[SK_MEMINFO_DROPS];
}

}  // namespace

struct UdpReceiver::ReceiveState {
  explicit ReceiveState(uint32_t instrument) : filter(instrument) {}
  void Prepare() {
    for (size_t i = 0; i < kBatch; ++i) {
      parts[i] = {buffers.data() + i * static_cast<size_t>(kMaxDatagramBytes),
                  static_cast<size_t>(kMaxDatagramBytes)};
      messages[i] = {};
      messages[i].msg_hdr.msg_name = &senders[i];
      messages[i].msg_hdr.msg_namelen = sizeof senders[i];
      messages[i].msg_hdr.msg_iov = &parts[i];
      messages[i].msg_hdr.msg_iovlen = 1;
      messages[i].msg_hdr.msg_control = controls.data() + i * kControlBytes;
      messages[i].msg_hdr.msg_controllen = kControlBytes;
    }
  }

  std::vector<uint8_t> buffers = std::vector<uint8_t>(kBatch * kMaxDatagramBytes);
  std::vector<char> controls = std::vector<char>(kBatch * kControlBytes);
  sockaddr_in senders[kBatch];
  iovec parts[kBatch];
  mmsghdr messages[kBatch];
  SenderFilter filter;
  uint32_t kernel_drops = 0;  // the kernel's count as last seen
  uint64_t words_each = 0;    // words of the instrument's last datagram
};

void UdpReceiver::CountDrops(ReceiveState& state, uint32_t drops) {
  // The dropped datagrams' sizes are gone; the instrument sends equal ones.
  if (drops != state.kernel_drops) {
    dropped_words_.fetch_add(uint64_t{drops - state.kernel_drops} * state.words_each);
    dropped_.fetch_add(drops - state.kernel_drops);
  }
  state.kernel_drops = drops;
}

void UdpReceiver::ReadQueued(ReceiveState& state, int batches) {
  DatagramQueue& queue = *queue_;
  for (int batch = 0; batch < batches; ++batch) {
    state.Prepare();
    const int count = ::recvmmsg(socket_, state.messages, kBatch, MSG_DONTWAIT, nullptr);
    if (count < 0) {
      if (errno == EINTR) continue;
      return;  // EAGAIN: nothing more queued; any other error: poll again, as for a lull
    }
    for (int k = 0; k < count; ++k) {
      msghdr& message = state.messages[k].msg_hdr;
      const size_t size = state.messages[k].msg_len;
      const sockaddr_in& from = state.senders[k];
      if (!state.filter.Accept(ntohl(from.sin_addr.s_addr), ntohs(from.sin_port), size)) {
        foreign_.fetch_add(1);
        continue;
      }
      const uint64_t words = size / 4;
      if (size > 0) state.words_each = words;
      if (const std::optional<uint32_t> drops = DropsAtDatagram(message)) CountDrops(state, *drops);
      int64_t none = -1;
      if (size > 0)
        first_datagram_words_.compare_exchange_strong(none, static_cast<int64_t>(words));
      if (!queue.Push(std::span(static_cast<const uint8_t*>(state.parts[k].iov_base), size))) {
        // Refused: it left the socket all the same; the delivering thread counts it as lost.
        datagrams_.fetch_add(1);
        words_.fetch_add(words);
      }
    }
    queue.Notify();
    if (static_cast<size_t>(count) < kBatch) return;
  }
}

void UdpReceiver::Receive() {
  // At a stop, what the socket still holds is read too, but no more than this many batches, so
  // a sender that keeps sending cannot hold the stop.
  constexpr int kStopBatches = 1024;
  ReceiveState state(instrument_address_);
  PreferReceivingThread();
  pollfd fds[2] = {{socket_, POLLIN, 0}, {wake_, POLLIN, 0}};
  for (;;) {
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[1].revents != 0) {
      ReadQueued(state, kStopBatches);
      break;
    }
    // Back to poll now and then even while datagrams keep coming, so a flood cannot hide a stop.
    ReadQueued(state, 64);
  }
  if (const std::optional<uint32_t> drops = DropsNow(socket_)) CountDrops(state, *drops);
  queue_->Close();
}

void UdpReceiver::Deliver() {
  DatagramQueue& queue = *queue_;
  uint64_t lost_reported = 0;
  // Words lost before the path, counted on the other thread, go in here: the path's lock is
  // this thread's alone.
  uint64_t foreign_reported = 0;
  auto report_lost = [&] {
    const uint64_t lost = dropped_words_.load() + queue.RefusedWords();
    // Already in words, so one word each.
    if (lost != lost_reported) path_.AddSocketDrops(lost - lost_reported, 1);
    lost_reported = lost;
    const uint64_t foreign = foreign_.load();
    if (foreign != foreign_reported) path_.AddForeignDatagrams(foreign - foreign_reported);
    foreign_reported = foreign;
  };
  for (;;) {
    // Take what is queued, then log in the lull, so the file keeps up with the words.
    bool took = false;
    while (queue.Pop([&](std::span<const uint8_t> bytes) {
      path_.Datagram(bytes);
      datagrams_.fetch_add(1);
      words_.fetch_add(bytes.size() / 4);
    })) {
      took = true;
    }
    report_lost();
    if (took) path_.LogStep();
    if (queue.Finished()) break;
    queue.Wait();
  }
  report_lost();
}

}  // namespace acquisition
