#pragma once

#include <QDialog>
#include <QFile>
#include <QString>
#include <QStringList>

class QPlainTextEdit;

namespace zandorui {

// The running log's text rule: a text holding more than 100 lines loses its first 500 characters
// before the next line goes on, so the log stays small however long the program runs.
class LogText {
 public:
  static constexpr int kMaxLines = 100;
  static constexpr int kTrimCharacters = 500;

  void Append(const QString& line);
  const QString& Text() const { return text_; }
  int LineCount() const { return lines_; }

 private:
  QString text_;
  int lines_ = 0;  // complete lines (each ends in a line feed)
};

// "Zandor  Message Log": a modeless window over the log, hidden (never destroyed) by its close
// box. Lines arrive in batches; the edit is repainted once per batch, and only while shown.
class MessageLog : public QDialog {
  Q_OBJECT
 public:
  explicit MessageLog(QWidget* parent = nullptr);

  void AppendMessage(const QString& line) { AppendMessages({line}); }
  void AppendMessages(const QStringList& lines);
  const QString& Text() const { return log_.Text(); }
  // The lines so far and every line from now on also go to the end of this file (kept whole,
  // unlike the window's text); false with *error when it cannot be opened.
  bool SetLogFile(const QString& path, QString* error);

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void Repaint();

  LogText log_;
  QPlainTextEdit* edit_;
  QFile file_;
  bool stale_ = false;
};

}  // namespace zandorui
