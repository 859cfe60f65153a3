#pragma once

// One main window in a folder of its own, for the window tests: the settings file it starts
// against, and the error display and file dialogs replaced by recorders.
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "app/tfmain.h"
#include "persistence/ini_file.h"
#include "presentation/pulse_chart.h"

namespace tfmain_test {

using app::TFmain;

constexpr const char* kAbsent = "<absent>";

inline void WriteBytes(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
  QCOMPARE(file.write(bytes), bytes.size());
}

inline QByteArray ReadBytes(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return file.readAll();
}

// One window in a folder of its own, with the error display and the file dialogs recorded.
class Session {
 public:
  // `settings` is the body of the SETTINGS section (KEY=value lines), or null for no file.
  explicit Session(const char* settings = nullptr, bool settings_is_folder = false) {
    if (settings_is_folder) {
      QDir(dir.path()).mkdir(QStringLiteral("K390cap.ini"));
    } else if (settings != nullptr) {
      WriteBytes(IniPath(), QByteArray("[SETTINGS]\r\n") + settings);
    }
    TFmain::Hooks hooks;
    hooks.show_error = [this](const QString& message) { errors << message; };
    hooks.choose_file = [this](TFmain::FileDialog dialog) {
      dialogs << dialog;
      return next_file;
    };
    window = std::make_unique<TFmain>(dir.path() + QLatin1Char('/'), std::move(hooks));
  }

  QString IniPath() const { return dir.filePath(QStringLiteral("K390cap.ini")); }
  QString File(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }

  QString Setting(const char* key) const {
    return QString::fromStdString(
        persistence::ReadSetting(IniPath().toStdString(), "SETTINGS", key, kAbsent));
  }

  TFmain& w() { return *window; }
  presentation::PulseChart& chart() { return *window->Form().Charts().pulse; }

  QRadioButton* Item(const char* caption) const {
    return window->Form().Charts().graph_selector->findChild<QRadioButton*>(
        QStringLiteral("RGgsel_") + QString::fromLatin1(caption));
  }

  // Loads `content` as a ".JIT" file through the Load button.
  void Load(const QByteArray& content, const char* name = "trace.JIT") {
    next_file = File(name);
    WriteBytes(next_file, content);
    window->Form().Buttons().load->click();
  }

  QTemporaryDir dir;
  QStringList errors;
  QString next_file;
  QList<TFmain::FileDialog> dialogs;
  std::unique_ptr<TFmain> window;
};

}  // namespace tfmain_test
