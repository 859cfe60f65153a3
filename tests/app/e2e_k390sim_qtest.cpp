// The real window against the instrument simulator k390sim running as a separate process on
// 127.0.0.1: sample, dual-channel, AutoSample, counter wrap, UDP and TCP streaming with the log
// compared word by word, and the simulator's fault modes as the operator sees them.
#include <QCheckBox>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QtTest>
#include <cstdint>
#include <memory>
#include <vector>

#include "acquisition/udp_receiver.h"
#include "app/capture_timer.h"
#include "app/instrument_link.h"
#include "cycle_test_support.h"
#include "k390sim_process.h"
#include "tfmain_session.h"

using namespace tfmain_test;

class E2eK390simTest : public QObject {
  Q_OBJECT

 private slots:
  void SampleShowsTheModelsFigures_data();
  void SampleShowsTheModelsFigures();
  void AutoSampleRepeatsDualChannelBlocks();
  void StreamLogHoldsEveryWordsDelta_data();
  void StreamLogHoldsEveryWordsDelta();
  void MalformedReplyIsReportedThenTimesOut();
  void FaultsAreReportedAsWhatHappened_data();
  void FaultsAreReportedAsWhatHappened();
};

// One single or dual block on demand. Without jitter every interval is the model's period, so
// every figure is exact; a counter that wraps within the block must not show as an interval
// near 2^32.
void E2eK390simTest::SampleShowsTheModelsFigures_data() {
  QTest::addColumn<QStringList>("options");
  QTest::addColumn<QByteArray>("settings");
  QTest::addColumn<QString>("int2");
  QTest::addColumn<QString>("freq2");

  QTest::newRow("single channel") << QStringList{"--freq", "1000", "--jitter-ticks", "0"}
                                  << QByteArray("SAMPLES=50\r\n") << "0.000000000000"
                                  << "0.0000";
  QTest::newRow("dual channel, channel 2 at 400 Hz")
      << QStringList{"--freq", "1000", "--ch2-freq", "400", "--jitter-ticks", "0"}
      << QByteArray("SAMPLES=50\r\nDUALCHANNEL=TRUE\r\n") << "0.002500000000"
      << "400.0000";
  QTest::newRow("32-bit counter wrapping at the second pulse")
      << QStringList{"--freq",        "1000",       "--jitter-ticks", "0",
                     "--start-ticks", "4294900000", "--stamp-bits",   "32"}
      << QByteArray("SAMPLES=50\r\n") << "0.000000000000"
      << "0.0000";
}

void E2eK390simTest::SampleShowsTheModelsFigures() {
  QFETCH(QStringList, options);
  QFETCH(QByteArray, settings);
  QFETCH(QString, int2);
  QFETCH(QString, freq2);

  Simulator sim;
  QVERIFY(sim.Start(options));
  Session s(Settings(sim.Port(), settings.constData()).constData());
  TFmain& w = s.w();
  QVERIFY2(s.errors.isEmpty(), qPrintable(s.errors.join('\n')));

  w.Form().Capture().sample->click();
  QVERIFY(!w.Form().Capture().sample->isEnabled());
  QTRY_VERIFY_WITH_TIMEOUT(
      sim.SampleReplies() == 1 &&
          !w.Form().FigureBox(analysis::Figure::kAverageTicks)->text().isEmpty(),
      kWaitMs);
  QTRY_VERIFY_WITH_TIMEOUT(!w.Cycle().Link().Active(), kWaitMs);
  QVERIFY2(s.errors.isEmpty(), qPrintable(s.errors.join('\n')));

  QCOMPARE(w.Form().FigureBox(analysis::Figure::kAverageTicks)->text(), QString("40000"));
  QCOMPARE(w.Form().FigureBox(analysis::Figure::kCh1Seconds)->text(), QString("0.001000000000"));
  QCOMPARE(w.Form().FigureBox(analysis::Figure::kCh1Frequency)->text(), QString("1000.0000"));
  QCOMPARE(w.Form().FigureBox(analysis::Figure::kPeakToPeak)->text(), QString("0"));
  QCOMPARE(w.Form().FigureBox(analysis::Figure::kRms)->text(), QString("0"));
  QCOMPARE(w.Form().FigureBox(analysis::Figure::kCh2Seconds)->text(), int2);
  QCOMPARE(w.Form().FigureBox(analysis::Figure::kCh2Frequency)->text(), freq2);
  QCOMPARE(s.chart().PointCount(0), 49);
  for (int k = 0; k < 49; ++k) QCOMPARE(s.chart().PointValue(0, k), s.chart().PointValue(0, 0));
  QVERIFY(w.Form().Capture().sample->isEnabled());
  QVERIFY(w.Form().Buttons().load->isEnabled());
  QVERIFY(w.Form().Buttons().save->isEnabled());
  QVERIFY(!w.Cycle().Timer().Enabled());
  QCOMPARE(sim.Requests(), 1);
}

void E2eK390simTest::AutoSampleRepeatsDualChannelBlocks() {
  Simulator sim;
  QVERIFY(sim.Start({"--freq", "1000", "--ch2-freq", "500", "--jitter-ticks", "3"}));
  Session s(Settings(sim.Port(), "SAMPLES=3000\r\nDUALCHANNEL=TRUE\r\nSTREAM=UDP\r\n").constData());
  TFmain& w = s.w();
  QVERIFY(w.Form().Capture().dual_channel->isChecked());

  w.Form().Capture().auto_sample->click();
  QVERIFY(!w.Form().Capture().stream->isEnabled());
  QVERIFY(!w.Form().Capture().sample->isEnabled());
  // A request goes out only once the previous reply has been through the pass, so six
  // requests mean at least five replies processed.
  QTRY_VERIFY_WITH_TIMEOUT(sim.SampleReplies() >= 6, 4 * kWaitMs);
  QCOMPARE(s.chart().Title(), QString("K390 Jitter Data [Live]"));
  QVERIFY(!w.Form().Buttons().load->isEnabled());
  // Every request asked for both channels with the count as set.
  QCOMPARE(sim.LogText().count("sample ch1+ch2 count=3000"), sim.Requests());

  w.Form().Capture().auto_sample->click();
  QCOMPARE(s.chart().Title(), QString("K390 Jitter Data"));
  QVERIFY(w.Form().Buttons().load->isEnabled());
  QVERIFY(w.Form().Buttons().save->isEnabled());
  QVERIFY(w.Form().Capture().sample->isEnabled());
  QVERIFY(w.Form().Capture().stream->isEnabled());
  QVERIFY(!w.Cycle().Timer().Enabled());
  // The link stays open; a reply still outstanding is handled, and its continue rule then
  // closes the link.
  QTRY_VERIFY_WITH_TIMEOUT(!w.Cycle().Machine().ReplyDue() || !w.Cycle().Link().Active(), kWaitMs);
  QVERIFY2(s.errors.isEmpty(), qPrintable(s.errors.join('\n')));

  // Dual blocks of 3000 stamps per channel: the figures of both channels are the model's.
  QCOMPARE(s.chart().PointCount(0), 2999);
  QCOMPARE(s.chart().PointCount(2), 2999);
  QCOMPARE(w.Form().FigureBox(analysis::Figure::kAverageTicks)->text(), QString("40000"));
  QVERIFY2(
      qAbs(w.Form().FigureBox(analysis::Figure::kCh1Frequency)->text().toDouble() - 1000.0) < 0.01,
      qPrintable(w.Form().FigureBox(analysis::Figure::kCh1Frequency)->text()));
  QVERIFY2(
      qAbs(w.Form().FigureBox(analysis::Figure::kCh2Frequency)->text().toDouble() - 500.0) < 0.01,
      qPrintable(w.Form().FigureBox(analysis::Figure::kCh2Frequency)->text()));
}

// Every word the simulator put on the wire (UDP: all but the first datagram, which the window
// drops by design) reaches "stream.dat" as its delta from the word logged before it.
void E2eK390simTest::StreamLogHoldsEveryWordsDelta_data() {
  QTest::addColumn<QByteArray>("transport");
  QTest::addColumn<QStringList>("options");
  QTest::addColumn<int>("skipped");  // words of the dropped first datagram

  QTest::newRow("UDP") << QByteArray("UDP") << QStringList{"--words-per-datagram", "100"} << 100;
  QTest::newRow("TCP, counter crossing 2^32")
      << QByteArray("TCP") << QStringList{"--start-ticks", "4294900000"} << 0;
}

void E2eK390simTest::StreamLogHoldsEveryWordsDelta() {
  QFETCH(QByteArray, transport);
  QFETCH(QStringList, options);
  QFETCH(int, skipped);
  constexpr int kWords = 2000;

  QTemporaryDir sim_dir;
  const QString words_path = sim_dir.filePath("words.txt");
  const quint16 udp_port = app::testing::FreeUdpPort();
  Simulator sim;
  QVERIFY(sim.Start(options + QStringList{"--freq", "1000", "--jitter-ticks", "0", "--words",
                                          QString::number(kWords), "--log-words", words_path,
                                          "--udp-port", QString::number(udp_port)}));
  Session s(Settings(sim.Port(), "SAMPLES=50\r\nSTREAM=" + transport + "\r\n").constData());
  TFmain& w = s.w();
  QVERIFY(!w.Form().Capture().stream->isHidden());
  w.Cycle().Receiver().SetPort(udp_port);

  w.Form().Capture().stream->click();
  QVERIFY(w.Form().Capture().stream->isChecked());
  QVERIFY(!w.Form().Capture().sample->isEnabled());
  QVERIFY(!w.Form().Capture().auto_sample->isEnabled());
  const int expected_words = kWords - skipped;
  QTRY_VERIFY_WITH_TIMEOUT(w.Cycle().RingWrite() == expected_words, kWaitMs);
  // A pass that windows the last words draws N intervals of the model's period.
  QTRY_VERIFY_WITH_TIMEOUT(w.Cycle().RingDisplay() == expected_words - 9, kWaitMs);
  QCOMPARE(w.Form().FigureBox(analysis::Figure::kAverageTicks)->text(), QString("40000"));
  QCOMPARE(w.Form().FigureBox(analysis::Figure::kPeakToPeak)->text(), QString("0"));
  QCOMPARE(s.chart().PointCount(0), 50);
  QCOMPARE(w.Cycle().LostWords(), uint64_t{0});
  QVERIFY(w.Form().Capture().stream->toolTip().isEmpty());

  w.Form().Capture().stream->click();
  QVERIFY(!w.Form().Capture().stream->isChecked());
  QVERIFY(!w.Cycle().StreamLogOpen());
  // The stop command's acknowledgement ends the cycle.
  QTRY_VERIFY_WITH_TIMEOUT(!w.Cycle().Timer().Enabled(), kWaitMs);
  QTRY_VERIFY_WITH_TIMEOUT(!w.Cycle().Link().Active(), kWaitMs);
  QVERIFY(w.Form().Capture().sample->isEnabled());
  QVERIFY(w.Form().Capture().auto_sample->isEnabled());
  QVERIFY(w.Form().Buttons().load->isEnabled());
  QVERIFY2(s.errors.isEmpty(), qPrintable(s.errors.join('\n')));
  QCOMPARE(w.Cycle().LostWords(), uint64_t{0});

  const std::vector<uint32_t> words = ReadWords(words_path);
  QCOMPARE(static_cast<int>(words.size()), kWords);
  const QList<QByteArray> lines = ReadLogLines(s.File("stream.dat"));
  QCOMPARE(lines.size(), expected_words);
  uint32_t previous = 0;  // nothing logged before this first start
  for (int i = 0; i < expected_words; ++i) {
    const uint32_t word = words[static_cast<size_t>(skipped + i)];
    const uint32_t delta = word - previous;  // modulo 2^32
    QCOMPARE(lines[i], QByteArray::number(delta) + '\r');
    previous = word;
  }
  if (transport == "TCP") {
    // The counter crossed 2^32 early in the stream; the delta there is still one period.
    QCOMPARE(lines[0], QByteArray::number(words[0]) + '\r');
    QVERIFY(words[1] < words[0]);
    QCOMPARE(lines[1], QByteArray("40000\r"));
  }
}

// A reply with a short record: the pass's conversion error goes to the error display, the
// link stays open and the 4 s reply timeout then ends the cycle.
void E2eK390simTest::MalformedReplyIsReportedThenTimesOut() {
  Simulator sim;
  QVERIFY(sim.Start({"--freq", "1000", "--jitter-ticks", "0", "--malformed"}));
  Session s(Settings(sim.Port(), "SAMPLES=50\r\n").constData());
  TFmain& w = s.w();

  w.Form().Capture().sample->click();
  QTRY_VERIFY_WITH_TIMEOUT(!s.errors.isEmpty(), kWaitMs);
  QCOMPARE(s.errors.size(), 1);
  QVERIFY2(s.errors.first().contains("is not a valid integer value"), qPrintable(s.errors.first()));
  QVERIFY(w.Cycle().Link().Active());
  QVERIFY(w.Cycle().Timer().Enabled());

  QTRY_VERIFY_WITH_TIMEOUT(!w.Cycle().Timer().Enabled(), kTimeoutWaitMs);
  QTRY_VERIFY_WITH_TIMEOUT(!w.Cycle().Link().Active(), kWaitMs);
  QCOMPARE(s.errors.size(), 1);
  QCOMPARE(sim.SampleReplies(), 1);
}

// Faults of the link and of the reply are said as what happened, once, and the window is left
// ready for the operator: the instrument closing the link while AutoSample runs, a reply cut
// short (its figures, and what Save writes, are those of the records it holds).
void E2eK390simTest::FaultsAreReportedAsWhatHappened_data() {
  QTest::addColumn<QStringList>("options");
  QTest::addColumn<QByteArray>("settings");
  QTest::addColumn<bool>("auto_sample");
  QTest::addColumn<QString>("error");
  QTest::addColumn<int>("saved_lines");  // of a Save afterwards

  QTest::newRow("instrument closes the link during AutoSample")
      << QStringList{"--freq", "1000", "--jitter-ticks", "0", "--close-after-reply"}
      << QByteArray("SAMPLES=50\r\n") << true << "The instrument closed the link." << 50;
  QTest::newRow("reply cut short")
      << QStringList{"--freq", "1000", "--jitter-ticks", "0", "--short-reply", "10"}
      << QByteArray("SAMPLES=3000\r\n") << false << "reply ended early: 10 of 3000 records." << 10;
}

void E2eK390simTest::FaultsAreReportedAsWhatHappened() {
  QFETCH(QStringList, options);
  QFETCH(QByteArray, settings);
  QFETCH(bool, auto_sample);
  QFETCH(QString, error);
  QFETCH(int, saved_lines);

  Simulator sim;
  QVERIFY(sim.Start(options));
  Session s(Settings(sim.Port(), settings.constData()).constData());
  TFmain& w = s.w();
  if (auto_sample) {
    w.Form().Capture().auto_sample->click();
  } else {
    w.Form().Capture().sample->click();
  }
  QTRY_VERIFY_WITH_TIMEOUT(!s.errors.isEmpty(), kWaitMs);
  QTest::qWait(300);  // room for a second message or request, which must not come
  QCOMPARE(s.errors, QStringList{error});
  QCOMPARE(sim.Requests(), 1);
  // Without jitter every interval the instrument sent is the model's period.
  QCOMPARE(w.Form().FigureBox(analysis::Figure::kAverageTicks)->text(), QString("40000"));
  QCOMPARE(w.Form().FigureBox(analysis::Figure::kCh1Frequency)->text(), QString("1000.0000"));
  QCOMPARE(w.Form().FigureBox(analysis::Figure::kPeakToPeak)->text(), QString("0"));
  QVERIFY(!w.Form().Capture().auto_sample->isChecked());
  QVERIFY(w.Form().Capture().sample->isEnabled());
  QVERIFY(!w.Cycle().Timer().Enabled());

  s.next_file = s.File("saved.JIT");
  w.Form().Buttons().save->click();
  const QList<QByteArray> lines = ReadLogLines(s.next_file);
  QCOMPARE(lines.size(), saved_lines);  // the header and one line per interval received
  for (qsizetype i = 1; i < lines.size(); ++i) QVERIFY(lines[i].endsWith(",40000\r"));
}

QTEST_MAIN(E2eK390simTest)
#include "e2e_k390sim_qtest.moc"
