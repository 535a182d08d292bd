#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "devices/WalkReport.h"

namespace vel {

// The columns of a walk report, in their order: the CSV header and the JSON keys.
inline constexpr std::array<const char*, 21> kReportColumns = {"row",
                                                               "name",
                                                               "address",
                                                               "port",
                                                               "serial_number",
                                                               "unit",
                                                               "device_type",
                                                               "hardware",
                                                               "firmware_before",
                                                               "firmware_of_file",
                                                               "downgrade",
                                                               "outcome",
                                                               "status_code",
                                                               "status_text",
                                                               "start",
                                                               "end",
                                                               "seconds",
                                                               "action",
                                                               "firmware_file",
                                                               "firmware_sha256",
                                                               "lines_in_report"};
inline constexpr std::size_t kReportColumnCount = kReportColumns.size();
// What marks a JSON report as one of ours, and the version of its layout.
inline constexpr const char* kReportFormat = "zandor-walk-report";
inline constexpr int kReportVersion = 2;
// The reports of several sites as one, a "site" leading each line's columns.
inline constexpr const char* kMergedReportFormat = "zandor-merged-report";

// The columns written as JSON numbers.
constexpr bool IsNumberColumn(std::size_t column) {
  const std::string_view name = kReportColumns[column];
  return name == "row" || name == "status_code" || name == "seconds" || name == "lines_in_report";
}

// The columns whose text may come from outside (names, device texts, messages), which are masked
// for keys; the others are the program's own (numbers, outcomes, the file's digest).
constexpr bool IsMaskedColumn(std::size_t column) {
  const std::string_view name = kReportColumns[column];
  return !IsNumberColumn(column) && name != "firmware_sha256" && name != "outcome" &&
         name != "action" && name != "downgrade";
}

// A line's cells as text, in column order.
std::vector<std::string> ReportCells(const ReportLine& line);
// The line the cells of one report line stand for; nothing when a cell does not fit its column.
std::optional<ReportLine> LineOfCells(const std::vector<std::string>& cells);

}  // namespace vel
