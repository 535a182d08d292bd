#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "Cli.h"
#include "StandardStreams.h"
#include "common/StandardDescriptors.h"

namespace {

// How long a second SIGINT waits at most for a file being replaced (a report, a session record,
// the list) before the process ends anyway.
constexpr auto kLongestCommit = std::chrono::seconds(2);

// SIGINT, SIGTERM and SIGHUP (the terminal or the ssh session closed) cancel the running devices
// through the engine, so that every device still ends with its result line and the log with a
// whole line; a second SIGINT ends at once, once no file is half replaced (a moment at most), so
// that no temporary file stays behind.
class StopSignals {
 public:
  StopSignals() {
    sigemptyset(&signals_);
    sigaddset(&signals_, SIGINT);
    sigaddset(&signals_, SIGTERM);
    sigaddset(&signals_, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &signals_, nullptr);  // inherited by every thread made later
    std::thread([this] { Watch(); }).detach();
  }
  const vel::CancelFlag& Interrupt() const { return interrupt_; }
  vel::FileCommits& Commits() { return commits_; }
  int Caught() const { return caught_; }

 private:
  void Watch() {
    for (;;) {
      int signal = 0;
      if (sigwait(&signals_, &signal) != 0) continue;
      if (caught_ != 0 && signal == SIGINT) {
        (void)commits_.try_lock_for(kLongestCommit);
        _exit(128 + SIGINT);
      }
      if (caught_ == 0) {
        caught_ = signal;
        interrupt_.Request();
      }
    }
  }

  sigset_t signals_{};
  std::atomic<int> caught_{0};
  vel::CancelFlag interrupt_;
  vel::FileCommits commits_;
};

}  // namespace

int main(int argc, char** argv) {
  // Before anything opens a descriptor: a closed standard output or error must not hand its
  // number to a device's connection or to the log.
  if (const vel::Result opened = vel::OpenStandardDescriptors(); !opened) {
    std::fprintf(stderr, "zandor: %s\n", opened.error().c_str());
    return zandor::kExitFileError;
  }
  // Output that nobody reads any more (a closed pipe, a pager quit) must never stop device work:
  // writes to it fail instead, and the run goes on without it.
  signal(SIGPIPE, SIG_IGN);
  // Never destroyed: its detached watcher may still use it while the process exits.
  static StopSignals& stop = *new StopSignals;
  zandor::DescriptorStream out(STDOUT_FILENO);
  zandor::DescriptorStream err(STDERR_FILENO);
  err.setf(std::ios::unitbuf);  // diagnostics and progress go out as they are written
  const std::vector<std::string> words(argv + 1, argv + argc);
  int rc = zandor::RunZandor(
      words, {out, err, isatty(STDERR_FILENO) == 1, &stop.Interrupt(), &stop.Commits()});
  rc = zandor::FinishStandardOutput(rc, out, err);
  if (stop.Caught() != 0) rc = 128 + stop.Caught();
  return rc;
}
