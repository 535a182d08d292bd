#include "image/HexFileLoader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>

#include "common/Gcrypt.h"
#include "common/Strings.h"
#include "families/Families.h"
#include "image/HexText.h"
#include "image/Metadata.h"

namespace vel {

namespace {

// The shortest record: byte count, address, type and checksum.
constexpr int kShortestRecordDigits = 10;

std::string BaseName(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The whole of a regular file, read into a buffer of its own (not mapped: a file truncated while
// it is loaded must not take the program down); false with the system's reason otherwise. The
// open never waits (a FIFO would wait for a writer), and what is not a regular file is refused.
bool ReadWholeFile(const std::string& path, std::shared_ptr<const char>* text, std::size_t* size,
                   FileStamp* stamp, std::string* error) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    *error = std::strerror(errno);
    return false;
  }
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    *error = S_ISDIR(info.st_mode) ? std::strerror(EISDIR) : "Not a regular file";
    close(fd);
    return false;
  }
  *stamp = StampOfOpenFile(fd).value_or(FileStamp{});
  const auto capacity = static_cast<std::size_t>(info.st_size);
  std::shared_ptr<char[]> buffer(new char[capacity > 0 ? capacity : 1]);  // not zero-filled
  std::size_t done = 0;
  while (done < capacity) {
    const ssize_t n = read(fd, buffer.get() + done, capacity - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *error = std::strerror(errno);
      close(fd);
      return false;
    }
    if (n == 0) break;  // the file became shorter since fstat
    done += static_cast<std::size_t>(n);
  }
  close(fd);
  *size = done;
  *text = std::shared_ptr<const char>(buffer, buffer.get());
  return true;
}

bool IsLineBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// Whether a line holds hexadecimal digits alone, blanks around them allowed, enough for a record.
bool IsColonlessRecord(std::string_view line) {
  std::size_t begin = 0, end = line.size();
  while (begin < end && IsLineBlank(line[begin])) ++begin;
  while (end > begin && IsLineBlank(line[end - 1])) --end;
  if (end - begin < static_cast<std::size_t>(kShortestRecordDigits)) return false;
  for (std::size_t i = begin; i < end; ++i) {
    if (HexDigitValue(line[i]) < 0) return false;
  }
  return true;
}

}  // namespace

std::int64_t FirstColonlessRecordLine(std::string_view text) {
  std::int64_t line = 1;
  for (std::size_t start = 0; start < text.size(); ++line) {
    const std::size_t feed = text.find('\n', start);
    const std::size_t end = feed == std::string_view::npos ? text.size() : feed;
    // Record lines begin with their ':' and are passed over at once.
    if (text[start] != ':' && IsColonlessRecord(text.substr(start, end - start))) return line;
    if (feed == std::string_view::npos) break;
    start = feed + 1;
  }
  return 0;
}

LoadResult HexFileLoader::LoadPath(const std::string& path) {
  std::shared_ptr<const char> text;
  std::size_t size = 0;
  std::string reason;
  if (!ReadWholeFile(path, &text, &size, &stamp_, &reason)) {
    loaded_.reset();
    return {LoadStatus::kCannotOpen, reason};
  }
  return LoadHeld(std::move(text), size, BaseName(path));
}

LoadResult HexFileLoader::Load(std::string text, const std::string& fileName) {
  const auto held = std::make_shared<const std::string>(std::move(text));
  return LoadHeld(std::shared_ptr<const char>(held, held->data()), held->size(), fileName);
}

LoadResult HexFileLoader::LoadHeld(std::shared_ptr<const char> text, std::size_t size,
                                   const std::string& fileName) {
  const auto loading = std::make_shared<LoadedFirmware>();
  if (file_ != nullptr) {
    const LoadedFirmware& last = *file_->Loaded();
    for (int k = 0; k < kImageSlots; ++k) {
      loading->slots_[k].info.hardwareVersions = last.Info(k).hardwareVersions;
    }
    loading->shared_.displayLines = last.Shared().displayLines;
  }
  loading->text_ = std::move(text);
  loading->textSize_ = size;
  const std::string_view whole = loading->Text();
  const bool shown =
      progress_ != nullptr && progress_->BeginProgress(0, static_cast<int>(whole.size() / 8),
                                                       LoadString(ids::kLoadingHexFile), 1);
  LineCounter lines(whole);
  LoadResult result = ReadImages(*loading, whole, lines);
  if (result.ok()) {
    // A record that lost its ':' anywhere in the file, after the last image too, is a damaged
    // file, not a remark between records.
    loading->colonlessRecordLine_ = FirstColonlessRecordLine(whole);
    loading->fileName_ = fileName;
    loading->digest_ = Sha256Hex(whole);
  }
  if (shown) progress_->EndProgress();
  loaded_ = loading;
  if (file_ != nullptr) file_->Adopt(loaded_);
  return result;
}

LoadResult HexFileLoader::ReadImages(LoadedFirmware& file, std::string_view text,
                                     LineCounter& lines) {
  const auto unexpected = [](std::string detail) {
    return LoadResult{LoadStatus::kUnexpectedFormat, std::move(detail)};
  };
  const RecordChain::RecordRead recordRead = [this, &file](std::size_t position) {
    ++file.totalRecordsRead_;
    if (progress_ != nullptr) progress_->SetProgress(static_cast<int>(position / 8), {});
  };
  std::size_t pos = 0;
  bool moreImages = true;
  while (moreImages) {
    const int k = file.imageCount_;
    if (k >= kImageSlots) return unexpected("the file holds more than ten images");
    ImageSlot& slot = file.slots_[k];
    bool sawItem = false;
    if (!ParseMetadataBlock(text, &pos, slot.info, file.shared_, &sawItem)) {
      return unexpected("the file ends inside the metadata of image " + std::to_string(k + 1));
    }
    file.metadataPresent_ = file.metadataPresent_ || sawItem;
    RecordChain chain;
    if (!chain.Read(text, &pos, lines, recordRead)) {
      return unexpected("image " + std::to_string(k + 1) + " ends before its end record");
    }
    std::int32_t count = chain.Count();
    slot.chain = std::move(chain);
    ++file.imageCount_;

    const FirmwareInfo& first = file.slots_[0].info;
    if (FamilyOf(first.deviceType).twoRecordBlocks) {
      // These families carry a second record block without metadata right behind the first.
      if (file.imageCount_ >= kImageSlots) {
        return unexpected("the file holds more than ten images");
      }
      RecordChain second;
      if (!second.Read(text, &pos, lines, recordRead)) {
        return unexpected("the second record block ends before its end record");
      }
      count = second.Count();
      file.slots_[file.imageCount_].chain = std::move(second);
      moreImages = false;
      file.imageCount_ = 1;
    } else {
      moreImages = FindNextImage(text, &pos);
    }
    file.firstTypeFlag_ = FamilyOf(first.deviceType).fileStartsWithLoader;
    file.secondTypeFlag_ = FamilyOf(file.slots_[1].info.deviceType).loaderHandover;
    file.slots_[file.imageCount_ - 1].recordCount = count;
  }
  return {};
}

bool HexFileLoader::FindNextImage(std::string_view text, std::size_t* pos) {
  const std::size_t next = text.find_first_of("{:", *pos);
  if (next == std::string_view::npos) return false;
  *pos = next;
  return true;
}

}  // namespace vel
