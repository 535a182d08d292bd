#include "common/ByteStream.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

namespace vel {

namespace {
constexpr std::size_t kBufferSize = 64 * 1024;
}

FileByteStream::~FileByteStream() {
  if (file_ != nullptr) std::fclose(file_);
}

bool FileByteStream::Open(const std::string& path, std::string* error) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    *error = std::strerror(errno);
    return false;
  }
  struct stat info {};
  if (fstat(fileno(file), &info) != 0 || !S_ISREG(info.st_mode)) {
    *error = S_ISDIR(info.st_mode) ? std::strerror(EISDIR) : "Not a regular file";
    std::fclose(file);
    return false;
  }
  if (file_ != nullptr) std::fclose(file_);
  file_ = file;
  length_ = static_cast<std::uint64_t>(info.st_size);
  buffer_.resize(kBufferSize);
  next_ = filled_ = 0;
  bufferStart_ = 0;
  return true;
}

int FileByteStream::Refill() {
  if (file_ == nullptr) return -1;
  bufferStart_ += filled_;
  next_ = 0;
  filled_ = std::fread(buffer_.data(), 1, buffer_.size(), file_);
  if (filled_ == 0) return -1;
  return buffer_[next_++];
}

void FileByteStream::Seek(std::uint64_t position) {
  if (file_ == nullptr) return;
  if (position >= bufferStart_ && position < bufferStart_ + filled_) {
    next_ = static_cast<std::size_t>(position - bufferStart_);
    return;
  }
  if (position > length_) position = length_;
  std::fseek(file_, static_cast<long>(position), SEEK_SET);
  bufferStart_ = position;
  next_ = filled_ = 0;
}

namespace {
// The shortest record: byte count, address, type and checksum.
constexpr int kShortestRecordDigits = 10;

bool IsHexDigit(int c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}
bool IsLineBlank(int c) { return c == ' ' || c == '\t' || c == '\r'; }
}  // namespace

int LineTrackingStream::ReadChar() {
  const int c = inner_.ReadChar();
  if (c < 0) {
    EndLine();
    return c;
  }
  if (c == '\n') {
    EndLine();
    ++line_;
  } else if (IsLineBlank(c)) {
    if (state_ == LineState::kDigits) state_ = LineState::kTrailing;
  } else if (IsHexDigit(c) && (state_ == LineState::kLeading || state_ == LineState::kDigits)) {
    state_ = LineState::kDigits;
    ++digits_;
  } else {
    state_ = LineState::kOther;
  }
  return c;
}

void LineTrackingStream::EndLine() {
  const bool digitsOnly = state_ == LineState::kDigits || state_ == LineState::kTrailing;
  if (digitsOnly && digits_ >= kShortestRecordDigits && colonlessLine_ == 0) {
    colonlessLine_ = line_;
  }
  state_ = LineState::kLeading;
  digits_ = 0;
}

void LineTrackingStream::Seek(std::uint64_t position) { inner_.Seek(position); }

void LineTrackingStream::Drain() {
  while (ReadChar() >= 0) {
  }
}

}  // namespace vel
