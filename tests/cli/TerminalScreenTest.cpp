// What an operator at a terminal sees: `zandor` run on a real pseudo-terminal, its output applied
// to a model of the screen (carriage returns and erase-line codes), and the screen checked, not
// the bytes written.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <regex>
#include <string>

#include "SimServer.h"
#include "support/CliRunner.h"
#include "support/LoopbackListener.h"
#include "support/ScreenModel.h"
#include "support/Subprocess.h"
#include "support/TestDevice.h"

namespace zandor {
namespace {

using namespace std::chrono_literals;
using vel::testing::ScreenModel;
using vel::testing::Subprocess;
using vel::testing::TestDevice;

const std::string kZandor = std::string(ZANDOR_BIN_DIR) + "/zandor";
const std::string kSample = std::string(ZANDOR_SAMPLES_DIR) + "/multi-unit.hex";
const std::string kReason = "Cannot connect to the Zandor Unit: Connection refused";

// Runs zandor with its standard streams on a terminal; the screen it leaves.
ScreenModel OnTerminal(const std::vector<std::string>& words, int* code) {
  std::vector<std::string> argv = {kZandor};
  argv.insert(argv.end(), words.begin(), words.end());
  Subprocess::Descriptors setup;
  setup.input = Subprocess::Input::kTerminal;
  setup.outputsOnTerminal = true;
  Subprocess run(argv, setup);
  *code = run.WaitFor(60s).value_or(-1);
  return ScreenModel(run.terminal);
}

// A progress bar still on the screen ("[####....] 40% ...").
const std::regex kBar("\\[[#.]+\\] \\d+%");

// A loopback port bound but not listening: a connect to it is refused, and no other program
// takes the port while the test holds it.
class RefusingPort {
 public:
  RefusingPort() {
    sockaddr_in address{};
    fd_ = vel::testing::BindOnLoopback(&address);
    target_ = "tcp:127.0.0.1:" + std::to_string(ntohs(address.sin_port));
  }
  ~RefusingPort() { ::close(fd_); }
  const std::string& Target() const { return target_; }

 private:
  int fd_ = -1;
  std::string target_;
};

TEST(TerminalScreen, ARefusedConnectionShowsTheSystemsReasonOnce) {
  const RefusingPort port;
  int code = 0;
  const ScreenModel screen = OnTerminal({"check", port.Target()}, &code);
  EXPECT_EQ(code, 1);
  EXPECT_EQ(screen.Count(kReason), 1) << screen.Text();
  EXPECT_GE(screen.Count("Connection error! Please reset power and try again!"), 1);
  for (const std::string& line : screen.Lines()) {
    EXPECT_FALSE(std::regex_search(line, kBar)) << "a progress line left: " << line;
  }
}

TEST(TerminalScreen, ARefusedConnectionIsToldOnceInAPipeToo) {
  const RefusingPort port;
  Subprocess run({kZandor, "check", port.Target()});
  EXPECT_EQ(run.WaitFor(60s).value_or(-1), 1);
  const ScreenModel screen(run.err);
  EXPECT_EQ(screen.Count(kReason), 1) << run.err;
  EXPECT_EQ(screen.Count("Connection error! Please reset power and try again!"), 1) << run.err;
}

TEST(TerminalScreen, EveryLineOfAnUpdateBeginsOnItsOwnLine) {
  TestDevice device{sim::SimConfig{}};
  const std::string target = "tcp:127.0.0.1:" + std::to_string(device.StartTcp());
  int code = 0;
  const ScreenModel screen = OnTerminal({"update", kSample, target, "--yes"}, &code);
  EXPECT_EQ(code, 0) << screen.Text();
  ASSERT_FALSE(screen.Lines().empty());
  // Every line a device's label begins is whole: no progress text in front of it.
  for (const std::string& line : screen.Lines()) {
    if (line.find(target) == std::string::npos) continue;
    EXPECT_EQ(line.rfind(target, 0), 0u) << "text in front of a line: " << line;
    EXPECT_FALSE(std::regex_search(line, kBar)) << "a progress line left: " << line;
  }
  EXPECT_EQ(screen.Count(target + ": device and file versions"), 1) << screen.Text();
  EXPECT_EQ(screen.Lines().back(), target + ": Device Update Successful");
}

TEST(TerminalScreen, AQuietUpdateShowsTheResultAndNothingElse) {
  TestDevice device{sim::SimConfig{}};
  const std::string target = "tcp:127.0.0.1:" + std::to_string(device.StartTcp());
  int code = 0;
  const ScreenModel screen = OnTerminal({"update", kSample, target, "--yes", "--quiet"}, &code);
  EXPECT_EQ(code, 0);
  EXPECT_EQ(screen.Lines(), std::vector<std::string>{target + ": Device Update Successful"});
  device.Stop();
  ASSERT_EQ(device.Device().Programmed().size(), 1u) << "quiet, not idle";
  EXPECT_TRUE(device.Device().Programmed()[0].runFrameSeen);
}

TEST(TerminalScreen, AQuietCheckShowsItsMessageAndResultOnly) {
  const RefusingPort port;
  int code = 0;
  const ScreenModel screen = OnTerminal({"check", port.Target(), "--quiet"}, &code);
  EXPECT_EQ(code, 1);
  EXPECT_EQ(screen.Count(kReason), 0) << "a log line, left out";
  EXPECT_EQ(screen.Count("Connection error! Please reset power and try again!"), 2)
      << "the message and the result line: " << screen.Text();
  EXPECT_EQ(screen.Lines().size(), 2u) << screen.Text();
}

TEST(HostNames, ATargetByNameIsResolvedOnceAndTheAddressUsedIsLogged) {
  TestDevice device{sim::SimConfig{}};
  const std::string port = std::to_string(device.StartTcp());
  const testing::CliRun byName =
      testing::Zandor({"update", kSample, "tcp:localhost:" + port, "--yes"});
  EXPECT_EQ(byName.code, 0) << byName.err;
  EXPECT_NE(byName.err.find("tcp:localhost:" + port + ": localhost is 127.0.0.1"),
            std::string::npos)
      << byName.err;
  EXPECT_NE(byName.out.find("tcp:localhost:" + port + ": Device Update Successful"),
            std::string::npos);
  device.Stop();
  ASSERT_EQ(device.Device().Programmed().size(), 1u);
  EXPECT_TRUE(device.Device().Programmed()[0].runFrameSeen);
  // A name that does not resolve is refused before any device, saying so on one line.
  const testing::CliRun unknown = testing::Zandor({"check", "tcp:no-such-host.invalid:" + port});
  EXPECT_EQ(unknown.code, kExitUsage);
  EXPECT_EQ(unknown.err.rfind("zandor: cannot resolve the host (", 0), 0u) << unknown.err;
}

TEST(HostNames, AnIpv6TargetReachesASimulatorListeningOnIpv6) {
  Subprocess simulator({std::string(ZANDOR_BIN_DIR) + "/zandor-sim", "--tcp", "[::1]:0"});
  ASSERT_TRUE(simulator.WaitForOutput("\n", 10s)) << simulator.err;
  const std::smatch found = [&] {
    std::smatch match;
    std::regex_search(simulator.out, match, std::regex("^tcp \\[::1\\]:(\\d+)\n"));
    return match;
  }();
  ASSERT_FALSE(found.empty()) << simulator.out;
  const std::string target = "tcp:[::1]:" + found[1].str();
  const testing::CliRun run = testing::Zandor({"check", target, "--file", kSample});
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_NE(run.out.find(target + ": Device Information Success"), std::string::npos) << run.out;
  simulator.Signal(SIGTERM);
  EXPECT_EQ(simulator.WaitFor(10s), 0) << "no protocol violation: " << simulator.err;
  // The same address without its brackets reads as a host "" and port ":1...", and an IPv4
  // address in brackets is no IPv6 address: both refused before any device.
  for (const std::string& bad :
       {"tcp:::1:" + found[1].str(), std::string("tcp:[127.0.0.1]:5000")}) {
    const testing::CliRun refused = testing::Zandor({"check", bad});
    EXPECT_EQ(refused.code, kExitUsage) << bad << ": " << refused.err;
  }
}

TEST(UsageErrors, SayWhatIsWrongOnOneLineAndWhereTheHelpIs) {
  const struct {
    std::vector<std::string> words;
    std::string problem;
    std::string help;
  } kCases[] = {
      {{"update", "--bogus"}, "unknown option --bogus", "Try 'zandor update --help'."},
      {{"check"}, "missing TARGET", "Try 'zandor check --help'."},
      {{"info"}, "missing FILE", "Try 'zandor info --help'."},
      {{"devices", "--frob"}, "unknown option --frob", "Try 'zandor devices --help'."},
      {{"nosuch"}, "unknown command 'nosuch'", "Try 'zandor --help'."},
      {{"check", "tcp:127.0.0.1:1", "--quiet", "--json"},
       "give --quiet or --json, not both",
       "Try 'zandor check --help'."},
      {{}, "no command given", "Try 'zandor --help'."},
  };
  for (const auto& c : kCases) {
    const testing::CliRun run = testing::Zandor(c.words);
    EXPECT_EQ(run.code, kExitUsage) << c.problem;
    EXPECT_EQ(run.err, "zandor: " + c.problem + "\n" + c.help + "\n");
    EXPECT_TRUE(run.out.empty());
  }
}

}  // namespace
}  // namespace zandor
