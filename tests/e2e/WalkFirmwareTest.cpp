// The rows of a walk and its firmware file, against simulated devices: rows share one load of an
// unchanged file, a file changed between two rows goes to the next device in its new state, and
// the serial number one row writes into its image reaches no other row.
#include <algorithm>
#include <cstdio>
#include <map>
#include <mutex>
#include <set>

#include "SampleGen.h"
#include "devices/DeviceJobsSeam.h"
#include "e2e/EndToEndSupport.h"
#include "support/Files.h"
#include "support/JobRecorder.h"
#include "support/TempDir.h"

namespace vel::testing {
namespace {

using Image = std::map<int, std::vector<std::uint8_t>>;

// The bytes the first image of a shipped sample gives each segment, from the generator that
// wrote it.
Image SampleImage(const std::string& fileName) {
  for (const samplegen::Sample& sample : samplegen::StandardSamples()) {
    if (sample.fileName == fileName) return samplegen::Generate(sample.images).expected.at(0);
  }
  ADD_FAILURE() << "no sample " << fileName;
  return {};
}

std::string SamplePath(const std::string& fileName) {
  return std::string(ZANDOR_SAMPLES_DIR) + "/" + fileName;
}

// What a device programmed for unit 0 equals the image: every segment of the image, and no other.
// The procedure of 128 KiB images sends an erased record as zeros.
void ExpectProgrammed(const sim::ProgrammedUnit& unit, Image image, bool blankAsZero = false) {
  ASSERT_EQ(unit.segments.size(), image.size());
  for (auto& [segment, bytes] : image) {
    for (std::size_t r = 0; blankAsZero && r < bytes.size(); r += 16) {
      if (std::all_of(bytes.begin() + r, bytes.begin() + r + 16, [](auto b) { return b == 0xFF; }))
        std::fill(bytes.begin() + r, bytes.begin() + r + 16, 0x00);
    }
    const auto held = unit.segments.find(segment);
    ASSERT_NE(held, unit.segments.end()) << "segment " << segment << " was not programmed";
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), held->second.begin()))
        << "segment " << segment << " differs from the image";
  }
}

// Answers questions as the recorder does; when the first row has ended, and before the next
// begins, runs `change`.
struct ChangeAfterFirstRow final : JobEventSink {
  std::function<void()> change;
  void Publish(JobEvent event) override {
    if (event.kind() == JobEvent::Kind::kRowFinished && event.row == 0) change();
    if (const auto* question = event.If<job::Question>()) JobRecorder().Answer(*question->question);
    if (const auto* walk = event.If<job::WalkFinished>()) allSucceeded = walk->allSucceeded;
  }
  bool allSucceeded = false;
};

class WalkFirmware : public ::testing::Test {
 protected:
  JobRow TcpRow() {
    servers.push_back(std::make_unique<sim::SimServer>(sim::SimConfig{}));
    DeviceTarget target;
    target.kind = LinkKind::kTcp;
    target.address = "127.0.0.1";
    target.port = std::to_string(servers.back()->StartTcp());
    return RowOfTarget(servers.size() - 1, target);
  }
  JobRow PtyRow(const sim::SimConfig& config) {
    servers.push_back(std::make_unique<sim::SimServer>(config));
    DeviceTarget target;
    target.portName = servers.back()->StartPty();
    return RowOfTarget(servers.size() - 1, target);
  }
  // Updates the rows, `parallel` at once, with the engine's waits shortened; keeps the loads the
  // rows' documents share.
  void Walk(std::vector<JobRow> rows, const std::string& path, int parallel, JobEventSink& sink) {
    DeviceJobs jobs(sink);
    DeviceJobsSeam::PrepareDocuments(jobs, [this](CVelUpdateDoc& doc) {
      doc.Link().Serial().SetTimeouts(100, 1000);
      doc.Link().Tcp().SetWaitStep(50);
      doc.Timing() = EngineTiming{1, 1, 1, 50, 1, 1, 1, 1};
      std::lock_guard<std::mutex> lock(mutex);
      loads.insert(doc.SharedLoads());
    });
    JobOptions options;
    options.firmwarePath = path;
    options.parallel = parallel;
    ASSERT_TRUE(jobs.Start(std::move(rows), std::move(options)));
    jobs.Wait();
    for (auto& server : servers) server->Stop();
  }
  // What the device programmed for its unit 0.
  sim::ProgrammedUnit Programmed(std::size_t device) const {
    const auto units = servers.at(device)->Device().Programmed();
    EXPECT_FALSE(units.empty()) << "device " << device << " programmed nothing";
    return units.empty() ? sim::ProgrammedUnit{} : units.front();
  }

  std::vector<std::unique_ptr<sim::SimServer>> servers;
  std::mutex mutex;
  std::set<std::shared_ptr<SharedFirmware>> loads;
  JobRecorder recorder;
};

TEST_F(WalkFirmware, RowsSideBySideShareOneLoadOfAnUnchangedFile) {
  std::vector<JobRow> rows = {TcpRow(), TcpRow(), TcpRow()};
  Walk(rows, SamplePath("multi-unit.hex"), 3, recorder);
  EXPECT_TRUE(recorder.Walked().allSucceeded);
  // One load, for the walk's check of the file; every row then took it.
  ASSERT_EQ(loads.size(), 1u);
  EXPECT_EQ((*loads.begin())->Loads(), 1);
  EXPECT_EQ((*loads.begin())->Reuses(), 3);
  for (std::size_t d = 0; d < servers.size(); ++d) {
    ExpectProgrammed(Programmed(d), SampleImage("multi-unit.hex"));
  }
}

TEST_F(WalkFirmware, AFileChangedBetweenTwoRowsGoesToTheNextDeviceInItsNewState) {
  TempDir dir;
  const std::string path = dir.File("firmware.hex");
  samplegen::ImageSpec before;
  before.metadataItems = {"DeviceType = G4", "HardwareVersionList = ??"};
  before.segments = {0};
  before.bytesPerSegment = 0x2000;
  before.addressRecordType = 2;
  samplegen::ImageSpec after = before;
  after.segments = {0, 1};
  after.seed = 2;
  WriteText(path, samplegen::Generate({before}).text);
  ChangeAfterFirstRow sink;
  sink.change = [&] {
    // A new file put in the old one's place, as an editor saves it.
    WriteText(path + ".new", samplegen::Generate({after}).text);
    std::rename((path + ".new").c_str(), path.c_str());
  };
  std::vector<JobRow> rows = {TcpRow(), TcpRow()};
  Walk(rows, path, 1, sink);
  EXPECT_TRUE(sink.allSucceeded);
  ExpectProgrammed(Programmed(0), samplegen::Generate({before}).expected[0]);
  ExpectProgrammed(Programmed(1), samplegen::Generate({after}).expected[0]);
  ASSERT_EQ(loads.size(), 1u);
  // The walk's check loaded the file and the first row took that load; the second row loaded the
  // changed file.
  EXPECT_EQ((*loads.begin())->Loads(), 2);
  EXPECT_EQ((*loads.begin())->Reuses(), 1);
}

// Two devices of the 128 KiB procedure, each with its serial number, updated side by side from
// one load: each holds its own serial number in its image and the file's bytes everywhere else,
// and the load the rows share still reads the file's bytes.
TEST_F(WalkFirmware, TheSerialNumberARowWritesIntoItsImageReachesNoOtherRow) {
  const std::vector<std::string> serials = {"KESTA-SERIAL-001", "KESTA-SERIAL-002"};
  std::vector<JobRow> rows;
  for (const std::string& serial : serials) {
    sim::SimConfig config;
    ASSERT_TRUE(sim::ApplyFamily("kesta128", &config));
    config.serialNumber = serial;
    rows.push_back(PtyRow(config));
  }
  Walk(rows, SamplePath("kesta-128k.hex"), 2, recorder);
  EXPECT_TRUE(recorder.Walked().allSucceeded);
  const Image file = SampleImage("kesta-128k.hex");
  for (std::size_t d = 0; d < serials.size(); ++d) {
    Image withSerial = file;
    std::copy(serials[d].begin(), serials[d].end(), withSerial.at(254).begin());
    ExpectProgrammed(Programmed(d), withSerial, true);
  }
  ASSERT_EQ(loads.size(), 1u);
  EXPECT_EQ((*loads.begin())->Reuses(), 2);
  std::shared_ptr<const LoadedFirmware> shared;
  ASSERT_TRUE((*loads.begin())->Load(SamplePath("kesta-128k.hex"), nullptr, &shared).ok());
  const VelSegment* top = shared->Map(0, false, nullptr)->Segment(254);
  ASSERT_NE(top, nullptr);
  EXPECT_TRUE(std::equal(file.at(254).begin(), file.at(254).end(), top->bytes.begin()));
  EXPECT_EQ((*loads.begin())->Loads(), 1);
}

}  // namespace
}  // namespace vel::testing
