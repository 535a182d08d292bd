#include "DeviceListFile.h"

#include <QFileInfo>

#include "../widgets/AppStyle.h"
#include "DeviceListModel.h"
#include "devices/DeviceListMerge.h"

namespace zandorui {

DeviceListFile::DeviceListFile(const QString& path, DeviceListModel& rows, QObject* parent)
    : QObject(parent), path_(path), rows_(rows) {
  connect(&watcher_, &QFileSystemWatcher::fileChanged, this, &DeviceListFile::Look);
  connect(&watcher_, &QFileSystemWatcher::directoryChanged, this, &DeviceListFile::Look);
}

DeviceListFile::~DeviceListFile() {
  if (saver_.joinable()) saver_.join();
}

void DeviceListFile::Watch() {
  // A save replaces the file by a rename: the folder is watched for that, the file for writes
  // in place.
  const QString folder = QFileInfo(path_).absolutePath();
  if (!watcher_.directories().contains(folder)) watcher_.addPath(folder);
  if (QFileInfo::exists(path_) && !watcher_.files().contains(path_)) watcher_.addPath(path_);
}

bool DeviceListFile::Load(QString* why, QStringList* notes) {
  const vel::Result loaded = rows_.Load(path_.toStdString());
  refused_ = !loaded;
  Watch();
  if (refused_) {
    *why = Qs(loaded.error());
    return false;
  }
  base_ = rows_.List().Rows();
  for (const std::string& note : rows_.List().ReadNotes()) notes->append(Qs(note));
  return true;
}

bool DeviceListFile::HasUnsavedEdits() const {
  return !vel::SameStoredRows(base_, rows_.List().Rows());
}

void DeviceListFile::Look() {
  Watch();
  if (refused_ || saving_) return;
  vel::DeviceList onDisk;
  if (onDisk.Load(path_.toStdString()) && !vel::SameStoredRows(onDisk.Rows(), base_)) {
    emit ChangedOnDisk();
  }
}

bool DeviceListFile::MergeFromDisk(QString* why) {
  vel::DeviceList onDisk;
  vel::Result done = onDisk.Load(path_.toStdString());
  if (done) done = rows_.MergeRows(base_, onDisk.Rows());
  if (!done) {
    *why = Qs(done.error());
    return false;
  }
  base_ = onDisk.Rows();
  return true;
}

void DeviceListFile::Save() {
  if (saving_) return;
  saving_ = true;
  if (saver_.joinable()) saver_.join();
  std::vector<vel::DeviceEntry> sent = rows_.List().Rows();
  saver_ = std::thread([this, path = path_.toStdString(), base = base_, sent]() mutable {
    auto saved = vel::SaveMergedList(path, base, sent);
    QMetaObject::invokeMethod(
        this, [this, saved = std::move(saved), sent = std::move(sent)] { Finish(saved, sent); },
        Qt::QueuedConnection);
  });
}

void DeviceListFile::Finish(const vel::Expected<std::vector<vel::DeviceEntry>>& saved,
                            const std::vector<vel::DeviceEntry>& sent) {
  saving_ = false;
  QString error = Qs(saved.error());
  if (saved) {
    // Edits made while the save ran stay edits; the rows the file gained join the list.
    const vel::Result joined = rows_.MergeRows(sent, *saved);
    base_ = *saved;
    refused_ = false;
    if (!joined) error = Qs(joined.error());
  }
  Watch();
  emit Saved(saved.ok(), error);
}

}  // namespace zandorui
