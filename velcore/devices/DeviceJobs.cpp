#include "devices/DeviceJobs.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>

#include "common/AtomicFile.h"
#include "common/Format.h"
#include "common/Strings.h"
#include "common/Version.h"
#include "devices/DeviceJobsSeam.h"
#include "devices/DeviceWalks.h"
#include "devices/RowOperations.h"
#include "devices/RowSession.h"
#include "devices/VersionCheck.h"
#include "engine/VelUpdateDoc.h"
#include "image/SharedFirmware.h"
#include "image/VersionText.h"
#include "link/SessionRecord.h"
#include "link/SessionRecorder.h"

namespace vel {

namespace {

// How the row's device was reached, for its session record: never its key.
std::string SessionLinkText(const DeviceTarget& target, const SerialSettings& serial) {
  if (target.kind == LinkKind::kTcp) {
    return "tcp " + target.address + ":" + target.port + (target.key.empty() ? "" : " enciphered");
  }
  static const char* const kParity = "NOEMS";
  static const char* const kStopBits[] = {"1", "1.5", "2"};
  const int parity = serial.parityIndex >= 0 && serial.parityIndex < 5 ? serial.parityIndex : 0;
  const int stop = serial.stopBitsIndex >= 0 && serial.stopBitsIndex < 3 ? serial.stopBitsIndex : 0;
  return "serial " + target.portName + " " + std::to_string(serial.BaudRate()) + " " +
         std::to_string(serial.DataBits()) + kParity[parity] + kStopBits[stop];
}

Action ActionOf(JobKind kind) {
  switch (kind) {
    case JobKind::kUpdate:
      return Action::kUpdate;
    case JobKind::kCheck:
      return Action::kCheck;
    case JobKind::kSendUnformatted:
      return Action::kUnformatted;
    case JobKind::kVantrelUpdate:
      return Action::kVantrel;
  }
  return Action::kUpdate;
}

// Gives the calling thread the lowest priority of its scheduling class (a thread's own nice value
// on Linux). A row waits on its device far more than it computes, so it still gets the processor
// it needs, while a window's thread is served first. (A thread of the idle class instead was seen
// to stall the window for over 100 ms: it can be kept off the processor while it holds a lock
// the window's thread waits for.)
void YieldToTheRestOfTheProgram() {
  constexpr int kRowNice = 19;
  setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), kRowNice);
}

// The serial number as the device gave it, empty when it has none.
std::string SerialNumberOf(const DeviceIdentity& device) {
  if (!device.HasSerialNumber()) return {};
  const auto* bytes = reinterpret_cast<const char*>(device.serialNumber.data());
  return std::string(bytes, strnlen(bytes, kSerialNumberSize));
}

// Each unit identification read, with the firmware of the file's image chosen for it.
std::vector<FinishedUnit> UnitsOf(const CVelUpdateDoc& doc) {
  const DeviceIdentity& device = doc.Identity();
  const FirmwareFile& file = doc.File();
  std::vector<FinishedUnit> units;
  for (int u = 0; u < std::min(device.unitCount, kMaxUnits); ++u) {
    FinishedUnit unit;
    unit.unit = u;
    unit.deviceType = device.typeCode[u];
    unit.hardware = FormatUnitHardware(device.hardwareVersion[u]);
    unit.firmwareBefore = FormatFirmwareVersion(device.firmwareVersion[u]);
    // The image the version check chose for the unit; none for a unit left out.
    const int image = device.unitImage[u];
    if (image != kNoImage && image < file.ImageCount()) {
      const std::string& version = file.Info(image).firmwareVersion;
      unit.firmwareOfFile = FormatFirmwareVersion(version);
      unit.downgrade = CheckFirmwareVersion(device.firmwareVersion[u], version) == kDoesNotFit;
    }
    unit.outcome = doc.OutcomeOfUnit(u);
    units.push_back(std::move(unit));
  }
  return units;
}

// "1", "1, 2": numbers for a note.
std::string NumberList(const std::vector<int>& numbers) {
  std::string text;
  for (int n : numbers) text += (text.empty() ? "" : ", ") + std::to_string(n);
  return text;
}

// The likely cause of a device that never answered as it should: its key.
std::string KeyHint(const JobRow& row, const DeviceResult& result, const CVelUpdateDoc& doc) {
  if (result.outcome != Outcome::kNotResponding) return {};
  if (row.target && !row.target->key.empty())
    return " (" + std::string(text::kEncipheredNoAnswer) + ")";
  if (doc.AnsweredStrangely()) return " (" + std::string(text::kStrangeAnswer) + ")";
  return {};
}

// What each unit of a device of several holds after an update that did not succeed, once
// anything went to a unit: " (unit 0 not sent, unit 1 programmed)"; empty otherwise.
std::string UnitOutcomesNote(const std::vector<int>& leftOut,
                             const std::vector<FinishedUnit>& units) {
  const bool anySent = std::any_of(units.begin(), units.end(), [](const FinishedUnit& unit) {
    return unit.outcome != UnitOutcome::kNotSent;
  });
  if (units.size() < 2 || !anySent) return {};
  std::string listed;
  for (const FinishedUnit& unit : units) {
    if (std::find(leftOut.begin(), leftOut.end(), unit.unit) != leftOut.end()) continue;
    listed += (listed.empty() ? "unit " : ", unit ") + std::to_string(unit.unit) + " " +
              UnitOutcomeText(unit.outcome);
  }
  return " (" + listed + ")";
}

// What a finished row's status text is followed by: units no image fits, units given firmware
// older than their own, what each unit holds after an update that did not succeed, and, after a
// success, images of the file that went to no unit.
std::string OutcomeNotes(const std::vector<int>& leftOut, const std::vector<FinishedUnit>& units,
                         bool succeeded, const std::vector<int>& imagesNotSent) {
  std::string notes;
  if (!leftOut.empty()) {
    const bool several = leftOut.size() > 1;
    notes += std::string(" (unit") + (several ? "s " : " ") + NumberList(leftOut) +
             " left out: no image of the file fits " + (several ? "them" : "it") + ")";
  }
  for (const FinishedUnit& unit : units) {
    if (!unit.downgrade) continue;
    notes += " (unit " + std::to_string(unit.unit) + " is given firmware " + unit.firmwareOfFile +
             ", older than its " + unit.firmwareBefore + ": a downgrade)";
  }
  if (!succeeded) notes += UnitOutcomesNote(leftOut, units);
  if (!imagesNotSent.empty()) {
    const bool several = imagesNotSent.size() > 1;
    notes += std::string(" (image") + (several ? "s " : " ") + NumberList(imagesNotSent) +
             " of the file not sent: no unit of the device takes " + (several ? "them" : "it") +
             ")";
  }
  return notes;
}

// Takes the lock of the row's device; the wait for it ends with the row's cancel, and what it
// says goes to the row's log.
DeviceLock LockRowDevice(const DeviceTarget& target, RowSession& session,
                         std::chrono::milliseconds limit) {
  RowDisplay& display = session.display;
  return DeviceLock::Take(EndpointOf(target), LockFolders::OfThisProcess(),
                          {&display.State().cancel, limit,
                           [&display](const std::string& line) { display.AppendMessage(line); }});
}

// How a row ends whose device lock was not taken: another process works with the device, or
// the row was cancelled while it waited.
std::pair<DeviceResult, std::string> EndWithoutLock(const DeviceLock& lock) {
  if (lock.GetState() == DeviceLock::State::kStopped) {
    return {{ids::kOperationCancelled, Outcome::kCancelled}, LoadString(ids::kOperationCancelled)};
  }
  return {{0, Outcome::kPortInUse}, lock.Failure()};
}

std::string CanaryFailedText(std::size_t canaries) {
  if (canaries == 1) return std::string(text::kNotReachedCanaryRow);
  return Format(format::kNotReachedCanaryRows, canaries);
}

}  // namespace

JobRow RowOfTarget(std::size_t row, const DeviceTarget& target) {
  return JobRow{row, target, {}, LinkName(target)};
}

std::string SessionRecordPath(const std::string& folder, std::size_t row, int attempt) {
  const std::string number = std::to_string(row + 1);
  const std::string name = attempt <= 1 ? number : number + "." + std::to_string(attempt);
  return (std::filesystem::path(folder) / ("row-" + name + ".session")).string();
}

std::string NextSessionRecordPath(const std::string& folder, std::size_t row) {
  for (int attempt = 1; attempt < kSessionRecordAttempts; ++attempt) {
    const std::string path = SessionRecordPath(folder, row, attempt);
    std::error_code failed;
    // Anything at the name takes it, a dangling symbolic link too.
    if (!std::filesystem::exists(std::filesystem::symlink_status(path, failed))) return path;
  }
  return SessionRecordPath(folder, row, kSessionRecordAttempts);
}

const char* JobKindName(JobKind kind) {
  switch (kind) {
    case JobKind::kUpdate:
      return "update";
    case JobKind::kCheck:
      return "check";
    case JobKind::kSendUnformatted:
      return "send-unformatted";
    case JobKind::kVantrelUpdate:
      return "update-vantrel";
  }
  return "update";
}

const std::string& JobEvent::Text() const {
  static const std::string kNone;
  return std::visit(
      [](const auto& record) -> const std::string& {
        if constexpr (requires { record.text; }) {
          return record.text;
        } else {
          return kNone;
        }
      },
      what);
}

const char* UnitOutcomeText(UnitOutcome outcome) {
  switch (outcome) {
    case UnitOutcome::kProgrammed:
      return "programmed";
    case UnitOutcome::kFailedPartWay:
      return "failed part-way";
    case UnitOutcome::kNotSent:
      break;
  }
  return "not sent";
}

// One job: its rows, the rows running, and the scheduling of the walk.
class DeviceJobs::Walk {
 public:
  Walk(JobEventSink& sink, std::vector<JobRow> rows, JobOptions options,
       std::shared_ptr<const DocumentPreparation> preparation)
      : sink_(sink),
        rows_(std::move(rows)),
        options_(std::move(options)),
        preparation_(std::move(preparation)),
        canaries_(static_cast<std::size_t>(std::max(options_.canary, 0))) {}

  void Run();
  void CancelRow(std::size_t row);
  void CancelAll();

 private:
  // The next row to begin; with `notReached` set, a row the walk ends without running it; with
  // `skipped`, a row the operator unticked before the walk reached it.
  struct NextStep {
    std::size_t index = 0;
    std::string notReached;
    bool skipped = false;
  };
  // Takes the row as the front end's list holds it now, when it gives one; false when the row is
  // no longer ticked.
  bool TakeLiveRow(std::size_t index);
  bool Refused();
  std::optional<NextStep> NextRow(std::unique_lock<std::mutex>& lock);
  bool RunRow(const JobRow& row);
  // Writes the row's session record into the record folder; a failure is a log line of the row.
  void KeepSessionRecord(const JobRow& row, const SessionRecorder& recorder,
                         const DeviceResult& result, const std::string& text);
  void Finish(const JobRow& row, const DeviceResult& result, const std::string& text,
              const CVelUpdateDoc* doc = nullptr);
  void Ended(std::size_t index, bool succeeded);
  void Work();

  JobEventSink& sink_;
  std::vector<JobRow> rows_;
  JobOptions options_;
  std::shared_ptr<const DocumentPreparation> preparation_;
  // The firmware file as the walk's documents load it: one copy for all rows while it is unchanged.
  const std::shared_ptr<SharedFirmware> firmware_ = std::make_shared<SharedFirmware>();
  const std::size_t canaries_;  // how many rows first run one at a time, before the others
  CancelFlag walkCancel_;
  std::mutex mutex_;                  // guards what follows
  std::condition_variable rowEnded_;  // a row ended: its link is free, a canary may be done
  std::vector<bool> started_ = std::vector<bool>(rows_.size(), false);
  std::set<std::size_t> cancelledBeforeStart_;
  std::set<std::string> busyLinks_;
  std::map<std::size_t, RowSession*> running_;
  std::size_t active_ = 0;  // rows begun and not yet ended
  std::size_t taken_ = 0;   // rows begun so far
  std::vector<bool> canary_ = std::vector<bool>(rows_.size(), false);
  std::size_t canariesTaken_ = 0;
  std::size_t canariesEnded_ = 0;
  bool canaryFailed_ = false;
  bool rowFailed_ = false;
  std::atomic<bool> allSucceeded_{true};
};

bool DeviceJobs::Walk::Refused() {
  if (rows_.empty() || options_.kind == JobKind::kCheck) return false;
  // A file that is missing or fails its checksum test goes to no device of the walk.
  std::shared_ptr<const LoadedFirmware> file;
  const bool loaded = firmware_->Load(options_.firmwarePath, nullptr, &file).ok();
  std::string message = kLoadHexFileFirst;
  if (loaded) {
    const auto defect = file->FirstDefect();
    if (!defect) return false;
    message = LoadString(ids::kFileFailsTest) + "\n" + DescribeDefect(*defect);
  }
  sink_.Publish({rows_.front().row, job::Message{message, nullptr}});
  return true;
}

std::optional<DeviceJobs::Walk::NextStep> DeviceJobs::Walk::NextRow(
    std::unique_lock<std::mutex>& lock) {
  for (;;) {
    if (walkCancel_.IsRequested()) return std::nullopt;
    bool waiting = false;
    for (std::size_t i = 0; i < rows_.size(); ++i) {
      if (started_[i]) continue;
      waiting = true;
      if (!TakeLiveRow(i)) {
        started_[i] = true;
        return NextStep{i, {}, true};
      }
      if (options_.stopOnFailure && rowFailed_) {
        started_[i] = true;
        return NextStep{i, std::string(text::kNotReachedAfterFailure)};
      }
      // The first rows taken are the canaries, one at a time; the others wait for them all.
      const bool canary = taken_ < canaries_;
      if (canary ? active_ > 0 : canariesEnded_ < canariesTaken_) break;
      if (!canary && canaryFailed_) {
        started_[i] = true;
        return NextStep{i, CanaryFailedText(canariesTaken_)};
      }
      if (busyLinks_.count(rows_[i].link) > 0) continue;
      started_[i] = true;
      busyLinks_.insert(rows_[i].link);
      ++active_;
      ++taken_;
      canary_[i] = canary;
      if (canary) ++canariesTaken_;
      return NextStep{i, {}};
    }
    if (!waiting) return std::nullopt;
    rowEnded_.wait(lock);
  }
}

bool DeviceJobs::Walk::TakeLiveRow(std::size_t index) {
  if (options_.liveRows == nullptr) return true;
  std::optional<JobRow> now = options_.liveRows->TickedRow(rows_[index].row);
  if (!now) return false;
  rows_[index] = std::move(*now);
  return true;
}

void DeviceJobs::Walk::Finish(const JobRow& row, const DeviceResult& result,
                              const std::string& text, const CVelUpdateDoc* doc) {
  if (!IsDone(result.outcome)) allSucceeded_ = false;
  job::RowFinished event;
  event.outcome = result.outcome;
  event.statusCode = result.statusCode;
  event.interrupted = result.interrupted;
  event.text = text;
  if (doc != nullptr) {
    event.leftOutUnits = doc->LeftOutUnits();
    event.serialNumber = SerialNumberOf(doc->Identity());
    event.deviceUnits = UnitsOf(*doc);
    event.firmwareDigest = doc->File().Digest();
    const bool sentTheFile =
        result.outcome == Outcome::kSucceeded &&
        (options_.kind == JobKind::kUpdate || options_.kind == JobKind::kVantrelUpdate);
    if (sentTheFile) event.imagesNotSent = doc->ImagesNotSent();
    const bool updating = options_.kind != JobKind::kCheck;
    event.notes =
        OutcomeNotes(event.leftOutUnits, updating ? event.deviceUnits : std::vector<FinishedUnit>{},
                     result.outcome == Outcome::kSucceeded, event.imagesNotSent) +
        KeyHint(row, result, *doc);
  }
  sink_.Publish({row.row, std::move(event)});
}

bool DeviceJobs::Walk::RunRow(const JobRow& row) {
  const bool checking = options_.kind == JobKind::kCheck;
  bool cancelledBeforeStart = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    cancelledBeforeStart = cancelledBeforeStart_.count(row.row) > 0;
  }
  if (cancelledBeforeStart) {
    Finish(row, {ids::kOperationCancelled, Outcome::kCancelled},
           LoadString(ids::kOperationCancelled));
    return false;
  }
  sink_.Publish({row.row, job::RowBegun{checking ? kDeviceChecking : kDeviceUpdating}});
  if (!row.target) {
    Finish(row, {0, Outcome::kUnusableRow}, row.problem);
    return false;
  }
  RowSession session(row.row, sink_, options_, preparation_.get(), firmware_);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    running_[row.row] = &session;
    if (walkCancel_.IsRequested()) session.display.State().cancel.Request();
  }
  // One process at a time works with a device, from before its link opens to after it closes.
  const DeviceLock deviceLock = LockRowDevice(*row.target, session, options_.lockWait);
  if (deviceLock.GetState() != DeviceLock::State::kHeld) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      running_.erase(row.row);
    }
    const auto [result, text] = EndWithoutLock(deviceLock);
    Finish(row, result, text);
    return false;
  }
  std::optional<SessionRecorder> recorder;
  if (!options_.recordFolder.empty()) {
    recorder.emplace(session.doc.Link().Ports());
    session.doc.Link().AttachPeer(&*recorder);
  }
  DeviceResult result;
  std::string text;
  // Every device gets the file as it stands on disk now.
  const bool loaded =
      options_.firmwarePath.empty() || session.doc.OnOpenDocument(options_.firmwarePath).ok();
  if (!loaded && !checking) {
    session.display.AppendMessage(std::string(text::kFileNotReadAgain) + options_.firmwarePath);
    result = {ids::kUpdateFailed, Outcome::kFailed};
  } else if (checking) {
    result = RunCheck(session.doc, *row.target, options_.serial);
  } else {
    result = RunAction(session.doc, *row.target, options_.serial, ActionOf(options_.kind));
    if (session.op.FoundCurrent() && result.outcome == Outcome::kDeclined) {
      result = {status::kDeviceCurrent, Outcome::kCurrent};
    }
  }
  text = checking ? CheckStatusText(result.statusCode) : UpdateResultText(result);
  if (recorder) {
    session.doc.Link().AttachPeer(nullptr);
    KeepSessionRecord(row, *recorder, result, text);
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    running_.erase(row.row);
  }
  Finish(row, result, text, &session.doc);
  return IsDone(result.outcome);
}

void DeviceJobs::Walk::KeepSessionRecord(const JobRow& row, const SessionRecorder& recorder,
                                         const DeviceResult& result, const std::string& text) {
  SessionRecord record;
  record.program = VersionLine();
  record.action = JobKindName(options_.kind);
  record.link = SessionLinkText(*row.target, options_.serial);
  record.file = std::filesystem::path(options_.firmwarePath).filename().string();
  record.status = result.statusCode;
  record.statusText = text;
  record.events = recorder.Events();
  const auto nameOf = [&](int attempt) {
    return SessionRecordPath(options_.recordFolder, row.row, attempt);
  };
  const Expected<std::string> written = [&] {
    const auto committing = HoldCommits(options_.fileCommits);
    return WriteNewFileAtomically(nameOf, kSessionRecordAttempts, FormatSession(record), 0600);
  }();
  if (!written) {
    sink_.Publish({row.row, job::LogLine{std::string(text::kSessionNotRecorded) + nameOf(1) + ": " +
                                         written.error()}});
  }
}

void DeviceJobs::Walk::Ended(std::size_t index, bool succeeded) {
  busyLinks_.erase(rows_[index].link);
  --active_;
  rowFailed_ = rowFailed_ || !succeeded;
  if (canary_[index]) {
    ++canariesEnded_;
    canaryFailed_ = canaryFailed_ || !succeeded;
  }
  rowEnded_.notify_all();
}

void DeviceJobs::Walk::Work() {
  if (options_.rowsYield) YieldToTheRestOfTheProgram();
  std::unique_lock<std::mutex> lock(mutex_);
  while (const auto next = NextRow(lock)) {
    const JobRow& row = rows_[next->index];
    lock.unlock();
    if (next->skipped) {
      sink_.Publish({row.row, job::RowSkipped{}});
      lock.lock();
      continue;
    }
    if (!next->notReached.empty()) {
      Finish(row, {0, Outcome::kNotReached}, next->notReached);
      lock.lock();
      continue;
    }
    const bool succeeded = RunRow(row);
    lock.lock();
    Ended(next->index, succeeded);
  }
}

void DeviceJobs::Walk::Run() {
  bool refused = Refused();
  if (!refused) {
    const int parallel = options_.kind == JobKind::kUpdate ? std::max(options_.parallel, 1) : 1;
    const std::size_t threads = std::min<std::size_t>(rows_.size(), parallel);
    std::vector<std::thread> workers;
    for (std::size_t t = 1; t < threads; ++t) workers.emplace_back([this] { Work(); });
    Work();
    for (std::thread& worker : workers) worker.join();
  }
  job::WalkFinished finished;
  finished.cancelled = walkCancel_.IsRequested();
  // A walk that took no row did nothing, which is never a success.
  finished.allSucceeded = !refused && taken_ > 0 && allSucceeded_ && !finished.cancelled;
  sink_.Publish({0, finished});
}

void DeviceJobs::Walk::CancelRow(std::size_t row) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto session = running_.find(row);
  if (session != running_.end()) {
    session->second->display.State().cancel.Request();
  } else {
    cancelledBeforeStart_.insert(row);
  }
}

void DeviceJobs::Walk::CancelAll() {
  std::lock_guard<std::mutex> lock(mutex_);
  walkCancel_.Request();
  for (auto& [row, session] : running_) session->display.State().cancel.Request();
}

DeviceJobs::DeviceJobs(JobEventSink& sink) : sink_(sink) {}

DeviceJobs::~DeviceJobs() {
  CancelAll();
  Wait();
}

bool DeviceJobs::Start(std::vector<JobRow> rows, JobOptions options) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (walk_ != nullptr) return false;
  if (thread_.joinable()) thread_.join();  // the last job's thread, past its end
  walk_ = std::make_unique<Walk>(sink_, std::move(rows), std::move(options), preparation_);
  thread_ = std::thread([this] {
    walk_->Run();
    std::lock_guard<std::mutex> done(mutex_);
    walk_.reset();
  });
  return true;
}

void DeviceJobs::CancelRow(std::size_t row) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (walk_ != nullptr) walk_->CancelRow(row);
}

void DeviceJobs::CancelAll() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (walk_ != nullptr) walk_->CancelAll();
}

void DeviceJobs::Wait() {
  std::thread finishing;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    finishing = std::move(thread_);
  }
  if (finishing.joinable()) finishing.join();
}

bool DeviceJobs::Running() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return walk_ != nullptr;
}

}  // namespace vel
