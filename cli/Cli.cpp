#include "Cli.h"

#include <functional>
#include <map>

#include "Args.h"
#include "DeviceCommands.h"
#include "DeviceListCommand.h"
#include "ImageCommands.h"
#include "Printable.h"
#include "ReportCommand.h"
#include "common/Version.h"

namespace zandor {

namespace {

constexpr const char* kUsage =
    "usage: zandor COMMAND [ARGS] [--help] | zandor --version\n"
    "Firmware files:\n"
    "  info FILE [--json]                      device type, versions, top segment of each image\n"
    "  test FILE                               checksum test of every record\n"
    "  records FILE [--from N] [--count M]     the records as text\n"
    "  memory FILE --segment HH [--page HH]    one page of the memory map (or --binary OUT)\n"
    "Devices (TARGET: serial:COMn, serial:/dev/tty..., tcp:HOST:PORT[:KEY]):\n"
    "  check TARGET... [--file FIRMWARE]       identity and versions of each device\n"
    "  update FIRMWARE TARGET...               update each device in turn\n"
    "  check|update ... --devices FILE         the rows of a device list (see --help)\n"
    "  devices [--list FILE] list|add|set|remove  keep the device list (KestaLST.txt)\n"
    "Reports:\n"
    "  report merge [--out FILE] SITE=REPORT...  the reports of several sites as one\n"
    "Exit codes: 0 success, 1 negative verdict, 2 usage error, 3 file error.\n";

using Command = std::function<int(const std::vector<std::string>&, Streams)>;

}  // namespace

int RunZandor(const std::vector<std::string>& words, Streams io) {
  static const std::map<std::string, Command> kCommands = {
      {"info", InfoCommand},       {"test", TestCommand},     {"records", RecordsCommand},
      {"memory", MemoryCommand},   {"check", CheckCommand},   {"update", UpdateCommand},
      {"devices", DevicesCommand}, {"report", ReportCommand},
  };
  if (words.empty()) return ShowUsageError(io.err, "no command given", kUsage);
  if (words[0] == "--help" || words[0] == "-h" || words[0] == "help") {
    io.out << kUsage;
    return kExitOk;
  }
  if (words[0] == "--version") {
    io.out << vel::VersionLine() << "\n";
    return kExitOk;
  }
  auto it = kCommands.find(words[0]);
  if (it == kCommands.end()) {
    return ShowUsageError(io.err, "unknown command '" + Printable(words[0], true) + "'", kUsage);
  }
  return it->second(std::vector<std::string>(words.begin() + 1, words.end()), io);
}

}  // namespace zandor
