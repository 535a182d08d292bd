// The block transfer's rules on their own, against a device that answers each frame by a rule:
// what goes on the wire for every block, the running data sum, and what each result byte does
// to the phase.
#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <vector>

#include "common/Format.h"
#include "common/Strings.h"
#include "engine/BlockTransfer.h"
#include "engine/EngineContext.h"
#include "image/HexFileLoader.h"
#include "support/CutSamples.h"
#include "support/EngineFakes.h"

namespace vel {
namespace {

using Frame = std::vector<std::uint8_t>;

// A device that answers each frame the engine writes with the bytes `answer` gives for it (the
// frame and how many end-of-block frames came before it); nothing waits to be read otherwise.
class RulePeer final : public LinkPeer {
 public:
  using Rule = std::function<Frame(const Frame& frame, int endsBefore)>;
  explicit RulePeer(Rule answer) : answer_(std::move(answer)) {}

  int Read(std::uint8_t* buffer, int count, int) override {
    int n = 0;
    while (n < count && !queued_.empty()) {
      buffer[n++] = queued_.front();
      queued_.pop_front();
    }
    return n;
  }
  int Write(const std::uint8_t* buffer, int count) override {
    Frame frame(buffer, buffer + count);
    for (std::uint8_t b : answer_(frame, ends_)) queued_.push_back(b);
    if (frame == Frame(protocol::kEndOfBlockFrame.begin(), protocol::kEndOfBlockFrame.end())) {
      ++ends_;
    }
    written.push_back(std::move(frame));
    return count;
  }
  bool ReadableNow() override { return false; }

  // The frames of one size, in order: 7 block-ID, 21 record, 5 end-of-block.
  std::vector<Frame> OfSize(std::size_t size) const {
    std::vector<Frame> out;
    for (const Frame& f : written) {
      if (f.size() == size) out.push_back(f);
    }
    return out;
  }

  std::vector<Frame> written;

 private:
  Rule answer_;
  std::deque<std::uint8_t> queued_;
  int ends_ = 0;
};

// Every frame acknowledged; each end of block answered with `result` (0xF4: programmed).
Frame Answer(const Frame& frame, std::uint8_t result) {
  if (frame.size() == protocol::kEndOfBlockFrame.size()) return {protocol::kAck, result};
  return {protocol::kAck};
}

constexpr int kBlocks = 4;

class BlockTransferTest : public ::testing::Test,
                          protected testing::EngineParts<testing::RecordingDisplay> {
 protected:
  BlockTransferTest() {
    EXPECT_TRUE(HexFileLoader(file).LoadPath(Samples().Path("many-segments.hex")).ok());
  }

  static const testing::CutSamples& Samples() {
    static const testing::CutSamples samples(0x400);
    return samples;
  }

  // Two segments of four 1 KiB blocks, every record addressed by block and page.
  static TransferPhase TwoSegments() {
    TransferPhase phase;
    phase.segments = {0, 1};
    phase.blocksPerSegment = kBlocks;
    phase.geometry = Geometry::kFull1K;
    phase.blockIdStyle = BlockIdStyle::kSegment;
    phase.idText = [](int, int) { return std::string(); };
    phase.recordText = [](int, int, int, int) { return std::string(); };
    phase.endText = [](int, int) { return std::string(); };
    phase.idPosition = [](int, int) { return 0; };
    phase.recordPosition = [](int, int, int, int) { return 0; };
    phase.endPosition = [](int, int) { return 0; };
    phase.waitText = [](int, int, int) { return std::string(); };
    return phase;
  }

  PhaseOutcome Run(RulePeer& peer, const TransferPhase& phase, std::uint32_t* sum = nullptr) {
    link.AttachPeer(&peer);
    BlockTransfer transfer(ctx);
    const PhaseOutcome outcome = transfer.RunPhase(phase, sum);
    link.AttachPeer(nullptr);
    return outcome;
  }

  // The block (address high byte / 4) of the first record frame written after the n-th end of
  // block.
  static int BlockAfterEnd(const RulePeer& peer, int n) {
    int ends = 0;
    for (const Frame& f : peer.written) {
      if (f.size() == protocol::kEndOfBlockFrame.size()) ++ends;
      if (ends == n && f.size() == protocol::kRecordFrameSize) return f[1] / 4;
    }
    return -1;
  }
};

TEST_F(BlockTransferTest, EveryBlockGoesOnceWithItsRecordsAndTheSumTakesEachRecordSent) {
  RulePeer peer([](const Frame& f, int) { return Answer(f, protocol::kBlockProgrammed); });
  const TransferPhase phase = TwoSegments();
  std::uint32_t sum = 0;
  EXPECT_EQ(Run(peer, phase, &sum), PhaseOutcome::kComplete);
  EXPECT_EQ(static_cast<long long>(peer.written.size()), BlockTransfer::FramesOf(phase));
  const auto ids = peer.OfSize(protocol::kBlockIdFrameSize);
  ASSERT_EQ(ids.size(), 2u * kBlocks);
  for (std::size_t i = 0; i < ids.size(); ++i) {
    const auto expected = protocol::SegmentBlockId(static_cast<int>(i) / kBlocks);
    EXPECT_EQ(ids[i], Frame(expected.begin(), expected.end())) << i;
  }
  const auto records = peer.OfSize(protocol::kRecordFrameSize);
  ASSERT_EQ(records.size(), 2u * kBlocks * 64);
  std::uint32_t sentData = 0;
  for (std::size_t i = 0; i < records.size(); ++i) {
    const Frame& r = records[i];
    EXPECT_EQ(r[20], protocol::FrameChecksum(r.data(), 20)) << i;
    // Within each segment, block b page p record k sits at (b * 4 + p) * 256 + k * 16.
    const std::size_t inSegment = i % (kBlocks * 64);
    EXPECT_EQ(r[1], inSegment / 16) << i;
    EXPECT_EQ(r[2], (inSegment % 16) * 16) << i;
    for (int k = 4; k < 20; ++k) sentData += r[static_cast<std::size_t>(k)];
  }
  EXPECT_GT(sentData, 0u);
  EXPECT_EQ(sum, sentData);
}

TEST_F(BlockTransferTest, ARecordSentAgainCountsInTheSumEachTimeItWentOut) {
  // The first copy of the tenth record frame goes unanswered and is sent again.
  int records = 0;
  RulePeer peer([&records](const Frame& f, int) {
    if (f.size() == protocol::kRecordFrameSize && ++records == 10) return Frame{};
    return Answer(f, protocol::kBlockProgrammed);
  });
  std::uint32_t sum = 0;
  EXPECT_EQ(Run(peer, TwoSegments(), &sum), PhaseOutcome::kComplete);
  const auto sent = peer.OfSize(protocol::kRecordFrameSize);
  ASSERT_EQ(sent.size(), 2u * kBlocks * 64 + 1);
  EXPECT_EQ(sent[9], sent[10]);
  std::uint32_t sentData = 0;
  for (const Frame& r : sent) {
    for (int k = 4; k < 20; ++k) sentData += r[static_cast<std::size_t>(k)];
  }
  EXPECT_EQ(sum, sentData);
}

TEST_F(BlockTransferTest, AProgrammingErrorSendsTheBlockOrItsSegmentAgainAsThePhaseSays) {
  // Segment 1's third block (the seventh end of block) fails once with 0xF7.
  const auto f7Once = [](const Frame& f, int endsBefore) {
    return Answer(f, endsBefore == 6 ? protocol::kProgrammingError : protocol::kBlockProgrammed);
  };
  struct Case {
    OnProgrammingError rule;
    int blockAfter;  // the block sent after the failed one
    std::size_t blockIds;
  };
  for (const Case& c : {Case{OnProgrammingError::kLikeOthers, 2, 2 * kBlocks + 1},
                        Case{OnProgrammingError::kRestartSegment, 0, 2 * kBlocks + 3}}) {
    SCOPED_TRACE(static_cast<int>(c.rule));
    RulePeer peer(f7Once);
    TransferPhase phase = TwoSegments();
    phase.onF7 = c.rule;
    EXPECT_EQ(Run(peer, phase), PhaseOutcome::kComplete);
    EXPECT_EQ(BlockAfterEnd(peer, 7), c.blockAfter);
    EXPECT_EQ(peer.OfSize(protocol::kBlockIdFrameSize).size(), c.blockIds);
  }
  RulePeer ended(f7Once);
  TransferPhase phase = TwoSegments();
  phase.onF7 = OnProgrammingError::kEndTransfer;
  EXPECT_EQ(Run(ended, phase), PhaseOutcome::kFailed);
  EXPECT_EQ(ended.OfSize(protocol::kBlockIdFrameSize).size(), 7u);
}

TEST_F(BlockTransferTest, ABlockThatKeepsFailingEndsThePhaseAndAStoppingPhaseEndsAtTheFirst) {
  RulePeer peer([](const Frame& f, int) { return Answer(f, protocol::kEraseError); });
  EXPECT_EQ(Run(peer, TwoSegments()), PhaseOutcome::kFailed);
  EXPECT_EQ(peer.OfSize(protocol::kBlockIdFrameSize).size(),
            static_cast<std::size_t>(kMaxBlockFailures));
  EXPECT_TRUE(display.Logged(std::string(text::kBlockErrorF6)));

  RulePeer stopping([](const Frame& f, int) { return Answer(f, protocol::kBlockCheckError); });
  TransferPhase phase = TwoSegments();
  phase.onError = OnBlockError::kStop;
  EXPECT_EQ(Run(stopping, phase), PhaseOutcome::kStopped);
  EXPECT_EQ(stopping.OfSize(protocol::kBlockIdFrameSize).size(), 1u);
}

TEST_F(BlockTransferTest, UpdateAgainSkipsTheRestOfItsSegmentAndTheSkippedPhaseIsNeverComplete) {
  // The second block of segment 0 answers 0xFD.
  RulePeer peer([](const Frame& f, int endsBefore) {
    return Answer(f, endsBefore == 1 ? protocol::kUpdateAgain : protocol::kBlockProgrammed);
  });
  TransferPhase phase = TwoSegments();
  phase.onFD = OnUpdateAgain::kSkipSegment;
  EXPECT_EQ(Run(peer, phase), PhaseOutcome::kUpdateAgain);
  const auto ids = peer.OfSize(protocol::kBlockIdFrameSize);
  ASSERT_EQ(ids.size(), 2u + kBlocks);
  const auto segmentOne = protocol::SegmentBlockId(1);
  EXPECT_EQ(ids[2], Frame(segmentOne.begin(), segmentOne.end()));
  EXPECT_TRUE(op.Shown(std::string(text::kPleaseUpdateAgain)));
}

TEST_F(BlockTransferTest, SilenceThroughTheProgrammingWaitFailsOrCancelsAsThePhaseSays) {
  // Every frame acknowledged, no block result ever.
  const auto noResult = [](const Frame&, int) { return Frame{protocol::kAck}; };
  RulePeer failing(noResult);
  EXPECT_EQ(Run(failing, TwoSegments()), PhaseOutcome::kFailed);
  EXPECT_TRUE(display.Logged(std::string(text::kNoProgrammingResult)));
  EXPECT_EQ(failing.OfSize(protocol::kEndOfBlockFrame.size()).size(), 1u);

  RulePeer cancelling(noResult);
  TransferPhase phase = TwoSegments();
  phase.timeoutCancels = true;
  EXPECT_EQ(Run(cancelling, phase), PhaseOutcome::kCancelled);
  EXPECT_TRUE(ctx.endedByEngine);
  EXPECT_TRUE(op.Shown(Format(format::kRegionTimeout, 1, 1)));
}

}  // namespace
}  // namespace vel
