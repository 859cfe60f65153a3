#pragma once

#include <QByteArray>
#include <QObject>
#include <QUdpSocket>

namespace app {

inline constexpr quint16 kStreamUdpPort = 38257;
inline constexpr qint64 kMaxDatagramBytes = 100000;

// The UDP receiver of the stream (IdUDPServer1): bound to 0.0.0.0 with address reuse, accepts
// datagrams from any sender and delivers each one whole (up to 100,000 bytes), one at a time and
// in arrival order, through Datagram on the window thread. Window thread only.
class UdpReceiver : public QObject {
  Q_OBJECT

 public:
  explicit UdpReceiver(QObject* parent = nullptr);

  // Binds or releases the port. Throws common::Error with the socket layer's message when the
  // port cannot be bound.
  void SetActive(bool active);
  bool Active() const { return socket_.state() == QAbstractSocket::BoundState; }

  // The port to bind at the next SetActive(true); 38257 unless changed.
  void SetPort(quint16 port) { port_ = port; }
  quint16 Port() const { return port_; }

 signals:
  void Datagram(const QByteArray& bytes);

 private:
  void ReadPending();

  QUdpSocket socket_;
  quint16 port_ = kStreamUdpPort;
};

}  // namespace app
