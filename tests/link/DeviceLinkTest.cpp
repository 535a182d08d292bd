// A device link with a peer attached: every read, write and readiness question goes to the peer,
// connects succeed without a socket, purges and closes leave the peer attached.
#include <gtest/gtest.h>

#include <vector>

#include "link/DeviceLink.h"

namespace vel {
namespace {

class CountingPeer final : public LinkPeer {
 public:
  int Read(std::uint8_t* buffer, int count, int limitMs) override {
    ++reads;
    lastLimit = limitMs;
    for (int i = 0; i < count; ++i) buffer[i] = static_cast<std::uint8_t>(0xA0 + i);
    return count;
  }
  int Write(const std::uint8_t* buffer, int count) override {
    written.insert(written.end(), buffer, buffer + count);
    return count;
  }
  bool ReadableNow() override { return ++questions % 2 == 1; }

  int reads = 0;
  int lastLimit = 0;
  int questions = 0;
  std::vector<std::uint8_t> written;
};

TEST(DeviceLink, AnAttachedPeerTakesEveryExchangeOnEitherLinkKind) {
  for (const LinkKind kind : {LinkKind::kSerial, LinkKind::kTcp}) {
    DeviceLink link;
    CountingPeer peer;
    link.SetLinkKind(kind);
    link.AttachPeer(&peer);
    EXPECT_EQ(link.ConnectTcp(), 0);  // no endpoint was ever set
    const std::uint8_t frame[] = {0x1D, 0x02};
    EXPECT_EQ(link.LinkWrite(frame, 2), 2);
    std::uint8_t buffer[3] = {};
    EXPECT_EQ(link.LinkReadWithin(buffer, 3, 250), 3);
    EXPECT_EQ(peer.lastLimit, 250);
    EXPECT_EQ(buffer[2], 0xA2);
    EXPECT_TRUE(link.ReadableNow());
    EXPECT_FALSE(link.ReadableNow());
    link.Purge();
    link.ClosePort();
    EXPECT_EQ(link.LinkRead(buffer, 1), 1);  // still the peer after a purge and a close
    EXPECT_EQ(peer.reads, 2);
    EXPECT_EQ(peer.written, std::vector<std::uint8_t>(frame, frame + 2));

    link.AttachPeer(nullptr);
    link.Tcp().SetConnectTimeout(200);
    EXPECT_EQ(link.LinkRead(buffer, 1), 0);  // no port, no socket: nothing arrives
    EXPECT_EQ(peer.reads, 2);
  }
}

}  // namespace
}  // namespace vel
