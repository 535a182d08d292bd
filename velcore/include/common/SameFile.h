#pragma once

#include <string>
#include <vector>

namespace vel {

// Whether two paths name one file: the same device and inode where both exist, otherwise the
// same path once symbolic links, "." and ".." are resolved (for a file not made yet).
bool SameFile(const std::string& a, const std::string& b);

// A file a command reads or writes, and what it is to the command ("the firmware file",
// "--report").
struct NamedPath {
  std::string path;
  std::string role;
};

// Why no output may be written where it is asked for: an output that is one of the inputs (it
// would destroy it) or another output (one would overwrite the other), as "--log is the
// firmware file fw.hex"; empty when every output has a place of its own. Outputs that are not
// regular files or missing paths (a terminal, /dev/null, a FIFO) may be shared.
std::string OutputClash(const std::vector<NamedPath>& inputs,
                        const std::vector<NamedPath>& outputs);

}  // namespace vel
