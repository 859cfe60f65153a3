#include "acquisition/capture_cycle.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "acquisition/cycle_driver.h"
#include "acquisition/tick_timer.h"
#include "common/error.h"

namespace acquisition {
namespace {

const std::string kRequest50 = "<K390><CH1><HEXPULSE>50</HEXPULSE></CH1></K390>";

// One line per event, so a table row reads as what the instrument and the faces would see.
std::string EventText(const CycleEvent& e) {
  using namespace event;
  if (std::holds_alternative<AutoSampleStarted>(e)) return "auto started";
  if (std::holds_alternative<AutoSampleRequest>(e)) return "live";
  if (std::holds_alternative<AutoSampleStopped>(e)) return "auto stopped";
  if (std::holds_alternative<ReplyTimedOut>(e)) return "timed out";
  if (auto* x = std::get_if<LinkFailed>(&e)) return "link failed " + x->message;
  if (std::holds_alternative<LinkClosed>(e)) return "link closed";
  if (std::holds_alternative<StreamStarting>(e)) return "stream starting";
  if (std::holds_alternative<StreamEnded>(e)) return "stream ended";
  if (auto* x = std::get_if<WordsRepeated>(&e)) return "repeats " + std::to_string(x->count);
  if (auto* x = std::get_if<StreamError>(&e)) return "stream error " + x->message;
  if (auto* x = std::get_if<RunStarted>(&e)) return "run started " + x->log_path;
  if (auto* x = std::get_if<RunLive>(&e)) return "run live " + x->log_path;
  if (auto* x = std::get_if<RunStopped>(&e)) {
    return "run stopped " + x->log_path + (x->logged ? "" : " (no word)") + x->failure;
  }
  const StreamCounts& counts = std::get<RunCounts>(e).counts;
  return "counts " + std::to_string(counts.lost_words) + "/" +
         std::to_string(counts.foreign_datagrams) + "/" + std::to_string(counts.stray_bytes);
}

using Lines = std::vector<std::string>;

// Fake ports and a fake face that write what the driver does with them as lines. Opening the
// link makes it active and closing it inactive, as a link whose connection is made at once; the
// face switches AutoSample and Stream off when the cycle stops them, as the window does.
class Rig : public LinkPort,
            public TimerPort,
            public ReceiverPort,
            public ClockPort,
            public CycleFace {
 public:
  explicit Rig(const std::string& exe_dir = "")
      : cycle(exe_dir),
        driver(cycle,
               CyclePorts{*this, *this, this, *this,
                          [this](const std::string&) {
                            lines.push_back("resample");
                            if (resample_error) throw common::Error(*resample_error);
                          }},
               *this) {
    in.host = "127.0.0.1";
    in.port = std::to_string(kInstrumentTcpPort);
    in.samples_text = "50";
    in.samples_value = 50;
  }

  // The lines an action gives; an error it ends with is the last line.
  Lines Do(const std::function<void()>& action) {
    lines.clear();
    try {
      action();
    } catch (const common::Error& error) {
      lines.push_back("error " + error.Message());
    }
    return lines;
  }

  void Connect(const std::string& host, const std::string& port) override {
    if (refuse_endpoint) throw common::Error("Can't change value while socket is active");
    lines.push_back("open " + host + ":" + port);
    active = true;
  }
  void Close() override {
    lines.push_back("close");
    active = false;
  }
  void Send(std::string_view bytes) override { lines.push_back("send " + std::string(bytes)); }
  bool Active() const override { return active; }
  void SetEnabled(bool on) override { lines.push_back(on ? "timer on" : "timer off"); }
  void SetInterval(int ms) override { lines.push_back("interval " + std::to_string(ms)); }
  void Switch(bool on, const std::string& host) override {
    lines.push_back(on ? "udp on " + host : "udp off");
  }
  int32_t Now() const override { return in.now; }
  CycleInputs Controls() const override { return in; }
  void RunPass() override {
    lines.push_back("pass");
    if (pass_error) throw common::Error(*pass_error);
  }
  void Hear(const CycleEvent& e) override {
    if (std::holds_alternative<event::AutoSampleStopped>(e)) in.auto_sample = false;
    if (std::holds_alternative<event::StreamEnded>(e)) in.stream = false;
    lines.push_back(EventText(e));
  }
  void ShowStatus(const CycleStatus& shown) override { status = shown; }

  CaptureCycle cycle;
  CycleDriver driver;
  CycleInputs in;
  bool active = false;
  bool refuse_endpoint = false;
  std::optional<std::string> pass_error;
  std::optional<std::string> resample_error;
  CycleStatus status;
  Lines lines;
};

std::string SampleReply() { return "<K390><SAMPLES>1,0</SAMPLES>\r\n0,1388,0\r\n</K390>"; }

TEST(CaptureCycle, OperatorCommandsGiveTheirSteps) {
  struct Case {
    const char* name;
    bool link_active;
    bool auto_sample;
    Lines steps;
  };
  const std::string open = "open 127.0.0.1:" + std::to_string(kInstrumentTcpPort);
  const Case cases[] = {
      {"sample, link closed", false, false, {"timer off", open, "interval 50", "timer on"}},
      {"sample, link open", true, false, {"timer off", "interval 50", "timer on"}},
      // AutoSample opens without looking at the active flag; the link refuses a new endpoint.
      {"auto on, link open", true, true, {"auto started", open, "interval 50", "timer on"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig;
    rig.active = c.link_active;
    rig.in.auto_sample = c.auto_sample;
    rig.cycle.RxBuffer() = "stale";
    EXPECT_EQ(rig.Do([&] { c.auto_sample ? rig.driver.AutoSampleToggled() : rig.driver.Sample(); }),
              c.steps);
    EXPECT_EQ(rig.cycle.PendingCommand(), kRequest50);
    EXPECT_EQ(rig.status.state, CycleState::kArmed);
    EXPECT_EQ(rig.cycle.RxBuffer(), c.auto_sample ? "" : "stale");
    EXPECT_TRUE(rig.status.files_locked);
    EXPECT_FALSE(rig.status.sample_offered);
    EXPECT_EQ(rig.status.auto_sample, c.auto_sample);
    EXPECT_EQ(rig.status.stream_offered, !c.auto_sample);
  }
}

// An open that fails ends the event there: what came before it stands, and a later event
// starts afresh.
TEST(CaptureCycle, AFailedOpenLeavesTheRestUndoneUntilTheNextEvent) {
  for (const bool auto_sample : {false, true}) {
    SCOPED_TRACE(auto_sample ? "AutoSample" : "Sample");
    Rig rig;
    rig.refuse_endpoint = true;
    rig.in.auto_sample = auto_sample;
    const Lines steps =
        rig.Do([&] { auto_sample ? rig.driver.AutoSampleToggled() : rig.driver.Sample(); });
    EXPECT_EQ(steps.back(), "error Can't change value while socket is active");
    EXPECT_TRUE(rig.cycle.PendingCommand().empty());
    EXPECT_FALSE(rig.status.files_locked);
    EXPECT_EQ(rig.status.stream_offered, !auto_sample);  // AutoSample stays on
    EXPECT_EQ(rig.Do([&] { rig.driver.Tick(); }), Lines{});
    EXPECT_FALSE(rig.cycle.HasRest());
  }
}

TEST(CaptureCycle, AutoSampleOffLeavesTheLinkAndItsRequestForALaterTick) {
  Rig rig;
  rig.in.auto_sample = true;
  rig.driver.AutoSampleToggled();
  rig.in.auto_sample = false;
  EXPECT_EQ(rig.Do([&] { rig.driver.AutoSampleToggled(); }), (Lines{"timer off", "auto stopped"}));
  EXPECT_EQ(rig.status, CycleStatus{});
  // A display pass switches the timer on again; its tick finds the request and the open link.
  rig.driver.PassEnding();
  EXPECT_EQ(rig.Do([&] { rig.driver.Tick(); }).back(), "send " + kRequest50);
}

TEST(CaptureCycle, TicksSendTimeOutAndHoldBack) {
  struct Case {
    const char* name;
    bool auto_sample;
    bool link_after_send;  // the link stays up after the send
    Lines second_tick;     // the tick after the send
  };
  const Case cases[] = {
      {"single sample times out", false, true, {"timed out", "timer off", "interval 50", "close"}},
      {"AutoSample times out and switches off",
       true,
       true,
       {"timed out", "timer off", "interval 50", "timer off", "auto stopped", "close"}},
      {"peer gone: no close", false, false, {"timed out", "timer off", "interval 50"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig;
    rig.in.auto_sample = c.auto_sample;
    rig.driver.Sample();
    const Lines send = rig.Do([&] { rig.driver.Tick(); });
    ASSERT_FALSE(send.empty());
    EXPECT_EQ(send.back(), "send " + kRequest50);
    EXPECT_EQ(rig.status.state, CycleState::kAwaitingReply);
    rig.active = c.link_after_send;
    EXPECT_EQ(rig.Do([&] { rig.driver.Tick(); }), c.second_tick);
    EXPECT_EQ(rig.status.state, CycleState::kIdle);
    EXPECT_FALSE(rig.in.auto_sample);
    // A single sample's timeout leaves the data files held until a pass ends.
    EXPECT_EQ(rig.status.files_locked, !c.auto_sample);
  }
}

TEST(CaptureCycle, TheSendRuleNeedsCountLinkAndARequest) {
  struct Case {
    const char* name;
    int samples_value;
    bool link_active;
    bool queued;
    bool auto_sample;
    bool sent;
  };
  const Case cases[] = {
      {"all hold", 10, true, true, false, true},
      {"count below 10", 9, true, true, false, false},
      {"link down", 50, false, true, false, false},
      {"nothing queued", 50, true, false, false, false},
      {"AutoSample queues its own", 50, true, false, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig;
    rig.active = true;
    if (c.queued) rig.driver.Sample();
    rig.in.samples_value = c.samples_value;
    rig.active = c.link_active;
    rig.in.auto_sample = c.auto_sample;
    rig.in.dual = true;  // an AutoSample send rebuilds its request from the controls of the tick
    const Lines steps = rig.Do([&] { rig.driver.Tick(); });
    const bool sent = !steps.empty() && steps.back().rfind("send ", 0) == 0;
    EXPECT_EQ(sent, c.sent);
    if (c.auto_sample) {
      EXPECT_EQ(steps.end()[-2], "live");
      EXPECT_EQ(steps.back(), "send <K390><HEXPULSE>50</HEXPULSE></K390>");
    }
    EXPECT_EQ(rig.cycle.ReplyDue(), c.sent);
    EXPECT_EQ(rig.cycle.PendingCommand().empty(), c.sent || !c.queued);
  }
}

TEST(CaptureCycle, BytesCompleteRepliesKeepWordsAndStopAtTheLimit) {
  struct Case {
    const char* name;
    bool auto_sample;
    bool binary_before;  // a positive stream acknowledgement came first
    std::vector<std::string> arrivals;
    Lines last_steps;
    std::string rx_after;
  };
  const std::string big(CaptureCycle::kMaxRxBytes + 1, 'x');
  const Case cases[] = {
      {"split reply",
       false,
       false,
       {"<K390><SAM", SampleReply().substr(10)},
       {"pass", "interval 50", "timer off", "close"},
       ""},
      {"AutoSample keeps the link",
       true,
       false,
       {SampleReply() + "TR"},
       {"pass", "interval 50", "timer on"},
       "TR"},
      {"over the limit",
       false,
       false,
       {big},
       {"close",
        "error No reply end tag in 1048577 received bytes; the receive buffer was "
        "emptied and the link closed"},
       ""},
      {"at the limit: still waiting", false, false, {big.substr(1)}, {}, big.substr(1)},
      {"binary: whole words go, a part word stays",
       false,
       true,
       {"\x01\x02\x03\x04\x05\x06"},
       {},
       "\x05\x06"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig;
    rig.active = true;
    rig.in.auto_sample = c.auto_sample;
    if (c.binary_before) {
      rig.in.stream = true;
      rig.cycle.SetTransport(StreamTransport::kTcp);
      rig.driver.BytesArrived("<K390><STREAM>\r\n1</STREAM></K390>");
      ASSERT_TRUE(rig.cycle.StreamBinary());
    }
    rig.cycle.SetFromFile(true);  // a Load before: a complete reply wins over the loaded list
    Lines steps;
    for (const std::string& bytes : c.arrivals) {
      steps = rig.Do([&] { rig.driver.BytesArrived(bytes); });
    }
    EXPECT_EQ(steps, c.last_steps);
    EXPECT_EQ(rig.cycle.RxBuffer(), c.rx_after);
    EXPECT_EQ(rig.cycle.FromFile(), c.last_steps.empty() || c.last_steps[0] != "pass");
  }
}

// The instrument closing the link ends whatever waited on it at once, with the reason; a close
// with nothing to come, or while streaming, is left to the stream side.
TEST(CaptureCycle, TheInstrumentClosingTheLinkEndsAWaitingCycleAtOnce) {
  enum Stage { kQueued, kSent, kAnswered };
  struct Case {
    const char* name;
    bool auto_sample;
    Stage stage;
    bool stream;
    Lines steps;
  };
  const Lines sample_ends = {"link closed", "interval 50", "timer off"};
  const Lines auto_ends = {"link closed", "interval 50", "timer off", "auto stopped"};
  const Case cases[] = {
      {"sample queued", false, kQueued, false, sample_ends},
      {"sample awaiting its reply", false, kSent, false, sample_ends},
      {"sample answered", false, kAnswered, false, {}},
      {"auto awaiting a reply", true, kSent, false, auto_ends},
      {"auto between replies", true, kAnswered, false, auto_ends},
      {"streaming", false, kSent, true, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig;
    rig.in.auto_sample = c.auto_sample;
    c.auto_sample ? rig.driver.AutoSampleToggled() : rig.driver.Sample();
    if (c.stage != kQueued) rig.driver.Tick();
    if (c.stage == kAnswered) rig.driver.BytesArrived(SampleReply());
    rig.in.stream = c.stream;
    rig.active = false;
    EXPECT_EQ(rig.Do([&] { rig.driver.LinkClosed(); }), c.steps);
    if (!c.steps.empty()) {
      EXPECT_FALSE(rig.cycle.ReplyDue());
      EXPECT_TRUE(rig.cycle.PendingCommand().empty());
      EXPECT_FALSE(rig.status.files_locked);
      EXPECT_EQ(EventError(event::LinkClosed{}), "The instrument closed the link");
    }
  }
}

TEST(CaptureCycle, ThePassEndDiscardsLeftoversExceptAPartWordInBinaryMode) {
  for (const bool binary : {false, true}) {
    SCOPED_TRACE(binary ? "binary" : "text");
    Rig rig;
    rig.active = true;
    if (binary) rig.driver.BytesArrived("<K390><STREAM>\r\n1</STREAM></K390>");
    rig.cycle.RxBuffer() = "\x01\x02";
    rig.driver.PassEnding();
    ASSERT_TRUE(rig.cycle.ClearRxOnNext());
    rig.driver.BytesArrived("\x03\x04");
    EXPECT_FALSE(rig.cycle.ClearRxOnNext());
    EXPECT_EQ(rig.cycle.RxBuffer(), binary ? "" : "\x03\x04");  // binary: the word was taken
  }
}

// The pass's own steps surround it however it ends, and its end frees the data files only when
// no capture goes on; Sample is offered again only while Stream is off.
TEST(CaptureCycle, APassIsSurroundedByItsOwnStepsHoweverItEnds) {
  struct Case {
    const char* name;
    bool fails;
    bool auto_sample;
    bool stream;
    bool face_unlocks;  // the face frees the files after the pass
    bool files_locked;
    bool sample_offered;
  };
  const Case cases[] = {
      {"ends", false, false, false, false, false, true},
      {"fails", true, false, false, false, false, true},
      {"AutoSample on", false, true, false, false, true, false},
      {"Stream on", false, false, true, false, true, false},
      {"Stream on, freed by the face", false, false, true, true, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig;
    rig.driver.LockFiles();
    rig.in.auto_sample = c.auto_sample;
    rig.in.stream = c.stream;
    const Lines steps = rig.Do([&] {
      rig.driver.RunPass([&] {
        rig.lines.push_back("pass");
        if (c.fails) throw common::Error("bad reply");
      });
    });
    Lines expected = {"timer off", "pass", "timer on"};
    if (c.fails) expected.push_back("error bad reply");
    EXPECT_EQ(steps, expected);
    if (c.face_unlocks) rig.driver.UnlockFiles();
    EXPECT_EQ(rig.status.files_locked, c.files_locked);
    EXPECT_EQ(rig.status.sample_offered, c.sample_offered);
    EXPECT_TRUE(rig.cycle.ClearRxOnNext());
  }
}

// Datagrams of `words` words (1, 2, ...) after the dropped first one.
void FeedWords(CaptureCycle& cycle, int words) {
  std::vector<uint8_t> bytes(4 * static_cast<size_t>(words));
  for (size_t i = 0; i < bytes.size(); i += 4) bytes[i] = static_cast<uint8_t>(i + 1);
  cycle.Datagram(std::vector<uint8_t>(4, 9));  // the first datagram of a start is dropped
  cycle.Datagram(bytes);
}

TEST(CaptureCycle, TheStreamTriggerRunsByCountAndByTime) {
  const std::string dir = ::testing::TempDir();
  const std::string log = dir + "stream.dat";
  const std::string open = "open 127.0.0.1:" + std::to_string(kInstrumentTcpPort);
  struct Case {
    const char* name;
    int words;
    int32_t now;  // the tick's time; the start was at kTickWrap - 100
    bool pass;
  };
  const Case cases[] = {
      {"neither", 5, kTickWrap - 100 + 250, false},
      {"N words in", 10, kTickWrap - 100 + 1, true},
      {"over 250 ms, across the wrap", 5, 151, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig(dir);
    rig.cycle.SetTransport(StreamTransport::kUdp);
    rig.in.samples_value = 10;
    rig.in.stream = true;
    rig.in.now = kTickWrap - 100;
    EXPECT_EQ(rig.Do([&] { rig.driver.StreamToggled(); }),
              (Lines{"stream starting", "run started " + log, "udp on 127.0.0.1", "timer off", open,
                     "interval 50", "timer on"}));
    EXPECT_EQ(rig.cycle.PendingCommand(), "<K390><STREAM>1</STREAM></K390>");
    EXPECT_FALSE(rig.status.auto_sample_offered);
    EXPECT_FALSE(rig.status.sample_offered);
    EXPECT_TRUE(rig.status.files_locked);
    FeedWords(rig.cycle, c.words);
    rig.in.now = c.now;
    rig.active = false;  // the UDP transport: nothing to send on
    const Lines tick = rig.Do([&] { rig.driver.Tick(); });
    EXPECT_EQ(tick.front(), "run live " + log);
    EXPECT_EQ(!tick.empty() && tick.back() == "pass", c.pass);
    EXPECT_EQ(rig.status.state, CycleState::kStreaming);

    rig.in.stream = false;
    EXPECT_EQ(rig.Do([&] { rig.driver.StreamToggled(); }),
              (Lines{"udp off", "run stopped " + log, "counts 0/0/0", "resample", "timer off", open,
                     "interval 50", "timer on"}));
    EXPECT_EQ(rig.cycle.PendingCommand(), "<K390><STREAM>0</STREAM></K390>");
    EXPECT_FALSE(rig.cycle.Path().LogOpen());
    EXPECT_EQ(rig.status, (CycleStatus{CycleState::kArmed}));
  }
  std::filesystem::remove(dir + "stream.dat");
}

// A start the instrument never answers with a word ends at the reply timeout, as if Stream were
// switched off, and leaves the previous log as it was; until then no pass shows the ring's old
// words.
TEST(CaptureCycle, AStreamNeverHeardFromEndsAtTheReplyTimeout) {
  const std::string dir = ::testing::TempDir() + "silent/";
  std::filesystem::create_directories(dir);
  const std::string log = dir + "stream.dat";
  const std::string silent(kSilentInstrument);
  struct Case {
    const char* name;
    StreamTransport transport;
    int words;
    int32_t after_ms;
    bool ends;
  };
  const Case cases[] = {
      {"UDP, at the timeout", StreamTransport::kUdp, 0, 4000, false},
      {"UDP, past it", StreamTransport::kUdp, 0, 4001, true},
      {"TCP, past it", StreamTransport::kTcp, 0, 4001, true},
      {"UDP, words in", StreamTransport::kUdp, 3, 4001, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    { std::ofstream(log, std::ios::binary) << "7\r\n"; }
    Rig rig(dir);
    rig.cycle.SetTransport(c.transport);
    rig.in.stream = true;
    rig.in.now = 1000;
    rig.driver.StreamToggled();
    if (c.words > 0) FeedWords(rig.cycle, c.words);
    rig.in.now = 1000 + c.after_ms;
    const Lines tick = rig.Do([&] { rig.driver.Tick(); });
    EXPECT_EQ(std::count(tick.begin(), tick.end(), "pass"), c.words > 0 ? 1 : 0);
    EXPECT_EQ(rig.status.state == CycleState::kStreaming, !c.ends);
    if (c.ends) {
      EXPECT_EQ(tick.front(), "stream ended");
      EXPECT_EQ(std::count(tick.begin(), tick.end(), "run stopped " + log + " (no word)" + silent),
                1);
      EXPECT_EQ(std::count(tick.begin(), tick.end(), "resample"), 0);
      EXPECT_EQ(tick.back(), "error " + silent);
      EXPECT_EQ(rig.cycle.PendingCommand(), "<K390><STREAM>0</STREAM></K390>");
      // Stream was off before the stop's rest: Sample is offered again.
      EXPECT_FALSE(rig.status.stream);
      EXPECT_TRUE(rig.status.sample_offered);
    } else {
      rig.in.stream = false;
      rig.driver.StreamToggled();
    }
    std::ifstream kept(log, std::ios::binary);
    const std::string content((std::istreambuf_iterator<char>(kept)), {});
    EXPECT_EQ(content == "7\r\n", c.words == 0);
    EXPECT_FALSE(std::filesystem::exists(log + ".tmp"));
  }
  std::filesystem::remove_all(dir);
}

TEST(CaptureCycle, TheAcknowledgementOfAUdpStartLeavesNoReplyDue) {
  Rig rig(::testing::TempDir());
  rig.cycle.SetTransport(StreamTransport::kUdp);
  rig.in.stream = true;
  rig.driver.StreamToggled();
  rig.driver.Tick();
  EXPECT_TRUE(rig.cycle.ReplyDue());
  rig.driver.BytesArrived("<K390><STREAM>\r\n1</STREAM></K390>");
  EXPECT_FALSE(rig.cycle.ReplyDue());
  rig.in.stream = false;
  rig.driver.StreamToggled();
}

// A TCP stream's part word is counted when the link has closed under it; while the link is up
// its rest may still come (and is not the run's: the stop came first).
TEST(CaptureCycle, APartWordLeftAtTheCloseOfATcpStreamIsCounted) {
  for (const bool closed : {false, true}) {
    SCOPED_TRACE(closed ? "link closed" : "link up");
    Rig rig(::testing::TempDir());
    rig.cycle.SetTransport(StreamTransport::kTcp);
    rig.in.stream = true;
    rig.driver.StreamToggled();
    rig.driver.BytesArrived("<K390><STREAM>\r\n1</STREAM></K390>");
    rig.driver.BytesArrived(std::string("\x01\x02\x03\x04\x05\x06", 6));
    rig.in.stream = false;
    rig.active = !closed;
    const Lines stop = rig.Do([&] { rig.driver.StreamToggled(); });
    EXPECT_EQ(std::count(stop.begin(), stop.end(), closed ? "counts 0/0/2" : "counts 0/0/0"), 1);
  }
}

// A run whose log fails part-way ends early: the stop says why, whether the stop itself fails
// again or not, and so does closing the window mid-run.
TEST(CaptureCycle, ARunStopSaysWhyTheRunEndedEarly) {
  for (const bool closing : {false, true}) {
    SCOPED_TRACE(closing ? "window closing" : "stream switched off");
    Rig rig;
    rig.cycle.SetStreamLogPath("/dev/full");
    rig.cycle.SetTransport(StreamTransport::kUdp);
    rig.in.stream = true;
    const Lines start = rig.Do([&] { rig.driver.StreamToggled(); });
    EXPECT_EQ(start.at(1), "run started /dev/full");
    std::vector<uint8_t> bytes(4 * 20000);
    for (size_t i = 0; i < bytes.size(); i += 4) bytes[i + 1] = static_cast<uint8_t>(i);
    rig.cycle.Datagram(std::vector<uint8_t>(4, 9));
    rig.cycle.Datagram(bytes);
    rig.cycle.Datagram(bytes);
    rig.cycle.Path().LogStep();
    rig.in.stream = false;
    const Lines stop =
        rig.Do([&] { closing ? rig.driver.WindowClosing() : rig.driver.StreamToggled(); });
    const auto stopped = std::find_if(stop.begin(), stop.end(), [](const std::string& line) {
      return line.starts_with("run stopped /dev/full");
    });
    ASSERT_NE(stopped, stop.end());
    EXPECT_NE(stopped->find("Cannot write \"/dev/full\""), std::string::npos);
  }
}

// A resample that fails must not keep the instrument streaming: the stop goes on to its stop
// command, and only then is the failure raised, unless the stop raised its own.
TEST(CaptureCycle, AFailedResampleIsRaisedOnceTheStopIsDone) {
  Rig rig(::testing::TempDir());
  rig.cycle.SetTransport(StreamTransport::kUdp);
  rig.in.stream = true;
  rig.driver.StreamToggled();
  FeedWords(rig.cycle, 3);
  rig.driver.Tick();
  rig.resample_error = "'' is not a valid integer value";
  rig.in.stream = false;
  const Lines stop = rig.Do([&] { rig.driver.StreamToggled(); });
  ASSERT_GE(stop.size(), 2u);
  EXPECT_EQ(stop.end()[-2], "timer on");
  EXPECT_EQ(stop.back(), "error '' is not a valid integer value");
  EXPECT_EQ(rig.cycle.PendingCommand(), "<K390><STREAM>0</STREAM></K390>");
}

// The socket layer may report while another event is carried out; that event goes on.
TEST(CaptureCycle, ALinkFailureLeavesTheEventItInterrupts) {
  struct ReportingRig : Rig {
    void Connect(const std::string& host, const std::string& port) override {
      Rig::Connect(host, port);
      driver.LinkFailed("Asynchronous socket error 111");
    }
  } rig;
  EXPECT_EQ(rig.Do([&] { rig.driver.Sample(); }),
            (Lines{"timer off", "open 127.0.0.1:" + std::to_string(kInstrumentTcpPort),
                   "link failed Asynchronous socket error 111", "interval 50", "timer on"}));
  EXPECT_EQ(rig.cycle.PendingCommand(), kRequest50);
  EXPECT_EQ(EventError(event::LinkFailed{"x"}), "x");
}

}  // namespace
}  // namespace acquisition
