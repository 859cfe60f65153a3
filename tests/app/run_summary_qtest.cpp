// The whole run of a stream as the window keeps it, against k390sim on 127.0.0.1: the Run line
// and the whole-run Stability curve while streaming and after the stop, the summary file every
// stop leaves beside the log, also when the log or the summary cannot be written, and the log
// and summary a start the instrument never answers leaves as they were.
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QtTest>
#include <algorithm>
#include <cmath>

#include "analysis/pulse_train.h"
#include "analysis/run_statistics.h"
#include "analysis/timing_input.h"
#include "app/chart_menu.h"
#include "app/tfmain.h"
#include "k390sim_process.h"
#include "presentation/timing_charts.h"
#include "tfmain_session.h"

using namespace tfmain_test;

namespace {

constexpr int kPeriod = 40000;  // ticks at 1 kHz

QJsonObject ReadSummary(const Session& s) {
  return QJsonDocument::fromJson(ReadBytes(s.File("stream.summary.json"))).object();
}

// Streams until the ring holds `words` words and stops, or until the run ends on its own (a
// failed log write ends it): the log is closed when this returns.
void StreamAndStop(Session& s, int words, bool ends_early) {
  TFmain& w = s.w();
  w.Form().Capture().stream->click();
  if (ends_early) {
    QTRY_VERIFY_WITH_TIMEOUT(!w.Form().Capture().stream->isChecked(), kWaitMs);
  } else {
    QVERIFY(w.Form().Capture().stream->isChecked());
    QTRY_VERIFY_WITH_TIMEOUT(w.Cycle().RingWrite() == words, kWaitMs);
    w.Form().Capture().stream->click();
  }
  QVERIFY(!w.Cycle().StreamLogOpen());
}

// The summary's rows against `k390tool stability --stream` on its log (the same library
// calls): every row of the deviations a summary holds, with its noise type and bounds, and MTIE
// taken against the final tau0.
void CompareWithTheBatchTable(const QJsonArray& rows, const QString& log_path) {
  const std::vector<int64_t> intervals =
      analysis::StreamLogIntervals(ReadBytes(log_path).toStdString());
  const analysis::PulseTrain train = analysis::BuildPulseTrain(intervals);
  std::vector<analysis::StabilityRow> batch;
  for (const analysis::StabilityRow& row :
       analysis::StabilityTable(train, analysis::OctaveFactors(train.LastIndex()))) {
    if (std::ranges::find(analysis::kRunDeviations, row.deviation) !=
        std::end(analysis::kRunDeviations)) {
      batch.push_back(row);
    }
  }
  QCOMPARE(rows.size(), static_cast<qsizetype>(batch.size()));
  const auto close = [](double want, double got) {
    return std::abs(want - got) <= 1e-9 * std::abs(want);
  };
  int bounded = 0;
  for (qsizetype r = 0; r < rows.size(); ++r) {
    const QJsonObject got = rows[r].toObject();
    const analysis::StabilityRow& want = batch[static_cast<size_t>(r)];
    const QByteArray what =
        got["deviation"].toString().toLatin1() + " m=" + QByteArray::number(got["af"].toInteger());
    QCOMPARE(got["deviation"].toString(),
             QString::fromLatin1(analysis::DeviationName(want.deviation).data()));
    QCOMPARE(got["af"].toInteger(), want.m);
    QCOMPARE(got["n"].toInteger(), want.n);
    QVERIFY2(close(want.value, got["value"].toDouble()), what.constData());
    QVERIFY2(want.alpha && got["alpha"].toInt() == *want.alpha, what.constData());
    QCOMPARE(got["min"].isNull(), !want.min.has_value());
    if (!want.min) continue;
    QVERIFY2(close(*want.min, got["min"].toDouble()), what.constData());
    QVERIFY2(close(*want.max, got["max"].toDouble()), what.constData());
    ++bounded;
  }
  QVERIFY(bounded > rows.size() / 2);
}

}  // namespace

class RunSummaryTest : public QObject {
  Q_OBJECT

 private slots:
  void StreamedRunShowsTheWholeRunAndLeavesItsSummary();
  void RunThatCannotBeWrittenSaysSo();
  void StartNeverAnsweredShowsItWaitsThenEndsAndKeepsThePreviousRun();
};

void RunSummaryTest::StreamedRunShowsTheWholeRunAndLeavesItsSummary() {
  constexpr int kWords = 3000;
  QTemporaryDir sim_dir;
  const QString words_path = sim_dir.filePath("words.txt");
  Simulator sim;
  QVERIFY(sim.Start({"--freq", "1000", "--jitter-ticks", "3", "--drop-every", "97", "--words",
                     QString::number(kWords), "--log-words", words_path}));
  Session s(Settings(sim.Port(), "SAMPLES=50\r\nSTREAM=TCP\r\nANALYSIS=TRUE\r\n").constData());
  TFmain& w = s.w();
  // The run is watched in the TIE view: the Stability view is never opened while it lasts.
  w.SetGraph(analysis::GraphView::kTie);
  QLabel* run_line = w.Form().Charts().run_line;
  QVERIFY(run_line->isHidden());
  // The Run line has its place from the start: nothing moves when it shows.
  const QRect selector = w.Form().Charts().graph_selector->geometry();
  const QRect chart = w.Form().Charts().tie->Widget()->geometry();

  // The pulses the simulator left out, from the words it sent.
  const auto injected = [&] {
    const std::vector<uint32_t> sent = ReadWords(words_path);
    int missing = 0;
    for (size_t i = 1; i < sent.size(); ++i) missing += (sent[i] - sent[i - 1]) > 1.5 * kPeriod;
    return missing;
  };
  const QLocale english(QLocale::English);
  w.Form().Capture().stream->click();
  QTRY_VERIFY_WITH_TIMEOUT(w.Cycle().RingWrite() == kWords, kWaitMs);
  // A stream pass after the last word shows the whole run, not the window of 50.
  const QString words = QString("Run: %1 words  ").arg(english.toString(kWords));
  const QString counts = QString("  missing %1  lost 0  P-P ").arg(injected());
  const auto shows_run = [&] {
    return run_line->text().startsWith(words) && run_line->text().contains(counts);
  };
  QTRY_VERIFY2_WITH_TIMEOUT(shows_run(), qPrintable(run_line->text()), kWaitMs);
  QVERIFY(!run_line->isHidden());
  QVERIFY(run_line->geometry().bottom() < w.Form().Charts().area->height());
  QCOMPARE(w.Form().Charts().graph_selector->geometry(), selector);
  QCOMPARE(w.Form().Charts().tie->Widget()->geometry(), chart);
  const QString whole =
      QString("K390 Stability  (whole run, %1 intervals)").arg(english.toString(kWords - 1));
  QCOMPARE(w.Form().Charts().stability->Title(), whole);
  // OADEV and MDEV of the whole run reach factors past the 50 intervals a window holds.
  QVERIFY(w.Form().Charts().stability->PointCount(0) > 4);
  QVERIFY(w.Form().Charts().stability->PointCount(1) > 4);
  QCOMPARE(w.Form().Charts().stability->PointCount(2), 0);
  // The run line and the whole-run curve also stay when a later pass has no records of its own.
  w.SetGraph(analysis::GraphView::kInterval);
  QVERIFY(shows_run());

  w.Form().Capture().stream->click();
  QTRY_VERIFY_WITH_TIMEOUT(!w.Cycle().Timer().Enabled(), kWaitMs);
  QVERIFY2(s.errors.isEmpty(), qPrintable(s.errors.join('\n')));
  const QJsonObject summary = ReadSummary(s);
  QCOMPARE(summary["words"].toInt(), static_cast<int>(ReadLogLines(s.File("stream.dat")).size()));
  QCOMPARE(summary["words"].toInt(), kWords);
  QCOMPARE(summary["missing_pulses"].toInt(), injected());
  QVERIFY(injected() > 0);
  QCOMPARE(summary["extra_pulses"].toInt(), 0);
  QCOMPARE(summary["lost_words"].toInt(), 0);
  QVERIFY(summary["ended_early"].isNull());
  CompareWithTheBatchTable(summary["stability"].toArray(), s.File("stream.dat"));
  // The last run stays in view after the stop, in the view that was not open while it ran,
  // every OADEV and MDEV row of it (MDEV stops where its windows of 3m + 1 pulses always hold
  // a missing one) ...
  QVERIFY(shows_run());
  w.SetGraph(analysis::GraphView::kStability);
  QVERIFY(shows_run());
  QCOMPARE(w.Form().Charts().stability->Title(), whole);
  const auto rows_of = [&](const char* deviation) {
    int count = 0;
    for (const QJsonValue& row : summary["stability"].toArray())
      count += row["deviation"].toString() == QLatin1String(deviation);
    return count;
  };
  QCOMPARE(w.Form().Charts().stability->PointCount(0), rows_of("oadev"));
  QCOMPARE(w.Form().Charts().stability->PointCount(1), rows_of("mdev"));
  QVERIFY(rows_of("mdev") > 4);
  // ... and the chart menu's table is the run's, as the summary holds it.
  QString table_path = s.File("run.csv");
  w.Menu().SetHooks({[&](app::ChartMenu::File) { return table_path; }, {}});
  w.Menu().SaveStabilityTable();
  const QList<QByteArray> table = ReadLogLines(table_path);
  QCOMPARE(table.size(), summary["stability"].toArray().size() + 1);
  QVERIFY(table[1].startsWith("oadev,1,"));

  // ... until a pass of a block.
  QByteArray file(";Sample,TDelta(x25ns)\r\n");
  for (int k = 0; k < 200; ++k)
    file += QByteArray::number(k) + ',' + QByteArray::number(kPeriod + k % 3) + "\r\n";
  s.Load(file);
  QCOMPARE(w.Form().Charts().stability->Title(), QString("K390 Stability"));
  QVERIFY(run_line->isHidden());
}

// A log on a full disk: the run ends there, and the summary says why it ended early. A summary
// whose place is taken: the stop still completes and the failure is shown as a window error.
void RunSummaryTest::RunThatCannotBeWrittenSaysSo() {
  struct Case {
    const char* name;
    bool full_disk;
    const char* ended_early;  // a part of it, or null for none
    const char* error;        // a part of the window error, or null for none
  };
  const Case cases[] = {
      {"log on a full disk", true, "Cannot write", "Cannot write"},
      {"summary path is a folder", false, nullptr, "stream.summary.json"},
  };
  for (const Case& c : cases) {
    if (c.full_disk && !QFile::exists("/dev/full")) QSKIP("no /dev/full");
    Simulator sim;
    QVERIFY(sim.Start({"--freq", "1000", "--words", "500"}));
    Session s(Settings(sim.Port(), "SAMPLES=50\r\nSTREAM=TCP\r\nANALYSIS=TRUE\r\n").constData());
    if (c.full_disk) {
      QVERIFY(QFile::link("/dev/full", s.File("stream.dat")));
    } else {
      QVERIFY(QDir(s.dir.path()).mkdir("stream.summary.json"));
    }
    StreamAndStop(s, 500, c.full_disk);
    QVERIFY2(!s.errors.isEmpty(), c.name);
    QVERIFY2(s.errors.join('\n').contains(c.error), qPrintable(s.errors.join('\n')));
    if (!c.ended_early) continue;
    QCOMPARE(s.errors.size(), 1);  // the run's end does not report the failure again
    const QJsonValue why = ReadSummary(s)["ended_early"];
    QVERIFY2(why.toString().contains(c.ended_early), qPrintable(why.toString()));
    QCOMPARE(ReadSummary(s)["words"].toInt(), 0);
  }
}

// While the instrument is silent the window shows that it waits, and nothing of the previous
// run; the reply timeout then ends the start with its message, and the previous run's log and
// summary stay as they were.
void RunSummaryTest::StartNeverAnsweredShowsItWaitsThenEndsAndKeepsThePreviousRun() {
  Simulator sim;
  QVERIFY(sim.Start({"--freq", "20000", "--drop-every", "7", "--words", "2000"}));
  Session s(Settings(sim.Port(), "SAMPLES=50\r\nSTREAM=TCP\r\nANALYSIS=TRUE\r\n").constData());
  TFmain& w = s.w();
  StreamAndStop(s, 2000, false);
  QTRY_VERIFY_WITH_TIMEOUT(!w.Cycle().Timer().Enabled(), kWaitMs);
  QVERIFY(!w.Form().FigureBox(analysis::Figure::kAverageTicks)->text().isEmpty());
  QVERIFY(!w.Form().Charts().pulse_counts->text().isEmpty());  // the dropped pulses were named
  const QByteArray log = ReadBytes(s.File("stream.dat"));
  const QByteArray summary = ReadBytes(s.File("stream.summary.json"));
  QVERIFY(!log.isEmpty() && !summary.isEmpty());

  Simulator silent;
  QVERIFY(silent.Start({"--no-reply"}));
  w.SetText(w.Form().Capture().port, QString::number(silent.Port()));
  w.Form().Capture().stream->click();
  const auto waiting = [&] {
    return w.Form().Charts().pulse->Title() == "K390 Jitter Data [waiting for the instrument]" &&
           w.Form().FigureBox(analysis::Figure::kAverageTicks)->text().isEmpty() &&
           w.Form().FigureBox(analysis::Figure::kHeldPeakToPeakPercent)->text().isEmpty() &&
           w.Form().Charts().pulse_counts->isHidden() &&
           w.Form().Charts().pulse->PointCount(0) == 0 && w.Pass().Held().pp_percent == 0;
  };
  for (int i = 0; i < 20; ++i) {  // a second of ticks and 250 ms passes, were any to run
    QVERIFY(waiting());
    QTest::qWait(50);
  }
  QTRY_VERIFY_WITH_TIMEOUT(!w.Form().Capture().stream->isChecked(), kWaitMs);
  QCOMPARE(s.errors, QStringList{"No stream words from the instrument within 4000 ms."});
  QVERIFY(!w.Cycle().StreamLogOpen());
  QCOMPARE(w.Form().Charts().pulse->Title(), QString("K390 Jitter Data"));
  QCOMPARE(ReadBytes(s.File("stream.dat")), log);
  QCOMPARE(ReadBytes(s.File("stream.summary.json")), summary);
}

QTEST_MAIN(RunSummaryTest)
#include "run_summary_qtest.moc"
