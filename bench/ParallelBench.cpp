// 16 simulated TCP devices that answer every frame after 2 ms (as a device behind a serial
// server does) updated with --parallel 16, against one such device alone.
#include <cstdio>

#include "BenchSupport.h"
#include "SampleGen.h"
#include "SimServer.h"
#include "common/AtomicFile.h"
#include "devices/DeviceWalks.h"
#include "support/EngineFakes.h"

namespace {

constexpr int kDevices = 16;
constexpr int kAnswerDelayMs = 2;

double UpdateRows(int devices, const std::string& firmware) {
  std::vector<std::unique_ptr<sim::SimServer>> servers;
  vel::DeviceList list;
  std::string error;
  for (int d = 0; d < devices; ++d) {
    sim::SimConfig config;
    config.answerDelayMs = kAnswerDelayMs;
    servers.push_back(std::make_unique<sim::SimServer>(config));
    const std::size_t row = list.AddDevice();
    list.SetCell(row, vel::DeviceColumn::kAddress, "127.0.0.1", &error);
    list.SetCell(row, vel::DeviceColumn::kPort, std::to_string(servers.back()->StartTcp()), &error);
    list.SetChecked(row, true);
  }
  struct Session {
    vel::testing::RecordingConsole console;
    vel::testing::ScriptedOperator op;
    vel::CVelUpdateDoc doc{console, op};
  };
  std::vector<std::unique_ptr<Session>> sessions;
  for (int d = 0; d < devices; ++d) {
    sessions.push_back(std::make_unique<Session>());
    if (!sessions.back()->doc.OnOpenDocument(firmware).ok()) std::abort();
  }
  vel::testing::ScriptedOperator walkOperator;
  const auto start = std::chrono::steady_clock::now();
  const bool ok = vel::UpdateSelectedDevices(
      list, [&](std::size_t row) -> vel::CVelUpdateDoc& { return sessions[row]->doc; },
      walkOperator, vel::SerialSettings{}, {}, devices);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (!ok) {
    std::fprintf(stderr, "an update failed\n");
    std::abort();
  }
  return seconds;
}

}  // namespace

int main() {
  char dir[] = "/tmp/zandor-bench-XXXXXX";
  if (mkdtemp(dir) == nullptr) return 1;
  samplegen::ImageSpec image;
  image.metadataItems = {"DeviceType = G4", "HardwareVersionList = ??"};
  image.segments = {0};
  image.bytesPerSegment = 0x4000;  // one block: 1,024 record frames
  image.addressRecordType = 2;
  const std::string firmware = std::string(dir) + "/one-block.hex";
  std::string error;
  if (!vel::WriteFileAtomically(firmware, samplegen::Generate({image}).text, 0644, &error)) {
    return 1;
  }
  const double one = UpdateRows(1, firmware);
  const double many = UpdateRows(kDevices, firmware);
  bench::ReportRatio("16 devices with --parallel 16 vs one", many, one, 1.5);
  std::remove(firmware.c_str());
  rmdir(dir);
  return 0;
}
