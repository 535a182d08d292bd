#include "DeviceListFile.h"

#include <QFileInfo>

#include "../widgets/AppStyle.h"
#include "devices/DeviceListMerge.h"

namespace zandorui {

DeviceListFile::DeviceListFile(const QString& path, vel::DeviceList& list, QObject* parent)
    : QObject(parent), path_(path), list_(list) {
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

bool DeviceListFile::Load(QString* why) {
  std::string error;
  refused_ = !list_.Load(path_.toStdString(), &error);
  Watch();
  if (refused_) {
    *why = Qs(error);
    return false;
  }
  base_ = list_.Rows();
  return true;
}

bool DeviceListFile::HasUnsavedEdits() const { return !vel::SameStoredRows(base_, list_.Rows()); }

void DeviceListFile::Look() {
  Watch();
  if (refused_ || saving_) return;
  vel::DeviceList onDisk;
  std::string error;
  if (onDisk.Load(path_.toStdString(), &error) && !vel::SameStoredRows(onDisk.Rows(), base_)) {
    emit ChangedOnDisk();
  }
}

bool DeviceListFile::MergeFromDisk(QString* why) {
  vel::DeviceList onDisk;
  std::string error;
  if (!onDisk.Load(path_.toStdString(), &error)) {
    *why = Qs(error);
    return false;
  }
  const auto merged = vel::MergeDeviceRows(base_, list_.Rows(), onDisk.Rows());
  if (!vel::ReplaceRows(list_, merged, &error)) {
    *why = Qs(error);
    return false;
  }
  base_ = onDisk.Rows();
  return true;
}

void DeviceListFile::Save() {
  if (saving_) return;
  saving_ = true;
  if (saver_.joinable()) saver_.join();
  std::vector<vel::DeviceEntry> sent = list_.Rows();
  saver_ = std::thread([this, path = path_.toStdString(), base = base_, sent]() mutable {
    vel::MergedSave save = vel::SaveMergedList(path, base, sent);
    QMetaObject::invokeMethod(
        this,
        [this, save = std::move(save), sent = std::move(sent)] {
          Finish(save.ok, Qs(save.error), save.rows, sent);
        },
        Qt::QueuedConnection);
  });
}

void DeviceListFile::Finish(bool ok, const QString& error,
                            const std::vector<vel::DeviceEntry>& written,
                            const std::vector<vel::DeviceEntry>& sent) {
  saving_ = false;
  if (ok) {
    // Edits made while the save ran stay edits; the rows the file gained join the list.
    std::string replaceError;
    vel::ReplaceRows(list_, vel::MergeDeviceRows(sent, list_.Rows(), written), &replaceError);
    base_ = written;
    refused_ = false;
  }
  Watch();
  emit Saved(ok, error);
}

}  // namespace zandorui
