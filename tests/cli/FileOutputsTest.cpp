// Files the command line writes and the device list it keeps: written into what the path is,
// never replacing what is not a regular file, and every concurrent edit landing.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include "devices/DeviceList.h"
#include "support/CliRunner.h"
#include "support/Files.h"
#include "support/Ok.h"
#include "support/Subprocess.h"
#include "support/TempDir.h"

namespace zandor {
namespace {

using testing::CliRun;
using testing::Zandor;
using vel::testing::ReadFile;
using vel::testing::Subprocess;
using vel::testing::TempDir;
using vel::testing::WriteText;

const std::string kSample = std::string(ZANDOR_SAMPLES_DIR) + "/single-64k.hex";
constexpr std::size_t kSegment = 65536;

CliRun Binary(const std::string& out) {
  return Zandor({"memory", kSample, "--segment", "FF", "--binary", out});
}

mode_t ModeOf(const std::string& path) {
  struct stat info {};
  lstat(path.c_str(), &info);
  return info.st_mode;
}

TEST(BinaryOutput, ARegularFileIsReplacedKeepingItsMode) {
  TempDir dir;
  const std::string out = dir.File("seg.bin");
  WriteText(out, "old");
  chmod(out.c_str(), 0600);
  ASSERT_EQ(Binary(out).code, kExitOk);
  EXPECT_EQ(ReadFile(out).size(), kSegment);
  EXPECT_EQ(ModeOf(out) & 0777, 0600u);
  ASSERT_EQ(Binary(dir.File("new.bin")).code, kExitOk);
  EXPECT_EQ(ModeOf(dir.File("new.bin")) & 0777, 0644u);
}

TEST(BinaryOutput, ALinkIsFollowedAndAHardLinkedFileLeftAlone) {
  TempDir dir;
  WriteText(dir.File("target.bin"), "old");
  std::filesystem::create_symlink(dir.File("target.bin"), dir.File("link.bin"));
  ASSERT_EQ(Binary(dir.File("link.bin")).code, kExitOk);
  EXPECT_TRUE(S_ISLNK(ModeOf(dir.File("link.bin"))));
  EXPECT_EQ(ReadFile(dir.File("target.bin")).size(), kSegment);

  WriteText(dir.File("a.bin"), "shared");
  ASSERT_EQ(link(dir.File("a.bin").c_str(), dir.File("b.bin").c_str()), 0);
  const CliRun refused = Binary(dir.File("a.bin"));
  EXPECT_EQ(refused.code, kExitFileError);
  EXPECT_NE(refused.err.find("other hard links"), std::string::npos) << refused.err;
  EXPECT_EQ(ReadFile(dir.File("b.bin")), "shared");
}

TEST(BinaryOutput, DevicesFifosAndStandardOutputAreWrittenInto) {
  ASSERT_EQ(Binary("/dev/null").code, kExitOk);
  EXPECT_TRUE(S_ISCHR(ModeOf("/dev/null")));
  if (std::filesystem::exists("/dev/full")) {
    const CliRun full = Binary("/dev/full");
    EXPECT_EQ(full.code, kExitFileError);
    EXPECT_NE(full.err.find("No space left on device"), std::string::npos);
    EXPECT_TRUE(S_ISCHR(ModeOf("/dev/full")));
  }

  TempDir dir;
  const std::string fifo = dir.File("pipe");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::string received;
  std::thread reader([&] { received = ReadFile(fifo); });
  EXPECT_EQ(Binary(fifo).code, kExitOk);
  reader.join();
  EXPECT_EQ(received.size(), kSegment);
  EXPECT_TRUE(S_ISFIFO(ModeOf(fifo)));

  const CliRun toStdout = Binary("-");
  EXPECT_EQ(toStdout.code, kExitOk);
  EXPECT_EQ(toStdout.out.size(), kSegment);

  std::filesystem::create_directory(dir.File("folder"));
  EXPECT_EQ(Binary(dir.File("folder")).code, kExitFileError);
}

// Adds `rows` rows at once, each by a zandor of its own, through the list paths in turn; the
// rows the list holds afterwards.
std::size_t AddRowsAtOnce(const std::vector<std::string>& paths, int rows,
                          const std::string& real) {
  std::vector<std::thread> editors;
  for (int i = 0; i < rows; ++i) {
    editors.emplace_back([path = paths[static_cast<std::size_t>(i) % paths.size()], i] {
      EXPECT_EQ(
          Zandor({"devices", "--list", path, "add", "--name", "unit" + std::to_string(i)}).code,
          kExitOk);
    });
  }
  for (std::thread& editor : editors) editor.join();
  vel::DeviceList loaded;
  EXPECT_TRUE(Ok(loaded.Load(real)));
  return loaded.Count();
}

TEST(DeviceListFile, ConcurrentEditsAllLand) {
  TempDir dir;
  const std::string list = dir.File("KestaLST.txt");
  EXPECT_EQ(AddRowsAtOnce({list}, 8, list), 8u);
}

TEST(DeviceListFile, EditsThroughSymbolicLinksShareOneLockAndAllLand) {
  TempDir dir;
  std::filesystem::create_directory(dir.File("lists"));
  const std::string real = dir.File("lists/KestaLST.txt");
  WriteText(real, "");
  std::filesystem::create_symlink(real, dir.File("first.txt"));
  std::filesystem::create_symlink("lists/KestaLST.txt", dir.File("second.txt"));
  EXPECT_EQ(AddRowsAtOnce({dir.File("first.txt"), dir.File("second.txt")}, 16, real), 16u);
  EXPECT_TRUE(std::filesystem::is_symlink(dir.File("first.txt")));
  EXPECT_TRUE(std::filesystem::exists(dir.File("lists/.KestaLST.txt.lock")));
  EXPECT_FALSE(std::filesystem::exists(dir.File(".first.txt.lock")));
}

TEST(DeviceListFile, ReadingNeedsNoLockFile) {
  TempDir dir;
  const std::string list = dir.File("KestaLST.txt");
  ASSERT_EQ(Zandor({"devices", "--list", list, "add", "--name", "A", "--port", "3"}).code, kExitOk);
  // Where no lock file can be made (a folder in its place here; a read-only folder alike), the
  // list still reads.
  std::filesystem::remove(dir.File(".KestaLST.txt.lock"));
  std::filesystem::create_directory(dir.File(".KestaLST.txt.lock"));
  const CliRun listed = Zandor({"devices", "--list", list, "list"});
  EXPECT_EQ(listed.code, kExitOk) << listed.err;
  EXPECT_NE(listed.out.find("A  <Default Serial>  3"), std::string::npos) << listed.out;
  EXPECT_EQ(Zandor({"devices", "--list", list, "list", "--json"}).code, kExitOk);
  EXPECT_EQ(Zandor({"devices", "--list", list, "add"}).code, kExitFileError) << "edits lock";
  if (geteuid() != 0) {  // the system's superuser writes in read-only folders too
    std::filesystem::remove(dir.File(".KestaLST.txt.lock"));
    chmod(dir.Path().c_str(), 0555);
    EXPECT_EQ(Zandor({"devices", "--list", list, "list"}).code, kExitOk);
    chmod(dir.Path().c_str(), 0755);
  }
}

TEST(DeviceListFile, RowsNotReadWholeAreToldAndKept) {
  TempDir dir;
  const std::string list = dir.File("KestaLST.txt");
  const std::string stored =
      vel::testing::StoredList("A!<Default Serial>!2!<Default No Encryption>!B!10.0.0.5");
  WriteText(list, stored);
  const CliRun listed = Zandor({"devices", "--list", list, "list"});
  EXPECT_EQ(listed.code, kExitOk);
  EXPECT_NE(listed.err.find("row 2 (B): the list file ends inside this row, without its port and "
                            "key"),
            std::string::npos)
      << listed.err;
  const CliRun added = Zandor({"devices", "--list", list, "add", "--name", "C"});
  EXPECT_EQ(added.code, kExitFileError);
  // Named once, by the refused write, not also as the list was read.
  EXPECT_EQ(added.err,
            "zandor: cannot write " + list +
                ": row 2 (B): the list file ends inside this row, without its port and key; "
                "writing the list would change that row, so the list is left as it is (set "
                "those cells or remove the row)\n");
  EXPECT_EQ(ReadFile(list), stored);
  // Setting the row's cells makes it whole, and the edit is written without a stale word.
  const CliRun set = Zandor({"devices", "--list", list, "set", "2", "--port", "5000", "--key",
                             "<Default No Encryption>"});
  EXPECT_EQ(set.code, kExitOk) << set.err;
  EXPECT_EQ(set.err, "");
  WriteText(list, stored);
  const CliRun update = Zandor({"update", kSample, "--devices", list, "--rows", "2"});
  EXPECT_EQ(update.code, kExitNegative);
  // The port the file never held is no port at all.
  EXPECT_NE(update.out.find("row 2 B [tcp:10.0.0.5:]: the list file ends inside this row"),
            std::string::npos)
      << update.out;
}

TEST(DeviceListFile, WhatIsNotADeviceListIsRefusedAndKept) {
  TempDir dir;
  std::string random(512, '\0');
  for (std::size_t i = 0; i < random.size(); ++i) random[i] = static_cast<char>(i * 7919 % 251);
  WriteText(dir.File("random.bin"), random);
  for (const char* command : {"list", "add"}) {
    const CliRun run = Zandor({"devices", "--list", dir.File("random.bin"), command});
    EXPECT_EQ(run.code, kExitFileError) << command;
    EXPECT_NE(run.err.find("not a device list"), std::string::npos) << run.err;
  }
  EXPECT_EQ(ReadFile(dir.File("random.bin")), random);
  EXPECT_EQ(Zandor({"devices", "--list", dir.Path().string(), "list"}).code, kExitFileError);

  // A save through the core never replaces it either.
  vel::DeviceList list;
  list.AddDevice();
  EXPECT_FALSE(list.Save(dir.File("random.bin")));
  EXPECT_EQ(ReadFile(dir.File("random.bin")), random);
}

TEST(DeviceListFile, RowsThatCannotWorkAreRefusedWhenEntered) {
  TempDir dir;
  const std::string list = dir.File("KestaLST.txt");
  const auto add = [&](std::vector<std::string> options) {
    std::vector<std::string> words = {"devices", "--list", list, "add"};
    words.insert(words.end(), options.begin(), options.end());
    return Zandor(words);
  };
  const CliRun badAddress = add({"--address", "10.0.0.999", "--port", "3000"});
  EXPECT_EQ(badAddress.code, kExitNegative);
  EXPECT_NE(badAddress.err.find("dotted IPv4 address"), std::string::npos);
  EXPECT_EQ(add({"--address", "10.0.0.9", "--port", "abc"}).code, kExitNegative);
  const CliRun bigPort = add({"--address", "10.0.0.9", "--port", "99999"});
  EXPECT_NE(bigPort.err.find("a number from 1 to 65535"), std::string::npos);
  EXPECT_EQ(add({"--port", "11"}).code, kExitNegative);  // COM ports 1 to 10
  EXPECT_EQ(add({"--address", "10.0.0.9", "--port", "3000"}).code, kExitOk);
  EXPECT_EQ(Zandor({"devices", "--list", list, "set", "1", "--port", "0"}).code, kExitNegative);
  EXPECT_NE(Zandor({"devices", "--list", list, "list"}).out.find("10.0.0.9  3000"),
            std::string::npos);
}

// The desktop program's version file (zandorupdate -v -f NAME): written where it can be, and
// where it cannot, the program says why and fails.
class VersionFile : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(kProgram)) GTEST_SKIP() << "built without the desktop";
  }
  static Subprocess Write(const std::string& name) {
    return Subprocess({kProgram, "-v", "-f", name});
  }
  // Runs the program and expects it to fail naming `reason`.
  static void ExpectRefused(Subprocess program, const std::string& reason) {
    const int code = program.Wait();
    EXPECT_NE(code, 0) << reason;
    EXPECT_NE(program.err.find("cannot write the version file"), std::string::npos) << program.err;
    EXPECT_NE(program.err.find(reason), std::string::npos) << program.err;
  }

  inline static const std::string kProgram = std::string(ZANDOR_BIN_DIR) + "/zandorupdate";
  inline static const std::string kText{"major=2\r\nminor=4\r\npoint=5\r\nphase=5\r\nbuild=1\r\n\0",
                                        46};
  TempDir dir;
};

TEST_F(VersionFile, IsWrittenIntoFilesAndFifos) {
  Subprocess file = Write(dir.File("version.txt"));
  EXPECT_EQ(file.Wait(), 0) << file.err;
  EXPECT_EQ(ReadFile(dir.File("version.txt")), kText);
  const std::string fifo = dir.File("pipe");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::string received;
  std::thread reader([&] { received = ReadFile(fifo); });
  Subprocess piped = Write(fifo);
  EXPECT_EQ(piped.Wait(), 0) << piped.err;
  // Lets the reader go should the program never have opened the FIFO.
  const int writer = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
  if (writer >= 0) close(writer);
  reader.join();
  EXPECT_EQ(received, kText);
}

TEST_F(VersionFile, WhatCannotBeWrittenIsSaidAndFails) {
  std::filesystem::create_directory(dir.File("folder"));
  ExpectRefused(Write(dir.File("folder")), "not a regular file");
  WriteText(dir.File("a.txt"), "shared");
  ASSERT_EQ(link(dir.File("a.txt").c_str(), dir.File("b.txt").c_str()), 0);
  ExpectRefused(Write(dir.File("a.txt")), "other hard links");
  EXPECT_EQ(ReadFile(dir.File("b.txt")), "shared");
  std::filesystem::create_symlink(dir.File("missing/v.txt"), dir.File("dangling.txt"));
  ExpectRefused(Write(dir.File("dangling.txt")), "symbolic link to a missing file");
  if (std::filesystem::exists("/dev/full")) {
    ExpectRefused(Write("/dev/full"), "No space left on device");
  }
  // A folder nothing may be written in: a read-only one, or (for the superuser, who writes in
  // those) the kernel's own.
  if (geteuid() != 0) {
    std::filesystem::create_directory(dir.File("readonly"));
    chmod(dir.File("readonly").c_str(), 0555);
    ExpectRefused(Write(dir.File("readonly/v.txt")), "Permission denied");
  } else if (std::filesystem::exists("/sys/kernel")) {
    ExpectRefused(Write("/sys/zandor-version.txt"), "Permission denied");
  }
}

TEST_F(VersionFile, AFullDiskLeavesTheOldFileAndFails) {
  // The shell ignores SIGXFSZ and lets no file grow: every write fails as on a full disk.
  WriteText(dir.File("version.txt"), "old");
  ExpectRefused(Subprocess({"/bin/sh", "-c", "trap '' XFSZ; ulimit -f 0; exec \"$0\" -v -f \"$1\"",
                            kProgram, dir.File("version.txt")}),
                "File too large");
  EXPECT_EQ(ReadFile(dir.File("version.txt")), "old");
}

}  // namespace
}  // namespace zandor
