// How list rows become a walk's rows: rows that reach one socket or one serial port never run
// side by side, however their address or port is written.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <ifaddrs.h>

#include <set>

#include "SimServer.h"
#include "devices/DeviceWalks.h"
#include "support/JobRecorder.h"

namespace vel {
namespace {

const std::string kSample = std::string(ZANDOR_SAMPLES_DIR) + "/multi-unit.hex";

DeviceEntry Row(const std::string& address, const std::string& port) {
  DeviceEntry entry;
  entry.address = address;
  entry.port = port;
  return entry;
}

std::string LinkOf(const std::string& address, const std::string& port) {
  return RowOfList(0, Row(address, port)).link;
}

TEST(WalkRows, AddressesThatReachOneSocketAreOneEndpoint) {
  const std::string loopback = LinkOf("127.0.0.1", "3000");
  EXPECT_EQ(LinkOf("0.0.0.0", "3000"), loopback);
  EXPECT_EQ(LinkOf("127.0.0.2", "3000"), loopback);
  EXPECT_EQ(LinkOf("127.0.0.1", "03000"), loopback);
  // This host's own addresses reach what listens on every address.
  ifaddrs* interfaces = nullptr;
  ASSERT_EQ(getifaddrs(&interfaces), 0);
  for (const ifaddrs* i = interfaces; i != nullptr; i = i->ifa_next) {
    if (i->ifa_addr == nullptr || i->ifa_addr->sa_family != AF_INET) continue;
    char text[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr, text,
              sizeof text);
    EXPECT_EQ(LinkOf(text, "3000"), loopback) << text;
  }
  freeifaddrs(interfaces);
  // Other ports and other hosts stay apart.
  EXPECT_NE(LinkOf("127.0.0.1", "3001"), loopback);
  EXPECT_NE(LinkOf("198.51.100.1", "3000"), loopback);
  EXPECT_NE(LinkOf("198.51.100.1", "3000"), LinkOf("198.51.100.2", "3000"));
  EXPECT_EQ(LinkOf("198.51.100.1", "3000"), LinkOf("198.51.100.1", "3000"));
  // COM3 however written.
  EXPECT_EQ(LinkOf(kDefaultSerial, "3"), LinkOf(kDefaultSerial, "03"));
  EXPECT_NE(LinkOf(kDefaultSerial, "3"), LinkOf(kDefaultSerial, "4"));
}

TEST(WalkRows, OneDeviceReachedByTwoAddressesIsUpdatedOnceAtATime) {
  sim::SimConfig config;
  config.answerDelayMs = 1;
  sim::SimServer server(config);
  const std::string port = std::to_string(server.StartTcp());
  testing::JobRecorder recorder;
  JobOptions options;
  options.firmwarePath = kSample;
  options.parallel = 2;
  {
    DeviceJobs jobs(recorder);
    ASSERT_TRUE(jobs.Start(
        {RowOfList(0, Row("127.0.0.1", port)), RowOfList(1, Row("0.0.0.0", port))}, options));
    jobs.Wait();
  }
  std::set<std::size_t> running;
  bool atOnce = false;
  for (const JobEvent& e : recorder.Events()) {
    if (e.kind() == JobEvent::Kind::kRowBegun) running.insert(e.row);
    if (e.kind() == JobEvent::Kind::kRowFinished) running.erase(e.row);
    atOnce = atOnce || running.size() > 1;
  }
  EXPECT_FALSE(atOnce);
  for (std::size_t row : {0u, 1u}) {
    ASSERT_TRUE(recorder.FinishedRow(row));
    EXPECT_EQ(recorder.FinishedRow(row)->outcome, Outcome::kSucceeded) << row;
  }
  server.Stop();
  EXPECT_TRUE(server.Device().Violations().empty());
}

}  // namespace
}  // namespace vel
