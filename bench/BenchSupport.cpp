#include "BenchSupport.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "support/LoopbackListener.h"

namespace bench {

BenchArgs::BenchArgs(int argc, char** argv, std::string usage)
    : program_(argc > 0 ? argv[0] : "bench"), usage_(std::move(usage)) {
  program_ = program_.substr(program_.rfind('/') + 1);
  for (int i = 1; i < argc; ++i) words_.emplace_back(argv[i]);
  taken_.assign(words_.size(), false);
}

int BenchArgs::Parse(const std::string& what, const std::string& text, int fallback, int low,
                     int high) {
  const bool digits =
      !text.empty() && text.size() <= 9 &&
      std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
  const int value = digits ? std::atoi(text.c_str()) : low - 1;
  if (value >= low && value <= high) return value;
  problems_.push_back(what + " takes " + std::to_string(low) + " to " + std::to_string(high) +
                      ", not \"" + text + "\"");
  return fallback;
}

int BenchArgs::Option(const std::string& name, int fallback, int low, int high) {
  for (std::size_t i = 0; i < words_.size(); ++i) {
    if (taken_[i] || words_[i] != name) continue;
    taken_[i] = true;
    if (i + 1 == words_.size()) {
      problems_.push_back(name + " needs a number");
      return fallback;
    }
    taken_[i + 1] = true;
    return Parse(name, words_[i + 1], fallback, low, high);
  }
  return fallback;
}

bool BenchArgs::Flag(const std::string& name) {
  for (std::size_t i = 0; i < words_.size(); ++i) {
    if (!taken_[i] && words_[i] == name) return taken_[i] = true;
  }
  return false;
}

std::optional<std::size_t> BenchArgs::NextPlaced() {
  for (std::size_t i = 0; i < words_.size(); ++i) {
    if (taken_[i]) continue;
    if (words_[i].rfind("-", 0) == 0) return std::nullopt;  // an option nobody asked for
    taken_[i] = true;
    return i;
  }
  return std::nullopt;
}

int BenchArgs::Number(const std::string& what, int fallback, int low, int high) {
  const auto at = NextPlaced();
  return at ? Parse(what, words_[*at], fallback, low, high) : fallback;
}

std::string BenchArgs::Word(const std::string& fallback) {
  const auto at = NextPlaced();
  return at ? words_[*at] : fallback;
}

bool BenchArgs::Valid() {
  for (std::size_t i = 0; i < words_.size(); ++i) {
    if (!taken_[i]) problems_.push_back("unknown argument \"" + words_[i] + "\"");
  }
  for (const std::string& problem : problems_) {
    std::fprintf(stderr, "%s: %s\n", program_.c_str(), problem.c_str());
  }
  if (!problems_.empty()) std::fprintf(stderr, "usage: %s %s\n", program_.c_str(), usage_.c_str());
  return problems_.empty();
}

Seconds TimeOf(const std::function<void()>& work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

Seconds MedianTime(int runs, const std::function<void()>& work) {
  work();
  std::vector<Seconds> times;
  for (int i = 0; i < runs; ++i) times.push_back(TimeOf(work));
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

bool RunProgram(const std::vector<std::string>& argv) { return TimeProgram(argv).ok; }

ProcessRun TimeProgram(const std::vector<std::string>& argv) {
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, STDOUT_FILENO);
    dup2(null, STDERR_FILENO);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  struct rusage usage {};
  wait4(pid, &status, 0, &usage);
  ProcessRun run;
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  run.peakKiB = usage.ru_maxrss;
  return run;
}

std::string OwnFolder() {
  char path[4096];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return ".";
  path[n] = '\0';
  std::string folder(path);
  return folder.substr(0, folder.find_last_of('/'));
}

Spread SpreadOf(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  if (values.empty()) return {};
  return {values[values.size() / 2], values.front(), values.back()};
}

long PeakMemoryKiB(const std::function<void()>& work) {
  const pid_t pid = fork();
  if (pid == 0) {
    work();
    _exit(0);
  }
  int status = 0;
  struct rusage usage {};
  wait4(pid, &status, 0, &usage);
  return usage.ru_maxrss;
}

void PinToOneCore() {
  cpu_set_t set;
  CPU_ZERO(&set);
  CPU_SET(0, &set);
  sched_setaffinity(0, sizeof set, &set);
}

bool ReadAll(int fd, std::uint8_t* buffer, int n) {
  for (int done = 0; done < n;) {
    const ssize_t got = ::recv(fd, buffer + done, static_cast<std::size_t>(n - done), 0);
    if (got <= 0) return false;
    done += static_cast<int>(got);
  }
  return true;
}

int ListenLoopback(std::uint16_t* port) {
  sockaddr_in address{};
  const int listener = vel::testing::ListenOnLoopback(8, &address);
  *port = ntohs(address.sin_port);
  return listener;
}

int ConnectLoopback(std::uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  const int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) std::abort();
  return fd;
}

void ReportRatio(const std::string& name, Seconds ours, Seconds baseline, double target) {
  const double ratio = ours / baseline;
  std::printf("%-40s ours %9.3f ms  baseline %9.3f ms  ratio %.3f (target <= %.2f) %s\n",
              name.c_str(), ours * 1e3, baseline * 1e3, ratio, target,
              ratio <= target ? "PASS" : "MISS");
}

void PairedTimes::Add(Seconds ours, Seconds baseline) {
  ours_.push_back(ours);
  baseline_.push_back(baseline);
  ratios_.push_back(ours / baseline);
}

bool ReportSpread(const std::string& what, const Spread& spread, double target, bool moreIsBetter) {
  const bool met = moreIsBetter ? spread.median >= target : spread.median <= target;
  std::printf("%s: median %.3f (%.3f - %.3f), target %s %.2f %s\n", what.c_str(), spread.median,
              spread.low, spread.high, moreIsBetter ? ">=" : "<=", target, met ? "PASS" : "MISS");
  return met;
}

bool PairedTimes::Report(const std::string& name, double target) const {
  const Spread ratio = SpreadOf(ratios_);
  std::printf("%-40s ours %9.3f ms  baseline %9.3f ms  ratio %.3f (target <= %.2f) %s\n",
              name.c_str(), SpreadOf(ours_).median * 1e3, SpreadOf(baseline_).median * 1e3,
              ratio.median, target, ratio.median <= target ? "PASS" : "MISS");
  std::printf("%-40s %zu pairs, ratios %.3f to %.3f\n", "", ratios_.size(), ratio.low, ratio.high);
  return ratio.median <= target;
}

}  // namespace bench
