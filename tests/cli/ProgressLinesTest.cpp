// The command line's progress, in each of its three forms (a terminal's bar, plain lines, --json
// events), shows the share of the device's whole update: it never goes back while the units of a
// multi-unit device are sent one after another with their programming countdowns, and it reaches
// 100 only for a device that took every unit's image (the simulated device's own record).
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <sstream>

#include "SimServer.h"
#include "support/CliRunner.h"
#include "support/TestDevice.h"

namespace zandor {
namespace {

using testing::CliRun;
using vel::testing::TestDevice;

const std::string kSample = std::string(ZANDOR_SAMPLES_DIR) + "/multi-unit.hex";

sim::SimConfig ThreeUnits() {
  sim::SimConfig config;
  config.units = {sim::SimUnit{0, "G4 ", "A1", "100", {"B07"}},
                  sim::SimUnit{1, "G4 ", "B2", "100", {}}, sim::SimUnit{2, "G6 ", "A1", "100", {}}};
  return config;
}

// Every number the pattern's first group captures in `text`, in order.
std::vector<int> Percents(const std::string& text, const std::regex& pattern) {
  std::vector<int> found;
  for (auto it = std::sregex_iterator(text.begin(), text.end(), pattern);
       it != std::sregex_iterator(); ++it) {
    found.push_back(std::stoi((*it)[1].str()));
  }
  return found;
}

// Updates a new three-unit device, its progress shown on a terminal or not, as JSON or not.
struct ShownUpdate {
  CliRun run;
  std::vector<sim::ProgrammedUnit> programmed;
};

ShownUpdate UpdateThreeUnits(bool terminal, bool json, sim::SimConfig config = ThreeUnits()) {
  TestDevice device(config);
  std::vector<std::string> words = {"update", kSample,
                                    "tcp:127.0.0.1:" + std::to_string(device.StartTcp()), "--yes"};
  if (json) words.push_back("--json");
  std::ostringstream out, err;
  const int code = RunZandor(words, {out, err, terminal});
  device.Stop();
  return {{code, out.str(), err.str()}, device.Device().Programmed()};
}

void ExpectEveryUnitTaken(const ShownUpdate& update) {
  EXPECT_EQ(update.run.code, kExitOk) << update.run.err;
  ASSERT_EQ(update.programmed.size(), 3u);
  for (const sim::ProgrammedUnit& unit : update.programmed) EXPECT_TRUE(unit.runFrameSeen);
}

TEST(ProgressLines, EveryFormShowsTheShareOfTheWholeUpdateAndNeverGoesBack) {
  const std::regex painted("\\] (\\d+)% ");
  const std::regex plain(" (\\d+)%\n");
  const std::regex event("\"event\":\"progress\",[^\n]*\"percent\":(\\d+)");

  const ShownUpdate bar = UpdateThreeUnits(true, false);
  ExpectEveryUnitTaken(bar);
  const std::vector<int> barPercents = Percents(bar.run.err, painted);
  EXPECT_TRUE(std::is_sorted(barPercents.begin(), barPercents.end())) << bar.run.err;
  ASSERT_FALSE(barPercents.empty());
  EXPECT_EQ(barPercents.back(), 100);
  // The bar moves along the transfer rather than jumping at its end.
  EXPECT_GT(
      std::count_if(barPercents.begin(), barPercents.end(), [](int p) { return p > 0 && p < 100; }),
      10);

  const ShownUpdate lines = UpdateThreeUnits(false, false);
  ExpectEveryUnitTaken(lines);
  EXPECT_EQ(Percents(lines.run.err, plain), (std::vector<int>{25, 50, 75, 100})) << lines.run.err;

  const ShownUpdate events = UpdateThreeUnits(false, true);
  ExpectEveryUnitTaken(events);
  const std::vector<int> eventPercents = Percents(events.run.out, event);
  ASSERT_FALSE(eventPercents.empty()) << events.run.out;
  EXPECT_TRUE(std::is_sorted(eventPercents.begin(), eventPercents.end())) << events.run.out;
  EXPECT_EQ(eventPercents.back(), 100);
  // The operations that begin at the share the last one left (loading the file's images before
  // the transfer) add no event that says nothing new, and progress is not most of the stream
  // beyond the share's own steps.
  std::vector<std::string> progress;
  std::istringstream stream(events.run.out);
  for (std::string line; std::getline(stream, line);) {
    if (line.find("\"event\":\"progress\"") != std::string::npos) progress.push_back(line);
  }
  EXPECT_EQ(std::adjacent_find(progress.begin(), progress.end()), progress.end()) << events.run.out;
}

TEST(ProgressLines, ADeviceCutShortNeverShowsAWholeUpdate) {
  sim::SimConfig closing = ThreeUnits();
  closing.faults.disconnectAtFrame = 1500;  // within the first unit's image
  const ShownUpdate cut = UpdateThreeUnits(false, true, closing);
  EXPECT_EQ(cut.run.code, kExitNegative) << cut.run.err;
  EXPECT_TRUE(cut.programmed.empty() || !cut.programmed.front().runFrameSeen);
  const std::vector<int> percents =
      Percents(cut.run.out, std::regex("\"event\":\"progress\",[^\n]*\"percent\":(\\d+)"));
  ASSERT_FALSE(percents.empty()) << cut.run.out;
  EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end())) << cut.run.out;
  EXPECT_LT(percents.back(), 34) << "the first of three units was not whole";
  // The device's line and the message name the closed connection, not a silent device.
  EXPECT_NE(cut.run.out.find("closed the connection"), std::string::npos) << cut.run.out;
  EXPECT_EQ(cut.run.out.find("Timeout error when waiting"), std::string::npos) << cut.run.out;
}

}  // namespace
}  // namespace zandor
