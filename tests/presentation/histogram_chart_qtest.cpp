#include <QImage>
#include <QtTest>
#include <memory>
#include <string>
#include <vector>

#include "common/error.h"
#include "common/text_forms.h"
#include "presentation/chart_feed.h"
#include "presentation/histogram_chart.h"

using presentation::HistogramChart;

namespace {

// Pixels of exactly `colour` in the chart as drawn.
int PixelsOf(QWidget* widget, QColor colour) {
  const QImage image = widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
  int count = 0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      if (image.pixelColor(x, y).rgb() == colour.rgb()) ++count;
    }
  }
  return count;
}

// A band of 200 bars around 1000 Hz, counts rising towards the middle.
void Bars(std::vector<int>& counts, std::vector<std::string>& labels) {
  counts.clear();
  labels.clear();
  for (int k = 0; k < 200; ++k) {
    counts.push_back(100 - std::abs(100 - k));
    labels.push_back(common::FixedText(4e7 / (36000 + k * 40), 1));
  }
}

QString ErrorOf(const std::function<void()>& step) {
  try {
    step();
  } catch (const common::Error& e) {
    return QString::fromUtf8(e.what());
  }
  return {};
}

}  // namespace

class HistogramChartTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<QWidget> window_;
  std::unique_ptr<HistogramChart> chart_;

 private slots:
  void init() {
    window_ = std::make_unique<QWidget>();
    window_->resize(1045, 626);
    chart_ = std::make_unique<HistogramChart>(window_.get());
    chart_->Widget()->resize(1045, 626);
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
  }

  void cleanup() {
    chart_.reset();
    window_.reset();
  }

  void startsAsLaidOut() {
    QCOMPARE(chart_->Title(), QString("K390 Histogram"));
    QCOMPARE(chart_->LeftAxisMinimum(), 0.0);
    QCOMPARE(chart_->LeftAxisMaximum(), 290.0);
    QCOMPARE(chart_->BarCount(), 0);
    QVERIFY(!chart_->MarksVisible());
  }

  void drawingReplacesTheBars() {
    std::vector<int> counts;
    std::vector<std::string> labels;
    Bars(counts, labels);
    chart_->SetMarksVisible(true);
    chart_->AddBar(5, "old");
    presentation::DrawHistogram(*chart_, counts, labels, 3001);
    presentation::DrawHistogram(*chart_, counts, labels, 3001);

    QCOMPARE(chart_->BarCount(), 200);
    QCOMPARE(chart_->LeftAxisMinimum(), 0.0);
    QCOMPARE(chart_->LeftAxisMaximum(), 3001.0);
    QVERIFY(chart_->AutoBarSize());
    QCOMPARE(chart_->BarWidthPercent(), 95);
    QVERIFY(!chart_->MarksVisible());
    const int probes[] = {0, 1, 99, 100, 101, 199};
    for (int k : probes) {
      QCOMPARE(chart_->BarValue(k), double(counts[k]));
      QCOMPARE(chart_->BarLabel(k), QString::fromStdString(labels[k]));
    }
    QCOMPARE(chart_->BarLabel(0), QString("1111.1"));
    QCOMPARE(chart_->BarLabel(100), QString("1000.0"));
  }

  void drawsThePassBars() {
    analysis::HistogramBars bars;
    for (int k = 0; k < analysis::kHistogramBars; ++k) {
      bars.counts[k] = k % 7;
      bars.labels[k] = std::to_string(k);
    }
    bars.axis_maximum = 11;
    presentation::DrawHistogram(*chart_, bars, 3);
    QCOMPARE(chart_->BarCount(), 200);
    // Both axes say what they count and what the bars stand for, over which band.
    QCOMPARE(chart_->CountAxisTitle(), QString("Intervals (count)"));
    QCOMPARE(
        chart_->BarAxisTitle(),
        QString("Pulse Frequency (Hz) at the bar's centre, band +/-3 % of the average interval"));
    QCOMPARE(chart_->LeftAxisMaximum(), 11.0);
    QCOMPARE(chart_->BarValue(13), 6.0);
    QCOMPARE(chart_->BarLabel(13), QString("13"));
  }

  void axisRefusalsKeepTheLimits() {
    QCOMPARE(ErrorOf([&] { chart_->SetLeftAxisMinimum(300); }),
             QString("Axis Minimum Value must be <= Maximum"));
    QCOMPARE(ErrorOf([&] { chart_->SetLeftAxisMaximum(-1); }),
             QString("Axis Maximum Value must be >= Minimum"));
    QCOMPARE(chart_->LeftAxisMinimum(), 0.0);
    QCOMPARE(chart_->LeftAxisMaximum(), 290.0);
  }

  void barsAreDrawnAndSizedByTheirSlot() {
    const QColor bar(255, 0, 0);
    chart_->Replot();
    QCOMPARE(PixelsOf(chart_->Widget(), bar), 0);
    std::vector<int> counts(200, 0);
    std::vector<std::string> labels(200, "1.0");
    counts[100] = 200;
    presentation::DrawHistogram(*chart_, counts, labels, 201);
    chart_->Replot();
    const int wide = PixelsOf(chart_->Widget(), bar);
    QVERIFY2(wide > 500, qPrintable(QString::number(wide)));
    chart_->SetBarWidthPercent(40);
    chart_->Replot();
    const int narrow = PixelsOf(chart_->Widget(), bar);
    QVERIFY2(narrow < wide, qPrintable(QString("%1 %2").arg(narrow).arg(wide)));
  }

  void labelsAreDrawnUnderTheBars() {
    std::vector<int> counts;
    std::vector<std::string> labels;
    Bars(counts, labels);
    chart_->Replot();
    const QImage empty = chart_->Widget()->grab().toImage();
    presentation::DrawHistogram(*chart_, counts, labels, 201);
    chart_->Replot();
    const QImage drawn = chart_->Widget()->grab().toImage();
    if (qEnvironmentVariableIsSet("K390_CHART_SNAPSHOT")) {
      drawn.save(qEnvironmentVariable("K390_CHART_SNAPSHOT"));
    }
    // The strip under the plot holds the bar labels: it must change once there are bars.
    const int strip_top = drawn.height() - 60;
    int changed = 0;
    for (int y = strip_top; y < drawn.height(); ++y) {
      for (int x = 0; x < drawn.width(); ++x) {
        if (drawn.pixel(x, y) != empty.pixel(x, y)) ++changed;
      }
    }
    QVERIFY2(changed > 200, qPrintable(QString::number(changed)));
  }
};

QTEST_MAIN(HistogramChartTest)
#include "histogram_chart_qtest.moc"
