// Round trips of one 21-byte frame and a one-byte answer over loopback TCP through
// LinkWrite/LinkRead, plain and enciphered, against a bare socket ping-pong of the same sizes.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "BenchSupport.h"
#include "link/DeviceLink.h"

namespace {

constexpr int kFrame = 21;
const char* const kKey = "00112233445566778899AABBCCDDEEFF";

// A device stand-in: per connection, an optional 16-byte IV, then a one-byte answer to every
// 21-byte frame. Serves `connections` connections, then stops.
class AnsweringDevice {
 public:
  explicit AnsweringDevice(int connections) {
    listener_ = bench::ListenLoopback(&port_);
    thread_ = std::thread([this, connections] {
      for (int c = 0; c < connections; ++c) Serve(::accept(listener_, nullptr, nullptr));
    });
  }
  ~AnsweringDevice() {
    thread_.join();
    ::close(listener_);
  }
  std::uint16_t Port() const { return port_; }
  void ExpectIv(bool on) { expectIv_ = on; }

 private:
  void Serve(int fd) {
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    std::uint8_t frame[kFrame];
    if (expectIv_ && !bench::ReadAll(fd, frame, 16)) return;
    const std::uint8_t answer = 0xFA;
    while (bench::ReadAll(fd, frame, kFrame)) ::send(fd, &answer, 1, MSG_NOSIGNAL);
    ::close(fd);
  }

  int listener_ = -1;
  std::uint16_t port_ = 0;
  std::atomic<bool> expectIv_{false};
  std::thread thread_;
};

}  // namespace

int main(int argc, char** argv) {
  bench::BenchArgs args(argc, argv, "[TRIPS]");
  const int trips = args.Number("TRIPS", 20000, 1, 100000000);
  if (!args.Valid()) return 2;
  bench::PinToOneCore();
  constexpr int kRuns = 7;
  // Bare ping-pong, then plain link, then enciphered link: one connection each per timed run
  // plus the warm-up.
  AnsweringDevice device(3 * (kRuns + 1));
  std::uint8_t frame[kFrame] = {0x10, 0x01, 0x20, 0x00};
  std::uint8_t answer = 0;

  const bench::Seconds bare = bench::MedianTime(kRuns, [&] {
    const int fd = bench::ConnectLoopback(device.Port());
    for (int i = 0; i < trips; ++i) {
      if (::send(fd, frame, kFrame, 0) != kFrame || !bench::ReadAll(fd, &answer, 1)) std::abort();
    }
    ::close(fd);
  });

  vel::TcpEndpoint endpoint;
  vel::MakeEndpoint("127.0.0.1", std::to_string(device.Port()), &endpoint);
  const auto linkRun = [&](bool enciphered) {
    return bench::MedianTime(kRuns, [&] {
      vel::DeviceLink link;
      link.SetLinkKind(vel::LinkKind::kTcp);
      if (enciphered) link.Tcp().SetLinkKey(kKey);
      if (link.Tcp().ConnectTcp(endpoint) != 0) std::abort();
      for (int i = 0; i < trips; ++i) {
        if (link.LinkWrite(frame, kFrame) != kFrame || link.LinkRead(&answer, 1) != 1) std::abort();
      }
      link.Tcp().Shutdown();
    });
  };
  const bench::Seconds plain = linkRun(false);
  device.ExpectIv(true);
  const bench::Seconds enciphered = linkRun(true);

  std::printf("%d round trips of a 21-byte frame and a 1-byte answer, median of %d runs\n", trips,
              kRuns);
  bench::ReportRatio("LinkWrite/LinkRead plain vs bare", plain, bare, 1.2);
  bench::ReportRatio("LinkWrite/LinkRead enciphered vs bare", enciphered, bare, 1.3);
  return 0;
}
