// The enciphered exchanges as their bytes crossed the socket: the engine sends exactly the
// recorded bytes, and an independent Twofish (Perl's Crypt::Twofish) deciphers both directions
// into the exchange the plain transcript of the same scenario holds.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <stdexcept>

#include "support/CountingIvSource.h"
#include "support/Files.h"
#include "support/Subprocess.h"
#include "support/TempDir.h"
#include "wire/GoldenScenarios.h"

namespace zandor::wire {

void PrintTo(const GoldenScenario& scenario, std::ostream* out);

namespace {

using Bytes = std::vector<std::uint8_t>;

std::string EncipheredPath(const std::string& name) {
  return std::string(ZANDOR_GOLDEN_DIR) + "/enciphered/" + name + ".txt";
}

RawTranscript LoadRaw(const std::string& path) {
  std::string error;
  auto raw = ParseRawTranscript(vel::testing::ReadFile(path), &error);
  if (!raw)
    ADD_FAILURE() << path << ": " << error << " (record it with zandor-golden --enciphered)";
  return raw.value_or(RawTranscript{});
}

std::string Hex(const Bytes& bytes) {
  std::string text;
  for (const std::uint8_t b : bytes) {
    const char digits[] = "0123456789ABCDEF";
    text += digits[b >> 4];
    text += digits[b & 0x0F];
  }
  return text;
}

// What the decipherer prints for an exchange: for each connection its IV, then every byte the
// host sent and every byte the device sent, in plain.
struct PlainConnection {
  Bytes iv, host, device;
};

std::string Lines(const std::vector<PlainConnection>& connections) {
  std::string out;
  for (const PlainConnection& c : connections) {
    out += "connect " + Hex(c.iv) + "\n";
    out += ">" + (c.host.empty() ? "" : " " + Hex(c.host)) + "\n";
    out += "<" + (c.device.empty() ? "" : " " + Hex(c.device)) + "\n";
  }
  return out;
}

// The plain exchange of the scenario's plain transcript, connection by connection, each with the
// IV the counting source gives its connect.
std::vector<PlainConnection> PlainExchange(const std::string& name) {
  const std::string path = std::string(ZANDOR_GOLDEN_DIR) + "/" + name + ".txt";
  std::string error;
  const auto plain = ParseTranscript(vel::testing::ReadFile(path), &error);
  EXPECT_TRUE(plain) << path << ": " << error;
  std::vector<PlainConnection> connections;
  for (const Event& e : plain ? plain->events : std::vector<Event>{}) {
    if (e.kind == Kind::kConnect) {
      connections.push_back(
          {vel::testing::CountedIv(static_cast<int>(connections.size()) + 1), {}, {}});
      continue;
    }
    if (connections.empty()) continue;
    Bytes& into = e.kind == Kind::kWrite ? connections.back().host : connections.back().device;
    if (e.kind == Kind::kWrite || e.kind == Kind::kRead || e.kind == Kind::kStale) {
      into.insert(into.end(), e.bytes.begin(), e.bytes.end());
    }
  }
  return connections;
}

// What the independent decipherer prints for a raw transcript file.
std::string Deciphered(const std::string& path) {
  vel::testing::Subprocess perl(
      {"/usr/bin/perl", std::string(ZANDOR_SOURCE_DIR) + "/tests/tools/decipher-wire.pl", path});
  EXPECT_EQ(perl.Wait(), 0) << perl.err;
  return perl.out;
}

// Where two texts first differ, for a failure message that fits on a screen.
std::string FirstDifference(const std::string& seen, const std::string& expected) {
  if (seen == expected) return "";
  std::size_t at = 0;
  while (at < seen.size() && at < expected.size() && seen[at] == expected[at]) ++at;
  const std::size_t from = at < 40 ? 0 : at - 40;
  return "differs at character " + std::to_string(at) + ": deciphered \"" + seen.substr(from, 80) +
         "\", expected \"" + expected.substr(from, 80) + "\"";
}

class EncipheredWire : public ::testing::TestWithParam<GoldenScenario> {};

TEST_P(EncipheredWire, TheEngineSendsTheRecordedBytes) {
  const GoldenScenario& scenario = GetParam();
  const RawTranscript raw = LoadRaw(EncipheredPath(scenario.name));
  ASSERT_FALSE(raw.connections.empty());
  EXPECT_EQ(raw.scenario, scenario.name);
  EXPECT_EQ(raw.key, scenario.key);
  RawWirePlayer player(raw.connections);
  const int status = RunEnciphered(scenario, player.Port());
  EXPECT_EQ(player.Verdict(), "");
  EXPECT_EQ(status, raw.status);
}

TEST_P(EncipheredWire, AnIndependentTwofishDeciphersThePlainExchange) {
  const GoldenScenario& scenario = GetParam();
  const std::string expected = Lines(PlainExchange(scenario.name));
  ASSERT_FALSE(expected.empty());
  EXPECT_EQ(FirstDifference(Deciphered(EncipheredPath(scenario.name)), expected), "");
}

INSTANTIATE_TEST_SUITE_P(Transcripts, EncipheredWire, ::testing::ValuesIn(EncipheredScenarios()),
                         [](const auto& info) {
                           std::string name = info.param.name;
                           for (char& c : name)
                             c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                           return name;
                         });

TEST(EncipheredWireFiles, EveryTranscriptHasItsScenario) {
  std::set<std::string> names;
  for (const auto& scenario : EncipheredScenarios()) names.insert(scenario.name + ".txt");
  for (const auto& entry :
       std::filesystem::directory_iterator(std::string(ZANDOR_GOLDEN_DIR) + "/enciphered")) {
    EXPECT_EQ(names.count(entry.path().filename().string()), 1u)
        << entry.path() << " has no scenario";
  }
}

// The check above fails for one wrong byte, and for a stream taken up at another keystream
// position (one byte missing), in either direction.
TEST(EncipheredWireCheck, AWrongByteOrAShiftedStreamDoesNotDecipher) {
  const std::string name = "T13-clean";
  const RawTranscript raw = LoadRaw(EncipheredPath(name));
  ASSERT_GE(raw.connections.size(), 2u);
  const std::string expected = Lines(PlainExchange(name));
  vel::testing::TempDir dir;
  const auto deciphers = [&](const RawTranscript& changed) {
    const std::string path = dir.File("changed.txt");
    vel::testing::WriteText(path, FormatRawTranscript(changed));
    return Deciphered(path) == expected;
  };
  ASSERT_TRUE(deciphers(raw));
  const auto runOf = [](RawTranscript& t, bool fromHost) -> Bytes& {
    for (RawRun& run : t.connections.back().runs) {
      if (run.fromHost == fromHost && run.bytes.size() > 20) return run.bytes;
    }
    throw std::runtime_error("no such run");
  };
  for (const bool fromHost : {true, false}) {
    RawTranscript flipped = raw;
    runOf(flipped, fromHost)[18] ^= 0x01;
    EXPECT_FALSE(deciphers(flipped)) << (fromHost ? "host" : "device") << " byte flipped";
    RawTranscript shifted = raw;
    Bytes& run = runOf(shifted, fromHost);
    run.erase(run.begin() + 18);
    EXPECT_FALSE(deciphers(shifted)) << (fromHost ? "host" : "device") << " byte missing";
  }
}

}  // namespace
}  // namespace zandor::wire
