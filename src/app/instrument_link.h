#pragma once

#include <QObject>
#include <QString>
#include <QTcpSocket>
#include <string>

namespace app {

// The dotted IPv4 address of a host name or address text, the first one the lookup gives, or
// "0.0.0.0" when the lookup fails. Blocks while the name is looked up. Window thread.
QString ResolveHost(const QString& host);

// The instrument link (ClientSocket1): a non-blocking TCP client. Active only from the moment
// the connection is established until it closes from either side. Errors the socket layer meets
// on its own are reported through ErrorReported; a failed connection attempt reads
// "Asynchronous socket error <errno>". Window thread only.
class InstrumentLink : public QObject {
  Q_OBJECT

 public:
  explicit InstrumentLink(QObject* parent = nullptr);
  ~InstrumentLink() override;

  // Changing either while the link is active throws
  // common::Error("Can't change value while socket is active"); the value it already has is
  // accepted.
  void SetAddress(const QString& address);
  void SetPort(int port);
  QString Address() const { return address_; }
  int Port() const { return port_; }

  // Starts a connection attempt towards the address and port and returns at once. Does nothing
  // while the link is active or already connecting to the same endpoint.
  void Open();
  // Ends the connection, or abandons a connection attempt.
  void Close();
  bool Active() const { return active_; }

  // Queues the bytes unchanged. Throws common::Error when the socket refuses them; the link is
  // closed then.
  void Send(const std::string& bytes);
  qint64 BytesAvailable() const;
  // Up to `max_bytes` waiting bytes.
  std::string Read(qint64 max_bytes);

 signals:
  void Readable();
  void Connected();
  void ErrorReported(const QString& message);

 private:
  void OnConnected();
  void OnDisconnected();
  void OnError(QAbstractSocket::SocketError error);
  void ReportConnectFailure(int error_number);

  QTcpSocket socket_;
  QString address_;
  int port_ = 0;
  bool active_ = false;
  bool connecting_ = false;
  QString connecting_address_;
  int connecting_port_ = 0;
};

}  // namespace app
