#pragma once

#include <QAbstractTableModel>
#include <QStringList>
#include <memory>
#include <string>
#include <vector>

#include "devices/DeviceJobs.h"
#include "devices/DeviceList.h"

namespace zandorui {

// The device list of the window and the only way to change it: a check box in front of each
// row, then Name, address, port, key and Status. It owns the core's list, as a Qt table model
// owns its data: edits, ticks, new, deleted and pasted rows, outcomes, a load and a merge all go
// through it, and every view and walk reads it. The core's list keeps the rules; a refused edit
// leaves the row as it was and says why through EditRefused. A walk reads the rows as they stand
// when it reaches them through LiveRows.
class DeviceListModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  enum Column { kCheckColumn, kNameColumn, kAddressColumn, kPortColumn, kKeyColumn, kStatusColumn };
  static constexpr int kColumns = 6;
  // The texts an address or key cell offers (a QStringList).
  static constexpr int kChoicesRole = Qt::UserRole;

  explicit DeviceListModel(QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;

  const vel::DeviceList& List() const { return list_; }
  // The rows as a walk finds them when it reaches each one.
  std::shared_ptr<const vel::LiveRows> Live() const { return live_; }

  // Sets a cell as the operator typed it: the core's rules, and a row that could never reach a
  // device is refused (the reason is also said through EditRefused).
  vel::Result SetCell(std::size_t row, Column column, const std::string& text);
  void SetChecked(std::size_t row, bool checked);
  void SetAllChecked(bool checked);
  // Ticks exactly the given rows (Retry Failed).
  void TickOnly(const std::vector<std::size_t>& rows);
  void AddDevice();
  void DeleteRow(std::size_t row);
  void DeleteCheckedRows();
  void CopyRow(std::size_t row);
  // The row V pastes into, shown marked.
  void SetPasteTarget(std::size_t row);
  // Pastes the copied row into the paste target, or into a row named by the caller (the row
  // under the cursor); false without a copy or a row.
  bool PasteDevice();
  bool PasteInto(std::size_t row);
  // The resets that happen when the Port or key cell is opened for editing.
  void OpenPortCell(std::size_t row);
  void OpenKeyCell(std::size_t row);

  // A row's outcome: its Status text and whether it succeeded.
  void SetOutcome(std::size_t row, const std::string& text, bool succeeded);
  void ClearOutcomes();

  // Reads a list file in place of the rows. A row the file does not hold whole keeps the cells
  // it held (the others stay empty) and its Status says why; it is never sent. A file that is no
  // device list leaves the rows as they were.
  vel::Result Load(const std::string& path);
  // Merges the rows with what the file holds now: this window's edits since `base` (an edit still
  // open in a view is stored first) and the file's rows `theirs` (DeviceListMerge's rules).
  vel::Result MergeRows(const std::vector<vel::DeviceEntry>& base,
                        const std::vector<vel::DeviceEntry>& theirs);
  // Puts rows in place of the list's as they are (an edit still open is stored first).
  vel::Result ReplaceRows(std::vector<vel::DeviceEntry> rows);

 signals:
  void EditRefused(const QString& reason);
  // The rows are about to be replaced: a view stores its open edit now, or it would be lost.
  void EditsToFinish();

 private:
  bool Shown(std::size_t row) const { return row < list_.Count(); }
  void RowChanged(std::size_t row);
  // Removes the rows first to last (inclusive).
  void RemoveRows(std::size_t first, std::size_t last);
  // Whether the cell may take the text: a row that could never reach a device is refused.
  vel::Result Usable(std::size_t row, int column, const std::string& text) const;
  // Gives walks the rows as they are now (after a change of rows, cells or ticks).
  void PublishRows();
  // Shows, in each row that the file did not hold whole, why.
  void NoteRowsNotReadWhole();

  vel::DeviceList list_;
  std::shared_ptr<vel::LiveRows> live_ = std::make_shared<vel::LiveRows>();
};

}  // namespace zandorui
