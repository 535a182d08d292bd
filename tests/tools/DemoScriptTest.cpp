// The demo stops every simulator it starts, whether it ends by itself or is interrupted.
#include <gtest/gtest.h>
#include <signal.h>

#include <cstdio>
#include <string>

#include "support/Subprocess.h"

namespace {

using vel::testing::Subprocess;

const std::string kBin = ZANDOR_BIN_DIR;

// zandor-sim processes of this build that are still running.
int SimulatorsRunning() {
  const std::string command = "pgrep -f '^" + kBin + "/zandor-sim' | wc -l";
  FILE* out = popen(command.c_str(), "r");
  int count = -1;
  if (out != nullptr && std::fscanf(out, "%d", &count) != 1) count = -1;
  if (out != nullptr) pclose(out);
  return count;
}

Subprocess Demo() {
  setenv("ZANDOR_DEMO_BAUD", "0", 1);
  return Subprocess({"/bin/bash", std::string(ZANDOR_SOURCE_DIR) + "/scripts/demo.sh", kBin});
}

// One test, so that no other run of the demo counts among the simulators looked for.
TEST(DemoScript, LeavesNoSimulatorRunningWhetherItEndsOrIsInterrupted) {
  Subprocess finished = Demo();
  EXPECT_EQ(finished.Wait(), 0) << finished.out << finished.err;
  EXPECT_NE(finished.out.find("Device Update Successful"), std::string::npos);
  EXPECT_EQ(SimulatorsRunning(), 0);

  Subprocess interrupted = Demo();
  ASSERT_TRUE(interrupted.WaitForOutput("zandor-sim: tcp", std::chrono::seconds(20)))
      << interrupted.err;
  interrupted.Signal(SIGINT);
  EXPECT_EQ(interrupted.Wait(), 130);
  EXPECT_EQ(SimulatorsRunning(), 0);
}

}  // namespace
