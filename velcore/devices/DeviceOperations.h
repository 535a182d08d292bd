#pragma once

#include <optional>
#include <string>

#include "engine/VelUpdateDoc.h"
#include "link/SerialSettings.h"

namespace vel {

// How one device is reached.
struct DeviceTarget {
  LinkKind kind = LinkKind::kSerial;
  std::string portName;  // serial: "COMn" or a device path
  std::string address;   // TCP: dotted IPv4 address
  std::string port;      // TCP: port text
  std::string key;       // TCP: 32 hexadecimal digits, or empty for no encryption
};

// "serial:COM3", "serial:/dev/ttyUSB0", "tcp:HOST:PORT" or "tcp:HOST:PORT:KEY" where KEY is 32
// hexadecimal digits or the dashed 47-character form.
// The error never repeats a key.
std::optional<DeviceTarget> ParseTarget(const std::string& text, std::string* error);

// A target text with whatever follows its port replaced by "<key>", for output and logs.
std::string MaskedTarget(const std::string& text);

// A key as the device list writes it (sixteen dash-separated pairs) or as 32 digits: the 32
// digits, or nothing when it is neither.
std::optional<std::string> NormaliseKey(const std::string& key);

// Updates one device as the multi-device walk does: encryption off, the file read again, the
// link opened, the engine's update run to its end, the link closed. Returns the status code.
int UpdateDevice(CVelUpdateDoc& doc, const DeviceTarget& target, const SerialSettings& settings);
// Reads one device's information as the information walk does. Returns the status code.
int CheckDevice(CVelUpdateDoc& doc, const DeviceTarget& target, const SerialSettings& settings);

bool IsUpdateSuccess(int statusCode);
std::string UpdateStatusText(int statusCode);
std::string CheckStatusText(int statusCode);

}  // namespace vel
