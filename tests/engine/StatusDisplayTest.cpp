#include <gtest/gtest.h>

#include <chrono>

#include "engine/StatusDisplay.h"

namespace vel {
namespace {

// A display that keeps its log and the last painted status line; whether it keeps every status
// line is the test's choice.
class LogDisplay final : public StatusDisplay {
 public:
  explicit LogDisplay(bool keepsEveryLine) : keepsEveryLine_(keepsEveryLine) {}
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

TEST(StatusDisplay, ProgressRulesAndTheLogOfStatusLines) {
  LogDisplay display(true);
  EXPECT_FALSE(display.SetStatus("early"));
  EXPECT_FALSE(display.SetStatus(""));  // nothing to log
  ASSERT_TRUE(display.BeginProgress(0, 100, "Begin", 1));
  EXPECT_FALSE(display.BeginProgress(0, 10, "Second", 1)) << "one operation at a time";
  EXPECT_TRUE(display.SetProgress(5, "At five"));
  EXPECT_TRUE(display.EndProgress());
  EXPECT_FALSE(display.EndProgress());
  EXPECT_EQ(display.log, (std::vector<std::string>{"INACTIVE MESSAGE: early", "Begin", "At five"}));
}

// The bar of each operation may restart or count down; the share of the whole update carried
// with it only grows, and only a completed plan makes it whole.
TEST(StatusDisplay, TheShareOfTheUpdateOnlyGrowsAndIsWholeOnlyWhenCompleted) {
  LogDisplay display(true);
  ASSERT_TRUE(display.BeginProgress(0, 100, "Attempting", 1));
  int position = 0;
  const auto shownShare = [&] {  // the share the next paint of the bar carries
    display.SetProgress(++position, "Waiting");
    return display.shown.overallPercent;
  };
  display.FramesSent(5);  // nothing planned: nothing to be a share of
  EXPECT_EQ(shownShare(), 0);
  display.PlanFrames(200);
  display.FramesSent(50);
  EXPECT_EQ(shownShare(), 25);
  EXPECT_EQ(display.shown.position, position);
  display.FramesSent(20);  // a block that goes again after an error
  EXPECT_EQ(shownShare(), 25);
  display.FramesSent(199);
  EXPECT_EQ(shownShare(), 99);
  display.FramesSent(400);  // every frame went, some twice: still short of a success
  EXPECT_EQ(shownShare(), 99);
  const int paints = display.paints;
  display.CompletePlan();
  EXPECT_EQ(display.paints, paints + 1) << "a completed plan is shown at once";
  EXPECT_EQ(display.shown.overallPercent, 100);
  EXPECT_EQ(display.shown.position, position) << "the bar stays as it was";
  display.EndProgress();
  display.CompletePlan();  // nothing runs: nothing to paint
  EXPECT_EQ(display.paints, paints + 1);
  display.PlanFrames(0);  // the next action starts from nothing
  ASSERT_TRUE(display.BeginProgress(0, 100, "Next", 1));
  EXPECT_EQ(shownShare(), 0);
}

TEST(StatusDisplay, LazyTextsAreAllMadeForAConsoleThatKeepsEveryLine) {
  LogDisplay display(true);
  ASSERT_TRUE(display.BeginProgress(0, 100, "Begin", 1));
  int made = 0;
  for (int i = 0; i < 50; ++i) {
    display.SetProgressLazily(i, [&] { return "Try:" + std::to_string(++made); });
  }
  EXPECT_EQ(made, 50);
  ASSERT_EQ(display.log.size(), 51u);
  EXPECT_EQ(display.log.back(), "Try:50");
}

TEST(StatusDisplay, LazyTextsAreMadeOnlyForARepaintWhenNoLineIsKept) {
  LogDisplay display(false);
  ASSERT_TRUE(display.BeginProgress(0, 100, "Begin", 1));
  int made = 0;
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 5000; ++i) {
    display.SetProgressLazily(i, [&] { return "Try:" + std::to_string(++made); });
  }
  const auto elapsed = std::chrono::steady_clock::now() - start;
  // At most one text per repaint interval (40 ms), and the first call always paints.
  const long intervals =
      std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count() / 40;
  EXPECT_GE(made, 1);
  EXPECT_LE(made, intervals + 1);
  EXPECT_EQ(display.painted, "Try:" + std::to_string(made));
  EXPECT_TRUE(display.log.empty());

  // While inactive the text is made at once: it goes to the idle status line.
  display.EndProgress();
  int lateMade = 0;
  EXPECT_FALSE(display.SetProgressLazily(1, [&] { return "late" + std::to_string(++lateMade); }));
  EXPECT_EQ(lateMade, 1);
}

}  // namespace
}  // namespace vel
