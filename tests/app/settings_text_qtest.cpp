// The settings file at start-up, as the operator sees it in the error display: a file the window
// cannot read as 8-bit text with LF or CR LF line ends gives one error and is never written, and
// a value with a NUL byte is quoted whole.
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>

#include "app/spin_edit.h"
#include "tfmain_session.h"

using tfmain_test::ReadBytes;
using tfmain_test::Session;
using tfmain_test::TFmain;
using tfmain_test::WriteBytes;

class SettingsTextTest : public QObject {
  Q_OBJECT

 private slots:
  void CrOnlyFileGivesOneStartUpErrorAndIsNeverAppendedTo();
  void ValueWithANulByteIsShownWhole();
};

void SettingsTextTest::CrOnlyFileGivesOneStartUpErrorAndIsNeverAppendedTo() {
  Session s("IP=1.2.3.4\rSAMPLES=70\rSTREAM=UDP\r");
  const QByteArray before = ReadBytes(s.IniPath());
  QCOMPARE(s.errors.size(), 1);
  QCOMPARE(s.errors.front(), QStringLiteral("Cannot read \"") + s.IniPath() +
                                 "\": the settings file has lines ended by CR alone; save it "
                                 "with LF or CR LF line ends.");
  // Start-up ended at the first read: nothing of the file was taken, and the window is a
  // start without settings, not the layout: no Stream box to check, a unit with its scale.
  const auto& form = s.w().Form();
  QCOMPARE(form.Capture().address->text(), QStringLiteral("10.0.98.108"));
  QVERIFY(form.Capture().stream->isHidden());
  QCOMPARE(s.w().Cycle().StreamTransport(), 0);
  QVERIFY(form.Capture().dual_channel->isHidden());
  QVERIFY(form.Scale().bits->isChecked());
  QCOMPARE(form.Scale().scale->text(), QStringLiteral("100"));
  QVERIFY(form.Buttons().save->isEnabled());

  QTest::keyClicks(s.w().Form().Capture().address, "9");
  QCOMPARE(s.errors.size(), 2);
  QCOMPARE(s.errors.back(), s.errors.front());
  QCOMPARE(ReadBytes(s.IniPath()), before);
}

void SettingsTextTest::ValueWithANulByteIsShownWhole() {
  // The session's settings text is a C string, so this file is written before the window exists.
  QTemporaryDir dir;
  QVERIFY(dir.isValid());
  WriteBytes(dir.filePath("K390cap.ini"), QByteArray("[SETTINGS]\r\nSAMPLES=7\0"
                                                     "7\r\n",
                                                     25));
  QStringList errors;
  TFmain::Hooks hooks;
  hooks.show_error = [&errors](const QString& message) { errors << message; };
  TFmain window(dir.path() + QLatin1Char('/'), std::move(hooks));
  QCOMPARE(errors, QStringList{QStringLiteral("'7\\x007' is not a valid integer value.")});
}

QTEST_MAIN(SettingsTextTest)
#include "settings_text_qtest.moc"
