#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "link/PortNames.h"
#include "support/Ok.h"
#include "support/TempDir.h"

namespace vel {
namespace {

using testing::TempDir;

// Points the user's configuration folder and the environment mapping at a test's own values for
// the test's duration.
class ConfigScope {
 public:
  explicit ConfigScope(const std::filesystem::path& config, const char* variable = nullptr) {
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    if (variable != nullptr) {
      setenv(kPortMapVariable, variable, 1);
    } else {
      unsetenv(kPortMapVariable);
    }
  }
  ~ConfigScope() {
    unsetenv("XDG_CONFIG_HOME");
    unsetenv(kPortMapVariable);
  }
};

void WriteText(const std::filesystem::path& path, const std::string& text) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path) << text;
}

TEST(PortNames, ComNamesResolveThroughTheMappingOrToTtyS) {
  const PortNameMap map = PortNameMap::Parse("COM12=/dev/pts/7,com3=/dev/ttyUSB0,broken");
  EXPECT_EQ(map.Resolve("COM12"), "/dev/pts/7");
  EXPECT_EQ(map.Resolve("COM3"), "/dev/ttyUSB0");
  EXPECT_EQ(map.Resolve("COM1"), "/dev/ttyS0");
  EXPECT_EQ(map.Resolve("COM10"), "/dev/ttyS9");
  EXPECT_EQ(map.Resolve("/dev/ttyACM0"), "/dev/ttyACM0");
  EXPECT_EQ(map.Resolve("User Defined"), "");
  EXPECT_EQ(map.Resolve("COM0"), "");  // COM numbers start at 1
  EXPECT_EQ(map.Resolve("COM"), "");
}

TEST(PortNames, TheFileSkipsCommentsAndLinesThatAreNoEntry) {
  const PortNameMap map = PortNameMap::ParseFile(
      "# mine\n\n  com2 = /dev/ttyUSB1  \r\nCOM0=/dev/x\nCOMX=/dev/y\nCOM5=\nno "
      "entry\nCOM7=/dev/z");
  ASSERT_EQ(map.Entries().size(), 2u);
  EXPECT_EQ(map.Resolve("COM2"), "/dev/ttyUSB1");
  EXPECT_EQ(map.Resolve("COM7"), "/dev/z");
  EXPECT_EQ(map.Resolve("COM5"), "/dev/ttyS4");
  EXPECT_EQ(PortNameMap::ParseFile(map.FileText()).Entries(), map.Entries());
}

TEST(PortNames, TheVariableTakesEntriesAsTheFileTakesThem) {
  // Spaces around the names, as in the file; an entry that is no COM port is no entry.
  const PortNameMap map = PortNameMap::Parse("COM3 = /dev/pts/0 , COM0=/dev/x, COMX=/dev/y,COM5=");
  ASSERT_EQ(map.Entries().size(), 1u);
  EXPECT_EQ(map.Resolve("COM3"), "/dev/pts/0");
  EXPECT_EQ(map.Resolve("COM5"), "/dev/ttyS4");
}

TEST(PortNames, TheEnvironmentComesBeforeTheUsersFile) {
  TempDir dir;
  ConfigScope scope(dir.Path(), "COM1=/dev/from-env1,COM2=/dev/from-env2");
  EXPECT_EQ(PortMapFilePath(), (dir.Path() / "zandor/com-ports").string());
  EXPECT_EQ(PortNameMap::ForThisUser().Resolve("COM1"), "/dev/from-env1");  // no file yet

  // The variable is the more specific choice, made for this run: it wins over the file.
  WriteText(PortMapFilePath(), "COM1=/dev/from-file\nCOM3=/dev/from-file3\n");
  const PortNameMap map = PortNameMap::ForThisUser();
  EXPECT_EQ(map.Resolve("COM1"), "/dev/from-env1");
  EXPECT_EQ(map.Resolve("COM2"), "/dev/from-env2");
  EXPECT_EQ(map.Resolve("COM3"), "/dev/from-file3");
  EXPECT_EQ(map.Resolve("COM4"), "/dev/ttyS3");
  // And it says where each name was found.
  EXPECT_EQ(map.Origin("com1"), kPortMapVariable);
  EXPECT_EQ(map.Origin("COM3"), PortMapFilePath());
  EXPECT_EQ(map.Origin("COM4"), "");
}

TEST(PortNames, SavingMakesTheFolderAndReadsBack) {
  TempDir dir;
  ConfigScope scope(dir.Path());
  PortNameMap map;
  map.Set("com4", "/dev/serial/by-id/usb-Maker_Cable-if00-port0");
  map.Set("COM1", "/dev/ttyUSB0");
  map.Remove("COM1");
  ASSERT_TRUE(Ok(SavePortMapFile(PortMapFilePath(), map)));
  const PortNameMap back = LoadPortMapFile(PortMapFilePath());
  EXPECT_EQ(back.Entries(), map.Entries());
  EXPECT_EQ(back.Resolve("COM4"), "/dev/serial/by-id/usb-Maker_Cable-if00-port0");
  EXPECT_EQ(back.Resolve("COM1"), "/dev/ttyS0");

  // A folder where the file should be is never replaced.
  std::filesystem::remove(PortMapFilePath());
  std::filesystem::create_directory(PortMapFilePath());
  EXPECT_FALSE(SavePortMapFile(PortMapFilePath(), map).error().empty());
  EXPECT_TRUE(std::filesystem::is_directory(PortMapFilePath()));
}

TEST(PortNames, SerialDevicesAreListedWithTheirStableNames) {
  TempDir dev;
  for (const char* name : {"ttyUSB1", "ttyS0", "ttyACM0", "ttyUSB0", "ttySX", "tty0", "ttyUSB"}) {
    WriteText(dev.Path() / name, "");
  }
  std::filesystem::create_directories(dev.Path() / "serial/by-id");
  std::filesystem::create_symlink("../../ttyUSB0", dev.Path() / "serial/by-id/usb-Cable_A-port0");
  std::filesystem::create_symlink("../../gone", dev.Path() / "serial/by-id/usb-Unplugged");

  const std::vector<SerialDevice> devices = ListSerialDevices(dev.Path().string());
  std::vector<std::string> names;
  for (const SerialDevice& device : devices) {
    names.push_back(std::filesystem::path(device.path).filename().string());
  }
  EXPECT_EQ(names, (std::vector<std::string>{"ttyACM0", "ttyS0", "ttyUSB0", "ttyUSB1"}));
  ASSERT_EQ(devices[2].byIdNames.size(), 1u);
  EXPECT_EQ(devices[2].byIdNames[0], (dev.Path() / "serial/by-id/usb-Cable_A-port0").string());
  EXPECT_TRUE(devices[3].byIdNames.empty());
  EXPECT_TRUE(ListSerialDevices((dev.Path() / "missing").string()).empty());
}

}  // namespace
}  // namespace vel
