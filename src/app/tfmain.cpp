#include "app/tfmain.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QResizeEvent>
#include <exception>
#include <variant>

#include "acquisition/protocol.h"
#include "app/capture_timer.h"
#include "app/channel_display.h"
#include "app/chart_menu.h"
#include "app/cycle_controls.h"
#include "app/instrument_link.h"
#include "app/spin_edit.h"
#include "app/window_dialogs.h"
#include "app/window_texts.h"
#include "common/error.h"
#include "persistence/jit_file.h"
#include "persistence/resample_file.h"
#include "persistence/run_summary.h"
#include "persistence/text_file.h"
#include "presentation/pulse_chart.h"

namespace app {
namespace {

using acquisition::StreamTransport;
using analysis::Figure;
using analysis::GraphView;
using persistence::ScaleUnits;

QString DefaultExeDir() { return QCoreApplication::applicationDirPath() + QLatin1Char('/'); }

// The views that analyse the pulse train, whichever form a loaded file came in.
bool TimingView(GraphView view) {
  return view == GraphView::kTie || view == GraphView::kStability || view == GraphView::kProving ||
         view == GraphView::kSpectrum;
}

}  // namespace

TFmain::TFmain(QString exe_dir, Hooks hooks, QWidget* parent)
    : QWidget(parent),
      exe_dir_((exe_dir.isEmpty() ? DefaultExeDir() : exe_dir).toStdString()),
      hooks_(std::move(hooks)) {
  cycle_ = std::make_unique<CaptureCycle>(static_cast<acquisition::CycleFace&>(*this), exe_dir_);
  ui_.SetupUi(this);
  ui_.Charts().reply_log->installEventFilter(this);
  WireControls();
  WireButtons();
  WireCapture();
  display_.Record().SetErrorSink(
      [this](const std::string& message) { ShowError(QString::fromStdString(message)); });
  Guarded([this] { FormCreate(); });
  chart_menu_ = new ChartMenu(
      ui_,
      [this] {
        const std::optional<analysis::RunSummary>& run = run_view_.Shown();
        return run ? run->stability : StabilityRowsOf(display_.DrawnIntervals());
      },
      [this] { return display_.Figures(); },
      [this](const std::function<void()>& action) { Guarded(action); }, this);
  chart_menu_->SetRecordTables([this] { return display_.Record().ProvingTable(); },
                               [this] { return display_.Record().SpectrumTable(); });
  chart_menu_->Attach();
}

TFmain::~TFmain() = default;

void TFmain::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  ui_.PlaceEdgeControls(this);
}

void TFmain::closeEvent(QCloseEvent* event) {
  Guarded([this] { FormClose(); });
  event->accept();
}

void TFmain::WireControls() {
  auto attach = [this](const QObject* control, Handler handler) {
    controls_.Attach(control, [this, handler] { (this->*handler)(); });
  };
  attach(ui_.Capture().address, &TFmain::EipChange);
  attach(ui_.Capture().port, &TFmain::EportChange);
  attach(ui_.Flight().time_ms, &TFmain::Eprove_msChange);
  attach(ui_.Capture().samples, &TFmain::SEsamplesChange);
  attach(ui_.Scale().scale, &TFmain::SEvscaleChange);
  attach(ui_.Scale().filter, &TFmain::SEfilterChange);
  attach(ui_.Scale().bits, &TFmain::RBbitsClick);
  attach(ui_.Scale().percent, &TFmain::RBpctClick);
  attach(ui_.Capture().dual_channel, &TFmain::CBdualClick);
  attach(ui_.Capture().stream, &TFmain::CBstreamClick);
  attach(ui_.Capture().auto_sample, &TFmain::CBactiveClick);
  attach(ui_.Charts().graph_selector, &TFmain::RGgselClick);

  for (QLineEdit* edit : {ui_.Capture().address, ui_.Capture().port, ui_.Flight().time_ms}) {
    connect(edit, &QLineEdit::textEdited, this, [this, edit] { RunAttached(edit); });
  }
  for (SpinEdit* box : {ui_.Capture().samples, ui_.Scale().scale, ui_.Scale().filter}) {
    connect(box, &SpinEdit::UserChanged, this, [this, box] { RunAttached(box); });
  }
  // Check boxes run their handler on every change of state, radio buttons when they become
  // checked. Changes from code block these signals and call the handler themselves.
  for (QCheckBox* box :
       {ui_.Capture().dual_channel, ui_.Capture().stream, ui_.Capture().auto_sample}) {
    connect(box, &QCheckBox::toggled, this, [this, box] { RunAttached(box); });
  }
  for (QRadioButton* radio : {ui_.Scale().bits, ui_.Scale().percent}) {
    connect(radio, &QRadioButton::toggled, this, [this, radio](bool checked) {
      if (checked) RunAttached(radio);
    });
  }
  connect(ui_.Charts().graph_items, &QButtonGroup::idToggled, this, [this](int, bool checked) {
    if (checked) RunAttached(ui_.Charts().graph_selector);
  });
}

void TFmain::WireButtons() {
  auto click = [this](QPushButton* button, Handler handler) {
    connect(button, &QPushButton::clicked, this,
            [this, handler] { Guarded([this, handler] { (this->*handler)(); }); });
  };
  click(ui_.Capture().sample, &TFmain::BsampleClick);
  click(ui_.Buttons().resample, &TFmain::BftestClick);
  click(ui_.Buttons().peak_reset, &TFmain::BpqfresetClick);
  click(ui_.Buttons().load, &TFmain::BloadClick);
  click(ui_.Buttons().save, &TFmain::BsaveClick);
  connect(
      ui_.Charts().pulse, &presentation::PulseChart::PointClicked, this,
      [this](int series, int index) { Guarded([=, this] { Chart1ClickSeries(series, index); }); });
}

void TFmain::WireCapture() {
  connect(&cycle_->Timer(), &CaptureTimer::Tick, this,
          [this] { Guarded([this] { Timer1Timer(); }); });
  connect(&cycle_->Link(), &InstrumentLink::Readable, this,
          [this] { Guarded([this] { ClientSocket1Read(); }); });
  connect(&cycle_->Link(), &InstrumentLink::PeerClosed, this,
          [this] { Guarded([this] { cycle_->ClientSocket1Disconnect(); }); });
  // Datagrams go from the receiver's own thread straight into the stream path; the timer's
  // ticks bring what the path met (tones, lost words, log errors) to the window. The path hands
  // every logged word to the run view on that thread.
  cycle_->Machine().Path().SetLogSink(
      [this](std::span<const int64_t> deltas) { run_view_.Add(deltas); });
}

void TFmain::Guarded(const std::function<void()>& action) {
  try {
    action();
  } catch (const common::Error& error) {
    ShowError(QString::fromStdString(error.Message()));
  } catch (const std::exception& error) {
    ShowError(QString::fromStdString(error.what()));
  }
}

void TFmain::RunAttached(const QObject* control) {
  Guarded([this, control] { controls_.Run(control); });
}

QString TFmain::ErrorText(const QString& message) { return app::ErrorText(message); }

void TFmain::ShowError(const QString& message) {
  if (hooks_.show_error) {
    hooks_.show_error(ErrorText(message));
  } else {
    errors_.Post(this, ErrorText(message));
  }
}

QString TFmain::ChooseFile(FileDialog dialog) {
  if (hooks_.choose_file) return hooks_.choose_file(dialog);
  return ChooseJitFile(this, dialog == FileDialog::kSave);
}

void TFmain::SetHooks(Hooks hooks) { hooks_ = std::move(hooks); }

void TFmain::SetGraph(GraphView view) {
  controls_.CheckItem(ui_.Charts().graph_items, ui_.GraphItem(view), ui_.Charts().graph_selector);
}

int TFmain::GraphItemCount() const {
  return static_cast<int>(ui_.Charts().graph_items->buttons().size());
}

void TFmain::FormClose() { cycle_->FormClose(); }

void TFmain::RGgselClick() {
  const bool histogram = Graph() == GraphView::kHistogram;
  ui_.SetPulseChartInFront(!histogram);
  ui_.ShowTimingChart(Graph());
  ui_.Scale().scale_caption->setText(
      QString::fromLatin1(histogram ? texts::kHorizontalScale : texts::kVerticalScale));
  ui_.Scale().scale->setAccessibleName(ui_.Scale().scale_caption->text());
  ui_.Scale().scale_caption->setAccessibleName(ui_.Scale().scale_caption->text());
  ProcessSamples();
  run_view_.Show();
}

void TFmain::Chart1ClickSeries(int series, int index) {
  for (int j = 0; j < ui_.Charts().pulse->PointCount(series); ++j) {
    ui_.Charts().pulse->SetPointLabelVisible(series, j, false);
  }
  ui_.Charts().pulse->SetPointLabelVisible(series, index, true);
}

void TFmain::Eprove_msChange() { display_.ShowFlight(); }

void TFmain::BpqfresetClick() {
  pass_.ResetPeaks();
  display_.BlankFigures({Figure::kHeldQualityFactor, Figure::kHeldPeakToPeakPercent});
}

void TFmain::BftestClick() {
  persistence::ResampleLog(exe_dir_ + texts::kStreamLogFile, exe_dir_ + texts::kResampledFile);
}

void TFmain::BsaveClick() {
  const QString name = ChooseFile(FileDialog::kSave);
  if (name.isEmpty()) return;
  const GraphView view = Graph();
  const std::vector<double> values = display_.SavedValues(view);
  // Through a temporary file: a save that fails part-way (a full disk) keeps the old file whole.
  persistence::ReplaceTextFile(name.toStdString(),
                               persistence::FormatJit(values, view == GraphView::kInterval));
}

void TFmain::BloadClick() {
  SetChartTitle(QString::fromLatin1(texts::kChartTitle));
  const QString name = ChooseFile(FileDialog::kOpen);
  if (name.isEmpty()) return;
  display_.BlankFigures({Figure::kAverageTicks, Figure::kPeakToPeak, Figure::kPeakToPeakPercent,
                         Figure::kRms, Figure::kRmsPercent});
  const std::string text = persistence::ReadTextFile(name.toStdString());
  const QString title = QString::fromLatin1(texts::kChartTitle) + QStringLiteral("  [") +
                        QFileInfo(name).fileName() + ']';
  if (text.find("<SAMPLES>") != std::string::npos) {
    // A reply kept as received: the pass decodes it as the instrument's own, both channels,
    // and a view switch finds it again until the next capture's bytes replace it.
    cycle_->RxBuffer() = text;
    cycle_->SetFromFile(false);
    SetChartTitle(title);
    ProcessSamples();
    return;
  }
  const persistence::JitList loaded = persistence::ParseJit(text);
  // The file's values replace whatever input the pass had: what is left of a reply is no
  // longer the input of any pass.
  cycle_->RxBuffer().clear();
  pass_.Load({loaded.PassValues(), loaded.pass_error});
  if (loaded.Refused()) throw common::Error(*loaded.error);

  if (loaded.form != persistence::JitForm::kUnknown) {
    // A timing view stays: it analyses the loaded intervals whichever form they came in.
    if (!TimingView(Graph())) {
      SetGraph(loaded.form == persistence::JitForm::kInterval ? GraphView::kInterval
                                                              : GraphView::kFrequency);
    }
    SetChartTitle(title);
  }
  cycle_->SetFromFile(true);
  ProcessSamples();
}

void TFmain::ProcessSamples() {
  const std::string rx_copy = cycle_->RxBuffer();
  // Laying out a 3000-line reply log takes most of a pass, and the log is hidden: it is filled
  // from the pass's lines only when it is shown.
  reply_log_stale_ = true;
  const analysis::PassOptions options = CurrentPassOptions();
  // The axis follows the view even when the input then fails to decode.
  ShowLeftAxisTitle(options.view);
  cycle_->PassStarting();
  // From here on the end steps run however the pass ends; an error then goes on to the caller.
  try {
    bool decoded = true;
    if (cycle_->FromFile()) {
      pass_.DecodeLoaded();
    } else {
      decoded = pass_.Decode(rx_copy);
    }
    // Queued for the error display like every message of a socket or timer handler.
    if (pass_.Data().reply.Short()) {
      ShowError(QString::fromStdString(acquisition::ShortReplyText(pass_.Data().reply)));
    }
    if (decoded) {
      const bool stream = ui_.Capture().stream->isChecked();
      if (stream && pass_.Data().Ch1Count == 0) cycle_->TakeStreamWindow(pass_.Data());
      if (ui_.AnalysisShown()) {
        display_.SetBlock(cycle_->FromFile() ? std::nullopt : DualBlock(rx_copy, pass_.Data()),
                          cycle_pass_ && ui_.Capture().auto_sample->isChecked());
      }
      display_.Apply(pass_.Compute(options), options.view, stream);
      run_view_.AfterPass(stream, pass_.Data().Ch1Count > 0, cycle_->Machine().Path().LogLines());
      if (ui_.AnalysisShown() && ui_.Channels()->Counted())
        Guarded([this] { ui_.Channels()->WriteRunSummary(exe_dir_); });
    }
  } catch (...) {
    EndSteps();
    throw;
  }
  EndSteps();
}

void TFmain::RunPass() {
  cycle_pass_ = true;
  try {
    ProcessSamples();
  } catch (...) {
    cycle_pass_ = false;
    throw;
  }
  cycle_pass_ = false;
}

analysis::PassOptions TFmain::CurrentPassOptions() const {
  analysis::PassOptions options;
  options.view = Graph();
  options.smooth =
      ui_.Capture().dual_channel->isEnabled() && !ui_.Capture().dual_channel->isChecked();
  options.filter = &pass_.Filter();
  return options;
}

void TFmain::FillReplyLog() {
  if (!reply_log_stale_) return;
  QStringList lines;
  for (const std::string& line : pass_.Memo()) lines << QString::fromStdString(line);
  ui_.Charts().reply_log->setPlainText(lines.join(QLatin1Char('\n')));
  reply_log_stale_ = false;
}

bool TFmain::eventFilter(QObject* watched, QEvent* event) {
  if (watched == ui_.Charts().reply_log && event->type() == QEvent::ShowToParent) FillReplyLog();
  return QWidget::eventFilter(watched, event);
}

void TFmain::ShowStatus(const acquisition::CycleStatus& status) { ShowCycleStatus(ui_, status); }

void TFmain::Hear(const acquisition::CycleEvent& e) {
  namespace event = acquisition::event;
  ShowCycleEvent(ui_, e);
  if (const std::optional<std::string> message = acquisition::EventError(e)) {
    ShowError(QString::fromStdString(*message));
  } else if (std::holds_alternative<event::AutoSampleStarted>(e)) {
    pass_.ResetQualityPeak();
    if (ui_.AnalysisShown()) ui_.Channels()->StartRun();
  } else if (std::holds_alternative<event::AutoSampleStopped>(e)) {
    if (ui_.AnalysisShown()) ui_.Channels()->StopRun();
  } else if (std::holds_alternative<event::StreamStarting>(e)) {
    pass_.ResetPeaks();
  } else if (auto* x = std::get_if<event::RunCounts>(&e)) {
    run_view_.SetLostWords(static_cast<int64_t>(x->counts.lost_words));
  } else if (std::holds_alternative<event::RunStarted>(e)) {
    run_view_.Started();
  } else if (auto* x = std::get_if<event::RunLive>(&e)) {
    run_view_.Live(*x);
  } else if (auto* x = std::get_if<event::RunStopped>(&e)) {
    run_view_.Stopped(*x, cycle_->Machine().Path().LogLines());
  }
}

void TFmain::ShowLeftAxisTitle(GraphView view) {
  const std::string_view title = analysis::LeftAxisTitle(view);
  ui_.Charts().pulse->SetLeftAxisTitle(
      QString::fromLatin1(title.data(), static_cast<qsizetype>(title.size())));
}

void TFmain::SetChartTitle(const QString& first_line) { ui_.SetChartTitle(first_line); }

void TFmain::ShowStreamCounts(const acquisition::StreamCounts& counts) {
  ui_.ShowStreamCounts(counts);
}

}  // namespace app
