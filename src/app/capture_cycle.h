#pragma once

#include <QObject>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "acquisition/capture_cycle.h"
#include "acquisition/cycle_driver.h"
#include "acquisition/pulse_data.h"
#include "acquisition/udp_receiver.h"
#include "app/capture_timer.h"
#include "app/instrument_link.h"

namespace app {

// The Qt ports of the capture cycle: the capture timer, the instrument link and the UDP receiver,
// driven by the one cycle driver, with the offline resample of the stream log the settings ask
// for. The face (the window) gets the pass, the events and the state. Handlers are named after
// the window's controls and events and throw common::Error for the standard error display.
// Window thread only.
class CaptureCycle : public QObject {
  Q_OBJECT

 public:
  CaptureCycle(acquisition::CycleFace& face, std::string exe_dir, QObject* parent = nullptr);
  ~CaptureCycle() override;

  void BsampleClick() { driver_.Sample(); }
  void CBactiveClick() { driver_.AutoSampleToggled(); }
  void CBstreamClick() { driver_.StreamToggled(); }
  void Timer1Timer() { driver_.Tick(); }
  void ClientSocket1Read();
  // The instrument ended the connection: what it sent before goes through first.
  void ClientSocket1Disconnect();
  void IdUDPServer1UDPRead(std::span<const uint8_t> datagram) { machine_.Datagram(datagram); }
  void FormClose() { driver_.WindowClosing(); }

  // The processing pass's cycle steps: at its start, at its end however it ends, and the stream
  // window and log steps in between.
  void PassStarting() { driver_.PassStarting(); }
  void PassEnding() { driver_.PassEnding(); }
  void TakeStreamWindow(acquisition::PulseData& data);
  // The data files held back, or freed with Sample offered again unless Stream is on.
  void LockFileButtons() { driver_.LockFiles(); }
  void UnlockFileButtons() { driver_.UnlockFiles(); }

  // Start-up: ring cursors to 0.
  void ResetRing() { machine_.ResetRing(); }

  acquisition::CaptureCycle& Machine() { return machine_; }
  const acquisition::CaptureCycle& Machine() const { return machine_; }
  std::string& RxBuffer() { return machine_.RxBuffer(); }
  bool FromFile() const { return machine_.FromFile(); }
  void SetFromFile(bool from_file) { machine_.SetFromFile(from_file); }
  // The transport as the stream command's mode digit: 0 none, 1 UDP, 2 TCP.
  int StreamTransport() const { return static_cast<int>(machine_.Transport()); }
  void SetStreamTransport(int transport) {
    machine_.SetTransport(static_cast<acquisition::StreamTransport>(transport));
  }

  CaptureTimer& Timer() { return timer_; }
  InstrumentLink& Link() { return link_; }
  acquisition::UdpReceiver& Receiver() { return udp_; }

  // Read-only views of the cycle and stream state, for the window and the tests.
  const std::string& PendingCommand() const { return machine_.PendingCommand(); }
  bool StreamBinary() const { return machine_.StreamBinary(); }
  bool ClearRxOnNext() const { return machine_.ClearRxOnNext(); }
  bool SkipNextDatagram() const { return machine_.Path().SkipNextDatagram(); }
  int RingWrite() const { return machine_.Path().RingWrite(); }
  int RingDisplay() const { return machine_.Path().RingDisplay(); }
  int RingLog() const { return machine_.Path().RingLog(); }
  int RingFillCount() const { return machine_.Path().RingFillCount(); }
  // Words lost before the log took them, since streaming started.
  uint64_t LostWords() const { return machine_.Path().LostWords(); }
  // What the stream met besides its words, since streaming started.
  acquisition::StreamCounts StreamCounts() const { return machine_.Path().Counts(); }
  // Words that entered the ring since streaming started, over either transport.
  uint64_t StreamWordsIn() const { return machine_.Path().WordsIn(); }
  bool StreamLogOpen() const { return machine_.Path().LogOpen(); }
  std::string StreamLogPath() const { return machine_.StreamLogPath(); }

  static constexpr size_t kMaxRxBytes = acquisition::CaptureCycle::kMaxRxBytes;

 private:
  // RESAMPLE=TRUE exactly in the settings file: the closed log smoothed into resampled.dat.
  void Resample(const std::string& log_path) const;

  std::string exe_dir_;
  // The receiver's thread feeds the machine's stream path, so the machine outlives it.
  acquisition::CaptureCycle machine_;
  CaptureTimer timer_;
  InstrumentLink link_;
  acquisition::UdpReceiver udp_{machine_.Path()};
  acquisition::UdpReceiverPort udp_port_{udp_};
  acquisition::SystemClock clock_;
  acquisition::CycleDriver driver_;
};

}  // namespace app
