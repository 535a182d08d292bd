#include <gtest/gtest.h>

#include <chrono>

#include "engine/Console.h"

namespace vel {
namespace {

// A console that keeps its log and the last painted status line; whether it keeps every status
// line is the test's choice.
class LogConsole final : public Console {
 public:
  explicit LogConsole(bool keepsEveryLine) : keepsEveryLine_(keepsEveryLine) {}
  void AppendMessage(const std::string& line) override { log.push_back(line); }

  std::vector<std::string> log;
  std::string painted;
  ProgressPaint shown;
  int paints = 0;

 protected:
  void ShowProgress(const ProgressPaint& paint, const std::string& statusLine) override {
    painted = statusLine;
    shown = paint;
    ++paints;
  }
  void HideProgress() override {}
  bool KeepsEveryStatusLine() const override { return keepsEveryLine_; }
  void LogStatusLine(const std::string& line) override {
    if (keepsEveryLine_) AppendMessage(line);
  }

 private:
  bool keepsEveryLine_;
};

TEST(Console, ProgressRulesAndTheLogOfStatusLines) {
  LogConsole console(true);
  EXPECT_FALSE(console.SetStatus("early"));
  EXPECT_FALSE(console.SetStatus(""));  // nothing to log
  ASSERT_TRUE(console.BeginProgress(0, 100, "Begin", 1));
  EXPECT_FALSE(console.BeginProgress(0, 10, "Second", 1)) << "one operation at a time";
  EXPECT_TRUE(console.SetProgress(5, "At five"));
  EXPECT_TRUE(console.EndProgress());
  EXPECT_FALSE(console.EndProgress());
  EXPECT_EQ(console.log, (std::vector<std::string>{"INACTIVE MESSAGE: early", "Begin", "At five"}));
}

// The bar of each operation may restart or count down; the share of the whole update carried
// with it only grows, and only a completed plan makes it whole.
TEST(Console, TheShareOfTheUpdateOnlyGrowsAndIsWholeOnlyWhenCompleted) {
  LogConsole console(true);
  ASSERT_TRUE(console.BeginProgress(0, 100, "Attempting", 1));
  int position = 0;
  const auto shownShare = [&] {  // the share the next paint of the bar carries
    console.SetProgress(++position, "Waiting");
    return console.shown.overallPercent;
  };
  console.FramesSent(5);  // nothing planned: nothing to be a share of
  EXPECT_EQ(shownShare(), 0);
  console.PlanFrames(200);
  console.FramesSent(50);
  EXPECT_EQ(shownShare(), 25);
  EXPECT_EQ(console.shown.position, position);
  console.FramesSent(20);  // a block that goes again after an error
  EXPECT_EQ(shownShare(), 25);
  console.FramesSent(199);
  EXPECT_EQ(shownShare(), 99);
  console.FramesSent(400);  // every frame went, some twice: still short of a success
  EXPECT_EQ(shownShare(), 99);
  const int paints = console.paints;
  console.CompletePlan();
  EXPECT_EQ(console.paints, paints + 1) << "a completed plan is shown at once";
  EXPECT_EQ(console.shown.overallPercent, 100);
  EXPECT_EQ(console.shown.position, position) << "the bar stays as it was";
  console.EndProgress();
  console.CompletePlan();  // nothing runs: nothing to paint
  EXPECT_EQ(console.paints, paints + 1);
  console.PlanFrames(0);  // the next action starts from nothing
  ASSERT_TRUE(console.BeginProgress(0, 100, "Next", 1));
  EXPECT_EQ(shownShare(), 0);
}

TEST(Console, LazyTextsAreAllMadeForAConsoleThatKeepsEveryLine) {
  LogConsole console(true);
  ASSERT_TRUE(console.BeginProgress(0, 100, "Begin", 1));
  int made = 0;
  for (int i = 0; i < 50; ++i) {
    console.SetProgressLazily(i, [&] { return "Try:" + std::to_string(++made); });
  }
  EXPECT_EQ(made, 50);
  ASSERT_EQ(console.log.size(), 51u);
  EXPECT_EQ(console.log.back(), "Try:50");
}

TEST(Console, LazyTextsAreMadeOnlyForARepaintWhenNoLineIsKept) {
  LogConsole console(false);
  ASSERT_TRUE(console.BeginProgress(0, 100, "Begin", 1));
  int made = 0;
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 5000; ++i) {
    console.SetProgressLazily(i, [&] { return "Try:" + std::to_string(++made); });
  }
  const auto elapsed = std::chrono::steady_clock::now() - start;
  // At most one text per repaint interval (40 ms), and the first call always paints.
  const long intervals =
      std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count() / 40;
  EXPECT_GE(made, 1);
  EXPECT_LE(made, intervals + 1);
  EXPECT_EQ(console.painted, "Try:" + std::to_string(made));
  EXPECT_TRUE(console.log.empty());

  // While inactive the text is made at once: it goes to the idle status line.
  console.EndProgress();
  int lateMade = 0;
  EXPECT_FALSE(console.SetProgressLazily(1, [&] { return "late" + std::to_string(++lateMade); }));
  EXPECT_EQ(lateMade, 1);
}

}  // namespace
}  // namespace vel
