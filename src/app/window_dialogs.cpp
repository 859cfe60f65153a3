#include "app/window_dialogs.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QMetaObject>
#include <QWidget>

#include "app/window_texts.h"

namespace app {

QString ErrorText(const QString& message) {
  if (!message.isEmpty() && message.back().unicode() > u'.') return message + QLatin1Char('.');
  return message;
}

void ShowErrorBox(QWidget* parent, const QString& text) {
  QMessageBox box(QMessageBox::Critical, QString::fromLatin1(texts::kApplicationName), text,
                  QMessageBox::Ok, parent);
  box.exec();
}

void ErrorQueue::Post(QWidget* parent, const QString& text) {
  if (waiting_.contains(text)) return;
  waiting_ << text;
  if (waiting_.size() == 1 && !box_open_) {
    QMetaObject::invokeMethod(
        parent, [this, parent] { ShowWaiting(parent); }, Qt::QueuedConnection);
  }
}

void ErrorQueue::ShowWaiting(QWidget* parent) {
  if (box_open_) return;
  box_open_ = true;
  while (!waiting_.isEmpty()) {
    ShowErrorBox(parent, waiting_.first());
    waiting_.removeFirst();
  }
  box_open_ = false;
}

QString ChooseJitFile(QWidget* parent, bool save) {
  QFileDialog chooser(parent);
  chooser.setObjectName(save ? QStringLiteral("SaveDialog1") : QStringLiteral("OpenDialog1"));
  chooser.setNameFilter(QString::fromLatin1(texts::kFileFilter));
  if (!save) {
    chooser.setNameFilters(
        {QString::fromLatin1(texts::kFileFilter), QString::fromLatin1(texts::kReplyFilter)});
  }
  chooser.setDefaultSuffix(QString::fromLatin1(texts::kFileSuffix));
  chooser.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  chooser.setFileMode(QFileDialog::AnyFile);
  if (save) chooser.setOption(QFileDialog::DontConfirmOverwrite);
  if (chooser.exec() != QDialog::Accepted || chooser.selectedFiles().isEmpty()) return {};
  return chooser.selectedFiles().constFirst();
}

}  // namespace app
