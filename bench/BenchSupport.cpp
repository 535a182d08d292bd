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

bool PairedTimes::Report(const std::string& name, double target) const {
  const Spread ratio = SpreadOf(ratios_);
  std::printf("%-40s ours %9.3f ms  baseline %9.3f ms  ratio %.3f (target <= %.2f) %s\n",
              name.c_str(), SpreadOf(ours_).median * 1e3, SpreadOf(baseline_).median * 1e3,
              ratio.median, target, ratio.median <= target ? "PASS" : "MISS");
  std::printf("%-40s %zu pairs, ratios %.3f to %.3f\n", "", ratios_.size(), ratio.low, ratio.high);
  return ratio.median <= target;
}

}  // namespace bench
