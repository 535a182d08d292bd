// Any bytes as a device's replies to the identification exchange (both protocol bytes, every
// reply kind, information blocks), read through a real pseudo-terminal.
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/VelUpdateDoc.h"
#include "support/EngineFakes.h"

namespace {

struct Harness {
  Harness() : doc(console, op) {
    char name[128];
    openpty(&master, &slave, name, nullptr, nullptr);
    fcntl(master, F_SETFL, O_NONBLOCK);
    doc.Link().Serial().SetTimeouts(1, 50);
    doc.Link().Serial().Open(vel::SerialSettings{}, name);
  }
  void Drain() const {
    std::uint8_t buffer[4096];
    while (read(master, buffer, sizeof buffer) > 0) {
    }
  }
  int master = -1;
  int slave = -1;
  vel::testing::QuietConsole console;
  vel::testing::ScriptedOperator op;
  vel::CVelUpdateDoc doc;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Harness harness;
  if (size > 2048) return 0;  // more than a pseudo-terminal buffers at once
  harness.Drain();
  if (write(harness.master, data, size) < 0) return 0;
  harness.doc.DispatchUpdate(vel::kActionCheck);
  const vel::DeviceIdentity& identity = harness.doc.Identity();
  if (identity.unitCount > vel::kMaxUnits ||
      identity.auxiliaryCount > vel::kAuxiliaryVersionCount) {
    __builtin_trap();
  }
  harness.Drain();
  return 0;
}
