#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace vel {

// What tells one state of a regular file on disk from another without reading it: the file
// (device and inode), its size, and when its data and its inode last changed.
struct FileStamp {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::int64_t size = 0;
  std::int64_t modifiedNs = 0;  // nanoseconds since the epoch
  std::int64_t changedNs = 0;
  bool operator==(const FileStamp&) const = default;
};

// The stamp of an open file, or of the file a path names (links followed); nothing when it
// cannot be had or the file is not a regular file.
std::optional<FileStamp> StampOfOpenFile(int fd);
std::optional<FileStamp> StampOfPath(const std::string& path);

}  // namespace vel
