#include "app/capture_cycle.h"

#include <exception>
#include <utility>
#include <variant>

#include "acquisition/tick_timer.h"
#include "analysis/resample.h"
#include "common/convert.h"
#include "common/error.h"
#include "persistence/ini_file.h"

namespace app {

namespace step = acquisition::step;

CaptureCycle::CaptureCycle(CycleWindow window, std::string exe_dir, QObject* parent)
    : QObject(parent),
      window_(std::move(window)),
      exe_dir_(std::move(exe_dir)),
      machine_(exe_dir_) {
  connect(&link_, &InstrumentLink::ErrorReported, this,
          [this](const QString& message) { Apply(machine_.LinkError(message.toStdString())); });
}

CaptureCycle::~CaptureCycle() = default;

void CaptureCycle::SetStreamTransport(int transport) {
  machine_.SetTransport(static_cast<acquisition::StreamTransport>(transport));
}

acquisition::CycleInputs CaptureCycle::Inputs() const {
  acquisition::CycleInputs in = window_.controls();
  in.link_active = link_.Active();
  in.now = acquisition::TickNow();
  return in;
}

void CaptureCycle::BsampleClick() { Carry(machine_.Sample(Inputs())); }
void CaptureCycle::CBactiveClick() { Carry(machine_.AutoSampleToggled(Inputs())); }
void CaptureCycle::CBstreamClick() { Carry(machine_.StreamToggled(Inputs())); }
void CaptureCycle::Timer1Timer() { Carry(machine_.Tick(Inputs())); }
void CaptureCycle::FormClose() { Carry(machine_.WindowClosing(Inputs())); }

void CaptureCycle::ClientSocket1Read() {
  const qint64 waiting = link_.BytesAvailable();
  if (waiting <= 0) return;
  const std::string bytes = link_.Read(waiting);
  Carry(machine_.BytesArrived(Inputs(), bytes));
}

void CaptureCycle::ClientSocket1Disconnect() {
  std::exception_ptr read_failure;
  try {
    ClientSocket1Read();
  } catch (...) {
    read_failure = std::current_exception();  // the close is still the cycle's to handle
  }
  Carry(machine_.LinkClosed(Inputs()));
  if (read_failure) std::rethrow_exception(read_failure);
}

void CaptureCycle::IdUDPServer1UDPRead(std::span<const uint8_t> datagram) {
  machine_.Datagram(datagram);
}

void CaptureCycle::PassStarting() { Apply(machine_.PassStarting()); }
void CaptureCycle::PassEnding() { Apply(machine_.PassEnding(Inputs())); }

void CaptureCycle::TakeStreamWindow(acquisition::PulseData& data) {
  Apply(machine_.TakeStreamWindow(window_.controls().samples_value, data));
}

void CaptureCycle::Carry(acquisition::CycleSteps steps) {
  deferred_error_.reset();
  for (;;) {
    Apply(steps);
    if (!machine_.HasRest()) break;
    steps = machine_.Continue(Inputs());
  }
  if (deferred_error_) throw common::Error(*std::exchange(deferred_error_, std::nullopt));
}

void CaptureCycle::Apply(const acquisition::CycleSteps& steps) {
  for (const acquisition::CycleStep& s : steps) Execute(s);
}

void CaptureCycle::Execute(const acquisition::CycleStep& s) {
  if (auto* x = std::get_if<step::TimerEnabled>(&s)) {
    timer_.SetEnabled(x->on);
  } else if (auto* x = std::get_if<step::TimerInterval>(&s)) {
    timer_.SetInterval(x->ms);
  } else if (auto* x = std::get_if<step::OpenLink>(&s)) {
    const QString host = QString::fromStdString(x->host);
    link_.SetAddress(ResolveHost(host));
    link_.SetPort(common::StrToInt(x->port));
    link_.Open(host);
  } else if (std::holds_alternative<step::CloseLink>(s)) {
    link_.Close();
  } else if (auto* x = std::get_if<step::Send>(&s)) {
    link_.Send(x->bytes);
  } else if (auto* x = std::get_if<step::UdpActive>(&s)) {
    if (x->on) udp_.SetInstrument(x->host);
    udp_.SetActive(x->on);
  } else if (std::holds_alternative<step::ResampleStreamLog>(s)) {
    try {
      const std::string resample =
          persistence::ReadSetting(exe_dir_ + "K390cap.ini", "SETTINGS", "RESAMPLE", "FALSE");
      if (resample == "TRUE") {
        analysis::ResampleLog(machine_.StreamLogPath(), exe_dir_ + "resampled.dat");
      }
    } catch (const common::Error& error) {
      if (!deferred_error_) deferred_error_ = error.what();
    }
  } else if (auto* x = std::get_if<step::Raise>(&s)) {
    deferred_error_.reset();  // the raised error comes first
    throw common::Error(x->message);
  } else {
    window_.apply(s);
  }
}

}  // namespace app
