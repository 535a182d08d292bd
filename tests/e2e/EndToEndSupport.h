#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "SimOptions.h"
#include "SimServer.h"
#include "devices/RowOperations.h"
#include "engine/VelUpdateDoc.h"
#include "support/EngineFakes.h"

namespace vel::testing {

// A simulated device served in this process over a real socket or pseudo-terminal, and a
// document with recording front ends that updates or checks it.
class EndToEnd : public ::testing::Test {
 protected:
  // A test passes only when the device saw nothing it does not take.
  void TearDown() override {
    if (!server) return;
    server->Stop();
    EXPECT_EQ(server->Device().Violations(), std::vector<std::string>{}) << "protocol violations";
  }

  void Family(const std::string& name) { ASSERT_TRUE(sim::ApplyFamily(name, &config)); }

  std::vector<sim::ProgrammedUnit> Programmed() {
    server->Stop();
    return server->Device().Programmed();
  }

  void StartTcp() {
    server = std::make_unique<sim::SimServer>(config);
    const int port = server->StartTcp();
    ASSERT_GT(port, 0);
    target = DeviceTarget{};
    target.kind = LinkKind::kTcp;
    target.address = "127.0.0.1";
    target.port = std::to_string(port);
    target.key = config.key;
  }

  void StartPty() {
    server = std::make_unique<sim::SimServer>(config);
    const std::string path = server->StartPty();
    ASSERT_FALSE(path.empty());
    target = DeviceTarget{};
    target.portName = path;
  }

  // The document, with link waits shortened so that failure paths run quickly; the protocol's
  // own counts (passes, tries, reads) stay as they are.
  CVelUpdateDoc& Doc(const std::string& sample) {
    doc = std::make_unique<CVelUpdateDoc>(display, op);
    if (!sample.empty()) {
      const std::string path =
          sample.front() == '/' ? sample : std::string(ZANDOR_SAMPLES_DIR) + "/" + sample;
      EXPECT_TRUE(doc->OnOpenDocument(path).ok());
    }
    doc->Link().Serial().SetTimeouts(100, 1000);
    doc->Link().Tcp().SetWaitStep(20);
    doc->Link().Tcp().SetReconnectPause(10);
    doc->Timing() = EngineTiming{1, 1, 1, 50, 1, 1, 1, 1};
    return *doc;
  }

  int Update(const std::string& sample) {
    return UpdateDevice(Doc(sample), target, SerialSettings{});
  }
  int Check(const std::string& sample) {
    return CheckDevice(Doc(sample), target, SerialSettings{});
  }

  // The bytes the device holds for each listed segment equal the image's memory map (where the
  // procedure sends blank records as zeros, those records read zero).
  void ExpectProgrammedImage(const sim::ProgrammedUnit& unit, int slot,
                             const std::vector<int>& segments, bool blankAsZero = false) {
    const VelMemMap* map = doc->File().MemMap(slot);
    ASSERT_NE(map, nullptr);
    EXPECT_TRUE(unit.runFrameSeen);
    EXPECT_EQ(unit.segments.size(), segments.size());
    for (int s : segments) {
      const auto it = unit.segments.find(s);
      ASSERT_NE(it, unit.segments.end()) << "segment " << s << " was not programmed";
      const VelSegment* image = map->Segment(static_cast<std::uint8_t>(s));
      ASSERT_NE(image, nullptr);
      auto expected = image->bytes;
      for (std::size_t r = 0; blankAsZero && r < expected.size(); r += 16) {
        if (std::all_of(expected.begin() + r, expected.begin() + r + 16,
                        [](std::uint8_t b) { return b == 0xFF; })) {
          std::fill(expected.begin() + r, expected.begin() + r + 16, 0x00);
        }
      }
      EXPECT_TRUE(std::equal(expected.begin(), expected.end(), it->second.begin()))
          << "segment " << s << " of slot " << slot << " differs from the image";
    }
  }

  sim::SimConfig config;
  std::unique_ptr<sim::SimServer> server;
  RecordingDisplay display;
  ScriptedOperator op;
  std::unique_ptr<CVelUpdateDoc> doc;
  DeviceTarget target;
};

inline sim::SimUnit Unit(const std::string& type, const std::string& hw, const std::string& fw,
                         std::uint8_t kind = 0) {
  return sim::SimUnit{kind, type, hw, fw, {}};
}

}  // namespace vel::testing
