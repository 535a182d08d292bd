#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

namespace vel::testing {

// A program of this project run as a real process, its standard output and error read through
// pipes (standard input is /dev/null, as in CI).
class Subprocess {
 public:
  explicit Subprocess(const std::vector<std::string>& argv) {
    int out[2], err[2];
    if (pipe(out) != 0 || pipe(err) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      const int null = open("/dev/null", O_RDONLY);
      dup2(null, 0);
      dup2(out[1], 1);
      dup2(err[1], 2);
      std::vector<char*> args;
      for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
      args.push_back(nullptr);
      execv(args[0], args.data());
      _exit(127);
    }
    close(out[1]);
    close(err[1]);
    out_ = out[0];
    err_ = err[0];
  }
  ~Subprocess() {
    if (pid_ > 0 && code_ < 0) {
      kill(pid_, SIGKILL);
      Wait();
    }
    if (out_ >= 0) close(out_);
    if (err_ >= 0) close(err_);
  }
  Subprocess(Subprocess&& other) noexcept
      : out(std::move(other.out)),
        err(std::move(other.err)),
        pid_(other.pid_),
        out_(other.out_),
        err_(other.err_),
        code_(other.code_) {
    other.pid_ = other.out_ = other.err_ = -1;
  }
  Subprocess(const Subprocess&) = delete;
  Subprocess& operator=(const Subprocess&) = delete;

  // Reads standard output until it holds `text` or the time passes; true when it does.
  bool WaitForOutput(const std::string& text, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (out.find(text) == std::string::npos) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0 || !ReadSome(static_cast<int>(left.count()))) return false;
    }
    return true;
  }
  void Signal(int signal) { kill(pid_, signal); }
  // Reads everything that is left and returns the exit code (128 + n when signal n ended it).
  int Wait() {
    while (ReadSome(-1)) {
    }
    int status = 0;
    waitpid(pid_, &status, 0);
    code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return code_;
  }

  std::string out;
  std::string err;

 private:
  bool ReadSome(int timeoutMs) {
    pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
    if (poll(fds, 2, timeoutMs) <= 0) return false;
    bool any = false;
    char buffer[4096];
    for (int i = 0; i < 2; ++i) {
      if ((fds[i].revents & (POLLIN | POLLHUP)) == 0) continue;
      const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        (i == 0 ? out : err).append(buffer, static_cast<std::size_t>(n));
        any = true;
      }
    }
    return any;
  }

  pid_t pid_ = -1;
  int out_ = -1;
  int err_ = -1;
  int code_ = -1;
};

}  // namespace vel::testing
