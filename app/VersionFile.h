#pragma once

#include <optional>
#include <string>
#include <vector>

namespace zandorui {

// The name of the version file the words ask for: "-v" together with "-f NAME", compared without
// regard to case, in any order; a later "-f" replaces an earlier name, and a "-f" with no word
// after it ends the scan. Nothing when the words do not ask for one.
std::optional<std::string> VersionFileRequest(const std::vector<std::string>& words);

// "major=2\r\nminor=4\r\npoint=5\r\nphase=5\r\nbuild=1\r\n" and one zero byte.
std::string VersionFileText();

// Writes the version file; a file that cannot be written is skipped without a word.
void WriteVersionFile(const std::string& path);

}  // namespace zandorui
