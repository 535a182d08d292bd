#include "DeviceCommands.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

#include "Args.h"
#include "DeviceFrontEnd.h"
#include "DeviceListCommand.h"
#include "Json.h"
#include "Printable.h"
#include "common/Strings.h"
#include "devices/DeviceJobs.h"
#include "devices/DeviceList.h"
#include "devices/DeviceWalks.h"
#include "devices/KeyMask.h"
#include "devices/WalkReport.h"
#include "image/HexFileLoader.h"

namespace zandor {

namespace {

constexpr const char* kCheckUsage =
    "usage: zandor check (TARGET... | --devices FILE) [--file FIRMWARE] [options]\n"
    "  Reads each device's identity and versions (and judges them against FIRMWARE).\n";
constexpr const char* kUpdateUsage =
    "usage: zandor update FIRMWARE (TARGET... | --devices FILE) [options]\n"
    "  Updates each device in turn with the firmware file.\n"
    "  --canary N                the first N devices one at a time; the rest only when all N\n"
    "                            succeeded (otherwise they end not reached)\n"
    "  --retry REPORT            with --devices: the rows a report lists as not successful\n"
    "                            (matched by name, address and port)\n";
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
    "  --parallel N              update: up to N rows at once, N up to 256 (distinct ports and\n"
    "                            endpoints)\n"
    "  --stop-on-failure         no device begins after one did not succeed\n"
    "  --report FILE             a line per unit of every device: CSV when FILE ends in .csv,\n"
    "                            JSON otherwise\n"
    "  --connect-timeout S       seconds a TCP connect waits for an answer (default 5)\n"
    "  --lock-wait S             seconds to wait for a device another process works with\n"
    "                            (default 10; 0: do not wait), then it fails naming that process\n"
    "  --record DIR              write each device's session record (every byte each way, with\n"
    "                            its time; never a key) to DIR/row-N.session, for\n"
    "                            zandor-sim --replay\n"
    "Ends each device with one line: TARGET: STATUS. Exit 0 when every device succeeded, 3 when\n"
    "they did but the log or the report could not be written, 1 when a row to retry is no longer\n"
    "in the list; on SIGINT, SIGTERM or SIGHUP running devices are cancelled and the exit code\n"
    "is 130, 143 or 129. Output that nobody reads any more (a closed pipe) never stops the\n"
    "devices.\n";

const std::set<std::string> kValued = {
    "file",     "serial-number",   "on-silence", "log",    "devices", "rows",   "names",
    "parallel", "connect-timeout", "report",     "canary", "retry",   "record", "lock-wait"};
const std::set<std::string> kFlags = {"yes",  "serial-optional", "json", "all",
                                      "help", "stop-on-failure"};

constexpr long long kMaxParallel = 256;
constexpr long long kMaxCanary = 100000;
constexpr long long kMaxLockWaitSeconds = 600;

enum class Mode { kCheck, kUpdate };

constexpr auto kInterruptPoll = std::chrono::milliseconds(20);

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

// Everything one run of check or update shares.
class DeviceRun {
 public:
  DeviceRun(Mode mode, const Args& args, Streams io) : mode_(mode), args_(args), io_(io) {}
  int Run();

 private:
  int UsageError(const std::string& problem) const;
  // Waits for the reader of a FIFO given as an output, until the process is asked to stop.
  vel::WaitControl ReaderWait(const std::string& path) const;
  int RunTargets(const std::vector<std::string>& texts);
  int RunDeviceList();
  bool ChooseRows(vel::DeviceList& list, std::string* error) const;
  // Ticks the rows that --retry's report lists as not successful and names those gone from the
  // list; false when the report cannot be read.
  bool ChooseRowsToRetry(vel::DeviceList& list);
  // Runs the job over the rows through the engine's job facade and prints it; the exit code.
  int RunJob(std::vector<vel::JobRow> rows, std::vector<NamedRow> names,
             std::vector<vel::ReportedRow> reported, int parallel, const std::string& summaryLabel);
  // Writes --report's file, if asked for; false when it was asked for and could not be written.
  bool WriteReport(const vel::WalkReport& report);

  Mode mode_;
  const Args& args_;
  Streams io_;
  std::string usage_;
  std::string firmware_;
  std::unique_ptr<LogFile> log_;
  OperatorChoices choices_;
  Presentation presentation_{io_.out, io_.err, io_.errIsTerminal, false, nullptr};
  int connectTimeoutMs_ = vel::kTcpConnectTimeoutMs;
  std::chrono::milliseconds lockWait_ = vel::kDeviceLockWaitLimit;
  int canary_ = 0;
  bool retrySkippedRows_ = false;
};

vel::WaitControl DeviceRun::ReaderWait(const std::string& path) const {
  const auto waiting = [this, path] {
    io_.err << "zandor: waiting for a reader of " << Printable(path, true) << std::endl;
  };
  return {io_.interrupt, std::chrono::milliseconds::max(), waiting};
}

int DeviceRun::UsageError(const std::string& problem) const {
  io_.err << "zandor: " << Printable(vel::MaskKeys(problem), true) << "\n" << usage_;
  return kExitUsage;
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
  if (args_.Has("parallel") && (mode_ != Mode::kUpdate || !fromList ||
                                !ParseNumber(args_.Value("parallel"), 1, kMaxParallel, 10))) {
    return UsageError("--parallel takes 1 to 256 and goes with update --devices");
  }
  if (args_.Has("canary")) {
    const auto canary = ParseNumber(args_.Value("canary"), 1, kMaxCanary, 10);
    if (mode_ != Mode::kUpdate || !canary) {
      return UsageError("--canary takes a number of devices from 1 and goes with update");
    }
    canary_ = static_cast<int>(*canary);
  }
  if (args_.Has("retry") && (mode_ != Mode::kUpdate || !fromList)) {
    return UsageError("--retry goes with update --devices");
  }
  if (args_.Has("retry") && (args_.Has("rows") || args_.Has("names") || args_.Has("all"))) {
    return UsageError("--retry chooses the rows itself: leave out --rows, --names and --all");
  }
  if (args_.Has("connect-timeout")) {
    const auto seconds = ParseNumber(args_.Value("connect-timeout"), 1, 600, 10);
    if (!seconds) return UsageError("--connect-timeout takes 1 to 600 seconds");
    connectTimeoutMs_ = static_cast<int>(*seconds) * 1000;
  }
  if (args_.Has("lock-wait")) {
    const auto seconds = ParseNumber(args_.Value("lock-wait"), 0, kMaxLockWaitSeconds, 10);
    if (!seconds) return UsageError("--lock-wait takes 0 to 600 seconds");
    lockWait_ = std::chrono::seconds(*seconds);
  }
  if (args_.Has("record")) {
    std::error_code code;
    if (!std::filesystem::is_directory(args_.Value("record"), code)) {
      io_.err << Printable("zandor: --record needs an existing folder: " + args_.Value("record"),
                           true)
              << "\n";
      return kExitFileError;
    }
  }
  if (args_.Has("log")) {
    const std::string path = args_.Value("log");
    std::string error;
    log_ = LogFile::Open(path, ReaderWait(path), &error);
    if (!log_) {
      io_.err << Printable("zandor: cannot write " + path + ": " + error, true) << "\n";
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
  presentation_.log = log_.get();
  presentation_.interrupt = io_.interrupt;
  choices_.yes = args_.Has("yes");
  choices_.cancelOnSilence = silence == "cancel";
  choices_.serialNumber = serialNumber;
  choices_.interactive = isatty(STDIN_FILENO) == 1 && !presentation_.json;
  return fromList ? RunDeviceList() : RunTargets(positional);
}

bool DeviceRun::WriteReport(const vel::WalkReport& report) {
  if (!args_.Has("report")) return true;
  const std::string path = args_.Value("report");
  const vel::Result written = vel::WriteReport(path, report.Lines(), ReaderWait(path));
  if (written) return true;
  io_.err << Printable("zandor: cannot write the report " + path + ": " + written.error(), true)
          << "\n";
  return false;
}

int DeviceRun::RunJob(std::vector<vel::JobRow> rows, std::vector<NamedRow> names,
                      std::vector<vel::ReportedRow> reported, int parallel,
                      const std::string& summaryLabel) {
  CliJobView view(presentation_, choices_, std::move(names));
  vel::WalkReport report(std::move(reported));
  vel::ReportingSink sink(report, view);
  vel::JobOptions options;
  options.kind = mode_ == Mode::kUpdate ? vel::JobKind::kUpdate : vel::JobKind::kCheck;
  options.firmwarePath = firmware_;
  options.parallel = parallel;
  options.canary = canary_;
  options.stopOnFailure = args_.Has("stop-on-failure");
  options.connectTimeoutMs = connectTimeoutMs_;
  options.lockWait = lockWait_;
  options.serialNumberOptional = args_.Has("serial-optional");
  options.recordFolder = args_.Value("record");
  // Every status line is looked at only when the message log keeps them.
  options.logStatusLines = presentation_.log != nullptr;
  std::atomic<bool> interrupted{false};
  {
    vel::DeviceJobs jobs(sink);
    const InterruptWatch watch(io_.interrupt, [&] {
      interrupted = true;
      jobs.CancelAll();
    });
    jobs.Start(std::move(rows), std::move(options));
    jobs.Wait();
  }
  const bool allSucceeded = view.Close(interrupted);
  if (!summaryLabel.empty() && mode_ == Mode::kUpdate && view.WalkSucceeded()) {
    view.Message(summaryLabel, vel::LoadString(vel::ids::kUpdateSuccessful));
  }
  const bool reportWritten = WriteReport(report);
  if (!allSucceeded || retrySkippedRows_) return kExitNegative;
  // The devices succeeded, but the record of it asked for is not whole.
  const bool logWhole = log_ == nullptr || log_->Failure().empty();
  return logWhole && reportWritten ? kExitOk : kExitFileError;
}

int DeviceRun::RunTargets(const std::vector<std::string>& texts) {
  std::vector<vel::JobRow> rows;
  std::vector<NamedRow> names;
  std::vector<vel::ReportedRow> reported;
  for (std::size_t i = 0; i < texts.size(); ++i) {
    const auto target = vel::ParseTarget(texts[i]);
    if (!target) return UsageError(target.error());
    rows.push_back(vel::RowOfTarget(i, *target));
    const std::string label = vel::MaskedTarget(texts[i]);
    names.push_back({i, label, label, target->portName});
    reported.push_back(vel::ReportedRowOfTarget(i, label, *target));
  }
  return RunJob(std::move(rows), std::move(names), std::move(reported), 1, {});
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

bool DeviceRun::ChooseRowsToRetry(vel::DeviceList& list) {
  const std::string path = args_.Value("retry");
  const auto lines = vel::ReadReportFile(path);
  if (!lines) {
    io_.err << Printable("zandor: " + path + ": " + vel::MaskKeys(lines.error()), true) << "\n";
    return false;
  }
  const vel::RetryChoice choice = vel::ChooseRowsToRetry(list, *lines);
  for (std::size_t row : choice.listRows) list.SetChecked(row, true);
  for (const vel::ReportedRow& gone : choice.gone) {
    io_.err << Printable(vel::MaskKeys("zandor: row " + std::to_string(gone.row) + " " + gone.name +
                                       " [" + gone.address + ":" + gone.port +
                                       "] of the report is no longer in the list; skipped"),
                         true)
            << "\n";
  }
  retrySkippedRows_ = !choice.gone.empty();
  if (choice.listRows.empty() && choice.gone.empty()) {
    io_.err << Printable("zandor: " + path + ": every row succeeded; nothing to retry", true)
            << "\n";
  }
  return true;
}

int DeviceRun::RunDeviceList() {
  vel::DeviceList list;
  std::string error;
  if (!LoadList(args_.Value("devices"), list, io_)) return kExitFileError;
  if (args_.Has("retry")) {
    if (!ChooseRowsToRetry(list)) return kExitFileError;
  } else if (!ChooseRows(list, &error)) {
    return UsageError(error);
  }
  std::vector<vel::JobRow> rows;
  std::vector<NamedRow> names;
  std::vector<vel::ReportedRow> reported;
  for (std::size_t row = 0; row < list.Count(); ++row) {
    const vel::DeviceEntry& entry = list.Row(row);
    if (!entry.checked) continue;
    rows.push_back(vel::RowOfList(row, entry));
    const std::string number = "row " + std::to_string(row + 1);
    names.push_back({row, vel::MaskKeys(number + " (" + entry.name + ")"),
                     vel::MaskKeys(number + " " + entry.name + " [" + vel::LinkOfRow(entry) + "]"),
                     rows.back().target ? rows.back().target->portName : std::string()});
    reported.push_back(vel::ReportedRowOfList(row, entry));
  }
  const int parallel =
      static_cast<int>(*ParseNumber(args_.Value("parallel", "1"), 1, kMaxParallel, 10));
  return RunJob(std::move(rows), std::move(names), std::move(reported), parallel,
                args_.Value("devices"));
}

int Run(Mode mode, const std::vector<std::string>& words, Streams io) {
  std::string error;
  const auto args = Args::Parse(words, kValued, kFlags, &error);
  if (!args) {
    io.err << "zandor: " << Printable(vel::MaskKeys(error), true) << "\n"
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
