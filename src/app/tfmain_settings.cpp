// The window's settings file: the start-up that applies it, what a start-up that fails part
// way shows instead, and the handlers of the controls whose values it keeps. Each of those
// handlers writes its control's value back at once, so the file always holds what is shown.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSignalBlocker>

#include "app/spin_edit.h"
#include "app/tfmain.h"
#include "app/window_texts.h"
#include "common/text_forms.h"
#include "persistence/window_settings.h"
#include "presentation/pulse_chart.h"

namespace app {

using acquisition::StreamTransport;
using analysis::GraphView;
using persistence::ScaleUnits;

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
  SetText(ui_.Capture().address, QString::fromStdString(settings.ip));
  done = StartStep::kAddress;
  SetText(ui_.Capture().port, QString::fromStdString(settings.port));
  done = StartStep::kPort;
  SetValue(ui_.Capture().samples, settings.samples.Value());
  done = StartStep::kSamples;
  SetValue(ui_.Scale().scale, settings.scale_bits.Value());
  cycle_->Receiver().SetPort(static_cast<uint16_t>(settings.udp_port.Value()));
  ShowStreamBox(settings.stream);
  done = StartStep::kStream;
  ShowFilterBox(settings.filter_length.Value());
  done = StartStep::kFilter;
  SetChecked(settings.units == ScaleUnits::kBits ? ui_.Scale().bits : ui_.Scale().percent, true);
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
  const double scale = ui_.Scale().scale->Value();
  ui_.Charts().pulse->SetLeftAxisMaximum(scale);
  ui_.Charts().pulse->SetLeftAxisMinimum(-scale);
}

// Controls are set directly here, with their signals held: no handler runs, so nothing is
// written to the settings file and no command goes to the instrument. The address, port and
// sample boxes need nothing: the layout draws them with the defaults, and a step that failed
// at its write keeps what it showed, as the settings file's rule has it.
void TFmain::ShowDefaultsAfter(StartStep done) {
  const persistence::WindowSettings defaults;
  if (done < StartStep::kStream) {
    cycle_->Machine().SetTransport(StreamTransport::kNone);
    const QSignalBlocker block(ui_.Capture().stream);
    ui_.Capture().stream->setChecked(false);
    ui_.Capture().stream->hide();
  }
  if (done < StartStep::kFilter) {
    ui_.Scale().filter_caption->hide();
    ui_.Scale().filter->hide();
    pass_.Filter().SetLength(defaults.filter_length.Value());
  }
  if (done < StartStep::kUnits) ShowDefaultScale(defaults);
  if (done < StartStep::kDual) {
    ui_.Capture().dual_channel->hide();
    controls_.Detach(ui_.Capture().dual_channel);
    const QSignalBlocker block(ui_.Capture().dual_channel);
    ui_.Capture().dual_channel->setChecked(false);
  }
  if (done == StartStep::kAll) return;
  ui_.SetPulseChartInFront(true);
  ShowLeftAxisTitle(Graph());
  ShowScaleOnAxis();
  UnlockFileButtons();
}

// The unit the failed start-up checked, Bits/Hz when it checked none, with its limits and the
// scale a missing key gives.
void TFmain::ShowDefaultScale(const persistence::WindowSettings& defaults) {
  const bool percent = ui_.Scale().percent->isChecked();
  if (!percent) {
    const QSignalBlocker block_bits(ui_.Scale().bits);
    const QSignalBlocker block_percent(ui_.Scale().percent);
    ui_.Scale().bits->setChecked(true);
  }
  ui_.Scale().scale->SetLimits(percent ? kPercentMinimum : kBitsMinimum,
                               percent ? kPercentMaximum : kBitsMaximum);
  ui_.Scale().scale->SetValue(percent ? defaults.scale_percent.Value()
                                      : defaults.scale_bits.Value());
}

void TFmain::ShowStreamBox(StreamTransport transport) {
  cycle_->Machine().SetTransport(transport);
  if (transport != StreamTransport::kNone) {
    ui_.Capture().stream->setText(QString::fromLatin1(
        transport == StreamTransport::kUdp ? texts::kStreamUdp : texts::kStreamTcp));
  }
  ui_.Capture().stream->setAccessibleName(ui_.Capture().stream->text());
  SetChecked(ui_.Capture().stream, false);
  ui_.Capture().stream->setVisible(transport != StreamTransport::kNone);
}

void TFmain::ShowFilterBox(int length) {
  if (length > 0) {
    ui_.Scale().filter_caption->show();
    ui_.Scale().filter->show();
    SetValue(ui_.Scale().filter, length);
    // A stored 1 or 2 shows as 3 without a change of the box, so no handler runs; the filter
    // follows the box so that what the operator sees is what smooths.
    length = ui_.Scale().filter->Value();
  }
  pass_.Filter().SetLength(length);
}

void TFmain::ShowDualBox(const persistence::WindowSettings& settings) {
  if (settings.dual_shown) {
    ui_.Capture().dual_channel->show();
    ui_.Capture().dual_channel->setEnabled(true);
    SetChecked(ui_.Capture().dual_channel, settings.dual_checked);
  } else {
    ui_.Capture().dual_channel->hide();
    controls_.Detach(ui_.Capture().dual_channel);
    SetChecked(ui_.Capture().dual_channel, false);
  }
}

void TFmain::WriteSetting(std::string_view key, std::string_view value) const {
  persistence::WriteWindowSetting(ini_path_, key, value);
}

void TFmain::EipChange() {
  WriteSetting(persistence::kKeyIp, ui_.Capture().address->text().toStdString());
}

void TFmain::EportChange() {
  WriteSetting(persistence::kKeyPort, ui_.Capture().port->text().toStdString());
}

void TFmain::SEsamplesChange() {
  WriteSetting(persistence::kKeySamples, common::IntText(ui_.Capture().samples->Value()));
}

void TFmain::SEvscaleChange() {
  const std::string value = common::IntText(ui_.Scale().scale->Value());
  if (ui_.Scale().bits->isChecked()) {
    WriteSetting(persistence::kKeyScaleBits, value);
  } else if (ui_.Scale().percent->isChecked()) {
    WriteSetting(persistence::kKeyScalePercent, value);
  }
}

void TFmain::CBdualClick() {
  WriteSetting(persistence::kKeyDualChannel,
               ui_.Capture().dual_channel->isChecked() ? "TRUE" : "FALSE");
}

void TFmain::SEfilterChange() {
  // Setting the box below runs this handler again from within itself when the shown value
  // changes; the inner run settles the box, the file and the filter first.
  SpinEdit* box = ui_.Scale().filter;
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
  SetChecked(bits ? ui_.Scale().bits : ui_.Scale().percent, true);
  WriteSetting(persistence::kKeyScaleUnits, persistence::UnitsText(units));
  const int maximum = bits ? kBitsMaximum : kPercentMaximum;
  ui_.Scale().scale->SetLimits(bits ? kBitsMinimum : kPercentMinimum, maximum);
  SetValue(ui_.Scale().scale, persistence::ReadUnitScale(ini_path_, units).Value());
  if (ui_.Scale().scale->Value() > maximum) SetValue(ui_.Scale().scale, maximum);
  ProcessSamples();
}

}  // namespace app
