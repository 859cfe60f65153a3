#include "tcp_link.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "common/convert.h"
#include "common/error.h"

namespace k390tool {
namespace {

std::string ConnectFailureText(int error_number) {
  return "Asynchronous socket error " + std::to_string(error_number);
}

std::string TransferFailureText(int error_number, const char* api) {
  return "Socket error: " + std::string(std::strerror(error_number)) + " (" +
         std::to_string(error_number) + "), on API '" + api + "'";
}

// The host's IPv4 address, or none.
std::optional<in_addr> Resolve(const std::string& host) {
  in_addr address{};
  if (::inet_pton(AF_INET, host.c_str(), &address) == 1) return address;
  if (host.empty()) return std::nullopt;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) {
    return std::nullopt;
  }
  address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
  ::freeaddrinfo(found);
  return address;
}

}  // namespace

TcpLink::~TcpLink() { Close(); }

void TcpLink::Open(const std::string& host, int port) {
  if (fd_ >= 0 && host == host_ && port == port_) return;
  Close();
  host_ = host;
  port_ = port;
  const std::optional<in_addr> address = Resolve(host);
  if (!address && !host.empty()) return Fail(common::HostNotFoundMessage(host));
  // 0.0.0.0 is where the window's lookup sends a name it cannot resolve.
  if (!address || address->s_addr == INADDR_ANY) return Fail(EADDRNOTAVAIL);
  if (port <= 0 || port > 65535) return Fail(EINVAL);

  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd_ < 0) return Fail(errno);
  const int on = 1;
  ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  sockaddr_in target{};
  target.sin_family = AF_INET;
  target.sin_port = htons(static_cast<uint16_t>(port));
  target.sin_addr = *address;
  connecting_ = true;
  connect_deadline_ = std::chrono::steady_clock::now() + kConnectTimeout;
  if (::connect(fd_, reinterpret_cast<const sockaddr*>(&target), sizeof target) == 0) {
    connecting_ = false;
  } else if (errno != EINPROGRESS) {
    Fail(errno);
  }
}

void TcpLink::Connect(const std::string& host, const std::string& port) {
  Open(host, common::StrToInt(port));
}

void TcpLink::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  connecting_ = false;
  failure_.reset();
}

void TcpLink::Fail(int error_number) {
  const bool connecting = fd_ < 0 || connecting_;
  Fail(connecting ? ConnectFailureText(error_number) : TransferFailureText(error_number, "recv"));
}

void TcpLink::Fail(std::string message) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  connecting_ = false;
  failure_ = std::move(message);
}

short TcpLink::Events() const {
  if (fd_ < 0) return 0;
  return connecting_ ? POLLOUT : POLLIN;
}

int TcpLink::ConnectTimeLeftMs() const {
  if (!connecting_) return -1;
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      connect_deadline_ - std::chrono::steady_clock::now());
  return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

TcpLink::Outcome TcpLink::Handle(short revents, size_t max_bytes) {
  Outcome outcome;
  if (!failure_ && connecting_) {
    if (revents != 0) {
      int error_number = 0;
      socklen_t size = sizeof error_number;
      ::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error_number, &size);
      if (error_number != 0) {
        Fail(error_number);
      } else {
        connecting_ = false;
      }
    } else if (ConnectTimeLeftMs() == 0) {
      Fail(ETIMEDOUT);
    }
  } else if (!failure_ && fd_ >= 0 && (revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
    outcome.bytes.resize(max_bytes);
    const ssize_t got = ::recv(fd_, outcome.bytes.data(), max_bytes, 0);
    if (got > 0) {
      outcome.bytes.resize(static_cast<size_t>(got));
    } else {
      outcome.bytes.clear();
      if (got == 0) {
        Close();
        outcome.peer_closed = true;
      } else if (errno != EAGAIN && errno != EINTR) {
        Fail(errno);
      }
    }
  }
  if (failure_) outcome.failure = std::exchange(failure_, std::nullopt);
  return outcome;
}

void TcpLink::Send(std::string_view bytes) {
  while (!bytes.empty()) {
    if (fd_ < 0 || connecting_) {
      Close();
      throw common::Error(TransferFailureText(ENOTCONN, "send"));
    }
    const ssize_t sent = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent > 0) {
      bytes.remove_prefix(static_cast<size_t>(sent));
      continue;
    }
    if (sent < 0 && (errno == EAGAIN || errno == EINTR)) {
      pollfd room{fd_, POLLOUT, 0};
      ::poll(&room, 1, 100);
      continue;
    }
    const int error_number = sent < 0 ? errno : EPIPE;
    Close();
    throw common::Error(TransferFailureText(error_number, "send"));
  }
}

}  // namespace k390tool
