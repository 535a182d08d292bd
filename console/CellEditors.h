#pragma once

#include <QComboBox>
#include <QLineEdit>

namespace zandorui {

// The edit box over a Name or Port cell. Enter stores, Escape leaves the cell unchanged, Tab moves
// on; losing the focus for any other reason stores. A long text widens the box up to `maxRight`.
// It opens with the caret at the start, or with the whole text selected (`selectAll`).
class CellLineEdit : public QLineEdit {
  Q_OBJECT
 public:
  CellLineEdit(const QString& text, int maxRight, bool selectAll, QWidget* parent);
  bool Cancelled() const { return cancelled_; }
  // Ends the edit as a loss of focus does (once).
  void End();

 signals:
  void Tabbed();
  void Ended();

 protected:
  bool event(QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void Widen();

  int maxRight_;
  bool selectAllOnOpen_;
  bool opened_ = false;
  bool cancelled_ = false;
  bool ended_ = false;
};

// The editable drop-down over an address or key cell, filled from the column's choice list. Its
// list drops down as it opens; the keys edit the text whether the list is down or not, and an
// entry is picked from the list with the mouse. In key mode it takes hexadecimal digits and
// Backspace only and puts the dashes in as they are typed.
class CellCombo : public QComboBox {
  Q_OBJECT
 public:
  CellCombo(const QStringList& choices, const QString& text, bool keyMode, QWidget* parent);
  bool Cancelled() const { return cancelled_; }
  // The text to store: the chosen or typed text.
  QString Text() const { return currentText(); }
  // Ends the edit as a loss of focus does (once).
  void End();

 signals:
  void Tabbed();
  void Ended();

 protected:
  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;

 private:
  // A key the editor handles itself; true when it was taken.
  bool TakeKey(QKeyEvent* key);
  void Reformat(const QString& text);

  bool keyMode_;
  bool dropped_ = false;
  bool backspaceSeen_ = false;
  bool cancelled_ = false;
  bool ended_ = false;
};

}  // namespace zandorui
