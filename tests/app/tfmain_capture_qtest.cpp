// The window's capture handlers wired to the cycle: Sample and AutoSample against a fake
// instrument on 127.0.0.1 that answers every request with a recorded dual-channel reply.
#include <QCheckBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>
#include <vector>

#include "app/capture_timer.h"
#include "app/spin_edit.h"
#include "app/tfmain.h"
#include "persistence/jit_file.h"
#include "presentation/timing_charts.h"
#include "tfmain_session.h"

using namespace tfmain_test;

namespace {

class FakeInstrument : public QObject {
 public:
  explicit FakeInstrument(QByteArray reply) : reply_(std::move(reply)) {
    server_.listen(QHostAddress::LocalHost, 0);
    connect(&server_, &QTcpServer::newConnection, this, [this] {
      while (QTcpSocket* socket = server_.nextPendingConnection()) {
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { Answer(socket); });
      }
    });
  }

  quint16 Port() const { return server_.serverPort(); }
  const QList<QByteArray>& Requests() const { return requests_; }

 private:
  void Answer(QTcpSocket* socket) {
    pending_ += socket->readAll();
    for (qsizetype end = pending_.indexOf("</K390>"); end >= 0; end = pending_.indexOf("</K390>")) {
      requests_ << pending_.left(end + 7);
      pending_.remove(0, end + 7);
      socket->write(reply_);
    }
  }

  QTcpServer server_;
  QByteArray reply_;
  QByteArray pending_;
  QList<QByteArray> requests_;
};

QByteArray Settings(quint16 port, const char* more) {
  return "IP=127.0.0.1\r\nPORT=" + QByteArray::number(port) + "\r\n" + more;
}

}  // namespace

class TFmainCaptureTest : public QObject {
  Q_OBJECT

 private slots:
  void SampleFillsTheFiguresAndUnlocks();
  void AutoSampleRepeatsUntilUnchecked();
};

void TFmainCaptureTest::SampleFillsTheFiguresAndUnlocks() {
  const QString reply_path = QFINDTESTDATA("../../examples/reply-dual.txt");
  QVERIFY(!reply_path.isEmpty());
  FakeInstrument instrument(ReadBytes(reply_path));
  QVERIFY(instrument.Port() != 0);
  const QByteArray settings =
      Settings(instrument.Port(), "SAMPLES=19\r\nDUALCHANNEL=TRUE\r\nANALYSIS=TRUE\r\n");
  Session s(settings.constData());
  TFmain& w = s.w();
  QVERIFY(s.errors.isEmpty());
  QVERIFY(w.Form().Capture().dual_channel->isChecked());

  w.Form().Capture().sample->click();
  QVERIFY(!w.Form().Buttons().load->isEnabled());
  QVERIFY(!w.Form().Buttons().save->isEnabled());
  QVERIFY(!w.Form().Capture().sample->isEnabled());
  QTRY_VERIFY_WITH_TIMEOUT(!w.Form().FigureBox(analysis::Figure::kAverageTicks)->text().isEmpty(),
                           10000);
  QVERIFY(s.errors.isEmpty());
  QCOMPARE(instrument.Requests(), QList<QByteArray>{"<K390><HEXPULSE>19</HEXPULSE></K390>"});
  QCOMPARE(s.chart().PointCount(0), 24);
  QCOMPARE(s.chart().PointCount(2), 24);
  QCOMPARE(s.chart().SeriesTitle(2), QString("Ch2"));
  QVERIFY(!w.Form().FigureBox(analysis::Figure::kCh2Seconds)->text().startsWith("0.000000000000"));
  QVERIFY(w.Form().Buttons().load->isEnabled());
  QVERIFY(w.Form().Buttons().save->isEnabled());
  QVERIFY(w.Form().Capture().sample->isEnabled());
  QVERIFY(w.Form().Charts().reply_log->isHidden());
  // The hidden log holds the reply: its header, 25 records, the end tag and the record count.
  w.Form().Charts().reply_log->show();
  const QStringList memo = w.Form().Charts().reply_log->toPlainText().split('\n');
  w.Form().Charts().reply_log->hide();
  QCOMPARE(memo.size(), 28);
  QVERIFY(memo.first().contains("<SAMPLES>"));
  QCOMPARE(memo.last(), QString("25"));
  QVERIFY(!w.Cycle().FromFile());
  // The reply is gone once shown, so both timing views are drawn from it behind the Interval
  // view: a TIE for each of the 25 pulses, and the stability curves.
  QCOMPARE(w.Form().Charts().tie->PointCount(), 25);
  QVERIFY(w.Form().Charts().stability->PointCount(0) > 0 && w.Form().Charts().stability->PointCount(1) > 0);

  // The reply has been taken out: a view switch retitles the axis but keeps the points.
  const double first = s.chart().PointValue(0, 0);
  s.Item("Frequency")->click();
  QCOMPARE(s.chart().LeftAxisTitle(), QString("Pulse Frequency (Hz)"));
  QCOMPARE(s.chart().PointValue(0, 0), first);

  // Save writes the trace as it was last fed, the intervals here, under the view's header.
  std::vector<double> drawn;
  for (int k = 0; k < s.chart().PointCount(0); ++k) drawn.push_back(s.chart().PointValue(0, k));
  s.next_file = s.File("saved.JIT");
  w.Form().Buttons().save->click();
  QCOMPARE(ReadBytes(s.next_file), QByteArray::fromStdString(persistence::FormatJit(drawn, false)));
}

void TFmainCaptureTest::AutoSampleRepeatsUntilUnchecked() {
  const QString reply_path = QFINDTESTDATA("../../examples/reply-dual.txt");
  FakeInstrument instrument(ReadBytes(reply_path));
  const QByteArray settings = Settings(instrument.Port(), "SAMPLES=19\r\nSTREAM=TCP\r\n");
  Session s(settings.constData());
  TFmain& w = s.w();

  w.Form().Capture().auto_sample->click();
  QVERIFY(!w.Form().Capture().stream->isEnabled());
  QVERIFY(!w.Form().Buttons().load->isEnabled());
  QTRY_VERIFY_WITH_TIMEOUT(instrument.Requests().size() >= 3, 10000);
  QCOMPARE(s.chart().Title(), QString("K390 Jitter Data [Live]"));
  QCOMPARE(instrument.Requests().first(),
           QByteArray("<K390><CH1><HEXPULSE>19</HEXPULSE></CH1></K390>"));
  // While AutoSample runs, the passes leave the file buttons locked.
  QVERIFY(!w.Form().Buttons().load->isEnabled());

  w.Form().Capture().auto_sample->click();
  QCOMPARE(s.chart().Title(), QString("K390 Jitter Data"));
  QVERIFY(w.Form().Buttons().load->isEnabled());
  QVERIFY(w.Form().Capture().sample->isEnabled());
  QVERIFY(w.Form().Capture().stream->isEnabled());
  QVERIFY(!w.Cycle().Timer().Enabled());
  QVERIFY(s.errors.isEmpty());
}

QTEST_MAIN(TFmainCaptureTest)
#include "tfmain_capture_qtest.moc"
