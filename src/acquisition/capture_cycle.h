#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "acquisition/protocol.h"
#include "acquisition/pulse_data.h"
#include "acquisition/stream_path.h"

// The capture cycle as a state machine without sockets, timers or widgets. Each event comes
// with the control values and the link state as they are at that moment, and gives back the
// steps to carry out, in order: what the link, the timer and the UDP receiver do, when the
// processing pass runs, and what happened to the instrument and the run. Between events the
// cycle's state (Status) says what a face may offer the operator. CycleDriver carries the steps
// out over ports; the caller owns the real timer, link and UDP receiver.
namespace acquisition {

enum class CycleState {
  kIdle,           // nothing in progress (the timer may still run idle after a display pass)
  kArmed,          // a request is queued or AutoSample will queue one; the next tick sends
  kAwaitingReply,  // one request sent, its 4,000 ms timeout running
  kStreaming,      // a stream run is open: the stream trigger runs at every tick
};

// What the cycle reads at an event: the operator's settings, the link and the clock.
struct CycleInputs {
  std::string host;          // the instrument's host name or address, as typed
  std::string port;          // the instrument's TCP port, as typed
  std::string samples_text;  // the sample count, as typed
  int samples_value = 10;    // the sample count as an integer, 10 when the text is none
  bool dual = false;
  bool auto_sample = false;  // AutoSample is switched on
  bool stream = false;       // Stream is switched on
  bool link_active = false;
  int32_t now = 0;  // TickNow
};

// The cycle's state as the faces show it. The captures exclude one another: while AutoSample is
// on no stream may start, while a stream runs AutoSample may not be switched, and a capture
// holds the data files back until its end (or, for a single sample, until a pass ends).
struct CycleStatus {
  CycleState state = CycleState::kIdle;
  bool auto_sample = false;         // AutoSample runs: switched on and not stopped since
  bool stream = false;              // Stream is switched on and the cycle has not ended it
  bool files_locked = false;        // loading and saving wait for the capture
  bool sample_offered = true;       // a single sample may be asked for
  bool auto_sample_offered = true;  // AutoSample may be switched
  bool stream_offered = true;       // Stream may be switched
  bool operator==(const CycleStatus&) const = default;
};

// Steps for the caller. Those marked "may fail" may throw; the caller then drops the rest of the
// event, which is how an error ends a handler part-way.
namespace step {
struct TimerEnabled {
  bool on;
};
// A change of an enabled timer's interval restarts its countdown.
struct TimerInterval {
  int ms;
};
// Resolve the host, set the link's address and the port text as a decimal integer, open the
// link. May fail (a bad port text, a new endpoint while the link is active).
struct OpenLink {
  std::string host;
  std::string port;
};
struct CloseLink {};
struct Send {
  std::string bytes;
};                  // may fail
struct RunPass {};  // the processing pass; may fail
// The UDP receiver on, taking datagrams from the instrument at `host` only, or off. May fail
// when switching on.
struct UdpActive {
  bool on;
  std::string host;
};
// The offline resample of the stream log, if the settings ask for it. A failure is raised only
// after the rest of the event, and only when nothing else was raised.
struct ResampleStreamLog {};
struct Raise {
  std::string message;
};  // end the handler with this error
}  // namespace step

// What happened to the instrument and the run, for the faces to make known. None ends anything.
namespace event {
// AutoSample was switched on: its blocks form one series, whose held quality maximum starts
// afresh.
struct AutoSampleStarted {};
// AutoSample's next request goes out: what the pass shows from here on is live.
struct AutoSampleRequest {};
// AutoSample stopped: switched off, or stopped by the cycle at a reply timeout or at the
// instrument closing the link. Its stop has been carried out; AutoSample is off.
struct AutoSampleStopped {};
// A request went unanswered for the reply timeout.
struct ReplyTimedOut {};
// The socket layer reported a failure of the link.
struct LinkFailed {
  std::string message;
};
// The instrument closed the link while a reply or a request was due.
struct LinkClosed {};
// A stream is starting: its figures form one series, whose held maxima start afresh.
struct StreamStarting {};
// The cycle ends the stream itself (no word within the reply timeout of the start, or a failed
// log): Stream is off from here on, and the stop's steps follow.
struct StreamEnded {};
// The log met words that repeated the word before them (one tone each).
struct WordsRepeated {
  int count;
};
// The run's counts as they stand (every tick while streaming).
struct RunCounts {
  StreamCounts counts;
};
// A failed log write or close, reported once; the run ends at the next tick.
struct StreamError {
  std::string message;
};
// A stream run began: its log is open, no word has reached it yet, and the file at its path is
// still the previous run's; the instrument has yet to be heard from.
struct RunStarted {
  std::string log_path;
};
// The run's first word is in: its log has replaced the file at its path.
struct RunLive {
  std::string log_path;
};
// A stream run ended: its log holds every word it will get and is closed. `failure` is why the
// run ended early (no word from the instrument, the first failed log write or close), empty
// when it ran until asked to stop. Without `logged` no word came: the file at the path is the
// previous run's, and so is any summary beside it.
struct RunStopped {
  std::string log_path;
  std::string failure;
  bool logged = false;
  StreamCounts counts;
};
}  // namespace event

using CycleEvent =
    std::variant<event::AutoSampleStarted, event::AutoSampleRequest, event::AutoSampleStopped,
                 event::ReplyTimedOut, event::LinkFailed, event::LinkClosed, event::StreamStarting,
                 event::StreamEnded, event::WordsRepeated, event::RunCounts, event::StreamError,
                 event::RunStarted, event::RunLive, event::RunStopped>;
using CycleStep = std::variant<step::TimerEnabled, step::TimerInterval, step::OpenLink,
                               step::CloseLink, step::Send, step::RunPass, step::UdpActive,
                               step::ResampleStreamLog, step::Raise, CycleEvent>;
using CycleSteps = std::vector<CycleStep>;

// The message an event reports as an error, for a face's error display: a failed link, the
// instrument closing it while something was due, a failed log write. None for the others.
std::optional<std::string> EventError(const CycleEvent& event);

inline constexpr int kTickIntervalMs = 50;
inline constexpr int kReplyTimeoutMs = 4000;
inline constexpr int kMinSamples = 10;
inline constexpr int kStreamPassMs = 250;
// A stream start that brings no word within the reply timeout ends with this.
inline constexpr std::string_view kSilentInstrument =
    "No stream words from the instrument within 4000 ms";

// One thread only. The stream path inside is also fed from the UDP receiver's thread.
class CaptureCycle {
 public:
  // `exe_dir` holds the stream log, ending with a separator.
  explicit CaptureCycle(std::string exe_dir);

  // Operator commands.
  CycleSteps Sample(const CycleInputs& in);
  CycleSteps AutoSampleToggled(const CycleInputs& in);  // in.auto_sample: the switch's new state
  CycleSteps StreamToggled(const CycleInputs& in);      // in.stream: the switch's new state
  CycleSteps WindowClosing(const CycleInputs& in);

  // Link, timer and receiver events.
  CycleSteps Tick(const CycleInputs& in);
  CycleSteps BytesArrived(const CycleInputs& in, std::string_view bytes);
  CycleSteps LinkError(const std::string& message);
  // The instrument closed the link (after its last bytes went through BytesArrived). A reply
  // that was due, a queued request or AutoSample's next one can no longer go through: the cycle
  // says so and stops as a reply timeout would, at once, with the data files free again.
  // Nothing happens while Stream is on or when nothing was to come.
  CycleSteps LinkClosed(const CycleInputs& in);
  size_t Datagram(std::span<const uint8_t> datagram);

  // A list may stop after a step that may fail; once that step went through, Continue gives
  // the rest of the same event. Any new event drops a rest left behind by a failure.
  bool HasRest() const { return static_cast<bool>(rest_); }
  CycleSteps Continue(const CycleInputs& in);

  // The processing pass's own cycle steps: the timer off at its start, and at its end (however
  // it ends) the data files free unless AutoSample or Stream is on, ClearRxOnNext set, the
  // timer on. They leave an unfinished event alone.
  CycleSteps PassStarting();
  CycleSteps PassEnding(const CycleInputs& in);
  // The stream window and log steps of a pass, with what the stream path met since.
  CycleSteps TakeStreamWindow(int n, PulseData& data);

  // The data files held back for a capture, and freed again (a single sample is offered again
  // unless Stream is on). The cycle does both itself; a face may too.
  void LockFiles();
  void UnlockFiles(const CycleInputs& in);

  // Start-up: ring cursors to 0.
  void ResetRing() { path_.ResetCursors(); }

  CycleState State() const;
  CycleStatus Status() const;
  std::string& RxBuffer() { return rx_buffer_; }
  bool FromFile() const { return from_file_; }
  void SetFromFile(bool from_file) { from_file_ = from_file; }
  bool ClearRxOnNext() const { return clear_rx_on_next_; }
  void SetClearRxOnNext(bool clear) { clear_rx_on_next_ = clear; }
  StreamTransport Transport() const { return transport_; }
  void SetTransport(StreamTransport transport) { transport_ = transport; }
  const std::string& PendingCommand() const { return pending_command_; }
  bool StreamBinary() const { return stream_binary_; }
  // A request was sent and no reply or timeout has re-armed the cycle since.
  bool ReplyDue() const { return reply_due_; }
  StreamPath& Path() { return path_; }
  const StreamPath& Path() const { return path_; }
  // The stream log; exe_dir + "stream.dat" unless set. Takes effect at the next start.
  std::string StreamLogPath() const;
  void SetStreamLogPath(std::string path) { log_path_ = std::move(path); }

  // RxBuffer is emptied with an error when it grows past this without a complete reply.
  static constexpr size_t kMaxRxBytes = 1024 * 1024;

 private:
  using Rest = std::function<void(CycleInputs in, CycleSteps& out)>;

  CycleSteps Begin();
  void StopAt(CycleStep step, Rest rest, CycleSteps& out);
  void Timer(bool on, CycleSteps& out);
  void Interval(int ms, CycleSteps& out);
  void Arm(CycleSteps& out);
  void QueueSampleRequest(const CycleInputs& in);
  // Either opens the link (stopping there) and then runs `rest`, or runs `rest` at once.
  void OpenLinkIfClosed(const CycleInputs& in, Rest rest, CycleSteps& out);
  void AutoSampleOff(const CycleInputs& in, CycleSteps& out);
  // The timeout steps of a tick whose request went unanswered.
  void ReplyTimeout(CycleInputs& in, CycleSteps& out);
  void ApplyNotices(CycleSteps& out);
  // Why the run that is stopping ended early: the run's first failed log write, else the
  // failure of the stop itself (`stop_failure`, empty when none).
  std::string RunFailure(const std::string& stop_failure) const;
  event::RunStopped Stopped(const std::string& log_path, const std::string& stop_failure) const;
  // The start of a stream run up to its receiver step.
  void StartStream(const CycleInputs& in, CycleSteps& out);
  // The stop of a stream run, from the receiver off to the stop command; `final_error` (or a
  // failed tail write) is raised at the end.
  void StopStream(std::string final_error, CycleSteps& out);
  void StopSteps(const CycleInputs& in, const std::string& final_error, CycleSteps& out);
  // A run that cannot go on ends as if Stream were switched off: no word within the reply
  // timeout of the start, or a failed log. True when it ended.
  bool EndStalledRun(const CycleInputs& in, CycleSteps& out);
  void StreamTail(const CycleInputs& in, bool streaming, std::string tail_error, CycleSteps& out);
  void StreamTrigger(const CycleInputs& in, CycleSteps& out);
  void AfterReply(const CycleInputs& in, CycleSteps& out);
  void BinaryStep();

  std::string exe_dir_;
  std::string log_path_;
  StreamPath path_;
  Rest rest_;
  std::string pending_command_;
  std::string rx_buffer_;
  bool clear_rx_on_next_ = false;
  bool stream_binary_ = false;
  bool from_file_ = false;
  bool streaming_ = false;
  bool live_ = false;  // the running stream's first word is in
  bool reply_due_ = false;
  bool timer_on_ = false;
  int timer_ms_ = 1000;
  bool auto_sample_ = false;  // AutoSample switched on and not stopped since
  bool stream_on_ = false;    // Stream switched on and not ended since
  bool files_locked_ = false;
  bool sample_offered_ = true;
  StreamTransport transport_ = StreamTransport::kNone;
  int32_t stream_tick_ = 0;
  int32_t stream_start_ = 0;
};

}  // namespace acquisition
