// What `zandor update` says of each unit of a multi-unit device whose unit selection was refused:
// the log line naming the unit, the result line, and the report's unit lines read back, against
// the simulator's record of what each unit holds.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <sstream>

#include "SimServer.h"
#include "devices/WalkReport.h"
#include "support/CliRunner.h"
#include "support/CutSamples.h"
#include "support/Files.h"
#include "support/Ok.h"
#include "support/Subprocess.h"
#include "support/TempDir.h"
#include "support/UnitHoldings.h"

namespace zandor {
namespace {

using testing::CliRun;
using testing::Zandor;
using vel::UnitOutcome;

sim::SimUnit Unit(std::uint8_t kind, const std::string& type, const std::string& hardware) {
  return sim::SimUnit{kind, type, hardware, "100", {}};
}

TEST(UnitOutcomesCli, TheLogTheResultAndTheReportNameEachUnitAsTheDeviceHoldsIt) {
  const vel::testing::CutSamples samples(1024);
  const std::string firmware = samples.Path("multi-unit.hex");
  const vel::testing::FileImages file(firmware);
  ASSERT_TRUE(file.Loaded());
  const std::vector<sim::SimUnit> two = {Unit(0, "G4 ", "A1"), Unit(1, "G4 ", "B2")};
  const std::vector<sim::SimUnit> three = {Unit(0, "G4 ", "A1"), Unit(1, "G4 ", "B2"),
                                           Unit(2, "G6 ", "A1")};
  const std::vector<std::pair<std::vector<sim::SimUnit>, int>> cases = {
      {two, 0}, {two, 1}, {three, 0}, {three, 1}, {three, 2}};
  for (const auto& [units, refused] : cases) {
    SCOPED_TRACE(std::to_string(units.size()) + " units, unit-select frame " +
                 std::to_string(refused) + " refused");
    sim::SimConfig config;
    config.units = units;
    config.faults.selectAnswers = {{refused, 0xFE}};
    sim::SimServer server(config);
    const std::string target = "tcp:127.0.0.1:" + std::to_string(server.StartTcp());
    vel::testing::TempDir dir;
    const std::string report = dir.File("walk.csv");
    const CliRun run = Zandor({"update", firmware, target, "--report", report});
    server.Stop();
    EXPECT_EQ(run.code, kExitNegative) << run.out << run.err;
    EXPECT_TRUE(server.Device().Violations().empty());

    std::vector<UnitOutcome> held;
    for (std::size_t u = 0; u < units.size(); ++u) {
      held.push_back(vel::testing::HeldByUnit(server.Device(), static_cast<int>(u), file.Image(0)));
    }
    EXPECT_EQ(std::count(held.begin(), held.end(), UnitOutcome::kProgrammed), refused);
    // The refused frame was for the highest unit the device holds nothing for.
    const int named = static_cast<int>(
        held.rend() - std::find(held.rbegin(), held.rend(), UnitOutcome::kNotSent) - 1);
    EXPECT_NE(run.err.find(target + ": Unit " + std::to_string(named) +
                           " did not confirm its selection (answer 0xFE)"),
              std::string::npos)
        << run.err;

    const auto lines = vel::ReadReportFile(report);
    ASSERT_TRUE(Ok(lines));
    ASSERT_EQ(lines->size(), units.size());
    for (std::size_t u = 0; u < units.size(); ++u) {
      const vel::ReportLine& line = (*lines)[u];
      EXPECT_EQ(line.unit, std::to_string(u));
      EXPECT_EQ(line.outcome, held[u] == UnitOutcome::kProgrammed ? "success" : "failed")
          << "unit " << u;
      // Once a unit was programmed, the row's text says what each unit holds.
      const std::string said = "unit " + std::to_string(u) + " " + vel::UnitOutcomeText(held[u]);
      EXPECT_EQ(line.statusText.find(said) != std::string::npos, refused > 0) << line.statusText;
      EXPECT_EQ(run.out.find(said) != std::string::npos, refused > 0) << run.out;
    }
    EXPECT_EQ(vel::RowsToRetry(*lines).size(), 1u) << "the row failed";
  }
}

// The simulator program's record lists each image under the unit it went to: refusing the
// second of two unit-select frames leaves unit 1 (selected first) programmed and nothing for
// unit 0; refusing the first leaves nothing at all.
TEST(UnitOutcomesCli, TheSimulatorsRecordNamesTheUnitEachImageWentTo) {
  const std::string firmware = std::string(ZANDOR_SAMPLES_DIR) + "/multi-unit.hex";
  const std::string simulator = std::string(ZANDOR_BIN_DIR) + "/zandor-sim";
  for (const auto& [refused, expected] :
       std::vector<std::pair<std::string, std::vector<std::string>>>{
           {"0", {}}, {"1", {"unit 1 kind 0 run 1 blocks 6"}}}) {
    SCOPED_TRACE("unit-select frame " + refused + " refused");
    vel::testing::TempDir dir;
    const std::string record = dir.File("record.txt");
    vel::testing::Subprocess sim({simulator, "--tcp", "127.0.0.1:0", "--unit", "G4 ,A1,100,0",
                                  "--unit", "G4 ,B2,100,1", "--refuse-select", refused, "--record",
                                  record});
    ASSERT_TRUE(sim.WaitForOutput("\n", std::chrono::seconds(30))) << sim.err;
    const std::string ready = sim.out.substr(0, sim.out.find('\n'));
    const std::string target = "tcp:" + ready.substr(ready.find(' ') + 1);
    const CliRun run = Zandor({"update", firmware, target});
    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.Wait(), 0) << "no protocol violation: " << sim.err;
    EXPECT_EQ(run.code, kExitNegative) << run.out << run.err;
    std::vector<std::string> units;
    std::istringstream lines(vel::testing::ReadFile(record));
    for (std::string line; std::getline(lines, line);) {
      if (line.rfind("unit ", 0) == 0) units.push_back(line);
    }
    EXPECT_EQ(units, expected);
    const std::string named = refused == "0" ? "1" : "0";
    EXPECT_NE(run.err.find(target + ": Unit " + named + " did not confirm its selection"),
              std::string::npos)
        << run.err;
  }
}

}  // namespace
}  // namespace zandor
