#pragma once

#include <optional>
#include <string>

#include "common/Result.h"
#include "common/Strings.h"
#include "link/LinkKind.h"
#include "link/SerialSettings.h"

namespace vel {

// How one device is reached.
struct DeviceTarget {
  LinkKind kind = LinkKind::kSerial;
  std::string portName;  // serial: "COMn" or a device path
  std::string address;   // TCP: dotted IPv4 address
  std::string hostName;  // TCP: the name the address was resolved from, if one was given
  std::string port;      // TCP: port text
  std::string key;       // TCP: 32 hexadecimal digits, or empty for no encryption
};

// "serial:COM3", "serial:/dev/ttyUSB0", "tcp:HOST:PORT" or "tcp:HOST:PORT:KEY" where KEY is 32
// hexadecimal digits or the dashed 47-character form. A HOST that is a name is resolved here,
// once, by `resolve` (the system's resolver unless given), to the address every connection to it
// uses. The error never repeats a key.
using HostResolver = std::optional<std::string> (*)(const std::string& host, std::string* error);
Expected<DeviceTarget> ParseTarget(const std::string& text, HostResolver resolve = nullptr);

// A target text for output and logs: whatever follows a TCP target's port replaced by "<key>",
// and that key elsewhere in the text, and key-shaped text, masked as KeyMask does.
std::string MaskedTarget(const std::string& text);

// A short name for a target's link, the same for every target on one port or endpoint.
std::string LinkName(const DeviceTarget& target);

// What a device operation on one device came to.
enum class Outcome {
  kSucceeded,
  kFailed,         // it ran and did not succeed (a read error, a failed transfer, ...)
  kCancelled,      // a cancel from outside ended it
  kDeclined,       // the operator, or the version check, declined the device
  kNotResponding,  // no answer at any speed or attempt
  kBusy,           // the device said it is busy
  kPortMissing,    // the serial port does not exist
  kPortInUse,      // the serial port is in use or access is denied, or another process works
                   // with the device
  kFileRefused,    // the firmware file fails its checksum test
  kUnusableRow,    // the row's key or address cannot be used
  kNotReached,     // a staged walk stopped before the row (a canary or an earlier row failed)
  kCurrent,        // every unit it would update already holds the file's firmware: left alone
};

// A row that needs nothing more: updated, or found holding the file's firmware already.
constexpr bool IsDone(Outcome outcome) {
  return outcome == Outcome::kSucceeded || outcome == Outcome::kCurrent;
}

// One device operation's end: the status code (a text id of the string table, or a check's own
// code) and what it means.
struct DeviceResult {
  int statusCode = 0;
  Outcome outcome = Outcome::kFailed;
  // An update that ended without success after its transfer began: the device may hold part of
  // the new image and must be updated again.
  bool interrupted = false;
};

std::string UpdateStatusText(int statusCode);
std::string CheckStatusText(int statusCode);
// The row's Status text of an update's result: the status code's text, and for an interrupted
// update the word that it must be run again.
std::string UpdateResultText(const DeviceResult& result);

}  // namespace vel
