// The charts' right-click menu on a loaded example: pictures in each format, and the figures and
// stability table compared with what k390tool prints for the same file. Set K390_MENU_SHOT to a
// file name to keep a picture of the window with the menu open.
#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QProcess>
#include <QtTest>

#include "app/chart_menu.h"
#include "presentation/chart_export.h"
#include "presentation/timing_charts.h"
#include "tfmain_session.h"

using namespace tfmain_test;

namespace {

QString Example() { return QFINDTESTDATA("../../examples/example.JIT"); }

QByteArray Tool(const QStringList& arguments) {
  QProcess tool;
  tool.start(QStringLiteral(K390TOOL_PATH), arguments);
  return tool.waitForFinished(60000) && tool.exitCode() == 0 ? tool.readAllStandardOutput() : "";
}

// Runs the entry of that caption of the chart's menu; false when the menu has none.
bool Run(TFmain& w, QWidget* chart, const char* caption) {
  QMenu* menu = w.Menu().Popup(chart, chart->mapToGlobal(QPoint(chart->width() / 3, 60)));
  const QString shot = qEnvironmentVariable("K390_MENU_SHOT");
  if (!shot.isEmpty() && w.isVisible() && QTest::qWaitForWindowExposed(menu)) {
    QImage picture = w.grab().toImage();
    QPainter(&picture).drawPixmap(w.mapFromGlobal(menu->pos()), menu->grab());
    picture.save(shot);
  }
  QAction* entry = nullptr;
  for (QAction* action : menu->actions()) {
    if (action->text() == QLatin1String(caption)) entry = action;
  }
  if (entry != nullptr) entry->trigger();
  menu->close();
  return entry != nullptr;
}

// A window that has loaded the example (unless `load` is false) with a flight time of 250 ms;
// its menu writes to next_file and draws at `chosen` when asked for a size.
struct Loaded : Session {
  explicit Loaded(const char* settings, bool load = true) : Session(settings) {
    w().Menu().SetHooks({[this](auto) { return next_file; }, [this](QSize) { return chosen; }});
    if (!load) return;
    w().SetText(w().Form().Flight().time_ms, "250");
    Load(ReadBytes(Example()), "example.JIT");
  }
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
  Loaded s("ANALYSIS=TRUE\r\n");
  s.w().show();
  QVERIFY(QTest::qWaitForWindowExposed(&s.w()));
  QWidget* pulse = s.chart().Widget();
  const QSize shown = presentation::ShownChartSize(pulse);
  QVERIFY(shown.width() > 100 && shown.height() > 100);
  const struct {
    const char* entry;
    const char* name;
    QWidget* chart;
    QByteArray magic;
  } cases[] = {
      {"Save picture...", "shown.png", pulse, "\x89PNG\r\n"},
      {"Save picture at size...", "sized.PNG", pulse, "\x89PNG\r\n"},
      {"Save picture at size...", "pulse.pdf", pulse, "%PDF-"},
      {"Save picture...", "stability.Svg", s.w().Form().Charts().stability->Widget(), "<?xml"},
  };
  for (const auto& c : cases) {
    s.next_file = s.File(c.name);
    QVERIFY(Run(s.w(), c.chart, c.entry));
    QVERIFY2(ReadBytes(s.next_file).startsWith(c.magic), c.name);
  }
  QCOMPARE(QImage(s.File("shown.png")).size(), shown);
  QCOMPARE(QImage(s.File("sized.PNG")).size(), *s.chosen);
  QVERIFY(ReadBytes(s.File("stability.Svg")).contains("<svg"));
  QVERIFY(s.errors.isEmpty());

  // Another extension or none writes nothing and says why; a cancelled size says nothing.
  for (const char* name : {"chart.bmp", "chart"}) {
    s.next_file = s.File(name);
    QVERIFY(Run(s.w(), pulse, "Save picture..."));
    QVERIFY(!QFile::exists(s.next_file));
  }
  QCOMPARE(s.errors.size(), 2);
  QVERIFY(s.errors[0].contains("chart.bmp") && s.errors[0].contains(".png, .pdf or .svg"));
  s.chosen.reset();
  s.next_file = s.File("cancelled.png");
  QVERIFY(Run(s.w(), pulse, "Save picture at size..."));
  QVERIFY(!QFile::exists(s.next_file));
  QCOMPARE(s.errors.size(), 2);
}

void ChartMenuTest::CopiedFiguresAreThoseOfTheTool() {
  Loaded s(nullptr);
  // Without the timing analysis there is no stability table to save.
  QVERIFY(!Run(s.w(), s.chart().Widget(), "Save stability table..."));
  QVERIFY(Run(s.w(), s.chart().Widget(), "Copy figures"));

  QStringList expected;
  for (const QByteArray& line : Tool({"figures", "--flight-ms", "250", Example()}).split('\n')) {
    if (line.contains('=') && !line.startsWith("File=")) expected << line;
  }
  QCOMPARE(expected.size(), 15);
  QStringList copied = QGuiApplication::clipboard()->text().split('\n', Qt::SkipEmptyParts);
  copied.replaceInStrings(QStringLiteral("\t"), QStringLiteral("="));
  // The top bar comes first, as on screen; the right column follows in the tool's order.
  QCOMPARE(copied, expected.mid(8, 4) + expected.mid(0, 8) + expected.mid(12));
  QVERIFY(s.errors.isEmpty());

  // Boxes blanked by Peak Reset are copied blank.
  s.w().Form().Buttons().peak_reset->click();
  QVERIFY(Run(s.w(), s.chart().Widget(), "Copy figures"));
  const QString blanked = QGuiApplication::clipboard()->text();
  QVERIFY(blanked.contains("\nEjitpp_max\t\n") && blanked.endsWith("\nEpqf\t\n"));
  QVERIFY(blanked.contains("\nEjitpp_pct\t0.0"));
}

void ChartMenuTest::StabilityTableIsThatOfTheTool() {
  // Before any data there is no table, and no file is written.
  Loaded empty("ANALYSIS=TRUE\r\n", false);
  empty.next_file = empty.File("none.csv");
  QVERIFY(Run(empty.w(), empty.chart().Widget(), "Save stability table..."));
  QVERIFY(!QFile::exists(empty.next_file));
  QVERIFY(empty.errors.size() == 1 && empty.errors[0].startsWith("No stability table"));

  Loaded s("ANALYSIS=TRUE\r\n");
  s.w().SetGraph(analysis::GraphView::kStability);
  s.w().show();
  QVERIFY(QTest::qWaitForWindowExposed(&s.w()));
  s.next_file = s.File("table.csv");
  QVERIFY(Run(s.w(), s.w().Form().Charts().stability->Widget(), "Save stability table..."));
  QVERIFY(s.errors.isEmpty());
  QCOMPARE(ReadBytes(s.next_file), Tool({"stability", Example()}));
}

QTEST_MAIN(ChartMenuTest)
#include "chart_menu_qtest.moc"
