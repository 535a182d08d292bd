#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "link/DeviceLink.h"
#include "link/TcpLink.h"
#include "support/CountingIvSource.h"
#include "support/LoopbackPeer.h"
#include "support/UnansweredEndpoint.h"

namespace vel {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;
using testing::LoopbackPeer;

const std::string kKey = "00112233445566778899AABBCCDDEEFF";

TcpEndpoint Loopback(std::uint16_t port) {
  TcpEndpoint endpoint;
  EXPECT_TRUE(MakeEndpoint("127.0.0.1", std::to_string(port), &endpoint));
  return endpoint;
}

// A peer that accepts and then says nothing until the host sends a byte or leaves.
void SilentPeer(LoopbackPeer& peer) {
  const int fd = peer.Accept();
  LoopbackPeer::ReadExactly(fd, 1, 5000);
  ::close(fd);
}

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

TEST(TcpEndpointText, AddressAndPortAsConnectTakesThem) {
  TcpEndpoint endpoint;
  ASSERT_TRUE(MakeEndpoint("10.1.2.3", "3000", &endpoint));
  const auto& v4 = reinterpret_cast<const sockaddr_in&>(endpoint.socket);
  EXPECT_EQ(endpoint.Family(), AF_INET);
  EXPECT_EQ(endpoint.length, sizeof(sockaddr_in));
  const auto* port = reinterpret_cast<const std::uint8_t*>(&v4.sin_port);
  EXPECT_EQ(port[0], 0x0B);
  EXPECT_EQ(port[1], 0xB8);
  const auto* address = reinterpret_cast<const std::uint8_t*>(&v4.sin_addr);
  EXPECT_EQ(address[0], 10);
  EXPECT_EQ(address[3], 3);
  EXPECT_EQ(AddressText(endpoint), "10.1.2.3");

  ASSERT_TRUE(MakeEndpoint("fd00::7", "3000", &endpoint));
  EXPECT_EQ(endpoint.Family(), AF_INET6);
  EXPECT_EQ(endpoint.length, sizeof(sockaddr_in6));
  EXPECT_EQ(endpoint.Port(), 3000);
  EXPECT_EQ(reinterpret_cast<const sockaddr_in6&>(endpoint.socket).sin6_addr.s6_addr[15], 7);
  EXPECT_EQ(AddressText(endpoint), "[fd00::7]");

  // Brackets belong to the target text, not to the address; a name is resolved elsewhere.
  for (const char* address : {"not an address", "[::1]", "10.1.2", "localhost", ""}) {
    EXPECT_FALSE(MakeEndpoint(address, "3000", &endpoint)) << address;
  }
  // A port that would wrap onto another one, or read as 0, is no endpoint.
  for (const char* port : {"68537", "65536", "0", "-1", "abc", "47900x", "047401", " 80", ""}) {
    EXPECT_FALSE(MakeEndpoint("10.1.2.3", port, &endpoint)) << port;
    EXPECT_FALSE(MakeEndpoint("::1", port, &endpoint)) << port;
  }
  ASSERT_TRUE(MakeEndpoint("10.1.2.3", "65535", &endpoint));
  EXPECT_EQ(endpoint.Port(), 65535);
}

TEST(TcpLink, PlainRoundTripThroughTheDispatcher) {
  LoopbackPeer peer;
  peer.Serve([](LoopbackPeer& p) {
    const int fd = p.Accept();
    const Bytes got = LoopbackPeer::ReadExactly(fd, 5);
    LoopbackPeer::Send(fd, Bytes(got.rbegin(), got.rend()));
    ::close(fd);
  });
  DeviceLink link;
  link.SetLinkKind(LinkKind::kTcp);
  ASSERT_EQ(link.Tcp().ConnectTcp(Loopback(peer.Port())), 0);
  const Bytes hello = {'h', 'e', 'l', 'l', 'o'};
  EXPECT_EQ(link.LinkWrite(hello.data(), 5), 5);
  Bytes answer(5);
  EXPECT_EQ(link.LinkRead(answer.data(), 5), 5);
  EXPECT_EQ(answer, (Bytes{'o', 'l', 'l', 'e', 'h'}));
}

TEST(TcpLink, EncipheredStreamStartsWithTheIvInClear) {
  LoopbackPeer peer;
  std::atomic<bool> peerOk{false};
  peer.Serve([&](LoopbackPeer& p) {
    const int fd = p.Accept();
    const Bytes iv = LoopbackPeer::ReadExactly(fd, 16);
    CWrapper_TwoFish device;
    ASSERT_TRUE(device.init(kKey.c_str(), 128));
    device.setIV(iv.data());
    Bytes frame = LoopbackPeer::ReadExactly(fd, 7);
    // The device deciphers with its receiving stream and answers on its sending stream.
    device.decrypt(frame.data(), 7, frame.data());
    peerOk = frame == Bytes{0xE7, 0x0C, 0x35, 0x0D, 1, 2, 3};
    Bytes reply = {0xFA, 0x42};
    device.encrypt(reply.data(), 2, reply.data());
    LoopbackPeer::Send(fd, reply);
    LoopbackPeer::ReadExactly(fd, 1, 2000);  // until the host closes
    ::close(fd);
  });
  TcpLink link;
  link.SetLinkKey(kKey);
  ASSERT_EQ(link.ConnectTcp(Loopback(peer.Port())), 0);
  Bytes frame = {0xE7, 0x0C, 0x35, 0x0D, 1, 2, 3};
  int count = 0;
  link.TcpSend(frame.data(), 7, &count);
  EXPECT_EQ(count, 7);
  EXPECT_NE(frame, (Bytes{0xE7, 0x0C, 0x35, 0x0D, 1, 2, 3})) << "enciphered in place";
  Bytes reply(2);
  link.TcpReceive(reply.data(), 2, &count);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(reply, (Bytes{0xFA, 0x42}));
  link.ClosePort();
  EXPECT_FALSE(link.Encrypted());
  peer.Join();
  EXPECT_TRUE(peerOk);
}

// A receive that ends short still deciphers what arrived, so the next receive continues the
// device's stream where it left off.
TEST(TcpLink, ShortReceiveIsDecipheredAndTheStreamStaysInStep) {
  LoopbackPeer peer;
  peer.Serve([](LoopbackPeer& p) {
    const int fd = p.Accept();
    const Bytes iv = LoopbackPeer::ReadExactly(fd, 16);
    CWrapper_TwoFish device;
    ASSERT_TRUE(device.init(kKey.c_str(), 128));
    device.setIV(iv.data());
    Bytes first = {0x11, 0x22};
    device.encrypt(first.data(), 2, first.data());
    LoopbackPeer::Send(fd, first);
    LoopbackPeer::ReadExactly(fd, 1, 5000);  // the host's go-ahead
    Bytes second = {0x33, 0x44, 0x55};
    device.encrypt(second.data(), 3, second.data());
    LoopbackPeer::Send(fd, second);
    LoopbackPeer::ReadExactly(fd, 1, 5000);
    ::close(fd);
  });
  TcpLink link;
  link.SetLinkKey(kKey);
  link.SetWaitStep(50);
  ASSERT_EQ(link.ConnectTcp(Loopback(peer.Port())), 0);
  Bytes buffer(4, 0);
  int count = 0;
  const auto start = Clock::now();
  link.TcpReceive(buffer.data(), 4, &count);
  const double waited = SecondsSince(start);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(buffer[0], 0x11);
  EXPECT_EQ(buffer[1], 0x22);
  EXPECT_GT(waited, 0.3);  // seven empty waits of 50 ms
  EXPECT_LT(waited, 2.0);
  std::uint8_t go = 0x01;
  link.TcpSend(&go, 1, &count);
  Bytes rest(3, 0);
  link.TcpReceive(rest.data(), 3, &count);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(rest, (Bytes{0x33, 0x44, 0x55}));
  link.Shutdown();
}

// How one call counts its waits, slice by slice as the link sees them (400 ms steps looked at
// every 100 ms): 'q' a quiet slice, 'b' a slice in which bytes arrived. Returns the empty waits
// counted, or -1 when the call ended.
int EmptyWaitsAfter(const std::string& slices) {
  EmptyWaits waits(kTcpSelectStepMs, kCancelPollMs);
  for (const char slice : slices) {
    if (slice == 'b') {
      waits.BytesMoved();
    } else if (waits.QuietSlice()) {
      return -1;
    }
  }
  return waits.Count();
}

std::string Repeat(const std::string& piece, int times) {
  std::string whole;
  for (int i = 0; i < times; ++i) whole += piece;
  return whole;
}

TEST(TcpLink, OnlyAWholeQuietWaitStepCountsAsEmpty) {
  // Bytes 150, 250 or 350 ms apart never leave a whole 400 ms step quiet: a receive of any
  // length goes on for as long as they keep coming.
  EXPECT_EQ(EmptyWaitsAfter(Repeat("qb", 200)), 0);
  EXPECT_EQ(EmptyWaitsAfter(Repeat("qqb", 200)), 0);
  EXPECT_EQ(EmptyWaitsAfter(Repeat("qqqb", 200)), 0);
  // Total silence: the seventh empty 400 ms wait ends the call, not one slice sooner.
  EXPECT_EQ(EmptyWaitsAfter(Repeat("q", 27)), 6);
  EXPECT_EQ(EmptyWaitsAfter(Repeat("q", 28)), -1);
  // Progress does not give back the empty waits counted before it.
  EXPECT_EQ(EmptyWaitsAfter(Repeat("qqqq", 6) + "b" + "qqqq"), -1);
  EXPECT_EQ(EmptyWaitsAfter(Repeat("qqqq", 5) + "qqqb" + "qqqq"), 6);
}

TEST(TcpLink, BytesTrickledSlowerThanACancelPollStillArriveWhole) {
  // A converter that passes on one byte every 350 ms: three quiet slices between bytes, thirty
  // of them over the receive, yet no 400 ms wait was ever empty.
  static constexpr int kBytes = 10;
  static constexpr int kGapMs = 350;
  LoopbackPeer peer;
  peer.Serve([](LoopbackPeer& p) {
    const int fd = p.Accept();
    for (int i = 0; i < kBytes; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(kGapMs));
      LoopbackPeer::Send(fd, Bytes{static_cast<std::uint8_t>(0x30 + i)});
    }
    LoopbackPeer::ReadExactly(fd, 1, 5000);
    ::close(fd);
  });
  TcpLink link;
  ASSERT_EQ(link.ConnectTcp(Loopback(peer.Port())), 0);
  Bytes buffer(kBytes, 0);
  int count = 0;
  link.TcpReceive(buffer.data(), kBytes, &count);
  EXPECT_EQ(count, kBytes);
  EXPECT_EQ(buffer.back(), 0x30 + kBytes - 1);
  link.Shutdown();
}

TEST(TcpLink, ALimitedReceiveEndsAtItsLimit) {
  LoopbackPeer peer;
  peer.Serve(SilentPeer);
  TcpLink link;
  link.SetWaitStep(50);
  ASSERT_EQ(link.ConnectTcp(Loopback(peer.Port())), 0);
  std::uint8_t byte = 0;
  int count = 0;
  const auto start = Clock::now();
  link.TcpReceive(&byte, 1, &count, 120);
  const double waited = SecondsSince(start);
  EXPECT_EQ(count, 0);
  EXPECT_GE(waited, 0.12);
  EXPECT_LT(waited, 0.3);  // not the seven waits of 350 ms
  link.Shutdown();
}

TEST(TcpLink, ConnectGivesUpAtItsTimeOutOrOnCancel) {
  testing::UnansweredEndpoint endpoint;
  TcpLink link;
  link.SetConnectTimeout(300);
  auto start = Clock::now();
  EXPECT_EQ(link.ConnectTcp(Loopback(endpoint.Port())), ETIMEDOUT);
  EXPECT_GE(SecondsSince(start), 0.29);
  EXPECT_LT(SecondsSince(start), 1.5);
  EXPECT_FALSE(link.Connected());

  CancelFlag cancel;
  link.SetCancelFlag(&cancel);
  link.SetConnectTimeout(kTcpConnectTimeoutMs);
  std::thread canceller([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    cancel.Request();
  });
  start = Clock::now();
  EXPECT_EQ(link.ConnectTcp(Loopback(endpoint.Port())), ECANCELED);
  EXPECT_LT(SecondsSince(start), 1.0);
  canceller.join();
}

TEST(TcpLink, CancelEndsAReceive) {
  LoopbackPeer peer;
  peer.Serve(SilentPeer);
  TcpLink link;
  CancelFlag cancel;
  link.SetCancelFlag(&cancel);
  ASSERT_EQ(link.ConnectTcp(Loopback(peer.Port())), 0);
  std::thread canceller([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    cancel.Request();
  });
  std::uint8_t byte = 0;
  int count = 0;
  const auto start = Clock::now();
  link.TcpReceive(&byte, 1, &count);
  EXPECT_LT(SecondsSince(start), 1.0);  // one wait step, not seven
  canceller.join();
  link.Shutdown();
}

TEST(TcpLink, ResetByThePeerReconnectsWithANewIv) {
  LoopbackPeer peer;
  std::vector<Bytes> ivs;
  peer.Serve([&](LoopbackPeer& p) {
    const int first = p.Accept();
    ivs.push_back(LoopbackPeer::ReadExactly(first, 16));
    LoopbackPeer::Reset(first);
    const int second = p.Accept();
    ivs.push_back(LoopbackPeer::ReadExactly(second, 16));
    ::close(second);
  });
  TcpLink link;
  link.SetReconnectPause(10);
  link.SetLinkKey(kKey);
  ASSERT_EQ(link.ConnectTcp(Loopback(peer.Port())), 0);
  Bytes buffer(1);
  int count = -1;
  link.TcpReceive(buffer.data(), 1, &count);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(link.LastError(), 0) << "the reconnect succeeded";
  link.Shutdown();
  peer.Join();
  ASSERT_EQ(ivs.size(), 2u);
  EXPECT_EQ(ivs[1].size(), 16u);
  EXPECT_NE(ivs[0], ivs[1]);
}

// Every connect takes its IV from the link's source, a fresh one each time; a source that
// cannot give one refuses the connection.
TEST(TcpLink, EachConnectSendsTheNextIvOfItsSource) {
  LoopbackPeer peer;
  std::vector<Bytes> ivs;
  peer.Serve([&](LoopbackPeer& p) {
    for (int i = 0; i < 2; ++i) {
      const int fd = p.Accept();
      ivs.push_back(LoopbackPeer::ReadExactly(fd, 16));
      LoopbackPeer::ReadExactly(fd, 1, 5000);  // until the host closes
      ::close(fd);
    }
  });
  TcpLink link;
  link.SetReconnectPause(0);
  link.SetLinkKey(kKey);
  link.SetIvSource(testing::CountingIvSource());
  ASSERT_EQ(link.ConnectTcp(Loopback(peer.Port())), 0);
  ASSERT_EQ(link.ConnectTcp(Loopback(peer.Port())), 0);
  link.Shutdown();
  peer.Join();
  EXPECT_EQ(ivs, (std::vector<Bytes>{testing::CountedIv(1), testing::CountedIv(2)}));

  LoopbackPeer refused;
  refused.Serve([](LoopbackPeer& p) {
    const int fd = p.Accept(2000);
    if (fd >= 0) ::close(fd);
  });
  link.SetIvSource([](std::uint8_t*) { return false; });
  EXPECT_NE(link.ConnectTcp(Loopback(refused.Port())), 0);
  EXPECT_FALSE(link.Connected());
}

TEST(TcpLink, PeerClosingEndsAReceiveAtOnce) {
  LoopbackPeer peer;
  peer.Serve([](LoopbackPeer& p) { ::close(p.Accept()); });
  TcpLink link;
  ASSERT_EQ(link.ConnectTcp(Loopback(peer.Port())), 0);
  Bytes buffer(3);
  int count = -1;
  const auto start = Clock::now();
  link.TcpReceive(buffer.data(), 3, &count);
  EXPECT_EQ(count, 0);
  EXPECT_LT(SecondsSince(start), 1.0);
  EXPECT_FALSE(link.Connected());
}

TEST(TcpLink, BadKeyRefusesTheConnection) {
  LoopbackPeer peer;
  std::atomic<int> accepted{0};
  peer.Serve([&](LoopbackPeer& p) {
    const int fd = p.Accept(300);
    if (fd >= 0) {
      accepted = 1;
      ::close(fd);
    }
  });
  TcpLink link;
  link.SetLinkKey("not a key");
  EXPECT_EQ(link.ConnectTcp(Loopback(peer.Port())), EKEYREJECTED);
  EXPECT_FALSE(link.Connected());
  peer.Join();
  EXPECT_EQ(accepted, 0);
}

TEST(TcpLink, ConnectWhileConnectedClosesAndPausesFirst) {
  LoopbackPeer peer;
  std::atomic<bool> firstClosed{false};
  peer.Serve([&](LoopbackPeer& p) {
    const int first = p.Accept();
    const int second = p.Accept();
    firstClosed = LoopbackPeer::ReadExactly(first, 1, 1000).empty();
    ::close(first);
    ::close(second);
  });
  TcpLink link;
  ASSERT_EQ(link.ConnectTcp(Loopback(peer.Port())), 0);
  const auto start = Clock::now();
  ASSERT_EQ(link.ConnectTcp(Loopback(peer.Port())), 0);
  EXPECT_GE(SecondsSince(start), 0.45);
  link.Shutdown();
  peer.Join();
  EXPECT_TRUE(firstClosed);
}

TEST(TcpLink, ConnectionRefusedGivesTheSystemsError) {
  TcpLink link;
  std::uint16_t port;
  {
    LoopbackPeer closed;
    port = closed.Port();
  }
  EXPECT_EQ(link.ConnectTcp(Loopback(port)), ECONNREFUSED);
  EXPECT_FALSE(link.Connected());
}

}  // namespace
}  // namespace vel
