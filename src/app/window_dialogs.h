#pragma once

#include <QString>

class QWidget;

namespace app {

// The standard error display's text: a full stop is added when the message ends in a character
// above '.'.
QString ErrorText(const QString& message);

// The standard error display: a modal box titled with the application's name. Never from inside
// a socket, datagram or timer handler; those queue their errors.
void ShowErrorBox(QWidget* parent, const QString& text);

// The file dialog of Load (`save` false) or Save for .JIT files: the chosen name, or empty for
// a cancel.
QString ChooseJitFile(QWidget* parent, bool save);

}  // namespace app
