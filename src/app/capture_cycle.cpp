#include "app/capture_cycle.h"

#include <exception>
#include <utility>

#include "acquisition/protocol.h"
#include "acquisition/stream_log.h"
#include "acquisition/stream_path.h"
#include "acquisition/stream_ring.h"
#include "acquisition/tick_timer.h"
#include "analysis/processing_pass.h"
#include "analysis/resample.h"
#include "app/capture_timer.h"
#include "app/instrument_link.h"
#include "app/udp_receiver.h"
#include "common/convert.h"
#include "common/error.h"
#include "persistence/ini_file.h"

namespace app {
namespace {

constexpr int kTickIntervalMs = 50;
constexpr int kReplyTimeoutMs = 4000;
constexpr int kMinSamples = 10;
constexpr int kStreamPassMs = 250;
constexpr int kTransportTcp = 2;
constexpr int kTransportUdp = 1;

const QString kTitle = QStringLiteral("K390 Jitter Data");
const QString kLiveTitle = QStringLiteral("K390 Jitter Data [Live]");

}  // namespace

struct CaptureCycle::Impl {
  Impl(CycleView& v, analysis::ProcessingPass& p, std::string dir)
      : view(v), pass(p), exe_dir(std::move(dir)) {}

  CycleView& view;
  analysis::ProcessingPass& pass;
  std::string exe_dir;

  CaptureTimer timer;
  InstrumentLink link;
  // The receiver's thread feeds the path, so the path outlives it.
  acquisition::StreamPath path;
  UdpReceiver udp{path};

  std::string pending_command;
  std::string rx_buffer;
  bool clear_rx_on_next = false;
  bool stream_binary = false;
  bool from_file = false;
  int stream_transport = 0;
  int32_t stream_tick = 0;

  std::string StreamPath() const { return exe_dir + std::string(acquisition::kStreamLogName); }

  void OpenLinkIfClosed() {
    if (link.Active()) return;
    link.SetAddress(ResolveHost(view.HostText()));
    link.SetPort(common::StrToInt(view.PortText().toStdString()));
    link.Open();
  }

  void ArmCaptureTimer() {
    timer.SetTag(0);
    timer.SetInterval(kTickIntervalMs);
    timer.SetEnabled(true);
  }

  void QueueSampleRequest() {
    const QByteArray count = view.SamplesText().toLatin1();
    pending_command = acquisition::SampleRequest(
        view.DualChecked(), std::string_view(count.constData(), static_cast<size_t>(count.size())));
  }

  // What the stream path met since the last look: a tone per repeated word, the lost count,
  // and failed log writes, each handed to the error display once.
  void ApplyNotices() {
    const acquisition::StreamNotices notices = path.TakeNotices();
    for (int i = 0; i < notices.repeats; ++i) view.Beep();
    view.ShowLostWords(notices.lost_words);
    for (const std::string& error : notices.errors) view.ReportError(QString::fromStdString(error));
  }

  void StartStreaming() {
    path.BeginStream();
    pass.ResetPeaks();
    path.OpenLog(StreamPath());
    view.SetAutoSampleEnabled(false);
    view.SetSampleEnabled(false);
    stream_tick = acquisition::TickNow();
    stream_binary = false;
    view.LockFileButtons();
  }

  std::exception_ptr StopStreaming() {
    // The receiver goes first, so the tail the path logs is the last word it will get.
    udp.SetActive(false);
    std::exception_ptr tail_error;
    const std::string tail = path.StopStream();
    if (!tail.empty()) tail_error = std::make_exception_ptr(common::Error(tail));
    ApplyNotices();
    view.SetAutoSampleEnabled(true);
    view.SetSampleEnabled(true);
    view.UnlockFileButtons();
    // The offline resample may fail on a short log; that must not keep the UDP receiver on and
    // the instrument streaming, so its error waits until the stop has been queued.
    try {
      const std::string resample =
          persistence::ReadSetting(exe_dir + "K390cap.ini", "SETTINGS", "RESAMPLE", "FALSE");
      if (resample == "TRUE") analysis::ResampleLog(StreamPath(), exe_dir + "resampled.dat");
    } catch (const common::Error&) {
      if (!tail_error) tail_error = std::current_exception();
    }
    return tail_error;
  }

  void StreamTrigger() {
    if (!view.StreamChecked()) return;
    const int n = acquisition::ClampWindow(view.SamplesValue());
    ApplyNotices();
    if (path.RingFillCount() >= n || acquisition::TickElapsed(stream_tick) > kStreamPassMs) {
      from_file = false;
      stream_tick = acquisition::TickNow();
      timer.SetEnabled(false);
      view.ProcessSamples();
    }
  }
};

CaptureCycle::CaptureCycle(CycleView& view, analysis::ProcessingPass& pass, std::string exe_dir,
                           QObject* parent)
    : QObject(parent), impl_(std::make_unique<Impl>(view, pass, std::move(exe_dir))) {
  connect(&impl_->link, &InstrumentLink::ErrorReported, this,
          [this](const QString& message) { impl_->view.ReportError(message); });
}

CaptureCycle::~CaptureCycle() = default;

void CaptureCycle::BsampleClick() {
  Impl& c = *impl_;
  c.timer.SetEnabled(false);
  c.OpenLinkIfClosed();
  c.ArmCaptureTimer();
  c.view.LockFileButtons();
  c.QueueSampleRequest();
}

void CaptureCycle::CBactiveClick() {
  Impl& c = *impl_;
  if (c.view.AutoSampleChecked()) {
    c.view.SetStreamEnabled(false);
    c.pass.ResetQualityPeak();
    c.link.SetAddress(ResolveHost(c.view.HostText()));
    c.link.SetPort(common::StrToInt(c.view.PortText().toStdString()));
    c.link.Open();
    c.ArmCaptureTimer();
    c.rx_buffer.clear();
    c.view.LockFileButtons();
    c.QueueSampleRequest();
  } else {
    c.view.SetChartTitle(kTitle);
    c.view.SetSampleEnabled(true);
    c.timer.SetEnabled(false);
    c.view.UnlockFileButtons();
    c.view.SetStreamEnabled(true);
  }
}

void CaptureCycle::CBstreamClick() {
  Impl& c = *impl_;
  const bool streaming = c.view.StreamChecked();
  std::exception_ptr tail_error;
  if (streaming) {
    c.StartStreaming();
  } else {
    tail_error = c.StopStreaming();
  }
  c.udp.SetActive(streaming && c.stream_transport == kTransportUdp);

  c.timer.SetEnabled(false);
  c.OpenLinkIfClosed();
  c.ArmCaptureTimer();
  c.pending_command = acquisition::StreamCommand(streaming ? c.stream_transport : 0);
  if (tail_error) std::rethrow_exception(tail_error);
}

void CaptureCycle::Timer1Timer() {
  Impl& c = *impl_;
  if (c.timer.Tag() == 1) {
    if (!c.view.StreamChecked()) c.timer.SetEnabled(false);
    c.timer.SetInterval(kTickIntervalMs);
    // Unchecking a checked box runs the AutoSample-off steps right here.
    c.view.SetAutoSampleChecked(false);
    if (c.link.Active() && !c.view.StreamChecked()) c.link.Close();
  }

  if (c.view.SamplesValue() >= kMinSamples &&
      (!c.pending_command.empty() || c.view.AutoSampleChecked()) && c.link.Active()) {
    c.timer.SetEnabled(false);
    c.timer.SetInterval(kReplyTimeoutMs);
    c.timer.SetEnabled(true);
    if (c.view.AutoSampleChecked()) {
      c.view.SetChartTitle(kLiveTitle);
      c.QueueSampleRequest();
    }
    c.link.Send(c.pending_command);
    c.pending_command.clear();
    c.timer.SetTag(1);
  }

  c.StreamTrigger();
}

void CaptureCycle::ClientSocket1Read() {
  Impl& c = *impl_;
  const qint64 waiting = c.link.BytesAvailable();
  if (waiting <= 0) return;
  const std::string bytes = c.link.Read(waiting);

  if (c.clear_rx_on_next && !bytes.empty()) {
    // In binary stream mode the bytes left here are the start of the next word; throwing them
    // away would shift every later word.
    if (!(c.stream_binary && c.rx_buffer.size() < 4)) c.rx_buffer.clear();
    c.clear_rx_on_next = false;
  }
  c.rx_buffer += bytes;

  if (acquisition::IsCompleteReply(c.rx_buffer)) {
    c.from_file = false;
    if (acquisition::IsStreamAck(c.rx_buffer)) {
      c.stream_binary = acquisition::AckSetsBinary(c.rx_buffer);
    } else {
      c.view.ProcessSamples();
    }
    if (c.view.AutoSampleChecked() ||
        (c.stream_transport == kTransportTcp && c.view.StreamChecked())) {
      c.ArmCaptureTimer();
    } else {
      c.timer.SetInterval(kTickIntervalMs);
      if (!c.view.StreamChecked()) c.timer.SetEnabled(false);
      c.link.Close();
    }
    c.rx_buffer.erase(0, acquisition::ReplyLength(c.rx_buffer));
  } else if (!c.stream_binary && c.rx_buffer.size() > kMaxRxBytes) {
    // A peer that never ends its reply must not make the buffer grow without bound.
    // Closing the link stops the flood; the reply, if any, ends by its timeout.
    const size_t held = c.rx_buffer.size();
    c.rx_buffer.clear();
    c.rx_buffer.shrink_to_fit();
    c.link.Close();
    throw common::Error("No reply end tag in " + std::to_string(held) +
                        " received bytes; the receive buffer was emptied and the link closed");
  }

  if (c.stream_binary) c.path.MoveWords(c.rx_buffer);
}

void CaptureCycle::IdUDPServer1UDPRead(std::span<const uint8_t> datagram) {
  impl_->path.Datagram(datagram);
}

void CaptureCycle::FormClose() {
  Impl& c = *impl_;
  if (c.link.Active()) c.link.Close();
  c.udp.SetActive(false);
  if (c.path.LogOpen()) c.path.CloseLog();
}

void CaptureCycle::TakeStreamWindow(acquisition::PulseData& data) {
  Impl& c = *impl_;
  try {
    c.path.TakeWindow(c.view.SamplesValue(), data);
  } catch (...) {
    c.ApplyNotices();
    throw;
  }
  c.ApplyNotices();
}

void CaptureCycle::ResetRing() { impl_->path.ResetCursors(); }

std::string& CaptureCycle::RxBuffer() { return impl_->rx_buffer; }
bool CaptureCycle::FromFile() const { return impl_->from_file; }
void CaptureCycle::SetFromFile(bool from_file) { impl_->from_file = from_file; }
void CaptureCycle::SetClearRxOnNext(bool clear) { impl_->clear_rx_on_next = clear; }
int CaptureCycle::StreamTransport() const { return impl_->stream_transport; }
void CaptureCycle::SetStreamTransport(int transport) { impl_->stream_transport = transport; }

CaptureTimer& CaptureCycle::Timer1() { return impl_->timer; }
InstrumentLink& CaptureCycle::ClientSocket1() { return impl_->link; }
UdpReceiver& CaptureCycle::IdUDPServer1() { return impl_->udp; }

const std::string& CaptureCycle::PendingCommand() const { return impl_->pending_command; }
bool CaptureCycle::StreamBinary() const { return impl_->stream_binary; }
bool CaptureCycle::ClearRxOnNext() const { return impl_->clear_rx_on_next; }
bool CaptureCycle::SkipNextDatagram() const { return impl_->path.SkipNextDatagram(); }
int CaptureCycle::RingWrite() const { return impl_->path.RingWrite(); }
int CaptureCycle::RingDisplay() const { return impl_->path.RingDisplay(); }
int CaptureCycle::RingLog() const { return impl_->path.RingLog(); }
int CaptureCycle::RingFillCount() const { return impl_->path.RingFillCount(); }
uint64_t CaptureCycle::LostWords() const { return impl_->path.LostWords(); }
uint64_t CaptureCycle::StreamWordsIn() const { return impl_->path.WordsIn(); }
bool CaptureCycle::StreamLogOpen() const { return impl_->path.LogOpen(); }
std::string CaptureCycle::StreamLogPath() const { return impl_->StreamPath(); }

}  // namespace app
