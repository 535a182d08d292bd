#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace bench {

// A benchmark's command line: options with a whole number ("--devices 64"), flags, and whole
// numbers or words in their places. Whatever it was not asked for, or a number outside its
// range, makes the command line invalid: Valid() then prints why and the usage, and the program
// fails instead of measuring something other than what was meant.
class BenchArgs {
 public:
  BenchArgs(int argc, char** argv, std::string usage);
  int Option(const std::string& name, int fallback, int low, int high);
  bool Flag(const std::string& name);
  // The next word in its place (not an option), or the fallback when there is none.
  int Number(const std::string& what, int fallback, int low, int high);
  std::string Word(const std::string& fallback);
  bool Valid();

 private:
  int Parse(const std::string& what, const std::string& text, int fallback, int low, int high);
  std::optional<std::size_t> NextPlaced();

  std::string program_;
  std::string usage_;
  std::vector<std::string> words_;
  std::vector<bool> taken_;
  std::vector<std::string> problems_;
};

using Seconds = double;

// How long one run of `work` takes.
Seconds TimeOf(const std::function<void()>& work);

// Median of `runs` timings of `work`, after one warm-up run.
Seconds MedianTime(int runs, const std::function<void()>& work);

// Runs a program to completion (output discarded); false when it fails.
bool RunProgram(const std::vector<std::string>& argv);

// A whole process run to its end: how long it took and its peak resident memory.
struct ProcessRun {
  bool ok = false;
  Seconds seconds = 0;
  long peakKiB = 0;
};
ProcessRun TimeProgram(const std::vector<std::string>& argv);

// The folder this benchmark runs from (the other programs of the build sit beside it).
std::string OwnFolder();

// Median and spread of a series of figures.
struct Spread {
  double median = 0, low = 0, high = 0;
};
Spread SpreadOf(std::vector<double> values);
// Prints "WHAT: median M (LOW - HIGH), target <= T PASS" (>= when more is better); whether the
// median meets the target.
bool ReportSpread(const std::string& what, const Spread& spread, double target, bool moreIsBetter);

// Peak resident memory, in KiB, of `work` run in a child process.
long PeakMemoryKiB(const std::function<void()>& work);

// Keeps this thread and the threads it starts afterwards on one core. Two threads that answer
// each other (a device stand-in and the host) otherwise measure the scheduler's migrations more
// than the code; both sides of a comparison run pinned alike.
void PinToOneCore();

// Reads exactly n bytes from a socket; false when it closed first.
bool ReadAll(int fd, std::uint8_t* buffer, int n);

// A listening TCP socket on 127.0.0.1 with a port of the system's choice; *port gets the port.
int ListenLoopback(std::uint16_t* port);

// A connected TCP_NODELAY client socket to 127.0.0.1:port.
int ConnectLoopback(std::uint16_t port);

// Prints "name: ours X ms, baseline Y ms, ratio R (target <= T) PASS|MISS".
void ReportRatio(const std::string& name, Seconds ours, Seconds baseline, double target);

// Timings taken in pairs, ours and the baseline one right after the other, so that a noisy
// moment of the machine weighs on both sides alike.
class PairedTimes {
 public:
  void Add(Seconds ours, Seconds baseline);
  // Prints the medians, the median of the pairs' ratios against the target and the ratios'
  // spread; returns whether the median ratio meets the target.
  bool Report(const std::string& name, double target) const;

 private:
  std::vector<double> ours_, baseline_, ratios_;
};

}  // namespace bench
