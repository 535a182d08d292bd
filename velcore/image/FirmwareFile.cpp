#include "image/FirmwareFile.h"

#include "common/Strings.h"

namespace vel {

void FirmwareFile::Reset() {
  for (ImageSlot& slot : slots_) {
    slot.chain.reset();
    slot.memMap.reset();
    slot.recordCount = 0;
    slot.info.deviceType = "?";
    slot.info.firmwareVersion = "?";
  }
  shared_.auxiliaryVersions.fill("?");
  imageCount_ = 0;
  metadataPresent_ = firstTypeFlag_ = secondTypeFlag_ = false;
  totalRecordsRead_ = 0;
}

const VelMemMap& FirmwareFile::GetMemMap(int k, ProgressSink* progress, bool jqhDevice) {
  ImageSlot& slot = slots_.at(static_cast<std::size_t>(k));
  if (!slot.memMap)
    slot.memMap = std::make_unique<VelMemMap>(slot.chain.get(), jqhDevice, progress);
  return *slot.memMap;
}

HexTestOutcome FirmwareFile::TestHexFile(ProgressSink* progress) const {
  if (!HasFile()) return HexTestOutcome::kNoFile;
  const bool shown =
      progress != nullptr &&
      progress->BeginProgress(0, RecordCount(0), LoadString(ids::kTestingHexFile), 1);
  bool cancelled = false;
  for (const VelHexFile* node = Chain(0); node != nullptr; node = node->GetNext()) {
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
  if (shown) progress->EndProgress();
  return cancelled ? HexTestOutcome::kCancelled : HexTestOutcome::kPassed;
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

}  // namespace vel
