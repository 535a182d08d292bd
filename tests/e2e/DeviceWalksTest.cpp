// The list walks against simulated devices: outcomes per row, links opened and closed per row,
// the file read again before each device.
#include <mutex>
#include <set>

#include "SampleGen.h"
#include "common/Strings.h"
#include "devices/DeviceWalks.h"
#include "e2e/EndToEndSupport.h"
#include "support/CliRunner.h"
#include "support/Files.h"
#include "support/TempDir.h"

namespace vel::testing {
namespace {

const std::string kKey = "00-11-22-33-44-55-66-77-88-99-AA-BB-CC-DD-EE-FF";

class Walks : public ::testing::Test {
 protected:
  std::string StartDevice(sim::SimConfig config = {}) {
    servers.push_back(std::make_unique<sim::SimServer>(config));
    return std::to_string(servers.back()->StartTcp());
  }
  std::size_t AddTcpRow(const std::string& name, const std::string& port,
                        const std::string& key = kNoEncryption) {
    std::string error;
    const std::size_t row = list.AddDevice();
    EXPECT_TRUE(list.SetCell(row, DeviceColumn::kName, name, &error));
    EXPECT_TRUE(list.SetCell(row, DeviceColumn::kAddress, "127.0.0.1", &error));
    EXPECT_TRUE(list.SetCell(row, DeviceColumn::kPort, port, &error));
    EXPECT_TRUE(list.SetCell(row, DeviceColumn::kKey, key, &error)) << error;
    list.SetChecked(row, true);
    return row;
  }
  bool Update(const std::string& path, int parallel = 1) {
    doc = std::make_unique<CVelUpdateDoc>(console, op);
    if (!path.empty()) {
      EXPECT_TRUE(doc->OnOpenDocument(path).ok());
    }
    doc->Link().Serial().SetTimeouts(100, 1000);
    return UpdateSelectedDevices(
        list, [this](std::size_t) -> CVelUpdateDoc& { return *doc; }, op, SerialSettings{}, {},
        parallel);
  }

  std::vector<std::unique_ptr<sim::SimServer>> servers;
  DeviceList list;
  RecordingConsole console;
  ScriptedOperator op;
  std::unique_ptr<CVelUpdateDoc> doc;
};

const std::string kSample = std::string(ZANDOR_SAMPLES_DIR) + "/multi-unit.hex";

TEST_F(Walks, MissingSerialPortFailsItsRowAndTheNextRowStillRuns) {
  std::string error;
  const std::size_t serial = list.AddDevice();
  ASSERT_TRUE(list.SetCell(serial, DeviceColumn::kPort, "/dev/no-such-tty", &error));
  list.SetChecked(serial, true);
  AddTcpRow("B", StartDevice());
  EXPECT_FALSE(Update(kSample));
  EXPECT_EQ(list.Row(0).status, LoadString(ids::kPortMissing));
  EXPECT_EQ(list.Row(1).status, "Device Update Successful");
  EXPECT_FALSE(op.Shown("Device Update Successful")) << "no summary when a row failed";
}

TEST_F(Walks, EncryptionIsOffAgainForTheNextRow) {
  sim::SimConfig keyed;
  keyed.key = "00112233445566778899AABBCCDDEEFF";
  AddTcpRow("keyed", StartDevice(keyed), kKey);
  AddTcpRow("plain", StartDevice());
  EXPECT_TRUE(Update(kSample));
  EXPECT_EQ(list.Row(0).status, "Device Update Successful");
  EXPECT_EQ(list.Row(1).status, "Device Update Successful");
  EXPECT_TRUE(op.Shown("Device Update Successful"));
}

TEST_F(Walks, NoFileLoadedAndNoRowChecked) {
  AddTcpRow("A", "3000");
  EXPECT_FALSE(Update(""));
  EXPECT_TRUE(op.Shown("Load the Hex File !"));
  list.UncheckAllDevices();
  EXPECT_TRUE(Update(kSample));
  EXPECT_TRUE(op.Shown("Device Update Successful"));
}

TEST_F(Walks, BadStoredKeyIsReportedForItsRowAndNotUsed) {
  TempDir dir;
  const std::string stored = "A!127.0.0.1!" + StartDevice() + "!00-11-not-a-key";
  std::string shifted = stored;
  for (char& c : shifted) c = static_cast<char>(c + 4);
  WriteText(dir.File("list.txt"), shifted);
  std::string error;
  ASSERT_TRUE(list.Load(dir.File("list.txt"), &error));
  list.CheckAllDevices();
  EXPECT_FALSE(Update(kSample));
  EXPECT_EQ(list.Row(0).status, LoadString(ids::kInvalidEncryptionKey));
  servers.back()->Stop();
  EXPECT_EQ(servers.back()->Device().IdentificationsAnswered(), 0);
}

TEST_F(Walks, FileChangedOnDiskBetweenDevicesIsSentInItsNewState) {
  TempDir dir;
  const std::string path = dir.File("firmware.hex");
  samplegen::ImageSpec first;
  first.metadataItems = {"DeviceType = G4", "HardwareVersionList = ??"};
  first.segments = {0};
  first.bytesPerSegment = 0x4000;
  first.addressRecordType = 2;
  first.seed = 1;
  samplegen::ImageSpec second = first;
  second.seed = 2;
  WriteText(path, samplegen::Generate({first}).text);
  AddTcpRow("A", StartDevice());
  AddTcpRow("B", StartDevice());
  std::size_t updated = 0;
  doc = std::make_unique<CVelUpdateDoc>(console, op);
  ASSERT_TRUE(doc->OnOpenDocument(path).ok());
  EXPECT_TRUE(UpdateSelectedDevices(
      list, [this](std::size_t) -> CVelUpdateDoc& { return *doc; }, op, SerialSettings{},
      [&](std::size_t row) {
        // After the first row's outcome, the file changes on disk.
        if (row == 0 && list.Row(0).status == "Device Update Successful" && updated++ == 0) {
          WriteText(path, samplegen::Generate({second}).text);
        }
      }));
  for (auto& server : servers) server->Stop();
  const auto a = servers[0]->Device().Programmed().at(0).segments.at(0);
  const auto b = servers[1]->Device().Programmed().at(0).segments.at(0);
  const auto expectedA = samplegen::Generate({first}).expected[0].at(0);
  const auto expectedB = samplegen::Generate({second}).expected[0].at(0);
  EXPECT_TRUE(std::equal(expectedA.begin(), expectedA.end(), a.begin()));
  EXPECT_TRUE(std::equal(expectedB.begin(), expectedB.end(), b.begin()));
}

// Rows A and C share an endpoint, B has its own: the walk still goes from the top down.
TEST_F(Walks, RowsRunFromTheTopDownWhateverTheirEndpoints) {
  const std::string x = StartDevice(), y = StartDevice();
  AddTcpRow("A", x);
  AddTcpRow("B", y);
  AddTcpRow("C", x);
  std::vector<std::size_t> begun;
  doc = std::make_unique<CVelUpdateDoc>(console, op);
  ASSERT_TRUE(doc->OnOpenDocument(kSample).ok());
  EXPECT_TRUE(UpdateSelectedDevices(
      list, [this](std::size_t) -> CVelUpdateDoc& { return *doc; }, op, SerialSettings{},
      [&](std::size_t row) {
        if (list.Row(row).status == kDeviceUpdating) begun.push_back(row);
      }));
  EXPECT_EQ(begun, (std::vector<std::size_t>{0, 1, 2}));
}

TEST_F(Walks, SideBySideRowsNeverShareAnEndpoint) {
  sim::SimConfig slow;
  slow.answerDelayMs = 1;
  const std::string x = StartDevice(slow), y = StartDevice(slow);
  AddTcpRow("A", x);
  AddTcpRow("B", y);
  AddTcpRow("C", x);
  std::vector<std::unique_ptr<RecordingConsole>> consoles;
  std::vector<std::unique_ptr<CVelUpdateDoc>> docs;
  for (int i = 0; i < 3; ++i) {
    consoles.push_back(std::make_unique<RecordingConsole>());
    docs.push_back(std::make_unique<CVelUpdateDoc>(*consoles.back(), op));
    ASSERT_TRUE(docs.back()->OnOpenDocument(kSample).ok());
  }
  std::mutex mutex;
  std::set<std::size_t> running;
  bool sharedAtOnce = false;
  bool sideBySide = false;
  EXPECT_TRUE(UpdateSelectedDevices(
      list, [&](std::size_t row) -> CVelUpdateDoc& { return *docs[row]; }, op, SerialSettings{},
      [&](std::size_t row) {
        std::lock_guard<std::mutex> lock(mutex);
        if (list.Row(row).status == kDeviceUpdating) {
          running.insert(row);
          sharedAtOnce = sharedAtOnce || (running.count(0) > 0 && running.count(2) > 0);
          sideBySide = sideBySide || running.size() > 1;
        } else {
          running.erase(row);
        }
      },
      3));
  EXPECT_FALSE(sharedAtOnce);
  EXPECT_TRUE(sideBySide);
  for (std::size_t row = 0; row < 3; ++row)
    EXPECT_EQ(list.Row(row).status, "Device Update Successful");
}

TEST_F(Walks, ACancelledWalkStartsNoFurtherRow) {
  AddTcpRow("A", StartDevice());
  AddTcpRow("B", StartDevice());
  CancelFlag walkCancel;
  doc = std::make_unique<CVelUpdateDoc>(console, op);
  ASSERT_TRUE(doc->OnOpenDocument(kSample).ok());
  EXPECT_FALSE(UpdateSelectedDevices(
      list, [this](std::size_t) -> CVelUpdateDoc& { return *doc; }, op, SerialSettings{},
      [&](std::size_t row) {
        if (row == 0 && list.Row(0).status == kDeviceUpdating) walkCancel.Request();
      },
      1, &walkCancel));
  EXPECT_EQ(list.Row(0).status, "Device Update Successful");  // it had begun: it runs to its end
  EXPECT_EQ(list.Row(1).status, "");
  EXPECT_FALSE(op.Shown("Device Update Successful"));
}

TEST_F(Walks, AFileThatFailsItsTestIsRefusedBeforeAnyRow) {
  TempDir dir;
  std::string text = ReadFile(kSample);
  text.replace(text.find("\n:10") + 12, 1, text[text.find("\n:10") + 12] == '0' ? "1" : "0");
  WriteText(dir.File("bad.hex"), text);
  AddTcpRow("A", StartDevice());
  EXPECT_FALSE(Update(dir.File("bad.hex")));
  EXPECT_NE(op.Messages().back().find(LoadString(ids::kFileFailsTest)), std::string::npos);
  EXPECT_EQ(list.Row(0).status, "");
  servers.back()->Stop();
  EXPECT_TRUE(servers.back()->Device().IdleBytes().empty());
}

TEST(WalkCommands, KeepAListAndUpdateItsRows) {
  TempDir dir;
  const std::string listFile = dir.File("KestaLST.txt");
  sim::SimServer a{sim::SimConfig{}}, b{sim::SimConfig{}};
  const std::string portA = std::to_string(a.StartTcp()), portB = std::to_string(b.StartTcp());
  using zandor::testing::Zandor;
  EXPECT_EQ(Zandor({"devices", "--list", listFile, "add", "--name", "A", "--address", "127.0.0.1",
                    "--port", portA})
                .code,
            0);
  EXPECT_EQ(Zandor({"devices", "--list", listFile, "add", "--name", "B", "--address", "127.0.0.1",
                    "--port", portB, "--key", kKey})
                .code,
            0);
  EXPECT_EQ(Zandor({"devices", "--list", listFile, "add", "--name", "bad!name"}).code, 1);
  EXPECT_EQ(Zandor({"devices", "--list", listFile, "set", "2", "--key", kNoEncryption}).code, 0);
  const auto listed = Zandor({"devices", "--list", listFile, "list"});
  EXPECT_NE(listed.out.find("   1  A  127.0.0.1  " + portA), std::string::npos) << listed.out;
  EXPECT_EQ(std::count(listed.out.begin(), listed.out.end(), '\n'), 2);

  const auto run = Zandor({"update", kSample, "--devices", listFile, "--parallel", "2"});
  EXPECT_EQ(run.code, 0) << run.out << run.err;
  EXPECT_NE(run.out.find("row 1 A [tcp:127.0.0.1:" + portA + "]: Device Update Successful"),
            std::string::npos)
      << run.out;
  const auto one = Zandor({"check", "--devices", listFile, "--names", "B"});
  EXPECT_EQ(one.code, 0) << one.out << one.err;
  EXPECT_EQ(one.out.find("row 1"), std::string::npos);
  EXPECT_NE(one.out.find("Device Information Success"), std::string::npos);
  EXPECT_EQ(Zandor({"update", kSample, "--devices", listFile, "--rows", "3"}).code, 2);
  EXPECT_EQ(Zandor({"devices", "--list", listFile, "remove", "1"}).code, 0);
  EXPECT_EQ(Zandor({"devices", "--list", listFile, "list"}).out.find("  A  "), std::string::npos);
}

}  // namespace
}  // namespace vel::testing
