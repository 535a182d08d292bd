#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>

#include "link/DeviceLink.h"
#include "link/SerialPort.h"

namespace vel {
namespace {

using Clock = std::chrono::steady_clock;

// A pseudo-terminal pair: the port opens the slave path, the test plays the device on the master.
class PtyPair {
 public:
  PtyPair() {
    char name[128];
    if (openpty(&master_, &slave_, name, nullptr, nullptr) == 0) path_ = name;
  }
  ~PtyPair() {
    ::close(master_);
    ::close(slave_);
  }
  const std::string& Path() const { return path_; }
  int Master() const { return master_; }
  termios SlaveSettings() const {
    termios tio{};
    tcgetattr(slave_, &tio);
    return tio;
  }
  void SetSlaveSettings(const termios& tio) { tcsetattr(slave_, TCSANOW, &tio); }

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string path_;
};

TEST(SerialSettingsData, IndicesMapToLineValues) {
  SerialSettings settings;
  EXPECT_EQ(settings.BaudRate(), 9600);
  EXPECT_EQ(settings.DataBits(), 8);
  settings.baudIndex = 0;
  EXPECT_EQ(settings.BaudRate(), 300);
  settings.baudIndex = 7;
  EXPECT_EQ(settings.BaudRate(), 38400);
  settings.dataBitsIndex = 0;
  EXPECT_EQ(settings.DataBits(), 7);
  PresetPortOverride(1, settings);
  EXPECT_EQ(settings.portAddress, "2F8");
  EXPECT_EQ(settings.portIrq, 3);
  settings.portAddress = "2E8";
  PresetPortOverride(5, settings);
  EXPECT_EQ(settings.portAddress, "2E8");
}

TEST(SerialPort, OpensRawWithTheLineSettingsAndNoFlowControl) {
  // A port left by another program with flow control on and the carrier watched.
  PtyPair pty;
  termios before = pty.SlaveSettings();
  before.c_iflag |= IXON | IXOFF | ICRNL;
  before.c_oflag |= OPOST;
  before.c_lflag |= ICANON | ECHO | ISIG;
  before.c_cflag |= CRTSCTS;
  before.c_cflag &= ~static_cast<tcflag_t>(CLOCAL | HUPCL);
  pty.SetSlaveSettings(before);
  ASSERT_EQ(pty.SlaveSettings().c_cflag & CLOCAL, 0u);

  SerialSettings settings;
  settings.baudIndex = 7;
  settings.stopBitsIndex = 2;
  SerialPort port;
  ASSERT_EQ(port.Open(settings, pty.Path()), LinkOpen::kOk) << port.LastReason();
  const termios after = pty.SlaveSettings();
  EXPECT_EQ(after.c_iflag & (IXON | IXOFF | ICRNL), 0u);
  EXPECT_EQ(after.c_oflag & OPOST, 0u);
  EXPECT_EQ(after.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_NE(after.c_cflag & CSTOPB, 0u);
  EXPECT_NE(after.c_cflag & CLOCAL, 0u) << "a power-cycled device must not hang the line up";
  EXPECT_EQ(after.c_cflag & CRTSCTS, 0u) << "no write may wait for a CTS the cable lacks";
  EXPECT_NE(after.c_cflag & HUPCL, 0u) << "DTR and RTS drop when the port closes";
  EXPECT_EQ(cfgetospeed(&after), static_cast<speed_t>(B38400));

  port.SetBaudRate(9600);
  const termios changed = pty.SlaveSettings();
  EXPECT_EQ(cfgetospeed(&changed), static_cast<speed_t>(B9600));
  EXPECT_EQ(changed.c_cflag & ~CBAUD, after.c_cflag & ~CBAUD) << "only the speed changes";
}

// A pseudo-terminal always reports 8 data bits without parity, so the rest is checked on the
// settings the port would apply.
TEST(SerialLineSettings, ParityAndDataBits) {
  const struct {
    int parity;
    tcflag_t bits;
  } kCases[] = {{0, 0},
                {1, PARENB | PARODD},
                {2, PARENB},
                {3, PARENB | PARODD | CMSPAR},
                {4, PARENB | CMSPAR}};
  for (const auto& c : kCases) {
    for (int dataBits : {0, 1}) {
      termios tio{};
      tio.c_cflag = PARENB | PARODD | CMSPAR | CS8 | CRTSCTS | CLOCAL;
      SerialSettings settings;
      settings.parityIndex = c.parity;
      settings.dataBitsIndex = dataBits;
      std::string note;
      ApplyLineSettings(tio, settings, &note);
      EXPECT_EQ(tio.c_cflag & (PARENB | PARODD | CMSPAR), c.bits) << c.parity;
      EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(dataBits == 0 ? CS7 : CS8));
      EXPECT_EQ(tio.c_cflag & (CRTSCTS | CLOCAL), static_cast<tcflag_t>(CLOCAL));
      EXPECT_EQ(tio.c_cflag & CSTOPB, 0u);
      EXPECT_TRUE(note.empty());
    }
  }
}

TEST(SerialPort, OneAndAHalfStopBitsBecomeTwoWithANote) {
  PtyPair pty;
  SerialSettings settings;
  settings.stopBitsIndex = 1;
  SerialPort port;
  ASSERT_EQ(port.Open(settings, pty.Path()), LinkOpen::kOk);
  EXPECT_NE(pty.SlaveSettings().c_cflag & CSTOPB, 0u);
  EXPECT_NE(port.LastNote().find("1.5 stop bits"), std::string::npos);
}

TEST(SerialPort, ReadsWritesAndTimesOut) {
  PtyPair pty;
  DeviceLink link;
  ASSERT_EQ(link.Serial().Open(SerialSettings{}, pty.Path()), LinkOpen::kOk);
  const std::uint8_t frame[3] = {0x1D, 0x00, 0xFF};
  EXPECT_EQ(link.LinkWrite(frame, 3), 3);
  std::uint8_t seen[3] = {};
  EXPECT_EQ(::read(pty.Master(), seen, 3), 3);
  EXPECT_EQ(seen[2], 0xFF);
  const std::uint8_t reply[2] = {0xC3, 0x1B};
  ASSERT_EQ(::write(pty.Master(), reply, 2), 2);
  std::uint8_t got[2] = {};
  EXPECT_EQ(link.LinkRead(got, 2), 2);
  EXPECT_EQ(got[0], 0xC3);

  std::uint8_t nothing = 0;
  const auto start = Clock::now();
  EXPECT_EQ(link.LinkRead(&nothing, 1), 0);
  const double waited = std::chrono::duration<double>(Clock::now() - start).count();
  EXPECT_GT(waited, 0.95);
  EXPECT_LT(waited, 1.5);
}

TEST(SerialPort, ExclusiveOpenAndReopen) {
  PtyPair pty;
  SerialPort first, second;
  ASSERT_EQ(first.Open(SerialSettings{}, pty.Path()), LinkOpen::kOk);
  EXPECT_EQ(second.Open(SerialSettings{}, pty.Path()), LinkOpen::kAccessDenied);
  EXPECT_FALSE(second.LastReason().empty());
  EXPECT_TRUE(first.IsOpen());
  first.Close();
  first.Close();  // a second close does nothing
  ASSERT_EQ(second.Open(SerialSettings{}, pty.Path()), LinkOpen::kOk);
  second.Close();
  EXPECT_EQ(first.Open(SerialSettings{}, pty.Path()), LinkOpen::kOk);
}

TEST(SerialPort, MissingPortsAndNonTerminals) {
  SerialPort port;
  EXPECT_EQ(port.Open(SerialSettings{}, "/dev/does-not-exist-ttyZ9"), LinkOpen::kNoSuchPort);
  EXPECT_NE(port.LastReason().find("no such device"), std::string::npos);
  EXPECT_EQ(port.Open(SerialSettings{}, "User Defined"), LinkOpen::kNoSuchPort);
  EXPECT_EQ(port.Open(SerialSettings{}, "COM0"), LinkOpen::kNoSuchPort);
  EXPECT_NE(port.LastReason().find("\"COM0\" is not a port"), std::string::npos);
  PortNameMap names;
  names.Set("COM7", "/dev/does-not-exist-ttyZ9");
  EXPECT_EQ(port.Open(SerialSettings{}, "COM7", names), LinkOpen::kNoSuchPort);
  EXPECT_NE(port.LastReason().find("/dev/does-not-exist-ttyZ9: no such device"), std::string::npos);
  EXPECT_NE(port.LastReason().find("Map COM7 to a device with a line COM7=/dev/ttyUSB0 in "),
            std::string::npos);
  EXPECT_EQ(port.Open(SerialSettings{}, "/dev/null"), LinkOpen::kOtherFailure);
  EXPECT_FALSE(port.IsOpen());
}

TEST(SerialPort, ComNameOpensThroughTheMapping) {
  PtyPair pty;
  PortNameMap names;
  names.Set("COM12", pty.Path());
  SerialPort port;
  ASSERT_EQ(port.Open(SerialSettings{}, "COM12", names), LinkOpen::kOk);
  EXPECT_EQ(port.DevicePath(), pty.Path());
}

}  // namespace
}  // namespace vel
