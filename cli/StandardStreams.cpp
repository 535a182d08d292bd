#include "StandardStreams.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "Cli.h"

namespace zandor {

namespace {

constexpr std::size_t kBufferBytes = 8192;

// A failure worth telling: a reader that went away only means nobody reads any more.
bool ReasonToTell(int failure) { return failure != 0 && failure != EPIPE; }

}  // namespace

DescriptorBuffer::DescriptorBuffer(int fd) : fd_(fd), buffer_(kBufferBytes) {
  setp(buffer_.data(), buffer_.data() + buffer_.size());
}

DescriptorBuffer::int_type DescriptorBuffer::overflow(int_type c) {
  if (!Drain()) return traits_type::eof();
  if (!traits_type::eq_int_type(c, traits_type::eof())) {
    *pptr() = traits_type::to_char_type(c);
    pbump(1);
  }
  return traits_type::not_eof(c);
}

int DescriptorBuffer::sync() { return Drain() ? 0 : -1; }

bool DescriptorBuffer::Drain() {
  for (const char* next = pbase(); failure_ == 0 && next < pptr();) {
    const ssize_t n = write(fd_, next, static_cast<std::size_t>(pptr() - next));
    if (n > 0) {
      next += n;
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      // A descriptor left non-blocking by whoever shares it: wait as a blocking one would.
      pollfd writable{fd_, POLLOUT, 0};
      poll(&writable, 1, -1);
    } else if (n < 0 && errno != EINTR) {
      failure_ = errno;
    } else if (n == 0) {
      failure_ = EIO;
    }
  }
  setp(buffer_.data(), buffer_.data() + buffer_.size());
  return failure_ == 0;
}

DescriptorStream::DescriptorStream(int fd) : std::ostream(nullptr), buffer_(fd) { rdbuf(&buffer_); }

std::string WriteFailureText(const std::ostream& stream) {
  const auto* buffer = dynamic_cast<const DescriptorBuffer*>(stream.rdbuf());
  const int failure = buffer == nullptr ? 0 : buffer->Failure();
  return ReasonToTell(failure) ? std::string("cannot be written: ") + std::strerror(failure)
                               : "was closed";
}

int FinishStandardOutput(int code, DescriptorStream& out, std::ostream& err) {
  out.flush();
  if (!ReasonToTell(out.Failure())) return code;
  err << "zandor: cannot write standard output: " << std::strerror(out.Failure()) << std::endl;
  return code == kExitOk ? kExitFileError : code;
}

}  // namespace zandor
