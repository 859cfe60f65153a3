// A settings file the window cannot read as 8-bit text with LF or CR LF line ends: one error at
// start-up, through the same display as other settings errors, and the file never written.
#include <QLineEdit>
#include <QtTest>

#include "tfmain_session.h"

using tfmain_test::ReadBytes;
using tfmain_test::Session;

class SettingsTextTest : public QObject {
  Q_OBJECT

 private slots:
  void CrOnlyFileGivesOneStartUpErrorAndIsNeverAppendedTo();
};

void SettingsTextTest::CrOnlyFileGivesOneStartUpErrorAndIsNeverAppendedTo() {
  Session s("IP=1.2.3.4\rSAMPLES=70\rSTREAM=UDP\r");
  const QByteArray before = ReadBytes(s.IniPath());
  QCOMPARE(s.errors.size(), 1);
  QCOMPARE(s.errors.front(), QStringLiteral("Cannot read \"") + s.IniPath() +
                                 "\": the settings file has lines ended by CR alone; save it "
                                 "with LF or CR LF line ends.");
  // Start-up ended at the first read: nothing of the file was taken.
  QVERIFY(s.w().Form().Eip->text() != QStringLiteral("1.2.3.4"));

  QTest::keyClicks(s.w().Form().Eip, "9");
  QCOMPARE(s.errors.size(), 2);
  QCOMPARE(s.errors.back(), s.errors.front());
  QCOMPARE(ReadBytes(s.IniPath()), before);
}

QTEST_MAIN(SettingsTextTest)
#include "settings_text_qtest.moc"
