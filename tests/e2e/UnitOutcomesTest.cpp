// What an update leaves on each unit of a multi-unit device, with the units named as the device
// numbers them: the row-finished event's per-unit outcomes and notes, and the log line of a
// refused unit selection, against the simulator's record of what each unit holds.
#include <gtest/gtest.h>

#include "SimServer.h"
#include "common/Strings.h"
#include "devices/DeviceJobsSeam.h"
#include "e2e/EndToEndSupport.h"
#include "support/CutSamples.h"
#include "support/JobRecorder.h"
#include "support/UnitHoldings.h"

namespace vel::testing {
namespace {

const CutSamples& Samples() {
  static const CutSamples samples(1024);  // two blocks a unit: quick, and still two segments
  return samples;
}

// A device and the file that updates it: which image of the file each unit takes.
struct MultiUnitDevice {
  std::string name;
  std::string sample;
  std::vector<sim::SimUnit> units;
  std::vector<int> slots;  // by unit
};

std::vector<MultiUnitDevice> MultiUnitDevices() {
  return {
      {"two units",
       "multi-unit.hex",
       {Unit("G4 ", "A1", "100", 0), Unit("G4 ", "B2", "100", 1)},
       {0, 0}},
      {"three units",
       "multi-unit.hex",
       {Unit("G4 ", "A1", "100", 0), Unit("G4 ", "B2", "100", 1), Unit("G6 ", "A1", "100", 2)},
       {0, 0, 0}},
      // The unit-select frames tell the units apart by kind: 01 30 for the N8 unit, 01 31 for
      // the G4 unit that takes the loader's image.
      {"NB loader",
       "kesta-nb-loader.hex",
       {Unit("G4 ", "A1", "100", 0), Unit("N8 ", "A1", "100", 1)},
       {0, 1}},
  };
}

class UnitOutcomes : public ::testing::Test {
 protected:
  // Updates the device as the one row of a walk; its row-finished event.
  job::RowFinished UpdateRow(const sim::SimConfig& config, const std::string& path) {
    server = std::make_unique<sim::SimServer>(config);
    DeviceTarget target;
    target.kind = LinkKind::kTcp;
    target.address = "127.0.0.1";
    target.port = std::to_string(server->StartTcp());
    recorder = std::make_unique<JobRecorder>();
    DeviceJobs jobs(*recorder);
    DeviceJobsSeam::PrepareDocuments(jobs, [](CVelUpdateDoc& doc) {
      doc.Link().Tcp().SetWaitStep(20);
      doc.Timing() = EngineTiming{1, 1, 1, 50, 1, 1, 1, 1};
    });
    JobOptions options;
    options.firmwarePath = path;
    EXPECT_TRUE(jobs.Start({RowOfTarget(0, target)}, options));
    jobs.Wait();
    server->Stop();
    EXPECT_EQ(server->Device().Violations(), std::vector<std::string>{});
    const auto finished = recorder->FinishedRow(0);
    EXPECT_TRUE(finished.has_value());
    return finished.value_or(job::RowFinished{});
  }

  // What the simulated device holds for each of its units.
  std::vector<UnitOutcome> Held(const MultiUnitDevice& setup, const std::string& path) const {
    const FileImages file(path);
    EXPECT_TRUE(file.Loaded());
    std::vector<UnitOutcome> held;
    for (std::size_t u = 0; u < setup.units.size() && file.Loaded(); ++u) {
      held.push_back(HeldByUnit(server->Device(), static_cast<int>(u), file.Image(setup.slots[u])));
    }
    return held;
  }

  // The event's outcome for every unit is what the device holds, and its notes say it unit by
  // unit once anything went to a unit.
  static void ExpectUnitsAsHeld(const job::RowFinished& finished,
                                const std::vector<UnitOutcome>& held) {
    ASSERT_EQ(finished.deviceUnits.size(), held.size());
    const bool anySent = std::any_of(held.begin(), held.end(),
                                     [](UnitOutcome o) { return o != UnitOutcome::kNotSent; });
    for (std::size_t u = 0; u < held.size(); ++u) {
      const FinishedUnit& unit = finished.deviceUnits[u];
      EXPECT_EQ(unit.unit, static_cast<int>(u));
      EXPECT_EQ(unit.outcome, held[u]) << "unit " << u;
      const std::string said = "unit " + std::to_string(u) + " " + UnitOutcomeText(held[u]);
      EXPECT_EQ(finished.notes.find(said) != std::string::npos, anySent)
          << "unit " << u << ": " << finished.notes;
    }
  }

  std::vector<std::string> LogLines() const {
    std::vector<std::string> lines;
    for (const JobEvent& e : recorder->Of(JobEvent::Kind::kLogLine)) lines.push_back(e.Text());
    return lines;
  }

  std::unique_ptr<sim::SimServer> server;
  std::unique_ptr<JobRecorder> recorder;
};

// Units are selected counting down. The unit-select frame refused at position n is for the
// highest unit not yet updated: the units above it hold their images, it and those below it
// nothing, and the log names it.
TEST_F(UnitOutcomes, ARefusedSelectionNamesItsUnitAndEveryUnitSaysWhatItHolds) {
  for (const MultiUnitDevice& setup : MultiUnitDevices()) {
    const std::string path = Samples().Path(setup.sample);
    for (int refused = 0; refused < static_cast<int>(setup.units.size()); ++refused) {
      SCOPED_TRACE(setup.name + ", unit-select frame " + std::to_string(refused) + " refused");
      sim::SimConfig config;
      config.units = setup.units;
      config.faults.selectAnswers = {{refused, 0xFE}};
      const job::RowFinished finished = UpdateRow(config, path);
      EXPECT_EQ(finished.outcome, Outcome::kFailed);
      EXPECT_EQ(finished.statusCode, ids::kUnitNotSelected);

      const std::vector<UnitOutcome> held = Held(setup, path);
      ASSERT_EQ(held.size(), setup.units.size());
      EXPECT_EQ(std::count(held.begin(), held.end(), UnitOutcome::kProgrammed), refused)
          << "one unit updated before each refusal";
      EXPECT_EQ(std::count(held.begin(), held.end(), UnitOutcome::kFailedPartWay), 0);
      ExpectUnitsAsHeld(finished, held);

      // The unit the refused frame was for: the highest one the device holds nothing for.
      const auto notSent = std::find(held.rbegin(), held.rend(), UnitOutcome::kNotSent);
      ASSERT_NE(notSent, held.rend());
      const int named = static_cast<int>(held.rend() - notSent) - 1;
      const auto lines = LogLines();
      const auto said = std::count_if(lines.begin(), lines.end(), [](const std::string& line) {
        return line.find("did not confirm its selection") != std::string::npos;
      });
      EXPECT_EQ(said, 1);
      EXPECT_NE(std::find(lines.begin(), lines.end(),
                          "Unit " + std::to_string(named) +
                              " did not confirm its selection (answer 0xFE); nothing was sent "
                              "to it."),
                lines.end());
    }
  }
}

TEST_F(UnitOutcomes, EveryUnitOfASuccessfulUpdateIsProgrammed) {
  for (const MultiUnitDevice& setup : MultiUnitDevices()) {
    SCOPED_TRACE(setup.name);
    const std::string path = Samples().Path(setup.sample);
    sim::SimConfig config;
    config.units = setup.units;
    const job::RowFinished finished = UpdateRow(config, path);
    EXPECT_EQ(finished.outcome, Outcome::kSucceeded);
    const std::vector<UnitOutcome> held = Held(setup, path);
    EXPECT_EQ(held, std::vector<UnitOutcome>(setup.units.size(), UnitOutcome::kProgrammed));
    for (const FinishedUnit& unit : finished.deviceUnits) {
      EXPECT_EQ(unit.outcome, UnitOutcome::kProgrammed) << "unit " << unit.unit;
    }
    EXPECT_EQ(finished.notes, "");
  }
}

// The connection drops in the middle of the second unit's image: the first is programmed, the
// second holds part of its image, and the row says which is which.
TEST_F(UnitOutcomes, AUnitCutOffPartWayIsToldFromTheUnitProgrammedBeforeIt) {
  const MultiUnitDevice setup = MultiUnitDevices().front();
  const std::string path = Samples().Path(setup.sample);
  // The frames of one unit's image, counted by a device of one unit; the cut comes half-way
  // through the second unit's image.
  sim::SimConfig one;
  one.units = {setup.units.front()};
  ASSERT_EQ(UpdateRow(one, path).outcome, Outcome::kSucceeded);
  const int framesOfAUnit = server->Device().FramesReceived();
  sim::SimConfig config;
  config.units = setup.units;
  config.faults.disconnectAtFrame = framesOfAUnit + framesOfAUnit / 2;
  const job::RowFinished finished = UpdateRow(config, path);
  EXPECT_EQ(finished.outcome, Outcome::kFailed);
  EXPECT_TRUE(finished.interrupted);
  const std::vector<UnitOutcome> held = Held(setup, path);
  EXPECT_EQ(held,
            (std::vector<UnitOutcome>{UnitOutcome::kFailedPartWay, UnitOutcome::kProgrammed}));
  ExpectUnitsAsHeld(finished, held);
  EXPECT_NE(finished.notes.find("(unit 0 failed part-way, unit 1 programmed)"), std::string::npos)
      << finished.notes;
}

}  // namespace
}  // namespace vel::testing
