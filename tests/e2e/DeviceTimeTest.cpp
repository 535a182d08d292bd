// Devices that take their time: waits are counted the way a slow device needs them, in whole
// reads and whole 400 ms waits, and the operator's time on a question is never the device's.
// The countdowns are shortened to a few reads; each read keeps its real length.
#include "common/Format.h"
#include "common/Strings.h"
#include "e2e/EndToEndSupport.h"

namespace vel::testing {
namespace {

class DeviceTime : public EndToEnd {
 protected:
  // The document with the link's own read lengths and a programming wait of `reads` reads.
  CVelUpdateDoc& SlowDoc(const std::string& sample, int reads) {
    CVelUpdateDoc& d = Doc(sample);
    d.Link().Tcp().SetWaitStep(kTcpSelectStepMs);
    d.Link().Serial().SetTimeouts(kSerialReadTimeoutMs, kSerialWriteTimeoutMs);
    d.Timing().programmingWaitSeconds = reads;
    return d;
  }

  // The unformatted send to a device that answers its third line only after `ms` (the test's
  // serial reads last 100 ms).
  DeviceResult SendUnformattedWithThirdLineAfter(int ms) {
    Family("matrix");
    config.faults.lineDelays = {{2, ms}};
    StartPty();
    return RunAction(Doc("single-64k.hex"), target, SerialSettings{}, Action::kUnformatted);
  }
};

TEST_F(DeviceTime, ATcpBlockIsWaitedForReadByReadNotSecondBySecond) {
  // Three reads of up to 2.8 s each: a block programmed in 5 s is still waited for.
  config.faults.blockDelays = {{0, 5000}};
  StartTcp();
  EXPECT_EQ(UpdateDevice(SlowDoc("multi-unit.hex", 3), target, SerialSettings{}),
            ids::kUpdateSuccessful);
  const auto units = Programmed();
  ASSERT_EQ(units.size(), 1u);
  ExpectProgrammedImage(units[0], 0, {0, 1});
}

TEST_F(DeviceTime, ATcpBlockWithoutAResultFailsAfterTheWholeWait) {
  config.faults.lostResults = {0};
  StartTcp();
  CVelUpdateDoc& d = SlowDoc("multi-unit.hex", 3);
  d.Link().Tcp().SetWaitStep(50);
  EXPECT_EQ(UpdateDevice(d, target, SerialSettings{}), ids::kUpdateFailed);
  EXPECT_TRUE(display.Logged(std::string(text::kNoProgrammingResult)));
  EXPECT_TRUE(display.Logged(Format(format::kWaitingForZandor, 1)))
      << "the countdown reached its last read";
  server->Stop();
  EXPECT_EQ(server->Device().EndOfBlocksReceived(), 1) << "no block after the silent one";
}

TEST_F(DeviceTime, AQuestionLeftOnTheScreenDoesNotUseUpTheWait) {
  // A user station asks while it waits; the operator answers No after 3 s of a 3 s wait, and
  // the region's first block is programmed after 4.5 s.
  Family("station");
  config.faults.blockDelays = {{0, 4500}};
  StartPty();
  op.cancelOnSilence = false;
  op.firstAnswerAfterMs = 3000;
  EXPECT_EQ(UpdateDevice(SlowDoc("station-three-images.hex", 3), target, SerialSettings{}),
            ids::kUpdateSuccessful);
  EXPECT_GE(op.NotRespondingAsked(), 1);
  EXPECT_FALSE(op.Shown(Format(format::kRegionTimeout, 1, 1)));
  const auto units = Programmed();
  ASSERT_GE(units.size(), 3u);
  for (int region = 0; region < 3; ++region) ExpectProgrammedImage(units[region], region, {0xFF});
}

TEST_F(DeviceTime, AnAnswerTrickledThroughAConverterIsReadWhole) {
  // Every byte of the information block 250 ms after the one before: no 400 ms wait is empty.
  config.byteGapMs = 250;
  config.units = {Unit("G4 ", "A1", "100")};
  StartTcp();
  CVelUpdateDoc& d = SlowDoc("multi-unit.hex", kProgrammingWaitSeconds);
  EXPECT_EQ(CheckDevice(d, target, SerialSettings{}), status::kCheckAccepted);
  EXPECT_FALSE(display.Logged(std::string(text::kReadNotEnoughBytes)));
}

TEST_F(DeviceTime, AnUnformattedLineMayTakeLongToBeAnswered) {
  // Ten silent reads after the third line (a flash erase), fewer than a question's worth.
  const DeviceResult result = SendUnformattedWithThirdLineAfter(1000);
  EXPECT_EQ(result.outcome, Outcome::kSucceeded);
  EXPECT_TRUE(op.Shown(Format(format::kUnformattedCompleted, doc->File().RecordCount(0))));
  EXPECT_EQ(op.NotRespondingAsked(), 0);
}

TEST_F(DeviceTime, AnUnformattedSendAsksBeforeItGivesUpOnSilence) {
  // Twenty silent reads: the operator is asked, and a Yes ends the send incomplete.
  const DeviceResult result = SendUnformattedWithThirdLineAfter(2500);
  EXPECT_NE(result.outcome, Outcome::kSucceeded);
  EXPECT_EQ(op.NotRespondingAsked(), 1);
  EXPECT_TRUE(op.Shown(std::string(text::kUnformattedNotCompleted)));
  server->Stop();
  EXPECT_EQ(server->Device().TextLinesTaken(), 3) << "no line after the one given up on";
}

}  // namespace
}  // namespace vel::testing
