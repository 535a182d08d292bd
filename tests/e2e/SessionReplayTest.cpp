// Session records end to end: zandor --record writes a row's exchange, zandor-sim --replay plays
// the device's side back, and the same update against the replay ends as it did in the field.
#include <gtest/gtest.h>

#include <regex>

#include "SimOptions.h"
#include "link/SessionRecord.h"
#include "support/CliRunner.h"
#include "support/Files.h"
#include "support/Subprocess.h"
#include "support/TempDir.h"
#include "support/TestDevice.h"

namespace zandor {
namespace {

using testing::CliRun;
using testing::Zandor;
using vel::testing::ReadFile;
using vel::testing::Subprocess;
using vel::testing::TempDir;
using vel::testing::WriteText;

const std::string kSimulator = std::string(ZANDOR_BIN_DIR) + "/zandor-sim";
constexpr auto kReady = std::chrono::seconds(10);

std::string Sample(const std::string& name) { return std::string(ZANDOR_SAMPLES_DIR) + "/" + name; }

// The log with the link's name (a port or a pseudo-terminal that differs per run) made one.
std::string LogWithoutLink(const std::string& log) {
  return std::regex_replace(log, std::regex("(tcp:127\\.0\\.0\\.1:[0-9]+|serial:/dev/pts/[0-9]+)"),
                            "LINK");
}

// A replay of a record, started as the simulator program; its target once it is ready.
struct Replay {
  Replay(const std::string& record, const std::string& link)
      : process(link == "pty" ? std::vector<std::string>{kSimulator, "--replay", record, "--pty"}
                              : std::vector<std::string>{kSimulator, "--replay", record, "--tcp",
                                                         "127.0.0.1:0"}) {}
  std::string Target() {
    if (!process.WaitForOutput("\n", kReady)) return {};
    const std::string line = process.out.substr(0, process.out.find('\n'));
    return line.rfind("pty ", 0) == 0 ? "serial:" + line.substr(4) : "tcp:" + line.substr(4);
  }
  // The simulator's exit code once it is told to stop.
  int Stop() {
    process.Signal(SIGTERM);
    return process.Wait();
  }
  Subprocess process;
};

class SessionReplay : public ::testing::Test {
 protected:
  // Updates through `target` with a record (when `recordFolder` is given) and the log; the run.
  CliRun Update(const std::string& firmware, const std::string& target, const std::string& log,
                const std::string& recordFolder = {}) {
    std::vector<std::string> words = {"update", Sample(firmware), target, "--yes", "--log", log};
    if (!recordFolder.empty()) words.insert(words.end(), {"--record", recordFolder});
    return Zandor(words);
  }

  // Records an update against `device` (into `recordName`), replays it over `link` and expects
  // the same ending.
  void ExpectReplayedAlike(vel::testing::TestDevice& device, const std::string& firmware,
                           const std::string& target, const std::string& link,
                           const std::string& recordName = "row-1.session") {
    const CliRun field = Update(firmware, target, dir.File("field.log"), dir.Path().string());
    device.Stop();
    const std::string record = dir.File(recordName);
    ASSERT_TRUE(std::filesystem::exists(record)) << field.err;

    Replay replay(record, link);
    const std::string replayed = replay.Target();
    ASSERT_FALSE(replayed.empty()) << replay.process.err;
    const CliRun desk = Update(firmware, replayed, dir.File("desk.log"));
    EXPECT_EQ(replay.Stop(), 0) << replay.process.err;
    EXPECT_EQ(desk.code, field.code);
    EXPECT_EQ(LogWithoutLink(desk.out), LogWithoutLink(field.out));
    EXPECT_EQ(LogWithoutLink(ReadFile(dir.File("desk.log"))),
              LogWithoutLink(ReadFile(dir.File("field.log"))));
  }

  TempDir dir;
};

TEST_F(SessionReplay, ASuccessOverTcpEndsAlikeOnTheDesk) {
  vel::testing::TestDevice device{sim::SimConfig{}};
  const std::string target = "tcp:127.0.0.1:" + std::to_string(device.StartTcp());
  ExpectReplayedAlike(device, "multi-unit.hex", target, "tcp");
  EXPECT_NE(ReadFile(dir.File("desk.log")).find("Device Update Successful"), std::string::npos);
}

TEST_F(SessionReplay, ABlockFailureOverASerialLineEndsAlikeOnTheDesk) {
  sim::SimConfig config;
  ASSERT_TRUE(sim::ApplyFamily("kesta128", &config));
  config.faults.blockResults = {{2, 0xF7}};
  vel::testing::TestDevice device{config};
  const std::string target = "serial:" + device.StartPty();
  ExpectReplayedAlike(device, "kesta-128k.hex", target, "pty");
  const std::string log = ReadFile(dir.File("desk.log"));
  EXPECT_NE(log.find("Error Code: F7(Programming Error)"), std::string::npos) << log;
  EXPECT_NE(log.find("Device Update Failed"), std::string::npos) << log;
}

// A row run again (a retry) keeps the record of every attempt; each replays as it ended.
TEST_F(SessionReplay, EveryAttemptAtARowKeepsItsRecord) {
  sim::SimConfig closing;
  closing.faults.disconnectAtFrame = 200;
  vel::testing::TestDevice failing{closing};
  const std::string failingTarget = "tcp:127.0.0.1:" + std::to_string(failing.StartTcp());
  const CliRun first =
      Update("multi-unit.hex", failingTarget, dir.File("first.log"), dir.Path().string());
  EXPECT_NE(first.code, 0);
  const std::string firstRecord = ReadFile(dir.File("row-1.session"));
  const auto failed = vel::ParseSession(firstRecord);
  ASSERT_TRUE(failed.ok()) << failed.error();
  EXPECT_EQ(failed->statusText.rfind("Device Update Failed", 0), 0u) << failed->statusText;

  vel::testing::TestDevice device{sim::SimConfig{}};
  const std::string target = "tcp:127.0.0.1:" + std::to_string(device.StartTcp());
  ExpectReplayedAlike(device, "multi-unit.hex", target, "tcp", "row-1.2.session");
  EXPECT_EQ(ReadFile(dir.File("row-1.session")), firstRecord);
  const auto succeeded = vel::ParseSession(ReadFile(dir.File("row-1.2.session")));
  ASSERT_TRUE(succeeded.ok()) << succeeded.error();
  EXPECT_EQ(succeeded->statusText, "Device Update Successful");
}

TEST_F(SessionReplay, TheRecordKeepsTheLinkAndVersionButNeverTheKey) {
  const std::string key = "00112233445566778899AABBCCDDEEFF";
  sim::SimConfig config;
  config.key = key;
  vel::testing::TestDevice device{config};
  const std::string target = "tcp:127.0.0.1:" + std::to_string(device.StartTcp());
  const CliRun run =
      Update("multi-unit.hex", target + ":" + key, dir.File("log"), dir.Path().string());
  EXPECT_EQ(run.code, 0) << run.err;
  const std::string record = ReadFile(dir.File("row-1.session"));
  EXPECT_EQ(record.find(key), std::string::npos);
  EXPECT_EQ(record.find("00 11 22 33 44 55 66 77"), std::string::npos);
  EXPECT_NE(record.find("program ZandorUpdate version "), std::string::npos) << record;
  EXPECT_NE(record.find("link " + target.substr(0, 3) + " " + target.substr(4) + " enciphered\n"),
            std::string::npos)
      << record.substr(0, 300);
  // Deciphered: the identification's attention byte as the device took it.
  EXPECT_NE(record.find(" > 1D\n"), std::string::npos);
}

TEST_F(SessionReplay, AHostThatSendsOtherBytesIsAViolation) {
  vel::testing::TestDevice device{sim::SimConfig{}};
  const std::string target = "tcp:127.0.0.1:" + std::to_string(device.StartTcp());
  ASSERT_EQ(Update("multi-unit.hex", target, dir.File("field.log"), dir.Path().string()).code, 0);
  device.Stop();
  Replay replay(dir.File("row-1.session"), "tcp");
  const std::string replayed = replay.Target();
  ASSERT_FALSE(replayed.empty());
  // Another image: the first record frame differs from the one recorded.
  const CliRun desk = Update("single-64k.hex", replayed, dir.File("desk.log"));
  EXPECT_NE(desk.code, 0);
  EXPECT_EQ(replay.Stop(), 1);
  EXPECT_NE(replay.process.err.find("protocol violation: the host wrote "), std::string::npos)
      << replay.process.err;
}

TEST_F(SessionReplay, ARecordOfAnotherFormatOrForeignBytesIsRefusedClearly) {
  const std::string record = dir.File("bad.session");
  const auto refusal = [&](const std::string& text) {
    WriteText(record, text);
    Subprocess sim({kSimulator, "--replay", record, "--tcp", "127.0.0.1:0"});
    EXPECT_EQ(sim.Wait(), 2);
    return sim.err;
  };
  EXPECT_NE(refusal("zandor session record 7\nlink tcp 1.2.3.4:1\nstatus 1 x\n")
                .find("a session record of format 7; this program reads format 1"),
            std::string::npos);
  EXPECT_NE(refusal(std::string("\x7F"
                                "ELF\x01\x1B[2J",
                                8))
                .find("not a session record"),
            std::string::npos);
  const std::string broken =
      refusal("zandor session record 1\nlink tcp 1.2.3.4:1\nstatus 1 x\n@5 > 1D\n@6 < ZZ\n");
  EXPECT_NE(broken.find("line 5 is not a timed event"), std::string::npos) << broken;
  EXPECT_EQ(broken.find("ZZ"), std::string::npos) << "the record's own bytes are not echoed";
}

TEST_F(SessionReplay, RecordNeedsAnExistingFolder) {
  const CliRun run = Zandor(
      {"update", Sample("multi-unit.hex"), "tcp:127.0.0.1:9", "--record", dir.File("missing")});
  EXPECT_EQ(run.code, 3) << run.err;
  EXPECT_NE(run.err.find("--record needs an existing folder"), std::string::npos) << run.err;
}

}  // namespace
}  // namespace zandor
