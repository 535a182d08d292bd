#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "devices/DeviceList.h"
#include "devices/DeviceWalks.h"
#include "support/Files.h"
#include "support/Ok.h"
#include "support/TempDir.h"

namespace vel {
namespace {

DeviceList TwoRows() {
  DeviceList list;
  list.AddDevice();
  EXPECT_TRUE(Ok(list.SetCell(0, DeviceColumn::kName, "A")));
  EXPECT_TRUE(Ok(list.SetCell(0, DeviceColumn::kPort, "2")));
  list.AddDevice();
  EXPECT_TRUE(Ok(list.SetCell(1, DeviceColumn::kName, "B")));
  EXPECT_TRUE(Ok(list.SetCell(1, DeviceColumn::kAddress, "10.0.0.5")));
  EXPECT_TRUE(Ok(list.SetCell(1, DeviceColumn::kPort, "3000")));
  return list;
}

TEST(DeviceListFile, StoredFormShiftsEveryByteByFour) {
  const std::string stored = DeviceList::Encode(TwoRows().Rows());
  std::string plain = stored;
  for (char& c : plain) c = static_cast<char>(c - 4);
  EXPECT_EQ(plain,
            "A!<Default Serial>!2!<Default No Encryption>!B!10.0.0.5!3000!<Default No Encryption>");
  EXPECT_EQ(stored.front(), 'E');
  EXPECT_EQ(stored[1], '%');
  EXPECT_EQ(stored.find('\n'), std::string::npos);
}

TEST(DeviceListFile, SavesAtomicallyForTheOwnerAndLoadsTheWholeFile) {
  testing::TempDir dir;
  const std::string path = dir.File("KestaLST.txt");
  DeviceList list = TwoRows();
  list.SetChecked(0, true);
  list.SetStatus(1, "Device Update Successful");
  // Enough rows to pass the 2,000 bytes an older reader stopped at.
  for (int i = 0; i < 60; ++i) {
    const std::size_t row = list.AddDevice();
    ASSERT_TRUE(Ok(list.SetCell(row, DeviceColumn::kName, "Device number " + std::to_string(i))));
  }
  ASSERT_TRUE(Ok(list.Save(path)));
  struct stat info {};
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  EXPECT_GT(info.st_size, 2000);

  DeviceList loaded;
  ASSERT_TRUE(Ok(loaded.Load(path)));
  ASSERT_EQ(loaded.Count(), 62u);
  EXPECT_EQ(loaded.Row(1).address, "10.0.0.5");
  EXPECT_EQ(loaded.Row(61).name, "Device number 59");
  EXPECT_FALSE(loaded.Row(0).checked);  // check states and status are not stored
  EXPECT_EQ(loaded.Row(1).status, "");
  EXPECT_EQ(loaded.AddressChoices(), (std::vector<std::string>{"<Default Serial>", "10.0.0.5"}));
}

TEST(DeviceListFile, EmptyAndMissingFiles) {
  testing::TempDir dir;
  DeviceList list = TwoRows();
  ASSERT_TRUE(Ok(list.Load(dir.File("missing.txt"))));
  EXPECT_EQ(list.Count(), 0u);
  ASSERT_TRUE(Ok(list.Save(dir.File("empty.txt"))));
  EXPECT_EQ(testing::ReadFile(dir.File("empty.txt")), "");
  ASSERT_TRUE(Ok(list.Load(dir.File("empty.txt"))));
  EXPECT_EQ(list.Count(), 0u);
}

TEST(DeviceListRules, ExclamationMarksAndBadKeysAreRefused) {
  DeviceList list = TwoRows();
  const Result separator = list.SetCell(0, DeviceColumn::kName, "A!B");
  EXPECT_NE(separator.error().find("\"!\""), std::string::npos) << separator.error();
  EXPECT_EQ(list.Row(0).name, "A");
  const Result shortKey = list.SetCell(1, DeviceColumn::kKey, "0011");
  EXPECT_EQ(shortKey.error(),
            "Invalid Encryption Key! \nPlease Enter a valid 16 Byte Encryption Key");
  EXPECT_TRUE(
      Ok(list.SetCell(1, DeviceColumn::kKey, "00-11-22-33-44-55-66-77-88-99-AA-BB-CC-DD-EE-FF")));
  EXPECT_FALSE(
      list.SetCell(0, DeviceColumn::kKey, "00-11-22-33-44-55-66-77-88-99-AA-BB-CC-DD-EE-FF"))
      << "a serial row carries no key";
}

TEST(DeviceListRules, PortResetsWhenTheCellOpens) {
  DeviceList list = TwoRows();
  ASSERT_TRUE(Ok(list.SetCell(0, DeviceColumn::kPort, "12")));
  list.OpenPortCell(0);
  EXPECT_EQ(list.Row(0).port, "1");
  ASSERT_TRUE(Ok(list.SetCell(1, DeviceColumn::kPort, "5")));
  list.OpenPortCell(1);
  EXPECT_EQ(list.Row(1).port, "3000");
  ASSERT_TRUE(Ok(list.SetCell(0, DeviceColumn::kPort, "4")));
  list.OpenPortCell(0);
  list.OpenPortCell(1);
  EXPECT_EQ(list.Row(0).port, "4");
  EXPECT_EQ(list.Row(1).port, "3000");
  list.OpenKeyCell(0);
  EXPECT_EQ(list.Row(0).key, "<Default No Encryption>");
}

TEST(DeviceListRules, DeleteCopyAndPaste) {
  DeviceList list;
  for (const char* name : {"r0", "r1", "r2", "r3"}) {
    ASSERT_TRUE(Ok(list.SetCell(list.AddDevice(), DeviceColumn::kName, name)));
  }
  EXPECT_FALSE(list.PasteDevice()) << "no copy yet";
  list.SetChecked(0, true);
  list.SetChecked(2, true);
  list.DeleteCheckedDevices();
  ASSERT_EQ(list.Count(), 2u);
  EXPECT_EQ(list.Row(0).name, "r1");
  EXPECT_EQ(list.Row(1).name, "r3");
  list.CopyDevice(0);
  EXPECT_FALSE(list.PasteDevice()) << "no paste target yet";
  list.SetPasteTarget(1);
  EXPECT_TRUE(list.PasteDevice());
  EXPECT_EQ(list.Row(1).name, "r1");
  list.SetChecked(1, true);
  list.DeleteSelectedDevice(0);
  ASSERT_EQ(list.Count(), 1u);
  EXPECT_TRUE(list.Row(0).checked) << "a row keeps its own check state when it moves up";
}

TEST(DeviceListRules, PortNumbers) {
  EXPECT_EQ(PortNumber("3000"), 3000);
  EXPECT_EQ(PortNumber("12abc"), 12);
  EXPECT_EQ(PortNumber("abc"), -1);
  EXPECT_EQ(PortNumber(""), -1);
}

TEST(DeviceListFile, RowsThatDoNotReadBackAreNeverRewrittenAsTheyStand) {
  testing::TempDir dir;
  const std::string path = dir.File("KestaLST.txt");
  const std::string longName(300, 'N');
  const std::string stored =
      testing::StoredList(longName + "!<Default Serial>!2!<Default No Encryption>!B!" +
                          "10.0.0.5!3000!<Default No Encryption>");
  testing::WriteText(path, stored);
  DeviceList list;
  ASSERT_TRUE(Ok(list.Load(path)));
  ASSERT_EQ(list.ReadNotes().size(), 1u);
  EXPECT_NE(list.ReadNotes()[0].find("row 1"), std::string::npos) << list.ReadNotes()[0];
  EXPECT_NE(list.ReadNotes()[0].find("255"), std::string::npos) << list.ReadNotes()[0];
  // An edit of row 2 would cut row 1's name: refused, naming row 1, and the file kept.
  ASSERT_TRUE(Ok(list.SetCell(1, DeviceColumn::kName, "B2")));
  const Result refused = list.Save(path);
  EXPECT_NE(refused.error().find("row 1"), std::string::npos) << refused.error();
  EXPECT_EQ(testing::ReadFile(path), stored);
  // Once the operator sets that name, the list is written.
  ASSERT_TRUE(Ok(list.SetCell(0, DeviceColumn::kName, "A")));
  ASSERT_TRUE(Ok(list.Save(path)));
  DeviceList again;
  ASSERT_TRUE(Ok(again.Load(path)));
  EXPECT_TRUE(again.ReadNotes().empty());
  EXPECT_EQ(again.Row(1).name, "B2");
}

TEST(DeviceListFile, AListCutShortIsToldAndItsLastRowNeverBecomesCom1) {
  testing::TempDir dir;
  const std::string path = dir.File("KestaLST.txt");
  const std::string stored =
      testing::StoredList("A!<Default Serial>!2!<Default No Encryption>!B!10.0.0.5");
  testing::WriteText(path, stored);
  DeviceList list;
  ASSERT_TRUE(Ok(list.Load(path)));
  ASSERT_EQ(list.Count(), 2u);
  ASSERT_EQ(list.ReadNotes().size(), 1u);
  EXPECT_NE(list.ReadNotes()[0].find("row 2"), std::string::npos) << list.ReadNotes()[0];
  EXPECT_NE(list.ReadNotes()[0].find("port"), std::string::npos) << list.ReadNotes()[0];
  // A walk does not take the row to a port or key it never had.
  const Expected<DeviceTarget> cut = TargetForRow(list.Row(1));
  EXPECT_NE(cut.error().find("port"), std::string::npos) << cut.error();
  EXPECT_FALSE(RowOfList(1, list.Row(1)).target);
  EXPECT_TRUE(Ok(TargetForRow(list.Row(0))));
  // Nor is it written back with invented cells.
  list.AddDevice();
  const Result refused = list.Save(path);
  EXPECT_NE(refused.error().find("row 2"), std::string::npos) << refused.error();
  EXPECT_EQ(testing::ReadFile(path), stored);
  ASSERT_TRUE(Ok(list.SetCell(1, DeviceColumn::kPort, "3000")));
  EXPECT_FALSE(list.Save(path)) << "the key is still missing";
  ASSERT_TRUE(Ok(list.SetCell(1, DeviceColumn::kKey, kNoEncryption)));
  EXPECT_TRUE(Ok(list.Save(path)));
  // A serial row's key follows from its being serial.
  testing::WriteText(path, testing::StoredList("C!<Default Serial>!4"));
  ASSERT_TRUE(Ok(list.Load(path)));
  const Expected<DeviceTarget> serial = TargetForRow(list.Row(0));
  ASSERT_TRUE(Ok(serial));
  EXPECT_EQ(serial->portName, "COM4");
  EXPECT_FALSE(list.Save(path));
  testing::WriteText(path, testing::StoredList("C!<Default Serial>"));
  ASSERT_TRUE(Ok(list.Load(path)));
  ASSERT_TRUE(Ok(list.SetCell(0, DeviceColumn::kPort, "4")));
  EXPECT_TRUE(Ok(list.Save(path)));
  // A row removed is no longer in the way.
  testing::WriteText(path, testing::StoredList("A!<Default Serial>!2!<Default No Encryption>!B"));
  ASSERT_TRUE(Ok(list.Load(path)));
  list.DeleteSelectedDevice(1);
  EXPECT_TRUE(Ok(list.Save(path)));
  EXPECT_EQ(testing::ReadFile(path),
            testing::StoredList("A!<Default Serial>!2!<Default No Encryption>"));
}

TEST(DeviceListLockFile, IsTheRealFilesSoLinksShareIt) {
  testing::TempDir dir;
  std::filesystem::create_directory(dir.File("real"));
  const std::string real = dir.File("real/KestaLST.txt");
  testing::WriteText(real, "");
  std::filesystem::create_symlink(real, dir.File("first.txt"));
  std::filesystem::create_symlink("real/KestaLST.txt", dir.File("second.txt"));
  EXPECT_EQ(DeviceListLock::LockPathOf(dir.File("first.txt")),
            DeviceListLock::LockPathOf(dir.File("second.txt")));
  const auto held = DeviceListLock::Acquire(dir.File("first.txt"));
  ASSERT_TRUE(Ok(held));
  const WaitControl brief{nullptr, std::chrono::milliseconds(100), {}};
  for (const std::string& path : {dir.File("second.txt"), real}) {
    const auto second = DeviceListLock::Acquire(path, brief);
    EXPECT_NE(second.error().find("gave up"), std::string::npos) << path << ": " << second.error();
  }
}

TEST(DeviceListLockFile, AWaitEndsWhenStopped) {
  testing::TempDir dir;
  const std::string path = dir.File("KestaLST.txt");
  const auto held = DeviceListLock::Acquire(path);
  ASSERT_TRUE(Ok(held));
  CancelFlag stop;
  stop.Request();
  EXPECT_EQ(DeviceListLock::Acquire(path, WaitControl{.stop = &stop}).error(), "interrupted");
}

}  // namespace
}  // namespace vel
