#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace vel {

// A readable, seekable character source. The loader needs nothing more of a file.
class ByteStream {
 public:
  virtual ~ByteStream() = default;
  // The next character as 0..255, or -1 at the end.
  virtual int ReadChar() = 0;
  virtual std::uint64_t Position() const = 0;
  virtual std::uint64_t Length() const = 0;
  virtual void Seek(std::uint64_t position) = 0;
  // The 1-based line of the next character, where the stream counts lines; 0 where it does not.
  virtual std::int64_t Line() const { return 0; }
};

// A stream over text held in memory (tests, fuzzing, generated files).
class MemoryByteStream final : public ByteStream {
 public:
  explicit MemoryByteStream(std::string_view text) : text_(text) {}
  int ReadChar() override {
    return pos_ < text_.size() ? static_cast<unsigned char>(text_[pos_++]) : -1;
  }
  std::uint64_t Position() const override { return pos_; }
  std::uint64_t Length() const override { return text_.size(); }
  void Seek(std::uint64_t position) override {
    pos_ = position < text_.size() ? static_cast<std::size_t>(position) : text_.size();
  }

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
};

// A buffered stream over a file on disk.
class FileByteStream final : public ByteStream {
 public:
  FileByteStream() = default;
  FileByteStream(const FileByteStream&) = delete;
  FileByteStream& operator=(const FileByteStream&) = delete;
  ~FileByteStream() override;

  // Opens the file for reading; on failure returns false and sets *error to the system's reason.
  bool Open(const std::string& path, std::string* error);

  int ReadChar() override {
    if (next_ < filled_) return buffer_[next_++];
    return Refill();
  }
  std::uint64_t Position() const override { return bufferStart_ + next_; }
  std::uint64_t Length() const override { return length_; }
  void Seek(std::uint64_t position) override;

 private:
  int Refill();

  std::FILE* file_ = nullptr;
  std::vector<unsigned char> buffer_;
  std::size_t next_ = 0;
  std::size_t filled_ = 0;
  std::uint64_t bufferStart_ = 0;
  std::uint64_t length_ = 0;
};

// Counts the lines of a stream as it is read and notes the first line that holds nothing but
// hexadecimal digits (at least a whole record's worth): a record that lost its ':' would
// otherwise pass as text between records. Seeking back is meant for stepping back over one
// character just read that is not a line feed (how the loader re-reads a '{' or ':').
class LineTrackingStream final : public ByteStream {
 public:
  explicit LineTrackingStream(ByteStream& inner) : inner_(inner) {}
  int ReadChar() override;
  std::uint64_t Position() const override { return inner_.Position(); }
  std::uint64_t Length() const override { return inner_.Length(); }
  void Seek(std::uint64_t position) override;
  std::int64_t Line() const override { return line_; }
  // Reads what is left, so that every line has been looked at.
  void Drain();
  // The first line that reads as a record without its ':', or 0.
  std::int64_t FirstColonlessRecordLine() const { return colonlessLine_; }

 private:
  enum class LineState { kLeading, kDigits, kTrailing, kOther };
  void EndLine();

  ByteStream& inner_;
  std::int64_t line_ = 1;
  LineState state_ = LineState::kLeading;
  int digits_ = 0;
  std::int64_t colonlessLine_ = 0;
};

}  // namespace vel
