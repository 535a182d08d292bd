#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace vel::testing {

// A program of this project run as a real process, its standard output and error read through
// pipes. Standard input is /dev/null, as in CI, or a terminal (a pseudo-terminal whose other side
// the test writes to). Standard output may go to a file instead, and any standard descriptor may
// be closed, as a shell's `>FILE` and `>&-` do.
class Subprocess {
 public:
  enum class Input { kNull, kTerminal };
  struct Descriptors {
    Input input = Input::kNull;
    std::string outputPath;   // standard output opened on this path (created, emptied)
    std::vector<int> closed;  // standard descriptors the program starts without
    // With Input::kTerminal: standard output and error go to the terminal too, and what the
    // program writes there is kept in `terminal`.
    bool outputsOnTerminal = false;
  };

  explicit Subprocess(const std::vector<std::string>& argv, Input input = Input::kNull)
      : Subprocess(argv, Descriptors{input, {}, {}}) {}

  Subprocess(const std::vector<std::string>& argv, const Descriptors& descriptors) {
    const Input input = descriptors.input;
    int out[2], err[2];
    if (pipe(out) != 0 || pipe(err) != 0) return;
    int terminal = -1;
    if (input == Input::kTerminal &&
        openpty(&terminal_, &terminal, nullptr, nullptr, nullptr) != 0) {
      return;
    }
    pid_ = fork();
    if (pid_ == 0) {
      // What a shell gives a program: default signal dispositions and no blocked signals, even
      // where this process ignores SIGPIPE (as the simulator's sockets need).
      for (int s : {SIGPIPE, SIGHUP, SIGINT, SIGTERM}) signal(s, SIG_DFL);
      sigset_t none;
      sigemptyset(&none);
      sigprocmask(SIG_SETMASK, &none, nullptr);
      if (terminal >= 0) {
        setsid();
        dup2(terminal, 0);
      } else {
        dup2(open("/dev/null", O_RDONLY), 0);
      }
      dup2(descriptors.outputPath.empty() ? out[1]
                                          : open(descriptors.outputPath.c_str(),
                                                 O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644),
           1);
      dup2(err[1], 2);
      if (terminal >= 0 && descriptors.outputsOnTerminal) {
        dup2(terminal, 1);
        dup2(terminal, 2);
      }
      // Only this process reads the pipes: once it stops, the program's writes fail.
      for (int fd : {out[0], out[1], err[0], err[1], terminal_, terminal}) {
        if (fd > 2) close(fd);
      }
      for (int fd : descriptors.closed) close(fd);
      std::vector<char*> args;
      for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
      args.push_back(nullptr);
      execv(args[0], args.data());
      _exit(127);
    }
    close(out[1]);
    close(err[1]);
    if (terminal >= 0) close(terminal);
    out_ = out[0];
    err_ = err[0];
    readsTerminal_ = terminal_ >= 0 && descriptors.outputsOnTerminal;
    if (readsTerminal_) {
      CloseOutput();  // the pipes are not the program's any more
    }
  }
  ~Subprocess() {
    if (pid_ > 0 && code_ < 0) {
      kill(pid_, SIGKILL);
      Wait();
    }
    CloseOutput();
    if (terminal_ >= 0) close(terminal_);
  }
  Subprocess(Subprocess&& other) noexcept
      : out(std::move(other.out)),
        err(std::move(other.err)),
        terminal(std::move(other.terminal)),
        pid_(other.pid_),
        out_(other.out_),
        err_(other.err_),
        terminal_(other.terminal_),
        readsTerminal_(other.readsTerminal_),
        code_(other.code_),
        signalled_(other.signalled_) {
    other.pid_ = other.out_ = other.err_ = other.terminal_ = -1;
  }
  Subprocess(const Subprocess&) = delete;
  Subprocess& operator=(const Subprocess&) = delete;

  // Reads standard output until it holds `text` or the time passes; true when it does.
  bool WaitForOutput(const std::string& text, std::chrono::milliseconds timeout) {
    return WaitForText(out, text, timeout);
  }
  // The same for standard error.
  bool WaitForError(const std::string& text, std::chrono::milliseconds timeout) {
    return WaitForText(err, text, timeout);
  }
  void Signal(int signal) { kill(pid_, signal); }
  pid_t Pid() const { return pid_; }
  // Types into the terminal the program reads (Input::kTerminal).
  void Type(const std::string& text) {
    if (write(terminal_, text.data(), text.size()) < 0) return;
  }
  // Closes this side of the output pipes, as a reader that goes away does: the program's next
  // write to them fails (or, unless it ignores SIGPIPE, ends it).
  void CloseOutput() {
    if (out_ >= 0) close(out_);
    if (err_ >= 0) close(err_);
    out_ = err_ = -1;
  }
  // Reads everything that is left and returns the exit code (128 + n when signal n ended it).
  int Wait() {
    while (ReadSome(-1)) {
    }
    int status = 0;
    waitpid(pid_, &status, 0);
    return Ended(status);
  }
  // The same, but nothing when the program has not ended within the time (it is left running).
  std::optional<int> WaitFor(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      while (ReadSome(0)) {
      }
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        while (ReadSome(0)) {
        }
        return Ended(status);
      }
      if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  // Whether a signal ended the program (rather than its own exit with that code).
  bool EndedBySignal() const { return signalled_; }

  std::string out;
  std::string err;
  std::string terminal;  // what the program wrote to its terminal (outputsOnTerminal)

 private:
  bool WaitForText(const std::string& read, const std::string& text,
                   std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (read.find(text) == std::string::npos) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0 || !ReadSome(static_cast<int>(left.count()))) return false;
    }
    return true;
  }

  int Ended(int status) {
    signalled_ = WIFSIGNALED(status);
    code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return code_;
  }

  bool ReadSome(int timeoutMs) {
    if (out_ < 0 && err_ < 0 && !readsTerminal_) return false;
    pollfd fds[3] = {
        {out_, POLLIN, 0}, {err_, POLLIN, 0}, {readsTerminal_ ? terminal_ : -1, POLLIN, 0}};
    if (poll(fds, 3, timeoutMs) <= 0) return false;
    bool any = false;
    char buffer[4096];
    std::string* into[3] = {&out, &err, &terminal};
    for (int i = 0; i < 3; ++i) {
      if (fds[i].fd < 0 || (fds[i].revents & (POLLIN | POLLHUP)) == 0) continue;
      const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        into[i]->append(buffer, static_cast<std::size_t>(n));
        any = true;
      } else if (i == 2) {
        readsTerminal_ = false;  // the program's side of the terminal is closed
      }
    }
    return any;
  }

  pid_t pid_ = -1;
  int out_ = -1;
  int err_ = -1;
  int terminal_ = -1;
  bool readsTerminal_ = false;
  int code_ = -1;
  bool signalled_ = false;
};

}  // namespace vel::testing
