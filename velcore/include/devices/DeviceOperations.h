#pragma once

#include <optional>
#include <string>

#include "link/LinkKind.h"
#include "link/SerialSettings.h"

namespace vel {

class CVelUpdateDoc;

// How one device is reached.
struct DeviceTarget {
  LinkKind kind = LinkKind::kSerial;
  std::string portName;  // serial: "COMn" or a device path
  std::string address;   // TCP: dotted IPv4 address
  std::string port;      // TCP: port text
  std::string key;       // TCP: 32 hexadecimal digits, or empty for no encryption
};

// "serial:COM3", "serial:/dev/ttyUSB0", "tcp:HOST:PORT" or "tcp:HOST:PORT:KEY" where KEY is 32
// hexadecimal digits or the dashed 47-character form. The error never repeats a key.
std::optional<DeviceTarget> ParseTarget(const std::string& text, std::string* error);

// A target text with whatever follows a TCP target's port, and anything else that looks like a
// key, replaced by "<key>", for output and logs.
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
  kPortInUse,      // the serial port is in use or access is denied
  kFileRefused,    // the firmware file fails its checksum test
  kUnusableRow,    // the row's key or address cannot be used
  kNotReached,     // a staged walk stopped before the row (a canary or an earlier row failed)
};

// One device operation's end: the status code (a text id of the string table, or a check's own
// code) and what it means.
struct DeviceResult {
  int statusCode = 0;
  Outcome outcome = Outcome::kFailed;
};

// Updates one device with the file loaded in the document as the multi-device walk does:
// encryption off, the link opened, the engine's update run to its end, the link closed.
DeviceResult RunUpdate(CVelUpdateDoc& doc, const DeviceTarget& target,
                       const SerialSettings& settings);
// The same for another of the engine's actions that send the file (its action code).
DeviceResult RunAction(CVelUpdateDoc& doc, const DeviceTarget& target,
                       const SerialSettings& settings, int action);
// Reads one device's information as the information walk does.
DeviceResult RunCheck(CVelUpdateDoc& doc, const DeviceTarget& target,
                      const SerialSettings& settings);
// RunUpdate with the file read again first (every device starts from a freshly read file); the
// status code.
int UpdateDevice(CVelUpdateDoc& doc, const DeviceTarget& target, const SerialSettings& settings);
int CheckDevice(CVelUpdateDoc& doc, const DeviceTarget& target, const SerialSettings& settings);

bool IsUpdateSuccess(int statusCode);
std::string UpdateStatusText(int statusCode);
std::string CheckStatusText(int statusCode);

}  // namespace vel
