#pragma once

#include <optional>
#include <string>
#include <vector>

#include "common/Result.h"

namespace zandorui {

// The name of the version file the words ask for: "-v" together with "-f NAME", compared without
// regard to case, in any order; a later "-f" replaces an earlier name, and a "-f" with no word
// after it ends the scan. Nothing when the words do not ask for one.
std::optional<std::string> VersionFileRequest(const std::vector<std::string>& words);

// "major=2\r\nminor=4\r\npoint=5\r\nphase=5\r\nbuild=1\r\n" and one zero byte.
std::string VersionFileText();

// Writes the version file into what the name is: a regular file is replaced whole (never left
// half-written), a FIFO or device is written into. False, with *error saying why, when it was
// not written.
vel::Result WriteVersionFile(const std::string& path);

}  // namespace zandorui
