// The window as the operator sees it after loading an example trace and clicking a point: the
// figures filled, three series drawn, one point label shown, the graph selector on top of the
// chart. Set K390_WINDOW_SHOT to a file name to keep a picture of the window.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QtTest>
#include <cmath>

#include "app/spin_edit.h"
#include "app/tfmain.h"
#include "tfmain_session.h"

using namespace tfmain_test;

class TFmainViewTest : public QObject {
  Q_OBJECT

 private slots:
  void LoadedExampleWithAClickedPoint();
};

void TFmainViewTest::LoadedExampleWithAClickedPoint() {
  const QString example = QFINDTESTDATA("../../examples/example.JIT");
  QVERIFY(!example.isEmpty());
  Session s("VSCALE=20\r\nFILTERLEN=5\r\nDUALCHANNEL=FALSE\r\nHISTOGRAM=TRUE\r\n");
  TFmain& w = s.w();
  QVERIFY(s.errors.isEmpty());
  s.next_file = example;
  w.Form().Buttons().load->click();
  QVERIFY(s.errors.isEmpty());
  w.SetText(w.Form().Flight().time_ms, "250");

  w.show();
  QVERIFY(QTest::qWaitForWindowExposed(&w));
  presentation::PulseChart& chart = s.chart();
  chart.Replot();

  // Click the channel 1 point farthest from the average line, where no other series covers it.
  const int count = chart.PointCount(0);
  QVERIFY(count > 10);
  int farthest = 0;
  for (int k = 0; k < count; ++k) {
    if (std::abs(chart.PointValue(0, k) - chart.PointValue(1, k)) >
        std::abs(chart.PointValue(0, farthest) - chart.PointValue(1, farthest))) {
      farthest = k;
    }
  }
  const QPoint at = chart.PointPosition(0, farthest);
  QWidget* plot = chart.Widget()->childAt(at);
  QVERIFY(plot != nullptr);
  QTest::mouseClick(plot, Qt::LeftButton, {}, plot->mapFrom(chart.Widget(), at));
  QCOMPARE(chart.VisibleLabel(0), farthest);
  QVERIFY(chart.PointLabel(0, farthest).endsWith("Hz"));

  // Every figure box shows a figure.
  for (QLineEdit* box : {w.Form().FigureBox(analysis::Figure::kAverageTicks),
                         w.Form().FigureBox(analysis::Figure::kPeakPositive),
                         w.Form().FigureBox(analysis::Figure::kPeakNegative),
                         w.Form().FigureBox(analysis::Figure::kPeakToPeak),
                         w.Form().FigureBox(analysis::Figure::kPeakToPeakPercent),
                         w.Form().FigureBox(analysis::Figure::kHeldPeakToPeakPercent),
                         w.Form().FigureBox(analysis::Figure::kRms),
                         w.Form().FigureBox(analysis::Figure::kRmsPercent),
                         w.Form().FigureBox(analysis::Figure::kCh1Seconds),
                         w.Form().FigureBox(analysis::Figure::kCh1Frequency),
                         w.Form().FigureBox(analysis::Figure::kCh2Seconds),
                         w.Form().FigureBox(analysis::Figure::kCh2Frequency),
                         w.Form().FigureBox(analysis::Figure::kQualityFactor),
                         w.Form().FigureBox(analysis::Figure::kHeldQualityFactor)}) {
    QVERIFY2(!box->text().isEmpty(), qPrintable(box->objectName()));
  }
  QVERIFY(w.Form().Flight().pulses->text().endsWith("pulses)"));
  // Three series: channel 1, its average and the smoothed trace.
  QCOMPARE(chart.PointCount(1), count);
  QCOMPARE(chart.SeriesTitle(2), QString("Filter"));
  QVERIFY(chart.PointCount(2) == count);
  QCOMPARE(chart.Widget()->findChildren<QCheckBox*>().size(), 3);
  QVERIFY(chart.Title().endsWith("[example.JIT]"));

  // The graph selector stands over the chart, in its lower right corner.
  const QPoint selector = w.Form().Charts().graph_selector->geometry().center();
  QWidget* on_top = w.Form().Charts().area->childAt(selector);
  QVERIFY(on_top == w.Form().Charts().graph_selector ||
          w.Form().Charts().graph_selector->isAncestorOf(on_top));
  QVERIFY(w.Form().Charts().graph_selector->geometry().right() < w.Form().Charts().area->width());
  QVERIFY(w.Form().Charts().graph_selector->geometry().bottom() < w.Form().Charts().area->height());
  QVERIFY(!w.Form().Capture().dual_channel->isHidden());
  QVERIFY(!w.Form().Scale().filter->isHidden());

  chart.Replot();
  const QPixmap shot = w.grab();
  QCOMPARE(shot.size(), w.size());
  const QString keep = qEnvironmentVariable("K390_WINDOW_SHOT");
  if (!keep.isEmpty()) QVERIFY(shot.save(keep));
}

QTEST_MAIN(TFmainViewTest)
#include "tfmain_view_qtest.moc"
