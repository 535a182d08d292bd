// The job facade against simulated devices: walks over list rows from the top down, side by side
// without sharing a link, events as the only results, questions answered from another thread,
// cancels of one row or of the walk, and an outcome for every ending.
#include <atomic>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

#include "SampleGen.h"
#include "common/Strings.h"
#include "devices/DeviceJobsSeam.h"
#include "devices/DeviceWalks.h"
#include "devices/VersionCheck.h"
#include "e2e/EndToEndSupport.h"
#include "support/CliRunner.h"
#include "support/Files.h"
#include "support/JobRecorder.h"
#include "support/LoopbackPeer.h"
#include "support/Ok.h"
#include "support/TempDir.h"

namespace vel::testing {
namespace {

const std::string kKey = "00-11-22-33-44-55-66-77-88-99-AA-BB-CC-DD-EE-FF";
const std::string kSample = std::string(ZANDOR_SAMPLES_DIR) + "/multi-unit.hex";

void ShortenWaits(DeviceJobs& jobs) {
  DeviceJobsSeam::PrepareDocuments(jobs, [](CVelUpdateDoc& doc) {
    doc.Link().Serial().SetTimeouts(100, 1000);
    doc.Link().Tcp().SetWaitStep(50);
  });
}

class Jobs : public ::testing::Test {
 protected:
  std::string StartDevice(sim::SimConfig config = {}) {
    servers.push_back(std::make_unique<sim::SimServer>(config));
    return std::to_string(servers.back()->StartTcp());
  }
  std::size_t AddTcpRow(const std::string& name, const std::string& port,
                        const std::string& key = kNoEncryption) {
    const std::size_t row = list.AddDevice();
    EXPECT_TRUE(Ok(list.SetCell(row, DeviceColumn::kName, name)));
    EXPECT_TRUE(Ok(list.SetCell(row, DeviceColumn::kAddress, "127.0.0.1")));
    EXPECT_TRUE(Ok(list.SetCell(row, DeviceColumn::kPort, port)));
    EXPECT_TRUE(Ok(list.SetCell(row, DeviceColumn::kKey, key)));
    list.SetChecked(row, true);
    return row;
  }
  std::vector<JobRow> CheckedRows() const {
    std::vector<JobRow> rows;
    for (std::size_t row = 0; row < list.Count(); ++row) {
      if (list.Row(row).checked) rows.push_back(RowOfList(row, list.Row(row)));
    }
    return rows;
  }
  JobOptions Options(JobKind kind = JobKind::kUpdate, const std::string& path = kSample) const {
    JobOptions options;
    options.kind = kind;
    options.firmwarePath = path;
    return options;
  }
  // Runs a job over the checked rows to its end and applies its events to the list, as a front
  // end does on its own thread; the walk-finished event.
  job::WalkFinished Run(JobOptions options) {
    DeviceJobs jobs(recorder);
    ShortenWaits(jobs);
    EXPECT_TRUE(jobs.Start(CheckedRows(), std::move(options)));
    jobs.Wait();
    for (const JobEvent& event : recorder.Events()) ApplyToList(event, list);
    EXPECT_FALSE(recorder.Of(JobEvent::Kind::kWalkFinished).empty());
    return recorder.Walked();
  }

  std::vector<std::unique_ptr<sim::SimServer>> servers;
  DeviceList list;
  JobRecorder recorder;
};

TEST_F(Jobs, MissingSerialPortFailsItsRowAndTheNextRowStillRuns) {
  const std::size_t serial = list.AddDevice();
  ASSERT_TRUE(Ok(list.SetCell(serial, DeviceColumn::kPort, "9")));
  list.SetChecked(serial, true);
  AddTcpRow("B", StartDevice());
  setenv("ZANDOR_COM_PORTS", "COM9=/dev/no-such-tty", 1);
  EXPECT_FALSE(Run(Options()).allSucceeded);
  unsetenv("ZANDOR_COM_PORTS");
  EXPECT_EQ(list.Row(0).status, LoadString(ids::kPortMissing));
  EXPECT_EQ(recorder.FinishedRow(0)->outcome, Outcome::kPortMissing);
  EXPECT_EQ(list.Row(1).status, "Device Update Successful");
}

TEST_F(Jobs, EncryptionIsOffAgainForTheNextRow) {
  sim::SimConfig keyed;
  keyed.key = "00112233445566778899AABBCCDDEEFF";
  AddTcpRow("keyed", StartDevice(keyed), kKey);
  AddTcpRow("plain", StartDevice());
  EXPECT_TRUE(Run(Options()).allSucceeded);
  EXPECT_EQ(list.Row(0).status, "Device Update Successful");
  EXPECT_EQ(list.Row(1).status, "Device Update Successful");
}

TEST_F(Jobs, NoFileLoadedAndNoRowChecked) {
  AddTcpRow("A", "3000");
  EXPECT_FALSE(Run(Options(JobKind::kUpdate, "")).allSucceeded);
  EXPECT_TRUE(recorder.Messaged("Load the Hex File !"));
  EXPECT_EQ(list.Row(0).status, "");
  list.UncheckAllDevices();
  EXPECT_FALSE(Run(Options()).allSucceeded) << "a walk of no rows is no success";
}

TEST_F(Jobs, TheLikelyCauseOfADeviceThatNeverAnswersIsNamed) {
  // A row with a key before a device without one: it never answers.
  AddTcpRow("keyed", StartDevice(), kKey);
  // A peer that answers every byte with one no device reply has, as a device deciphering with
  // another key would.
  LoopbackPeer garbled;
  garbled.Serve([](LoopbackPeer& peer) {
    for (int connection = 0; connection < 2; ++connection) {
      const int fd = peer.Accept();
      if (fd < 0) return;
      std::uint8_t byte = 0;
      while (::recv(fd, &byte, 1, 0) == 1) {
        const std::uint8_t answer = 0x42;
        if (::send(fd, &answer, 1, MSG_NOSIGNAL) != 1) break;
      }
      ::close(fd);
    }
  });
  AddTcpRow("garbled", std::to_string(garbled.Port()));
  EXPECT_FALSE(Run(Options(JobKind::kCheck)).allSucceeded);
  EXPECT_EQ(recorder.FinishedRow(0)->outcome, Outcome::kNotResponding);
  EXPECT_NE(list.Row(0).status.find("(" + std::string(text::kEncipheredNoAnswer) + ")"),
            std::string::npos)
      << list.Row(0).status;
  EXPECT_EQ(recorder.FinishedRow(1)->outcome, Outcome::kNotResponding);
  EXPECT_NE(list.Row(1).status.find("(" + std::string(text::kStrangeAnswer) + ")"),
            std::string::npos)
      << list.Row(1).status;
}

TEST_F(Jobs, BadStoredKeyIsReportedForItsRowAndNotUsed) {
  TempDir dir;
  const std::string stored = "A!127.0.0.1!" + StartDevice() + "!00-11-not-a-key";
  std::string shifted = stored;
  for (char& c : shifted) c = static_cast<char>(c + 4);
  WriteText(dir.File("list.txt"), shifted);
  ASSERT_TRUE(Ok(list.Load(dir.File("list.txt"))));
  list.CheckAllDevices();
  EXPECT_FALSE(Run(Options()).allSucceeded);
  EXPECT_EQ(list.Row(0).status, LoadString(ids::kInvalidEncryptionKey));
  EXPECT_EQ(recorder.FinishedRow(0)->outcome, Outcome::kUnusableRow);
  servers.back()->Stop();
  EXPECT_EQ(servers.back()->Device().IdentificationsAnswered(), 0);
}

TEST_F(Jobs, FileChangedOnDiskBetweenDevicesIsSentInItsNewState) {
  TempDir dir;
  const std::string path = dir.File("firmware.hex");
  samplegen::ImageSpec first;
  first.metadataItems = {"DeviceType = G4", "HardwareVersionList = ??"};
  first.segments = {0};
  first.bytesPerSegment = 0x4000;
  first.addressRecordType = 2;
  first.seed = 1;
  samplegen::ImageSpec second = first;
  second.seed = 2;
  WriteText(path, samplegen::Generate({first}).text);
  AddTcpRow("A", StartDevice());
  AddTcpRow("B", StartDevice());
  // When the first row ends, and before the next begins, the file changes on disk.
  struct ChangeAfterFirstRow final : JobEventSink {
    std::function<void()> change;
    void Publish(JobEvent event) override {
      if (event.kind() == JobEvent::Kind::kRowFinished && event.row == 0) change();
      if (event.kind() == JobEvent::Kind::kQuestion)
        JobRecorder().Answer(*event.As<job::Question>().question);
    }
  } sink;
  sink.change = [&] { WriteText(path, samplegen::Generate({second}).text); };
  DeviceJobs jobs(sink);
  ShortenWaits(jobs);
  ASSERT_TRUE(jobs.Start(CheckedRows(), Options(JobKind::kUpdate, path)));
  jobs.Wait();
  for (auto& server : servers) server->Stop();
  const auto a = servers[0]->Device().Programmed().at(0).segments.at(0);
  const auto b = servers[1]->Device().Programmed().at(0).segments.at(0);
  const auto expectedA = samplegen::Generate({first}).expected[0].at(0);
  const auto expectedB = samplegen::Generate({second}).expected[0].at(0);
  EXPECT_TRUE(std::equal(expectedA.begin(), expectedA.end(), a.begin()));
  EXPECT_TRUE(std::equal(expectedB.begin(), expectedB.end(), b.begin()));
}

// Rows A and C share an endpoint, B has its own: the walk still goes from the top down.
TEST_F(Jobs, RowsRunFromTheTopDownWhateverTheirEndpoints) {
  const std::string x = StartDevice(), y = StartDevice();
  AddTcpRow("A", x);
  AddTcpRow("B", y);
  AddTcpRow("C", x);
  EXPECT_TRUE(Run(Options()).allSucceeded);
  std::vector<std::size_t> begun;
  for (const JobEvent& e : recorder.Of(JobEvent::Kind::kRowBegun)) begun.push_back(e.row);
  EXPECT_EQ(begun, (std::vector<std::size_t>{0, 1, 2}));
}

TEST_F(Jobs, SideBySideRowsNeverShareAnEndpoint) {
  sim::SimConfig slow;
  slow.answerDelayMs = 1;
  const std::string x = StartDevice(slow), y = StartDevice(slow);
  AddTcpRow("A", x);
  AddTcpRow("B", y);
  AddTcpRow("C", x);
  JobOptions options = Options();
  options.parallel = 3;
  EXPECT_TRUE(Run(options).allSucceeded);
  std::set<std::size_t> running;
  bool sharedAtOnce = false, sideBySide = false;
  for (const JobEvent& e : recorder.Events()) {
    if (e.kind() == JobEvent::Kind::kRowBegun) running.insert(e.row);
    if (e.kind() == JobEvent::Kind::kRowFinished) running.erase(e.row);
    sharedAtOnce = sharedAtOnce || (running.count(0) > 0 && running.count(2) > 0);
    sideBySide = sideBySide || running.size() > 1;
  }
  EXPECT_FALSE(sharedAtOnce);
  EXPECT_TRUE(sideBySide);
  for (std::size_t row = 0; row < 3; ++row) {
    EXPECT_EQ(list.Row(row).status, "Device Update Successful");
  }
}

TEST_F(Jobs, ACancelledWalkStartsNoFurtherRow) {
  AddTcpRow("A", StartDevice());
  AddTcpRow("B", StartDevice());
  // The walk is cancelled at the first row's first progress (its identification), from the row's
  // own thread, so the cancel always comes before the transfer.
  struct CancelAtFirstProgress final : JobEventSink {
    explicit CancelAtFirstProgress(JobRecorder& events) : recorder(events) {}
    void Publish(JobEvent event) override {
      const bool progress = event.kind() == JobEvent::Kind::kProgress;
      recorder.Publish(std::move(event));
      if (progress && !cancelled.exchange(true)) jobs->CancelAll();
    }
    JobRecorder& recorder;
    DeviceJobs* jobs = nullptr;
    std::atomic<bool> cancelled{false};
  } sink(recorder);
  DeviceJobs jobs(sink);
  sink.jobs = &jobs;
  ShortenWaits(jobs);
  ASSERT_TRUE(jobs.Start(CheckedRows(), Options()));
  jobs.Wait();
  for (const JobEvent& event : recorder.Events()) ApplyToList(event, list);
  EXPECT_EQ(recorder.FinishedRow(0)->outcome, Outcome::kCancelled);
  EXPECT_EQ(list.Row(0).status, "Cancelled at the operator's request");
  EXPECT_EQ(list.Row(1).status, "");  // not begun: left as it was
  const job::WalkFinished finished = recorder.Walked();
  EXPECT_TRUE(finished.cancelled);
  EXPECT_FALSE(finished.allSucceeded);
}

// The nice value of the calling thread, as the kernel shows it (the 19th field of its stat).
int NiceOfThisThread() {
  std::ifstream stat("/proc/thread-self/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  std::istringstream fields(text.substr(text.rfind(')') + 2));  // past "pid (name) "
  std::string field;
  for (int f = 3; f <= 19 && fields >> field; ++f) {
  }
  return std::stoi(field);
}

TEST_F(Jobs, RowsThatYieldRunBelowTheRestOfTheProgram) {
  AddTcpRow("A", StartDevice());
  struct NiceOfTheRow final : JobEventSink {
    explicit NiceOfTheRow(JobRecorder& events) : recorder(events) {}
    void Publish(JobEvent event) override {
      if (event.kind() == JobEvent::Kind::kRowBegun) nice = NiceOfThisThread();
      recorder.Publish(std::move(event));  // answers the row's questions
    }
    JobRecorder& recorder;
    std::atomic<int> nice{-100};
  };
  const int ours = NiceOfThisThread();
  for (const bool yield : {false, true}) {
    NiceOfTheRow sink(recorder);
    DeviceJobs jobs(sink);
    JobOptions options = Options(JobKind::kCheck);
    options.rowsYield = yield;
    ASSERT_TRUE(jobs.Start(CheckedRows(), std::move(options)));
    jobs.Wait();
    EXPECT_EQ(sink.nice, yield ? 19 : ours) << "rows yield: " << yield;
  }
  EXPECT_EQ(NiceOfThisThread(), ours) << "the thread that started the walk keeps its priority";
}

TEST_F(Jobs, ARowIsCancelledAloneWhetherRunningOrWaiting) {
  AddTcpRow("A", StartDevice());
  AddTcpRow("B", StartDevice());
  AddTcpRow("C", StartDevice());
  DeviceJobs jobs(recorder);
  ShortenWaits(jobs);
  ASSERT_TRUE(jobs.Start(CheckedRows(), Options()));
  jobs.CancelRow(2);  // not begun yet
  while (recorder.Of(JobEvent::Kind::kProgress).empty()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  jobs.CancelRow(0);  // running
  jobs.Wait();
  EXPECT_EQ(recorder.FinishedRow(0)->outcome, Outcome::kCancelled);
  EXPECT_EQ(recorder.FinishedRow(1)->outcome, Outcome::kSucceeded);
  EXPECT_EQ(recorder.FinishedRow(2)->outcome, Outcome::kCancelled);
  servers[2]->Stop();
  EXPECT_EQ(servers[2]->Device().IdentificationsAnswered(), 0);
}

TEST_F(Jobs, AFileThatFailsItsTestIsRefusedBeforeAnyRow) {
  TempDir dir;
  std::string text = ReadFile(kSample);
  text.replace(text.find("\n:10") + 12, 1, text[text.find("\n:10") + 12] == '0' ? "1" : "0");
  WriteText(dir.File("bad.hex"), text);
  AddTcpRow("A", StartDevice());
  EXPECT_FALSE(Run(Options(JobKind::kUpdate, dir.File("bad.hex"))).allSucceeded);
  EXPECT_NE(
      recorder.Of(JobEvent::Kind::kMessage).at(0).Text().find(LoadString(ids::kFileFailsTest)),
      std::string::npos);
  EXPECT_EQ(list.Row(0).status, "");
  servers.back()->Stop();
  EXPECT_TRUE(servers.back()->Device().IdleBytes().empty());
}

TEST_F(Jobs, QuestionsAreAnsweredFromTheFrontEndsThread) {
  // A check run waits for the operator's word on the device; a silent device's question waits
  // too. Both are answered here, on the test's thread, while the workers wait.
  sim::SimConfig silentAfterBlockId;
  silentAfterBlockId.faults.silenceFromFrame = 1;
  AddTcpRow("checked", StartDevice());
  recorder.answerQuestions = false;
  DeviceJobs jobs(recorder);
  ASSERT_TRUE(jobs.Start(CheckedRows(), Options(JobKind::kCheck, kSample)));
  int confirmations = 0;
  for (auto event = recorder.Take(std::chrono::seconds(10)); event;
       event = recorder.Take(std::chrono::seconds(10))) {
    if (event->kind() == JobEvent::Kind::kQuestion) {
      ASSERT_EQ(event->As<job::Question>().question->GetKind(), JobQuestion::Kind::kConfirmDevice);
      EXPECT_EQ(event->As<job::Question>().question->Request()->device.typeCode[0], "G4 ");
      ++confirmations;
      event->As<job::Question>().question->Answer(true);
    }
    if (event->kind() == JobEvent::Kind::kWalkFinished) break;
  }
  jobs.Wait();
  EXPECT_EQ(confirmations, 1);
  EXPECT_EQ(recorder.FinishedRow(0)->outcome, Outcome::kSucceeded);
  EXPECT_EQ(recorder.FinishedRow(0)->text, "Device Information Success");

  list = DeviceList();
  AddTcpRow("silent", StartDevice(silentAfterBlockId));
  JobRecorder asking;
  asking.answerQuestions = false;
  DeviceJobs second(asking);
  ShortenWaits(second);  // forty unanswered tries, each a read of the link's own length
  ASSERT_TRUE(second.Start(CheckedRows(), Options()));
  int asked = 0;
  for (auto event = asking.Take(std::chrono::seconds(30)); event;
       event = asking.Take(std::chrono::seconds(30))) {
    if (event->kind() == JobEvent::Kind::kQuestion) {
      if (event->As<job::Question>().question->GetKind() == JobQuestion::Kind::kConfirmDevice) {
        asking.Answer(*event->As<job::Question>().question);
      } else {
        EXPECT_EQ(event->As<job::Question>().question->GetQuestion(), Question::kNotResponding);
        event->As<job::Question>().question->Answer(++asked == 2);  // wait once, then give up
      }
    }
    if (event->kind() == JobEvent::Kind::kWalkFinished) break;
  }
  second.Wait();
  EXPECT_EQ(asked, 2);
  EXPECT_EQ(asking.FinishedRow(0)->outcome, Outcome::kFailed);
}

// A device to confirm reaches the front end as a copy, which stays readable after its row has
// ended, and only the choices the answer carries reach the device. An answer after a cancel
// reaches nothing.
TEST_F(Jobs, AConfirmationIsACopyAndItsAnswerCarriesTheChoices) {
  sim::SimConfig hub;
  hub.units = {Unit("G4 ", "A1", "100", 0), Unit("G4 ", "B2", "100", 1),
               Unit("G6 ", "A1", "100", 2)};
  AddTcpRow("hub", StartDevice(hub));
  recorder.answerQuestions = false;
  DeviceJobs jobs(recorder);
  ShortenWaits(jobs);
  ASSERT_TRUE(jobs.Start(CheckedRows(), Options()));
  std::shared_ptr<JobQuestion> kept;
  for (auto event = recorder.Take(std::chrono::seconds(30)); event;
       event = recorder.Take(std::chrono::seconds(30))) {
    if (event->kind() == JobEvent::Kind::kQuestion) {
      ASSERT_EQ(event->As<job::Question>().question->GetKind(), JobQuestion::Kind::kConfirmDevice);
      kept = event->As<job::Question>().question;
      ConfirmationRequest mine = *kept->Request();
      VersionCheck check(mine);
      check.ToggleUnit(1);  // the operator leaves unit 1 out
      ASSERT_EQ(check.Evaluate(), VersionCheck::OkOutcome::kAccepted);
      check.Accept(check.InitialSerialText());
      kept->Answer(true, check.Choices());
    }
    if (event->kind() == JobEvent::Kind::kWalkFinished) break;
  }
  jobs.Wait();
  ASSERT_NE(kept, nullptr);
  EXPECT_EQ(recorder.FinishedRow(0)->outcome, Outcome::kSucceeded);
  EXPECT_EQ(kept->Request()->device.typeCode[2], "G6 ");
  servers.back()->Stop();
  const auto units = servers.back()->Device().Programmed();
  // Of the three units the check chose, the two left selected were sent and run.
  ASSERT_EQ(units.size(), 2u);
  EXPECT_TRUE(units[0].runFrameSeen);
  EXPECT_TRUE(units[1].runFrameSeen);

  list = DeviceList();
  AddTcpRow("checked", StartDevice());
  JobRecorder late;
  late.answerQuestions = false;
  DeviceJobs second(late);
  ShortenWaits(second);
  ASSERT_TRUE(second.Start(CheckedRows(), Options(JobKind::kCheck)));
  std::shared_ptr<JobQuestion> unanswered;
  for (auto event = late.Take(std::chrono::seconds(30)); event;
       event = late.Take(std::chrono::seconds(30))) {
    if (event->kind() == JobEvent::Kind::kQuestion) {
      unanswered = event->As<job::Question>().question;
      second.CancelAll();
    }
    if (event->kind() == JobEvent::Kind::kWalkFinished) break;
  }
  second.Wait();
  ASSERT_NE(unanswered, nullptr);
  ConfirmationRequest afterwards = *unanswered->Request();
  VersionCheck check(afterwards);
  check.ToggleUnit(0);
  unanswered->Answer(true, check.Choices());
  EXPECT_EQ(late.FinishedRow(0)->outcome, Outcome::kCancelled);
  EXPECT_TRUE(late.Walked().cancelled);
}

TEST_F(Jobs, EveryEndingHasItsOutcome) {
  sim::SimConfig busy;
  busy.faults.busy = true;
  sim::SimConfig wrongType;
  wrongType.units = {Unit("N8 ", "A1", "100")};
  AddTcpRow("busy", StartDevice(busy));
  AddTcpRow("wrong", StartDevice(wrongType));
  std::uint16_t closedPort;
  {
    sim::SimServer closed(sim::SimConfig{});
    closedPort = static_cast<std::uint16_t>(closed.StartTcp());
  }
  AddTcpRow("nobody", std::to_string(closedPort));
  EXPECT_FALSE(Run(Options()).allSucceeded);
  EXPECT_EQ(recorder.FinishedRow(0)->outcome, Outcome::kBusy);
  EXPECT_EQ(recorder.FinishedRow(1)->outcome, Outcome::kDeclined);
  EXPECT_EQ(recorder.FinishedRow(2)->outcome, Outcome::kNotResponding);
  EXPECT_EQ(list.Row(0).status, "System busy! Please try later!");
  EXPECT_EQ(list.Row(1).status, "Device Update Failed");
}

// The list is read and changed on one thread only, however many workers run: a reader keeps
// reading it while a parallel walk runs, and the walk's results reach it as events.
TEST_F(Jobs, TheListStaysWithItsOwnerDuringAParallelWalk) {
  for (int i = 0; i < 4; ++i) AddTcpRow("D" + std::to_string(i), StartDevice());
  JobOptions options = Options();
  options.parallel = 4;
  recorder.answerQuestions = true;
  DeviceJobs jobs(recorder);
  ASSERT_TRUE(jobs.Start(CheckedRows(), std::move(options)));
  std::size_t statusesSeen = 0;
  bool finished = false;
  while (!finished) {
    for (std::size_t row = 0; row < list.Count(); ++row) {
      statusesSeen += list.Row(row).status.empty() ? 0 : 1;
    }
    if (auto event = recorder.Take(std::chrono::milliseconds(1))) {
      ApplyToList(*event, list);
      if (event->kind() == JobEvent::Kind::kRowBegun) list.AddDevice();  // grows under the walk
      finished = event->kind() == JobEvent::Kind::kWalkFinished;
    }
  }
  jobs.Wait();
  EXPECT_GT(statusesSeen, 0u);
  for (std::size_t row = 0; row < 4; ++row) {
    EXPECT_EQ(list.Row(row).status, "Device Update Successful");
  }
}

// A port where nothing listens any more: its row fails at once.
std::string ClosedPort() {
  sim::SimServer gone{sim::SimConfig{}};
  return std::to_string(gone.StartTcp());
}

// Where each row's begun and finished events stand in the order the walk published them.
struct RowTimeline {
  std::map<std::size_t, std::size_t> begun, finished;
};
RowTimeline TimelineOf(const std::vector<JobEvent>& events) {
  RowTimeline timeline;
  for (std::size_t i = 0; i < events.size(); ++i) {
    if (events[i].kind() == JobEvent::Kind::kRowBegun) timeline.begun[events[i].row] = i;
    if (events[i].kind() == JobEvent::Kind::kRowFinished) timeline.finished[events[i].row] = i;
  }
  return timeline;
}

TEST_F(Jobs, AFailedCanaryLeavesTheOtherRowsNotReachedAndUntouched) {
  AddTcpRow("canary", ClosedPort());
  for (const char* name : {"B", "C"}) AddTcpRow(name, StartDevice());
  JobOptions options = Options();
  options.canary = 1;
  options.parallel = 4;
  EXPECT_FALSE(Run(std::move(options)).allSucceeded);
  EXPECT_NE(recorder.FinishedRow(0)->outcome, Outcome::kSucceeded);
  for (std::size_t row : {1u, 2u}) {
    EXPECT_EQ(recorder.FinishedRow(row)->outcome, Outcome::kNotReached);
    EXPECT_EQ(list.Row(row).status, "Not reached: the first row did not succeed");
  }
  EXPECT_TRUE(recorder.Of(JobEvent::Kind::kRowBegun).size() == 1u);
  for (auto& server : servers) {
    server->Stop();
    EXPECT_EQ(server->Device().IdentificationsAnswered(), 0);
  }
}

TEST_F(Jobs, CanariesRunOneAtATimeAndTheRestSideBySideAfterThem) {
  for (const char* name : {"A", "B", "C", "D", "E"}) AddTcpRow(name, StartDevice());
  JobOptions options = Options();
  options.canary = 2;
  options.parallel = 3;
  EXPECT_TRUE(Run(std::move(options)).allSucceeded);
  const RowTimeline t = TimelineOf(recorder.Events());
  ASSERT_EQ(t.finished.size(), 5u);
  EXPECT_LT(t.finished.at(0), t.begun.at(1));
  for (std::size_t row = 2; row < 5; ++row) EXPECT_LT(t.finished.at(1), t.begun.at(row));
  // The rest ran side by side: the last began before the first of them ended.
  EXPECT_LT(t.begun.at(4), std::min({t.finished.at(2), t.finished.at(3)}));
}

TEST_F(Jobs, CanariesThatDidNotAllSucceedSayHowManyThereWere) {
  AddTcpRow("A", StartDevice());
  AddTcpRow("B", ClosedPort());
  AddTcpRow("C", StartDevice());
  JobOptions options = Options();
  options.canary = 2;
  EXPECT_FALSE(Run(std::move(options)).allSucceeded);
  EXPECT_EQ(list.Row(0).status, "Device Update Successful");
  EXPECT_EQ(list.Row(2).status, "Not reached: not all of the first 2 rows succeeded");
}

TEST_F(Jobs, StopOnFailureBeginsNoRowAfterAFailure) {
  AddTcpRow("A", StartDevice());
  AddTcpRow("B", ClosedPort());
  AddTcpRow("C", StartDevice());
  AddTcpRow("D", StartDevice());
  JobOptions options = Options();
  options.stopOnFailure = true;
  EXPECT_FALSE(Run(std::move(options)).allSucceeded);
  EXPECT_EQ(list.Row(0).status, "Device Update Successful");
  EXPECT_NE(recorder.FinishedRow(1)->outcome, Outcome::kSucceeded);
  for (std::size_t row : {2u, 3u}) {
    EXPECT_EQ(recorder.FinishedRow(row)->outcome, Outcome::kNotReached);
    EXPECT_EQ(list.Row(row).status, "Not reached: an earlier row did not succeed");
  }
  servers.back()->Stop();
  EXPECT_EQ(servers.back()->Device().IdentificationsAnswered(), 0);
}

TEST_F(Jobs, AFinishedRowTellsWhatIdentificationRead) {
  sim::SimConfig twoUnits;
  twoUnits.units = {sim::SimUnit{0, "G4 ", "A1", "100", {}},
                    sim::SimUnit{1, "UST", "A1", "100", {}}};
  AddTcpRow("A", StartDevice(twoUnits));
  EXPECT_TRUE(Run(Options()).allSucceeded);
  const auto finished = recorder.FinishedRow(0);
  ASSERT_TRUE(finished.has_value());
  EXPECT_EQ(finished->serialNumber, "SIM0000000000001");
  ASSERT_EQ(finished->deviceUnits.size(), 2u);
  EXPECT_EQ(finished->deviceUnits[0].deviceType, "G4 ");
  EXPECT_EQ(finished->deviceUnits[0].firmwareBefore, "1.00");
  EXPECT_EQ(finished->deviceUnits[0].firmwareOfFile, "3.05");
  // No image of the file fits the second unit: it is left out and gets no firmware of the file.
  EXPECT_EQ(finished->leftOutUnits, std::vector<int>{1});
  EXPECT_EQ(finished->deviceUnits[1].deviceType, "UST");
  EXPECT_EQ(finished->deviceUnits[1].firmwareOfFile, "");
}

TEST(WalkCommands, KeepAListAndUpdateItsRows) {
  TempDir dir;
  const std::string listFile = dir.File("KestaLST.txt");
  sim::SimServer a{sim::SimConfig{}}, b{sim::SimConfig{}};
  const std::string portA = std::to_string(a.StartTcp()), portB = std::to_string(b.StartTcp());
  using zandor::testing::Zandor;
  EXPECT_EQ(Zandor({"devices", "--list", listFile, "add", "--name", "A", "--address", "127.0.0.1",
                    "--port", portA})
                .code,
            0);
  EXPECT_EQ(Zandor({"devices", "--list", listFile, "add", "--name", "B", "--address", "127.0.0.1",
                    "--port", portB, "--key", kKey})
                .code,
            0);
  EXPECT_EQ(Zandor({"devices", "--list", listFile, "add", "--name", "bad!name"}).code, 1);
  EXPECT_EQ(Zandor({"devices", "--list", listFile, "set", "2", "--key", kNoEncryption}).code, 0);
  const auto listed = Zandor({"devices", "--list", listFile, "list"});
  EXPECT_NE(listed.out.find("   1  A  127.0.0.1  " + portA), std::string::npos) << listed.out;
  EXPECT_EQ(std::count(listed.out.begin(), listed.out.end(), '\n'), 2);

  const auto run = Zandor({"update", kSample, "--devices", listFile, "--parallel", "2"});
  EXPECT_EQ(run.code, 0) << run.out << run.err;
  EXPECT_NE(run.out.find("row 1 A [tcp:127.0.0.1:" + portA + "]: Device Update Successful"),
            std::string::npos)
      << run.out;
  EXPECT_LT(run.out.find("row 1 A"), run.out.find("row 2 B")) << "results in list order";
  const auto one = Zandor({"check", "--devices", listFile, "--names", "B"});
  EXPECT_EQ(one.code, 0) << one.out << one.err;
  EXPECT_EQ(one.out.find("row 1"), std::string::npos);
  EXPECT_NE(one.out.find("Device Information Success"), std::string::npos);
  EXPECT_EQ(Zandor({"update", kSample, "--devices", listFile, "--rows", "3"}).code, 2);
  EXPECT_EQ(Zandor({"devices", "--list", listFile, "remove", "1"}).code, 0);
  EXPECT_EQ(Zandor({"devices", "--list", listFile, "list"}).out.find("  A  "), std::string::npos);
}

}  // namespace
}  // namespace vel::testing
