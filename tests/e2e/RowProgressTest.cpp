// What a row tells of its progress while a walk runs: the share of its whole update, carried on
// every progress event, never goes back and is whole only when the update succeeded, whatever the
// bar of each operation does meanwhile (a phase or unit that starts again, the programming
// countdown). Outcomes are checked against what the simulated devices were given.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <set>

#include "SimOptions.h"
#include "SimServer.h"
#include "common/Strings.h"
#include "devices/DeviceJobs.h"
#include "devices/DeviceJobsSeam.h"
#include "engine/VelUpdateDoc.h"
#include "support/JobRecorder.h"

namespace vel::testing {
namespace {

std::string Sample(const std::string& name) { return std::string(ZANDOR_SAMPLES_DIR) + "/" + name; }

sim::SimConfig ThreeUnits() {
  sim::SimConfig config;
  config.units = {sim::SimUnit{0, "G4 ", "A1", "100", {"B07"}},
                  sim::SimUnit{1, "G4 ", "B2", "100", {}}, sim::SimUnit{2, "G6 ", "A1", "100", {}}};
  return config;
}

// A row's progress events in order: the share each carried, and whether the operation's own bar
// ever fell (a restart or a countdown), which is what the share must not do.
struct RowProgress {
  std::vector<int> shares;
  bool barFell = false;
};

std::map<std::size_t, RowProgress> ProgressOfRows(const std::vector<JobEvent>& events) {
  std::map<std::size_t, RowProgress> rows;
  std::map<std::size_t, long long> lastBar;
  for (const JobEvent& e : events) {
    const auto* progress = e.If<job::Progress>();
    if (progress == nullptr) continue;
    RowProgress& row = rows[e.row];
    row.shares.push_back(progress->overallPercent);
    const long long span = std::max(1, progress->high - progress->low);
    const long long bar = (static_cast<long long>(progress->position) - progress->low) * 100 / span;
    const auto last = lastBar.find(e.row);
    if (last != lastBar.end() && bar < last->second) row.barFell = true;
    lastBar[e.row] = bar;
  }
  return rows;
}

class RowProgressTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (const auto& server : servers) {
      server->Stop();
      EXPECT_EQ(server->Device().Violations(), std::vector<std::string>{});
    }
  }
  // Updates every device started so far with `firmware`, side by side, to the walk's end.
  void Update(const std::string& firmware) {
    std::vector<JobRow> rows;
    for (std::size_t row = 0; row < servers.size(); ++row) {
      DeviceTarget target;
      target.kind = LinkKind::kTcp;
      target.address = "127.0.0.1";
      target.port = std::to_string(ports.at(row));
      rows.push_back(RowOfTarget(row, target));
    }
    JobOptions options;
    options.firmwarePath = Sample(firmware);
    options.parallel = static_cast<int>(rows.size());
    DeviceJobs jobs(recorder);
    DeviceJobsSeam::PrepareDocuments(jobs,
                                     [](CVelUpdateDoc& doc) { doc.Link().Tcp().SetWaitStep(50); });
    ASSERT_TRUE(jobs.Start(std::move(rows), std::move(options)));
    jobs.Wait();
  }
  void StartDevice(const sim::SimConfig& config) {
    servers.push_back(std::make_unique<sim::SimServer>(config));
    ports.push_back(servers.back()->StartTcp());
  }
  std::vector<sim::ProgrammedUnit> Programmed(std::size_t row) {
    servers.at(row)->Stop();
    return servers.at(row)->Device().Programmed();
  }
  std::vector<std::string> MessagesOf(std::size_t row) const {
    std::vector<std::string> texts;
    for (const JobEvent& e : recorder.Of(JobEvent::Kind::kMessage)) {
      if (e.row == row) texts.push_back(e.Text());
    }
    return texts;
  }

  std::vector<std::unique_ptr<sim::SimServer>> servers;
  std::vector<int> ports;
  JobRecorder recorder;
};

void ExpectGrowingToTheWhole(const RowProgress& row) {
  ASSERT_FALSE(row.shares.empty());
  EXPECT_TRUE(std::is_sorted(row.shares.begin(), row.shares.end()));
  EXPECT_EQ(row.shares.back(), 100);
  // The share moved along the transfer, not only at its end.
  const std::set<int> distinct(row.shares.begin(), row.shares.end());
  EXPECT_GT(distinct.size(), 20u);
  EXPECT_TRUE(row.barFell) << "the operation's bar restarts or counts down meanwhile";
}

TEST_F(RowProgressTest, EachUnitOfAMultiUnitDeviceAddsToOneGrowingShare) {
  StartDevice(ThreeUnits());
  sim::SimConfig closing = ThreeUnits();
  closing.faults.disconnectAtFrame = 1500;  // within the second block of the first unit
  StartDevice(closing);
  Update("multi-unit.hex");

  ASSERT_TRUE(recorder.FinishedRow(0));
  EXPECT_EQ(recorder.FinishedRow(0)->outcome, Outcome::kSucceeded);
  const std::vector<sim::ProgrammedUnit> units = Programmed(0);
  ASSERT_EQ(units.size(), 3u);
  for (const sim::ProgrammedUnit& unit : units) EXPECT_TRUE(unit.runFrameSeen);
  const auto progress = ProgressOfRows(recorder.Events());
  ExpectGrowingToTheWhole(progress.at(0));

  // The device that closed the connection: the share stopped where the transfer did, and the
  // box says what the log says.
  ASSERT_TRUE(recorder.FinishedRow(1));
  EXPECT_EQ(recorder.FinishedRow(1)->outcome, Outcome::kFailed);
  const std::vector<int>& cut = progress.at(1).shares;
  EXPECT_TRUE(std::is_sorted(cut.begin(), cut.end()));
  EXPECT_GT(cut.back(), 0);
  EXPECT_LT(cut.back(), 34) << "the first of three units was not whole";
  const std::vector<std::string> messages = MessagesOf(1);
  EXPECT_NE(std::find(messages.begin(), messages.end(), std::string(text::kConnectionClosed)),
            messages.end());
  EXPECT_EQ(std::find(messages.begin(), messages.end(), std::string(text::kUnitTimeout)),
            messages.end());
}

TEST_F(RowProgressTest, BothPhasesOfATwoPhaseFamilyAddToOneGrowingShare) {
  sim::SimConfig config;
  ASSERT_TRUE(sim::ApplyFamily("loader", &config));
  StartDevice(config);
  Update("loader-g5.hex");
  ASSERT_TRUE(recorder.FinishedRow(0));
  EXPECT_EQ(recorder.FinishedRow(0)->outcome, Outcome::kSucceeded);
  const std::vector<sim::ProgrammedUnit> phases = Programmed(0);
  ASSERT_GE(phases.size(), 2u);
  ExpectGrowingToTheWhole(ProgressOfRows(recorder.Events()).at(0));
}

}  // namespace
}  // namespace vel::testing
