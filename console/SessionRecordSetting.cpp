#include "SessionRecordSetting.h"

#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryFile>

#include "widgets/AppStyle.h"

namespace zandorui {

namespace {

constexpr int kRecordingId = 1151;
constexpr int kFolderId = 1152;
constexpr int kChooseId = 1153;
const QString kRecordingKey = QStringLiteral("recordSessions");
const QString kFolderKey = QStringLiteral("recordFolder");

// Why no session record can be written in `folder`; empty when one can.
QString FolderProblem(const QString& folder) {
  if (folder.isEmpty()) return QStringLiteral("no folder is chosen");
  const QFileInfo info(folder);
  if (!info.exists()) return QStringLiteral("the folder does not exist");
  if (!info.isDir()) return QStringLiteral("it is not a folder");
  // Permission bits do not tell (a read-only file system, an administrator's account): a
  // temporary file, created and removed at once, does.
  QTemporaryFile probe(QDir(folder).filePath(QStringLiteral(".zandor-record-XXXXXX")));
  if (!probe.open())
    return QStringLiteral("no file can be written in it (%1)").arg(probe.errorString());
  return {};
}

}  // namespace

SessionRecordSetting::SessionRecordSetting(QWidget* parent)
    : QWidget(parent),
      recording_(new QCheckBox(QStringLiteral("Record sessions in:"))),
      folder_(new QLineEdit),
      choose_(new QPushButton(QStringLiteral("..."))) {
  recording_->setObjectName(ControlName(kRecordingId));
  folder_->setObjectName(ControlName(kFolderId));
  choose_->setObjectName(ControlName(kChooseId));
  folder_->setMinimumWidth(fontMetrics().averageCharWidth() * 24);
  choose_->setFixedWidth(fontMetrics().horizontalAdvance(QStringLiteral("...")) * 3);
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(recording_);
  layout->addWidget(folder_, 1);
  layout->addWidget(choose_);

  const QSettings settings;
  recording_->setChecked(settings.value(kRecordingKey, false).toBool());
  folder_->setText(settings.value(kFolderKey).toString());
  connect(recording_, &QCheckBox::toggled, this, &SessionRecordSetting::Keep);
  connect(folder_, &QLineEdit::textChanged, this, &SessionRecordSetting::Keep);
  connect(choose_, &QPushButton::clicked, this, &SessionRecordSetting::ChooseFolder);
}

std::optional<QString> SessionRecordSetting::FolderForAWalk(QString* why) const {
  if (!recording_->isChecked()) return QString();
  const QString folder = folder_->text().trimmed();
  if (const QString problem = FolderProblem(folder); !problem.isEmpty()) {
    *why = QStringLiteral(
               "Sessions cannot be recorded in \"%1\": %2. Nothing was started: "
               "choose a folder that exists and can be written, or untick \"%3\".")
               .arg(folder, problem, recording_->text());
    return std::nullopt;
  }
  return QFileInfo(folder).absoluteFilePath();
}

void SessionRecordSetting::ChooseFolder() {
  const QString folder = QFileDialog::getExistingDirectory(
      this, QStringLiteral("Record sessions in"), folder_->text().trimmed());
  if (folder.isEmpty()) return;
  folder_->setText(QDir::toNativeSeparators(folder));
  recording_->setChecked(true);
}

void SessionRecordSetting::Keep() {
  QSettings settings;
  settings.setValue(kRecordingKey, recording_->isChecked());
  settings.setValue(kFolderKey, folder_->text().trimmed());
}

}  // namespace zandorui
