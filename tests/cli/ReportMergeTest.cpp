// zandor report merge: the reports of several sites as one, each line led by its site, and the
// refusals that leave every file as it was.
#include <gtest/gtest.h>

#include <filesystem>

#include "devices/WalkReport.h"
#include "support/CliRunner.h"
#include "support/Files.h"
#include "support/TempDir.h"

namespace zandor {
namespace {

using testing::CliRun;
using testing::Zandor;

vel::ReportLine Line(std::size_t row, const std::string& name, const char* outcome,
                     std::size_t linesInReport) {
  vel::ReportLine line;
  line.row = row;
  line.name = name;
  line.address = "127.0.0.1";
  line.port = "5000";
  line.outcome = outcome;
  line.action = "update";
  line.linesInReport = linesInReport;
  return line;
}

class ReportMerge : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(vel::WriteReport(north, {Line(1, "A", vel::kReportSuccess, 2),
                                         Line(2, "B, \"the second\"", vel::kReportCurrent, 2)})
                    .ok());
    ASSERT_TRUE(vel::WriteReport(south, {Line(1, "C", vel::kReportFailed, 1)}).ok());
  }
  vel::testing::TempDir dir;
  const std::string north = dir.File("north.json");
  const std::string south = dir.File("south.csv");
};

TEST_F(ReportMerge, EveryLineKeepsItsColumnsBehindItsSite) {
  const CliRun csv = Zandor({"report", "merge", "north=" + north, "south=" + south});
  ASSERT_EQ(csv.code, kExitOk) << csv.err;
  EXPECT_EQ(csv.out.rfind("site,row,name,address,port,", 0), 0u) << csv.out;
  EXPECT_NE(csv.out.find("\r\nnorth,1,A,127.0.0.1,5000,"), std::string::npos) << csv.out;
  EXPECT_NE(csv.out.find("\r\nnorth,2,\"B, \"\"the second\"\"\",127.0.0.1,"), std::string::npos);
  EXPECT_NE(csv.out.find("\r\nsouth,1,C,"), std::string::npos);
  EXPECT_NE(csv.out.find(",current,"), std::string::npos);

  const std::string merged = dir.File("fleet.json");
  ASSERT_EQ(Zandor({"report", "merge", "--out", merged, "south=" + south, "north=" + north}).code,
            kExitOk);
  const std::string json = vel::testing::ReadFile(merged);
  EXPECT_EQ(json.rfind("{\"format\":\"zandor-merged-report\",\"version\":2,\"lines\":[\n"
                       "{\"site\":\"south\",\"row\":1,\"name\":\"C\",",
                       0),
            0u)
      << json;
  EXPECT_NE(json.find("{\"site\":\"north\",\"row\":2,"), std::string::npos) << json;
}

TEST_F(ReportMerge, ASiteTheRollOutNeverReachedListsItsRowsNotReachedAndNoKey) {
  const std::string list = dir.File("KestaLST.txt"), listing = dir.File("east.rows.json");
  ASSERT_EQ(Zandor({"devices", "--list", list, "add", "--name", "E1", "--address", "10.0.0.7",
                    "--port", "5000", "--key", "00112233445566778899AABBCCDDEEFF"})
                .code,
            kExitOk);
  ASSERT_EQ(Zandor({"devices", "--list", list, "add", "--name", "E2"}).code, kExitOk);
  const CliRun rows = Zandor({"devices", "--list", list, "list", "--json"});
  ASSERT_EQ(rows.code, kExitOk);
  vel::testing::WriteText(listing, rows.out);
  const CliRun merged =
      Zandor({"report", "merge", "north=" + north, "--not-reached", "east=" + listing});
  ASSERT_EQ(merged.code, kExitOk) << merged.err;
  EXPECT_NE(merged.out.find("\r\neast,1,E1,10.0.0.7,5000,,,,,,,,not-reached,0,Not reached: the "
                            "roll-out stopped before this site,"),
            std::string::npos)
      << merged.out;
  EXPECT_NE(merged.out.find("\r\neast,2,E2,"), std::string::npos);
  EXPECT_EQ(merged.out.find("AABBCC"), std::string::npos);
  EXPECT_EQ(merged.out.find("AA-BB"), std::string::npos);
  // Sources that hold no line at all make no report.
  const std::string none = dir.File("none.rows.json"), out = dir.File("fleet.csv");
  vel::testing::WriteText(none, "[]\n");
  const CliRun empty = Zandor({"report", "merge", "--out", out, "--not-reached", "east=" + none});
  EXPECT_EQ(empty.code, kExitNegative);
  EXPECT_NE(empty.err.find("hold no line"), std::string::npos) << empty.err;
  EXPECT_FALSE(std::filesystem::exists(out));
  // A listing that is not one is refused like an unreadable report.
  EXPECT_EQ(Zandor({"report", "merge", "--not-reached", "east=" + north}).code, kExitFileError);
}

TEST_F(ReportMerge, BadInputStopsItWithNothingWritten) {
  const std::string out = dir.File("fleet.csv");
  vel::testing::WriteText(out, "kept");
  struct Case {
    std::vector<std::string> words;
    int code;
  };
  const std::vector<Case> cases = {
      {{"report", "merge", "--out", out}, kExitUsage},
      {{"report", "merge", "--out", out, north}, kExitUsage},
      {{"report", "merge", "--out", out, "=" + north}, kExitUsage},
      {{"report", "merge", "--out", out, "a=" + north, "a=" + south}, kExitUsage},
      {{"report", "join", "a=" + north}, kExitUsage},
      {{"report", "merge", "a=" + north, "--not-reached"}, kExitUsage},
      {{"report", "merge", "a=" + north, "--not-reached", "a=" + north}, kExitUsage},
      {{"report", "merge", "--out", out, "a=" + north, "b=" + dir.File("missing.json")},
       kExitFileError},
      {{"report", "merge", "--out", out, "a=" + north, "b=" + out}, kExitFileError},
      {{"report", "merge", "--out", north, "a=" + north}, kExitFileError},
  };
  for (const Case& c : cases) {
    const CliRun run = Zandor(c.words);
    EXPECT_EQ(run.code, c.code) << c.words.back() << ": " << run.err;
    EXPECT_NE(run.err, "");
  }
  EXPECT_EQ(vel::testing::ReadFile(out), "kept");
  EXPECT_EQ(vel::testing::ReadFile(north).rfind("{\"format\":\"zandor-walk-report\"", 0), 0u);
}

}  // namespace
}  // namespace zandor
