#include <QtTest>
#include <limits>

#include "presentation/proving_chart.h"
#include "presentation/spectrum_chart.h"

using presentation::ProvingChart;
using presentation::SpectrumChart;

namespace {

analysis::ProvingFigures Row(double flight_s, double median, double p95) {
  analysis::ProvingFigures row;
  row.flight_s = flight_s;
  row.provings = 20;
  row.repeat_median_pct = median;
  row.repeat_p95_pct = p95;
  return row;
}

// Four flight times, the last without a spread; 95 % pass from 80 ms.
presentation::ProvingView Scan() {
  presentation::ProvingView view;
  view.valid = true;
  view.runs = 5;
  view.limit_pct = 0.05;
  view.scan.rows = {Row(0.010, 0.3, 0.6), Row(0.020, 0.1, 0.2), Row(0.080, 0.02, 0.04),
                    Row(0.160, 0, 0)};
  view.scan.shortest_flight_s = 0.080;
  view.without_pattern = view.scan;
  view.without_pattern->rows.pop_back();
  return view;
}

analysis::SpectrumLine Line(double hz, double ns) {
  return {hz, ns * 1e-9, ns / 1e4, std::nullopt};
}

}  // namespace

class RecordChartsTest : public QObject {
  Q_OBJECT

 private slots:
  void ProvingChartDrawsCurvesLimitAndMarkers();
  void SpectrumChartLabelsTheStrongestLines();
};

void RecordChartsTest::ProvingChartDrawsCurvesLimitAndMarkers() {
  QWidget parent;
  ProvingChart chart(&parent);
  chart.ShowFlightTime(500);
  chart.Show(Scan());
  QCOMPARE(chart.PointCount(ProvingChart::kMedian), 3);
  QCOMPARE(chart.PointCount(ProvingChart::kP95), 3);
  QCOMPARE(chart.PointCount(ProvingChart::kP95WithoutPattern), 3);
  QCOMPARE(chart.PointCount(ProvingChart::kLimit), 2);
  QCOMPARE(chart.ShortestMarkMs(), std::optional<double>(80));
  QCOMPARE(chart.ShortestMarkText(), QStringLiteral("95 % pass 80 ms"));
  // The box's marker outlives a new view, and follows the box.
  QCOMPARE(chart.FlightMarkText(), QStringLiteral("Flight Time 500 ms"));
  const struct {
    std::optional<double> typed;
    std::optional<double> shown;
  } boxes[] = {{250, 250},
               {std::nullopt, std::nullopt},
               {0, std::nullopt},
               {std::numeric_limits<double>::infinity(), std::nullopt}};
  for (const auto& box : boxes) {
    chart.ShowFlightTime(box.typed);
    QCOMPARE(chart.FlightMarkMs(), box.shown);
  }
  QVERIFY(chart.Title().contains(QStringLiteral("95 % pass from 80 ms")));

  presentation::ProvingView none;
  none.note = "K390 Virtual Proving  (too short)";
  chart.Show(none);
  for (auto series : {ProvingChart::kMedian, ProvingChart::kP95, ProvingChart::kLimit})
    QCOMPARE(chart.PointCount(series), 0);
  QCOMPARE(chart.ShortestMarkMs(), std::nullopt);
  QCOMPARE(chart.Title(), QStringLiteral("K390 Virtual Proving  (too short)"));
}

void RecordChartsTest::SpectrumChartLabelsTheStrongestLines() {
  QWidget parent;
  SpectrumChart chart(&parent);
  presentation::SpectrumView view;
  view.valid = true;
  view.spectrum.segment = 4096;
  view.spectrum.segments = 1;
  view.freq_hz = {1, 2, 3};
  view.amplitude_ns = {0.1, 0.2, 0.1};
  for (int k = 1; k <= 10; ++k) view.spectrum.lines.push_back(Line(100.0 * k, 50.0 / k));
  chart.Show(view);
  QCOMPARE(chart.PointCount(), 3);
  QCOMPARE(chart.LineCount(), 10);
  const QStringList labels = chart.LabelTexts();
  QCOMPARE(labels.size(), static_cast<qsizetype>(presentation::kLabelledLines));
  QCOMPARE(labels.front(), QStringLiteral("100.00 Hz  50.000 ns (0.0050 %)"));
  view.spectrum.lines.resize(2);
  chart.Show(view);
  QCOMPARE(chart.LabelTexts().size(), 2);
  chart.Show({});
  QCOMPARE(chart.PointCount(), 0);
  QCOMPARE(chart.LineCount(), 0);
  QVERIFY(chart.LabelTexts().isEmpty());
  QCOMPARE(chart.Title(), QStringLiteral("K390 Jitter Spectrum  (too few pulses)"));
}

QTEST_MAIN(RecordChartsTest)
#include "record_charts_qtest.moc"
