#include "DeviceTable.h"

#include <QContextMenuEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QScrollBar>

#include "../widgets/AppStyle.h"
#include "CellEditors.h"
#include "common/Strings.h"
#include "link/KeyText.h"

namespace zandorui {

namespace {

constexpr int kColumns = 6;
constexpr int kCheckColumn = 0;
constexpr int kNameColumn = 1;
constexpr int kAddressColumn = 2;
constexpr int kPortColumn = 3;
constexpr int kKeyColumn = 4;
constexpr int kStatusColumn = 5;
constexpr std::array<int, kColumns> kWidths{17, 50, 120, 55, 280, 200};

}  // namespace

DeviceTable::DeviceTable(vel::DeviceList& list, QWidget* parent)
    : QTableWidget(0, kColumns, parent), list_(list) {
  setObjectName(ControlName(1116));
  setHorizontalHeaderLabels({QString(), QStringLiteral("Name"), QStringLiteral("IP address/Serial"),
                             QStringLiteral("Port"), QStringLiteral("Encryption Key"),
                             QStringLiteral("Status")});
  for (int c = 0; c < kColumns; ++c) setColumnWidth(c, kWidths[static_cast<std::size_t>(c)]);
  horizontalHeader()->setStretchLastSection(true);
  horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  verticalHeader()->hide();
  verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
  setShowGrid(true);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setTabKeyNavigation(false);  // Tab walks the cells in a cell cycle only, else leaves the list
  connect(this, &QTableWidget::itemChanged, this, &DeviceTable::CheckChanged);
  connect(this, &QTableWidget::cellClicked, this, &DeviceTable::ClickCell);
  // Scrolling ends an open edit and stores it.
  for (QScrollBar* bar : {verticalScrollBar(), horizontalScrollBar()}) {
    connect(bar, &QScrollBar::valueChanged, this, [this] {
      if (editor_ != nullptr) setFocus();
    });
  }
}

void DeviceTable::ShowList() {
  showing_ = true;
  setRowCount(static_cast<int>(list_.Count()));
  for (std::size_t r = 0; r < list_.Count(); ++r) {
    const vel::DeviceEntry& entry = list_.Row(r);
    const int row = static_cast<int>(r);
    auto* check = new QTableWidgetItem;
    check->setFlags(Qt::ItemIsUserCheckable | Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    check->setCheckState(entry.checked ? Qt::Checked : Qt::Unchecked);
    setItem(row, 0, check);
    const std::array<const std::string*, 5> cells{&entry.name, &entry.address, &entry.port,
                                                  &entry.key, &entry.status};
    for (int c = 1; c < kColumns; ++c) {
      auto* cell = new QTableWidgetItem(Qs(*cells[static_cast<std::size_t>(c - 1)]));
      cell->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
      setItem(row, c, cell);
    }
  }
  // The Name column starts narrow; it widens to show the longest name whole.
  resizeColumnToContents(kNameColumn);
  setColumnWidth(kNameColumn, std::max(columnWidth(kNameColumn), kWidths[kNameColumn]));
  showing_ = false;
}

void DeviceTable::ShowStatus(std::size_t row, const QString& text) {
  QTableWidgetItem* cell = item(static_cast<int>(row), kStatusColumn);
  if (cell != nullptr && cell->text() != text) cell->setText(text);
}

void DeviceTable::CheckChanged(QTableWidgetItem* item) {
  if (showing_ || item->column() != 0) return;
  const auto row = static_cast<std::size_t>(item->row());
  if (row < list_.Count()) list_.SetChecked(row, item->checkState() == Qt::Checked);
}

void DeviceTable::ClickCell(int row, int column) {
  if (row < 0 || static_cast<std::size_t>(row) >= list_.Count()) return;
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
  const vel::DeviceEntry& entry = list_.Row(r);
  switch (column) {
    case kCheckColumn:
      if (!entry.checked) list_.SetPasteTarget(r);
      return;
    case kNameColumn:
      PlaceEditor(new CellLineEdit(Qs(entry.name), viewport()->width(), viewport()), row, column);
      return;
    case kAddressColumn: {
      QStringList choices;
      for (const std::string& choice : list_.AddressChoices()) choices.append(Qs(choice));
      PlaceEditor(new CellCombo(choices, Qs(entry.address), false, viewport()), row, column);
      return;
    }
    case kPortColumn: {
      list_.OpenPortCell(r);
      ShowList();
      auto* edit = new CellLineEdit(Qs(list_.Row(r).port), viewport()->width(), viewport());
      edit->selectAll();  // a port is typed anew more often than changed
      PlaceEditor(edit, row, column);
      return;
    }
    case kKeyColumn: {
      if (entry.IsSerial()) {
        list_.OpenKeyCell(r);
        ShowList();
        return;
      }
      QStringList choices;
      for (const std::string& choice : list_.KeyChoices()) choices.append(Qs(choice));
      PlaceEditor(new CellCombo(choices, Qs(entry.key), true, viewport()), row, column);
      return;
    }
    default:
      return;  // the Status cell has no editor
  }
}

void DeviceTable::PlaceEditor(QWidget* editor, int row, int column) {
  scrollToItem(item(row, column));
  QRect cell = visualItemRect(item(row, column));
  cell.setRight(std::min(cell.right(), viewport()->width() - 1));
  editor->setGeometry(cell);
  editor->setFont(font());
  editor_ = editor;
  editRow_ = row;
  editColumn_ = column;
  if (auto* edit = qobject_cast<CellLineEdit*>(editor)) {
    connect(edit, &CellLineEdit::Ended, this, &DeviceTable::EndEdit);
    connect(edit, &CellLineEdit::Tabbed, this, &DeviceTable::NextCell);
  } else if (auto* combo = qobject_cast<CellCombo*>(editor)) {
    connect(combo, &CellCombo::Ended, this, &DeviceTable::EndEdit);
    connect(combo, &CellCombo::Tabbed, this, &DeviceTable::NextCell);
  }
  editor->show();
  editor->setFocus();
}

void DeviceTable::EndEdit() {
  QWidget* editor = editor_;
  if (editor == nullptr) return;
  editor_ = nullptr;
  const int row = editRow_;
  const int column = editColumn_;
  if (auto* edit = qobject_cast<CellLineEdit*>(editor)) {
    if (!edit->Cancelled()) Store(row, column, edit->text());
    if (!edit->WasTabbed()) cycling_ = false;  // Enter, Escape or a click elsewhere end the cycle
  } else if (auto* combo = qobject_cast<CellCombo*>(editor)) {
    if (!combo->WasTabbed()) cycling_ = false;
    if (!combo->Cancelled()) {
      QString text = combo->Text();
      const bool keyColumn = column == kKeyColumn;
      const QString marker =
          QString::fromLatin1(keyColumn ? vel::kNoEncryption : vel::kDefaultSerial);
      if (text.isEmpty()) text = marker;
      if (keyColumn && text != marker && !vel::IsDashedKey(text.toStdString())) {
        Show(Qs(vel::LoadString(vel::ids::kInvalidEncryptionKey)));
        text = marker;
      }
      Store(row, column, text);
    }
  }
  setFocus();  // before the editor goes, so that the focus does not wander along the window
  editor->hide();
  editor->deleteLater();
  ShowList();
}

void DeviceTable::NextCell() {
  EndEdit();
  if (nextColumn_ >= kColumnLimit) nextColumn_ = 1;  // also after a click on the Status cell
  const int column = nextColumn_++;
  if (static_cast<std::size_t>(currentRow_) < list_.Count()) OpenEditor(currentRow_, column);
}

void DeviceTable::Store(int row, int column, const QString& text) {
  // A row that could never reach a device is refused with its reason: the address alone is
  // judged in the address cell (its port resets when opened), the whole row in the Port cell.
  if (column == kAddressColumn || column == kPortColumn) {
    vel::DeviceEntry candidate = list_.Row(static_cast<std::size_t>(row));
    (column == kAddressColumn ? candidate.address : candidate.port) = text.toStdString();
    if (column == kAddressColumn) candidate.port = candidate.IsSerial() ? "1" : "3000";
    if (const vel::Result usable = vel::IsUsableRow(candidate); !usable) {
      Show(Qs(usable.error()));
      return;
    }
  }
  const vel::Result set = list_.SetCell(static_cast<std::size_t>(row),
                                        static_cast<vel::DeviceColumn>(column), text.toStdString());
  if (!set) Show(Qs(set.error()));
}

void DeviceTable::Show(const QString& message) {
  QMessageBox::information(this, window()->windowTitle(), message);
}

void DeviceTable::CopyDevice() {
  if (markRow_) list_.CopyDevice(*markRow_);
}

void DeviceTable::PasteDevice() {
  if (list_.PasteDevice()) ShowList();
}

void DeviceTable::DeleteSelectedDevice() {
  if (!markRow_ || *markRow_ >= list_.Count()) return;
  if (rowsLocked_) {
    Show(QStringLiteral("Rows cannot be deleted while devices are being checked or updated."));
    return;
  }
  list_.DeleteSelectedDevice(*markRow_);
  markRow_.reset();
  ShowList();
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
      QTableWidget::keyPressEvent(event);
  }
}

void DeviceTable::focusInEvent(QFocusEvent* event) {
  // Coming in from another control by the keyboard starts no cell cycle.
  if (event->reason() == Qt::TabFocusReason || event->reason() == Qt::BacktabFocusReason) {
    cycling_ = false;
  }
  QTableWidget::focusInEvent(event);
}

bool DeviceTable::event(QEvent* event) {
  // Tab in the list itself asks for the next cell of the current row while a cell cycle runs.
  if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Tab &&
      cycling_ && list_.Count() > 0) {
    NextCell();
    return true;
  }
  return QTableWidget::event(event);
}

void DeviceTable::contextMenuEvent(QContextMenuEvent* event) {
  setFocus();
  // The menu acts on the row under the cursor, shown selected while the menu is open.
  const int row = event->reason() == QContextMenuEvent::Mouse ? rowAt(event->pos().y()) : -1;
  if (row >= 0) {
    markRow_ = static_cast<std::size_t>(row);
    selectRow(row);
  }
  QMenu menu(this);
  QAction* copy = menu.addAction(QStringLiteral("Copy"));
  QAction* paste = menu.addAction(QStringLiteral("Paste"));
  QAction* remove = menu.addAction(QStringLiteral("Delete"));
  copy->setStatusTip(QStringLiteral("copy Device list"));
  paste->setStatusTip(QStringLiteral("Paste Device list"));
  remove->setStatusTip(QStringLiteral("Delete Device list"));
  QAction* chosen = menu.exec(event->globalPos());
  if (chosen == copy) CopyDevice();
  if (chosen == paste) PasteDevice();
  if (chosen == remove) DeleteSelectedDevice();
  clearSelection();
}

}  // namespace zandorui
