// Interrupted updates: a power failure cuts an update at an eighth of its transfer; the row says
// it must be run again and never succeeds; run again, the device ends with the exact image. The
// whole matrix (every family, every eighth) is bench_power_cut; here a few representative cuts.
#include <gtest/gtest.h>

#include "SimState.h"
#include "common/AtomicFile.h"
#include "common/Strings.h"
#include "support/CliRunner.h"
#include "support/Files.h"
#include "support/PowerCut.h"
#include "support/TempDir.h"
#include "support/TestDevice.h"

namespace vel::testing {
namespace {

const SoakFamily& FamilyNamed(const std::string& name) {
  for (const SoakFamily& family : SoakFamilies()) {
    if (family.name == name) return family;
  }
  throw std::invalid_argument(name);
}

void ExpectCutAndRecovered(const std::string& name, std::vector<int> eighths) {
  const SoakFamily& family = FamilyNamed(name);
  const int frames = CleanFrames(family, ZANDOR_SAMPLES_DIR);
  ASSERT_GT(frames, 8) << name;
  for (const int eighth : eighths) {
    const PowerCutRun run = CutAndRunAgain(family, ZANDOR_SAMPLES_DIR, eighth, frames);
    const std::string where =
        name + " cut at frame " + std::to_string(run.cutAt) + " of " + std::to_string(frames);
    EXPECT_TRUE(run.powerCut) << where;
    EXPECT_NE(run.cut.outcome, Outcome::kSucceeded) << where;
    EXPECT_FALSE(IsUpdateSuccess(run.cut.statusCode)) << where;
    EXPECT_TRUE(run.cut.interrupted) << where;
    EXPECT_NE(run.cutText.find(text::kUpdateInterrupted), std::string::npos) << where;
    EXPECT_EQ(run.again.outcome, Outcome::kSucceeded) << where << ": " << run.again.statusCode;
    EXPECT_FALSE(run.again.interrupted) << where;
    EXPECT_EQ(run.imageProblem, "") << where;
    EXPECT_EQ(run.violations, std::vector<std::string>{}) << where;
  }
}

TEST(PowerCut, MultiUnitOverTcpAtEveryEighth) {
  ExpectCutAndRecovered("T12", {1, 2, 3, 4, 5, 6, 7});
}

// Over a serial line the cut device stays silent until the host gives up. (An eighth of an
// image of eight blocks falls on an end of block, whose programming wait takes a minute: the
// bench has those.)
TEST(PowerCut, ATwoPhaseSerialFamilyInItsSecondPhase) { ExpectCutAndRecovered("T10", {6}); }

TEST(PowerCut, TheStateFileKeepsWhatWasProgrammedAcrossARestart) {
  TempDir dir;
  const SoakFamily& family = FamilyNamed("T12");
  sim::SimConfig config = FamilyDevice(family);
  config.stateFile = dir.File("device.state");
  config.faults.powerCutAtFrame = 3000;
  sim::DeviceMemory atCut;
  {
    sim::SimServer server(config);
    const DeviceTarget target = ServeFamily(server, family);
    EXPECT_TRUE(QuickDocument(family, ZANDOR_SAMPLES_DIR).Update(target).interrupted);
    server.Stop();
    atCut = server.Device().Memory();
    ASSERT_FALSE(atCut.empty()) << "some blocks were programmed before the cut";
  }
  std::string error;
  const auto kept = sim::ParseSimState(ReadFile(config.stateFile), &error);
  ASSERT_TRUE(kept) << error;
  EXPECT_EQ(kept->memory, atCut);
  ASSERT_EQ(kept->units.size(), 1u);
  EXPECT_EQ(kept->units[0].typeCode, "G4 ");
  EXPECT_EQ(kept->serialNumber, config.serialNumber);
}

TEST(PowerCut, AStateFileThatIsNotOneIsRefusedWithItsLine) {
  std::string error;
  EXPECT_FALSE(sim::ParseSimState("PK\x03\x04 zip", &error));
  EXPECT_NE(error.find("not a state file"), std::string::npos) << error;
  EXPECT_FALSE(
      sim::ParseSimState("zandor-sim state 1\nunit G4 ,A1,100,0\nsegment 0 0 1 0F\n", &error));
  EXPECT_EQ(error, "line 3 of the state file is not in its format");
  EXPECT_FALSE(sim::ParseSimState("zandor-sim state 1\nserial-none\n", &error));
  EXPECT_EQ(error, "the state file names no unit");
}

}  // namespace
}  // namespace vel::testing

namespace zandor {
namespace {

TEST(PowerCutCommandLine, TheRowOfACutUpdateSaysToRunItAgainAndFails) {
  sim::SimConfig config;
  config.faults.powerCutAtFrame = 500;
  vel::testing::TestDevice device{config};
  const std::string target = "tcp:127.0.0.1:" + std::to_string(device.StartTcp());
  const std::string sample = std::string(ZANDOR_SAMPLES_DIR) + "/multi-unit.hex";
  const testing::CliRun cut = testing::Zandor({"update", sample, target, "--yes", "--json"});
  EXPECT_EQ(cut.code, 1);
  EXPECT_NE(
      cut.out.find("\"text\":\"Device Update Failed " + std::string(vel::text::kUpdateInterrupted) +
                   "\",\"success\":false,\"interrupted\":true,\"current\":false}"),
      std::string::npos)
      << cut.out;
  const testing::CliRun again = testing::Zandor({"update", sample, target, "--yes"});
  EXPECT_EQ(again.code, 0) << again.out;
  EXPECT_EQ(again.out.find("interrupted"), std::string::npos) << again.out;
}

TEST(PowerCutCommandLine, ACutAtFrameZeroIsRefused) {
  std::string error;
  bool help = false;
  EXPECT_FALSE(
      sim::ParseSimOptions({"--tcp", "127.0.0.1:0", "--power-cut-at", "0"}, &error, &help));
  EXPECT_NE(error.find("--power-cut-at takes a transfer frame from 1"), std::string::npos) << error;
  EXPECT_TRUE(sim::ParseSimOptions({"--tcp", "127.0.0.1:0", "--power-cut-at", "1"}, &error, &help));
}

}  // namespace
}  // namespace zandor
