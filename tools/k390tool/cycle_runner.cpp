#include "cycle_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>
#include <variant>

#include "acquisition/tick_timer.h"
#include "common/convert.h"
#include "common/error.h"

namespace k390tool {
namespace {

namespace step = acquisition::step;

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

CycleRunner::CycleRunner(acquisition::CaptureCycle& cycle, RunnerHooks hooks)
    : cycle_(cycle), hooks_(std::move(hooks)) {
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

acquisition::CycleInputs CycleRunner::Inputs() const {
  acquisition::CycleInputs in = controls_;
  in.link_active = link_.Active();
  in.now = acquisition::TickNow();
  return in;
}

void CycleRunner::Carry(acquisition::CycleSteps steps) {
  for (;;) {
    Apply(steps);
    if (!cycle_.HasRest()) break;
    steps = cycle_.Continue(Inputs());
  }
}

void CycleRunner::Apply(const acquisition::CycleSteps& steps) {
  for (const acquisition::CycleStep& s : steps) Execute(s);
}

void CycleRunner::Execute(const acquisition::CycleStep& s) {
  if (auto* x = std::get_if<step::TimerEnabled>(&s)) {
    SetTimer(x->on);
  } else if (auto* x = std::get_if<step::TimerInterval>(&s)) {
    SetInterval(x->ms);
  } else if (auto* x = std::get_if<step::OpenLink>(&s)) {
    link_.Open(x->host, common::StrToInt(x->port));
  } else if (std::holds_alternative<step::CloseLink>(s)) {
    link_.Close();
  } else if (auto* x = std::get_if<step::Send>(&s)) {
    link_.Send(x->bytes);
  } else if (auto* x = std::get_if<step::UdpActive>(&s)) {
    if (hooks_.udp_active) hooks_.udp_active(*x);
  } else if (std::holds_alternative<step::UncheckStream>(s)) {
    controls_.stream = false;
  } else if (std::holds_alternative<step::RunPass>(s)) {
    Apply(cycle_.PassStarting());
    try {
      if (hooks_.run_pass) hooks_.run_pass();
    } catch (...) {
      Apply(cycle_.PassEnding(Inputs()));
      throw;
    }
    Apply(cycle_.PassEnding(Inputs()));
  } else if (auto* x = std::get_if<step::Raise>(&s)) {
    throw common::Error(x->message);
  } else if (auto* x = std::get_if<step::ShowError>(&s)) {
    if (hooks_.show_error) hooks_.show_error(x->message);
  } else if (std::holds_alternative<step::ResampleStreamLog>(s)) {
    // The tool leaves the resample to `k390tool resample`.
  } else if (hooks_.other) {
    hooks_.other(s);
  }
}

void CycleRunner::SetTimer(bool on) {
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
  if (link_.Fd() >= 0 || link_.HasFailure()) {
    const short revents = count == 2 ? fds[1].revents : 0;
    TcpLink::Outcome outcome = link_.Handle(revents, kReadBytes);
    if (!outcome.bytes.empty()) Carry(cycle_.BytesArrived(Inputs(), outcome.bytes));
    if (outcome.failure) Apply(cycle_.LinkError(*outcome.failure));
    if (outcome.peer_closed) Carry(cycle_.LinkClosed(Inputs()));
  }
  if (timer_on_ && MsToTick() == 0) {
    next_tick_ += std::chrono::milliseconds(interval_ms_);
    // A late loop (a long pass) takes one tick, not a burst of them.
    const auto now = std::chrono::steady_clock::now();
    if (next_tick_ < now) next_tick_ = now + std::chrono::milliseconds(interval_ms_);
    Carry(cycle_.Tick(Inputs()));
  }
}

}  // namespace k390tool
