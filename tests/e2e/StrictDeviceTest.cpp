// The simulated device as a strict model: frames written by hand, not by the engine, show what
// it takes, what it refuses and what it programs.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>

#include "SimDevice.h"
#include "SimOptions.h"
#include "engine/Protocol.h"
#include "support/SocketPairDevice.h"

namespace vel::testing {
namespace {

namespace p = vel::protocol;
using Bytes = std::vector<std::uint8_t>;

// A device of one family served on one end of a socket pair; the test is the host.
class StrictDevice : public ::testing::Test {
 protected:
  void Serve(const std::string& family, const std::function<void(sim::SimConfig&)>& tune = {}) {
    ASSERT_TRUE(sim::ApplyFamily(family, &config_));
    if (tune) tune(config_);
    device_ = std::make_unique<sim::SimDevice>(config_);
    serving_ = std::make_unique<SocketPairDevice>(*device_);
    host_ = serving_->EngineEnd();
  }

  void Write(const Bytes& bytes) {
    ASSERT_EQ(::send(host_, bytes.data(), bytes.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(bytes.size()));
  }
  // The next `n` bytes the device sends (fewer when it falls silent for `waitMs`).
  Bytes Read(std::size_t n, int waitMs = 2000) {
    Bytes got;
    pollfd poller{host_, POLLIN, 0};
    while (got.size() < n && poll(&poller, 1, waitMs) > 0) {
      std::uint8_t buffer[512];
      const ssize_t k = ::recv(host_, buffer, std::min(sizeof buffer, n - got.size()), 0);
      if (k <= 0) break;
      got.insert(got.end(), buffer, buffer + k);
    }
    return got;
  }
  // Whatever the device sends before it is quiet for a moment.
  Bytes Quiet() { return Read(4096, 150); }
  Bytes Exchange(const Bytes& frame, std::size_t answers = 1) {
    Write(frame);
    return Read(answers);
  }

  // The identification of an update: attention, the information block, 0xFA, and for a
  // multi-unit reply the unit-select frame of the first unit.
  void Identify(std::uint8_t attention = p::kMultiUnitProtocol) {
    Write({attention});
    const Bytes block = Quiet();
    ASSERT_FALSE(block.empty());
    Write({p::kAck});
    if (block.front() == p::kReplyMultiUnit) {
      const auto select = p::UnitSelectFrame(Serial().data(), 0x00, 0x00);
      EXPECT_EQ(Exchange(Bytes(select.begin(), select.end())), Bytes{p::kAck});
    }
  }
  Bytes Serial() const {
    std::string serial = *config_.serialNumber;
    serial.resize(16, ' ');
    return Bytes(serial.begin(), serial.end());
  }

  static Bytes SegmentId(int segment) {
    const auto f = p::SegmentBlockId(segment);
    return Bytes(f.begin(), f.end());
  }
  static Bytes PageRangeId(int block) {
    const auto f = p::PageRangeBlockId(block * 64, block * 64 + 63);
    return Bytes(f.begin(), f.end());
  }
  static Bytes Record(int address, std::uint8_t fill) {
    Bytes f(21, fill);
    f[0] = 0x10;
    f[1] = static_cast<std::uint8_t>(address >> 8);
    f[2] = static_cast<std::uint8_t>(address & 0xFF);
    f[3] = 0x00;
    f[20] = p::FrameChecksum(f.data(), 20);
    return f;
  }
  static Bytes EndOfBlock() {
    return Bytes(p::kEndOfBlockFrame.begin(), p::kEndOfBlockFrame.end());
  }
  static Bytes Run() { return Bytes(p::kRunFrame.begin(), p::kRunFrame.end()); }

  // One page-range block of the first procedure: block-ID, 1024 records, end of block.
  Bytes SendPageRangeBlock(int block, std::uint8_t fill, int records = 1024) {
    EXPECT_EQ(Exchange(PageRangeId(block)), Bytes{p::kAck});
    for (int k = 0; k < records; ++k) {
      EXPECT_EQ(Exchange(Record((k / 16) << 8 | (k % 16) * 16, fill)), Bytes{p::kAck});
    }
    return Exchange(EndOfBlock(), 2);
  }

  std::vector<std::string> Violations() const { return device_->Violations(); }

  sim::SimConfig config_;
  std::unique_ptr<sim::SimDevice> device_;
  std::unique_ptr<SocketPairDevice> serving_;  // after the device: ends before it
  int host_ = -1;
};

TEST_F(StrictDevice, AFailedBlockIsProgrammedOnlyWhenItComesAgain) {
  Serve("matrix", [](sim::SimConfig& c) { c.faults.blockResults = {{0, 0xF6}}; });
  Identify();
  EXPECT_EQ(SendPageRangeBlock(0, 0x11), (Bytes{p::kAck, 0xF6}));
  EXPECT_TRUE(device_->Programmed().at(0).segments.empty()) << "a failed block is not programmed";
  // Block 1 instead of block 0 again: refused, and named.
  EXPECT_EQ(Exchange(PageRangeId(1)), Bytes{p::kAskAgain});
  ASSERT_EQ(Violations().size(), 1u);
  EXPECT_NE(Violations()[0].find("block-ID frame for block 1 of segment 255 out of order (block 0 "
                                 "of segment 255 was due)"),
            std::string::npos)
      << Violations()[0];
  EXPECT_EQ(SendPageRangeBlock(0, 0x22), (Bytes{p::kAck, p::kBlockProgrammed}));
  const auto programmed = device_->Programmed();
  const auto& memory = programmed.at(0).segments.at(0xFF);
  EXPECT_EQ(memory[0], 0x22);
  EXPECT_EQ(memory[0x3FFF], 0x22);
  EXPECT_EQ(memory[0x4000], 0xFF);
}

TEST_F(StrictDevice, ABlockMustHoldEveryRecordInOrder) {
  Serve("matrix");
  Identify();
  // A block one record short fails its check and programs nothing.
  EXPECT_EQ(SendPageRangeBlock(0, 0x33, 1023), (Bytes{p::kAck, 0xF8}));
  EXPECT_NE(Violations().back().find("end of block after 1023 of 1024 record frames"),
            std::string::npos);
  EXPECT_TRUE(device_->Programmed().at(0).segments.empty());
  // A record that skips one is refused.
  EXPECT_EQ(Exchange(PageRangeId(0)), Bytes{p::kAck});
  EXPECT_EQ(Exchange(Record(0x0000, 0x44)), Bytes{p::kAck});
  EXPECT_EQ(Exchange(Record(0x0020, 0x44)), Bytes{p::kAskAgain});
  EXPECT_NE(Violations().back().find("record frame at 0020 where 0010 was due"), std::string::npos);
  // The same record again (its acknowledgement was lost) is taken; with other data it is not.
  EXPECT_EQ(Exchange(Record(0x0000, 0x44)), Bytes{p::kAck});
  EXPECT_EQ(Exchange(Record(0x0000, 0x45)), Bytes{p::kAskAgain});
  EXPECT_NE(Violations().back().find("sent again with other data"), std::string::npos);
}

TEST_F(StrictDevice, AnEndOfBlockSentAgainRepeatsTheResultAndProgramsNothing) {
  Serve("matrix", [](sim::SimConfig& c) { c.faults.blockResults = {{0, 0xF7}}; });
  Identify();
  EXPECT_EQ(SendPageRangeBlock(0, 0x55), (Bytes{p::kAck, 0xF7}));
  // The host missed the answer and sends the end of block again: the failure again, not 0xF4.
  EXPECT_EQ(Exchange(EndOfBlock(), 2), (Bytes{p::kAck, 0xF7}));
  EXPECT_TRUE(device_->Programmed().at(0).segments.empty());
  EXPECT_TRUE(Violations().empty());
}

TEST_F(StrictDevice, TheRunFrameBeforeTheLastBlockIsAViolation) {
  Serve("matrix");
  Identify();
  EXPECT_EQ(SendPageRangeBlock(0, 0x66), (Bytes{p::kAck, p::kBlockProgrammed}));
  Write(Run());
  Quiet();
  ASSERT_FALSE(Violations().empty());
  EXPECT_NE(Violations().back().find("run frame before the transfer was complete (1 blocks "
                                     "programmed)"),
            std::string::npos);
}

TEST_F(StrictDevice, TheChecksumFrameHasTheFamilysWidthAndSum) {
  // The 128-byte blocks of segment 0xFF: 64 blocks of 8 records, a 16-bit sum.
  Serve("dravik-ypk");
  EXPECT_EQ(Exchange({0x1F}), Bytes{0x1F});
  std::uint32_t sum = 0;
  for (int block = 0; block < 64; ++block) {
    EXPECT_EQ(Exchange(SegmentId(0xFF)), Bytes{p::kAck});
    for (int r = 0; r < 8; ++r) {
      EXPECT_EQ(Exchange(Record(block * 128 + r * 16, static_cast<std::uint8_t>(block))),
                Bytes{p::kAck});
      sum += 16u * static_cast<std::uint32_t>(block);
    }
    EXPECT_EQ(Exchange(EndOfBlock(), 2), (Bytes{p::kAck, p::kBlockProgrammed}));
  }
  // A wrong sum is refused (the line may have damaged a record); a right one is taken.
  auto wrong = p::ChecksumFrame(static_cast<std::uint16_t>(sum + 1));
  EXPECT_EQ(Exchange(Bytes(wrong.begin(), wrong.end())), Bytes{p::kAskAgain});
  auto right = p::ChecksumFrame(static_cast<std::uint16_t>(sum));
  EXPECT_EQ(Exchange(Bytes(right.begin(), right.end())), Bytes{p::kAck});
  EXPECT_TRUE(Violations().empty()) << Violations().front();
  EXPECT_EQ(device_->Programmed().at(0).blocksProgrammed, 64);
}

TEST_F(StrictDevice, AUnitSelectFrameNamesTheDevicesSerialNumberAndOneOfItsUnits) {
  Serve("multi", [](sim::SimConfig& c) {
    c.units = {sim::SimUnit{0, "G4 ", "A1", "100", {}}, sim::SimUnit{2, "G4 ", "A1", "100", {}}};
  });
  Write({p::kMultiUnitProtocol});
  Quiet();
  Write({p::kAck});
  const Bytes other = {'X', 'X', 'X', 'X', 'X'};
  const auto wrongSerial = p::UnitSelectFrame(other.data(), 0x02, 0x30);
  EXPECT_EQ(Exchange(Bytes(wrongSerial.begin(), wrongSerial.end())), Bytes{p::kAskAgain});
  EXPECT_NE(Violations().back().find("names another serial number"), std::string::npos);
  const auto noSuchKind = p::UnitSelectFrame(Serial().data(), 0x03, 0x30);
  EXPECT_EQ(Exchange(Bytes(noSuchKind.begin(), noSuchKind.end())), Bytes{p::kAskAgain});
  EXPECT_NE(Violations().back().find("which name no unit of this device"), std::string::npos);
  // Frames for a unit that was not selected are not taken.
  EXPECT_EQ(Exchange(SegmentId(0)), Bytes{p::kAskAgain});
  EXPECT_NE(Violations().back().find("frame for a unit that was not selected"), std::string::npos);
  const auto right = p::UnitSelectFrame(Serial().data(), 0x02, 0x30);
  EXPECT_EQ(Exchange(Bytes(right.begin(), right.end())), Bytes{p::kAck});
  EXPECT_EQ(Exchange(SegmentId(0)), Bytes{p::kAck});
}

TEST_F(StrictDevice, TheHubTakesAnUpdateOnlyAfterItsStartBytes) {
  Serve("hub");
  Write({p::kSingleUnitProtocol});
  Quiet();
  Write({p::kAck});
  Quiet();
  ASSERT_FALSE(Violations().empty());
  EXPECT_NE(Violations().back().find("without the ten 0xBB"), std::string::npos);
}

TEST_F(StrictDevice, AnUnansweredAttentionByteIsRestartedWith1C) {
  Serve("multi", [](sim::SimConfig& c) { c.protocols = {0x1B}; });
  Write({p::kMultiUnitProtocol});
  EXPECT_TRUE(Quiet().empty());
  Write({p::kRestart, p::kSingleUnitProtocol});
  EXPECT_FALSE(Quiet().empty());
  Write({p::kDecline});
  EXPECT_TRUE(Violations().empty());
  Write({p::kMultiUnitProtocol});
  EXPECT_TRUE(Quiet().empty());
  Write({p::kSingleUnitProtocol});
  Quiet();
  EXPECT_NE(Violations().back().find("without the 0x1C"), std::string::npos);
}

}  // namespace
}  // namespace vel::testing
