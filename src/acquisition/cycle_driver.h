#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "acquisition/capture_cycle.h"
#include "acquisition/pulse_data.h"

// One driver of the capture cycle for every face: it feeds the cycle its events, carries out the
// steps it gives back over small ports (link, timer, UDP receiver, clock), hands the pass and the
// events to the face, and shows the face the cycle's state after each step list. The window
// supplies Qt ports, the command-line tool POSIX ones, the tests fakes.
namespace acquisition {

// The instrument link: a TCP client that connects on its own time, carries bytes both ways and
// reports what it meets to CycleDriver (BytesArrived, LinkClosed, LinkFailed).
class LinkPort {
 public:
  virtual ~LinkPort() = default;
  // Starts connecting to the host (a name or a dotted address) at the port given as typed, which
  // must read as a decimal integer. Throws common::Error on a port text that does not, or on a
  // new endpoint while the link is active; the same endpoint changes nothing.
  virtual void Connect(const std::string& host, const std::string& port) = 0;
  virtual void Close() = 0;
  // Throws common::Error when the bytes cannot go out; the link is closed then.
  virtual void Send(std::string_view bytes) = 0;
  // Connected, from the moment the connection is made until it closes from either side.
  virtual bool Active() const = 0;
};

// The capture timer, whose ticks reach CycleDriver::Tick. Enabling a disabled timer, or changing
// an enabled one's interval, starts a fresh countdown; anything else leaves the countdown alone.
class TimerPort {
 public:
  virtual ~TimerPort() = default;
  virtual void SetEnabled(bool on) = 0;
  virtual void SetInterval(int ms) = 0;
};

// The UDP receiver of a stream. Switching it on may throw common::Error (the port in use).
class ReceiverPort {
 public:
  virtual ~ReceiverPort() = default;
  // On for the datagrams of the instrument at `instrument` only, or off.
  virtual void Switch(bool on, const std::string& instrument) = 0;
};

// The 30-bit millisecond counter that times the stream trigger (TickNow).
class ClockPort {
 public:
  virtual ~ClockPort() = default;
  virtual int32_t Now() const = 0;
};

class UdpReceiver;

// The shared UDP receiver as a port.
class UdpReceiverPort final : public ReceiverPort {
 public:
  explicit UdpReceiverPort(UdpReceiver& receiver) : receiver_(receiver) {}
  void Switch(bool on, const std::string& instrument) override;

 private:
  UdpReceiver& receiver_;
};

// TickNow.
class SystemClock final : public ClockPort {
 public:
  int32_t Now() const override;
};

// What the driver needs of a face: the operator's settings, the processing pass, and someone to
// hear the events and show the state.
class CycleFace {
 public:
  virtual ~CycleFace() = default;
  // Host, port, samples, Dual, AutoSample and Stream as the operator has them now (the driver
  // fills in the link and the clock).
  virtual CycleInputs Controls() const = 0;
  // The processing pass, with its own cycle steps around it (CycleDriver::RunPass). May throw
  // common::Error, which ends the event.
  virtual void RunPass() = 0;
  virtual void Hear(const CycleEvent& event) = 0;
  // After every step list, before the cycle is asked for the rest of an event, and before a
  // pass: the state the face shows from now on.
  virtual void ShowStatus(const CycleStatus& status) = 0;
};

struct CyclePorts {
  LinkPort& link;
  TimerPort& timer;
  ReceiverPort* receiver = nullptr;  // none: a UDP stream switches nothing on
  const ClockPort& clock;
  // The offline resample of the stream log just closed, when the settings ask for it; none
  // leaves it to the operator. A common::Error is raised once the event is over, unless
  // another error ended it.
  std::function<void(const std::string& log_path)> resample;
};

// Carries the cycle out. Errors end an event by throwing common::Error out of the call that
// fed it. One thread, the one the ports report on.
class CycleDriver {
 public:
  CycleDriver(CaptureCycle& cycle, CyclePorts ports, CycleFace& face);

  // Operator commands; AutoSampleToggled and StreamToggled read the switch's new state from
  // the face.
  void Sample() { Carry(cycle_.Sample(Inputs())); }
  void AutoSampleToggled() { Carry(cycle_.AutoSampleToggled(Inputs())); }
  void StreamToggled() { Carry(cycle_.StreamToggled(Inputs())); }
  void WindowClosing() { Carry(cycle_.WindowClosing(Inputs())); }

  // What the ports report.
  void Tick() { Carry(cycle_.Tick(Inputs())); }
  void BytesArrived(std::string_view bytes) { Carry(cycle_.BytesArrived(Inputs(), bytes)); }
  // The peer ended the connection; what it sent before has gone through BytesArrived.
  void LinkClosed() { Carry(cycle_.LinkClosed(Inputs())); }
  // Leaves the rest of an event that is being carried out.
  void LinkFailed(const std::string& message) { Apply(cycle_.LinkError(message)); }

  // The processing pass's cycle steps, for a face's pass: `pass` runs between the start and the
  // end steps, and the end steps run however it ends.
  void RunPass(const std::function<void()>& pass);
  void PassStarting() { Apply(cycle_.PassStarting()); }
  void PassEnding() { Apply(cycle_.PassEnding(Inputs())); }
  // The stream window of `n` words into `data`, with the log step behind it.
  void TakeStreamWindow(int n, PulseData& data) { Apply(cycle_.TakeStreamWindow(n, data)); }

  // The data files held back or freed by the face.
  void LockFiles();
  void UnlockFiles();

  CycleInputs Inputs() const;
  CaptureCycle& Cycle() { return cycle_; }
  const CaptureCycle& Cycle() const { return cycle_; }

 private:
  // An event's steps with every rest the cycle has for it.
  void Carry(CycleSteps steps);
  // Steps inside a running event: no rest is asked for.
  void Apply(const CycleSteps& steps);
  void Execute(const CycleStep& step);
  void Resample();
  void Publish() { face_.ShowStatus(cycle_.Status()); }

  CaptureCycle& cycle_;
  CyclePorts ports_;
  CycleFace& face_;
  std::optional<std::string> deferred_error_;
};

}  // namespace acquisition
