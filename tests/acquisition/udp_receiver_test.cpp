#include "acquisition/udp_receiver.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <pthread.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "acquisition/stream_path.h"

namespace acquisition {
namespace {

constexpr uint32_t kInstrument = 0x0A00626C;  // 10.0.98.108
constexpr uint32_t kNeighbour = 0x0A00626D;

TEST(SenderFilter, TakesTheInstrumentsAddressFromThePortOfItsFirstDatagram) {
  struct Datagram {
    uint32_t address;
    uint16_t port;
    size_t bytes;
    bool taken;
  };
  struct Case {
    const char* name;
    uint32_t instrument;
    std::vector<Datagram> datagrams;
  };
  const Case cases[] = {
      {"no instrument known", 0, {{kInstrument, 5000, 16, false}, {0, 5000, 16, false}}},
      {"another host, then the instrument from two sockets",
       kInstrument,
       {{kNeighbour, 5000, 16, false},
        {kInstrument, 5000, 16, true},
        {kInstrument, 5001, 16, false},
        {kInstrument, 5000, 3, true}}},
      {"an empty datagram fixes no port",
       kInstrument,
       {{kInstrument, 6000, 0, true},
        {kInstrument, 5000, 8, true},
        {kInstrument, 6000, 8, false},
        {kInstrument, 6000, 0, false}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SenderFilter filter(c.instrument);
    for (size_t i = 0; i < c.datagrams.size(); ++i) {
      const Datagram& d = c.datagrams[i];
      EXPECT_EQ(filter.Accept(d.address, d.port, d.bytes), d.taken) << "datagram " << i;
    }
  }
}

// The kernel reports its drops with the next datagram read, so drops at the end of a burst came
// with no datagram at all: the stop must still count them. The test thread sends at a real-time
// priority above the receiving thread's on the one core both may use, so the receiver reads
// nothing until the burst is over and the tiny socket buffer has dropped its tail.
TEST(UdpReceiver, EveryDatagramSentIsReadOrCountedAsDroppedByTheStop) {
  cpu_set_t saved_cpus;
  ASSERT_EQ(::sched_getaffinity(0, sizeof saved_cpus, &saved_cpus), 0);
  cpu_set_t one_cpu;
  CPU_ZERO(&one_cpu);
  CPU_SET(0, &one_cpu);
  ASSERT_EQ(::sched_setaffinity(0, sizeof one_cpu, &one_cpu), 0);

  const std::string log =
      (std::filesystem::path(::testing::TempDir()) / "udp_receiver_test.dat").string();
  StreamPath path;
  path.BeginStream();
  path.OpenLog(log);
  UdpReceiver receiver(path);
  receiver.SetInstrument("127.0.0.1");
  receiver.SetPort(0);  // any free port; the receiver's socket is then read back below
  const int probe = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t size = sizeof address;
  ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &size);
  ::close(probe);
  receiver.SetPort(ntohs(address.sin_port));
  receiver.SetReceiveBufferBytes(1);  // the kernel's least: a datagram or two
  receiver.SetActive(true);

  sched_param high{};
  high.sched_priority = sched_get_priority_min(SCHED_FIFO) + 1;
  const bool prioritised = ::pthread_setschedparam(::pthread_self(), SCHED_FIFO, &high) == 0;
  constexpr int kSent = 300;
  const std::vector<uint8_t> datagram(1000, 0x11);
  const int sender = ::socket(AF_INET, SOCK_DGRAM, 0);
  for (int i = 0; i < kSent; ++i) {
    ::sendto(sender, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&address),
             sizeof address);
  }
  const sched_param normal{};
  ::pthread_setschedparam(::pthread_self(), SCHED_OTHER, &normal);
  receiver.SetActive(false);
  ::close(sender);
  ::sched_setaffinity(0, sizeof saved_cpus, &saved_cpus);
  path.StopStream();
  std::filesystem::remove(log);
  if (!prioritised) GTEST_SKIP() << "no real-time priority for the sending thread";

  EXPECT_GT(receiver.DatagramsDropped(), 0u);
  EXPECT_EQ(receiver.DatagramsReceived() + receiver.DatagramsDropped(), uint64_t{kSent});
  // The first datagram of a start is dropped by the path's own rule, not lost.
  EXPECT_EQ(path.WordsIn() + path.LostWords() + 250, uint64_t{kSent} * 250);
}

}  // namespace
}  // namespace acquisition
