// The README's runnable examples, run as a newcomer would paste them: every shell block marked
// "<!-- example: NAME -->" runs against this build's programs and must end well, so the page
// cannot drift from the programs.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <regex>
#include <string>
#include <vector>

#include "support/Files.h"
#include "support/LoopbackListener.h"
#include "support/Subprocess.h"

namespace zandor {
namespace {

using namespace std::chrono_literals;

struct Example {
  std::string name;
  std::string script;
};

std::vector<Example> MarkedExamples(const std::string& page) {
  std::vector<Example> examples;
  const std::regex marked("<!-- example: ([a-z-]+) -->\n```sh\n([^`]*)```");
  for (auto it = std::sregex_iterator(page.begin(), page.end(), marked);
       it != std::sregex_iterator(); ++it) {
    examples.push_back({(*it)[1].str(), (*it)[2].str()});
  }
  return examples;
}

// A loopback port nothing listens on just now.
int FreePort() {
  sockaddr_in address{};
  ::close(vel::testing::BindOnLoopback(&address));
  return ntohs(address.sin_port);
}

TEST(ReadmeExamples, TheFirstTryRunsAsWritten) {
  const std::string source = ZANDOR_SOURCE_DIR;
  const auto examples = MarkedExamples(vel::testing::ReadFile(source + "/README.md"));
  ASSERT_FALSE(examples.empty()) << "no example is marked in the README";
  for (const Example& example : examples) {
    SCOPED_TRACE(example.name);
    // This build's programs, and a port that is free on this machine.
    std::string script = std::regex_replace(example.script, std::regex("build/bin/"),
                                            std::string(ZANDOR_BIN_DIR) + "/");
    script = std::regex_replace(script, std::regex("127\\.0\\.0\\.1:5000"),
                                "127.0.0.1:" + std::to_string(FreePort()));
    vel::testing::Subprocess run({"/bin/bash", "-e", "-c", "cd '" + source + "'\n" + script});
    EXPECT_EQ(run.WaitFor(120s).value_or(-1), 0) << run.out << run.err;
    EXPECT_NE(run.out.find("Device Information Success"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("Device Update Successful"), std::string::npos) << run.out;
    EXPECT_EQ(run.err.find("protocol violation"), std::string::npos) << run.err;
  }
}

}  // namespace
}  // namespace zandor
