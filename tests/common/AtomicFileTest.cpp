#include <gtest/gtest.h>
#include <sys/stat.h>

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

}  // namespace
}  // namespace vel
