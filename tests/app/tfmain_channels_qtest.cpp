// Two channels in the window: a dual reply (loaded, or from an AutoSample run) shows channel 2
// and the pair in the strip, leaves channel 1's figures as a single-channel reply gives them,
// and a run adds up its blocks into the summary beside the window.
#include <QCheckBox>
#include <QComboBox>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QtTest>

#include "app/channel_display.h"
#include "app/tfmain.h"
#include "cycle_test_support.h"
#include "presentation/timing_charts.h"
#include "tfmain_session.h"

using namespace tfmain_test;

namespace {

// A reply of 300 pulses at 1 kHz with a little jitter on channel 1, channel 2 a quarter period
// later; with `dual`, channel 2 loses pulse 100 and channel 1 gains one after pulse 200. The
// channel 1 stamps are the same either way except for that extra pulse; without `dual` the header
// announces no channel 2 stamps.
QByteArray Reply(bool dual, bool extra) {
  std::vector<int64_t> ch1, ch2;
  for (int k = 0; k < 300; ++k) {
    const int64_t t = 100000 + k * 40000 + (k * 7 % 5);
    ch1.push_back(t);
    if (extra && k == 200) ch1.push_back(t + 13000);
    if (k != 100) ch2.push_back(t + 10000 + (k % 2));
  }
  const size_t n2 = dual ? ch2.size() : 0;
  QByteArray reply = "<K390><SAMPLES>" + QByteArray::number(qulonglong(ch1.size()), 16) + "," +
                     QByteArray::number(qulonglong(n2), 16) + "</SAMPLES>\r\n";
  for (size_t k = 0; k < ch1.size(); ++k) {
    const int64_t s2 = k < ch2.size() ? ch2[k] : ch2.back();
    reply += QByteArray::number(qulonglong(k), 16) + "," + QByteArray::number(ch1[k], 16) + "," +
             QByteArray::number(dual ? s2 : 0, 16) + "\r\n";
  }
  return reply + "</K390>";
}

QStringList Ch1Boxes(const TFmain& w) {
  QStringList texts;
  using analysis::Figure;
  for (Figure figure : {Figure::kAverageTicks, Figure::kPeakToPeak, Figure::kRms,
                        Figure::kCh1Seconds, Figure::kCh1Frequency})
    texts << w.Form().FigureBox(figure)->text();
  return texts;
}

}  // namespace

class TFmainChannelsTest : public QObject {
  Q_OBJECT

 private slots:
  void LoadedDualReplyShowsTheStripAndLeavesChannelOneAlone();
  void AutoSampleRunAddsUpItsBlocksInTheSummary();
};

void TFmainChannelsTest::LoadedDualReplyShowsTheStripAndLeavesChannelOneAlone() {
  struct Case {
    bool dual, extra;
    bool strip;
    const char* pairing;
  };
  const Case cases[] = {
      {false, true, false, ""},
      {true, true, true, "Unpaired Ch1 2  Ch2 0"},
      {true, false, true, "Unpaired Ch1 1  Ch2 0"},
  };
  QStringList single_boxes;
  for (const Case& c : cases) {
    Session s("ANALYSIS=TRUE\r\nDUALCHANNEL=TRUE\r\n");
    TFmain& w = s.w();
    s.Load(Reply(c.dual, c.extra), "block.reply");
    QVERIFY2(s.errors.isEmpty(), qPrintable(s.errors.join('\n')));
    app::ChannelDisplay& channels = *w.Form().Channels();
    QCOMPARE(channels.Dual(), c.strip);
    QCOMPARE(!channels.Strip()->isHidden(), c.strip);
    if (c.strip) {
      QVERIFY2(channels.PairingText().contains(QString::fromLatin1(c.pairing)),
               qPrintable(channels.PairingText()));
    }
    // Channel 1's boxes are those of the same stamps without channel 2.
    if (!c.dual) {
      single_boxes = Ch1Boxes(w);
    } else if (c.extra) {
      QCOMPARE(Ch1Boxes(w), single_boxes);
    }
    // The loaded reply is found again by a view switch, which draws the choice.
    channels.SetChoice(presentation::ChannelChoice::kDifference);
    s.Item("Stability")->click();
    QCOMPARE(w.Form().Charts().stability->CurveCount(), c.strip ? 2 : 0);
  }
  QVERIFY(!single_boxes.isEmpty());
}

void TFmainChannelsTest::AutoSampleRunAddsUpItsBlocksInTheSummary() {
  app::testing::FakeInstrument instrument;
  instrument.reply = [](const QByteArray&) { return Reply(true, true); };
  const QByteArray settings = "IP=127.0.0.1\r\nPORT=" + QByteArray::number(instrument.Port()) +
                              "\r\nSAMPLES=300\r\nDUALCHANNEL=TRUE\r\nANALYSIS=TRUE\r\n";
  Session s(settings.constData());
  TFmain& w = s.w();
  w.Form().Capture().auto_sample->click();
  QTRY_VERIFY_WITH_TIMEOUT(w.Form().Channels()->RunTotals().counts.blocks >= 3, 15000);
  w.Form().Capture().auto_sample->click();
  QTRY_VERIFY_WITH_TIMEOUT(!w.Cycle().Timer().Enabled(), 10000);
  QVERIFY2(s.errors.isEmpty(), qPrintable(s.errors.join('\n')));
  const analysis::SecurityCounts& totals = w.Form().Channels()->RunTotals().counts;
  // Each block lost one pulse on channel 2 and gained one on channel 1.
  QCOMPARE(totals.missing_ch2, totals.blocks);
  QCOMPARE(totals.extra_ch1, totals.blocks);
  QVERIFY(w.Form().Channels()->TotalsText().startsWith(
      QStringLiteral("Run %1 blocks").arg(totals.blocks)));
  const QJsonObject summary =
      QJsonDocument::fromJson(ReadBytes(s.File("capture.summary.json"))).object();
  QCOMPARE(summary.value("blocks").toInteger(), totals.blocks);
  QCOMPARE(summary.value("missing_ch2").toInteger(), totals.blocks);
  QCOMPARE(summary.value("direction").toString(), QString("forward"));
}

QTEST_MAIN(TFmainChannelsTest)
#include "tfmain_channels_qtest.moc"
