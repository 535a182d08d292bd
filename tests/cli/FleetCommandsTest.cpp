// Walks over a fleet from the command line against simulated devices: the report of a walk, a
// retry of what it did not finish, staged roll-outs and their refusals of bad input.
#include <gtest/gtest.h>

#include <sstream>

#include "SimServer.h"
#include "devices/DeviceList.h"
#include "devices/WalkReport.h"
#include "support/CliRunner.h"
#include "support/Files.h"
#include "support/Ok.h"
#include "support/TempDir.h"

namespace zandor {
namespace {

using testing::CliRun;
using testing::Zandor;

const std::string kSample = std::string(ZANDOR_SAMPLES_DIR) + "/multi-unit.hex";
const std::string kKey = "00-11-22-33-44-55-66-77-88-99-AA-BB-CC-DD-EE-FF";

// The would_change field of each versions event of --json output, in order.
std::vector<std::string> WouldChange(const std::string& out) {
  std::vector<std::string> values;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    if (line.find("\"event\":\"versions\"") == std::string::npos) continue;
    const std::string field = "\"would_change\":";
    const std::size_t at = line.find(field);
    values.push_back(at == std::string::npos
                         ? "missing"
                         : line.substr(at + field.size(), line.find(',', at) - at - field.size()));
  }
  return values;
}

class Fleet : public ::testing::Test {
 protected:
  // A row named `name` reaching a new simulated device, or a closed port when `reachable` is
  // false; the device stays for the test.
  void AddRow(const std::string& name, bool reachable = true, const std::string& key = {},
              sim::SimConfig config = {}) {
    if (!key.empty()) config.key = "00112233445566778899AABBCCDDEEFF";
    auto server = std::make_unique<sim::SimServer>(config);
    const std::string port = std::to_string(server->StartTcp());
    if (reachable) {
      servers[name] = std::move(server);
    } else {
      server.reset();
    }
    std::vector<std::string> words = {"devices", "--list",    list,        "add",    "--name",
                                      name,      "--address", "127.0.0.1", "--port", port};
    if (!key.empty()) words.insert(words.end(), {"--key", key});
    ASSERT_EQ(Zandor(words).code, kExitOk);
  }
  // A row reaching a simulated device whose units hold these firmware versions and that runs
  // 3.05, the sample's version, once updated.
  void AddDevice(const std::string& name, const std::vector<std::string>& firmware) {
    sim::SimConfig config;
    config.units.clear();
    for (const std::string& version : firmware)
      config.units.push_back({0, "G4 ", "A1", version, {}});
    config.firmwareAfterUpdate = "305";
    AddRow(name, true, {}, config);
  }
  int Identifications(const std::string& name) const {
    return servers.at(name)->Device().IdentificationsAnswered();
  }
  std::size_t UnitsProgrammed(const std::string& name) const {
    return servers.at(name)->Device().Programmed().size();
  }
  // The outcome of each row of a report, by name.
  std::map<std::string, std::string> Outcomes(const std::string& report) const {
    const auto lines = vel::ReadReportFile(report);
    EXPECT_TRUE(Ok(lines));
    std::map<std::string, std::string> outcomes;
    if (Ok(lines)) {
      for (const vel::ReportLine& line : *lines) outcomes[line.name] = line.outcome;
    }
    return outcomes;
  }

  vel::testing::TempDir dir;
  const std::string list = dir.File("KestaLST.txt");
  std::map<std::string, std::unique_ptr<sim::SimServer>> servers;
};

TEST_F(Fleet, TheReportHasALinePerUnitAndNeverAKey) {
  AddRow("keyed", true, kKey);
  AddRow("dead", false);
  const std::string csv = dir.File("walk.csv"), json = dir.File("walk.json");
  const CliRun run =
      Zandor({"update", kSample, "--devices", list, "--parallel", "256", "--report", csv});
  EXPECT_EQ(run.code, kExitNegative) << run.out << run.err;
  const std::string text = vel::testing::ReadFile(csv);
  EXPECT_EQ(text.rfind("row,name,address,port,serial_number,unit,device_type,", 0), 0u) << text;
  EXPECT_EQ(text.find("AABBCC"), std::string::npos);
  EXPECT_EQ(text.find("AA-BB"), std::string::npos);
  const auto lines = vel::ReadReport(text);
  ASSERT_TRUE(Ok(lines));
  ASSERT_GE(lines->size(), 2u);
  EXPECT_EQ(lines->front().name, "keyed");
  EXPECT_EQ(lines->front().outcome, "success");
  EXPECT_EQ(lines->front().unit, "0");
  EXPECT_EQ(lines->back().name, "dead");
  EXPECT_EQ(lines->back().outcome, "failed");
  EXPECT_EQ(lines->back().row, 2u);
  EXPECT_EQ(lines->back().unit, "") << "a device that never answered has no units";
  EXPECT_GE(lines->front().seconds, 0.0);
  EXPECT_LE(lines->front().start, lines->front().end);

  EXPECT_EQ(Zandor({"check", "--devices", list, "--rows", "1", "--report", json}).code, kExitOk);
  const std::string checked = vel::testing::ReadFile(json);
  EXPECT_EQ(checked.rfind("{\"format\":\"zandor-walk-report\"", 0), 0u) << checked;
  EXPECT_NE(checked.find("\"outcome\":\"success\""), std::string::npos) << checked;
}

TEST_F(Fleet, AReportThatCannotBeWrittenStopsTheRunBeforeAnyDevice) {
  AddRow("A");
  for (const std::string& report : {dir.Path().string(), dir.File("no-folder/walk.csv")}) {
    const CliRun run = Zandor({"update", kSample, "--devices", list, "--report", report});
    EXPECT_EQ(run.code, kExitFileError);
    EXPECT_NE(run.err.find("cannot write the report " + report), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
  }
  EXPECT_EQ(Identifications("A"), 0);
}

TEST_F(Fleet, ARetryRunsExactlyTheRowsThatDidNotSucceed) {
  AddRow("A");
  AddRow("B", false);
  AddRow("C");
  const std::string report = dir.File("walk.json");
  ASSERT_EQ(
      Zandor({"update", kSample, "--devices", list, "--stop-on-failure", "--report", report}).code,
      kExitNegative);
  EXPECT_EQ(Identifications("C"), 0) << "not reached after B failed";
  const int a = Identifications("A");

  const CliRun retry = Zandor({"update", kSample, "--devices", list, "--retry", report});
  EXPECT_EQ(retry.code, kExitNegative) << "B still fails";
  EXPECT_EQ(Identifications("A"), a) << "A succeeded and is left alone";
  EXPECT_GT(Identifications("C"), 0);
  EXPECT_NE(retry.out.find("row 3 C"), std::string::npos) << retry.out;
  EXPECT_EQ(retry.out.find("row 1 A"), std::string::npos) << retry.out;

  // A row the list no longer holds is named and skipped.
  ASSERT_EQ(Zandor({"devices", "--list", list, "remove", "2"}).code, kExitOk);
  const CliRun gone = Zandor({"update", kSample, "--devices", list, "--retry", report});
  EXPECT_EQ(gone.code, kExitNegative);
  EXPECT_NE(gone.err.find("row 2 B [127.0.0.1:"), std::string::npos) << gone.err;
  EXPECT_NE(gone.err.find("no longer in the list; skipped"), std::string::npos) << gone.err;
}

TEST_F(Fleet, AnUnreadableOrForeignReportChangesNothing) {
  AddRow("A");
  const std::string foreign = dir.File("foreign.csv");
  vel::testing::WriteText(foreign, "name,address,port\nA,127.0.0.1,1\n");
  const std::string before = vel::testing::ReadFile(list);
  for (const std::string& report : {foreign, dir.File("missing.json"), dir.Path().string()}) {
    const CliRun run = Zandor({"update", kSample, "--devices", list, "--retry", report});
    EXPECT_EQ(run.code, kExitFileError) << report;
    EXPECT_NE(run.err.find("zandor: " + report + ": "), std::string::npos) << run.err;
  }
  EXPECT_EQ(Identifications("A"), 0);
  EXPECT_EQ(vel::testing::ReadFile(list), before);
  EXPECT_EQ(Zandor({"update", kSample, "tcp:127.0.0.1:1", "--retry", foreign}).code, kExitUsage);
  EXPECT_EQ(Zandor({"update", kSample, "--devices", list, "--retry", foreign, "--rows", "1"}).code,
            kExitUsage);
}

TEST_F(Fleet, ARunThatSkipsCurrentDevicesProgramsOnlyWhatWouldChange) {
  AddDevice("current", {"305"});
  AddDevice("older", {"100"});
  AddDevice("mixed", {"305", "300"});  // one unit behind: the device is updated
  const std::string report = dir.File("walk.csv");
  const CliRun check = Zandor({"check", "--file", kSample, "--devices", list, "--json"});
  EXPECT_EQ(check.code, kExitOk) << check.err;
  EXPECT_EQ(WouldChange(check.out), (std::vector<std::string>{"false", "true", "true"}))
      << check.out;

  const CliRun first = Zandor(
      {"update", kSample, "--devices", list, "--skip-current", "--json", "--report", report});
  EXPECT_EQ(first.code, kExitOk) << first.out << first.err;
  EXPECT_EQ(UnitsProgrammed("current"), 0u) << "no block frame to a device that is current";
  EXPECT_EQ(servers.at("current")->Device().EndOfBlocksReceived(), 0);
  EXPECT_EQ(UnitsProgrammed("older"), 1u);
  EXPECT_EQ(UnitsProgrammed("mixed"), 2u);
  EXPECT_EQ(Outcomes(report),
            (std::map<std::string, std::string>{
                {"current", "current"}, {"older", "success"}, {"mixed", "success"}}));
  const auto lines = vel::ReadReportFile(report);
  ASSERT_TRUE(Ok(lines));
  EXPECT_EQ(lines->front().firmwareBefore, "3.05");
  EXPECT_EQ(lines->front().firmwareOfFile, "3.05") << "the version it holds is the file's";
  EXPECT_NE(first.out.find("\"text\":\"Device already holds the file's firmware\",\"success\":true,"
                           "\"interrupted\":false,\"current\":true}"),
            std::string::npos)
      << first.out;

  // Run again: everything now holds 3.05 and nothing is programmed.
  const CliRun again =
      Zandor({"update", kSample, "--devices", list, "--skip-current", "--report", report});
  EXPECT_EQ(again.code, kExitOk) << again.out << again.err;
  EXPECT_EQ(UnitsProgrammed("older") + UnitsProgrammed("mixed"), 3u);
  EXPECT_EQ(Outcomes(report),
            (std::map<std::string, std::string>{
                {"current", "current"}, {"older", "current"}, {"mixed", "current"}}));
  // Without the option a current device is programmed again, as before.
  EXPECT_EQ(Zandor({"update", kSample, "--devices", list, "--rows", "1"}).code, kExitOk);
  EXPECT_EQ(UnitsProgrammed("current"), 1u);
}

TEST_F(Fleet, AFailedCanaryStopsTheRollOut) {
  AddRow("canary", false);
  AddRow("B");
  AddRow("C");
  const CliRun run =
      Zandor({"update", kSample, "--devices", list, "--canary", "1", "--parallel", "256"});
  EXPECT_EQ(run.code, kExitNegative);
  EXPECT_NE(run.out.find("row 2 B [tcp:127.0.0.1:"), std::string::npos);
  EXPECT_NE(run.out.find("]: Not reached: the first row did not succeed"), std::string::npos)
      << run.out;
  EXPECT_EQ(Identifications("B") + Identifications("C"), 0);
}

TEST(FleetUsage, StagedAndParallelOptionsAreChecked) {
  vel::testing::TempDir dir;
  const std::string list = dir.File("KestaLST.txt");
  ASSERT_EQ(Zandor({"devices", "--list", list, "add", "--name", "A"}).code, kExitOk);
  EXPECT_EQ(Zandor({"update", kSample, "--devices", list, "--parallel", "257"}).code, kExitUsage);
  EXPECT_EQ(Zandor({"update", kSample, "--devices", list, "--canary", "0"}).code, kExitUsage);
  EXPECT_EQ(Zandor({"check", "--devices", list, "--canary", "1"}).code, kExitUsage);
  const CliRun help = Zandor({"update", "--help"});
  for (const char* option :
       {"--report FILE", "--canary N", "--stop-on-failure", "--retry REPORT", "--skip-current"}) {
    EXPECT_NE(help.out.find(option), std::string::npos) << option;
  }
}

TEST(FleetUsage, AKeyIsTakenInEitherSpellingAndKeptDashed) {
  vel::testing::TempDir dir;
  const std::string list = dir.File("KestaLST.txt");
  const std::string digits = "00112233445566778899AABBCCDDEEFF";
  const std::string dashed = "00-11-22-33-44-55-66-77-88-99-AA-BB-CC-DD-EE-FF";
  ASSERT_EQ(Zandor({"devices", "--list", list, "add", "--name", "A", "--address", "10.0.0.5",
                    "--port", "5000", "--key", digits})
                .code,
            kExitOk);
  ASSERT_EQ(Zandor({"devices", "--list", list, "add", "--name", "B", "--address", "10.0.0.6",
                    "--port", "5000", "--key", dashed})
                .code,
            kExitOk);
  const std::string shown = Zandor({"devices", "--list", list, "list", "--show-keys"}).out;
  EXPECT_EQ(shown.find(digits), std::string::npos) << "the list keeps keys dashed: " << shown;
  const std::size_t at = shown.find(dashed);
  ASSERT_NE(at, std::string::npos) << shown;
  EXPECT_NE(shown.find(dashed, at + 1), std::string::npos) << "both rows hold the key";
  const std::string text = vel::testing::ReadFile(list);
  const CliRun wrong = Zandor({"devices", "--list", list, "add", "--key", "0011"});
  EXPECT_NE(wrong.code, kExitOk);
  EXPECT_NE(wrong.err.find("32 hexadecimal digits or 16 dash-separated pairs"), std::string::npos)
      << wrong.err;
  EXPECT_EQ(vel::testing::ReadFile(list), text) << "a refused row changes nothing";
}

}  // namespace
}  // namespace zandor
