#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "common/Result.h"

namespace vel {

// Where "COMn" port names lead. A name with a '/' is a path and is used as it is; "COMn" (n from
// 1) is looked up in the mapping, else it is /dev/ttyS<n-1>; anything else leads nowhere.
class PortNameMap {
 public:
  PortNameMap() = default;
  // Entries "COM1=/dev/ttyUSB0,COM12=/dev/pts/4" (as the ZANDOR_COM_PORTS variable holds them).
  static PortNameMap Parse(std::string_view entries);
  // The mapping file's text: one "COMn=PATH" a line; blank lines and lines from '#' are skipped,
  // and so is a line that is not such an entry.
  static PortNameMap ParseFile(std::string_view text);
  // The mapping given by the environment variable ZANDOR_COM_PORTS, if any.
  static PortNameMap FromEnvironment();
  // What this user's programs use: ZANDOR_COM_PORTS, the more specific choice made for this run,
  // then the mapping file for COM names the variable leaves out.
  static PortNameMap ForThisUser();

  void Set(const std::string& comName, const std::string& path);
  // Names every entry's origin (see Origin).
  void SetOrigin(const std::string& origin);
  void Remove(const std::string& comName);
  // The device path of a port name; empty when the name is neither a path nor a COM name.
  std::string Resolve(const std::string& portName) const;
  // The mapped COM names (upper case) and their paths.
  const std::map<std::string, std::string>& Entries() const { return paths_; }
  // Where a COM name's entry came from: ZANDOR_COM_PORTS or the mapping file's path; empty for
  // a name no setting maps.
  std::string Origin(const std::string& comName) const;
  // The mapping file's text for these entries.
  std::string FileText() const;

 private:
  std::map<std::string, std::string> paths_;    // upper-case COM name -> path
  std::map<std::string, std::string> origins_;  // upper-case COM name -> where it came from
};

constexpr const char* kPortMapVariable = "ZANDOR_COM_PORTS";

// The n of "COMn" (n >= 1), or 0.
int ComNumber(const std::string& name);

// The mapping file: "zandor/com-ports" in the user's configuration folder ($XDG_CONFIG_HOME, else
// ~/.config); empty when neither is known.
std::string PortMapFilePath();
// Reads the mapping file (a missing file is an empty mapping).
PortNameMap LoadPortMapFile(const std::string& path);
// Writes the mapping file atomically, making its folder when needed.
Result SavePortMapFile(const std::string& path, const PortNameMap& map);
// The same for a text of the file's form (one the operator's comments are kept in).
Result SavePortMapText(const std::string& path, const std::string& text);

// A serial device of this machine, and the stable names that lead to it.
struct SerialDevice {
  std::string path;                    // /dev/ttyUSB0
  std::vector<std::string> byIdNames;  // /dev/serial/by-id/usb-...
};
// The serial devices present: /dev/ttyS*, /dev/ttyUSB*, /dev/ttyACM*, in name order.
std::vector<SerialDevice> ListSerialDevices(const std::string& devFolder = "/dev");

}  // namespace vel
