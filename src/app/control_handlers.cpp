#include "app/control_handlers.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QLineEdit>
#include <QRadioButton>
#include <QSignalBlocker>

#include "app/spin_edit.h"

namespace app {

void ControlHandlers::Attach(const QObject* control, std::function<void()> handler) {
  handlers_.insert(control, std::move(handler));
}

void ControlHandlers::Detach(const QObject* control) { handlers_.remove(control); }

void ControlHandlers::Run(const QObject* control) const {
  const auto found = handlers_.constFind(control);
  if (found != handlers_.constEnd()) found.value()();
}

void ControlHandlers::SetText(QLineEdit* edit, const QString& text) const {
  if (edit->text() == text) return;
  {
    const QSignalBlocker block(edit);
    edit->setText(text);
  }
  Run(edit);
}

void ControlHandlers::SetChecked(QAbstractButton* button, bool checked) const {
  if (button->isChecked() == checked) return;
  {
    const QSignalBlocker block(button);
    button->setChecked(checked);
  }
  if (button->isChecked() != checked) return;
  const bool radio = qobject_cast<QRadioButton*>(button) != nullptr;
  if (!radio || checked) Run(button);
}

void ControlHandlers::SetValue(SpinEdit* box, int value) const {
  if (box->SetValue(value)) Run(box);
}

void ControlHandlers::CheckItem(QButtonGroup* group, QAbstractButton* item,
                                const QObject* selector) const {
  if (item == nullptr || item->isChecked()) return;
  {
    const QSignalBlocker block_group(group);
    const QSignalBlocker block_item(item);
    item->setChecked(true);
  }
  Run(selector);
}

}  // namespace app
