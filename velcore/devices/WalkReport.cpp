#include "devices/WalkReport.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "common/AtomicFile.h"
#include "common/CsvText.h"
#include "common/Format.h"
#include "common/JsonText.h"
#include "common/Strings.h"
#include "devices/KeyMask.h"
#include "devices/ReportColumns.h"

namespace vel {

namespace {

constexpr mode_t kReportMode = 0644;

std::string UtcText(std::chrono::system_clock::time_point time) {
  const auto since = time.time_since_epoch();
  const std::time_t seconds = std::chrono::duration_cast<std::chrono::seconds>(since).count();
  const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(since).count() % 1000;
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[96];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                static_cast<int>(millis));
  return text;
}

const char* OutcomeText(Outcome outcome) {
  switch (outcome) {
    case Outcome::kSucceeded:
      return kReportSuccess;
    case Outcome::kCancelled:
      return kReportCancelled;
    case Outcome::kDeclined:
      return kReportDeclined;
    case Outcome::kNotReached:
      return kReportNotReached;
    case Outcome::kCurrent:
      return kReportCurrent;
    default:
      return kReportFailed;
  }
}

// A unit line's outcome: the row's, unless the update left the unit otherwise. A programmed
// unit succeeded also in a row that failed; a unit a successful update sent nothing to was left
// out of it.
std::string UnitLineOutcome(const std::string& rowOutcome, UnitOutcome unit, bool sentToUnits) {
  if (!sentToUnits) return rowOutcome;
  if (unit == UnitOutcome::kProgrammed) return kReportSuccess;
  if (unit == UnitOutcome::kNotSent && rowOutcome == kReportSuccess) return kReportLeftOut;
  return rowOutcome;
}

std::string SecondsText(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", seconds);
  return text;
}

}  // namespace

ReportedRow ReportedRowOfList(std::size_t row, const DeviceEntry& entry) {
  return ReportedRow{row, entry.name, entry.address, entry.port};
}

ReportedRow ReportedRowOfTarget(std::size_t row, const std::string& name,
                                const DeviceTarget& target) {
  const bool serial = target.kind == LinkKind::kSerial;
  return ReportedRow{row, name, serial ? kDefaultSerial : target.address,
                     serial ? target.portName : target.port};
}

namespace {

bool Names(const DeviceEntry& entry, const std::string& name, const std::string& address,
           const std::string& port) {
  return entry.name == name && entry.address == address && entry.port == port;
}

}  // namespace

RetryChoice ChooseRowsToRetry(const DeviceList& list, const std::vector<ReportLine>& lines) {
  RetryChoice choice;
  for (const ReportedRow& wanted : RowsToRetry(lines)) {
    bool found = false;
    for (std::size_t r = 0; r < list.Count(); ++r) {
      if (!Names(list.Row(r), wanted.name, wanted.address, wanted.port)) continue;
      found = true;
      if (std::find(choice.listRows.begin(), choice.listRows.end(), r) == choice.listRows.end()) {
        choice.listRows.push_back(r);
      }
    }
    if (!found) choice.gone.push_back(wanted);
  }
  std::sort(choice.listRows.begin(), choice.listRows.end());
  for (std::size_t r = 0; r < list.Count(); ++r) {
    const bool named = std::any_of(lines.begin(), lines.end(), [&](const ReportLine& line) {
      return Names(list.Row(r), line.name, line.address, line.port);
    });
    if (!named) choice.uncovered.push_back(r);
  }
  return choice;
}

Result CanRetryFrom(const std::vector<ReportLine>& lines, const WalkFacts& walk) {
  if (lines.empty()) return Result::Failed("the report holds no rows; nothing to retry from it");
  if (lines.front().linesInReport != lines.size() ||
      std::any_of(lines.begin(), lines.end(), [&](const ReportLine& line) {
        return line.linesInReport != lines.front().linesInReport;
      })) {
    return Result::Failed(Format("the report is cut short: it holds %zu of its %zu lines",
                                 lines.size(), lines.front().linesInReport));
  }
  const std::string action = JobKindName(walk.kind);
  for (const ReportLine& line : lines) {
    if (line.action != action) {
      return Result::Failed("a report of a " + line.action + " walk, not of an " + action +
                            "; nothing to retry from it");
    }
    if (line.firmwareFile != walk.firmwareFile) {
      return Result::Failed("the report was made with the firmware file " + line.firmwareFile +
                            ", not " + walk.firmwareFile);
    }
    if (line.firmwareDigest != walk.firmwareDigest) {
      return Result::Failed("the report was made with another " + walk.firmwareFile +
                            " (its contents differ)");
    }
  }
  return Result::Done();
}

WalkReport::WalkReport(std::vector<ReportedRow> rows, WalkFacts facts) : facts_(std::move(facts)) {
  for (ReportedRow& row : rows) {
    position_[row.row] = records_.size();
    records_.push_back(RowRecord{std::move(row), {}, {}, {}, false});
  }
}

void WalkReport::Observe(const JobEvent& event) {
  using Kind = JobEvent::Kind;
  const Kind kind = event.kind();
  if (kind != Kind::kRowBegun && kind != Kind::kRowFinished && kind != Kind::kRowSkipped &&
      kind != Kind::kWalkFinished) {
    return;
  }
  const auto now = std::chrono::system_clock::now();
  std::lock_guard<std::mutex> lock(mutex_);
  if (const auto* walk = event.If<job::WalkFinished>()) {
    walkCancelled_ = walk->cancelled;
    return;
  }
  const auto found = position_.find(event.row);
  if (found == position_.end()) return;
  RowRecord& record = records_[found->second];
  if (kind == Kind::kRowSkipped) {
    record.skipped = true;  // unticked before the walk came to it: not part of the walk
  } else if (kind == Kind::kRowBegun) {
    record.start = now;
  } else {
    if (record.start) record.end = now;  // a row ended without beginning has no times
    record.finished = event.As<job::RowFinished>();
  }
}

std::vector<ReportLine> WalkReport::LinesOf(const RowRecord& record) const {
  ReportLine line;
  line.row = record.row.row + 1;
  line.name = record.row.name;
  line.address = record.row.address;
  line.port = record.row.port;
  if (record.start) line.start = UtcText(*record.start);
  if (record.end) line.end = UtcText(*record.end);
  if (record.start && record.end) {
    line.seconds = std::chrono::duration<double>(*record.end - *record.start).count();
  }
  if (!record.finished) {
    // A row the walk never ended: stopped by a cancel, or never reached.
    line.outcome = walkCancelled_ ? kReportCancelled : kReportNotReached;
    if (walkCancelled_) {
      line.statusCode = ids::kOperationCancelled;
      line.statusText = LoadString(ids::kOperationCancelled);
    }
    return {line};
  }
  const job::RowFinished& finished = *record.finished;
  line.outcome = OutcomeText(finished.outcome);
  line.statusCode = finished.statusCode;
  line.statusText = finished.text + finished.notes;
  line.serialNumber = finished.serialNumber;
  line.firmwareDigest = finished.firmwareDigest;
  if (finished.deviceUnits.empty()) return {line};
  std::vector<ReportLine> lines;
  for (const FinishedUnit& unit : finished.deviceUnits) {
    ReportLine unitLine = line;
    unitLine.unit = std::to_string(unit.unit);
    unitLine.deviceType = unit.deviceType;
    unitLine.hardware = unit.hardware;
    unitLine.firmwareBefore = unit.firmwareBefore;
    unitLine.firmwareOfFile = unit.firmwareOfFile;
    unitLine.downgrade = unit.downgrade;
    unitLine.outcome = UnitLineOutcome(line.outcome, unit.outcome, facts_.kind != JobKind::kCheck);
    const auto& leftOut = finished.leftOutUnits;
    if (std::find(leftOut.begin(), leftOut.end(), unit.unit) != leftOut.end()) {
      unitLine.outcome = kReportLeftOut;
    }
    lines.push_back(std::move(unitLine));
  }
  return lines;
}

std::vector<ReportLine> WalkReport::Lines() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<ReportLine> lines;
  for (const RowRecord& record : records_) {
    if (record.skipped) continue;
    for (ReportLine& line : LinesOf(record)) lines.push_back(std::move(line));
  }
  return Completed(std::move(lines));
}

std::vector<ReportLine> WalkReport::InProgressLines() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<ReportLine> lines;
  for (const RowRecord& record : records_) {
    ReportLine line;
    line.row = record.row.row + 1;
    line.name = record.row.name;
    line.address = record.row.address;
    line.port = record.row.port;
    line.outcome = kReportUnknown;
    line.statusText = std::string(text::kWalkNotEnded);
    lines.push_back(std::move(line));
  }
  return Completed(std::move(lines));
}

std::vector<ReportLine> WalkReport::Completed(std::vector<ReportLine> lines) const {
  for (ReportLine& line : lines) {
    line.action = JobKindName(facts_.kind);
    line.firmwareFile = facts_.firmwareFile;
    if (line.firmwareDigest.empty()) line.firmwareDigest = facts_.firmwareDigest;
    line.linesInReport = lines.size();
  }
  return lines;
}

namespace {

// A report's text; `sites`, when not empty, names each line's site in a first column.
std::string CsvText(const std::vector<ReportLine>& lines, const KeyMask& mask,
                    const std::vector<std::string>& sites) {
  std::string out = sites.empty() ? "" : "site,";
  for (std::size_t c = 0; c < kReportColumnCount; ++c) {
    out += std::string(c ? "," : "") + kReportColumns[c];
  }
  out += "\r\n";
  for (std::size_t l = 0; l < lines.size(); ++l) {
    if (!sites.empty()) out += CsvField(mask(sites[l])) + ",";
    const auto cells = ReportCells(lines[l]);
    for (std::size_t c = 0; c < cells.size(); ++c) {
      const std::string cell = IsMaskedColumn(c) ? mask(cells[c]) : cells[c];
      out += (c ? "," : "") + (IsNumberColumn(c) ? cell : CsvField(cell));
    }
    out += "\r\n";
  }
  return out;
}

std::string JsonText(const std::vector<ReportLine>& lines, const KeyMask& mask, const char* format,
                     const std::vector<std::string>& sites) {
  std::string out = "{\"format\":" + JsonString(format) +
                    ",\"version\":" + std::to_string(kReportVersion) + ",\"lines\":[";
  for (std::size_t l = 0; l < lines.size(); ++l) {
    const auto cells = ReportCells(lines[l]);
    out += l ? ",\n{" : "\n{";
    if (!sites.empty()) out += "\"site\":" + JsonString(mask(sites[l])) + ",";
    for (std::size_t c = 0; c < cells.size(); ++c) {
      out += std::string(c ? "," : "") + "\"" + kReportColumns[c] + "\":";
      // Numbers stay numbers; every other column is text.
      const std::string cell = IsMaskedColumn(c) ? mask(cells[c]) : cells[c];
      out += IsNumberColumn(c) ? cell : JsonString(cell);
    }
    out += "}";
  }
  return out + "\n]}\n";
}

bool EndsInCsv(const std::string& path) {
  return path.size() >= 4 && path.compare(path.size() - 4, 4, ".csv") == 0;
}

}  // namespace

std::string ReportCsv(const std::vector<ReportLine>& lines, const KeyMask& mask) {
  return CsvText(lines, mask, {});
}

std::string ReportJson(const std::vector<ReportLine>& lines, const KeyMask& mask) {
  return JsonText(lines, mask, kReportFormat, {});
}

std::string MergedReportText(const std::vector<SiteReport>& sites, bool csv) {
  std::vector<ReportLine> lines;
  std::vector<std::string> names;
  for (const SiteReport& site : sites) {
    lines.insert(lines.end(), site.lines.begin(), site.lines.end());
    names.insert(names.end(), site.lines.size(), site.site);
  }
  return csv ? CsvText(lines, KeyMask(), names)
             : JsonText(lines, KeyMask(), kMergedReportFormat, names);
}

Result WriteMergedReport(const std::string& path, const std::vector<SiteReport>& sites,
                         const WaitControl& wait) {
  return WriteIntoPath(path, MergedReportText(sites, EndsInCsv(path)), kReportMode, wait);
}

Result WriteReport(const std::string& path, const std::vector<ReportLine>& lines,
                   const WaitControl& wait, const KeyMask& mask) {
  return WriteIntoPath(path, EndsInCsv(path) ? ReportCsv(lines, mask) : ReportJson(lines, mask),
                       kReportMode, wait);
}

std::vector<std::string> ReportCells(const ReportLine& line) {
  return {std::to_string(line.row),
          line.name,
          line.address,
          line.port,
          line.serialNumber,
          line.unit,
          line.deviceType,
          line.hardware,
          line.firmwareBefore,
          line.firmwareOfFile,
          line.downgrade ? "yes" : "",
          line.outcome,
          std::to_string(line.statusCode),
          line.statusText,
          line.start,
          line.end,
          SecondsText(line.seconds),
          line.action,
          line.firmwareFile,
          line.firmwareDigest,
          std::to_string(line.linesInReport)};
}

}  // namespace vel
