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
