#include "image/VelHexFile.h"

#include <algorithm>
#include <cstring>

namespace vel {

namespace {

// How often `c` stands in `text` (memchr runs far faster than a loop over the characters).
std::size_t CountChar(std::string_view text, char c) {
  std::size_t count = 0;
  const char* p = text.data();
  const char* end = p + text.size();
  while ((p = static_cast<const char*>(std::memchr(p, c, static_cast<std::size_t>(end - p)))) !=
         nullptr) {
    ++count;
    ++p;
  }
  return count;
}

// Whether anything but blanks stands between `pos` and the end of its line.
bool TextFollowsOnLine(std::string_view text, std::size_t pos) {
  for (; pos < text.size() && text[pos] != '\n'; ++pos) {
    const char c = text[pos];
    if (c != ' ' && c != '\t' && c != '\r') return true;
  }
  return false;
}

}  // namespace

std::int64_t LineCounter::LineAt(std::size_t position) {
  line_ += static_cast<std::int64_t>(CountChar(text_.substr(counted_, position - counted_), '\n'));
  counted_ = position;
  return line_;
}

const VelHexFile* VelHexFile::FindRecord(std::int32_t number) const {
  const VelHexFile* node = this;
  while (node != nullptr && number < node->recordNumber_) node = node->previous_;
  while (node != nullptr && number > node->recordNumber_) node = node->next_;
  return node != nullptr && node->recordNumber_ == number ? node : nullptr;
}

const VelHexFile* VelHexFile::TakeLine(std::string* line) const {
  *line = record_.FormatLine();
  return next_;
}

RecordChain& RecordChain::operator=(RecordChain&& other) noexcept {
  nodes_ = std::move(other.nodes_);  // the nodes stay where they are: the links hold
  return *this;
}

bool RecordChain::Read(std::string_view text, std::size_t* pos, LineCounter& lines,
                       const RecordRead& recordRead) {
  // Every record begins with a ':', so the colons ahead bound the records: one allocation.
  nodes_.reserve(nodes_.size() + CountChar(text.substr(*pos), ':'));
  bool complete = false;
  for (;;) {
    VelHexFile node;
    std::size_t colon = 0;
    if (!node.record_.ReadInPlace(text, pos, &colon)) break;
    node.line_ = lines.LineAt(colon);
    node.trailingText_ = TextFollowsOnLine(text, *pos);
    node.recordNumber_ = static_cast<std::int32_t>(nodes_.size()) + 1;
    const bool end = node.record_.Type() == kEndOfFileRecord;
    nodes_.push_back(std::move(node));
    if (recordRead) recordRead(*pos);
    if (end) {
      complete = true;
      break;
    }
  }
  // A file of several images reserved for all of them: give back what this one does not use.
  if (nodes_.capacity() > 2 * nodes_.size()) nodes_.shrink_to_fit();
  Link();
  return complete;
}

void RecordChain::Link() {
  for (std::size_t i = 0; i < nodes_.size(); ++i) {
    nodes_[i].previous_ = i > 0 ? &nodes_[i - 1] : nullptr;
    nodes_[i].next_ = i + 1 < nodes_.size() ? &nodes_[i + 1] : nullptr;
  }
}

}  // namespace vel
