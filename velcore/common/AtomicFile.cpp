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

Result Fail(int fd, const std::string& tempPath) {
  Result failure = Result::Failed(std::strerror(errno));
  if (fd >= 0) close(fd);
  unlink(tempPath.c_str());
  return failure;
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
// there yet.
Expected<std::string> Target(const std::string& path) {
  struct stat info {};
  if (lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
  char resolved[PATH_MAX];
  if (realpath(path.c_str(), resolved) == nullptr) {
    return Result::Failed("a symbolic link to a missing file");
  }
  return std::string(resolved);
}

// A new temporary file beside `base` (its name `base` plus a unique suffix), open for writing;
// a negative descriptor when none could be made.
struct TempFile {
  int fd;
  std::string path;
};
TempFile MakeTempBeside(const std::string& base) {
  std::string pattern = base + ".XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  const int fd = mkstemp(name.data());
  return {fd, std::string(name.data())};
}

}  // namespace

Result WriteFileAtomically(const std::string& path, std::string_view contents, mode_t mode,
                           FileMode policy) {
  const Expected<std::string> resolved = Target(path);
  if (!resolved) return Result::Failed(resolved.error());
  const std::string& target = *resolved;
  struct stat existing {};
  const bool exists = stat(target.c_str(), &existing) == 0;
  if (exists && !S_ISREG(existing.st_mode)) {
    return Result::Failed("not a regular file; it is left as it is");
  }
  if (exists && existing.st_nlink > 1) {
    return Result::Failed(
        "the file has other hard links, which replacing it would part; it is left as it is");
  }
  const auto [fd, tempPath] = MakeTempBeside(target);
  if (fd < 0) return Result::Failed(std::strerror(errno));
  const mode_t finalMode =
      exists && policy == FileMode::kKeepExisting ? existing.st_mode & 07777 : mode;
  if (fchmod(fd, finalMode) != 0) return Fail(fd, tempPath);
  // Keep the owner and group of the file replaced (possible for its owner's group, or for root).
  if (exists) (void)!fchown(fd, existing.st_uid, existing.st_gid);
  if (!WriteAll(fd, contents)) return Fail(fd, tempPath);
  if (fsync(fd) != 0) return Fail(fd, tempPath);
  if (close(fd) != 0) return Fail(-1, tempPath);
  if (rename(tempPath.c_str(), target.c_str()) != 0) return Fail(-1, tempPath);
  return Result::Done();
}

Expected<std::string> WriteNewFileAtomically(const std::function<std::string(int)>& nameOf,
                                             int tries, std::string_view contents, mode_t mode) {
  const std::string first = nameOf(1);
  const auto [fd, tempPath] = MakeTempBeside(first);
  if (fd < 0) return Result::Failed(std::strerror(errno));
  if (fchmod(fd, mode) != 0 || !WriteAll(fd, contents) || fsync(fd) != 0) {
    return Fail(fd, tempPath);
  }
  if (close(fd) != 0) return Fail(-1, tempPath);
  for (int k = 1; k <= tries; ++k) {
    const std::string path = k == 1 ? first : nameOf(k);
    if (link(tempPath.c_str(), path.c_str()) == 0) {
      unlink(tempPath.c_str());
      return path;
    }
    if (errno != EEXIST) return Fail(-1, tempPath);
  }
  unlink(tempPath.c_str());
  return Result::Failed("every name from " + first + " to " + nameOf(tries) + " is taken");
}

Result WriteIntoPath(const std::string& path, std::string_view contents, mode_t mode,
                     const WaitControl& wait) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0 || S_ISREG(info.st_mode)) {
    return WriteFileAtomically(path, contents, mode);
  }
  if (!S_ISCHR(info.st_mode) && !S_ISFIFO(info.st_mode)) {
    return Result::Failed("not a regular file, character device or FIFO; it is left as it is");
  }
  const Expected<int> fd = OpenForWriting(path, 0, 0, wait);
  if (!fd) return Result::Failed(fd.error());
  const WaitControl writing{wait.stop, std::chrono::milliseconds::max(), {}};
  Result written = WriteWaiting(*fd, contents, writing);
  if (close(*fd) != 0 && written) return Result::Failed(std::strerror(errno));
  return written;
}

}  // namespace vel
