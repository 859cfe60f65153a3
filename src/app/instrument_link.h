#pragma once

#include <QObject>
#include <QString>
#include <QTcpSocket>
#include <string>
#include <string_view>

#include "acquisition/cycle_driver.h"

namespace app {

// The dotted IPv4 address of a host name or address text, the first one the lookup gives, or
// "0.0.0.0" when the lookup fails. Blocks while the name is looked up. Window thread.
QString ResolveHost(const QString& host);

// The instrument link (ClientSocket1): a non-blocking TCP client. Active only from the moment
// the connection is established until it closes from either side. Errors the socket layer meets
// on its own are reported through ErrorReported; a failed connection attempt reads
// "Asynchronous socket error <errno>", one towards a name that did not resolve "Host name not
// found: <name>". The peer ending an established connection is announced by PeerClosed, from
// the event loop once the socket's own handler has returned. Window thread only.
class InstrumentLink : public QObject, public acquisition::LinkPort {
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
  // while the link is active or already connecting to the same endpoint. `host_text` is what
  // the address was resolved from, named when the lookup failed (the address is 0.0.0.0).
  void Open(const QString& host_text = {});
  // The cycle's open step: the address ResolveHost gives for `host`, the port text as a decimal
  // integer (common::Error when it is not), then Open.
  void Connect(const std::string& host, const std::string& port) override;
  // Ends the connection, or abandons a connection attempt.
  void Close() override;
  bool Active() const override { return active_; }

  // Queues the bytes unchanged. Throws common::Error when the socket refuses them; the link is
  // closed then.
  void Send(std::string_view bytes) override;
  qint64 BytesAvailable() const;
  // Up to `max_bytes` waiting bytes.
  std::string Read(qint64 max_bytes);

 signals:
  void Readable();
  void Connected();
  void ErrorReported(const QString& message);
  void PeerClosed();

 private:
  void OnConnected();
  void OnDisconnected();
  void OnError(QAbstractSocket::SocketError error);
  void ReportConnectFailure(const QString& message);
  // The established connection ended from the peer's side: announced once, queued.
  void LostToPeer();

  QTcpSocket socket_;
  QString address_;
  int port_ = 0;
  bool active_ = false;
  bool connecting_ = false;
  QString connecting_address_;
  int connecting_port_ = 0;
  // Counts the connections opened, so that a queued announcement of an old one's end is
  // dropped once another has begun.
  quint64 connection_ = 0;
};

}  // namespace app
