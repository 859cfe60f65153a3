// The main window: start-up against settings files, the control rules, units switching, button
// locking, Load and Save, the chart feed as the window drives it, the error display and the
// accessible names. Each session runs in its own folder holding its settings file.
#include <QButtonGroup>
#include <QCheckBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <cmath>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "analysis/figure_text.h"
#include "app/capture_timer.h"
#include "app/spin_edit.h"
#include "app/tfmain.h"
#include "persistence/ini_file.h"
#include "presentation/histogram_chart.h"
#include "presentation/pulse_chart.h"
#include "presentation/timing_charts.h"
#include "tfmain_session.h"

using analysis::GraphView;
using app::SpinEdit;
using app::TFmain;
using Values = std::vector<int32_t>;

using namespace tfmain_test;

namespace {

const QByteArray kIntervalFile =
    ";Sample,TDelta(x25ns)\r\n0,40000\r\n1,40004\r\n2,39996\r\n3,40000\r\n";

// Which units radio button is checked.
enum Units { kNoUnits, kBits, kPercent };

Units CheckedUnits(const TFmain& w) {
  if (w.Form().Scale().bits->isChecked()) return kBits;
  if (w.Form().Scale().percent->isChecked()) return kPercent;
  return kNoUnits;
}

// What a start-up case expects; unset fields are not checked.
struct StartupCase {
  const char* name = nullptr;
  const char* settings = nullptr;
  const char* error = nullptr;
  const char* samples = nullptr;
  const char* vscale = nullptr;
  std::optional<Units> units;
  std::optional<std::pair<int, int>> vscale_limits;
  std::optional<std::pair<double, double>> axis;
  const char* axis_title = nullptr;
  const char* stream_caption = nullptr;  // "" for a hidden Stream box
  std::optional<int> transport;
  std::optional<int> udp_port;  // the port the window's UDP receiver binds
  std::optional<bool> dual_visible;
  std::optional<bool> dual_checked;
  const char* filter_text = nullptr;  // "" for a hidden filter box
  std::optional<int> filter_length;
  std::optional<int> filter_half;
  std::optional<int> graph_items;
  std::optional<bool> save_enabled;
  std::vector<std::pair<const char*, const char*>> file;  // key, value or kAbsent afterwards
};

StartupCase Case(const char* name, const char* settings) {
  StartupCase c;
  c.name = name;
  c.settings = settings;
  return c;
}

const std::vector<StartupCase>& StartupCases() {
  static const std::vector<StartupCase> cases = [] {
    std::vector<StartupCase> c;
    {
      StartupCase s = Case("empty file", "");
      s.samples = "50";
      s.vscale = "100";
      s.units = kBits;
      s.vscale_limits = {{10, 1000000}};
      s.axis = {{-100, 100}};
      s.axis_title = "Pulse-Pulse Interval (x25ns)";
      s.stream_caption = "";
      s.transport = 0;
      s.dual_visible = false;
      s.filter_text = "";
      s.graph_items = 2;
      s.save_enabled = true;
      s.file = {{"VSCALEUNITS", "BITS"}, {"SAMPLES", kAbsent}, {"VSCALE", kAbsent}};
      c.push_back(s);
    }
    {
      StartupCase s = Case("percent without VSCALE%", "VSCALEUNITS=PERCENT\r\n");
      s.units = kPercent;
      s.vscale = "10";
      s.vscale_limits = {{1, 100}};
      s.axis = {{-10, 10}};
      s.file = {{"VSCALE%", "10"}, {"VSCALEUNITS", "PERCENT"}, {"VSCALE", kAbsent}};
      c.push_back(s);
    }
    {
      StartupCase s = Case("percent with VSCALE%", "VSCALEUNITS=PERCENT\r\nVSCALE%=25\r\n");
      s.units = kPercent;
      s.vscale = "25";
      s.axis = {{-25, 25}};
      s.file = {{"VSCALE%", "25"}};
      c.push_back(s);
    }
    {
      StartupCase s = Case("percent above its limit", "VSCALEUNITS=PERCENT\r\nVSCALE%=250\r\n");
      // The box already showed 100, so the clamped value is not written back.
      s.vscale = "100";
      s.file = {{"VSCALE%", "250"}};
      c.push_back(s);
    }
    {
      StartupCase s = Case("bits in lower case selects percent", "VSCALEUNITS=bits\r\n");
      s.units = kPercent;
      c.push_back(s);
    }
    {
      StartupCase s = Case("empty units select percent", "VSCALEUNITS=\r\n");
      s.units = kPercent;
      c.push_back(s);
    }
    {
      StartupCase s = Case("stream TCP", "STREAM=TCP\r\n");
      s.stream_caption = "Stream-TCP";
      s.transport = 2;
      c.push_back(s);
    }
    {
      StartupCase s = Case("stream UDP", "STREAM=UDP\r\n");
      s.stream_caption = "Stream-UDP";
      s.transport = 1;
      c.push_back(s);
    }
    {
      StartupCase s = Case("stream udp in lower case", "STREAM=udp\r\n");
      s.stream_caption = "Stream-UDP";
      s.transport = 1;
      c.push_back(s);
    }
    {
      StartupCase s = Case("stream tcp in lower case", "STREAM=tcp\r\n");
      s.stream_caption = "Stream-TCP";
      s.transport = 2;
      c.push_back(s);
    }
    {
      StartupCase s = Case("udp port set by hand", "STREAM=UDP\r\nUDPPORT=40001\r\n");
      s.stream_caption = "Stream-UDP";
      s.udp_port = 40001;
      c.push_back(s);
    }
    {
      StartupCase s = Case("udp port out of range", "UDPPORT=70000\r\nSTREAM=UDP\r\n");
      s.error = "'70000' is not a port number from 1 to 65535.";
      s.stream_caption = "";  // no stream on a port that cannot be bound
      s.transport = 0;
      s.udp_port = 38257;
      c.push_back(s);
    }
    {
      StartupCase s = Case("other stream value", "STREAM=serial\r\n");
      s.stream_caption = "";
      s.transport = 0;
      c.push_back(s);
    }
    {
      StartupCase s = Case("histogram FALSE still offers it", "HISTOGRAM=FALSE\r\n");
      s.graph_items = 3;
      c.push_back(s);
    }
    {
      StartupCase s = Case("dual channel empty", "DUALCHANNEL=\r\n");
      s.dual_visible = false;
      s.dual_checked = false;
      c.push_back(s);
    }
    {
      StartupCase s = Case("dual channel true in lower case", "DUALCHANNEL=true\r\n");
      s.dual_visible = true;
      s.dual_checked = false;
      s.file = {{"DUALCHANNEL", "true"}};
      c.push_back(s);
    }
    {
      StartupCase s = Case("dual channel TRUE", "DUALCHANNEL=TRUE\r\n");
      s.dual_visible = true;
      s.dual_checked = true;
      c.push_back(s);
    }
    {
      StartupCase s = Case("filter 7", "FILTERLEN=7\r\n");
      s.filter_text = "7";
      s.filter_length = 7;
      s.filter_half = 4;
      s.file = {{"FILTERLEN", "7"}};
      c.push_back(s);
    }
    {
      StartupCase s = Case("filter 4 becomes 5", "FILTERLEN=4\r\n");
      s.filter_text = "5";
      s.filter_length = 5;
      s.filter_half = 3;
      s.file = {{"FILTERLEN", "5"}};
      c.push_back(s);
    }
    {
      StartupCase s = Case("filter 40 becomes 33", "FILTERLEN=40\r\n");
      s.filter_text = "33";
      s.filter_length = 33;
      s.file = {{"FILTERLEN", "33"}};
      c.push_back(s);
    }
    {
      // The box cannot show 2, so the filter follows what it shows.
      StartupCase s = Case("filter 2 follows the box", "FILTERLEN=2\r\n");
      s.filter_text = "3";
      s.filter_length = 3;
      s.filter_half = 2;
      s.file = {{"FILTERLEN", "2"}};
      c.push_back(s);
    }
    {
      StartupCase s = Case("filter 0 is off", "FILTERLEN=0\r\n");
      s.filter_text = "";
      s.filter_length = 0;
      c.push_back(s);
    }
    {
      StartupCase s = Case("samples 5 shows 10", "SAMPLES=5\r\n");
      s.samples = "10";
      s.file = {{"SAMPLES", "10"}};
      c.push_back(s);
    }
    {
      StartupCase s = Case("samples above the limit", "SAMPLES=4000\r\n");
      s.samples = "3000";
      s.file = {{"SAMPLES", "3000"}};
      c.push_back(s);
    }
    {
      StartupCase s = Case("vscale 5 shows 10 and stays in the file", "VSCALE=5\r\n");
      s.vscale = "10";
      s.axis = {{-10, 10}};
      s.file = {{"VSCALE", "5"}};
      c.push_back(s);
    }
    // A start-up that stops at an error leaves the rest as a start without a settings file
    // would: a unit and its scale, no Stream or Dual Channel box, Save free, nothing written.
    {
      StartupCase s = Case("samples not an integer", "SAMPLES=abc\r\nSTREAM=TCP\r\nVSCALE=300\r\n");
      s.error = "'abc' is not a valid integer value.";
      s.samples = "50";
      s.vscale = "100";
      s.units = kBits;
      s.vscale_limits = {{10, 1000000}};
      s.axis = {{-100, 100}};
      s.axis_title = "Pulse-Pulse Interval (x25ns)";
      s.stream_caption = "";
      s.transport = 0;
      s.dual_visible = false;
      s.dual_checked = false;
      s.graph_items = 2;
      s.save_enabled = true;
      s.file = {{"VSCALEUNITS", kAbsent}, {"SAMPLES", "abc"}};
      c.push_back(s);
    }
    {
      StartupCase s = Case("vscale not an integer", "VSCALE=1e3\r\nSAMPLES=70\r\nFILTERLEN=5\r\n");
      s.error = "'1e3' is not a valid integer value.";
      s.samples = "70";
      s.vscale = "100";
      s.units = kBits;
      s.stream_caption = "";
      s.filter_text = "";
      s.filter_length = 0;
      s.save_enabled = true;
      s.file = {{"VSCALEUNITS", kAbsent}};
      c.push_back(s);
    }
    {
      StartupCase s = Case("filter not an integer",
                           "FILTERLEN=x\r\nSTREAM=UDP\r\nVSCALE=300\r\nDUALCHANNEL=TRUE\r\n");
      s.error = "'x' is not a valid integer value.";
      s.stream_caption = "Stream-UDP";  // its step came before the error
      s.transport = 1;
      s.filter_text = "";
      s.units = kBits;
      s.vscale = "100";
      s.axis = {{-100, 100}};
      s.dual_visible = false;
      s.graph_items = 2;
      c.push_back(s);
    }
    {
      StartupCase s = Case("scale key not an integer in the units step",
                           "VSCALE%=big\r\n"
                           "VSCALE=300\r\n"
                           "VSCALEUNITS=PERCENT\r\n"
                           "DUALCHANNEL=TRUE\r\n");
      s.error = "'big' is not a valid integer value.";
      s.units = kPercent;
      s.vscale_limits = {{1, 100}};
      s.vscale = "10";
      s.axis = {{-10, 10}};
      s.axis_title = "Pulse-Pulse Interval (x25ns)";
      s.dual_visible = false;
      s.dual_checked = false;
      s.save_enabled = true;
      s.file = {{"VSCALEUNITS", "PERCENT"}, {"VSCALE%", "big"}};
      c.push_back(s);
    }
    return c;
  }();
  return cases;
}

QString PointText(double value) { return QString::number(value, 'f', 6); }

}  // namespace

class TFmainTest : public QObject {
  Q_OBJECT

 private slots:
  void StartupWithoutSettingsFile();
  void StartupAgainstSettings_data();
  void StartupAgainstSettings();
  void StartupEndsAtAFailedWrite();
  void ChangesFromCodeRunHandlersOnlyWhenShownChanges();
  void OperatorChangesWriteTheirKeys();
  void DetachedDualChannelWritesNothing();
  void FilterBoxNormalisesWhatIsTyped_data();
  void FilterBoxNormalisesWhatIsTyped();
  void UnitsSwitchRestoresEachUnitsScale();
  void LockingAndUnlocking();
  void LoadFillsEveryBoxAndRedraws();
  void LoadOfAFrequencyFileSelectsTheFrequencyView();
  void LoadFailuresLeaveViewAndTitle();
  void LoadsViewSwitchPassSeesTheNewList();
  void SaveThenLoadInBothForms();
  void SaveInTheHistogramViewWritesFrequencies();
  void ChartFeedThroughTheWindow();
  void AxisLimitsFollowUnitsAndView_data();
  void AxisLimitsFollowUnitsAndView();
  void ClickingPointsShowsOneLabel();
  void HistogramViewSwapsTheCharts();
  void FlightTimeAndPeakReset();
  void ARefusedChartFeedKeepsTheLaterFigures();
  void LostStreamWordsStayOnScreen();
  void ErrorTextAddsAFullStop_data();
  void ErrorTextAddsAFullStop();
  void ErrorDisplayIsModalAndTheLoopGoesOn();
  void LayoutKeepsEdgeControlsAtTheirEdges();
  void EveryControlHasAnAccessibleNameAndItsName();
  void EachHandedOutControlIsTheOneItsObjectNameNames();
};

void TFmainTest::StartupWithoutSettingsFile() {
  Session s;
  TFmain& w = s.w();
  QVERIFY(s.errors.isEmpty());
  QCOMPARE(w.windowTitle(), QString("K390 Vantrix  -  Brantel Ltd  -  V1.0.15"));
  QCOMPARE(w.Form().Capture().address->text(), QString("10.0.98.108"));
  QCOMPARE(w.Form().Capture().port->text(), QString("38253"));
  QCOMPARE(w.Form().Capture().samples->text(), QString("50"));
  QVERIFY(w.Form().Scale().bits->isChecked());
  QVERIFY(!w.Form().Scale().percent->isChecked());
  QCOMPARE(w.Form().Scale().scale->text(), QString("100"));
  QVERIFY(w.Form().Capture().stream->isHidden());
  QVERIFY(w.Form().Capture().dual_channel->isHidden());
  QVERIFY(!w.Form().Capture().dual_channel->isChecked());
  QVERIFY(w.Form().Scale().filter->isHidden());
  QVERIFY(w.Form().Scale().filter_caption->isHidden());
  QCOMPARE(w.GraphItemCount(), 2);
  QCOMPARE(w.Graph(), GraphView::kInterval);
  QCOMPARE(s.chart().LeftAxisMinimum(), -100.0);
  QCOMPARE(s.chart().LeftAxisMaximum(), 100.0);
  QCOMPARE(s.chart().Title(), QString("K390 Jitter Data"));
  QVERIFY(w.PulseChartInFront());
  QVERIFY(w.Form().Buttons().load->isEnabled());
  QVERIFY(w.Form().Buttons().save->isEnabled());
  QVERIFY(w.Form().Capture().sample->isEnabled());
  QVERIFY(w.Cycle().Timer().Enabled());
  QCOMPARE(w.Cycle().Timer().Interval(), 1000);
  QCOMPARE(w.IniPath(), s.IniPath().toStdString());
  QCOMPARE(s.Setting("VSCALEUNITS"), QString("BITS"));
  // The passes found no data.
  QCOMPARE(w.Form().FigureBox(analysis::Figure::kAverageTicks)->text(), QString());
  QCOMPARE(s.chart().PointCount(0), 0);
}

void TFmainTest::StartupAgainstSettings_data() {
  QTest::addColumn<int>("row");
  for (size_t i = 0; i < StartupCases().size(); ++i) {
    QTest::newRow(StartupCases()[i].name) << static_cast<int>(i);
  }
}

void TFmainTest::StartupAgainstSettings() {
  QFETCH(int, row);
  const StartupCase& c = StartupCases()[static_cast<size_t>(row)];
  Session s(c.settings);
  TFmain& w = s.w();
  if (c.error) {
    QCOMPARE(s.errors, QStringList{QString::fromLatin1(c.error)});
  } else {
    QCOMPARE(s.errors, QStringList{});
  }
  if (c.samples) QCOMPARE(w.Form().Capture().samples->text(), QString::fromLatin1(c.samples));
  if (c.vscale) QCOMPARE(w.Form().Scale().scale->text(), QString::fromLatin1(c.vscale));
  if (c.units) QCOMPARE(CheckedUnits(w), *c.units);
  if (c.vscale_limits) {
    QCOMPARE(w.Form().Scale().scale->Minimum(), c.vscale_limits->first);
    QCOMPARE(w.Form().Scale().scale->Maximum(), c.vscale_limits->second);
  }
  if (c.axis) {
    QCOMPARE(s.chart().LeftAxisMinimum(), c.axis->first);
    QCOMPARE(s.chart().LeftAxisMaximum(), c.axis->second);
  }
  if (c.axis_title) QCOMPARE(s.chart().LeftAxisTitle(), QString::fromLatin1(c.axis_title));
  if (c.stream_caption) {
    const QString caption = QString::fromLatin1(c.stream_caption);
    QCOMPARE(!w.Form().Capture().stream->isHidden(), !caption.isEmpty());
    if (!caption.isEmpty()) QCOMPARE(w.Form().Capture().stream->text(), caption);
    QVERIFY(!w.Form().Capture().stream->isChecked());
  }
  if (c.transport) QCOMPARE(w.Cycle().StreamTransport(), *c.transport);
  if (c.udp_port) QCOMPARE(int(w.Cycle().Receiver().Port()), *c.udp_port);
  if (c.dual_visible) QCOMPARE(!w.Form().Capture().dual_channel->isHidden(), *c.dual_visible);
  if (c.dual_checked) QCOMPARE(w.Form().Capture().dual_channel->isChecked(), *c.dual_checked);
  if (c.filter_text) {
    const QString text = QString::fromLatin1(c.filter_text);
    QCOMPARE(!w.Form().Scale().filter->isHidden(), !text.isEmpty());
    QCOMPARE(!w.Form().Scale().filter_caption->isHidden(), !text.isEmpty());
    if (!text.isEmpty()) QCOMPARE(w.Form().Scale().filter->text(), text);
  }
  if (c.filter_length) QCOMPARE(w.Pass().Filter().FilterLength(), *c.filter_length);
  if (c.filter_half) QCOMPARE(w.Pass().Filter().FilterHalf(), *c.filter_half);
  if (c.graph_items) {
    QCOMPARE(w.GraphItemCount(), *c.graph_items);
    QCOMPARE(w.Graph(), GraphView::kInterval);
  }
  if (c.save_enabled) QCOMPARE(w.Form().Buttons().save->isEnabled(), *c.save_enabled);
  for (const auto& [key, value] : c.file) QCOMPARE(s.Setting(key), QString::fromLatin1(value));
}

void TFmainTest::StartupEndsAtAFailedWrite() {
  // A folder in place of the settings file: every read gives its default, every write fails.
  Session s(nullptr, true);
  TFmain& w = s.w();
  QCOMPARE(s.errors, QStringList{"Unable to write to " + s.IniPath() + "."});
  // The units step failed at its write: the button keeps its new state, the rest shows its
  // defaults.
  QVERIFY(w.Form().Scale().bits->isChecked());
  QCOMPARE(w.Form().Scale().scale->text(), QString("100"));
  QVERIFY(w.Form().Capture().dual_channel->isHidden());
  QVERIFY(w.Form().Capture().stream->isHidden());
  QVERIFY(w.Form().Buttons().save->isEnabled());
  QCOMPARE(s.chart().LeftAxisTitle(), QString("Pulse-Pulse Interval (x25ns)"));
}

void TFmainTest::ChangesFromCodeRunHandlersOnlyWhenShownChanges() {
  Session s;
  TFmain& w = s.w();
  QVERIFY(QFile::remove(s.IniPath()));

  // The same text, value or state: nothing runs, so nothing is written.
  w.SetText(w.Form().Capture().address, QStringLiteral("10.0.98.108"));
  w.SetValue(w.Form().Capture().samples, 50);
  w.SetChecked(w.Form().Scale().bits, true);
  QVERIFY(!QFile::exists(s.IniPath()));

  // A value clamped to what the box shows changes nothing either.
  w.SetValue(w.Form().Capture().samples, 70);
  QCOMPARE(s.Setting("SAMPLES"), QString("70"));
  QVERIFY(QFile::remove(s.IniPath()));
  w.SetValue(w.Form().Capture().samples, 1);
  QCOMPARE(s.Setting("SAMPLES"), QString("10"));
  QVERIFY(QFile::remove(s.IniPath()));
  w.SetValue(w.Form().Capture().samples, 2);
  QVERIFY(!QFile::exists(s.IniPath()));

  w.SetText(w.Form().Capture().port, QStringLiteral("1234"));
  QCOMPARE(s.Setting("PORT"), QString("1234"));

  // The graph selector runs its handler, and with it a pass, only when its index changes.
  s.chart().SetLeftAxisTitle(QStringLiteral("marker"));
  w.SetGraph(GraphView::kInterval);
  QCOMPARE(s.chart().LeftAxisTitle(), QString("marker"));
  w.SetGraph(GraphView::kFrequency);
  QCOMPARE(s.chart().LeftAxisTitle(), QString("Pulse Frequency (Hz)"));

  // A radio button runs its handler when it becomes checked, not when the other one is.
  w.SetChecked(w.Form().Scale().percent, true);
  QCOMPARE(s.Setting("VSCALEUNITS"), QString("PERCENT"));
  QVERIFY(!w.Form().Scale().bits->isChecked());
  QVERIFY(QFile::remove(s.IniPath()));
  w.SetChecked(w.Form().Scale().bits, false);
  w.SetChecked(w.Form().Scale().percent, false);
  QVERIFY(w.Form().Scale().percent->isChecked());
  QVERIFY(!QFile::exists(s.IniPath()));
}

void TFmainTest::OperatorChangesWriteTheirKeys() {
  Session s;
  TFmain& w = s.w();

  // Typing an address writes the whole text at every keystroke.
  w.Form().Capture().address->clear();
  QTest::keyClicks(w.Form().Capture().address, "10.1");
  QCOMPARE(s.Setting("IP"), QString("10.1"));
  QTest::keyClick(w.Form().Capture().address, Qt::Key_Backspace);
  QCOMPARE(s.Setting("IP"), QString("10."));

  // Clearing the sample box writes its lower limit.
  w.Form().Capture().samples->Editor()->selectAll();
  QTest::keyClick(w.Form().Capture().samples->Editor(), Qt::Key_Backspace);
  QCOMPARE(w.Form().Capture().samples->text(), QString());
  QCOMPARE(s.Setting("SAMPLES"), QString("10"));
  QTest::keyClick(w.Form().Capture().samples, Qt::Key_Up);
  QCOMPARE(s.Setting("SAMPLES"), QString("11"));

  // Clearing the scale box writes the lower limit of the units that are checked.
  w.Form().Scale().scale->Editor()->selectAll();
  QTest::keyClick(w.Form().Scale().scale->Editor(), Qt::Key_Backspace);
  QCOMPARE(s.Setting("VSCALE"), QString("10"));
  w.Form().Scale().percent->click();
  w.Form().Scale().scale->Editor()->selectAll();
  QTest::keyClick(w.Form().Scale().scale->Editor(), Qt::Key_Backspace);
  QCOMPARE(s.Setting("VSCALE%"), QString("1"));
  QCOMPARE(s.Setting("VSCALE"), QString("10"));

  // The flight time box takes digits only.
  QTest::keyClicks(w.Form().Flight().time_ms, "12a3");
  QCOMPARE(w.Form().Flight().time_ms->text(), QString("123"));
}

void TFmainTest::DetachedDualChannelWritesNothing() {
  {
    Session s;
    s.w().SetChecked(s.w().Form().Capture().dual_channel, true);
    s.w().Form().Capture().dual_channel->click();
    QCOMPARE(s.Setting("DUALCHANNEL"), QString(kAbsent));
  }
  {
    Session s("DUALCHANNEL=FALSE\r\n");
    QVERIFY(!s.w().Form().Capture().dual_channel->isChecked());
    s.w().SetChecked(s.w().Form().Capture().dual_channel, true);
    QCOMPARE(s.Setting("DUALCHANNEL"), QString("TRUE"));
    s.w().Form().Capture().dual_channel->click();
    QCOMPARE(s.Setting("DUALCHANNEL"), QString("FALSE"));
  }
}

void TFmainTest::FilterBoxNormalisesWhatIsTyped_data() {
  QTest::addColumn<QString>("typed");
  QTest::addColumn<QString>("shown");
  QTest::addColumn<int>("length");
  QTest::newRow("even steps up") << "4"
                                 << "5" << 5;
  QTest::newRow("above the range") << "50"
                                   << "33" << 33;
  QTest::newRow("below the range") << "1"
                                   << "3" << 3;
  QTest::newRow("odd within") << "9"
                              << "9" << 9;
  QTest::newRow("empty counts as 3") << ""
                                     << "" << 3;
}

void TFmainTest::FilterBoxNormalisesWhatIsTyped() {
  QFETCH(QString, typed);
  QFETCH(QString, shown);
  QFETCH(int, length);
  Session s("FILTERLEN=7\r\n");
  TFmain& w = s.w();
  w.Form().Scale().filter->Editor()->selectAll();
  QTest::keyClick(w.Form().Scale().filter->Editor(), Qt::Key_Backspace);
  QTest::keyClicks(w.Form().Scale().filter->Editor(), typed);
  QCOMPARE(w.Form().Scale().filter->text(), shown);
  QCOMPARE(w.Pass().Filter().FilterLength(), length);
  QCOMPARE(w.Pass().Filter().FilterHalf(), (length + 1) / 2);
  QCOMPARE(s.Setting("FILTERLEN"), QString::number(length));
}

void TFmainTest::UnitsSwitchRestoresEachUnitsScale() {
  Session s("VSCALE=250\r\n");
  TFmain& w = s.w();
  QCOMPARE(w.Form().Scale().scale->text(), QString("250"));
  w.Form().Scale().percent->click();
  QVERIFY(w.Form().Scale().percent->isChecked());
  QVERIFY(!w.Form().Scale().bits->isChecked());
  QCOMPARE(w.Form().Scale().scale->text(), QString("10"));
  QCOMPARE(w.Form().Scale().scale->Minimum(), 1);
  QCOMPARE(w.Form().Scale().scale->Maximum(), 100);
  QCOMPARE(s.Setting("VSCALE%"), QString("10"));
  QCOMPARE(s.Setting("VSCALE"), QString("250"));
  w.SetValue(w.Form().Scale().scale, 30);
  QCOMPARE(s.Setting("VSCALE%"), QString("30"));
  w.Form().Scale().bits->click();
  QCOMPARE(w.Form().Scale().scale->text(), QString("250"));
  QCOMPARE(w.Form().Scale().scale->Minimum(), 10);
  QCOMPARE(s.Setting("VSCALEUNITS"), QString("BITS"));
  w.Form().Scale().percent->click();
  QCOMPARE(w.Form().Scale().scale->text(), QString("30"));
  // Clicking the button that is already checked runs nothing.
  QVERIFY(QFile::remove(s.IniPath()));
  w.Form().Scale().percent->click();
  QVERIFY(!QFile::exists(s.IniPath()));
}

void TFmainTest::LockingAndUnlocking() {
  Session s;
  TFmain& w = s.w();
  w.LockFileButtons();
  QVERIFY(!w.Form().Buttons().load->isEnabled());
  QVERIFY(!w.Form().Buttons().save->isEnabled());
  QVERIFY(!w.Form().Capture().sample->isEnabled());
  w.UnlockFileButtons();
  QVERIFY(w.Form().Buttons().load->isEnabled());
  QVERIFY(w.Form().Buttons().save->isEnabled());
  QVERIFY(w.Form().Capture().sample->isEnabled());

  // Only the box's state matters here, so it is set without its handler.
  {
    const QSignalBlocker block(w.Form().Capture().stream);
    w.Form().Capture().stream->setChecked(true);
  }
  w.LockFileButtons();
  w.UnlockFileButtons();
  QVERIFY(w.Form().Buttons().load->isEnabled());
  QVERIFY(w.Form().Buttons().save->isEnabled());
  QVERIFY(!w.Form().Capture().sample->isEnabled());

  // The end steps of a pass unlock nothing while AutoSample or Stream is checked.
  w.LockFileButtons();
  w.EndSteps();
  QVERIFY(!w.Form().Buttons().load->isEnabled());
  {
    const QSignalBlocker block(w.Form().Capture().stream);
    w.Form().Capture().stream->setChecked(false);
  }
  {
    const QSignalBlocker block(w.Form().Capture().auto_sample);
    w.Form().Capture().auto_sample->setChecked(true);
  }
  w.EndSteps();
  QVERIFY(!w.Form().Buttons().load->isEnabled());
  {
    const QSignalBlocker block(w.Form().Capture().auto_sample);
    w.Form().Capture().auto_sample->setChecked(false);
  }
  w.Cycle().Timer().SetEnabled(false);
  w.EndSteps();
  QVERIFY(w.Form().Buttons().load->isEnabled());
  QVERIFY(w.Form().Capture().sample->isEnabled());
  QVERIFY(w.Cycle().Timer().Enabled());
}

void TFmainTest::LoadFillsEveryBoxAndRedraws() {
  Session s;
  TFmain& w = s.w();
  s.Load(kIntervalFile);
  QVERIFY(s.errors.isEmpty());
  QCOMPARE(s.dialogs, QList<TFmain::FileDialog>{TFmain::FileDialog::kOpen});
  QCOMPARE(w.Form().FigureBox(analysis::Figure::kAverageTicks)->text(), QString("40000"));
  QCOMPARE(w.Form().FigureBox(analysis::Figure::kPeakPositive)->text(), QString("+4"));
  QCOMPARE(w.Form().FigureBox(analysis::Figure::kPeakNegative)->text(), QString("-4"));
  QCOMPARE(w.Form().FigureBox(analysis::Figure::kPeakToPeak)->text(), QString("8"));
  QCOMPARE(w.Form().FigureBox(analysis::Figure::kPeakToPeakPercent)->text(), QString("0.0200"));
  QCOMPARE(w.Form().FigureBox(analysis::Figure::kHeldPeakToPeakPercent)->text(), QString("0.0200"));
  QCOMPARE(w.Form().FigureBox(analysis::Figure::kRms)->text(), QString("6"));
  QCOMPARE(w.Form().FigureBox(analysis::Figure::kRmsPercent)->text(), QString("0.0141"));
  QCOMPARE(w.Form().FigureBox(analysis::Figure::kCh1Seconds)->text(), QString("0.001000000000"));
  QCOMPARE(w.Form().FigureBox(analysis::Figure::kCh1Frequency)->text(), QString("1000.0000"));
  QCOMPARE(w.Form().FigureBox(analysis::Figure::kCh2Seconds)->text(), QString("0.000000000000"));
  QCOMPARE(w.Form().FigureBox(analysis::Figure::kCh2Frequency)->text(), QString("0.0000"));
  QCOMPARE(s.chart().Title(), QString("K390 Jitter Data  [trace.JIT]"));
  QCOMPARE(w.Pass().Loaded().values, (Values{40000, 40004, 39996, 40000}));
  QVERIFY(w.Cycle().FromFile());
  QCOMPARE(s.chart().PointCount(0), 4);
  QCOMPARE(s.chart().PointValue(0, 1), 40004.0);

  // Switching to the frequency view redraws the loaded list at once.
  s.Item("Frequency")->click();
  QCOMPARE(w.Graph(), GraphView::kFrequency);
  QCOMPARE(s.chart().LeftAxisTitle(), QString("Pulse Frequency (Hz)"));
  QCOMPARE(s.chart().PointCount(0), 4);
  QCOMPARE(PointText(s.chart().PointValue(0, 1)), PointText(1 / (40004 * 2.5e-8)));
  QCOMPARE(s.chart().PointValue(1, 0), 1000.0);

  // A cancelled dialog resets the title and changes nothing else.
  s.next_file.clear();
  w.Form().Buttons().load->click();
  QCOMPARE(s.chart().Title(), QString("K390 Jitter Data"));
  QCOMPARE(w.Form().FigureBox(analysis::Figure::kAverageTicks)->text(), QString("40000"));
}

void TFmainTest::LoadOfAFrequencyFileSelectsTheFrequencyView() {
  Session s;
  TFmain& w = s.w();
  s.Load(";Sample,Frequency(Hz)\r\n0,1000\r\n1,999.900009999\r\n2,1000.100010001\r\n", "freq.JIT");
  QVERIFY(s.errors.isEmpty());
  QCOMPARE(w.Graph(), GraphView::kFrequency);
  QCOMPARE(w.Pass().Loaded().values, (Values{40000, 40004, 39996}));
  QCOMPARE(s.chart().Title(), QString("K390 Jitter Data  [freq.JIT]"));
  QCOMPARE(s.chart().LeftAxisTitle(), QString("Pulse Frequency (Hz)"));
  QCOMPARE(s.chart().PointCount(0), 3);
  QCOMPARE(s.chart().PointValue(0, 0), 1000.0);
  QCOMPARE(w.Form().FigureBox(analysis::Figure::kAverageTicks)->text(), QString("40000"));

  // A header that matches neither form: the view stays, the pass runs on an empty list.
  s.Load(";Sample,Frequency(Hz) \r\n0,1000\r\n", "odd.JIT");
  QVERIFY(s.errors.isEmpty());
  QCOMPARE(w.Graph(), GraphView::kFrequency);
  QCOMPARE(s.chart().Title(), QString("K390 Jitter Data"));
  QVERIFY(w.Pass().Loaded().values.empty());
  QCOMPARE(w.Form().FigureBox(analysis::Figure::kAverageTicks)->text(), QString());
  QCOMPARE(w.Form().FigureBox(analysis::Figure::kCh1Frequency)->text(), QString("1000.0000"));
}

void TFmainTest::LoadFailuresLeaveViewAndTitle() {
  Session s;
  TFmain& w = s.w();
  s.Load(";Sample,Frequency(Hz)\r\n0,1000\r\n1,0\r\n2,1000\r\n", "zero.JIT");
  QCOMPARE(s.errors, QStringList{"Floating point division by zero."});
  QCOMPARE(w.Graph(), GraphView::kInterval);
  QCOMPARE(s.chart().Title(), QString("K390 Jitter Data"));
  QCOMPARE(w.Pass().Loaded().values, Values{40000});
  QVERIFY(!w.Cycle().FromFile());

  // A file that cannot be opened leaves the loaded values as they were.
  s.errors.clear();
  s.next_file = s.File("missing.JIT");
  w.Form().Buttons().load->click();
  QCOMPARE(s.errors.size(), 1);
  QCOMPARE(w.Pass().Loaded().values, Values{40000});

  // A value the pass cannot convert ends the pass with the conversion error.
  s.errors.clear();
  s.Load(";Sample,TDelta(x25ns)\r\n0,40000\r\n1,4x\r\n", "bad.JIT");
  QCOMPARE(s.errors, QStringList{"'4x' is not a valid integer value."});
  QVERIFY(w.Form().Buttons().load->isEnabled());
}

void TFmainTest::LoadsViewSwitchPassSeesTheNewList() {
  Session s;
  TFmain& w = s.w();
  s.Load(kIntervalFile, "wide.JIT");
  s.Item("Frequency")->click();
  w.Form().Buttons().peak_reset->click();
  QCOMPARE(w.Form().FigureBox(analysis::Figure::kHeldPeakToPeakPercent)->text(), QString());

  // Back to the interval view through the Load: the switch's own pass already runs on the new,
  // narrower list, so the wide list's P-P peak is not held again.
  s.Load(";Sample,TDelta(x25ns)\r\n0,40000\r\n1,40001\r\n2,39999\r\n3,40000\r\n", "narrow.JIT");
  QVERIFY(s.errors.isEmpty());
  QCOMPARE(w.Graph(), GraphView::kInterval);
  QCOMPARE(w.Form().FigureBox(analysis::Figure::kPeakToPeakPercent)->text(), QString("0.0050"));
  QCOMPARE(w.Form().FigureBox(analysis::Figure::kHeldPeakToPeakPercent)->text(), QString("0.0050"));
  QCOMPARE(s.chart().Title(), QString("K390 Jitter Data  [narrow.JIT]"));
}

void TFmainTest::SaveThenLoadInBothForms() {
  Session s;
  TFmain& w = s.w();
  // Right after start-up the series is empty: the header alone.
  s.next_file = s.File("empty.JIT");
  w.Form().Buttons().save->click();
  QCOMPARE(ReadBytes(s.next_file), QByteArray(";Sample,TDelta(x25ns)\r\n"));

  s.Load(kIntervalFile);
  s.next_file = s.File("saved.JIT");
  w.Form().Buttons().save->click();
  QCOMPARE(ReadBytes(s.next_file), kIntervalFile);

  s.Item("Frequency")->click();
  s.next_file = s.File("saved_f.JIT");
  w.Form().Buttons().save->click();
  QCOMPARE(ReadBytes(s.next_file),
           QByteArray(";Sample,Frequency(Hz)\r\n0,1000\r\n1,999.900009999\r\n"
                      "2,1000.100010001\r\n3,1000\r\n"));
  s.Item("Interval")->click();

  w.Form().Buttons().peak_reset->click();
  s.next_file = s.File("saved_f.JIT");
  w.Form().Buttons().load->click();
  QVERIFY(s.errors.isEmpty());
  QCOMPARE(w.Graph(), GraphView::kFrequency);
  QCOMPARE(w.Pass().Loaded().values, (Values{40000, 40004, 39996, 40000}));
  QCOMPARE(w.Form().FigureBox(analysis::Figure::kAverageTicks)->text(), QString("40000"));
  QCOMPARE(w.Form().FigureBox(analysis::Figure::kPeakToPeak)->text(), QString("8"));
  QCOMPARE(w.Form().FigureBox(analysis::Figure::kRms)->text(), QString("6"));

  s.next_file = s.File("saved.JIT");
  w.Form().Buttons().load->click();
  QCOMPARE(w.Graph(), GraphView::kInterval);
  QCOMPARE(w.Form().FigureBox(analysis::Figure::kPeakToPeakPercent)->text(), QString("0.0200"));
  QCOMPARE(s.dialogs.count(TFmain::FileDialog::kSave), 3);
}

void TFmainTest::SaveInTheHistogramViewWritesFrequencies() {
  Session s("HISTOGRAM=1\r\n");
  TFmain& w = s.w();
  s.Load(kIntervalFile);
  s.Item("Histogram")->click();
  QCOMPARE(w.Graph(), GraphView::kHistogram);
  s.next_file = s.File("histogram.JIT");
  w.Form().Buttons().save->click();
  QCOMPARE(ReadBytes(s.next_file),
           QByteArray(";Sample,Frequency(Hz)\r\n0,1000\r\n1,999.900009999\r\n"
                      "2,1000.100010001\r\n3,1000\r\n"));
}

void TFmainTest::ChartFeedThroughTheWindow() {
  // The filter on a single channel: series 2 is the smoothed trace, with gaps where it has no
  // value; a zero interval is drawn as it is in the interval view and as 0 Hz in the other.
  Session s("FILTERLEN=3\r\n");
  s.Load(";Sample,TDelta(x25ns)\r\n0,40000\r\n1,40004\r\n2,39996\r\n3,40000\r\n4,40008\r\n");
  presentation::PulseChart& chart = s.chart();
  QCOMPARE(chart.SeriesTitle(2), QString("Filter"));
  QCOMPARE(chart.PointCount(0), 5);
  QCOMPARE(chart.PointCount(1), 5);
  QCOMPARE(chart.PointCount(2), 5);
  QVERIFY(std::isnan(chart.PointValue(2, 0)));
  QCOMPARE(chart.PointValue(2, 1), 40001.0);
  QCOMPARE(chart.PointValue(2, 2), 39999.0);
  QCOMPARE(chart.PointValue(2, 3), 40001.0);
  QVERIFY(std::isnan(chart.PointValue(2, 4)));
  QCOMPARE(chart.PointLabel(0, 0), QString("1000.0000Hz"));
  QCOMPARE(chart.VisibleLabel(0), -1);
  QCOMPARE(chart.LineWidth(0), 2);
  QCOMPARE(chart.LineWidth(2), 2);

  // Dual channel checked: no filter, the second trace is channel 2 (empty for a loaded list).
  Session d("DUALCHANNEL=TRUE\r\nFILTERLEN=3\r\n");
  d.Load(";Sample,TDelta(x25ns)\r\n0,40000\r\n1,0\r\n2,40000\r\n");
  QCOMPARE(d.chart().SeriesTitle(2), QString("Ch2"));
  QCOMPARE(d.chart().PointCount(2), 0);
  QCOMPARE(d.chart().PointValue(0, 1), 0.0);
  QCOMPARE(d.chart().PointLabel(0, 1), QString("0.0000Hz"));
  d.Item("Frequency")->click();
  QCOMPARE(d.chart().PointValue(0, 1), 0.0);
  QCOMPARE(d.chart().PointValue(0, 0), 1000.0);
}

void TFmainTest::AxisLimitsFollowUnitsAndView_data() {
  QTest::addColumn<bool>("percent");
  QTest::addColumn<int>("view");
  QTest::addColumn<int>("scale");
  QTest::addColumn<double>("minimum");
  QTest::addColumn<double>("maximum");
  QTest::newRow("bits, interval") << false << 0 << 100 << 39900.0 << 40100.0;
  QTest::newRow("percent, interval") << true << 0 << 10 << 36000.0 << 44000.0;
  QTest::newRow("bits, frequency") << false << 1 << 50 << 950.0 << 1050.0;
  QTest::newRow("percent, frequency") << true << 1 << 20 << 800.0 << 1200.0;
}

void TFmainTest::AxisLimitsFollowUnitsAndView() {
  QFETCH(bool, percent);
  QFETCH(int, view);
  QFETCH(int, scale);
  QFETCH(double, minimum);
  QFETCH(double, maximum);
  Session s;
  TFmain& w = s.w();
  s.Load(";Sample,TDelta(x25ns)\r\n0,40000\r\n1,40000\r\n");
  if (percent) w.Form().Scale().percent->click();
  const double before = s.chart().LeftAxisMaximum();
  w.SetValue(w.Form().Scale().scale, scale + 1);
  // The scale alone redraws nothing; the next feed takes it.
  QCOMPARE(s.chart().LeftAxisMaximum(), before);
  w.SetValue(w.Form().Scale().scale, scale);
  w.SetGraph(view == 0 ? GraphView::kFrequency : GraphView::kInterval);
  w.SetGraph(static_cast<GraphView>(view));
  QCOMPARE(s.chart().LeftAxisMinimum(), minimum);
  QCOMPARE(s.chart().LeftAxisMaximum(), maximum);
}

void TFmainTest::ClickingPointsShowsOneLabel() {
  Session s;
  TFmain& w = s.w();
  QByteArray file(";Sample,TDelta(x25ns)\r\n");
  for (int i = 0; i < 20; ++i)
    file += QByteArray::number(i) + "," + QByteArray::number(40000 + i) + "\r\n";
  s.Load(file);
  w.Chart1ClickSeries(0, 7);
  QCOMPARE(s.chart().VisibleLabel(0), 7);
  w.Chart1ClickSeries(0, 12);
  QCOMPARE(s.chart().VisibleLabel(0), 12);
  QCOMPARE(s.chart().PointLabel(0, 12), QString("999.7001Hz"));
  // The other series draw no labels.
  w.Chart1ClickSeries(1, 3);
  QCOMPARE(s.chart().VisibleLabel(0), 12);
  // The next feed hides them all again.
  s.Item("Frequency")->click();
  QCOMPARE(s.chart().VisibleLabel(0), -1);

  // A real click on a drawn point reaches the handler through the chart. A narrow scale keeps
  // the point well apart from the average line drawn above it.
  w.SetValue(w.Form().Scale().scale, 20);
  s.Item("Interval")->click();
  w.show();
  QVERIFY(QTest::qWaitForWindowExposed(&w));
  s.chart().Replot();
  const QPoint at = s.chart().PointPosition(0, 1);
  QVERIFY(at.x() >= 0);
  QWidget* target = s.chart().Widget()->childAt(at);
  QVERIFY(target != nullptr);
  QTest::mouseClick(target, Qt::LeftButton, {}, target->mapFrom(s.chart().Widget(), at));
  QCOMPARE(s.chart().VisibleLabel(0), 1);
}

void TFmainTest::HistogramViewSwapsTheCharts() {
  Session s("HISTOGRAM=TRUE\r\nSAMPLES=60\r\n");
  TFmain& w = s.w();
  QCOMPARE(w.GraphItemCount(), 3);
  s.Load(kIntervalFile);
  s.Item("Histogram")->click();
  QVERIFY(!w.PulseChartInFront());
  QCOMPARE(w.Form().Scale().scale_caption->text(), QString("Horizontal Scale"));
  QCOMPARE(s.chart().LeftAxisTitle(), QString("Pulse Frequency (Hz)"));
  QCOMPARE(w.Form().Charts().histogram->BarCount(), 200);
  QCOMPARE(w.Form().Charts().histogram->LeftAxisMaximum(), 61.0);
  QCOMPARE(w.Form().Charts().histogram->BarValue(100), 4.0);
  // The pulse chart keeps its last points behind the histogram.
  QCOMPARE(s.chart().PointCount(0), 4);
  QCOMPARE(s.chart().PointValue(0, 0), 40000.0);

  s.Item("Interval")->click();
  QVERIFY(w.PulseChartInFront());
  QCOMPARE(w.Form().Scale().scale_caption->text(), QString("Vertical Scale +/-"));
}

void TFmainTest::FlightTimeAndPeakReset() {
  Session s;
  TFmain& w = s.w();
  s.Load(kIntervalFile);
  w.SetText(w.Form().Flight().time_ms, "100");
  QCOMPARE(w.Form().Flight().pulses->text(), QString("(100 pulses)"));
  QCOMPARE(w.Form().FigureBox(analysis::Figure::kQualityFactor)->text(), QString("0.0002"));
  QCOMPARE(w.Form().FigureBox(analysis::Figure::kHeldQualityFactor)->text(), QString("0.0002"));
  // Typed digit by digit, the held maximum keeps the largest factor on the way.
  w.Form().Flight().time_ms->clear();
  QTest::keyClicks(w.Form().Flight().time_ms, "10");
  QCOMPARE(w.Form().Flight().pulses->text(), QString("(10 pulses)"));
  QCOMPARE(w.Form().FigureBox(analysis::Figure::kQualityFactor)->text(), QString("0.0020"));
  QCOMPARE(w.Form().FigureBox(analysis::Figure::kHeldQualityFactor)->text(), QString("0.0200"));
  w.Form().Buttons().peak_reset->click();
  QCOMPARE(w.Form().FigureBox(analysis::Figure::kHeldQualityFactor)->text(), QString());
  QCOMPARE(w.Form().FigureBox(analysis::Figure::kHeldPeakToPeakPercent)->text(), QString());
  QCOMPARE(w.Pass().Held().pp_percent, 0.0);
  // Emptying the box blanks the figures.
  w.Form().Flight().time_ms->selectAll();
  QTest::keyClick(w.Form().Flight().time_ms, Qt::Key_Backspace);
  QCOMPARE(w.Form().Flight().pulses->text(), QString());
  QCOMPARE(w.Form().FigureBox(analysis::Figure::kQualityFactor)->text(), QString());
}

void TFmainTest::ARefusedChartFeedKeepsTheLaterFigures() {
  Session s;
  TFmain& w = s.w();
  w.SetText(w.Form().Flight().time_ms, "1");
  s.Load(kIntervalFile);
  QCOMPARE(w.Form().FigureBox(analysis::Figure::kHeldQualityFactor)->text(), QString("0.0200"));

  // The last five intervals put the centre far below 0, so the chart refuses its limits: the
  // figures known before the feed are new, the later ones and the held quality factor are not.
  QByteArray file = ";Sample,TDelta(x25ns)\r\n";
  for (int i = 0; i < 105; ++i)
    file += QByteArray::number(i) + (i < 100 ? ",40000\r\n" : ",-10000\r\n");
  s.Load(file);
  QCOMPARE(s.errors, QStringList{"Axis Maximum Value must be >= Minimum."});
  QCOMPARE(w.Form().FigureBox(analysis::Figure::kAverageTicks)->text(), QString("37619"));
  QCOMPARE(w.Form().FigureBox(analysis::Figure::kHeldPeakToPeakPercent)->text(),
           w.Form().FigureBox(analysis::Figure::kPeakToPeakPercent)->text());
  QCOMPARE(w.Form().FigureBox(analysis::Figure::kCh1Seconds)->text(), QString("0.001000000000"));
  QCOMPARE(w.Form().Flight().pulses->text(), QString("(1 pulses)"));
  QCOMPARE(w.Form().FigureBox(analysis::Figure::kHeldQualityFactor)->text(), QString("0.0200"));
  QCOMPARE(w.Pass().Held().quality, 0.02);
  QCOMPARE(s.chart().PointCount(0), 4);
  QVERIFY(w.Form().Buttons().load->isEnabled());
}

void TFmainTest::LostStreamWordsStayOnScreen() {
  Session s("STREAM=UDP\r\n");
  TFmain& w = s.w();
  w.show();
  QVERIFY(!w.Form().Capture().lost_words->isVisible());
  w.ShowStreamCounts({1234, 3, 2});
  QVERIFY(w.Form().Capture().lost_words->isVisible());
  QCOMPARE(w.Form().Capture().lost_words->text(), QString("Lost 1234"));
  QCOMPARE(w.Form().Capture().lost_words->toolTip(),
           QString("1234 stream words lost since streaming started\n"
                   "3 datagrams from other senders refused\n"
                   "2 bytes that made no whole word"));
  QVERIFY(w.Form().Capture().lost_words->accessibleName().contains("1234 stream words lost"));
  // Datagrams from elsewhere show without a lost word.
  w.ShowStreamCounts({0, 3, 0});
  QVERIFY(w.Form().Capture().lost_words->isVisible());
  QCOMPARE(w.Form().Capture().lost_words->toolTip(),
           QString("3 datagrams from other senders refused"));
  // A new start counts from zero again and the warning goes.
  w.ShowStreamCounts({});
  QVERIFY(!w.Form().Capture().lost_words->isVisible());
}

void TFmainTest::ErrorTextAddsAFullStop_data() {
  QTest::addColumn<QString>("message");
  QTest::addColumn<QString>("shown");
  QTest::newRow("letter") << "abc"
                          << "abc.";
  QTest::newRow("full stop") << "abc."
                             << "abc.";
  QTest::newRow("exclamation mark, below the full stop") << "abc!"
                                                         << "abc!";
  QTest::newRow("bracket, below the full stop") << "x)"
                                                << "x)";
  QTest::newRow("digit") << "error 10061"
                         << "error 10061.";
  QTest::newRow("slash, just above") << "a/"
                                     << "a/.";
  QTest::newRow("quote, below") << "'x'"
                                << "'x'";
  QTest::newRow("empty") << ""
                         << "";
}

void TFmainTest::ErrorTextAddsAFullStop() {
  QFETCH(QString, message);
  QFETCH(QString, shown);
  QCOMPARE(TFmain::ErrorText(message), shown);
}

void TFmainTest::ErrorDisplayIsModalAndTheLoopGoesOn() {
  Session s;
  TFmain& w = s.w();
  w.SetHooks({});  // the real display
  w.show();
  QString title;
  QString text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  bool modal = false;
  // No stream log in this folder: the resample tool fails. The box waits until the handler has
  // returned.
  w.Form().Buttons().resample->click();
  QVERIFY(QApplication::activeModalWidget() == nullptr);
  // The box is closed from inside its own loop, which shows that events keep flowing.
  QTimer::singleShot(0, &w, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) return;
    title = box->windowTitle();
    text = box->text();
    icon = box->icon();
    modal = box->isModal();
    box->accept();
  });
  QCoreApplication::processEvents();
  QCOMPARE(title, QString("K390cap"));
  QVERIFY(text.endsWith('.'));
  QVERIFY(text.contains("stream.dat"));
  QCOMPARE(icon, QMessageBox::Critical);
  QVERIFY(modal);

  // The handler's failure leaves the window working.
  bool later = false;
  QTimer::singleShot(0, &w, [&] { later = true; });
  QCoreApplication::processEvents();
  QVERIFY(later);
  w.SetText(w.Form().Capture().port, "99");
  QCOMPARE(s.Setting("PORT"), QString("99"));
}

void TFmainTest::LayoutKeepsEdgeControlsAtTheirEdges() {
  Session s;
  TFmain& w = s.w();
  QCOMPARE(w.size(), QSize(1148, 703));
  QCOMPARE(w.Form().Regions().bottom_bar->geometry(), QRect(0, 703 - 36, 1148, 36));
  QCOMPARE(w.Form().Regions().top_bar->geometry(), QRect(0, 0, 1148, 41));
  QCOMPARE(w.Form().Regions().right_column->geometry(), QRect(1148 - 103, 41, 103, 626));
  QCOMPARE(w.Form().Charts().area->geometry(), QRect(0, 41, 1045, 626));
  QCOMPARE(w.Form().Charts().pulse->Widget()->geometry(),
           w.Form().Charts().histogram->Widget()->geometry());
  QCOMPARE(w.Form().Charts().graph_selector->mapTo(&w, QPoint(0, 0)), QPoint(922, 544));
  QCOMPARE(w.Form().Capture().sample->geometry(), QRect(1065, 6, 57, 23));
  QCOMPARE(w.Form().Capture().address->geometry(), QRect(24, 6, 121, 21));

  w.show();
  w.resize(1400, 800);
  QCOMPARE(w.Form().Capture().sample->geometry().left(), 1400 - (1148 - 1065));
  QCOMPARE(w.Form().Capture().stream->geometry().left(), 1400 - (1148 - 871));
  QCOMPARE(w.Form().Capture().auto_sample->geometry().left(), 1400 - (1148 - 982));
  QCOMPARE(w.Form().Buttons().resample->geometry().left(), 1400 - (1148 - 1058));
  QCOMPARE(w.Form().Charts().graph_selector->mapTo(&w, QPoint(0, 0)), QPoint(922 + 252, 544 + 97));
  QCOMPARE(w.Form().Regions().bottom_bar->geometry(), QRect(0, 800 - 36, 1400, 36));
  QCOMPARE(w.Form().Capture().address->geometry(), QRect(24, 6, 121, 21));
  QCOMPARE(w.Form().FigureBox(analysis::Figure::kAverageTicks)->geometry(), QRect(12, 36, 69, 21));

  // Initial states of the layout.
  QVERIFY(w.Form().Buttons().print->isHidden());
  QVERIFY(w.Form().Buttons().resample->isHidden());
  QVERIFY(w.Form().Charts().reply_log->isHidden());
  for (QLineEdit* box : {w.Form().FigureBox(analysis::Figure::kAverageTicks),
                         w.Form().FigureBox(analysis::Figure::kPeakPositive),
                         w.Form().FigureBox(analysis::Figure::kPeakNegative),
                         w.Form().FigureBox(analysis::Figure::kPeakToPeak),
                         w.Form().FigureBox(analysis::Figure::kPeakToPeakPercent),
                         w.Form().FigureBox(analysis::Figure::kHeldPeakToPeakPercent),
                         w.Form().FigureBox(analysis::Figure::kRms),
                         w.Form().FigureBox(analysis::Figure::kRmsPercent),
                         w.Form().FigureBox(analysis::Figure::kQualityFactor),
                         w.Form().FigureBox(analysis::Figure::kHeldQualityFactor),
                         w.Form().FigureBox(analysis::Figure::kCh1Seconds),
                         w.Form().FigureBox(analysis::Figure::kCh1Frequency),
                         w.Form().FigureBox(analysis::Figure::kCh2Seconds),
                         w.Form().FigureBox(analysis::Figure::kCh2Frequency)}) {
    QVERIFY2(!box->isEnabled(), qPrintable(box->objectName()));
    QVERIFY2(box->alignment() & Qt::AlignRight, qPrintable(box->objectName()));
  }
  QVERIFY(w.Form().Flight().time_ms->isEnabled());
  QCOMPARE(w.Form().Capture().samples->MaxChars(), 4);
  QCOMPARE(w.Form().Scale().filter->MaxChars(), 2);
  QCOMPARE(w.Form().Scale().filter->Step(), 2);
  QCOMPARE(w.Form().Scale().filter->text(), QString("3"));
}

void TFmainTest::EveryControlHasAnAccessibleNameAndItsName() {
  Session s("HISTOGRAM=1\r\n");
  const char* const kControls[] = {
      "Panel1",   "Panel2",      "Panel3",     "Label1",   "Eip",        "Label2",    "Eport",
      "Label3",   "SEsamples",   "Lscale",     "SEvscale", "RBbits",     "RBpct",     "Lfilter",
      "SEfilter", "CBdual",      "CBstream",   "CBactive", "Bsample",    "Label4",    "Eint1",
      "Label6",   "Efreq1",      "Label5",     "Label9",   "Eint2",      "Label7",    "Efreq2",
      "Label8",   "Bftest",      "Label17",    "Esampavg", "Label12",    "Epkpos",    "Epkneg",
      "Ejitpp",   "Label18",     "Ejitpp_pct", "Label15",  "Ejitpp_max", "Label24",   "Label14",
      "Ejitrms",  "Ejitrms_pct", "Label16",    "Label19",  "Eprove_ms",  "Label20",   "Lpcycles",
      "Label22",  "Eprove_err",  "Label21",    "Epqf",     "Label23",    "Bpqfreset", "Bload",
      "Bsave",    "Bprint",      "Chart1",     "Chart2",   "Memo1",      "RGgsel"};
  for (const char* name : kControls) {
    const auto* control = s.w().findChild<QWidget*>(QString::fromLatin1(name));
    QVERIFY2(control != nullptr, name);
    QVERIFY2(!control->accessibleName().isEmpty(), name);
    QCOMPARE(control->accessibleDescription(), QString::fromLatin1(name));
  }
  // A box without a caption of its own is named after the caption beside it.
  QCOMPARE(s.w().Form().FigureBox(analysis::Figure::kAverageTicks)->accessibleName(),
           QString("Sample Avg"));
  QCOMPARE(s.w().Form().Capture().sample->accessibleName(), QString("Sample"));
  for (QRadioButton* item : s.w().Form().Charts().graph_selector->findChildren<QRadioButton*>()) {
    QVERIFY(!item->accessibleName().isEmpty());
  }
  QCOMPARE(s.w().Form().Charts().graph_selector->findChildren<QRadioButton*>().size(), 3);
}

// The code's names for the controls are its own; scripts find the controls by their object
// names. A group member or figure box wired to the wrong control shows here.
void TFmainTest::EachHandedOutControlIsTheOneItsObjectNameNames() {
  Session s("ANALYSIS=TRUE\r\n");
  const app::FmainForm& form = s.w().Form();
  const std::pair<const QObject*, const char*> kControls[] = {
      {form.Regions().bottom_bar, "Panel1"},
      {form.Regions().top_bar, "Panel2"},
      {form.Regions().right_column, "Panel3"},
      {form.Capture().address, "Eip"},
      {form.Capture().port, "Eport"},
      {form.Capture().samples, "SEsamples"},
      {form.Capture().dual_channel, "CBdual"},
      {form.Capture().stream, "CBstream"},
      {form.Capture().lost_words, "Llost"},
      {form.Capture().auto_sample, "CBactive"},
      {form.Capture().sample, "Bsample"},
      {form.Scale().scale_caption, "Lscale"},
      {form.Scale().scale, "SEvscale"},
      {form.Scale().bits, "RBbits"},
      {form.Scale().percent, "RBpct"},
      {form.Scale().filter_caption, "Lfilter"},
      {form.Scale().filter, "SEfilter"},
      {form.Flight().time_ms, "Eprove_ms"},
      {form.Flight().pulses, "Lpcycles"},
      {form.Buttons().peak_reset, "Bpqfreset"},
      {form.Buttons().load, "Bload"},
      {form.Buttons().save, "Bsave"},
      {form.Buttons().print, "Bprint"},
      {form.Buttons().resample, "Bftest"},
      {form.Charts().area, "ChartArea"},
      {form.Charts().pulse->Widget(), "Chart1"},
      {form.Charts().histogram->Widget(), "Chart2"},
      {form.Charts().tie->Widget(), "Chart3"},
      {form.Charts().stability->Widget(), "Chart4"},
      {form.Charts().reply_log, "Memo1"},
      {form.Charts().graph_selector, "RGgsel"},
      {form.Charts().readout, "Lreadout"},
      {form.Charts().pulse_counts, "Lpulses"},
      {form.Charts().run_line, "Lrun"},
  };
  for (const auto& [control, name] : kControls) {
    QCOMPARE(control->objectName(), QString::fromLatin1(name));
  }
  // Each figure's box carries the name k390tool prints for the figure.
  for (size_t f = 0; f < analysis::kFigureCount; ++f) {
    const auto figure = static_cast<analysis::Figure>(f);
    const QLineEdit* box = form.FigureBox(figure);
    if (figure == analysis::Figure::kFlightPulses) {
      QVERIFY(box == nullptr);
      continue;
    }
    QVERIFY(box != nullptr);
    const std::string_view name = analysis::FigureName(figure);
    QCOMPARE(box->objectName(), QString::fromLatin1(name.data(), qsizetype(name.size())));
  }
}

QTEST_MAIN(TFmainTest)
#include "tfmain_qtest.moc"
