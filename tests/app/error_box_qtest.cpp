// The window's real error box: shown after the handler that raised the error has returned, so
// the handler's limits hold while the box's own event loop keeps the sockets reading.

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <cstdint>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "app/instrument_link.h"
#include "app/tfmain.h"
#include "tfmain_session.h"

namespace {

constexpr int kWait = 30000;

int64_t ResidentBytes() {
  std::ifstream statm("/proc/self/statm");
  int64_t size = 0;
  int64_t resident = 0;
  statm >> size >> resident;
  return resident * sysconf(_SC_PAGESIZE);
}

// A peer on 127.0.0.1 that answers the first request with endless bytes and no end tag, until
// it has sent `limit` bytes or the window closes the connection.
class EndlessPeer {
 public:
  explicit EndlessPeer(int64_t limit) : limit_(limit) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(listener_, 1);
    socklen_t length = sizeof address;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Run(); });
  }
  ~EndlessPeer() {
    ::shutdown(listener_, SHUT_RDWR);
    thread_.join();
    ::close(listener_);
  }

  int Port() const { return port_; }
  bool Done() const { return done_; }
  int64_t Sent() const { return sent_; }

 private:
  void Run() {
    const int peer = ::accept(listener_, nullptr, nullptr);
    if (peer >= 0) {
      char request[256];
      if (::recv(peer, request, sizeof request, 0) > 0) {
        const std::string chunk(64 * 1024, 'x');
        while (sent_ < limit_) {
          const ssize_t n = ::send(peer, chunk.data(), chunk.size(), MSG_NOSIGNAL);
          if (n <= 0) break;
          sent_ += n;
        }
      }
      ::close(peer);
    }
    done_ = true;
  }

  int64_t limit_;
  int listener_ = -1;
  int port_ = 0;
  std::thread thread_;
  std::atomic<int64_t> sent_{0};
  std::atomic<bool> done_{false};
};

// Watches the boxes from inside their own event loop: records each box's text once and the
// highest resident size while one is open, and closes a box when `may_close` says so.
class BoxWatcher {
 public:
  explicit BoxWatcher(std::function<bool()> may_close) : may_close_(std::move(may_close)) {
    timer_.setInterval(10);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr) return;
      if (box != last_) {
        last_ = box;
        texts << box->text();
      }
      peak_resident = std::max(peak_resident, ResidentBytes());
      if (may_close_()) box->accept();
    });
    timer_.start();
  }

  QStringList texts;
  int64_t peak_resident = 0;

 private:
  std::function<bool()> may_close_;
  QTimer timer_;
  QMessageBox* last_ = nullptr;
};

std::unique_ptr<app::TFmain> Window(const QTemporaryDir& dir, const QByteArray& settings) {
  tfmain_test::WriteBytes(dir.filePath("K390cap.ini"), "[SETTINGS]\r\n" + settings);
  auto window = std::make_unique<app::TFmain>(dir.path() + QLatin1Char('/'));
  window->show();
  return window;
}

}  // namespace

class ErrorBoxTest : public QObject {
  Q_OBJECT

 private slots:
  void AnEndlessPeerCannotGrowMemoryBehindTheBox_data() {
    QTest::addColumn<bool>("stream");
    QTest::newRow("Sample") << false;
    QTest::newRow("Stream-TCP, bad first reply") << true;
  }
  void AnEndlessPeerCannotGrowMemoryBehindTheBox() {
    QFETCH(bool, stream);
    constexpr int64_t kPeerLimit = 96 * 1024 * 1024;
    EndlessPeer peer(kPeerLimit);
    QTemporaryDir dir;
    auto window = Window(
        dir, "IP=127.0.0.1\r\nPORT=" + QByteArray::number(peer.Port()) + "\r\nSTREAM=TCP\r\n");
    QCoreApplication::processEvents();
    const int64_t before = ResidentBytes();

    // The box stays open until the peer has stopped sending, for whatever reason.
    BoxWatcher watcher([&] { return peer.Done(); });
    if (stream) {
      window->Form().Capture().stream->click();
    } else {
      window->Form().Capture().sample->click();
    }
    QTRY_VERIFY_WITH_TIMEOUT(
        peer.Done() && !watcher.texts.isEmpty() && QApplication::activeModalWidget() == nullptr,
        kWait);
    QCOMPARE(watcher.texts.size(), 1);
    QVERIFY2(watcher.texts[0].startsWith("No reply end tag in "), qPrintable(watcher.texts[0]));
    QVERIFY2(watcher.peak_resident - before < 16 * 1024 * 1024,
             qPrintable(QString("grew by %1 bytes while the peer sent %2")
                            .arg(watcher.peak_resident - before)
                            .arg(peer.Sent())));
    QVERIFY(peer.Sent() < kPeerLimit);
    QVERIFY(!window->Cycle().Link().Active());
    window->close();
  }

  void AnErrorRaisedAgainWhileItsBoxIsOpenIsShownOnce() {
    QTemporaryDir dir;
    auto window = Window(dir, "IP=127.0.0.1\r\n");
    QCoreApplication::processEvents();
    window->Form().Capture().port->setText("x");
    int clicks = 0;
    BoxWatcher watcher([&] {
      // Raise the same error twice more from inside the open box's event loop.
      if (clicks < 2) {
        ++clicks;
        window->Form().Capture().sample->click();
        return false;
      }
      return true;
    });
    window->Form().Capture().sample->click();
    // The handler has returned before any box opened.
    QVERIFY(QApplication::activeModalWidget() == nullptr);
    QTRY_VERIFY_WITH_TIMEOUT(clicks == 2 && QApplication::activeModalWidget() == nullptr, kWait);
    QCoreApplication::processEvents();
    QCOMPARE(watcher.texts, QStringList{"'x' is not a valid integer value."});
    window->close();
  }
};

QTEST_MAIN(ErrorBoxTest)
#include "error_box_qtest.moc"
