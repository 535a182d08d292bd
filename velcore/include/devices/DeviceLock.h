#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/CancelFlag.h"

namespace vel {

// How long a row waits for a device that another process works with, unless its job says
// otherwise.
constexpr std::chrono::milliseconds kDeviceLockWaitLimit = std::chrono::seconds(10);

// Where the locks of devices are kept.
struct LockFolders {
  // Serial ports: "LCK..NAME" files in the first of these that is a folder, where other programs
  // for serial lines look too.
  std::vector<std::string> serial{"/run/lock", "/var/lock"};
  // TCP endpoints: "zandor" in the user's runtime folder (an absolute path; empty: none), else
  // "zandor-UID" in the temporary folder. Either must belong to the user.
  std::string runtime;
  std::string temporary = "/tmp";

  // This process's folders: the runtime folder is XDG_RUNTIME_DIR.
  static LockFolders OfThisProcess();
};

// How a lock is waited for.
struct LockWait {
  const CancelFlag* stop = nullptr;  // a request ends the wait
  std::chrono::milliseconds limit = kDeviceLockWaitLimit;
  // Receives lines for the row's log: the process waited for (once the wait has lasted
  // kWaitNoticeAfter), a lock that cannot be made.
  std::function<void(const std::string&)> note;
};

// One process at a time works with a device: the lock of a serial port or a TCP endpoint, held
// from before its link opens until after it closes. A serial port's lock is a UUCP-style file
// holding the owner's PID; an endpoint's is a file of the user's held with flock.
class DeviceLock {
 public:
  enum class State {
    kHeld,     // the device is this process's until the lock goes
    kInUse,    // another process held it until the wait ended
    kStopped,  // the wait was stopped
  };

  // Takes the lock of `endpoint`, as EndpointOf names it ("serial:/dev/ttyUSB0",
  // "tcp:10.0.0.5:3000"), waiting while another process holds it. Where no lock can be made (no
  // usable lock folder) the state is kHeld without one, and a note says so: a serial port's own
  // exclusive open still keeps other processes out of it.
  static DeviceLock Take(const std::string& endpoint, const LockFolders& folders,
                         const LockWait& wait);

  State GetState() const { return state_; }
  // kInUse: which process works with the device, and how long it was waited for.
  const std::string& Failure() const { return failure_; }

  DeviceLock(DeviceLock&& other) noexcept;
  DeviceLock& operator=(DeviceLock&&) = delete;
  DeviceLock(const DeviceLock&) = delete;
  ~DeviceLock();  // releases the lock

 private:
  class File;
  class SerialFile;
  class EndpointFile;
  DeviceLock();

  State state_ = State::kHeld;
  std::string failure_;
  std::unique_ptr<File> file_;  // the lock held; none when none could be made
};

}  // namespace vel
