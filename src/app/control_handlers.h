#pragma once

#include <QHash>
#include <QString>
#include <functional>

class QAbstractButton;
class QButtonGroup;
class QLineEdit;
class QObject;

namespace app {

class SpinEdit;

// The window's table of control handlers and its changes from code. An operator's change runs
// the attached handler through the control's own signal; a change made here blocks that signal
// and runs the handler directly, only when what the control shows changes, so that an error
// reaches the code that made the change. Window thread only.
class ControlHandlers {
 public:
  void Attach(const QObject* control, std::function<void()> handler);
  void Detach(const QObject* control);
  // Runs the handler attached to `control`, if any; its errors go through.
  void Run(const QObject* control) const;

  void SetText(QLineEdit* edit, const QString& text) const;
  // A radio button's handler runs when it becomes checked; an exclusive group may refuse to
  // uncheck its checked button, which then changes nothing.
  void SetChecked(QAbstractButton* button, bool checked) const;
  void SetValue(SpinEdit* box, int value) const;
  // Checks `item` of a selector's group and runs the selector's handler, when it was unchecked.
  void CheckItem(QButtonGroup* group, QAbstractButton* item, const QObject* selector) const;

 private:
  QHash<const QObject*, std::function<void()>> handlers_;
};

}  // namespace app
