#include "link/SerialPort.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

namespace vel {

namespace {

using Clock = std::chrono::steady_clock;

speed_t SpeedFor(int baud) {
  switch (baud) {
    case 300:
      return B300;
    case 600:
      return B600;
    case 1200:
      return B1200;
    case 2400:
      return B2400;
    case 4800:
      return B4800;
    case 9600:
      return B9600;
    case 19200:
      return B19200;
    case 38400:
      return B38400;
    case 57600:
      return B57600;
    case 115200:
      return B115200;
    default:
      return B9600;
  }
}

LinkOpen CodeForErrno(int error) {
  switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case ENOTDIR:
      return LinkOpen::kNoSuchPort;
    case EACCES:
    case EPERM:
    case EBUSY:
    case EWOULDBLOCK:
      return LinkOpen::kAccessDenied;
    default:
      return LinkOpen::kOtherFailure;
  }
}

// What the system said about opening `path`, in words an operator can act on.
std::string ReasonFor(int error, const std::string& path) {
  std::string reason = std::strerror(error);
  if (error == EACCES || error == EPERM) {
    struct stat port {};
    const group* owner = ::stat(path.c_str(), &port) == 0 ? getgrgid(port.st_gid) : nullptr;
    reason = owner != nullptr ? "permission denied: this user is not in the group \"" +
                                    std::string(owner->gr_name) + "\" that owns the port"
                              : "permission denied";
  } else if (error == EBUSY || error == EWOULDBLOCK) {
    reason = "the port is busy: another program or connection has it open";
  } else if (error == ENOENT || error == ENODEV || error == ENXIO) {
    reason = "no such device";
  }
  return reason;
}

int RemainingMs(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// One wait of a read or write: up to the deadline, in steps short enough to notice a cancel.
int WaitStepMs(Clock::time_point deadline, const CancelFlag* cancel) {
  const int left = RemainingMs(deadline);
  return cancel != nullptr ? std::min(left, kCancelPollMs) : left;
}

bool CancelRequested(const CancelFlag* cancel) {
  return cancel != nullptr && cancel->IsRequested();
}

// Waits until `deadline` (or a cancel) without reading: a line that reports nothing but a
// hang-up or an error is as silent as one with nothing on it.
void WaitOut(Clock::time_point deadline, const CancelFlag* cancel) {
  while (!CancelRequested(cancel) && poll(nullptr, 0, WaitStepMs(deadline, cancel)) == 0 &&
         RemainingMs(deadline) > 0) {
  }
}

}  // namespace

void ApplyLineSettings(termios& tio, const SerialSettings& settings, std::string* note) {
  tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | IGNBRK | BRKINT | PARMRK | ISTRIP |
                                        INLCR | IGNCR | ICRNL);
  tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;

  // CLOCAL: the carrier line is not a connection to keep, so a device that is power-cycled (as
  // the error messages ask) does not hang the line up. No CTS handshake: one that another
  // program left set would stall every write on a cable without it. HUPCL drops DTR and RTS
  // when the port is closed, as closing a COM port does.
  tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
  tio.c_cflag |=
      static_cast<tcflag_t>((settings.DataBits() == 7 ? CS7 : CS8) | CREAD | CLOCAL | HUPCL);
  switch (settings.parityIndex) {
    case 1:
      tio.c_cflag |= PARENB | PARODD;
      break;
    case 2:
      tio.c_cflag |= PARENB;
      break;
    case 3:
      tio.c_cflag |= PARENB | PARODD | CMSPAR;
      break;  // mark
    case 4:
      tio.c_cflag |= PARENB | CMSPAR;
      break;  // space
    default:
      break;
  }
  if (settings.stopBitsIndex == 1) {
    // Linux has no 1.5 stop bits; two keep at least the idle time a receiver expects.
    tio.c_cflag |= CSTOPB;
    *note = "1.5 stop bits are not available on this system; using 2 stop bits.";
  } else if (settings.stopBitsIndex == 2) {
    tio.c_cflag |= CSTOPB;
  }
  const speed_t speed = SpeedFor(settings.BaudRate());
  cfsetispeed(&tio, speed);
  cfsetospeed(&tio, speed);
}

LinkOpen SerialPort::Open(const SerialSettings& settings, const std::string& portName,
                          const PortNameMap& names) {
  reason_.clear();
  note_.clear();
  const std::string path = names.Resolve(portName);
  if (path.empty()) {
    reason_ = "\"" + portName + "\" is not a port: give COM1, COM2, ... or a device path";
    return LinkOpen::kNoSuchPort;
  }
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  const auto fail = [&](int error) {
    reason_ = path + ": " + ReasonFor(error, path);
    const int comNumber = ComNumber(portName);
    if (comNumber > 0 && portName.find('/') == std::string::npos &&
        CodeForErrno(error) == LinkOpen::kNoSuchPort) {
      const std::string com = "COM" + std::to_string(comNumber);
      const std::string file = PortMapFilePath();
      reason_ += ". Map " + com + " to a device with a line " + com + "=/dev/ttyUSB0 in " +
                 (file.empty() ? std::string("~/.config/zandor/com-ports") : file) + " (or " +
                 kPortMapVariable + "=" + com + "=/dev/ttyUSB0)";
    }
    if (fd >= 0) ::close(fd);
    return CodeForErrno(error);
  };
  if (fd < 0) return fail(errno);
  // Exclusive use: an advisory lock (which also holds against root) and TIOCEXCL.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) return fail(errno);
  termios tio{};
  if (tcgetattr(fd, &tio) != 0) return fail(errno);
  ioctl(fd, TIOCEXCL);
  ApplyLineSettings(tio, settings, &note_);
  if (tcsetattr(fd, TCSANOW, &tio) != 0) return fail(errno);
  Close();
  fd_ = fd;
  path_ = path;
  return LinkOpen::kOk;
}

void SerialPort::SetBaudRate(int baud) {
  if (fd_ < 0) return;
  termios tio{};
  if (tcgetattr(fd_, &tio) != 0) return;
  cfsetispeed(&tio, SpeedFor(baud));
  cfsetospeed(&tio, SpeedFor(baud));
  tcsetattr(fd_, TCSANOW, &tio);
}

void SerialPort::Purge() {
  if (fd_ < 0) return;
  // write() returns before the bytes are on the line, and what it accepted is always meant to go
  // (often the last answer of an exchange): let it leave, within a bound, and discard only what
  // came in. Flushing the output too would drop that answer; on a pseudo-terminal it would even
  // drop bytes the other side has not read yet.
  const auto deadline = Clock::now() + std::chrono::milliseconds(kPurgeDrainLimitMs);
  int pending = 0;
  while (ioctl(fd_, TIOCOUTQ, &pending) == 0 && pending > 0 && Clock::now() < deadline) {
    poll(nullptr, 0, 1);
  }
  tcflush(fd_, TCIFLUSH);
}

bool SerialPort::ReadableNow() const {
  int waiting = 0;
  return fd_ >= 0 && ioctl(fd_, FIONREAD, &waiting) == 0 && waiting > 0;
}

int SerialPort::Read(std::uint8_t* buffer, int count, int limitMs) {
  if (fd_ < 0 || count <= 0) return 0;
  const int timeoutMs = limitMs >= 0 ? std::min(limitMs, readTimeoutMs_) : readTimeoutMs_;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  int done = 0;
  while (done < count) {
    const ssize_t n = ::read(fd_, buffer + done, static_cast<std::size_t>(count - done));
    if (n > 0) {
      done += static_cast<int>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) {
      // A line that fails (an adapter pulled out) waits out the time-out as a silent one would,
      // so that callers that try again do not spin.
      WaitOut(deadline, cancel_);
      break;
    }
    if (CancelRequested(cancel_)) break;
    const int wait = WaitStepMs(deadline, cancel_);
    if (wait == 0) break;
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, wait) < 0 && errno != EINTR) break;
    // A pty whose other side is closed reports POLLHUP at once; wait out the time-out instead of
    // spinning, as a real line with nothing on it would.
    if ((p.revents & POLLHUP) != 0 && (p.revents & POLLIN) == 0) {
      WaitOut(deadline, cancel_);
      break;
    }
  }
  return done;
}

int SerialPort::Write(const std::uint8_t* buffer, int count) {
  writeError_ = 0;
  if (fd_ < 0 || count <= 0) return 0;
  const auto deadline = Clock::now() + std::chrono::milliseconds(writeTimeoutMs_);
  int done = 0;
  while (done < count) {
    const ssize_t n = ::write(fd_, buffer + done, static_cast<std::size_t>(count - done));
    if (n > 0) {
      done += static_cast<int>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) {
      writeError_ = errno;
      break;
    }
    if (CancelRequested(cancel_)) {
      writeError_ = ECANCELED;
      break;
    }
    const int wait = WaitStepMs(deadline, cancel_);
    if (wait == 0) {
      writeError_ = ETIMEDOUT;
      break;
    }
    pollfd p{fd_, POLLOUT, 0};
    poll(&p, 1, wait);
  }
  return done;
}

void SerialPort::Close() {
  if (fd_ < 0) return;
  Purge();
  ioctl(fd_, TIOCNXCL);
  ::close(fd_);  // also drops the advisory lock
  fd_ = -1;
  path_.clear();
}

}  // namespace vel
