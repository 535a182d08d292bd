#include "image/VelHexFile.h"

namespace vel {

VelHexFile::~VelHexFile() {
  // Unlink the successors one at a time so a long chain never recurses.
  std::unique_ptr<VelHexFile> rest = std::move(next_);
  while (rest) rest = std::move(rest->next_);
}

std::int32_t VelHexFile::Serialize(ByteStream& in, RecordReadObserver* observer) {
  VelHexFile* node = this;
  VelHexFile* lastRead = previous_;
  std::int32_t running = lastRead != nullptr ? lastRead->recordNumber_ : 0;
  for (;;) {
    if (node->recordNumber_ == 0) {
      node->recordNumber_ = running + 1;
      node->previous_ = lastRead;
    }
    lastRead = node;
    running = node->recordNumber_;
    if (!node->record_.Serialize(in, &node->line_)) return 0;
    if (observer != nullptr) observer->RecordRead(in);
    if (node->record_.Type() == kEndOfFileRecord) return running;
    node->next_ = std::make_unique<VelHexFile>();
    node = node->next_.get();
  }
}

const VelHexFile* VelHexFile::FindRecord(std::int32_t number) const {
  const VelHexFile* node = this;
  while (node != nullptr && number < node->recordNumber_) node = node->previous_;
  while (node != nullptr && number > node->recordNumber_) node = node->next_.get();
  return node != nullptr && node->recordNumber_ == number ? node : nullptr;
}

const VelHexFile* VelHexFile::TakeLine(std::string* line) const {
  *line = record_.FormatLine();
  return next_.get();
}

}  // namespace vel
