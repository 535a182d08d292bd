#include <gtest/gtest.h>

#include <sstream>

#include "Cli.h"
#include "SimServer.h"
#include "support/CliRunner.h"
#include "support/Files.h"
#include "support/TempDir.h"
#include "support/TestDevice.h"

namespace zandor {
namespace {

using testing::CliRun;
using testing::Zandor;

const std::string kSample = std::string(ZANDOR_SAMPLES_DIR) + "/multi-unit.hex";

class DeviceCommands : public ::testing::Test {
 protected:
  std::string Start(sim::SimConfig config = {}) {
    server = std::make_unique<vel::testing::TestDevice>(config);
    return "tcp:127.0.0.1:" + std::to_string(server->StartTcp());
  }
  std::unique_ptr<vel::testing::TestDevice> server;
};

TEST_F(DeviceCommands, UpdateEndsEachDeviceWithItsStatusLine) {
  const std::string target = Start();
  const CliRun run = Zandor({"update", kSample, target});
  EXPECT_EQ(run.code, kExitOk) << run.err;
  EXPECT_NE(run.out.find(target + ": Device Update Successful\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Unit 0: KestaHWIII (G4 )"), std::string::npos);
}

TEST_F(DeviceCommands, JsonEventsAndTheLog) {
  const std::string target = Start();
  vel::testing::TempDir dir;
  const CliRun run = Zandor({"update", kSample, target, "--json", "--log", dir.File("log.txt")});
  EXPECT_EQ(run.code, kExitOk);
  EXPECT_NE(run.out.find("{\"event\":\"result\",\"device\":\"" + target +
                         "\",\"status\":62504,\"text\":\"Device Update Successful\","
                         "\"success\":true,\"interrupted\":false,\"current\":false}"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("\"event\":\"versions\""), std::string::npos);
  const std::string log = vel::testing::ReadFile(dir.File("log.txt"));
  EXPECT_NE(log.find("Communication established with Zandor Unit."), std::string::npos);
  EXPECT_NE(log.find(target + ": Device Update Successful"), std::string::npos);
}

TEST_F(DeviceCommands, AFailedDeviceFailsTheRunButTheNextStillRuns) {
  std::uint16_t closedPort;
  {
    vel::testing::TestDevice closed(sim::SimConfig{});
    closedPort = static_cast<std::uint16_t>(closed.StartTcp());
  }
  const std::string target = Start();
  const std::string dead = "tcp:127.0.0.1:" + std::to_string(closedPort);
  const CliRun run = Zandor({"update", kSample, dead, target});
  EXPECT_EQ(run.code, kExitNegative);
  EXPECT_NE(run.out.find(dead + ": Connection error! Please reset power and try again!"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find(target + ": Device Update Successful"), std::string::npos);
}

TEST_F(DeviceCommands, DeviceWithoutSerialNumberNeedsOneGiven) {
  sim::SimConfig config;
  config.serialNumber.reset();
  const std::string target = Start(config);
  const CliRun refused = Zandor({"update", kSample, target});
  EXPECT_EQ(refused.code, kExitNegative);
  EXPECT_NE(refused.err.find("--serial-number"), std::string::npos);
  const CliRun given = Zandor({"update", kSample, target, "--serial-number", "KX12345678"});
  EXPECT_EQ(given.code, kExitOk) << given.out << given.err;
  const CliRun optional = Zandor({"update", kSample, target, "--serial-optional"});
  EXPECT_EQ(optional.code, kExitOk);
}

TEST_F(DeviceCommands, CheckReadsTheDeviceWithoutProgrammingIt) {
  const std::string target = Start();
  const CliRun run = Zandor({"check", target, "--file", kSample});
  EXPECT_EQ(run.code, kExitOk) << run.err;
  EXPECT_NE(run.out.find(target + ": Device Information Success"), std::string::npos);
  server->Stop();
  EXPECT_TRUE(server->Device().Programmed().empty());
}

TEST_F(DeviceCommands, KeysNeverAppearInTheOutput) {
  sim::SimConfig config;
  config.key = "00112233445566778899AABBCCDDEEFF";
  const std::string target = Start(config);
  const CliRun run =
      Zandor({"update", kSample, target + ":00-11-22-33-44-55-66-77-88-99-AA-BB-CC-DD-EE-FF"});
  EXPECT_EQ(run.code, kExitOk) << run.err;
  EXPECT_EQ(run.out.find("AABBCC"), std::string::npos);
  EXPECT_EQ(run.err.find("AABBCC"), std::string::npos);
  EXPECT_NE(run.out.find(target + ":<key>: Device Update Successful"), std::string::npos);
}

TEST(DeviceCommandUsage, BadTargetsAndOptions) {
  EXPECT_EQ(Zandor({"update", kSample}).code, kExitUsage);
  EXPECT_EQ(Zandor({"update", kSample, "usb:3"}).code, kExitUsage);
  EXPECT_EQ(Zandor({"update", kSample, "tcp:host.example:3000"}).code, kExitUsage);
  EXPECT_EQ(Zandor({"update", kSample, "tcp:127.0.0.1:3000:XYZ"}).code, kExitUsage);
  EXPECT_EQ(Zandor({"update", kSample, "tcp:127.0.0.1:99999"}).code, kExitUsage);
  EXPECT_EQ(Zandor({"update", kSample, "serial:"}).code, kExitUsage);
  EXPECT_EQ(Zandor({"update", kSample, "serial:COM3", "--on-silence=maybe"}).code, kExitUsage);
  EXPECT_EQ(Zandor({"update", kSample, "serial:COM3", "--serial-number", "short"}).code,
            kExitUsage);
  EXPECT_EQ(Zandor({"update", "/nonexistent.hex", "serial:COM3"}).code, kExitFileError);
  EXPECT_EQ(Zandor({"check", "--help"}).code, kExitOk);
}

TEST(DeviceCommandUsage, MissingSerialPortGivesItsStatusText) {
  const CliRun run = Zandor({"update", kSample, "serial:/dev/does-not-exist-tty"});
  EXPECT_EQ(run.code, kExitNegative);
  EXPECT_NE(run.out.find("does not exist on this system."), std::string::npos) << run.out;
}

}  // namespace
}  // namespace zandor
