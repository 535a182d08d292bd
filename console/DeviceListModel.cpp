#include "DeviceListModel.h"

#include <QBrush>
#include <QColor>
#include <array>

#include "../widgets/AppStyle.h"
#include "devices/DeviceListMerge.h"

namespace zandorui {

namespace {

const std::array<QString, DeviceListModel::kColumns> kHeaders{QString(),
                                                              QStringLiteral("Name"),
                                                              QStringLiteral("IP address/Serial"),
                                                              QStringLiteral("Port"),
                                                              QStringLiteral("Encryption Key"),
                                                              QStringLiteral("Status")};

// The row V pastes into stands out, so that a paste never lands where the operator cannot see.
const QColor kPasteTargetColor(255, 243, 196);
const QString kPasteTargetTip = QStringLiteral("V pastes the copied row here");

QStringList Texts(const std::vector<std::string>& texts) {
  QStringList list;
  list.reserve(static_cast<qsizetype>(texts.size()));
  for (const std::string& text : texts) list.append(Qs(text));
  return list;
}

}  // namespace

DeviceListModel::DeviceListModel(QObject* parent) : QAbstractTableModel(parent) {}

int DeviceListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(list_.Count());
}

int DeviceListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumns;
}

QVariant DeviceListModel::data(const QModelIndex& index, int role) const {
  const auto row = static_cast<std::size_t>(index.row());
  if (!index.isValid() || !Shown(row)) return {};
  const vel::DeviceEntry& entry = list_.Row(row);
  const int column = index.column();
  const bool pasteTarget = list_.PasteTarget() == row;
  if (role == Qt::BackgroundRole) return pasteTarget ? QBrush(kPasteTargetColor) : QVariant();
  if (role == Qt::ToolTipRole) {
    // A long Status is read whole in its tip.
    if (column == kStatusColumn && !entry.status.empty()) return Qs(entry.status);
    return pasteTarget ? kPasteTargetTip : QVariant();
  }
  if (column == kCheckColumn) {
    if (role != Qt::CheckStateRole) return {};
    return entry.checked ? Qt::Checked : Qt::Unchecked;
  }
  if (role == kChoicesRole) {
    if (column == kAddressColumn) return Texts(list_.AddressChoices());
    if (column == kKeyColumn) return Texts(list_.KeyChoices());
    return {};
  }
  if (role != Qt::DisplayRole && role != Qt::EditRole) return {};
  switch (column) {
    case kNameColumn:
      return Qs(entry.name);
    case kAddressColumn:
      return Qs(entry.address);
    case kPortColumn:
      return Qs(entry.port);
    case kKeyColumn:
      return Qs(entry.key);
    default:
      return Qs(entry.status);
  }
}

QVariant DeviceListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
      section >= kColumns) {
    return QAbstractTableModel::headerData(section, orientation, role);
  }
  return kHeaders[static_cast<std::size_t>(section)];
}

Qt::ItemFlags DeviceListModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  const Qt::ItemFlags shown = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  switch (index.column()) {
    case kCheckColumn:
      return shown | Qt::ItemIsUserCheckable;
    case kStatusColumn:
      return shown;
    default:
      return shown | Qt::ItemIsEditable;
  }
}

bool DeviceListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  const auto row = static_cast<std::size_t>(index.row());
  if (!index.isValid() || !Shown(row)) return false;
  const int column = index.column();
  if (column == kCheckColumn && role == Qt::CheckStateRole) {
    SetChecked(row, value.toInt() == Qt::Checked);
    return true;
  }
  if (role != Qt::EditRole || column < kNameColumn || column > kKeyColumn) return false;
  return SetCell(row, static_cast<Column>(column), value.toString().toStdString()).ok();
}

vel::Result DeviceListModel::SetCell(std::size_t row, Column column, const std::string& text) {
  vel::Result stored = Usable(row, column, text);
  if (stored) stored = list_.SetCell(row, static_cast<vel::DeviceColumn>(column), text);
  if (!stored) {
    emit EditRefused(Qs(stored.error()));
    return stored;
  }
  RowChanged(row);  // an address also resets its port, and a new text joins the choices
  PublishRows();
  return stored;
}

vel::Result DeviceListModel::Usable(std::size_t row, int column, const std::string& text) const {
  if (!Shown(row)) return vel::Result::Failed("there is no row " + std::to_string(row + 1));
  // The address alone is judged in the address cell (its port resets when opened), the whole
  // row in the Port cell.
  if (column != kAddressColumn && column != kPortColumn) return vel::Result::Done();
  vel::DeviceEntry candidate = list_.Row(row);
  (column == kAddressColumn ? candidate.address : candidate.port) = text;
  if (column == kAddressColumn) candidate.port = candidate.DefaultPort();
  return vel::IsUsableRow(candidate);
}

void DeviceListModel::SetChecked(std::size_t row, bool checked) {
  if (!Shown(row) || list_.Row(row).checked == checked) return;
  list_.SetChecked(row, checked);
  const QModelIndex cell = index(static_cast<int>(row), kCheckColumn);
  emit dataChanged(cell, cell, {Qt::CheckStateRole});
  PublishRows();
}

void DeviceListModel::SetAllChecked(bool checked) {
  if (checked) {
    list_.CheckAllDevices();
  } else {
    list_.UncheckAllDevices();
  }
  if (list_.Count() == 0) return;
  emit dataChanged(index(0, kCheckColumn), index(rowCount() - 1, kCheckColumn),
                   {Qt::CheckStateRole});
  PublishRows();
}

void DeviceListModel::TickOnly(const std::vector<std::size_t>& rows) {
  list_.UncheckAllDevices();
  for (std::size_t row : rows) {
    if (Shown(row)) list_.SetChecked(row, true);
  }
  if (list_.Count() == 0) return;
  emit dataChanged(index(0, kCheckColumn), index(rowCount() - 1, kCheckColumn),
                   {Qt::CheckStateRole});
  PublishRows();
}

void DeviceListModel::AddDevice() {
  const auto row = rowCount();
  beginInsertRows({}, row, row);
  list_.AddDevice();
  endInsertRows();
  PublishRows();
}

void DeviceListModel::DeleteRow(std::size_t row) {
  if (Shown(row)) RemoveRows(row, row);
}

void DeviceListModel::DeleteCheckedRows() {
  // From the bottom up, one run of neighbouring ticked rows at a time.
  std::size_t end = list_.Count();
  while (end > 0) {
    if (!list_.Row(end - 1).checked) {
      --end;
      continue;
    }
    std::size_t first = end - 1;
    while (first > 0 && list_.Row(first - 1).checked) --first;
    RemoveRows(first, end - 1);
    end = first;
  }
}

void DeviceListModel::RemoveRows(std::size_t first, std::size_t last) {
  beginRemoveRows({}, static_cast<int>(first), static_cast<int>(last));
  for (std::size_t row = last + 1; row-- > first;) list_.DeleteSelectedDevice(row);
  endRemoveRows();
  PublishRows();
}

void DeviceListModel::CopyRow(std::size_t row) { list_.CopyDevice(row); }

void DeviceListModel::SetPasteTarget(std::size_t row) {
  const std::optional<std::size_t> before = list_.PasteTarget();
  list_.SetPasteTarget(row);
  if (before) RowChanged(*before);
  if (Shown(row)) RowChanged(row);
}

bool DeviceListModel::PasteDevice() {
  const std::optional<std::size_t> target = list_.PasteTarget();
  return target.has_value() && PasteInto(*target);
}

bool DeviceListModel::PasteInto(std::size_t row) {
  if (!list_.PasteDeviceInto(row)) return false;
  RowChanged(row);
  PublishRows();
  return true;
}

void DeviceListModel::OpenPortCell(std::size_t row) {
  if (!Shown(row)) return;
  list_.OpenPortCell(row);
  RowChanged(row);
  PublishRows();
}

void DeviceListModel::OpenKeyCell(std::size_t row) {
  if (!Shown(row)) return;
  list_.OpenKeyCell(row);
  RowChanged(row);
  PublishRows();
}

void DeviceListModel::SetOutcome(std::size_t row, const std::string& text, bool succeeded) {
  if (!Shown(row)) return;
  const vel::DeviceEntry& entry = list_.Row(row);
  if (entry.status == text && entry.succeeded == succeeded) return;
  list_.SetOutcome(row, text, succeeded);
  const QModelIndex cell = index(static_cast<int>(row), kStatusColumn);
  emit dataChanged(cell, cell, {Qt::DisplayRole, Qt::ToolTipRole});
}

void DeviceListModel::ClearOutcomes() {
  for (std::size_t row = 0; row < list_.Count(); ++row) SetOutcome(row, {}, false);
  NoteRowsNotReadWhole();
}

vel::Result DeviceListModel::Load(const std::string& path) {
  vel::DeviceList loaded;
  const vel::Result result = loaded.Load(path);
  if (!result) return result;
  beginResetModel();
  list_ = std::move(loaded);
  endResetModel();
  NoteRowsNotReadWhole();
  PublishRows();
  return result;
}

vel::Result DeviceListModel::MergeRows(const std::vector<vel::DeviceEntry>& base,
                                       const std::vector<vel::DeviceEntry>& theirs) {
  emit EditsToFinish();
  return ReplaceRows(vel::MergeDeviceRows(base, list_.Rows(), theirs));
}

vel::Result DeviceListModel::ReplaceRows(std::vector<vel::DeviceEntry> rows) {
  emit EditsToFinish();
  beginResetModel();
  const vel::Result replaced = list_.ReplaceRows(std::move(rows));
  endResetModel();
  NoteRowsNotReadWhole();
  PublishRows();
  return replaced;
}

void DeviceListModel::NoteRowsNotReadWhole() {
  for (std::size_t row = 0; row < list_.Count(); ++row) {
    const vel::DeviceEntry& entry = list_.Row(row);
    if (!entry.IsReadWhole() && entry.status.empty()) {
      SetOutcome(row, "Not used: " + vel::UnreadCellsText(entry), false);
    }
  }
}

void DeviceListModel::RowChanged(std::size_t row) {
  const auto r = static_cast<int>(row);
  emit dataChanged(index(r, 0), index(r, kColumns - 1));
}

void DeviceListModel::PublishRows() { live_->Set(list_.Rows()); }

}  // namespace zandorui
