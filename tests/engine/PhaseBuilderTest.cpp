// The phase builder on its own: for each procedure, the phases it builds from a family's file
// send what the clean golden transcript of that procedure shows on the wire, block for block,
// and leave none of the file's data behind.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "engine/BlockTransfer.h"
#include "engine/TransferPhases.h"
#include "image/HexFileLoader.h"
#include "support/CutSamples.h"
#include "support/EngineFakes.h"
#include "wire/Transcript.h"

namespace vel {
namespace {

using Frame = std::vector<std::uint8_t>;

struct Clean {
  const char* transcript;
  const char* sample;
  Procedure procedure;
};

void PrintTo(const Clean& clean, std::ostream* out) { *out << clean.transcript; }

// The clean transcript of every procedure but the multi-unit one, whose phases follow the
// units identification selected.
constexpr Clean kClean[] = {
    {"T1-clean", "single-64k.hex", Procedure::kPageRangeImage64k},
    {"T2-clean", "kesta-128k.hex", Procedure::kImage128k},
    {"T3-clean", "dravik-128k.hex", Procedure::kDravikImage128k},
    {"T4-clean", "dravik-128k.hex", Procedure::kDravikSectorsThenImage},
    {"T6-clean", "station-three-images.hex", Procedure::kUserStationRegions},
    {"T7-clean", "dravik-ypk.hex", Procedure::kShortBlocks},
    {"T8-clean", "dravik-ypa.hex", Procedure::kShortBlocksThenImage128k},
    {"T9-clean", "hub-jqh.hex", Procedure::kHubShortBlocks},
    {"T10-clean", "tzt-two-images.hex", Procedure::kPageRangeThenImage128k},
    {"T11-clean", "xxx-two-images.hex", Procedure::kSegmentsThenImage128k},
    {"T13-clean", "loader-g5.hex", Procedure::kLoaderImages},
};

// The block frames a transcript's engine wrote: block-ID, record and end-of-block frames.
struct BlockFrames {
  std::vector<Frame> ids;
  long long all = 0;
};

BlockFrames FramesOfTranscript(const std::string& name) {
  std::ifstream in(std::filesystem::path(ZANDOR_GOLDEN_DIR) / (name + ".txt"), std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  std::string error;
  const auto transcript = wire::ParseTranscript(text.str(), &error);
  EXPECT_TRUE(transcript) << name << ": " << error;
  BlockFrames frames;
  if (!transcript) return frames;
  const Frame endOfBlock(protocol::kEndOfBlockFrame.begin(), protocol::kEndOfBlockFrame.end());
  for (const wire::Event& e : transcript->events) {
    if (e.kind != wire::Kind::kWrite) continue;
    // A block-ID frame starts 02 and names its address with record type 04.
    const bool blockId =
        e.bytes.size() == protocol::kBlockIdFrameSize && e.bytes[0] == 0x02 && e.bytes[3] == 0x04;
    if (blockId) frames.ids.push_back(e.bytes);
    if (blockId || e.bytes.size() == protocol::kRecordFrameSize || e.bytes == endOfBlock) {
      ++frames.all;
    }
  }
  return frames;
}

class PhaseBuilderTest : public ::testing::TestWithParam<Clean>,
                         protected testing::EngineParts<testing::QuietDisplay> {
 protected:
  static const testing::CutSamples& Samples() {
    static const testing::CutSamples samples(0x400);
    return samples;
  }
};

TEST_P(PhaseBuilderTest, ThePhasesSendWhatTheCleanTranscriptShowsAndLeaveNoDataBehind) {
  const Clean& clean = GetParam();
  ASSERT_TRUE(HexFileLoader(file).LoadPath(Samples().Path(clean.sample)).ok());
  ctx.device = &FamilyOf(file.Info(0).deviceType);  // a hub's map is built as the hub holds it
  PhaseBuilder builder(ctx);
  const std::vector<TransferPhase> phases = builder.PhasesOf(clean.procedure);
  ASSERT_FALSE(phases.empty());
  EXPECT_FALSE(builder.RefuseDataLeftBehind(phases));
  EXPECT_TRUE(op.Messages().empty());

  long long planned = 0;
  std::size_t blocks = 0;
  for (const TransferPhase& phase : phases) {
    planned += BlockTransfer::FramesOf(phase);
    blocks += SentRanges(phase).size();
  }
  const BlockFrames sent = FramesOfTranscript(clean.transcript);
  EXPECT_EQ(planned, sent.all);
  EXPECT_EQ(blocks, sent.ids.size());
  // Each phase's first block-ID frame is the one the transcript shows where that phase begins.
  std::size_t firstOfPhase = 0;
  for (const TransferPhase& phase : phases) {
    ASSERT_LT(firstOfPhase, sent.ids.size());
    if (phase.blockIdStyle == BlockIdStyle::kSegment) {
      const auto id = protocol::SegmentBlockId(phase.segments.front());
      EXPECT_EQ(sent.ids[firstOfPhase], Frame(id.begin(), id.end())) << "slot " << phase.slot;
    }
    firstOfPhase += SentRanges(phase).size();
  }
}

INSTANTIATE_TEST_SUITE_P(Procedures, PhaseBuilderTest, ::testing::ValuesIn(kClean),
                         [](const auto& info) {
                           std::string name = info.param.transcript;
                           for (char& c : name) c = c == '-' ? '_' : c;
                           return name;
                         });

}  // namespace
}  // namespace vel
