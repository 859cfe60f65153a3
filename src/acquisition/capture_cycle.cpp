#include "acquisition/capture_cycle.h"

#include <exception>
#include <utility>

#include "acquisition/protocol.h"
#include "acquisition/stream_log.h"
#include "acquisition/stream_ring.h"
#include "acquisition/tick_timer.h"
#include "common/error.h"

namespace acquisition {

std::optional<std::string> EventError(const CycleEvent& e) {
  if (auto* x = std::get_if<event::LinkFailed>(&e)) return x->message;
  if (std::holds_alternative<event::LinkClosed>(e)) {
    return std::string(common::kLinkClosedByInstrument);
  }
  if (auto* x = std::get_if<event::StreamError>(&e)) return x->message;
  return std::nullopt;
}

CaptureCycle::CaptureCycle(std::string exe_dir)
    : exe_dir_(std::move(exe_dir)), log_path_(exe_dir_ + std::string(kStreamLogName)) {}

std::string CaptureCycle::StreamLogPath() const { return log_path_; }

CycleState CaptureCycle::State() const {
  if (streaming_) return CycleState::kStreaming;
  if (!timer_on_) return CycleState::kIdle;
  if (reply_due_ && timer_ms_ == kReplyTimeoutMs) return CycleState::kAwaitingReply;
  return CycleState::kArmed;
}

CycleStatus CaptureCycle::Status() const {
  CycleStatus status;
  status.state = State();
  status.auto_sample = auto_sample_;
  status.stream = stream_on_;
  status.files_locked = files_locked_;
  status.sample_offered = sample_offered_;
  status.auto_sample_offered = !streaming_;
  status.stream_offered = !auto_sample_;
  return status;
}

void CaptureCycle::LockFiles() {
  files_locked_ = true;
  sample_offered_ = false;
}

void CaptureCycle::UnlockFiles(const CycleInputs& in) {
  files_locked_ = false;
  sample_offered_ = !in.stream;
}

CycleSteps CaptureCycle::Begin() {
  rest_ = nullptr;
  return {};
}

void CaptureCycle::StopAt(CycleStep step, Rest rest, CycleSteps& out) {
  out.push_back(std::move(step));
  rest_ = std::move(rest);
}

CycleSteps CaptureCycle::Continue(const CycleInputs& in) {
  CycleSteps out;
  Rest rest = std::exchange(rest_, nullptr);
  if (rest) rest(in, out);
  return out;
}

void CaptureCycle::Timer(bool on, CycleSteps& out) {
  timer_on_ = on;
  out.push_back(step::TimerEnabled{on});
}

void CaptureCycle::Interval(int ms, CycleSteps& out) {
  timer_ms_ = ms;
  out.push_back(step::TimerInterval{ms});
}

void CaptureCycle::Arm(CycleSteps& out) {
  reply_due_ = false;
  Interval(kTickIntervalMs, out);
  Timer(true, out);
}

void CaptureCycle::QueueSampleRequest(const CycleInputs& in) {
  pending_command_ = SampleRequest(in.dual, in.samples_text);
}

void CaptureCycle::OpenLinkIfClosed(const CycleInputs& in, Rest rest, CycleSteps& out) {
  if (in.link_active) return rest(in, out);
  StopAt(step::OpenLink{in.host, in.port}, std::move(rest), out);
}

CycleSteps CaptureCycle::Sample(const CycleInputs& in) {
  CycleSteps out = Begin();
  Timer(false, out);
  OpenLinkIfClosed(
      in,
      [this](CycleInputs now, CycleSteps& more) {
        Arm(more);
        LockFiles();
        QueueSampleRequest(now);
      },
      out);
  return out;
}

void CaptureCycle::AutoSampleOff(const CycleInputs& in, CycleSteps& out) {
  auto_sample_ = false;
  Timer(false, out);
  UnlockFiles(in);
  out.push_back(event::AutoSampleStopped{});
}

CycleSteps CaptureCycle::AutoSampleToggled(const CycleInputs& in) {
  CycleSteps out = Begin();
  if (!in.auto_sample) {
    AutoSampleOff(in, out);
    return out;
  }
  auto_sample_ = true;
  out.push_back(event::AutoSampleStarted{});
  // No test of the active flag: the same endpoint on an active link changes nothing, a new one
  // is refused.
  StopAt(
      step::OpenLink{in.host, in.port},
      [this](CycleInputs now, CycleSteps& more) {
        Arm(more);
        rx_buffer_.clear();
        LockFiles();
        QueueSampleRequest(now);
      },
      out);
  return out;
}

std::string CaptureCycle::RunFailure(const std::string& stop_failure) const {
  const std::string& first = path_.LogFailure();
  return first.empty() ? stop_failure : first;
}

event::RunStopped CaptureCycle::Stopped(const std::string& log_path,
                                        const std::string& stop_failure) const {
  return event::RunStopped{log_path, RunFailure(stop_failure), path_.LogStarted(), path_.Counts()};
}

void CaptureCycle::ApplyNotices(CycleSteps& out) {
  const StreamNotices notices = path_.TakeNotices();
  if (notices.repeats > 0) out.push_back(event::WordsRepeated{notices.repeats});
  out.push_back(event::RunCounts{notices.counts});
  for (const std::string& error : notices.errors) out.push_back(event::StreamError{error});
}

CycleSteps CaptureCycle::StreamToggled(const CycleInputs& in) {
  CycleSteps out = Begin();
  stream_on_ = in.stream;
  if (in.stream) {
    StartStream(in, out);
  } else {
    StopStream({}, out);
  }
  return out;
}

void CaptureCycle::StartStream(const CycleInputs& in, CycleSteps& out) {
  try {
    path_.BeginStream();
    out.push_back(event::StreamStarting{});
    path_.OpenLog(StreamLogPath());
  } catch (const std::exception& error) {
    out.push_back(step::Raise{error.what()});
    return;
  }
  out.push_back(event::RunStarted{StreamLogPath()});
  streaming_ = true;
  live_ = false;
  stream_start_ = in.now;
  stream_tick_ = in.now;
  stream_binary_ = false;
  LockFiles();
  const bool udp = transport_ == StreamTransport::kUdp;
  StopAt(
      step::UdpActive{udp, udp ? in.host : std::string()},
      [this](CycleInputs now, CycleSteps& more) { StreamTail(now, true, {}, more); }, out);
}

void CaptureCycle::StopStream(std::string final_error, CycleSteps& out) {
  // The receiver goes first, so the tail the path logs is the last word it will get.
  StopAt(
      step::UdpActive{false, {}},
      [this, final_error](CycleInputs now, CycleSteps& more) { StopSteps(now, final_error, more); },
      out);
}

void CaptureCycle::StopSteps(const CycleInputs& in, const std::string& final_error,
                             CycleSteps& out) {
  // Part of a word left when a TCP stream's link has closed will never be completed.
  if (transport_ == StreamTransport::kTcp && stream_binary_ && !in.link_active) {
    path_.AddStrayBytes(rx_buffer_.size() % 4);
  }
  const std::string log_path = path_.LogPath();
  std::string tail_error;
  try {
    tail_error = path_.StopStream();
  } catch (const std::exception& error) {
    out.push_back(Stopped(log_path, error.what()));
    out.push_back(step::Raise{error.what()});
    return;
  }
  const std::string raised = tail_error.empty() ? final_error : tail_error;
  const bool logged = path_.LogStarted();
  out.push_back(Stopped(log_path, raised));
  streaming_ = false;
  live_ = false;
  ApplyNotices(out);
  UnlockFiles(in);
  // A failed resample must not keep the instrument streaming: its error waits. A run without a
  // word left the previous log, which has been resampled already.
  if (logged) out.push_back(step::ResampleStreamLog{});
  StreamTail(in, false, raised, out);
}

bool CaptureCycle::EndStalledRun(const CycleInputs& in, CycleSteps& out) {
  std::string why;
  if (!path_.LogFailure().empty()) {
    // Already reported where the write failed; the run ends without a second report.
  } else if (!live_ && TickElapsed(stream_start_, in.now) > kReplyTimeoutMs) {
    why = kSilentInstrument;
  } else {
    return false;
  }
  stream_on_ = false;
  out.push_back(event::StreamEnded{});
  StopStream(why, out);
  return true;
}

void CaptureCycle::StreamTail(const CycleInputs& in, bool streaming, std::string tail_error,
                              CycleSteps& out) {
  Timer(false, out);
  OpenLinkIfClosed(
      in,
      [this, streaming, tail_error](CycleInputs, CycleSteps& more) {
        Arm(more);
        pending_command_ = StreamCommand(streaming ? static_cast<int>(transport_) : 0);
        if (!tail_error.empty()) more.push_back(step::Raise{tail_error});
      },
      out);
}

void CaptureCycle::StreamTrigger(const CycleInputs& in, CycleSteps& out) {
  if (!in.stream) return;
  const int n = ClampWindow(in.samples_value);
  ApplyNotices(out);
  // Until the instrument is heard from, a pass could only show what the ring kept of an earlier
  // run.
  if (!live_) return;
  if (path_.RingFillCount() >= n || TickElapsed(stream_tick_, in.now) > kStreamPassMs) {
    from_file_ = false;
    stream_tick_ = in.now;
    Timer(false, out);
    out.push_back(step::RunPass{});
  }
}

CycleSteps CaptureCycle::Tick(const CycleInputs& event) {
  CycleSteps out = Begin();
  if (streaming_) {
    // Words of a TCP stream reach the log here between passes; so the first word is seen.
    path_.LogStep();
    if (!live_ && path_.LogStarted()) {
      live_ = true;
      out.push_back(event::RunLive{path_.LogPath()});
    }
    if (EndStalledRun(event, out)) return out;
  }
  CycleInputs in = event;
  if (reply_due_) ReplyTimeout(in, out);

  if (in.samples_value >= kMinSamples && (!pending_command_.empty() || in.auto_sample) &&
      in.link_active) {
    Timer(false, out);
    Interval(kReplyTimeoutMs, out);
    Timer(true, out);
    if (in.auto_sample) {
      out.push_back(event::AutoSampleRequest{});
      QueueSampleRequest(in);
    }
    StopAt(
        step::Send{pending_command_},
        [this](CycleInputs now, CycleSteps& more) {
          pending_command_.clear();
          reply_due_ = true;
          StreamTrigger(now, more);
        },
        out);
    return out;
  }
  StreamTrigger(in, out);
  return out;
}

void CaptureCycle::ReplyTimeout(CycleInputs& in, CycleSteps& out) {
  out.push_back(event::ReplyTimedOut{});
  if (!in.stream) Timer(false, out);
  Interval(kTickIntervalMs, out);
  if (in.auto_sample) {
    in.auto_sample = false;
    AutoSampleOff(in, out);
  }
  if (in.link_active && !in.stream) {
    out.push_back(step::CloseLink{});
    in.link_active = false;
  }
}

CycleSteps CaptureCycle::BytesArrived(const CycleInputs& in, std::string_view bytes) {
  CycleSteps out = Begin();
  if (bytes.empty()) return out;
  if (clear_rx_on_next_) {
    // In binary stream mode the bytes left here are the start of the next word; throwing them
    // away would shift every later word.
    if (!(stream_binary_ && rx_buffer_.size() < 4)) rx_buffer_.clear();
    clear_rx_on_next_ = false;
  }
  rx_buffer_ += bytes;

  if (IsCompleteReply(rx_buffer_)) {
    from_file_ = false;
    if (IsStreamAck(rx_buffer_)) {
      stream_binary_ = AckSetsBinary(rx_buffer_);
      reply_due_ = false;  // the acknowledgement was the reply; a UDP stream's ticks run on
      AfterReply(in, out);
    } else {
      StopAt(
          step::RunPass{}, [this](CycleInputs now, CycleSteps& more) { AfterReply(now, more); },
          out);
    }
    return out;
  }
  if (!stream_binary_ && rx_buffer_.size() > kMaxRxBytes) {
    // A peer that never ends its reply must not make the buffer grow without bound. Closing the
    // link stops the flood; the reply, if any, ends by its timeout.
    const size_t held = rx_buffer_.size();
    rx_buffer_.clear();
    rx_buffer_.shrink_to_fit();
    out.push_back(step::CloseLink{});
    out.push_back(step::Raise{"No reply end tag in " + std::to_string(held) +
                              " received bytes; the receive buffer was emptied and the link "
                              "closed"});
    return out;
  }
  BinaryStep();
  return out;
}

void CaptureCycle::AfterReply(const CycleInputs& in, CycleSteps& out) {
  if (in.auto_sample || (transport_ == StreamTransport::kTcp && in.stream)) {
    Arm(out);
  } else {
    Interval(kTickIntervalMs, out);
    if (!in.stream) Timer(false, out);
    out.push_back(step::CloseLink{});
  }
  rx_buffer_.erase(0, ReplyLength(rx_buffer_));
  BinaryStep();
}

void CaptureCycle::BinaryStep() {
  if (stream_binary_) path_.MoveWords(rx_buffer_);
}

CycleSteps CaptureCycle::LinkError(const std::string& message) {
  // The socket layer may report while another event's steps are being carried out: that
  // event's rest stays.
  CycleSteps out;
  out.push_back(event::LinkFailed{message});
  return out;
}

CycleSteps CaptureCycle::LinkClosed(const CycleInputs& in) {
  CycleSteps out = Begin();
  const bool waiting = State() == CycleState::kAwaitingReply || !pending_command_.empty();
  if (in.stream || !(waiting || in.auto_sample)) return out;
  reply_due_ = false;
  pending_command_.clear();
  out.push_back(event::LinkClosed{});
  Interval(kTickIntervalMs, out);
  if (in.auto_sample) {
    AutoSampleOff(in, out);
  } else {
    Timer(false, out);
    UnlockFiles(in);
  }
  return out;
}

size_t CaptureCycle::Datagram(std::span<const uint8_t> datagram) {
  return path_.Datagram(datagram);
}

CycleSteps CaptureCycle::WindowClosing(const CycleInputs& in) {
  CycleSteps out = Begin();
  if (in.link_active) out.push_back(step::CloseLink{});
  out.push_back(step::UdpActive{false, {}});
  if (!path_.LogOpen()) return out;
  const std::string log_path = path_.LogPath();
  try {
    path_.CloseLog();
  } catch (const std::exception& error) {
    out.push_back(Stopped(log_path, error.what()));
    out.push_back(step::Raise{error.what()});
    return out;
  }
  out.push_back(Stopped(log_path, {}));
  return out;
}

CycleSteps CaptureCycle::PassStarting() {
  CycleSteps out;
  Timer(false, out);
  return out;
}

CycleSteps CaptureCycle::PassEnding(const CycleInputs& in) {
  CycleSteps out;
  if (!in.auto_sample && !in.stream) UnlockFiles(in);
  clear_rx_on_next_ = true;
  Timer(true, out);
  return out;
}

CycleSteps CaptureCycle::TakeStreamWindow(int n, PulseData& data) {
  CycleSteps out;
  std::string failure;
  try {
    path_.TakeWindow(n, data);
  } catch (const std::exception& error) {
    failure = error.what();
  }
  ApplyNotices(out);
  if (!failure.empty()) out.push_back(step::Raise{failure});
  return out;
}

}  // namespace acquisition
