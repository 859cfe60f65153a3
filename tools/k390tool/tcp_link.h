#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "acquisition/cycle_driver.h"

// The instrument's TCP link for the command-line tool: a non-blocking client socket that the
// tool's poll loop watches. Failures read as the window's link reports them: "Host name not
// found: NAME" for a name that does not resolve, "Asynchronous socket error N" for a connection
// that cannot be made, "Socket error: <reason> (N), on API '<send|recv>'" for one that breaks.
// The peer closing the link is no failure of the link; Handle reports it for the cycle.
namespace k390tool {

class TcpLink final : public acquisition::LinkPort {
 public:
  TcpLink() = default;
  TcpLink(const TcpLink&) = delete;
  TcpLink& operator=(const TcpLink&) = delete;
  ~TcpLink() override;

  // Starts connecting to host:port. The host is a dotted IPv4 address or a name (its first IPv4
  // address); a name that does not resolve, or a port outside 1..65535, fails as a refused
  // attempt does, reported by the next Handle (the name with its own message). A link that is open
  // or connecting to the same endpoint is left alone; another endpoint starts over.
  void Open(const std::string& host, int port);
  // Open with the port text as a decimal integer; common::Error when it is not.
  void Connect(const std::string& host, const std::string& port) override;
  void Close() override;

  bool Active() const override { return fd_ >= 0 && !connecting_; }
  bool Idle() const { return fd_ < 0 && !failure_; }
  // The descriptor and the events to poll it for; -1 when there is nothing to wait on.
  int Fd() const { return fd_; }
  short Events() const;
  // Milliseconds until a connection attempt gives up, or -1.
  int ConnectTimeLeftMs() const;
  // A failure waiting for Handle (a refused endpoint is found before anything is polled).
  bool HasFailure() const { return failure_.has_value(); }

  struct Outcome {
    std::string bytes;                   // received
    std::optional<std::string> failure;  // the link is closed
    bool peer_closed = false;            // the peer ended the conversation; the link is closed
  };
  // After poll(): connects, reads what is waiting (at most `max_bytes`), or reports a failure.
  Outcome Handle(short revents, size_t max_bytes);

  // Writes all of `bytes`, waiting for room when the socket is full. Throws common::Error with
  // the window's send failure text and closes the link.
  void Send(std::string_view bytes) override;

  // An attempt that neither connects nor fails is given up after this long (ETIMEDOUT).
  static constexpr std::chrono::milliseconds kConnectTimeout{4000};

 private:
  void Fail(int error_number);
  void Fail(std::string message);

  int fd_ = -1;
  bool connecting_ = false;
  std::string host_;
  int port_ = 0;
  std::chrono::steady_clock::time_point connect_deadline_;
  std::optional<std::string> failure_;
};

}  // namespace k390tool
