// The whole-run record views: the log read back (also while it is being written), and the worker
// that analyses it off the window thread and never holds the window up.
#include <sys/stat.h>

#include <QTemporaryDir>
#include <QtTest>
#include <atomic>
#include <fstream>
#include <thread>

#include "app/record_views.h"
#include "presentation/proving_chart.h"
#include "presentation/spectrum_chart.h"
#include "common/error.h"

namespace {

std::string WriteLog(const QTemporaryDir& dir, const std::string& text) {
  const std::string path = dir.filePath(QStringLiteral("stream.dat")).toStdString();
  std::ofstream(path, std::ios::binary) << text;
  return path;
}

// A log of `count` intervals of 40,000 ticks, 7 positions leading by 0, 20, 40 ... 120 ticks:
// six intervals 20 ticks long and one 120 short, a pattern of P-P 140 / 40,000 = 0.35 %.
std::string PatternLog(int count) {
  std::string text = "123\r\n";
  int64_t last = 0;
  for (int k = 1; k <= count; ++k) {
    const int64_t t = int64_t{k} * 40000 + (k % 7) * 20;
    text += std::to_string(t - last) + "\r\n";
    last = t;
  }
  return text;
}

}  // namespace

class RecordViewsTest : public QObject {
  Q_OBJECT

 private slots:
  void LogIsReadUpToTheWritersLinesAndTheCap();
  void WorkerHandsTheRunsViewsToTheWindowThread();
  void WorkerGoneNeverWaitsForItsJob();
  void StoppedRunIsRecordedThoughABlockTookItsPlace();
};

void RecordViewsTest::LogIsReadUpToTheWritersLinesAndTheCap() {
  QTemporaryDir dir;
  const std::atomic<bool> go_on = false;
  const struct {
    std::string log;
    int64_t log_lines;
    int64_t intervals;
    bool truncated;
  } cases[] = {
      {"5\r\n10\r\n20\r\n", 3, 2, false},
      {"5\r\n10\r\n20\r\n30\r\n", 3, 2, false},  // a line written since the count was taken
      {"5\r\n10\r\n2", 2, 1, false},             // the writer is half way through a line
      {"5", 0, 0, false},
      {"5\r\n10\r\n20\r\n", app::kWholeRunIntervals + 2, 2, true},
  };
  for (const auto& c : cases) {
    const std::optional<app::RecordViews> views =
        app::ComputeLogViews(WriteLog(dir, c.log), c.log_lines, {}, go_on);
    QVERIFY(views.has_value());
    QCOMPARE(views->intervals, c.intervals);
    QCOMPARE(views->truncated, c.truncated);
  }
  const std::atomic<bool> cancelled = true;
  QVERIFY(!app::ComputeLogViews(WriteLog(dir, PatternLog(700)), 701, {}, cancelled).has_value());
  QVERIFY_THROWS_EXCEPTION(common::Error,
                           app::ComputeLogViews(WriteLog(dir, "5\r\nx1\r\n"), 2, {}, go_on));
  QVERIFY_THROWS_EXCEPTION(common::Error,
                           app::ComputeLogViews(dir.filePath("none").toStdString(), 2, {}, go_on));
}

// The worker's thread is held in the open of a FIFO until the test writes to it: a destructor
// that waited for the job would never return.
void RecordViewsTest::WorkerGoneNeverWaitsForItsJob() {
  QTemporaryDir dir;
  const std::string fifo = dir.filePath(QStringLiteral("stream.fifo")).toStdString();
  QCOMPARE(::mkfifo(fifo.c_str(), 0600), 0);
  int calls = 0;
  {
    app::RecordWorker worker(nullptr);
    worker.Start(fifo, 3, {.proving = true, .spectrum = true},
                 [&](const app::RecordViews&, const std::string&) { ++calls; });
    QVERIFY(worker.Busy());
  }
  std::ofstream(fifo, std::ios::binary) << "5\r\n10\r\n20\r\n";
  QTest::qWait(50);
  QCOMPARE(calls, 0);
}

void RecordViewsTest::WorkerHandsTheRunsViewsToTheWindowThread() {
  QTemporaryDir dir;
  const std::string path = WriteLog(dir, PatternLog(7000));
  app::RecordWorker worker(nullptr);
  std::vector<std::string> results;
  std::thread::id delivered_on;
  const auto done = [&](const app::RecordViews& views, const std::string& error) {
    delivered_on = std::this_thread::get_id();
    results.push_back(error.empty() ? presentation::PatternText(views.pattern) +
                                          (views.spectrum ? " spectrum" : "") +
                                          (views.proving ? " proving" : "")
                                    : error);
  };
  // A job asked for while one runs waits; the one it replaces never runs.
  worker.Start(path, 7001, {.proving = false, .spectrum = true}, done);
  worker.Start(dir.filePath("gone").toStdString(), 7001, {}, done);
  worker.Start(path, 7001, {.proving = true, .spectrum = false}, done);
  QTRY_COMPARE(results.size(), size_t{2});
  QVERIFY(!worker.Busy());
  QCOMPARE(delivered_on, std::this_thread::get_id());
  QCOMPARE(results[0], std::string("Pattern B=7 P-P 0.3500 % spectrum"));
  QCOMPARE(results[1], std::string("Pattern B=7 P-P 0.3500 % proving"));
  // Dropped results never arrive.
  worker.Start(path, 7001, {}, done);
  worker.Drop();
  QTRY_VERIFY(!worker.Busy());
  QTest::qWait(50);
  QCOMPARE(results.size(), size_t{2});
}

// A block passes in the moment after a stop: the block stays in view, and the stopped run's
// record still reaches its summary. A new run started in that moment drops the record.
void RecordViewsTest::StoppedRunIsRecordedThoughABlockTookItsPlace() {
  QTemporaryDir dir;
  const std::string path = WriteLog(dir, PatternLog(7000));
  QWidget parent;
  presentation::ProvingChart proving(&parent);
  presentation::SpectrumChart spectrum(&parent);
  using Recorded = std::optional<analysis::RunRecordAnalysis>;
  const auto keep = [](Recorded& into) {
    return [&into](const analysis::RunRecordAnalysis& r) { into = r; };
  };
  {
    app::RecordDisplay display;
    display.SetCharts(&proving, &spectrum);
    Recorded recorded;
    display.RunStopped(path, 7001, keep(recorded));
    display.DropRun();
    QTRY_VERIFY(recorded.has_value());
    QVERIFY2(recorded->missing.empty() && recorded->proving, recorded->missing.c_str());
    QVERIFY(!display.RunShown());
  }
  // The second stop's job runs only once the first has ended.
  app::RecordDisplay display;
  display.SetCharts(&proving, &spectrum);
  Recorded first, second;
  display.RunStopped(path, 7001, keep(first));
  display.RunStarted();
  display.RunStopped(path, 7001, keep(second));
  QTRY_VERIFY(second.has_value());
  QVERIFY(!first.has_value());
  QVERIFY(display.RunShown());
}

QTEST_MAIN(RecordViewsTest)
#include "record_views_qtest.moc"
