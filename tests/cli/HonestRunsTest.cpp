// What surrounds an update never turns a failure into a success: a device list that is not there,
// a report from another walk, a port that would wrap, a cut row, an output over an input, an
// image no unit takes. Each outcome is checked against the simulated device's own record and the
// files' bytes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "SimServer.h"
#include "devices/DeviceList.h"
#include "devices/WalkReport.h"
#include "image/HexFileLoader.h"
#include "link/SessionRecord.h"
#include "support/CliRunner.h"
#include "support/Files.h"
#include "support/Ok.h"
#include "support/Subprocess.h"
#include "support/TempDir.h"
#include "support/TestDevice.h"

namespace zandor {
namespace {

using testing::CliRun;
using testing::Zandor;
using vel::testing::ReadFile;
using vel::testing::StoredList;
using vel::testing::TempDir;
using vel::testing::TestDevice;
using vel::testing::WriteText;

const std::string kSample = std::string(ZANDOR_SAMPLES_DIR) + "/multi-unit.hex";
const std::string kZandor = std::string(ZANDOR_BIN_DIR) + "/zandor";

// Whether the device's memory holds exactly image 0 of the file, for its one unit.
::testing::AssertionResult HoldsImage(sim::SimServer& server, const std::string& file) {
  vel::FirmwareFile firmware;
  if (!vel::HexFileLoader(firmware).LoadPath(file).ok()) {
    return ::testing::AssertionFailure() << "cannot load " << file;
  }
  const vel::VelMemMap& map = firmware.GetMemMap(0);
  const sim::DeviceMemory memory = server.Device().Memory();
  if (memory.size() != 1) {
    return ::testing::AssertionFailure() << "the device holds " << memory.size() << " images";
  }
  const auto& segments = memory.begin()->second;
  for (int s = 0; s < 256; ++s) {
    const vel::VelSegment* image = map.Segment(static_cast<std::uint8_t>(s));
    const auto held = segments.find(s);
    if ((image == nullptr) != (held == segments.end())) {
      return ::testing::AssertionFailure() << "segment " << s << " is not what the file has";
    }
    if (image != nullptr &&
        !std::equal(image->bytes.begin(), image->bytes.end(), held->second.begin())) {
      return ::testing::AssertionFailure() << "segment " << s << " differs from the image";
    }
  }
  return ::testing::AssertionSuccess();
}

// A device list in a folder of its own, with simulated devices behind its rows.
class Surroundings : public ::testing::Test {
 protected:
  // Adds a row reaching a new simulated device; returns the device's port.
  std::string AddDevice(const std::string& name, sim::SimConfig config = {}) {
    devices.push_back(std::make_unique<TestDevice>(config));
    const std::string port = std::to_string(devices.back()->StartTcp());
    EXPECT_EQ(Zandor({"devices", "--list", list, "add", "--name", name, "--address", "127.0.0.1",
                      "--port", port})
                  .code,
              kExitOk);
    return port;
  }
  int Identifications(std::size_t device) const {
    return devices.at(device)->Device().IdentificationsAnswered();
  }
  int AllIdentifications() const {
    int all = 0;
    for (std::size_t d = 0; d < devices.size(); ++d) all += Identifications(d);
    return all;
  }

  TempDir dir;
  const std::string list = dir.File("KestaLST.txt");
  std::vector<std::unique_ptr<TestDevice>> devices;
};

TEST_F(Surroundings, AListThatIsNotThereStopsTheRunBeforeAnything) {
  std::filesystem::create_directory(dir.File("folder"));
  WriteText(dir.File("binary"), "not a device list\n");
  for (const std::string& missing :
       {dir.File("nolist.txt"), dir.File("folder"), dir.File("binary")}) {
    // The firmware file is missing too: the list is what the run names first.
    for (const std::vector<std::string>& words :
         {std::vector<std::string>{"update", dir.File("no.hex"), "--devices", missing, "--yes"},
          {"check", "--devices", missing},
          {"devices", "--list", missing, "list"},
          {"devices", "--list", missing, "remove", "1"}}) {
      const CliRun run = Zandor(words);
      EXPECT_EQ(run.code, kExitFileError) << words[0] << " " << missing << ": " << run.err;
      EXPECT_NE(run.err.find(missing + ": "), std::string::npos) << run.err;
      EXPECT_EQ(run.err.find("no.hex"), std::string::npos) << run.err;
      EXPECT_EQ(run.out.find("Successful"), std::string::npos) << run.out;
    }
  }
  EXPECT_FALSE(std::filesystem::exists(dir.File("nolist.txt")));
  // Only a new row starts a list.
  EXPECT_EQ(Zandor({"devices", "--list", dir.File("new.txt"), "add", "--name", "A"}).code, kExitOk);
  EXPECT_TRUE(std::filesystem::exists(dir.File("new.txt")));
}

TEST_F(Surroundings, AListWithoutRowsIsNoSuccess) {
  WriteText(list, "");
  for (const std::vector<std::string>& words :
       {std::vector<std::string>{"update", kSample, "--devices", list, "--yes"},
        {"check", "--devices", list}}) {
    const CliRun run = Zandor(words);
    EXPECT_EQ(run.code, kExitNegative) << run.err;
    EXPECT_NE(run.err.find("the list holds no devices"), std::string::npos) << run.err;
    EXPECT_EQ(run.out + run.err, "zandor: " + list + ": the list holds no devices\n");
  }
}

TEST_F(Surroundings, ARowPortThatIsNoPortReachesNoDevice) {
  const std::string port = AddDevice("real");
  // 65536 above the device's port wraps onto it when only the low 16 bits are taken.
  const std::string wrapping = std::to_string(std::stoi(port) + 65536);
  std::string rows;
  for (const std::string& bad :
       {wrapping, std::string("abc"), std::string("0"), std::string("65536"), std::string("-1"),
        port + "x", "0" + wrapping}) {
    rows += "!" + bad + "-row!127.0.0.1!" + bad + "!<Default No Encryption>";
  }
  WriteText(list, StoredList(rows.substr(1)));
  const CliRun run = Zandor({"update", kSample, "--devices", list, "--parallel", "8"});
  EXPECT_EQ(run.code, kExitNegative) << run.out << run.err;
  EXPECT_EQ(Identifications(0), 0) << "no row reached the device on " << port;
  EXPECT_EQ(run.out.find("Successful"), std::string::npos) << run.out;
  EXPECT_NE(
      run.out.find("row 1 " + wrapping + "-row [tcp:127.0.0.1:" + wrapping +
                   "]: A TCP row's port is a number from 1 to 65535, not \"" + wrapping + "\"."),
      std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("row 7 "), std::string::npos) << run.out;
}

TEST_F(Surroundings, ARowNotReadWholeNeverReachesItsDevice) {
  AddDevice("real");
  const vel::DeviceList added = [&] {
    vel::DeviceList l;
    EXPECT_TRUE(Ok(l.Load(list)));
    return l;
  }();
  const vel::DeviceEntry& row = added.Row(0);
  WriteText(list,
            StoredList(std::string(300, 'N') + "!" + row.address + "!" + row.port + "!" + row.key));
  const CliRun run = Zandor({"update", kSample, "--devices", list});
  EXPECT_EQ(run.code, kExitNegative);
  EXPECT_NE(run.out.find("its name held more than 255 characters and was cut"), std::string::npos)
      << run.out;
  EXPECT_EQ(Identifications(0), 0);
}

TEST_F(Surroundings, ARetryTakesOnlyAWholeUpdateReportOfTheSameFile) {
  AddDevice("A");
  const std::string checkReport = dir.File("chk.csv");
  ASSERT_EQ(Zandor({"check", "--devices", list, "--report", checkReport}).code, kExitOk);
  // The same file's name over other contents.
  std::filesystem::create_directory(dir.File("other"));
  const std::string otherFile = dir.File("other/multi-unit.hex");
  WriteText(otherFile, ReadFile(kSample) + "\n");
  const std::string otherReport = dir.File("other.csv");
  ASSERT_EQ(Zandor({"update", otherFile, "--devices", list, "--report", otherReport}).code,
            kExitOk);
  const std::string wholeReport = dir.File("whole.csv");
  ASSERT_EQ(Zandor({"update", kSample, "--devices", list, "--report", wholeReport}).code, kExitOk);
  AddDevice("B");
  const std::string csv = ReadFile(wholeReport);
  const std::string headerOnly = dir.File("header.csv");
  WriteText(headerOnly, csv.substr(0, csv.find("\r\n") + 2));
  // A report of two rows cut after its first.
  const std::string twoRows = dir.File("two.csv");
  ASSERT_EQ(Zandor({"update", kSample, "--devices", list, "--report", twoRows}).code, kExitOk);
  const std::string two = ReadFile(twoRows);
  const std::string cut = dir.File("cut.csv");
  WriteText(cut, two.substr(0, two.find("\r\n", two.find("\r\n") + 2) + 2));
  const int before = AllIdentifications();
  const std::string listBytes = ReadFile(list);
  const std::pair<std::string, std::string> refused[] = {
      {checkReport, "a report of a check walk, not of an update"},
      {otherReport, "the report was made with another multi-unit.hex (its contents differ)"},
      {headerOnly, "the report holds no rows"},
      {cut, "the report is cut short: it holds 1 of its 2 lines"},
  };
  for (const auto& [report, why] : refused) {
    const CliRun run = Zandor({"update", kSample, "--devices", list, "--retry", report});
    EXPECT_EQ(run.code, kExitFileError) << report << run.err;
    EXPECT_NE(run.err.find(report + ": " + why), std::string::npos) << run.err;
    EXPECT_EQ(run.out.find("Successful"), std::string::npos) << run.out;
  }
  const CliRun otherName = Zandor({"update", otherFile, "--devices", list, "--retry", wholeReport});
  EXPECT_EQ(otherName.code, kExitFileError);
  EXPECT_EQ(AllIdentifications(), before) << "no device was touched";
  EXPECT_EQ(ReadFile(list), listBytes);

  // A whole report of this update with nothing left to do runs nothing, and says which list rows
  // it does not cover; nothing run is no success.
  const CliRun nothing = Zandor({"update", kSample, "--devices", list, "--retry", wholeReport});
  EXPECT_EQ(nothing.code, kExitNegative);
  EXPECT_NE(
      nothing.err.find("row 2 of " + list + " not in the report " + wholeReport + "; left alone"),
      std::string::npos)
      << nothing.err;
  EXPECT_NE(nothing.err.find("every row succeeded; nothing to retry"), std::string::npos);
  EXPECT_EQ(nothing.out.find("Successful"), std::string::npos) << nothing.out;
  EXPECT_EQ(AllIdentifications(), before);
}

TEST_F(Surroundings, AWalkStoppedTwiceLeavesNoOldReportAndARetryRedoesEveryRow) {
  sim::SimConfig slow;
  slow.programmingDelayMs = 150;  // a block at a time, so that the stop lands mid-transfer
  for (const char* name : {"A", "B", "C"}) AddDevice(name, slow);
  // Yesterday's report of the same update: every row succeeded.
  vel::FirmwareFile firmware;
  ASSERT_TRUE(vel::HexFileLoader(firmware).LoadPath(kSample).ok());
  vel::DeviceList rows;
  ASSERT_TRUE(Ok(rows.Load(list)));
  std::vector<vel::ReportedRow> named;
  for (std::size_t r = 0; r < rows.Count(); ++r) {
    named.push_back(vel::ReportedRowOfList(r, rows.Row(r)));
  }
  vel::WalkReport yesterday(named, {vel::JobKind::kUpdate, firmware.FileName(), firmware.Digest()});
  for (std::size_t r = 0; r < rows.Count(); ++r) {
    vel::job::RowFinished finished;
    finished.outcome = vel::Outcome::kSucceeded;
    yesterday.Observe({r, finished});
  }
  const std::string report = dir.File("rep.json");
  ASSERT_TRUE(Ok(vel::WriteReport(report, yesterday.Lines())));
  ASSERT_EQ(vel::RowsToRetry(*vel::ReadReportFile(report)).size(), 0u);

  vel::testing::Subprocess walk({kZandor, "update", kSample, "--devices", list, "--parallel", "3",
                                 "--report", report, "--json"});
  ASSERT_TRUE(walk.WaitForOutput("Sending Hex File", std::chrono::seconds(20))) << walk.err;
  walk.Signal(SIGINT);
  usleep(1000);
  walk.Signal(SIGINT);
  EXPECT_EQ(walk.Wait(), 130);
  const auto left = vel::ReadReportFile(report);
  ASSERT_TRUE(Ok(left)) << ReadFile(report);
  EXPECT_EQ(vel::RowsToRetry(*left).size(), 3u) << "yesterday's successes are not this walk's";
  for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
    EXPECT_EQ(entry.path().filename().string().rfind("rep.json.", 0), std::string::npos)
        << entry.path() << " was left behind";
  }
  for (const auto& device : devices) EXPECT_FALSE(HoldsImage(*device, kSample));

  const CliRun retry =
      Zandor({"update", kSample, "--devices", list, "--retry", report, "--parallel", "3"});
  EXPECT_EQ(retry.code, kExitOk) << retry.out << retry.err;
  EXPECT_NE(retry.err.find("retrying rows 1, 2, 3 of " + list), std::string::npos) << retry.err;
  for (const auto& device : devices) EXPECT_TRUE(HoldsImage(*device, kSample));
}

TEST_F(Surroundings, NoOutputGoesOverAnInputOrAnotherOutput) {
  AddDevice("A");
  std::filesystem::create_directory(dir.File("records"));
  const std::string firmware = dir.File("fw.hex");
  WriteText(firmware, ReadFile(kSample));
  const std::string recordedList = dir.File("records/row-1.session");
  std::filesystem::copy_file(list, recordedList);
  const std::map<std::string, std::string> before = {{list, ReadFile(list)},
                                                     {firmware, ReadFile(firmware)},
                                                     {recordedList, ReadFile(recordedList)}};
  const std::vector<std::string> base = {"update", firmware, "--devices", list};
  const std::vector<std::pair<std::vector<std::string>, std::string>> clashes = {
      {{"--report", list}, "--report is the device list"},
      {{"--log", list}, "--log is the device list"},
      {{"--report", firmware}, "--report is the firmware file"},
      {{"--log", firmware}, "--log is the firmware file"},
      {{"--log", dir.File("x"), "--report", dir.File("./x")}, "name one file"},
      // The record of row 1 takes the next free name, beside the file that holds the first.
      {{"--record", dir.File("records"), "--report", dir.File("records/row-1.2.session")},
       "the session record of row 1 and --report name one file"},
  };
  for (const auto& [extra, why] : clashes) {
    std::vector<std::string> words = base;
    words.insert(words.end(), extra.begin(), extra.end());
    const CliRun run = Zandor(words);
    EXPECT_EQ(run.code, kExitFileError) << why << run.err;
    EXPECT_NE(run.err.find(why), std::string::npos) << run.err;
  }
  for (const auto& [path, bytes] : before) EXPECT_EQ(ReadFile(path), bytes) << path;
  EXPECT_FALSE(std::filesystem::exists(dir.File("x")));
  EXPECT_EQ(Identifications(0), 0);
  const CliRun binary = Zandor({"memory", firmware, "--segment", "00", "--binary", firmware});
  EXPECT_EQ(binary.code, kExitFileError) << binary.err;
  EXPECT_EQ(ReadFile(firmware), before.at(firmware));
}

// A session record never replaces a file: an input named as a row's record stays as it is, and
// the record takes the next attempt's name.
TEST_F(Surroundings, ARecordTakesTheNextNameBesideAnInputNamedLikeIt) {
  AddDevice("A");
  std::filesystem::create_directory(dir.File("records"));
  const std::string recordedList = dir.File("records/row-1.session");
  std::filesystem::copy_file(list, recordedList);
  const std::string listBytes = ReadFile(recordedList);
  const CliRun run = Zandor(
      {"update", kSample, "--devices", recordedList, "--record", dir.File("records"), "--yes"});
  EXPECT_EQ(run.code, kExitOk) << run.err;
  EXPECT_EQ(ReadFile(recordedList), listBytes);
  const auto record = vel::ParseSession(ReadFile(dir.File("records/row-1.2.session")));
  ASSERT_TRUE(record.ok()) << record.error();
  EXPECT_EQ(record->statusText, "Device Update Successful");
  EXPECT_TRUE(HoldsImage(*devices[0], kSample));
}

TEST_F(Surroundings, ADowngradeIsSaidInTheLineTheLogAndTheReport) {
  sim::SimConfig newer;
  newer.units = {sim::SimUnit{0, "G4 ", "A1", "400", {}}};
  AddDevice("Newer", newer);
  const std::string report = dir.File("walk.csv"), log = dir.File("walk.log");
  const CliRun run =
      Zandor({"update", kSample, "--devices", list, "--report", report, "--log", log});
  EXPECT_EQ(run.code, kExitOk) << run.err;
  const std::string note = "(unit 0 is given firmware 3.05, older than its 4.00: a downgrade)";
  EXPECT_NE(run.out.find("Device Update Successful " + note), std::string::npos) << run.out;
  EXPECT_NE(ReadFile(log).find(note), std::string::npos);
  const auto lines = vel::ReadReportFile(report);
  ASSERT_TRUE(Ok(lines));
  ASSERT_EQ(lines->size(), 1u);
  EXPECT_TRUE(lines->front().downgrade);
  EXPECT_TRUE(HoldsImage(*devices[0], kSample));
}

TEST_F(Surroundings, AnImageNoUnitTakesIsNamedAndAStrayEndRecordIsRefused) {
  AddDevice("A");
  const std::string sample = ReadFile(kSample);
  // A second image, for a product of another type: no unit of this device takes it.
  const std::string twoProducts = dir.File("two-products.hex");
  WriteText(twoProducts, sample + "{DeviceType = G3 }\n:0100000011EE\n:00000001FF\n");
  const std::string report = dir.File("walk.json");
  const CliRun run = Zandor({"update", twoProducts, "--devices", list, "--report", report});
  EXPECT_EQ(run.code, kExitOk) << run.out << run.err;
  const std::string note = "(image 1 of the file not sent: no unit of the device takes it)";
  EXPECT_NE(run.out.find(note), std::string::npos) << run.out;
  const auto lines = vel::ReadReportFile(report);
  ASSERT_TRUE(Ok(lines));
  EXPECT_NE(lines->front().statusText.find(note), std::string::npos);
  EXPECT_TRUE(HoldsImage(*devices[0], twoProducts));

  // An end record in the middle: the rest of the file would go to no unit.
  const std::size_t middle = sample.find('\n', sample.size() / 2) + 1;
  const std::string cutInTwo = dir.File("cut-in-two.hex");
  WriteText(cutInTwo, sample.substr(0, middle) + ":00000001FF\n" + sample.substr(middle));
  const int before = Identifications(0);
  const CliRun refused = Zandor({"update", cutInTwo, "--devices", list});
  EXPECT_EQ(refused.code, kExitFileError);
  EXPECT_NE(refused.err.find("Image 1 (from line"), std::string::npos) << refused.err;
  EXPECT_EQ(Zandor({"test", cutInTwo}).code, kExitNegative);
  EXPECT_EQ(Identifications(0), before);
}

TEST_F(Surroundings, ANameWithHexStaysReadableAndTheListsKeysNeverReachTheReport) {
  const std::string hexName = "rack7-0A1B2C3D4E5F6071";
  ASSERT_EQ(Zandor({"devices", "--list", list, "add", "--name", hexName, "--address", "127.0.0.1",
                    "--port", "1"})
                .code,
            kExitOk);
  // The list's own key, written into another row's name where no shape would give it away.
  const std::string key = "00-11-22-33-44-55-66-77-88-99-AA-BB-CC-DD-EE-FF";
  ASSERT_EQ(
      Zandor({"devices", "--list", list, "add", "--name", "X00112233445566778899aabbccddeeffY",
              "--address", "127.0.0.1", "--port", "2", "--key", key})
          .code,
      kExitOk);
  const std::string report = dir.File("walk.csv");
  const CliRun run = Zandor({"update", kSample, "--devices", list, "--report", report});
  EXPECT_EQ(run.code, kExitNegative);
  const std::string written = ReadFile(report);
  EXPECT_EQ(written.find("00112233445566778899"), std::string::npos) << written;
  EXPECT_EQ((run.out + run.err).find("00112233445566778899"), std::string::npos);
  EXPECT_NE(written.find("," + hexName + ","), std::string::npos) << written;
  // So the retry finds the row by its name; a name holding a key cannot be matched, and is said.
  const CliRun retry = Zandor({"update", kSample, "--devices", list, "--retry", report});
  EXPECT_NE(retry.err.find("retrying row 1 of " + list), std::string::npos) << retry.err;
  EXPECT_NE(retry.err.find("row 2 X<key>Y [127.0.0.1:2] of the report is no longer in the list"),
            std::string::npos)
      << retry.err;
  EXPECT_NE(retry.out.find("row 1 " + hexName + " [tcp:127.0.0.1:1]"), std::string::npos)
      << retry.out;
}

}  // namespace
}  // namespace zandor
