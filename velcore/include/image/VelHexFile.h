#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "image/VelHexRec.h"

namespace vel {

// The line numbers of positions in a text, counted forward as a reader moves on.
class LineCounter {
 public:
  explicit LineCounter(std::string_view text) : text_(text) {}
  // The 1-based line of `position`; positions asked for never go back.
  std::int64_t LineAt(std::size_t position);

 private:
  std::string_view text_;
  std::size_t counted_ = 0;
  std::int64_t line_ = 1;
};

// One node of the numbered, doubly linked chain of an image's records.
class VelHexFile {
 public:
  const VelHexRec& GetRecord() const { return record_; }
  const VelHexFile* GetNext() const { return next_; }
  const VelHexFile* GetPrevious() const { return previous_; }
  std::int32_t RecordNumber() const { return recordNumber_; }
  // The line of the file on which the record's ':' stands.
  std::int64_t Line() const { return line_; }
  // The node numbered `number`, counting from this one; nullptr when the chain has no such node.
  const VelHexFile* FindRecord(std::int32_t number) const;
  bool IsRecordValid() const { return record_.IsChecksumValid(); }
  // Whether other characters than blanks follow the record on its line.
  bool HasTrailingText() const { return trailingText_; }
  // Stores this record's line in *line and returns the successor.
  const VelHexFile* TakeLine(std::string* line) const;

 private:
  friend class RecordChain;

  std::int32_t recordNumber_ = 0;
  bool trailingText_ = false;
  std::int64_t line_ = 0;
  const VelHexFile* previous_ = nullptr;
  const VelHexFile* next_ = nullptr;
  VelHexRec record_;
};

// The records of one image in file order, numbered from 1, up to and including the end record.
// The chain owns its nodes; stepping through and freeing them need no recursion, so chains of
// any length are safe.
class RecordChain {
 public:
  RecordChain() = default;
  RecordChain(RecordChain&& other) noexcept { *this = std::move(other); }
  RecordChain& operator=(RecordChain&& other) noexcept;
  RecordChain(const RecordChain&) = delete;
  RecordChain& operator=(const RecordChain&) = delete;

  // Told of every record read, with the position after it.
  using RecordRead = std::function<void(std::size_t position)>;

  // Reads records from `text` at *pos up to and including the first end-of-file record; *pos
  // moves past it. The records' data stay in `text`, which must outlive the chain; `lines`
  // counts over the same text. False when the text ends first (the records read so far stay).
  bool Read(std::string_view text, std::size_t* pos, LineCounter& lines,
            const RecordRead& recordRead = {});

  // The first node, or nullptr for an empty chain.
  const VelHexFile* Head() const { return nodes_.empty() ? nullptr : &nodes_.front(); }
  std::int32_t Count() const { return static_cast<std::int32_t>(nodes_.size()); }

 private:
  void Link();

  std::vector<VelHexFile> nodes_;
};

}  // namespace vel
