// Waits that end: the connect time-out, cancels that land at every stage of an update within
// 1.5 s, and countdowns that last the seconds they show.
#include <future>

#include "common/Strings.h"
#include "e2e/EndToEndSupport.h"
#include "support/UnansweredEndpoint.h"

namespace vel::testing {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kCancelBound = std::chrono::milliseconds(1500);

class Cancels : public EndToEnd {
 protected:
  // Runs the update, requests a cancel once `ready` holds, and returns the status; *latency gets
  // the time from the request to the end of the operation.
  int UpdateCancelledWhen(const std::string& sample, const std::function<bool()>& ready,
                          Clock::duration* latency,
                          const std::function<void(CVelUpdateDoc&)>& tune = {}) {
    CVelUpdateDoc& document = Doc(sample);
    if (tune) tune(document);
    auto update = std::async(std::launch::async,
                             [&] { return UpdateDevice(document, target, SerialSettings{}); });
    while (!ready() && update.wait_for(std::chrono::milliseconds(5)) != std::future_status::ready) {
    }
    const auto requested = Clock::now();
    display.State().cancel.Request();
    const int status = update.get();
    *latency = Clock::now() - requested;
    return status;
  }
  Clock::duration latency{};
};

TEST_F(Cancels, AConnectWithoutAnswerEndsNotRespondingWithinItsTimeOut) {
  UnansweredEndpoint endpoint;
  target.kind = LinkKind::kTcp;
  target.address = "127.0.0.1";
  target.port = std::to_string(endpoint.Port());
  CVelUpdateDoc& document = Doc("multi-unit.hex");
  document.Link().Tcp().SetConnectTimeout(300);
  const auto start = Clock::now();
  EXPECT_EQ(UpdateDevice(document, target, SerialSettings{}), ids::kConnectionError);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));  // two attempts of 300 ms
  EXPECT_TRUE(display.Logged("Cannot connect to the Zandor Unit: Connection timed out"));
}

TEST_F(Cancels, DuringAConnect) {
  UnansweredEndpoint endpoint;
  target.kind = LinkKind::kTcp;
  target.address = "127.0.0.1";
  target.port = std::to_string(endpoint.Port());
  const auto start = Clock::now();
  EXPECT_EQ(UpdateCancelledWhen(
                "multi-unit.hex",
                [&] { return Clock::now() - start > std::chrono::milliseconds(300); }, &latency),
            ids::kOperationCancelled);
  EXPECT_LT(latency, kCancelBound);
}

TEST_F(Cancels, DuringTheSpeedSearch) {
  config.protocols = {};  // never answers the attention byte
  StartPty();
  const auto start = Clock::now();
  EXPECT_EQ(UpdateCancelledWhen(
                "single-64k.hex",
                [&] { return Clock::now() - start > std::chrono::milliseconds(700); }, &latency),
            ids::kOperationCancelled);
  EXPECT_LT(latency, kCancelBound);
  EXPECT_FALSE(op.Shown("Connection error! Please reset power and try again!"));
}

TEST_F(Cancels, DuringIdentification) {
  config.answerDelayMs = 2000;  // the information block is slow to come
  StartTcp();
  EXPECT_EQ(UpdateCancelledWhen(
                "multi-unit.hex", [&] { return server->Device().IdentificationsAnswered() > 0; },
                &latency),
            ids::kOperationCancelled);
  EXPECT_LT(latency, kCancelBound);
  EXPECT_TRUE(op.Messages().empty()) << "a cut-short read is no read error";
}

TEST_F(Cancels, DuringTheHandOverBetweenUnits) {
  config.units = {Unit("G4 ", "A1", "100", 0), Unit("G4 ", "B2", "100", 1)};
  // The first unit's image is 4 blocks of 1,026 frames; then its run frame (frame 4104). From
  // there the device stays silent, so the engine waits for the hand-over.
  config.faults.silenceFromFrame = 4104;
  StartTcp();
  EXPECT_EQ(UpdateCancelledWhen(
                "multi-unit.hex", [&] { return server->Device().FramesReceived() > 4104; },
                &latency, [](CVelUpdateDoc& d) { d.Link().Tcp().SetWaitStep(400); }),
            ids::kOperationCancelled);
  EXPECT_LT(latency, kCancelBound);
}

}  // namespace
}  // namespace vel::testing
