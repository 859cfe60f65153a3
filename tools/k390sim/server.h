#pragma once

#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTcpServer>
#include <QTimer>
#include <QUdpSocket>
#include <cstdint>
#include <deque>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "acquisition/protocol.h"
#include "pulse_model.h"
#include "sim_protocol.h"

class QTcpSocket;

namespace k390sim {

struct ServerOptions {
  QHostAddress bind_address{QHostAddress::LocalHost};
  quint16 port = acquisition::kInstrumentTcpPort;
  ModelConfig model;
  int stamp_bits = 64;  // 32: sample replies carry the counter modulo 2^32
  quint16 udp_port = acquisition::kStreamUdpPort;
  int words_per_datagram = 250;
  int foreign_every = 0;  // N >= 2: a datagram from another socket before every Nth datagram
  StreamShape shape;
  QString log_words_path;  // empty: streamed words are not logged
  int split_bytes = 0;     // 0: each reply in one write
  int split_pause_ms = 0;
  int delay_ms = 0;
  bool no_reply = false;
  bool close_after_reply = false;
  bool malformed = false;
  // The instrument going away mid-run: after this many sample replies (counted over all links),
  // close the link that got the last one, or stop answering sample requests. 0: never.
  int64_t close_after_replies = 0;
  int64_t silent_after_replies = 0;
  // Sample replies that stop short: the header announces the count asked for, the records end
  // after this many. -1: whole replies.
  int64_t short_reply_records = -1;
};

// The simulated instrument: answers sample requests from the pulse model and sends the stream
// words over UDP or on the requesting TCP link. Serves any number of connections; there is one
// stream at a time, and a new stream command replaces it. Runs on the thread of its event loop.
class Server : public QObject {
 public:
  explicit Server(const ServerOptions& options, QObject* parent = nullptr);

  // Opens the listening socket and the word log. Returns false with `error` set on failure.
  bool Start(QString* error);
  QHostAddress Address() const { return listener_.serverAddress(); }
  quint16 Port() const { return listener_.serverPort(); }

 private:
  struct Outgoing {
    std::string bytes;
    size_t sent = 0;
    std::function<void()> after;  // runs once the last byte has been handed to the socket
  };
  struct Connection {
    QString peer;
    std::string rx;
    std::deque<Outgoing> out;
    bool pumping = false;
  };
  struct Stream {
    Stream(int stream_mode, const StreamShape& shape) : mode(stream_mode), words(shape) {}
    int mode = 0;
    QPointer<QTcpSocket> tcp;  // mode 2
    QHostAddress udp_to;       // mode 1
    QElapsedTimer clock;
    int64_t pulses = 0;  // pulses generated since the stream started
    StreamWords words;
    std::vector<uint32_t> pending;  // words not yet sent, fewer than a datagram in UDP mode
    int64_t datagrams = 0;          // stream datagrams sent
    int64_t foreign_sent = 0;       // datagrams sent from the other socket
    int64_t foreign_before = 0;     // the datagram the last of them went before
  };

  void OnNewConnection();
  void OnReadyRead(QTcpSocket* socket);
  void OnDisconnected(QTcpSocket* socket);
  void Handle(QTcpSocket* socket, const Request& request);
  void AnswerSamples(QTcpSocket* socket, const Request& request, const QString& what);
  void Reply(QTcpSocket* socket, std::string reply, std::function<void()> after = {});
  void Pump(QTcpSocket* socket);
  void StartStream(QTcpSocket* socket, int mode);
  void StopStream(const QString& why);
  void OnStreamTick();
  // Sends the pending words as datagrams (the last short one too when `finished`); false when
  // the send buffer refused one, its words and those after it staying pending.
  bool SendDatagrams(Stream& stream, bool finished);
  // The foreign-sender fault: a datagram to the receiver from another socket of this host,
  // ahead of stream datagram `next` when it is due.
  void SendForeignDatagram(Stream& stream, int64_t next);
  void Log(const QString& line) const;

  ServerOptions options_;
  PulseModel model_;
  QTcpServer listener_;
  QUdpSocket udp_;
  QUdpSocket foreign_udp_;  // another sender on the instrument's host
  QTimer stream_timer_;
  std::unordered_map<QTcpSocket*, Connection> connections_;  // references stay valid
  std::optional<Stream> stream_;
  std::ofstream word_log_;
  uint64_t send_retries_ = 0;
  int64_t sample_replies_ = 0;
};

}  // namespace k390sim
