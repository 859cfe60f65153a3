// The integer spin box of the window: value rules, clamping, steps, typing limits, focus-out.
#include <QFocusEvent>
#include <QLineEdit>
#include <QSignalSpy>
#include <QtTest>

#include "app/spin_edit.h"

using app::SpinEdit;

class SpinEditTest : public QObject {
  Q_OBJECT

 private slots:
  void ValueReadsTextOrLowerLimit_data();
  void ValueReadsTextOrLowerLimit();
  void SetValueClampsAndReportsChange_data();
  void SetValueClampsAndReportsChange();
  void StepKeysAddTheStepAndClamp_data();
  void StepKeysAddTheStepAndClamp();
  void TypingKeepsDigitsSignAndCharLimit_data();
  void TypingKeepsDigitsSignAndCharLimit();
  void OutOfRangeTextWaitsForFocusOut();
  void SetLimitsKeepsTheShownValue();
  void ChangesFromCodeEmitNothing();
};

void SpinEditTest::ValueReadsTextOrLowerLimit_data() {
  QTest::addColumn<QString>("text");
  QTest::addColumn<int>("value");
  QTest::newRow("integer") << "50" << 50;
  QTest::newRow("empty") << "" << 10;
  QTest::newRow("sign only") << "-" << 10;
  QTest::newRow("letters") << "abc" << 10;
  QTest::newRow("negative") << "-5" << -5;
  QTest::newRow("above the limit, not clamped") << "5000" << 5000;
  QTest::newRow("beyond 32 bits") << "99999999999" << 10;
}

void SpinEditTest::ValueReadsTextOrLowerLimit() {
  QFETCH(QString, text);
  QFETCH(int, value);
  SpinEdit box(10, 3000, 1, 0);
  box.Editor()->setText(text);
  QCOMPARE(box.Value(), value);
}

void SpinEditTest::SetValueClampsAndReportsChange_data() {
  QTest::addColumn<int>("minimum");
  QTest::addColumn<int>("maximum");
  QTest::addColumn<int>("initial");
  QTest::addColumn<int>("value");
  QTest::addColumn<QString>("shown");
  QTest::addColumn<bool>("changed");
  QTest::newRow("within") << 10 << 3000 << 50 << 60 << "60" << true;
  QTest::newRow("same value") << 10 << 3000 << 50 << 50 << "50" << false;
  QTest::newRow("below") << 10 << 3000 << 50 << 5 << "10" << true;
  QTest::newRow("above") << 10 << 3000 << 50 << 4000 << "3000" << true;
  QTest::newRow("clamped to what it shows") << 10 << 3000 << 10 << 5 << "10" << false;
  QTest::newRow("equal limits do not clamp") << 0 << 0 << 0 << 7 << "7" << true;
  QTest::newRow("filter lower limit") << 3 << 33 << 3 << 1 << "3" << false;
}

void SpinEditTest::SetValueClampsAndReportsChange() {
  QFETCH(int, minimum);
  QFETCH(int, maximum);
  QFETCH(int, initial);
  QFETCH(int, value);
  QFETCH(QString, shown);
  QFETCH(bool, changed);
  SpinEdit box(minimum, maximum, 1, 0);
  box.SetValue(initial);
  QCOMPARE(box.SetValue(value), changed);
  QCOMPARE(box.text(), shown);
}

void SpinEditTest::StepKeysAddTheStepAndClamp_data() {
  QTest::addColumn<int>("minimum");
  QTest::addColumn<int>("maximum");
  QTest::addColumn<int>("step");
  QTest::addColumn<QString>("start");
  QTest::addColumn<int>("key");
  QTest::addColumn<QString>("shown");
  QTest::addColumn<int>("changes");
  QTest::newRow("up by one") << 10 << 3000 << 1 << "50" << int(Qt::Key_Up) << "51" << 1;
  QTest::newRow("down by one") << 10 << 3000 << 1 << "50" << int(Qt::Key_Down) << "49" << 1;
  QTest::newRow("up at the top") << 10 << 3000 << 1 << "3000" << int(Qt::Key_Up) << "3000" << 0;
  QTest::newRow("filter up by two") << 3 << 33 << 2 << "3" << int(Qt::Key_Up) << "5" << 1;
  QTest::newRow("filter clamps at 33") << 3 << 33 << 2 << "32" << int(Qt::Key_Up) << "33" << 1;
  QTest::newRow("filter down at 3") << 3 << 33 << 2 << "3" << int(Qt::Key_Down) << "3" << 0;
  QTest::newRow("empty steps from the lower limit")
      << 10 << 3000 << 1 << "" << int(Qt::Key_Up) << "11" << 1;
  QTest::newRow("typed above the limit steps back in")
      << 10 << 3000 << 1 << "5000" << int(Qt::Key_Down) << "3000" << 1;
}

void SpinEditTest::StepKeysAddTheStepAndClamp() {
  QFETCH(int, minimum);
  QFETCH(int, maximum);
  QFETCH(int, step);
  QFETCH(QString, start);
  QFETCH(int, key);
  QFETCH(QString, shown);
  QFETCH(int, changes);
  SpinEdit box(minimum, maximum, step, 0);
  box.Editor()->setText(start);
  QSignalSpy spy(&box, &SpinEdit::UserChanged);
  QTest::keyClick(&box, static_cast<Qt::Key>(key));
  QCOMPARE(box.text(), shown);
  QCOMPARE(spy.count(), changes);
}

void SpinEditTest::TypingKeepsDigitsSignAndCharLimit_data() {
  QTest::addColumn<int>("max_chars");
  QTest::addColumn<QString>("typed");
  QTest::addColumn<QString>("shown");
  QTest::newRow("four characters at most") << 4 << "12345"
                                           << "1234";
  QTest::newRow("letters refused") << 4 << "1a2"
                                   << "12";
  QTest::newRow("leading sign") << 4 << "-12"
                                << "-12";
  QTest::newRow("sign only at the start") << 4 << "1-2"
                                          << "12";
  QTest::newRow("no limit") << 0 << "1000000"
                            << "1000000";
  QTest::newRow("two characters") << 2 << "503"
                                  << "50";
}

void SpinEditTest::TypingKeepsDigitsSignAndCharLimit() {
  QFETCH(int, max_chars);
  QFETCH(QString, typed);
  QFETCH(QString, shown);
  SpinEdit box(10, 3000, 1, max_chars);
  box.Editor()->clear();
  QSignalSpy spy(&box, &SpinEdit::UserChanged);
  QTest::keyClicks(box.Editor(), typed);
  QCOMPARE(box.text(), shown);
  // One change per accepted keystroke.
  QCOMPARE(spy.count(), shown.size());
}

void SpinEditTest::OutOfRangeTextWaitsForFocusOut() {
  SpinEdit box(10, 3000, 1, 4);
  box.Editor()->clear();
  QTest::keyClicks(box.Editor(), "9999");
  QCOMPARE(box.text(), QString("9999"));
  QCOMPARE(box.Value(), 9999);

  QSignalSpy spy(&box, &SpinEdit::UserChanged);
  QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
  QApplication::sendEvent(&box, &out);
  QCOMPARE(box.text(), QString("3000"));
  QCOMPARE(spy.count(), 1);

  // Within the limits nothing changes at the focus-out.
  QApplication::sendEvent(&box, &out);
  QCOMPARE(spy.count(), 1);

  // A text that is not an integer stays as typed.
  box.Editor()->clear();
  QApplication::sendEvent(&box, &out);
  QCOMPARE(box.text(), QString());
  QCOMPARE(spy.count(), 1);

  // A context menu or another window (an error message) takes the focus only for a while: the
  // box still has it for its window, so the typed value waits.
  QTest::keyClicks(box.Editor(), "5");
  spy.clear();
  for (Qt::FocusReason passing : {Qt::PopupFocusReason, Qt::ActiveWindowFocusReason}) {
    QFocusEvent away(QEvent::FocusOut, passing);
    QApplication::sendEvent(&box, &away);
    QCOMPARE(box.text(), QString("5"));
  }
  QCOMPARE(spy.count(), 0);
  QFocusEvent click_away(QEvent::FocusOut, Qt::MouseFocusReason);
  QApplication::sendEvent(&box, &click_away);
  QCOMPARE(box.text(), QString("10"));
  QCOMPARE(spy.count(), 1);
}

void SpinEditTest::SetLimitsKeepsTheShownValue() {
  SpinEdit box(10, 1000000, 1, 0);
  box.SetValue(250);
  box.SetLimits(1, 100);
  QCOMPARE(box.text(), QString("250"));
  QCOMPARE(box.Value(), 250);
  QCOMPARE(box.Minimum(), 1);
  QCOMPARE(box.Maximum(), 100);
  box.Editor()->clear();
  QCOMPARE(box.Value(), 1);
}

void SpinEditTest::ChangesFromCodeEmitNothing() {
  SpinEdit box(10, 3000, 1, 4);
  QSignalSpy spy(&box, &SpinEdit::UserChanged);
  box.SetValue(70);
  box.SetValue(5);
  box.SetLimits(20, 30);
  QCOMPARE(spy.count(), 0);
  QCOMPARE(box.text(), QString("10"));
}

QTEST_MAIN(SpinEditTest)
#include "tfmain_spin_qtest.moc"
