// The channel strip and the curves a dual block draws, without the window: the strip hides for a
// block of one channel, each channel choice draws its curves, limit lines are judged on the
// curves drawn, and an AutoSample run adds up its blocks.
#include <QWidget>
#include <QtTest>

#include "app/channel_display.h"
#include "presentation/timing_charts.h"

using presentation::ChannelChoice;

namespace {

constexpr int64_t kPeriod = 40000;  // 1 kHz

// Channel 2 a quarter period after channel 1; channel 1 a tick late on every third pulse,
// channel 2 on odd ones; channel 2 loses pulse 50 and channel 1 gains one a third of a period
// after pulse 70.
acquisition::DualStamps Quadrature(int pulses) {
  acquisition::DualStamps s;
  for (int k = 0; k < pulses; ++k) {
    const int64_t t = 5000000 + k * kPeriod;
    s.ch1.push_back(t + (k % 3 == 0));
    if (k == 70) s.ch1.push_back(t + kPeriod / 3);
    if (k != 50) s.ch2.push_back(t + kPeriod / 4 + (k % 2));
  }
  return s;
}

// Channel 1's view of the same block, as the pass gives it from the intervals: a block fills
// both timing views.
presentation::TimingView Ch1View(const acquisition::DualStamps& s) {
  std::vector<double> intervals;
  for (size_t k = 1; k < s.ch1.size(); ++k)
    intervals.push_back(static_cast<double>(s.ch1[k] - s.ch1[k - 1]));
  return presentation::ComputeTimingView(intervals);
}

struct Rig {
  QWidget area;
  presentation::TieChart tie{&area};
  presentation::StabilityChart stability{&area};
  app::ChannelDisplay display{&area, tie, stability};

  void Show(bool dual = true, bool counted = false) {
    const acquisition::DualStamps s = Quadrature(400);
    display.Show(Ch1View(s), dual ? &s : nullptr, {}, counted);
  }
};

}  // namespace

class ChannelDisplayTest : public QObject {
  Q_OBJECT

 private slots:
  void StripShowsADualBlockOnly();
  void EachChoiceDrawsItsCurves();
  void LimitLinesAreJudgedOnTheCurvesDrawn();
  void WholeRunIsJudgedInsteadOfTheWindow();
  void RunTotalsAddUpTheCountedBlocks();
};

void ChannelDisplayTest::StripShowsADualBlockOnly() {
  Rig r;
  r.Show();
  QVERIFY(!r.display.Strip()->isHidden());
  QVERIFY(r.display.Ch2Text().contains(QStringLiteral("Missing 1 / Extra 0")));
  QVERIFY(r.display.PairingText().contains(QStringLiteral("Unpaired Ch1 2  Ch2 0")));
  QCOMPARE(QString::fromStdString(r.display.ErrorsCsv()).count(QLatin1Char('\n')), 3);
  // A narrow strip wraps its lines rather than cut them off.
  QVERIFY(r.display.StripHeight(400) > r.display.StripHeight(4000));
  QVERIFY(r.display.Strip()
              ->findChild<QWidget*>(QStringLiteral("Lpairing"))
              ->toolTip()
              .startsWith(QStringLiteral("missing_ch2  record 50")));
  r.Show(false);
  QVERIFY(r.display.Strip()->isHidden());
  QVERIFY(r.display.ErrorsCsv().empty());
  QCOMPARE(r.display.StripHeight(1000), 0);
}

void ChannelDisplayTest::EachChoiceDrawsItsCurves() {
  // A block draws both timing charts. TIE: the first trace, its missing marks (channel 2 lost
  // one, channel 1 none), the second trace's marks; Stability: a channel's deviations, and the
  // extra curves.
  struct Case {
    ChannelChoice choice;
    const char* trace;
    int marks, second_marks;
    bool main_curves;
    int extra_curves;
  };
  const Case cases[] = {
      {ChannelChoice::kCh1, "TIE", 0, 0, true, 0},
      {ChannelChoice::kCh2, "TIE Ch2", 1, 0, true, 0},
      {ChannelChoice::kBoth, "TIE Ch1", 0, 1, true, 3},
      {ChannelChoice::kDifference, "TIE Ch2 - Ch1", 0, 0, false, 2},
  };
  for (const Case& c : cases) {
    Rig r;
    r.display.SetChoice(c.choice);
    r.Show();
    // 400 pulses on channel 1 besides its extra one, 399 and a break on channel 2, and a point
    // of the difference per slot of channel 2.
    QCOMPARE(r.tie.TraceName(), QString::fromLatin1(c.trace));
    QCOMPARE(r.tie.PointCount(), 400);
    QCOMPARE(r.tie.MarkCount(), c.marks);
    QCOMPARE(r.tie.SecondPointCount(), c.second_marks == 0 ? 0 : 400);
    QCOMPARE(r.tie.SecondMarkCount(), c.second_marks);
    QVERIFY2((r.stability.PointCount(0) > 0) == c.main_curves, c.trace);
    QCOMPARE(r.stability.CurveCount(), c.extra_curves);
    for (int k = 0; k < c.extra_curves; ++k) QVERIFY(r.stability.CurvePointCount(k) > 0);
  }
}

void ChannelDisplayTest::LimitLinesAreJudgedOnTheCurvesDrawn() {
  // The difference takes three values a tick apart, two of them on neighbouring pulses: MTIE is
  // 50 ns at every tau; TDEV well below. The tight mask falls from 100 ns at 10 ms to 10 ns at
  // 20 ms: 21 ns at 16 ms.
  struct Case {
    ChannelChoice choice;
    std::vector<analysis::LimitLine> lines;
    int drawn;
    const char* verdict;
  };
  const std::vector<analysis::LimitLine> loose = {{"tdev", {{1e-3, 1e-7}, {1, 1e-7}}},
                                                  {"mtie", {{1e-3, 1e-7}, {1, 1e-7}}}};
  const std::vector<analysis::LimitLine> tight = {
      {"mtie", {{1e-3, 1e-7}, {0.01, 1e-7}, {0.02, 1e-8}, {1, 1e-8}}}};
  const Case cases[] = {
      {ChannelChoice::kDifference, loose, 2, "Limits PASS"},
      {ChannelChoice::kDifference, tight, 1, "Limits FAIL  first failing tau 0.016 s (MTIE)"},
      {ChannelChoice::kCh1, loose, 0, "Limits: none for the curves shown"},
      {ChannelChoice::kDifference, {}, 0, ""},
  };
  for (const Case& c : cases) {
    Rig r;
    r.display.SetChoice(c.choice);
    r.Show();
    r.display.SetLimits(c.lines);
    QCOMPARE(r.stability.LimitLineCount(), c.drawn);
    QCOMPARE(r.stability.Verdict().isEmpty(), c.lines.empty());
    QVERIFY2(r.stability.Verdict().startsWith(QString::fromLatin1(c.verdict)) || c.lines.empty(),
             qPrintable(r.stability.Verdict()));
  }
}

void ChannelDisplayTest::WholeRunIsJudgedInsteadOfTheWindow() {
  // A mask the block's OADEV breaks; a stream's whole run shown over it has no row under it.
  Rig r;
  r.Show(false);
  r.display.SetLimits({{"oadev", {{1e-4, 1e-12}, {10, 1e-12}}}});
  QVERIFY2(r.stability.Verdict().startsWith(QStringLiteral("Limits FAIL")),
           qPrintable(r.stability.Verdict()));
  r.display.ShowWholeRun({}, QStringLiteral("Whole run"));
  QVERIFY2(r.stability.Verdict().startsWith(QStringLiteral("Limits NOT MET")),
           qPrintable(r.stability.Verdict()));
  QCOMPARE(r.stability.Title(), QStringLiteral("Whole run"));
}

void ChannelDisplayTest::RunTotalsAddUpTheCountedBlocks() {
  Rig r;
  r.display.StartRun();
  r.Show(true, true);
  r.Show(true, false);  // a view switch: not a new block
  r.Show(true, true);
  QCOMPARE(r.display.RunTotals().counts.blocks, 2);
  QCOMPARE(r.display.RunTotals().counts.missing_ch2, 2);
  QCOMPARE(r.display.RunTotals().counts.extra_ch1, 2);
  QVERIFY(r.display.TotalsText().startsWith(QStringLiteral("Run 2 blocks")));
  r.display.StopRun();
  r.Show(true, true);
  QCOMPARE(r.display.RunTotals().counts.blocks, 2);
}

QTEST_MAIN(ChannelDisplayTest)
#include "channel_display_qtest.moc"
