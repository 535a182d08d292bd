#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "common/Waiting.h"

namespace zandor {

// The message log of a run (--log FILE), appended to one whole line at a time, so that a run
// that is killed keeps every line it wrote. A write that fails ends the log, never the run: the
// failure is kept for the run to report.
class LogFile {
 public:
  // Opens FILE for appending (a new one gets mode 0644); a FIFO's reader is waited for under
  // `wait`. Nothing, with *error set, when it cannot be opened.
  static std::unique_ptr<LogFile> Open(const std::string& path, const vel::WaitControl& wait,
                                       std::string* error);
  ~LogFile();
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;

  // Appends the line and a line feed; false when this write failed and ended the log.
  bool WriteLine(std::string_view line);
  // Why the log ended early: empty while every line has been written.
  std::string Failure() const;
  const std::string& Path() const { return path_; }

 private:
  LogFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}

  int fd_;
  std::string path_;
  mutable std::mutex mutex_;
  std::string failure_;
};

}  // namespace zandor
