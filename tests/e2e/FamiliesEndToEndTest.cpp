// Every device family's procedure against the simulated device over a pseudo-terminal (TCP
// where the family takes it): a success with the programmed bytes, and its failure paths.
#include "SampleGen.h"
#include "common/Strings.h"
#include "e2e/EndToEndSupport.h"
#include "support/Files.h"
#include "support/TempDir.h"

namespace vel::testing {
namespace {

const std::string kTerminated =
    "Transmission Terminated.  Power off and on the Zandor Unit and try to upload again.";

class Families : public EndToEnd {};

TEST_F(Families, Kesta128WritesTheSerialNumberAndSendsBlanksAsZeros) {
  Family("kesta128");
  StartPty();
  EXPECT_EQ(Update("kesta-128k.hex"), ids::kUpdateSuccessful);
  const VelMemMap& map = *doc->File().MemMap(0);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(map.GetPage(254, 0)), 16),
            "SIM0000000000001");
  const auto units = Programmed();
  ASSERT_GE(units.size(), 1u);
  ExpectProgrammedImage(units[0], 0, {254, 255}, true);
}

TEST_F(Families, Kesta128StopsOnABlockErrorAndStillCloses) {
  Family("kesta128");
  config.faults.blockResults = {{2, 0xF7}};
  StartPty();
  EXPECT_EQ(Update("kesta-128k.hex"), ids::kUpdateFailed);
  EXPECT_TRUE(op.Shown("Error updating block:\n\nError Code: F7(Programming Error)"));
  EXPECT_FALSE(display.ProgressActive());
}

TEST_F(Families, DravikYpcWakesWith1B) {
  Family("dravik-ypc");
  StartPty();
  EXPECT_EQ(Update("dravik-ypc.hex"), ids::kUpdateSuccessful);
  ExpectProgrammedImage(Programmed().at(0), 0, {254, 255}, true);
}

TEST_F(Families, DravikWakeUnansweredIsAConnectionError) {
  Family("dravik-ypc");
  config.wakeByte = 0x1F;  // answers the other wake byte
  StartPty();
  EXPECT_EQ(Update("dravik-ypc.hex"), ids::kConnectionError);
  EXPECT_TRUE(op.Shown("Connection error! Please reset power and try again!"));
}

TEST_F(Families, DravikOverTcpIsRefused) {
  Family("dravik-ypk");
  StartTcp();
  EXPECT_EQ(Update("dravik-ypk.hex"), ids::kConnectionError);
  EXPECT_TRUE(op.Shown("Dravik only supports firmware upgrade via serial port"));
}

TEST_F(Families, DravikYpkConfirmsTheChecksum) {
  Family("dravik-ypk");
  config.faults.blockResults = {{3, 0xF6}};
  StartPty();
  EXPECT_EQ(Update("dravik-ypk.hex"), ids::kUpdateSuccessful);
  ExpectProgrammedImage(Programmed().at(0), 0, {0xFF});
}

TEST_F(Families, DravikYpkChecksumNotConfirmed) {
  Family("dravik-ypk");
  config.faults.rejectChecksum = true;
  StartPty();
  EXPECT_EQ(Update("dravik-ypk.hex"), ids::kUpdateFailed);
  EXPECT_TRUE(op.Shown("Telvik Programming Fail"));
}

TEST_F(Families, DravikYpkUpdateAgainEndsIncomplete) {
  Family("dravik-ypk");
  config.faults.blockResults = {{5, 0xFD}};
  StartPty();
  EXPECT_EQ(Update("dravik-ypk.hex"), ids::kUpdateFailed);
  EXPECT_TRUE(op.Shown("Please Update again!"));
  EXPECT_TRUE(op.Shown(kTerminated));
}

TEST_F(Families, DravikYpaSendsBothPhases) {
  Family("dravik-ypa");
  StartPty();
  EXPECT_EQ(Update("dravik-ypa.hex"), ids::kUpdateSuccessful);
  const auto units = Programmed();
  ASSERT_GE(units.size(), 2u);
  ExpectProgrammedImage(units[0], 0, {0xFF});
  ExpectProgrammedImage(units[1], 1, {254, 255}, true);
}

TEST_F(Families, DravikYpaWithoutTheEchoBetweenPhases) {
  Family("dravik-ypa");
  config.faults.noEcho = true;
  StartPty();
  EXPECT_EQ(Update("dravik-ypa.hex"), ids::kConnectionError);
}

TEST_F(Families, DravikSameAuxiliaryVersionTakesTheHandshakeAndOnePhase) {
  Family("dravik");  // YPB with auxiliary version 2 = 100, as the file says
  StartPty();
  EXPECT_EQ(Update("dravik-128k.hex"), ids::kUpdateSuccessful);
  ExpectProgrammedImage(Programmed().at(0), 0, {254, 255}, true);
}

TEST_F(Families, DravikHandshakeMissing) {
  Family("dravik");
  config.faults.noEcho = true;
  StartPty();
  EXPECT_EQ(Update("dravik-128k.hex"), ids::kUpdateFailed);
  EXPECT_TRUE(op.Shown(kTerminated));
}

TEST_F(Families, DravikOtherAuxiliaryVersionSendsSectorsFirst) {
  Family("dravik");
  config.units[0].auxiliary = {"001", "099"};
  StartPty();
  EXPECT_EQ(Update("dravik-128k.hex"), ids::kUpdateSuccessful);
  const auto units = Programmed();
  ASSERT_GE(units.size(), 2u);
  ExpectProgrammedImage(units[0], 1, {0, 1, 2, 3, 4, 5});
  ExpectProgrammedImage(units[1], 0, {254, 255}, true);
}

TEST_F(Families, UserStationSendsEveryRegionWithItsWaitText) {
  Family("station");
  StartPty();
  EXPECT_EQ(Update("station-three-images.hex"), ids::kUpdateSuccessful);
  EXPECT_TRUE(display.Logged("Waiting for Vel to program Main Firmware.  Timeout: 60 s"));
  EXPECT_TRUE(display.Logged("Waiting for Vel to program RCM.  Timeout: 60 s"));
  EXPECT_TRUE(display.Logged("Waiting for Vel to program OSD Module.  Timeout: 60 s"));
  const auto units = Programmed();
  ASSERT_GE(units.size(), 3u);
  for (int region = 0; region < 3; ++region) ExpectProgrammedImage(units[region], region, {0xFF});
}

TEST_F(Families, UserStationWithoutRegionConfirmation) {
  Family("station");
  config.faults.noRegionAck = true;
  StartPty();
  EXPECT_EQ(Update("station-three-images.hex"), ids::kUpdateFailed);
  EXPECT_TRUE(op.Shown(std::string(text::kUnitTimeout)));
}

TEST_F(Families, HubStartsWithTenBytesAndConfirmsTheChecksum) {
  Family("hub");
  StartPty();
  EXPECT_EQ(Update("hub-jqh.hex"), ids::kUpdateSuccessful);
  server->Stop();
  const auto idle = server->Device().IdleBytes();
  ASSERT_GE(idle.size(), 10u);
  EXPECT_EQ(std::count(idle.begin(), idle.begin() + 10, 0xBB), 10);
  ExpectProgrammedImage(server->Device().Programmed().at(0), 0, {0xFF});
}

TEST_F(Families, HubChecksumNotConfirmed) {
  Family("hub");
  config.faults.rejectChecksum = true;
  StartPty();
  EXPECT_EQ(Update("hub-jqh.hex"), ids::kUpdateFailed);
  EXPECT_TRUE(op.Shown("Telvik Programming Fail"));
}

TEST_F(Families, TztSendsBothImages) {
  Family("tzt");
  config.faults.blockResults = {{5, 0xF7}};  // second phase: segment 254 again from block 0
  StartPty();
  EXPECT_EQ(Update("tzt-two-images.hex"), ids::kUpdateSuccessful);
  const auto units = Programmed();
  ASSERT_GE(units.size(), 2u);
  ExpectProgrammedImage(units[0], 0, {0xFF});
  ExpectProgrammedImage(units[1], 1, {254, 255});
}

TEST_F(Families, TztProgrammingErrorInTheFirstPhaseEndsTheTransfer) {
  Family("tzt");
  config.faults.blockResults = {{1, 0xF7}};
  StartPty();
  EXPECT_EQ(Update("tzt-two-images.hex"), ids::kUpdateFailed);
  EXPECT_TRUE(op.Shown(kTerminated));
}

TEST_F(Families, XxxSendsBothImages) {
  Family("xxx");
  StartPty();
  EXPECT_EQ(Update("xxx-two-images.hex"), ids::kUpdateSuccessful);
  const auto units = Programmed();
  ASSERT_GE(units.size(), 2u);
  ExpectProgrammedImage(units[0], 0, {0, 1});
  ExpectProgrammedImage(units[1], 1, {254, 255});
}

// Plain and enciphered: the 27-byte reply between the phases arrives as a short receive, which
// must keep the receiving stream in step.
TEST_F(Families, LoaderSendsBothImagesOverTcp) {
  for (const std::string key : {"", "000102030405060708090A0B0C0D0E0F"}) {
    config = sim::SimConfig{};
    Family("loader");
    config.key = key;
    StartTcp();
    EXPECT_EQ(Update("loader-g5.hex"), ids::kUpdateSuccessful) << key;
    const auto units = Programmed();
    ASSERT_GE(units.size(), 2u);
    ExpectProgrammedImage(units[0], 0, {0, 1});
    ExpectProgrammedImage(units[1], 1, {0});
  }
}

// A KestaS+Loader file: unit 1 (N8) takes the NB image of slot 1, then after the hand-over
// unit 0 (G4) takes slot 0 with the loader's unit-select frames (01 31 before, 01 32 after).
TEST_F(Families, TheNbLoaderFileGoesToEachUnitWithItsOwnImage) {
  config.units = {Unit("G4 ", "A1", "100", 0), Unit("N8 ", "A1", "100", 1)};
  StartTcp();
  EXPECT_EQ(Update("kesta-nb-loader.hex"), ids::kUpdateSuccessful);
  const auto units = Programmed();
  ASSERT_EQ(units.size(), 2u);
  EXPECT_EQ(units[0].kindCode, 0x01);
  ExpectProgrammedImage(units[0], 1, {0});
  EXPECT_EQ(units[1].kindCode, 0x01);
  ExpectProgrammedImage(units[1], 0, {0});
}

TEST_F(Families, AnNbLoaderUnitThatRefusesItsSelectionGetsNothing) {
  config.units = {Unit("G4 ", "A1", "100", 0), Unit("N8 ", "A1", "100", 1)};
  config.faults.selectAnswers = {{1, 0xFE}};  // the loader's 01 31 for unit 0
  StartTcp();
  EXPECT_EQ(Update("kesta-nb-loader.hex"), ids::kUnitNotSelected);
  const auto units = Programmed();
  ASSERT_EQ(units.size(), 1u);
  ExpectProgrammedImage(units[0], 1, {0});
}

TEST_F(Families, LoaderWithoutItsReplyBetweenPhases) {
  Family("loader");
  config.faults.noLoaderReply = true;
  StartPty();
  EXPECT_EQ(Update("loader-g5.hex"), ids::kTransmissionTerminated);
  EXPECT_TRUE(op.Shown(kTerminated));
}

TEST_F(Families, MissingSegmentIsReported) {
  // A Dravik image that has segment 254 but not 255.
  samplegen::ImageSpec image;
  image.metadataItems = {"DeviceType = YPB", "HardwareVersionList = ??",
                         "AuxiliaryVersion = 2 100"};
  image.segments = {254};
  samplegen::ImageSpec sectors;
  sectors.segments = {0};
  TempDir dir;
  WriteText(dir.File("no255.hex"), samplegen::Generate({image, sectors}).text);
  Family("dravik");
  StartPty();
  EXPECT_EQ(Update(dir.File("no255.hex")), ids::kUpdateFailed);
  EXPECT_TRUE(op.Shown("Non-existent Segment Error"));
}

TEST_F(Families, CancelIsNeverASuccess) {
  Family("dravik-ypk");
  config.programmingDelayMs = 5;
  StartPty();
  std::thread canceller([this] {
    while (server->Device().FramesReceived() < 50)
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    display.State().cancel.Request();
  });
  EXPECT_EQ(Update("dravik-ypk.hex"), ids::kOperationCancelled);
  canceller.join();
}

}  // namespace
}  // namespace vel::testing
