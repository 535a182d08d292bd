#pragma once

#include <QMainWindow>
#include <QStringList>

class QLabel;

namespace zandorui {

class ConsoleForm;

// The four most recent firmware files, kept in the program's settings.
class RecentFiles {
 public:
  static constexpr int kCount = 4;
  static QStringList Load();
  // Puts a file first (once) and keeps the four most recent.
  static QStringList Add(const QString& path);
};

// The frame: the console form, a status bar with the port indicator, files dropped on it, the
// close guard while an update runs, the About box and the help page. It has no menu bar (the
// form's context menu holds the commands) and no maximise button.
class MainWindow : public QMainWindow {
  Q_OBJECT
 public:
  explicit MainWindow(const QString& listFolder, QWidget* parent = nullptr);

  ConsoleForm& Form() { return *form_; }
  void ShowAbout();
  void OpenHelp();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void SetPortActive(bool active);
  // Asks about list edits not saved; true when the window may close.
  bool SaveListBeforeClosing();

  ConsoleForm* form_;
  QLabel* portIndicator_;
  bool closing_ = false;  // the close lets the running walk end
};

// The help page beside the program, or where the package installs it; empty when neither exists.
QString HelpPagePath();

}  // namespace zandorui
