// Faults of the exchange that must never pass for a success: a unit that did not confirm its
// selection, a line asked for again, an information block that comes again, a connection the
// device closed, a checksum the device refused at once.
#include <future>

#include "common/Format.h"
#include "common/Strings.h"
#include "e2e/EndToEndSupport.h"

namespace vel::testing {
namespace {

using Clock = std::chrono::steady_clock;

class ExchangeFaults : public EndToEnd {
 protected:
  bool LoggedStartingWith(const std::string& prefix) const {
    for (const std::string& line : display.Log()) {
      if (line.rfind(prefix, 0) == 0) return true;
    }
    return false;
  }
};

// The first unit-select frame answered otherwise than 0xFA (refused, garbled, or not at all):
// not one record frame goes out, and the row fails naming the unit.
TEST_F(ExchangeFaults, AUnitThatDoesNotConfirmItsSelectionGetsNothing) {
  for (const std::uint8_t answer : {std::uint8_t{0xFE}, std::uint8_t{0x5A}, std::uint8_t{0}}) {
    config = sim::SimConfig{};
    config.units = {Unit("G4 ", "A1", "100", 0), Unit("G4 ", "B2", "100", 1)};
    config.faults.selectAnswers = {{0, answer}};
    StartTcp();
    EXPECT_EQ(Update("multi-unit.hex"), ids::kUnitNotSelected) << int{answer};
    EXPECT_TRUE(LoggedStartingWith("Unit 1 did not confirm its selection")) << int{answer};
    server->Stop();
    EXPECT_EQ(server->Device().FramesReceived(), 0) << int{answer};
    EXPECT_TRUE(server->Device().Violations().empty());
  }
}

// The second unit refuses: the first unit was updated, the second gets nothing, the row fails.
TEST_F(ExchangeFaults, ALaterUnitThatDoesNotConfirmItsSelectionGetsNothing) {
  config.units = {Unit("G4 ", "A1", "100", 0), Unit("G4 ", "B2", "100", 1)};
  config.faults.selectAnswers = {{1, 0xFE}};
  StartTcp();
  EXPECT_EQ(Update("multi-unit.hex"), ids::kUnitNotSelected);
  EXPECT_TRUE(LoggedStartingWith("Unit 0 did not confirm its selection"));
  const auto programmed = Programmed();
  ASSERT_EQ(programmed.size(), 1u) << "only the first unit was sent to";
  ExpectProgrammedImage(programmed[0], 0, {0, 1});
}

TEST_F(ExchangeFaults, ALineAskedForAgainIsSentAgainAndCountedOnce) {
  Family("matrix");
  config.faults.repeatLines = {3};
  StartPty();
  CVelUpdateDoc& document = Doc("single-64k.hex");
  const DeviceResult result = RunAction(document, target, SerialSettings{}, Action::kUnformatted);
  EXPECT_EQ(result.outcome, Outcome::kSucceeded);
  EXPECT_TRUE(op.Shown(Format(format::kUnformattedCompleted, document.File().RecordCount(0))));
}

// A display that requests a cancel when the status line names the last record.
class CancelAtLastLine final : public StatusDisplay {
 public:
  void AppendMessage(const std::string&) override {}
  std::string trigger;

 protected:
  void ShowProgress(const ProgressPaint&, const std::string&) override {}
  void HideProgress() override {}
  bool KeepsEveryStatusLine() const override { return true; }
  void LogStatusLine(const std::string& line) override {
    if (line == trigger) State().cancel.Request();
  }
};

TEST_F(ExchangeFaults, ACancelledUnformattedSendIsNeverASuccess) {
  Family("matrix");
  config.faults.repeatLines = {3};
  StartPty();
  CancelAtLastLine cancelling;
  ScriptedOperator quiet;
  CVelUpdateDoc document(cancelling, quiet);
  ASSERT_TRUE(document.OnOpenDocument(std::string(ZANDOR_SAMPLES_DIR) + "/single-64k.hex").ok());
  const int total = document.File().RecordCount(0);
  cancelling.trigger = Format(format::kSendingRecordLine, total, total);
  const DeviceResult result = RunAction(document, target, SerialSettings{}, Action::kUnformatted);
  EXPECT_NE(result.outcome, Outcome::kSucceeded);
  EXPECT_FALSE(IsUpdateSuccess(result.statusCode));
}

// The first information block is broken: the check asks for it again and takes the second.
TEST_F(ExchangeFaults, TheInformationBlockAskedForAgainIsReadAgainInACheck) {
  config.faults.badInfoBlocks = 1;
  StartTcp();
  EXPECT_EQ(Check("multi-unit.hex"), status::kCheckAccepted);
}

// Two broken blocks end the exchange without asking for a third; the next pass reads a good one.
TEST_F(ExchangeFaults, TwoBrokenInformationBlocksAreNotFollowedByAThirdRequest) {
  config.faults.badInfoBlocks = 2;
  StartTcp();
  EXPECT_EQ(Update("multi-unit.hex"), ids::kUpdateSuccessful);
  ExpectProgrammedImage(Programmed().at(0), 0, {0, 1});
}

// The device closes the connection mid-transfer while the operator keeps waiting: the row ends
// failed at once instead of sending into a closed socket forever.
TEST_F(ExchangeFaults, AConnectionTheDeviceClosedEndsTheRow) {
  config.faults.disconnectAtFrame = 100;
  op.cancelOnSilence = false;
  StartTcp();
  CVelUpdateDoc& document = Doc("multi-unit.hex");
  auto update = std::async(std::launch::async,
                           [&] { return UpdateDevice(document, target, SerialSettings{}); });
  if (update.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
    display.State().cancel.Request();
    update.wait();
    FAIL() << "the update went on after the device closed the connection";
  }
  EXPECT_EQ(update.get(), ids::kUpdateFailed);
  EXPECT_TRUE(display.Logged(std::string(text::kConnectionClosed)));
}

// The Dravik sectors' checksum refused with 0xFE: the update fails at once, it does not wait out
// the countdown for a 0xFA that will not come.
TEST_F(ExchangeFaults, ASectorChecksumRefusedEndsTheWaitAtOnce) {
  Family("dravik");
  config.units[0].auxiliary = {"001", "099"};
  config.faults.rejectChecksum = true;
  StartPty();
  EXPECT_EQ(Update("dravik-128k.hex"), ids::kUpdateFailed);
  EXPECT_TRUE(op.Shown(std::string(text::kTelvikFail)));
  EXPECT_TRUE(display.Logged(Format(format::kWaitingChecksum, 60)));
  EXPECT_FALSE(display.Logged(Format(format::kWaitingChecksum, 59)));
}

}  // namespace
}  // namespace vel::testing
