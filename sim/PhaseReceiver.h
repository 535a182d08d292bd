#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "SimProfile.h"

namespace sim {

using Segment = std::array<std::uint8_t, 0x10000>;

// The device's side of one phase: every block-ID, record and end-of-block frame is checked
// against the phase's rule; a block's records are held until its end of block and programmed
// only when the block's result is success. Each call returns what is wrong with the frame, or
// an empty text when it is in order.
class PhaseReceiver {
 public:
  // Programmed blocks go into `memory` and, when given, also into `kept` (the device's memory
  // that outlives this phase).
  PhaseReceiver(const PhaseRule& rule, std::map<int, Segment>* memory,
                std::map<int, Segment>* kept = nullptr);

  std::string BlockId(const std::uint8_t* frame);
  std::string Record(const std::uint8_t* frame);

  struct BlockEnd {
    std::string violation;
    std::uint8_t result = 0;  // the block result to answer after the acknowledgement
    bool repeated = false;    // a bare end of block again: the last result, nothing programmed
  };
  // `injected` (0: none) is the result a fault imposes on a complete block.
  BlockEnd EndOfBlock(std::uint8_t injected);

  // Whether the phase may end here: every block programmed, or, for a phase that ends at the
  // image's top, the last block closed was programmed.
  bool MayEnd() const;
  // The data bytes of every record frame taken since the phase began, resends each time.
  std::uint32_t DataSum() const { return sum_; }
  int BlocksProgrammed() const { return programmed_; }
  bool BlockOpen() const { return open_; }

 private:
  struct Place {
    int segmentIndex;
    int block;
    bool operator==(const Place&) const = default;
  };
  // The blocks that may come next, in the phase's segment order.
  std::vector<Place> Acceptable() const;
  bool IsAcceptable(const Place& place) const;
  int SegmentIndexOf(int segment) const;
  // The address a record frame has as record `k` of block `block`.
  int RecordAddress(int block, int k) const;
  int RecordsPerBlock() const { return size_.pages * size_.recordsPerPage; }
  std::string Describe(const Place& place) const;

  PhaseRule rule_;
  LayoutSize size_;
  std::map<int, Segment>* memory_;
  std::map<int, Segment>* kept_;

  // Where the phase stands: the block after the last one programmed, and a failed block that
  // must come again (with its result).
  std::optional<Place> next_;
  std::optional<Place> failed_;
  std::uint8_t failedResult_ = 0;
  bool started_ = false;

  // The open block: announced by its block-ID; its place is known from the page range or, for
  // segment-announced blocks, from its first record.
  bool open_ = false;
  int openSegmentIndex_ = -1;
  std::optional<Place> openPlace_;
  int records_ = 0;
  std::vector<std::uint8_t> pending_;
  std::array<std::uint8_t, 21> lastRecord_{};
  std::array<std::uint8_t, 7> lastBlockId_{};
  bool lastWasBlockId_ = false;

  // The last block closed, for a repeated end of block.
  bool lastWasEnd_ = false;
  std::uint8_t lastResult_ = 0;

  int programmed_ = 0;
  std::uint32_t sum_ = 0;
};

}  // namespace sim
