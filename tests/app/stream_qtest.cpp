#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "acquisition/protocol.h"
#include "acquisition/stream_path.h"
#include "analysis/processing_pass.h"
#include "app/capture_cycle.h"
#include "app/capture_timer.h"
#include "app/instrument_link.h"
#include "acquisition/udp_receiver.h"
#include "common/ticks.h"
#include "cycle_test_support.h"

using app::CaptureCycle;
using app::testing::FakeInstrument;
using app::testing::FakeView;
using app::testing::WordBytes;

namespace {

constexpr int kWait = 10000;

// Irregular rising words that wrap past 2^32 early on.
std::vector<uint32_t> Words(size_t count, uint32_t first = 4294960000u) {
  std::vector<uint32_t> words;
  uint32_t word = first;
  for (size_t i = 0; i < count; ++i) {
    words.push_back(word);
    word += 1000 + static_cast<uint32_t>((i * 7919) % 500);
  }
  return words;
}

// The log lines the words give after `previous`, the last word logged before them.
std::vector<uint64_t> Deltas(const std::vector<uint32_t>& words, int64_t previous = 0) {
  std::vector<uint64_t> deltas;
  for (uint32_t word : words) {
    deltas.push_back(static_cast<uint64_t>(common::DeltaRule(previous, word)));
    previous = word;
  }
  return deltas;
}

std::span<const uint8_t> Bytes(const QByteArray& bytes) {
  return {reinterpret_cast<const uint8_t*>(bytes.constData()), static_cast<size_t>(bytes.size())};
}

}  // namespace

class StreamTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<QTemporaryDir> dir_;
  std::unique_ptr<FakeInstrument> instrument_;
  std::unique_ptr<FakeView> view_;
  std::unique_ptr<analysis::ProcessingPass> pass_;
  std::unique_ptr<CaptureCycle> cycle_;

  std::string ExeDir() const { return dir_->path().toStdString() + "/"; }

  void MakeCycle(const std::string& exe_dir) {
    cycle_ = std::make_unique<CaptureCycle>(view_->Window(), exe_dir);
    app::testing::Wire(*cycle_, *view_);
    cycle_->Receiver().SetPort(app::testing::FreeUdpPort());
  }

  void Start(int transport) {
    cycle_->SetStreamTransport(transport);
    view_->stream_checked = true;
    cycle_->CBstreamClick();
  }

  void Stop() {
    view_->stream_checked = false;
    cycle_->CBstreamClick();
  }

  int Received() const { return static_cast<int>(cycle_->Receiver().DatagramsReceived()); }

  // Datagrams go in straight, as the receiver would hand them over.
  void Inject(const std::vector<uint32_t>& words) {
    cycle_->IdUDPServer1UDPRead(Bytes(WordBytes(words)));
  }

  std::vector<uint64_t> LogLines() const {
    QFile file(QString::fromStdString(cycle_->StreamLogPath()));
    if (!file.open(QIODevice::ReadOnly)) return {};
    const QList<QByteArray> lines = file.readAll().split('\n');
    std::vector<uint64_t> values;
    for (qsizetype i = 0; i < lines.size(); ++i) {
      const QByteArray& line = lines[i];
      if (i == lines.size() - 1) {
        if (!line.isEmpty()) values.push_back(~uint64_t{0});  // an unterminated last line
        break;
      }
      if (!line.endsWith('\r')) return {};
      values.push_back(line.chopped(1).toULongLong());
    }
    return values;
  }

 private slots:
  void init() {
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
    instrument_ = std::make_unique<FakeInstrument>();
    instrument_->reply = FakeInstrument::Answer;
    view_ = std::make_unique<FakeView>();
    view_->port = instrument_->PortText();
    pass_ = std::make_unique<analysis::ProcessingPass>();
    MakeCycle(ExeDir());
  }
  void cleanup() {
    cycle_.reset();
    pass_.reset();
    view_.reset();
    instrument_.reset();
    dir_.reset();
  }

  void StreamingOverUdpLogsEveryDelta() {
    Start(1);
    QVERIFY(cycle_->StreamLogOpen());
    QVERIFY(cycle_->Receiver().Active());
    QCOMPARE(cycle_->PendingCommand(), std::string("<K390><STREAM>1</STREAM></K390>"));
    QVERIFY(!view_->auto_enabled);
    QVERIFY(!view_->sample_enabled);
    QVERIFY(!view_->file_buttons_enabled);
    QCOMPARE(cycle_->Timer().Interval(), 50);

    QTRY_COMPARE_WITH_TIMEOUT(instrument_->requests.size(), 1, kWait);
    // After the acknowledgement the link closes; the timer runs on, and nothing is due.
    QTRY_VERIFY_WITH_TIMEOUT(!cycle_->Link().Active(), kWait);
    QVERIFY(cycle_->StreamBinary());
    QVERIFY(cycle_->Timer().Enabled());
    QVERIFY(!cycle_->Machine().ReplyDue());

    QUdpSocket sender;
    const auto port = cycle_->Receiver().Port();
    int sent = 0;
    auto send = [&](const QByteArray& datagram) {
      QCOMPARE(sender.writeDatagram(datagram, QHostAddress::LocalHost, port), datagram.size());
      ++sent;
    };
    send(WordBytes({1, 2}));  // the first datagram after a start is dropped
    QTRY_COMPARE_WITH_TIMEOUT(Received(), sent, kWait);
    QCOMPARE(cycle_->RingWrite(), 0);
    QVERIFY(!cycle_->SkipNextDatagram());

    const std::vector<uint32_t> words = Words(3000);
    size_t at = 0;
    int batch = 0;
    while (at < words.size()) {
      const size_t count = std::min<size_t>(1 + (at * 13) % 40, words.size() - at);
      QByteArray datagram =
          WordBytes(std::vector<uint32_t>(words.begin() + static_cast<ptrdiff_t>(at),
                                          words.begin() + static_cast<ptrdiff_t>(at + count)));
      if (batch % 7 == 3) datagram += "\x01\x02";  // 1 to 3 trailing bytes are ignored
      send(datagram);
      if (batch % 11 == 5) send("\x09\x09\x09");  // too short for a word
      at += count;
      if (++batch % 10 == 0) QTRY_COMPARE_WITH_TIMEOUT(Received(), sent, kWait);
    }
    QTRY_COMPARE_WITH_TIMEOUT(Received(), sent, kWait);
    QCOMPARE(cycle_->RingWrite(), static_cast<int>(words.size()));
    QTRY_VERIFY_WITH_TIMEOUT(!view_->window_counts.empty(), kWait);

    Stop();
    QVERIFY(!cycle_->StreamLogOpen());
    QVERIFY(!cycle_->Receiver().Active());
    QCOMPARE(cycle_->PendingCommand(), std::string("<K390><STREAM>0</STREAM></K390>"));
    QCOMPARE(cycle_->RingWrite(), 0);
    QVERIFY(view_->auto_enabled);
    QVERIFY(view_->sample_enabled);
    QVERIFY(view_->file_buttons_enabled);
    QCOMPARE(LogLines(), Deltas(words));
    QCOMPARE(view_->beeps, 0);
    QCOMPARE(view_->lost_shown, uint64_t{0});

    // The link is opened again only to carry the stop command.
    QTRY_COMPARE_WITH_TIMEOUT(instrument_->requests.size(), 2, kWait);
    QCOMPARE(instrument_->requests[1], QByteArray("<K390><STREAM>0</STREAM></K390>"));
    QCOMPARE(instrument_->connections, 2);
    QTRY_VERIFY_WITH_TIMEOUT(!cycle_->Timer().Enabled(), kWait);
    QVERIFY(!cycle_->Link().Active());
    QVERIFY(!cycle_->StreamBinary());
    QVERIFY(view_->errors.isEmpty());
  }

  void StreamingOverTcpKeepsWordBoundariesAcrossReadsAndPasses() {
    const std::vector<uint32_t> words = Words(2000, 123456);
    const QByteArray bytes = WordBytes(words);
    // The acknowledgement and the first two words arrive in one read.
    instrument_->reply = [&](const QByteArray& request) {
      if (request.contains("<STREAM>2")) return app::testing::StreamAck('1') + bytes.left(8);
      return FakeInstrument::Answer(request);
    };
    Start(2);
    QVERIFY(!cycle_->Receiver().Active());
    QTRY_COMPARE_WITH_TIMEOUT(cycle_->RingWrite(), 2, kWait);
    QVERIFY(cycle_->StreamBinary());
    QVERIFY(cycle_->RxBuffer().empty());
    QVERIFY(cycle_->Link().Active());
    QVERIFY(!cycle_->Machine().ReplyDue());
    QCOMPARE(cycle_->Timer().Interval(), 50);

    // A read ending inside a word, then a pass, then the rest of the word.
    instrument_->Send(bytes.mid(8, 6));
    QTRY_COMPARE_WITH_TIMEOUT(cycle_->RingWrite(), 3, kWait);
    QCOMPARE(cycle_->RxBuffer().size(), size_t{2});
    view_->ProcessSamples();
    QVERIFY(cycle_->ClearRxOnNext());
    instrument_->Send(bytes.mid(14, 2));
    QTRY_COMPARE_WITH_TIMEOUT(cycle_->RingWrite(), 4, kWait);
    QVERIFY(cycle_->RxBuffer().empty());

    qsizetype at = 16;
    int step = 0;
    while (at < bytes.size()) {
      const qsizetype size = 1 + (step++ * 37) % 97;
      instrument_->Send(bytes.mid(at, size));
      at += size;
      if (step % 20 == 0) QTRY_VERIFY_WITH_TIMEOUT(cycle_->RingWrite() >= at / 4, kWait);
    }
    QTRY_COMPARE_WITH_TIMEOUT(cycle_->RingWrite(), static_cast<int>(words.size()), kWait);
    QTRY_VERIFY_WITH_TIMEOUT(view_->window_counts.size() >= 2, kWait);
    QVERIFY(cycle_->Link().Active());

    Stop();
    QCOMPARE(LogLines(), Deltas(words));
    // The stop command goes out on the open link; its acknowledgement ends the cycle.
    QTRY_COMPARE_WITH_TIMEOUT(instrument_->requests.size(), 2, kWait);
    QCOMPARE(instrument_->requests[1], QByteArray("<K390><STREAM>0</STREAM></K390>"));
    QTRY_VERIFY_WITH_TIMEOUT(!cycle_->Link().Active(), kWait);
    QVERIFY(!cycle_->StreamBinary());
    QVERIFY(!cycle_->Timer().Enabled());
    QCOMPARE(instrument_->connections, 1);
    QVERIFY(view_->errors.isEmpty());
  }

  void StoppingLogsTheTailAndARestartContinuesFromTheLastWord() {
    Start(1);
    cycle_->Timer().SetEnabled(false);  // no pass runs: only the stop takes the words
    Inject({7, 7});                      // dropped
    const std::vector<uint32_t> first = {100, 200, 200, 300, 450};
    Inject(first);
    QCOMPARE(cycle_->RingLog(), 0);
    Stop();
    QCOMPARE(LogLines(), (std::vector<uint64_t>{100, 100, 100, 150}));
    QCOMPARE(view_->beeps, 1);

    Start(1);
    cycle_->Timer().SetEnabled(false);
    QVERIFY(cycle_->SkipNextDatagram());
    Inject({1});  // dropped again after the new start
    Inject({1000, 1010});
    Stop();
    QCOMPARE(LogLines(), (std::vector<uint64_t>{550, 10}));
  }

  void ARepeatAsTheNewestWordWaitsForTheNextPass() {
    Start(1);
    cycle_->Timer().SetEnabled(false);
    Inject({0});
    Inject({100, 200, 200});
    view_->ProcessSamples();
    cycle_->Timer().SetEnabled(false);
    QCOMPARE(cycle_->RingLog(), 2);
    QCOMPARE(view_->beeps, 0);
    Inject({260});
    Stop();
    QCOMPARE(LogLines(), (std::vector<uint64_t>{100, 100, 60}));
    QCOMPARE(view_->beeps, 1);
  }

  void ANearlyFullRingIsLoggedBeforeTheNextPass() {
    Start(1);
    cycle_->Timer().SetEnabled(false);  // no pass runs while the words pour in
    Inject({0});
    const std::vector<uint32_t> words = Words(60000, 7);
    for (size_t at = 0; at < words.size(); at += 250) {
      Inject(std::vector<uint32_t>(words.begin() + static_cast<ptrdiff_t>(at),
                                   words.begin() + static_cast<ptrdiff_t>(at + 250)));
    }
    QCOMPARE(cycle_->LostWords(), uint64_t{0});
    Stop();
    QCOMPARE(LogLines(), Deltas(words));
  }

  void DatagramsOfEverySizeBehindAnUnloggedBacklogLoseNothing() {
    Start(1);
    cycle_->Timer().SetEnabled(false);  // no pass runs while the words pour in
    Inject({0});
    // 20,000 words the log has not taken, then the largest datagrams the instrument sends.
    std::vector<size_t> sizes(80, 250);
    sizes.insert(sizes.end(), {16376, 16376, 1, 16376});
    size_t total = 0;
    for (size_t size : sizes) total += size;
    const std::vector<uint32_t> words = Words(total, 5);
    size_t at = 0;
    for (size_t size : sizes) {
      Inject(std::vector<uint32_t>(words.begin() + static_cast<ptrdiff_t>(at),
                                   words.begin() + static_cast<ptrdiff_t>(at + size)));
      at += size;
    }
    QCOMPARE(cycle_->LostWords(), uint64_t{0});
    view_->ProcessSamples();
    QCOMPARE(view_->lost_shown, uint64_t{0});
    Stop();
    QCOMPARE(LogLines(), Deltas(words));
  }

  void WordsKeepComingInWhileTheWindowThreadIsBusy() {
    Start(1);
    QTRY_VERIFY_WITH_TIMEOUT(!cycle_->Link().Active(), kWait);
    QUdpSocket sender;
    const auto port = cycle_->Receiver().Port();
    const QByteArray first = WordBytes({1});
    QCOMPARE(sender.writeDatagram(first, QHostAddress::LocalHost, port), first.size());
    // Four laps of the ring while this thread runs no event, no tick and no pass: the
    // receiver's thread must take the datagrams and log them on its own. The sender keeps at
    // most 40 datagrams (40 KB) ahead of it, well inside the kernel's buffer.
    const std::vector<uint32_t> words = Words(100000, 77);
    int sent = 1;
    for (size_t at = 0; at < words.size(); at += 250) {
      const QByteArray datagram =
          WordBytes(std::vector<uint32_t>(words.begin() + static_cast<ptrdiff_t>(at),
                                          words.begin() + static_cast<ptrdiff_t>(at + 250)));
      QCOMPARE(sender.writeDatagram(datagram, QHostAddress::LocalHost, port), datagram.size());
      ++sent;
      QDeadlineTimer deadline(kWait);
      while (sent - Received() > 40 && !deadline.hasExpired()) std::this_thread::yield();
      QVERIFY2(sent - Received() <= 40, "the receiver stopped taking datagrams");
    }
    while (Received() < sent) std::this_thread::yield();
    QVERIFY(view_->passes.size() <= 1);  // at most the one a tick started before the burst
    Stop();
    QCOMPARE(view_->lost_shown, uint64_t{0});
    QCOMPARE(LogLines(), Deltas(words));
  }

  void TheTriggerRunsPassesByCountAndByTime() {
    view_->samples = "50";
    Start(1);
    QTRY_VERIFY_WITH_TIMEOUT(!cycle_->Link().Active(), kWait);
    // Until the first word no pass runs: it could only show the ring's words of an earlier run.
    QSignalSpy ticks(&cycle_->Timer(), &app::CaptureTimer::Tick);
    QTRY_VERIFY_WITH_TIMEOUT(ticks.count() >= 8, kWait);
    QVERIFY(view_->passes.empty());
    Inject({1});
    Inject(Words(200, 1000));
    QTRY_VERIFY_WITH_TIMEOUT(!view_->window_counts.empty() && view_->window_counts.back() == 51,
                             kWait);
    QTRY_COMPARE_WITH_TIMEOUT(cycle_->RingFillCount(), 9, kWait);
    // With no more words arriving, the 250 ms rule still starts passes.
    const size_t passes = view_->passes.size();
    QTRY_VERIFY_WITH_TIMEOUT(view_->passes.size() >= passes + 2, kWait);
    QVERIFY(view_->errors.isEmpty());
  }

  void ACountBelowTenHoldsBackTheStreamCommand() {
    view_->samples = "5";
    Start(2);
    QTRY_VERIFY_WITH_TIMEOUT(cycle_->Link().Active(), kWait);
    QSignalSpy ticks(&cycle_->Timer(), &app::CaptureTimer::Tick);
    QTRY_VERIFY_WITH_TIMEOUT(ticks.count() >= 5, kWait);
    QVERIFY(instrument_->requests.isEmpty());
    QCOMPARE(cycle_->PendingCommand(), acquisition::StreamCommand(2));
    QVERIFY(!cycle_->Machine().ReplyDue());
    view_->samples = "10";
    QTRY_COMPARE_WITH_TIMEOUT(instrument_->requests.size(), 1, kWait);
    QCOMPARE(instrument_->requests[0], QByteArray::fromStdString(acquisition::StreamCommand(2)));
  }

  void ResampleRunsOnlyWhenTheSettingIsExactlyTrue_data() {
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<bool>("resampled");
    QTest::newRow("no settings file") << QByteArray() << false;
    QTest::newRow("lower case") << QByteArray("[SETTINGS]\r\nRESAMPLE=true\r\n") << false;
    QTest::newRow("FALSE") << QByteArray("[SETTINGS]\r\nRESAMPLE=FALSE\r\n") << false;
    QTest::newRow("TRUE") << QByteArray("[SETTINGS]\r\nRESAMPLE=TRUE\r\n") << true;
  }
  void ResampleRunsOnlyWhenTheSettingIsExactlyTrue() {
    QFETCH(QByteArray, ini);
    QFETCH(bool, resampled);
    if (!ini.isEmpty()) {
      QFile file(dir_->filePath("K390cap.ini"));
      QVERIFY(file.open(QIODevice::WriteOnly));
      file.write(ini);
    }
    Start(1);
    cycle_->Timer().SetEnabled(false);
    Inject({0});
    Inject(Words(40, 1000));
    Stop();
    QCOMPARE(QFile::exists(dir_->filePath("resampled.dat")), resampled);
    QCOMPARE(LogLines().size(), size_t{40});
  }

  void AFailedResampleStillStopsTheStream() {
    QFile file(dir_->filePath("K390cap.ini"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("[SETTINGS]\r\nRESAMPLE=TRUE\r\n");
    file.close();
    Start(1);
    Inject({0});
    Inject(Words(3, 1000));  // far too short a log for the 9-value window
    QString message;
    view_->stream_checked = false;
    try {
      cycle_->CBstreamClick();
    } catch (const common::Error& error) {
      message = error.what();
    }
    QCOMPARE(message, QString("'' is not a valid integer value"));
    QVERIFY(!cycle_->Receiver().Active());
    QCOMPARE(cycle_->PendingCommand(), acquisition::StreamCommand(0));
    QCOMPARE(LogLines().size(), size_t{3});
  }

  void AStreamLogThatCannotBeCreatedStopsTheStart() {
    MakeCycle(ExeDir() + "missing/");
    cycle_->SetStreamTransport(1);
    view_->stream_checked = true;
    QString message;
    try {
      cycle_->CBstreamClick();
    } catch (const common::Error& error) {
      message = error.what();
    }
    QVERIFY(message.startsWith("Cannot create \""));
    QVERIFY(message.contains("stream.dat"));
    QVERIFY(!cycle_->StreamLogOpen());
    QVERIFY(!cycle_->Receiver().Active());
    QVERIFY(cycle_->PendingCommand().empty());
    QVERIFY(view_->auto_enabled);
    QVERIFY(cycle_->SkipNextDatagram());

    view_->stream_checked = false;
    QVERIFY_THROWS_EXCEPTION(common::Error, cycle_->CBstreamClick());
  }

  void DatagramsDroppedForWantOfRoomAreCountedAsLostWords() {
    // A log step that does not return for a while holds the delivering thread, so the small
    // queue behind the socket fills and refuses datagrams, and the socket's small buffer may
    // overflow too; the kernel's count of dropped datagrams arrives with the next datagram read.
    std::atomic<bool> release = false;
    acquisition::StreamPath path;
    path.SetLogSink([&](std::span<const int64_t>) {
      while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    path.BeginStream();
    path.OpenLog(ExeDir() + "held.dat");
    acquisition::UdpReceiver receiver(path);
    receiver.SetInstrument("127.0.0.1");
    receiver.SetPort(app::testing::FreeUdpPort());
    receiver.SetReceiveBufferBytes(4096);
    receiver.SetQueueBytes(16 * 1004);
    receiver.SetActive(true);
    QUdpSocket sender;
    int sent = 0;
    uint32_t word = 1;
    auto send = [&] {
      std::vector<uint32_t> words(250);
      for (uint32_t& w : words) w = word += 1000;
      QCOMPARE(sender.writeDatagram(WordBytes(words), QHostAddress::LocalHost, receiver.Port()),
               qint64{1000});
      ++sent;
    };
    while (receiver.DatagramsRefused() == 0 && sent < 5000) send();
    release = true;
    QVERIFY(receiver.DatagramsRefused() > 0);
    // Every datagram is either read (handed over or refused) or counted as dropped by the kernel
    // once one arrives after the drops.
    auto accounted = [&] {
      return receiver.DatagramsReceived() + receiver.DatagramsDropped() ==
             static_cast<uint64_t>(sent);
    };
    for (int round = 0; round < 50 && !accounted(); ++round) {
      send();
      QDeadlineTimer deadline(200);
      while (!accounted() && !deadline.hasExpired()) std::this_thread::yield();
    }
    QVERIFY(accounted());
    receiver.SetActive(false);
    QCOMPARE(path.LostWords(), (receiver.DatagramsDropped() + receiver.DatagramsRefused()) * 250);
    // The first datagram is dropped by the start rule, not lost.
    QCOMPARE(path.WordsIn() + path.LostWords() + 250, static_cast<uint64_t>(sent) * 250);
    path.StopStream();
  }

  void StoppingHandsOverEveryDatagramAlreadyAtTheSocket() {
    // Sent with no wait for the receiver: a stop right after must still bring every one of them
    // into the path, as the log's tail is written straight after it.
    acquisition::StreamPath path;
    path.OpenLog(ExeDir() + "stop.dat");
    acquisition::UdpReceiver receiver(path);
    receiver.SetInstrument("127.0.0.1");
    receiver.SetPort(app::testing::FreeUdpPort());
    for (int start = 0; start < 3; ++start) {
      path.BeginStream();
      receiver.SetActive(true);
      QUdpSocket sender;
      constexpr int kSent = 100;
      for (int i = 0; i < kSent; ++i) {
        const QByteArray datagram = WordBytes(Words(250, static_cast<uint32_t>(i) * 1000000u));
        QCOMPARE(sender.writeDatagram(datagram, QHostAddress::LocalHost, receiver.Port()),
                 datagram.size());
      }
      receiver.SetActive(false);
      QCOMPARE(receiver.DatagramsReceived() + receiver.DatagramsDropped(), uint64_t{kSent});
      QCOMPARE(path.WordsIn() + path.LostWords(), uint64_t{kSent - 1} * 250);
      QCOMPARE(path.LostWords(), receiver.DatagramsDropped() * 250);
    }
    path.StopStream();
  }

  void AUdpPortInUseEndsTheStartAtTheReceiver_data() {
    QTest::addColumn<bool>("shared");
    QTest::newRow("held alone") << false;
    QTest::newRow("held with address reuse") << true;
  }
  void AUdpPortInUseEndsTheStartAtTheReceiver() {
    QFETCH(bool, shared);
    QUdpSocket holder;
    QVERIFY(holder.bind(QHostAddress::AnyIPv4, 0,
                        shared ? QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint
                               : QAbstractSocket::DontShareAddress));
    cycle_->Receiver().SetPort(holder.localPort());
    QString message;
    try {
      Start(1);
    } catch (const common::Error& error) {
      message = error.what();
    }
    QCOMPARE(message, QString("UDP port %1 is in use by another program").arg(holder.localPort()));
    QVERIFY(!cycle_->Receiver().Active());
    QVERIFY(cycle_->StreamLogOpen());           // opened before the receiver step
    QVERIFY(cycle_->PendingCommand().empty());  // the link and timer tail did not run
    QVERIFY(!cycle_->Timer().Enabled());
  }

  void NoOtherSocketCanShareTheStreamPort() {
    Start(1);
    const auto port = cycle_->Receiver().Port();
    for (QAbstractSocket::BindMode mode :
         {QAbstractSocket::BindMode(QAbstractSocket::DefaultForPlatform),
          QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint}) {
      for (const QHostAddress& address :
           {QHostAddress(QHostAddress::AnyIPv4), QHostAddress(QHostAddress::LocalHost)}) {
        QUdpSocket intruder;
        QVERIFY2(!intruder.bind(address, port, mode), qPrintable(address.toString()));
      }
    }
    Stop();
  }

  void ClosingTheWindowLogsTheTailAndClosesTheLog() {
    Start(1);
    cycle_->Timer().SetEnabled(false);
    Inject({0});
    Inject({10, 20, 35});
    cycle_->FormClose();
    QVERIFY(!cycle_->StreamLogOpen());
    QVERIFY(!cycle_->Link().Active());
    QCOMPARE(LogLines(), (std::vector<uint64_t>{10, 10, 15}));
  }
};

QTEST_MAIN(StreamTest)
#include "stream_qtest.moc"
