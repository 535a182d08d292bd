// Walk reports: what a walk's events come to line by line, both written forms read back, keys
// kept out, foreign files refused, and the rows a retry takes.
#include <gtest/gtest.h>

#include "common/Strings.h"
#include "devices/WalkReport.h"
#include "support/Files.h"
#include "support/Ok.h"
#include "support/TempDir.h"

namespace vel {
namespace {

// A two-unit device whose unit 1 no image of the file fits.
job::RowFinished FinishedTwoUnits() {
  job::RowFinished event;
  event.outcome = Outcome::kSucceeded;
  event.statusCode = ids::kUpdateSuccessful;
  event.text = "Device Update Successful";
  event.serialNumber = "KX12345678";
  event.deviceUnits = {{0, "G4 ", "1.0", "2.10", "2.11", false, UnitOutcome::kProgrammed},
                       {1, "UST", "1.0", "1.00", "", false, UnitOutcome::kNotSent}};
  event.firmwareDigest = "digest-of-fw";
  event.leftOutUnits = {1};
  return event;
}

const WalkFacts kFacts{JobKind::kUpdate, "fw.hex", "digest-of-fw"};

std::vector<ReportedRow> SampleRows() {
  return {{0, "rack, \"A\"", "10.0.0.5", "3000"},
          {1, "line\nbreak", kDefaultSerial, "3"},
          {2, "never", "10.0.0.7", "3000"}};
}

std::vector<ReportLine> SampleLines() {
  WalkReport report(SampleRows(), kFacts);
  report.Observe(JobEvent{0, job::RowBegun{}});
  report.Observe({0, FinishedTwoUnits()});
  report.Observe(JobEvent{1, job::RowBegun{}});
  job::RowFinished failed;
  failed.outcome = Outcome::kNotResponding;
  failed.statusCode = ids::kUpdateFailed;
  failed.text = "Device Update Failed";
  report.Observe({1, failed});
  report.Observe({0, job::WalkFinished{}});
  return report.Lines();
}

TEST(WalkReport, OneLinePerUnitWithEachUnitsOutcome) {
  const auto lines = SampleLines();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0].row, 1u);
  EXPECT_EQ(lines[0].unit, "0");
  EXPECT_EQ(lines[0].outcome, "success");
  EXPECT_EQ(lines[0].firmwareBefore, "2.10");
  EXPECT_EQ(lines[0].firmwareOfFile, "2.11");
  EXPECT_EQ(lines[0].serialNumber, "KX12345678");
  EXPECT_EQ(lines[1].unit, "1");
  EXPECT_EQ(lines[1].outcome, "left-out");
  // A device that never answered has one line, without a unit.
  EXPECT_EQ(lines[2].unit, "");
  EXPECT_EQ(lines[2].outcome, "failed");
  EXPECT_EQ(lines[2].statusCode, ids::kUpdateFailed);
  EXPECT_FALSE(lines[2].start.empty());
  EXPECT_GE(lines[2].seconds, 0.0);
  // A row the walk never began.
  EXPECT_EQ(lines[3].outcome, "not-reached");
  EXPECT_EQ(lines[3].start, "");
  // Every line names the walk and counts the report's lines; a row names the file it read.
  for (const ReportLine& line : lines) {
    EXPECT_EQ(line.action, "update");
    EXPECT_EQ(line.firmwareFile, "fw.hex");
    EXPECT_EQ(line.linesInReport, 4u);
  }
  EXPECT_EQ(lines[3].firmwareDigest, "digest-of-fw") << "a row that read nothing: the walk's";
}

// A three-unit device whose update failed after unit 2 was programmed, in the middle of unit 1,
// and before unit 0: only the programmed unit's line is a success, and the row is retried.
TEST(WalkReport, AUnitLineSaysWhatTheUpdateLeftOnItsUnit) {
  for (const JobKind kind : {JobKind::kUpdate, JobKind::kCheck}) {
    WalkReport report({{0, "A", "10.0.0.5", "3000"}}, WalkFacts{kind, "fw.hex", "digest"});
    job::RowFinished finished;
    finished.outcome = Outcome::kFailed;
    finished.statusCode = ids::kUpdateFailed;
    finished.deviceUnits = {{0, "G4 ", "A1", "1.00", "3.05", false, UnitOutcome::kNotSent},
                            {1, "G4 ", "B2", "1.00", "3.05", false, UnitOutcome::kFailedPartWay},
                            {2, "G6 ", "A1", "1.00", "3.05", false, UnitOutcome::kProgrammed}};
    report.Observe({0, finished});
    const auto lines = ReadReport(ReportCsv(report.Lines()));
    ASSERT_TRUE(Ok(lines));
    ASSERT_EQ(lines->size(), 3u);
    EXPECT_EQ((*lines)[0].outcome, "failed");
    EXPECT_EQ((*lines)[1].outcome, "failed");
    // A check sends nothing: whatever the units say, its lines are the row's.
    EXPECT_EQ((*lines)[2].outcome, kind == JobKind::kUpdate ? "success" : "failed");
    EXPECT_EQ(RowsToRetry(*lines).size(), 1u) << "the row failed";
  }
  // A unit a successful update sent nothing to (the operator did not tick it) was left out.
  WalkReport report({{0, "A", "10.0.0.5", "3000"}}, kFacts);
  job::RowFinished finished = FinishedTwoUnits();
  finished.leftOutUnits.clear();
  report.Observe({0, finished});
  const auto lines = report.Lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].outcome, "success");
  EXPECT_EQ(lines[1].outcome, "left-out");
}

TEST(WalkReport, BeforeTheWalkEndsEveryRowIsUnknownAndARetryTakesThemAll) {
  WalkReport report(SampleRows(), kFacts);
  report.Observe(JobEvent{0, job::RowBegun{}});
  report.Observe({0, FinishedTwoUnits()});
  const auto lines = report.InProgressLines();
  ASSERT_EQ(lines.size(), 3u);
  for (const ReportLine& line : lines) {
    EXPECT_EQ(line.outcome, kReportUnknown);
    EXPECT_EQ(line.linesInReport, 3u);
  }
  const auto again = ReadReport(ReportJson(lines));
  ASSERT_TRUE(Ok(again));
  EXPECT_TRUE(Ok(CanRetryFrom(*again, kFacts)));
  EXPECT_EQ(RowsToRetry(*again).size(), 3u);
}

TEST(WalkReport, ADowngradeAndTheFileARowReadAreItsOwn) {
  WalkReport report({{0, "A", "10.0.0.5", "3000"}}, kFacts);
  job::RowFinished finished = FinishedTwoUnits();
  finished.deviceUnits[0].downgrade = true;
  finished.firmwareDigest = "digest-of-a-file-changed-since";
  report.Observe({0, finished});
  const auto lines = report.Lines();
  EXPECT_EQ(lines[0].firmwareDigest, "digest-of-a-file-changed-since");
  EXPECT_FALSE(CanRetryFrom(lines, kFacts).ok()) << "what the row was sent is not the file now";
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_TRUE(lines[0].downgrade);
  EXPECT_FALSE(lines[1].downgrade);
  for (const std::string& text : {ReportCsv(lines), ReportJson(lines)}) {
    const auto again = ReadReport(text);
    ASSERT_TRUE(Ok(again)) << text;
    EXPECT_TRUE((*again)[0].downgrade);
    EXPECT_FALSE((*again)[1].downgrade);
  }
}

TEST(WalkReport, RowsEndedUnbegunHaveNoTimesAndThoseNeverEndedFollowTheWalk) {
  WalkReport report({{4, "A", "10.0.0.5", "3000"}, {5, "B", "10.0.0.6", "3000"}}, kFacts);
  job::RowFinished notReached;
  notReached.outcome = Outcome::kNotReached;
  notReached.text = "Not reached: an earlier row did not succeed";
  report.Observe({5, notReached});
  job::WalkFinished finished;
  finished.cancelled = true;
  report.Observe({0, finished});
  const auto lines = report.Lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].row, 5u);
  EXPECT_EQ(lines[0].outcome, "cancelled");
  EXPECT_EQ(lines[0].statusCode, ids::kOperationCancelled);
  EXPECT_EQ(lines[1].outcome, "not-reached");
  EXPECT_EQ(lines[1].statusText, notReached.text);
  EXPECT_EQ(lines[1].start + lines[1].end, "");
}

TEST(WalkReport, BothFormsReadBackToTheSameLines) {
  const auto lines = SampleLines();
  const std::string csv = ReportCsv(lines);
  EXPECT_EQ(csv.substr(0, csv.find("\r\n")),
            "row,name,address,port,serial_number,unit,device_type,hardware,firmware_before,"
            "firmware_of_file,downgrade,outcome,status_code,status_text,start,end,seconds,action,"
            "firmware_file,firmware_sha256,lines_in_report");
  EXPECT_NE(csv.find("\"rack, \"\"A\"\"\""), std::string::npos) << csv;
  for (const std::string& text : {csv, ReportJson(lines)}) {
    const auto again = ReadReport(text);
    ASSERT_TRUE(Ok(again)) << text;
    ASSERT_EQ(again->size(), lines.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
      EXPECT_EQ((*again)[i].name, lines[i].name);
      EXPECT_EQ((*again)[i].port, lines[i].port);
      EXPECT_EQ((*again)[i].outcome, lines[i].outcome);
      EXPECT_EQ((*again)[i].statusText, lines[i].statusText);
      EXPECT_EQ((*again)[i].start, lines[i].start);
      EXPECT_NEAR((*again)[i].seconds, lines[i].seconds, 0.001);
      EXPECT_EQ((*again)[i].firmwareDigest, lines[i].firmwareDigest);
      EXPECT_EQ((*again)[i].linesInReport, lines[i].linesInReport);
    }
  }
}

TEST(WalkReport, KeysNeverReachEitherForm) {
  ReportLine line;
  line.row = 1;
  line.name = "rack 00112233445566778899AABBCCDDEEFF";
  line.statusText = "key 00-11-22-33-44-55-66-77-88-99-AA-BB-CC-DD-EE-FF refused";
  line.outcome = kReportFailed;
  line.linesInReport = 1;
  for (const std::string& text : {ReportCsv({line}), ReportJson({line})}) {
    EXPECT_EQ(text.find("AABBCC"), std::string::npos) << text;
    EXPECT_EQ(text.find("AA-BB"), std::string::npos) << text;
    EXPECT_NE(text.find("<key>"), std::string::npos) << text;
  }
}

TEST(WalkReport, ForeignOrDamagedReportsAreRefusedWithAReason) {
  const std::string good = ReportCsv(SampleLines());
  const std::string json = ReportJson(SampleLines());
  std::string version1 = json;
  version1.replace(version1.find("\"version\":2"), 11, "\"version\":1");
  const std::string foreign[] = {
      "",
      "name,address,port\r\nA,10.0.0.5,3000\r\n",
      good.substr(0, good.size() - 30) + "\"open quote",
      good + "1,A,b,c\r\n",
      std::string(good).replace(good.find("success"), 7, "maybe!!"),
      "{\"format\":\"something else\",\"version\":2,\"lines\":[]}",
      version1,
      json.substr(0, json.size() / 2),
      "{\"lines\":" + std::string(100000, '[') + std::string(100000, ']') + "}",
      "{\"format\":\"zandor-walk-report\",\"version\":2,\"lines\":[{\"row\":\"1\"}]}",
      "\xff\xfe\x00\x01",
  };
  for (const std::string& text : foreign) {
    const auto read = ReadReport(text);
    EXPECT_FALSE(read.ok()) << text.substr(0, 80);
    EXPECT_FALSE(read.error().empty());
  }
  const auto read = ReadReport(version1);
  EXPECT_FALSE(read.ok());
  EXPECT_NE(read.error().find("another version"), std::string::npos) << read.error();
}

TEST(WalkReport, WrittenAtomicallyAsCsvOrJsonByItsName) {
  testing::TempDir dir;
  ASSERT_TRUE(Ok(WriteReport(dir.File("r.csv"), SampleLines())));
  ASSERT_TRUE(Ok(WriteReport(dir.File("r.json"), SampleLines())));
  EXPECT_EQ(testing::ReadFile(dir.File("r.csv")).rfind("row,name,", 0), 0u);
  EXPECT_EQ(testing::ReadFile(dir.File("r.json")).rfind("{\"format\":", 0), 0u);
  EXPECT_FALSE(WriteReport(dir.Path().string(), SampleLines()));
  EXPECT_TRUE(Ok(ReadReportFile(dir.File("r.csv"))));
  EXPECT_FALSE(ReadReportFile(dir.Path().string()).ok());
  EXPECT_FALSE(ReadReportFile(dir.File("missing.csv")).ok());
}

TEST(WalkReport, RetryTakesTheRowsThatDidNotSucceedStillInTheList) {
  const auto lines = SampleLines();  // row 1 succeeded (a unit left out), 2 failed, 3 not reached
  const auto rows = RowsToRetry(lines);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].row, 2u);
  EXPECT_EQ(rows[1].name, "never");

  DeviceList list;
  for (const char* name : {"rack, \"A\"", "other", "never"}) {
    const std::size_t row = list.AddDevice();
    ASSERT_TRUE(Ok(list.SetCell(row, DeviceColumn::kName, name)));
    ASSERT_TRUE(Ok(list.SetCell(row, DeviceColumn::kAddress, row == 2 ? "10.0.0.7" : "10.0.0.5")));
    ASSERT_TRUE(Ok(list.SetCell(row, DeviceColumn::kPort, "3000")));
  }
  const RetryChoice choice = ChooseRowsToRetry(list, lines);
  EXPECT_EQ(choice.listRows, std::vector<std::size_t>{2});
  ASSERT_EQ(choice.gone.size(), 1u);  // the serial row is no longer in the list
  EXPECT_EQ(choice.gone[0].name, "line\nbreak");
  EXPECT_EQ(choice.uncovered, std::vector<std::size_t>{1}) << "\"other\" is in no line";
}

TEST(WalkReport, ARetryTakesOnlyAWholeUpdateReportOfTheSameFile) {
  const auto lines = SampleLines();
  EXPECT_TRUE(Ok(CanRetryFrom(lines, kFacts)));
  const auto refusal = [&](const std::vector<ReportLine>& report, const WalkFacts& walk) {
    const Result usable = CanRetryFrom(report, walk);
    EXPECT_FALSE(usable.ok());
    return usable.error();
  };
  EXPECT_NE(refusal(lines, {JobKind::kUpdate, "fw.hex", "another-digest"}).find("contents differ"),
            std::string::npos);
  EXPECT_NE(refusal(lines, {JobKind::kUpdate, "fw-1.21.hex", "digest-of-fw"}).find("fw.hex"),
            std::string::npos);
  std::vector<ReportLine> checked = lines;
  for (ReportLine& line : checked) line.action = "check";
  EXPECT_NE(refusal(checked, kFacts).find("check"), std::string::npos);
  // A report cut at a line boundary, or holding only its header, is told from a whole one.
  const std::string csv = ReportCsv(lines);
  const auto cut = ReadReport(csv.substr(0, csv.rfind("\r\n", csv.size() - 3) + 2));
  ASSERT_TRUE(Ok(cut));
  ASSERT_EQ(cut->size(), lines.size() - 1);
  EXPECT_NE(refusal(*cut, kFacts).find("cut short"), std::string::npos);
  const auto header = ReadReport(csv.substr(0, csv.find("\r\n") + 2));
  ASSERT_TRUE(Ok(header));
  EXPECT_NE(refusal(*header, kFacts).find("no rows"), std::string::npos);
}

}  // namespace
}  // namespace vel
