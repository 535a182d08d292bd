// What the command line shows and how it stops: keys never appear, text from files, devices and
// lists reaches a terminal escaped, JSON stays valid UTF-8, and SIGINT/SIGTERM end every device
// with its result.
#include <gtest/gtest.h>

#include <filesystem>

#include "DeviceFrontEnd.h"
#include "Json.h"
#include "Printable.h"
#include "SampleGen.h"
#include "SimServer.h"
#include "devices/KeyMask.h"
#include "image/VelHexRec.h"
#include "link/Encryption.h"
#include "support/CliRunner.h"
#include "support/Files.h"
#include "support/KeySpellings.h"
#include "support/Subprocess.h"
#include "support/TempDir.h"
#include "support/TestDevice.h"

namespace zandor {
namespace {

using testing::CliRun;
using testing::Zandor;
using vel::testing::ReadFile;
using vel::testing::Subprocess;
using vel::testing::TempDir;
using vel::testing::WriteText;

const std::string kSample = std::string(ZANDOR_SAMPLES_DIR) + "/multi-unit.hex";
const std::string kZandor = std::string(ZANDOR_BIN_DIR) + "/zandor";

// A simulated device slow enough (1 ms an answer) for a signal to arrive mid-update.
std::string SlowDevice(sim::SimServer& server) {
  return "tcp:127.0.0.1:" + std::to_string(server.StartTcp());
}

sim::SimConfig Slow() {
  sim::SimConfig config;
  config.answerDelayMs = 1;
  return config;
}

TEST(Signals, SigintCancelsEveryDeviceAndEachGetsItsResult) {
  vel::testing::TestDevice first(Slow()), second(Slow());
  const std::string a = SlowDevice(first), b = SlowDevice(second);
  TempDir dir;
  Subprocess zandor({kZandor, "update", kSample, a, b, "--json", "--log", dir.File("log.txt")});
  ASSERT_TRUE(zandor.WaitForOutput("\"event\":\"progress\"", std::chrono::seconds(20)))
      << zandor.out << zandor.err;
  zandor.Signal(SIGINT);
  EXPECT_EQ(zandor.Wait(), 130) << zandor.err;
  for (const std::string& target : {a, b}) {
    EXPECT_NE(zandor.out.find(testing::CancelledResultEvent(target)), std::string::npos)
        << zandor.out;
  }
  EXPECT_EQ(zandor.out.find("\"success\":true"), std::string::npos) << zandor.out;
  const std::string log = ReadFile(dir.File("log.txt"));
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back(), '\n');
  EXPECT_NE(log.find(b + ": Cancelled at the operator's request"), std::string::npos) << log;
  second.Stop();
  EXPECT_EQ(second.Device().IdentificationsAnswered(), 0) << "the second device never began";
}

TEST(Signals, SigtermPrintsTheStatusLineAndExits143) {
  vel::testing::TestDevice server(Slow());
  const std::string target = SlowDevice(server);
  Subprocess zandor({kZandor, "update", kSample, target});
  ASSERT_TRUE(zandor.WaitForOutput("device and file versions", std::chrono::seconds(20)));
  zandor.Signal(SIGTERM);
  EXPECT_EQ(zandor.Wait(), 143);
  // A stop that lands after the transfer began also says that the update was interrupted.
  EXPECT_NE(zandor.out.find(target + ": Cancelled at the operator's request"), std::string::npos)
      << zandor.out;
  EXPECT_EQ(zandor.out.find("Successful"), std::string::npos) << zandor.out;
}

TEST(Keys, NeverAppearInOutputOrMessages) {
  const std::string key = "0011223344556677ZZ99AABBCCDDEEFF";
  const CliRun run = Zandor({"update", kSample, "tcp:127.0.0.1:3000:" + key});
  EXPECT_EQ(run.code, kExitUsage);
  EXPECT_EQ(run.err.find(key), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("tcp:127.0.0.1:3000:<key>"), std::string::npos) << run.err;

  // The cipher refuses a bad key without writing anything itself.
  int pipeFds[2];
  ASSERT_EQ(pipe(pipeFds), 0);
  const int savedErr = dup(2), savedOut = dup(1);
  dup2(pipeFds[1], 2);
  dup2(pipeFds[1], 1);
  vel::CWrapper_TwoFish cipher;
  const bool keyed = cipher.init(key.c_str(), 128);
  dup2(savedErr, 2);
  dup2(savedOut, 1);
  close(pipeFds[1]);
  char buffer[256];
  EXPECT_EQ(read(pipeFds[0], buffer, sizeof buffer), 0);
  close(pipeFds[0]);
  close(savedErr);
  close(savedOut);
  EXPECT_FALSE(keyed);
}

TEST(Keys, AreMaskedWhereverATargetHoldsThem) {
  const std::string key = "00112233445566778899AABBCCDDEEFF";
  const std::string dashed = "00-11-22-33-44-55-66-77-88-99-AA-BB-CC-DD-EE-FF";
  EXPECT_EQ(vel::MaskKeys("tcp:" + key), "tcp:<key>");
  EXPECT_EQ(vel::MaskKeys("serial:COM1:" + dashed), "serial:COM1:<key>");
  // Paths and addresses keep their short runs of digits.
  for (const std::string& kept : {std::string("serial:/dev/serial/by-id/usb-FTDI_A50285BI-if00"),
                                  std::string("tcp:10.0.0.5:3000"), std::string("COM12")}) {
    EXPECT_EQ(vel::MaskKeys(kept), kept);
  }
  TempDir dir;
  for (const std::string& target :
       {"tcp:127.0.0.1:" + key, "tcp:" + key, "tcp:127.0.0.1:3000:" + key + "0",
        "serial:COM1:" + key, "serial:COM1:" + dashed}) {
    const std::string log = dir.File("log.txt");
    const CliRun run = Zandor({"update", kSample, target, "--json", "--log", log});
    for (const std::string& shown : {run.out, run.err, ReadFile(log)}) {
      EXPECT_EQ(shown.find("AABBCC"), std::string::npos) << target << "\n" << shown;
    }
    std::filesystem::remove(log);
  }
}

// Whether a text gives away a key in any of its spellings (the middle half of one is enough).
bool ShowsKey(const std::string& text, const std::string& key) {
  for (const std::string& spelling : vel::testing::KeySpellings(key)) {
    if (text.find(spelling.substr(spelling.size() / 4, spelling.size() / 2)) != std::string::npos) {
      return true;
    }
  }
  return false;
}

TEST(Keys, PastedIntoTheWrongCellNeverShowWithoutShowKeys) {
  const std::string key = "0F1E2D3C4B5A69788796A5B4C3D2E1F0";    // a row's key
  const std::string stray = "00112233445566778899AABBCCDDEEFF";  // no row's key
  const std::vector<std::string> strays = vel::testing::KeySpellings(stray);
  TempDir dir;
  const std::string list = dir.File("KestaLST.txt");
  const auto devices = [&](std::vector<std::string> words) {
    words.insert(words.begin(), {"devices", "--list", list});
    return Zandor(words);
  };
  const std::string hexName = "rack7-0A1B2C3D4E5F6071";
  ASSERT_EQ(devices({"add", "--name", hexName, "--address", "10.0.0.5", "--port", "3000", "--key",
                     vel::testing::KeySpellings(key)[2]})
                .code,
            kExitOk);
  for (const std::string& name : {"cab" + key + "net", strays[3], "door " + strays[4]}) {
    ASSERT_EQ(devices({"add", "--name", name}).code, kExitOk) << name;
  }
  // A key in the Address or Port cell is refused, and the refusal does not repeat it.
  for (const std::vector<std::string>& words :
       {std::vector<std::string>{"add", "--address", stray},
        std::vector<std::string>{"add", "--address", "10.0.0.6", "--port", strays[2]},
        std::vector<std::string>{"set", "1", "--port", "x" + key}}) {
    const CliRun refused = devices(words);
    EXPECT_EQ(refused.code, kExitNegative) << refused.err;
    EXPECT_FALSE(ShowsKey(refused.err, key) || ShowsKey(refused.err, stray)) << refused.err;
  }
  // Such cells only a hand-edited file holds.
  WriteText(list, ReadFile(list) + vel::testing::StoredList("!hand!" + stray + "!" + strays[3] +
                                                            "!<Default No Encryption>"));
  std::string stored = ReadFile(list);
  for (char& c : stored) c = static_cast<char>(c - 4);
  ASSERT_NE(stored.find("cab" + key + "net!<Default Serial>"), std::string::npos) << stored;

  const CliRun text = devices({"list"});
  const CliRun json = devices({"list", "--json"});
  for (const CliRun& listed : {text, json}) {
    EXPECT_EQ(listed.code, kExitOk) << listed.err;
    EXPECT_FALSE(ShowsKey(listed.out + listed.err, key) || ShowsKey(listed.out + listed.err, stray))
        << listed.out;
  }
  EXPECT_NE(text.out.find("   1  " + hexName + "  10.0.0.5  3000  <key>\n"), std::string::npos)
      << text.out;
  EXPECT_NE(text.out.find("   2  cab<key>net  <Default Serial>"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("   5  hand  <key>  <key>  <Default No Encryption>"), std::string::npos)
      << text.out;
  EXPECT_NE(json.out.find("{\"row\":1,\"name\":\"" + hexName +
                          "\",\"address\":\"10.0.0.5\",\"port\":\"3000\",\"key\":\"<key>\"}"),
            std::string::npos)
      << json.out;
  EXPECT_NE(json.out.find("\"name\":\"door <key>\""), std::string::npos) << json.out;
  // Asked for, every cell shows as the list holds it.
  const CliRun shown = devices({"list", "--json", "--show-keys"});
  EXPECT_NE(shown.out.find("\"name\":\"cab" + key + "net\""), std::string::npos) << shown.out;
  EXPECT_NE(shown.out.find("\"address\":\"" + stray + "\",\"port\":\"" + strays[3] + "\""),
            std::string::npos)
      << shown.out;
}

TEST(Keys, TheJobViewMasksTheKeysItIsGivenInEveryLine) {
  const std::string key = "0F1E2D3C4B5A69788796A5B4C3D2E1F0";
  const std::string colons = vel::testing::KeySpellings(key)[3];
  for (const bool json : {false, true}) {
    TempDir dir;
    std::string error;
    const auto log = LogFile::Open(dir.File("log.txt"), {}, &error);
    ASSERT_TRUE(log) << error;
    std::ostringstream out, err;
    {
      CliJobView view({out, err, false, json, log.get()}, {},
                      {{0, "row 1 (cab" + key + "net)", "row 1 cab" + key + "net [tcp]", ""}},
                      vel::KeyMask({colons}));
      const std::string said = "said " + colons + " and k" + key;
      vel::job::RowFinished finished;
      finished.text = said;
      for (vel::JobEvent::What what : std::vector<vel::JobEvent::What>{
               vel::job::LogLine{said}, vel::job::Message{said, nullptr}, finished}) {
        view.Publish({0, std::move(what)});
      }
      view.Message("list" + key, "walk " + key);
      view.Close(false);
    }
    const std::string shown = out.str() + err.str() + ReadFile(dir.File("log.txt"));
    EXPECT_FALSE(ShowsKey(shown, key)) << shown;
    EXPECT_NE(shown.find("row 1 cab<key>net [tcp]: said <key> and k<key>"), std::string::npos)
        << shown;
  }
}

TEST(TerminalText, ControlCharactersFromFilesDevicesAndListsAreEscaped) {
  EXPECT_EQ(Printable("a\x1b[2Jb\x07"), "a\\x1B[2Jb\\x07");
  EXPECT_EQ(Printable("two\nlines", true), "two lines");
  EXPECT_EQ(Printable("f\xc3\xafrm \xff"), "f\xc3\xafrm \\xFF");  // UTF-8 kept, a stray byte not
  EXPECT_EQ(Printable("\xc2\x9b"), "\\x9B");                      // the C1 form of ESC [

  TempDir dir;
  WriteText(dir.File("evil.hex"),
            "{DeviceType = G3}{Display = 1 \"\x1b[2J\"}{AuxiliaryVersion = 1 B07}\n"
            ":0100000011EE\n:00000001FF\n");
  const CliRun info = Zandor({"info", dir.File("evil.hex")});
  EXPECT_EQ(info.out.find('\x1b'), std::string::npos);
  EXPECT_NE(info.out.find("\\x1B[2J"), std::string::npos) << info.out;

  sim::SimConfig config;
  config.serialNumber = std::string("AB\x1b]0;owned\x07");
  vel::testing::TestDevice server(config);
  const CliRun check = Zandor({"check", "tcp:127.0.0.1:" + std::to_string(server.StartTcp())});
  EXPECT_EQ(check.out.find('\x1b'), std::string::npos);
  EXPECT_NE(check.out.find("AB\\x1B]0;owned\\x07"), std::string::npos) << check.out;

  const std::string list = dir.File("KestaLST.txt");
  // A stored list holds no C0 control characters, but may hold the C1 escape (CSI) and bytes in
  // an older encoding.
  WriteText(list,
            vel::testing::StoredList("\xc2\x9b"
                                     "31mred\x9b!<Default Serial>!1!<Default No Encryption>"));
  const CliRun listed = Zandor({"devices", "--list", list, "list"});
  EXPECT_EQ(listed.code, kExitOk);
  EXPECT_EQ(listed.out.find("\x9b"), std::string::npos);
  EXPECT_NE(listed.out.find("\\x9B31mred\\x9B"), std::string::npos) << listed.out;
  EXPECT_EQ(Zandor({"devices", "--list", list, "add", "--name", "a\x1b[2Jb"}).code, kExitNegative);
}

TEST(TerminalText, BidirectionalControlsAreEscapedLikeControlCharacters) {
  // U+202E RIGHT-TO-LEFT OVERRIDE would show "Update Failed" reversed into something else.
  EXPECT_EQ(Printable("a\u202Eb"), "a\\u202Eb");
  for (const char* control : {"\u061C", "\u200E", "\u200F", "\u202A", "\u202B", "\u202C", "\u202D",
                              "\u2066", "\u2067", "\u2068", "\u2069"}) {
    EXPECT_EQ(Printable(control).find(control), std::string::npos) << Printable(control);
    EXPECT_EQ(Printable(control).front(), '\\');
    EXPECT_EQ(JsonString(control).find(control), std::string::npos);
  }
  EXPECT_EQ(JsonString("\u202E"), "\"\\u202e\"");
  EXPECT_EQ(Printable("\u05D0\u2014"), "\u05D0\u2014") << "other letters and marks stay";

  // From a list name to the terminal and the log.
  TempDir dir;
  const std::string list = dir.File("KestaLST.txt");
  WriteText(list, vel::testing::StoredList(
                      "evil\u202Eliated!<Default Serial>!1!<Default No Encryption>"));
  const CliRun listed = Zandor({"devices", "--list", list, "list"});
  EXPECT_EQ(listed.out.find("\u202E"), std::string::npos);
  EXPECT_NE(listed.out.find("evil\\u202Eliated"), std::string::npos) << listed.out;
  setenv("ZANDOR_COM_PORTS", "COM1=/dev/no-such-tty", 1);
  const CliRun update =
      Zandor({"update", kSample, "--devices", list, "--log", dir.File("log.txt")});
  unsetenv("ZANDOR_COM_PORTS");
  EXPECT_EQ(update.out.find("\u202E"), std::string::npos);
  EXPECT_EQ(update.err.find("\u202E"), std::string::npos);
  const std::string log = ReadFile(dir.File("log.txt"));
  EXPECT_EQ(log.find("\u202E"), std::string::npos);
  EXPECT_NE(log.find("evil\\u202Eliated"), std::string::npos) << log;
}

TEST(Json, StaysValidUtf8AndKeepsNonAsciiText) {
  EXPECT_EQ(JsonString("f\xc3\xafrm.hex"), "\"f\xc3\xafrm.hex\"");
  EXPECT_EQ(JsonString("\x1b\x7f"), "\"\\u001b\\u007f\"");
  // Bytes that are not UTF-8 read as Latin-1; a cut sequence and a surrogate likewise.
  EXPECT_EQ(JsonString("\xe9t\xc3"), "\"\\u00e9t\\u00c3\"");
  EXPECT_EQ(JsonString("\xed\xa0\x80"), "\"\\u00ed\\u00a0\\u0080\"");

  TempDir dir;
  const std::string path = dir.File("f\xc3\xafrm.hex");
  WriteText(path, ReadFile(kSample));
  const CliRun run = Zandor({"info", path, "--json"});
  EXPECT_NE(run.out.find("\"file\":\"f\xc3\xafrm.hex\""), std::string::npos) << run.out;
}

TEST(SmallCommands, VersionHelpJudgingAndTheFailingRecord) {
  EXPECT_EQ(Zandor({"--version"}).out, "ZandorUpdate version 2.4.5 GA Build 1\n");

  TempDir dir;
  Subprocess samplegen({std::string(ZANDOR_BIN_DIR) + "/zandor-samplegen", "--help"});
  EXPECT_EQ(samplegen.Wait(), 0);
  EXPECT_NE(samplegen.out.find("usage: zandor-samplegen OUTDIR"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists("--help"));

  vel::testing::TestDevice server{sim::SimConfig{}};
  const CliRun check = Zandor({"check", "tcp:127.0.0.1:" + std::to_string(server.StartTcp())});
  EXPECT_NE(check.out.find("not judged"), std::string::npos) << check.out;
  EXPECT_EQ(check.out.find("type OK?"), std::string::npos);

  std::string text = ReadFile(kSample);
  const std::size_t record = text.find("\n:10") + 1;
  text[record + 12] = text[record + 12] == '0' ? '1' : '0';
  WriteText(dir.File("bad.hex"), text);
  const CliRun test = Zandor({"test", dir.File("bad.hex")});
  EXPECT_EQ(test.code, kExitNegative);
  EXPECT_NE(test.out.find("Record 2 of image 0 (line 7) fails its checksum."), std::string::npos)
      << test.out;
  const CliRun update = Zandor({"update", dir.File("bad.hex"), "tcp:127.0.0.1:1"});
  EXPECT_EQ(update.code, kExitFileError);
  EXPECT_NE(update.err.find("fails its checksum test; nothing was sent"), std::string::npos);

  // Two records giving one address different data: the device would keep the last one.
  WriteText(dir.File("twice.hex"), "{DeviceType = G4}\n:020000020000FC\n" +
                                       vel::VelHexRec(0x0010, "11").FormatLine() +
                                       vel::VelHexRec(0x0010, "22").FormatLine() + ":00000001FF\n");
  const std::string named =
      "Record 3 of image 0 (line 4) gives other data to segment 00 at offset "
      "0x0010, which an earlier record of the image filled.";
  const CliRun twice = Zandor({"test", dir.File("twice.hex")});
  EXPECT_EQ(twice.code, kExitNegative);
  EXPECT_NE(twice.out.find(named), std::string::npos) << twice.out;
  const CliRun refused = Zandor({"update", dir.File("twice.hex"), "tcp:127.0.0.1:1"});
  EXPECT_EQ(refused.code, kExitFileError);
  EXPECT_NE(refused.err.find(named), std::string::npos) << refused.err;
}

TEST(SerialNames, ComZeroIsNoPortAndAMissingPortSaysHowToMapIt) {
  TempDir dir;
  const CliRun zero = Zandor({"update", kSample, "serial:COM0", "--log", dir.File("log")});
  EXPECT_EQ(zero.code, kExitNegative);
  EXPECT_NE(zero.out.find("serial:COM0: The selected serial port does not exist on this system."),
            std::string::npos)
      << zero.out;
  EXPECT_EQ(zero.out.find("Windows"), std::string::npos) << zero.out;
  EXPECT_NE(ReadFile(dir.File("log")).find("\"COM0\" is not a port"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists("COM0"));

  setenv("ZANDOR_COM_PORTS", "COM9=/dev/no-such-tty", 1);
  const CliRun missing = Zandor({"update", kSample, "serial:COM9", "--log", dir.File("log9")});
  unsetenv("ZANDOR_COM_PORTS");
  EXPECT_NE(ReadFile(dir.File("log9")).find("/dev/no-such-tty: no such device. Map COM9"),
            std::string::npos);
}

TEST(SerialNames, TheEnvironmentWinsOverTheFileAndTheLogNamesTheDevicePath) {
  TempDir dir;
  setenv("XDG_CONFIG_HOME", dir.Path().c_str(), 1);
  std::filesystem::create_directory(dir.File("zandor"));
  WriteText(dir.File("zandor/com-ports"), "COM3=/dev/from-the-file\nCOM4=/dev/no-such-tty-4\n");
  setenv("ZANDOR_COM_PORTS", "COM3=/dev/no-such-tty-3", 1);
  const CliRun run =
      Zandor({"update", kSample, "serial:COM3", "serial:COM4", "--json", "--log", dir.File("log")});
  unsetenv("ZANDOR_COM_PORTS");
  unsetenv("XDG_CONFIG_HOME");
  EXPECT_NE(run.out.find("{\"event\":\"port\",\"device\":\"serial:COM3\",\"port\":\"COM3\","
                         "\"path\":\"/dev/no-such-tty-3\",\"from\":\"ZANDOR_COM_PORTS\"}"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("\"path\":\"/dev/no-such-tty-4\",\"from\":\"" +
                         dir.File("zandor/com-ports") + "\""),
            std::string::npos)
      << run.out;
  const std::string log = ReadFile(dir.File("log"));
  EXPECT_NE(log.find("serial:COM3: COM3 opens /dev/no-such-tty-3 (set in ZANDOR_COM_PORTS)"),
            std::string::npos)
      << log;
  EXPECT_EQ(log.find("from-the-file"), std::string::npos) << log;
}

}  // namespace
}  // namespace zandor
