#pragma once

#include <QStyledItemDelegate>

namespace zandorui {

// Makes the device list's cell editors: an edit box for Name and Port, an editable drop-down for
// the address and the key (in key mode). The editors handle their own keys and focus; when one
// ends, the delegate commits it (unless Escape cancelled it) and closes it, asking for the next
// cell after a Tab.
class CellDelegate : public QStyledItemDelegate {
  Q_OBJECT
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                        const QModelIndex& index) const override;
  void setEditorData(QWidget* editor, const QModelIndex& index) const override;
  void setModelData(QWidget* editor, QAbstractItemModel* model,
                    const QModelIndex& index) const override;
  void updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                            const QModelIndex& index) const override;
  // Ends an open editor's edit as a loss of focus does: committed and closed.
  static void EndEdit(QWidget* editor);

 signals:
  // A typed text was replaced before it was stored; says why.
  void Refused(const QString& message) const;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  template <typename Editor>
  Editor* Watch(Editor* editor) const;
  void Finish(QWidget* editor, bool cancelled, bool tabbed);
};

}  // namespace zandorui
