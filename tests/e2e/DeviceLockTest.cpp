// Two processes at one device: a device is one process's from before its link opens until after
// it closes. Another process's row waits for it, names the process that holds it, and ends failed
// without touching the device when its wait runs out.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <latch>
#include <thread>

#include "Cli.h"
#include "common/Format.h"
#include "devices/DeviceLock.h"
#include "devices/DeviceWalks.h"
#include "support/CliRunner.h"
#include "support/Files.h"
#include "support/JobRecorder.h"
#include "support/Subprocess.h"
#include "support/TempDir.h"
#include "support/TestDevice.h"

namespace vel::testing {
namespace {

using namespace std::chrono_literals;
using zandor::testing::Zandor;

const std::string kSample = std::string(ZANDOR_SAMPLES_DIR) + "/multi-unit.hex";
const std::string kZandor = std::string(ZANDOR_BIN_DIR) + "/zandor";
constexpr auto kLongEnough = 60s;  // a bound on waits that end far sooner when all goes well
constexpr auto npos = std::string::npos;

// A lock file's text for `pid`: ten digits, right-aligned, and a newline.
std::string LockText(pid_t pid) { return Format("%10d\n", static_cast<int>(pid)); }

// A PID no process has: a child's, after it ended.
pid_t DeadPid() {
  const pid_t child = fork();
  if (child == 0) _exit(0);
  waitpid(child, nullptr, 0);
  return child;
}

// A simulated device whose update lasts seconds, and another zandor process updating it.
class TwoProcesses : public ::testing::Test {
 protected:
  TwoProcesses() {
    sim::SimConfig config;
    config.programmingDelayMs = 300;
    device = std::make_unique<TestDevice>(config);
    port = std::to_string(device->StartTcp());
    target = "tcp:127.0.0.1:" + port;
  }
  // The other process, past the start of its transfer: it holds the device.
  Subprocess StartFirst() {
    Subprocess first({kZandor, "update", kSample, target, "--json"});
    EXPECT_TRUE(first.WaitForOutput("\"event\":\"progress\"", kLongEnough)) << first.err;
    return first;
  }
  std::string HeldBy(const Subprocess& first) const {
    return "process " + std::to_string(first.Pid()) + " (zandor) is working with";
  }

  std::unique_ptr<TestDevice> device;
  std::string port;
  std::string target;
};

TEST_F(TwoProcesses, ASecondThatDoesNotWaitEndsFailedNamingTheFirstAndNeverTouchesTheDevice) {
  Subprocess first = StartFirst();
  Subprocess second({kZandor, "update", kSample, target, "--lock-wait", "0", "--json"});
  EXPECT_EQ(second.Wait(), zandor::kExitNegative) << second.err;
  EXPECT_NE(second.out.find("\"success\":false"), npos) << second.out;
  EXPECT_NE(second.out.find(HeldBy(first) + " tcp:this host:" + port), npos) << second.out;
  EXPECT_EQ(first.Wait(), zandor::kExitOk) << first.err;
  // Each run's row let the device go when it ended: later runs of this process go through.
  for (int run = 0; run < 2; ++run) {
    EXPECT_EQ(Zandor({"check", target, "--lock-wait", "0"}).code, zandor::kExitOk);
  }
  device->Stop();
  EXPECT_EQ(device->Device().Programmed().size(), 1u);
  EXPECT_EQ(device->Device().IdentificationsAnswered(), 3) << "the second update never began";
}

TEST_F(TwoProcesses, ASecondThatWaitsUpdatesTheDeviceOnceTheFirstHasEnded) {
  Subprocess first = StartFirst();
  Subprocess second({kZandor, "update", kSample, target, "--lock-wait", "600"});
  EXPECT_TRUE(second.WaitForError(
      "waiting for tcp:this host:" + port + ": " + HeldBy(first) + " it", kLongEnough))
      << second.err;
  EXPECT_EQ(first.Wait(), zandor::kExitOk) << first.err;
  EXPECT_EQ(second.Wait(), zandor::kExitOk) << second.err;
  device->Stop();
  const auto programmed = device->Device().Programmed();
  ASSERT_EQ(programmed.size(), 2u);
  EXPECT_TRUE(programmed[0].runFrameSeen && programmed[1].runFrameSeen);
}

TEST(LockWaitOption, TakesZeroTo600Seconds) {
  for (const char* wrong : {"601", "ten", ""}) {
    EXPECT_EQ(Zandor({"check", "tcp:127.0.0.1:1", "--lock-wait", wrong}).code, zandor::kExitUsage)
        << wrong;
  }
}

// A serial port's lock is the file in /run/lock that other serial programs keep too, named after
// the device a COM name opens.
TEST(SerialPortLock, ALiveHolderKeepsTheDeviceAStaleOneIsTakenOverAndTheFileGoesAtTheEnd) {
  if (access("/run/lock", W_OK) != 0) GTEST_SKIP() << "/run/lock cannot be written here";
  TestDevice device{sim::SimConfig{}};
  const std::string pty = device.StartPty();
  ASSERT_EQ(pty.rfind("/dev/pts/", 0), 0u) << pty;
  const std::string lockFile = "/run/lock/LCK..pts_" + pty.substr(9);
  setenv("ZANDOR_COM_PORTS", ("COM7=" + pty).c_str(), 1);
  // The first process runs as long as the system does.
  WriteText(lockFile, LockText(1));
  const zandor::testing::CliRun held =
      Zandor({"update", kSample, "serial:COM7", "--lock-wait", "0"});
  EXPECT_EQ(held.code, zandor::kExitNegative);
  EXPECT_NE(held.out.find("serial:COM7: process 1 "), npos) << held.out;
  EXPECT_EQ(ReadFile(lockFile), LockText(1));
  EXPECT_EQ(device.Device().IdentificationsAnswered(), 0);

  WriteText(lockFile, LockText(DeadPid()));
  const zandor::testing::CliRun stale =
      Zandor({"update", kSample, "serial:COM7", "--lock-wait", "0"});
  unsetenv("ZANDOR_COM_PORTS");
  EXPECT_EQ(stale.code, zandor::kExitOk) << stale.out << stale.err;
  EXPECT_FALSE(std::filesystem::exists(lockFile));
  device.Stop();
  EXPECT_EQ(device.Device().Programmed().size(), 1u);
  std::filesystem::remove(lockFile);
}

TEST(DeviceLockWait, ACancelEndsTheWaitAndTheRowEndsCancelledWithoutTouchingTheDevice) {
  TestDevice device{sim::SimConfig{}};
  DeviceTarget target;
  target.kind = LinkKind::kTcp;
  target.address = "127.0.0.1";
  target.port = std::to_string(device.StartTcp());
  // This process holds the device as another would.
  const DeviceLock held =
      DeviceLock::Take(EndpointOf(target), LockFolders::OfThisProcess(), {nullptr, 0ms, {}});
  ASSERT_EQ(held.GetState(), DeviceLock::State::kHeld);
  JobRecorder recorder;
  DeviceJobs jobs(recorder);
  JobOptions options;
  options.kind = JobKind::kCheck;
  options.lockWait = 600s;
  ASSERT_TRUE(jobs.Start({RowOfTarget(0, target)}, options));
  const std::string waiting = "process " + std::to_string(getpid()) + " (";
  for (;;) {
    const auto event = recorder.Take(kLongEnough);
    ASSERT_TRUE(event) << "the row never said what it waits for";
    if (event->kind() == JobEvent::Kind::kLogLine && event->Text().find(waiting) != npos) break;
  }
  jobs.CancelRow(0);
  jobs.Wait();
  const auto finished = recorder.FinishedRow(0);
  ASSERT_TRUE(finished);
  EXPECT_EQ(finished->outcome, Outcome::kCancelled);
  device.Stop();
  EXPECT_EQ(device.Device().IdentificationsAnswered(), 0);
}

TEST(DeviceLockFiles, OfThreadsTakingOverOneStaleSerialLockOnlyOneHoldsIt) {
  TempDir dir;
  LockFolders folders;
  folders.serial = {dir.Path().string()};
  const std::string lockFile = dir.File("LCK..ttyUSB9");
  WriteText(lockFile, LockText(DeadPid()));
  constexpr int kThreads = 8;
  std::latch tried(kThreads);
  std::atomic<int> holders{0};
  std::string heldText;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      const DeviceLock lock = DeviceLock::Take("serial:/dev/ttyUSB9", folders, {nullptr, 0ms, {}});
      if (lock.GetState() == DeviceLock::State::kHeld && holders.fetch_add(1) == 0) {
        heldText = ReadFile(lockFile);
      }
      tried.arrive_and_wait();  // every lock is held until all have tried
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(holders.load(), 1);
  EXPECT_EQ(heldText, LockText(getpid()));
  EXPECT_FALSE(std::filesystem::exists(lockFile));
}

TEST(DeviceLockFiles, WithoutAUsableLockFolderTheDeviceIsWorkedWithAndTheRowSaysWhy) {
  TempDir dir;
  LockFolders folders;
  folders.serial = {dir.File("no-such-folder")};
  folders.runtime.clear();
  folders.temporary = dir.Path().string();
  std::vector<std::string> notes;
  const LockWait wait{nullptr, 0ms, [&](const std::string& line) { notes.push_back(line); }};
  EXPECT_EQ(DeviceLock::Take("serial:/dev/ttyUSB9", folders, wait).GetState(),
            DeviceLock::State::kHeld);
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_NE(notes[0].find("no-such-folder"), npos) << notes[0];
  if (geteuid() != 0) GTEST_SKIP() << "another user's folder needs root to be made";
  // Another user's folder where this user's endpoint locks would be is never used.
  const std::string theirs = dir.File("zandor-0");
  ASSERT_EQ(mkdir(theirs.c_str(), 0777), 0);
  ASSERT_EQ(chown(theirs.c_str(), 4242, 4242), 0);
  EXPECT_EQ(DeviceLock::Take("tcp:this host:3001", folders, wait).GetState(),
            DeviceLock::State::kHeld);
  ASSERT_EQ(notes.size(), 2u);
  EXPECT_NE(notes[1].find(theirs + " belongs to another user"), npos) << notes[1];
  EXPECT_TRUE(std::filesystem::is_empty(theirs));
}

}  // namespace
}  // namespace vel::testing
