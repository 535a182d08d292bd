// zandor-golden DIR [SCENARIO...]: records the golden wire transcripts against the simulated
// device into DIR/<scenario>.txt (every scenario, or those named). A transcript changes only for
// a mended fault; the test suite plays every one back against the engine.
// zandor-golden --enciphered DIR [SCENARIO...]: records the enciphered scenarios as the bytes
// that crossed the socket (tests/golden/enciphered).
#include <cstdio>
#include <cstring>
#include <fstream>
#include <set>
#include <string>

#include "wire/GoldenScenarios.h"

namespace {

using zandor::wire::GoldenScenario;

// A recorded transcript's text, its status and what it holds ("120 events").
struct Recorded {
  std::string text;
  int status;
  std::string holds;
};

// Records every wanted scenario with `record`; returns how many scenarios the device found at
// fault.
template <typename Record>
int RecordAll(const std::vector<GoldenScenario>& scenarios, const std::string& dir,
              const std::set<std::string>& wanted, Record record) {
  int failures = 0;
  for (const auto& scenario : scenarios) {
    if (!wanted.empty() && wanted.count(scenario.name) == 0) continue;
    std::vector<std::string> violations;
    const Recorded recorded = record(scenario, &violations);
    for (const std::string& v : violations) {
      std::fprintf(stderr, "%s: protocol violation: %s\n", scenario.name.c_str(), v.c_str());
    }
    failures += violations.empty() ? 0 : 1;
    std::ofstream(dir + "/" + scenario.name + ".txt", std::ios::binary) << recorded.text;
    std::printf("%-28s status %5d, %s\n", scenario.name.c_str(), recorded.status,
                recorded.holds.c_str());
    std::fflush(stdout);
  }
  return failures;
}

}  // namespace

int main(int argc, char** argv) {
  const bool enciphered = argc >= 2 && std::strcmp(argv[1], "--enciphered") == 0;
  const int first = enciphered ? 2 : 1;
  if (argc <= first) {
    std::fprintf(stderr, "usage: zandor-golden [--enciphered] DIR [SCENARIO...]\n");
    return 2;
  }
  const std::string dir = argv[first];
  const std::set<std::string> wanted(argv + first + 1, argv + argc);
  const int failures =
      enciphered
          ? RecordAll(zandor::wire::EncipheredScenarios(), dir, wanted,
                      [](const GoldenScenario& s, std::vector<std::string>* violations) {
                        const auto t = zandor::wire::RecordEnciphered(s, violations);
                        return Recorded{zandor::wire::FormatRawTranscript(t), t.status,
                                        std::to_string(t.connections.size()) + " connections"};
                      })
          : RecordAll(zandor::wire::GoldenScenarios(), dir, wanted,
                      [](const GoldenScenario& s, std::vector<std::string>* violations) {
                        const auto t = zandor::wire::RecordGolden(s, violations);
                        return Recorded{zandor::wire::FormatTranscript(t), t.status,
                                        std::to_string(t.events.size()) + " events"};
                      });
  return failures == 0 ? 0 : 1;
}
