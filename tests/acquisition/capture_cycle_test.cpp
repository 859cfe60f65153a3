#include "acquisition/capture_cycle.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "acquisition/tick_timer.h"

namespace acquisition {
namespace {

const std::string kRequest50 = "<K390><CH1><HEXPULSE>50</HEXPULSE></CH1></K390>";

// One line per step, so a table row reads as what the window and the link would see.
std::string Text(const CycleStep& s) {
  using namespace step;
  if (auto* x = std::get_if<TimerEnabled>(&s)) return x->on ? "timer on" : "timer off";
  if (auto* x = std::get_if<TimerInterval>(&s)) return "interval " + std::to_string(x->ms);
  if (auto* x = std::get_if<OpenLink>(&s)) return "open " + x->host + ":" + x->port;
  if (std::holds_alternative<CloseLink>(s)) return "close";
  if (auto* x = std::get_if<Send>(&s)) return "send " + x->bytes;
  if (std::holds_alternative<RunPass>(s)) return "pass";
  if (auto* x = std::get_if<UdpActive>(&s)) return x->on ? "udp on " + x->host : "udp off";
  if (std::holds_alternative<ResampleStreamLog>(s)) return "resample";
  if (auto* x = std::get_if<Raise>(&s)) return "raise " + x->message;
  if (auto* x = std::get_if<ShowError>(&s)) return "error " + x->message;
  if (std::holds_alternative<UncheckAutoSample>(s)) return "uncheck auto";
  if (std::holds_alternative<UncheckStream>(s)) return "uncheck stream";
  if (auto* x = std::get_if<Enable>(&s)) {
    static const char* names[] = {"auto", "sample", "stream"};
    return std::string(x->on ? "enable " : "disable ") + names[static_cast<int>(x->control)];
  }
  if (std::holds_alternative<LockFileButtons>(s)) return "lock";
  if (std::holds_alternative<UnlockFileButtons>(s)) return "unlock";
  if (auto* x = std::get_if<ChartTitle>(&s)) return x->live ? "title live" : "title";
  if (std::holds_alternative<ResetPeaks>(s)) return "reset peaks";
  if (std::holds_alternative<ResetQualityPeak>(s)) return "reset quality";
  if (auto* x = std::get_if<Beep>(&s)) return "beep " + std::to_string(x->count);
  if (auto* x = std::get_if<RunStarted>(&s)) return "run started " + x->log_path;
  if (auto* x = std::get_if<RunLive>(&s)) return "run live " + x->log_path;
  if (auto* x = std::get_if<RunStopped>(&s)) {
    return "run stopped " + x->log_path + (x->logged ? "" : " (no word)") + x->failure;
  }
  const StreamCounts& counts = std::get<ShowStreamCounts>(s).counts;
  return "counts " + std::to_string(counts.lost_words) + "/" +
         std::to_string(counts.foreign_datagrams) + "/" + std::to_string(counts.stray_bytes);
}

// Carries an event out as a caller whose steps all succeed: opening the link makes it active,
// closing it inactive, and each rest is asked for. Returns the steps as text.
std::vector<std::string> Drive(CaptureCycle& cycle, CycleInputs& in, CycleSteps steps) {
  std::vector<std::string> seen;
  for (;;) {
    for (const CycleStep& s : steps) {
      if (std::holds_alternative<step::OpenLink>(s)) in.link_active = true;
      if (std::holds_alternative<step::CloseLink>(s)) in.link_active = false;
      if (std::holds_alternative<step::UncheckAutoSample>(s)) in.auto_sample = false;
      seen.push_back(Text(s));
    }
    if (!cycle.HasRest()) return seen;
    steps = cycle.Continue(in);
  }
}

using Lines = std::vector<std::string>;

CycleInputs Controls() {
  CycleInputs in;
  in.host = "127.0.0.1";
  in.port = "38253";
  in.samples_text = "50";
  in.samples_value = 50;
  return in;
}

std::string SampleReply() { return "<K390><SAMPLES>1,0</SAMPLES>\r\n0,1388,0\r\n</K390>"; }

TEST(CaptureCycle, OperatorCommandsGiveTheirSteps) {
  struct Case {
    const char* name;
    bool link_active;
    bool auto_sample;
    Lines steps;
  };
  const Case cases[] = {
      {"sample, link closed",
       false,
       false,
       {"timer off", "open 127.0.0.1:38253", "interval 50", "timer on", "lock"}},
      {"sample, link open", true, false, {"timer off", "interval 50", "timer on", "lock"}},
      // AutoSample opens without looking at the active flag; the link refuses a new endpoint.
      {"auto on, link open",
       true,
       true,
       {"disable stream", "reset quality", "open 127.0.0.1:38253", "interval 50", "timer on",
        "lock"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CaptureCycle cycle("");
    CycleInputs in = Controls();
    in.link_active = c.link_active;
    in.auto_sample = c.auto_sample;
    cycle.RxBuffer() = "stale";
    const CycleSteps steps = c.auto_sample ? cycle.AutoSampleToggled(in) : cycle.Sample(in);
    EXPECT_EQ(Drive(cycle, in, steps), c.steps);
    EXPECT_EQ(cycle.PendingCommand(), kRequest50);
    EXPECT_EQ(cycle.State(), CycleState::kArmed);
    EXPECT_EQ(cycle.RxBuffer(), c.auto_sample ? "" : "stale");
  }
}

TEST(CaptureCycle, AFailedOpenLeavesTheRestUndoneUntilTheNextEvent) {
  CaptureCycle cycle("");
  CycleInputs in = Controls();
  const CycleSteps steps = cycle.Sample(in);
  ASSERT_TRUE(std::holds_alternative<step::OpenLink>(steps.back()));
  // The caller's open threw: it asks for no rest, and a later event starts afresh.
  EXPECT_TRUE(cycle.PendingCommand().empty());
  EXPECT_EQ(Drive(cycle, in, cycle.Tick(in)), Lines{});
  EXPECT_FALSE(cycle.HasRest());
  EXPECT_TRUE(cycle.PendingCommand().empty());
}

TEST(CaptureCycle, AutoSampleOffLeavesTheLinkAndItsRequestForALaterTick) {
  CaptureCycle cycle("");
  CycleInputs in = Controls();
  in.auto_sample = true;
  Drive(cycle, in, cycle.AutoSampleToggled(in));
  in.auto_sample = false;
  EXPECT_EQ(Drive(cycle, in, cycle.AutoSampleToggled(in)),
            (Lines{"title", "enable sample", "timer off", "unlock", "enable stream"}));
  EXPECT_EQ(cycle.State(), CycleState::kIdle);
  // A display pass switches the timer on again; its tick finds the request and the open link.
  Drive(cycle, in, cycle.PassEnding(in));
  EXPECT_EQ(Drive(cycle, in, cycle.Tick(in)).back(), "send " + kRequest50);
}

TEST(CaptureCycle, TicksSendTimeOutAndHoldBack) {
  struct Case {
    const char* name;
    bool auto_sample;
    bool stream;
    std::string samples;
    bool link_after_send;  // the link stays up after the send
    Lines second_tick;     // the tick after the send
  };
  const Case cases[] = {
      {"single sample times out", false, false, "50", true, {"timer off", "interval 50", "close"}},
      {"AutoSample times out and switches off",
       true,
       false,
       "50",
       true,
       {"timer off", "interval 50", "uncheck auto", "title", "enable sample", "timer off", "unlock",
        "enable stream", "close"}},
      {"peer gone: no close", false, false, "50", false, {"timer off", "interval 50"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CaptureCycle cycle("");
    CycleInputs in = Controls();
    in.auto_sample = c.auto_sample;
    Drive(cycle, in, cycle.Sample(in));
    const Lines send = Drive(cycle, in, cycle.Tick(in));
    ASSERT_FALSE(send.empty());
    EXPECT_EQ(send.back(), "send " + kRequest50);
    EXPECT_EQ(cycle.State(), CycleState::kAwaitingReply);
    in.link_active = c.link_after_send;
    EXPECT_EQ(Drive(cycle, in, cycle.Tick(in)), c.second_tick);
    EXPECT_EQ(cycle.State(), CycleState::kIdle);
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
    CaptureCycle cycle("");
    CycleInputs in = Controls();
    in.link_active = true;
    if (c.queued) Drive(cycle, in, cycle.Sample(in));
    in.samples_value = c.samples_value;
    in.link_active = c.link_active;
    in.auto_sample = c.auto_sample;
    in.dual = true;  // an AutoSample send rebuilds its request from the controls of the tick
    const Lines steps = Drive(cycle, in, cycle.Tick(in));
    const bool sent = !steps.empty() && steps.back().rfind("send ", 0) == 0;
    EXPECT_EQ(sent, c.sent);
    if (c.auto_sample) {
      EXPECT_EQ(steps.back(), "send <K390><HEXPULSE>50</HEXPULSE></K390>");
    }
    EXPECT_EQ(cycle.ReplyDue(), c.sent);
    EXPECT_EQ(cycle.PendingCommand().empty(), c.sent || !c.queued);
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
        "raise No reply end tag in 1048577 received bytes; the receive buffer was "
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
    CaptureCycle cycle("");
    CycleInputs in = Controls();
    in.link_active = true;
    in.auto_sample = c.auto_sample;
    if (c.binary_before) {
      in.stream = true;
      cycle.SetTransport(StreamTransport::kTcp);
      Drive(cycle, in, cycle.BytesArrived(in, "<K390><STREAM>\r\n1</STREAM></K390>"));
      ASSERT_TRUE(cycle.StreamBinary());
    }
    cycle.SetFromFile(true);  // a Load before: a complete reply wins over the loaded list
    Lines steps;
    for (const std::string& bytes : c.arrivals)
      steps = Drive(cycle, in, cycle.BytesArrived(in, bytes));
    EXPECT_EQ(steps, c.last_steps);
    EXPECT_EQ(cycle.RxBuffer(), c.rx_after);
    EXPECT_EQ(cycle.FromFile(), c.last_steps.empty() || c.last_steps[0] != "pass");
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
  const std::string error = "error The instrument closed the link";
  const Lines sample_ends = {error, "interval 50", "timer off", "unlock"};
  const Lines auto_ends = {error,           "interval 50", "uncheck auto", "title",
                           "enable sample", "timer off",   "unlock",       "enable stream"};
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
    CaptureCycle cycle("");
    CycleInputs in = Controls();
    in.auto_sample = c.auto_sample;
    Drive(cycle, in, c.auto_sample ? cycle.AutoSampleToggled(in) : cycle.Sample(in));
    if (c.stage != kQueued) Drive(cycle, in, cycle.Tick(in));
    if (c.stage == kAnswered) Drive(cycle, in, cycle.BytesArrived(in, SampleReply()));
    in.stream = c.stream;
    in.link_active = false;
    EXPECT_EQ(Drive(cycle, in, cycle.LinkClosed(in)), c.steps);
    if (!c.steps.empty()) {
      EXPECT_FALSE(cycle.ReplyDue());
      EXPECT_TRUE(cycle.PendingCommand().empty());
    }
  }
}

TEST(CaptureCycle, ThePassEndDiscardsLeftoversExceptAPartWordInBinaryMode) {
  for (const bool binary : {false, true}) {
    SCOPED_TRACE(binary ? "binary" : "text");
    CaptureCycle cycle("");
    CycleInputs in = Controls();
    in.link_active = true;
    if (binary) Drive(cycle, in, cycle.BytesArrived(in, "<K390><STREAM>\r\n1</STREAM></K390>"));
    cycle.RxBuffer() = "\x01\x02";
    Drive(cycle, in, cycle.PassEnding(in));
    ASSERT_TRUE(cycle.ClearRxOnNext());
    Drive(cycle, in, cycle.BytesArrived(in, "\x03\x04"));
    EXPECT_FALSE(cycle.ClearRxOnNext());
    EXPECT_EQ(cycle.RxBuffer(), binary ? "" : "\x03\x04");  // binary: the word was taken
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
    CaptureCycle cycle(dir);
    cycle.SetTransport(StreamTransport::kUdp);
    CycleInputs in = Controls();
    in.samples_value = 10;
    in.stream = true;
    in.now = kTickWrap - 100;
    const Lines start = Drive(cycle, in, cycle.StreamToggled(in));
    EXPECT_EQ(start, (Lines{"reset peaks", "run started " + log, "disable auto", "disable sample",
                            "lock", "udp on 127.0.0.1", "timer off", "open 127.0.0.1:38253",
                            "interval 50", "timer on"}));
    EXPECT_EQ(cycle.PendingCommand(), "<K390><STREAM>1</STREAM></K390>");
    FeedWords(cycle, c.words);
    in.now = c.now;
    in.link_active = false;  // the UDP transport: nothing to send on
    const Lines tick = Drive(cycle, in, cycle.Tick(in));
    EXPECT_EQ(tick.front(), "run live " + log);
    EXPECT_EQ(!tick.empty() && tick.back() == "pass", c.pass);
    EXPECT_EQ(cycle.State(), CycleState::kStreaming);

    in.stream = false;
    const Lines stop = Drive(cycle, in, cycle.StreamToggled(in));
    EXPECT_EQ(stop, (Lines{"udp off", "run stopped " + log, "counts 0/0/0", "enable auto",
                           "enable sample", "unlock", "resample", "timer off",
                           "open 127.0.0.1:38253", "interval 50", "timer on"}));
    EXPECT_EQ(cycle.PendingCommand(), "<K390><STREAM>0</STREAM></K390>");
    EXPECT_FALSE(cycle.Path().LogOpen());
  }
  std::filesystem::remove(dir + "stream.dat");
}

// A start the instrument never answers with a word ends at the reply timeout, as if Stream were
// unchecked, and leaves the previous log as it was; until then no pass shows the ring's old
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
    CaptureCycle cycle(dir);
    cycle.SetTransport(c.transport);
    CycleInputs in = Controls();
    in.stream = true;
    in.now = 1000;
    Drive(cycle, in, cycle.StreamToggled(in));
    if (c.words > 0) FeedWords(cycle, c.words);
    in.now = 1000 + c.after_ms;
    const Lines tick = Drive(cycle, in, cycle.Tick(in));
    EXPECT_EQ(std::count(tick.begin(), tick.end(), "pass"), c.words > 0 ? 1 : 0);
    EXPECT_EQ(cycle.State() == CycleState::kStreaming, !c.ends);
    if (c.ends) {
      EXPECT_EQ(tick.front(), "uncheck stream");
      EXPECT_EQ(std::count(tick.begin(), tick.end(), "run stopped " + log + " (no word)" + silent),
                1);
      EXPECT_EQ(std::count(tick.begin(), tick.end(), "resample"), 0);
      EXPECT_EQ(tick.back(), "raise " + silent);
      EXPECT_EQ(cycle.PendingCommand(), "<K390><STREAM>0</STREAM></K390>");
    } else {
      in.stream = false;
      Drive(cycle, in, cycle.StreamToggled(in));
    }
    std::ifstream kept(log, std::ios::binary);
    const std::string content((std::istreambuf_iterator<char>(kept)), {});
    EXPECT_EQ(content == "7\r\n", c.words == 0);
    EXPECT_FALSE(std::filesystem::exists(log + ".tmp"));
  }
  std::filesystem::remove_all(dir);
}

TEST(CaptureCycle, TheAcknowledgementOfAUdpStartLeavesNoReplyDue) {
  CaptureCycle cycle(::testing::TempDir());
  cycle.SetTransport(StreamTransport::kUdp);
  CycleInputs in = Controls();
  in.stream = true;
  Drive(cycle, in, cycle.StreamToggled(in));
  Drive(cycle, in, cycle.Tick(in));
  EXPECT_TRUE(cycle.ReplyDue());
  Drive(cycle, in, cycle.BytesArrived(in, "<K390><STREAM>\r\n1</STREAM></K390>"));
  EXPECT_FALSE(cycle.ReplyDue());
  in.stream = false;
  Drive(cycle, in, cycle.StreamToggled(in));
}

// A TCP stream's part word is counted when the link has closed under it; while the link is up
// its rest may still come (and is not the run's: the stop came first).
TEST(CaptureCycle, APartWordLeftAtTheCloseOfATcpStreamIsCounted) {
  for (const bool closed : {false, true}) {
    SCOPED_TRACE(closed ? "link closed" : "link up");
    CaptureCycle cycle(::testing::TempDir());
    cycle.SetTransport(StreamTransport::kTcp);
    CycleInputs in = Controls();
    in.stream = true;
    Drive(cycle, in, cycle.StreamToggled(in));
    Drive(cycle, in, cycle.BytesArrived(in, "<K390><STREAM>\r\n1</STREAM></K390>"));
    Drive(cycle, in, cycle.BytesArrived(in, std::string("\x01\x02\x03\x04\x05\x06", 6)));
    in.stream = false;
    in.link_active = !closed;
    const Lines stop = Drive(cycle, in, cycle.StreamToggled(in));
    EXPECT_EQ(std::count(stop.begin(), stop.end(), closed ? "counts 0/0/2" : "counts 0/0/0"), 1);
  }
}

// A run whose log fails part-way ends early: the stop says why, whether the stop itself fails
// again or not, and so does closing the window mid-run.
TEST(CaptureCycle, ARunStopSaysWhyTheRunEndedEarly) {
  for (const bool closing : {false, true}) {
    SCOPED_TRACE(closing ? "window closing" : "stream unchecked");
    CaptureCycle cycle("");
    cycle.SetStreamLogPath("/dev/full");
    cycle.SetTransport(StreamTransport::kUdp);
    CycleInputs in = Controls();
    in.stream = true;
    const Lines start = Drive(cycle, in, cycle.StreamToggled(in));
    EXPECT_EQ(start.at(1), "run started /dev/full");
    std::vector<uint8_t> bytes(4 * 20000);
    for (size_t i = 0; i < bytes.size(); i += 4) bytes[i + 1] = static_cast<uint8_t>(i);
    cycle.Datagram(std::vector<uint8_t>(4, 9));
    cycle.Datagram(bytes);
    cycle.Datagram(bytes);
    cycle.Path().LogStep();
    in.stream = false;
    const Lines stop =
        Drive(cycle, in, closing ? cycle.WindowClosing(in) : cycle.StreamToggled(in));
    const auto stopped = std::find_if(stop.begin(), stop.end(), [](const std::string& line) {
      return line.starts_with("run stopped /dev/full");
    });
    ASSERT_NE(stopped, stop.end());
    EXPECT_NE(stopped->find("Cannot write \"/dev/full\""), std::string::npos);
  }
}

}  // namespace
}  // namespace acquisition
