#include "app/instrument_link.h"

#include <QHostAddress>
#include <QHostInfo>
#include <QMetaObject>
#include <cerrno>

#include "common/convert.h"
#include "common/error.h"

namespace app {
namespace {

constexpr const char* kActiveRefusal = "Can't change value while socket is active";

// The system's error number for what the socket layer met, as the operator's report shows it.
int ErrorNumber(QAbstractSocket::SocketError error) {
  switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
      return ECONNREFUSED;
    case QAbstractSocket::RemoteHostClosedError:
      return ECONNRESET;
    case QAbstractSocket::HostNotFoundError:
      return EHOSTUNREACH;
    case QAbstractSocket::SocketAccessError:
      return EACCES;
    case QAbstractSocket::SocketResourceError:
      return EMFILE;
    case QAbstractSocket::SocketTimeoutError:
      return ETIMEDOUT;
    case QAbstractSocket::NetworkError:
      return ENETUNREACH;
    case QAbstractSocket::AddressInUseError:
      return EADDRINUSE;
    case QAbstractSocket::SocketAddressNotAvailableError:
      return EADDRNOTAVAIL;
    case QAbstractSocket::UnsupportedSocketOperationError:
      return EOPNOTSUPP;
    default:
      return EIO;
  }
}

QString ConnectErrorText(int number) {
  return QStringLiteral("Asynchronous socket error %1").arg(number);
}

QString TransferErrorText(const QString& text, int number, const char* api) {
  return QStringLiteral("Socket error: %1 (%2), on API '%3'").arg(text).arg(number).arg(api);
}

}  // namespace

QString ResolveHost(const QString& host) {
  QHostAddress literal;
  if (literal.setAddress(host.trimmed())) {
    return literal.protocol() == QAbstractSocket::IPv4Protocol ? literal.toString()
                                                               : QStringLiteral("0.0.0.0");
  }
  if (!host.isEmpty()) {
    const QHostInfo info = QHostInfo::fromName(host);
    if (info.error() == QHostInfo::NoError) {
      for (const QHostAddress& address : info.addresses()) {
        if (address.protocol() == QAbstractSocket::IPv4Protocol) return address.toString();
      }
    }
  }
  return QStringLiteral("0.0.0.0");
}

InstrumentLink::InstrumentLink(QObject* parent) : QObject(parent) {
  connect(&socket_, &QTcpSocket::connected, this, &InstrumentLink::OnConnected);
  connect(&socket_, &QTcpSocket::disconnected, this, &InstrumentLink::OnDisconnected);
  connect(&socket_, &QTcpSocket::errorOccurred, this, &InstrumentLink::OnError);
  connect(&socket_, &QTcpSocket::readyRead, this, &InstrumentLink::Readable);
}

InstrumentLink::~InstrumentLink() {
  socket_.disconnect(this);
  socket_.abort();
}

void InstrumentLink::SetAddress(const QString& address) {
  if (address == address_) return;
  if (active_) throw common::Error(kActiveRefusal);
  address_ = address;
}

void InstrumentLink::SetPort(int port) {
  if (port == port_) return;
  if (active_) throw common::Error(kActiveRefusal);
  port_ = port;
}

void InstrumentLink::Open(const QString& host_text) {
  if (active_) return;
  if (connecting_ && connecting_address_ == address_ && connecting_port_ == port_) return;
  if (socket_.state() != QAbstractSocket::UnconnectedState) socket_.abort();
  connecting_ = true;
  connecting_address_ = address_;
  connecting_port_ = port_;
  ++connection_;

  // The unresolved address and impossible ports fail as a refused attempt would, reported from
  // the event loop like every other connection failure. A name that did not resolve is said
  // as such; an address typed as 0.0.0.0 (or one of another family) stays a socket error.
  const QHostAddress target(address_);
  if (target == QHostAddress::AnyIPv4) {
    const QString host = host_text.trimmed();
    QHostAddress literal;
    const bool name = !host.isEmpty() && !literal.setAddress(host);
    return ReportConnectFailure(
        name ? QString::fromStdString(common::HostNotFoundMessage(host_text.toStdString()))
             : ConnectErrorText(EADDRNOTAVAIL));
  }
  if (port_ <= 0 || port_ > 65535) return ReportConnectFailure(ConnectErrorText(EINVAL));
  socket_.connectToHost(address_, static_cast<quint16>(port_));
}

void InstrumentLink::Connect(const std::string& host, const std::string& port) {
  const QString host_text = QString::fromStdString(host);
  SetAddress(ResolveHost(host_text));
  SetPort(common::StrToInt(port));
  Open(host_text);
}

void InstrumentLink::Close() {
  connecting_ = false;
  active_ = false;
  if (socket_.state() == QAbstractSocket::ConnectedState) {
    socket_.disconnectFromHost();
    // Whatever could not be written at once is not waited for: the next Open must find the
    // socket unconnected.
    if (socket_.state() != QAbstractSocket::UnconnectedState) socket_.abort();
  } else if (socket_.state() != QAbstractSocket::UnconnectedState) {
    socket_.abort();
  }
}

void InstrumentLink::Send(std::string_view bytes) {
  const qint64 written = socket_.write(bytes.data(), static_cast<qint64>(bytes.size()));
  if (written == static_cast<qint64>(bytes.size())) {
    socket_.flush();
    return;
  }
  const QString message =
      TransferErrorText(socket_.errorString(), ErrorNumber(socket_.error()), "send");
  Close();
  throw common::Error(message.toStdString());
}

qint64 InstrumentLink::BytesAvailable() const { return socket_.bytesAvailable(); }

std::string InstrumentLink::Read(qint64 max_bytes) {
  const QByteArray bytes = socket_.read(max_bytes);
  return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

void InstrumentLink::OnConnected() {
  connecting_ = false;
  active_ = true;
  emit Connected();
}

void InstrumentLink::OnDisconnected() {
  connecting_ = false;
  // Close() marks the link inactive before the socket lets go, so only the peer's end is
  // still active here.
  LostToPeer();
}

void InstrumentLink::LostToPeer() {
  if (!active_) return;
  active_ = false;
  const quint64 connection = connection_;
  QMetaObject::invokeMethod(
      this,
      [this, connection] {
        if (connection == connection_ && !active_ && !connecting_) emit PeerClosed();
      },
      Qt::QueuedConnection);
}

void InstrumentLink::OnError(QAbstractSocket::SocketError error) {
  if (connecting_ && !active_) {
    connecting_ = false;
    socket_.abort();
    emit ErrorReported(ConnectErrorText(ErrorNumber(error)));
    return;
  }
  if (!active_) return;
  // The peer closing the connection is the end of the conversation, not a socket failure. The
  // bytes it sent before closing stay readable.
  if (error == QAbstractSocket::RemoteHostClosedError) return LostToPeer();
  active_ = false;
  const char* api = socket_.bytesToWrite() > 0 ? "send" : "recv";
  const QString message = TransferErrorText(socket_.errorString(), ErrorNumber(error), api);
  socket_.abort();
  emit ErrorReported(message);
}

void InstrumentLink::ReportConnectFailure(const QString& message) {
  const QString address = connecting_address_;
  const int port = connecting_port_;
  QMetaObject::invokeMethod(
      this,
      [this, address, port, message] {
        // A Close or a new attempt in between withdraws this report.
        if (!connecting_ || connecting_address_ != address || connecting_port_ != port) return;
        connecting_ = false;
        emit ErrorReported(message);
      },
      Qt::QueuedConnection);
}

}  // namespace app
