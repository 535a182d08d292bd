// The updates each family's device accepts, stage by stage.
#include "SimProfile.h"

#include "SimConfig.h"

namespace sim {

namespace {

constexpr std::uint8_t kEscape = 0x1B;
constexpr std::uint8_t kSectorHandshake = 0x1F;

// Four page-range blocks of 16 KiB written to segment 0xFF.
PhaseRule PageRange64K() {
  PhaseRule rule;
  rule.layout = Layout::kPageRelative16K;
  rule.announce = Announce::kPageRange;
  return rule;
}

// The 128 KiB image: segment 254 (left out by an image without it), then 255.
PhaseRule Image128K(bool f7RestartsSegment, bool segment254Optional) {
  PhaseRule rule;
  rule.segments = {254, 255};
  rule.firstSegmentOptional = segment254Optional;
  rule.f7RestartsSegment = f7RestartsSegment;
  return rule;
}

// Segments from 0 upwards until the block that holds the image's top.
PhaseRule UpToImageTop(int segments) {
  PhaseRule rule;
  rule.segments.clear();
  for (int s = 0; s < segments; ++s) rule.segments.push_back(s);
  rule.endsAtImageTop = true;
  rule.f7RestartsSegment = true;
  return rule;
}

// 128-byte blocks of segment 0xFF, with a 16-bit checksum frame.
PhaseRule ShortBlocks(int blocks, bool endsAtImageTop) {
  PhaseRule rule;
  rule.layout = Layout::k128;
  rule.blocksPerSegment = blocks;
  rule.endsAtImageTop = endsAtImageTop;
  rule.checksum = ChecksumWidth::k16Bit;
  return rule;
}

// The Dravik sectors: segments 0 to 5 in 1 KiB blocks, an 8-bit checksum frame.
PhaseRule Sectors() {
  PhaseRule rule;
  rule.layout = Layout::kFull1K;
  rule.segments = {0, 1, 2, 3, 4, 5};
  rule.blocksPerSegment = 64;
  rule.fdSkipsSegment = true;
  rule.checksum = ChecksumWidth::k8Bit;
  return rule;
}

PhaseRule Region() {
  PhaseRule rule;
  rule.layout = Layout::kPageRelative1K;
  rule.announce = Announce::kPageRange;
  rule.blocksPerSegment = 64;
  return rule;
}

Stage Of(PhaseRule rule) {
  Stage stage;
  stage.phase = std::move(rule);
  return stage;
}

Plan PlanOf(std::vector<Stage> stages) {
  Plan plan;
  plan.stages = std::move(stages);
  return plan;
}

}  // namespace

LayoutSize SizeOf(Layout layout) {
  switch (layout) {
    case Layout::kPageRelative16K:
      return {64, 16, 16384, true};
    case Layout::kFull16K:
      return {64, 16, 16384, false};
    case Layout::kPageRelative1K:
      return {4, 16, 1024, true};
    case Layout::kFull1K:
      return {4, 16, 1024, false};
    case Layout::k128:
      return {1, 8, 128, false};
  }
  return {64, 16, 16384, false};
}

std::vector<Plan> PlansFor(const SimConfig& config) {
  const std::string& family = config.family;
  if (family == "matrix") return {PlanOf({Of(PageRange64K())})};
  if (family == "kesta128" || family == "dravik-ypc") {
    return {PlanOf({Of(Image128K(false, true))})};
  }
  if (family == "dravik") {
    Stage sameVersion = Of(Image128K(false, false));
    const bool ypd = !config.units.empty() && config.units[0].typeCode == "YPD";
    if (ypd) return {PlanOf({sameVersion})};
    sameVersion.echo = kEscape;
    Stage sectors = Of(Sectors());
    sectors.echo = kSectorHandshake;
    return {PlanOf({sameVersion}), PlanOf({sectors, Of(Image128K(false, false))})};
  }
  if (family == "dravik-ypk") return {PlanOf({Of(ShortBlocks(64, false))})};
  if (family == "dravik-ypa") {
    Stage first = Of(ShortBlocks(64, false));
    first.bytesAfterRun = 1;
    Stage second = Of(Image128K(false, true));
    second.echo = kEscape;
    return {PlanOf({first, second})};
  }
  if (family == "station") {
    Plan plan;
    for (int region = 0; region < config.regions; ++region) {
      Stage stage = Of(Region());
      stage.ackAfterRun = region > 0;
      plan.stages.push_back(stage);
    }
    plan.closingFrame = true;
    return {plan};
  }
  if (family == "hub") return {PlanOf({Of(ShortBlocks(512, true))})};
  if (family == "tzt") {
    Stage first = Of(PageRange64K());
    first.bytesAfterRun = 3;
    return {PlanOf({first, Of(Image128K(true, true))})};
  }
  if (family == "xxx") {
    Stage first = Of(UpToImageTop(4));
    first.bytesAfterRun = 5;
    return {PlanOf({first, Of(Image128K(true, true))})};
  }
  if (family == "loader") {
    Stage first = Of(UpToImageTop(8));
    first.bytesAfterRun = 2;
    Stage second = Of(UpToImageTop(8));
    second.loaderEscape = true;
    return {PlanOf({first, second})};
  }
  return {PlanOf({Of(UpToImageTop(8))})};  // the multi-unit family
}

}  // namespace sim
