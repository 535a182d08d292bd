#include "common/SameFile.h"

#include <sys/stat.h>

#include <filesystem>

namespace vel {

namespace {

// A regular file, or a path where one would be made.
bool IsFileOrNothing(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) != 0 || S_ISREG(info.st_mode);
}

}  // namespace

bool SameFile(const std::string& a, const std::string& b) {
  struct stat first {
  }, second{};
  const bool firstThere = stat(a.c_str(), &first) == 0;
  const bool secondThere = stat(b.c_str(), &second) == 0;
  if (firstThere && secondThere) {
    return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
  }
  if (firstThere != secondThere) return false;
  std::error_code failed;
  const auto resolvedA = std::filesystem::weakly_canonical(std::filesystem::absolute(a), failed);
  if (failed) return false;
  const auto resolvedB = std::filesystem::weakly_canonical(std::filesystem::absolute(b), failed);
  return !failed && resolvedA == resolvedB;
}

std::string OutputClash(const std::vector<NamedPath>& inputs,
                        const std::vector<NamedPath>& outputs) {
  for (std::size_t o = 0; o < outputs.size(); ++o) {
    const NamedPath& output = outputs[o];
    for (const NamedPath& input : inputs) {
      if (SameFile(output.path, input.path)) {
        return output.role + " is " + input.role + " " + input.path +
               ": writing it would destroy what the command reads";
      }
    }
    if (!IsFileOrNothing(output.path)) continue;
    for (std::size_t other = 0; other < o; ++other) {
      if (SameFile(output.path, outputs[other].path)) {
        return output.role + " and " + outputs[other].role + " name one file, " + output.path +
               ": one would overwrite the other";
      }
    }
  }
  return {};
}

}  // namespace vel
