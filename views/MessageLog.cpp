#include "MessageLog.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>

namespace zandorui {

void LogText::Append(const QString& line) {
  if (lines_ > kMaxLines) {
    const QStringView dropped = QStringView(text_).left(kTrimCharacters);
    lines_ -= static_cast<int>(dropped.count(QLatin1Char('\n')));
    text_.remove(0, kTrimCharacters);
  }
  text_ += line;
  text_ += QLatin1Char('\n');
  lines_ += 1 + static_cast<int>(line.count(QLatin1Char('\n')));
}

MessageLog::MessageLog(QWidget* parent) : QDialog(parent), edit_(new QPlainTextEdit(this)) {
  setWindowTitle(QStringLiteral("Zandor  Message Log"));
  setObjectName(QStringLiteral("messageLog"));
  setModal(false);
  edit_->setObjectName(QStringLiteral("c1037"));
  edit_->setReadOnly(true);
  edit_->setUndoRedoEnabled(false);
  edit_->setLineWrapMode(QPlainTextEdit::NoWrap);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(edit_);
  resize(560, 400);
}

bool MessageLog::SetLogFile(const QString& path, QString* error) {
  file_.setFileName(path);
  if (!file_.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
    *error = file_.errorString();
    return false;
  }
  // The lines logged before the file was named (what the list's load said) lead it.
  file_.write(log_.Text().toUtf8());
  file_.flush();
  return true;
}

void MessageLog::AppendMessages(const QStringList& lines) {
  if (lines.isEmpty()) return;
  for (const QString& line : lines) log_.Append(line);
  if (file_.isOpen()) {
    for (const QString& line : lines) file_.write(line.toUtf8() + '\n');
    file_.flush();
  }
  // One repaint for all the lines that arrive before the event loop runs again.
  if (!stale_ && isVisible()) QTimer::singleShot(0, this, &MessageLog::Repaint);
  stale_ = true;
}

void MessageLog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (stale_) Repaint();
}

void MessageLog::Repaint() {
  if (!stale_) return;
  edit_->setPlainText(log_.Text());
  edit_->verticalScrollBar()->setValue(edit_->verticalScrollBar()->maximum());
  stale_ = false;
}

}  // namespace zandorui
