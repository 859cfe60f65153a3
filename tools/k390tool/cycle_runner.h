#pragma once

#include <chrono>

#include "acquisition/capture_cycle.h"
#include "acquisition/cycle_driver.h"
#include "tcp_link.h"

// The capture cycle without a window: POSIX ports for the one cycle driver the window runs too
// (the instrument link of tcp_link.h, the capture timer, the clock) around one poll() loop.
// SIGINT and SIGTERM are caught while a runner exists and wake its loop; the command decides
// how to stop.
namespace k390tool {

// A command as the cycle's face: the operator's settings held as values, which follow the
// cycle's state (AutoSample and Stream go off when the cycle stops them).
class ToolFace : public acquisition::CycleFace {
 public:
  acquisition::CycleInputs& Settings() { return settings_; }
  acquisition::CycleInputs Controls() const override { return settings_; }
  void ShowStatus(const acquisition::CycleStatus& status) override {
    settings_.auto_sample = status.auto_sample;
    settings_.stream = status.stream;
  }

 private:
  acquisition::CycleInputs settings_;
};

class CycleRunner final : private acquisition::TimerPort {
 public:
  // `receiver`: the UDP receiver of a stream, or none.
  CycleRunner(acquisition::CaptureCycle& cycle, acquisition::CycleFace& face,
              acquisition::ReceiverPort* receiver = nullptr);
  CycleRunner(const CycleRunner&) = delete;
  CycleRunner& operator=(const CycleRunner&) = delete;
  ~CycleRunner() override;

  acquisition::CycleDriver& Driver() { return driver_; }

  // Waits up to `max_ms` (and no longer than the capture timer's next tick) for the link, the
  // timer or a signal, and hands what happened to the driver. Throws common::Error when an
  // event ends with one.
  void PollOnce(int max_ms);

  // A SIGINT or SIGTERM arrived.
  bool Interrupted() const { return interrupted_; }
  TcpLink& Link() { return link_; }

 private:
  void SetEnabled(bool on) override;
  void SetInterval(int ms) override;
  int MsToTick() const;
  void HandleLink(short revents);

  TcpLink link_;
  acquisition::SystemClock clock_;
  bool timer_on_ = false;
  int interval_ms_ = 1000;
  std::chrono::steady_clock::time_point next_tick_;
  bool interrupted_ = false;
  acquisition::CycleDriver driver_;
};

}  // namespace k390tool
