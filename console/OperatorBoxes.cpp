#include "OperatorBoxes.h"

#include <QMessageBox>
#include <QTimer>
#include <QWidget>
#include <algorithm>

#include "VersionDialog.h"
#include "WalkController.h"
#include "views/MessageLog.h"
#include "widgets/AppStyle.h"

namespace zandorui {

namespace {

// How long a version window that has not closed itself keeps the next one from opening.
constexpr int kVersionWindowSettleMs = 100;

}  // namespace

void Inform(QWidget& over, const QString& text) {
  QMessageBox::information(&over, over.window()->windowTitle(), text);
}

OperatorBoxes::OperatorBoxes(QWidget& over, WalkController& walk, MessageLog& log)
    : QObject(&over), over_(over), walk_(walk), log_(log) {
  connect(&walk_, &WalkController::MessageArrived, this, &OperatorBoxes::ShowMessage);
  connect(&walk_, &WalkController::QuestionAsked, this, &OperatorBoxes::Ask);
  connect(&walk_, &WalkController::Cancelling, this, [this] { CloseSettled(std::nullopt); });
  connect(&walk_, &WalkController::RowEnded, this, [this](std::size_t row) { CloseSettled(row); });
}

void OperatorBoxes::ShowLater(std::function<void()> box) {
  waiting_.push_back(std::move(box));
  if (!showing_ && waiting_.size() == 1) QTimer::singleShot(0, this, &OperatorBoxes::ShowNext);
}

void OperatorBoxes::ShowNext() {
  if (showing_ || !openVersionWindows_.empty() || waiting_.empty()) return;
  showing_ = true;
  const std::function<void()> box = std::move(waiting_.front());
  waiting_.pop_front();
  box();
  showing_ = false;
  if (!waiting_.empty()) QTimer::singleShot(0, this, &OperatorBoxes::ShowNext);
}

void OperatorBoxes::ShowMessage(std::size_t row, const QString& text,
                                const std::shared_ptr<vel::JobQuestion>& question) {
  ShowLater([this, row, title = RowTitle(row), text, question] {
    QMessageBox box(QMessageBox::Information, title, text, QMessageBox::Ok, &over_);
    if (!question) {
      box.exec();
      return;
    }
    // The worker waits for OK.
    question->Answer(!Settled(row) && Hold(row, box).has_value());
  });
}

void OperatorBoxes::Ask(std::size_t row, const std::shared_ptr<vel::JobQuestion>& question) {
  if (question->GetKind() == vel::JobQuestion::Kind::kConfirmDevice &&
      !question->Request()->informationOnly) {
    QTimer::singleShot(0, this, [this, row, question] { OpenVersionWindow(row, question); });
    return;
  }
  // A question behind another device's box says so in its row until it opens.
  if (Busy()) walk_.ShowWaitingForOperator(row);
  ShowLater([this, row, question] {
    walk_.ShowRowStatus(row);
    Answer(row, question);
  });
}

void OperatorBoxes::Answer(std::size_t row, const std::shared_ptr<vel::JobQuestion>& question) {
  if (Settled(row)) {
    question->Answer(false);
    return;
  }
  if (question->GetKind() != vel::JobQuestion::Kind::kConfirmDevice) {
    AskYesNo(row, *question);
    return;
  }
  VersionDialog dialog(*question->Request(), &over_);
  TitleVersionWindow(row, dialog);
  question->Answer(Hold(row, dialog) == QDialog::Accepted, dialog.Choices());
}

void OperatorBoxes::AskYesNo(std::size_t row, vel::JobQuestion& question) {
  const QString text = Qs(question.Text());
  Log(row, QStringLiteral("Asked: ") + text.simplified());
  QMessageBox box(QMessageBox::Question, RowTitle(row), text, QMessageBox::Yes | QMessageBox::No,
                  &over_);
  box.setDefaultButton(QMessageBox::No);
  const std::optional<int> answer = Hold(row, box);
  const bool yes = answer == QMessageBox::Yes;
  if (!answer) {
    Log(row, walk_.Cancelled() ? QStringLiteral("Answered: No (the walk was cancelled)")
                               : QStringLiteral("Answered: No (the row had ended)"));
  } else {
    Log(row, yes ? QStringLiteral("Answered: Yes") : QStringLiteral("Answered: No"));
  }
  question.Answer(yes);
}

std::optional<int> OperatorBoxes::Hold(std::size_t row, QDialog& box) {
  held_ = HeldBox{&box, row, false};
  const int result = box.exec();
  const bool settled = held_->settled;
  held_.reset();
  if (settled) return std::nullopt;
  return result;
}

bool OperatorBoxes::Settled(std::size_t row) const {
  return walk_.Cancelled() || walk_.RowFinished(row);
}

void OperatorBoxes::CloseSettled(std::optional<std::size_t> row) {
  const auto closing = [row](std::size_t of) { return !row || *row == of; };
  if (held_ && held_->box != nullptr && closing(held_->row)) {
    held_->settled = true;
    held_->box->reject();
  }
  // Each answers its question No as it finishes.
  const auto windows = openVersionWindows_;
  for (const auto& [of, window] : windows) {
    if (window != nullptr && closing(of)) window->reject();
  }
}

void OperatorBoxes::OpenVersionWindow(std::size_t row,
                                      const std::shared_ptr<vel::JobQuestion>& question) {
  versionWindows_.emplace_back(row, question);
  OpenNextVersionWindow();
}

void OperatorBoxes::OpenNextVersionWindow() {
  if (versionWindowSettling_ || versionWindows_.empty()) return;
  const auto [row, question] = std::move(versionWindows_.front());
  versionWindows_.pop_front();
  if (Settled(row)) {
    question->Answer(false);
    OpenNextVersionWindow();
    return;
  }
  // Opened without an event loop of its own, so that windows open side by side close in any
  // order. The next one opens when this one has closed itself or, when it waits for the
  // operator instead, a moment later: windows of hundreds of rows never pile up, and a window
  // that waits holds no other row.
  auto* dialog = new VersionDialog(*question->Request(), &over_);
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  TitleVersionWindow(row, *dialog);
  versionWindowSettling_ = true;
  const auto settled = [this, window = ++versionWindowCount_] {
    if (window != versionWindowCount_ || !versionWindowSettling_) return;
    versionWindowSettling_ = false;
    OpenNextVersionWindow();
  };
  QTimer::singleShot(kVersionWindowSettleMs, this, settled);
  openVersionWindows_.emplace_back(row, dialog);
  connect(dialog, &QDialog::finished, this, [this, question, dialog, settled](int result) {
    question->Answer(result == QDialog::Accepted, dialog->Choices());
    std::erase_if(openVersionWindows_,
                  [dialog](const auto& open) { return open.second == dialog; });
    if (!waiting_.empty()) QTimer::singleShot(0, this, &OperatorBoxes::ShowNext);
    settled();
  });
  dialog->open();
}

void OperatorBoxes::TitleVersionWindow(std::size_t row, VersionDialog& dialog) const {
  dialog.setWindowTitle(dialog.windowTitle() + QStringLiteral(" - ") + walk_.RowLabel(row));
}

QString OperatorBoxes::RowTitle(std::size_t row) const {
  const QString title = over_.window()->windowTitle();
  const QString label = walk_.RowLabel(row);
  return label.isEmpty() ? title : title + QStringLiteral(" - ") + label;
}

void OperatorBoxes::Log(std::size_t row, const QString& text) {
  log_.AppendMessage(walk_.RowLabel(row) + QStringLiteral(": ") + text);
}

}  // namespace zandorui
