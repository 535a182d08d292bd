#include <QFile>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <chrono>
#include <future>
#include <mutex>
#include <thread>

#include "GuiTests.h"
#include "app/VersionFile.h"
#include "console/JobEventQueue.h"
#include "views/MessageLog.h"

namespace zandorui {

// Holds a queue's lock from a thread of the test's own, as a worker put off the processor
// mid-publish would.
struct JobEventQueueSeam {
  static std::mutex& Lock(JobEventQueue& queue) { return queue.mutex_; }
};

namespace testing {

void VersionFileTest::RequestNeedsBothWordsInAnyCase() {
  using Words = std::vector<std::string>;
  QCOMPARE(VersionFileRequest(Words{"-V", "-F", "out.txt"}).value_or(""), std::string("out.txt"));
  QCOMPARE(VersionFileRequest(Words{"-f", "a", "x", "-v", "-F", "b"}).value_or(""),
           std::string("b"));
  QVERIFY(!VersionFileRequest(Words{"-v"}));
  QVERIFY(!VersionFileRequest(Words{"-f", "out.txt"}));
  QVERIFY(!VersionFileRequest(Words{"-v", "-f"}));      // no name after -f
  QVERIFY(!VersionFileRequest(Words{"firmware.hex"}));  // a file name alone starts the program
  // A trailing "-f" ends the scan: the earlier name stays.
  QCOMPARE(VersionFileRequest(Words{"-f", "a", "-v", "-f"}).value_or(""), std::string("a"));
}

void VersionFileTest::TheFileHoldsFiveLinesAndAZero() {
  const std::string text = VersionFileText();
  QCOMPARE(text, std::string("major=2\r\nminor=4\r\npoint=5\r\nphase=5\r\nbuild=1\r\n", 45) +
                     std::string(1, '\0'));
}

void VersionFileTest::TheProgramWritesItWithoutADisplay() {
  QTemporaryDir dir;
  QProcess program;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.remove(QStringLiteral("DISPLAY"));
  environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
  environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
  program.setProcessEnvironment(environment);
  program.setWorkingDirectory(dir.path());
  program.start(QStringLiteral(ZANDOR_BIN_DIR "/zandorupdate"),
                {QStringLiteral("-f"), QStringLiteral("version.txt"), QStringLiteral("-V")});
  QVERIFY(program.waitForFinished(10000));
  QCOMPARE(program.exitStatus(), QProcess::NormalExit);
  QCOMPARE(program.exitCode(), 0);
  QFile file(dir.filePath(QStringLiteral("version.txt")));
  QVERIFY(file.open(QIODevice::ReadOnly));
  QCOMPARE(file.readAll().toStdString(), VersionFileText());
}

void MessageLogTest::TrimsTheFirst500CharactersPast100Lines() {
  LogText log;
  for (int i = 0; i < 101; ++i)
    log.Append(QStringLiteral("line %1 of the log").arg(i, 3, 10, QLatin1Char('0')));
  const QString full = log.Text();
  QCOMPARE(log.LineCount(), 101);
  log.Append(QString());  // an empty text is an empty line, after the trim
  QCOMPARE(log.Text(), full.mid(LogText::kTrimCharacters) + QLatin1Char('\n'));
  QCOMPARE(log.LineCount(), static_cast<int>(log.Text().count(QLatin1Char('\n'))));
  log.Append(QStringLiteral("next"));  // under the bound again: nothing more is dropped
  QVERIFY(log.Text().startsWith(full.mid(LogText::kTrimCharacters)));
}

void MessageLogTest::KeepsEveryLineWhileHidden() {
  MessageLog window;
  window.show();
  window.AppendMessages({QStringLiteral("one"), QStringLiteral("two")});
  window.close();
  QVERIFY(!window.isVisible());
  for (int i = 0; i < 50; ++i) window.AppendMessage(QStringLiteral("hidden %1").arg(i));
  window.show();
  const QString shown = window.findChild<QPlainTextEdit*>(QStringLiteral("c1037"))->toPlainText();
  QVERIFY(shown.startsWith(QStringLiteral("one\ntwo\nhidden 0\n")));
  QVERIFY(shown.contains(QStringLiteral("hidden 49")));
  // While shown, lines appear once the event loop runs (one repaint for a whole batch).
  window.AppendMessages({QStringLiteral("batch 1"), QStringLiteral("batch 2")});
  QCoreApplication::processEvents();
  QVERIFY(window.findChild<QPlainTextEdit*>(QStringLiteral("c1037"))
              ->toPlainText()
              .endsWith(QStringLiteral("batch 1\nbatch 2\n")));
}

void MessageLogTest::TheFileAlsoHoldsTheLinesBeforeIt() {
  // What the list's load said comes before the program names its log file.
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("desk.log"));
  MessageLog window;
  window.AppendMessage(QStringLiteral("said at load"));
  QString error;
  QVERIFY2(window.SetLogFile(path, &error), qPrintable(error));
  window.AppendMessage(QStringLiteral("said later"));
  QFile file(path);
  QVERIFY(file.open(QIODevice::ReadOnly));
  QCOMPARE(file.readAll(), QByteArray("said at load\nsaid later\n"));
}

namespace {

// A progress event at `position`, a question, or a log line of the position.
vel::JobEvent Event(vel::JobEvent::Kind kind, std::size_t row, int position = 0) {
  const std::string text = std::to_string(position);
  if (kind == vel::JobEvent::Kind::kProgress) {
    return {row, vel::job::Progress{0, 0, position, 0, text}};
  }
  if (kind == vel::JobEvent::Kind::kQuestion) return {row, vel::job::Question{text, nullptr}};
  return {row, vel::job::LogLine{text}};
}

}  // namespace

void JobEventQueueTest::KeepsEveryLineAndTheLatestProgressOfEachRow() {
  using Kind = vel::JobEvent::Kind;
  std::vector<std::string> seen;
  JobEventQueue queue([&](vel::JobEvent& event) {
    seen.push_back((event.kind() == Kind::kProgress ? "p" : "l") + std::to_string(event.row) + ":" +
                   event.Text());
  });
  std::thread worker([&] {
    for (int i = 0; i < 1000; ++i) {
      queue.Publish(Event(Kind::kProgress, 0, i));
      queue.Publish(Event(Kind::kLogLine, 0, i));
      queue.Publish(Event(Kind::kProgress, 1, i));
    }
  });
  worker.join();
  queue.Drain();
  QCOMPARE(seen.size(), std::size_t(1002));
  QCOMPARE(seen[0], std::string("l0:0"));
  // Row 1's progress came unbroken by any other event of its row: each replaced the one before
  // in the queue, in the place of the first.
  QCOMPARE(seen[1], std::string("p1:999"));
  QCOMPARE(seen[999], std::string("l0:998"));
  QCOMPARE(seen[1000], std::string("p0:999"));  // in its place among the lines
  QCOMPARE(seen[1001], std::string("l0:999"));
}

void JobEventQueueTest::ALongBatchLetsTheEventLoopRunBetweenItsParts() {
  constexpr int kEvents = 10;
  constexpr auto kEach = std::chrono::milliseconds(JobEventQueue::kDrainBudgetMs / 3 + 1);
  std::vector<int> seen;
  JobEventQueue queue([&](vel::JobEvent& event) {
    std::this_thread::sleep_for(kEach);
    seen.push_back(std::stoi(event.Text()));
  });
  for (int i = 0; i < kEvents; ++i) queue.Publish(Event(vel::JobEvent::Kind::kLogLine, 0, i));
  queue.Drain();
  QVERIFY(!seen.empty());
  QVERIFY(seen.size() < std::size_t(kEvents));
  QTRY_COMPARE(seen.size(), std::size_t(kEvents));
  for (int i = 0; i < kEvents; ++i) QCOMPARE(seen[std::size_t(i)], i);
}

void JobEventQueueTest::AQuestionIsTakenWithoutWaitingForTheTimer() {
  int taken = 0;
  JobEventQueue queue([&](vel::JobEvent&) { ++taken; });
  std::thread worker([&] {
    queue.Publish(Event(vel::JobEvent::Kind::kLogLine, 0));
    queue.Publish(Event(vel::JobEvent::Kind::kQuestion, 0));
  });
  worker.join();
  QCoreApplication::processEvents();  // the posted drain, well before the timer's 33 ms
  QCOMPARE(taken, 2);
}

void JobEventQueueTest::TheWindowNeverWaitsForAWorkerHoldingTheQueue() {
  std::vector<int> seen;
  JobEventQueue queue([&](vel::JobEvent& event) { seen.push_back(std::stoi(event.Text())); });
  for (int i = 0; i < 3; ++i) queue.Publish(Event(vel::JobEvent::Kind::kLogLine, 0, i));
  std::promise<void> held, release;
  std::thread worker([&] {
    const std::lock_guard<std::mutex> holding(JobEventQueueSeam::Lock(queue));
    held.set_value();
    // Let go in the end even if the drain waited: then the check below fails instead of hanging.
    release.get_future().wait_for(std::chrono::seconds(2));
  });
  held.get_future().wait();
  queue.Drain();  // returns at once, with nothing applied
  const bool appliedWhileHeld = !seen.empty();
  release.set_value();
  worker.join();
  QVERIFY(!appliedWhileHeld);
  queue.Drain();
  QCOMPARE(seen, (std::vector<int>{0, 1, 2}));
}

}  // namespace testing
}  // namespace zandorui
