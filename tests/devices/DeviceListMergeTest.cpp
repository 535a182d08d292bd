#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>

#include "devices/DeviceListMerge.h"
#include "support/Ok.h"
#include "support/TempDir.h"

namespace vel {
namespace {

DeviceEntry Row(const std::string& name, const std::string& address = kDefaultSerial,
                const std::string& port = "1") {
  DeviceEntry row;
  row.name = name;
  row.address = address;
  row.port = port;
  return row;
}

std::vector<std::string> Names(const std::vector<DeviceEntry>& rows) {
  std::vector<std::string> names;
  for (const DeviceEntry& row : rows) names.push_back(row.name);
  return names;
}

using Names_ = std::vector<std::string>;

bool WriteListForTest(const std::string& path, const std::vector<DeviceEntry>& rows) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << DeviceList::Encode(rows);
  return static_cast<bool>(out);
}

TEST(DeviceListMerge, KeepsTheRowsEitherSideAddedAndDropsOnlyWhatASideDeleted) {
  const std::vector<DeviceEntry> base{Row("A"), Row("B"), Row("C")};
  // This window deleted B and added D; the other program deleted C and added E.
  std::vector<DeviceEntry> mine{Row("A"), Row("C"), Row("D")};
  mine[0].checked = true;
  mine[0].status = "Device Update Successful";
  const std::vector<DeviceEntry> theirs{Row("A"), Row("B"), Row("E")};
  const std::vector<DeviceEntry> merged = MergeDeviceRows(base, mine, theirs);
  EXPECT_EQ(Names(merged), (Names_{"A", "D", "E"}));
  EXPECT_TRUE(merged[0].checked);  // the window's own row keeps its tick and status
  EXPECT_EQ(merged[0].status, "Device Update Successful");
  EXPECT_FALSE(merged[2].checked);
}

TEST(DeviceListMerge, ARowChangedOnBothSidesIsKeptInBothVersions) {
  const std::vector<DeviceEntry> base{Row("A", "10.0.0.1", "3000")};
  const std::vector<DeviceEntry> mine{Row("A", "10.0.0.1", "4000")};
  const std::vector<DeviceEntry> theirs{Row("A", "10.0.0.2", "3000")};
  const std::vector<DeviceEntry> merged = MergeDeviceRows(base, mine, theirs);
  ASSERT_EQ(merged.size(), 2u);
  EXPECT_EQ(merged[0].port, "4000");
  EXPECT_EQ(merged[1].address, "10.0.0.2");
  // A change on one side only is taken as it is.
  EXPECT_EQ(MergeDeviceRows(base, mine, base).size(), 1u);
  EXPECT_EQ(MergeDeviceRows(base, base, theirs)[0].address, "10.0.0.2");
}

TEST(DeviceListMerge, IdenticalRowsAreCountedNotConfused) {
  // Two identical rows; the window deleted one of them while the other program added a third.
  const std::vector<DeviceEntry> base{Row("X"), Row("X")};
  const std::vector<DeviceEntry> mine{Row("X")};
  const std::vector<DeviceEntry> theirs{Row("X"), Row("X"), Row("X")};
  EXPECT_EQ(MergeDeviceRows(base, mine, theirs).size(), 2u);
  // The same row added on both sides is one row.
  EXPECT_EQ(MergeDeviceRows({}, {Row("N")}, {Row("N")}).size(), 1u);
  EXPECT_TRUE(SameStoredRows({Row("N")}, {Row("N")}));
  EXPECT_FALSE(SameStoredRows({Row("N")}, {Row("N"), Row("N")}));
}

TEST(DeviceListMerge, MergedRowsTakeTheirPlaceWithTheirMarksAndTheCopyAndPasteRows) {
  DeviceList list;
  ASSERT_TRUE(Ok(list.ReplaceRows({Row("A"), Row("B")})));
  EXPECT_EQ(Names(list.Rows()), (Names_{"A", "B"}));
  // The copied row and the paste target follow their rows into the merged list.
  list.CopyDevice(1);
  list.SetPasteTarget(0);
  DeviceEntry cut = Row("Cut");
  cut.missingCells = DeviceEntry::CellBit(DeviceColumn::kPort);
  cut.port.clear();
  ASSERT_TRUE(Ok(list.ReplaceRows({Row("New"), Row("A"), Row("B"), cut})));
  EXPECT_EQ(list.CopySource(), std::optional<std::size_t>(2));
  EXPECT_EQ(list.PasteTarget(), std::optional<std::size_t>(1));
  EXPECT_FALSE(list.Row(3).IsReadWhole()) << "a merge never makes a cut row whole";
  // A cell no stored list can hold leaves the list as it was.
  EXPECT_NE(list.ReplaceRows({Row("C!D")}).error().find("\"!\""), std::string::npos);
  EXPECT_EQ(Names(list.Rows()), (Names_{"New", "A", "B", "Cut"}));
}

TEST(DeviceListMerge, ASaveMergesWithTheFileAndKeepsItsMode) {
  testing::TempDir dir;
  const std::string path = dir.File("KestaLST.txt");
  const std::vector<DeviceEntry> base{Row("A")};
  ASSERT_TRUE(WriteListForTest(path, base));
  ASSERT_EQ(chmod(path.c_str(), 0640), 0);
  // Another program added B after this window read the file; the window added C.
  DeviceList other;
  ASSERT_TRUE(Ok(other.Load(path)));
  other.AddDevice();
  ASSERT_TRUE(Ok(other.SetCell(1, DeviceColumn::kName, "B")));
  ASSERT_TRUE(WriteListForTest(path, other.Rows()));
  ASSERT_EQ(chmod(path.c_str(), 0640), 0);

  const auto save = SaveMergedList(path, base, {Row("A"), Row("C")});
  ASSERT_TRUE(Ok(save));
  EXPECT_EQ(Names(*save), (Names_{"A", "C", "B"}));
  DeviceList saved;
  ASSERT_TRUE(Ok(saved.Load(path)));
  EXPECT_EQ(Names(saved.Rows()), (Names_{"A", "C", "B"}));
  struct stat info {};
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0640u);

  // A new list is readable by its owner only; a file that is no list is left alone.
  const std::string fresh = dir.File("new.txt");
  ASSERT_TRUE(Ok(SaveMergedList(fresh, {}, {Row("A")})));
  ASSERT_EQ(stat(fresh.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  const std::string binary = dir.File("binary.txt");
  std::ofstream(binary, std::ios::binary) << "\x05\x06\x0e";
  const auto refused = SaveMergedList(binary, {}, {Row("A")});
  EXPECT_NE(refused.error().find("left as it is"), std::string::npos) << refused.error();
}

TEST(DeviceListMerge, ASaveNeverWritesACellNobodyWrote) {
  testing::TempDir dir;
  const std::string path = dir.File("KestaLST.txt");
  // The last row lost its port and key: the file ends after its address.
  std::string stored = "A!127.0.0.1!41003!<Default No Encryption>!CutSer!<Default Serial>";
  for (char& c : stored) c = static_cast<char>(c + 4);
  std::ofstream(path, std::ios::binary) << stored;
  DeviceList list;
  ASSERT_TRUE(Ok(list.Load(path)));
  ASSERT_EQ(list.Count(), 2u);
  EXPECT_EQ(list.Row(1).port, "") << "a cell the file never held stays empty";
  EXPECT_EQ(list.Row(1).key, "");
  const std::vector<DeviceEntry> base = list.Rows();
  // Saved as it is, the file stays as it was.
  const auto refused = SaveMergedList(path, base, base);
  EXPECT_NE(refused.error().find("row 2 (CutSer)"), std::string::npos) << refused.error();
  std::ifstream in(path, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), stored);
  // With the cut row deleted, the rest is written.
  const auto saved = SaveMergedList(path, base, {base[0]});
  ASSERT_TRUE(Ok(saved));
  EXPECT_EQ(Names(*saved), (Names_{"A"}));
}

}  // namespace
}  // namespace vel
