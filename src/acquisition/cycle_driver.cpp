#include "acquisition/cycle_driver.h"

#include <utility>
#include <variant>

#include "acquisition/tick_timer.h"
#include "acquisition/udp_receiver.h"
#include "common/error.h"

namespace acquisition {

void UdpReceiverPort::Switch(bool on, const std::string& instrument) {
  if (on) receiver_.SetInstrument(instrument);
  receiver_.SetActive(on);
}

int32_t SystemClock::Now() const { return TickNow(); }

CycleDriver::CycleDriver(CaptureCycle& cycle, CyclePorts ports, CycleFace& face)
    : cycle_(cycle), ports_(std::move(ports)), face_(face) {}

CycleInputs CycleDriver::Inputs() const {
  CycleInputs in = face_.Controls();
  in.link_active = ports_.link.Active();
  in.now = ports_.clock.Now();
  return in;
}

void CycleDriver::RunPass(const std::function<void()>& pass) {
  PassStarting();
  try {
    pass();
  } catch (...) {
    PassEnding();
    throw;
  }
  PassEnding();
}

void CycleDriver::LockFiles() {
  cycle_.LockFiles();
  Publish();
}

void CycleDriver::UnlockFiles() {
  cycle_.UnlockFiles(Inputs());
  Publish();
}

void CycleDriver::Carry(CycleSteps steps) {
  deferred_error_.reset();
  for (;;) {
    Apply(steps);
    if (!cycle_.HasRest()) break;
    steps = cycle_.Continue(Inputs());
  }
  if (deferred_error_) throw common::Error(*std::exchange(deferred_error_, std::nullopt));
}

void CycleDriver::Apply(const CycleSteps& steps) {
  try {
    for (const CycleStep& s : steps) Execute(s);
  } catch (...) {
    Publish();
    throw;
  }
  Publish();
}

void CycleDriver::Execute(const CycleStep& s) {
  if (auto* x = std::get_if<step::TimerEnabled>(&s)) {
    ports_.timer.SetEnabled(x->on);
  } else if (auto* x = std::get_if<step::TimerInterval>(&s)) {
    ports_.timer.SetInterval(x->ms);
  } else if (auto* x = std::get_if<step::OpenLink>(&s)) {
    ports_.link.Connect(x->host, x->port);
  } else if (std::holds_alternative<step::CloseLink>(s)) {
    ports_.link.Close();
  } else if (auto* x = std::get_if<step::Send>(&s)) {
    ports_.link.Send(x->bytes);
  } else if (std::holds_alternative<step::RunPass>(s)) {
    Publish();  // the pass reads the state it runs in
    face_.RunPass();
  } else if (auto* x = std::get_if<step::UdpActive>(&s)) {
    if (ports_.receiver != nullptr) ports_.receiver->Switch(x->on, x->host);
  } else if (std::holds_alternative<step::ResampleStreamLog>(s)) {
    Resample();
  } else if (auto* x = std::get_if<step::Raise>(&s)) {
    deferred_error_.reset();  // the raised error comes first
    throw common::Error(x->message);
  } else {
    face_.Hear(std::get<CycleEvent>(s));
  }
}

// A failed resample must not keep the instrument streaming: its error waits for the stop's
// other steps.
void CycleDriver::Resample() {
  if (!ports_.resample) return;
  try {
    ports_.resample(cycle_.StreamLogPath());
  } catch (const common::Error& error) {
    if (!deferred_error_) deferred_error_ = error.Message();
  }
}

}  // namespace acquisition
