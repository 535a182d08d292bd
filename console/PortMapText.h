#pragma once

#include <string>

#include "link/PortNames.h"

namespace zandorui {

// The COM port mapping file as the operator may have written it, comments and all.
struct PortMapFile {
  bool readable = true;  // false: it exists and could not be read; it is then never replaced
  std::string text;      // empty for a missing file
  std::string error;
};
PortMapFile ReadPortMapFile(const std::string& path);

// The file's text with the mapping `after` in it: comments, blank lines and entries that did
// not change stay as they are, a changed entry is rewritten in its place, a removed one dropped
// and a new one appended.
std::string UpdatedPortMapText(const std::string& text, const vel::PortNameMap& after);

}  // namespace zandorui
