// perf_stream: the real main window streaming over UDP or TCP from a running k390sim while its
// chart refreshes; afterwards "stream.dat" is checked against the simulator's word log (every
// word, in order, none changed). Needs k390sim started with --log-words and a --words limit;
// scripts/bench-stream.sh and scripts/soak-stream.sh run one simulator and one perf_stream per
// run. Reports figures, never fails on them; the last line is "RESULT ... complete=yes|no".
//
//   perf_stream --port N --udp-port P --sim-log FILE --expect-words W [--samples 3000]
//               [--seconds 20] [--transport udp|tcp] [--rcvbuf BYTES]
//               [--stall-ms MS --stall-every-ms MS] [--on-screen]
//
// --rcvbuf asks for that UDP receive buffer instead of the window's own request, so a machine
// with a raised net.core.rmem_max can stand in for the stock 212,992. --stall-ms blocks the
// window thread that long every --stall-every-ms, as a slow repaint or a busy machine would.
// --on-screen keeps the platform the environment gives (a virtual display) instead of offscreen.

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "acquisition/udp_receiver.h"
#include "app/tfmain.h"
#include "perf_stats.h"
#include "presentation/pulse_chart.h"

namespace {

using perf::Arg;
using perf::NowMs;
using perf::Stats;

QWidget* g_chart = nullptr;
Stats g_paint_ms;
Stats g_pass_ms;
Stats g_pass_gap_ms;  // start of one pass to the start of the next, words arriving between
// Words that reached the window's socket: in all, and at the start of the last pass. The ring
// overflows when more than its 25,000 slots' worth arrive between two passes.
int64_t g_socket_words = 0;
int64_t g_words_at_last_pass = 0;
int64_t g_most_words_between_passes = 0;
double g_last_pass_start_ms = -1;

class TimedApplication : public QApplication {
 public:
  using QApplication::QApplication;

  bool notify(QObject* receiver, QEvent* event) override {
    const bool chart_paint =
        event->type() == QEvent::Paint && g_chart != nullptr && receiver->isWidgetType() &&
        (receiver == g_chart || g_chart->isAncestorOf(static_cast<QWidget*>(receiver)));
    if (!chart_paint) return QApplication::notify(receiver, event);
    const double start = NowMs();
    const bool result = QApplication::notify(receiver, event);
    g_paint_ms.Add(NowMs() - start);
    return result;
  }
};

class TimedWindow : public app::TFmain {
 public:
  using app::TFmain::TFmain;

  void ProcessSamples() override {
    const double start = NowMs();
    // Only while words come in: the passes of the quiet tail run every 250 ms by design.
    if (g_last_pass_start_ms >= 0 && g_socket_words > g_words_at_last_pass)
      g_pass_gap_ms.Add(start - g_last_pass_start_ms);
    g_last_pass_start_ms = start;
    g_most_words_between_passes =
        std::max(g_most_words_between_passes, g_socket_words - g_words_at_last_pass);
    g_words_at_last_pass = g_socket_words;
    app::TFmain::ProcessSamples();
    g_pass_ms.Add(NowMs() - start);
  }
};

// Decimal numbers, one per line (LF or CR LF), read one at a time: a soak's logs run to
// gigabytes, more than the machine would hold as vectors.
class NumberReader {
 public:
  explicit NumberReader(const QString& path)
      : file_(std::fopen(path.toLocal8Bit().constData(), "rb")) {}
  ~NumberReader() {
    if (file_ != nullptr) std::fclose(file_);
  }
  NumberReader(const NumberReader&) = delete;
  NumberReader& operator=(const NumberReader&) = delete;

  bool Open() const { return file_ != nullptr; }
  // The next number; false at the end or at a line that is not one.
  bool Next(uint64_t& value) {
    if (file_ == nullptr) return false;
    int c = getc_unlocked(file_);
    if (c == EOF) return false;
    value = 0;
    int digits = 0;
    while (c >= '0' && c <= '9') {
      value = value * 10 + static_cast<uint64_t>(c - '0');
      ++digits;
      c = getc_unlocked(file_);
    }
    if (c == '\r') c = getc_unlocked(file_);
    return digits > 0 && (c == '\n' || c == EOF);
  }

 private:
  std::FILE* file_;
};

}  // namespace

int main(int argc, char* argv[]) {
  bool display = false;
  for (int i = 1; i < argc; ++i) display = display || std::strcmp(argv[i], "--on-screen") == 0;
  if (!display) qputenv("QT_QPA_PLATFORM", "offscreen");
  const bool tcp = std::strcmp(Arg(argc, argv, "--transport", "udp"), "tcp") == 0;
  const int rcvbuf = std::atoi(Arg(argc, argv, "--rcvbuf", "0"));
  const int stall_ms = std::atoi(Arg(argc, argv, "--stall-ms", "0"));
  const int stall_every_ms = std::atoi(Arg(argc, argv, "--stall-every-ms", "1000"));
  const int port = std::atoi(Arg(argc, argv, "--port", "0"));
  const std::string default_udp = std::to_string(acquisition::kStreamUdpPort);
  const int udp_port = std::atoi(Arg(argc, argv, "--udp-port", default_udp.c_str()));
  const int samples = std::atoi(Arg(argc, argv, "--samples", "3000"));
  const double seconds = std::atof(Arg(argc, argv, "--seconds", "20"));
  const int64_t expect_words = std::atoll(Arg(argc, argv, "--expect-words", "0"));
  const QString sim_log = QString::fromLocal8Bit(Arg(argc, argv, "--sim-log", ""));
  // Where to keep the window's run summary (stream.summary.json), which goes with its folder.
  const QString summary_out = QString::fromLocal8Bit(Arg(argc, argv, "--summary-out", ""));
  if (port <= 0 || udp_port <= 0 || expect_words <= 0 || sim_log.isEmpty()) {
    std::fprintf(stderr,
                 "perf_stream: --port, --udp-port, --sim-log and --expect-words are required\n");
    return 2;
  }

  TimedApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("K390cap"));
  perf::Clock().start();

  QTemporaryDir dir;
  if (!perf::WriteSettings(
          dir, port,
          "SAMPLES=" + std::to_string(samples) + "\r\nSTREAM=" + (tcp ? "TCP" : "UDP") + "\r\n")) {
    return 2;
  }

  int errors = 0;
  app::TFmain::Hooks hooks;
  hooks.show_error = [&errors](const QString& message) {
    if (++errors <= 5) std::fprintf(stderr, "window error: %s\n", qPrintable(message));
  };
  hooks.choose_file = [](app::TFmain::FileDialog) { return QString(); };
  TimedWindow window(dir.path() + QLatin1Char('/'), hooks);
  window.show();
  g_chart = window.Form().Charts().pulse->Widget();
  QCoreApplication::processEvents();

  // Words that left the window's UDP socket, counted by the receiver once the stream path has
  // taken each datagram (or the full queue refused it), or the words the TCP link brought into
  // the ring; read here every 10 ms.
  int64_t& socket_words = g_socket_words;
  int64_t first_datagram_words = -1;
  double first_datagram_ms = -1;
  double last_datagram_ms = -1;
  acquisition::UdpReceiver& receiver = window.Cycle().Receiver();
  receiver.SetPort(static_cast<quint16>(udp_port));
  if (rcvbuf > 0) receiver.SetReceiveBufferBytes(rcvbuf);
  QTimer count;
  count.setInterval(10);
  QObject::connect(&count, &QTimer::timeout, &application, [&] {
    const auto words =
        static_cast<int64_t>(tcp ? window.Cycle().StreamWordsIn() : receiver.WordsReceived());
    if (words == socket_words) return;
    const double now = NowMs();
    if (first_datagram_ms < 0) first_datagram_ms = now;
    first_datagram_words = tcp ? 0 : receiver.FirstDatagramWords();
    last_datagram_ms = now;
    socket_words = words;
  });
  count.start();

  QTimer stall;
  stall.setInterval(stall_every_ms);
  QObject::connect(&stall, &QTimer::timeout, &application,
                   [&] { std::this_thread::sleep_for(std::chrono::milliseconds(stall_ms)); });
  if (stall_ms > 0) stall.start();

  window.Form().Capture().stream->click();
  if (!window.Form().Capture().stream->isChecked() || !window.Cycle().StreamLogOpen()) {
    std::fprintf(stderr, "perf_stream: streaming did not start (window errors: %d)\n", errors);
    return 2;
  }
  const double started_ms = NowMs();
  uint64_t lost_ring_words = 0;

  // The stream ends when every word is in, when words stop coming, or at a deadline; the passes
  // of the next 700 ms log the ring's tail before Stream is unchecked.
  QTimer poll;
  poll.setInterval(100);
  QObject::connect(&poll, &QTimer::timeout, &application, [&] {
    const double now = NowMs();
    const bool all_in = socket_words >= expect_words;
    // A stall of the window's own making is not a quiet stream.
    const bool quiet =
        last_datagram_ms >= 0 && now - last_datagram_ms > 2000 + std::max(stall_ms, 0) * 2;
    // A simulator that falls behind its rate on a busy machine still sends every word: the
    // deadline leaves it a quarter more time before the stream is cut.
    const bool late = now - started_ms > (seconds * 1.25 + 15) * 1000;
    if (!all_in && !quiet && !late) return;
    poll.stop();
    stall.stop();
    QTimer::singleShot(700, &application, [&] {
      lost_ring_words = window.Cycle().LostWords();
      window.Form().Capture().stream->click();
      QTimer::singleShot(300, &application, &QCoreApplication::quit);
    });
  });
  poll.start();
  QApplication::exec();

  NumberReader sim(sim_log);
  NumberReader log(dir.filePath(QStringLiteral("stream.dat")));
  if (!sim.Open()) {
    std::fprintf(stderr, "perf_stream: cannot read the simulator's word log %s\n",
                 qPrintable(sim_log));
    return 2;
  }
  if (!log.Open()) std::fprintf(stderr, "perf_stream: stream.dat missing\n");

  // The log's first line is the first logged word itself (nothing was logged before in this
  // process); every later line is a delta. The words rebuilt from it must be the simulator's
  // words from the first one after the dropped first datagram, all of them, in order.
  int64_t sim_count = 0;
  int64_t log_count = 0;
  int64_t start = -1;
  int64_t matched = 0;
  uint64_t word = 0;
  uint64_t delta = 0;
  if (log.Next(delta)) {
    ++log_count;
    uint64_t rebuilt = delta & 0xFFFFFFFFu;
    while (sim.Next(word)) {
      ++sim_count;
      if (word == rebuilt) {
        start = sim_count - 1;
        matched = 1;
        break;
      }
    }
    bool in_order = start >= 0;
    while (log.Next(delta)) {
      ++log_count;
      rebuilt = (rebuilt + delta) & 0xFFFFFFFFu;
      if (!in_order) continue;
      if (sim.Next(word)) ++sim_count;
      in_order = word == rebuilt;
      if (in_order) ++matched;
    }
  }
  while (sim.Next(word)) ++sim_count;
  const int64_t expected_in_log = sim_count - std::max<int64_t>(first_datagram_words, 0);
  const bool complete = start == first_datagram_words && matched == log_count &&
                        log_count == expected_in_log && errors == 0;

  const double stream_s = (last_datagram_ms - first_datagram_ms) / 1000.0;
  std::printf("stream of %lld words over %.1f s (%.0f words/s at the socket), N=%d\n",
              static_cast<long long>(sim_count), stream_s,
              stream_s > 0 ? static_cast<double>(socket_words) / stream_s : 0.0, samples);
  std::printf("  words sent by k390sim        %lld\n", static_cast<long long>(sim_count));
  std::printf("  words at the window's socket %lld (lost before the socket: %lld)\n",
              static_cast<long long>(socket_words),
              static_cast<long long>(sim_count - socket_words));
  if (!tcp) {
    std::printf("  refused by the full queue    %llu datagrams (queue held at most %.1f MiB)\n",
                static_cast<unsigned long long>(receiver.DatagramsRefused()),
                static_cast<double>(receiver.QueueHighWaterBytes()) / (1024.0 * 1024.0));
  }
  std::printf("  first datagram (dropped)     %lld words\n",
              static_cast<long long>(first_datagram_words));
  std::printf("  lost words counted (shown)   %llu\n",
              static_cast<unsigned long long>(lost_ring_words));
  std::printf("  lines in stream.dat          %lld (expected %lld)\n",
              static_cast<long long>(log_count), static_cast<long long>(expected_in_log));
  std::printf("  log starts at sim word       %lld, then %lld words in order\n",
              static_cast<long long>(start), static_cast<long long>(matched));
  std::printf("  window errors                %d\n", errors);
  if (stall_ms > 0)
    std::printf("  window thread stalled %d ms every %d ms\n", stall_ms, stall_every_ms);
  g_pass_ms.Print("  pass (ProcessSamples)", 28);
  g_pass_gap_ms.Print("  pass to pass", 28);
  g_paint_ms.Print("  chart paint event", 28);
  std::printf("  most words between two passes %lld (the ring holds 25000)\n",
              static_cast<long long>(g_most_words_between_passes));
  // Words the log should hold and does not: the simulator's words after the dropped first
  // datagram, less the log's lines.
  const int64_t missing = std::max<int64_t>(expected_in_log - log_count, 0);
  if (!summary_out.isEmpty()) {
    QFile::remove(summary_out);
    if (!QFile::copy(dir.filePath(QStringLiteral("stream.summary.json")), summary_out))
      std::fprintf(stderr, "perf_stream: no stream.summary.json to keep\n");
  }
  std::printf(
      "RESULT words=%lld log=%lld socket_lost=%lld ring_lost=%llu missing=%lld start=%lld "
      "complete=%s\n",
      static_cast<long long>(sim_count), static_cast<long long>(log_count),
      static_cast<long long>(sim_count - socket_words),
      static_cast<unsigned long long>(lost_ring_words), static_cast<long long>(missing),
      static_cast<long long>(start), complete ? "yes" : "no");
  return 0;
}
