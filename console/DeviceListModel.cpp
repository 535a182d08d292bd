#include "DeviceListModel.h"

#include <array>

#include "../widgets/AppStyle.h"

namespace zandorui {

namespace {

const std::array<QString, DeviceListModel::kColumns> kHeaders{QString(),
                                                              QStringLiteral("Name"),
                                                              QStringLiteral("IP address/Serial"),
                                                              QStringLiteral("Port"),
                                                              QStringLiteral("Encryption Key"),
                                                              QStringLiteral("Status")};

QStringList Texts(const std::vector<std::string>& texts) {
  QStringList list;
  list.reserve(static_cast<qsizetype>(texts.size()));
  for (const std::string& text : texts) list.append(Qs(text));
  return list;
}

}  // namespace

DeviceListModel::DeviceListModel(vel::DeviceList& list, QObject* parent)
    : QAbstractTableModel(parent), list_(list) {
  Reload();
}

int DeviceListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(statuses_.size());
}

int DeviceListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumns;
}

QVariant DeviceListModel::data(const QModelIndex& index, int role) const {
  const auto row = static_cast<std::size_t>(index.row());
  if (!index.isValid() || !Shown(row)) return {};
  const vel::DeviceEntry& entry = list_.Row(row);
  const int column = index.column();
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
      return statuses_[row];
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
    list_.SetChecked(row, value.toInt() == Qt::Checked);
    emit dataChanged(index, index, {Qt::CheckStateRole});
    return true;
  }
  if (role != Qt::EditRole || column < kNameColumn || column > kKeyColumn) return false;
  const std::string text = value.toString().toStdString();
  vel::Result stored = Usable(row, column, text);
  if (stored) stored = list_.SetCell(row, static_cast<vel::DeviceColumn>(column), text);
  if (!stored) {
    emit EditRefused(Qs(stored.error()));
    return false;
  }
  RowChanged(row);  // an address also resets its port, and a new text joins the choices
  return true;
}

vel::Result DeviceListModel::Usable(std::size_t row, int column, const std::string& text) const {
  // The address alone is judged in the address cell (its port resets when opened), the whole
  // row in the Port cell.
  if (column != kAddressColumn && column != kPortColumn) return vel::Result::Done();
  vel::DeviceEntry candidate = list_.Row(row);
  (column == kAddressColumn ? candidate.address : candidate.port) = text;
  if (column == kAddressColumn) candidate.port = candidate.DefaultPort();
  return vel::IsUsableRow(candidate);
}

void DeviceListModel::Reload() {
  beginResetModel();
  statuses_.clear();
  statuses_.reserve(list_.Count());
  for (const vel::DeviceEntry& entry : list_.Rows()) statuses_.push_back(Qs(entry.status));
  endResetModel();
}

void DeviceListModel::SetStatus(std::size_t row, const QString& text) {
  if (!Shown(row) || statuses_[row] == text) return;
  statuses_[row] = text;
  const QModelIndex cell = index(static_cast<int>(row), kStatusColumn);
  emit dataChanged(cell, cell, {Qt::DisplayRole});
}

void DeviceListModel::AddDevice() {
  const auto row = static_cast<int>(statuses_.size());
  beginInsertRows({}, row, row);
  const std::size_t added = list_.AddDevice();
  statuses_.push_back(Qs(list_.Row(added).status));
  endInsertRows();
}

void DeviceListModel::DeleteRow(std::size_t row) {
  if (Shown(row)) RemoveRows(row, row);
}

void DeviceListModel::DeleteCheckedRows() {
  // From the bottom up, one run of neighbouring ticked rows at a time.
  std::size_t end = std::min(statuses_.size(), list_.Count());
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
  statuses_.erase(statuses_.begin() + static_cast<std::ptrdiff_t>(first),
                  statuses_.begin() + static_cast<std::ptrdiff_t>(last + 1));
  endRemoveRows();
}

void DeviceListModel::SetAllChecked(bool checked) {
  if (checked) {
    list_.CheckAllDevices();
  } else {
    list_.UncheckAllDevices();
  }
  if (statuses_.empty()) return;
  emit dataChanged(index(0, kCheckColumn), index(rowCount() - 1, kCheckColumn),
                   {Qt::CheckStateRole});
}

bool DeviceListModel::PasteDevice() {
  const std::optional<std::size_t> target = list_.PasteTarget();
  if (!list_.PasteDevice()) return false;
  if (Shown(*target)) {
    statuses_[*target] = Qs(list_.Row(*target).status);  // the copied row's Status comes along
    RowChanged(*target);
  }
  return true;
}

void DeviceListModel::OpenPortCell(std::size_t row) {
  if (!Shown(row)) return;
  list_.OpenPortCell(row);
  RowChanged(row);
}

void DeviceListModel::OpenKeyCell(std::size_t row) {
  if (!Shown(row)) return;
  list_.OpenKeyCell(row);
  RowChanged(row);
}

void DeviceListModel::RowChanged(std::size_t row) {
  const auto r = static_cast<int>(row);
  emit dataChanged(index(r, 0), index(r, kColumns - 1));
}

}  // namespace zandorui
