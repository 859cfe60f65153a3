#pragma once

// A window stand-in and a fake K390 instrument on 127.0.0.1 for driving the capture cycle's
// ports and the stream path through the real event loop.

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUdpSocket>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "acquisition/capture_cycle.h"
#include "acquisition/pulse_data.h"
#include "app/capture_cycle.h"
#include "app/capture_timer.h"
#include "app/instrument_link.h"
#include "acquisition/udp_receiver.h"
#include "common/convert.h"
#include "common/error.h"

namespace app::testing {

// The window's side of the cycle, as the cycle's face. The processing pass is reduced to what
// the cycle relies on: its start and end steps however it ends, and the stream window and log
// steps in stream mode. Every pass keeps a copy of RxBuffer.
class FakeView : public acquisition::CycleFace {
 public:
  QString host = "127.0.0.1";
  QString port = "0";
  QString samples = "50";
  bool dual = false;
  bool auto_checked = false;
  bool stream_checked = false;

  bool auto_enabled = true;
  bool sample_enabled = true;
  bool stream_enabled = true;
  bool file_buttons_enabled = true;
  QString title = "K390 Jitter Data";

  std::vector<std::string> passes;
  std::vector<int64_t> window_counts;
  QStringList errors;
  int beeps = 0;
  uint64_t lost_shown = 0;
  std::vector<acquisition::event::RunStopped> stops;
  // Runs inside pass number n (from 1), before its input is taken.
  std::function<void(size_t n)> on_pass;
  bool fail_pass = false;

  CaptureCycle* cycle = nullptr;
  std::unique_ptr<acquisition::PulseData> data = std::make_unique<acquisition::PulseData>();

  acquisition::CycleFace& Window() { return *this; }

  acquisition::CycleInputs Controls() const override {
    acquisition::CycleInputs in;
    in.host = host.toStdString();
    in.port = port.toStdString();
    in.samples_text = samples.toStdString();
    const auto value = common::TryStrToInt(in.samples_text);
    in.samples_value = value ? *value : 10;
    in.dual = dual;
    in.auto_sample = auto_checked;
    in.stream = stream_checked;
    return in;
  }

  void RunPass() override { ProcessSamples(); }

  void ShowStatus(const acquisition::CycleStatus& status) override {
    auto_enabled = status.auto_sample_offered;
    sample_enabled = status.sample_offered;
    stream_enabled = status.stream_offered;
    file_buttons_enabled = !status.files_locked;
  }

  void Hear(const acquisition::CycleEvent& e) override {
    namespace event = acquisition::event;
    if (const std::optional<std::string> message = acquisition::EventError(e)) {
      errors << QString::fromStdString(*message);
    } else if (std::holds_alternative<event::AutoSampleStopped>(e)) {
      auto_checked = false;
      title = "K390 Jitter Data";
    } else if (std::holds_alternative<event::AutoSampleRequest>(e)) {
      title = "K390 Jitter Data [Live]";
    } else if (std::holds_alternative<event::StreamEnded>(e)) {
      stream_checked = false;
    } else if (auto* x = std::get_if<event::WordsRepeated>(&e)) {
      beeps += x->count;
    } else if (auto* x = std::get_if<event::RunCounts>(&e)) {
      lost_shown = x->counts.lost_words;
    } else if (auto* x = std::get_if<event::RunStopped>(&e)) {
      stops.push_back(*x);
    }
  }

  void ProcessSamples() {
    cycle->PassStarting();
    try {
      passes.push_back(cycle->RxBuffer());
      if (on_pass) on_pass(passes.size());
      if (fail_pass) throw common::Error("'$zz' is not a valid integer value");
      if (stream_checked && passes.back().find("<SAMPLES>") == std::string::npos) {
        data->Ch1Count = data->Ch2Count = 0;
        data->Ch1Average = data->Ch2Average = 0;
        cycle->TakeStreamWindow(*data);
        window_counts.push_back(data->Ch1Count);
      }
    } catch (...) {
      cycle->PassEnding();
      throw;
    }
    cycle->PassEnding();
  }

  // A handler whose error goes to the standard error display.
  void Guard(const std::function<void()>& handler) {
    try {
      handler();
    } catch (const common::Error& error) {
      errors << QString::fromStdString(error.what());
    }
  }
};

// The window's wiring: timer ticks and link reads to the cycle's handlers (datagrams go from
// the receiver's thread to the stream path).
inline void Wire(CaptureCycle& cycle, FakeView& view) {
  view.cycle = &cycle;
  QObject::connect(&cycle.Timer(), &CaptureTimer::Tick, &cycle,
                   [&] { view.Guard([&] { cycle.Timer1Timer(); }); });
  QObject::connect(&cycle.Link(), &InstrumentLink::Readable, &cycle,
                   [&] { view.Guard([&] { cycle.ClientSocket1Read(); }); });
}

// A sample reply of `records` channel 1 stamps 1000 ticks apart.
inline QByteArray SampleReply(int records) {
  QByteArray reply = "<K390><SAMPLES>" + QByteArray::number(records, 16) + ",0</SAMPLES>\r\n";
  for (int i = 0; i < records; ++i) {
    reply += QByteArray::number(i, 16) + "," + QByteArray::number(5000 + 1000 * i, 16) + ",0\r\n";
  }
  return reply + "</K390>";
}

// The acknowledgement of a stream command: the mode digit two bytes after the tag.
inline QByteArray StreamAck(char mode) {
  return QByteArray("<K390><STREAM>\r\n") + mode + "</STREAM></K390>";
}

// The bytes of stream words, least significant first.
inline QByteArray WordBytes(const std::vector<uint32_t>& words) {
  QByteArray bytes;
  for (uint32_t word : words) {
    for (int shift = 0; shift < 32; shift += 8) bytes += static_cast<char>((word >> shift) & 0xFF);
  }
  return bytes;
}

// The instrument's side of the link: gathers requests (each ends with "</K390>") and answers
// them through `reply` (no answer when it is empty or returns nothing).
class FakeInstrument : public QObject {
 public:
  std::function<QByteArray(const QByteArray& request)> reply;
  QList<QByteArray> requests;
  int connections = 0;
  bool close_after_reply = false;

  FakeInstrument() {
    server_.listen(QHostAddress::LocalHost, 0);
    QObject::connect(&server_, &QTcpServer::newConnection, this, [this] {
      while (QTcpSocket* socket = server_.nextPendingConnection()) {
        ++connections;
        peer_ = socket;
        QObject::connect(socket, &QTcpSocket::readyRead, this, [this, socket] { Read(socket); });
      }
    });
  }

  quint16 Port() const { return server_.serverPort(); }
  QString PortText() const { return QString::number(Port()); }

  void Send(const QByteArray& bytes) {
    if (peer_ == nullptr) return;
    peer_->write(bytes);
    peer_->flush();
  }
  void ClosePeer() {
    if (peer_ != nullptr) peer_->disconnectFromHost();
  }

  // Answers sample requests with a reply and stream commands with their acknowledgement.
  static QByteArray Answer(const QByteArray& request) {
    const qsizetype tag = request.indexOf("<STREAM>");
    if (tag >= 0) return StreamAck(request.at(tag + 8));
    return SampleReply(5);
  }

 private:
  void Read(QTcpSocket* socket) {
    pending_ += socket->readAll();
    qsizetype end;
    while ((end = pending_.indexOf("</K390>")) >= 0) {
      const QByteArray request = pending_.left(end + 7);
      pending_.remove(0, end + 7);
      requests << request;
      if (!reply) continue;
      const QByteArray answer = reply(request);
      if (answer.isEmpty()) continue;
      socket->write(answer);
      socket->flush();
      if (close_after_reply) socket->disconnectFromHost();
    }
  }

  QTcpServer server_;
  QTcpSocket* peer_ = nullptr;
  QByteArray pending_;
};

// A local port that nothing listens on.
inline quint16 ClosedTcpPort() {
  QTcpServer probe;
  probe.listen(QHostAddress::LocalHost, 0);
  const quint16 port = probe.serverPort();
  probe.close();
  return port;
}

inline quint16 FreeUdpPort() {
  QUdpSocket probe;
  probe.bind(QHostAddress::LocalHost, 0);
  const quint16 port = probe.localPort();
  probe.close();
  return port;
}

}  // namespace app::testing
