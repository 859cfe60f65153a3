#include "app/spin_edit.h"

#include <QFocusEvent>
#include <QLineEdit>
#include <QSignalBlocker>
#include <algorithm>

#include "common/convert.h"

namespace app {

SpinEdit::SpinEdit(int minimum, int maximum, int step, int max_chars, QWidget* parent)
    : QAbstractSpinBox(parent),
      minimum_(minimum),
      maximum_(maximum),
      step_(step),
      max_chars_(max_chars) {
  setButtonSymbols(QAbstractSpinBox::UpDownArrows);
  setCorrectionMode(QAbstractSpinBox::CorrectToPreviousValue);
  setKeyboardTracking(true);
  Show(QString::number(minimum_));
  connect(lineEdit(), &QLineEdit::textEdited, this, [this] { emit UserChanged(); });
}

int SpinEdit::Value() const {
  const auto value = common::TryStrToInt(text().toStdString());
  return value ? *value : minimum_;
}

int SpinEdit::Clamp(long long value) const {
  if (minimum_ == maximum_)
    return static_cast<int>(std::clamp<long long>(value, INT32_MIN, INT32_MAX));
  return static_cast<int>(
      std::clamp<long long>(value, std::min(minimum_, maximum_), std::max(minimum_, maximum_)));
}

bool SpinEdit::Show(const QString& text) {
  if (lineEdit()->text() == text) return false;
  const QSignalBlocker block_editor(lineEdit());
  const QSignalBlocker block_box(this);
  lineEdit()->setText(text);
  update();
  return true;
}

bool SpinEdit::SetValue(int value) { return Show(QString::number(Clamp(value))); }

void SpinEdit::SetLimits(int minimum, int maximum) {
  minimum_ = minimum;
  maximum_ = maximum;
}

void SpinEdit::stepBy(int steps) {
  const long long next = static_cast<long long>(Value()) + static_cast<long long>(steps) * step_;
  if (Show(QString::number(Clamp(next)))) emit UserChanged();
  lineEdit()->selectAll();
}

QAbstractSpinBox::StepEnabled SpinEdit::stepEnabled() const {
  if (isReadOnly()) return StepNone;
  return StepUpEnabled | StepDownEnabled;
}

QValidator::State SpinEdit::validate(QString& input, int& /*pos*/) const {
  if (max_chars_ > 0 && input.size() > max_chars_) return QValidator::Invalid;
  for (qsizetype i = 0; i < input.size(); ++i) {
    const QChar c = input[i];
    const bool sign = i == 0 && (c == u'-' || c == u'+');
    if (!sign && !c.isDigit()) return QValidator::Invalid;
    if (c.isDigit() && (c.unicode() < u'0' || c.unicode() > u'9')) return QValidator::Invalid;
  }
  // Anything short of a stray character is kept as typed: out-of-range values wait for the
  // focus to leave, and an empty box reads as its lower limit.
  return QValidator::Acceptable;
}

void SpinEdit::fixup(QString& /*input*/) const {}

QSize SpinEdit::sizeHint() const {
  const QSize base = QAbstractSpinBox::sizeHint();
  return {std::max(base.width(), 40), base.height()};
}

void SpinEdit::focusOutEvent(QFocusEvent* event) {
  QAbstractSpinBox::focusOutEvent(event);
  // A context menu or another window taking the keyboard for a while (an error message among
  // them) hands the focus back to this box afterwards: the typing is not over, so nothing is
  // clamped and no handler runs from inside that other window's loop.
  if (event->reason() == Qt::PopupFocusReason || event->reason() == Qt::ActiveWindowFocusReason)
    return;
  const auto value = common::TryStrToInt(text().toStdString());
  if (!value) return;
  if (Show(QString::number(Clamp(*value)))) emit UserChanged();
}

}  // namespace app
