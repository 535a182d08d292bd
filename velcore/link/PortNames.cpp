#include "link/PortNames.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/AtomicFile.h"

namespace vel {

namespace {

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) {
    text.remove_prefix(1);
  }
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) {
    text.remove_suffix(1);
  }
  return text;
}

// "COMn=PATH" with a COM name and a non-empty path; false for anything else.
bool ParseEntry(std::string_view entry, std::string* comName, std::string* path) {
  const std::size_t eq = entry.find('=');
  if (eq == std::string_view::npos) return false;
  *comName = std::string(Trimmed(entry.substr(0, eq)));
  *path = std::string(Trimmed(entry.substr(eq + 1)));
  return ComNumber(*comName) > 0 && !path->empty();
}

bool IsSerialDeviceName(const std::string& name) {
  for (const char* prefix : {"ttyS", "ttyUSB", "ttyACM"}) {
    const std::size_t length = std::strlen(prefix);
    if (name.size() > length && name.compare(0, length, prefix) == 0 &&
        std::all_of(name.begin() + static_cast<long>(length), name.end(),
                    [](char c) { return std::isdigit(static_cast<unsigned char>(c)); })) {
      return true;
    }
  }
  return false;
}

}  // namespace

int ComNumber(const std::string& name) {
  const std::string upper = Upper(name);
  if (upper.size() < 4 || upper.compare(0, 3, "COM") != 0) return 0;
  int n = 0;
  for (std::size_t i = 3; i < upper.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(upper[i])) || n > 9999) return 0;
    n = n * 10 + (upper[i] - '0');
  }
  return n;
}

PortNameMap PortNameMap::Parse(std::string_view entries) {
  PortNameMap map;
  while (!entries.empty()) {
    const std::size_t comma = entries.find(',');
    // Spaces around the names are taken as the file takes them.
    std::string comName, path;
    if (ParseEntry(entries.substr(0, comma), &comName, &path)) map.Set(comName, path);
    if (comma == std::string_view::npos) break;
    entries.remove_prefix(comma + 1);
  }
  return map;
}

PortNameMap PortNameMap::ParseFile(std::string_view text) {
  PortNameMap map;
  while (!text.empty()) {
    const std::size_t newline = text.find('\n');
    const std::string_view line = Trimmed(text.substr(0, newline));
    std::string comName, path;
    if (!line.empty() && line.front() != '#' && ParseEntry(line, &comName, &path)) {
      map.Set(comName, path);
    }
    if (newline == std::string_view::npos) break;
    text.remove_prefix(newline + 1);
  }
  return map;
}

PortNameMap PortNameMap::FromEnvironment() {
  const char* value = std::getenv(kPortMapVariable);
  PortNameMap map = value != nullptr ? Parse(value) : PortNameMap();
  map.SetOrigin(kPortMapVariable);
  return map;
}

PortNameMap PortNameMap::ForThisUser() {
  PortNameMap map = LoadPortMapFile(PortMapFilePath());
  const PortNameMap environment = FromEnvironment();
  for (const auto& [comName, path] : environment.paths_) {
    map.paths_[comName] = path;
    map.origins_[comName] = kPortMapVariable;
  }
  return map;
}

void PortNameMap::Set(const std::string& comName, const std::string& path) {
  paths_[Upper(comName)] = path;
}

void PortNameMap::SetOrigin(const std::string& origin) {
  for (const auto& entry : paths_) origins_[entry.first] = origin;
}

std::string PortNameMap::Origin(const std::string& comName) const {
  const auto it = origins_.find(Upper(comName));
  return it == origins_.end() || paths_.count(it->first) == 0 ? std::string() : it->second;
}

void PortNameMap::Remove(const std::string& comName) { paths_.erase(Upper(comName)); }

std::string PortNameMap::Resolve(const std::string& portName) const {
  if (portName.find('/') != std::string::npos) return portName;
  const auto it = paths_.find(Upper(portName));
  if (it != paths_.end()) return it->second;
  const int n = ComNumber(portName);
  if (n > 0) return "/dev/ttyS" + std::to_string(n - 1);
  return {};
}

std::string PortNameMap::FileText() const {
  std::string text = "# COM port names and the serial devices they open\n";
  for (const auto& [comName, path] : paths_) text += comName + "=" + path + "\n";
  return text;
}

std::string PortMapFilePath() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config != nullptr && config[0] == '/') return std::string(config) + "/zandor/com-ports";
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') return std::string(home) + "/.config/zandor/com-ports";
  return {};
}

PortNameMap LoadPortMapFile(const std::string& path) {
  if (path.empty()) return {};
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  std::ostringstream text;
  text << in.rdbuf();
  PortNameMap map = PortNameMap::ParseFile(text.str());
  map.SetOrigin(path);
  return map;
}

Result SavePortMapFile(const std::string& path, const PortNameMap& map) {
  return SavePortMapText(path, map.FileText());
}

Result SavePortMapText(const std::string& path, const std::string& text) {
  if (path.empty()) {
    return Result::Failed("no configuration folder (neither XDG_CONFIG_HOME nor HOME is set)");
  }
  std::error_code made;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), made);
  if (made) {
    return Result::Failed(made.message());
  }
  return WriteFileAtomically(path, text, 0644);
}

std::vector<SerialDevice> ListSerialDevices(const std::string& devFolder) {
  std::vector<SerialDevice> devices;
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator(devFolder, ignored)) {
    const std::string name = entry.path().filename().string();
    if (IsSerialDeviceName(name)) devices.push_back({entry.path().string(), {}});
  }
  std::sort(devices.begin(), devices.end(),
            [](const SerialDevice& a, const SerialDevice& b) { return a.path < b.path; });
  const std::filesystem::path byId = std::filesystem::path(devFolder) / "serial" / "by-id";
  for (const auto& link : std::filesystem::directory_iterator(byId, ignored)) {
    for (SerialDevice& device : devices) {
      std::error_code unresolved;
      if (std::filesystem::equivalent(link.path(), device.path, unresolved)) {
        device.byIdNames.push_back(link.path().string());
      }
    }
  }
  return devices;
}

}  // namespace vel
