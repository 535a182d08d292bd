// (b) runs first, unpinned; (a) then runs with both sides on one core.
// (a) A 64 KiB update with the multi-unit procedure (4,096 record frames) to the simulator over
//     loopback TCP, plain and enciphered, against a bare round trip of the same frames and
//     answers on the same kind of link.
// (b) A 64 KiB update with the first procedure over a pseudo-terminal that the simulator paces
//     at 38400 baud, against the wire time of every byte that crossed the line.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>

#include "BenchSupport.h"
#include "SampleGen.h"
#include "SimOptions.h"
#include "SimServer.h"
#include "common/AtomicFile.h"
#include "common/Strings.h"
#include "devices/RowOperations.h"
#include "engine/VelUpdateDoc.h"
#include "support/EngineFakes.h"

namespace {

constexpr const char* kKey = "00112233445566778899AABBCCDDEEFF";
constexpr double kFrameCostTarget = 1.20;

std::string WriteImage(const std::string& dir, const std::string& name,
                       const samplegen::ImageSpec& image) {
  const std::string path = dir + "/" + name;
  if (!vel::WriteFileAtomically(path, samplegen::Generate({image}).text, 0644)) std::abort();
  return path;
}

int Update(const std::string& file, const vel::DeviceTarget& target) {
  vel::testing::QuietDisplay display;
  vel::testing::ScriptedOperator op;
  vel::CVelUpdateDoc doc(display, op);
  if (!doc.OnOpenDocument(file).ok()) std::abort();
  return vel::UpdateDevice(doc, target, vel::SerialSettings{});
}

// The same conversation without any protocol logic: each frame is answered with one byte (two
// after an end of block).
bench::Seconds BareRoundTrips(int blocks) {
  std::uint16_t port = 0;
  const int listener = bench::ListenLoopback(&port);
  const int one = 1;
  std::thread peer([&] {
    const int fd = ::accept(listener, nullptr, nullptr);
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    std::uint8_t frame[32];
    while (bench::ReadAll(fd, frame, 1)) {
      const int rest = 3 + frame[0] + 1;
      if (!bench::ReadAll(fd, frame + 1, rest)) break;
      const std::uint8_t answers[2] = {0xFA, 0xF4};
      ::send(fd, answers, frame[3] == 0x01 ? 2 : 1, MSG_NOSIGNAL);
    }
    ::close(fd);
  });
  const int fd = bench::ConnectLoopback(port);
  const auto start = std::chrono::steady_clock::now();
  std::uint8_t id[7] = {0x02, 0, 0, 0x04, 0, 0, 0xFA};
  std::uint8_t record[21] = {0x10};
  std::uint8_t end[5] = {0x00, 0x00, 0x00, 0x01, 0xFF};
  std::uint8_t answer[2];
  for (int b = 0; b < blocks; ++b) {
    ::send(fd, id, sizeof id, 0);
    bench::ReadAll(fd, answer, 1);
    for (int r = 0; r < 1024; ++r) {
      ::send(fd, record, sizeof record, 0);
      bench::ReadAll(fd, answer, 1);
    }
    ::send(fd, end, sizeof end, 0);
    bench::ReadAll(fd, answer, 2);
  }
  const bench::Seconds elapsed =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  ::close(fd);
  peer.join();
  ::close(listener);
  return elapsed;
}

}  // namespace

int main(int argc, char** argv) {
  bench::BenchArgs args(argc, argv, "[--tcp-only]");
  const bool skipSerial = args.Flag("--tcp-only");
  if (!args.Valid()) return 2;
  char dir[] = "/tmp/zandor-bench-XXXXXX";
  if (mkdtemp(dir) == nullptr) return 1;

  if (!skipSerial) {
    // (b) 64 KiB in segment 0xFF with the first procedure, the line paced at 38400 baud.
    samplegen::ImageSpec single;
    single.metadataItems = {"DeviceType = \"G3 \"", "HardwareVersionList = ??",
                            "FirmwareVersion = 200"};
    single.segments = {0xFF};
    const std::string singleFile = WriteImage(dir, "single-64k.hex", single);
    sim::SimConfig config;
    sim::ApplyFamily("matrix", &config);
    config.baud = 38400;
    sim::SimServer server(config);
    vel::DeviceTarget target;
    target.portName = server.StartPty();
    const auto start = std::chrono::steady_clock::now();
    if (Update(singleFile, target) != vel::ids::kUpdateSuccessful) std::abort();
    const bench::Seconds ours =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    server.Stop();
    const bench::Seconds wire = server.BytesExchanged() * 10.0 / 38400.0;
    std::printf("%lld bytes crossed the line\n", server.BytesExchanged());
    bench::ReportRatio("T1 64 KiB over a 38400 baud pty vs wire", ours, wire, 1.05);
  }
  // (a) 64 KiB in segment 0: four blocks of 1,024 record frames.
  samplegen::ImageSpec multi;
  multi.metadataItems = {"DeviceType = G4", "HardwareVersionList = ??", "FirmwareVersion = 200"};
  multi.segments = {0};
  multi.addressRecordType = 2;
  const std::string multiFile = WriteImage(dir, "multi-64k.hex", multi);
  bench::PinToOneCore();  // after (b): the paced simulator spins and needs a core of its own
  struct Device {
    const char* name;
    std::unique_ptr<sim::SimServer> server;
    vel::DeviceTarget target;
    bench::PairedTimes times;
  };
  Device devices[2] = {{"T12 64 KiB over TCP, plain", {}, {}, {}},
                       {"T12 64 KiB over TCP, enciphered", {}, {}, {}}};
  for (Device& device : devices) {
    sim::SimConfig config;
    config.units = {sim::SimUnit{0, "G4 ", "A1", "100", {}}};
    if (&device == &devices[1]) config.key = kKey;
    device.server = std::make_unique<sim::SimServer>(config);
    device.target.kind = vel::LinkKind::kTcp;
    device.target.address = "127.0.0.1";
    device.target.port = std::to_string(device.server->StartTcp());
    device.target.key = config.key;
  }
  // Each update is paired with a bare run taken right before it; the first round warms up.
  constexpr int kPairs = 21;
  for (int round = 0; round <= kPairs; ++round) {
    for (Device& device : devices) {
      const bench::Seconds bare = bench::TimeOf([] { BareRoundTrips(4); });
      const bench::Seconds ours = bench::TimeOf([&] {
        if (Update(multiFile, device.target) != vel::ids::kUpdateSuccessful) std::abort();
      });
      if (round > 0) device.times.Add(ours, bare);
    }
  }
  for (const Device& device : devices) device.times.Report(device.name, kFrameCostTarget);

  std::system((std::string("rm -rf ") + dir).c_str());
  return 0;
}
