#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "acquisition/capture_cycle.h"
#include "tcp_link.h"

// The capture cycle without a window: the ports the window gives it (the capture timer, the
// instrument link, the UDP receiver) made of POSIX pieces around one poll() loop, so the tool
// runs the very cycle the window runs. SIGINT and SIGTERM are caught while a runner exists and
// wake its loop; the command decides how to stop.
namespace k390tool {

// The steps only the command carries out, in place of the window's controls and display.
struct RunnerHooks {
  std::function<void()> run_pass;                              // the processing pass
  std::function<void(const std::string& message)> show_error;  // the window's error display
  std::function<void(const acquisition::CycleStep& step)> other;
  // The UDP receiver on, for the instrument at the step's host, or off; throws common::Error
  // when it cannot start. Empty: no receiver.
  std::function<void(const acquisition::step::UdpActive& step)> udp_active;
};

class CycleRunner {
 public:
  CycleRunner(acquisition::CaptureCycle& cycle, RunnerHooks hooks);
  CycleRunner(const CycleRunner&) = delete;
  CycleRunner& operator=(const CycleRunner&) = delete;
  ~CycleRunner();

  // The controls as the window would show them; the link state and the clock are filled in.
  acquisition::CycleInputs& Controls() { return controls_; }
  acquisition::CycleInputs Inputs() const;

  // An event's steps with every rest the cycle has for it. A Raise step throws common::Error;
  // the rest of the event is dropped, as in the window.
  void Carry(acquisition::CycleSteps steps);
  // Steps inside a running event (the pass's own).
  void Apply(const acquisition::CycleSteps& steps);

  // Waits up to `max_ms` (and no longer than the capture timer's next tick) for the link, the
  // timer or a signal, and turns what happened into the cycle's events.
  void PollOnce(int max_ms);

  // A SIGINT or SIGTERM arrived.
  bool Interrupted() const { return interrupted_; }
  TcpLink& Link() { return link_; }
  bool TimerEnabled() const { return timer_on_; }

 private:
  void Execute(const acquisition::CycleStep& step);
  void SetTimer(bool on);
  void SetInterval(int ms);
  int MsToTick() const;

  acquisition::CaptureCycle& cycle_;
  RunnerHooks hooks_;
  acquisition::CycleInputs controls_;
  TcpLink link_;
  bool timer_on_ = false;
  int interval_ms_ = 1000;
  std::chrono::steady_clock::time_point next_tick_;
  bool interrupted_ = false;
};

}  // namespace k390tool
