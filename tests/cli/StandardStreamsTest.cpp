// What surrounds a run of the programs: standard descriptors a shell closed (`>&-`, `2>&-`) and a
// standard output that cannot be written (a full disk). Neither may put text into a device's
// connection or a second copy of a line into the log, nor let a run whose results were lost end
// as a success.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <thread>

#include "Cli.h"
#include "SimServer.h"
#include "StandardStreams.h"
#include "engine/Protocol.h"
#include "image/HexFileLoader.h"
#include "support/Files.h"
#include "support/Soak.h"
#include "support/Subprocess.h"
#include "support/TempDir.h"

namespace zandor {
namespace {

using namespace std::chrono_literals;
using vel::testing::ReadFile;
using vel::testing::Subprocess;
using vel::testing::TempDir;
using vel::testing::WriteText;

const std::string kSample = std::string(ZANDOR_SAMPLES_DIR) + "/multi-unit.hex";
const std::string kZandor = std::string(ZANDOR_BIN_DIR) + "/zandor";
const std::string kSimulator = std::string(ZANDOR_BIN_DIR) + "/zandor-sim";
const std::string kDesktop = std::string(ZANDOR_BIN_DIR) + "/zandorupdate";
constexpr auto kLongEnough = 60s;  // a bound on waits that end far sooner when all goes well
const std::string kNoSpace = "No space left on device";

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

Subprocess::Descriptors Closing(std::vector<int> descriptors) {
  Subprocess::Descriptors setup;
  setup.closed = std::move(descriptors);
  return setup;
}

Subprocess::Descriptors OutputTo(const std::string& path) {
  Subprocess::Descriptors setup;
  setup.outputPath = path;
  return setup;
}

// The program's exit code; a failure of the test when it has not ended within kLongEnough.
int ExitCode(Subprocess& program) {
  const auto code = program.WaitFor(kLongEnough);
  EXPECT_TRUE(code) << "the program did not end";
  return code.value_or(-1);
}

// Updates of a simulated device by the zandor program, started as a shell would start it.
class StandardStreams : public ::testing::Test {
 protected:
  void SetUp() override { StartDevice(); }

  void StartDevice() {
    device = std::make_unique<sim::SimServer>(sim::SimConfig{});
    target = "tcp:127.0.0.1:" + std::to_string(device->StartTcp());
  }

  Subprocess Update(const std::vector<std::string>& options,
                    const Subprocess::Descriptors& descriptors) {
    std::vector<std::string> words = {kZandor, "update", kSample, target};
    words.insert(words.end(), options.begin(), options.end());
    return Subprocess(words, descriptors);
  }

  // The device saw nothing but the protocol and holds every byte of the sample's image.
  void ExpectWholeImageProgrammed() {
    device->Stop();
    EXPECT_EQ(device->Device().Violations(), std::vector<std::string>{});
    vel::FirmwareFile file;
    ASSERT_TRUE(vel::HexFileLoader(file).LoadPath(kSample).ok());
    const auto programmed = device->Device().Programmed();
    ASSERT_EQ(programmed.size(), 1u);
    EXPECT_TRUE(programmed[0].runFrameSeen);
    std::string why;
    EXPECT_TRUE(
        vel::testing::HoldsImage(programmed[0], file.GetMemMap(0), {0, {0, 1}, false}, &why))
        << why;
  }

  std::unique_ptr<sim::SimServer> device;
  std::string target;
  TempDir dir;
};

TEST_F(StandardStreams, AnUpdateWithoutStandardErrorOrOutputKeepsItsTextOffTheWire) {
  for (const int closed : {STDERR_FILENO, STDOUT_FILENO}) {
    SCOPED_TRACE("descriptor " + std::to_string(closed) + " closed");
    Subprocess zandor = Update({}, Closing({closed}));
    EXPECT_EQ(ExitCode(zandor), kExitOk) << zandor.err;
    ExpectWholeImageProgrammed();
    StartDevice();
  }
}

TEST_F(StandardStreams, TheLogTakesEachLineOnceWithoutStandardOutput) {
  const std::string log = dir.File("log.txt");
  Subprocess zandor = Update({"--log", log}, Closing({STDOUT_FILENO}));
  EXPECT_EQ(ExitCode(zandor), kExitOk) << zandor.err;
  ExpectWholeImageProgrammed();
  // Every line of the log is a line of the device's, and its result is there once.
  const std::vector<std::string> lines = Lines(ReadFile(log));
  const std::string result = target + ": Device Update Successful";
  EXPECT_EQ(std::count(lines.begin(), lines.end(), result), 1);
  for (const std::string& line : lines) EXPECT_EQ(line.rfind(target + ": ", 0), 0u) << line;
}

// The TCP port a process listens on, from the system's tables (the program cannot say which with
// its standard output closed); 0 until it listens.
int ListeningPort(pid_t pid) {
  const std::string proc = "/proc/" + std::to_string(pid);
  std::set<std::string> descriptors;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(proc + "/fd", error)) {
    descriptors.insert(std::filesystem::read_symlink(entry.path(), error).string());
  }
  std::ifstream table(proc + "/net/tcp");
  std::string line;
  std::getline(table, line);  // the heading
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
    fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >>
        timeout >> inode;
    if (state == "0A" && descriptors.count("socket:[" + inode + "]") > 0) {
      return std::stoi(local.substr(local.find(':') + 1), nullptr, 16);
    }
  }
  return 0;
}

int ConnectToLoopback(int port) {
  const int client = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  if (connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(client);
    return -1;
  }
  return client;
}

// Reads from `fd` until `last` arrives or nothing comes within kLongEnough; what came.
std::string ReadThrough(int fd, char last) {
  std::string received;
  while (received.empty() || received.back() != last) {
    pollfd readable{fd, POLLIN, 0};
    char buffer[256];
    if (poll(&readable, 1, static_cast<int>(std::chrono::milliseconds(kLongEnough).count())) <= 0)
      break;
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) break;
    received.append(buffer, static_cast<std::size_t>(n));
  }
  return received;
}

TEST(ClosedDescriptors, TheSimulatorKeepsItsTextOffAClientsConnection) {
  TempDir dir;
  const std::string record = dir.File("record.txt");
  Subprocess simulator({kSimulator, "--tcp", "127.0.0.1:0", "--record", record},
                       Closing({STDOUT_FILENO, STDERR_FILENO}));
  int port = 0;
  for (const auto until = std::chrono::steady_clock::now() + kLongEnough;
       port == 0 && std::chrono::steady_clock::now() < until;) {
    std::this_thread::sleep_for(10ms);
    port = ListeningPort(simulator.Pid());
  }
  ASSERT_NE(port, 0) << "the simulator never listened";
  const int client = ConnectToLoopback(port);
  ASSERT_GE(client, 0);
  // A malformed text record: the device tells the violation and asks for the line again.
  const std::string line = ":zz\r\n";
  ASSERT_EQ(write(client, line.data(), line.size()), static_cast<ssize_t>(line.size()));
  const char askAgain = static_cast<char>(vel::protocol::kAck);
  EXPECT_EQ(ReadThrough(client, askAgain), std::string(1, askAgain));
  close(client);
  simulator.Signal(SIGTERM);
  EXPECT_EQ(ExitCode(simulator), 1) << "the simulator saw the violation";
  EXPECT_NE(ReadFile(record).find("protocol violation: malformed text record :zz"),
            std::string::npos);
}

TEST(ClosedDescriptors, TheDesktopWritesOnlyTheVersionFile) {
  if (!std::filesystem::exists(kDesktop)) GTEST_SKIP() << "built without the desktop";
  TempDir dir;
  Subprocess withOutput({kDesktop, "-v", "-f", dir.File("open.txt")});
  ASSERT_EQ(ExitCode(withOutput), 0) << withOutput.err;
  Subprocess withoutOutput({kDesktop, "-v", "-f", dir.File("closed.txt")},
                           Closing({STDOUT_FILENO, STDERR_FILENO}));
  ASSERT_EQ(ExitCode(withoutOutput), 0);
  EXPECT_FALSE(ReadFile(dir.File("open.txt")).empty());
  EXPECT_EQ(ReadFile(dir.File("closed.txt")), ReadFile(dir.File("open.txt")));
}

// Standard output on a full disk: the devices are still updated, and the run says why its
// results are missing instead of succeeding.
class FullDisk : public StandardStreams {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    StandardStreams::SetUp();
  }
  static bool SaysNoSpace(const Subprocess& program) {
    return program.err.find("zandor: cannot write standard output: " + kNoSpace) !=
           std::string::npos;
  }
};

TEST_F(FullDisk, AnUpdatedDeviceEndsTheRunWithExit3AndTheReason) {
  const std::string log = dir.File("log.txt");
  Subprocess zandor = Update({"--json", "--log", log}, OutputTo("/dev/full"));
  EXPECT_EQ(ExitCode(zandor), kExitFileError);
  EXPECT_TRUE(SaysNoSpace(zandor)) << zandor.err;
  ExpectWholeImageProgrammed();
  const std::string text = ReadFile(log);
  EXPECT_NE(text.find("standard output cannot be written: " + kNoSpace +
                      "; the run goes on without it\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find(target + ": Device Update Successful\n"), std::string::npos) << text;
}

TEST_F(FullDisk, EveryCommandSaysSoAndANegativeVerdictKeepsExit1) {
  Subprocess info({kZandor, "info", kSample, "--json"}, OutputTo("/dev/full"));
  EXPECT_EQ(ExitCode(info), kExitFileError);
  EXPECT_TRUE(SaysNoSpace(info)) << info.err;

  std::string broken = ReadFile(kSample);
  const std::size_t record = broken.find(":100000003FFF");
  ASSERT_NE(record, std::string::npos);
  broken[broken.find('\n', record) - 1] ^= 1;  // the first data record's checksum
  WriteText(dir.File("broken.hex"), broken);
  Subprocess test({kZandor, "test", dir.File("broken.hex")}, OutputTo("/dev/full"));
  EXPECT_EQ(ExitCode(test), kExitNegative);
  EXPECT_TRUE(SaysNoSpace(test)) << test.err;
}

TEST(DescriptorStream, WaitsOutAFullNonBlockingPipe) {
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  fcntl(ends[1], F_SETFL, fcntl(ends[1], F_GETFL) | O_NONBLOCK);
  std::string received;
  // A reader slower than the writer: the pipe fills, and the writer's writes would fail.
  std::thread reader([&] {
    char buffer[512];
    for (ssize_t n; (n = read(ends[0], buffer, sizeof buffer)) > 0;) {
      received.append(buffer, static_cast<std::size_t>(n));
    }
  });
  std::string sent(std::size_t{4} << 20, '\0');
  for (std::size_t i = 0; i < sent.size(); ++i) sent[i] = static_cast<char>(i * 7 % 251);
  {
    DescriptorStream stream(ends[1]);
    stream.write(sent.data(), static_cast<std::streamsize>(sent.size()));
    stream.flush();
    EXPECT_TRUE(stream.good());
    EXPECT_EQ(stream.Failure(), 0);
  }
  close(ends[1]);
  reader.join();
  close(ends[0]);
  EXPECT_TRUE(received == sent) << received.size() << " of " << sent.size() << " bytes";
}

}  // namespace
}  // namespace zandor
