#include "image/HexFileLoader.h"

#include <string_view>

#include "common/Strings.h"
#include "image/Metadata.h"

namespace vel {

namespace {

bool TypeIs(const FirmwareInfo& info, std::string_view code) {
  return info.deviceType.starts_with(code);
}

// The loader's progress: the file position / 8 for every record read.
class LoadProgress final : public RecordReadObserver {
 public:
  LoadProgress(ProgressSink* sink, std::int64_t* totalRecords)
      : sink_(sink), totalRecords_(totalRecords) {}
  void RecordRead(const ByteStream& in) override {
    ++*totalRecords_;
    if (sink_ != nullptr) sink_->SetProgress(static_cast<int>(in.Position() / 8), {});
  }

 private:
  ProgressSink* sink_;
  std::int64_t* totalRecords_;
};

std::string BaseName(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

LoadResult HexFileLoader::LoadPath(const std::string& path) {
  FileByteStream in;
  std::string reason;
  if (!in.Open(path, &reason)) return {LoadStatus::kCannotOpen, reason};
  return Load(in, BaseName(path));
}

LoadResult HexFileLoader::Load(ByteStream& source, const std::string& fileName) {
  file_.Reset();
  LineTrackingStream in(source);
  const bool shown =
      progress_ != nullptr && progress_->BeginProgress(0, static_cast<int>(in.Length() / 8),
                                                       LoadString(ids::kLoadingHexFile), 1);
  LoadResult result = ReadImages(in);
  if (result.ok()) {
    // Text after the last image is looked at too: a record there that lost its ':' is a
    // damaged file, not a remark.
    in.Drain();
    file_.colonlessRecordLine_ = in.FirstColonlessRecordLine();
    file_.fileName_ = fileName;
  }
  if (shown) progress_->EndProgress();
  return result;
}

LoadResult HexFileLoader::ReadImages(ByteStream& in) {
  LoadProgress observer(progress_, &file_.totalRecordsRead_);
  const auto unexpected = [](std::string detail) {
    return LoadResult{LoadStatus::kUnexpectedFormat, std::move(detail)};
  };
  bool moreImages = true;
  while (moreImages) {
    const int k = file_.imageCount_;
    if (k >= kImageSlots) return unexpected("the file holds more than ten images");
    ImageSlot& slot = file_.slots_[k];
    auto head = std::make_unique<VelHexFile>();
    bool sawItem = false;
    if (!ParseMetadataBlock(in, slot.info, file_.shared_, &sawItem)) {
      return unexpected("the file ends inside the metadata of image " + std::to_string(k + 1));
    }
    file_.metadataPresent_ = file_.metadataPresent_ || sawItem;
    head->MarkHead();
    std::int32_t count = head->Serialize(in, &observer);
    if (count == 0) {
      return unexpected("image " + std::to_string(k + 1) + " ends before its end record");
    }
    slot.chain = std::move(head);
    ++file_.imageCount_;

    const FirmwareInfo& first = file_.slots_[0].info;
    if (TypeIs(first, "TZT") || TypeIs(first, "YPA") || TypeIs(first, "YPB")) {
      // These families carry a second record block without metadata right behind the first.
      if (file_.imageCount_ >= kImageSlots)
        return unexpected("the file holds more than ten images");
      auto second = std::make_unique<VelHexFile>();
      second->MarkHead();
      count = second->Serialize(in, &observer);
      if (count == 0) return unexpected("the second record block ends before its end record");
      file_.slots_[file_.imageCount_].chain = std::move(second);
      moreImages = false;
      file_.imageCount_ = 1;
    } else {
      moreImages = FindNextImage(in);
    }
    file_.firstTypeFlag_ = TypeIs(first, "G5");
    file_.secondTypeFlag_ = TypeIs(file_.slots_[1].info, "NB");
    file_.slots_[file_.imageCount_ - 1].recordCount = count;
  }
  return {};
}

bool HexFileLoader::FindNextImage(ByteStream& in) {
  const std::uint64_t length = in.Length();
  while (in.Position() < length) {
    const int c = in.ReadChar();
    if (c < 0) return false;
    if (c == '{' || c == ':') {
      in.Seek(in.Position() - 1);
      return true;
    }
  }
  return false;
}

}  // namespace vel
