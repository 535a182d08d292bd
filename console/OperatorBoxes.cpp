#include "OperatorBoxes.h"

#include <QMessageBox>
#include <QTimer>
#include <QWidget>

#include "VersionDialog.h"
#include "WalkController.h"
#include "views/MessageLog.h"
#include "widgets/AppStyle.h"

namespace zandorui {

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
    QTimer::singleShot(0, this, [this, row, question] {
      // Nothing queued opens over it meanwhile: a box opened on top would keep it from
      // closing until that box is answered.
      ++confirmationsOpen_;
      Answer(row, question);
      --confirmationsOpen_;
      if (!waiting_.empty()) QTimer::singleShot(0, this, &OperatorBoxes::ShowNext);
    });
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
    ConfirmDevice(row, *question);
    return;
  }
  const auto answer = QMessageBox::question(&over_, RowTitle(row), Qs(question->Text()),
                                            QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
  question->Answer(answer == QMessageBox::Yes);
}

void OperatorBoxes::ConfirmDevice(std::size_t row, vel::JobQuestion& question) {
  VersionDialog dialog(*question.Request(), &over_);
  dialog.setWindowTitle(dialog.windowTitle() + QStringLiteral(" - ") + walk_.RowLabel(row));
  const bool accepted = dialog.exec() == QDialog::Accepted;
  if (accepted && !question.Request()->informationOnly) {
    // A file older than the device is sent all the same; the row and the log say so.
    for (const std::string& downgrade : dialog.Downgrades()) {
      walk_.AddNote(row, downgrade);
      log_.AppendMessage(walk_.RowLabel(row) + QStringLiteral(": ") + Qs(downgrade));
    }
  }
  question.Answer(accepted);
}

QString OperatorBoxes::RowTitle(std::size_t row) const {
  const QString title = over_.window()->windowTitle();
  const QString label = walk_.RowLabel(row);
  return label.isEmpty() ? title : title + QStringLiteral(" - ") + label;
}

}  // namespace zandorui
