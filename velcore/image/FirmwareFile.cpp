#include "image/FirmwareFile.h"

#include "common/Format.h"
#include "common/Strings.h"
#include "engine/Operator.h"

namespace vel {

std::shared_ptr<const LoadedFirmware> NothingLoaded() {
  return std::make_shared<const LoadedFirmware>();
}

std::shared_ptr<const VelMemMap> LoadedFirmware::Map(int k, bool jqhDevice,
                                                     ProgressSink* progress) const {
  MapEntry& entry = maps_.at(static_cast<std::size_t>(k))[jqhDevice ? 1 : 0];
  std::lock_guard<std::mutex> lock(entry.building);
  if (!entry.map) entry.map = std::make_shared<const VelMemMap>(Chain(k), jqhDevice, progress);
  return entry.map;
}

std::shared_ptr<const VelMemMap> LoadedFirmware::BuiltMap(int k) const {
  for (MapEntry& entry : maps_.at(static_cast<std::size_t>(k))) {
    std::lock_guard<std::mutex> lock(entry.building);
    if (entry.map) return entry.map;
  }
  return nullptr;
}

void FirmwareFile::Adopt(std::shared_ptr<const LoadedFirmware> loaded) {
  loaded_ = std::move(loaded);
  for (auto& map : maps_) map.reset();
}

const VelMemMap& FirmwareFile::GetMemMap(int k, ProgressSink* progress, bool jqhDevice) {
  auto& map = maps_.at(static_cast<std::size_t>(k));
  if (!map) map = std::make_unique<VelMemMap>(*loaded_->Map(k, jqhDevice, progress));
  return *map;
}

std::optional<HexDefect> LoadedFirmware::RecordDefect(int slot, const VelHexFile& node) {
  const VelHexRec& record = node.GetRecord();
  HexDefect defect{HexDefect::Kind::kChecksum, slot, node.RecordNumber(), node.Line()};
  if (!node.IsRecordValid()) return defect;
  if (record.Type() > kStartLinearAddressRecord) {
    defect.kind = HexDefect::Kind::kUnknownType;
    defect.type = record.Type();
    return defect;
  }
  if (record.Type() == kDataRecord &&
      std::size_t{record.Address()} + record.ByteCount() > kSegmentSize) {
    defect.kind = HexDefect::Kind::kWrapsSegment;
    return defect;
  }
  if (node.HasTrailingText()) {
    defect.kind = HexDefect::Kind::kTrailingText;
    return defect;
  }
  return std::nullopt;
}

std::optional<HexDefect> LoadedFirmware::OverlapDefect(int slot) const {
  if (Chain(slot) == nullptr) return std::nullopt;
  // A map an update sends from, or one made for the test alone.
  std::optional<VelMemMap> ownMap;
  const std::shared_ptr<const VelMemMap> built = BuiltMap(slot);
  const VelMemMap* map = built ? built.get() : &ownMap.emplace(Chain(slot));
  const auto& overwrite = map->FirstOverwrite();
  if (!overwrite) return std::nullopt;
  HexDefect defect{HexDefect::Kind::kOverlap, slot, overwrite->record, overwrite->line};
  defect.segment = overwrite->segment;
  defect.offset = overwrite->offset;
  return defect;
}

HexTestOutcome LoadedFirmware::TestHexFile(ProgressSink* progress) const {
  if (!HasFile()) return HexTestOutcome::kNoFile;
  if (colonlessRecordLine_ != 0) return HexTestOutcome::kFailed;
  const bool shown =
      progress != nullptr && progress->BeginProgress(0, static_cast<int>(TotalRecordCount()),
                                                     LoadString(ids::kTestingHexFile), 1);
  bool cancelled = false;
  for (int slot = 0; slot < kImageSlots && !cancelled; ++slot) {
    for (const VelHexFile* node = Chain(slot); node != nullptr; node = node->GetNext()) {
      if (RecordDefect(slot, *node)) {
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
  if (cancelled) return HexTestOutcome::kCancelled;
  for (int slot = 0; slot < kImageSlots; ++slot) {
    if (OverlapDefect(slot) || MetadataDefect(slot)) return HexTestOutcome::kFailed;
  }
  return HexTestOutcome::kPassed;
}

std::optional<HexDefect> LoadedFirmware::FirstDefect() const {
  std::lock_guard<std::mutex> lock(defectSearch_);
  if (!firstDefect_) firstDefect_ = FindFirstDefect();
  return *firstDefect_;
}

std::optional<HexDefect> LoadedFirmware::FindFirstDefect() const {
  std::optional<HexDefect> first;
  const auto consider = [&first](const std::optional<HexDefect>& defect) {
    if (defect && (!first || defect->line < first->line)) first = defect;
  };
  if (colonlessRecordLine_ != 0) {
    consider(HexDefect{HexDefect::Kind::kMissingColon, 0, 0, colonlessRecordLine_});
  }
  for (int slot = 0; slot < kImageSlots; ++slot) {
    for (const VelHexFile* node = Chain(slot); node != nullptr; node = node->GetNext()) {
      const auto defect = RecordDefect(slot, *node);
      consider(defect);
      if (defect) break;
    }
    consider(OverlapDefect(slot));
    consider(MetadataDefect(slot));
  }
  return first;
}

std::optional<HexDefect> LoadedFirmware::MetadataDefect(int slot) const {
  const VelHexFile* first = Chain(slot);
  if (!metadataPresent_ || slot >= imageCount_ || first == nullptr ||
      !Info(slot).deviceType.starts_with("?")) {
    return std::nullopt;
  }
  return HexDefect{HexDefect::Kind::kNoMetadata, slot, 1, first->Line()};
}

std::int64_t LoadedFirmware::TotalRecordCount() const {
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
  const auto record = [&defect](int id) {
    return Format(LoadString(id).c_str(), defect.record, defect.slot,
                  static_cast<long long>(defect.line));
  };
  switch (defect.kind) {
    case HexDefect::Kind::kMissingColon:
      return Format(LoadString(ids::kDefectMissingColon).c_str(),
                    static_cast<long long>(defect.line));
    case HexDefect::Kind::kChecksum:
      return record(ids::kDefectChecksum);
    case HexDefect::Kind::kUnknownType:
      return Format(LoadString(ids::kDefectUnknownType).c_str(), defect.record, defect.slot,
                    static_cast<long long>(defect.line), defect.type);
    case HexDefect::Kind::kWrapsSegment:
      return record(ids::kDefectWrapsSegment);
    case HexDefect::Kind::kTrailingText:
      return record(ids::kDefectTrailingText);
    case HexDefect::Kind::kNoMetadata:
      return Format(LoadString(ids::kDefectNoMetadata).c_str(), defect.slot,
                    static_cast<long long>(defect.line));
    case HexDefect::Kind::kOverlap:
      return Format(LoadString(ids::kDefectOverlap).c_str(), defect.record, defect.slot,
                    static_cast<long long>(defect.line), defect.segment, defect.offset);
  }
  return record(ids::kDefectChecksum);
}

}  // namespace vel
