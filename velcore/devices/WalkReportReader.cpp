// Reading a walk report back, in either of its forms, from whatever bytes a file holds.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

#include "devices/ReportColumns.h"
#include "devices/WalkReport.h"

namespace vel {

namespace {

constexpr int kMaxJsonDepth = 16;                 // a report nests three deep
constexpr std::size_t kMaxReportRow = 1'000'000;  // far more rows than any list holds
constexpr double kMaxSeconds = 1e9;
constexpr std::uintmax_t kMaxReportBytes = 64u << 20;

// A parsed JSON value: a number keeps its text, a string its decoded text.
struct JsonValue {
  enum class Type { kNull, kBool, kNumber, kString, kArray, kObject };
  Type type = Type::kNull;
  std::string text;
  std::vector<JsonValue> items;   // an array's; an object's values
  std::vector<std::string> keys;  // an object's keys, one for each of its items

  const JsonValue* Member(const std::string& key) const {
    for (std::size_t i = 0; i < keys.size(); ++i) {
      if (keys[i] == key) return &items[i];
    }
    return nullptr;
  }
};

// RFC 8259 with a depth limit; any deviation makes the whole text unreadable.
class JsonParser {
 public:
  explicit JsonParser(std::string_view text) : text_(text) {}

  std::optional<JsonValue> Document() {
    JsonValue value;
    if (!Value(value, 0)) return std::nullopt;
    SkipSpace();
    if (at_ != text_.size()) return std::nullopt;
    return value;
  }

 private:
  void SkipSpace() {
    while (at_ < text_.size() &&
           (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\n' || text_[at_] == '\r')) {
      ++at_;
    }
  }
  bool Take(char c) {
    SkipSpace();
    if (at_ >= text_.size() || text_[at_] != c) return false;
    ++at_;
    return true;
  }
  bool Word(std::string_view word) {
    if (text_.substr(at_, word.size()) != word) return false;
    at_ += word.size();
    return true;
  }

  bool Value(JsonValue& value, int depth) {
    if (depth > kMaxJsonDepth) return false;
    SkipSpace();
    if (at_ >= text_.size()) return false;
    switch (text_[at_]) {
      case '{':
        value.type = JsonValue::Type::kObject;
        return Object(value, depth);
      case '[':
        value.type = JsonValue::Type::kArray;
        return Array(value, depth);
      case '"':
        value.type = JsonValue::Type::kString;
        return String(value.text);
      case 't':
        value.type = JsonValue::Type::kBool;
        return Word("true");
      case 'f':
        value.type = JsonValue::Type::kBool;
        return Word("false");
      case 'n':
        return Word("null");
      default:
        value.type = JsonValue::Type::kNumber;
        return Number(value.text);
    }
  }

  bool Object(JsonValue& value, int depth) {
    ++at_;
    if (Take('}')) return true;
    do {
      std::string key;
      JsonValue member;
      SkipSpace();
      if (!String(key) || !Take(':') || !Value(member, depth + 1)) return false;
      value.keys.push_back(std::move(key));
      value.items.push_back(std::move(member));
    } while (Take(','));
    return Take('}');
  }

  bool Array(JsonValue& value, int depth) {
    ++at_;
    if (Take(']')) return true;
    do {
      JsonValue item;
      if (!Value(item, depth + 1)) return false;
      value.items.push_back(std::move(item));
    } while (Take(','));
    return Take(']');
  }

  bool Number(std::string& out) {
    const std::size_t start = at_;
    const auto digits = [&] {
      const std::size_t from = at_;
      while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9') ++at_;
      return at_ > from;
    };
    if (at_ < text_.size() && text_[at_] == '-') ++at_;
    if (!digits()) return false;
    if (at_ < text_.size() && text_[at_] == '.') {
      ++at_;
      if (!digits()) return false;
    }
    if (at_ < text_.size() && (text_[at_] == 'e' || text_[at_] == 'E')) {
      ++at_;
      if (at_ < text_.size() && (text_[at_] == '+' || text_[at_] == '-')) ++at_;
      if (!digits()) return false;
    }
    out = std::string(text_.substr(start, at_ - start));
    return true;
  }

  std::optional<unsigned> Hex4() {
    if (at_ + 4 > text_.size()) return std::nullopt;
    unsigned value = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = text_[at_++];
      const int digit = c >= '0' && c <= '9'   ? c - '0'
                        : c >= 'a' && c <= 'f' ? c - 'a' + 10
                        : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                               : -1;
      if (digit < 0) return std::nullopt;
      value = value * 16 + static_cast<unsigned>(digit);
    }
    return value;
  }

  static void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }

  bool Escape(std::string& out) {
    if (at_ >= text_.size()) return false;
    const char c = text_[at_++];
    static constexpr std::string_view kFrom = "\"\\/bfnrt", kTo = "\"\\/\b\f\n\r\t";
    if (const std::size_t k = kFrom.find(c); k != std::string_view::npos) {
      out += kTo[k];
      return true;
    }
    if (c != 'u') return false;
    const auto high = Hex4();
    if (!high || (*high >= 0xDC00 && *high <= 0xDFFF)) return false;
    if (*high < 0xD800 || *high > 0xDBFF) {
      AppendUtf8(out, *high);
      return true;
    }
    if (!Word("\\u")) return false;
    const auto low = Hex4();
    if (!low || *low < 0xDC00 || *low > 0xDFFF) return false;
    AppendUtf8(out, 0x10000 + ((*high - 0xD800) << 10) + (*low - 0xDC00));
    return true;
  }

  bool String(std::string& out) {
    if (at_ >= text_.size() || text_[at_] != '"') return false;
    ++at_;
    while (at_ < text_.size()) {
      const char c = text_[at_++];
      if (c == '"') return true;
      if (static_cast<unsigned char>(c) < 0x20) return false;
      if (c == '\\') {
        if (!Escape(out)) return false;
      } else {
        out += c;
      }
    }
    return false;
  }

  std::string_view text_;
  std::size_t at_ = 0;
};

// RFC 4180 records: fields apart by commas, quoted fields with doubled quotes, records ending in
// CRLF (or LF); nothing when a quote is left open or stands inside an unquoted field.
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

std::optional<std::vector<ReportLine>> ReadCsv(std::string_view text, std::string* error) {
  const auto records = CsvRecords(text);
  const std::vector<std::string> header(kReportColumns.begin(), kReportColumns.end());
  if (!records || records->empty() || records->front() != header) {
    *error = "not a walk report (no report header)";
    return std::nullopt;
  }
  std::vector<ReportLine> lines;
  for (std::size_t r = 1; r < records->size(); ++r) {
    const auto line = LineOfCells((*records)[r]);
    if (!line) {
      *error = "line " + std::to_string(r + 1) + " of the report is not a report line";
      return std::nullopt;
    }
    lines.push_back(*line);
  }
  return lines;
}

std::optional<std::vector<ReportLine>> ReadJson(std::string_view text, std::string* error) {
  const auto document = JsonParser(text).Document();
  const JsonValue* format = document ? document->Member("format") : nullptr;
  const JsonValue* version = document ? document->Member("version") : nullptr;
  const JsonValue* items = document ? document->Member("lines") : nullptr;
  if (format == nullptr || format->type != JsonValue::Type::kString ||
      format->text != kReportFormat || items == nullptr || items->type != JsonValue::Type::kArray) {
    *error = "not a walk report";
    return std::nullopt;
  }
  if (version == nullptr || version->text != std::to_string(kReportVersion)) {
    *error = "a walk report of another version";
    return std::nullopt;
  }
  std::vector<ReportLine> lines;
  for (std::size_t i = 0; i < items->items.size(); ++i) {
    std::vector<std::string> cells;
    for (std::size_t c = 0; c < kReportColumnCount; ++c) {
      const JsonValue* cell = items->items[i].Member(kReportColumns[c]);
      const auto wanted = IsNumberColumn(c) ? JsonValue::Type::kNumber : JsonValue::Type::kString;
      if (cell == nullptr || cell->type != wanted) break;
      cells.push_back(cell->text);
    }
    const auto line = cells.size() == kReportColumnCount ? LineOfCells(cells) : std::nullopt;
    if (!line) {
      *error = "entry " + std::to_string(i + 1) + " of the report is not a report line";
      return std::nullopt;
    }
    lines.push_back(*line);
  }
  return lines;
}

std::optional<long long> WholeNumber(const std::string& text, long long low, long long high) {
  if (text.empty() || text.size() > 12) return std::nullopt;
  const std::size_t digitsFrom = text[0] == '-' ? 1 : 0;
  if (digitsFrom == text.size() ||
      !std::all_of(text.begin() + static_cast<long>(digitsFrom), text.end(),
                   [](char c) { return c >= '0' && c <= '9'; })) {
    return std::nullopt;
  }
  const long long value = std::stoll(text);
  if (value < low || value > high) return std::nullopt;
  return value;
}

}  // namespace

std::optional<ReportLine> LineOfCells(const std::vector<std::string>& cells) {
  static const std::set<std::string> kOutcomes = {kReportSuccess,   kReportFailed,
                                                  kReportCancelled, kReportDeclined,
                                                  kReportLeftOut,   kReportNotReached};
  if (cells.size() != kReportColumnCount) return std::nullopt;
  const auto row = WholeNumber(cells[0], 1, kMaxReportRow);
  const auto status = WholeNumber(cells[11], -2'147'483'647, 2'147'483'647);
  if (!row || !status || kOutcomes.count(cells[10]) == 0) return std::nullopt;
  char* end = nullptr;
  errno = 0;
  const double seconds = std::strtod(cells[15].c_str(), &end);
  if (cells[15].empty() || *end != '\0' || errno != 0 ||
      !(seconds >= 0 && seconds <= kMaxSeconds)) {
    return std::nullopt;
  }
  ReportLine line;
  line.row = static_cast<std::size_t>(*row);
  line.name = cells[1];
  line.address = cells[2];
  line.port = cells[3];
  line.serialNumber = cells[4];
  line.unit = cells[5];
  line.deviceType = cells[6];
  line.hardware = cells[7];
  line.firmwareBefore = cells[8];
  line.firmwareOfFile = cells[9];
  line.outcome = cells[10];
  line.statusCode = static_cast<int>(*status);
  line.statusText = cells[12];
  line.start = cells[13];
  line.end = cells[14];
  line.seconds = seconds;
  return line;
}

std::optional<std::vector<ReportLine>> ReadReport(std::string_view bytes, std::string* error) {
  const std::size_t first = bytes.find_first_not_of(" \t\r\n");
  if (first != std::string_view::npos && bytes[first] == '{') return ReadJson(bytes, error);
  return ReadCsv(bytes, error);
}

std::optional<std::vector<ReportLine>> ReadReportFile(const std::string& path, std::string* error) {
  std::error_code failure;
  if (!std::filesystem::is_regular_file(path, failure)) {
    *error = failure ? failure.message() : "not a regular file";
    return std::nullopt;
  }
  const std::uintmax_t size = std::filesystem::file_size(path, failure);
  if (failure || size > kMaxReportBytes) {
    *error = failure ? failure.message() : "too large for a walk report";
    return std::nullopt;
  }
  std::ifstream in(path, std::ios::binary);
  const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (!in && !in.eof()) {
    *error = "cannot be read";
    return std::nullopt;
  }
  return ReadReport(bytes, error);
}

std::vector<ReportedRow> RowsToRetry(const std::vector<ReportLine>& lines) {
  std::vector<ReportedRow> rows;
  std::set<std::size_t> failed;
  for (const ReportLine& line : lines) {
    if (line.outcome != kReportSuccess && line.outcome != kReportLeftOut) failed.insert(line.row);
  }
  std::set<std::size_t> taken;
  for (const ReportLine& line : lines) {
    if (failed.count(line.row) == 0 || !taken.insert(line.row).second) continue;
    rows.push_back(ReportedRow{line.row, line.name, line.address, line.port});
  }
  return rows;
}

}  // namespace vel
