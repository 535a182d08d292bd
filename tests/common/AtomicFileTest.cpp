#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/AtomicFile.h"
#include "support/Files.h"
#include "support/Ok.h"
#include "support/TempDir.h"

namespace vel {
namespace {

TEST(AtomicFile, ReplacesWholeFileWithTheGivenMode) {
  testing::TempDir dir;
  const std::string path = dir.File("list.txt");
  ASSERT_TRUE(Ok(WriteFileAtomically(path, "old contents", 0600)));
  ASSERT_TRUE(Ok(WriteFileAtomically(path, "new", 0600)));
  EXPECT_EQ(testing::ReadFile(path), "new");
  struct stat info {};
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  // Only the target remains: no temporary files left beside it.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()),
                          std::filesystem::directory_iterator()),
            1);
}

TEST(AtomicFile, FailureLeavesTheOldFileAndSaysWhy) {
  testing::TempDir dir;
  EXPECT_EQ(WriteFileAtomically(dir.File("missing/sub/file"), "x", 0600).error(),
            "No such file or directory");
}

// A new file takes the first free name: a file or a dangling symbolic link keeps its name, and
// when every name is taken nothing is written and nothing stays behind.
TEST(AtomicFile, ANewFileTakesTheFirstFreeNameAndReplacesNothing) {
  testing::TempDir dir;
  const auto nameOf = [&](int k) { return dir.File("r" + std::to_string(k)); };
  testing::WriteText(nameOf(1), "first");
  ASSERT_EQ(symlink(dir.File("elsewhere").c_str(), nameOf(2).c_str()), 0);
  const Expected<std::string> written = WriteNewFileAtomically(nameOf, 4, "third", 0600);
  ASSERT_TRUE(written.ok()) << written.error();
  EXPECT_EQ(*written, nameOf(3));
  EXPECT_EQ(testing::ReadFile(nameOf(3)), "third");
  EXPECT_EQ(testing::ReadFile(nameOf(1)), "first");
  EXPECT_FALSE(std::filesystem::exists(dir.File("elsewhere"))) << "written through the link";
  struct stat info {};
  ASSERT_EQ(stat(nameOf(3).c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);

  testing::WriteText(nameOf(4), "fourth");
  const Expected<std::string> full = WriteNewFileAtomically(nameOf, 4, "fifth", 0600);
  EXPECT_FALSE(full.ok());
  EXPECT_NE(full.error().find(nameOf(4)), std::string::npos) << full.error();
  EXPECT_EQ(testing::ReadFile(nameOf(4)), "fourth");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()),
                          std::filesystem::directory_iterator()),
            4);
}

}  // namespace
}  // namespace vel
