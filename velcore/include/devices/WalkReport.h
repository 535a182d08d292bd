#pragma once

#include <chrono>
#include <cstddef>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/Waiting.h"
#include "devices/DeviceJobs.h"
#include "devices/DeviceList.h"
#include "devices/KeyMask.h"

namespace vel {

// One line of a walk report: one unit of one row (a row whose device never told its units has
// one line without a unit).
struct ReportLine {
  std::size_t row = 0;  // 1 for the first row of the list (or the first target)
  std::string name;
  std::string address;
  std::string port;
  std::string serialNumber;
  std::string unit;  // "0".."9", or empty
  std::string deviceType;
  std::string hardware;
  std::string firmwareBefore;
  std::string firmwareOfFile;
  bool downgrade = false;  // the unit was given firmware older than its own
  std::string outcome;     // one of the kReport... outcome texts
  int statusCode = 0;
  std::string statusText;
  std::string start;  // UTC, "2026-12-08T14:06:25.120Z"; empty when the row never began
  std::string end;
  double seconds = 0;
  // What the walk was, the same in every line, so that a retry can tell whose report it reads.
  std::string action;             // "update", "check", ... (JobKindName)
  std::string firmwareFile;       // the firmware file's name, empty for a check without one
  std::string firmwareDigest;     // the SHA-256 of the file as the row (or else the walk) read it
  std::size_t linesInReport = 0;  // the lines of the whole report: a report cut short is told
};

constexpr const char* kReportSuccess = "success";
constexpr const char* kReportFailed = "failed";
constexpr const char* kReportCancelled = "cancelled";
constexpr const char* kReportDeclined = "declined";
constexpr const char* kReportLeftOut = "left-out";
constexpr const char* kReportCurrent = "current";  // already held the file's firmware: left alone
constexpr const char* kReportNotReached = "not-reached";
constexpr const char* kReportUnknown = "unknown";  // the walk had not ended: in-progress report

// What a walk is: its kind and the firmware file it reads (its name without the folder, and its
// SHA-256 digest); empty texts for a check without a file.
struct WalkFacts {
  JobKind kind = JobKind::kUpdate;
  std::string firmwareFile;
  std::string firmwareDigest;
};

// The name by which a report knows a row, and how its device was reached (never its key).
struct ReportedRow {
  std::size_t row = 0;  // the job's row number (0 for the first)
  std::string name;
  std::string address;
  std::string port;
};

// How a report names a row of the device list, and a target given on the command line.
ReportedRow ReportedRowOfList(std::size_t row, const DeviceEntry& entry);
ReportedRow ReportedRowOfTarget(std::size_t row, const std::string& name,
                                const DeviceTarget& target);

// What a walk came to, row by row and unit by unit, gathered from the walk's events as they are
// published (from any worker thread).
class WalkReport {
 public:
  WalkReport(std::vector<ReportedRow> rows, WalkFacts facts);

  void Observe(const JobEvent& event);
  // The lines in the order of the rows; a row that never ended is not-reached, or cancelled when
  // the walk was.
  std::vector<ReportLine> Lines() const;
  // The report of the walk before it ends: a line a row, each unknown, so that a retry from it
  // runs every row. Written before the first device, it replaces a report that would otherwise
  // read as this walk's own if the walk never finished its report.
  std::vector<ReportLine> InProgressLines() const;

 private:
  struct RowRecord {
    ReportedRow row;
    std::optional<std::chrono::system_clock::time_point> start, end;
    std::optional<job::RowFinished> finished;
    bool skipped = false;
  };
  std::vector<ReportLine> LinesOf(const RowRecord& record) const;
  // Every line gets the walk's facts and the count of lines.
  std::vector<ReportLine> Completed(std::vector<ReportLine> lines) const;

  const WalkFacts facts_;
  mutable std::mutex mutex_;
  std::vector<RowRecord> records_;
  std::map<std::size_t, std::size_t> position_;  // job row -> its record
  bool walkCancelled_ = false;
};

// Passes every event on to `next` after the report has seen it.
class ReportingSink final : public JobEventSink {
 public:
  ReportingSink(WalkReport& report, JobEventSink& next) : report_(report), next_(next) {}
  void Publish(JobEvent event) override {
    report_.Observe(event);
    next_.Publish(std::move(event));
  }

 private:
  WalkReport& report_;
  JobEventSink& next_;
};

// The report as CSV (a header row, RFC 4180 quoting) or as JSON. Keys never reach them: every
// text that may come from outside is masked (`mask` knows the list's own keys).
std::string ReportCsv(const std::vector<ReportLine>& lines, const KeyMask& mask = KeyMask());
std::string ReportJson(const std::vector<ReportLine>& lines, const KeyMask& mask = KeyMask());
// CSV when the path ends in ".csv", JSON otherwise; replaces a regular file atomically, writes
// into a device or a FIFO (whose reader is waited for under `wait`).
Result WriteReport(const std::string& path, const std::vector<ReportLine>& lines,
                   const WaitControl& wait = {}, const KeyMask& mask = KeyMask());

// The report of one site of a roll-out, as its walk wrote it.
struct SiteReport {
  std::string site;
  std::vector<ReportLine> lines;
};
// The reports of several sites as one, in the order given: a "site" column leads each line, the
// rest are the report's own. CSV or JSON (format "zandor-merged-report").
std::string MergedReportText(const std::vector<SiteReport>& sites, bool csv);
// CSV when the path ends in ".csv", JSON otherwise; written as WriteReport writes.
Result WriteMergedReport(const std::string& path, const std::vector<SiteReport>& sites,
                         const WaitControl& wait = {});

// Reads a report written by WriteReport, in either form, whatever bytes it is given; fails with
// the reason when it is not such a report.
Expected<std::vector<ReportLine>> ReadReport(std::string_view bytes);
// The same for a report file (a regular file of sensible size).
Expected<std::vector<ReportLine>> ReadReportFile(const std::string& path);

// A line for each row of a device listing (`zandor devices list --json`), each not reached: the
// rows of a site a roll-out stopped before. Keys are not read.
Expected<std::vector<ReportLine>> NotReachedLines(std::string_view listing);
Expected<std::vector<ReportLine>> NotReachedLinesOfFile(const std::string& path);

// The rows of a report to run again, in its order: those that did not succeed (a unit left out
// counts as done). Their row numbers are the report's (1 for the first).
std::vector<ReportedRow> RowsToRetry(const std::vector<ReportLine>& lines);

// The rows of `list` that a report's unsuccessful rows name (by name, address and port), the
// report's rows that the list no longer holds, and the list's rows the report does not name.
struct RetryChoice {
  std::vector<std::size_t> listRows;
  std::vector<ReportedRow> gone;
  std::vector<std::size_t> uncovered;
};
RetryChoice ChooseRowsToRetry(const DeviceList& list, const std::vector<ReportLine>& lines);

// Whether a report read from a file can say what `walk` runs again: a whole report (every line
// it counts, at least one) of an update with the same firmware file, by name and digest. The
// failure says why not.
Result CanRetryFrom(const std::vector<ReportLine>& lines, const WalkFacts& walk);

}  // namespace vel
