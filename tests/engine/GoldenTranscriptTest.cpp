// The engine reproduces every golden wire transcript in strict order: each byte written, each
// read, pause, question, message and log line as recorded, and the same status.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
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
    if (entry.is_directory()) continue;  // the enciphered transcripts have a test of their own
    EXPECT_EQ(names.count(entry.path().filename().string()), 1u)
        << entry.path() << " has no scenario";
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
