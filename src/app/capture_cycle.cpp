#include "app/capture_cycle.h"

#include <exception>
#include <utility>

#include "app/window_texts.h"
#include "persistence/ini_file.h"
#include "persistence/resample_file.h"
#include "persistence/window_settings.h"

namespace app {

CaptureCycle::CaptureCycle(acquisition::CycleFace& face, std::string exe_dir, QObject* parent)
    : QObject(parent),
      exe_dir_(std::move(exe_dir)),
      machine_(exe_dir_),
      driver_(machine_,
              acquisition::CyclePorts{link_, timer_, &udp_port_, clock_,
                                      [this](const std::string& log) { Resample(log); }},
              face) {
  connect(&link_, &InstrumentLink::ErrorReported, this,
          [this](const QString& message) { driver_.LinkFailed(message.toStdString()); });
}

CaptureCycle::~CaptureCycle() = default;

void CaptureCycle::ClientSocket1Read() {
  const qint64 waiting = link_.BytesAvailable();
  if (waiting <= 0) return;
  driver_.BytesArrived(link_.Read(waiting));
}

void CaptureCycle::ClientSocket1Disconnect() {
  std::exception_ptr read_failure;
  try {
    ClientSocket1Read();
  } catch (...) {
    read_failure = std::current_exception();  // the close is still the cycle's to handle
  }
  driver_.LinkClosed();
  if (read_failure) std::rethrow_exception(read_failure);
}

void CaptureCycle::TakeStreamWindow(acquisition::PulseData& data) {
  driver_.TakeStreamWindow(driver_.Inputs().samples_value, data);
}

void CaptureCycle::Resample(const std::string& log_path) const {
  const std::string resample =
      persistence::ReadSetting(exe_dir_ + persistence::kSettingsFileName,
                               persistence::kSettingsSection, "RESAMPLE", "FALSE");
  if (resample == "TRUE") persistence::ResampleLog(log_path, exe_dir_ + texts::kResampledFile);
}

}  // namespace app
