// zandor-golden DIR [SCENARIO...]: records the golden wire transcripts against the simulated
// device into DIR/<scenario>.txt (every scenario, or those named). A transcript changes only for
// a mended fault; the test suite plays every one back against the engine.
#include <cstdio>
#include <fstream>
#include <set>
#include <string>

#include "wire/GoldenScenarios.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: zandor-golden DIR [SCENARIO...]\n");
    return 2;
  }
  const std::string dir = argv[1];
  const std::set<std::string> wanted(argv + 2, argv + argc);
  int failures = 0;
  for (const auto& scenario : zandor::wire::GoldenScenarios()) {
    if (!wanted.empty() && wanted.count(scenario.name) == 0) continue;
    std::vector<std::string> violations;
    const auto transcript = zandor::wire::RecordGolden(scenario, &violations);
    for (const std::string& v : violations) {
      std::fprintf(stderr, "%s: protocol violation: %s\n", scenario.name.c_str(), v.c_str());
    }
    failures += violations.empty() ? 0 : 1;
    std::ofstream(dir + "/" + scenario.name + ".txt", std::ios::binary)
        << zandor::wire::FormatTranscript(transcript);
    std::printf("%-28s status %5d, %zu events\n", scenario.name.c_str(), transcript.status,
                transcript.events.size());
    std::fflush(stdout);
  }
  return failures == 0 ? 0 : 1;
}
