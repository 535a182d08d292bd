#include "DeviceCommands.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <thread>
#include <memory>
#include <optional>

#include "Args.h"
#include "DeviceFrontEnd.h"
#include "Json.h"
#include "Printable.h"
#include "common/Strings.h"
#include "devices/DeviceOperations.h"
#include "devices/DeviceWalks.h"
#include "image/HexFileLoader.h"

namespace zandor {

namespace {

constexpr const char* kCheckUsage =
    "usage: zandor check (TARGET... | --devices FILE) [--file FIRMWARE] [options]\n"
    "  Reads each device's identity and versions (and judges them against FIRMWARE).\n";
constexpr const char* kUpdateUsage =
    "usage: zandor update FIRMWARE (TARGET... | --devices FILE) [options]\n"
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
    "  --devices FILE            the rows of a device list instead of TARGETs, chosen with\n"
    "                            --rows 1,3-5 | --names A,B | --all (default: every row)\n"
    "  --parallel N              update: up to N rows at once (distinct ports and endpoints)\n"
    "  --connect-timeout S       seconds a TCP connect waits for an answer (default 5)\n"
    "Ends each device with one line: TARGET: STATUS. Exit 0 when every device succeeded;\n"
    "on SIGINT or SIGTERM running devices are cancelled and the exit code is 130 or 143.\n";

const std::set<std::string> kValued = {"file",  "serial-number", "on-silence", "log",
                                       "devices", "rows",        "names",      "parallel",
                                       "connect-timeout"};
const std::set<std::string> kFlags = {"yes", "serial-optional", "json", "all", "help"};

enum class Mode { kCheck, kUpdate };

constexpr auto kInterruptPoll = std::chrono::milliseconds(20);

// One device's front end and document, so that every line names its device.
struct Session {
  Session(const Presentation& presentation, const OperatorChoices& choices, bool serialOptional)
      : console(presentation), op(presentation, choices), doc(console, op) {
    doc.SetSerialNumberOptional(serialOptional);
  }
  CliConsole console;
  CliOperator op;
  vel::CVelUpdateDoc doc;
};

// While a run lasts, turns the process's stop request into a cancel of every device.
class InterruptWatch {
 public:
  InterruptWatch(const vel::CancelFlag* interrupt, std::function<void()> cancelAll) {
    if (interrupt == nullptr) return;
    thread_ = std::thread([this, interrupt, cancelAll = std::move(cancelAll)] {
      while (!done_) {
        if (!interrupt->SleepFor(kInterruptPoll)) {
          cancelAll();
          return;
        }
      }
    });
  }
  ~InterruptWatch() {
    done_ = true;
    if (thread_.joinable()) thread_.join();
  }
  InterruptWatch(const InterruptWatch&) = delete;
  InterruptWatch& operator=(const InterruptWatch&) = delete;

 private:
  std::atomic<bool> done_{false};
  std::thread thread_;
};

// " (unit 1 left out: no image of the file fits it)" for the units an update left out.
std::string LeftOutNote(const vel::CVelUpdateDoc& doc) {
  std::string units;
  for (int u : doc.LeftOutUnits()) units += (units.empty() ? "" : ", ") + std::to_string(u);
  if (units.empty()) return {};
  return " (unit" + std::string(doc.LeftOutUnits().size() > 1 ? "s " : " ") + units +
         " left out: no image of the file fits " +
         (doc.LeftOutUnits().size() > 1 ? "them" : "it") + ")";
}

// Everything one run of check or update shares.
class DeviceRun {
 public:
  DeviceRun(Mode mode, const Args& args, Streams io) : mode_(mode), args_(args), io_(io) {}
  int Run();

 private:
  int UsageError(const std::string& problem) const;
  std::unique_ptr<Session> NewSession(const std::string& label);
  int RunTargets(const std::vector<std::string>& texts);
  int RunDeviceList();
  bool ChooseRows(vel::DeviceList& list, std::string* error) const;
  void Report(const std::string& label, int status, const std::string& text, bool success);
  void CancelAll();
  bool Interrupted() const { return walkCancel_.IsRequested(); }

  Mode mode_;
  const Args& args_;
  Streams io_;
  std::string usage_;
  std::string firmware_;
  std::ofstream log_;
  std::mutex outputLock_;
  OperatorChoices choices_;
  Presentation presentation_{io_.out, io_.err, io_.errIsTerminal, false, nullptr, &outputLock_, {}};
  int connectTimeoutMs_ = vel::kTcpConnectTimeoutMs;
  vel::CancelFlag walkCancel_;
  std::mutex sessionsLock_;
  std::vector<Session*> sessions_;  // every session of the run, for a cancel
};

void DeviceRun::CancelAll() {
  std::lock_guard<std::mutex> guard(sessionsLock_);
  walkCancel_.Request();
  for (Session* session : sessions_) session->console.State().cancel.Request();
}

int DeviceRun::UsageError(const std::string& problem) const {
  io_.err << "zandor: " << Printable(problem, true) << "\n" << usage_;
  return kExitUsage;
}

std::unique_ptr<Session> DeviceRun::NewSession(const std::string& label) {
  Presentation forDevice = presentation_;
  forDevice.device = label;
  auto session = std::make_unique<Session>(forDevice, choices_, args_.Has("serial-optional"));
  session->doc.Link().Tcp().SetConnectTimeout(connectTimeoutMs_);
  if (!firmware_.empty()) session->doc.OnOpenDocument(firmware_);
  std::lock_guard<std::mutex> guard(sessionsLock_);
  sessions_.push_back(session.get());
  // A session made after the stop request starts cancelled.
  if (walkCancel_.IsRequested()) session->console.State().cancel.Request();
  return session;
}

void DeviceRun::Report(const std::string& label, int status, const std::string& text,
                       bool success) {
  std::lock_guard<std::mutex> guard(outputLock_);
  const std::string line = Printable(label + ": " + text, true);
  if (log_.is_open()) log_ << line << "\n" << std::flush;
  if (presentation_.json) {
    io_.out << "{\"event\":\"result\",\"device\":" << JsonString(label) << ",\"status\":" << status
            << ",\"text\":" << JsonString(text) << ",\"success\":" << (success ? "true" : "false")
            << "}\n";
  } else {
    io_.out << line << "\n";
  }
  io_.out.flush();
}

int DeviceRun::Run() {
  usage_ = std::string(mode_ == Mode::kCheck ? kCheckUsage : kUpdateUsage) + kDeviceOptions;
  if (args_.Has("help")) {
    io_.out << usage_;
    return kExitOk;
  }
  std::vector<std::string> positional = args_.Positional();
  firmware_ = args_.Value("file");
  if (mode_ == Mode::kUpdate) {
    if (positional.empty()) return UsageError("missing FIRMWARE");
    firmware_ = positional.front();
    positional.erase(positional.begin());
  }
  const bool fromList = args_.Has("devices");
  if (fromList && !positional.empty()) return UsageError("give TARGETs or --devices, not both");
  if (!fromList && positional.empty()) return UsageError("missing TARGET");
  if (!fromList && (args_.Has("rows") || args_.Has("names") || args_.Has("all"))) {
    return UsageError("--rows, --names and --all choose rows of --devices");
  }
  const std::string silence = args_.Value("on-silence", "cancel");
  if (silence != "cancel" && silence != "wait") {
    return UsageError("--on-silence takes cancel or wait");
  }
  const std::string serialNumber = args_.Value("serial-number");
  if (!serialNumber.empty() &&
      (serialNumber.size() < vel::kMinSerialText || serialNumber.size() > vel::kMaxSerialText)) {
    return UsageError("--serial-number takes 8 to 12 characters");
  }
  if (args_.Has("parallel") &&
      (mode_ != Mode::kUpdate || !fromList || !ParseNumber(args_.Value("parallel"), 1, 64, 10))) {
    return UsageError("--parallel takes 1 to 64 and goes with update --devices");
  }
  if (args_.Has("connect-timeout")) {
    const auto seconds = ParseNumber(args_.Value("connect-timeout"), 1, 600, 10);
    if (!seconds) return UsageError("--connect-timeout takes 1 to 600 seconds");
    connectTimeoutMs_ = static_cast<int>(*seconds) * 1000;
  }
  if (args_.Has("log")) {
    log_.open(args_.Value("log"), std::ios::app);
    if (!log_) {
      io_.err << Printable("zandor: cannot write " + args_.Value("log"), true) << "\n";
      return kExitFileError;
    }
  }
  if (!firmware_.empty()) {
    // Read once up front so that a bad file stops here, before any device is touched.
    vel::FirmwareFile probe;
    const vel::LoadResult loaded = vel::HexFileLoader(probe).LoadPath(firmware_);
    if (!loaded.ok()) {
      io_.err << Printable("zandor: " + firmware_ + ": " +
                           (loaded.status == vel::LoadStatus::kCannotOpen
                                ? loaded.detail
                                : vel::LoadString(vel::ids::kUnexpectedFileFormat)),
                           true)
              << "\n";
      return kExitFileError;
    }
    // Nothing of a file that fails its checksum test goes to a device.
    const auto defect = probe.FirstDefect();
    if (mode_ == Mode::kUpdate && defect) {
      io_.err << Printable("zandor: " + firmware_ + ": " +
                               vel::LoadString(vel::ids::kFileFailsTest) + " " +
                               vel::DescribeDefect(*defect),
                           true)
              << "\n";
      return kExitFileError;
    }
  }
  presentation_.json = args_.Has("json");
  presentation_.log = log_.is_open() ? &log_ : nullptr;
  choices_.yes = args_.Has("yes");
  choices_.cancelOnSilence = silence == "cancel";
  choices_.serialNumber = serialNumber;
  choices_.interactive = isatty(STDIN_FILENO) == 1 && !presentation_.json;
  const InterruptWatch watch(io_.interrupt, [this] { CancelAll(); });
  return fromList ? RunDeviceList() : RunTargets(positional);
}

int DeviceRun::RunTargets(const std::vector<std::string>& texts) {
  std::vector<vel::DeviceTarget> targets;
  std::string error;
  for (const std::string& text : texts) {
    const auto target = vel::ParseTarget(text, &error);
    if (!target) return UsageError(error);
    targets.push_back(*target);
  }
  bool allSucceeded = true;
  const vel::SerialSettings settings;
  for (std::size_t i = 0; i < targets.size(); ++i) {
    const std::string label = vel::MaskedTarget(texts[i]);
    if (Interrupted()) {
      // A device not begun before the stop request is reported as cancelled too.
      allSucceeded = false;
      Report(label, vel::ids::kOperationCancelled,
             vel::LoadString(vel::ids::kOperationCancelled), false);
      continue;
    }
    const auto session = NewSession(label);
    const int status = mode_ == Mode::kUpdate
                           ? vel::UpdateDevice(session->doc, targets[i], settings)
                           : vel::CheckDevice(session->doc, targets[i], settings);
    const bool success = mode_ == Mode::kUpdate ? vel::IsUpdateSuccess(status) : status == 1;
    session->console.FinishLine();
    allSucceeded = allSucceeded && success;
    Report(label, status,
           mode_ == Mode::kUpdate ? vel::UpdateStatusText(status) + LeftOutNote(session->doc)
                                  : vel::CheckStatusText(status),
           success);
  }
  return allSucceeded ? kExitOk : kExitNegative;
}

bool DeviceRun::ChooseRows(vel::DeviceList& list, std::string* error) const {
  if (args_.Has("rows")) {
    for (const std::string& part : SplitList(args_.Value("rows"))) {
      const std::size_t dash = part.find('-');
      const auto first =
          ParseNumber(part.substr(0, dash), 1, static_cast<long long>(list.Count()), 10);
      const auto last =
          dash == std::string::npos
              ? first
              : ParseNumber(part.substr(dash + 1), 1, static_cast<long long>(list.Count()), 10);
      if (!first || !last || *last < *first) {
        *error = "--rows takes row numbers from 1 to " + std::to_string(list.Count()) +
                 " and ranges like 2-4: " + part;
        return false;
      }
      for (long long r = *first; r <= *last; ++r)
        list.SetChecked(static_cast<std::size_t>(r - 1), true);
    }
  } else if (args_.Has("names")) {
    for (const std::string& name : SplitList(args_.Value("names"))) {
      bool found = false;
      for (std::size_t r = 0; r < list.Count(); ++r) {
        if (list.Row(r).name == name) {
          list.SetChecked(r, true);
          found = true;
        }
      }
      if (!found) {
        *error = "no row is named " + name;
        return false;
      }
    }
  } else {
    list.CheckAllDevices();
  }
  return true;
}

int DeviceRun::RunDeviceList() {
  vel::DeviceList list;
  std::string error;
  if (!list.Load(args_.Value("devices"), &error)) {
    io_.err << Printable("zandor: cannot read " + args_.Value("devices") + ": " + error, true)
            << "\n";
    return kExitFileError;
  }
  if (!ChooseRows(list, &error)) return UsageError(error);
  std::vector<std::unique_ptr<Session>> sessions(list.Count());
  for (std::size_t row = 0; row < list.Count(); ++row) {
    if (list.Row(row).checked) {
      sessions[row] =
          NewSession("row " + std::to_string(row + 1) + " (" + list.Row(row).name + ")");
    }
  }
  const auto documentFor = [&sessions](std::size_t row) -> vel::CVelUpdateDoc& {
    return sessions.at(row)->doc;
  };
  const vel::SerialSettings settings;
  Presentation walkPresentation = presentation_;
  walkPresentation.device = args_.Value("devices");
  CliOperator walkOperator(walkPresentation, choices_);
  const int parallel = static_cast<int>(*ParseNumber(args_.Value("parallel", "1"), 1, 64, 10));
  const bool allSucceeded =
      mode_ == Mode::kUpdate ? vel::UpdateSelectedDevices(list, documentFor, walkOperator, settings,
                                                          {}, parallel, &walkCancel_)
                             : vel::CheckDeviceInformation(list, documentFor, settings, {},
                                                           &walkCancel_);
  for (std::size_t row = 0; row < list.Count(); ++row) {
    if (!list.Row(row).checked) continue;
    sessions[row]->console.FinishLine();
    const vel::DeviceEntry& entry = list.Row(row);
    const std::string label =
        "row " + std::to_string(row + 1) + " " + entry.name + " [" + vel::LinkOfRow(entry) + "]";
    // A row not begun before the stop request is reported as cancelled.
    const bool notBegun = entry.status.empty() && Interrupted();
    Report(label, notBegun ? vel::ids::kOperationCancelled : 0,
           notBegun ? vel::LoadString(vel::ids::kOperationCancelled)
                    : entry.status + LeftOutNote(sessions[row]->doc),
           entry.succeeded);
  }
  return allSucceeded ? kExitOk : kExitNegative;
}

int Run(Mode mode, const std::vector<std::string>& words, Streams io) {
  std::string error;
  const auto args = Args::Parse(words, kValued, kFlags, &error);
  if (!args) {
    io.err << "zandor: " << Printable(error, true) << "\n"
           << (mode == Mode::kCheck ? kCheckUsage : kUpdateUsage) << kDeviceOptions;
    return kExitUsage;
  }
  return DeviceRun(mode, *args, io).Run();
}

}  // namespace

int CheckCommand(const std::vector<std::string>& words, Streams io) {
  return Run(Mode::kCheck, words, io);
}

int UpdateCommand(const std::vector<std::string>& words, Streams io) {
  return Run(Mode::kUpdate, words, io);
}

}  // namespace zandor
