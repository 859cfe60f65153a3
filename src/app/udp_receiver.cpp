#include "app/udp_receiver.h"

#include <QHostAddress>
#include <QNetworkDatagram>
#include <QVariant>

#include "common/error.h"

namespace app {
namespace {

// Words keep arriving while a processing pass runs; the kernel holds them meanwhile. It caps
// the request at its own limit.
constexpr int kReceiveBufferBytes = 8 * 1024 * 1024;

}  // namespace

UdpReceiver::UdpReceiver(QObject* parent) : QObject(parent) {
  connect(&socket_, &QUdpSocket::readyRead, this, &UdpReceiver::ReadPending);
}

void UdpReceiver::SetActive(bool active) {
  if (active == Active()) return;
  if (!active) {
    socket_.close();
    return;
  }
  if (!socket_.bind(QHostAddress::AnyIPv4, port_,
                    QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint)) {
    const QString message = socket_.errorString();
    socket_.close();
    throw common::Error(message.toStdString());
  }
  socket_.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, kReceiveBufferBytes);
  // QUdpSocket turns SO_BROADCAST on for its sockets, so broadcast datagrams arrive as well.
}

void UdpReceiver::ReadPending() {
  // A handler may switch the receiver off; the rest of the queue is then not delivered.
  while (Active() && socket_.hasPendingDatagrams()) {
    const QNetworkDatagram datagram = socket_.receiveDatagram(kMaxDatagramBytes);
    if (!datagram.isValid()) break;
    emit Datagram(datagram.data());
  }
}

}  // namespace app
