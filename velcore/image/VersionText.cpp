#include "image/VersionText.h"

#include "common/Strings.h"
#include "image/FirmwareInfo.h"

namespace vel {

std::string FormatFirmwareVersion(std::string_view version) {
  if (IsUnset(version)) return std::string(text::kUnknown);
  if (version.size() >= 2 && static_cast<unsigned char>(version[1]) <= '9') {
    std::string out(1, version[0]);
    out += '.';
    out += version.substr(1, 2);
    return out;
  }
  return std::string(version);
}

std::string FormatHardwareList(const std::vector<std::string>& list) {
  if (list.empty()) return {};
  std::string out;
  std::size_t start = 0;
  std::size_t limit = 5;
  if (IsUnset(list.front())) {
    out = list.size() == 1 ? "<N/A> " : "<N/A>, ";
    start = 1;
    limit = 4;
  }
  std::size_t p = start;
  for (; p < limit && p < list.size(); ++p) {
    out += list[p];
    out += p + 1 < list.size() ? ", " : " ";
  }
  if (p == limit) out += "...";
  return out;
}

}  // namespace vel
