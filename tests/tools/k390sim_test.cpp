// The simulated instrument: its pulse model and protocol pieces on their own, then the k390sim
// binary driven over 127.0.0.1 and read back with the desktop tool's own reply decoding.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "acquisition/protocol.h"
#include "common/error.h"
#include "common/ticks.h"
#include "pulse_model.h"
#include "sim_protocol.h"

namespace k390sim {
namespace {

constexpr uint64_t kNearWrap = 4294900000;  // 67,296 ticks below 2^32

TrainConfig Train(double hz, double jitter, uint64_t start = 0, uint64_t seed = 1) {
  return {hz, jitter, start, seed};
}

std::vector<int64_t> Intervals(const std::vector<uint64_t>& stamps) {
  std::vector<int64_t> intervals;
  for (size_t i = 1; i < stamps.size(); ++i) {
    intervals.push_back(static_cast<int64_t>(stamps[i] - stamps[i - 1]));
  }
  return intervals;
}

// ---------------------------------------------------------------------------------------------
// Pulse model

TEST(PulseTrain, WithoutJitterIntervalsStayWithinATickOfThePeriodAndDoNotDrift) {
  struct Case {
    double hz;
    uint64_t start;
  };
  const Case cases[] = {{1000, 0}, {3000, 0}, {250000, kNearWrap}, {7, 123}, {20e6, 5}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.hz);
    PulseTrain train(Train(c.hz, 0, c.start));
    const int64_t n = 5000;
    const std::vector<uint64_t> stamps = train.Take(n + 1);
    const double period = 4e7 / c.hz;
    EXPECT_EQ(stamps.front(), c.start + static_cast<uint64_t>(std::llround(period)));
    for (int64_t interval : Intervals(stamps)) {
      EXPECT_GE(interval, std::floor(period));
      EXPECT_LE(interval, std::ceil(period));
    }
    EXPECT_EQ(static_cast<int64_t>(stamps.back() - stamps.front()),
              std::llround(static_cast<double>(n) * period));
  }
}

TEST(PulseTrain, JitterHasTheRequestedSpread) {
  for (double sd : {2.0, 50.0}) {
    SCOPED_TRACE(sd);
    PulseTrain train(Train(1000, sd, 0, 42));
    const std::vector<int64_t> intervals = Intervals(train.Take(40001));
    double sum = 0;
    for (int64_t d : intervals) sum += static_cast<double>(d);
    const double mean = sum / static_cast<double>(intervals.size());
    double squares = 0;
    for (int64_t d : intervals)
      squares += (static_cast<double>(d) - mean) * (static_cast<double>(d) - mean);
    const double spread = std::sqrt(squares / static_cast<double>(intervals.size()));
    // Each interval is the difference of two independent jitters: sqrt(2) times the SD,
    // widened a little by the rounding to whole ticks.
    const double expected = std::sqrt(2 * sd * sd + 2.0 / 12);
    EXPECT_NEAR(mean, 40000, 0.05);
    EXPECT_NEAR(spread, expected, expected * 0.03);
  }
}

TEST(PulseTrain, TheSeedReproducesTheStamps) {
  PulseTrain a(Train(1000, 3, 0, 9));
  PulseTrain b(Train(1000, 3, 0, 9));
  PulseTrain other(Train(1000, 3, 0, 10));
  const std::vector<uint64_t> stamps = a.Take(200);
  EXPECT_EQ(stamps, b.Take(200));
  EXPECT_NE(stamps, other.Take(200));
}

TEST(PulseTrain, StampsKeepRisingUnderJitterOfAWholePeriod) {
  PulseTrain train(Train(250000, 160, kNearWrap, 3));  // period 160 ticks
  for (int64_t interval : Intervals(train.Take(20000))) ASSERT_GT(interval, 0);
}

TEST(PulseTrain, RejectsRatesAndJitterTheModelCannotServe) {
  for (const TrainConfig& bad :
       {Train(0, 1), Train(-5, 1), Train(0.0099, 1), Train(1e-300, 0), Train(2e7 + 1, 0),
        Train(NAN, 1), Train(1000, -1), Train(1000, INFINITY), Train(1000, 40000.5),
        Train(1000, 1e300), Train(2e7, 2.5)}) {
    EXPECT_THROW(ValidateTrainConfig(bad), std::invalid_argument)
        << bad.frequency_hz << " Hz, " << bad.jitter_ticks;
  }
  for (const TrainConfig& good : {Train(2e7, 2), Train(0.01, 4e9), Train(1000, 40000)}) {
    EXPECT_NO_THROW(ValidateTrainConfig(good)) << good.frequency_hz;
  }
}

TEST(PulseModel, RequestsContinueTheCounterAndChannel2JoinsWhereItStands) {
  // Channel 2 at half the rate: after 100 channel 1 pulses it must not start back at the
  // counter's start but in the same stretch of time as channel 1.
  PulseModel model(MakeModelConfig(1000, 500, 2, kNearWrap, 5));
  const Samples first = model.TakeSamples(100, false);
  ASSERT_EQ(first.ch1.size(), 100u);
  EXPECT_TRUE(first.ch2.empty());

  const Samples second = model.TakeSamples(20, true);
  ASSERT_EQ(second.ch2.size(), 20u);
  const auto gap = static_cast<int64_t>(second.ch1.front() - first.ch1.back());
  EXPECT_NEAR(gap, 40000, 20);
  const auto ch2_offset = static_cast<int64_t>(second.ch2.front() - first.ch1.back());
  EXPECT_GT(ch2_offset, 0);
  EXPECT_LE(ch2_offset, 80000 + 20);
  for (int64_t interval : Intervals(second.ch2)) EXPECT_NEAR(interval, 80000, 20);

  // Channel 2 ran on to 20 pulses of 2 ms; channel 1 catches up with it.
  const Samples third = model.TakeSamples(1, false);
  EXPECT_GT(static_cast<int64_t>(third.ch1.front() - second.ch2.back()), 0);
  EXPECT_GT(static_cast<int64_t>(model.NextStreamStamp() - third.ch1.front()), 0);
}

TEST(PulseModel, Channel1DoesNotDependOnChannel2Requests) {
  PulseModel single(MakeModelConfig(1000, 1000, 4, 0, 8));
  PulseModel dual(MakeModelConfig(1000, 1000, 4, 0, 8));
  EXPECT_EQ(single.TakeSamples(50, false).ch1, dual.TakeSamples(50, true).ch1);
}

// ---------------------------------------------------------------------------------------------
// Requests

TEST(ParseRequest, AcceptsExactlyTheDesktopToolsRequests) {
  struct Case {
    std::string text;
    RequestKind kind;
    bool dual;
    int64_t count;
    int mode;
  };
  const Case cases[] = {
      {acquisition::SampleRequest(false, "50"), RequestKind::kSample, false, 50, 0},
      {acquisition::SampleRequest(true, "3000"), RequestKind::kSample, true, 3000, 0},
      {acquisition::SampleRequest(false, "0010"), RequestKind::kSample, false, 10, 0},
      {acquisition::SampleRequest(true, "100000"), RequestKind::kSample, true, 100000, 0},
      {acquisition::StreamCommand(0), RequestKind::kStream, false, 0, 0},
      {acquisition::StreamCommand(1), RequestKind::kStream, false, 0, 1},
      {acquisition::StreamCommand(2), RequestKind::kStream, false, 0, 2},
      {acquisition::SampleRequest(false, ""), RequestKind::kInvalid, false, 0, 0},
      {acquisition::SampleRequest(false, "0"), RequestKind::kInvalid, false, 0, 0},
      {acquisition::SampleRequest(false, "-5"), RequestKind::kInvalid, false, 0, 0},
      {acquisition::SampleRequest(false, " 50"), RequestKind::kInvalid, false, 0, 0},
      {acquisition::SampleRequest(true, "100001"), RequestKind::kInvalid, false, 0, 0},
      {acquisition::SampleRequest(true, "99999999999999999999999"), RequestKind::kInvalid, false, 0,
       0},
      {acquisition::StreamCommand(3), RequestKind::kInvalid, false, 0, 0},
      {"<K390><STREAM>11</STREAM></K390>", RequestKind::kInvalid, false, 0, 0},
      {"<K390><CH1><HEXPULSE>50</HEXPULSE></K390>", RequestKind::kInvalid, false, 0, 0},
      {"x<K390><HEXPULSE>50</HEXPULSE></K390>", RequestKind::kInvalid, false, 0, 0},
      {"</K390>", RequestKind::kInvalid, false, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const Request request = ParseRequest(c.text);
    EXPECT_EQ(request.kind, c.kind);
    if (c.kind == RequestKind::kInvalid) {
      EXPECT_FALSE(request.problem.empty());
      continue;
    }
    EXPECT_EQ(request.dual, c.dual);
    EXPECT_EQ(request.count, c.count);
    EXPECT_EQ(request.mode, c.mode);
  }
}

TEST(RequestLength, FramesOnTheFirstEndTag) {
  const std::string one = acquisition::SampleRequest(false, "50");
  EXPECT_EQ(RequestLength(""), 0u);
  EXPECT_EQ(RequestLength(one.substr(0, one.size() - 1)), 0u);
  EXPECT_EQ(RequestLength(one), one.size());
  EXPECT_EQ(RequestLength(one + acquisition::StreamCommand(1)), one.size());
}

// ---------------------------------------------------------------------------------------------
// Replies, read back with the desktop tool's decoding

TEST(FormatSampleReply, HasTheRecordLayoutInUppercaseHex) {
  const std::vector<uint64_t> ch1 = {0xFFFFFFF0, 0x10};
  const std::vector<uint64_t> ch2 = {0xabcdef0123, 0x1};
  EXPECT_EQ(FormatSampleReply(ch1, {}, false),
            "<K390><SAMPLES>2,0</SAMPLES>\r\n0,FFFFFFF0,0\r\n1,10,0\r\n</K390>");
  EXPECT_EQ(FormatSampleReply(ch1, ch2, false),
            "<K390><SAMPLES>2,2</SAMPLES>\r\n0,FFFFFFF0,ABCDEF0123\r\n1,10,1\r\n</K390>");
}

TEST(FormatSampleReply, DecodesToTheModelsIntervals) {
  struct Case {
    const char* name;
    bool dual;
    int64_t count;
    double ch2_hz;
    uint64_t start;
    bool wrap_to_32_bits;
  };
  const Case cases[] = {
      {"single", false, 50, 1000, 0, false},
      {"dual", true, 3000, 1000, 1000, false},
      {"dual, other channel 2 rate", true, 300, 333, 77, false},
      {"single across 2^32, 64-bit counter", false, 100, 1000, kNearWrap, false},
      {"dual across 2^32, 32-bit counter", true, 100, 1500, kNearWrap, true},
      {"one record", false, 1, 1000, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PulseModel model(MakeModelConfig(1000, c.ch2_hz, 2, c.start, 11));
    Samples samples = model.TakeSamples(c.count, c.dual);
    const std::vector<int64_t> ch1_true = Intervals(samples.ch1);
    const std::vector<int64_t> ch2_true = Intervals(samples.ch2);
    if (c.wrap_to_32_bits) {
      for (uint64_t& s : samples.ch1) s &= 0xFFFFFFFFu;
      for (uint64_t& s : samples.ch2) s &= 0xFFFFFFFFu;
    }
    const std::string reply = FormatSampleReply(samples.ch1, samples.ch2, false);
    ASSERT_EQ(acquisition::ReplyLength(reply), reply.size());
    ASSERT_FALSE(acquisition::IsStreamAck(reply));

    auto data = std::make_unique<acquisition::PulseData>();
    ASSERT_EQ(acquisition::DecodeSampleReply(reply, *data, nullptr),
              acquisition::DecodeOutcome::kDecoded);
    EXPECT_EQ(data->Ch1Count, c.count);
    EXPECT_EQ(data->Ch2Count, c.dual ? c.count : 0);
    double ch1_sum = 0;
    double ch2_sum = 0;
    for (int64_t k = 1; k < c.count; ++k) {
      ASSERT_EQ(data->Ch1Intervals[k], static_cast<double>(ch1_true[k - 1])) << k;
      ASSERT_NEAR(data->Ch1Intervals[k], 40000, 20) << k;
      ch1_sum += data->Ch1Intervals[k];
      if (c.dual) {
        ASSERT_EQ(data->Ch2Intervals[k], static_cast<double>(ch2_true[k - 1])) << k;
        ASSERT_NEAR(data->Ch2Intervals[k], 4e7 / c.ch2_hz, 20) << k;
        ch2_sum += data->Ch2Intervals[k];
      } else {
        ASSERT_EQ(data->Ch2Intervals[k], 0) << k;
      }
    }
    EXPECT_EQ(data->Ch1Average, ch1_sum);
    EXPECT_EQ(data->Ch2Average, ch2_sum);
  }
}

TEST(FormatSampleReply, MalformedReplyFailsConversionInTheDesktopTool) {
  for (int64_t count : {1, 2, 50}) {
    SCOPED_TRACE(count);
    PulseModel model(MakeModelConfig(1000, 1000, 2, 0, 1));
    const Samples samples = model.TakeSamples(count, false);
    const std::string reply = FormatSampleReply(samples.ch1, {}, true);
    auto data = std::make_unique<acquisition::PulseData>();
    EXPECT_THROW(acquisition::DecodeSampleReply(reply, *data, nullptr), common::Error);
  }
}

TEST(FormatErrorReply, EndsThePassQuietlyEvenWhenQuotingTags) {
  for (const std::string& problem :
       {std::string("unknown request"), acquisition::SampleRequest(false, "x") + "\r\n\x01"}) {
    SCOPED_TRACE(problem);
    const std::string reply = FormatErrorReply(problem);
    EXPECT_EQ(acquisition::ReplyLength(reply), reply.size());
    EXPECT_FALSE(acquisition::IsStreamAck(reply));
    auto data = std::make_unique<acquisition::PulseData>();
    EXPECT_EQ(acquisition::DecodeSampleReply(reply, *data, nullptr),
              acquisition::DecodeOutcome::kEndedEarly);
  }
}

TEST(FormatStreamAck, SwitchesTheDesktopToolToBinaryExactlyWhileStreaming) {
  for (bool streaming : {true, false}) {
    const std::string ack = FormatStreamAck(streaming);
    EXPECT_TRUE(acquisition::IsCompleteReply(ack));
    EXPECT_TRUE(acquisition::IsStreamAck(ack));
    EXPECT_EQ(acquisition::ReplyLength(ack), ack.size());
    EXPECT_EQ(acquisition::AckSetsBinary(ack), streaming);
    EXPECT_EQ(ack[ack.find("<STREAM>") + 10], streaming ? '1' : '0');
  }
}

// ---------------------------------------------------------------------------------------------
// Stream words

TEST(StreamWords, ShapesRepeatsGapsAndTheWordLimit) {
  struct Case {
    const char* name;
    StreamShape shape;
    std::vector<uint32_t> expected;  // for pulses stamped 1, 2, 3, ... 10
  };
  const Case cases[] = {
      {"plain", {}, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}},
      {"repeat every 4", {.repeat_every = 4}, {1, 2, 3, 4, 4, 5, 6, 7, 8, 8, 9, 10}},
      {"drop every 3", {.drop_every = 3}, {1, 2, 4, 5, 7, 8, 10}},
      {"both", {.repeat_every = 2, .drop_every = 4}, {1, 2, 2, 3, 5, 5, 6, 7, 7, 9, 10, 10}},
      {"limit inside a repeat", {.repeat_every = 2, .max_words = 5}, {1, 2, 2, 3, 4}},
      {"limit", {.max_words = 3}, {1, 2, 3}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    StreamWords words(c.shape);
    std::vector<uint32_t> out;
    for (uint64_t stamp = 1; stamp <= 10; ++stamp) words.AddPulse(stamp, out);
    EXPECT_EQ(out, c.expected);
    EXPECT_EQ(words.WordsSent(), static_cast<int64_t>(out.size()));
    EXPECT_EQ(words.Finished(), c.shape.max_words > 0);
  }
}

TEST(StreamWords, CarryTheLowHalfOfTheStampLeastSignificantByteFirst) {
  StreamWords words({});
  std::vector<uint32_t> out;
  words.AddPulse(0x1'0000'0005ull, out);
  words.AddPulse(67305985, out);
  ASSERT_EQ(out, (std::vector<uint32_t>{5, 67305985}));
  std::string bytes;
  AppendWordBytes(out, bytes);
  EXPECT_EQ(bytes, std::string("\x05\x00\x00\x00\x01\x02\x03\x04", 8));
}

// ---------------------------------------------------------------------------------------------
// The binary over 127.0.0.1

constexpr int kWaitMs = 10000;  // only bounds a hang; no assertion depends on timing

// One k390sim process on a free port, stopped when the test ends.
class Sim {
 public:
  ::testing::AssertionResult Start(QStringList args) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("ASAN_OPTIONS", "detect_leaks=0");
    process_.setProcessEnvironment(environment);
    process_.start(K390SIM_PATH, args << "--port"
                                      << "0");
    if (!process_.waitForStarted(kWaitMs)) return ::testing::AssertionFailure() << "no start";
    while (!process_.canReadLine()) {
      if (!process_.waitForReadyRead(kWaitMs)) {
        return ::testing::AssertionFailure()
               << "no port line; stderr: " << process_.readAllStandardError().toStdString();
      }
    }
    const QString line = QString::fromLatin1(process_.readLine()).trimmed();
    if (!line.startsWith("listening on 127.0.0.1:")) {
      return ::testing::AssertionFailure() << "first line: " << line.toStdString();
    }
    port_ = static_cast<quint16>(line.section(':', -1).toUInt());
    return ::testing::AssertionSuccess();
  }

  ~Sim() {
    process_.terminate();
    if (!process_.waitForFinished(kWaitMs)) process_.kill();
  }

  quint16 Port() const { return port_; }

  // Waits until the request log on standard error holds `text`.
  void ForgetLog() { log_.clear(); }

  bool LogHas(const std::string& text) {
    while (log_.find(text) == std::string::npos) {
      process_.setReadChannel(QProcess::StandardError);
      if (!process_.waitForReadyRead(kWaitMs)) return false;
      log_ += process_.readAllStandardError().toStdString();
    }
    return true;
  }

 private:
  QProcess process_;
  quint16 port_ = 0;
  std::string log_;
};

bool Connect(QTcpSocket& socket, quint16 port) {
  socket.connectToHost(QHostAddress::LocalHost, port);
  return socket.waitForConnected(kWaitMs);
}

void Send(QTcpSocket& socket, const std::string& bytes) {
  socket.write(bytes.data(), static_cast<qint64>(bytes.size()));
  socket.flush();
}

// Reads until `rx` holds `count` complete replies (or `extra` bytes after them).
bool ReadReplies(QTcpSocket& socket, std::string& rx, int count = 1, size_t extra = 0) {
  auto enough = [&] {
    size_t at = 0;
    for (int i = 0; i < count; ++i) {
      at = rx.find("</K390>", at);
      if (at == std::string::npos) return false;
      at += 7;
    }
    return rx.size() >= at + extra;
  };
  while (!enough()) {
    if (socket.bytesAvailable() == 0 && !socket.waitForReadyRead(kWaitMs)) return false;
    rx += socket.readAll().toStdString();
  }
  return true;
}

std::string Exchange(quint16 port, const std::string& request) {
  QTcpSocket socket;
  if (!Connect(socket, port)) return "not connected";
  Send(socket, request);
  std::string rx;
  ReadReplies(socket, rx);
  return rx;
}

std::vector<uint32_t> ReadWordLog(const QString& path) {
  std::vector<uint32_t> words;
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return words;
  while (!file.atEnd()) words.push_back(file.readLine().trimmed().toUInt());
  return words;
}

std::vector<uint32_t> WordsOf(const std::string& bytes) {
  std::vector<uint32_t> words;
  for (size_t i = 0; i + 4 <= bytes.size(); i += 4) {
    words.push_back(static_cast<uint32_t>(static_cast<unsigned char>(bytes[i])) |
                    static_cast<uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8 |
                    static_cast<uint32_t>(static_cast<unsigned char>(bytes[i + 2])) << 16 |
                    static_cast<uint32_t>(static_cast<unsigned char>(bytes[i + 3])) << 24);
  }
  return words;
}

TEST(K390simBinary, AnswersSampleRequestsFromTheConfiguredModel) {
  Sim sim;
  ASSERT_TRUE(sim.Start({"--freq", "2500", "--ch2-freq", "1250", "--jitter-ticks", "3", "--seed",
                         "7", "--start-ticks", "4294900000"}));
  // The same model on this side predicts every byte, including the counter carrying on from
  // one connection to the next.
  PulseModel model(MakeModelConfig(2500, 1250, 3, kNearWrap, 7));
  struct Step {
    bool dual;
    int64_t count;
  };
  for (const Step& step : {Step{false, 50}, Step{true, 20}, Step{false, 3000}}) {
    SCOPED_TRACE(step.count);
    const Samples expected = model.TakeSamples(step.count, step.dual);
    const std::string reply =
        Exchange(sim.Port(), acquisition::SampleRequest(step.dual, std::to_string(step.count)));
    ASSERT_EQ(reply, FormatSampleReply(expected.ch1, expected.ch2, false));
    auto data = std::make_unique<acquisition::PulseData>();
    ASSERT_EQ(acquisition::DecodeSampleReply(reply, *data, nullptr),
              acquisition::DecodeOutcome::kDecoded);
    EXPECT_EQ(data->Ch1Count, step.count);
    EXPECT_NEAR(data->Ch1Average / static_cast<double>(step.count - 1), 16000, 1);
  }
  EXPECT_TRUE(sim.LogHas("sample ch1+ch2 count=20"));
}

TEST(K390simBinary, MeterOptionsReachTheModel) {
  Sim sim;
  ASSERT_TRUE(sim.Start({"--freq",
                         "2500",
                         "--ch2-ratio",
                         "0.5",
                         "--jitter-ticks",
                         "3",
                         "--seed",
                         "7",
                         "--pattern-positions",
                         "7",
                         "--pattern-pp-ticks",
                         "250",
                         "--sine-hz",
                         "113",
                         "--sine-ticks",
                         "80",
                         "--wander-pct",
                         "2",
                         "--wander-period-s",
                         "0.05",
                         "--ch2-phase",
                         "72",
                         "--ch2-phase-drift",
                         "-30",
                         "--ch1-drop-every",
                         "9",
                         "--ch2-drop-every",
                         "4",
                         "--ch1-extra-every",
                         "6",
                         "--ch2-extra-every",
                         "11",
                         "--extra-at",
                         "0.7",
                         "--swap-every",
                         "5"}));
  MeterConfig meter;
  meter.shape = {.pattern_positions = 7,
                 .pattern_pp_ticks = 250,
                 .sine_hz = 113,
                 .sine_ticks = 80,
                 .wander_pct = 2,
                 .wander_period_s = 0.05};
  meter.ch1_faults = {.drop_every = 9, .extra_every = 6, .extra_at = 0.7};
  meter.ch2_faults = {.drop_every = 4, .extra_every = 11, .extra_at = 0.7, .swap_every = 5};
  meter.ch2_phase_deg = 72;
  meter.ch2_phase_drift_deg_per_s = -30;
  PulseModel model(MakeModelConfig(2500, 1250, 3, 0, 7, meter));
  for (bool dual : {true, false, true}) {
    const Samples expected = model.TakeSamples(200, dual);
    ASSERT_EQ(Exchange(sim.Port(), acquisition::SampleRequest(dual, "200")),
              FormatSampleReply(expected.ch1, expected.ch2, false));
  }
}

TEST(K390simBinary, MeterOptionsThatMakeNoSenseExit2) {
  const struct {
    QStringList args;
    const char* message;
  } cases[] = {
      {{"--ch2-freq", "500", "--ch2-ratio", "0.5"},
       "--ch2-freq and --ch2-ratio both set channel 2's rate: give one"},
      {{"--ch2-ratio", "-1"}, "--ch2-ratio: '-1' is not a number above 0"},
      {{"--pattern-pp-ticks", "40"},
       "--pattern-positions and --pattern-pp-ticks go together: give both or neither"},
      {{"--extra-at", "0.2"}, "--extra-at needs --ch1-extra-every or --ch2-extra-every"},
      {{"--swap-every", "3"}, "--swap-every needs --ch2-phase: at phase 0 a pair has no order"},
      {{"--ch2-extra-every", "1"}, "--ch2-extra-every: use 0 for none or 2 or more"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.join(' ').toStdString());
    QProcess process;
    process.start(K390SIM_PATH, c.args);
    ASSERT_TRUE(process.waitForFinished(kWaitMs));
    EXPECT_EQ(process.exitCode(), 2);
    EXPECT_EQ(process.readAllStandardError().trimmed().toStdString(),
              std::string("k390sim: ") + c.message);
  }
}

TEST(K390simBinary, TakesRequestsInPiecesAndSeveralInOneWrite) {
  Sim sim;
  ASSERT_TRUE(sim.Start({"--jitter-ticks", "0"}));
  QTcpSocket socket;
  ASSERT_TRUE(Connect(socket, sim.Port()));
  const std::string request = acquisition::SampleRequest(false, "10");
  Send(socket, request.substr(0, 30));
  ASSERT_FALSE(socket.waitForReadyRead(100));  // half a request: nothing to answer yet
  Send(socket, request.substr(30));
  std::string rx;
  ASSERT_TRUE(ReadReplies(socket, rx));
  EXPECT_EQ(acquisition::ReplyLength(rx), rx.size());

  // An invalid request in between is answered with an error and does not end the link.
  rx.clear();
  Send(socket, acquisition::SampleRequest(false, "ten") + request + request);
  ASSERT_TRUE(ReadReplies(socket, rx, 3));
  auto data = std::make_unique<acquisition::PulseData>();
  const size_t first = acquisition::ReplyLength(rx);
  EXPECT_EQ(acquisition::DecodeSampleReply(std::string_view(rx).substr(0, first), *data, nullptr),
            acquisition::DecodeOutcome::kEndedEarly);
  const std::string_view rest = std::string_view(rx).substr(first);
  const size_t second = acquisition::ReplyLength(rest);
  for (std::string_view reply : {rest.substr(0, second), rest.substr(second)}) {
    ASSERT_EQ(acquisition::DecodeSampleReply(reply, *data, nullptr),
              acquisition::DecodeOutcome::kDecoded);
    EXPECT_EQ(data->Ch1Count, 10);
    EXPECT_EQ(data->Ch1Intervals[9], 40000);
  }
}

TEST(K390simBinary, FaultOptionsShapeTheReply) {
  enum class Expect { kSameReply, kSameReplyThenClosed, kConversionError, kNoReply };
  struct Case {
    const char* name;
    QStringList args;
    Expect expect;
  };
  const Case cases[] = {
      {"split", {"--split-bytes", "7", "--split-pause-ms", "2"}, Expect::kSameReply},
      {"delayed", {"--delay-ms", "50"}, Expect::kSameReply},
      {"closed after reply", {"--close-after-reply"}, Expect::kSameReplyThenClosed},
      {"malformed", {"--malformed"}, Expect::kConversionError},
      {"no reply", {"--no-reply"}, Expect::kNoReply},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Sim sim;
    ASSERT_TRUE(sim.Start(QStringList(c.args) << "--seed"
                                              << "3"));
    PulseModel model(MakeModelConfig(1000, 1000, 2, 0, 3));
    const Samples expected = model.TakeSamples(40, false);

    QTcpSocket socket;
    ASSERT_TRUE(Connect(socket, sim.Port()));
    Send(socket, acquisition::SampleRequest(false, "40"));
    std::string rx;
    if (c.expect == Expect::kNoReply) {
      ASSERT_TRUE(sim.LogHas("no reply"));
      EXPECT_FALSE(socket.waitForReadyRead(200));
      EXPECT_EQ(socket.bytesAvailable(), 0);
      continue;
    }
    ASSERT_TRUE(ReadReplies(socket, rx));
    if (c.expect == Expect::kConversionError) {
      auto data = std::make_unique<acquisition::PulseData>();
      EXPECT_THROW(acquisition::DecodeSampleReply(rx, *data, nullptr), common::Error);
      continue;
    }
    EXPECT_EQ(rx, FormatSampleReply(expected.ch1, {}, false));
    if (c.expect == Expect::kSameReplyThenClosed) {
      if (socket.state() != QAbstractSocket::UnconnectedState) {
        EXPECT_TRUE(socket.waitForDisconnected(kWaitMs));
      }
    } else {
      EXPECT_EQ(socket.state(), QAbstractSocket::ConnectedState);
    }
  }
}

TEST(K390simBinary, UdpStreamSendsTheLoggedWordsAcrossTheWrap) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString log_path = dir.filePath("words.txt");
  QUdpSocket receiver;
  ASSERT_TRUE(receiver.bind(QHostAddress::LocalHost, 0));
  const int kWords = 3000;

  Sim sim;
  ASSERT_TRUE(sim.Start({"--freq", "50000", "--start-ticks", "4294900000", "--words",
                         QString::number(kWords), "--words-per-datagram", "128", "--log-words",
                         log_path, "--udp-port", QString::number(receiver.localPort())}));
  QTcpSocket link;
  ASSERT_TRUE(Connect(link, sim.Port()));
  Send(link, acquisition::StreamCommand(1));
  std::string ack;
  ASSERT_TRUE(ReadReplies(link, ack));
  EXPECT_TRUE(acquisition::IsStreamAck(ack));
  EXPECT_TRUE(acquisition::AckSetsBinary(ack));
  link.close();  // as the desktop tool does; the stream goes on without the link

  std::vector<uint32_t> received;
  int datagrams = 0;
  while (static_cast<int>(received.size()) < kWords) {
    if (!receiver.hasPendingDatagrams()) {
      ASSERT_TRUE(receiver.waitForReadyRead(kWaitMs));
    }
    while (receiver.hasPendingDatagrams()) {
      QByteArray datagram(static_cast<qsizetype>(receiver.pendingDatagramSize()), '\0');
      receiver.readDatagram(datagram.data(), datagram.size());
      ASSERT_EQ(datagram.size() % 4, 0);
      ASSERT_LE(datagram.size(), 128 * 4);
      const std::vector<uint32_t> words = WordsOf(datagram.toStdString());
      received.insert(received.end(), words.begin(), words.end());
      ++datagrams;
    }
  }
  EXPECT_EQ(datagrams, (kWords + 127) / 128);
  ASSERT_EQ(received.size(), static_cast<size_t>(kWords));
  ASSERT_TRUE(sim.LogHas("word limit reached"));
  EXPECT_EQ(ReadWordLog(log_path), received);

  bool wrapped = false;
  for (size_t i = 1; i < received.size(); ++i) {
    wrapped = wrapped || received[i] < received[i - 1];
    ASSERT_NEAR(common::DeltaRule(received[i - 1], received[i]), 800, 20) << i;
  }
  EXPECT_TRUE(wrapped);
}

TEST(K390simBinary, TcpStreamFollowsTheAckWithTheLoggedWordsAndStops) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString log_path = dir.filePath("words.txt");
  const size_t kWords = 4000;

  Sim sim;
  ASSERT_TRUE(sim.Start({"--freq", "250000", "--start-ticks", "4294900000", "--words",
                         QString::number(kWords), "--repeat-every", "7", "--drop-every", "5",
                         "--log-words", log_path}));
  QTcpSocket link;
  ASSERT_TRUE(Connect(link, sim.Port()));
  Send(link, acquisition::StreamCommand(2));
  std::string rx;
  ASSERT_TRUE(ReadReplies(link, rx, 1, kWords * 4));
  const size_t ack_length = acquisition::ReplyLength(rx);
  ASSERT_TRUE(acquisition::AckSetsBinary(rx.substr(0, ack_length)));
  const std::vector<uint32_t> received = WordsOf(rx.substr(ack_length));
  ASSERT_EQ(received.size(), kWords);
  ASSERT_TRUE(sim.LogHas("word limit reached"));
  EXPECT_EQ(ReadWordLog(log_path), received);

  // Repeats give a delta of 0, a dropped pulse twice the 160-tick period.
  int repeats = 0;
  int gaps = 0;
  for (size_t i = 1; i < received.size(); ++i) {
    const int64_t d = common::DeltaRule(received[i - 1], received[i]);
    if (d == 0) {
      ++repeats;
    } else if (d > 240) {
      ASSERT_NEAR(d, 320, 20) << i;
      ++gaps;
    } else {
      ASSERT_NEAR(d, 160, 20) << i;
    }
  }
  EXPECT_NEAR(repeats, static_cast<double>(kWords) / 8, 2);
  EXPECT_NEAR(gaps, static_cast<double>(kWords) * 7 / 8 / 4, 2);

  // Stopping on the same link is acknowledged with the status 0, and no word follows it.
  rx.clear();
  Send(link, acquisition::StreamCommand(0));
  ASSERT_TRUE(ReadReplies(link, rx));
  EXPECT_EQ(rx, FormatStreamAck(false));
  EXPECT_FALSE(acquisition::AckSetsBinary(rx));
}

// A plain socket, for what QTcpSocket does not offer: a reset (SO_LINGER 0) instead of a close.
class RawLink {
 public:
  explicit RawLink(quint16 port) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = fd_ >= 0 &&
                 ::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  }
  ~RawLink() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool Send(const std::string& bytes) {
    return connected_ &&
           ::send(fd_, bytes.data(), bytes.size(), 0) == static_cast<ssize_t>(bytes.size());
  }
  // Reads until at least `count` bytes have come.
  bool Receive(size_t count) {
    char chunk[4096];
    while (connected_ && rx_.size() < count) {
      const ssize_t got = ::recv(fd_, chunk, sizeof chunk, 0);
      if (got <= 0) return false;
      rx_.append(chunk, static_cast<size_t>(got));
    }
    return rx_.size() >= count;
  }
  void Reset() {
    const linger reset{1, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
  bool connected_ = false;
  std::string rx_;
};

TEST(K390simBinary, AStopCommandFromALinkResetAtOnceLeavesTheSimulatorServing) {
  constexpr int kWords = 20;
  Sim sim;
  ASSERT_TRUE(sim.Start({"--words", QString::number(kWords), "--freq", "20000"}));
  // The word limit ends the TCP stream; the stop command that follows on the same link gets
  // its reply while the peer has already reset the link. Each round used to free the link
  // in the middle of sending that reply.
  const size_t ack_length = FormatStreamAck(true).size();
  for (int round = 0; round < 10; ++round) {
    RawLink link(sim.Port());
    ASSERT_TRUE(link.Send(acquisition::StreamCommand(2))) << round;
    ASSERT_TRUE(link.Receive(ack_length + 4 * kWords)) << round;
    ASSERT_TRUE(sim.LogHas("word limit reached")) << round;
    sim.ForgetLog();
    ASSERT_TRUE(link.Send(acquisition::StreamCommand(0))) << round;
    link.Reset();
  }
  const std::string reply = Exchange(sim.Port(), acquisition::SampleRequest(false, "10"));
  auto data = std::make_unique<acquisition::PulseData>();
  ASSERT_EQ(acquisition::DecodeSampleReply(reply, *data, nullptr),
            acquisition::DecodeOutcome::kDecoded);
  EXPECT_EQ(data->Ch1Count, 10);
}

TEST(K390simBinary, EveryBadOptionExits2WithItsMessage) {
  const struct {
    QStringList args;
    const char* message;
  } cases[] = {
      {{"--port"}, "k390sim: Missing value after '--port'."},
      {{"--bogus"}, "k390sim: Unknown option 'bogus'."},
      {{"--port", "70000"}, "k390sim: --port: '70000' is not an integer from 0 to 65535"},
      {{"--freq", "1e-300"}, "k390sim: a frequency of 1e-300 Hz is outside 0.01 to 20000000 Hz"},
      {{"--freq", "40000000"},
       "k390sim: a frequency of 40000000 Hz is outside 0.01 to 20000000 Hz"},
      {{"--ch2-freq", "0.001"}, "k390sim: a frequency of 0.001 Hz is outside 0.01 to 20000000 Hz"},
      {{"--jitter-ticks", "1e300"},
       "k390sim: a jitter of 1e+300 ticks is above the period of 40000 ticks at 1000 Hz"},
      {{"--freq", "2000", "--ch2-freq", "1000000", "--jitter-ticks", "100"},
       "k390sim: a jitter of 100 ticks is above the period of 40 ticks at 1000000 Hz"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.join(' ').toStdString());
    QProcess process;
    process.start(K390SIM_PATH, c.args);
    ASSERT_TRUE(process.waitForFinished(kWaitMs));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 2);
    EXPECT_EQ(process.readAllStandardError().trimmed().toStdString(), c.message);
    EXPECT_TRUE(process.readAllStandardOutput().isEmpty());
  }
  // The edges of what the model serves are accepted.
  for (const QStringList& args : {QStringList{"--freq", "0.01", "--jitter-ticks", "4000000000"},
                                  QStringList{"--freq", "20000000", "--jitter-ticks", "2"}}) {
    Sim sim;
    EXPECT_TRUE(sim.Start(args)) << args.join(' ').toStdString();
  }
}

TEST(K390simBinary, SampleRequestsGoUnansweredWhileAStreamRuns) {
  QUdpSocket receiver;  // takes the datagrams so that they go somewhere; never read
  ASSERT_TRUE(receiver.bind(QHostAddress::LocalHost, 0));
  Sim sim;
  ASSERT_TRUE(sim.Start({"--freq", "100", "--udp-port", QString::number(receiver.localPort())}));
  EXPECT_EQ(Exchange(sim.Port(), acquisition::StreamCommand(1)), FormatStreamAck(true));

  QTcpSocket socket;
  ASSERT_TRUE(Connect(socket, sim.Port()));
  Send(socket, acquisition::SampleRequest(false, "10"));
  ASSERT_TRUE(sim.LogHas("no reply while streaming"));
  EXPECT_EQ(socket.bytesAvailable(), 0);

  // Stopped from another connection, the instrument answers again on this one.
  EXPECT_EQ(Exchange(sim.Port(), acquisition::StreamCommand(0)), FormatStreamAck(false));
  Send(socket, acquisition::SampleRequest(false, "10"));
  std::string rx;
  ASSERT_TRUE(ReadReplies(socket, rx));
  auto data = std::make_unique<acquisition::PulseData>();
  EXPECT_EQ(acquisition::DecodeSampleReply(rx, *data, nullptr),
            acquisition::DecodeOutcome::kDecoded);
  EXPECT_EQ(data->Ch1Count, 10);
}

}  // namespace
}  // namespace k390sim

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
