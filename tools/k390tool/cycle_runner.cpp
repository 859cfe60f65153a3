#include "cycle_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "common/error.h"

namespace k390tool {
namespace {

// Large reads keep a TCP stream of millions of words a second to a few reads per tick.
constexpr size_t kReadBytes = 1 << 20;

// The self-pipe the signal handler writes to; one runner at a time.
int g_signal_pipe[2] = {-1, -1};

void OnStopSignal(int) {
  const int saved = errno;
  const char byte = 1;
  [[maybe_unused]] const ssize_t written = ::write(g_signal_pipe[1], &byte, 1);
  errno = saved;
}

void CatchStopSignals(bool on) {
  struct sigaction action {};
  action.sa_handler = on ? OnStopSignal : SIG_DFL;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
}

}  // namespace

CycleRunner::CycleRunner(acquisition::CaptureCycle& cycle, acquisition::CycleFace& face,
                         acquisition::ReceiverPort* receiver)
    : driver_(cycle, acquisition::CyclePorts{link_, *this, receiver, clock_, {}}, face) {
  if (::pipe2(g_signal_pipe, O_NONBLOCK | O_CLOEXEC) != 0) {
    throw common::Error("Cannot create the signal pipe");
  }
  CatchStopSignals(true);
}

CycleRunner::~CycleRunner() {
  CatchStopSignals(false);
  ::close(g_signal_pipe[0]);
  ::close(g_signal_pipe[1]);
  g_signal_pipe[0] = g_signal_pipe[1] = -1;
}

void CycleRunner::SetEnabled(bool on) {
  if (on == timer_on_) return;  // an enabled timer keeps its running countdown
  timer_on_ = on;
  if (on) next_tick_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(interval_ms_);
}

void CycleRunner::SetInterval(int ms) {
  if (ms == interval_ms_) return;
  interval_ms_ = ms;
  if (timer_on_) next_tick_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
}

int CycleRunner::MsToTick() const {
  if (!timer_on_) return -1;
  const auto left =
      std::chrono::ceil<std::chrono::milliseconds>(next_tick_ - std::chrono::steady_clock::now());
  return std::max<int>(0, static_cast<int>(left.count()));
}

void CycleRunner::PollOnce(int max_ms) {
  int wait = max_ms;
  if (const int tick = MsToTick(); tick >= 0) wait = std::min(wait, tick);
  if (const int connect = link_.ConnectTimeLeftMs(); connect >= 0) wait = std::min(wait, connect);
  if (link_.HasFailure()) wait = 0;

  pollfd fds[2] = {{g_signal_pipe[0], POLLIN, 0}, {link_.Fd(), link_.Events(), 0}};
  const nfds_t count = link_.Fd() >= 0 ? 2 : 1;
  if (::poll(fds, count, wait) < 0 && errno != EINTR) {
    throw common::Error("poll failed: " + std::to_string(errno));
  }
  if ((fds[0].revents & POLLIN) != 0) {
    char drain[16];
    while (::read(g_signal_pipe[0], drain, sizeof drain) > 0) {
    }
    interrupted_ = true;
  }
  if (link_.Fd() >= 0 || link_.HasFailure()) HandleLink(count == 2 ? fds[1].revents : 0);
  if (timer_on_ && MsToTick() == 0) {
    next_tick_ += std::chrono::milliseconds(interval_ms_);
    // A late loop (a long pass) takes one tick, not a burst of them.
    const auto now = std::chrono::steady_clock::now();
    if (next_tick_ < now) next_tick_ = now + std::chrono::milliseconds(interval_ms_);
    driver_.Tick();
  }
}

void CycleRunner::HandleLink(short revents) {
  const TcpLink::Outcome outcome = link_.Handle(revents, kReadBytes);
  if (!outcome.bytes.empty()) driver_.BytesArrived(outcome.bytes);
  if (outcome.failure) driver_.LinkFailed(*outcome.failure);
  if (outcome.peer_closed) driver_.LinkClosed();
}

}  // namespace k390tool
