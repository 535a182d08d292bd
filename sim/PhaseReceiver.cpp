#include "PhaseReceiver.h"

#include <algorithm>
#include <cstdio>

namespace sim {

namespace {

constexpr std::uint8_t kProgrammed = 0xF4;
constexpr std::uint8_t kProgrammingError = 0xF7;
constexpr std::uint8_t kCheckError = 0xF8;
constexpr std::uint8_t kUpdateAgain = 0xFD;
constexpr int kRecordBytes = 16;

std::string Hex4(int value) {
  char text[8];
  std::snprintf(text, sizeof text, "%04X", value & 0xFFFF);
  return text;
}

}  // namespace

PhaseReceiver::PhaseReceiver(const PhaseRule& rule, std::map<int, Segment>* memory,
                             std::map<int, Segment>* kept)
    : rule_(rule), size_(SizeOf(rule.layout)), memory_(memory), kept_(kept) {}

int PhaseReceiver::SegmentIndexOf(int segment) const {
  const auto it = std::find(rule_.segments.begin(), rule_.segments.end(), segment);
  return it == rule_.segments.end() ? -1 : static_cast<int>(it - rule_.segments.begin());
}

std::vector<PhaseReceiver::Place> PhaseReceiver::Acceptable() const {
  if (failed_) {
    if (failedResult_ == kUpdateAgain && rule_.fdSkipsSegment) {
      if (failed_->segmentIndex + 1 < static_cast<int>(rule_.segments.size())) {
        return {{failed_->segmentIndex + 1, 0}};
      }
      return {};
    }
    std::vector<Place> places{*failed_};
    if (failedResult_ == kProgrammingError && rule_.f7RestartsSegment && failed_->block != 0) {
      places.push_back({failed_->segmentIndex, 0});
    }
    return places;
  }
  if (!next_) {  // nothing programmed yet
    std::vector<Place> places{{0, 0}};
    if (rule_.firstSegmentOptional && rule_.segments.size() > 1) places.push_back({1, 0});
    return places;
  }
  if (next_->block < rule_.blocksPerSegment) return {*next_};
  if (next_->segmentIndex + 1 < static_cast<int>(rule_.segments.size())) {
    return {{next_->segmentIndex + 1, 0}};
  }
  return {};
}

bool PhaseReceiver::IsAcceptable(const Place& place) const {
  const auto places = Acceptable();
  return std::find(places.begin(), places.end(), place) != places.end();
}

std::string PhaseReceiver::Describe(const Place& place) const {
  return "block " + std::to_string(place.block) + " of segment " +
         std::to_string(rule_.segments[static_cast<std::size_t>(place.segmentIndex)]);
}

int PhaseReceiver::RecordAddress(int block, int k) const {
  const int page = k / size_.recordsPerPage;
  const int record = k % size_.recordsPerPage;
  if (size_.pageRelative) return page << 8 | record * kRecordBytes;
  return block * size_.blockBytes + page * 256 + record * kRecordBytes;
}

std::string PhaseReceiver::BlockId(const std::uint8_t* frame) {
  const bool resent = lastWasBlockId_ && std::equal(frame, frame + 7, lastBlockId_.begin());
  std::copy(frame, frame + 7, lastBlockId_.begin());
  lastWasBlockId_ = true;
  lastWasEnd_ = false;
  if (resent) return {};
  if (open_ && records_ > 0) {
    open_ = false;
    return "block-ID frame in the middle of " +
           (openPlace_ ? Describe(*openPlace_) : std::string("a block"));
  }
  int segmentIndex = 0;
  std::optional<Place> place;
  if (rule_.announce == Announce::kSegment) {
    if (frame[1] != 0 || frame[2] != 0 || frame[4] != 0) {
      return "page-range block-ID frame where blocks are announced by segment";
    }
    segmentIndex = SegmentIndexOf(frame[5]);
    if (segmentIndex < 0) {
      return "block-ID frame for segment " + std::to_string(frame[5]) +
             ", which this transfer does not take";
    }
    const auto places = Acceptable();
    if (std::none_of(places.begin(), places.end(),
                     [&](const Place& p) { return p.segmentIndex == segmentIndex; })) {
      return "block-ID frame for segment " + std::to_string(frame[5]) + " out of order" +
             (places.empty() ? std::string(" (the transfer is complete)")
                             : " (" + Describe(places.front()) + " was due)");
    }
  } else {
    const int span = size_.pages;
    if (frame[2] != 0 || frame[5] != 0xFF || frame[1] % span != 0 ||
        frame[4] != frame[1] + span - 1) {
      return "block-ID frame does not name a page range of " + std::to_string(span) + " pages";
    }
    place = Place{0, frame[1] / span};
    if (place->block >= rule_.blocksPerSegment || !IsAcceptable(*place)) {
      const auto places = Acceptable();
      return "block-ID frame for " + Describe(*place) + " out of order" +
             (places.empty() ? std::string(" (the transfer is complete)")
                             : " (" + Describe(places.front()) + " was due)");
    }
  }
  open_ = true;
  started_ = true;
  openSegmentIndex_ = segmentIndex;
  openPlace_ = place;
  records_ = 0;
  pending_.assign(static_cast<std::size_t>(size_.blockBytes), 0xFF);
  return {};
}

std::string PhaseReceiver::Record(const std::uint8_t* frame) {
  lastWasBlockId_ = false;
  lastWasEnd_ = false;
  const int address = frame[1] << 8 | frame[2];
  if (!open_) return "record frame at " + Hex4(address) + " outside a block";
  if (records_ > 0) {
    const bool sameAddress = frame[1] == lastRecord_[1] && frame[2] == lastRecord_[2];
    if (sameAddress) {
      if (!std::equal(frame, frame + 21, lastRecord_.begin())) {
        return "record frame at " + Hex4(address) + " sent again with other data";
      }
      for (int i = 4; i < 20; ++i) sum_ += frame[i];
      return {};  // its acknowledgement was lost: taken again
    }
  }
  if (records_ >= RecordsPerBlock()) {
    return "record frame at " + Hex4(address) + " beyond the " + std::to_string(RecordsPerBlock()) +
           " records of " + Describe(*openPlace_);
  }
  if (size_.pageRelative && (address >> 8) >= size_.pages) {
    return "record frame at " + Hex4(address) + " outside the announced page range";
  }
  if (!openPlace_) {
    const Place place{openSegmentIndex_, address / size_.blockBytes};
    if (!IsAcceptable(place)) {
      const auto places = Acceptable();
      return "record frame at " + Hex4(address) + " starts " + Describe(place) + " out of order" +
             (places.empty() ? std::string() : " (" + Describe(places.front()) + " was due)");
    }
    openPlace_ = place;
  }
  const int due = RecordAddress(openPlace_->block, records_);
  if (address != due) {
    return "record frame at " + Hex4(address) + " where " + Hex4(due) + " was due in " +
           Describe(*openPlace_);
  }
  const int page = records_ / size_.recordsPerPage;
  const int record = records_ % size_.recordsPerPage;
  std::copy(frame + 4, frame + 20, pending_.begin() + page * 256 + record * kRecordBytes);
  for (int i = 4; i < 20; ++i) sum_ += frame[i];
  std::copy(frame, frame + 21, lastRecord_.begin());
  ++records_;
  return {};
}

PhaseReceiver::BlockEnd PhaseReceiver::EndOfBlock(std::uint8_t injected) {
  lastWasBlockId_ = false;
  if (!open_) {
    if (lastWasEnd_) return {{}, lastResult_, true};
    return {"end of block without a block", 0, false};
  }
  open_ = false;
  lastWasEnd_ = true;
  BlockEnd end;
  const Place place = openPlace_.value_or(Place{openSegmentIndex_, 0});
  if (records_ < RecordsPerBlock()) {
    end.violation = "end of block after " + std::to_string(records_) + " of " +
                    std::to_string(RecordsPerBlock()) + " record frames";
    end.result = kCheckError;
  } else {
    end.result = injected != 0 ? injected : kProgrammed;
  }
  lastResult_ = end.result;
  if (end.result != kProgrammed) {
    if (records_ > 0 || openPlace_) {
      failed_ = place;
      failedResult_ = end.result;
    }
    return end;
  }
  const int segment = rule_.segments[static_cast<std::size_t>(place.segmentIndex)];
  for (std::map<int, Segment>* memory : {memory_, kept_}) {
    if (memory == nullptr) continue;
    auto [it, added] = memory->try_emplace(segment);
    if (added) it->second.fill(0xFF);
    std::copy(pending_.begin(), pending_.end(),
              it->second.begin() + static_cast<std::ptrdiff_t>(place.block) * size_.blockBytes);
  }
  ++programmed_;
  failed_.reset();
  next_ = Place{place.segmentIndex, place.block + 1};
  return end;
}

bool PhaseReceiver::MayEnd() const {
  if (open_ || failed_ || !started_ || !next_) return false;
  if (rule_.endsAtImageTop) return lastResult_ == kProgrammed;
  return Acceptable().empty();
}

}  // namespace sim
