// Reading a walk report back, in either of its forms, from whatever bytes a file holds.
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

#include "common/CsvText.h"
#include "common/JsonValue.h"
#include "common/Strings.h"
#include "devices/ReportColumns.h"
#include "devices/WalkReport.h"

namespace vel {

namespace {

constexpr int kMaxJsonDepth = 16;                 // a report nests three deep
constexpr std::size_t kMaxReportRow = 1'000'000;  // far more rows than any list holds
constexpr double kMaxSeconds = 1e9;
constexpr std::uintmax_t kMaxReportBytes = 64u << 20;

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
  const auto document = ParseJson(text, kMaxJsonDepth);
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
  static const std::set<std::string> kOutcomes = {
      kReportSuccess, kReportFailed,     kReportCancelled, kReportDeclined,
      kReportLeftOut, kReportNotReached, kReportUnknown,   kReportCurrent};
  if (cells.size() != kReportColumnCount) return std::nullopt;
  // The cells by column name, so that the layout is said once, in kReportColumns.
  const auto cell = [&](std::string_view name) -> const std::string& {
    const auto column = std::find_if(kReportColumns.begin(), kReportColumns.end(),
                                     [&](const char* c) { return name == c; });
    return cells[static_cast<std::size_t>(column - kReportColumns.begin())];
  };
  const auto row = WholeNumber(cell("row"), 1, kMaxReportRow);
  const auto status = WholeNumber(cell("status_code"), -2'147'483'647, 2'147'483'647);
  const auto count = WholeNumber(cell("lines_in_report"), 1, kMaxReportRow);
  const std::string& downgrade = cell("downgrade");
  if (!row || !status || !count || kOutcomes.count(cell("outcome")) == 0 ||
      (downgrade != "yes" && !downgrade.empty())) {
    return std::nullopt;
  }
  const std::string& secondsText = cell("seconds");
  char* end = nullptr;
  errno = 0;
  const double seconds = std::strtod(secondsText.c_str(), &end);
  if (secondsText.empty() || *end != '\0' || errno != 0 ||
      !(seconds >= 0 && seconds <= kMaxSeconds)) {
    return std::nullopt;
  }
  ReportLine line;
  line.row = static_cast<std::size_t>(*row);
  line.name = cell("name");
  line.address = cell("address");
  line.port = cell("port");
  line.serialNumber = cell("serial_number");
  line.unit = cell("unit");
  line.deviceType = cell("device_type");
  line.hardware = cell("hardware");
  line.firmwareBefore = cell("firmware_before");
  line.firmwareOfFile = cell("firmware_of_file");
  line.downgrade = !downgrade.empty();
  line.outcome = cell("outcome");
  line.statusCode = static_cast<int>(*status);
  line.statusText = cell("status_text");
  line.start = cell("start");
  line.end = cell("end");
  line.seconds = seconds;
  line.action = cell("action");
  line.firmwareFile = cell("firmware_file");
  line.firmwareDigest = cell("firmware_sha256");
  line.linesInReport = static_cast<std::size_t>(*count);
  return line;
}

Expected<std::vector<ReportLine>> ReadReport(std::string_view bytes) {
  std::string error;
  const std::size_t first = bytes.find_first_not_of(" \t\r\n");
  auto lines = first != std::string_view::npos && bytes[first] == '{' ? ReadJson(bytes, &error)
                                                                      : ReadCsv(bytes, &error);
  if (!lines) return Result::Failed(error);
  return std::move(*lines);
}

Expected<std::vector<ReportLine>> NotReachedLines(std::string_view listing) {
  const auto document = ParseJson(listing, kMaxJsonDepth);
  if (!document || document->type != JsonValue::Type::kArray) {
    return Result::Failed("not a device listing (zandor devices list --json)");
  }
  std::vector<ReportLine> lines;
  for (std::size_t i = 0; i < document->items.size(); ++i) {
    const JsonValue& item = document->items[i];
    const auto text = [&](const char* name) -> const std::string* {
      const JsonValue* value = item.Member(name);
      return value != nullptr && value->type == JsonValue::Type::kString ? &value->text : nullptr;
    };
    const JsonValue* row = item.Member("row");
    const auto number = row != nullptr && row->type == JsonValue::Type::kNumber
                            ? WholeNumber(row->text, 1, kMaxReportRow)
                            : std::nullopt;
    if (!number || !text("name") || !text("address") || !text("port")) {
      return Result::Failed("entry " + std::to_string(i + 1) + " of the listing is not a row");
    }
    ReportLine line;
    line.row = static_cast<std::size_t>(*number);
    line.name = *text("name");
    line.address = *text("address");
    line.port = *text("port");
    line.outcome = kReportNotReached;
    line.statusText = std::string(text::kSiteNotReached);
    line.linesInReport = document->items.size();
    lines.push_back(std::move(line));
  }
  return lines;
}

namespace {

// The whole of a regular file of sensible size.
Expected<std::string> ReportBytes(const std::string& path) {
  std::error_code failure;
  if (!std::filesystem::is_regular_file(path, failure)) {
    return Result::Failed(failure ? failure.message() : "not a regular file");
  }
  const std::uintmax_t size = std::filesystem::file_size(path, failure);
  if (failure || size > kMaxReportBytes) {
    return Result::Failed(failure ? failure.message() : "too large for a walk report");
  }
  std::ifstream in(path, std::ios::binary);
  std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (!in && !in.eof()) return Result::Failed("cannot be read");
  return bytes;
}

}  // namespace

Expected<std::vector<ReportLine>> ReadReportFile(const std::string& path) {
  const auto bytes = ReportBytes(path);
  if (!bytes) return Result::Failed(bytes.error());
  return ReadReport(*bytes);
}

Expected<std::vector<ReportLine>> NotReachedLinesOfFile(const std::string& path) {
  const auto bytes = ReportBytes(path);
  if (!bytes) return Result::Failed(bytes.error());
  return NotReachedLines(*bytes);
}

std::vector<ReportedRow> RowsToRetry(const std::vector<ReportLine>& lines) {
  std::vector<ReportedRow> rows;
  std::set<std::size_t> failed;
  for (const ReportLine& line : lines) {
    if (line.outcome != kReportSuccess && line.outcome != kReportLeftOut &&
        line.outcome != kReportCurrent) {
      failed.insert(line.row);
    }
  }
  std::set<std::size_t> taken;
  for (const ReportLine& line : lines) {
    if (failed.count(line.row) == 0 || !taken.insert(line.row).second) continue;
    rows.push_back(ReportedRow{line.row, line.name, line.address, line.port});
  }
  return rows;
}

}  // namespace vel
