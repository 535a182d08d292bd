#include "common/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace vel {

namespace {

bool Fail(std::string* error, int fd, const std::string& tempPath) {
  *error = std::strerror(errno);
  if (fd >= 0) close(fd);
  unlink(tempPath.c_str());
  return false;
}

bool WriteAll(int fd, std::string_view contents) {
  std::size_t written = 0;
  while (written < contents.size()) {
    const ssize_t n = write(fd, contents.data() + written, contents.size() - written);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    written += static_cast<std::size_t>(n);
  }
  return true;
}

// The file a path names once symbolic links are followed; the path itself when nothing is
// there yet. Empty (with *error set) for a link that leads nowhere.
std::string Target(const std::string& path, std::string* error) {
  struct stat info {};
  if (lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
  char resolved[PATH_MAX];
  if (realpath(path.c_str(), resolved) == nullptr) {
    *error = "a symbolic link to a missing file";
    return {};
  }
  return resolved;
}

}  // namespace

bool WriteFileAtomically(const std::string& path, std::string_view contents, mode_t mode,
                         std::string* error, FileMode policy) {
  const std::string target = Target(path, error);
  if (target.empty()) return false;
  struct stat existing {};
  const bool exists = stat(target.c_str(), &existing) == 0;
  if (exists && !S_ISREG(existing.st_mode)) {
    *error = "not a regular file; it is left as it is";
    return false;
  }
  if (exists && existing.st_nlink > 1) {
    *error = "the file has other hard links, which replacing it would part; it is left as it is";
    return false;
  }
  std::string pattern = target + ".XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  const int fd = mkstemp(name.data());
  const std::string tempPath(name.data());
  if (fd < 0) {
    *error = std::strerror(errno);
    return false;
  }
  const mode_t finalMode =
      exists && policy == FileMode::kKeepExisting ? existing.st_mode & 07777 : mode;
  if (fchmod(fd, finalMode) != 0) return Fail(error, fd, tempPath);
  // Keep the owner and group of the file replaced (possible for its owner's group, or for root).
  if (exists) (void)!fchown(fd, existing.st_uid, existing.st_gid);
  if (!WriteAll(fd, contents)) return Fail(error, fd, tempPath);
  if (fsync(fd) != 0) return Fail(error, fd, tempPath);
  if (close(fd) != 0) return Fail(error, -1, tempPath);
  if (rename(tempPath.c_str(), target.c_str()) != 0) return Fail(error, -1, tempPath);
  return true;
}

bool WriteIntoPath(const std::string& path, std::string_view contents, mode_t mode,
                   std::string* error, const WaitControl& wait) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0 || S_ISREG(info.st_mode)) {
    return WriteFileAtomically(path, contents, mode, error);
  }
  if (!S_ISCHR(info.st_mode) && !S_ISFIFO(info.st_mode)) {
    *error = "not a regular file, character device or FIFO; it is left as it is";
    return false;
  }
  const int fd = OpenForWriting(path, 0, 0, wait, error);
  if (fd < 0) return false;
  const WaitControl writing{wait.stop, std::chrono::milliseconds::max(), {}};
  const bool written = WriteWaiting(fd, contents, writing, error);
  if (close(fd) != 0 && written) {
    *error = std::strerror(errno);
    return false;
  }
  return written;
}

}  // namespace vel
