// The charts' right-click menu on a loaded example: pictures in each format, the figures on the
// clipboard and the stability table, the last two compared with what k390tool prints for the
// same file. Set K390_MENU_SHOT to a file name to keep a picture of the window with the menu open.
#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QProcess>
#include <QtTest>

#include "app/chart_menu.h"
#include "app/tfmain.h"
#include "presentation/chart_export.h"
#include "presentation/timing_charts.h"
#include "tfmain_session.h"

using namespace tfmain_test;
using app::ChartMenu;

namespace {

QString Example() { return QFINDTESTDATA("../../examples/example.JIT"); }

QByteArray Tool(const QStringList& arguments) {
  QProcess tool;
  tool.start(QStringLiteral(K390TOOL_PATH), arguments);
  if (!tool.waitForFinished(60000) || tool.exitCode() != 0) return {};
  return tool.readAllStandardOutput();
}

// The menu for a chart, and its entry of that caption (null when it has none).
QAction* Entry(QMenu* menu, const char* caption) {
  for (QAction* action : menu->actions()) {
    if (action->text() == QLatin1String(caption)) return action;
  }
  return nullptr;
}

struct Loaded : Session {
  explicit Loaded(const char* settings) : Session(settings) {
    next_file = Example();
    w().SetText(w().Form().Eprove_ms, "250");
    w().Form().Bload->click();
    w().Menu().SetHooks({[this](ChartMenu::File) { return next_file; },
                         [this](QSize shown) {
                           offered = shown;
                           return chosen;
                         }});
  }
  QSize offered;
  std::optional<QSize> chosen = QSize(640, 400);
};

}  // namespace

class ChartMenuTest : public QObject {
  Q_OBJECT

 private slots:
  void PicturesTakeTheFormatOfTheirExtension();
  void CopiedFiguresAreThoseOfTheTool();
  void StabilityTableIsThatOfTheTool();
};

void ChartMenuTest::PicturesTakeTheFormatOfTheirExtension() {
  QVERIFY(!Example().isEmpty());
  Loaded s("ANALYSIS=TRUE\r\n");
  QVERIFY(s.errors.isEmpty());
  s.w().show();
  QVERIFY(QTest::qWaitForWindowExposed(&s.w()));
  QWidget* pulse = s.chart().Widget();
  QWidget* stability = s.w().Form().Chart4->Widget();
  const QSize shown = presentation::ShownChartSize(pulse);
  QVERIFY(shown.width() > 100 && shown.height() > 100);

  struct Case {
    const char* name;
    QWidget* chart;
    bool sized;
    QByteArray magic;
  };
  const Case cases[] = {
      {"shown.png", pulse, false, "\x89PNG\r\n"},
      {"sized.PNG", pulse, true, "\x89PNG\r\n"},
      {"pulse.pdf", pulse, true, "%PDF-"},
      {"pulse.Svg", pulse, false, "<?xml"},
      {"stability.svg", stability, true, "<?xml"},
  };
  for (const Case& c : cases) {
    s.next_file = s.File(c.name);
    s.w().Menu().SavePicture(c.chart, c.sized);
    const QByteArray bytes = ReadBytes(s.next_file);
    QVERIFY2(bytes.startsWith(c.magic), c.name);
    if (QByteArray(c.name).endsWith("vg")) QVERIFY(bytes.contains("<svg"));
    if (QByteArray(c.name).toLower().endsWith("png")) {
      QCOMPARE(QImage(s.next_file).size(), c.sized ? *s.chosen : shown);
    }
  }
  QCOMPARE(s.offered, presentation::ShownChartSize(stability));
  QVERIFY(s.errors.isEmpty());

  // Another extension, none, or a cancelled size writes nothing and says why (the last not).
  for (const char* name : {"chart.bmp", "chart"}) {
    s.next_file = s.File(name);
    QMenu* menu = s.w().Menu().Popup(pulse, pulse->mapToGlobal(QPoint(20, 20)));
    QAction* save = Entry(menu, "Save picture...");
    QVERIFY(save != nullptr);
    save->trigger();
    menu->close();
    QVERIFY(!QFile::exists(s.next_file));
  }
  QCOMPARE(s.errors.size(), 2);
  QVERIFY(s.errors[0].contains("chart.bmp") && s.errors[0].contains(".png, .pdf or .svg"));
  s.chosen.reset();
  s.next_file = s.File("cancelled.png");
  s.w().Menu().SavePicture(pulse, true);
  QVERIFY(!QFile::exists(s.next_file));
  QCOMPARE(s.errors.size(), 2);
}

void ChartMenuTest::CopiedFiguresAreThoseOfTheTool() {
  Loaded s(nullptr);
  QVERIFY(s.errors.isEmpty());
  QWidget* pulse = s.chart().Widget();
  QMenu* menu = s.w().Menu().Popup(pulse, pulse->mapToGlobal(QPoint(20, 20)));
  // Without the timing analysis there is no stability table to save.
  QVERIFY(Entry(menu, "Save stability table...") == nullptr);
  Entry(menu, "Copy figures")->trigger();
  menu->close();

  QMap<QString, QString> expected;
  for (const QByteArray& line : Tool({"figures", "--flight-ms", "250", Example()}).split('\n')) {
    const qsizetype equals = line.indexOf('=');
    if (equals > 0 && !line.startsWith("File=")) {
      expected.insert(QString::fromLatin1(line.left(equals)),
                      QString::fromLatin1(line.mid(equals + 1)));
    }
  }
  QCOMPARE(expected.size(), 15);
  const QStringList lines = QGuiApplication::clipboard()->text().split('\n', Qt::SkipEmptyParts);
  QCOMPARE(lines.size(), expected.size());
  QStringList names;
  for (const QString& line : lines) {
    const QStringList columns = line.split('\t');
    QCOMPARE(columns.size(), 2);
    QVERIFY2(expected.contains(columns[0]), qPrintable(line));
    QCOMPARE(columns[1], expected[columns[0]]);
    names << columns[0];
  }
  // The top bar comes first, as on screen.
  QCOMPARE(names.mid(0, 4), QStringList({"Eint1", "Efreq1", "Eint2", "Efreq2"}));
  QCOMPARE(names.removeDuplicates(), 0);
}

void ChartMenuTest::StabilityTableIsThatOfTheTool() {
  // Before any data there is no table, and no file is asked for.
  Session empty("ANALYSIS=TRUE\r\n");
  int asked = 0;
  empty.w().Menu().SetHooks({[&](ChartMenu::File) {
                               ++asked;
                               return empty.File("none.csv");
                             },
                             {}});
  QWidget* pulse = empty.chart().Widget();
  QMenu* none = empty.w().Menu().Popup(pulse, pulse->mapToGlobal(QPoint(20, 20)));
  Entry(none, "Save stability table...")->trigger();
  none->close();
  QCOMPARE(asked, 0);
  QCOMPARE(empty.errors.size(), 1);
  QVERIFY(empty.errors[0].startsWith("No stability table"));

  Loaded s("ANALYSIS=TRUE\r\n");
  s.w().SetGraph(analysis::GraphView::kStability);
  QVERIFY(s.errors.isEmpty());
  QWidget* chart = s.w().Form().Chart4->Widget();
  s.w().show();
  QVERIFY(QTest::qWaitForWindowExposed(&s.w()));
  QMenu* menu = s.w().Menu().Popup(chart, chart->mapToGlobal(QPoint(chart->width() / 3, 60)));
  QVERIFY(QTest::qWaitForWindowExposed(menu));
  const QString keep = qEnvironmentVariable("K390_MENU_SHOT");
  if (!keep.isEmpty()) {
    QImage shot = s.w().grab().toImage();
    const QPoint at = s.w().mapFromGlobal(menu->pos());
    QPainter(&shot).drawPixmap(at, menu->grab());
    QVERIFY(shot.save(keep));
  }
  s.next_file = s.File("table.csv");
  Entry(menu, "Save stability table...")->trigger();
  menu->close();
  QVERIFY(s.errors.isEmpty());
  const QByteArray table = ReadBytes(s.next_file);
  QVERIFY(table.startsWith("deviation,af,tau_s,n,alpha,value,min,max\nadev,1,"));
  QCOMPARE(table, Tool({"stability", Example()}));
}

QTEST_MAIN(ChartMenuTest)
#include "chart_menu_qtest.moc"
