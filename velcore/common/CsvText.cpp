#include "common/CsvText.h"

namespace vel {

std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

std::optional<std::vector<std::vector<std::string>>> CsvRecords(std::string_view text) {
  std::vector<std::vector<std::string>> records;
  std::vector<std::string> record;
  std::string field;
  std::size_t at = 0;
  while (at < text.size()) {
    if (text[at] == '"' && field.empty()) {
      for (++at;; ++at) {
        if (at >= text.size()) return std::nullopt;
        if (text[at] != '"') {
          field += text[at];
        } else if (at + 1 < text.size() && text[at + 1] == '"') {
          field += '"';
          ++at;
        } else {
          break;
        }
      }
      ++at;  // past the closing quote: a separator or the record's end must follow
      if (at < text.size() && text[at] != ',' && text[at] != '\r' && text[at] != '\n') {
        return std::nullopt;
      }
      continue;
    }
    const char c = text[at++];
    if (c == ',') {
      record.push_back(std::move(field));
      field.clear();
    } else if (c == '\n' || (c == '\r' && at < text.size() && text[at] == '\n')) {
      if (c == '\r') ++at;
      record.push_back(std::move(field));
      field.clear();
      records.push_back(std::move(record));
      record.clear();
    } else if (c == '"' || c == '\r') {
      return std::nullopt;
    } else {
      field += c;
    }
  }
  if (!field.empty() || !record.empty()) {
    record.push_back(std::move(field));
    records.push_back(std::move(record));
  }
  return records;
}

}  // namespace vel
