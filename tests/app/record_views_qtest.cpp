// The whole-run record views: the log read back (also while it is being written), and the worker
// that analyses it off the window thread.
#include <QTemporaryDir>
#include <QtTest>
#include <fstream>
#include <thread>

#include "app/record_views.h"
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
  void LogIsReadUpToTheLastWholeLineAndTheCap();
  void WorkerHandsTheRunsViewsToTheWindowThread();
};

void RecordViewsTest::LogIsReadUpToTheLastWholeLineAndTheCap() {
  QTemporaryDir dir;
  const struct {
    std::string log;
    int64_t most;
    std::vector<int64_t> intervals;
    bool truncated;
  } cases[] = {
      {"5\r\n10\r\n20\r\n", 10, {10, 20}, false},
      {"5\r\n10\r\n20\r\n", 2, {10, 20}, false},
      {"5\r\n10\r\n20\r\n30\r\n", 2, {10, 20}, true},
      {"5\r\n10\r\n2", 10, {10}, false},  // the log's writer is half way through a line
      {"5", 10, {}, false},
      {"", 10, {}, false},
  };
  for (const auto& c : cases) {
    bool truncated = !c.truncated;
    QCOMPARE(app::ReadLogIntervals(WriteLog(dir, c.log), c.most, truncated), c.intervals);
    QCOMPARE(truncated, c.truncated);
  }
  bool truncated = false;
  QVERIFY_THROWS_EXCEPTION(common::Error,
                           app::ReadLogIntervals(WriteLog(dir, "5\r\nx1\r\n"), 10, truncated));
  QVERIFY_THROWS_EXCEPTION(
      common::Error, app::ReadLogIntervals(dir.filePath("none").toStdString(), 10, truncated));
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
  worker.Start(path, {.proving = false, .spectrum = true}, done);
  worker.Start(dir.filePath("gone").toStdString(), {}, done);
  worker.Start(path, {.proving = true, .spectrum = false}, done);
  QTRY_COMPARE(results.size(), size_t{2});
  QVERIFY(!worker.Busy());
  QCOMPARE(delivered_on, std::this_thread::get_id());
  QCOMPARE(results[0], std::string("Pattern B=7 P-P 0.3500 % spectrum"));
  QCOMPARE(results[1], std::string("Pattern B=7 P-P 0.3500 % proving"));
  // Dropped results never arrive.
  worker.Start(path, {}, done);
  worker.Drop();
  QTRY_VERIFY(!worker.Busy());
  QTest::qWait(50);
  QCOMPARE(results.size(), size_t{2});
}

QTEST_MAIN(RecordViewsTest)
#include "record_views_qtest.moc"
