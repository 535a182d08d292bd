#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "common/Clock.h"
#include "engine/DeviceIdentity.h"
#include "engine/EngineTiming.h"
#include "engine/Operator.h"
#include "engine/Protocol.h"
#include "engine/StatusDisplay.h"
#include "families/Families.h"
#include "image/FirmwareFile.h"
#include "link/DeviceLink.h"

namespace vel {

// How a failure is told to the operator.
enum class Tell {
  kLog,  // a line of the message log
  kBox,  // a message box
  kBoth,
};

// What the parts of the engine share while they serve one device: the link and the two front-end
// interfaces, the loaded file, what is known of the device, the waits, and the few flags that
// pass between dispatch, identification and transfer. The document owns everything it names.
struct EngineContext {
  StatusDisplay& display;
  Operator& op;
  DeviceLink& link;
  FirmwareFile& file;
  DeviceIdentity& identity;
  EngineTiming& timing;
  Clock* clock = &SystemClock();  // where the pauses take their time from
  std::uint8_t protocolByte = protocol::kMultiUnitProtocol;
  bool identified = false;         // identified and confirmed: an update may follow
  bool endedByEngine = false;      // the engine ended its own transfer
  const Family* device = nullptr;  // the family of the identified device's unit 0
  std::uint32_t imagesSent = 0;    // bit k: a transfer phase of image k began (this action)
  std::array<UnitOutcome, kMaxUnits> unitOutcomes{};  // what this action left on each unit
  bool strangeAnswer = false;  // identification got bytes that no reply of the exchange has

  bool Cancelled() const { return display.State().cancel.IsRequested(); }
  // The engine ends its own transfer (the operator gave up on a silent device, a region timed
  // out): a failure, unlike a cancel requested from outside.
  void RequestCancel() {
    endedByEngine = true;
    display.State().cancel.Request();
  }
  // Asks the operator whether to give up on a device that does not answer; a Yes ends the
  // progress and the operation (true).
  bool GiveUpOnSilence();
  // The device could not be reached: tells the operator and sets the status code, unless a
  // cancel (an outcome of its own) came first.
  void ReportConnectionError();
  // An operation that ends without (more of) a transfer: tells why, leaves the status code and
  // gives the controls back.
  void Fail(Tell how, std::string_view text, int statusCode);
  // The status code the action has come to so far; the action's result carries it out.
  void SetStatusCode(int code) { statusCode_ = code; }
  int StatusCode() const { return statusCode_; }
  // Sleeps `ms` on the engine's clock for the reason `name` (the field of EngineTiming), unless a
  // cancel comes first; false when it did.
  bool Pause(std::string_view name, int ms);
  bool Write(const std::uint8_t* bytes, int count) { return link.LinkWrite(bytes, count) == count; }
  int ReadByte(std::uint8_t* byte) { return link.LinkRead(byte, 1); }
  // Writes one byte and reads one back; true when the device echoed it.
  bool Handshake(std::uint8_t byte) {
    std::uint8_t echo = 0;
    return Write(&byte, 1) && ReadByte(&echo) == 1 && echo == byte;
  }
  // Builds the slot's memory map on first use, with progress when the display is free.
  void BuildMapIfMissing(int slot);

  int statusCode_ = 0;  // through SetStatusCode and StatusCode
};

}  // namespace vel
