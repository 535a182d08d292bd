#include <gcrypt.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <memory>
#include <random>
#include <utility>
#include <vector>

#include "link/Encryption.h"
#include "link/KeyText.h"

namespace vel {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes FromHex(const std::string& hex) {
  Bytes out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    out.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return out;
}

std::unique_ptr<CWrapper_TwoFish> Keyed(const std::string& key, const Bytes& iv) {
  auto cipher = std::make_unique<CWrapper_TwoFish>();
  EXPECT_TRUE(cipher->init(key.c_str(), 128));
  cipher->setIV(iv.data());
  return cipher;
}

Bytes Encrypt(CEncryptAPI& cipher, Bytes data) {
  cipher.encrypt(data.data(), static_cast<int>(data.size()), data.data());
  return data;
}

const std::string kKey = "000102030405060708090A0B0C0D0E0F";
const Bytes kIv = FromHex("F0E1D2C3B4A5968778695A4B3C2D1E0F");

// One ECB block through the stream: with the plaintext block as the IV, the first keystream
// block is its encryption, and enciphering zeros hands that block out.
Bytes EncryptBlock(const Bytes& key, const Bytes& plain) {
  std::string keyText;
  for (const std::uint8_t b : key) {
    char pair[3];
    std::snprintf(pair, sizeof pair, "%02X", b);
    keyText += pair;
  }
  return Encrypt(*Keyed(keyText, plain), Bytes(16, 0));
}

// The published Twofish-128 known-answer table: step 1 enciphers the zero block under the zero
// key; step i enciphers the ciphertext of step i-1 under the ciphertext of step i-2 as the key.
TEST(Twofish, PublishedKnownAnswerTable) {
  const std::map<int, std::string> published = {
      {1, "9F589F5CF6122C32B6BFEC2F2AE8C35A"},  {2, "D491DB16E7B1C39E86CB086B789F5419"},
      {3, "019F9809DE1711858FAAC3A3BA20FBC3"},  {4, "6363977DE839486297E661C6C9D668EB"},
      {5, "816D5BD0FAE35342BF2A7412C246F752"},  {6, "5449ECA008FF5921155F598AF4CED4D0"},
      {49, "5D9D4EEFFA9151575524F115815A12E0"},
  };
  Bytes key(16, 0), plain(16, 0);
  for (int step = 1; step <= 49; ++step) {
    Bytes cipherText = EncryptBlock(key, plain);
    if (const auto known = published.find(step); known != published.end()) {
      EXPECT_EQ(cipherText, FromHex(known->second)) << "step " << step;
    }
    key = std::exchange(plain, std::move(cipherText));
  }
}

// With a zero IV and zero plaintext, the CFB keystream blocks are the published Twofish-128
// known-answer chain: E(0) under the zero key, then E(E(0)), and under the key E(0) the next.
TEST(Twofish, KnownAnswerVectorsThroughTheStream) {
  auto zeroKey = Keyed(std::string(32, '0'), Bytes(16, 0));
  const Bytes out = Encrypt(*zeroKey, Bytes(32, 0));
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 16), FromHex("9F589F5CF6122C32B6BFEC2F2AE8C35A"));
  EXPECT_EQ(Bytes(out.begin() + 16, out.end()), FromHex("D491DB16E7B1C39E86CB086B789F5419"));

  auto third =
      Keyed("9F589F5CF6122C32B6BFEC2F2AE8C35A", FromHex("D491DB16E7B1C39E86CB086B789F5419"));
  EXPECT_EQ(Encrypt(*third, Bytes(16, 0)), FromHex("019F9809DE1711858FAAC3A3BA20FBC3"));
}

TEST(Twofish, StreamEqualsLibgcryptsOwnCfbMode) {
  std::mt19937 random(42);
  Bytes plain(1000);
  for (auto& b : plain) b = static_cast<std::uint8_t>(random());
  Bytes key = FromHex(kKey);
  gcry_cipher_hd_t reference;
  ASSERT_EQ(gcry_cipher_open(&reference, GCRY_CIPHER_TWOFISH128, GCRY_CIPHER_MODE_CFB, 0), 0u);
  gcry_cipher_setkey(reference, key.data(), key.size());
  gcry_cipher_setiv(reference, kIv.data(), kIv.size());
  Bytes expected(plain.size());
  gcry_cipher_encrypt(reference, expected.data(), expected.size(), plain.data(), plain.size());
  gcry_cipher_close(reference);

  auto ours = Keyed(kKey, kIv);
  EXPECT_EQ(Encrypt(*ours, plain), expected);
}

TEST(Twofish, AnySplitGivesTheSameBytesAndAPeerDeciphersThem) {
  std::mt19937 random(7);
  Bytes plain(300);
  for (auto& b : plain) b = static_cast<std::uint8_t>(random());
  auto whole = Keyed(kKey, kIv);
  const Bytes expected = Encrypt(*whole, plain);

  for (int trial = 0; trial < 20; ++trial) {
    auto sender = Keyed(kKey, kIv);
    auto receiver = Keyed(kKey, kIv);
    Bytes cipherText, decoded;
    for (std::size_t at = 0; at < plain.size();) {
      const std::size_t n =
          std::min<std::size_t>(random() % 23 + (trial == 0 ? 0 : 1), plain.size() - at);
      Bytes piece(plain.begin() + static_cast<long>(at), plain.begin() + static_cast<long>(at + n));
      sender->encrypt(piece.data(), static_cast<int>(n), piece.data());
      cipherText.insert(cipherText.end(), piece.begin(), piece.end());
      // The receiver reads the same stream in other pieces.
      at += n;
    }
    ASSERT_EQ(cipherText, expected);
    for (std::size_t at = 0; at < cipherText.size();) {
      const std::size_t n = std::min<std::size_t>(random() % 17 + 1, cipherText.size() - at);
      Bytes out(n);
      receiver->decrypt(cipherText.data() + at, static_cast<int>(n), out.data());
      decoded.insert(decoded.end(), out.begin(), out.end());
      at += n;
    }
    EXPECT_EQ(decoded, plain);
  }
}

TEST(Twofish, OneByteMessagesShareAKeystreamBlock) {
  auto a = Keyed(kKey, kIv);
  auto b = Keyed(kKey, kIv);
  const Bytes together = Encrypt(*a, Bytes{1, 2, 3, 4, 5});
  Bytes apart;
  for (std::uint8_t v : {1, 2, 3, 4, 5}) apart.push_back(Encrypt(*b, Bytes{v})[0]);
  EXPECT_EQ(apart, together);
}

TEST(Twofish, KeyDigitsInEitherCaseGiveTheSameKey) {
  auto upper = Keyed("A0B1C2D3E4F5A6B7C8D9EAFB0C1D2E3F", kIv);
  auto lower = Keyed("a0b1c2d3e4f5a6b7c8d9eafb0c1d2e3f", kIv);
  EXPECT_EQ(Encrypt(*upper, Bytes(40, 0x55)), Encrypt(*lower, Bytes(40, 0x55)));
}

TEST(Twofish, BadKeyTextsAreRefused) {
  for (const char* key : {"", "0011", "G0112233445566778899AABBCCDDEEFF",
                          "00-11-22-33-44-55-66-77-88-99-AA-BB-CC-DD-EE-FF"}) {
    CWrapper_TwoFish cipher;
    EXPECT_FALSE(cipher.init(key, 128)) << key;
  }
  CWrapper_TwoFish cipher;
  EXPECT_FALSE(cipher.init(kKey.c_str(), 256));
  EXPECT_TRUE(cipher.init((kKey + "trailing text is ignored").c_str(), 128));
}

TEST(Twofish, KeyColumnLosesItsDashesAndKeepsByteOrder) {
  const std::string column = "00-11-22-33-44-55-66-77-88-99-AA-BB-CC-DD-EE-FF";
  ASSERT_EQ(column.size(), 47u);
  const std::string text = *KeyDigits(column);
  EXPECT_EQ(text, "00112233445566778899AABBCCDDEEFF");
  std::uint8_t key[16];
  ASSERT_TRUE(ParseKeyBytes(text, key));
  EXPECT_EQ(key[0], 0x00);
  EXPECT_EQ(key[1], 0x11);
  EXPECT_EQ(key[15], 0xFF);
}

}  // namespace
}  // namespace vel
