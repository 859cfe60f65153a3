#include "app/cycle_controls.h"

#include <QApplication>
#include <QCheckBox>
#include <QPushButton>
#include <QSignalBlocker>
#include <variant>

#include "app/fmain_form.h"
#include "app/window_texts.h"

namespace app {
namespace {

namespace event = acquisition::event;

void SwitchOff(QCheckBox* box) {
  const QSignalBlocker block(box);
  box->setChecked(false);
}

}  // namespace

void ShowCycleStatus(const FmainForm& form, const acquisition::CycleStatus& status) {
  form.Buttons().load->setEnabled(!status.files_locked);
  form.Buttons().save->setEnabled(!status.files_locked);
  form.Capture().sample->setEnabled(status.sample_offered);
  form.Capture().auto_sample->setEnabled(status.auto_sample_offered);
  form.Capture().stream->setEnabled(status.stream_offered);
}

void ShowCycleEvent(FmainForm& form, const acquisition::CycleEvent& e) {
  if (std::holds_alternative<event::AutoSampleRequest>(e)) {
    form.SetChartTitle(QString::fromLatin1(texts::kLiveChartTitle));
  } else if (std::holds_alternative<event::AutoSampleStopped>(e)) {
    SwitchOff(form.Capture().auto_sample);
    form.SetChartTitle(QString::fromLatin1(texts::kChartTitle));
  } else if (std::holds_alternative<event::StreamEnded>(e)) {
    SwitchOff(form.Capture().stream);
  } else if (auto* x = std::get_if<event::WordsRepeated>(&e)) {
    for (int i = 0; i < x->count; ++i) QApplication::beep();
  } else if (auto* x = std::get_if<event::RunCounts>(&e)) {
    form.ShowStreamCounts(x->counts);
  }
}

}  // namespace app
