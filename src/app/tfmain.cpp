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
#include <QSignalBlocker>
#include <exception>
#include <variant>

#include "acquisition/protocol.h"
#include "analysis/resample.h"
#include "app/capture_timer.h"
#include "app/channel_display.h"
#include "app/chart_menu.h"
#include "app/cycle_controls.h"
#include "app/instrument_link.h"
#include "app/spin_edit.h"
#include "app/window_dialogs.h"
#include "app/window_texts.h"
#include "common/error.h"
#include "common/text_forms.h"
#include "persistence/jit_file.h"
#include "persistence/text_file.h"
#include "presentation/pulse_chart.h"
#include "presentation/timing_charts.h"
#include "presentation/timing_view.h"

namespace app {
namespace {

using acquisition::StreamTransport;
using analysis::Figure;
using analysis::GraphView;
using persistence::ScaleUnits;

QString DefaultExeDir() { return QCoreApplication::applicationDirPath() + QLatin1Char('/'); }

QString Latin1(std::string_view text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

TFmain::TFmain(QString exe_dir, Hooks hooks, QWidget* parent)
    : QWidget(parent),
      exe_dir_((exe_dir.isEmpty() ? DefaultExeDir() : exe_dir).toStdString()),
      hooks_(std::move(hooks)) {
  cycle_ = std::make_unique<CaptureCycle>(static_cast<acquisition::CycleFace&>(*this), exe_dir_);
  ui_.SetupUi(this);
  ui_.Memo1->installEventFilter(this);
  WireControls();
  WireButtons();
  WireCapture();
  WireRunTracker();
  Guarded([this] { FormCreate(); });
  chart_menu_ = new ChartMenu(
      ui_,
      [this] {
        return run_ ? analysis::TableRows(run_->stability)
                    : StabilityCsvRows(display_.DrawnIntervals());
      },
      [this] { return display_.Figures(); },
      [this](const std::function<void()>& action) { Guarded(action); }, this);
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
  attach(ui_.Eip, &TFmain::EipChange);
  attach(ui_.Eport, &TFmain::EportChange);
  attach(ui_.Eprove_ms, &TFmain::Eprove_msChange);
  attach(ui_.SEsamples, &TFmain::SEsamplesChange);
  attach(ui_.SEvscale, &TFmain::SEvscaleChange);
  attach(ui_.SEfilter, &TFmain::SEfilterChange);
  attach(ui_.RBbits, &TFmain::RBbitsClick);
  attach(ui_.RBpct, &TFmain::RBpctClick);
  attach(ui_.CBdual, &TFmain::CBdualClick);
  attach(ui_.CBstream, &TFmain::CBstreamClick);
  attach(ui_.CBactive, &TFmain::CBactiveClick);
  attach(ui_.RGgsel, &TFmain::RGgselClick);

  for (QLineEdit* edit : {ui_.Eip, ui_.Eport, ui_.Eprove_ms}) {
    connect(edit, &QLineEdit::textEdited, this, [this, edit] { RunAttached(edit); });
  }
  for (SpinEdit* box : {ui_.SEsamples, ui_.SEvscale, ui_.SEfilter}) {
    connect(box, &SpinEdit::UserChanged, this, [this, box] { RunAttached(box); });
  }
  // Check boxes run their handler on every change of state, radio buttons when they become
  // checked. Changes from code block these signals and call the handler themselves.
  for (QCheckBox* box : {ui_.CBdual, ui_.CBstream, ui_.CBactive}) {
    connect(box, &QCheckBox::toggled, this, [this, box] { RunAttached(box); });
  }
  for (QRadioButton* radio : {ui_.RBbits, ui_.RBpct}) {
    connect(radio, &QRadioButton::toggled, this, [this, radio](bool checked) {
      if (checked) RunAttached(radio);
    });
  }
  connect(ui_.RGgselGroup, &QButtonGroup::idToggled, this, [this](int, bool checked) {
    if (checked) RunAttached(ui_.RGgsel);
  });
}

void TFmain::WireButtons() {
  auto click = [this](QPushButton* button, Handler handler) {
    connect(button, &QPushButton::clicked, this,
            [this, handler] { Guarded([this, handler] { (this->*handler)(); }); });
  };
  click(ui_.Bsample, &TFmain::BsampleClick);
  click(ui_.Bftest, &TFmain::BftestClick);
  click(ui_.Bpqfreset, &TFmain::BpqfresetClick);
  click(ui_.Bload, &TFmain::BloadClick);
  click(ui_.Bsave, &TFmain::BsaveClick);
  connect(
      ui_.Chart1.get(), &presentation::PulseChart::PointClicked, this,
      [this](int series, int index) { Guarded([=, this] { Chart1ClickSeries(series, index); }); });
}

void TFmain::WireCapture() {
  connect(&cycle_->Timer1(), &CaptureTimer::Tick, this,
          [this] { Guarded([this] { Timer1Timer(); }); });
  connect(&cycle_->ClientSocket1(), &InstrumentLink::Readable, this,
          [this] { Guarded([this] { ClientSocket1Read(); }); });
  connect(&cycle_->ClientSocket1(), &InstrumentLink::PeerClosed, this,
          [this] { Guarded([this] { cycle_->ClientSocket1Disconnect(); }); });
  // Datagrams go from the receiver's own thread straight into the stream path; the timer's
  // ticks bring what the path met (tones, lost words, log errors) to the window.
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
  controls_.CheckItem(ui_.RGgselGroup, ui_.GraphItem(view), ui_.RGgsel);
}

int TFmain::GraphItemCount() const { return static_cast<int>(ui_.RGgselGroup->buttons().size()); }

// The settings apply in a fixed order; a value that does not convert, or a settings write that
// fails, ends the start-up there. What that step and the steps after it would have set is then
// shown as a start without a settings file shows it: no control is left as the layout drew it,
// and nothing is written or sent that the operator did not ask for.
void TFmain::FormCreate() {
  cycle_->ResetRing();
  ini_path_ = exe_dir_ + persistence::kSettingsFileName;
  StartStep done = StartStep::kNone;
  try {
    ApplySettings(persistence::ReadWindowSettings(ini_path_), done);
  } catch (...) {
    ShowDefaultsAfter(done);
    throw;
  }
}

void TFmain::ApplySettings(const persistence::WindowSettings& settings, StartStep& done) {
  SetText(ui_.Eip, QString::fromStdString(settings.ip));
  done = StartStep::kAddress;
  SetText(ui_.Eport, QString::fromStdString(settings.port));
  done = StartStep::kPort;
  SetValue(ui_.SEsamples, settings.samples.Value());
  done = StartStep::kSamples;
  SetValue(ui_.SEvscale, settings.scale_bits.Value());
  ShowStreamBox(settings.stream);
  done = StartStep::kStream;
  ShowFilterBox(settings.filter_length.Value());
  done = StartStep::kFilter;
  SetChecked(settings.units == ScaleUnits::kBits ? ui_.RBbits : ui_.RBpct, true);
  ApplyUnits(settings.units);
  done = StartStep::kUnits;
  ShowDualBox(settings);
  done = StartStep::kDual;
  ui_.SetPulseChartInFront(true);
  if (settings.histogram) ui_.AddGraphItem(GraphView::kHistogram, QStringLiteral("Histogram"));
  if (settings.analysis) ui_.ShowAnalysis(this);
  ShowScaleOnAxis();
  done = StartStep::kAll;
}

void TFmain::ShowScaleOnAxis() {
  pass_.Data().Ch1Average = 0;
  pass_.Data().Ch2Average = 0;
  const double scale = ui_.SEvscale->Value();
  ui_.Chart1->SetLeftAxisMaximum(scale);
  ui_.Chart1->SetLeftAxisMinimum(-scale);
}

// Controls are set directly here, with their signals held: no handler runs, so nothing is
// written to the settings file and no command goes to the instrument. The address, port and
// sample boxes need nothing: the layout draws them with the defaults, and a step that failed
// at its write keeps what it showed, as the settings file's rule has it.
void TFmain::ShowDefaultsAfter(StartStep done) {
  const persistence::WindowSettings defaults;
  if (done < StartStep::kStream) {
    cycle_->Machine().SetTransport(StreamTransport::kNone);
    const QSignalBlocker block(ui_.CBstream);
    ui_.CBstream->setChecked(false);
    ui_.CBstream->hide();
  }
  if (done < StartStep::kFilter) {
    ui_.Lfilter->hide();
    ui_.SEfilter->hide();
    pass_.Filter().SetLength(defaults.filter_length.Value());
  }
  if (done < StartStep::kUnits) ShowDefaultScale(defaults);
  if (done < StartStep::kDual) {
    ui_.CBdual->hide();
    controls_.Detach(ui_.CBdual);
    const QSignalBlocker block(ui_.CBdual);
    ui_.CBdual->setChecked(false);
  }
  if (done == StartStep::kAll) return;
  ui_.SetPulseChartInFront(true);
  ui_.Chart1->SetLeftAxisTitle(Latin1(analysis::LeftAxisTitle(Graph())));
  ShowScaleOnAxis();
  UnlockFileButtons();
}

// The unit the failed start-up checked, Bits/Hz when it checked none, with its limits and the
// scale a missing key gives.
void TFmain::ShowDefaultScale(const persistence::WindowSettings& defaults) {
  const bool percent = ui_.RBpct->isChecked();
  if (!percent) {
    const QSignalBlocker block_bits(ui_.RBbits);
    const QSignalBlocker block_percent(ui_.RBpct);
    ui_.RBbits->setChecked(true);
  }
  ui_.SEvscale->SetLimits(percent ? kPercentMinimum : kBitsMinimum,
                          percent ? kPercentMaximum : kBitsMaximum);
  ui_.SEvscale->SetValue(percent ? defaults.scale_percent.Value() : defaults.scale_bits.Value());
}

void TFmain::ShowStreamBox(StreamTransport transport) {
  cycle_->Machine().SetTransport(transport);
  if (transport != StreamTransport::kNone) {
    ui_.CBstream->setText(QString::fromLatin1(
        transport == StreamTransport::kUdp ? texts::kStreamUdp : texts::kStreamTcp));
  }
  ui_.CBstream->setAccessibleName(ui_.CBstream->text());
  SetChecked(ui_.CBstream, false);
  ui_.CBstream->setVisible(transport != StreamTransport::kNone);
}

void TFmain::ShowFilterBox(int length) {
  if (length > 0) {
    ui_.Lfilter->show();
    ui_.SEfilter->show();
    SetValue(ui_.SEfilter, length);
    // A stored 1 or 2 shows as 3 without a change of the box, so no handler runs; the filter
    // follows the box so that what the operator sees is what smooths.
    length = ui_.SEfilter->Value();
  }
  pass_.Filter().SetLength(length);
}

void TFmain::ShowDualBox(const persistence::WindowSettings& settings) {
  if (settings.dual_shown) {
    ui_.CBdual->show();
    ui_.CBdual->setEnabled(true);
    SetChecked(ui_.CBdual, settings.dual_checked);
  } else {
    ui_.CBdual->hide();
    controls_.Detach(ui_.CBdual);
    SetChecked(ui_.CBdual, false);
  }
}

void TFmain::WriteSetting(std::string_view key, std::string_view value) const {
  persistence::WriteWindowSetting(ini_path_, key, value);
}

void TFmain::FormClose() { cycle_->FormClose(); }

void TFmain::EipChange() { WriteSetting(persistence::kKeyIp, ui_.Eip->text().toStdString()); }

void TFmain::EportChange() { WriteSetting(persistence::kKeyPort, ui_.Eport->text().toStdString()); }

void TFmain::SEsamplesChange() {
  WriteSetting(persistence::kKeySamples, common::IntText(ui_.SEsamples->Value()));
}

void TFmain::SEvscaleChange() {
  const std::string value = common::IntText(ui_.SEvscale->Value());
  if (ui_.RBbits->isChecked()) {
    WriteSetting(persistence::kKeyScaleBits, value);
  } else if (ui_.RBpct->isChecked()) {
    WriteSetting(persistence::kKeyScalePercent, value);
  }
}

void TFmain::CBdualClick() {
  WriteSetting(persistence::kKeyDualChannel, ui_.CBdual->isChecked() ? "TRUE" : "FALSE");
}

void TFmain::SEfilterChange() {
  // Setting the box below runs this handler again from within itself when the shown value
  // changes; the inner run settles the box, the file and the filter first.
  SpinEdit* box = ui_.SEfilter;
  if (box->Value() % 2 == 0) SetValue(box, box->Value() + 1);
  if (box->Value() > kFilterMaximum) {
    SetValue(box, kFilterMaximum);
  } else if (box->Value() < kFilterMinimum) {
    SetValue(box, kFilterMinimum);
  }
  WriteSetting(persistence::kKeyFilterLength, common::IntText(box->Value()));
  pass_.Filter().SetLength(box->Value());
}

void TFmain::RBbitsClick() { ApplyUnits(ScaleUnits::kBits); }

void TFmain::RBpctClick() { ApplyUnits(ScaleUnits::kPercent); }

// Each unit keeps its own scale in the settings file, so a switch brings back the other's.
void TFmain::ApplyUnits(ScaleUnits units) {
  const bool bits = units == ScaleUnits::kBits;
  SetChecked(bits ? ui_.RBbits : ui_.RBpct, true);
  WriteSetting(persistence::kKeyScaleUnits, persistence::UnitsText(units));
  const int maximum = bits ? kBitsMaximum : kPercentMaximum;
  ui_.SEvscale->SetLimits(bits ? kBitsMinimum : kPercentMinimum, maximum);
  SetValue(ui_.SEvscale, persistence::ReadUnitScale(ini_path_, units).Value());
  if (ui_.SEvscale->Value() > maximum) SetValue(ui_.SEvscale, maximum);
  ProcessSamples();
}

void TFmain::RGgselClick() {
  const bool histogram = Graph() == GraphView::kHistogram;
  ui_.SetPulseChartInFront(!histogram);
  ui_.ShowTimingChart(Graph());
  ui_.Lscale->setText(
      QString::fromLatin1(histogram ? texts::kHorizontalScale : texts::kVerticalScale));
  ui_.SEvscale->setAccessibleName(ui_.Lscale->text());
  ui_.Lscale->setAccessibleName(ui_.Lscale->text());
  ProcessSamples();
  ShowRunView();
}

void TFmain::Chart1ClickSeries(int series, int index) {
  for (int j = 0; j < ui_.Chart1->PointCount(series); ++j) {
    ui_.Chart1->SetPointLabelVisible(series, j, false);
  }
  ui_.Chart1->SetPointLabelVisible(series, index, true);
}

void TFmain::Eprove_msChange() { display_.ShowFlight(); }

void TFmain::BpqfresetClick() {
  pass_.ResetPeaks();
  display_.BlankFigures({Figure::kHeldQualityFactor, Figure::kHeldPeakToPeakPercent});
}

void TFmain::BftestClick() {
  analysis::ResampleLog(exe_dir_ + texts::kStreamLogFile, exe_dir_ + texts::kResampledFile);
}

void TFmain::BsaveClick() {
  const QString name = ChooseFile(FileDialog::kSave);
  if (name.isEmpty()) return;
  const GraphView view = Graph();
  const std::vector<double> values = display_.SavedValues(view);
  persistence::WriteTextFile(name.toStdString(),
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
    if (Graph() != GraphView::kTie && Graph() != GraphView::kStability) {
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
  memo_stale_ = true;
  const analysis::PassOptions options = CurrentPassOptions();
  // The axis follows the view even when the input then fails to decode.
  ui_.Chart1->SetLeftAxisTitle(Latin1(analysis::LeftAxisTitle(options.view)));
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
      const bool stream = ui_.CBstream->isChecked();
      if (stream && pass_.Data().Ch1Count == 0) cycle_->TakeStreamWindow(pass_.Data());
      if (ui_.AnalysisShown()) {
        display_.SetBlock(cycle_->FromFile() ? std::nullopt : DualBlock(rx_copy, pass_.Data()),
                          cycle_pass_ && ui_.CBactive->isChecked());
      }
      display_.Apply(pass_.Compute(options), options.view);
      ShowRun(stream);
      if (ui_.AnalysisShown() && ui_.Channels->Counted())
        Guarded([this] { ui_.Channels->WriteRunSummary(exe_dir_); });
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
  options.smooth = ui_.CBdual->isEnabled() && !ui_.CBdual->isChecked();
  options.filter = &pass_.Filter();
  return options;
}

void TFmain::FillMemo() {
  if (!memo_stale_) return;
  QStringList lines;
  for (const std::string& line : pass_.Memo()) lines << QString::fromStdString(line);
  ui_.Memo1->setPlainText(lines.join(QLatin1Char('\n')));
  memo_stale_ = false;
}

bool TFmain::eventFilter(QObject* watched, QEvent* event) {
  if (watched == ui_.Memo1 && event->type() == QEvent::ShowToParent) FillMemo();
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
    if (ui_.AnalysisShown()) ui_.Channels->StartRun();
  } else if (std::holds_alternative<event::AutoSampleStopped>(e)) {
    if (ui_.AnalysisShown()) ui_.Channels->StopRun();
  } else if (std::holds_alternative<event::StreamStarting>(e)) {
    pass_.ResetPeaks();
  } else if (auto* x = std::get_if<event::RunCounts>(&e)) {
    tracker_.SetLostWords(static_cast<int64_t>(x->counts.lost_words));
  } else if (std::holds_alternative<event::RunStarted>(e)) {
    RunStarted();
  } else if (auto* x = std::get_if<event::RunLive>(&e)) {
    RunLive(*x);
  } else if (auto* x = std::get_if<event::RunStopped>(&e)) {
    RunStopped(*x);
  }
}

void TFmain::WireRunTracker() {
  // Runs on the receiving thread under the path's lock; the tracker has a lock of its own.
  cycle_->Machine().Path().SetLogSink(
      [this](std::span<const int64_t> deltas) { tracker_.Add(deltas); });
}

void TFmain::RunStarted() {
  tracker_.Begin(analysis::RunTracker::Clock::now());
  run_.reset();
  display_.Clear();
  SetChartTitle(QString::fromLatin1(texts::kWaitingChartTitle));
  ShowStreamCounts({});
  // The last run's curve goes with it, whichever view is in front.
  if (ui_.AnalysisShown()) ui_.Chart4->Show({});
  ShowRunView();
}

void TFmain::RunLive(const acquisition::event::RunLive& live) {
  SetChartTitle(QString::fromLatin1(texts::kChartTitle));
  Guarded([&] { persistence::RemoveRunSummary(live.log_path); });
}

// Called while a stop's steps are applied: a summary that cannot be written is queued for the
// error display, so the rest of the stop still runs.
void TFmain::RunStopped(const acquisition::event::RunStopped& stop) {
  SetChartTitle(QString::fromLatin1(texts::kChartTitle));
  if (!stop.logged) return;  // the previous log and its summary stand
  tracker_.SetLostWords(static_cast<int64_t>(stop.counts.lost_words));
  // The figures wait for every word still queued; the view then shows them all.
  const analysis::RunSummary final = tracker_.Final();
  persistence::RunSummaryRecord record = tracker_.Record(
      final, analysis::RunTracker::Clock::now(), stop.failure, cycle_->Machine().Path().LogLines());
  record.foreign_datagrams = static_cast<int64_t>(stop.counts.foreign_datagrams);
  record.stray_bytes = static_cast<int64_t>(stop.counts.stray_bytes);
  if (ui_.AnalysisShown()) {
    run_ = final;
    ShowRunView();
  }
  Guarded([&] { persistence::WriteRunSummary(stop.log_path, record); });
}

void TFmain::ShowRun(bool stream_pass) {
  if (!ui_.AnalysisShown()) return;
  if (!stream_pass) {
    // A block's own figures again; a pass without records (a view or units switch after the
    // stop) leaves the run in view.
    if (pass_.Data().Ch1Count > 0) run_.reset();
  } else if (tracker_.Started()) {
    run_ = tracker_.Summary();
  }
  ShowRunView();
}

void TFmain::ShowRunView() {
  if (!ui_.AnalysisShown()) return;
  ui_.ShowRunLine(run_ ? QString::fromStdString(presentation::RunLineText(*run_)) : QString());
  // Drawn whichever view is in front, so that the Stability view shows the run when it comes.
  if (run_) {
    ui_.Chart4->Show(run_->stability,
                     QString::fromStdString(presentation::WholeRunTitle(run_->intervals)));
  }
}

void TFmain::SetChartTitle(const QString& first_line) { ui_.SetChartTitle(first_line); }

void TFmain::ShowStreamCounts(const acquisition::StreamCounts& counts) {
  ui_.ShowStreamCounts(counts);
}

}  // namespace app
