#pragma once

#include <QPointer>
#include <QTableView>
#include <optional>

#include "devices/DeviceList.h"

namespace zandorui {

class DeviceListModel;

// The device list as the operator sees it: six columns with grid lines, a check box in front of
// each row and whole-row selection, over a model of the core's list. A click on a cell opens its
// editor over the cell (an edit box for Name and Port, an editable drop-down for the address and
// the key); Tab walks to the next editable cell of the row. Every change goes through the core's
// list, which keeps the rules. Copy, Paste and Delete act on rows from the context menu or the
// keys C, V and Delete.
class DeviceTable : public QTableView {
  Q_OBJECT
 public:
  explicit DeviceTable(vel::DeviceList& list, QWidget* parent = nullptr);

  DeviceListModel& Model() { return *model_; }
  // Shows the whole list again (after the core's rows changed other than through the model); an
  // open edit is stored first.
  void ShowList();
  // Shows one row's Status cell.
  void ShowStatus(std::size_t row, const QString& text);
  // While devices are worked on, rows keep their places: deleting is refused.
  void SetRowsLocked(bool locked) { rowsLocked_ = locked; }

  // Forgets the row last clicked (the rows moved): C and Delete then act on no row.
  void ClearMark() { markRow_.reset(); }

  // The row commands of the context menu and keys.
  void CopyDevice();
  void PasteDevice();
  void DeleteSelectedDevice();

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

 private:
  void OpenEditor(int row, int column);
  void NextCell();
  void FitNameColumn();
  void Show(const QString& message);

  vel::DeviceList& list_;
  DeviceListModel* model_;
  bool rowsLocked_ = false;
  QPointer<QWidget> editor_;
  int currentRow_ = 0;
  int nextColumn_ = 1;
  // Tab walks the cells while a cell cycle runs (since a click on a cell, through the editors'
  // Tabs); otherwise it leaves the list for the next control.
  bool cycling_ = false;
  std::optional<std::size_t> markRow_;  // the row last clicked
};

}  // namespace zandorui
