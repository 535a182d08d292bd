#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace bench {

using Seconds = double;

// Median of `runs` timings of `work`, after one warm-up run.
Seconds MedianTime(int runs, const std::function<void()>& work);

// Runs a program to completion (output discarded); false when it fails.
bool RunProgram(const std::vector<std::string>& argv);

// Peak resident memory, in KiB, of `work` run in a child process.
long PeakMemoryKiB(const std::function<void()>& work);

// Prints "name: ours X ms, baseline Y ms, ratio R (target <= T) PASS|MISS".
void ReportRatio(const std::string& name, Seconds ours, Seconds baseline, double target);

}  // namespace bench
