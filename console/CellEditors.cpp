#include "CellEditors.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QTimer>

#include "KeyEntry.h"

namespace zandorui {

namespace {

constexpr int kTextMargin = 5;

}  // namespace

CellLineEdit::CellLineEdit(const QString& text, int maxRight, bool selectAll, QWidget* parent)
    : QLineEdit(text, parent), maxRight_(maxRight), selectAllOnOpen_(selectAll) {
  setObjectName(QStringLiteral("c4660"));
  connect(this, &QLineEdit::textEdited, this, &CellLineEdit::Widen);
}

namespace {

// A shortcut check for a key the editor handles itself.
bool IsEditKey(QEvent* event) {
  if (event->type() != QEvent::ShortcutOverride) return false;
  const int key = static_cast<QKeyEvent*>(event)->key();
  return key == Qt::Key_Escape || key == Qt::Key_Return || key == Qt::Key_Enter;
}

}  // namespace

bool CellLineEdit::event(QEvent* event) {
  // Enter and Escape belong to the editor, not to the window's shortcuts.
  if (IsEditKey(event)) {
    event->accept();
    return true;
  }
  // Tab moves to the next cell instead of to the next control.
  if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Tab) {
    ended_ = true;
    emit Tabbed();
    return true;
  }
  return QLineEdit::event(event);
}

void CellLineEdit::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape || event->key() == Qt::Key_Return ||
      event->key() == Qt::Key_Enter) {
    cancelled_ = event->key() == Qt::Key_Escape;
    ended_ = true;
    emit Ended();
    return;
  }
  QLineEdit::keyPressEvent(event);
}

void CellLineEdit::focusOutEvent(QFocusEvent* event) {
  QLineEdit::focusOutEvent(event);
  End();
}

void CellLineEdit::End() {
  if (ended_) return;
  ended_ = true;
  emit Ended();
}

void CellLineEdit::showEvent(QShowEvent* event) {
  QLineEdit::showEvent(event);
  // The caret is set as the box is first shown: an item view selects the text before that.
  if (opened_) return;
  opened_ = true;
  if (selectAllOnOpen_) {
    selectAll();
  } else {
    setCursorPosition(0);
  }
}

void CellLineEdit::Widen() {
  const int wanted = fontMetrics().horizontalAdvance(text()) + 2 * kTextMargin + 4;
  if (wanted > width()) resize(std::min(wanted, maxRight_ - x()), height());
}

CellCombo::CellCombo(const QStringList& choices, const QString& text, bool keyMode, QWidget* parent)
    : QComboBox(parent), keyMode_(keyMode) {
  setObjectName(QStringLiteral("c4661"));
  setEditable(true);
  setInsertPolicy(QComboBox::NoInsert);
  addItems(choices);
  // The first entry that begins with the cell's text, looked for from the second entry on.
  int chosen = -1;
  for (int i = 1; i < count() + 1 && chosen < 0; ++i) {
    if (itemText(i % count()).startsWith(text)) chosen = i % count();
  }
  setCurrentIndex(chosen);
  if (chosen < 0) setEditText(text);
  lineEdit()->selectAll();
  lineEdit()->installEventFilter(this);
  // After the drop-down's own filter on its list, so that this one sees the keys first.
  view()->installEventFilter(this);
  if (keyMode_) connect(lineEdit(), &QLineEdit::textEdited, this, &CellCombo::Reformat);
  connect(this, &QComboBox::activated, this, [this] { End(); });
}

bool CellCombo::event(QEvent* event) {
  // The combo box holds the focus (its line edit is only its proxy): the window system's keys
  // arrive here, before any dialog navigation takes Tab.
  if (IsEditKey(event)) {
    event->accept();
    return true;
  }
  if (event->type() == QEvent::KeyPress && TakeKey(static_cast<QKeyEvent*>(event))) return true;
  return QComboBox::event(event);
}

bool CellCombo::eventFilter(QObject* watched, QEvent* event) {
  // While the list is down the keys still edit the text (no key is a shortcut meanwhile).
  if (watched == view() && event->type() == QEvent::ShortcutOverride) {
    event->accept();
    return true;
  }
  if (watched == view() && event->type() == QEvent::KeyPress) {
    QCoreApplication::sendEvent(this, event);
    return true;
  }
  if (watched == lineEdit() && IsEditKey(event)) {
    event->accept();
    return true;
  }
  if (watched == lineEdit() && event->type() == QEvent::KeyPress &&
      TakeKey(static_cast<QKeyEvent*>(event))) {
    return true;
  }
  return QComboBox::eventFilter(watched, event);
}

bool CellCombo::TakeKey(QKeyEvent* key) {
  if (key->key() == Qt::Key_Tab) {
    ended_ = true;
    hidePopup();
    emit Tabbed();
    return true;
  }
  if (keyMode_) {
    const QString typed = key->text();
    backspaceSeen_ = key->key() == Qt::Key_Backspace;
    const bool digit = typed.size() == 1 && IsKeyEntryCharacter(typed[0].toLatin1());
    return !(digit || backspaceSeen_);  // everything else is discarded
  }
  if (key->key() == Qt::Key_Escape || key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
    cancelled_ = key->key() == Qt::Key_Escape;
    End();
    return true;
  }
  return false;
}

void CellCombo::Reformat(const QString& text) {
  if (backspaceSeen_) return;
  const TypedKey key = FormatTypedKey(text.toStdString(), lineEdit()->cursorPosition());
  lineEdit()->setText(QString::fromStdString(key.text));
  lineEdit()->setCursorPosition(key.caret);
}

void CellCombo::focusOutEvent(QFocusEvent* event) {
  QComboBox::focusOutEvent(event);
  // Its own drop-down list taking the focus is no end of the edit; any other control taking it
  // is, the list open or not.
  const QWidget* now = QApplication::focusWidget();
  if (view()->isVisible() && (now == nullptr || now == this || now->window() == view()->window())) {
    return;
  }
  End();
}

void CellCombo::focusInEvent(QFocusEvent* event) {
  QComboBox::focusInEvent(event);
  // The list drops down once the opened cell has the focus (once), with the whole text selected.
  if (dropped_) return;
  dropped_ = true;
  showPopup();
  lineEdit()->selectAll();
}

void CellCombo::End() {
  if (ended_) return;
  ended_ = true;
  hidePopup();
  emit Ended();
}

}  // namespace zandorui
