#pragma once

#include <QString>
#include <QStringList>

class QWidget;

namespace app {

// The standard error display's text: a full stop is added when the message ends in a character
// above '.'.
QString ErrorText(const QString& message);

// The standard error display: a modal box titled with the application's name. Never from inside
// a socket, datagram or timer handler; those queue their errors.
void ShowErrorBox(QWidget* parent, const QString& text);

// Error messages waiting for the standard error display. A message posted from a handler shows
// after that handler has returned, one box per waiting message, a message already waiting is
// not queued twice, and a message posted while a box is open waits for it to close: a modal box
// inside a socket or timer handler would hold that handler's limits while its nested event loop
// kept the sockets reading. Window thread only.
class ErrorQueue {
 public:
  // The boxes belong to `parent`, and are dropped with it.
  void Post(QWidget* parent, const QString& text);

 private:
  void ShowWaiting(QWidget* parent);

  QStringList waiting_;
  bool box_open_ = false;
};

// The file dialog of Load (`save` false) or Save for .JIT files: the chosen name, or empty for
// a cancel.
QString ChooseJitFile(QWidget* parent, bool save);

}  // namespace app
