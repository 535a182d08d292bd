// What an operator's shell does to zandor: output pipes that close, SIGHUP, SIGTERM while the
// program waits outside the engine, and a log that must stay whole. Nothing of it may leave a
// device half-programmed without saying so.
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <chrono>

#include "Cli.h"
#include "SimServer.h"
#include "image/HexFileLoader.h"
#include "support/CliRunner.h"
#include "support/Files.h"
#include "support/Subprocess.h"
#include "support/TempDir.h"
#include "support/TestDevice.h"

namespace zandor {
namespace {

using namespace std::chrono_literals;
using vel::testing::ReadFile;
using vel::testing::Subprocess;
using vel::testing::TempDir;

const std::string kSample = std::string(ZANDOR_SAMPLES_DIR) + "/multi-unit.hex";
const std::string kZandor = std::string(ZANDOR_BIN_DIR) + "/zandor";
constexpr auto kLongEnough = 60s;  // a bound on waits that end far sooner when all goes well

// A simulated device slow enough (1 ms an answer) for the shell to act mid-update.
class Shell : public ::testing::Test {
 protected:
  std::string StartDevice(sim::SimConfig config = {}) {
    config.answerDelayMs = 1;
    server = std::make_unique<vel::testing::TestDevice>(config);
    return "tcp:127.0.0.1:" + std::to_string(server->StartTcp());
  }

  // The device holds every byte of the sample's image, as a finished update leaves it.
  void ExpectWholeImageProgrammed() {
    server->Stop();
    EXPECT_TRUE(server->Device().Violations().empty());
    vel::FirmwareFile file;
    ASSERT_TRUE(vel::HexFileLoader(file).LoadPath(kSample).ok());
    const vel::VelMemMap& map = file.GetMemMap(0);
    const auto programmed = server->Device().Programmed();
    ASSERT_EQ(programmed.size(), 1u);
    EXPECT_TRUE(programmed[0].runFrameSeen);
    ASSERT_EQ(programmed[0].segments.size(), 2u);
    for (const auto& [segment, bytes] : programmed[0].segments) {
      const vel::VelSegment* image = map.Segment(static_cast<std::uint8_t>(segment));
      ASSERT_NE(image, nullptr);
      EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), image->bytes.begin()))
          << "segment " << segment << " differs from the image";
    }
  }

  TempDir dir;
  std::unique_ptr<vel::testing::TestDevice> server;
};

TEST_F(Shell, AClosedOutputPipeNeverStopsAnUpdate) {
  const std::string target = StartDevice();
  const std::string log = dir.File("log.txt");
  // `zandor update ... --json | head -c 10`: the reader goes away after a few bytes.
  Subprocess zandor({kZandor, "update", kSample, target, "--json", "--log", log});
  ASSERT_TRUE(zandor.WaitForOutput("\"event\":\"progress\"", kLongEnough)) << zandor.err;
  zandor.CloseOutput();
  const auto code = zandor.WaitFor(kLongEnough);
  ASSERT_TRUE(code);
  EXPECT_EQ(*code, kExitOk);
  EXPECT_FALSE(zandor.EndedBySignal());
  ExpectWholeImageProgrammed();
  const std::string text = ReadFile(log);
  EXPECT_NE(text.find(target + ": Device Update Successful\n"), std::string::npos) << text;
  EXPECT_NE(text.find("standard output was closed"), std::string::npos) << text;
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text.back(), '\n');
}

TEST_F(Shell, AClosedErrorStreamNeverStopsAnUpdateEither) {
  const std::string target = StartDevice();
  // `zandor update ... 2>&1 | head`: plain log lines go to standard error.
  Subprocess zandor({kZandor, "update", kSample, target});
  ASSERT_TRUE(zandor.WaitForOutput("device and file versions", kLongEnough)) << zandor.err;
  zandor.CloseOutput();
  const auto code = zandor.WaitFor(kLongEnough);
  ASSERT_TRUE(code);
  EXPECT_EQ(*code, kExitOk);
  ExpectWholeImageProgrammed();
}

TEST_F(Shell, SighupCancelsLikeSigtermReportsEveryDeviceAndExits129) {
  const std::string first = StartDevice();
  vel::testing::TestDevice second(sim::SimConfig{});
  const std::string next = "tcp:127.0.0.1:" + std::to_string(second.StartTcp());
  const std::string log = dir.File("log.txt");
  Subprocess zandor({kZandor, "update", kSample, first, next, "--json", "--log", log});
  ASSERT_TRUE(zandor.WaitForOutput("\"event\":\"progress\"", kLongEnough)) << zandor.err;
  zandor.Signal(SIGHUP);
  const auto code = zandor.WaitFor(kLongEnough);
  ASSERT_TRUE(code);
  EXPECT_EQ(*code, 129);
  EXPECT_FALSE(zandor.EndedBySignal());
  for (const std::string& target : {first, next}) {
    EXPECT_NE(zandor.out.find(testing::CancelledResultEvent(target)), std::string::npos)
        << zandor.out;
  }
  EXPECT_EQ(zandor.out.find("\"success\":true"), std::string::npos) << zandor.out;
  const std::string text = ReadFile(log);
  EXPECT_NE(text.find(next + ": Cancelled at the operator's request\n"), std::string::npos);
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text.back(), '\n');
  second.Stop();
  EXPECT_EQ(second.Device().IdentificationsAnswered(), 0) << "the second device never began";
}

// Ends the program with SIGTERM once it shows `waiting` on standard error: it must end on its
// own, with 143, within a bound.
void ExpectSigtermEndsTheWait(Subprocess& zandor, const std::string& waiting) {
  ASSERT_TRUE(zandor.WaitForError(waiting, kLongEnough)) << zandor.err;
  zandor.Signal(SIGTERM);
  const auto code = zandor.WaitFor(kLongEnough);
  ASSERT_TRUE(code) << "SIGTERM did not end the wait";
  EXPECT_EQ(*code, 143);
  EXPECT_FALSE(zandor.EndedBySignal());
}

TEST_F(Shell, SigtermEndsTheWaitForTheDeviceListsLock) {
  const std::string list = dir.File("KestaLST.txt");
  const int held = open(dir.File(".KestaLST.txt.lock").c_str(), O_RDWR | O_CREAT, 0600);
  ASSERT_EQ(flock(held, LOCK_EX), 0);
  Subprocess zandor({kZandor, "devices", "--list", list, "add", "--name", "late"});
  ExpectSigtermEndsTheWait(zandor, "waiting for the lock on " + list);
  close(held);
  EXPECT_FALSE(std::filesystem::exists(list)) << "nothing was written";
}

TEST_F(Shell, AFifoGivenAsFirmwareIsRefusedWithoutWaiting) {
  const std::string fifo = dir.File("firmware.hex");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  for (const std::vector<std::string>& words :
       {std::vector<std::string>{kZandor, "info", fifo},
        std::vector<std::string>{kZandor, "update", fifo, "tcp:127.0.0.1:1"}}) {
    const std::string& command = words[1];
    Subprocess zandor(words);
    const auto code = zandor.WaitFor(kLongEnough);
    ASSERT_TRUE(code) << command << " waited for a writer";
    EXPECT_EQ(*code, kExitFileError) << command;
    EXPECT_NE(zandor.err.find("Not a regular file"), std::string::npos) << zandor.err;
  }
}

TEST_F(Shell, SigtermEndsTheWaitForAReaderOfTheLogOrBinaryFifo) {
  const std::string fifo = dir.File("pipe");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  Subprocess logging({kZandor, "update", kSample, "tcp:127.0.0.1:1", "--log", fifo});
  ExpectSigtermEndsTheWait(logging, "waiting for a reader of " + fifo);
  Subprocess binary({kZandor, "memory", kSample, "--segment", "00", "--binary", fifo});
  ExpectSigtermEndsTheWait(binary, "waiting for a reader of " + fifo);
}

TEST_F(Shell, SigtermEndsTheSerialNumberPrompt) {
  sim::SimConfig config;
  config.serialNumber.reset();
  const std::string target = StartDevice(config);
  Subprocess zandor({kZandor, "update", kSample, target}, Subprocess::Input::kTerminal);
  ExpectSigtermEndsTheWait(zandor, "Serial number (8 to 12 characters)");
  EXPECT_NE(zandor.out.find(target + ": "), std::string::npos) << "the device's result line";
  server->Stop();
  EXPECT_TRUE(server->Device().Programmed().empty());
}

TEST_F(Shell, TheLogIsWrittenLineByLine) {
  const std::string target = StartDevice();
  const std::string log = dir.File("log.txt");
  Subprocess zandor({kZandor, "update", kSample, target, "--log", log});
  // The connection is logged before the versions are shown; a run killed then keeps it.
  ASSERT_TRUE(zandor.WaitForOutput("device and file versions", kLongEnough)) << zandor.err;
  zandor.Signal(SIGKILL);
  zandor.Wait();
  const std::string text = ReadFile(log);
  EXPECT_NE(text.find(target + ": Communication Established\n"), std::string::npos) << text;
}

TEST_F(Shell, ALogThatCannotBeWrittenFailsTheRunButNotTheDevice) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  const std::string target = StartDevice();
  Subprocess zandor({kZandor, "update", kSample, target, "--log", "/dev/full"});
  const auto code = zandor.WaitFor(kLongEnough);
  ASSERT_TRUE(code);
  EXPECT_EQ(*code, kExitFileError);
  EXPECT_NE(zandor.err.find("cannot write the log /dev/full: No space left on device"),
            std::string::npos)
      << zandor.err;
  EXPECT_NE(zandor.out.find(target + ": Device Update Successful"), std::string::npos);
  ExpectWholeImageProgrammed();
}

}  // namespace
}  // namespace zandor
