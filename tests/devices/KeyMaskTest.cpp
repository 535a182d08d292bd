// Key masking: what counts as a key by its shape, the known keys in any spelling wherever they
// stand, and the names, addresses and digests that stay readable.
#include <gtest/gtest.h>

#include "devices/DeviceList.h"
#include "devices/DeviceOperations.h"
#include "devices/KeyMask.h"
#include "support/KeySpellings.h"
#include "support/Ok.h"

namespace vel {
namespace {

using testing::KeySpellings;

const std::string kKey = "0F1E2D3C4B5A69788796A5B4C3D2E1F0";
const std::string kOtherKey = "00112233445566778899AABBCCDDEEFF";

TEST(KeyMask, KeyShapedTextIsMaskedInEverySpelling) {
  for (const std::string& key : KeySpellings(kKey)) {
    EXPECT_EQ(MaskKeys(key), "<key>") << key;
    EXPECT_EQ(MaskKeys("tcp:10.0.0.5:3000:" + key), "tcp:10.0.0.5:3000:<key>") << key;
    EXPECT_EQ(MaskKeys("rack-" + key + ", (" + key + ")"), "rack-<key>, (<key>)") << key;
    EXPECT_EQ(MaskKeys("name_" + key + "\n"), "name_<key>\n") << key;
  }
  // A key among other pairs (a frame dumped in a log line) leaves none of its own pairs behind.
  EXPECT_EQ(MaskKeys("frame 02 " + KeySpellings(kKey)[4] + " 03 end"), "frame <key> end");
  EXPECT_EQ(MaskKeys(KeySpellings(kKey)[3] + ":" + KeySpellings(kOtherKey)[3]), "<key>");
}

TEST(KeyMask, NamesAddressesAndDigestsWithHexDigitsAreKept) {
  const std::string digest40 = "da39a3ee5e6b4b0d3255bfef95601890afd80709";
  for (const std::string& kept : std::vector<std::string>{
           "rack7-0A1B2C3D4E5F6071", "0A1B2C3D4E5F6071", kKey.substr(1), kKey + "0", "x" + kKey,
           kKey + "g", "sha1 " + digest40, "sha256:" + digest40 + "0123456789abcdef01234567",
           "123e4567-e89b-12d3-a456-426614174000", "fe80::1ff:fe23:4567:890a", "00:1A:2B:3C:4D:5E",
           KeySpellings(kKey)[2].substr(3), "serial:/dev/serial/by-id/usb-FTDI_A50285BI-if00",
           "tcp:10.0.0.5:3000", "COM12"}) {
    EXPECT_EQ(MaskKeys(kept), kept);
  }
}

TEST(KeyMask, KnownKeysAreMaskedInAnySpellingWhereverTheyStand) {
  // Given in one spelling, found in all, even inside a longer word or run of digits; texts that
  // spell no key are left out.
  const KeyMask mask({KeySpellings(kKey)[2], "<Default No Encryption>", ""});
  for (const std::string& key : KeySpellings(kKey)) {
    EXPECT_EQ(mask("name" + key), "name<key>") << key;
    EXPECT_EQ(mask("A" + key + "B1"), "A<key>B1") << key;
    EXPECT_EQ(KeyMask({key})("name" + KeySpellings(kKey)[3] + "x"), "name<key>x") << key;
  }
  EXPECT_EQ(mask("name" + kOtherKey), "name" + kOtherKey) << "an unknown key inside a word";
  // A key beside the known one stands alone once the known one is masked.
  EXPECT_EQ(mask(kKey + kOtherKey), "<key><key>");
  // Known keys that overlap leave nothing of either.
  const std::string overlapping = kOtherKey.substr(16) + "0123456789ABCDEF";
  EXPECT_EQ(KeyMask({kOtherKey, overlapping})("x" + kOtherKey + "0123456789ABCDEFy"), "x<key>y");
}

TEST(KeyMask, MaskingTwiceChangesNothingAndMaskKeysIsTheShapeRule) {
  const KeyMask known({kKey});
  for (const std::string& text :
       {"name" + kKey + " " + kOtherKey, "frame 02 " + KeySpellings(kKey)[4] + " 03",
        kKey + kOtherKey, std::string("rack7-0A1B2C3D4E5F6071 <key> key")}) {
    EXPECT_EQ(known(known(text)), known(text)) << text;
    EXPECT_EQ(MaskKeys(MaskKeys(text)), MaskKeys(text)) << text;
    EXPECT_EQ(MaskKeys(text), KeyMask()(text)) << text;
  }
}

TEST(KeyMask, AListMasksWithItsOwnKeys) {
  DeviceList list;
  const std::size_t row = list.AddDevice();
  ASSERT_TRUE(Ok(list.SetCell(row, DeviceColumn::kAddress, "10.0.0.5")));
  ASSERT_TRUE(Ok(list.SetCell(row, DeviceColumn::kKey, KeySpellings(kKey)[2])));
  list.AddDevice();  // a serial row without a key
  const KeyMask mask = ListKeyMask(list);
  EXPECT_EQ(mask("cab" + KeySpellings(kKey)[1] + "net"), "cab<key>net");
  EXPECT_EQ(mask("cab" + kOtherKey), "cab" + kOtherKey);
}

TEST(KeyMask, TargetsAndTheirErrorsHideTheKeyWhereverItIsRepeated) {
  const std::string dashed = KeySpellings(kKey)[2];
  EXPECT_EQ(MaskedTarget("tcp:10.0.0.5:3000:" + dashed), "tcp:10.0.0.5:3000:<key>");
  EXPECT_EQ(MaskedTarget("tcp:10.0.0.5:3000:not-a-key"), "tcp:10.0.0.5:3000:<key>");
  EXPECT_EQ(MaskedTarget("serial:rack7-0A1B2C3D4E5F6071"), "serial:rack7-0A1B2C3D4E5F6071");
  const std::string repeated = "tcp:rack" + kKey + ":3000:" + dashed;
  EXPECT_EQ(MaskedTarget(repeated), "tcp:rack<key>:3000:<key>");
  const auto parsed = ParseTarget(repeated);
  ASSERT_FALSE(parsed);
  EXPECT_EQ(parsed.error(), "not an IP address or host name: tcp:rack<key>:3000:<key>");
}

TEST(Targets, AnIpv6HostIsWrittenInBracketsAndItsKeyStillMasked) {
  const std::string dashed = KeySpellings(kKey)[2];
  EXPECT_EQ(MaskedTarget("tcp:[fd00::5]:3000:" + dashed), "tcp:[fd00::5]:3000:<key>");
  const auto parsed = ParseTarget("tcp:[fd00::5]:3000:" + dashed);
  ASSERT_TRUE(parsed) << parsed.error();
  EXPECT_EQ(parsed->address, "fd00::5");
  EXPECT_EQ(parsed->port, "3000");
  EXPECT_EQ(parsed->key, kKey);
  EXPECT_TRUE(parsed->hostName.empty());
  EXPECT_EQ(LinkName(*parsed), "tcp:[fd00::5]:3000");
  const struct {
    std::string text;
    std::string error;
  } kRefused[] = {
      {"tcp:[fd00::5", "tcp target without a port: tcp:[fd00::5"},
      {"tcp:[fd00::5]3000", "tcp target without a port: tcp:[fd00::5]3000"},
      {"tcp:[10.0.0.5]:3000", "not an IPv6 address in brackets: tcp:[10.0.0.5]:3000"},
      {"tcp:[fd00::5]:70000", "not a port from 1 to 65535: tcp:[fd00::5]:70000"},
  };
  for (const auto& c : kRefused) {
    const auto refused = ParseTarget(c.text);
    ASSERT_FALSE(refused) << c.text;
    EXPECT_EQ(refused.error(), c.error);
  }
}

}  // namespace
}  // namespace vel
