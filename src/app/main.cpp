#include <QApplication>

#include "app/tfmain.h"

// Program entry: the one window, created with its start-up, then the event loop until it closes.
int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("K390cap"));
  app::TFmain Fmain;
  Fmain.show();
  return QApplication::exec();
}
