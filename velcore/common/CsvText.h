#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vel {

// A CSV field for `text`: as it is, or quoted with its quotes doubled when it holds a comma, a
// quote or a line end (RFC 4180).
std::string CsvField(const std::string& text);

// RFC 4180 records: fields apart by commas, quoted fields with doubled quotes, records ending in
// CRLF (or LF); nothing when a quote is left open or stands inside an unquoted field.
std::optional<std::vector<std::vector<std::string>>> CsvRecords(std::string_view text);

}  // namespace vel
