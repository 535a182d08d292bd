#include "CellDelegate.h"

#include <algorithm>

#include "../widgets/AppStyle.h"
#include "CellEditors.h"
#include "DeviceListModel.h"
#include "common/Strings.h"
#include "devices/DeviceList.h"
#include "link/KeyText.h"

namespace zandorui {

namespace {

using Column = DeviceListModel::Column;

}  // namespace

QWidget* CellDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                                    const QModelIndex& index) const {
  const QString text = index.data(Qt::EditRole).toString();
  const QStringList choices = index.data(DeviceListModel::kChoicesRole).toStringList();
  QWidget* editor = nullptr;
  switch (index.column()) {
    case Column::kNameColumn:
    case Column::kPortColumn:
      // A port is typed anew more often than changed: its text opens selected.
      editor = Watch(
          new CellLineEdit(text, parent->width(), index.column() == Column::kPortColumn, parent));
      break;
    case Column::kAddressColumn:
    case Column::kKeyColumn:
      editor = Watch(new CellCombo(choices, text, index.column() == Column::kKeyColumn, parent));
      break;
    default:
      return nullptr;
  }
  editor->setFont(option.font);
  return editor;
}

template <typename Editor>
Editor* CellDelegate::Watch(Editor* editor) const {
  auto* self = const_cast<CellDelegate*>(this);  // editors are made in a const function
  connect(editor, &Editor::Ended, self,
          [self, editor] { self->Finish(editor, editor->Cancelled(), false); });
  connect(editor, &Editor::Tabbed, self, [self, editor] { self->Finish(editor, false, true); });
  return editor;
}

void CellDelegate::Finish(QWidget* editor, bool cancelled, bool tabbed) {
  if (!cancelled) emit commitData(editor);
  emit closeEditor(editor, tabbed ? EditNextItem : NoHint);
}

void CellDelegate::EndEdit(QWidget* editor) {
  if (auto* edit = qobject_cast<CellLineEdit*>(editor)) edit->End();
  if (auto* combo = qobject_cast<CellCombo*>(editor)) combo->End();
}

void CellDelegate::setEditorData(QWidget* /*editor*/, const QModelIndex& /*index*/) const {
  // An editor takes its cell's text when it is made. A later change of its row (a walk's Status,
  // a ticked box) must not overwrite what is being typed.
}

void CellDelegate::setModelData(QWidget* editor, QAbstractItemModel* model,
                                const QModelIndex& index) const {
  if (auto* edit = qobject_cast<CellLineEdit*>(editor)) {
    if (!edit->Cancelled()) model->setData(index, edit->text());
    return;
  }
  auto* combo = qobject_cast<CellCombo*>(editor);
  if (combo == nullptr || combo->Cancelled()) return;
  const bool keyColumn = index.column() == Column::kKeyColumn;
  const QString marker = QString::fromLatin1(keyColumn ? vel::kNoEncryption : vel::kDefaultSerial);
  QString text = combo->Text();
  if (text.isEmpty()) text = marker;
  if (keyColumn && text != marker && !vel::IsDashedKey(text.toStdString())) {
    emit Refused(Qs(vel::LoadString(vel::ids::kInvalidEncryptionKey)));
    text = marker;
  }
  model->setData(index, text);
}

void CellDelegate::updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                                        const QModelIndex& /*index*/) const {
  // Over the cell, never past the list's right edge; an edit box widened by its text stays wide.
  QRect cell = option.rect;
  if (editor->isVisible()) cell.setWidth(std::max(cell.width(), editor->width()));
  cell.setRight(std::min(cell.right(), editor->parentWidget()->width() - 1));
  editor->setGeometry(cell);
}

bool CellDelegate::eventFilter(QObject* watched, QEvent* event) {
  // The editors take Enter, Escape, Tab and the loss of focus themselves.
  return QObject::eventFilter(watched, event);
}

}  // namespace zandorui
