#include "server.h"

#include <QDateTime>
#include <QTcpSocket>
#include <algorithm>
#include <cmath>
#include <cstdio>

namespace k390sim {
namespace {

// Stream words are generated in timer batches; a short period keeps a 250 kHz stream smooth
// without a timer per word.
constexpr int kStreamTickMs = 5;
// After a stall of the event loop the stream catches up at most this many pulses per tick, so
// one late tick cannot build a burst of many megabytes.
constexpr int64_t kMaxPulsesPerTick = 200000;
// A TCP stream whose reader has stopped reading is paused rather than buffered without bound.
constexpr qint64 kMaxTcpBacklog = 8 * 1024 * 1024;
// Words waiting for room in the UDP send buffer before no new ones are made.
constexpr size_t kMaxUdpBacklogWords = 2 * 1024 * 1024;
// Requests are a few dozen bytes; a peer that sends this much without an end tag is not a
// desktop tool and is disconnected.
constexpr size_t kMaxRequestBytes = 64 * 1024;

QString PeerText(const QTcpSocket* socket) {
  return socket->peerAddress().toString() + ":" + QString::number(socket->peerPort());
}

// UDP datagrams go to the requester as IPv4 when it connected through an IPv4-mapped address.
QHostAddress PlainAddress(const QHostAddress& address) {
  bool is_v4 = false;
  quint32 v4 = address.toIPv4Address(&is_v4);
  return is_v4 ? QHostAddress(v4) : address;
}

}  // namespace

Server::Server(const ServerOptions& options, QObject* parent)
    : QObject(parent), options_(options), model_(options.model) {
  stream_timer_.setTimerType(Qt::PreciseTimer);
  stream_timer_.setInterval(kStreamTickMs);
  connect(&stream_timer_, &QTimer::timeout, this, &Server::OnStreamTick);
  connect(&listener_, &QTcpServer::newConnection, this, &Server::OnNewConnection);
}

bool Server::Start(QString* error) {
  if (!options_.log_words_path.isEmpty()) {
    word_log_.open(options_.log_words_path.toStdString(), std::ios::out | std::ios::trunc);
    if (!word_log_) {
      *error = "cannot write the word log " + options_.log_words_path;
      return false;
    }
  }
  if (!listener_.listen(options_.bind_address, options_.port)) {
    *error = "cannot listen on " + options_.bind_address.toString() + ":" +
             QString::number(options_.port) + ": " + listener_.errorString();
    return false;
  }
  return true;
}

void Server::Log(const QString& line) const {
  const QString stamp = QDateTime::currentDateTime().toString("hh:mm:ss.zzz");
  std::fprintf(stderr, "%s %s\n", qPrintable(stamp), qPrintable(line));
  std::fflush(stderr);
}

void Server::OnNewConnection() {
  while (QTcpSocket* socket = listener_.nextPendingConnection()) {
    connections_[socket].peer = PeerText(socket);
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] { OnReadyRead(socket); });
    connect(socket, &QTcpSocket::disconnected, this, [this, socket] { OnDisconnected(socket); });
  }
}

void Server::OnDisconnected(QTcpSocket* socket) {
  if (stream_ && stream_->mode == 2 && stream_->tcp == socket) {
    StopStream("link closed by the peer");
  }
  connections_.erase(socket);
  socket->deleteLater();
}

void Server::OnReadyRead(QTcpSocket* socket) {
  auto found = connections_.find(socket);
  if (found == connections_.end()) return;
  Connection& connection = found->second;
  const QByteArray bytes = socket->readAll();
  connection.rx.append(bytes.constData(), static_cast<size_t>(bytes.size()));
  // Several requests may arrive in one read, or one request over several reads.
  while (size_t length = RequestLength(connection.rx)) {
    const Request request = ParseRequest(std::string_view(connection.rx).substr(0, length));
    connection.rx.erase(0, length);
    Handle(socket, request);
    if (connections_.find(socket) == connections_.end()) return;
  }
  if (connection.rx.size() > kMaxRequestBytes) {
    Log(connection.peer + " sent " + QString::number(connection.rx.size()) +
        " bytes without a request end tag; closing");
    connection.rx.clear();
    socket->abort();
  }
}

void Server::Handle(QTcpSocket* socket, const Request& request) {
  const QString peer = connections_[socket].peer;
  QString what;
  switch (request.kind) {
    case RequestKind::kSample:
      what = QString("sample %1 count=%2").arg(request.dual ? "ch1+ch2" : "ch1").arg(request.count);
      break;
    case RequestKind::kStream:
      what = QString("stream mode=%1").arg(request.mode);
      break;
    case RequestKind::kInvalid:
      what = QString("invalid request: %1").arg(QString::fromStdString(request.problem));
      break;
  }
  if (options_.no_reply) {
    Log(peer + " " + what + " -> no reply");
    return;
  }

  if (request.kind == RequestKind::kInvalid) {
    Log(peer + " " + what + " -> error reply");
    Reply(socket, FormatErrorReply(request.problem));
    return;
  }

  if (request.kind == RequestKind::kStream) {
    // Stop first, so that no word of the old stream follows the acknowledgement.
    if (stream_)
      StopStream(request.mode == 0 ? "stop command" : "replaced by a new stream command");
    QString target = "stopped";
    if (request.mode == 1) {
      target = "UDP to " + PlainAddress(socket->peerAddress()).toString() + ":" +
               QString::number(options_.udp_port);
    } else if (request.mode == 2) {
      target = "words on this link";
    }
    Log(peer + " " + what + " -> " + target);
    const int mode = request.mode;
    QPointer<QTcpSocket> guard(socket);
    Reply(socket, FormatStreamAck(mode != 0), [this, guard, mode] {
      if (mode != 0 && guard) StartStream(guard, mode);
    });
    return;
  }

  // A streaming instrument does not answer sample requests; the desktop tool's reply timeout
  // has to deal with that.
  if (stream_) {
    Log(peer + " " + what + " -> no reply while streaming");
    return;
  }
  if (options_.silent_after_replies > 0 && sample_replies_ >= options_.silent_after_replies) {
    Log(peer + " " + what + " -> no reply after " + QString::number(sample_replies_));
    return;
  }
  AnswerSamples(socket, request, peer + " " + what);
}

void Server::AnswerSamples(QTcpSocket* socket, const Request& request, const QString& what) {
  Samples samples = model_.TakeSamples(request.count, request.dual);
  std::vector<uint64_t>& ch1 = samples.ch1;
  std::vector<uint64_t>& ch2 = samples.ch2;
  if (options_.stamp_bits == 32) {
    for (uint64_t& stamp : ch1) stamp &= 0xFFFFFFFFu;
    for (uint64_t& stamp : ch2) stamp &= 0xFFFFFFFFu;
  }
  const bool cut = options_.short_reply_records >= 0;
  std::string reply =
      FormatSampleReply(ch1, ch2, options_.malformed,
                        cut ? static_cast<size_t>(options_.short_reply_records) : ch1.size());
  ++sample_replies_;
  const bool last =
      options_.close_after_replies > 0 && sample_replies_ == options_.close_after_replies;
  Log(what + " -> " + QString::number(reply.size()) + " bytes, first stamp " +
      QString::number(ch1.front(), 16).toUpper() + (options_.malformed ? ", malformed" : "") +
      (cut ? ", cut short" : "") + (last ? ", then the link closed" : ""));
  QPointer<QTcpSocket> guard(socket);
  Reply(socket, std::move(reply), [guard, last] {
    if (last && guard) guard->disconnectFromHost();
  });
}

void Server::Reply(QTcpSocket* socket, std::string reply, std::function<void()> after) {
  Connection& connection = connections_[socket];
  connection.out.push_back({std::move(reply), 0, std::move(after)});
  if (connection.pumping) return;
  connection.pumping = true;
  // Without a delay the first bytes go out before the socket can see a half-close that came
  // with the request.
  if (options_.delay_ms == 0) {
    Pump(socket);
  } else {
    QTimer::singleShot(options_.delay_ms, socket, [this, socket] { Pump(socket); });
  }
}

void Server::Pump(QTcpSocket* socket) {
  auto found = connections_.find(socket);
  if (found == connections_.end()) return;
  Connection& connection = found->second;
  if (connection.out.empty()) {
    connection.pumping = false;
    return;
  }
  Outgoing& outgoing = connection.out.front();
  size_t piece = outgoing.bytes.size() - outgoing.sent;
  if (options_.split_bytes > 0) piece = std::min(piece, static_cast<size_t>(options_.split_bytes));
  socket->write(outgoing.bytes.data() + outgoing.sent, static_cast<qint64>(piece));
  // Handed to the system at once: Qt drops its own write buffer when the peer closes its
  // side, which a client that half-closes after its request (as nc does) does right away.
  socket->flush();
  // A peer that has reset the link makes flush() fail and emit disconnected before it returns;
  // that handler has dropped the connection with its queue, so nothing of it may be touched.
  found = connections_.find(socket);
  if (found == connections_.end()) return;
  Connection& still = found->second;
  Outgoing& current = still.out.front();
  current.sent += piece;
  if (current.sent < current.bytes.size()) {
    QTimer::singleShot(options_.split_pause_ms, socket, [this, socket] { Pump(socket); });
    return;
  }
  std::function<void()> after = std::move(current.after);
  still.out.pop_front();
  if (options_.close_after_reply) {
    still.out.clear();
    still.pumping = false;
    if (after) after();
    // disconnectFromHost sends what is still buffered before the link closes.
    socket->disconnectFromHost();
    return;
  }
  still.pumping = !still.out.empty();
  if (still.pumping) {
    QTimer::singleShot(options_.delay_ms, socket, [this, socket] { Pump(socket); });
  }
  if (after) after();
}

void Server::StartStream(QTcpSocket* socket, int mode) {
  Stream& stream = stream_.emplace(mode, options_.shape);
  if (mode == 1) {
    stream.udp_to = PlainAddress(socket->peerAddress());
  } else {
    stream.tcp = socket;
  }
  stream.clock.start();
  stream_timer_.start();
}

void Server::StopStream(const QString& why) {
  if (!stream_) return;
  Log(QString("stream stopped after %1 words: %2").arg(stream_->words.WordsSent()).arg(why));
  if (options_.foreign_every > 0) {
    Log(QString("datagrams from another socket: %1").arg(stream_->foreign_sent));
  }
  if (send_retries_ > 0) {
    Log(QString("datagrams sent again after a full send buffer: %1").arg(send_retries_));
    send_retries_ = 0;
  }
  stream_.reset();
  stream_timer_.stop();
  word_log_.flush();
}

void Server::OnStreamTick() {
  if (!stream_) return;
  Stream& stream = *stream_;
  if (stream.mode == 2) {
    if (!stream.tcp || stream.tcp->state() != QAbstractSocket::ConnectedState) {
      StopStream("link gone");
      return;
    }
    if (stream.tcp->bytesToWrite() > kMaxTcpBacklog) return;
  } else if (stream.pending.size() > kMaxUdpBacklogWords) {
    // The socket's send buffer has been full for a while: send, but make no new words.
    SendDatagrams(stream, false);
    return;
  }

  const double elapsed_s = static_cast<double>(stream.clock.nsecsElapsed()) * 1e-9;
  const auto due_total =
      static_cast<int64_t>(std::floor(elapsed_s * options_.model.ch1.frequency_hz));
  int64_t due = std::min(due_total - stream.pulses, kMaxPulsesPerTick);
  const size_t first_new = stream.pending.size();
  while (due-- > 0 && !stream.words.Finished()) {
    stream.words.AddPulse(model_.NextStreamStamp(), stream.pending);
    ++stream.pulses;
  }
  if (word_log_.is_open()) {
    for (size_t i = first_new; i < stream.pending.size(); ++i)
      word_log_ << stream.pending[i] << '\n';
    // Flushed before the words go out, so a reader that has every word also has the log.
    word_log_.flush();
  }

  const bool finished = stream.words.Finished();
  if (stream.mode == 2) {
    std::string bytes;
    AppendWordBytes(stream.pending, bytes);
    stream.pending.clear();
    if (!bytes.empty()) stream.tcp->write(bytes.data(), static_cast<qint64>(bytes.size()));
  } else if (!SendDatagrams(stream, finished)) {
    return;  // the last words wait for room in the send buffer
  }
  if (finished) StopStream("word limit reached");
}

void Server::SendForeignDatagram(Stream& stream, int64_t next) {
  if (options_.foreign_every < 2 || next % options_.foreign_every != 0) return;
  if (stream.foreign_before == next) return;  // sent already; the stream datagram was refused
  // Four words that would read as a wild jump in the stamps.
  const std::string bytes(16, '\x5A');
  if (foreign_udp_.writeDatagram(bytes.data(), static_cast<qint64>(bytes.size()), stream.udp_to,
                                 options_.udp_port) == static_cast<qint64>(bytes.size())) {
    ++stream.foreign_sent;
    stream.foreign_before = next;
  }
}

bool Server::SendDatagrams(Stream& stream, bool finished) {
  const auto per_datagram = static_cast<size_t>(options_.words_per_datagram);
  size_t sent = 0;
  bool all = true;
  while (stream.pending.size() - sent >= per_datagram ||
         (finished && sent < stream.pending.size())) {
    const size_t count = std::min(per_datagram, stream.pending.size() - sent);
    SendForeignDatagram(stream, stream.datagrams + 1);
    std::string bytes;
    AppendWordBytes(std::span(stream.pending).subspan(sent, count), bytes);
    // A full send buffer refuses the datagram: its words stay pending for the next tick, so
    // every word in the word log does leave this socket, in order.
    if (udp_.writeDatagram(bytes.data(), static_cast<qint64>(bytes.size()), stream.udp_to,
                           options_.udp_port) < 0) {
      ++send_retries_;
      all = false;
      break;
    }
    sent += count;
    ++stream.datagrams;
  }
  stream.pending.erase(stream.pending.begin(),
                       stream.pending.begin() + static_cast<std::ptrdiff_t>(sent));
  return all;
}

}  // namespace k390sim
