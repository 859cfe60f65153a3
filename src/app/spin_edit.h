#pragma once

#include <QAbstractSpinBox>
#include <QString>

class QLineEdit;

namespace app {

// An integer spin box whose value is its text. The text may stand outside the limits while the
// operator types; it is brought back within them when the box loses the focus. Reading the value
// never clamps: a text that is not an integer reads as the lower limit. Window thread only.
class SpinEdit : public QAbstractSpinBox {
  Q_OBJECT

 public:
  SpinEdit(int minimum, int maximum, int step, int max_chars, QWidget* parent = nullptr);

  // The text as an integer, or the lower limit when the text is not one.
  int Value() const;

  // Clamps `value` to the limits (unless both limits are the same) and shows it. Emits nothing:
  // returns true when the shown text changed, so that the caller can run its change handler.
  bool SetValue(int value);

  // New limits; the shown value stays as it is, even outside them.
  void SetLimits(int minimum, int maximum);
  int Minimum() const { return minimum_; }
  int Maximum() const { return maximum_; }
  int Step() const { return step_; }
  int MaxChars() const { return max_chars_; }

  QLineEdit* Editor() const { return lineEdit(); }

  // Typing, the step buttons and keys, and the clamp when the focus leaves.
  void stepBy(int steps) override;
  QValidator::State validate(QString& input, int& pos) const override;
  void fixup(QString& input) const override;
  QSize sizeHint() const override;

 signals:
  // The shown text changed through the operator (never through SetValue).
  void UserChanged();

 protected:
  StepEnabled stepEnabled() const override;
  void focusOutEvent(QFocusEvent* event) override;

 private:
  int Clamp(long long value) const;
  // Shows `text` without any signal of the editor; true when the text changed.
  bool Show(const QString& text);

  int minimum_;
  int maximum_;
  int step_;
  int max_chars_;  // 0: no limit
};

}  // namespace app
