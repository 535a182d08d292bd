#include "DeviceCommands.h"

#include <unistd.h>

#include <fstream>
#include <optional>

#include "Args.h"
#include "DeviceFrontEnd.h"
#include "Json.h"
#include "devices/DeviceOperations.h"

namespace zandor {

namespace {

constexpr const char* kCheckUsage =
    "usage: zandor check TARGET... [--file FIRMWARE] [options]\n"
    "  Reads each device's identity and versions (and judges them against FIRMWARE).\n";
constexpr const char* kUpdateUsage =
    "usage: zandor update FIRMWARE TARGET... [options]\n"
    "  Updates each device in turn with the firmware file.\n";
constexpr const char* kDeviceOptions =
    "TARGET: serial:COMn | serial:/dev/ttyXXX | tcp:HOST:PORT[:KEY]  (KEY: 32 hex digits or\n"
    "        16 dash-separated pairs)\n"
    "Options:\n"
    "  --yes                     accept what would ask the operator (unknown compatibility,\n"
    "                            no unit chosen by the file)\n"
    "  --serial-number TEXT      the serial number for a device that has none (8-12 characters)\n"
    "  --serial-optional         a device may stay without a serial number\n"
    "  --on-silence=cancel|wait  answer to \"not responding\" without a terminal (default cancel)\n"
    "  --log FILE                write the message log\n"
    "  --json                    one JSON object per event on standard output\n"
    "Ends each device with one line: TARGET: STATUS. Exit 0 when every device succeeded.\n";

const std::set<std::string> kValued = {"file", "serial-number", "on-silence", "log"};
const std::set<std::string> kFlags = {"yes", "serial-optional", "json", "help"};

enum class Mode { kCheck, kUpdate };

// The target as the output names it: a key never appears in output or logs.
std::string DeviceLabel(const std::string& text, const vel::DeviceTarget& target) {
  if (target.key.empty()) return text;
  return "tcp:" + target.address + ":" + target.port + ":<key>";
}

int Run(Mode mode, const std::vector<std::string>& words, Streams io) {
  const std::string usage =
      std::string(mode == Mode::kCheck ? kCheckUsage : kUpdateUsage) + kDeviceOptions;
  std::string error;
  const auto args = Args::Parse(words, kValued, kFlags, &error);
  const auto usageError = [&](const std::string& problem) {
    io.err << "zandor: " << problem << "\n" << usage;
    return kExitUsage;
  };
  if (!args) return usageError(error);
  if (args->Has("help")) {
    io.out << usage;
    return kExitOk;
  }
  std::vector<std::string> positional = args->Positional();
  std::string firmware = args->Value("file");
  if (mode == Mode::kUpdate) {
    if (positional.empty()) return usageError("missing FIRMWARE");
    firmware = positional.front();
    positional.erase(positional.begin());
  }
  if (positional.empty()) return usageError("missing TARGET");
  std::vector<vel::DeviceTarget> targets;
  for (const std::string& text : positional) {
    const auto target = vel::ParseTarget(text, &error);
    if (!target) return usageError(error);
    targets.push_back(*target);
  }
  const std::string silence = args->Value("on-silence", "cancel");
  if (silence != "cancel" && silence != "wait")
    return usageError("--on-silence takes cancel or wait");
  const std::string serialNumber = args->Value("serial-number");
  if (!serialNumber.empty() &&
      (serialNumber.size() < vel::kMinSerialText || serialNumber.size() > vel::kMaxSerialText)) {
    return usageError("--serial-number takes 8 to 12 characters");
  }
  std::ofstream log;
  if (args->Has("log")) {
    log.open(args->Value("log"), std::ios::app);
    if (!log) {
      io.err << "zandor: cannot write " << args->Value("log") << "\n";
      return kExitFileError;
    }
  }

  std::mutex outputLock;
  Presentation presentation{
      io.out,      io.err, io.errIsTerminal, args->Has("json"), log.is_open() ? &log : nullptr,
      &outputLock, {}};
  OperatorChoices choices;
  choices.yes = args->Has("yes");
  choices.cancelOnSilence = silence == "cancel";
  choices.serialNumber = serialNumber;
  choices.interactive = isatty(STDIN_FILENO) == 1 && !presentation.json;
  if (!firmware.empty()) {
    // Read once up front so that a bad file stops here, before any device is touched.
    vel::FirmwareFile probe;
    const vel::LoadResult loaded = vel::HexFileLoader(probe).LoadPath(firmware);
    if (!loaded.ok()) {
      io.err << "zandor: " << firmware << ": "
             << (loaded.status == vel::LoadStatus::kCannotOpen ? loaded.detail
                                                               : "Unexpected file format.")
             << "\n";
      return kExitFileError;
    }
  }

  bool allSucceeded = true;
  const vel::SerialSettings settings;
  for (std::size_t i = 0; i < targets.size(); ++i) {
    // A front end of its own per device, so that every line names its device.
    Presentation forDevice = presentation;
    forDevice.device = DeviceLabel(positional[i], targets[i]);
    CliConsole deviceConsole(forDevice);
    CliOperator deviceOperator(forDevice, choices);
    vel::CVelUpdateDoc deviceDoc(deviceConsole, deviceOperator);
    deviceDoc.SetSerialNumberOptional(args->Has("serial-optional"));
    if (!firmware.empty()) deviceDoc.OnOpenDocument(firmware);
    const int status = mode == Mode::kUpdate ? vel::UpdateDevice(deviceDoc, targets[i], settings)
                                             : vel::CheckDevice(deviceDoc, targets[i], settings);
    const bool success = mode == Mode::kUpdate ? vel::IsUpdateSuccess(status) : status == 1;
    const std::string text =
        mode == Mode::kUpdate ? vel::UpdateStatusText(status) : vel::CheckStatusText(status);
    deviceConsole.FinishLine();
    allSucceeded = allSucceeded && success;
    std::lock_guard<std::mutex> guard(outputLock);
    if (log.is_open()) log << forDevice.device << ": " << text << "\n";
    if (presentation.json) {
      io.out << "{\"event\":\"result\",\"device\":" << JsonString(forDevice.device)
             << ",\"status\":" << status << ",\"text\":" << JsonString(text)
             << ",\"success\":" << (success ? "true" : "false") << "}\n";
    } else {
      io.out << forDevice.device << ": " << text << "\n";
    }
    io.out.flush();
  }
  return allSucceeded ? kExitOk : kExitNegative;
}

}  // namespace

int CheckCommand(const std::vector<std::string>& words, Streams io) {
  return Run(Mode::kCheck, words, io);
}

int UpdateCommand(const std::vector<std::string>& words, Streams io) {
  return Run(Mode::kUpdate, words, io);
}

}  // namespace zandor
