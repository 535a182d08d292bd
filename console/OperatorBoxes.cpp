#include "OperatorBoxes.h"

#include <QMessageBox>
#include <QTimer>
#include <QWidget>

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
}

void OperatorBoxes::ShowLater(std::function<void()> box) {
  waiting_.push_back(std::move(box));
  if (!showing_ && waiting_.size() == 1) QTimer::singleShot(0, this, &OperatorBoxes::ShowNext);
}

void OperatorBoxes::ShowNext() {
  if (showing_ || confirmationsOpen_ > 0 || waiting_.empty()) return;
  showing_ = true;
  const std::function<void()> box = std::move(waiting_.front());
  waiting_.pop_front();
  box();
  showing_ = false;
  if (!waiting_.empty()) QTimer::singleShot(0, this, &OperatorBoxes::ShowNext);
}

void OperatorBoxes::ShowMessage(std::size_t row, const QString& text,
                                const std::shared_ptr<vel::JobQuestion>& question) {
  ShowLater([this, title = RowTitle(row), text, question] {
    QMessageBox::information(&over_, title, text);
    if (question) question->Answer(true);  // the worker waited for OK
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
  if (walk_.Cancelled()) {
    question->Answer(false);
    return;
  }
  if (question->GetKind() == vel::JobQuestion::Kind::kConfirmDevice) {
    VersionDialog dialog(*question->Request(), &over_);
    TitleVersionWindow(row, dialog);
    question->Answer(dialog.exec() == QDialog::Accepted);
    return;
  }
  const auto answer = QMessageBox::question(&over_, RowTitle(row), Qs(question->Text()),
                                            QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
  question->Answer(answer == QMessageBox::Yes);
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
  if (walk_.Cancelled()) {
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
  // Nothing queued opens over it meanwhile.
  ++confirmationsOpen_;
  connect(dialog, &QDialog::finished, this, [this, row, question, dialog, settled](int result) {
    question->Answer(result == QDialog::Accepted);
    --confirmationsOpen_;
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

}  // namespace zandorui
