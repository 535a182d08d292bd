// Updates and checks against the simulated device over real sockets and pseudo-terminals.
#include <thread>

#include "common/Format.h"
#include "common/Strings.h"
#include "e2e/EndToEndSupport.h"

namespace vel::testing {
namespace {

const std::string kKey = "000102030405060708090A0B0C0D0E0F";

// A single-unit matrix: the 64 KiB image goes with procedure T1 over a serial line.
class SingleUnitUpdate : public EndToEnd {
 protected:
  void SetUp() override { Family("matrix"); }
};

TEST_F(SingleUnitUpdate, T1OverAPseudoTerminalProgramsTheImage) {
  StartPty();
  EXPECT_EQ(Update("single-64k.hex"), ids::kUpdateSuccessful);
  server->Stop();
  const auto programmed = server->Device().Programmed();
  ASSERT_EQ(programmed.size(), 1u);
  ExpectProgrammedImage(programmed[0], 0, {0xFF});
  EXPECT_EQ(programmed[0].blocksProgrammed, 4);
  EXPECT_TRUE(server->Device().Violations().empty());
  EXPECT_TRUE(display.Logged("Communication established with Zandor Unit."));
  EXPECT_FALSE(display.ProgressActive());
}

TEST_F(SingleUnitUpdate, BlockErrorsRepeatTheBlock) {
  config.faults.blockResults = {{1, 0xF6}, {2, 0xF7}, {4, 0xF8}};
  StartPty();
  EXPECT_EQ(Update("single-64k.hex"), ids::kUpdateSuccessful);
  server->Stop();
  EXPECT_EQ(server->Device().EndOfBlocksReceived(), 7);
  ExpectProgrammedImage(server->Device().Programmed()[0], 0, {0xFF});
  EXPECT_TRUE(display.Logged("Block Error -- F6(Erase Error)"));
  EXPECT_TRUE(display.Logged("Block Error -- F7(Programming Error)"));
  EXPECT_TRUE(display.Logged("Block Error -- F8(Block Checking Error)"));
}

TEST_F(SingleUnitUpdate, LostAndCorruptedAcknowledgementsAreResent) {
  config.faults.lostAck = 0.002;
  config.faults.corruptAck = 0.01;
  config.faults.seed = 99;
  StartPty();
  EXPECT_EQ(Update("single-64k.hex"), ids::kUpdateSuccessful);
  server->Stop();
  EXPECT_GT(server->Device().FaultsInjected(), 0);
  ExpectProgrammedImage(server->Device().Programmed()[0], 0, {0xFF});
}

TEST_F(SingleUnitUpdate, CancelDuringTheTransferIsNeverASuccess) {
  config.programmingDelayMs = 5;
  StartPty();
  std::thread canceller([this] {
    while (server->Device().FramesReceived() < 200)
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    display.State().cancel.Request();
  });
  const int status = Update("single-64k.hex");
  canceller.join();
  EXPECT_EQ(status, ids::kOperationCancelled);
  EXPECT_TRUE(op.Shown(LoadString(ids::kTransmissionTerminated)));
  EXPECT_FALSE(display.ProgressActive());
}

TEST_F(SingleUnitUpdate, SilenceAsksTheOperatorWhoCancels) {
  config.faults.silenceFromFrame = 30;
  StartPty();
  EXPECT_EQ(Update("single-64k.hex"), ids::kUpdateFailed);
  EXPECT_EQ(op.NotRespondingAsked(), 1);
  EXPECT_TRUE(op.Shown(LoadString(ids::kTransmissionTerminated)));
}

TEST_F(SingleUnitUpdate, SerialOnlyProcedureOverTcpEndsPromptly) {
  StartTcp();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Update("single-64k.hex"), ids::kUpdateFailed);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_TRUE(op.Shown(std::string(text::kSerialOnly)));
  EXPECT_EQ(server->Device().FramesReceived(), 0);
}

TEST_F(SingleUnitUpdate, OperatorDeclinesAWrongDevice) {
  config.units = {Unit("N8 ", "AB", "100")};
  StartPty();
  EXPECT_EQ(Update("single-64k.hex"), ids::kUpdateFailed);
  EXPECT_EQ(op.Confirmations(), 1);
  server->Stop();
  EXPECT_TRUE(server->Device().Programmed().empty());
}

TEST_F(SingleUnitUpdate, BusyDevice) {
  config.faults.busy = true;
  StartPty();
  EXPECT_EQ(Update("single-64k.hex"), ids::kSystemBusy);
  EXPECT_TRUE(op.Shown("System busy! Please try later!"));
}

TEST_F(SingleUnitUpdate, NoAnswerAtAnySpeedTriesTwelveTimesInOrder) {
  config.protocols = {};
  StartPty();
  EXPECT_EQ(Update("single-64k.hex"), ids::kConnectionError);
  EXPECT_TRUE(op.Shown("Connection error! Please reset power and try again!"));
  server->Stop();
  std::vector<std::uint8_t> attention;
  for (std::uint8_t b : server->Device().IdleBytes()) {
    if (b != 0x1C) attention.push_back(b);
  }
  std::vector<std::uint8_t> expected;
  for (int k = 0; k < 12; ++k) {
    for (int pass = 0; pass < 3; ++pass) expected.push_back((k / 2) % 2 == 0 ? 0x1D : 0x1B);
  }
  EXPECT_EQ(attention, expected);
}

TEST_F(SingleUnitUpdate, ChecksDeviceInformation) {
  StartPty();
  EXPECT_EQ(Check("single-64k.hex"), 1);
  EXPECT_EQ(CheckStatusText(1), "Device Information Success");
  server->Stop();
  EXPECT_TRUE(server->Device().Programmed().empty());
}

// The multi-unit family: procedure T12, over TCP as well as serial.
class MultiUnitUpdate : public EndToEnd {
 protected:
  void SetUp() override { config.units = {Unit("G4 ", "A1", "100", 0)}; }
  void ExpectEveryUnitProgrammed(std::size_t units) {
    server->Stop();
    const auto programmed = server->Device().Programmed();
    ASSERT_EQ(programmed.size(), units);
    for (const auto& unit : programmed) ExpectProgrammedImage(unit, 0, {0, 1});
    EXPECT_TRUE(server->Device().Violations().empty());
  }
};

TEST_F(MultiUnitUpdate, OneUnitOverTcp) {
  StartTcp();
  EXPECT_EQ(Update("multi-unit.hex"), ids::kUpdateSuccessful);
  ExpectEveryUnitProgrammed(1);
}

TEST_F(MultiUnitUpdate, ThreeUnitsOverTcpHandOverOneAfterTheOther) {
  config.units = {Unit("G4 ", "A1", "100", 0), Unit("G4 ", "B2", "100", 1),
                  Unit("G6 ", "A1", "100", 2)};
  StartTcp();
  EXPECT_EQ(Update("multi-unit.hex"), ids::kUpdateSuccessful);
  ExpectEveryUnitProgrammed(3);
}

TEST_F(MultiUnitUpdate, EncipheredWithOneAndThreeUnits) {
  config.key = kKey;
  StartTcp();
  EXPECT_EQ(Update("multi-unit.hex"), ids::kUpdateSuccessful);
  ExpectEveryUnitProgrammed(1);

  config.units = {Unit("G4 ", "A1", "100", 0), Unit("G4 ", "A1", "100", 1),
                  Unit("G4 ", "A1", "100", 3)};
  StartTcp();
  EXPECT_EQ(Update("multi-unit.hex"), ids::kUpdateSuccessful);
  ExpectEveryUnitProgrammed(3);
}

TEST_F(MultiUnitUpdate, OverAPseudoTerminal) {
  StartPty();
  EXPECT_EQ(Update("multi-unit.hex"), ids::kUpdateSuccessful);
  ExpectEveryUnitProgrammed(1);
}

TEST_F(MultiUnitUpdate, DeviceAnsweringOnlyTheSingleUnitProtocolByte) {
  config.protocols = {0x1B};
  StartTcp();
  EXPECT_EQ(Update("multi-unit.hex"), ids::kUpdateSuccessful);
  ExpectEveryUnitProgrammed(1);
}

TEST_F(MultiUnitUpdate, ProgrammingErrorRestartsTheSegment) {
  // Ends of block in order: segment 0 block 0, block 1 (F6), block 1 again, blocks 2 and 3,
  // segment 1 block 0, block 1 (F7: segment 1 again from block 0), block 0, block 1.
  config.faults.blockResults = {{1, 0xF6}, {6, 0xF7}};
  StartTcp();
  EXPECT_EQ(Update("multi-unit.hex"), ids::kUpdateSuccessful);
  server->Stop();
  // Block 1 of segment 0 once more; segment 1 from its first block again.
  EXPECT_EQ(server->Device().EndOfBlocksReceived(), 6 + 1 + 2);
  ExpectEveryUnitProgrammed(1);
}

TEST_F(MultiUnitUpdate, ProgrammingErrorInSegmentZeroSendsItAgainToo) {
  // Going on with segment 1 would leave block 1 of segment 0 unprogrammed yet "successful".
  config.faults.blockResults = {{1, 0xF7}};
  StartTcp();
  EXPECT_EQ(Update("multi-unit.hex"), ids::kUpdateSuccessful);
  server->Stop();
  EXPECT_EQ(server->Device().EndOfBlocksReceived(), 6 + 2);
  ExpectEveryUnitProgrammed(1);
}

TEST_F(MultiUnitUpdate, StopsAfterTheBlockHoldingTheTopAddress) {
  StartTcp();
  EXPECT_EQ(Update("multi-unit.hex"), ids::kUpdateSuccessful);
  server->Stop();
  EXPECT_EQ(server->Device().EndOfBlocksReceived(), 6);  // segment 1 ends at block 1
}

TEST_F(MultiUnitUpdate, NoAnswerOverTcpMakesTwoAttempts) {
  config.protocols = {};
  StartTcp();
  // No message box over TCP, but the device ends "not responding".
  EXPECT_EQ(Update("multi-unit.hex"), ids::kConnectionError);
  EXPECT_FALSE(op.Shown("Connection error! Please reset power and try again!"));
  EXPECT_TRUE(display.Logged("Connection error! Please reset power and try again!"));
  server->Stop();
  std::vector<std::uint8_t> attention;
  for (std::uint8_t b : server->Device().IdleBytes()) {
    if (b != 0x1C) attention.push_back(b);
  }
  EXPECT_EQ(attention, (std::vector<std::uint8_t>{0x1D, 0x1D, 0x1D, 0x1B, 0x1B, 0x1B}));
}

TEST_F(MultiUnitUpdate, WrongInformationChecksum) {
  config.faults.badInfoChecksum = true;
  StartTcp();
  EXPECT_EQ(Update("multi-unit.hex"), ids::kReadChecksumIncorrect);
  EXPECT_TRUE(op.Shown("Read Error: Checksum incorrect."));
  server->Stop();
  EXPECT_TRUE(server->Device().Programmed().empty());
}

TEST_F(MultiUnitUpdate, TooFewSerialBytes) {
  config.faults.shortSerial = 6;
  StartTcp();
  EXPECT_EQ(Update("multi-unit.hex"), ids::kReadNotEnoughBytes);
  const auto messages = op.Messages();
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages.front().rfind("Read Error: Not enough bytes received. [ SIM000 ]", 0), 0u);
}

TEST_F(MultiUnitUpdate, MoreThanTenUnitsIsAReadError) {
  config.units.assign(11, Unit("G4 ", "A1", "100"));
  config.protocols = {0x1D};
  StartTcp();
  const int status = Update("multi-unit.hex");
  EXPECT_TRUE(status == ids::kReadMissingParameters || status == ids::kReadChecksumIncorrect);
  EXPECT_TRUE(op.Shown("Read Error: The device reported 11 units; at most 10 are supported."));
  EXPECT_LE(doc->Identity().unitCount, kMaxUnits);
  server->Stop();
  EXPECT_TRUE(server->Device().Programmed().empty());
}

TEST_F(MultiUnitUpdate, DisconnectDuringTheTransfer) {
  config.faults.disconnectAtFrame = 100;
  StartTcp();
  EXPECT_EQ(Update("multi-unit.hex"), ids::kUpdateFailed);
  EXPECT_FALSE(display.ProgressActive());
}

TEST_F(MultiUnitUpdate, UnitWithoutAFittingImageIsNotSent) {
  config.units = {Unit("G4 ", "Z9", "100")};  // the file lists hardware A1 and B2
  StartTcp();
  EXPECT_EQ(Update("multi-unit.hex"), ids::kUpdateFailed);
  server->Stop();
  EXPECT_EQ(server->Device().FramesReceived(), 0);
}

TEST_F(MultiUnitUpdate, BusyDeviceOverTcp) {
  config.faults.busy = true;
  StartTcp();
  EXPECT_EQ(Update("multi-unit.hex"), ids::kSystemBusy);
}

}  // namespace
}  // namespace vel::testing

namespace vel::testing {
namespace {

// The two advanced actions the desktop offers besides the update.
class AdvancedActions : public EndToEnd {
 protected:
  void SetUp() override { Family("matrix"); }
};

TEST_F(AdvancedActions, TheUnformattedSendGoesLineByLine) {
  StartPty();
  CVelUpdateDoc& document = Doc("single-64k.hex");
  const DeviceResult result = RunAction(document, target, SerialSettings{}, Action::kUnformatted);
  EXPECT_EQ(result.outcome, Outcome::kSucceeded);
  const int records = document.File().RecordCount(0);
  EXPECT_TRUE(op.Shown(Format(format::kUnformattedCompleted, records)));
  const auto units = Programmed();
  ASSERT_EQ(units.size(), 1u);
  document.File().GetMemMap(0);  // the lines placed as the memory map places the records
  ExpectProgrammedImage(units[0], 0, {0xFF});
  EXPECT_EQ(server->Device().IdentificationsAnswered(), 0) << "no identification before it";
}

TEST_F(AdvancedActions, TheUnformattedSendIsForASerialLine) {
  StartTcp();
  EXPECT_EQ(
      RunAction(Doc("single-64k.hex"), target, SerialSettings{}, Action::kUnformatted).outcome,
      Outcome::kFailed);
  EXPECT_TRUE(op.Shown(std::string(text::kSerialOnly)));
}

TEST_F(AdvancedActions, TheVantrelUpdateIdentifiesOnceAndSendsTheFirstProcedure) {
  StartPty();
  CVelUpdateDoc& document = Doc("single-64k.hex");
  EXPECT_EQ(RunAction(document, target, SerialSettings{}, Action::kVantrel).statusCode,
            ids::kUpdateSuccessful);
  const auto units = Programmed();
  ASSERT_EQ(units.size(), 1u);
  ExpectProgrammedImage(units[0], 0, {0xFF});
  EXPECT_EQ(server->Device().IdentificationsAnswered(), 1);
}

TEST_F(AdvancedActions, TheVantrelUpdateMakesOneAttemptOnly) {
  config.protocols = {0x1B};  // the first attempt's 0x1D goes unanswered
  StartPty();
  EXPECT_EQ(RunAction(Doc("single-64k.hex"), target, SerialSettings{}, Action::kVantrel).outcome,
            Outcome::kFailed);
  server->Stop();
  EXPECT_EQ(server->Device().FramesReceived(), 0);
}

}  // namespace
}  // namespace vel::testing
