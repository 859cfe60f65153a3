// The timing analysis as only the window shows it: the graph selector's entries with and without
// ANALYSIS, the readout line and its red pulse counts, and a click on a stability point.
#include <QButtonGroup>
#include <QLabel>
#include <QLineEdit>
#include <QtTest>

#include "app/tfmain.h"
#include "presentation/timing_charts.h"
#include "tfmain_session.h"

using namespace tfmain_test;

namespace {

// An interval-form .JIT of `count` intervals near 1 kHz, interval `doubled` (if any) twice as long.
QByteArray IntervalFile(int count, int doubled) {
  QByteArray file(";Sample,TDelta(x25ns)\r\n");
  for (int k = 0; k < count; ++k) {
    const int ticks = (k == doubled ? 80000 : 40000) + (k * 7 % 5) - 2;
    file += QByteArray::number(k) + ',' + QByteArray::number(ticks) + "\r\n";
  }
  return file;
}

}  // namespace

class TFmainAnalysisTest : public QObject {
  Q_OBJECT

 private slots:
  void SelectorOffersTheTimingViewsOnlyWithAnalysis();
  void ReadoutNamesMissingPulsesInRed();
  void TimingViewsDrawTheLoadedTrainAndShowAClickedPoint();
};

void TFmainAnalysisTest::SelectorOffersTheTimingViewsOnlyWithAnalysis() {
  struct Case {
    const char* settings;
    int items;
  };
  const Case cases[] = {
      {"HISTOGRAM=TRUE\r\n", 3},
      {"HISTOGRAM=TRUE\r\nANALYSIS=true\r\n", 3},
      {"HISTOGRAM=TRUE\r\nANALYSIS=TRUE\r\n", 5},
      {"ANALYSIS=TRUE\r\n", 4},
  };
  for (const Case& c : cases) {
    Session s(c.settings);
    TFmain& w = s.w();
    QCOMPARE(w.GraphItemCount(), c.items);
    const bool analysis = c.items != 3;
    QCOMPARE(s.Item("TIE") != nullptr, analysis);
    QCOMPARE(s.Item("Stability") != nullptr, analysis);
    QCOMPARE(w.Form().Lreadout != nullptr, analysis);
    if (!analysis) continue;
    // Every entry stays inside the chart area, above the readout line.
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const QRect selector = w.Form().RGgsel->geometry();
    QVERIFY(selector.top() >= 0);
    QVERIFY(selector.bottom() < w.Form().Lreadout->geometry().top());
    for (QAbstractButton* item : w.Form().RGgselGroup->buttons()) {
      QVERIFY(w.Form().RGgsel->rect().contains(item->geometry()));
    }
  }
}

void TFmainAnalysisTest::ReadoutNamesMissingPulsesInRed() {
  Session s("ANALYSIS=TRUE\r\n");
  TFmain& w = s.w();
  s.Load(IntervalFile(300, 120));
  QVERIFY2(s.errors.isEmpty(), qPrintable(s.errors.join('\n')));
  // The interval view (the loaded file's form) shows the readout too.
  QCOMPARE(w.Graph(), analysis::GraphView::kInterval);
  const QString readout = w.Form().Lreadout->text();
  QVERIFY2(readout.startsWith("Period jitter RMS ") && readout.contains("TIE P-P "),
           qPrintable(readout));
  QLabel* pulses = w.Form().Lpulses;
  QCOMPARE(pulses->text(), QString("Window: missing 1 / extra 0"));
  QVERIFY(!pulses->isHidden());
  pulses->ensurePolished();
  QCOMPARE(pulses->palette().color(pulses->foregroundRole()), QColor(0xc0, 0, 0));
  // The figure boxes say that the gap is in their figures; the readout gives the jitter
  // without it.
  QLineEdit* pp = w.Form().FigureBox(analysis::Figure::kPeakToPeak);
  QCOMPARE(pp->toolTip(), QString("1 missing and 0 extra pulses are in these figures"));
  QVERIFY(!pp->styleSheet().isEmpty());
  QVERIFY2(readout.contains("Without them: P-P 4 ticks"), qPrintable(readout));

  s.Load(IntervalFile(300, -1));
  QVERIFY(s.errors.isEmpty());
  QVERIFY(pulses->isHidden());
  QVERIFY(w.Form().Lreadout->text() != readout);
  QVERIFY(!w.Form().Lreadout->text().contains("Without"));
  QVERIFY(pp->toolTip().isEmpty() && pp->styleSheet().isEmpty());
}

void TFmainAnalysisTest::TimingViewsDrawTheLoadedTrainAndShowAClickedPoint() {
  Session s("ANALYSIS=TRUE\r\n");
  TFmain& w = s.w();
  w.show();
  QVERIFY(QTest::qWaitForWindowExposed(&w));
  s.Item("TIE")->click();
  s.Load(IntervalFile(400, 50));
  QVERIFY(s.errors.isEmpty());
  // Loading keeps the timing view; every pulse index has a TIE, the missing one a mark.
  QCOMPARE(w.Graph(), analysis::GraphView::kTie);
  presentation::TieChart& tie = *w.Form().Chart3;
  QVERIFY(tie.Widget()->isVisible() && !w.Form().Chart4->Widget()->isVisible());
  QCOMPARE(tie.PointCount(), 402);
  QCOMPARE(tie.MarkCount(), 1);
  QCOMPARE(tie.MarkIndex(0), 51.0);

  s.Item("Stability")->click();
  presentation::StabilityChart& stability = *w.Form().Chart4;
  QVERIFY(stability.Widget()->isVisible() && !tie.Widget()->isVisible());
  QCOMPARE(stability.PointCount(0), 7);  // octave factors 1 .. 64 of 401 pulse indices
  QVERIFY(stability.ShownValues().isEmpty());
  stability.Replot();
  const QPoint at = stability.PointPosition(1, 2);
  QTest::mouseClick(stability.Widget(), Qt::LeftButton, {}, at);
  QVERIFY2(stability.ShownValues().startsWith("MDEV  tau 0.004"),
           qPrintable(stability.ShownValues()));

  // Back in a view of the document, the pulse chart is in front again.
  s.Item("Interval")->click();
  QVERIFY(!stability.Widget()->isVisible() && w.PulseChartInFront());
}

QTEST_MAIN(TFmainAnalysisTest)
#include "tfmain_analysis_qtest.moc"
