#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "common/AtomicFile.h"
#include "common/CancelFlag.h"
#include "devices/DeviceList.h"
#include "devices/DeviceLock.h"
#include "devices/DeviceOperations.h"
#include "engine/DeviceIdentity.h"
#include "engine/Operator.h"
#include "link/LinkTiming.h"
#include "link/SerialSettings.h"

namespace vel {

// What a job does to each of its rows.
enum class JobKind {
  kUpdate,           // identify and update ("Send To Zandor")
  kCheck,            // identify only ("Check Device Information")
  kSendUnformatted,  // the file as raw record lines ("Send unformatted VelHex file")
  kVantrelUpdate,    // identify once, then the 64 KiB procedure ("Update Vantrel II")
};

// One row of a job: how its device is reached, as the front end's list or targets give it.
struct JobRow {
  std::size_t row = 0;                 // the front end's index; every event names it
  std::optional<DeviceTarget> target;  // nothing when the row cannot reach a device
  std::string problem;                 // why not (a key that is not a key)
  std::string link;                    // rows on one port or endpoint never run at once
};

JobRow RowOfTarget(std::size_t row, const DeviceTarget& target);

// A list's rows as a walk finds them when it reaches each one: a front end whose operator may
// tick, untick or edit rows while the walk runs keeps it up to date from its own thread, and the
// walk's threads read copies. An unticked row is passed over without a word.
class LiveRows {
 public:
  void Set(std::vector<DeviceEntry> rows);
  // The row as it stands now when it is ticked (its target, or why it has none); nothing when it
  // is unticked or gone.
  std::optional<JobRow> TickedRow(std::size_t row) const;

 private:
  mutable std::mutex mutex_;
  std::vector<DeviceEntry> rows_;
};

// The word for what a job does, in reports and session records ("update", "check", ...).
const char* JobKindName(JobKind kind);

struct JobOptions {
  JobKind kind = JobKind::kUpdate;
  std::string firmwarePath;  // the file each row reads before its device (a check may go without)
  SerialSettings serial;
  int parallel = 1;  // rows of an update at once; checks go one at a time
  // The first `canary` rows run one at a time, and the rest only when every one of them
  // succeeded; otherwise the rest end not reached.
  int canary = 0;
  bool stopOnFailure = false;  // no row begins after a row did not succeed
  // A device whose every unit the update would change already holds the file's firmware for its
  // image is left alone after identification and ends current.
  bool skipCurrent = false;
  // The rows' threads run at the lowest scheduling priority (nice 19), so that a window's thread
  // keeps the processor it needs while hundreds of rows run.
  bool rowsYield = false;
  int connectTimeoutMs = kTcpConnectTimeoutMs;
  bool serialNumberOptional = false;
  bool logStatusLines = true;  // every status line also as an event (for a message log)
  // A message holds its row's worker until the front end acknowledges it (a message box's OK),
  // as a block error's message does before the block is sent again; other rows go on.
  bool messagesWait = false;
  // How long a row waits for its device while another process works with it; the row ends
  // failed, naming that process, when the wait ends first.
  std::chrono::milliseconds lockWait = kDeviceLockWaitLimit;
  // A folder that receives each row's session record ("row-N.session", N from 1, or the next
  // free attempt's name, see SessionRecordPath): every step of its exchange with its time.
  // Empty: nothing is recorded.
  std::string recordFolder;
  // Where the rows stand when the walk reaches them (the desktop's list); none: the rows as given.
  std::shared_ptr<const LiveRows> liveRows;
  // Held while a session record is being written (see FileCommits); may be none.
  FileCommits* fileCommits = nullptr;
};

// The name of a row's session record in a record folder: "row-N.session" (N from 1) for the
// first attempt, "row-N.K.session" for the K-th. A record never replaces a file: each takes the
// first of these names that is free, so every attempt at a row (a retry, a later walk) is kept.
std::string SessionRecordPath(const std::string& folder, std::size_t row, int attempt = 1);
// The name the row's next session record takes, as things stand in the folder now.
std::string NextSessionRecordPath(const std::string& folder, std::size_t row);
// How many attempts at one row a record folder keeps at most.
constexpr int kSessionRecordAttempts = 9999;

// What the front end answered: yes or no and, to a device to confirm, the operator's choices.
struct JobAnswer {
  bool yes = false;
  std::optional<DeviceChoices> choices;
};

// A question a row's worker waits on until the front end answers it, from any thread. What it
// asks is fixed when it is made, and a device to confirm comes as a copy of the worker's
// request: the front end may read it as long as it keeps the question, and no later than the
// worker forgets it. A cancel of the row ends the wait with No.
class JobQuestion {
 public:
  enum class Kind { kYesNo, kConfirmDevice, kAcknowledge };
  JobQuestion(Kind kind, Question question, std::string text)
      : kind_(kind), question_(question), text_(std::move(text)) {}
  explicit JobQuestion(ConfirmationRequest request)
      : kind_(Kind::kConfirmDevice),
        question_(Question::kNotResponding),
        request_(std::move(request)) {}

  Kind GetKind() const { return kind_; }
  Question GetQuestion() const { return question_; }
  const std::string& Text() const { return text_; }
  // The device and file version check to confirm (nullptr for the other kinds). The front end
  // makes its choices in a copy of it and answers with them.
  const ConfirmationRequest* Request() const { return request_ ? &*request_ : nullptr; }
  void Answer(bool yes);
  // Answers a device to confirm with the operator's choice of units, images and serial number,
  // which the worker takes into its own request.
  void Answer(bool yes, const DeviceChoices& choices);
  // Waits for the answer; No without choices when `cancel` came first.
  JobAnswer WaitForAnswer(const CancelFlag& cancel);

 private:
  void Give(JobAnswer answer);

  const Kind kind_;
  const Question question_;
  const std::string text_;
  const std::optional<ConfirmationRequest> request_;
  std::mutex mutex_;
  std::condition_variable answered_;
  std::optional<JobAnswer> answer_;
};

// One unit of a finished row's device, as identification read it, and what the row left on it.
struct FinishedUnit {
  int unit = 0;
  std::string deviceType;
  std::string hardware;        // as the version check shows it
  std::string firmwareBefore;  // the device's firmware before the row ran
  std::string firmwareOfFile;  // the firmware of the file's image for the unit, empty for none
  bool downgrade = false;      // the image chosen for the unit is older than its firmware
  UnitOutcome outcome = UnitOutcome::kNotSent;
};

// "programmed", "not sent", "failed part-way".
const char* UnitOutcomeText(UnitOutcome outcome);

// What a job reports, one small record per kind of event.
namespace job {
struct RowBegun {
  std::string text;  // "Device updating ..." or "Device checking ..."
};
// The running operation's bar (a phase's frames, a countdown, which runs down, a search) and
// the share of the row's whole update done, 0 to 100: it never goes back within the row and
// reaches 100 only when the update succeeded.
struct Progress {
  int low = 0, high = 0, position = 0;
  int overallPercent = 0;
  std::string text;  // the status line
};
struct ProgressEnded {};
struct StatusLine {
  std::string text;  // shown while no progress runs
};
struct StatusLogged {
  std::string text;  // a status line for the message log (every one the progress shows)
};
struct LogLine {
  std::string text;  // a message of the engine for the message log
};
struct Units {
  std::vector<UnitLabel> units;  // what the main form shows of the device's units
};
struct UnitsHidden {};
// A message for the operator; with a question (kAcknowledge) the worker waits until it is
// answered.
struct Message {
  std::string text;
  std::shared_ptr<JobQuestion> question;
};
// The worker waits for its answer.
struct Question {
  std::string text;
  std::shared_ptr<JobQuestion> question;
};
struct RowFinished {
  Outcome outcome = Outcome::kFailed;
  int statusCode = 0;
  std::string text;  // the row's Status, followed by the notes
  std::vector<int> leftOutUnits;
  bool interrupted = false;  // a row's update that must be run again (DeviceResult)
  std::string serialNumber;  // empty when the device has none or was never identified
  std::vector<FinishedUnit> deviceUnits;
  std::string firmwareDigest;  // SHA-256 of the file the row read, empty when it read none
  // What the row's outcome adds to its status text, each in brackets after it: units left out,
  // units given older firmware than they had, images of the file no unit took (a success only).
  std::string notes;
  std::vector<int> imagesNotSent;
};
struct RowSkipped {};  // unticked before the walk reached it: nothing was done
struct WalkFinished {
  bool allSucceeded = false;
  bool cancelled = false;
};
}  // namespace job

// What a job reports, in order per row: the row and one record of its kind. Events are copies:
// the front end's list is changed on its owner's thread only.
struct JobEvent {
  // In the order of the records in `what`.
  enum class Kind {
    kRowBegun,
    kProgress,
    kProgressEnded,
    kStatusLine,
    kStatusLogged,
    kLogLine,
    kUnits,
    kUnitsHidden,
    kMessage,
    kQuestion,
    kRowFinished,
    kRowSkipped,
    kWalkFinished,
  };
  using What =
      std::variant<job::RowBegun, job::Progress, job::ProgressEnded, job::StatusLine,
                   job::StatusLogged, job::LogLine, job::Units, job::UnitsHidden, job::Message,
                   job::Question, job::RowFinished, job::RowSkipped, job::WalkFinished>;

  std::size_t row = 0;
  What what;

  Kind kind() const { return static_cast<Kind>(what.index()); }
  template <class T>
  const T* If() const {
    return std::get_if<T>(&what);
  }
  template <class T>
  const T& As() const {
    return std::get<T>(what);
  }
  // The text of a kind that carries one; empty for the others.
  const std::string& Text() const;
};

// Receives a job's events, called from the job's worker threads.
class JobEventSink {
 public:
  virtual ~JobEventSink() = default;
  virtual void Publish(JobEvent event) = 0;
};

// The one way to run device operations: an update or a check of one row, or a walk over rows
// from the top down (one at a time, or up to N at once for updates, never two on one port or
// endpoint), each row on a worker thread with a document of its own. It returns at once and
// reports through events; a row or the whole walk can be cancelled.
class DeviceJobs {
 public:
  explicit DeviceJobs(JobEventSink& sink);
  ~DeviceJobs();  // cancels a running job and waits for it
  DeviceJobs(const DeviceJobs&) = delete;
  DeviceJobs& operator=(const DeviceJobs&) = delete;

  // Starts a job over `rows`; false (and nothing starts) while another job runs.
  bool Start(std::vector<JobRow> rows, JobOptions options);
  // Cancels one row: a running row ends cancelled, a row not begun is not begun.
  void CancelRow(std::size_t row);
  // Cancels the running rows; rows not yet begun are left as they were.
  void CancelAll();
  // Waits until the job has ended (its walk-finished event has been published).
  void Wait();
  bool Running() const;

 private:
  class Walk;
  friend struct DeviceJobsSeam;
  JobEventSink& sink_;
  std::shared_ptr<const struct DocumentPreparation> preparation_;
  mutable std::mutex mutex_;
  std::unique_ptr<Walk> walk_;
  std::thread thread_;
};

}  // namespace vel
