#include "DeviceTable.h"

#include <QHeaderView>

#include "../app/AppStyle.h"

namespace zandorui {

namespace {

constexpr int kColumns = 6;
constexpr int kNameColumn = 1;
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
  connect(this, &QTableWidget::itemChanged, this, &DeviceTable::CheckChanged);
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

}  // namespace zandorui
