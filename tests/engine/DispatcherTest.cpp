// What the engine's one entry says an action came to, against the simulated device on a virtual
// clock: how it ended, its status code and what it left on the unit, each made by the engine.
#include <gtest/gtest.h>

#include "SimDevice.h"
#include "SimOptions.h"
#include "common/Strings.h"
#include "engine/Dispatcher.h"
#include "engine/VelUpdateDoc.h"
#include "support/CutSamples.h"
#include "support/EngineFakes.h"
#include "support/SocketPairDevice.h"
#include "support/VirtualClock.h"
#include "wire/TranscriptPeers.h"

namespace vel {
namespace {

class DispatcherTest : public ::testing::Test {
 protected:
  DispatcherTest() { EXPECT_TRUE(sim::ApplyFamily("matrix", &device)); }

  // Runs `action` with the matrix sample against `device`; `cancelAtWrite` (from 1) cancels from
  // outside after that write.
  ActionResult Run(Action action, int cancelAtWrite = -1) {
    static const testing::CutSamples samples(0x400);
    sim::SimDevice simulated(device);
    testing::VirtualClock clock;
    ActionResult result;
    {
      testing::SocketPairDevice serving(simulated, &clock);
      zandor::wire::TranscriptRecorder peer(serving.EngineEnd(), clock);
      CVelUpdateDoc doc(display, op);
      doc.SetClock(clock);
      EXPECT_TRUE(doc.OnOpenDocument(samples.Path("single-64k.hex")).ok());
      DisplayState& state = display.State();
      state.cancel.Clear();
      peer.CancelAt(cancelAtWrite, [&state] { state.cancel.Request(); });
      doc.Link().AttachPeer(&peer);
      result = doc.DispatchUpdate(action);
      doc.Link().AttachPeer(nullptr);
    }
    violations = simulated.Violations();
    return result;
  }

  sim::SimConfig device;
  testing::QuietDisplay display;
  testing::ScriptedOperator op;
  std::vector<std::string> violations;
};

TEST_F(DispatcherTest, AnUpdateAndACheckThatGoThroughEndSucceededWithTheirCodes) {
  const ActionResult updated = Run(Action::kUpdate);
  EXPECT_EQ(updated.end, ActionEnd::kSucceeded);
  EXPECT_EQ(updated.statusCode, ids::kUpdateSuccessful);
  EXPECT_EQ(updated.units[0], UnitOutcome::kProgrammed);
  const ActionResult checked = Run(Action::kCheck);
  EXPECT_EQ(checked.end, ActionEnd::kSucceeded);
  EXPECT_EQ(checked.statusCode, status::kCheckAccepted);
  EXPECT_EQ(checked.units[0], UnitOutcome::kNotSent);
  EXPECT_TRUE(violations.empty());
}

TEST_F(DispatcherTest, ADeclinedABusyAndASilentDeviceEachEndAsWhatHappened) {
  op.declineAll = true;
  EXPECT_EQ(Run(Action::kUpdate).end, ActionEnd::kDeclined);
  const ActionResult declinedCheck = Run(Action::kCheck);
  EXPECT_EQ(declinedCheck.end, ActionEnd::kDeclined);
  EXPECT_EQ(declinedCheck.statusCode, status::kCheckDeclined);
  op.declineAll = false;

  device.faults.busy = true;
  const ActionResult busy = Run(Action::kUpdate);
  EXPECT_EQ(busy.end, ActionEnd::kBusy);
  EXPECT_EQ(busy.statusCode, ids::kSystemBusy);
  device.faults.busy = false;

  device.protocols.clear();  // answers no attention byte
  const ActionResult silent = Run(Action::kUpdate);
  EXPECT_EQ(silent.end, ActionEnd::kNotResponding);
  EXPECT_EQ(silent.statusCode, ids::kConnectionError);
  EXPECT_EQ(Run(Action::kCheck).end, ActionEnd::kNotResponding);
}

TEST_F(DispatcherTest, EachActionStartsFromItsOwnFailureCodeNotTheLastActionsCode) {
  // The same document and display: a success must not stay behind for the next action to end with.
  ASSERT_EQ(Run(Action::kUpdate).statusCode, ids::kUpdateSuccessful);
  const ActionResult cancelledAtOnce = Run(Action::kUpdate, 1);
  EXPECT_EQ(cancelledAtOnce.end, ActionEnd::kCancelled);
  EXPECT_EQ(cancelledAtOnce.statusCode, ids::kUpdateFailed);
}

TEST_F(DispatcherTest, ACancelFromOutsideIsCancelledButTheEnginesOwnGivingUpIsAFailure) {
  const ActionResult cancelled = Run(Action::kUpdate, 40);
  EXPECT_EQ(cancelled.end, ActionEnd::kCancelled);
  EXPECT_EQ(cancelled.units[0], UnitOutcome::kFailedPartWay);

  // A device silent from its sixth transfer frame: the operator gives up when asked.
  device.faults.silenceFromFrame = 5;
  op.cancelOnSilence = true;
  const ActionResult gaveUp = Run(Action::kUpdate);
  EXPECT_EQ(gaveUp.end, ActionEnd::kFailed);
  EXPECT_NE(gaveUp.statusCode, ids::kUpdateSuccessful);
  EXPECT_GE(op.NotRespondingAsked(), 1);
}

}  // namespace
}  // namespace vel
