#include "image/FileStamp.h"

#include <sys/stat.h>

namespace vel {

namespace {

std::int64_t Nanoseconds(const timespec& time) {
  return static_cast<std::int64_t>(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
}

std::optional<FileStamp> StampOf(const struct stat& info) {
  if (!S_ISREG(info.st_mode)) return std::nullopt;
  return FileStamp{static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino),
                   static_cast<std::int64_t>(info.st_size), Nanoseconds(info.st_mtim),
                   Nanoseconds(info.st_ctim)};
}

}  // namespace

std::optional<FileStamp> StampOfOpenFile(int fd) {
  struct stat info {};
  if (fstat(fd, &info) != 0) return std::nullopt;
  return StampOf(info);
}

std::optional<FileStamp> StampOfPath(const std::string& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return std::nullopt;
  return StampOf(info);
}

}  // namespace vel
