#pragma once

// The instrument simulator k390sim as a separate process on 127.0.0.1, for the window tests
// that run against it end to end.
#include <QByteArray>
#include <QObject>
#include <QProcess>
#include <QStringList>
#include <cstdint>
#include <vector>

#include "tfmain_session.h"

namespace tfmain_test {

// Generous: the whole stack runs under the sanitizers on a shared machine.
constexpr int kWaitMs = 20000;
// Longer than the window's 4,000 ms reply timeout, with room to spare.
constexpr int kTimeoutWaitMs = 15000;

// One k390sim process on 127.0.0.1 with a port of its own choosing. Killed with the object.
class Simulator {
 public:
  // Starts the simulator and reads its port from the first line of its output.
  bool Start(const QStringList& options) {
    process_.setProgram(QStringLiteral(K390SIM_PATH));
    process_.setArguments(QStringList{"--bind", "127.0.0.1", "--port", "0"} + options);
    QObject::connect(&process_, &QProcess::readyReadStandardError,
                     [this] { log_ += process_.readAllStandardError(); });
    process_.start();
    if (!process_.waitForStarted(kWaitMs)) return false;
    QByteArray first_line;
    while (!first_line.contains('\n')) {
      if (!process_.waitForReadyRead(kWaitMs)) return false;
      first_line += process_.readAllStandardOutput();
    }
    const QByteArray prefix = "listening on 127.0.0.1:";
    if (!first_line.startsWith(prefix)) return false;
    bool ok = false;
    port_ = first_line.mid(prefix.size()).trimmed().toUShort(&ok);
    return ok && port_ != 0;
  }

  ~Simulator() {
    if (process_.state() != QProcess::NotRunning) {
      process_.kill();
      process_.waitForFinished(kWaitMs);
    }
  }

  quint16 Port() const { return port_; }
  // Sample replies sent so far, counted from the simulator's request log.
  int SampleReplies() const { return static_cast<int>(log_.count(" bytes, first stamp ")); }
  int Requests() const { return static_cast<int>(log_.count(" -> ")); }
  const QByteArray& LogText() const { return log_; }

 private:
  QProcess process_;
  quint16 port_ = 0;
  QByteArray log_;
};

// A settings file body for a window that talks to the simulator on `port`, plus `more`.
inline QByteArray Settings(quint16 port, const char* more) {
  return "IP=127.0.0.1\r\nPORT=" + QByteArray::number(port) + "\r\n" + more;
}

// The simulator's word log: one decimal word per line.
inline std::vector<uint32_t> ReadWords(const QString& path) {
  std::vector<uint32_t> words;
  for (const QByteArray& line : ReadBytes(path).split('\n')) {
    if (line.trimmed().isEmpty()) continue;
    words.push_back(line.trimmed().toUInt());
  }
  return words;
}

// The window's stream log: one decimal delta per CR LF line.
inline QList<QByteArray> ReadLogLines(const QString& path) {
  QList<QByteArray> lines = ReadBytes(path).split('\n');
  if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
  return lines;
}

}  // namespace tfmain_test
