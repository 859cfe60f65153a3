#include <QCheckBox>
#include <QImage>
#include <QSignalSpy>
#include <QtTest>
#include <cmath>
#include <memory>

#include "common/error.h"
#include "presentation/chart_feed.h"
#include "presentation/pulse_chart.h"

using presentation::PulseChart;

namespace {

// Five intervals with a zero and a negative one on each channel.
std::unique_ptr<acquisition::PulseData> FiveIntervals(bool with_ch2) {
  auto data = std::make_unique<acquisition::PulseData>();
  const double ch1[] = {40000, 0, 39000, -5, 41000};
  const double ch2[] = {40000, 0, 38000, 42000, -1};
  for (int i = 1; i <= 5; ++i) {
    data->Ch1Intervals[i] = ch1[i - 1];
    data->Ch2Intervals[i] = ch2[i - 1];
  }
  data->Ch1Count = 6;
  data->Ch2Count = with_ch2 ? 6 : 0;
  return data;
}

QString ErrorOf(const std::function<void()>& step) {
  try {
    step();
  } catch (const common::Error& e) {
    return QString::fromUtf8(e.what());
  }
  return {};
}

// Pixels of exactly `colour` in the chart as drawn, or in `region` of it.
int PixelsOf(QWidget* widget, QColor colour, QRect region = QRect(QPoint(0, 0), QSize(-1, -1))) {
  const QImage image = widget->grab(region).toImage().convertToFormat(QImage::Format_RGB32);
  int count = 0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      if (image.pixelColor(x, y).rgb() == colour.rgb()) ++count;
    }
  }
  return count;
}

// What the window does on a click: hide every label of the clicked series, show the clicked one.
void ShowOnlyClickedLabel(PulseChart& chart, int series, int index) {
  for (int j = 0; j < chart.PointCount(series); ++j) chart.SetPointLabelVisible(series, j, false);
  chart.SetPointLabelVisible(series, index, true);
}

}  // namespace

class PulseChartTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<QWidget> window_;
  std::unique_ptr<PulseChart> chart_;

  // Clicks the chart where point k of a series is drawn.
  void ClickPoint(int series, int k) {
    chart_->Replot();
    const QPoint at = chart_->PointPosition(series, k);
    QVERIFY(at.x() >= 0);
    QWidget* target = chart_->Widget()->childAt(at);
    QVERIFY(target != nullptr);
    QTest::mouseClick(target, Qt::LeftButton, {}, target->mapFrom(chart_->Widget(), at));
  }

 private slots:
  void init() {
    window_ = std::make_unique<QWidget>();
    window_->resize(1045, 626);
    chart_ = std::make_unique<PulseChart>(window_.get());
    chart_->Widget()->resize(1045, 626);
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
  }

  void cleanup() {
    chart_.reset();
    window_.reset();
  }

  void startsAsLaidOut() {
    QCOMPARE(chart_->Title(), QString("K390 Jitter Data"));
    QCOMPARE(chart_->LeftAxisMinimum(), -100.0);
    QCOMPARE(chart_->LeftAxisMaximum(), 100.0);
    QCOMPARE(chart_->LeftAxisTitle(), QString("Cycle Time (x25ns)"));
    const char* titles[] = {"Ch1", "Avg Ch1", "Ch2"};
    for (int s = 0; s < 3; ++s) {
      QCOMPARE(chart_->SeriesTitle(s), QString(titles[s]));
      QCOMPARE(chart_->PointCount(s), 0);
      QVERIFY(chart_->SeriesVisible(s));
      QCOMPARE(chart_->VisibleLabel(s), -1);
    }
    QCOMPARE(chart_->LineWidth(1), 2);
  }

  void feedFillsTheSeries_data() {
    QTest::addColumn<bool>("interval_view");
    QTest::addColumn<bool>("percent");
    QTest::addColumn<int>("scale");
    QTest::addColumn<double>("minimum");
    QTest::addColumn<double>("maximum");
    QTest::newRow("interval Bits") << true << false << 100 << 39900.0 << 40100.0;
    QTest::newRow("interval %") << true << true << 10 << 36000.0 << 44000.0;
    QTest::newRow("frequency Hz") << false << false << 50 << 950.0 << 1050.0;
    QTest::newRow("frequency %") << false << true << 10 << 900.0 << 1100.0;
  }

  void feedFillsTheSeries() {
    QFETCH(bool, interval_view);
    QFETCH(bool, percent);
    QFETCH(int, scale);
    QFETCH(double, minimum);
    QFETCH(double, maximum);
    auto data = FiveIntervals(true);
    // A label shown before the feed is hidden by it.
    chart_->AddPoint(0, 1);
    chart_->SetPointLabelVisible(0, 0, true);
    presentation::FeedPulseChart(*chart_, {data.get(), 40000, 1000}, interval_view, percent, scale);

    QCOMPARE(chart_->LeftAxisMinimum(), minimum);
    QCOMPARE(chart_->LeftAxisMaximum(), maximum);
    QCOMPARE(chart_->LineWidth(0), 2);
    QCOMPARE(chart_->LineWidth(2), 2);
    for (int s = 0; s < 3; ++s) QCOMPARE(chart_->PointCount(s), 5);
    const double ch1[] = {40000, 0, 39000, -5, 41000};
    const char* labels[] = {"1000.0000Hz", "0.0000Hz", "1025.6410Hz", "0.0000Hz", "975.6098Hz"};
    for (int k = 0; k < 5; ++k) {
      const double expected = interval_view ? ch1[k] : (ch1[k] > 0 ? 1 / (ch1[k] * 2.5e-8) : 0.0);
      QCOMPARE(chart_->PointValue(0, k), expected);
      QCOMPARE(chart_->PointValue(1, k), interval_view ? 40000.0 : 1000.0);
      QCOMPARE(chart_->PointLabel(0, k), QString(labels[k]));
    }
    QCOMPARE(chart_->VisibleLabel(0), -1);
    // Gaps where channel 2 has no interval; series 0 and 1 keep their points there.
    QVERIFY(std::isnan(chart_->PointValue(2, 1)));
    QVERIFY(std::isnan(chart_->PointValue(2, 4)));
    QCOMPARE(chart_->PointValue(2, 2), interval_view ? 38000.0 : 1 / (38000 * 2.5e-8));
    QCOMPARE(chart_->PointValue(2, 3), interval_view ? 42000.0 : 1 / (42000 * 2.5e-8));
  }

  void feedWithoutChannel2LeavesSeries2Empty() {
    auto data = FiveIntervals(true);
    presentation::FeedPulseChart(*chart_, {data.get(), 40000, 1000}, true, false, 100);
    data->Ch2Count = 0;
    presentation::FeedPulseChart(*chart_, {data.get(), 40000, 1000}, true, false, 100);
    QCOMPARE(chart_->PointCount(0), 5);
    QCOMPARE(chart_->PointCount(2), 0);
  }

  void axisRefusalsKeepTheLimits_data() {
    QTest::addColumn<bool>("minimum");
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("message");
    QTest::newRow("minimum above maximum")
        << true << 100.5 << QString("Axis Minimum Value must be <= Maximum");
    QTest::newRow("maximum below minimum")
        << false << -200.0 << QString("Axis Maximum Value must be >= Minimum");
  }

  void axisRefusalsKeepTheLimits() {
    QFETCH(bool, minimum);
    QFETCH(double, value);
    QFETCH(QString, message);
    const QString error = ErrorOf([&] {
      if (minimum) {
        chart_->SetLeftAxisMinimum(value);
      } else {
        chart_->SetLeftAxisMaximum(value);
      }
    });
    QCOMPARE(error, message);
    QCOMPARE(chart_->LeftAxisMinimum(), -100.0);
    QCOMPARE(chart_->LeftAxisMaximum(), 100.0);
    // Equal limits are allowed.
    chart_->SetLeftAxisMinimum(100);
    QCOMPARE(chart_->LeftAxisMinimum(), 100.0);
  }

  void negativeCentreFailsTheFeedAndKeepsThePoints() {
    auto data = FiveIntervals(true);
    presentation::FeedPulseChart(*chart_, {data.get(), 40000, 1000}, true, false, 100);
    data->Ch1Intervals[3] = 12345;
    const QString error = ErrorOf([&] {
      presentation::FeedPulseChart(*chart_, {data.get(), -50000, 0}, true, false, 100);
    });
    QCOMPARE(error, QString("Axis Maximum Value must be >= Minimum"));
    QCOMPARE(chart_->LeftAxisMinimum(), 0.0);
    QCOMPARE(chart_->LeftAxisMaximum(), 40100.0);
    QCOMPARE(chart_->PointCount(0), 5);
    QCOMPARE(chart_->PointValue(0, 2), 39000.0);
    QCOMPARE(chart_->PointCount(2), 5);
  }

  void clickingAPointShowsOnlyItsLabel() {
    auto data = FiveIntervals(false);
    const double ch1[] = {40080, 39920, 40060, 39940, 40070};
    for (int i = 1; i <= 5; ++i) data->Ch1Intervals[i] = ch1[i - 1];
    presentation::FeedPulseChart(*chart_, {data.get(), 40000, 1000}, true, false, 100);
    QSignalSpy spy(chart_.get(), &PulseChart::PointClicked);
    connect(chart_.get(), &PulseChart::PointClicked, chart_.get(),
            [this](int series, int index) { ShowOnlyClickedLabel(*chart_, series, index); });

    ClickPoint(0, 1);
    ClickPoint(0, 3);
    QCOMPARE(spy.count(), 2);
    QCOMPARE(spy.at(0).at(0).toInt(), 0);
    QCOMPARE(spy.at(0).at(1).toInt(), 1);
    QCOMPARE(spy.at(1).at(1).toInt(), 3);
    QCOMPARE(chart_->VisibleLabel(0), 3);
    QCOMPARE(chart_->PointLabel(0, 3), QString("1001.5023Hz"));

    // A hidden series takes no clicks.
    chart_->SetSeriesVisible(0, false);
    ClickPoint(0, 2);
    QCOMPARE(spy.count(), 2);
    QCOMPARE(chart_->VisibleLabel(0), 3);
  }

  void aChannel1PointOnTheOtherTracesStillTakesTheClick() {
    // Point 2 of Ch1 sits exactly on the average line and on the Ch2 trace.
    auto data = FiveIntervals(true);
    const double ch1[] = {40080, 39920, 40000, 39940, 40070};
    for (int i = 1; i <= 5; ++i) {
      data->Ch1Intervals[i] = ch1[i - 1];
      data->Ch2Intervals[i] = 40000;
    }
    presentation::FeedPulseChart(*chart_, {data.get(), 40000, 1000}, true, false, 100);
    QSignalSpy spy(chart_.get(), &PulseChart::PointClicked);
    ClickPoint(0, 2);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toInt(), 0);
    QCOMPARE(spy.at(0).at(1).toInt(), 2);
  }

  void legendCheckBoxesFollowTheSeries() {
    const QList<QCheckBox*> boxes = chart_->Widget()->findChildren<QCheckBox*>();
    QCOMPARE(boxes.size(), 3);
    QCOMPARE(boxes[0]->text(), QString("Ch1"));
    QCOMPARE(boxes[1]->text(), QString("Avg Ch1"));
    QCOMPARE(boxes[2]->text(), QString("Ch2"));
    chart_->SetSeriesTitle(2, "Filter");
    QCOMPARE(boxes[2]->text(), QString("Filter"));
    QCOMPARE(chart_->SeriesTitle(2), QString("Filter"));

    QTest::mouseClick(boxes[0], Qt::LeftButton);
    QVERIFY(!chart_->SeriesVisible(0));
    QVERIFY(chart_->SeriesVisible(1));
    QTest::mouseClick(boxes[0], Qt::LeftButton);
    QVERIFY(chart_->SeriesVisible(0));
    chart_->SetSeriesVisible(1, false);
    QVERIFY(!boxes[1]->isChecked());
    QVERIFY(!chart_->SeriesVisible(1));
  }

  // A single-channel capture without the filter leaves the third trace empty: its entry goes.
  void thirdTraceIsListedOnlyWhileItHoldsPoints() {
    QVERIFY(!chart_->SeriesListed(2));  // nothing fed yet
    QVERIFY(chart_->SeriesListed(0) && chart_->SeriesListed(1));
    const std::pair<bool, bool> feeds[] = {{true, true}, {false, false}, {true, true}};
    for (const auto& [with_ch2, listed] : feeds) {
      auto data = FiveIntervals(with_ch2);
      presentation::FeedPulseChart(*chart_, {data.get(), 40000, 1000}, true, false, 100);
      QCOMPARE(chart_->SeriesListed(2), listed);
      QVERIFY(chart_->SeriesListed(0) && chart_->SeriesListed(1));
    }
  }

  void drawsTheFedPointsAndHidesUncheckedSeries() {
    const QColor ch1(0, 64, 128);
    chart_->Replot();
    // Only the legend sample has the series colour before the first feed.
    const int legend = PixelsOf(chart_->Widget(), ch1);
    QVERIFY(legend < 50);
    auto data = FiveIntervals(true);
    presentation::FeedPulseChart(*chart_, {data.get(), 40000, 1000}, true, false, 100);
    chart_->Replot();
    if (qEnvironmentVariableIsSet("K390_CHART_SNAPSHOT")) {
      chart_->Widget()->grab().save(qEnvironmentVariable("K390_CHART_SNAPSHOT"));
    }
    const int drawn = PixelsOf(chart_->Widget(), ch1);
    QVERIFY2(drawn > legend + 100, qPrintable(QString::number(drawn)));
    chart_->SetSeriesVisible(0, false);
    chart_->Replot();
    QVERIFY(PixelsOf(chart_->Widget(), ch1) <= legend);
  }

  void queuedChangesAreDrawnAtTheNextTurn() {
    const QColor ch2(255, 128, 0);
    chart_->Replot();
    // The plot alone: the legend entry of the trace shows as soon as it holds points.
    const QRect plot = chart_->PlotArea();
    const int before = PixelsOf(chart_->Widget(), ch2, plot);
    auto data = FiveIntervals(true);
    presentation::FeedPulseChart(*chart_, {data.get(), 40000, 1000}, true, false, 100);
    // Nothing is drawn until the event loop turns once.
    QCOMPARE(PixelsOf(chart_->Widget(), ch2, plot), before);
    QCoreApplication::processEvents();
    QVERIFY(PixelsOf(chart_->Widget(), ch2, plot) > before + 100);
  }
};

QTEST_MAIN(PulseChartTest)
#include "pulse_chart_qtest.moc"
