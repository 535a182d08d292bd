#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "devices/WalkReport.h"

namespace vel {

// The columns of a walk report, in their order: the CSV header and the JSON keys.
inline constexpr std::array<const char*, 16> kReportColumns = {"row",
                                                               "name",
                                                               "address",
                                                               "port",
                                                               "serial_number",
                                                               "unit",
                                                               "device_type",
                                                               "hardware",
                                                               "firmware_before",
                                                               "firmware_of_file",
                                                               "outcome",
                                                               "status_code",
                                                               "status_text",
                                                               "start",
                                                               "end",
                                                               "seconds"};
inline constexpr std::size_t kReportColumnCount = kReportColumns.size();
// What marks a JSON report as one of ours, and the version of its layout.
inline constexpr const char* kReportFormat = "zandor-walk-report";
inline constexpr int kReportVersion = 1;

// The columns written as JSON numbers: row, status code, seconds.
constexpr bool IsNumberColumn(std::size_t column) {
  return column == 0 || column == 11 || column == 15;
}

// A line's cells as text, in column order.
std::vector<std::string> ReportCells(const ReportLine& line);
// The line the cells of one report line stand for; nothing when a cell does not fit its column.
std::optional<ReportLine> LineOfCells(const std::vector<std::string>& cells);

}  // namespace vel
