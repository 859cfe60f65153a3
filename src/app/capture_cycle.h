#pragma once

#include <QObject>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "acquisition/pulse_data.h"

namespace analysis {
class ProcessingPass;
}

namespace app {

class CaptureTimer;
class InstrumentLink;
class UdpReceiver;

// What the capture cycle and the stream path need of the window. Setting AutoSample's checked
// state runs CBactiveClick when the state changes, as the operator's click would.
class CycleView {
 public:
  virtual ~CycleView() = default;

  virtual QString HostText() const = 0;        // Eip
  virtual QString PortText() const = 0;        // Eport
  virtual QString SamplesText() const = 0;     // SEsamples, as typed
  virtual int SamplesValue() const = 0;        // SEsamples: the text as an integer, or 10
  virtual bool DualChecked() const = 0;        // CBdual
  virtual bool AutoSampleChecked() const = 0;  // CBactive
  virtual bool StreamChecked() const = 0;      // CBstream

  virtual void SetAutoSampleChecked(bool checked) = 0;
  virtual void SetAutoSampleEnabled(bool enabled) = 0;
  virtual void SetSampleEnabled(bool enabled) = 0;  // Bsample
  virtual void SetStreamEnabled(bool enabled) = 0;  // CBstream
  virtual void SetChartTitle(const QString& first_line) = 0;
  virtual void LockFileButtons() = 0;
  virtual void UnlockFileButtons() = 0;
  virtual void ProcessSamples() = 0;
  // Errors that no handler raised (the socket layer's own reports).
  virtual void ReportError(const QString& message) = 0;
  // A repeated word met by the stream log.
  virtual void Beep() = 0;
  // Words overwritten in the ring before the log took them, since streaming started.
  virtual void ShowLostWords(uint64_t lost) = 0;
};

// The capture cycle over the instrument link and the stream path: request queueing and sending
// from the capture timer, the reply timeout, reply completion, the stream ring with its window
// and log steps, and the UDP receiver. The window forwards its handlers here. Window thread
// only. Handlers throw common::Error for the standard error display.
class CaptureCycle : public QObject {
  Q_OBJECT

 public:
  CaptureCycle(CycleView& view, analysis::ProcessingPass& pass, std::string exe_dir,
               QObject* parent = nullptr);
  ~CaptureCycle() override;

  // Handlers, named after the window's controls and events.
  void BsampleClick();
  void CBactiveClick();
  void CBstreamClick();
  void Timer1Timer();
  void ClientSocket1Read();
  void IdUDPServer1UDPRead(std::span<const uint8_t> datagram);
  void FormClose();

  // The stream window and log steps of a pass (called through the pass's view).
  void TakeStreamWindow(acquisition::PulseData& data);

  // Start-up: ring cursors to 0.
  void ResetRing();

  // Cycle state shared with the pass, Load and the display handlers.
  std::string& RxBuffer();
  bool FromFile() const;
  void SetFromFile(bool from_file);
  void SetClearRxOnNext(bool clear);
  int StreamTransport() const;
  void SetStreamTransport(int transport);  // 0 none, 1 UDP, 2 TCP

  CaptureTimer& Timer1();
  InstrumentLink& ClientSocket1();
  UdpReceiver& IdUDPServer1();

  // Read-only views of the cycle and stream state, for the window and the tests.
  const std::string& PendingCommand() const;
  bool StreamBinary() const;
  bool ClearRxOnNext() const;
  bool SkipNextDatagram() const;
  int RingWrite() const;
  int RingDisplay() const;
  int RingLog() const;
  int RingFillCount() const;
  // Words overwritten in the ring before the log took them, since streaming started.
  uint64_t LostWords() const;
  // Words that entered the ring since streaming started, over either transport.
  uint64_t StreamWordsIn() const;
  bool StreamLogOpen() const;
  std::string StreamLogPath() const;

  // RxBuffer is emptied with an error when it grows past this without a complete reply.
  static constexpr size_t kMaxRxBytes = 1024 * 1024;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace app
