#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <thread>

#include "support/VirtualClock.h"

namespace vel::testing {
namespace {

using std::chrono::milliseconds;

// A connected socket pair, closed at the end of the scope.
struct Pair {
  Pair() { EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0); }
  ~Pair() {
    close(fds[0]);
    close(fds[1]);
  }
  int fds[2] = {-1, -1};
};

TEST(VirtualClock, JumpsToTheNearestEndOfAWaitWhenEveryPartyWaits) {
  VirtualClock clock;
  Pair pair;
  clock.AddParty();
  std::thread device([&] {
    ClockParty party(&clock);
    clock.SleepFor(milliseconds(10'000), nullptr);  // a device that takes ten seconds
    const char answer = 'A';
    ASSERT_EQ(send(pair.fds[1], &answer, 1, 0), 1);
  });
  // The host waits a minute for the answer; it comes after the device's ten seconds.
  const short events = clock.WaitForInput(pair.fds[0], milliseconds(60'000));
  device.join();
  EXPECT_NE(events & POLLIN, 0);
  EXPECT_EQ(clock.Elapsed(), milliseconds(10'000));
  // Alone, a wait with nothing to come lasts exactly its length.
  char answer = 0;
  ASSERT_EQ(recv(pair.fds[0], &answer, 1, 0), 1);
  EXPECT_EQ(clock.WaitForInput(pair.fds[0], milliseconds(2'500)), 0);
  EXPECT_EQ(clock.Elapsed(), milliseconds(12'500));
}

TEST(VirtualClock, StandsStillWhileAPartyIsBusy) {
  VirtualClock clock;
  Pair pair;
  clock.AddParty();
  std::thread device([&] {
    ClockParty party(&clock);
    // Busy for a while outside the clock (as a device working out its answer), then answers.
    std::this_thread::sleep_for(milliseconds(50));
    const char answer = 'A';
    ASSERT_EQ(send(pair.fds[1], &answer, 1, 0), 1);
  });
  // A host wait of one millisecond must not pass while the device has not yet waited.
  const short events = clock.WaitForInput(pair.fds[0], milliseconds(1));
  device.join();
  EXPECT_NE(events & POLLIN, 0);
  EXPECT_EQ(clock.Elapsed(), milliseconds(0));
}

TEST(VirtualClock, ASleepEndsAtACancelAndAJoiningPartyLetsTheOthersRun) {
  VirtualClock clock;
  CancelFlag cancel;
  clock.AddParty();
  std::atomic<bool> slept{false};
  std::thread sleeper([&] {
    ClockParty party(&clock);
    slept = clock.SleepFor(milliseconds(3'000), nullptr);
  });
  {
    // The thread that waits for the sleeper outside the clock does not hold its time still.
    VirtualClock::OffClock joining(clock);
    sleeper.join();
  }
  EXPECT_TRUE(slept);
  EXPECT_EQ(clock.Elapsed(), milliseconds(3'000));

  // A party busy for a while asks for a cancel: the sleep ends false, with no time passed.
  clock.AddParty();
  std::thread canceller([&] {
    ClockParty party(&clock);
    std::this_thread::sleep_for(milliseconds(30));
    cancel.Request();
  });
  EXPECT_FALSE(clock.SleepFor(milliseconds(60'000), &cancel));
  canceller.join();
  EXPECT_EQ(clock.Elapsed(), milliseconds(3'000));
}

}  // namespace
}  // namespace vel::testing
