#pragma once

#include <QPointer>
#include <QTableView>
#include <optional>

namespace zandorui {

class DeviceListModel;

// The device list as the operator sees it: six columns with grid lines, a check box in front of
// each row and whole-row selection, over a model of the core's list. A click on a cell opens its
// editor over the cell (an edit box for Name and Port, an editable drop-down for the address and
// the key); Tab moves to the next editable cell of the row. Every change goes through the core's
// list, which keeps the rules. The context menu's Copy, Paste and Delete act on the row under the
// cursor; the keys C and Delete on the row last clicked, V on the paste target row (marked).
class DeviceTable : public QTableView {
  Q_OBJECT
 public:
  explicit DeviceTable(DeviceListModel& model, QWidget* parent = nullptr);

  DeviceListModel& Model() { return *model_; }
  // While devices are worked on, rows keep their places: deleting is refused.
  void SetRowsLocked(bool locked) { rowsLocked_ = locked; }

  // Forgets the row last clicked (the rows moved): C and Delete then act on no row.
  void ClearMark() { markRow_.reset(); }

  // The row commands of the keys: C copies and Delete deletes the row last clicked, V pastes into
  // the paste target row.
  void CopyDevice();
  void PasteDevice();
  void DeleteSelectedDevice();
  // Deletes a row, unless rows keep their places while devices are worked on.
  void DeleteRow(std::size_t row);

  // Opens the editor of a cell, as a click on it does (tests and Tab use it too).
  void ClickCell(int row, int column);
  // The open editor, if any.
  QWidget* Editor() const { return editor_; }

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  bool event(QEvent* event) override;
  void closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) override;
  void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;

 private:
  void OpenEditor(int row, int column);
  void NextCell();
  void FitNameColumn();
  void Show(const QString& message);

  DeviceListModel* model_;
  bool rowsLocked_ = false;
  QPointer<QWidget> editor_;
  int currentRow_ = 0;
  int nextColumn_ = 1;
  // Tab moves through the cells while a cell cycle runs (since a click on a cell, through the
  // editors' Tabs); otherwise it leaves the list for the next control.
  bool cycling_ = false;
  std::optional<std::size_t> markRow_;  // the row last clicked
};

}  // namespace zandorui
