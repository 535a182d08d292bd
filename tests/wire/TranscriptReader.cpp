#include "wire/TranscriptReader.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <map>
#include <sstream>
#include <utility>

namespace zandor::wire {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kTypeRecord = 0x00;
constexpr std::uint8_t kTypeEndOfBlock = 0x01;
constexpr std::uint8_t kTypeBlockId = 0x04;
constexpr std::uint8_t kTypeRun = 0x05;
constexpr std::uint8_t kTypeChecksum = 0x06;
constexpr std::size_t kRecordData = 16;
constexpr int kPageBytes = 256;
constexpr std::uint8_t kUnitSelectLead = 0xE7;
constexpr std::size_t kUnitSelectSize = 12;
constexpr std::uint8_t kHubStartByte = 0xBB;
constexpr std::size_t kHubStartSize = 10;
constexpr std::uint8_t kAgain = 0xFA;  // the unformatted send: the same line again

std::string Hex(unsigned value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%0*X", digits, value);
  return text;
}

std::uint8_t ByteSum(Bytes::const_iterator from, Bytes::const_iterator to) {
  unsigned sum = 0;
  for (auto it = from; it != to; ++it) sum += *it;
  return static_cast<std::uint8_t>(sum);
}

// Two's complement of the 8-bit sum: the byte that makes the whole sum zero.
std::uint8_t Complement(Bytes::const_iterator from, Bytes::const_iterator to) {
  return static_cast<std::uint8_t>(0x100 - ByteSum(from, to));
}

enum class IdStyle {
  kPageRange,  // first page, 0x00, last page, 0xFF; records addressed by page within the block
  kSegment     // 0x0000, 0x00, segment; records addressed within the segment
};
enum class Sum { kNone, k8, k16 };

// How one phase of a procedure cuts its image into blocks.
struct Phase {
  IdStyle style = IdStyle::kSegment;
  int blockBytes = 0;
  Sum sum = Sum::kNone;         // the checksum frame that ends the phase, if any
  bool blanksAsZeros = false;   // a record of 16 x 0xFF goes as 16 zero bytes
  std::vector<int> segments{};  // kSegment: the segments the phase may announce
};

struct Rules {
  std::vector<Phase> phases;      // in order; a run frame ends each
  bool lastPhaseRepeats = false;  // regions or units: the last phase goes again after its run
  bool closingFrame = false;      // a checksum frame of zero after the last run frame
};

std::vector<int> Segments(int first, int last) {
  std::vector<int> all;
  for (int s = first; s <= last; ++s) all.push_back(s);
  return all;
}

Rules RulesOf(Procedure procedure) {
  const Phase pages16k{IdStyle::kPageRange, 16384};
  const Phase pages1k{IdStyle::kPageRange, 1024};
  const Phase top128k{IdStyle::kSegment, 16384, Sum::kNone, true, Segments(254, 255)};
  const Phase top128kAsIs{IdStyle::kSegment, 16384, Sum::kNone, false, Segments(254, 255)};
  const Phase small{IdStyle::kSegment, 128, Sum::k16, false, {0xFF}};
  const Phase units{IdStyle::kSegment, 16384, Sum::kNone, false, Segments(0, 7)};
  switch (procedure) {
    case Procedure::kIdentifyOnly:
    case Procedure::kUnformatted:
      return {};
    case Procedure::kT1:
      return {{pages16k}};
    case Procedure::kT2:
    case Procedure::kT3:
      return {{top128k}};
    case Procedure::kT4:
      return {{Phase{IdStyle::kSegment, 1024, Sum::k8, false, Segments(0, 5)}, top128k}};
    case Procedure::kT6:
      return {{pages1k}, true, true};
    case Procedure::kT7:
    case Procedure::kT9:
      return {{small}};
    case Procedure::kT8:
      return {{small, top128k}};
    case Procedure::kT10:
      return {{pages16k, top128kAsIs}};
    case Procedure::kT11:
      return {{Phase{IdStyle::kSegment, 16384, Sum::kNone, false, Segments(0, 3)}, top128kAsIs}};
    case Procedure::kT12:
      return {{units}, true};
    case Procedure::kT13:
      return {{units, units}};
  }
  return {};
}

// The block between a block-ID frame and its end-of-block frame.
struct OpenBlock {
  int segment = -1;           // kSegment: the segment announced; kPageRange: -1
  int pages = 0;              // kPageRange: the pages announced
  int first = -1;             // the offset in the segment of the block's first byte; -1 until known
  int last = -1;              // the offset of the last record sent; -1 before the first
  std::size_t lastWrite = 0;  // the event of the last record sent
};

// The identification before the transfer: the information blocks the device sends, the host's
// answer to each, and the serial number that the unit-select frames carry.
class Identification {
 public:
  // A write made before the first transfer frame, with every byte read after it until the next
  // write. Returns the rule the write breaks, if any.
  std::optional<std::string> Write(const Bytes& written, Bytes readBack) {
    std::optional<std::string> fault;
    if (blockGood_) {  // this write answers the block read before it
      if (!*blockGood_ && written.size() == 1 && (written[0] == 0xFA || written[0] == 0xFB)) {
        fault = "a broken information block answered " + Hex(written[0], 2) + " (taken)";
      }
      if (*blockGood_) serial_ = blockSerial_;
      blockGood_.reset();
    }
    if (written.size() != 1) return fault;
    if (written[0] == kAttention1D || written[0] == kAttention1B) {
      protocol_ = written[0];
      // The device may echo 0x1B before its type reply.
      const auto reply = std::find_if(readBack.begin(), readBack.end(),
                                      [](std::uint8_t x) { return x != kAttention1B; });
      if (reply == readBack.end() || !IsTypeReply(*reply)) return fault;
      reply_ = *reply;
      readBack.erase(readBack.begin(), reply + 1);
    } else if (written[0] != kAskAgain || reply_ == 0) {
      return fault;
    }
    ReadBlock(readBack);
    return fault;
  }

  // What a unit-select frame breaks: its bytes 4 to 8 are the serial number's first five.
  std::optional<std::string> UnitSelect(const Bytes& frame) const {
    if (!serial_) return "unit-select frame before any good information block";
    if (!std::equal(serial_->begin(), serial_->end(), frame.begin() + 4)) {
      return "unit-select frame: bytes 4 to 8 are not the first five of the serial number the "
             "device sent";
    }
    return std::nullopt;
  }

 private:
  static constexpr std::uint8_t kAttention1D = 0x1D;  // several units, counted and headed
  static constexpr std::uint8_t kAttention1B = 0x1B;  // one unit, no count or header
  static constexpr std::uint8_t kAskAgain = 0xFE;
  static constexpr std::size_t kSerialBytes = 16;
  static constexpr std::size_t kVersionBytes = 9;  // auxiliary count, type, hardware, firmware

  static bool IsTypeReply(std::uint8_t x) {
    return x == 0xC2 || x == 0xC3 || x == 0xC4 || x == 0xC5 || (x >= 0xC7 && x <= 0xCA);
  }

  // The block after the type reply: its 8-bit sum, which starts with the reply, must equal its
  // last byte. A block cut short counts as broken.
  void ReadBlock(const Bytes& block) {
    blockGood_ = false;
    std::size_t at = 0;
    unsigned sum = reply_;
    const auto take = [&](std::size_t count) {
      if (at + count > block.size()) return false;
      for (std::size_t i = 0; i < count; ++i) sum += block[at + i];
      at += count;
      return true;
    };
    std::size_t units = 1;
    if (protocol_ == kAttention1D) {
      if (!take(1)) return;
      units = block[0];
    }
    for (std::size_t u = 0; u < units; ++u) {
      if (protocol_ == kAttention1D && !take(2)) return;
      if (!take(kSerialBytes)) return;
      // A later unit's serial number stands for the device's.
      std::copy(block.begin() + at - kSerialBytes, block.begin() + at - kSerialBytes + 5,
                blockSerial_.begin());
      if (!take(kVersionBytes)) return;
      if (!take(3 * std::size_t{block[at - kVersionBytes]})) return;
    }
    if (at + 1 != block.size()) return;
    blockGood_ = static_cast<std::uint8_t>(sum) == block[at];
  }

  std::uint8_t protocol_ = kAttention1D;
  std::uint8_t reply_ = 0;         // the type reply to the last attention byte
  std::optional<bool> blockGood_;  // a block read and not yet answered
  std::array<std::uint8_t, 5> blockSerial_{};
  std::optional<std::array<std::uint8_t, 5>> serial_;
};

class Reader {
 public:
  Reader(const Transcript& transcript, Procedure procedure)
      : events_(transcript.events), procedure_(procedure), rules_(RulesOf(procedure)) {}

  std::vector<ReaderFault> Read() {
    for (at_ = 0; at_ < events_.size(); ++at_) {
      if (events_[at_].kind == Kind::kWrite) Write(events_[at_].bytes);
    }
    return std::move(faults_);
  }

 private:
  void Fault(std::string rule) { faults_.push_back({at_, std::move(rule)}); }

  // The last read between a write and the next: what answered it.
  const Event* AnswerTo(std::size_t write) const {
    const Event* answer = nullptr;
    for (std::size_t i = write + 1; i < events_.size() && events_[i].kind != Kind::kWrite; ++i) {
      if (events_[i].kind == Kind::kRead) answer = &events_[i];
    }
    return answer;
  }

  // A frame counts as acknowledged when the read that ended its wait got one byte, 0xFA or 0xF4.
  bool Acknowledged(std::size_t write) const {
    const Event* answer = AnswerTo(write);
    return answer && answer->bytes.size() == 1 &&
           (answer->bytes[0] == 0xFA || answer->bytes[0] == 0xF4);
  }

  // Every byte read after the write being read, until the next write.
  Bytes ReadBack() const {
    Bytes bytes;
    for (std::size_t i = at_ + 1; i < events_.size() && events_[i].kind != Kind::kWrite; ++i) {
      if (events_[i].kind == Kind::kRead) {
        bytes.insert(bytes.end(), events_[i].bytes.begin(), events_[i].bytes.end());
      }
    }
    return bytes;
  }

  void Write(const Bytes& b) {
    if (!transferStarted_) {
      if (auto fault = identification_.Write(b, ReadBack())) Fault(std::move(*fault));
    }
    // Other single bytes are the wake and escape bytes of the handshakes: they carry no frame.
    if (b.size() <= 1) return;
    if (procedure_ == Procedure::kUnformatted) return TextLine(b);
    if (SentAgain(b)) return;
    if (b.size() == kUnitSelectSize && b[0] == kUnitSelectLead) return UnitSelect(b);
    if (b.size() == kHubStartSize &&
        std::all_of(b.begin(), b.end(), [](std::uint8_t x) { return x == kHubStartByte; })) {
      return;
    }
    Frame(b);
  }

  // A frame of the send-and-wait went again unchanged: its answer must not have acknowledged it.
  bool SentAgain(const Bytes& b) {
    const bool awaitsAck = b.size() >= 5 && b.size() == b[0] + 5u &&
                           (b[3] == kTypeBlockId || b[3] == kTypeRecord || b[3] == kTypeEndOfBlock);
    if (!awaitsAck) return false;
    std::size_t before = at_;
    while (before > 0 && events_[before - 1].kind != Kind::kWrite) --before;
    if (before == 0 || events_[before - 1].bytes != b) return false;
    if (Acknowledged(before - 1)) Fault("a frame sent again after it was acknowledged");
    // A record written again counts again in the checksum frame, as every copy does.
    if (b[3] == kTypeRecord) {
      for (std::size_t i = 4; i < 4 + kRecordData; ++i) copiesSum_ += b[i];
    }
    return true;
  }

  void UnitSelect(const Bytes& b) {
    if (b[1] != 0x0C || b[2] != 0x35 || b[3] != 0x0D) {
      Fault("unit-select frame: bytes 1 to 3 are not 0C 35 0D");
    }
    const std::uint8_t expected = Complement(b.begin() + 2, b.end() - 1);
    if (b[11] != expected) {
      Fault("unit-select checksum " + Hex(b[11], 2) + ", the complement of bytes 2 to 10 is " +
            Hex(expected, 2));
    }
    if (b[9] > 3) Fault("unit-select frame: unit kind code " + Hex(b[9], 2) + " is not 0 to 3");
    if (b[10] != 0x00 && (b[10] < 0x30 || b[10] > 0x32)) {
      Fault("unit-select frame: byte 10 " + Hex(b[10], 2) + " is none of 00, 30, 31, 32");
    }
    if (auto fault = identification_.UnitSelect(b)) Fault(std::move(*fault));
    if (block_) Fault("unit-select frame inside an open block");
  }

  void Frame(const Bytes& b) {
    if (b.size() < 5 || b.size() != b[0] + 5u) {
      return Fault("a write of " + std::to_string(b.size()) + " bytes that is no frame (length " +
                   "byte " + Hex(b[0], 2) + ")");
    }
    const std::uint8_t expected = Complement(b.begin(), b.end() - 1);
    if (b.back() != expected) {
      Fault("frame checksum " + Hex(b.back(), 2) + ", the complement of its bytes is " +
            Hex(expected, 2));
    }
    transferStarted_ = true;
    if (rules_.phases.empty())
      return Fault("a transfer frame in an exchange that sends no firmware");
    const int address = b[1] << 8 | b[2];
    switch (b[3]) {
      case kTypeBlockId:
        if (b[0] != 2) return Fault("block-ID frame with " + std::to_string(b[0]) + " data bytes");
        return BlockId(b);
      case kTypeRecord:
        if (b[0] != kRecordData) {
          return Fault("record frame with " + std::to_string(b[0]) + " data bytes, not 16");
        }
        return Record(b, address);
      case kTypeEndOfBlock:
        if (b[0] != 0 || address != 0) return Fault("end-of-block frame other than 00 00 00 01 FF");
        return EndOfBlock();
      case kTypeRun:
        if (b[0] != 0 || address != 0) return Fault("run frame other than 00 00 00 05 FB");
        return Run();
      case kTypeChecksum:
        if (b[0] != 0) return Fault("checksum frame with data bytes");
        return ChecksumFrame(address);
      default:
        return Fault("frame of unknown record type " + Hex(b[3], 2));
    }
  }

  const Phase* CurrentPhase() {
    if (runs_ < rules_.phases.size()) return &rules_.phases[runs_];
    if (rules_.lastPhaseRepeats) return &rules_.phases.back();
    Fault("a block frame after the last phase's run frame");
    return nullptr;
  }

  void BlockId(const Bytes& b) {
    if (block_) Fault("block-ID frame while the block before is still open (no end-of-block)");
    if (checksumSent_) Fault("block-ID frame after the phase's checksum frame");
    block_.reset();
    const Phase* phase = CurrentPhase();
    if (!phase) return;
    OpenBlock block;
    if (phase->style == IdStyle::kPageRange) {
      const int pages = phase->blockBytes / kPageBytes;
      const int firstPage = b[1];
      const int lastPage = b[4];
      if (b[2] != 0x00 || b[5] != 0xFF || lastPage - firstPage + 1 != pages ||
          firstPage % pages != 0) {
        return Fault("block-ID frame is not a page range of " + std::to_string(pages) +
                     " pages (first page, 00, last page, FF)");
      }
      block.pages = pages;
      block.first = firstPage / pages * phase->blockBytes;
    } else {
      if (b[1] != 0 || b[2] != 0 || b[4] != 0) {
        return Fault("block-ID frame does not announce a segment (00 00 04 00 segment)");
      }
      if (std::find(phase->segments.begin(), phase->segments.end(), b[5]) ==
          phase->segments.end()) {
        return Fault("block-ID frame announces segment " + Hex(b[5], 2) +
                     ", which this phase does not send");
      }
      block.segment = b[5];
    }
    block_ = block;
  }

  void Record(const Bytes& b, int address) {
    if (!block_) return Fault("record frame outside an announced block");
    const Phase* phase = CurrentPhase();
    if (!phase) return;
    OpenBlock& block = *block_;
    if (address % kRecordData != 0) {
      return Fault("record address " + Hex(address, 4) + " is not a multiple of 16");
    }
    int offset = address;
    if (phase->style == IdStyle::kPageRange) {
      if (b[1] >= block.pages) {
        return Fault("record address " + Hex(address, 4) + " lies outside the " +
                     std::to_string(block.pages) + " pages the block announced");
      }
      offset = block.first + address;
    } else if (block.first < 0) {
      if (address % phase->blockBytes != 0) {
        return Fault("the block's first record " + Hex(address, 4) + " is not at the start of a " +
                     std::to_string(phase->blockBytes) + "-byte block");
      }
      block.first = address;
    } else if (address < block.first || address >= block.first + phase->blockBytes) {
      return Fault("record address " + Hex(address, 4) + " lies outside its block " +
                   Hex(block.first, 4) + " to " + Hex(block.first + phase->blockBytes - 1, 4));
    }
    std::array<std::uint8_t, kRecordData> data;
    std::copy(b.begin() + 4, b.begin() + 4 + kRecordData, data.begin());
    if (phase->blanksAsZeros &&
        std::all_of(data.begin(), data.end(), [](std::uint8_t x) { return x == 0xFF; })) {
      Fault("blank record " + Hex(address, 4) + " sent as 0xFF where blanks go as zero bytes");
    }
    if (block.last >= 0 && offset == block.last) {
      // The same record again, changed (unchanged ones are frames sent again): only when its
      // answer was no acknowledgement.
      if (Acknowledged(block.lastWrite)) {
        Fault("record " + Hex(address, 4) + " sent again after it was acknowledged");
      }
    } else {
      const int expected =
          block.last < 0 ? block.first : block.last + static_cast<int>(kRecordData);
      if (offset != expected) {
        return Fault(
            "record address " + Hex(address, 4) + " out of order: the block's next record is at " +
            Hex(phase->style == IdStyle::kPageRange ? expected - block.first : expected, 4));
      }
    }
    Count(block.segment, offset, data, address);
    block.last = offset;
    block.lastWrite = at_;
  }

  // Every copy written counts towards the checksum frame: a record sent again (its
  // acknowledgement lost) or a block sent again (after a failed result) is summed again, as the
  // host sums every record frame that went out and the device every record it takes. A later
  // copy with other bytes is a fault of its own.
  void Count(int segment, int offset, const std::array<std::uint8_t, kRecordData>& data,
             int address) {
    for (const std::uint8_t x : data) copiesSum_ += x;
    const auto [it, inserted] = sent_.try_emplace(std::pair{segment, offset}, data);
    if (!inserted && it->second != data) {
      Fault("record " + Hex(address, 4) + " sent again with other bytes");
      it->second = data;
    }
  }

  void EndOfBlock() {
    if (!block_) return Fault("end-of-block frame with no block open");
    const Phase* phase = CurrentPhase();
    if (!phase) return;
    const int records = phase->blockBytes / static_cast<int>(kRecordData);
    const int sent =
        block_->last < 0 ? 0 : (block_->last - block_->first) / static_cast<int>(kRecordData) + 1;
    if (sent != records) {
      Fault("end-of-block frame after " + std::to_string(sent) + " of the block's " +
            std::to_string(records) + " records");
    }
    block_.reset();
  }

  void Run() {
    if (block_) Fault("run frame inside an open block");
    block_.reset();
    const Phase* phase = CurrentPhase();
    if (phase && phase->sum != Sum::kNone && !checksumSent_) {
      Fault("run frame ending a phase whose checksum frame was not sent");
    }
    ++runs_;
    if (runs_ > rules_.phases.size() && !rules_.lastPhaseRepeats) {
      Fault("run frame after the last phase's run frame");
    }
    sent_.clear();
    copiesSum_ = 0;
    checksumSent_ = false;
  }

  void ChecksumFrame(int sum) {
    if (block_) Fault("checksum frame inside an open block");
    if (rules_.closingFrame && runs_ > 0 && sent_.empty()) {
      if (sum != 0) Fault("closing frame carries " + Hex(sum, 4) + ", not 0");
      return;
    }
    const Phase* phase = CurrentPhase();
    if (!phase) return;
    if (phase->sum == Sum::kNone) return Fault("checksum frame in a phase that sends none");
    if (checksumSent_) Fault("a second checksum frame in one phase");
    checksumSent_ = true;
    const unsigned expected = phase->sum == Sum::k8 ? copiesSum_ & 0xFF : copiesSum_ & 0xFFFF;
    if (static_cast<unsigned>(sum) != expected) {
      Fault("checksum frame carries " + Hex(sum, 4) + ", the records sent sum to " +
            Hex(expected, 4));
    }
  }

  void TextLine(const Bytes& b) {
    std::string line(b.begin(), b.end());
    if (line.back() != '\n') Fault("text line without its line end");
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    Bytes record;
    const bool hex = line.size() >= 11 && line[0] == ':' && line.size() % 2 == 1 &&
                     std::all_of(line.begin() + 1, line.end(), [](char c) {
                       return std::isxdigit(static_cast<unsigned char>(c));
                     });
    if (!hex) return Fault("a write of the unformatted send that is no hex text line");
    for (std::size_t i = 1; i < line.size(); i += 2) {
      record.push_back(static_cast<std::uint8_t>(std::stoi(line.substr(i, 2), nullptr, 16)));
    }
    if (record.size() != record[0] + 5u) {
      Fault("text line of " + std::to_string(record.size()) + " bytes with length byte " +
            Hex(record[0], 2));
    } else if (ByteSum(record.begin(), record.end()) != 0) {
      Fault("text line checksum " + Hex(record.back(), 2) + ", the complement of its bytes is " +
            Hex(Complement(record.begin(), record.end() - 1), 2));
    }
    // 0xFA asks for the same line again; any other answer takes it. A file repeats no line.
    if (!previousLine_.empty()) {
      const bool same = line == previousLine_;
      if (previousAgain_ && !same) Fault("0xFA asked for the line again, another went");
      if (!previousAgain_ && same) Fault("a line sent again that the device did not ask for");
    }
    const Event* answer = AnswerTo(at_);
    previousAgain_ = answer && !answer->bytes.empty() && answer->bytes.back() == kAgain;
    previousLine_ = line;
  }

  const std::vector<Event>& events_;
  Procedure procedure_;
  Rules rules_;
  std::size_t at_ = 0;
  std::vector<ReaderFault> faults_;
  Identification identification_;
  bool transferStarted_ = false;  // a transfer frame went: the identification is over
  std::size_t runs_ = 0;
  bool checksumSent_ = false;  // the phase's checksum frame went
  std::optional<OpenBlock> block_;
  // The records of the phase so far, by segment (-1 for page-range blocks) and offset.
  std::map<std::pair<int, int>, std::array<std::uint8_t, kRecordData>> sent_;
  unsigned copiesSum_ = 0;  // the data bytes of every record frame of the phase so far
  std::string previousLine_;
  bool previousAgain_ = false;
};

}  // namespace

std::optional<Procedure> ProcedureNamed(const std::string& name) {
  static const std::map<std::string, Procedure> kNames = {
      {"T1", Procedure::kT1},   {"T2", Procedure::kT2},   {"T3", Procedure::kT3},
      {"T4", Procedure::kT4},   {"T6", Procedure::kT6},   {"T7", Procedure::kT7},
      {"T8", Procedure::kT8},   {"T9", Procedure::kT9},   {"T10", Procedure::kT10},
      {"T11", Procedure::kT11}, {"T12", Procedure::kT12}, {"T13", Procedure::kT13}};
  const auto it = kNames.find(name);
  if (it == kNames.end()) return std::nullopt;
  return it->second;
}

std::vector<ReaderFault> ReadTranscript(const Transcript& transcript, Procedure procedure) {
  return Reader(transcript, procedure).Read();
}

std::vector<int> EventLines(const std::string& text) {
  std::vector<int> lines;
  std::istringstream in(text);
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    if (!line.empty() && line[0] != '#') lines.push_back(number);
  }
  return lines;
}

}  // namespace zandor::wire
