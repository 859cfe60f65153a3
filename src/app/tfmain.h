#pragma once

#include <QString>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "acquisition/capture_cycle.h"
#include "acquisition/cycle_driver.h"
#include "analysis/processing_pass.h"
#include "analysis/run_tracker.h"
#include "app/capture_cycle.h"
#include "app/control_handlers.h"
#include "app/fmain_form.h"
#include "app/pass_display.h"
#include "app/stream_run_view.h"
#include "app/window_dialogs.h"
#include "persistence/window_settings.h"

class QAbstractButton;
class QLineEdit;

namespace app {

class ChartMenu;
class SpinEdit;

// The one window of the system: it wires the form's controls to the handlers, named after the
// control and its event. Each handler reads its controls, calls one piece of the layers below
// (the pass, the capture cycle, the settings and data files) and applies the result. Window
// thread only.
//
// Control events: an operator's change arrives through the control's own user signal and runs
// the handler under the error display; a change from code goes through SetText / SetChecked /
// SetValue / SetGraph, which run the handler directly when what the control shows changes, so
// that an error propagates to the handler that made the change.
//
// The window is the capture cycle's face: it gives the cycle its controls and its pass, and
// shows what the cycle publishes (cycle_controls.h).
class TFmain : public QWidget, private acquisition::CycleFace {
  Q_OBJECT

 public:
  enum class FileDialog { kOpen, kSave };

  // Replaceable platform parts: the standard error display and the two file dialogs (a file
  // name, or empty for a cancel). Empty functions select the real ones.
  struct Hooks {
    std::function<void(const QString& message)> show_error;
    std::function<QString(FileDialog dialog)> choose_file;
  };

  // Builds the form and runs FormCreate. `exe_dir` is the folder of the settings file and the
  // stream logs, ending with a separator; empty means the executable's folder.
  explicit TFmain(QString exe_dir = {}, Hooks hooks = {}, QWidget* parent = nullptr);
  ~TFmain() override;

  // The standard error display's text: a full stop is added when the message ends in a
  // character above '.'.
  static QString ErrorText(const QString& message);

  // Handlers. FormCreate and the handlers of the controls whose values the settings file keeps
  // (EipChange to CBdualClick) are in tfmain_settings.cpp.
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
  // The capture handlers: the cycle owns their state.
  void CBstreamClick() { cycle_->CBstreamClick(); }
  void CBactiveClick() { cycle_->CBactiveClick(); }
  void BsampleClick() { cycle_->BsampleClick(); }
  void BftestClick();
  void Eprove_msChange();
  void BpqfresetClick();
  void BloadClick();
  void BsaveClick();
  void RGgselClick();
  void Chart1ClickSeries(int series, int index);
  void Timer1Timer() { cycle_->Timer1Timer(); }
  void ClientSocket1Read() { cycle_->ClientSocket1Read(); }
  void IdUDPServer1UDPRead(std::span<const uint8_t> datagram) {
    cycle_->IdUDPServer1UDPRead(datagram);
  }

  // Programmatic control changes that run the control's handler when what it shows changes.
  void SetText(QLineEdit* edit, const QString& text) { controls_.SetText(edit, text); }
  void SetChecked(QAbstractButton* button, bool checked) { controls_.SetChecked(button, checked); }
  void SetValue(SpinEdit* box, int value) { controls_.SetValue(box, value); }
  void SetGraph(analysis::GraphView view);

  // The processing pass on the reply in RxBuffer, or with FromFile on the loaded list, as they
  // stand: decode, compute, apply.
  // Virtual so that a benchmark can time the passes the cycle runs.
  virtual void ProcessSamples();
  // Load, Save and Sample off; or Load and Save on, with Sample on unless Stream is checked. The
  // cycle holds the lock, so that a capture and the window agree on it.
  void LockFileButtons() { cycle_->LockFileButtons(); }
  void UnlockFileButtons() { cycle_->UnlockFileButtons(); }
  // Unlock the file buttons unless AutoSample or Stream is checked, set ClearRxOnNext, switch
  // the capture timer on. Runs at the end of every pass, after an early end or an error too.
  void EndSteps() { cycle_->PassEnding(); }

  // The view the graph selector shows.
  analysis::GraphView Graph() const { return ui_.CheckedGraph(); }

  void SetChartTitle(const QString& first_line);
  // What the stream met besides its words since streaming started: lost words, datagrams from
  // other senders, bytes that made no whole word.
  void ShowStreamCounts(const acquisition::StreamCounts& counts);

  // What the rest of the program and the tests reach.
  const FmainForm& Form() const { return ui_; }
  const std::string& IniPath() const { return ini_path_; }
  const std::string& ExeDir() const { return exe_dir_; }
  analysis::ProcessingPass& Pass() { return pass_; }
  CaptureCycle& Cycle() { return *cycle_; }
  bool PulseChartInFront() const { return ui_.PulseChartInFront(); }
  int GraphItemCount() const;
  ChartMenu& Menu() { return *chart_menu_; }
  void SetHooks(Hooks hooks);

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  using Handler = void (TFmain::*)();

  void WireControls();
  void WireButtons();
  void WireCapture();
  // The capture cycle's face.
  acquisition::CycleInputs Controls() const override { return ui_.CycleInputs(); }
  void RunPass() override;
  void Hear(const acquisition::CycleEvent& event) override;
  void ShowStatus(const acquisition::CycleStatus& status) override;
  // Runs `action` under the standard error display.
  void Guarded(const std::function<void()>& action);
  // Runs the handler attached to `control`, if any, under the error display.
  void RunAttached(const QObject* control);
  // Queues the message for the error display, which shows it once the running handler has
  // returned: a modal box inside a socket or timer handler would hold that handler's limits
  // while its nested event loop kept the sockets reading. A message already waiting is not
  // queued twice. A replacement display (Hooks) is not modal and gets the message at once.
  void ShowError(const QString& message);
  QString ChooseFile(FileDialog dialog);

  // The settings file's side (tfmain_settings.cpp).
  // Start-up steps, in the order the settings file is applied; `done` follows them, so that a
  // step that fails leaves its own and the later controls to ShowDefaultsAfter.
  enum class StartStep { kNone, kAddress, kPort, kSamples, kStream, kFilter, kUnits, kDual, kAll };
  void ApplySettings(const persistence::WindowSettings& settings, StartStep& done);
  void ShowDefaultsAfter(StartStep done);
  void ShowDefaultScale(const persistence::WindowSettings& defaults);
  void ShowScaleOnAxis();
  void ShowStreamBox(acquisition::StreamTransport transport);
  void ShowFilterBox(int length);
  void ShowDualBox(const persistence::WindowSettings& settings);
  void WriteSetting(std::string_view key, std::string_view value) const;
  void ApplyUnits(persistence::ScaleUnits units);

  analysis::PassOptions CurrentPassOptions() const;
  void ShowLeftAxisTitle(analysis::GraphView view);
  void FillReplyLog();

  FmainForm ui_;
  std::string exe_dir_;
  std::string ini_path_;
  Hooks hooks_;
  ErrorQueue errors_;
  analysis::ProcessingPass pass_;
  PassDisplay display_{ui_, pass_};
  // Before the cycle, whose stream path feeds it from the receiving thread.
  StreamRunView run_view_{ui_, display_,
                          [this](const std::function<void()>& action) { Guarded(action); }};
  std::unique_ptr<CaptureCycle> cycle_;
  ControlHandlers controls_;
  ChartMenu* chart_menu_ = nullptr;  // the charts' right-click menu; a child of the window
  bool reply_log_stale_ = false;     // the reply log lags the last pass until it is shown
  bool cycle_pass_ = false;          // the pass running was started by the cycle (a reply)
};

}  // namespace app
