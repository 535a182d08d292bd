#include "VersionFile.h"

#include <strings.h>

#include "common/AtomicFile.h"
#include "common/Version.h"

namespace zandorui {

namespace {

bool IsWord(const std::string& word, const char* wanted) {
  return strcasecmp(word.c_str(), wanted) == 0;
}

}  // namespace

std::optional<std::string> VersionFileRequest(const std::vector<std::string>& words) {
  bool versionAsked = false;
  std::optional<std::string> name;
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (IsWord(words[i], "-v")) {
      versionAsked = true;
    } else if (IsWord(words[i], "-f")) {
      if (i + 1 == words.size()) break;
      name = words[++i];
    }
  }
  if (!versionAsked || !name || name->empty()) return std::nullopt;
  return name;
}

std::string VersionFileText() {
  const vel::ProgramVersion& v = vel::kProgramVersion;
  std::string text;
  for (const auto& [key, value] : {std::pair{"major", v.major},
                                   {"minor", v.minor},
                                   {"point", v.point},
                                   {"phase", v.phase},
                                   {"build", v.build}}) {
    text += std::string(key) + "=" + std::to_string(value) + "\r\n";
  }
  text.push_back('\0');
  return text;
}

vel::Result WriteVersionFile(const std::string& path) {
  return vel::WriteIntoPath(path, VersionFileText(), 0644);
}

}  // namespace zandorui
