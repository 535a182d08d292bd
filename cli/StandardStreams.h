#pragma once

#include <ostream>
#include <streambuf>
#include <string>
#include <vector>

namespace zandor {

// A buffer that writes into a descriptor and keeps the reason (errno) of the first write that
// failed, which std::cout and std::cerr lose. Once a write has failed, nothing more is written.
class DescriptorBuffer final : public std::streambuf {
 public:
  explicit DescriptorBuffer(int fd);
  DescriptorBuffer(const DescriptorBuffer&) = delete;
  DescriptorBuffer& operator=(const DescriptorBuffer&) = delete;

  // The errno of the first write that failed; 0 while every byte has gone out.
  int Failure() const { return failure_; }

 protected:
  int_type overflow(int_type c) override;
  int sync() override;

 private:
  // Writes out what the buffer holds, waiting while a non-blocking descriptor is full; false once
  // a write has failed (what could not be written is dropped).
  bool Drain();

  int fd_;
  std::vector<char> buffer_;
  int failure_ = 0;
};

// The program's standard output or error as a stream that can say why writing it failed.
class DescriptorStream final : public std::ostream {
 public:
  explicit DescriptorStream(int fd);
  int Failure() const { return buffer_.Failure(); }

 private:
  DescriptorBuffer buffer_;
};

// How a stream that went bad failed, to follow "standard output": "was closed" where its reader
// went away or the stream cannot say, otherwise "cannot be written: " and the system's reason.
std::string WriteFailureText(const std::ostream& stream);

// The exit code once `out` has been flushed: where its writes failed other than into a closed
// pipe (output nobody reads any more), the reason goes to `err` and a run that had succeeded
// exits kExitFileError; a negative verdict or a usage error keeps its own code.
int FinishStandardOutput(int code, DescriptorStream& out, std::ostream& err);

}  // namespace zandor
