#include <QDir>
#include <QSignalSpy>
#include <QTest>
#include <memory>

#include "app/capture_cycle.h"
#include "app/capture_timer.h"
#include "app/instrument_link.h"
#include "cycle_test_support.h"

using app::CaptureCycle;
using app::CaptureTimer;
using app::InstrumentLink;
using app::testing::FakeInstrument;
using app::testing::FakeView;
using app::testing::SampleReply;

namespace {

constexpr int kWait = 10000;  // generous: the sanitizers slow everything down

const QByteArray kRequest50 = "<K390><CH1><HEXPULSE>50</HEXPULSE></CH1></K390>";

}  // namespace

class CaptureCycleTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<FakeInstrument> instrument_;
  std::unique_ptr<FakeView> view_;
  std::unique_ptr<CaptureCycle> cycle_;

 private slots:
  void init() {
    instrument_ = std::make_unique<FakeInstrument>();
    view_ = std::make_unique<FakeView>();
    view_->port = instrument_->PortText();
    cycle_ = std::make_unique<CaptureCycle>(view_->Window(), QDir::tempPath().toStdString() + "/");
    app::testing::Wire(*cycle_, *view_);
  }
  void cleanup() {
    cycle_.reset();
    view_.reset();
    instrument_.reset();
  }

  void TimerCountdownRestartsOnlyWhenItShould_data() {
    QTest::addColumn<int>("action");
    QTest::addColumn<bool>("fresh");
    QTest::newRow("enabling an enabled timer") << 0 << false;
    QTest::newRow("setting the interval it has") << 1 << false;
    QTest::newRow("changing the interval while enabled") << 2 << true;
    QTest::newRow("disabling and enabling") << 3 << true;
  }
  void TimerCountdownRestartsOnlyWhenItShould() {
    QFETCH(int, action);
    QFETCH(bool, fresh);
    CaptureTimer timer;
    QCOMPARE(timer.Enabled(), false);
    QCOMPARE(timer.Interval(), 1000);
    QCOMPARE(timer.RemainingTime(), -1);
    timer.SetInterval(4000);
    timer.SetEnabled(true);
    QTest::qWait(1000);  // at least 1,000 ms of the countdown have run
    switch (action) {
      case 0:
        timer.SetEnabled(true);
        break;
      case 1:
        timer.SetInterval(4000);
        break;
      case 2:
        timer.SetInterval(3999);
        break;
      case 3:
        timer.SetEnabled(false);
        timer.SetEnabled(true);
        break;
    }
    if (fresh) {
      QVERIFY(timer.RemainingTime() > 3000);
    } else {
      QVERIFY(timer.RemainingTime() <= 3000);
    }
  }

  void ResolveHostGivesDottedIpv4OrTheFallback_data() {
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("address");
    QTest::newRow("dotted") << "10.0.98.108"
                            << "10.0.98.108";
    QTest::newRow("localhost") << "localhost"
                               << "127.0.0.1";
    QTest::newRow("empty") << ""
                           << "0.0.0.0";
    QTest::newRow("unresolvable") << "no-such-host.invalid"
                                  << "0.0.0.0";
  }
  void ResolveHostGivesDottedIpv4OrTheFallback() {
    QFETCH(QString, host);
    QFETCH(QString, address);
    QCOMPARE(app::ResolveHost(host), address);
  }

  void SampleWithTheLinkClosedSendsOnlyOnceConnected() {
    cycle_->BsampleClick();
    QCOMPARE(QByteArray::fromStdString(cycle_->PendingCommand()), kRequest50);
    QVERIFY(cycle_->Timer().Enabled());
    QCOMPARE(cycle_->Timer().Interval(), 50);
    QVERIFY(!cycle_->Machine().ReplyDue());
    QVERIFY(!view_->file_buttons_enabled);
    QVERIFY(!view_->sample_enabled);

    // A tick before the connection is made sends nothing.
    QVERIFY(!cycle_->Link().Active());
    cycle_->Timer1Timer();
    QVERIFY(!cycle_->Machine().ReplyDue());
    QCOMPARE(QByteArray::fromStdString(cycle_->PendingCommand()), kRequest50);

    QTRY_COMPARE_WITH_TIMEOUT(instrument_->requests.size(), 1, kWait);
    QCOMPARE(instrument_->requests[0], kRequest50);
    QVERIFY(cycle_->Machine().ReplyDue());
    QCOMPARE(cycle_->Timer().Interval(), 4000);
    QVERIFY(cycle_->PendingCommand().empty());

    instrument_->Send(SampleReply(5));
    QTRY_COMPARE_WITH_TIMEOUT(view_->passes.size(), size_t{1}, kWait);
    QCOMPARE(QByteArray::fromStdString(view_->passes[0]), SampleReply(5));
    QVERIFY(!cycle_->Link().Active());
    QVERIFY(!cycle_->Timer().Enabled());
    QCOMPARE(cycle_->Timer().Interval(), 50);
    QVERIFY(cycle_->Machine().ReplyDue());
    QVERIFY(cycle_->RxBuffer().empty());
    QVERIFY(view_->file_buttons_enabled);
    QVERIFY(view_->errors.isEmpty());
  }

  void ARefusedConnectionIsReportedAndTheRequestStaysQueued() {
    view_->port = QString::number(app::testing::ClosedTcpPort());
    cycle_->BsampleClick();
    QTRY_COMPARE_WITH_TIMEOUT(view_->errors.size(), 1, kWait);
    QCOMPARE(view_->errors[0], QString("Asynchronous socket error 111"));
    QSignalSpy ticks(&cycle_->Timer(), &CaptureTimer::Tick);
    QTRY_VERIFY_WITH_TIMEOUT(ticks.count() >= 3, kWait);
    QVERIFY(!cycle_->Link().Active());
    QCOMPARE(QByteArray::fromStdString(cycle_->PendingCommand()), kRequest50);
    QVERIFY(!cycle_->Machine().ReplyDue());
    QVERIFY(cycle_->Timer().Enabled());
    QCOMPARE(view_->errors.size(), 1);  // nothing retries on its own
  }

  // It fails as a refusal does, but says what happened.
  void TheUnresolvedAddressFailsLikeARefusal() {
    view_->host = "no-such-host.invalid";
    cycle_->BsampleClick();
    QCOMPARE(cycle_->Link().Address(), QString("0.0.0.0"));
    QTRY_COMPARE_WITH_TIMEOUT(view_->errors.size(), 1, kWait);
    QCOMPARE(view_->errors[0], QString("Host name not found: no-such-host.invalid"));
    QVERIFY(!cycle_->Link().Active());
    QVERIFY(!cycle_->PendingCommand().empty());
  }

  void ThePortTextMustBeAnInteger() {
    view_->port = "38x";
    try {
      cycle_->BsampleClick();
      QFAIL("no error");
    } catch (const common::Error& error) {
      QCOMPARE(QString(error.what()), QString("'38x' is not a valid integer value"));
    }
    QVERIFY(!cycle_->Timer().Enabled());
    QVERIFY(cycle_->PendingCommand().empty());
  }

  void TheLinkRefusesANewEndpointWhileActive_data() {
    QTest::addColumn<bool>("change_port");
    QTest::newRow("same endpoint") << false;
    QTest::newRow("changed port") << true;
  }
  void TheLinkRefusesANewEndpointWhileActive() {
    QFETCH(bool, change_port);
    cycle_->BsampleClick();
    QTRY_COMPARE_WITH_TIMEOUT(instrument_->requests.size(), 1, kWait);
    QVERIFY(cycle_->Link().Active());
    if (change_port) view_->port = QString::number(instrument_->Port() + 1);
    view_->auto_checked = true;
    QString message;
    try {
      cycle_->CBactiveClick();
    } catch (const common::Error& error) {
      message = error.what();
    }
    QVERIFY(!view_->stream_enabled);  // the steps before the refusal have run
    if (change_port) {
      QCOMPARE(message, QString("Can't change value while socket is active"));
      QVERIFY(cycle_->PendingCommand().empty());
      QVERIFY(cycle_->Machine().ReplyDue());
    } else {
      QVERIFY(message.isEmpty());
      QVERIFY(!cycle_->Machine().ReplyDue());
      QTRY_COMPARE_WITH_TIMEOUT(instrument_->requests.size(), 2, kWait);
    }
    QCOMPARE(instrument_->connections, 1);
  }

  void AFailingPassLeavesTheReplyForTheTimeout() {
    view_->fail_pass = true;
    instrument_->reply = FakeInstrument::Answer;
    cycle_->BsampleClick();
    QTRY_COMPARE_WITH_TIMEOUT(view_->errors.size(), 1, kWait);
    QCOMPARE(view_->errors[0], QString("'$zz' is not a valid integer value"));
    // The rest of the read handler did not run: the reply stays, the link stays open, and the
    // pass's end steps armed a fresh 4,000 ms countdown.
    QCOMPARE(QByteArray::fromStdString(cycle_->RxBuffer()), SampleReply(5));
    QVERIFY(cycle_->Link().Active());
    QVERIFY(cycle_->Timer().Enabled());
    QCOMPARE(cycle_->Timer().Interval(), 4000);
    QVERIFY(cycle_->ClearRxOnNext());
  }

  void APeerCloseMakesTheLinkInactiveWithoutAnError() {
    cycle_->BsampleClick();
    QTRY_COMPARE_WITH_TIMEOUT(instrument_->requests.size(), 1, kWait);
    instrument_->ClosePeer();
    QTRY_VERIFY_WITH_TIMEOUT(!cycle_->Link().Active(), kWait);
    QVERIFY(view_->errors.isEmpty());
  }

  void AnEndlessReplyIsDiscardedAtTheLimit() {
    cycle_->BsampleClick();
    QTRY_COMPARE_WITH_TIMEOUT(instrument_->requests.size(), 1, kWait);
    // One byte over the limit: the read that brings the last byte empties the buffer.
    instrument_->Send(QByteArray(static_cast<qsizetype>(CaptureCycle::kMaxRxBytes) + 1, 'x'));
    QTRY_COMPARE_WITH_TIMEOUT(view_->errors.size(), 1, kWait);
    QVERIFY(view_->errors[0].startsWith("No reply end tag in "));
    QVERIFY(cycle_->RxBuffer().empty());
    QVERIFY(view_->passes.empty());
    // The link is closed, so the peer cannot go on filling memory behind the error.
    QVERIFY(!cycle_->Link().Active());

    // A new request on a new link still completes.
    instrument_->reply = [](const QByteArray&) { return SampleReply(3); };
    cycle_->BsampleClick();
    QTRY_COMPARE_WITH_TIMEOUT(view_->passes.size(), size_t{1}, kWait);
    QCOMPARE(instrument_->connections, 2);
    QCOMPARE(QByteArray::fromStdString(view_->passes[0]), SampleReply(3));
    QCOMPARE(view_->errors.size(), 1);
  }

};

QTEST_MAIN(CaptureCycleTest)
#include "capture_cycle_qtest.moc"
