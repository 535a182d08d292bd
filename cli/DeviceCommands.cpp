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
#include "common/AtomicFile.h"
#include "common/SameFile.h"
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
    "                            (matched by name, address and port)\n"
    "  --skip-current            leave a device alone whose every unit to update already holds\n"
    "                            the file's firmware version; it ends \"current\"\n";
constexpr const char* kDeviceOptions =
    "TARGET: serial:COMn | serial:/dev/ttyXXX | tcp:HOST:PORT[:KEY]  (HOST: an IPv4 address, an\n"
    "        IPv6 address in brackets or a name; KEY: 32 hex digits or 16 dash-separated pairs)\n"
    "Options:\n"
    "  --yes                     accept what would ask the operator (unknown compatibility,\n"
    "                            no unit chosen by the file)\n"
    "  --serial-number TEXT      the serial number for a device that has none (8-12 characters)\n"
    "  --serial-optional         a device may stay without a serial number\n"
    "  --on-silence=cancel|wait  answer to \"not responding\" without a terminal (default cancel)\n"
    "  --log FILE                write the message log\n"
    "  --json                    one JSON object per event on standard output\n"
    "  --quiet                   only each device's result and what went wrong: no progress,\n"
    "                            no versions, no log lines\n"
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
    "                            zandor-sim --replay; a later attempt at the row takes\n"
    "                            row-N.2.session, row-N.3.session, ...: nothing is replaced\n"
    "Ends each device with one line: TARGET: STATUS. Exit 0 when every device succeeded, 3 when\n"
    "they did but the log, the report or standard output could not be written, 1 when a device\n"
    "did not succeed, the list holds no rows, nothing is left to retry or a row to retry is no\n"
    "longer in the list, 3 before any device for a list, firmware file or report to retry that\n"
    "cannot be used and for an output that is an input; on SIGINT, SIGTERM or SIGHUP running\n"
    "devices are cancelled and the exit code is 130, 143 or 129. Output that nobody reads any\n"
    "more (a closed pipe) never stops the devices.\n";

const std::set<std::string> kValued = {
    "file",     "serial-number",   "on-silence", "log",    "devices", "rows",   "names",
    "parallel", "connect-timeout", "report",     "canary", "retry",   "record", "lock-wait"};
const std::set<std::string> kFlags = {"yes",  "serial-optional", "json",         "all",
                                      "help", "stop-on-failure", "skip-current", "quiet"};

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

// The rows a run goes through, as the job, the output and the report name them.
struct RunRows {
  std::vector<vel::JobRow> rows;
  std::vector<NamedRow> names;
  std::vector<vel::ReportedRow> reported;
};

// "row 3" or "rows 2, 5, 7", counted from 1.
std::string RowNumbers(const std::vector<std::size_t>& rows) {
  std::string text = rows.size() == 1 ? "row " : "rows ";
  for (std::size_t i = 0; i < rows.size(); ++i) {
    text += (i ? ", " : "") + std::to_string(rows[i] + 1);
  }
  return text;
}

// Everything one run of check or update shares.
class DeviceRun {
 public:
  DeviceRun(Mode mode, const Args& args, Streams io) : mode_(mode), args_(args), io_(io) {}
  int Run();

 private:
  int UsageError(const std::string& problem) const;
  // Says why the run stops, on standard error; the exit code.
  int Stop(const std::string& problem, int code) const;
  // A line about the run on standard error.
  void Say(const std::string& text) const;
  // Waits for the reader of a FIFO given as an output, until the process is asked to stop.
  vel::WaitControl ReaderWait(const std::string& path) const;
  // Reads the firmware file once up front, so that a bad file stops the run before any device
  // is touched; the exit code when it does.
  std::optional<int> ProbeFirmware();
  // The TARGETs; the exit code when one is not a target.
  std::optional<int> RowsOfTargets(const std::vector<std::string>& texts, RunRows* rows);
  // The ticked rows of the device list (all, --rows, --names or --retry's); the exit code when
  // the run stops there.
  std::optional<int> RowsOfList(RunRows* rows);
  bool ChooseRows(vel::DeviceList& list, std::string* error) const;
  // Ticks the rows that --retry's report lists as not successful and says which rows it takes,
  // which the list no longer holds and which the report does not name; the exit code when the
  // run stops there (a report that is not this update's, nothing to retry).
  std::optional<int> ChooseRowsToRetry(vel::DeviceList& list);
  // Refuses an output (log, report, session records) that is an input or another output, before
  // anything is written; the exit code when it does.
  std::optional<int> CheckOutputs(const RunRows& rows) const;
  // Runs the job over the rows through the engine's job facade and prints it; the exit code.
  int RunJob(RunRows rows, int parallel, const std::string& summaryLabel);
  // Writes --report's file, if asked for; false when it was asked for and could not be written.
  bool WriteReport(const std::vector<vel::ReportLine>& lines);

  Mode mode_;
  const Args& args_;
  Streams io_;
  std::string usage_;
  std::string firmware_;
  vel::WalkFacts facts_;
  vel::DeviceList list_;
  // Masks the keys of the run (the list's, the targets') and key-shaped text in every output.
  vel::KeyMask mask_;
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
  return ShowUsageError(io_.err, Printable(mask_(problem), true), usage_);
}

void DeviceRun::Say(const std::string& text) const {
  io_.err << Printable("zandor: " + mask_(text), true) << "\n";
}

int DeviceRun::Stop(const std::string& problem, int code) const {
  Say(problem);
  return code;
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
  if (args_.Has("quiet") && args_.Has("json"))
    return UsageError("give --quiet or --json, not both");
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
      return Stop("--record needs an existing folder: " + args_.Value("record"), kExitFileError);
    }
  }
  // The list first: a list that is not there stops the run before anything else is read.
  if (fromList &&
      !LoadList(args_.Value("devices"), list_, io_, vel::DeviceList::IfMissing::kRefuse)) {
    return kExitFileError;
  }
  if (fromList) mask_ = vel::ListKeyMask(list_);
  facts_.kind = mode_ == Mode::kUpdate ? vel::JobKind::kUpdate : vel::JobKind::kCheck;
  if (const auto stopped = ProbeFirmware()) return *stopped;
  RunRows rows;
  if (const auto stopped = fromList ? RowsOfList(&rows) : RowsOfTargets(positional, &rows)) {
    return *stopped;
  }
  if (const auto stopped = CheckOutputs(rows)) return *stopped;
  if (args_.Has("log")) {
    const std::string path = args_.Value("log");
    std::string error;
    log_ = LogFile::Open(path, ReaderWait(path), &error);
    if (!log_) return Stop("cannot write " + path + ": " + error, kExitFileError);
  }
  presentation_.json = args_.Has("json");
  presentation_.quiet = args_.Has("quiet");
  presentation_.log = log_.get();
  presentation_.interrupt = io_.interrupt;
  choices_.yes = args_.Has("yes");
  choices_.cancelOnSilence = silence == "cancel";
  choices_.serialNumber = serialNumber;
  choices_.interactive = isatty(STDIN_FILENO) == 1 && !presentation_.json;
  const int parallel =
      static_cast<int>(*ParseNumber(args_.Value("parallel", "1"), 1, kMaxParallel, 10));
  return RunJob(std::move(rows), fromList ? parallel : 1,
                fromList ? args_.Value("devices") : std::string());
}

std::optional<int> DeviceRun::ProbeFirmware() {
  if (firmware_.empty()) return std::nullopt;
  vel::FirmwareFile probe;
  const vel::LoadResult loaded = vel::HexFileLoader(probe).LoadPath(firmware_);
  if (!loaded.ok()) {
    return Stop(firmware_ + ": " +
                    (loaded.status == vel::LoadStatus::kCannotOpen
                         ? loaded.detail
                         : vel::LoadString(vel::ids::kUnexpectedFileFormat)),
                kExitFileError);
  }
  // Nothing of a file that fails its checksum test goes to a device.
  const auto defect = probe.FirstDefect();
  if (mode_ == Mode::kUpdate && defect) {
    return Stop(firmware_ + ": " + vel::LoadString(vel::ids::kFileFailsTest) + " " +
                    vel::DescribeDefect(*defect),
                kExitFileError);
  }
  facts_.firmwareFile = probe.FileName();
  facts_.firmwareDigest = probe.Digest();
  return std::nullopt;
}

std::optional<int> DeviceRun::CheckOutputs(const RunRows& rows) const {
  std::vector<vel::NamedPath> inputs, outputs;
  if (!firmware_.empty()) inputs.push_back({firmware_, "the firmware file"});
  if (args_.Has("devices")) inputs.push_back({args_.Value("devices"), "the device list"});
  if (args_.Has("retry")) inputs.push_back({args_.Value("retry"), "the report to retry"});
  if (args_.Has("log")) outputs.push_back({args_.Value("log"), "--log"});
  if (args_.Has("report")) outputs.push_back({args_.Value("report"), "--report"});
  if (args_.Has("record")) {
    // A record never replaces a file, so it takes no input's place: what it could clash with is
    // an output of this run not made yet under the name the row's record will take.
    for (const vel::JobRow& row : rows.rows) {
      outputs.push_back({vel::NextSessionRecordPath(args_.Value("record"), row.row),
                         "the session record of row " + std::to_string(row.row + 1)});
    }
  }
  const std::string clash = vel::OutputClash(inputs, outputs);
  if (clash.empty()) return std::nullopt;
  return Stop(clash + "; nothing was written", kExitFileError);
}

bool DeviceRun::WriteReport(const std::vector<vel::ReportLine>& lines) {
  if (!args_.Has("report")) return true;
  const std::string path = args_.Value("report");
  const vel::Result written = [&] {
    const auto committing = vel::HoldCommits(io_.fileCommits);
    return vel::WriteReport(path, lines, ReaderWait(path), mask_);
  }();
  if (written) return true;
  io_.err << Printable("zandor: cannot write the report " + path + ": " + written.error(), true)
          << "\n";
  return false;
}

int DeviceRun::RunJob(RunRows rows, int parallel, const std::string& summaryLabel) {
  CliJobView view(presentation_, choices_, std::move(rows.names), mask_);
  vel::WalkReport report(std::move(rows.reported), facts_);
  // A report from an earlier walk must not stay to read as this one's if this walk never writes
  // its own (a second Ctrl-C, a crash): it is replaced by one that says the walk is running.
  if (!WriteReport(report.InProgressLines())) return kExitFileError;
  vel::ReportingSink sink(report, view);
  vel::JobOptions options;
  options.kind = facts_.kind;
  options.firmwarePath = firmware_;
  options.parallel = parallel;
  options.canary = canary_;
  options.stopOnFailure = args_.Has("stop-on-failure");
  options.skipCurrent = args_.Has("skip-current");
  options.connectTimeoutMs = connectTimeoutMs_;
  options.lockWait = lockWait_;
  options.serialNumberOptional = args_.Has("serial-optional");
  options.recordFolder = args_.Value("record");
  options.fileCommits = io_.fileCommits;
  // Every status line is looked at only when the message log keeps them.
  options.logStatusLines = presentation_.log != nullptr;
  std::atomic<bool> interrupted{false};
  {
    vel::DeviceJobs jobs(sink);
    const InterruptWatch watch(io_.interrupt, [&] {
      interrupted = true;
      jobs.CancelAll();
    });
    jobs.Start(std::move(rows.rows), std::move(options));
    jobs.Wait();
  }
  const bool allSucceeded = view.Close(interrupted);
  if (!summaryLabel.empty() && mode_ == Mode::kUpdate && view.WalkSucceeded()) {
    view.Message(summaryLabel, vel::LoadString(vel::ids::kUpdateSuccessful));
  }
  const bool reportWritten = WriteReport(report.Lines());
  if (!allSucceeded || retrySkippedRows_) return kExitNegative;
  // The devices succeeded, but the record of it asked for is not whole.
  const bool logWhole = log_ == nullptr || log_->Failure().empty();
  return logWhole && reportWritten ? kExitOk : kExitFileError;
}

std::optional<int> DeviceRun::RowsOfTargets(const std::vector<std::string>& texts, RunRows* rows) {
  std::vector<std::string> keys;
  for (std::size_t i = 0; i < texts.size(); ++i) {
    const auto target = vel::ParseTarget(texts[i]);
    if (!target) return UsageError(target.error());
    keys.push_back(target->key);
    rows->rows.push_back(vel::RowOfTarget(i, *target));
    const std::string label = vel::MaskedTarget(texts[i]);
    rows->names.push_back({i, label, label, target->portName});
    rows->reported.push_back(vel::ReportedRowOfTarget(i, label, *target));
  }
  mask_ = vel::KeyMask(keys);
  return std::nullopt;
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

std::optional<int> DeviceRun::ChooseRowsToRetry(vel::DeviceList& list) {
  const std::string path = args_.Value("retry");
  const std::string listPath = args_.Value("devices");
  const auto lines = vel::ReadReportFile(path);
  if (!lines) return Stop(path + ": " + lines.error(), kExitFileError);
  if (const vel::Result usable = vel::CanRetryFrom(*lines, facts_); !usable) {
    return Stop(path + ": " + usable.error(), kExitFileError);
  }
  const vel::RetryChoice choice = vel::ChooseRowsToRetry(list, *lines);
  for (std::size_t row : choice.listRows) list.SetChecked(row, true);
  for (const vel::ReportedRow& gone : choice.gone) {
    Say("row " + std::to_string(gone.row) + " " + gone.name + " [" + gone.address + ":" +
        gone.port + "] of the report is no longer in the list; skipped");
  }
  if (!choice.uncovered.empty()) {
    Say(RowNumbers(choice.uncovered) + " of " + listPath + " not in the report " + path +
        "; left alone");
  }
  retrySkippedRows_ = !choice.gone.empty();
  if (choice.listRows.empty()) {
    // Nothing run is never a success, even when there was nothing left to do.
    return Stop(path + ": " +
                    (choice.gone.empty() ? "every row succeeded; nothing to retry"
                                         : "no row of the list is left to retry"),
                kExitNegative);
  }
  Say("retrying " + RowNumbers(choice.listRows) + " of " + listPath +
      ", which did not succeed in " + path);
  return std::nullopt;
}

std::optional<int> DeviceRun::RowsOfList(RunRows* rows) {
  const std::string& listPath = args_.Value("devices");
  if (list_.Count() == 0) return Stop(listPath + ": the list holds no devices", kExitNegative);
  std::string error;
  if (args_.Has("retry")) {
    if (const auto stopped = ChooseRowsToRetry(list_)) return stopped;
  } else if (!ChooseRows(list_, &error)) {
    return UsageError(error);
  }
  for (std::size_t row = 0; row < list_.Count(); ++row) {
    const vel::DeviceEntry& entry = list_.Row(row);
    if (!entry.checked) continue;
    rows->rows.push_back(vel::RowOfList(row, entry));
    const std::string number = "row " + std::to_string(row + 1);
    rows->names.push_back(
        {row, mask_(number + " (" + entry.name + ")"),
         mask_(number + " " + entry.name + " [" + vel::LinkOfRow(entry) + "]"),
         rows->rows.back().target ? rows->rows.back().target->portName : std::string()});
    rows->reported.push_back(vel::ReportedRowOfList(row, entry));
  }
  return std::nullopt;
}

int Run(Mode mode, const std::vector<std::string>& words, Streams io) {
  std::string error;
  const auto args = Args::Parse(words, kValued, kFlags, &error);
  if (!args) {
    return ShowUsageError(io.err, Printable(vel::MaskKeys(error), true),
                          mode == Mode::kCheck ? kCheckUsage : kUpdateUsage);
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
