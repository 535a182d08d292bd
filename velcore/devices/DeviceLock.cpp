#include "devices/DeviceLock.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "common/Format.h"
#include "common/Result.h"
#include "common/Waiting.h"

namespace vel {

namespace {

constexpr std::string_view kSerialPrefix = "serial:";
constexpr std::string_view kTcpPrefix = "tcp:";
// A lock file without a PID this young may be one that another program is still writing.
constexpr auto kUnreadableLockAge = std::chrono::seconds(10);
// The most of an endpoint's name that its lock file's name keeps.
constexpr std::size_t kMostNameLength = 200;
// A PID as lock files hold it: ten digits, right-aligned, and a newline.
constexpr std::size_t kPidTextLength = 11;
// What a row's log says of a device without a lock.
constexpr const char* kSerialWithoutLock =
    "it is kept from other programs only by its exclusive open";
constexpr const char* kEndpointWithoutLock = "other processes are not kept from it";

std::string PidText(pid_t pid) {
  char text[kPidTextLength + 1];
  std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(pid));
  return text;
}

// The PID a lock file's text holds (leading spaces, digits, a newline or the end); 0 for none.
pid_t ParsePid(std::string_view text) {
  std::size_t i = text.find_first_not_of(' ');
  const std::size_t first = i;
  long long pid = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9' && pid <= 0x7FFFFFFF; ++i) {
    pid = pid * 10 + (text[i] - '0');
  }
  const bool ended = i == text.size() || text[i] == '\n';
  return i != first && ended && pid > 0 && pid <= 0x7FFFFFFF ? static_cast<pid_t>(pid) : 0;
}

pid_t ReadPid(int fd) {
  char text[kPidTextLength * 2];
  const ssize_t n = pread(fd, text, sizeof text, 0);
  return n > 0 ? ParsePid(std::string_view(text, static_cast<std::size_t>(n))) : 0;
}

bool Runs(pid_t pid) { return kill(pid, 0) == 0 || errno == EPERM; }

// "process 1234 (zandor)", as the system names the process.
std::string HolderText(pid_t pid) {
  if (pid <= 0) return "another process";
  std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
  std::string name;
  std::getline(comm, name);
  return "process " + std::to_string(pid) + (name.empty() ? "" : " (" + name + ")");
}

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The folder for this user's endpoint locks, made when missing: a folder of the user's own,
// closed to others. Fails for one that is not a folder or belongs to another user.
Result MakeOwnFolder(const std::string& path) {
  if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
    return Result::Failed(path + ": " + std::strerror(errno));
  }
  const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return Result::Failed(path + ": " + std::strerror(errno));
  struct stat info {};
  std::string problem;
  if (fstat(fd, &info) != 0 || info.st_uid != geteuid()) {
    problem = path + " belongs to another user";
  } else if ((info.st_mode & 077) != 0 && fchmod(fd, 0700) != 0) {
    problem = path + ": " + std::strerror(errno);
  }
  close(fd);
  return problem.empty() ? Result::Done() : Result::Failed(problem);
}

// The user's folder for endpoint locks: the first usable of the runtime and temporary ones.
Expected<std::string> EndpointFolder(const LockFolders& folders) {
  std::vector<std::string> candidates;
  if (!folders.runtime.empty() && folders.runtime.front() == '/') {
    candidates.push_back(folders.runtime + "/zandor");
  }
  candidates.push_back(folders.temporary + "/zandor-" + std::to_string(geteuid()));
  std::string problems;
  for (const std::string& candidate : candidates) {
    const Result made = MakeOwnFolder(candidate);
    if (made) return candidate;
    problems += (problems.empty() ? "" : "; ") + made.error();
  }
  return Result::Failed(problems);
}

// The first of the serial lock folders that is a folder.
Expected<std::string> SerialFolder(const LockFolders& folders) {
  std::string names;
  for (const std::string& candidate : folders.serial) {
    struct stat info {};
    if (stat(candidate.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) return candidate;
    names += (names.empty() ? "" : ", ") + candidate;
  }
  return Result::Failed("no lock folder (" + names + ")");
}

}  // namespace

// A lock file while it is waited for and held; it lets the lock go when it goes.
class DeviceLock::File {
 public:
  // What one attempt at the lock came to.
  struct Attempt {
    enum class Kind { kTaken, kInUse, kUnusable };
    Kind kind = Kind::kInUse;
    pid_t holder = 0;     // kInUse: the process holding it; 0: unknown
    std::string problem;  // kUnusable: why no lock can be made
  };
  static Attempt InUse(pid_t holder) { return {Attempt::Kind::kInUse, holder, {}}; }
  static Attempt Unusable(const std::string& problem) {
    return {Attempt::Kind::kUnusable, 0, problem};
  }

  virtual ~File() = default;
  virtual Attempt Try() = 0;
  // What a note says of the device when no lock can be made.
  virtual const char* WithoutLock() const = 0;
};

// A serial port's UUCP-style lock file: "LCK..NAME", NAME the device's path below /dev with '/'
// as '_' (/dev/ttyUSB0: LCK..ttyUSB0, /dev/pts/4: LCK..pts_4), holding the owner's PID. It is
// made whole under a temporary name and linked to its own, so that of two processes only one
// ever makes it.
class DeviceLock::SerialFile final : public DeviceLock::File {
 public:
  SerialFile(const std::string& folder, const std::string& devicePath)
      : folder_(folder), path_(folder + "/LCK.." + NameOf(devicePath)) {}
  // Removes the file when this process made it and it is still this process's.
  ~SerialFile() override {
    if (!taken_) return;
    const int fd = open(path_.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return;
    if (ReadPid(fd) == getpid()) unlink(path_.c_str());
    close(fd);
  }

  Attempt Try() override {
    Attempt attempt = Link();
    // A stale file taken away leaves the way free for a second try.
    if (attempt.kind == Attempt::Kind::kInUse && RemoveIfStale(&attempt.holder)) attempt = Link();
    taken_ = attempt.kind == Attempt::Kind::kTaken;
    return attempt;
  }
  const char* WithoutLock() const override { return kSerialWithoutLock; }

 private:
  static std::string NameOf(const std::string& devicePath) {
    std::string name =
        devicePath.rfind("/dev/", 0) == 0 ? devicePath.substr(5) : devicePath.substr(1);
    for (char& c : name) c = c == '/' ? '_' : c;
    return name;
  }

  // Makes the file whole under a temporary name and links it to its own.
  Attempt Link() const {
    std::string temporary = folder_ + "/.zandor-lock-XXXXXX";
    const int fd = mkstemp(temporary.data());
    if (fd < 0) return Unusable(folder_ + ": " + std::strerror(errno));
    const std::string text = PidText(getpid());
    const bool written = fchmod(fd, 0644) == 0 &&
                         write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    const int writeError = errno;
    close(fd);
    const int linked = written ? link(temporary.c_str(), path_.c_str()) : -1;
    const int linkError = errno;
    unlink(temporary.c_str());
    if (!written) return Unusable(temporary + ": " + std::strerror(writeError));
    if (linked == 0) return {Attempt::Kind::kTaken, getpid(), {}};
    if (linkError == EEXIST) return InUse(0);
    return Unusable(path_ + ": " + std::strerror(linkError));
  }

  // Reads the holder of the file that is there; true when the file is gone or was stale and is
  // removed.
  bool RemoveIfStale(pid_t* holder) const {
    const int fd = open(path_.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return errno == ENOENT;
    *holder = ReadPid(fd);
    struct stat opened {};
    struct stat named {};
    const bool known = fstat(fd, &opened) == 0;
    const auto age = std::chrono::system_clock::now() -
                     std::chrono::system_clock::from_time_t(known ? opened.st_mtime : 0);
    const bool stale = known && (*holder > 0 ? !Runs(*holder) : age >= kUnreadableLockAge);
    // Of processes that found the same stale file, the one holding it locked removes it, and
    // only while the name still leads to it: never a file another has just made.
    const bool removed = stale && flock(fd, LOCK_EX | LOCK_NB) == 0 &&
                         stat(path_.c_str(), &named) == 0 && SameFile(opened, named) &&
                         unlink(path_.c_str()) == 0;
    close(fd);
    return removed;
  }

  std::string folder_;
  std::string path_;
  bool taken_ = false;
};

// An endpoint's lock file in the user's own folder ("tcp_10.0.0.5_3000.lock"), held with flock
// and holding the owner's PID for the others' messages. The owner removes it as it lets go; a
// waiter that then gets the removed file's lock opens the new one.
class DeviceLock::EndpointFile final : public DeviceLock::File {
 public:
  EndpointFile(const std::string& folder, const std::string& endpoint)
      : path_(folder + "/" + NameOf(endpoint)) {}
  ~EndpointFile() override {
    if (fd_ < 0) return;
    if (taken_) unlink(path_.c_str());
    close(fd_);  // also lets the lock go
  }

  Attempt Try() override {
    for (int round = 0; round < 2; ++round) {
      if (fd_ < 0) fd_ = open(path_.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
      if (fd_ < 0) return Unusable(path_ + ": " + std::strerror(errno));
      if (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK || errno == EINTR) return InUse(ReadPid(fd_));
        return Unusable(path_ + ": " + std::strerror(errno));
      }
      struct stat opened {};
      struct stat named {};
      if (fstat(fd_, &opened) == 0 && stat(path_.c_str(), &named) == 0 && SameFile(opened, named)) {
        taken_ = true;
        // Written over in place (its length never changes), so that a reader sees a whole PID;
        // one that cannot be written is only not named.
        const std::string text = PidText(getpid());
        const bool written =
            pwrite(fd_, text.data(), text.size(), 0) == static_cast<ssize_t>(text.size());
        return {Attempt::Kind::kTaken, written ? getpid() : 0, {}};
      }
      close(fd_);  // the file its owner removed as it let go
      fd_ = -1;
    }
    return InUse(0);
  }
  const char* WithoutLock() const override { return kEndpointWithoutLock; }

 private:
  static std::string NameOf(const std::string& endpoint) {
    std::string name = endpoint.substr(0, kMostNameLength);
    for (char& c : name) {
      const bool plain = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') ||
                         (c >= 'A' && c <= 'Z') || c == '.' || c == '-';
      c = plain ? c : '_';
    }
    return name + ".lock";
  }

  std::string path_;
  int fd_ = -1;
  bool taken_ = false;
};

LockFolders LockFolders::OfThisProcess() {
  LockFolders folders;
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR")) folders.runtime = runtime;
  return folders;
}

DeviceLock::DeviceLock() = default;
DeviceLock::DeviceLock(DeviceLock&& other) noexcept = default;
DeviceLock::~DeviceLock() = default;

DeviceLock DeviceLock::Take(const std::string& endpoint, const LockFolders& folders,
                            const LockWait& wait) {
  DeviceLock lock;
  const auto note = [&](const std::string& problem, const char* withoutLock) {
    if (wait.note) wait.note("no lock for " + endpoint + " (" + problem + "): " + withoutLock);
  };
  if (endpoint.rfind(kSerialPrefix, 0) == 0) {
    const std::string device = endpoint.substr(kSerialPrefix.size());
    if (device.empty() || device.front() != '/') return lock;  // a port that leads nowhere
    const Expected<std::string> folder = SerialFolder(folders);
    if (!folder) {
      note(folder.error(), kSerialWithoutLock);
      return lock;
    }
    lock.file_ = std::make_unique<SerialFile>(*folder, device);
  } else if (endpoint.rfind(kTcpPrefix, 0) == 0) {
    const Expected<std::string> folder = EndpointFolder(folders);
    if (!folder) {
      note(folder.error(), kEndpointWithoutLock);
      return lock;
    }
    lock.file_ = std::make_unique<EndpointFile>(*folder, endpoint);
  } else {
    return lock;
  }

  File::Attempt last;
  const auto waiting = [&] {
    if (wait.note) {
      wait.note("waiting for " + endpoint + ": " + HolderText(last.holder) + " is working with it");
    }
  };
  const WaitEnd end = WaitUntil({wait.stop, wait.limit, waiting}, [&] {
    last = lock.file_->Try();
    return last.kind != File::Attempt::Kind::kInUse;
  });
  if (end == WaitEnd::kDone && last.kind == File::Attempt::Kind::kTaken) return lock;
  if (end == WaitEnd::kDone) {
    note(last.problem, lock.file_->WithoutLock());
  } else if (end == WaitEnd::kStopped) {
    lock.state_ = State::kStopped;
  } else {
    lock.state_ = State::kInUse;
    lock.failure_ = HolderText(last.holder) + " is working with " + endpoint;
    if (wait.limit.count() > 0) {
      lock.failure_ +=
          Format("; gave up waiting after %g s", static_cast<double>(wait.limit.count()) / 1000);
    }
  }
  lock.file_.reset();
  return lock;
}

}  // namespace vel
