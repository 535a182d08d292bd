#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <QString>
#include <QStringList>
#include <thread>
#include <vector>

#include "devices/DeviceList.h"

namespace zandorui {

class DeviceListModel;

// The device list's file as this window keeps it: read at start, watched for what other
// programs write, and saved by merging this window's edits with the file as it stands, so that
// no row another program added is lost. A save waits for the list's lock on a worker thread;
// what it reads and merges reaches the rows through the list's model.
class DeviceListFile : public QObject {
  Q_OBJECT
 public:
  DeviceListFile(const QString& path, DeviceListModel& rows, QObject* parent = nullptr);
  ~DeviceListFile() override;

  const QString& Path() const { return path_; }
  // Reads the file into the list; false (with *why) when the file is no device list, which is
  // then never written over. *notes names the rows the file does not hold whole.
  bool Load(QString* why, QStringList* notes);
  // The list holds edits the file does not have.
  bool HasUnsavedEdits() const;
  bool Saving() const { return saving_; }
  // Starts a save; `Saved` tells how it ended, after the list took the merged rows.
  void Save();
  // Takes in what another program wrote since the last read or save; false (with *why) when
  // the file cannot be read. Call while no row moves under the caller (no walk, no editor).
  bool MergeFromDisk(QString* why);

 signals:
  // The file changed on disk and holds rows this window has not taken in.
  void ChangedOnDisk();
  void Saved(bool ok, const QString& error);

 private:
  void Watch();
  void Look();
  void Finish(const vel::Expected<std::vector<vel::DeviceEntry>>& saved,
              const std::vector<vel::DeviceEntry>& sent);

  QString path_;
  DeviceListModel& rows_;
  std::vector<vel::DeviceEntry> base_;  // the rows the file held when last read or written
  bool refused_ = false;
  bool saving_ = false;
  QFileSystemWatcher watcher_;
  std::thread saver_;
};

}  // namespace zandorui
