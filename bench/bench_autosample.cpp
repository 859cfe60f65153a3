// perf_autosample: the real main window, offscreen, in AutoSample against a running k390sim.
// Reports cycles per second and, per cycle, the time from the entry of the read event that
// completes the reply to the end of the pass and to the end of the chart's paint. Needs
// k390sim listening; scripts/bench-autosample.sh starts it. Reports figures, never fails on
// them.
//
//   perf_autosample --port N [--samples 3000] [--seconds 20] [--single]

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/capture_timer.h"
#include "app/tfmain.h"
#include "perf_stats.h"
#include "presentation/pulse_chart.h"

namespace {

using perf::Arg;
using perf::NowMs;
using perf::Stats;

// What one cycle's events tell: when socket reads came in, when the pass ran, when the chart
// was painted afterwards.
struct Probe {
  QWidget* chart = nullptr;
  bool measuring = false;
  double first_read_ms = -1;  // first read event since the last pass: the reply's first bytes
  double last_read_ms = -1;   // entry of the latest read event
  double pass_end_ms = -1;
  bool awaiting_paint = false;
  double read_entry_of_pass = 0;
  std::vector<double> pass_ends;
  Stats read_to_pass_end;
  Stats read_to_painted;
  Stats pass_ms;
  Stats paint_ms;
  Stats reply_transfer_ms;  // first reply read to the completing read
  int split_replies = 0;    // replies whose bytes came in more than 1 ms apart
  Stats idle_ms;            // end of a pass to the first bytes of the next reply
  Stats wait_tick_ms;       // end of a pass to the end of the tick that sends the request
  Stats reply_wait_ms;      // end of that tick to the first bytes of the reply
  double send_tick_ms = -1;
  int paints = 0;
};

Probe g_probe;

bool IsReadNotifier(QObject* receiver) {
  const auto* notifier = qobject_cast<QSocketNotifier*>(receiver);
  return notifier != nullptr && notifier->type() == QSocketNotifier::Read;
}

// Times event delivery around the socket reads and the chart's paint.
class TimedApplication : public QApplication {
 public:
  using QApplication::QApplication;

  bool notify(QObject* receiver, QEvent* event) override {
    const QEvent::Type type = event->type();
    if (type == QEvent::SockAct && IsReadNotifier(receiver)) {
      const double now = NowMs();
      if (g_probe.first_read_ms < 0) g_probe.first_read_ms = now;
      g_probe.last_read_ms = now;
    }
    const bool chart_paint =
        type == QEvent::Paint && g_probe.chart != nullptr && receiver->isWidgetType() &&
        (receiver == g_probe.chart || g_probe.chart->isAncestorOf(static_cast<QWidget*>(receiver)));
    const double start = chart_paint ? NowMs() : 0;
    const bool result = QApplication::notify(receiver, event);
    if (chart_paint && g_probe.awaiting_paint) {
      const double end = NowMs();
      g_probe.awaiting_paint = false;
      if (g_probe.measuring) {
        g_probe.read_to_painted.Add(end - g_probe.read_entry_of_pass);
        g_probe.paint_ms.Add(end - start);
        ++g_probe.paints;
      }
    }
    return result;
  }
};

// The real window; only the pass is wrapped, to stamp its start and end.
class TimedWindow : public app::TFmain {
 public:
  using app::TFmain::TFmain;

  void ProcessSamples() override {
    const double start = NowMs();
    app::TFmain::ProcessSamples();
    const double end = NowMs();
    Probe& p = g_probe;
    if (!p.measuring || p.last_read_ms < 0) return;
    p.pass_ms.Add(end - start);
    p.read_to_pass_end.Add(end - p.last_read_ms);
    p.reply_transfer_ms.Add(p.last_read_ms - p.first_read_ms);
    if (p.last_read_ms - p.first_read_ms > 1.0) ++p.split_replies;
    if (p.pass_end_ms >= 0) {
      p.idle_ms.Add(p.first_read_ms - p.pass_end_ms);
      if (p.send_tick_ms >= 0) {
        p.wait_tick_ms.Add(p.send_tick_ms - p.pass_end_ms);
        p.reply_wait_ms.Add(p.first_read_ms - p.send_tick_ms);
      }
    }
    p.send_tick_ms = -1;
    p.read_entry_of_pass = p.last_read_ms;
    p.awaiting_paint = true;
    p.pass_end_ms = end;
    p.pass_ends.push_back(end);
    p.first_read_ms = -1;
  }
};

bool Flag(int argc, char** argv, const char* name) {
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], name) == 0) return true;
  return false;
}

}  // namespace

int main(int argc, char* argv[]) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  const int port = std::atoi(Arg(argc, argv, "--port", "0"));
  const int samples = std::atoi(Arg(argc, argv, "--samples", "3000"));
  const double seconds = std::atof(Arg(argc, argv, "--seconds", "20"));
  const bool dual = !Flag(argc, argv, "--single");
  if (port <= 0) {
    std::fprintf(stderr, "perf_autosample: --port of a running k390sim is required\n");
    return 2;
  }

  TimedApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("K390cap"));
  perf::Clock().start();

  QTemporaryDir dir;
  if (!perf::WriteSettings(dir, port,
                           "SAMPLES=" + std::to_string(samples) +
                               "\r\nDUALCHANNEL=" + (dual ? "TRUE" : "FALSE") + "\r\n")) {
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
  g_probe.chart = window.Form().Charts().pulse->Widget();
  QCoreApplication::processEvents();
  // Connected after the cycle's own handler, so this runs once the request has gone out.
  QObject::connect(&window.Cycle().Timer(), &app::CaptureTimer::Tick, &application, [] {
    if (g_probe.send_tick_ms < 0 && g_probe.first_read_ms < 0) g_probe.send_tick_ms = NowMs();
  });

  g_probe.measuring = true;
  window.Form().Capture().auto_sample->click();
  if (!window.Form().Capture().auto_sample->isChecked()) {
    std::fprintf(stderr, "perf_autosample: AutoSample did not start\n");
    return 2;
  }
  QTimer::singleShot(static_cast<int>(seconds * 1000), &application, [&] {
    g_probe.measuring = false;
    window.Form().Capture().auto_sample->click();
    QTimer::singleShot(300, &application, &QCoreApplication::quit);
  });
  QApplication::exec();

  const Probe& p = g_probe;
  std::printf("AutoSample, N=%d, %s channel, %.0f s, window %dx%d offscreen\n", samples,
              dual ? "dual" : "single", seconds, window.width(), window.height());
  if (p.pass_ends.size() < 2) {
    std::printf("fewer than two passes: no cycle rate (window errors: %d)\n", errors);
    return 0;
  }
  const double span_s = (p.pass_ends.back() - p.pass_ends.front()) / 1000.0;
  std::printf("passes %zu, cycles per second %.2f (window errors: %d)\n", p.pass_ends.size(),
              static_cast<double>(p.pass_ends.size() - 1) / span_s, errors);
  std::printf("Ch1 box after the run: %s\n",
              qPrintable(window.Form().FigureBox(analysis::Figure::kCh1Seconds)->text()));
  // The hidden reply log is refilled by every pass; refilling it with the last reply's lines
  // shows what that step costs on its own.
  {
    const QString memo_text = window.Form().Charts().reply_log->toPlainText();
    Stats memo_ms;
    for (int i = 0; i < 20; ++i) {
      const double start = NowMs();
      window.Form().Charts().reply_log->setPlainText(memo_text);
      memo_ms.Add(NowMs() - start);
    }
    std::printf("reply log lines %d\n", window.Form().Charts().reply_log->blockCount());
    memo_ms.Print("  reply log refill alone (after the run)");
  }
  p.read_to_pass_end.Print("completing read entry -> end of pass");
  p.read_to_painted.Print("completing read entry -> chart painted");
  p.pass_ms.Print("pass (ProcessSamples)");
  p.paint_ms.Print("chart paint event");
  p.reply_transfer_ms.Print("first reply read -> completing read");
  std::printf("replies whose last bytes came over 1 ms after the first: %d\n", p.split_replies);
  p.idle_ms.Print("end of pass -> first bytes of next reply");
  p.wait_tick_ms.Print("  of which: end of pass -> request sent");
  p.reply_wait_ms.Print("  of which: request sent -> first reply bytes");
  return 0;
}
