#pragma once

#include <QHash>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "analysis/processing_pass.h"
#include "app/capture_cycle.h"

class QAbstractButton;
class QButtonGroup;
class QCheckBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;

namespace presentation {
class HistogramChart;
class PulseChart;
}  // namespace presentation

namespace app {

class SpinEdit;

// The one window of the system: every control, the two charts, and every handler, named after
// the control and its event. The handlers stay short: they read their controls, call one piece
// of the layers below and write the result back. Window thread only.
//
// Control events: an operator's change arrives through the control's own user signal and runs
// the handler under the error display; a change from code goes through SetText / SetChecked /
// SetValue / SetItemIndex, which run the handler directly when what the control shows changes,
// so that an error propagates to the handler that made the change.
class TFmain : public QWidget, public CycleView {
  Q_OBJECT

 public:
  enum class FileDialog { kOpen, kSave };

  // Replaceable platform parts: the standard error display and the two file dialogs (a file
  // name, or empty for a cancel). Empty functions select the real ones.
  struct Hooks {
    std::function<void(const QString& message)> show_error;
    std::function<QString(FileDialog dialog)> choose_file;
  };

  // Builds the layout and runs FormCreate. `exe_dir` is the folder of the settings file and the
  // stream logs, ending with a separator; empty means the executable's folder.
  explicit TFmain(QString exe_dir = {}, Hooks hooks = {}, QWidget* parent = nullptr);
  ~TFmain() override;

  // The standard error display's text: a full stop is added when the message ends in a
  // character above '.'.
  static QString ErrorText(const QString& message);

  // Handlers.
  void FormCreate();
  void FormClose();
  void EipChange();
  void EportChange();
  void SEsamplesChange();
  void SEvscaleChange();
  void SEfilterChange();
  void RBbitsClick();
  void RBpctClick();
  void CBdualClick();
  void CBstreamClick();
  void CBactiveClick();
  void BsampleClick();
  void BftestClick();
  void Eprove_msChange();
  void BpqfresetClick();
  void BloadClick();
  void BsaveClick();
  void RGgselClick();
  void Chart1ClickSeries(int series, int index);
  void Chart1MouseMove();
  void Timer1Timer();
  void ClientSocket1Read();
  void IdUDPServer1UDPRead(std::span<const uint8_t> datagram);

  // Programmatic control changes that run the control's handler when what it shows changes.
  void SetText(QLineEdit* edit, const QString& text);
  void SetChecked(QAbstractButton* button, bool checked);
  void SetValue(SpinEdit* box, int value);
  void SetItemIndex(int index);

  // The processing pass on RxBuffer and FromFile as they stand.
  void ProcessSamples() override;
  void LockFileButtons() override;
  void UnlockFileButtons() override;

  // Unlock the file buttons unless AutoSample or Stream is checked, set ClearRxOnNext, switch
  // Timer1 on. Runs at the end of every pass, after an early end or an error too.
  void EndSteps();

  // The view the graph selector shows.
  analysis::GraphView Graph() const;

  // app::CycleView
  bool StreamChecked() const override;
  QString HostText() const override;
  QString PortText() const override;
  QString SamplesText() const override;
  int SamplesValue() const override;
  bool DualChecked() const override;
  bool AutoSampleChecked() const override;
  void SetAutoSampleChecked(bool checked) override;
  void SetAutoSampleEnabled(bool enabled) override;
  void SetSampleEnabled(bool enabled) override;
  void SetStreamEnabled(bool enabled) override;
  void SetChartTitle(const QString& first_line) override;
  void ReportError(const QString& message) override;
  void Beep() override;
  void ShowLostWords(uint64_t lost) override;

  // What the rest of the program and the tests reach besides the named controls.
  const std::string& IniPath() const { return ini_path_; }
  const std::string& ExeDir() const { return exe_dir_; }
  analysis::ProcessingPass& Pass() { return pass_; }
  CaptureCycle& Cycle() { return *cycle_; }
  presentation::PulseChart& Chart1() { return *chart1_; }
  presentation::HistogramChart& Chart2() { return *chart2_; }
  // True while the pulse chart stands in front of the histogram chart.
  bool PulseChartInFront() const;
  int GraphItemCount() const { return static_cast<int>(rggsel_items_.size()); }
  void SetHooks(Hooks hooks);

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void FillMemo();
  bool memo_stale_ = false;  // Memo1 lags the last pass's reply log until it is shown
  using Handler = void (TFmain::*)();

  void BuildLayout();
  void BuildBottomBar();
  void BuildTopBar();
  void BuildRightColumn();
  void BuildChartArea();
  void SetNames(QWidget* widget, const char* name, const QString& spoken);
  void WireHandlers();
  void PlaceEdgeControls();

  // Runs `action` under the standard error display.
  void Guarded(const std::function<void()>& action);
  // Runs the handler attached to `control`, if any, under the error display.
  void RunAttached(const QObject* control);
  // Runs the handler attached to `control`, if any, letting errors through.
  void RunHandler(const QObject* control);
  void Attach(const QObject* control, Handler handler) { handlers_.insert(control, handler); }
  void Detach(const QObject* control) { handlers_.remove(control); }
  // Queues the message for the error display, which shows it once the running handler has
  // returned: a modal box inside a socket or timer handler would hold that handler's limits
  // while its nested event loop kept the sockets reading. A message already waiting is not
  // queued twice. A replacement display (Hooks) is not modal and gets the message at once.
  void ShowError(const QString& message);
  void ShowQueuedErrors();
  QString ChooseFile(FileDialog dialog);

  std::string ReadSetting(const char* key, const char* default_value) const;
  void WriteSetting(const char* key, const std::string& value) const;
  void ApplyUnits(bool bits);
  void SetChart1InFront(bool in_front);
  analysis::PassOptions CurrentPassOptions() const;
  void ApplyPassResult(const analysis::PassResult& result, analysis::GraphView view);
  void ApplyFlightFigures(const analysis::FlightFigures& flight);
  void FeedChart(const analysis::ChartInput& input);
  void BuildHistogram(const acquisition::PulseData& data);
  void KeepDrawnIntervals(const acquisition::PulseData& data);
  QLineEdit* FigureBox(analysis::Figure figure) const;
  QString FigureText(analysis::Figure figure) const;
  void SetFigureText(analysis::Figure figure, const std::string& text);

  std::string exe_dir_;
  std::string ini_path_;
  Hooks hooks_;
  QStringList queued_errors_;
  bool error_box_open_ = false;
  analysis::ProcessingPass pass_;
  std::unique_ptr<CaptureCycle> cycle_;
  QHash<const QObject*, Handler> handlers_;
  // The channel 1 intervals of the last pass that drew, for a Save in the histogram view.
  std::vector<double> drawn_intervals_;

 public:
  // The regions.
  QFrame* Panel1 = nullptr;  // bottom bar
  QFrame* Panel2 = nullptr;  // top bar
  QFrame* Panel3 = nullptr;  // right column
  QWidget* ChartArea = nullptr;

  // Bottom bar.
  QLabel* Label1 = nullptr;
  QLineEdit* Eip = nullptr;
  QLabel* Label2 = nullptr;
  QLineEdit* Eport = nullptr;
  QLabel* Label3 = nullptr;
  SpinEdit* SEsamples = nullptr;
  QLabel* Lscale = nullptr;
  SpinEdit* SEvscale = nullptr;
  QRadioButton* RBbits = nullptr;
  QRadioButton* RBpct = nullptr;
  QLabel* Lfilter = nullptr;
  SpinEdit* SEfilter = nullptr;
  QCheckBox* CBdual = nullptr;
  QCheckBox* CBstream = nullptr;
  QLabel* Llost = nullptr;  // stream words lost to a ring overflow, shown only when some were
  QCheckBox* CBactive = nullptr;
  QPushButton* Bsample = nullptr;

  // Top bar.
  QLabel* Label4 = nullptr;
  QLineEdit* Eint1 = nullptr;
  QLabel* Label6 = nullptr;
  QLineEdit* Efreq1 = nullptr;
  QLabel* Label5 = nullptr;
  QLabel* Label9 = nullptr;
  QLineEdit* Eint2 = nullptr;
  QLabel* Label7 = nullptr;
  QLineEdit* Efreq2 = nullptr;
  QLabel* Label8 = nullptr;
  QPushButton* Bftest = nullptr;

  // Right column.
  QLabel* Label17 = nullptr;
  QLineEdit* Esampavg = nullptr;
  QLabel* Label12 = nullptr;
  QLineEdit* Epkpos = nullptr;
  QLineEdit* Epkneg = nullptr;
  QLineEdit* Ejitpp = nullptr;
  QLabel* Label18 = nullptr;
  QLineEdit* Ejitpp_pct = nullptr;
  QLabel* Label15 = nullptr;
  QLineEdit* Ejitpp_max = nullptr;
  QLabel* Label24 = nullptr;
  QLabel* Label14 = nullptr;
  QLineEdit* Ejitrms = nullptr;
  QLineEdit* Ejitrms_pct = nullptr;
  QLabel* Label16 = nullptr;
  QLabel* Label19 = nullptr;
  QLineEdit* Eprove_ms = nullptr;
  QLabel* Label20 = nullptr;
  QLabel* Lpcycles = nullptr;
  QLabel* Label22 = nullptr;
  QLineEdit* Eprove_err = nullptr;
  QLabel* Label21 = nullptr;
  QLineEdit* Epqf = nullptr;
  QLabel* Label23 = nullptr;
  QPushButton* Bpqfreset = nullptr;
  QPushButton* Bload = nullptr;
  QPushButton* Bsave = nullptr;
  QPushButton* Bprint = nullptr;

  // Chart area.
  QPlainTextEdit* Memo1 = nullptr;
  QGroupBox* RGgsel = nullptr;

 private:
  std::unique_ptr<presentation::PulseChart> chart1_;
  std::unique_ptr<presentation::HistogramChart> chart2_;
  QButtonGroup* rggsel_group_ = nullptr;
  std::vector<QRadioButton*> rggsel_items_;
  // The figure boxes by figure; Lpcycles is a label and has none.
  std::array<QLineEdit*, analysis::kFigureCount> figure_boxes_{};
};

}  // namespace app
