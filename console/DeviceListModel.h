#pragma once

#include <QAbstractTableModel>
#include <QStringList>
#include <vector>

#include "devices/DeviceList.h"

namespace zandorui {

// The core's device list as an item model: a check box in front of each row, then Name,
// address, port, key and Status. Edits go through the core's list, which keeps the rules; a
// refused edit leaves the row as it was and says why through EditRefused. Status texts are the
// desktop's own (a walk's progress, a row waiting for the operator) and are held per row, moving
// with their rows. Whoever changes the core's rows other than through the model calls Reload.
class DeviceListModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  enum Column { kCheckColumn, kNameColumn, kAddressColumn, kPortColumn, kKeyColumn, kStatusColumn };
  static constexpr int kColumns = 6;
  // The texts an address or key cell offers (a QStringList).
  static constexpr int kChoicesRole = Qt::UserRole;

  explicit DeviceListModel(vel::DeviceList& list, QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;

  const vel::DeviceList& List() const { return list_; }

  // Reads the whole list again, Status texts included (after a load, a merge, a save ...).
  void Reload();
  void SetStatus(std::size_t row, const QString& text);
  void AddDevice();
  void DeleteRow(std::size_t row);
  void DeleteCheckedRows();
  void SetAllChecked(bool checked);
  // Pastes the copied row into the paste target; false when either is missing.
  bool PasteDevice();
  // The resets that happen when the Port or key cell is opened for editing.
  void OpenPortCell(std::size_t row);
  void OpenKeyCell(std::size_t row);

 signals:
  void EditRefused(const QString& reason);

 private:
  bool Shown(std::size_t row) const { return row < statuses_.size() && row < list_.Count(); }
  void RowChanged(std::size_t row);
  // Removes the rows first to last (inclusive) from the core's list and the model.
  void RemoveRows(std::size_t first, std::size_t last);
  // Whether the cell may take the text: a row that could never reach a device is refused.
  vel::Result Usable(std::size_t row, int column, const std::string& text) const;

  vel::DeviceList& list_;
  std::vector<QString> statuses_;  // one per row the model shows
};

}  // namespace zandorui
