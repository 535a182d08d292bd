#include "MainWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QEventLoop>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QScreen>
#include <QSettings>
#include <QStatusBar>
#include <QUrl>

#include "../console/ConsoleForm.h"
#include "../views/MessageLog.h"
#include "../widgets/AppStyle.h"
#include "AboutBox.h"

namespace zandorui {

namespace {

const QString kRecentGroup = QStringLiteral("Recent File List");
const QString kHelpPage = QStringLiteral("ZandorManagerHelp.htm");

}  // namespace

QStringList RecentFiles::Load() {
  QSettings settings;
  settings.beginGroup(kRecentGroup);
  QStringList files;
  for (int i = 1; i <= kCount; ++i) {
    const QString file = settings.value(QStringLiteral("File%1").arg(i)).toString();
    if (!file.isEmpty()) files.append(file);
  }
  return files;
}

QStringList RecentFiles::Add(const QString& path) {
  QStringList files = Load();
  files.removeAll(path);
  files.prepend(path);
  while (files.size() > kCount) files.removeLast();
  QSettings settings;
  settings.beginGroup(kRecentGroup);
  for (int i = 1; i <= kCount; ++i) {
    settings.setValue(QStringLiteral("File%1").arg(i),
                      i <= files.size() ? files[i - 1] : QString());
  }
  return files;
}

QString HelpPagePath() {
  const QDir programFolder(QCoreApplication::applicationDirPath());
  for (const QString& candidate :
       {programFolder.filePath(kHelpPage),
        programFolder.filePath(QStringLiteral("../share/doc/zandorupdate/") + kHelpPage)}) {
    if (QFileInfo(candidate).isFile()) return QFileInfo(candidate).canonicalFilePath();
  }
  return {};
}

MainWindow::MainWindow(const QString& listFolder, QWidget* parent)
    : QMainWindow(parent),
      form_(new ConsoleForm(listFolder, this)),
      portIndicator_(new QLabel(QStringLiteral("Port Inactive"))) {
  setObjectName(QStringLiteral("mainWindow"));
  setWindowTitle(QStringLiteral("ZandorUpdate"));
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  setCentralWidget(form_);
  setAcceptDrops(true);
  statusBar()->setObjectName(QStringLiteral("statusBar"));
  portIndicator_->setObjectName(ControlName(101));
  portIndicator_->setMinimumWidth(
      portIndicator_->fontMetrics().horizontalAdvance(QStringLiteral("PORT INACTIVE")) + 8);
  statusBar()->addPermanentWidget(portIndicator_);
  form_->SetRecentFiles(RecentFiles::Load());
  connect(form_, &ConsoleForm::FileLoaded, this,
          [this](const QString& path) { form_->SetRecentFiles(RecentFiles::Add(path)); });
  connect(form_, &ConsoleForm::PortActiveChanged, this, &MainWindow::SetPortActive);
  connect(form_, &ConsoleForm::StatusBarToggled, this,
          [this] { statusBar()->setVisible(!statusBar()->isVisible()); });
  connect(form_, &ConsoleForm::HelpRequested, this, &MainWindow::OpenHelp);
  connect(form_, &ConsoleForm::AboutRequested, this, &MainWindow::ShowAbout);
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QSize size =
        sizeHint().expandedTo(QSize(900, 700)).boundedTo(screen->availableGeometry().size());
    resize(size);
    move(screen->availableGeometry().center() - rect().center());
  }
}

void MainWindow::SetPortActive(bool active) {
  portIndicator_->setText(active ? QStringLiteral("Port ACTIVE") : QStringLiteral("Port Inactive"));
}

void MainWindow::closeEvent(QCloseEvent* event) {
  // A close asked for while the last one lets the walk end waits for that one.
  if (closing_) {
    event->ignore();
    return;
  }
  if (form_->UpdateRunning()) {
    QMessageBox box(QMessageBox::Warning, windowTitle(),
                    QStringLiteral("Device is in upgrading, closing this window may cause "
                                   "unrecoverable damage!!!\n\n Close anyway?"),
                    QMessageBox::Yes | QMessageBox::No, this);
    box.setObjectName(QStringLiteral("closeGuard"));
    box.setDefaultButton(QMessageBox::No);
    if (box.exec() != QMessageBox::Yes) {
      event->ignore();
      return;
    }
  }
  if (form_->HasUnsavedListEdits() && !SaveListBeforeClosing()) {
    event->ignore();
    return;
  }
  // Every running row ends, with its outcome in the log and the walk's report, before the
  // window goes.
  closing_ = true;
  form_->EndDeviceWork();
  closing_ = false;
  form_->Log().close();
  event->accept();
}

bool MainWindow::SaveListBeforeClosing() {
  QMessageBox box(QMessageBox::Question, windowTitle(),
                  QStringLiteral("The device list has changes that are not saved in %1.\n\n"
                                 "Save them before closing?")
                      .arg(form_->ListPath()),
                  QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, this);
  box.setObjectName(QStringLiteral("unsavedListGuard"));
  box.setDefaultButton(QMessageBox::Yes);
  const int answer = box.exec();
  if (answer == QMessageBox::No) return true;
  if (answer != QMessageBox::Yes) return false;
  // The save waits for the list's lock on a worker; the window stays responsive meanwhile.
  QEventLoop saving;
  bool saved = false;
  const auto done = connect(&form_->ListFile(), &DeviceListFile::Saved, &saving, [&](bool ok) {
    saved = ok;
    saving.quit();
  });
  form_->SaveDeviceList();
  saving.exec();
  disconnect(done);
  return saved;
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
  for (const QUrl& url : event->mimeData()->urls()) {
    if (url.isLocalFile()) {
      form_->LoadFile(url.toLocalFile());
      event->acceptProposedAction();
      return;
    }
  }
}

void MainWindow::ShowAbout() {
  AboutBox about(windowIcon(), this);
  about.exec();
}

void MainWindow::OpenHelp() {
  const QString page = HelpPagePath();
  if (page.isEmpty() || !QDesktopServices::openUrl(QUrl::fromLocalFile(page))) {
    QMessageBox::information(this, windowTitle(),
                             page.isEmpty()
                                 ? QStringLiteral("The help page %1 is not installed "
                                                  "beside the program.")
                                       .arg(kHelpPage)
                                 : QStringLiteral("No program is set up to open %1.").arg(page));
  }
}

}  // namespace zandorui
