// The engine reproduces every golden wire transcript in strict order: each byte written, each
// read, pause, question, message and log line as recorded, and the same status.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include "wire/GoldenScenarios.h"

namespace zandor::wire {

// Test names and failures show a scenario by its name.
void PrintTo(const GoldenScenario& scenario, std::ostream* out) { *out << scenario.name; }

namespace {

std::string ReadText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

class Golden : public ::testing::TestWithParam<GoldenScenario> {};

TEST_P(Golden, TheEngineReproducesTheTranscript) {
  const GoldenScenario& scenario = GetParam();
  const auto path = std::filesystem::path(ZANDOR_GOLDEN_DIR) / (scenario.name + ".txt");
  ASSERT_TRUE(std::filesystem::exists(path)) << path << ": record it with zandor-golden";
  std::string error;
  const auto transcript = ParseTranscript(ReadText(path), &error);
  ASSERT_TRUE(transcript) << path << ": " << error;
  EXPECT_EQ(transcript->scenario, scenario.name);
  TranscriptPlayer player(transcript->events);
  const int status = RunGolden(scenario, player, false);
  EXPECT_EQ(player.Verdict(), "");
  EXPECT_EQ(status, transcript->status);
}

INSTANTIATE_TEST_SUITE_P(Transcripts, Golden, ::testing::ValuesIn(GoldenScenarios()),
                         [](const auto& info) {
                           std::string name = info.param.name;
                           for (char& c : name)
                             c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                           return name;
                         });

TEST(GoldenFiles, EveryTranscriptHasItsScenario) {
  std::set<std::string> names;
  for (const auto& scenario : GoldenScenarios()) names.insert(scenario.name + ".txt");
  for (const auto& entry : std::filesystem::directory_iterator(ZANDOR_GOLDEN_DIR)) {
    // The coverage table, and the enciphered transcripts' folder with a test of its own.
    if (entry.path().extension() != ".txt") continue;
    EXPECT_EQ(names.count(entry.path().filename().string()), 1u)
        << entry.path() << " has no scenario";
  }
}

// The coverage table names, for each rule of the exchange, the transcripts that show it: each
// one named exists, each transcript is named, and a rule without one says why.
TEST(GoldenCoverage, EveryTranscriptTheTableNamesExistsAndEveryTranscriptIsNamed) {
  const std::filesystem::path golden = ZANDOR_GOLDEN_DIR;
  std::istringstream table(ReadText(golden / "COVERAGE.md"));
  const std::regex quoted("`([A-Za-z0-9_./-]+)`");
  std::set<std::string> named;
  int rules = 0;
  for (std::string line; std::getline(table, line);) {
    if (line.rfind("| ", 0) != 0 || line.rfind("| rule ", 0) == 0) continue;
    ++rules;
    const std::string shown = line.substr(line.find(" | ") + 3);
    std::size_t names = 0;
    for (auto it = std::sregex_iterator(shown.begin(), shown.end(), quoted);
         it != std::sregex_iterator(); ++it) {
      const std::string name = (*it)[1].str();
      if (name.find('.') != std::string::npos && name.find('/') == std::string::npos) continue;
      ++names;
      named.insert(name);
      EXPECT_TRUE(std::filesystem::exists(golden / (name + ".txt")))
          << name << ", named for \"" << line.substr(2, 60) << "\", is missing";
    }
    EXPECT_TRUE(names > 0 || shown.rfind("Not recorded: ", 0) == 0)
        << "a rule with neither a transcript nor a reason: " << line;
  }
  EXPECT_GT(rules, 60);
  for (const auto& entry : std::filesystem::directory_iterator(golden)) {
    if (entry.path().extension() != ".txt") continue;
    EXPECT_EQ(named.count(entry.path().stem().string()), 1u)
        << entry.path().filename() << " is named for no rule in COVERAGE.md";
  }
}

// Recorded again against the simulated device, an exchange's pauses and silences pass on the
// virtual clock, not in real time, and the transcript comes out as kept: every pause and every
// read that waited to its end (the recorder waits at most 200 ms) took its time on the clock.
TEST(GoldenRecording, WaitsPassOnTheClockAndTheTranscriptComesOutAsKept) {
  constexpr long long kRecordWaitMs = 200;
  const std::set<std::string> waiting = {
      "identify-DNK-waits",        // 1000 ms before the answer byte
      "T9-clean",                  // the hub's 10 s restart
      "T12-enciphered-two-units",  // 10 s after selecting the next unit
      "T6-programming-silence",    // a region's 60-read time-out
      "T1-silence-question",       // the question after 20 unanswered tries
      "T1-programming-silence",    // no result for a whole programming wait
  };
  int recorded = 0;
  for (const GoldenScenario& scenario : GoldenScenarios()) {
    if (waiting.count(scenario.name) == 0) continue;
    ++recorded;
    std::vector<std::string> violations;
    std::chrono::milliseconds clockTime{};
    const Transcript transcript = RecordGolden(scenario, &violations, &clockTime);
    EXPECT_EQ(violations, std::vector<std::string>{}) << scenario.name;
    const auto path = std::filesystem::path(ZANDOR_GOLDEN_DIR) / (scenario.name + ".txt");
    EXPECT_EQ(FormatTranscript(transcript), ReadText(path)) << scenario.name;
    long long waited = 0;
    for (const Event& e : transcript.events) {
      if (e.kind == Kind::kPause) waited += e.number;
      if (e.kind == Kind::kRead && static_cast<int>(e.bytes.size()) < e.asked) {
        waited += kRecordWaitMs;
      }
    }
    EXPECT_GT(waited, 0) << scenario.name;
    EXPECT_GE(clockTime.count(), waited) << scenario.name;
  }
  EXPECT_EQ(recorded, static_cast<int>(waiting.size()));
}

// The player stops the engine at the first step that differs from the transcript.
TEST(GoldenPlayer, AnyByteOtherThanRecordedIsAMismatch) {
  const GoldenScenario& scenario = GoldenScenarios().front();
  const auto path = std::filesystem::path(ZANDOR_GOLDEN_DIR) / (scenario.name + ".txt");
  std::string error;
  auto transcript = ParseTranscript(ReadText(path), &error);
  ASSERT_TRUE(transcript) << error;
  for (Event& e : transcript->events) {
    if (e.kind == Kind::kWrite && e.bytes.size() == 21) {
      e.bytes[5] ^= 0x01;  // one data bit of the first record frame
      break;
    }
  }
  TranscriptPlayer player(transcript->events);
  RunGolden(scenario, player, false);
  EXPECT_NE(player.Verdict().find("the engine did \"> 10"), std::string::npos) << player.Verdict();
}

}  // namespace
}  // namespace zandor::wire
