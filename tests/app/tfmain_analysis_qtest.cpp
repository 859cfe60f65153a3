// The timing analysis as only the window shows it: the graph selector's entries with and without
// ANALYSIS, the readout line and its red pulse counts, and a click on a stability point.
#include <QButtonGroup>
#include <QLabel>
#include <QLineEdit>
#include <QtTest>
#include <algorithm>
#include <cmath>
#include <vector>

#include "app/tfmain.h"
#include "presentation/histogram_chart.h"
#include "presentation/timing_charts.h"
#include "tfmain_session.h"

using namespace tfmain_test;

namespace {

// `count` intervals near 1 kHz in ticks, interval `doubled` (if any) twice as long.
std::vector<double> Intervals(int count, int doubled) {
  std::vector<double> ticks;
  for (int k = 0; k < count; ++k) ticks.push_back((k == doubled ? 80000 : 40000) + (k * 7 % 5) - 2);
  return ticks;
}

// The same intervals as an interval-form .JIT.
QByteArray IntervalFile(int count, int doubled) {
  QByteArray file(";Sample,TDelta(x25ns)\r\n");
  const std::vector<double> ticks = Intervals(count, doubled);
  for (int k = 0; k < count; ++k) {
    file += QByteArray::number(k) + ',' + QByteArray::number(int(ticks[k])) + "\r\n";
  }
  return file;
}

// Where the chart in front draws, in the chart area's pixels, after a redraw.
QRect FrontPlotArea(TFmain& w, analysis::GraphView view) {
  const app::FmainForm& form = w.Form();
  const auto placed = [](auto& chart) {
    chart.Replot();
    return chart.PlotArea().translated(chart.Widget()->pos());
  };
  switch (view) {
    case analysis::GraphView::kTie:
      return placed(*form.Charts().tie);
    case analysis::GraphView::kStability:
      return placed(*form.Charts().stability);
    case analysis::GraphView::kHistogram:
      return placed(*form.Charts().histogram);
    default:
      return placed(*form.Charts().pulse);
  }
}

}  // namespace

class TFmainAnalysisTest : public QObject {
  Q_OBJECT

 private slots:
  void SelectorOffersTheTimingViewsOnlyWithAnalysis();
  void ReadoutNamesMissingPulsesInRed();
  void TimingViewsDrawTheLoadedTrainAndShowAClickedPoint();
  void SelectorCoversNoPlotInAnyView();
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
    QCOMPARE(w.Form().Charts().readout != nullptr, analysis);
    if (!analysis) continue;
    // Every entry stays inside the chart area, above the readout line.
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const QRect selector = w.Form().Charts().graph_selector->geometry();
    QVERIFY(selector.top() >= 0);
    QVERIFY(selector.bottom() < w.Form().Charts().readout->geometry().top());
    for (QAbstractButton* item : w.Form().Charts().graph_items->buttons()) {
      QVERIFY(w.Form().Charts().graph_selector->rect().contains(item->geometry()));
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
  const QString readout = w.Form().Charts().readout->text();
  QVERIFY2(readout.startsWith("Period jitter RMS ") && readout.contains("TIE P-P "),
           qPrintable(readout));
  QLabel* pulses = w.Form().Charts().pulse_counts;
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
  QVERIFY(w.Form().Charts().readout->text() != readout);
  QVERIFY(!w.Form().Charts().readout->text().contains("Without"));
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
  presentation::TieChart& tie = *w.Form().Charts().tie;
  QVERIFY(tie.Widget()->isVisible() && !w.Form().Charts().stability->Widget()->isVisible());
  QCOMPARE(tie.PointCount(), 402);
  QCOMPARE(tie.MarkCount(), 1);
  QCOMPARE(tie.MarkIndex(0), 51.0);
  // The value axis holds the whole trace, its peaks clear of the frame.
  const presentation::TimingView drawn = presentation::ComputeTimingView(Intervals(400, 50));
  double low = 0, high = 0;
  for (double ns : drawn.tie_ns) {
    if (std::isfinite(ns)) low = std::min(low, ns), high = std::max(high, ns);
  }
  QVERIFY(tie.ValueRange().minimum < low && tie.ValueRange().maximum > high);

  s.Item("Stability")->click();
  presentation::StabilityChart& stability = *w.Form().Charts().stability;
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

// The selector floats over the chart area's corner: whichever chart is in front, no point, axis
// or label of its plot lies under it.
void TFmainAnalysisTest::SelectorCoversNoPlotInAnyView() {
  using analysis::GraphView;
  Session s("HISTOGRAM=TRUE\r\nANALYSIS=TRUE\r\n");
  TFmain& w = s.w();
  w.show();
  QVERIFY(QTest::qWaitForWindowExposed(&w));
  s.Load(IntervalFile(400, 50));
  QVERIFY(s.errors.isEmpty());
  const std::pair<const char*, GraphView> views[] = {{"Histogram", GraphView::kHistogram},
                                                     {"TIE", GraphView::kTie},
                                                     {"Stability", GraphView::kStability},
                                                     {"Interval", GraphView::kInterval}};
  for (const auto& [item, view] : views) {
    s.Item(item)->click();
    const QRect plot = FrontPlotArea(w, view);
    const QRect selector = w.Form().Charts().graph_selector->geometry();
    QVERIFY2(!plot.isEmpty() && !plot.intersects(selector), item);
  }
}

QTEST_MAIN(TFmainAnalysisTest)
#include "tfmain_analysis_qtest.moc"
