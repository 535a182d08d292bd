#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "common/ByteStream.h"
#include "image/VelHexRec.h"

namespace vel {

// Told of every record as a chain is read (the loader's progress).
class RecordReadObserver {
 public:
  virtual ~RecordReadObserver() = default;
  virtual void RecordRead(const ByteStream& in) = 0;
};

// One node of the numbered, doubly linked chain of an image's records. A node owns its
// successor; reading, walking and destroying run in loops, so chains of any length are safe.
class VelHexFile {
 public:
  VelHexFile() = default;
  VelHexFile(const VelHexFile&) = delete;
  VelHexFile& operator=(const VelHexFile&) = delete;
  ~VelHexFile();

  void MarkHead() { recordNumber_ = 1; }

  // Reads this node and every following record up to and including the first end-of-file
  // record. Returns the record count of the chain, or 0 when the stream ended first (the
  // records read so far stay linked).
  std::int32_t Serialize(ByteStream& in, RecordReadObserver* observer = nullptr);

  const VelHexRec& GetRecord() const { return record_; }
  const VelHexFile* GetNext() const { return next_.get(); }
  const VelHexFile* GetPrevious() const { return previous_; }
  std::int32_t RecordNumber() const { return recordNumber_; }
  // The line of the file on which the record's ':' stands (0 when the stream counts no lines).
  std::int64_t Line() const { return line_; }
  // The node numbered `number`, walking from this one; nullptr when the chain has no such node.
  const VelHexFile* FindRecord(std::int32_t number) const;
  bool IsRecordValid() const { return record_.IsChecksumValid(); }
  // Stores this record's line in *line and returns the successor.
  const VelHexFile* TakeLine(std::string* line) const;

 private:
  std::int32_t recordNumber_ = 0;
  std::int64_t line_ = 0;
  VelHexFile* previous_ = nullptr;
  VelHexRec record_;
  std::unique_ptr<VelHexFile> next_;
};

}  // namespace vel
