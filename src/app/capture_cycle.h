#pragma once

#include <QObject>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

#include "acquisition/capture_cycle.h"
#include "acquisition/pulse_data.h"
#include "app/capture_timer.h"
#include "app/instrument_link.h"
#include "acquisition/udp_receiver.h"

namespace app {

// What the cycle's ports need of the window: the controls as they stand (the link and the clock
// are filled in here), and the steps that only the window carries out.
struct CycleWindow {
  std::function<acquisition::CycleInputs()> controls;
  std::function<void(const acquisition::CycleStep& step)> apply;
};

// The Qt ports of the capture cycle: the capture timer, the instrument link and the UDP receiver
// turn their signals into the cycle's events and carry out the timer, link and receiver steps
// it gives back; the window gets the rest. Handlers are named after the window's controls and
// events and throw common::Error for the standard error display. Window thread only.
class CaptureCycle : public QObject {
  Q_OBJECT

 public:
  CaptureCycle(CycleWindow window, std::string exe_dir, QObject* parent = nullptr);
  ~CaptureCycle() override;

  void BsampleClick();
  void CBactiveClick();
  void CBstreamClick();
  void Timer1Timer();
  void ClientSocket1Read();
  // The instrument ended the connection: what it sent before goes through first.
  void ClientSocket1Disconnect();
  void IdUDPServer1UDPRead(std::span<const uint8_t> datagram);
  void FormClose();

  // The processing pass's cycle steps: at its start, at its end however it ends, and the stream
  // window and log steps in between.
  void PassStarting();
  void PassEnding();
  void TakeStreamWindow(acquisition::PulseData& data);

  // Start-up: ring cursors to 0.
  void ResetRing() { machine_.ResetRing(); }

  acquisition::CaptureCycle& Machine() { return machine_; }
  const acquisition::CaptureCycle& Machine() const { return machine_; }
  std::string& RxBuffer() { return machine_.RxBuffer(); }
  bool FromFile() const { return machine_.FromFile(); }
  void SetFromFile(bool from_file) { machine_.SetFromFile(from_file); }
  int StreamTransport() const { return static_cast<int>(machine_.Transport()); }
  void SetStreamTransport(int transport);  // 0 none, 1 UDP, 2 TCP

  CaptureTimer& Timer1() { return timer_; }
  InstrumentLink& ClientSocket1() { return link_; }
  acquisition::UdpReceiver& IdUDPServer1() { return udp_; }

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
  acquisition::CycleInputs Inputs() const;
  // An event's steps with every rest the cycle has for it; a step that throws ends the event.
  void Carry(acquisition::CycleSteps steps);
  // Steps inside a running event (the pass's own): no rest is asked for.
  void Apply(const acquisition::CycleSteps& steps);
  void Execute(const acquisition::CycleStep& step);

  CycleWindow window_;
  std::string exe_dir_;
  // The receiver's thread feeds the machine's stream path, so the machine outlives it.
  acquisition::CaptureCycle machine_;
  CaptureTimer timer_;
  InstrumentLink link_;
  acquisition::UdpReceiver udp_{machine_.Path()};
  std::optional<std::string> deferred_error_;
};

}  // namespace app
