#include "DeviceTable.h"

#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QScrollBar>
#include <QStatusTipEvent>
#include <array>

#include "../widgets/AppStyle.h"
#include "CellDelegate.h"
#include "DeviceListModel.h"

namespace zandorui {

namespace {

using Column = DeviceListModel::Column;
constexpr std::array<int, DeviceListModel::kColumns> kWidths{17, 50, 120, 55, 280, 200};
// Tab moves through the Name, address, Port and key cells, never the Status.
constexpr int kColumnLimit = Column::kStatusColumn;

}  // namespace

DeviceTable::DeviceTable(DeviceListModel& model, QWidget* parent)
    : QTableView(parent), model_(&model) {
  setObjectName(ControlName(1116));
  setModel(model_);
  auto* delegate = new CellDelegate(this);
  setItemDelegate(delegate);
  for (int c = 0; c < DeviceListModel::kColumns; ++c) {
    setColumnWidth(c, kWidths[static_cast<std::size_t>(c)]);
  }
  horizontalHeader()->setStretchLastSection(true);
  horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  verticalHeader()->hide();
  verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
  setShowGrid(true);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setTabKeyNavigation(false);  // Tab moves through the cells in a cell cycle only, else leaves the list
  connect(this, &QTableView::clicked, this,
          [this](const QModelIndex& index) { ClickCell(index.row(), index.column()); });
  connect(model_, &DeviceListModel::EditRefused, this, &DeviceTable::Show);
  connect(delegate, &CellDelegate::Refused, this, &DeviceTable::Show);
  // A merge would drop an open editor: its edit is stored first.
  connect(model_, &DeviceListModel::EditsToFinish, this, [this] {
    if (editor_ != nullptr) CellDelegate::EndEdit(editor_);
  });
  // The Name column widens to show the longest name whole.
  connect(model_, &QAbstractItemModel::modelReset, this, &DeviceTable::FitNameColumn);
  connect(model_, &QAbstractItemModel::rowsInserted, this, &DeviceTable::FitNameColumn);
  connect(model_, &QAbstractItemModel::dataChanged, this,
          [this](const QModelIndex& topLeft, const QModelIndex& bottomRight) {
            if (topLeft.column() <= Column::kNameColumn &&
                bottomRight.column() >= Column::kNameColumn) {
              FitNameColumn();
            }
          });
  // Scrolling ends an open edit and stores it.
  for (QScrollBar* bar : {verticalScrollBar(), horizontalScrollBar()}) {
    connect(bar, &QScrollBar::valueChanged, this, [this] {
      if (editor_ != nullptr) setFocus();
    });
  }
}

void DeviceTable::FitNameColumn() {
  // The Name column starts narrow; it widens to show the longest name whole.
  resizeColumnToContents(Column::kNameColumn);
  setColumnWidth(Column::kNameColumn,
                 std::max(columnWidth(Column::kNameColumn), kWidths[Column::kNameColumn]));
}

void DeviceTable::ClickCell(int row, int column) {
  if (row < 0 || row >= model_->rowCount()) return;
  setFocus();  // an open editor ends its edit first
  cycling_ = true;
  currentRow_ = row;
  nextColumn_ = column + 1;
  markRow_ = static_cast<std::size_t>(row);
  OpenEditor(row, column);
  clearSelection();
}

void DeviceTable::OpenEditor(int row, int column) {
  const auto r = static_cast<std::size_t>(row);
  const vel::DeviceList& list = model_->List();
  if (r >= list.Count()) return;
  switch (column) {
    case Column::kCheckColumn:
      // The click has ticked or unticked the box already: an unticked row takes the paste.
      if (!list.Row(r).checked) model_->SetPasteTarget(r);
      return;
    case Column::kPortColumn:
      model_->OpenPortCell(r);
      break;
    case Column::kKeyColumn:
      if (list.Row(r).IsSerial()) {
        model_->OpenKeyCell(r);
        return;
      }
      break;
    case Column::kStatusColumn:
      return;  // the Status cell has no editor
    default:
      break;
  }
  const QModelIndex cell = model_->index(row, column);
  scrollTo(cell);
  if (edit(cell, QAbstractItemView::AllEditTriggers, nullptr)) editor_ = indexWidget(cell);
}

void DeviceTable::closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) {
  if (editor != editor_) {
    QTableView::closeEditor(editor, hint);
    return;
  }
  editor_ = nullptr;
  const bool tabbed = hint == QAbstractItemDelegate::EditNextItem;
  if (!tabbed) cycling_ = false;  // Enter, Escape or a click elsewhere end the cycle
  setFocus();  // before the editor goes, so that the focus does not wander along the window
  QTableView::closeEditor(editor, QAbstractItemDelegate::NoHint);
  if (tabbed) NextCell();
}

void DeviceTable::NextCell() {
  if (nextColumn_ >= kColumnLimit) nextColumn_ = 1;  // also after a click on the Status cell
  const int column = nextColumn_++;
  if (currentRow_ < model_->rowCount()) OpenEditor(currentRow_, column);
}

void DeviceTable::Show(const QString& message) {
  QMessageBox::information(this, window()->windowTitle(), message);
}

void DeviceTable::CopyDevice() {
  if (markRow_) model_->CopyRow(*markRow_);
}

void DeviceTable::PasteDevice() { model_->PasteDevice(); }

void DeviceTable::DeleteSelectedDevice() {
  if (markRow_) DeleteRow(*markRow_);
}

void DeviceTable::DeleteRow(std::size_t row) {
  if (row >= model_->List().Count()) return;
  if (rowsLocked_) {
    Show(QStringLiteral("Rows cannot be deleted while devices are being checked or updated."));
    return;
  }
  model_->DeleteRow(row);
  markRow_.reset();
}

void DeviceTable::keyPressEvent(QKeyEvent* event) {
  const bool fresh = !event->isAutoRepeat() && !(event->modifiers() & Qt::AltModifier);
  switch (event->key()) {
    case Qt::Key_Delete:
      DeleteSelectedDevice();
      return;
    case Qt::Key_C:
      if (fresh) CopyDevice();
      return;
    case Qt::Key_V:
      if (fresh) PasteDevice();
      return;
    default:
      QTableView::keyPressEvent(event);
  }
}

void DeviceTable::focusInEvent(QFocusEvent* event) {
  // Coming in from another control by the keyboard starts no cell cycle.
  if (event->reason() == Qt::TabFocusReason || event->reason() == Qt::BacktabFocusReason) {
    cycling_ = false;
  }
  QTableView::focusInEvent(event);
}

bool DeviceTable::event(QEvent* event) {
  // Tab in the list itself asks for the next cell of the current row while a cell cycle runs.
  if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Tab &&
      cycling_ && model_->rowCount() > 0) {
    NextCell();
    return true;
  }
  return QTableView::event(event);
}

void DeviceTable::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
  QTableView::currentChanged(current, previous);
  if (current.row() == previous.row()) return;
  // The row made current shows its whole Status in the window's status line.
  const QString status =
      current.isValid()
          ? model_->index(current.row(), DeviceListModel::kStatusColumn).data().toString()
          : QString();
  QStatusTipEvent tip(status);
  QCoreApplication::sendEvent(this, &tip);
}

void DeviceTable::contextMenuEvent(QContextMenuEvent* event) {
  setFocus();
  // The menu acts on the row under the cursor, shown selected while the menu is open; from the
  // keyboard, on the row last clicked.
  const int under = event->reason() == QContextMenuEvent::Mouse
                        ? rowAt(event->pos().y())
                        : (markRow_ ? static_cast<int>(*markRow_) : -1);
  if (under < 0) return;
  const auto row = static_cast<std::size_t>(under);
  selectRow(under);
  QMenu menu(this);
  QAction* copy = menu.addAction(QStringLiteral("Copy"));
  QAction* paste = menu.addAction(QStringLiteral("Paste"));
  QAction* remove = menu.addAction(QStringLiteral("Delete"));
  copy->setStatusTip(QStringLiteral("copy Device list"));
  paste->setStatusTip(QStringLiteral("Paste Device list"));
  remove->setStatusTip(QStringLiteral("Delete Device list"));
  paste->setEnabled(model_->List().CopySource().has_value());
  QAction* chosen = menu.exec(event->globalPos());
  clearSelection();
  if (chosen == copy) model_->CopyRow(row);
  if (chosen == paste) model_->PasteInto(row);
  if (chosen == remove) DeleteRow(row);
}

}  // namespace zandorui
