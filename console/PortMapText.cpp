#include "PortMapText.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

namespace zandorui {

PortMapFile ReadPortMapFile(const std::string& path) {
  PortMapFile file;
  std::error_code missing;
  if (path.empty() || !std::filesystem::exists(path, missing)) return file;
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  if (!in || !(text << in.rdbuf())) {
    file.readable = false;
    file.error = path + ": " + std::strerror(errno);
    return file;
  }
  file.text = text.str();
  return file;
}

std::string UpdatedPortMapText(const std::string& text, const vel::PortNameMap& after) {
  if (text.empty()) return after.FileText();
  const auto& wanted = after.Entries();
  std::set<std::string> written;
  std::string updated;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    const auto entries = vel::PortNameMap::ParseFile(line).Entries();
    if (entries.size() != 1) {  // a comment, a blank line, or no entry at all: kept
      updated += line + "\n";
      continue;
    }
    const std::string& comName = entries.begin()->first;
    const auto now = wanted.find(comName);
    if (now == wanted.end() || written.count(comName) > 0) continue;
    updated += now->second == entries.begin()->second ? line : comName + "=" + now->second;
    updated += "\n";
    written.insert(comName);
  }
  for (const auto& [comName, path] : wanted) {
    if (written.count(comName) == 0) updated += comName + "=" + path + "\n";
  }
  return updated;
}

}  // namespace zandorui
