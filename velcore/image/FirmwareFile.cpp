#include "image/FirmwareFile.h"

#include "common/Format.h"
#include "common/Strings.h"

namespace vel {

void FirmwareFile::Reset() {
  for (ImageSlot& slot : slots_) {
    slot.chain = RecordChain();
    slot.memMap.reset();
    slot.recordCount = 0;
    slot.info.deviceType = "?";
    slot.info.firmwareVersion = "?";
  }
  shared_.auxiliaryVersions.fill("?");
  imageCount_ = 0;
  metadataPresent_ = firstTypeFlag_ = secondTypeFlag_ = false;
  totalRecordsRead_ = 0;
  colonlessRecordLine_ = 0;
  text_.reset();
}

const VelMemMap& FirmwareFile::GetMemMap(int k, ProgressSink* progress, bool jqhDevice) {
  ImageSlot& slot = slots_.at(static_cast<std::size_t>(k));
  if (!slot.memMap)
    slot.memMap = std::make_unique<VelMemMap>(slot.chain.Head(), jqhDevice, progress);
  return *slot.memMap;
}

HexTestOutcome FirmwareFile::TestHexFile(ProgressSink* progress) const {
  if (!HasFile()) return HexTestOutcome::kNoFile;
  if (colonlessRecordLine_ != 0) return HexTestOutcome::kFailed;
  const bool shown =
      progress != nullptr && progress->BeginProgress(0, static_cast<int>(TotalRecordCount()),
                                                     LoadString(ids::kTestingHexFile), 1);
  bool cancelled = false;
  for (int slot = 0; slot < kImageSlots && !cancelled; ++slot) {
    for (const VelHexFile* node = Chain(slot); node != nullptr; node = node->GetNext()) {
      if (!node->IsRecordValid()) {
        if (shown) progress->EndProgress();
        return HexTestOutcome::kFailed;
      }
      if (shown) {
        progress->SetStatus({});
        if (progress->CancelRequested()) {
          cancelled = true;
          break;
        }
      }
    }
  }
  if (shown) progress->EndProgress();
  return cancelled ? HexTestOutcome::kCancelled : HexTestOutcome::kPassed;
}

std::optional<HexDefect> FirmwareFile::FirstDefect() const {
  std::optional<HexDefect> first;
  if (colonlessRecordLine_ != 0) {
    first = HexDefect{HexDefect::Kind::kMissingColon, 0, 0, colonlessRecordLine_};
  }
  for (int slot = 0; slot < kImageSlots; ++slot) {
    for (const VelHexFile* node = Chain(slot); node != nullptr; node = node->GetNext()) {
      if (node->IsRecordValid()) continue;
      if (!first || node->Line() < first->line) {
        first = HexDefect{HexDefect::Kind::kChecksum, slot, node->RecordNumber(), node->Line()};
      }
      break;
    }
  }
  return first;
}

std::int64_t FirmwareFile::TotalRecordCount() const {
  // Counted along the chains: under the two-image rule a slot's stored count is another's.
  std::int64_t total = 0;
  for (const ImageSlot& slot : slots_) total += slot.chain.Count();
  return total;
}

std::vector<int> HexTestMessageIds(HexTestOutcome outcome) {
  switch (outcome) {
    case HexTestOutcome::kNoFile:
      return {ids::kTestNoFile};
    case HexTestOutcome::kPassed:
      return {ids::kTestPassed};
    case HexTestOutcome::kCancelled:
      return {ids::kCancelledTest, ids::kTestFailed};
    case HexTestOutcome::kFailed:
      break;
  }
  return {ids::kTestFailed};
}

std::string DescribeDefect(const HexDefect& defect) {
  if (defect.kind == HexDefect::Kind::kMissingColon) {
    return Format(LoadString(ids::kDefectMissingColon).c_str(),
                  static_cast<long long>(defect.line));
  }
  return Format(LoadString(ids::kDefectChecksum).c_str(), defect.record, defect.slot,
                static_cast<long long>(defect.line));
}

}  // namespace vel
